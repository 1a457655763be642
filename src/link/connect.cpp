#include "link/connect.h"

#include "link/commands.h"

namespace tarsel {

const char* const kFirmwareWarning =
    "The current firmware version is lower than the latest version.\n\nPlease update the firmware version.";

std::vector<int> ConnectSpeeds() { return {kBaudCandidates.begin(), kBaudCandidates.end()}; }

std::string ConnectedText(int modelIndex) { return "Connected to " + ModelName(modelIndex) + "!"; }

namespace {

// What a name from the display looks like in a message: printable ASCII kept, other
// bytes as \xNN.
std::string printableName(const Bytes& name)
{
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            text += c;
        } else {
            text += "\\x";
            text += digits[b >> 4];
            text += digits[b & 0x0F];
        }
    }
    return text;
}

} // namespace

ConnectResult ScanForDisplay(Link& link, const std::vector<int>& speeds, const ConnectOptions& options,
                             const ConnectHooks& hooks)
{
    ConnectResult result;
    Status last = Status::failure(Code::NoDisplay, "");
    int index = -1;
    bool portOpened = false;
    for (std::size_t i = 0; i < speeds.size() && index < 0; ++i) {
        if (link.cancelled()) {
            result.status = Status::failure(Code::Cancelled, kCancelledText);
            return result;
        }
        if (hooks.tryingSpeed)
            hooks.tryingSpeed(static_cast<int>(i));
        link.BaudRate = speeds[i];
        Bytes name;
        last = DetectModel(link, index, &name);
        if (last.code != Code::PortError)
            portOpened = true;
        if (last.code == Code::Refused && result.unknownName.empty()) {
            result.unknownName = printableName(name);
            result.unknownBaud = speeds[i];
        }
        if (last.code == Code::Cancelled || last.code == Code::HungUp) {
            result.status = last;
            result.lastMessage = last.text;
            return result;
        }
        if (index < 0)
            link.pause(kConnectRetryPauseMs);
    }
    if (index < 0) {
        result.lastMessage = last.text;
        if (link.cancelled())
            result.status = Status::failure(Code::Cancelled, kCancelledText);
        else if (!portOpened)
            result.status = last;
        else if (!result.unknownName.empty())
            result.status = Status::failure(Code::Refused, "A display answered at " + std::to_string(result.unknownBaud) +
                                                               " bit/s as \"" + result.unknownName +
                                                               "\", a model Tarsel does not know.");
        else
            result.status = Status::failure(Code::NoDisplay, last.text);
        return result;
    }
    result.modelIndex = index;
    result.baud = link.BaudRate;
    result.status = Status::success();

    if (hooks.modelFound)
        hooks.modelFound(index);
    if (options.clearDisplay)
        ClearDisplay(link); // its outcome does not matter
    if (hooks.announce)
        hooks.announce(index);
    if (!options.readVersion || !ChecksFirmwareVersion(index))
        return result;

    if (hooks.readingVersion)
        hooks.readingVersion(index);
    int version = 0;
    const Status read = ReadVersion(link, version);
    if (read.cancelled()) {
        result.status = read;
        return result;
    }
    result.version = version; // 0 when it did not answer
    if (hooks.versionRead)
        hooks.versionRead(result.version);
    return result;
}

} // namespace tarsel
