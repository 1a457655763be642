// One handle slot on a serial port (CmdPort or TextPort).
#pragma once

#include "util/bytes.h"

#include <string>

namespace tarsel {

// Open codes returned by SerialPort::open (the message texts are in port_errors.h).
enum OpenCode : int {
    kOpenAlreadyOpen = 0,   // the slot is already open; nothing changed
    kOpenOk = 1,
    kOpenFailed = 2,        // missing, busy (also opened by the other slot), no permission
    kOpenQueueFailed = 3,   // the port could not be set up
};

// Contract (every implementation):
// - open() opens the device exclusively (a second open of the same device, from this
//   or another process, fails with kOpenFailed), raw 8N1 at `baud`, non-blocking.
//   On failure, openErrorDetail() holds the system's reason (errno text) or is empty.
// - write() writes the whole byte string; bounded by 100 ms per byte + 1000 ms.
//   Success: true and message "OK". Failure: false and a message with the system's
//   error text. A closed slot fails with "3: 6" (invalid handle).
// - read() never waits: it takes what is waiting, at most 4096 bytes. Nothing waiting:
//   false, empty `out`, message "Failed to read data". A line that has hung up: false,
//   empty `out`, and a message naming the hang-up (callers treat it as no answer).
// - bytesWaiting() is the number of bytes in the input queue (FIONREAD), 0 when closed.
// - setBaud() changes the speed of an open port (8N1 kept); a closed slot ignores it.
// - waitReadable() blocks until at least one byte is waiting, the line hangs up, or
//   timeoutMs passes; returns true when something is waiting or the line hung up.
// - purgeInput() discards the input queue.
// One slot is used by one thread at a time.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual int open(const std::string& name, int baud) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    virtual std::string openErrorDetail() const { return {}; }
    virtual bool openFailedForPermission() const { return false; }

    virtual bool write(const Bytes& data, std::string& message) = 0;
    virtual bool read(Bytes& out, std::string& message) = 0;
    virtual int bytesWaiting() = 0;
    virtual void setBaud(int baud) = 0;
    virtual bool waitReadable(double timeoutMs) = 0;
    virtual void purgeInput() = 0;
    // True once the far end has hung up (pty closed, USB adapter unplugged).
    virtual bool hungUp() const { return false; }
    // Ask the driver for low latency (USB serial adapters); a refusal is ignored.
    virtual void requestLowLatency() {}

    static constexpr int kMaxRead = 4096;
};

} // namespace tarsel
