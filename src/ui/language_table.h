// The two-language caption table of the main window.
#pragma once

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class QWidget;

namespace tarsel::ui {

struct WindowForms;

struct CaptionRow {
    QWidget* control;    // a tab page, group box, radio group, label or button
    const char* english; // texts are used exactly, blanks included
    const char* chinese;
};

inline constexpr std::size_t kCaptionRowCount = 94;

// The rows for the window's controls, in the order they are applied.
std::vector<CaptionRow> captionTable(const WindowForms& forms);

// Language id 2052 (Chinese, PRC) selects the Chinese column; every other id English.
inline constexpr std::uint16_t kLangIdChineseSimplified = 2052;
inline bool isChineseLangId(std::uint16_t id) { return id == kLangIdChineseSimplified; }

// Sets the caption of every row's control: the tab text of a tab page, the title of
// a group box or radio group, the text of a label or button. Returns the object
// names of rows whose control has no caption of these kinds.
QStringList applyCaptions(std::span<const CaptionRow> rows, bool chinese);

// The caption a person sees on a control of the table (its tab text, title or text).
QString shownCaption(const QWidget* control);

} // namespace tarsel::ui
