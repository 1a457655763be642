#include "link/commands.h"

#include "link/models.h"
#include "link/ports.h"
#include "util/hex.h"
#include "util/text.h"

#include <cmath>
#include <filesystem>

namespace tarsel {

namespace {

const char* const kSent = "----> ";
const char* const kReceived = "<---- ";

const char* const kUnknownModel = "Unknown model !";
const char* const kModelTimeOut = "Not found Device : Time out !";
const char* const kReadVersionError = "Read Version Error !";
const char* const kConfigurationTimeOut = "Get configuration: Time out !";
const char* const kMainTextLinesError = "Set Main Text Lines Error!";
const char* const kPortNotOpened = "Serial Port Not Opened!";

// The model query and the other 02 07 16 xx requests.
const Bytes kModelQueryFrame = bytesOf({0x02, 0x07, 0x16, 0x01});
const Bytes kVersionQueryFrame = bytesOf({0x02, 0x07, 0x16, 0x02});
const Bytes kConfigurationQueryFrame = bytesOf({0x02, 0x07, 0x16, 0x05});

// Opens CmdPort for one open-type command unless it is open already, and closes it
// when the command returns, whatever happened and whoever had opened it.
class CmdPortScope {
public:
    CmdPortScope(Link& link, std::string& message) : m_link(link)
    {
        m_ok = link.CmdPort.isOpen() || OpenCmdPort(link, message) == kStatusOpened;
    }
    ~CmdPortScope() { CloseCmdPort(m_link); }
    CmdPortScope(const CmdPortScope&) = delete;
    CmdPortScope& operator=(const CmdPortScope&) = delete;
    bool ok() const { return m_ok; }

private:
    Link& m_link;
    bool m_ok = false;
};

void traceSent(const Link& link, const Bytes& frame) { link.traceOut(kSent + FrameHex(frame)); }

// Writes a frame on CmdPort and traces it once written. False (with the write's
// message) when the write failed.
bool writeTraced(Link& link, const Bytes& frame, std::string& message)
{
    if (!link.CmdPort.write(frame, message))
        return false;
    traceSent(link, frame);
    return true;
}
void traceReceived(const Link& link, const Bytes& answer) { link.traceOut(kReceived + FrameHex(answer)); }

Bytes withByte(Bytes frame, std::uint8_t value)
{
    frame.push_back(static_cast<char>(value));
    return frame;
}

// Big-endian N-byte form of a value: hex text padded to 2·N digits, then pairs.
Bytes bigEndian(std::int32_t value, int byteCount) { return HexToBytes(IntToHexBytes(value, byteCount)); }

Bytes colorBytes(std::uint32_t color)
{
    return bytesOf({static_cast<std::uint8_t>(color & 0xFF), static_cast<std::uint8_t>((color >> 8) & 0xFF),
                    static_cast<std::uint8_t>((color >> 16) & 0xFF)});
}

// A framed command without an answer: open, write, close; the write's result.
bool sendFramed(Link& link, const Bytes& frame, std::string& message)
{
    CmdPortScope scope(link, message);
    if (!scope.ok())
        return false;
    return link.CmdPort.write(frame, message);
}

// A text command: open TextPort when closed, write, close; the write's result.
bool sendTextCommand(Link& link, const Bytes& frame, std::string& message)
{
    if (!link.TextPort.isOpen() && OpenTextPort(link, message) != kStatusOpened)
        return false;
    bool ok = true;
    if (frame.empty())
        message = "OK";  // nothing to send
    else
        ok = link.TextPort.write(frame, message);
    CloseTextPort(link);
    return ok;
}

struct EchoTexts {
    const char* error;
    const char* timeOut;
};

// Echo wait: the display sends the frame back. After the write the frame is traced,
// then a pause; reads are 100 ms apart until at least `required` bytes have come,
// which are traced and compared with the frame byte for byte.
bool echoCommand(Link& link, const Bytes& frame, std::size_t required, const EchoTexts& texts,
                 std::string& message)
{
    CmdPortScope scope(link, message);
    if (!scope.ok())
        return false;
    if (!writeTraced(link, frame, message))
        return false;
    AnswerPolicy policy;
    policy.pauseMs = kEchoPauseMs;
    policy.limitMs = kEchoLimitMs;
    policy.pollPauseMs = kEchoPollMs;
    policy.judge = [required](Bytes& a) { return AnswerHasAtLeast(a, required); };
    Bytes answer;
    switch (AwaitAnswer(link, link.CmdPort, policy, answer, message)) {
    case AnswerEnd::Complete: break;
    case AnswerEnd::TimedOut: message = texts.timeOut; return false;
    default: return false;
    }
    traceReceived(link, answer);
    if (answer != frame) {
        message = texts.error;
        return false;
    }
    message = "OK";
    return true;
}

std::uint8_t areaCode(ColorArea area, std::uint8_t header, std::uint8_t mainText, std::uint8_t footer)
{
    switch (area) {
    case ColorArea::Header: return header;
    case ColorArea::MainText: return mainText;
    case ColorArea::Footer: return footer;
    }
    return header;
}

Bytes firstBytes(const Bytes& text, std::size_t count) { return text.substr(0, std::min(count, text.size())); }

} // namespace

// ---------------------------------------------------------------------------

namespace {
long long microseconds(double ms) { return std::llround(ms * 1000.0); }
} // namespace

bool WaitTimer::pastLimit(double limitMs) const { return microseconds(elapsedMs()) > microseconds(limitMs); }

double WaitTimer::remainingMs(double limitMs) const
{
    const double left = limitMs - elapsedMs();
    return left > 0 ? left : 0;
}

Verdict AnswerEndsWith(const Bytes& answer, char last)
{
    return !answer.empty() && answer.back() == last ? Verdict::Complete : Verdict::Incomplete;
}

Verdict AnswerHasAtLeast(const Bytes& answer, std::size_t count)
{
    return answer.size() >= count ? Verdict::Complete : Verdict::Incomplete;
}

AnswerEnd AwaitAnswer(Link& link, SerialPort& port, const AnswerPolicy& policy, Bytes& answer,
                      std::string& message)
{
    auto cancelled = [&] {
        message = kCancelledText;
        return AnswerEnd::Cancelled;
    };
    if (!link.pause(policy.pauseMs))
        return cancelled();
    const WaitTimer timer(link.clock);
    for (;;) {
        if (link.cancelled())
            return cancelled();
        if (policy.beforeRead)
            policy.beforeRead();
        Bytes chunk;
        std::string readMessage;
        const bool got = port.read(chunk, readMessage);
        if (!got && (policy.emptyReadEnds || policy.singleRead)) {
            message = readMessage;
            return port.hungUp() ? AnswerEnd::HungUp : AnswerEnd::NothingRead;
        }
        answer += chunk;
        const Verdict verdict = policy.judge ? policy.judge(answer) : Verdict::Complete;
        if (verdict == Verdict::Complete || policy.singleRead)
            return AnswerEnd::Complete;
        if (!got && port.hungUp()) {
            message = readMessage;
            return AnswerEnd::HungUp;
        }
        if (verdict != Verdict::RetryNow && policy.pollPauseMs > 0 && !link.pause(policy.pollPauseMs))
            return cancelled();
        if (timer.pastLimit(policy.limitMs))
            return AnswerEnd::TimedOut;
        // Nothing waiting and no pause of the protocol's own: sleep on the port until
        // bytes arrive or the limit comes, instead of spinning; the next read takes
        // them at once.
        if (!got && policy.pollPauseMs <= 0)
            port.waitReadable(timer.remainingMs(policy.limitMs));
    }
}

// ---------------------------------------------------------------------------
// Model query

namespace {
// The model query's answer: a name ended by 0x00.
AnswerPolicy modelQueryPolicy(double limitMs, bool emptyReadEnds)
{
    AnswerPolicy policy;
    policy.pauseMs = kModelQueryPauseMs;
    policy.limitMs = limitMs;
    policy.emptyReadEnds = emptyReadEnds;
    policy.judge = [](Bytes& a) { return AnswerEndsWith(a, '\0'); };
    return policy;
}
} // namespace

int DetectModel(Link& link, std::string& message)
{
    CmdPortScope scope(link, message);
    if (!scope.ok())
        return -1;
    if (!link.CmdPort.write(kModelQueryFrame, message))
        return -1;
    Bytes answer;
    switch (AwaitAnswer(link, link.CmdPort, modelQueryPolicy(kDetectModelLimitMs, false), answer, message)) {
    case AnswerEnd::Complete: break;
    case AnswerEnd::TimedOut: message = kModelTimeOut; return -1;
    default: return -1;
    }
    traceReceived(link, answer);
    const int index = FindModel(answer.substr(0, answer.size() - 1));
    message = index < 0 ? kUnknownModel : "OK";
    return index;
}

bool ProbeModel(Link& link, std::string& message)
{
    if (!writeTraced(link, kModelQueryFrame, message))
        return false;
    Bytes answer;
    // Nothing arrived after the pause (or the line hung up): give up at once with the
    // port's text.
    switch (AwaitAnswer(link, link.CmdPort, modelQueryPolicy(kProbeModelLimitMs, true), answer, message)) {
    case AnswerEnd::Complete: break;
    case AnswerEnd::TimedOut: message = kModelTimeOut; return false;
    default: return false;
    }
    traceReceived(link, answer);
    if (FindModel(answer.substr(0, answer.size() - 1)) < 0) {
        message = kUnknownModel;
        return false;
    }
    message = "OK";
    return true;
}

bool WaitDeviceReady(Link& link, bool keepOpen, std::string& message)
{
    SerialPort& port = link.CmdPort;
    if (!port.isOpen()) {
        if (keepOpen) {
            // Every probe would fail on a closed slot; say so at once.
            message = kPortNotOpened;
            return false;
        }
        if (OpenCmdPort(link, message) != kStatusOpened)
            return false;
    }
    bool ready = false;
    for (int attempt = 0; attempt < kDeviceReadyAttempts; ++attempt) {
        ready = ProbeModel(link, message);
        if (!link.pause(kDeviceReadyPauseMs)) {
            ready = false;
            message = kCancelledText;
            break;
        }
        if (ready || port.hungUp())
            break;
    }
    if (!keepOpen)
        CloseCmdPort(link);
    return ready;
}

// ---------------------------------------------------------------------------
// Version and settings document

int ReadVersion(Link& link)
{
    std::string message;
    return ReadVersion(link, message);
}

namespace {
// One read after a pause (the version, the main-text-lines echo).
AnswerPolicy singleReadPolicy(double pauseMs)
{
    AnswerPolicy policy;
    policy.pauseMs = pauseMs;
    policy.singleRead = true;
    return policy;
}
} // namespace

int ReadVersion(Link& link, std::string& message)
{
    CmdPortScope scope(link, message);
    if (!scope.ok())
        return 0;
    if (!link.CmdPort.write(kVersionQueryFrame, message))
        return 0;
    Bytes answer;
    std::string readMessage;
    if (AwaitAnswer(link, link.CmdPort, singleReadPolicy(kReadVersionPauseMs), answer, readMessage)
        != AnswerEnd::Complete) {
        message = link.cancelled() ? kCancelledText : kReadVersionError;
        return 0;
    }
    message = "OK";
    // The answer's bytes read as one hexadecimal number: 0C -> 12, 00 0D -> 13.
    return static_cast<int>(HexToUInt(FrameHex(answer)));
}

bool GetConfiguration(Link& link, Bytes& reply, std::string& message)
{
    reply.clear();
    CmdPortScope scope(link, message);
    if (!scope.ok())
        return false;
    if (!link.CmdPort.write(kConfigurationQueryFrame, message))
        return false;
    AnswerPolicy policy;
    policy.pauseMs = kGetConfigurationPauseMs;
    policy.limitMs = kGetConfigurationLimitMs;
    policy.judge = [](Bytes& a) { return AnswerEndsWith(a, '\0'); };
    Bytes answer;
    switch (AwaitAnswer(link, link.CmdPort, policy, answer, message)) {
    case AnswerEnd::Complete:
        reply = std::move(answer);
        message = "OK";
        return true;
    case AnswerEnd::TimedOut: message = kConfigurationTimeOut; return false;
    default: return false;
    }
}

// ---------------------------------------------------------------------------
// Write-only framed commands

bool SetLine1Text(Link& link, const Bytes& text, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x16, 0x06}) + PlainDisplayText(text) + '\0', message);
}

