// The system's default language as a Windows language id (the value the display
// tool has always used to choose its captions and port error texts).
#pragma once

#include <QLocale>

#include <cstdint>

namespace tarsel::ui {

// zh_CN (and Simplified Chinese without a territory) gives 2052, zh_TW 1028, other
// common locales their Windows ids (de_DE 1031, fr_FR 1036, ...); unknown 1033.
std::uint16_t langIdForLocale(const QLocale& locale);

// The id of QLocale::system().
std::uint16_t systemLangId();

} // namespace tarsel::ui
