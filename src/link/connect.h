// Connect's scan: the line speeds are tried in order until a known model answers;
// then (for the window's Connect) the display is cleared and, for the models that
// report it, the firmware version is read. The window's Connect and every command of
// tarsel-cli run this one procedure; it shows nothing itself: the caller turns its
// result into boxes ("Connected to ...!", the old-firmware warning) or exit statuses.
#pragma once

#include "link/link.h"
#include "link/models.h"
#include "link/status.h"

#include <functional>
#include <string>
#include <vector>

namespace tarsel {

// The pause after a speed at which no display answered.
inline constexpr double kConnectRetryPauseMs = 100;

extern const char* const kFirmwareWarning;

// Where the caller follows the scan (the window's controls); every hook may be empty.
// They run on the scanning thread.
struct ConnectHooks {
    std::function<void(int candidate)> tryingSpeed;  // before the speed at this index is tried
    std::function<void(int modelIndex)> modelFound;  // before the display is cleared
    // After the display was cleared, before the version is read: where the window
    // shows "Connected to ...!".
    std::function<void(int modelIndex)> announce;
    std::function<void(int modelIndex)> readingVersion; // before the version is read
    std::function<void(int version)> versionRead;
};

struct ConnectOptions {
    bool clearDisplay = true;  // the window's Connect clears the display once found
    bool readVersion = true;   // for the models that report their firmware version
};

struct ConnectResult {
    // Ok when a known model answered. Otherwise: PortError when the port cannot be
    // opened; Refused when a display answered only with a name Tarsel does not know
    // (the text says the name and the speed); NoDisplay when nothing answered;
    // Cancelled, HungUp.
    Status status = Status::failure(Code::NoDisplay, "");
    int modelIndex = -1;     // -1: no display found
    int baud = 0;            // the speed it answered at (BaudRate is left at it)
    int version = -1;        // the firmware version; -1 when it was not read
    // The last detection's message, as the window's Connect shows it when no display
    // was found (" Error opening serial port!", "Unknown model !", "Not found Device :
    // Time out !").
    std::string lastMessage;
    // A display that answered with a name not in the model list, and the speed.
    std::string unknownName;
    int unknownBaud = 0;

    bool found() const { return modelIndex >= 0; }
    // Read, and older than the carried firmware: the update is offered.
    bool firmwareOld() const { return version >= 0 && version < kLatestFirmwareVersion; }
};

// The speeds Connect tries, in order.
std::vector<int> ConnectSpeeds();

// "Connected to " + model + "!".
std::string ConnectedText(int modelIndex);

// For each speed in order: BaudRate := speed, DetectModel; after a failure a 100 ms
// pause. A display found: ClearDisplay (its result ignored) unless the options say
// not to, the announce hook, and for the models that check their firmware
// ReadVersion (0 when it does not answer).
ConnectResult ScanForDisplay(Link& link, const std::vector<int>& speeds, const ConnectOptions& options = {},
                             const ConnectHooks& hooks = {});

} // namespace tarsel