bool SetLine2Text(Link& link, const Bytes& text, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x16, 0x07}) + PlainDisplayText(text) + '\0', message);
}

bool SetLineFlags(Link& link, std::uint8_t flags, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x16, 0x09, flags}), message);
}

bool SetMainText(Link& link, const Bytes& text, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x18}) + PlainDisplayText(text), message);
}

bool ShowPicture(Link& link, std::uint8_t number, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1A, number}), message);
}

bool SetPlayList(Link& link, std::uint16_t mask, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x28}) + bigEndian(mask, 2), message);
}

bool SetStandbyTime(Link& link, int standbyTime, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1C}) + bigEndian(standbyTime, 1), message);
}

bool SetPlayInterval(Link& link, int interval, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1B}) + bigEndian(interval, 1), message);
}

bool FormatStorage(Link& link, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x05, 0x00}), message);
}

bool ShowQrCode(Link& link, std::uint8_t align, std::uint8_t slot, const Bytes& text, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1D, align, slot}) + PlainDisplayText(text) + '\0', message);
}

bool ShowQrCodeAt(Link& link, std::uint8_t align, std::uint8_t picture, const Bytes& text,
                  std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1E, align, picture}) + PlainDisplayText(text) + '\0', message);
}

bool SetCommandSet(Link& link, int index, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x43}) + std::to_string(index), message);
}

