// The file transfer exchanges on CmdPort: the download service setup, the firmware
// loader's sync, the block phase in which the display pulls 256-byte blocks, the
// make-file command, the file stream and the display's CRC line.
//
// Every operation needs CmdPort open (it returns PortError "Serial Port Not Opened!"
// otherwise), runs on the calling thread, measures its waits with the link's clock,
// traces the frames the display protocol says are traced, and returns its outcome.
#pragma once

#include "link/link.h"
#include "link/status.h"
#include "transfer/frames.h"
#include "util/bytes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarsel {

// Waits of the display's file protocol count in units of 0.864 ms.
inline constexpr double kTickMs = 0.864;

inline constexpr double kSetupEchoPauseMs = 200;          // after the setup frame
inline constexpr double kSetupPollPauseMs = 100;          // between polls for the echo
inline constexpr double kSetupLimitMs = 5000 * kTickMs;   // 4320 ms
inline constexpr double kUpgradePollPauseMs = 100;        // between sync writes
inline constexpr double kUpgradeLimitMs = 10000 * kTickMs; // 8640 ms
inline constexpr double kMakeFilePauseMs = 50;            // after the frame and between polls
inline constexpr double kMakeFileLimitMs = 1000 * kTickMs; // 864 ms
inline constexpr double kStreamSettleMs = 500;            // after the stream, before the CRC line
inline constexpr double kFileCrcPollPauseMs = 100;
inline constexpr double kFileCrcLimitMs = 300 * kTickMs;  // 259.2 ms
// The display must send a frame within this time during the block phase.
inline constexpr double kTransferTimeoutMs = 10000;

extern const char* const kPortNotOpenedText;        // "Serial Port Not Opened!"
extern const char* const kSetupTimeOutText;         // "Download service setup failed : Time out !"
extern const char* const kSetupFailedText;          // "Download service setup failed !"
extern const char* const kUpgradeTimeOutText;       // "Upgrade Failed: Time out 1!"
extern const char* const kMakeFileFailedText;       // "Make Flie failed !"
extern const char* const kMakeFileTimeOutText;      // "Make File failed : Time out !"
extern const char* const kFileCrcTimeOutText;       // "Download failed : Time out !"
extern const char* const kFileCrcMismatchText;      // "Download failed : Crc"

// 02 10 + address + length; checks that the display echoes exactly those 10 bytes
// (all received bytes are compared, so an 11th byte fails the check: Refused
// "Download service setup failed !"). Address and length are 8 hex digits each.
Status DownloadServiceSetup(Link& link, const std::string& flashAddressHex, const std::string& fileLengthHex);

// Writes 07 07 07 07 and reads until the loader answers "A" (other bytes are dropped
// one at a time, each drop followed by a new sync write).
Status WaitUpgradeReady(Link& link);

// Writes the start-download frame (not traced).
Status SendStartDownload(Link& link);

// Writes the firmware announce frame (not traced).
Status SendAnnounce(Link& link, std::uint32_t fileLength, std::uint16_t fileCrc);

// Writes one block frame and traces it once written. A write that fails is a failure
// (the display would wait for the block in vain).
Status SendBlock(Link& link, const Bytes& numberBytes, const Bytes& data);

// 02 07 05 01 name,length,crc 0A; ok when the answer (3 bytes or more) begins with
// "OK", else Refused "Make Flie failed !". The receive queue is purged afterwards.
Status MakeFile(Link& link, const std::string& deviceFileName, const std::string& lengthDecimal,
                const std::string& crcDecimal);

// Reads the display's CRC line (decimal digits, 0A) and compares it with `expected`
// (Refused "Download failed : Crc" when it differs).
Status WaitFileCrc(Link& link, const std::string& expectedDecimal);

// ---------------------------------------------------------------------------
// The block phase: after the start (or announce) frame the display pulls blocks.

struct BlockPhaseOptions {
    double timeoutMs = kTransferTimeoutMs;     // restarted by every block request
    std::function<void(std::uint32_t blockNumber)> onBlockSent; // progress
    // Benchmarks: the host's turnaround per block, from the read that completed the
    // request to the block frame handed to the port, and how long each write took
    // (the port's write returns once the bytes have left its output queue), in ms.
    std::vector<double>* turnaroundMs = nullptr;
    std::vector<double>* writeMs = nullptr;
};

struct BlockPhaseResult {
    // Ok: the end frame arrived (crcMatches tells whether the file arrived whole).
    // TimedOut "Time Out!": no frame within the time-out. PortError or HungUp: a block
    // could not be written, the port closed or the line hung up. Cancelled.
    Status status = Status::failure(Code::TimedOut, "Time Out!");
    bool crcMatches = false;
    std::uint16_t deviceCrc = 0;
    std::size_t blocksSent = 0;
    bool completed() const { return status.ok(); }
};

// Strictly in order on the calling thread: wait until the port is readable (with the
// time-out as deadline), read what is waiting (at most 4096 bytes), feed the
// assembler, and act on each complete frame at once: a block request is answered
// with its block without any pause, the end frame ends the phase. The assembler's
// leftover bytes stay in it for the next item. A block that cannot be written ends
// the phase at once.
BlockPhaseResult RunBlockPhase(Link& link, FrameAssembler& assembler, const Bytes& fileData,
                               std::uint16_t fileCrc, const BlockPhaseOptions& options);

// ---------------------------------------------------------------------------
// The file stream of the named-file models.

inline constexpr std::size_t kStreamPieceSize = 256;

struct StreamOptions {
    std::function<void(int piece)> onPieceSent;   // piece 1, 2, ... after each write
};

// Writes the file in length div 256 + 1 pieces of 256 bytes (the last one shorter,
// or empty when the length is a multiple of 256), then waits until everything
// written can have left the line (SerialPort::drainOutput). A failed write stops
// the stream (PortError, HungUp); the link's cancel token stops it between and
// inside writes (Cancelled).
Status StreamFile(Link& link, const Bytes& fileData, const StreamOptions& options);
// The longest the stream waits for its bytes to leave the line.
double StreamDrainLimitMs(std::size_t bytes);

} // namespace tarsel
