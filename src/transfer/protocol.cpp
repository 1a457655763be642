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

bool isCancelled(const std::function<bool()>& cancelled) { return cancelled && cancelled(); }

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
    link.clock.sleepMs(kSetupEchoPauseMs);
    const WaitTimer timer(link.clock);
    Bytes echo;
    for (;;) {
        Bytes chunk;
        // Every poll must bring something; an empty one ends the exchange.
        if (!port.read(chunk, message))
            return false;
        echo += chunk;
        if (echo.size() >= kSetupFrameSize)
            break;
        link.clock.sleepMs(kSetupPollPauseMs);
        if (timer.pastLimit(kSetupLimitMs)) {
            message = kSetupTimeOutText;
            return false;
        }
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
    const WaitTimer timer(link.clock);
    Bytes received;
    for (;;) {
        std::string ignored, readMessage;
        port.write(sync, ignored);
        Bytes chunk;
        port.read(chunk, readMessage);
        received += chunk;
        if (received.empty()) {
            link.clock.sleepMs(kUpgradePollPauseMs);
        } else if (received[0] == 'A') {
            message = "OK";
            return true;
        } else {
            received.erase(0, 1); // not the loader's answer: drop it and sync again
        }
        // Checked on both paths, so a loader that keeps sending noise cannot hold
        // the sync forever.
        if (port.hungUp()) {
            message = readMessage;
            return false;
        }
        if (timer.pastLimit(kUpgradeLimitMs)) {
            message = kUpgradeTimeOutText;
            return false;
        }
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
    link.clock.sleepMs(kMakeFilePauseMs);
    const WaitTimer timer(link.clock);
    Bytes answer;
    for (;;) {
        Bytes chunk;
        std::string ignored;
        port.read(chunk, ignored);
        answer += chunk;
        if (answer.size() >= 3) {
            traceReceived(link, answer);
            const bool ok = answer.compare(0, 2, "OK") == 0;
            port.purgeInput();
            message = ok ? "OK" : kMakeFileFailedText;
            return ok;
        }
        link.clock.sleepMs(kMakeFilePauseMs);
        if (timer.pastLimit(kMakeFileLimitMs)) {
            port.purgeInput();
            message = kMakeFileTimeOutText;
            return false;
        }
    }
}

bool WaitFileCrc(Link& link, const std::string& expectedDecimal, std::string& message)
{
    if (!requireOpen(link, message))
        return false;
    SerialPort& port = link.CmdPort;
    const WaitTimer timer(link.clock);
    Bytes line;
    for (;;) {
        Bytes chunk;
        if (!port.read(chunk, message))
            return false;
        line += chunk;
        if (line.back() == '\n')
            break;
        link.clock.sleepMs(kFileCrcPollPauseMs);
        if (timer.pastLimit(kFileCrcLimitMs)) {
            message = kFileCrcTimeOutText;
            return false;
        }
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

        if (isCancelled(options.cancelled)) {
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
        if (!port.waitReadable(std::min(remaining, kCancelCheckMs)))
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
        clock.sleepMs(1);
    }
}

StreamEnd StreamFile(Link& link, const Bytes& fileData, const StreamOptions& options, std::string& message)
{
    if (!requireOpen(link, message))
        return StreamEnd::WriteFailed;
    SerialPort& port = link.CmdPort;
    const int pieces = BlockCount(fileData.size());
    for (int k = 0; k < pieces; ++k) {
        if (isCancelled(options.cancelled))
            return StreamEnd::Cancelled;
        const std::size_t from = static_cast<std::size_t>(k) * kStreamPieceSize;
        if (from < fileData.size()) {
            const Bytes piece = fileData.substr(from, kStreamPieceSize);
            if (!port.write(piece, message))
                return port.hungUp() ? StreamEnd::HungUp : StreamEnd::WriteFailed;
        }
        if (options.onPieceSent)
            options.onPieceSent(k + 1);
    }
    message = "OK";
    return StreamEnd::Completed;
}

} // namespace tarsel