bool SetDeviceBaud(Link& link, int code, std::string& message)
{
    return sendFramed(link, bytesOf({0x02, 0x42}) + std::to_string(code), message);
}

// ---------------------------------------------------------------------------
// Echoed commands

bool SetTextColor(Link& link, ColorArea area, std::uint32_t color, std::string& message)
{
    const Bytes frame = withByte(bytesOf({0x02, 0x07}), areaCode(area, 0x0B, 0x0E, 0x10)) + colorBytes(color);
    return echoCommand(link, frame, 6, {"Set TextColor Error!", "Set TextColor Error : Time out !"}, message);
}

bool SetBackColor(Link& link, ColorArea area, std::uint32_t color, std::string& message)
{
    const Bytes frame = withByte(bytesOf({0x02, 0x07}), areaCode(area, 0x0C, 0x0F, 0x11)) + colorBytes(color);
    return echoCommand(link, frame, 6,
                       {"Set BackgroudColor Error!", "Set BackgroudColor Error : Time out !"}, message);
}

bool SetTitleMode(Link& link, std::uint8_t mode, std::string& message)
{
    return echoCommand(link, bytesOf({0x02, 0x07, mode}), 3,
                       {"Set Title mode Error!", "Set Title mode Error : Time out !"}, message);
}

bool SetMainTextLines(Link& link, std::uint8_t lineMode, std::string& message)
{
    CmdPortScope scope(link, message);
    if (!scope.ok())
        return false;
    const Bytes frame = bytesOf({0x02, 0x07, 0x14, lineMode});
    if (!writeTraced(link, frame, message))
        return false;
    Bytes answer;
    std::string readMessage;
    const AnswerEnd end = AwaitAnswer(link, link.CmdPort, singleReadPolicy(kMainTextLinesPauseMs), answer, readMessage);
    if (end == AnswerEnd::Cancelled) {
        message = readMessage;
        return false;
    }
    if (!answer.empty())
        traceReceived(link, answer);
    if (answer.empty() || answer != frame) {
        message = kMainTextLinesError;
        return false;
    }
    message = "OK";
    return true;
}

