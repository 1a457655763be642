// One handle slot on a serial port (CmdPort or TextPort).
#pragma once

#include "util/bytes.h"

#include <string>

namespace tarsel {

class CancelToken;

// Open codes returned by SerialPort::open (the message texts are in ports.h).
enum OpenCode : int {
    kOpenAlreadyOpen = 0,   // the slot is already open; nothing changed
    kOpenOk = 1,
    kOpenFailed = 2,        // missing, busy (also opened by the other slot), no permission,
                            // or the line could not be set up
    kOpenQueueFailed = 3,   // the port could not be set up
};

// What an open did: the code, and on failure the system's reason.
struct OpenResult {
    int code = kOpenOk;
    std::string error;            // e.g. "Device or resource busy"; empty on success
    bool permissionDenied = false;
    bool ok() const { return code == kOpenOk; }
};

// What a change of the line did: on failure the system's reason (or what the driver
// did instead, e.g. "the driver kept 9600 bit/s").
struct LineStatus {
    bool ok = true;
    std::string error;
};

// Contract (every implementation):
// - open() opens the device exclusively (a second open of the same device, from this
//   or another process, fails with kOpenFailed) and sets the line up completely: raw
//   8N1 at `baud`, no flow control of either kind, non-blocking; the settings are
//   read back, and a line that cannot be set up fails the open with the reason.
// - write() writes the whole byte string; bounded by 100 ms per byte + 1000 ms.
//   Success: true and message "OK". Failure: false and a message with the system's
//   error text. A closed slot fails with "3: 6" (invalid handle). A cancelled job
//   ends a blocked write with kCancelledText.
// - read() never waits: it takes what is waiting, at most 4096 bytes. Nothing waiting:
//   false, empty `out`, message "Failed to read data". A line that has hung up: false,
//   empty `out`, and a message naming the hang-up (callers treat it as no answer).
// - bytesWaiting() is the number of bytes in the input queue (FIONREAD), 0 when closed.
// - setBaud() changes the speed of an open port (8N1 kept) and reads it back; a
//   closed slot ignores it (ok). A speed the port cannot take fails with the reason.
// - waitReadable() blocks until at least one byte is waiting, the line hangs up, the
//   job is cancelled, or timeoutMs passes; true when something is waiting or the line
//   hung up.
// - drainOutput() waits until everything written can have left the line: the
//   driver's queue is empty and the line time of the bytes written (10 bits each at
//   the port's speed, counted from when the line last fell idle) has passed, since
//   adapters and pseudo-terminals buffer beyond what the driver reports. Bounded by
//   maxMs; false with a message when cancelled, hung up or not drained in time.
// - purgeInput() discards the input queue; purgeOutput() discards what was written
//   but has not left the driver yet (a cut stream need not go on for seconds).
// One slot is used by one thread at a time; setCancelToken() is called between jobs.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual OpenResult open(const std::string& name, int baud) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    virtual bool write(const Bytes& data, std::string& message) = 0;
    virtual bool read(Bytes& out, std::string& message) = 0;
    virtual int bytesWaiting() = 0;
    virtual LineStatus setBaud(int baud) = 0;
    virtual bool waitReadable(double timeoutMs) = 0;
    virtual bool drainOutput(double maxMs, std::string& message) = 0;
    virtual void purgeInput() = 0;
    virtual void purgeOutput() {}
    // True once the far end has hung up (pty closed, USB adapter unplugged).
    virtual bool hungUp() const { return false; }
    // Ask the driver for low latency (USB serial adapters) until the port is closed,
    // when the driver's own setting is restored; a refusal is ignored.
    virtual void requestLowLatency() {}
    // The job's cancel token (may be null), watched by blocking writes and waits.
    virtual void setCancelToken(const CancelToken* token) { m_cancel = token; }

    static constexpr int kMaxRead = 4096;

protected:
    const CancelToken* m_cancel = nullptr;
};

} // namespace tarsel
