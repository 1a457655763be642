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
    explicit CmdPortScope(Link& link) : m_link(link)
    {
        if (!link.CmdPort.isOpen())
            m_status = OpenCmdPort(link);
    }
    ~CmdPortScope() { CloseCmdPort(m_link); }
    CmdPortScope(const CmdPortScope&) = delete;
    CmdPortScope& operator=(const CmdPortScope&) = delete;
    bool ok() const { return m_status.ok(); }
    const Status& status() const { return m_status; }

private:
    Link& m_link;
    Status m_status;
};

void traceSent(const Link& link, const Bytes& frame) { link.traceOut(kSent + FrameHex(frame)); }

// Writes a frame on the port; the write's outcome.
Status writeFrame(Link& link, SerialPort& port, const Bytes& frame)
{
    if (!link.letCutAnswerPass(port))
        return Status::failure(Code::Cancelled, kCancelledText);
    std::string message;
    if (!port.write(frame, message))
        return WriteFailure(link, port, message);
    return Status::success();
}

// Writes a frame on CmdPort and traces it once written.
Status writeTraced(Link& link, const Bytes& frame)
{
    Status status = writeFrame(link, link.CmdPort, frame);
    if (status.ok())
        traceSent(link, frame);
    return status;
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

// A framed command without an answer: open, write, close; the write's outcome.
Status sendFramed(Link& link, const Bytes& frame)
{
    CmdPortScope scope(link);
    if (!scope.ok())
        return scope.status();
    return writeFrame(link, link.CmdPort, frame);
}

// A text command: open TextPort when closed, write, close; the write's outcome.
Status sendTextCommand(Link& link, const Bytes& frame)
{
    if (!link.TextPort.isOpen()) {
        Status opened = OpenTextPort(link);
        if (!opened.ok())
            return opened;
    }
    Status status; // nothing to send is a success
    if (!frame.empty())
        status = writeFrame(link, link.TextPort, frame);
    CloseTextPort(link);
    return status;
}

struct EchoTexts {
    const char* error;
    const char* timeOut;
};

// Echo wait: the display sends the frame back. After the write the frame is traced,
// then a pause; reads are 100 ms apart until at least `required` bytes have come,
// which are traced and compared with the frame byte for byte.
Status echoCommand(Link& link, const Bytes& frame, std::size_t required, const EchoTexts& texts)
{
    CmdPortScope scope(link);
    if (!scope.ok())
        return scope.status();
    if (Status written = writeTraced(link, frame); !written.ok())
        return written;
    AnswerPolicy policy;
    policy.pauseMs = kEchoPauseMs;
    policy.limitMs = kEchoLimitMs;
    policy.pollPauseMs = kEchoPollMs;
    policy.timeOutText = texts.timeOut;
    policy.judge = [required](Bytes& a) { return AnswerHasAtLeast(a, required); };
    Bytes answer;
    if (Status answered = AwaitAnswer(link, link.CmdPort, policy, answer); !answered.ok())
        return answered;
    traceReceived(link, answer);
    if (answer != frame)
        return Status::failure(Code::Refused, texts.error);
    return Status::success();
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

Status WriteFailure(const Link& link, const SerialPort& port, const std::string& message)
{
    if (link.cancelled())
        return Status::failure(Code::Cancelled, kCancelledText);
    if (port.hungUp())
        return Status::failure(Code::HungUp, message);
    return Status::failure(Code::PortError, message);
}

Status AwaitAnswer(Link& link, SerialPort& port, const AnswerPolicy& policy, Bytes& answer)
{
    // A cancel ends the wait at once; the display's answer may still come until the
    // limit, and the next command must not take it for its own.
    const double answerDue = link.clock.nowMs() + policy.pauseMs + policy.limitMs;
    const Status cancelled = Status::failure(Code::Cancelled, kCancelledText);
    auto cancelledWait = [&] {
        link.answerMayStillCome(answerDue);
        return cancelled;
    };
    if (!link.pause(policy.pauseMs))
        return cancelledWait();
    const WaitTimer timer(link.clock);
    for (;;) {
        if (link.cancelled())
            return cancelledWait();
        if (policy.beforeRead)
            policy.beforeRead();
        Bytes chunk;
        std::string readMessage;
        const bool got = port.read(chunk, readMessage);
        if (!got && (policy.emptyReadEnds || policy.singleRead))
            return Status::failure(port.hungUp() ? Code::HungUp : Code::TimedOut, readMessage);
        answer += chunk;
        const Verdict verdict = policy.judge ? policy.judge(answer) : Verdict::Complete;
        if (verdict == Verdict::Complete || policy.singleRead)
            return Status::success();
        if (!got && port.hungUp())
            return Status::failure(Code::HungUp, readMessage);
        if (verdict != Verdict::RetryNow && policy.pollPauseMs > 0 && !link.pause(policy.pollPauseMs))
            return cancelledWait();
        if (timer.pastLimit(policy.limitMs))
            return Status::failure(Code::TimedOut, policy.timeOutText);
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
    policy.timeOutText = kModelTimeOut;
    policy.judge = [](Bytes& a) { return AnswerEndsWith(a, '\0'); };
    return policy;
}
} // namespace

Status DetectModel(Link& link, int& modelIndex, Bytes* answeredName)
{
    modelIndex = -1;
    CmdPortScope scope(link);
    if (!scope.ok())
        return scope.status();
    if (Status written = writeFrame(link, link.CmdPort, kModelQueryFrame); !written.ok())
        return written;
    Bytes answer;
    if (Status answered = AwaitAnswer(link, link.CmdPort, modelQueryPolicy(kDetectModelLimitMs, false), answer);
        !answered.ok())
        return answered;
    traceReceived(link, answer);
    const Bytes name = answer.substr(0, answer.size() - 1);
    modelIndex = FindModel(name);
    if (modelIndex < 0) {
        if (answeredName)
            *answeredName = name;
        return Status::failure(Code::Refused, kUnknownModel);
    }
    return Status::success();
}

Status ProbeModel(Link& link)
{
    if (Status written = writeTraced(link, kModelQueryFrame); !written.ok())
        return written;
    Bytes answer;
    // Nothing arrived after the pause (or the line hung up): give up at once with the
    // port's text.
    if (Status answered = AwaitAnswer(link, link.CmdPort, modelQueryPolicy(kProbeModelLimitMs, true), answer);
        !answered.ok())
        return answered;
    traceReceived(link, answer);
    if (FindModel(answer.substr(0, answer.size() - 1)) < 0)
        return Status::failure(Code::Refused, kUnknownModel);
    return Status::success();
}

Status WaitDeviceReady(Link& link, bool keepOpen)
{
    SerialPort& port = link.CmdPort;
    if (!port.isOpen()) {
        // Every probe would fail on a closed slot; say so at once.
        if (keepOpen)
            return Status::failure(Code::PortError, kPortNotOpened);
        if (Status opened = OpenCmdPort(link); !opened.ok())
            return opened;
    }
    Status status;
    for (int attempt = 0; attempt < kDeviceReadyAttempts; ++attempt) {
        status = ProbeModel(link);
        if (!link.pause(kDeviceReadyPauseMs)) {
            status = Status::failure(Code::Cancelled, kCancelledText);
            break;
        }
        if (status.ok() || status.code == Code::HungUp || status.code == Code::PortError
            || status.code == Code::Cancelled)
            break;
    }
    if (!keepOpen)
        CloseCmdPort(link);
    // No probe answered in time: there is no display (the text stays the last probe's).
    if (status.code == Code::TimedOut)
        status.code = Code::NoDisplay;
    return status;
}

// ---------------------------------------------------------------------------
// Version and settings document

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

Status ReadVersion(Link& link, int& version)
{
    version = 0;
    CmdPortScope scope(link);
    if (!scope.ok())
        return scope.status();
    if (Status written = writeFrame(link, link.CmdPort, kVersionQueryFrame); !written.ok())
        return written;
    Bytes answer;
    Status answered = AwaitAnswer(link, link.CmdPort, singleReadPolicy(kReadVersionPauseMs), answer);
    if (!answered.ok()) {
        if (answered.code == Code::TimedOut)
            answered.text = kReadVersionError;
        return answered;
    }
    // The answer's bytes read as one hexadecimal number: 0C -> 12, 00 0D -> 13.
    version = static_cast<int>(HexToUInt(FrameHex(answer)));
    return Status::success();
}

Status GetConfiguration(Link& link, Bytes& reply)
{
    reply.clear();
    CmdPortScope scope(link);
    if (!scope.ok())
        return scope.status();
    if (Status written = writeFrame(link, link.CmdPort, kConfigurationQueryFrame); !written.ok())
        return written;
    AnswerPolicy policy;
    policy.pauseMs = kGetConfigurationPauseMs;
    policy.limitMs = kGetConfigurationLimitMs;
    policy.timeOutText = kConfigurationTimeOut;
    policy.judge = [](Bytes& a) { return AnswerEndsWith(a, '\0'); };
    Bytes answer;
    Status answered = AwaitAnswer(link, link.CmdPort, policy, answer);
    if (answered.ok())
        reply = std::move(answer);
    return answered;
}

// ---------------------------------------------------------------------------
// Write-only framed commands

Status SetLine1Text(Link& link, const Bytes& text)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x16, 0x06}) + PlainDisplayText(text) + '\0');
}

