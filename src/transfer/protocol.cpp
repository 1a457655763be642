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

bool requireOpen(const Link& link, std::string& message)
{
    if (link.CmdPort.isOpen())
        return true;
    message = kPortNotOpenedText;
    return false;
}


} // namespace

bool DownloadServiceSetup(Link& link, const std::string& flashAddressHex, const std::string& fileLengthHex,
                          std::string& message)
{
    if (!requireOpen(link, message))
        return false;
    Bytes frame;
    try {
        frame = bytesOf({0x02, 0x10}) + HexToBytes(flashAddressHex) + HexToBytes(fileLengthHex);
    } catch (const HexError& e) {
        message = e.what();
        return false;
    }
    SerialPort& port = link.CmdPort;
    if (!port.write(frame, message))
        return false;
    traceSent(link, frame);
    // Every poll must bring something; an empty one ends the exchange.
    AnswerPolicy policy;
    policy.pauseMs = kSetupEchoPauseMs;
    policy.limitMs = kSetupLimitMs;
    policy.pollPauseMs = kSetupPollPauseMs;
    policy.emptyReadEnds = true;
    policy.judge = [](Bytes& a) { return AnswerHasAtLeast(a, kSetupFrameSize); };
    Bytes echo;
    switch (AwaitAnswer(link, port, policy, echo, message)) {
    case AnswerEnd::Complete: break;
    case AnswerEnd::TimedOut: message = kSetupTimeOutText; return false;
    default: return false;
    }
    traceReceived(link, echo);
    if (echo != frame) {
        message = kSetupFailedText;
        return false;
    }
    message = "OK";
    return true;
}

bool WaitUpgradeReady(Link& link, std::string& message)
{
    if (!requireOpen(link, message))
        return false;
    SerialPort& port = link.CmdPort;
    const Bytes sync = UpgradeSyncFrame();
    AnswerPolicy policy;
    policy.limitMs = kUpgradeLimitMs;
    policy.pollPauseMs = kUpgradePollPauseMs;
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
    switch (AwaitAnswer(link, port, policy, received, message)) {
    case AnswerEnd::Complete: message = "OK"; return true;
    case AnswerEnd::TimedOut: message = kUpgradeTimeOutText; return false;
    default: return false;
    }
}

bool SendStartDownload(Link& link, std::string& message)
{
    if (!requireOpen(link, message))
        return false;
    return link.CmdPort.write(StartDownloadFrame(), message);
}

bool SendAnnounce(Link& link, std::uint32_t fileLength, std::uint16_t fileCrc, std::string& message)
{
    if (!requireOpen(link, message))
        return false;
    return link.CmdPort.write(AnnounceFrame(fileLength, fileCrc), message);
}

bool SendBlock(Link& link, const Bytes& numberBytes, const Bytes& data)
{
    if (!link.CmdPort.isOpen())
        return false;
    const Bytes frame = BlockFrame(numberBytes, data);
    std::string ignored;
    link.CmdPort.write(frame, ignored);
    traceSent(link, frame);
    return true;
}

bool MakeFile(Link& link, const std::string& deviceFileName, const std::string& lengthDecimal,
              const std::string& crcDecimal, std::string& message)
{
    if (!requireOpen(link, message))
        return false;
    SerialPort& port = link.CmdPort;
    const Bytes frame = MakeFileFrame(deviceFileName, lengthDecimal, crcDecimal);
    if (!port.write(frame, message))
        return false;
    traceSent(link, frame);
    AnswerPolicy policy;
    policy.pauseMs = kMakeFilePauseMs;
    policy.limitMs = kMakeFileLimitMs;
    policy.pollPauseMs = kMakeFilePauseMs;
    policy.judge = [](Bytes& a) { return AnswerHasAtLeast(a, 3); };
    Bytes answer;
    const AnswerEnd end = AwaitAnswer(link, port, policy, answer, message);
    port.purgeInput();
    switch (end) {
    case AnswerEnd::Complete: break;
    case AnswerEnd::TimedOut: message = kMakeFileTimeOutText; return false;
    default: return false;
    }
    traceReceived(link, answer);
    const bool ok = answer.compare(0, 2, "OK") == 0;
    message = ok ? "OK" : kMakeFileFailedText;
    return ok;
}

