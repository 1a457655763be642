// The program's hidden screenshot mode (TARSEL_SCREENSHOTS=<folder>): connects to a
// display and writes a PNG of every tab, in English and in Chinese.
#pragma once

#include <QString>

namespace tarsel::ui {

// Returns the process exit code: 0 when all 14 pictures were written.
// `portName`: the port to connect to; empty: the first virtual display, else the
// first port listed.
int writeScreenshots(const QString& folder, const QString& portName);

} // namespace tarsel::ui