Status SetLine2Text(Link& link, const Bytes& text)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x16, 0x07}) + PlainDisplayText(text) + '\0');
}

Status SetLineFlags(Link& link, std::uint8_t flags) { return sendFramed(link, bytesOf({0x02, 0x07, 0x16, 0x09, flags})); }

Status SetMainText(Link& link, const Bytes& text)
{
    CmdPortScope scope(link);
    if (!scope.ok())
        return scope.status();
    if (Status written = writeFrame(link, link.CmdPort, bytesOf({0x02, 0x07, 0x18}) + PlainDisplayText(text));
        !written.ok())
        return written;
    // The display ends the frame when the line falls quiet: the last byte must have
    // left the line, and nothing may follow for a while.
    std::string drainMessage;
    link.CmdPort.drainOutput(kFrameDrainLimitMs, drainMessage);
    if (!link.pause(kMainTextQuietMs))
        return Status::failure(Code::Cancelled, kCancelledText);
    return Status::success();
}

Status ShowPicture(Link& link, std::uint8_t number) { return sendFramed(link, bytesOf({0x02, 0x07, 0x1A, number})); }

Status SetPlayList(Link& link, std::uint16_t mask)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x28}) + bigEndian(mask, 2));
}

Status SetStandbyTime(Link& link, int standbyTime)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1C}) + bigEndian(standbyTime, 1));
}

