// Connect's scan: the line speeds are tried in order until a known model answers;
// then the display is cleared, the model is announced and, for the models that
// report it, the firmware version is read and an old one is pointed out. The window's
// Connect and every command of tarsel-cli run this one procedure.
#pragma once

#include "link/link.h"
#include "link/models.h"
#include "link/outlets.h"

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
    std::function<void(int modelIndex)> announced;   // after "Connected to ...!" was shown
    std::function<void(int modelIndex)> readingVersion; // before the version is read
    std::function<void(int version)> versionRead;
    std::function<void(int version)> updateOffered;  // before the old-firmware warning
};

struct ConnectResult {
    int modelIndex = -1;     // -1: no display found (or cancelled)
    int baud = 0;            // the speed it answered at (BaudRate is left at it)
    int version = -1;        // the firmware version; -1 when the model does not report one
    bool cancelled = false;  // the job was cancelled during the scan
    std::string message;     // no display: the last detection's message (also shown in a box)

    bool found() const { return modelIndex >= 0; }
};

// The speeds Connect tries, in order.
std::vector<int> ConnectSpeeds();

// For each speed in order: BaudRate := speed, DetectModel; after a failure a 100 ms
// pause. No display at any speed: the last message in an error box (not when
// cancelled). A display found: ClearDisplay (its result ignored), "Connected to " +
// model + "!" in an information box, and for the models that check their firmware
// ReadVersion (0 when it does not answer) with the warning box when the version is
// below kLatestFirmwareVersion.
ConnectResult ScanForDisplay(Link& link, Outlets& outlets, const std::vector<int>& speeds,
                             const ConnectHooks& hooks = {});

} // namespace tarsel
