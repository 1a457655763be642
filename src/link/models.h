// The display models the tool knows, in the order of the model combo, and what
// each model offers.
#pragma once

#include "util/bytes.h"

#include <array>
#include <string>

namespace tarsel {

// The names the displays give in answer to the model query. The position is the
// model index (the item index of the model combo). The names differ in their
// dashes ("KT310--IIA" has two, "KT310-IID" one) and are compared exactly.
inline const std::array<std::string, 7> ModelList = {
    "KT310--IIA", "KT310--IIB", "KT310--IIC", "KT310-IID", "KT710--II", "KT310-II", "KT710-II",
};

inline constexpr int kModelCount = static_cast<int>(ModelList.size());

// Position of `name` in ModelList (exact, case-sensitive), or -1.
int FindModel(const Bytes& name);

// The model's name, or an empty text for an index outside 0..6.
std::string ModelName(int modelIndex);

struct ScreenSize {
    int width;
    int height;
};

// Index below 2: 480 × 272; any other index: 800 × 480.
ScreenSize ScreenSizeForModel(int modelIndex);

// Models 3, 5 and 6 store named files; the others store at flash addresses.
bool IsNamedFileModel(int modelIndex);
// Models 3, 5 and 6 have the extra picture slot 86.
bool HasSlot86(int modelIndex);
// Models 1, 3, 5 and 6 show the picture-number and "Show QrCode At" controls.
bool HasPictureNumberControls(int modelIndex);
// Models 3, 5 and 6 report their firmware version for the update check.
bool ChecksFirmwareVersion(int modelIndex);
// Models 0, 2 and 4 show a QR code as a picture made from a file; the others
// render it from text.
bool QrFromPictureFile(int modelIndex);

// A display with a firmware version below this is offered the update.
inline constexpr int kLatestFirmwareVersion = 12;

// The line speeds Connect tries, in order; the position is also the baud code of
// SetDeviceBaud (0 = 9600 ... 4 = 115200).
inline constexpr std::array<int, 5> kBaudCandidates = {9600, 19200, 38400, 57600, 115200};

// The speed the transfers switch the line to.
inline constexpr int kTransferBaud = 115200;

} // namespace tarsel