Status SetPlayInterval(Link& link, int interval)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1B}) + bigEndian(interval, 1));
}

Status FormatStorage(Link& link) { return sendFramed(link, bytesOf({0x02, 0x07, 0x05, 0x00})); }

Status ShowQrCode(Link& link, std::uint8_t align, std::uint8_t slot, const Bytes& text)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1D, align, slot}) + PlainDisplayText(text) + '\0');
}

Status ShowQrCodeAt(Link& link, std::uint8_t align, std::uint8_t picture, const Bytes& text)
{
    return sendFramed(link, bytesOf({0x02, 0x07, 0x1E, align, picture}) + PlainDisplayText(text) + '\0');
}

Status SetCommandSet(Link& link, int index) { return sendFramed(link, bytesOf({0x02, 0x43}) + std::to_string(index)); }

Status SetDeviceBaud(Link& link, int code)
{
    CmdPortScope scope(link);
    if (!scope.ok())
        return scope.status();
    if (Status written = writeFrame(link, link.CmdPort, bytesOf({0x02, 0x42}) + std::to_string(code)); !written.ok())
        return written;
    // The display changes its speed once the frame is in: the frame must have left the
    // line before the port is closed and opened again at the new speed.
    std::string drainMessage;
    link.CmdPort.drainOutput(kFrameDrainLimitMs, drainMessage);
    return Status::success();
}

// ---------------------------------------------------------------------------
// Echoed commands

Status SetTextColor(Link& link, ColorArea area, std::uint32_t color)
{
    const Bytes frame = withByte(bytesOf({0x02, 0x07}), areaCode(area, 0x0B, 0x0E, 0x10)) + colorBytes(color);
    return echoCommand(link, frame, 6, {"Set TextColor Error!", "Set TextColor Error : Time out !"});
}

