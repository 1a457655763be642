// The two-language caption table of the main window.
#pragma once

#include <QStringList>

#include <cstdint>
#include <span>

class QWidget;

namespace tarsel::ui {

struct CaptionRow {
    const char* control; // objectName of the control
    const char* english; // texts are used exactly, blanks included
    const char* chinese;
};

// The 88 rows, in the order they are applied.
std::span<const CaptionRow> captionTable();

// Language id 2052 (Chinese, PRC) selects the Chinese column; every other id English.
inline constexpr std::uint16_t kLangIdChineseSimplified = 2052;
inline bool isChineseLangId(std::uint16_t id) { return id == kLangIdChineseSimplified; }

// Sets the caption of every control of the table found below `root`: the tab text of
// a tab page, the title of a group box or radio group, the text of a label or button.
// Returns the names of rows whose control was not found.
QStringList applyCaptions(QWidget* root, bool chinese);

} // namespace tarsel::ui