// ---------------------------------------------------------------------------
// Line speed

bool SwitchDeviceBaud(Link& link, int baud, std::string& message)
{
    if (!link.CmdPort.isOpen()) {
        message = kPortNotOpened;
        return false;
    }
    const Bytes frame = bytesOf({0x02, 0x07, 0x04}) + bigEndian(baud, 4);
    if (!link.CmdPort.write(frame, message))
        return false;
    traceSent(link, frame);
    return true;
}

std::string SpeedChangeFailedText(const Link& link, int baud, const std::string& reason)
{
    return "could not set " + std::to_string(baud) + " bit/s on " + link.PortName + ": " + reason;
}

SpeedSwitch SwitchLineSpeed(Link& link, int baud, double devicePauseMs, std::string& message)
{
    const bool sent = SwitchDeviceBaud(link, baud, message);
    // The frame must be off the line before the PC changes its speed, or its last
    // bytes go out at the new one (an adapter buffers beyond what its driver reports).
    std::string drainMessage;
    if (sent)
        link.CmdPort.drainOutput(kFrameDrainLimitMs, drainMessage);
    if (!link.pause(devicePauseMs)) {
        message = kCancelledText;
        return SpeedSwitch::Cancelled;
    }
    const LineStatus local = link.CmdPort.setBaud(baud);
    if (!local.ok) {
        message = SpeedChangeFailedText(link, baud, local.error);
        return SpeedSwitch::LocalFailed;
    }
    if (!link.pause(kLocalSpeedSettleMs)) {
        message = kCancelledText;
        return SpeedSwitch::Cancelled;
    }
    if (!sent)
        return link.cancelled() ? SpeedSwitch::Cancelled : SpeedSwitch::FrameFailed;
    return SpeedSwitch::Done;
}