Status SetBackColor(Link& link, ColorArea area, std::uint32_t color)
{
    const Bytes frame = withByte(bytesOf({0x02, 0x07}), areaCode(area, 0x0C, 0x0F, 0x11)) + colorBytes(color);
    return echoCommand(link, frame, 6, {"Set BackgroudColor Error!", "Set BackgroudColor Error : Time out !"});
}

Status SetTitleMode(Link& link, std::uint8_t mode)
{
    return echoCommand(link, bytesOf({0x02, 0x07, mode}), 3,
                       {"Set Title mode Error!", "Set Title mode Error : Time out !"});
}

Status SetMainTextLines(Link& link, std::uint8_t lineMode)
{
    CmdPortScope scope(link);
    if (!scope.ok())
        return scope.status();
    const Bytes frame = bytesOf({0x02, 0x07, 0x14, lineMode});
    if (Status written = writeTraced(link, frame); !written.ok())
        return written;
    Bytes answer;
    const Status answered = AwaitAnswer(link, link.CmdPort, singleReadPolicy(kMainTextLinesPauseMs), answer);
    if (answered.code == Code::Cancelled || answered.code == Code::HungUp)
        return answered;
    if (!answer.empty())
        traceReceived(link, answer);
    if (answer.empty())
        return Status::failure(Code::TimedOut, kMainTextLinesError);
    if (answer != frame)
        return Status::failure(Code::Refused, kMainTextLinesError);
    return Status::success();
}

// ---------------------------------------------------------------------------
// Line speed

Status SwitchDeviceBaud(Link& link, int baud)
{
    if (!link.CmdPort.isOpen())
        return Status::failure(Code::PortError, kPortNotOpened);
    return writeTraced(link, bytesOf({0x02, 0x07, 0x04}) + bigEndian(baud, 4));
}

std::string SpeedChangeFailedText(const Link& link, int baud, const std::string& reason)
{
    return "could not set " + std::to_string(baud) + " bit/s on " + link.PortName + ": " + reason;
}

