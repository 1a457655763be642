#include "transfer/protocol.h"

#include "link/commands.h"
#include "transfer/crc16.h"
#include "util/hex.h"

#include <algorithm>

namespace tarsel {

const char* const kPortNotOpenedText = "Serial Port Not Opened!";
const char* const kSetupTimeOutText = "Download service setup failed : Time out !";
const char* const kSetupFailedText = "Download service setup failed !";
const char* const kUpgradeTimeOutText = "Upgrade Failed: Time out 1!";
const char* const kMakeFileFailedText = "Make Flie failed !";
const char* const kMakeFileTimeOutText = "Make File failed : Time out !";
const char* const kFileCrcTimeOutText = "Download failed : Time out !";
const char* const kFileCrcMismatchText = "Download failed : Crc";

namespace {

void traceSent(const Link& link, const Bytes& frame) { link.traceOut("----> " + FrameHex(frame)); }
void traceReceived(const Link& link, const Bytes& bytes) { link.traceOut("<---- " + FrameHex(bytes)); }

Status requireOpen(const Link& link)
{
    if (link.CmdPort.isOpen())
        return Status::success();
    return Status::failure(Code::PortError, kPortNotOpenedText);
}

Status writeOn(Link& link, const Bytes& frame)
{
    std::string message;
    if (!link.CmdPort.write(frame, message))
        return WriteFailure(link, link.CmdPort, message);
    return Status::success();
}

} // namespace

Status DownloadServiceSetup(Link& link, const std::string& flashAddressHex, const std::string& fileLengthHex)
{
    if (Status open = requireOpen(link); !open.ok())
        return open;
    Bytes frame;
    try {
        frame = bytesOf({0x02, 0x10}) + HexToBytes(flashAddressHex) + HexToBytes(fileLengthHex);
    } catch (const HexError& e) {
        return Status::failure(Code::BadInput, e.what());
    }
    SerialPort& port = link.CmdPort;
    if (Status written = writeOn(link, frame); !written.ok())
        return written;
    traceSent(link, frame);
    // Every poll must bring something; an empty one ends the exchange.
    AnswerPolicy policy;
    policy.pauseMs = kSetupEchoPauseMs;
    policy.limitMs = kSetupLimitMs;
    policy.pollPauseMs = kSetupPollPauseMs;
    policy.emptyReadEnds = true;
    policy.timeOutText = kSetupTimeOutText;
    policy.judge = [](Bytes& a) { return AnswerHasAtLeast(a, kSetupFrameSize); };
    Bytes echo;
    if (Status answered = AwaitAnswer(link, port, policy, echo); !answered.ok())
        return answered;
    traceReceived(link, echo);
    if (echo != frame)
        return Status::failure(Code::Refused, kSetupFailedText);
    return Status::success();
}

Status WaitUpgradeReady(Link& link)
{
    if (Status open = requireOpen(link); !open.ok())
        return open;
    SerialPort& port = link.CmdPort;
    const Bytes sync = UpgradeSyncFrame();
    AnswerPolicy policy;
    policy.limitMs = kUpgradeLimitMs;
    policy.pollPauseMs = kUpgradePollPauseMs;
    policy.timeOutText = kUpgradeTimeOutText;
    // The sync frame goes out again before every read.
    policy.beforeRead = [&port, &sync] {
        std::string ignored;
        port.write(sync, ignored);
    };
    // Bytes before the loader's "A" are dropped one at a time, each drop followed by a
    // new sync at once; a loader that keeps sending noise still meets the limit.
    policy.judge = [](Bytes& received) {
        if (received.empty())
            return Verdict::Incomplete;
        if (received[0] == 'A')
            return Verdict::Complete;
        received.erase(0, 1);
        return Verdict::RetryNow;
    };
    Bytes received;
    return AwaitAnswer(link, port, policy, received);
}

Status SendStartDownload(Link& link)
{
    if (Status open = requireOpen(link); !open.ok())
        return open;
    return writeOn(link, StartDownloadFrame());
}

Status SendAnnounce(Link& link, std::uint32_t fileLength, std::uint16_t fileCrc)
{
    if (Status open = requireOpen(link); !open.ok())
        return open;
    return writeOn(link, AnnounceFrame(fileLength, fileCrc));
}

Status SendBlock(Link& link, const Bytes& numberBytes, const Bytes& data)
{
    if (Status open = requireOpen(link); !open.ok())
        return open;
    const Bytes frame = BlockFrame(numberBytes, data);
    if (Status written = writeOn(link, frame); !written.ok())
        return written;
    traceSent(link, frame);
    return Status::success();
}

Status MakeFile(Link& link, const std::string& deviceFileName, const std::string& lengthDecimal,
                const std::string& crcDecimal)
{
    if (Status open = requireOpen(link); !open.ok())
        return open;
    SerialPort& port = link.CmdPort;
    const Bytes frame = MakeFileFrame(deviceFileName, lengthDecimal, crcDecimal);
    if (Status written = writeOn(link, frame); !written.ok())
        return written;
    traceSent(link, frame);
    AnswerPolicy policy;
    policy.pauseMs = kMakeFilePauseMs;
    policy.limitMs = kMakeFileLimitMs;
    policy.pollPauseMs = kMakeFilePauseMs;
    policy.timeOutText = kMakeFileTimeOutText;
    policy.judge = [](Bytes& a) { return AnswerHasAtLeast(a, 3); };
    Bytes answer;
    const Status answered = AwaitAnswer(link, port, policy, answer);
    port.purgeInput();
    if (!answered.ok())
        return answered;
    traceReceived(link, answer);
    if (answer.compare(0, 2, "OK") != 0)
        return Status::failure(Code::Refused, kMakeFileFailedText);
    return Status::success();
}

Status WaitFileCrc(Link& link, const std::string& expectedDecimal)
{
    if (Status open = requireOpen(link); !open.ok())
        return open;
    AnswerPolicy policy;
    policy.limitMs = kFileCrcLimitMs;
    policy.pollPauseMs = kFileCrcPollPauseMs;
    policy.emptyReadEnds = true;
    policy.timeOutText = kFileCrcTimeOutText;
    // The CRC line is digits ended by 0A. The line end of the make-file answer
    // ("OK" CR LF) may come after the poll that took its "OK": a CR or LF before the
    // digits belongs to that answer, not to this line.
    policy.judge = [](Bytes& a) {
        const std::size_t digits = a.find_first_not_of("\r\n");
        a.erase(0, digits == Bytes::npos ? a.size() : digits);
        return AnswerEndsWith(a, '\n');
    };
    Bytes line;
    if (Status answered = AwaitAnswer(link, link.CmdPort, policy, line); !answered.ok())
        return answered;
    traceReceived(link, line);
    if (line.compare(0, line.size() - 1, expectedDecimal) != 0)
        return Status::failure(Code::Refused, kFileCrcMismatchText);
    return Status::success();
}

BlockPhaseResult RunBlockPhase(Link& link, FrameAssembler& assembler, const Bytes& fileData,
                               std::uint16_t fileCrc, const BlockPhaseOptions& options)
{
    BlockPhaseResult result;
    SerialPort& port = link.CmdPort;
    Clock& clock = link.clock;
    double deadline = clock.nowMs() + options.timeoutMs;
    double receivedAt = clock.nowMs();
    auto ended = [&](Status status) {
        result.status = std::move(status);
        return result;
    };

    for (;;) {
        // Act on every complete frame already here, one at a time, in order.
        while (auto frame = assembler.next()) {
            const FrameAction action = DecideFrame(*frame, fileData, fileCrc);
            if (action.kind == FrameAction::SendBlock) {
                if (!port.isOpen())
                    return ended(Status::failure(Code::PortError, kPortNotOpenedText));
                // SendBlock, with the time the frame is handed to the port noted.
                const Bytes block = BlockFrame(action.numberBytes, action.data);
                const double handedAt = clock.nowMs();
                std::string message;
                if (!port.write(block, message))
                    return ended(WriteFailure(link, port, message));
                const double now = clock.nowMs();
                traceSent(link, block);
                if (options.turnaroundMs)
                    options.turnaroundMs->push_back(handedAt - receivedAt);
                if (options.writeMs)
                    options.writeMs->push_back(now - handedAt);
                ++result.blocksSent;
                deadline = now + options.timeoutMs;
                if (options.onBlockSent)
                    options.onBlockSent(action.blockNumber);
            } else if (action.kind == FrameAction::EndOfTransfer) {
                result.deviceCrc = action.deviceCrc;
                result.crcMatches = action.crcMatches;
                return ended(Status::success());
            }
        }

        if (link.cancelled())
            return ended(Status::failure(Code::Cancelled, kCancelledText));
        if (!port.isOpen())
            return ended(Status::failure(Code::PortError, kPortNotOpenedText));
        const double remaining = deadline - clock.nowMs();
        if (remaining <= 0)
            return ended(Status::failure(Code::TimedOut, "Time Out!"));
        if (!port.waitReadable(remaining))
            continue;

        Bytes chunk;
        std::string readMessage;
        if (port.read(chunk, readMessage)) {
            receivedAt = clock.nowMs();
            assembler.feed(chunk);
            continue;
        }
        if (port.hungUp())
            return ended(Status::failure(Code::HungUp, readMessage));
        // Readable but nothing to read: should not happen; do not spin on it.
        link.pause(1);
    }
}

Status StreamFile(Link& link, const Bytes& fileData, const StreamOptions& options)
{
    if (Status open = requireOpen(link); !open.ok())
        return open;
    SerialPort& port = link.CmdPort;
    const Status cancelled = Status::failure(Code::Cancelled, kCancelledText);
    const int pieces = BlockCount(fileData.size());
    for (int k = 0; k < pieces; ++k) {
        if (link.cancelled())
            return cancelled;
        const std::size_t from = static_cast<std::size_t>(k) * kStreamPieceSize;
        if (from < fileData.size()) {
            if (Status written = writeOn(link, fileData.substr(from, kStreamPieceSize)); !written.ok())
                return written;
        }
        if (options.onPieceSent)
            options.onPieceSent(k + 1);
    }
    // The display answers once the last byte has reached it: the CRC wait starts only
    // when everything written can have left the line (a pseudo-terminal or an adapter
    // takes the file far faster than the line carries it).
    std::string message;
    if (!port.drainOutput(StreamDrainLimitMs(fileData.size()), message)) {
        if (link.cancelled())
            return cancelled;
        return Status::failure(port.hungUp() ? Code::HungUp : Code::PortError, message);
    }
    return Status::success();
}

double StreamDrainLimitMs(std::size_t bytes)
{
    // The line time at the slowest speed a display runs at, and two seconds more.
    return static_cast<double>(bytes) * 10000.0 / 9600.0 + 2000.0;
}

} // namespace tarsel