// ---------------------------------------------------------------------------
// QR code picture

std::vector<Bytes> SplitQrPicture(const Bytes& picture)
{
    std::vector<Bytes> pieces;
    const std::size_t count = picture.size() / kQrPieceSize + 1;
    pieces.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t from = i * kQrPieceSize;
        pieces.push_back(from < picture.size() ? picture.substr(from, kQrPieceSize) : Bytes());
    }
    return pieces;
}

std::uint8_t SendQrPicture(Link& link, const std::string& file, std::uint8_t align, std::uint8_t slot,
                           const OneBitConverter& toOneBitPerPixel)
{
    std::error_code error;
    if (file.empty() || !std::filesystem::exists(file, error))
        return kQrFileMissing;
    SerialPort& port = link.CmdPort;
    if (!port.isOpen())
        return kQrPortClosed;
    const Bytes picture = toOneBitPerPixel ? toOneBitPerPixel(file, kQrPictureSize, kQrPictureSize) : Bytes();
    if (picture.empty())
        return kQrConversionFailed;

    std::string message;
    if (!link.pause(kQrStepPauseMs))
        return kQrCancelled;
    if (!port.write(bytesOf({0x02, 0x07, 0x19, align, slot}), message))
        return link.cancelled() ? kQrCancelled : kQrHeaderWriteFailed;

    if (!link.pause(kQrStepPauseMs))
        return kQrCancelled;
    for (const Bytes& piece : SplitQrPicture(picture)) {
        // The last piece is empty when the size is a multiple of 256: it counts as a
        // write but nothing goes on the line.
        if (!piece.empty() && !port.write(piece, message))
            return link.cancelled() ? kQrCancelled : kQrDataWriteFailed;
    }

    if (!link.pause(kQrStepPauseMs))
        return kQrCancelled;
    if (!port.write(bytesOf({0x02, 0x07, 0x19, 0x00}), message))
        return link.cancelled() ? kQrCancelled : kQrTrailerWriteFailed;
    if (!link.pause(kQrFinishPauseMs))
        return kQrCancelled;
    return kQrOk;
}

// ---------------------------------------------------------------------------
// Text commands

bool RestartDisplay(Link& link, std::string& message)
{
    return sendTextCommand(link, bytesOf({0x02, 0x1D, 0xAA, 0x55}), message);
}

bool FactoryReset(Link& link, std::string& message)
{
    return sendTextCommand(link, bytesOf({0x02, 0x07, 0x15, 0x27, 0x27}), message);
}

bool ClearDisplay(Link& link, std::string& message) { return sendTextCommand(link, bytesOf({0x0C}), message); }

bool SendText(Link& link, const Bytes& text, std::string& message)
{
    return sendTextCommand(link, firstBytes(PlainDisplayText(text), kTextMaxBytes), message);
}

bool SendTextAt(Link& link, int column, int row, const Bytes& text, std::string& message)
{
    const Bytes frame = bytesOf({0x1F, 0x24, static_cast<std::uint8_t>(column), static_cast<std::uint8_t>(row)});
    return sendTextCommand(link, frame + firstBytes(PlainDisplayText(text), kTextMaxBytes), message);
}

bool SetBrightness(Link& link, int level, std::string& message)
{
    const int clamped = level < 1 ? 1 : (level > 4 ? 4 : level);
    return sendTextCommand(link, bytesOf({0x1F, 0x58, static_cast<std::uint8_t>(clamped)}), message);
}

bool SetCodePage(Link& link, std::uint8_t codePageId, std::string& message)
{
    return sendTextCommand(link, bytesOf({0x02, 0x06, codePageId}), message);
}

bool SetInterChar(Link& link, std::uint8_t interCharId, std::string& message)
{
    return sendTextCommand(link, bytesOf({0x02, 0x05, interCharId}), message);
}

bool SendRaw(Link& link, const Bytes& bytes, std::string& message) { return sendTextCommand(link, bytes, message); }

} // namespace tarsel