Status SwitchLineSpeed(Link& link, int baud, double devicePauseMs)
{
    const Status sent = SwitchDeviceBaud(link, baud);
    // The frame must be off the line before the PC changes its speed, or its last
    // bytes go out at the new one (an adapter buffers beyond what its driver reports).
    std::string drainMessage;
    if (sent.ok())
        link.CmdPort.drainOutput(kFrameDrainLimitMs, drainMessage);
    const Status cancelled = Status::failure(Code::Cancelled, kCancelledText);
    const double pauseStart = link.clock.nowMs();
    if (!link.pause(devicePauseMs)) {
        if (!sent.ok())
            return cancelled; // the frame did not go out: the display keeps its speed
        // The display runs at the new speed now: the switch is completed (the rest of
        // the pause, the PC's speed) so that what the caller sends to put it back, after
        // the cancel, reaches it at the speed it listens at.
        const CancelScope finish(link, nullptr);
        link.pause(std::max(0.0, devicePauseMs - (link.clock.nowMs() - pauseStart)));
        link.CmdPort.setBaud(baud);
        link.pause(kLocalSpeedSettleMs);
        return cancelled;
    }
    const LineStatus local = link.CmdPort.setBaud(baud);
    if (!local.ok)
        return Status::failure(Code::PortError, SpeedChangeFailedText(link, baud, local.error));
    if (!link.pause(kLocalSpeedSettleMs))
        return cancelled;
    if (!sent.ok() && link.cancelled())
        return cancelled;
    return sent;
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

std::string QrPictureErrorText(int code) { return "Error：" + std::to_string(code); }

Status SendQrPicture(Link& link, const std::string& file, std::uint8_t align, std::uint8_t slot,
                     const OneBitConverter& toOneBitPerPixel, std::uint8_t& code)
{
    auto outcome = [&](std::uint8_t value, Code failure) {
        code = value;
        if (value == kQrOk)
            return Status::success();
        if (value == kQrCancelled)
            return Status::failure(Code::Cancelled, kCancelledText);
        return Status::failure(failure, QrPictureErrorText(value));
    };
    std::error_code error;
    if (file.empty() || !std::filesystem::exists(file, error))
        return outcome(kQrFileMissing, Code::BadInput);
    SerialPort& port = link.CmdPort;
    if (!port.isOpen())
        return outcome(kQrPortClosed, Code::PortError);
    const Bytes picture = toOneBitPerPixel ? toOneBitPerPixel(file, kQrPictureSize, kQrPictureSize) : Bytes();
    if (picture.empty())
        return outcome(kQrConversionFailed, Code::BadInput);
    auto writeFailed = [&](std::uint8_t value) {
        return outcome(link.cancelled() ? std::uint8_t(kQrCancelled) : value, port.hungUp() ? Code::HungUp : Code::PortError);
    };

    std::string message;
    if (!link.pause(kQrStepPauseMs))
        return outcome(kQrCancelled, Code::Cancelled);
    if (!port.write(bytesOf({0x02, 0x07, 0x19, align, slot}), message))
        return writeFailed(kQrHeaderWriteFailed);

    // From here the display takes every byte for the picture until the trailer: a
    // cancel still ends the upload with it, or the display would swallow the frames
    // that follow.
    auto endUpload = [&] {
        const CancelScope cleanup(link, nullptr);
        std::string ignored;
        port.purgeOutput();
        link.pause(kQrStepPauseMs);
        port.write(bytesOf({0x02, 0x07, 0x19, 0x00}), ignored);
        port.drainOutput(kFrameDrainLimitMs, ignored);
        // As after a whole picture: a frame that follows the trailer at once (the way
        // back to the display's speed) would be taken for more of the picture.
        link.pause(kQrFinishPauseMs);
        return outcome(kQrCancelled, Code::Cancelled);
    };
    if (!link.pause(kQrStepPauseMs))
        return endUpload();
    for (const Bytes& piece : SplitQrPicture(picture)) {
        // The last piece is empty when the size is a multiple of 256: it counts as a
        // write but nothing goes on the line.
        if (!piece.empty() && !port.write(piece, message))
            return link.cancelled() ? endUpload() : writeFailed(kQrDataWriteFailed);
    }

    if (!link.pause(kQrStepPauseMs))
        return endUpload();
    if (!port.write(bytesOf({0x02, 0x07, 0x19, 0x00}), message))
        return link.cancelled() ? endUpload() : writeFailed(kQrTrailerWriteFailed);
    {
        // The whole picture and its trailer are on their way: the display shows it once
        // they are in and the line is quiet. A cancel now comes too late to stop that, and
        // must not cut the quiet short either, or the frame that follows (the way back to
        // the display's speed) would be taken for more of the picture.
        const CancelScope finish(link, nullptr);
        link.pause(kQrFinishPauseMs);
    }
    return outcome(kQrOk, Code::Ok);
}

// ---------------------------------------------------------------------------
// Text commands

Status RestartDisplay(Link& link) { return sendTextCommand(link, bytesOf({0x02, 0x1D, 0xAA, 0x55})); }

Status FactoryReset(Link& link) { return sendTextCommand(link, bytesOf({0x02, 0x07, 0x15, 0x27, 0x27})); }

Status ClearDisplay(Link& link) { return sendTextCommand(link, bytesOf({0x0C})); }

Status SendText(Link& link, const Bytes& text)
{
    return sendTextCommand(link, firstBytes(PlainDisplayText(text), kTextMaxBytes));
}

Status SendTextAt(Link& link, int column, int row, const Bytes& text)
{
    const Bytes frame = bytesOf({0x1F, 0x24, static_cast<std::uint8_t>(column), static_cast<std::uint8_t>(row)});
    return sendTextCommand(link, frame + firstBytes(PlainDisplayText(text), kTextMaxBytes));
}

Status SetBrightness(Link& link, int level)
{
    const int clamped = level < 1 ? 1 : (level > 4 ? 4 : level);
    return sendTextCommand(link, bytesOf({0x1F, 0x58, static_cast<std::uint8_t>(clamped)}));
}

Status SetCodePage(Link& link, std::uint8_t codePageId) { return sendTextCommand(link, bytesOf({0x02, 0x06, codePageId})); }

Status SetInterChar(Link& link, std::uint8_t interCharId)
{
    return sendTextCommand(link, bytesOf({0x02, 0x05, interCharId}));
}

Status SendRaw(Link& link, const Bytes& bytes) { return sendTextCommand(link, bytes); }

} // namespace tarsel
