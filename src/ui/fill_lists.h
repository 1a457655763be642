// The item lists the window's selectors are filled with at start-up, in table row
// order, so that a selector's item index is the table row.
#pragma once

#include <QStringList>

namespace tarsel::ui {

QStringList baudRateNames();     // "9600" ... "115200" (connection and device baud rate)
QStringList commandSetNames();   // the 15 command sets, "LD220" ... "AUTO"
QStringList codePageNames();     // the 26 code pages, "CP437" ... "WCP1258"
QStringList catalogueNames();    // the 93 catalogue items, trimmed; entry i is position i + 1
QStringList modelNames();        // the 7 display models, in model-index order
QStringList interCharNames(bool chinese); // the 20 national character sets

} // namespace tarsel::ui