bool WaitFileCrc(Link& link, const std::string& expectedDecimal, std::string& message)
{
    if (!requireOpen(link, message))
        return false;
    AnswerPolicy policy;
    policy.limitMs = kFileCrcLimitMs;
    policy.pollPauseMs = kFileCrcPollPauseMs;
    policy.emptyReadEnds = true;
    policy.judge = [](Bytes& a) { return AnswerEndsWith(a, '\n'); };
    Bytes line;
    switch (AwaitAnswer(link, link.CmdPort, policy, line, message)) {
    case AnswerEnd::Complete: break;
    case AnswerEnd::TimedOut: message = kFileCrcTimeOutText; return false;
    default: return false;
    }
    traceReceived(link, line);
    if (line.compare(0, line.size() - 1, expectedDecimal) != 0) {
        message = kFileCrcMismatchText;
        return false;
    }
    message = "OK";
    return true;
}

BlockPhaseResult RunBlockPhase(Link& link, FrameAssembler& assembler, const Bytes& fileData,
                               std::uint16_t fileCrc, const BlockPhaseOptions& options)
{
    BlockPhaseResult result;
    SerialPort& port = link.CmdPort;
    Clock& clock = link.clock;
    double deadline = clock.nowMs() + options.timeoutMs;
    double receivedAt = clock.nowMs();

    for (;;) {
        // Act on every complete frame already here, one at a time, in order.
        while (auto frame = assembler.next()) {
            const FrameAction action = DecideFrame(*frame, fileData, fileCrc);
            if (action.kind == FrameAction::SendBlock) {
                if (!port.isOpen()) {
                    result.end = BlockPhaseEnd::PortClosed;
                    result.message = kPortNotOpenedText;
                    return result;
                }
                // SendBlock, with the time the frame is handed to the port noted.
                const Bytes block = BlockFrame(action.numberBytes, action.data);
                const double handedAt = clock.nowMs();
                std::string ignored;
                port.write(block, ignored);
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
                result.end = BlockPhaseEnd::Completed;
                result.deviceCrc = action.deviceCrc;
                result.crcMatches = action.crcMatches;
                return result;
            }
        }

        if (link.cancelled()) {
            result.end = BlockPhaseEnd::Cancelled;
            return result;
        }
        if (!port.isOpen()) {
            result.end = BlockPhaseEnd::PortClosed;
            result.message = kPortNotOpenedText;
            return result;
        }
        const double remaining = deadline - clock.nowMs();
        if (remaining <= 0) {
            result.end = BlockPhaseEnd::TimedOut;
            return result;
        }
        if (!port.waitReadable(remaining))
            continue;

        Bytes chunk;
        std::string readMessage;
        if (port.read(chunk, readMessage)) {
            receivedAt = clock.nowMs();
            assembler.feed(chunk);
            continue;
        }
        if (port.hungUp()) {
            result.end = BlockPhaseEnd::HungUp;
            result.message = readMessage;
            return result;
        }
        // Readable but nothing to read: should not happen; do not spin on it.
        link.pause(1);
    }
}

StreamEnd StreamFile(Link& link, const Bytes& fileData, const StreamOptions& options, std::string& message)
{
    if (!requireOpen(link, message))
        return StreamEnd::WriteFailed;
    SerialPort& port = link.CmdPort;
    auto failed = [&] {
        if (link.cancelled())
            return StreamEnd::Cancelled;
        return port.hungUp() ? StreamEnd::HungUp : StreamEnd::WriteFailed;
    };
    const int pieces = BlockCount(fileData.size());
    for (int k = 0; k < pieces; ++k) {
        if (link.cancelled())
            return StreamEnd::Cancelled;
        const std::size_t from = static_cast<std::size_t>(k) * kStreamPieceSize;
        if (from < fileData.size()) {
            const Bytes piece = fileData.substr(from, kStreamPieceSize);
            if (!port.write(piece, message))
                return failed();
        }
        if (options.onPieceSent)
            options.onPieceSent(k + 1);
    }
    // The display answers once the last byte has reached it: the CRC wait starts only
    // when everything written can have left the line (a pseudo-terminal or an adapter
    // takes the file far faster than the line carries it).
    if (!port.drainOutput(StreamDrainLimitMs(fileData.size()), message))
        return failed();
    message = "OK";
    return StreamEnd::Completed;
}

double StreamDrainLimitMs(std::size_t bytes)
{
    // The line time at the slowest speed a display runs at, and two seconds more.
    return static_cast<double>(bytes) * 10000.0 / 9600.0 + 2000.0;
}

} // namespace tarsel
