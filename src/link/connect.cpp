#include "link/connect.h"

#include "link/commands.h"

namespace tarsel {

const char* const kFirmwareWarning =
    "The current firmware version is lower than the latest version.\n\nPlease update the firmware version.";

std::vector<int> ConnectSpeeds() { return {kBaudCandidates.begin(), kBaudCandidates.end()}; }

ConnectResult ScanForDisplay(Link& link, Outlets& outlets, const std::vector<int>& speeds, const ConnectHooks& hooks)
{
    ConnectResult result;
    std::string message;
    int index = -1;
    for (std::size_t i = 0; i < speeds.size() && index < 0; ++i) {
        if (link.cancelled()) {
            result.cancelled = true;
            return result;
        }
        if (hooks.tryingSpeed)
            hooks.tryingSpeed(static_cast<int>(i));
        link.BaudRate = speeds[i];
        index = DetectModel(link, message);
        if (index < 0)
            link.pause(kConnectRetryPauseMs);
    }
    if (index < 0) {
        result.cancelled = link.cancelled();
        result.message = message;
        if (!result.cancelled)
            outlets.ShowMessageBox(message, kBoxError);
        return result;
    }
    result.modelIndex = index;
    result.baud = link.BaudRate;

    if (hooks.modelFound)
        hooks.modelFound(index);
    std::string ignored;
    ClearDisplay(link, ignored);
    outlets.ShowMessageBox("Connected to " + ModelName(index) + "!", kBoxInfo);
    if (hooks.announced)
        hooks.announced(index);
    if (!ChecksFirmwareVersion(index))
        return result;

    if (hooks.readingVersion)
        hooks.readingVersion(index);
    result.version = ReadVersion(link);
    if (hooks.versionRead)
        hooks.versionRead(result.version);
    if (result.version < kLatestFirmwareVersion) {
        if (hooks.updateOffered)
            hooks.updateOffered(result.version);
        outlets.ShowMessageBox(kFirmwareWarning, kBoxWarning);
    }
    return result;
}

} // namespace tarsel
