// A handle slot on a Linux tty: raw 8N1, no flow control, non-blocking, exclusive.
#pragma once

#include "link/serial_port.h"

#include <string>

namespace tarsel {

// The SerialPort contract on a termios device (a real UART, a USB adapter, a pty).
//
// open(): `name` is a device path; a bare name such as "ttyUSB0" means /dev/ttyUSB0.
// The device is taken exclusively three ways: an in-process registry of the open
// devices (by real path, so a symlink and its target count as one port, and so a
// second slot of this process is refused even when running as root), flock() against
// other programs that lock it, and TIOCEXCL against other programs that just open it.
// The line is set up completely whatever another program left behind: raw, 8N1, the
// receiver on, modem lines ignored (CLOCAL), no hardware flow control (RTS/CTS would
// stall every write on a three-wire cable) and no software flow control (binary frames
// carry 0x11 and 0x13). Every call is checked and the settings are read back; a line
// the driver will not set up fails the open with the reason.
//
// write() waits until the bytes have left the driver's output queue, as the display
// expects its frames to be on the line when the call returns; it fails after 100 ms
// per byte + 1000 ms. A cancel ends a write that has not begun at once; one that has
// begun gets kCancelGraceMs to finish its frame. A hang-up is seen as read() failing with kHangUpMessage,
// hungUp() true, and waitReadable() returning at once.
class TermiosPort : public SerialPort {
public:
    TermiosPort() = default;
    ~TermiosPort() override;
    TermiosPort(const TermiosPort&) = delete;
    TermiosPort& operator=(const TermiosPort&) = delete;

    OpenResult open(const std::string& name, int baud) override;
    bool isOpen() const override { return m_fd >= 0; }
    void close() override;

    bool write(const Bytes& data, std::string& message) override;
    bool read(Bytes& out, std::string& message) override;
    int bytesWaiting() override;
    LineStatus setBaud(int baud) override;
    bool waitReadable(double timeoutMs) override;
    bool drainOutput(double maxMs, std::string& message) override;
    void purgeInput() override;
    void purgeOutput() override;
    bool hungUp() const override { return m_hungUp; }
    void requestLowLatency() override;

    // The device path actually opened (symlinks resolved); empty when closed.
    const std::string& devicePath() const { return m_device; }
    int baud() const { return m_baud; }

    static constexpr const char* kNothingReadMessage = "Failed to read data";
    static constexpr const char* kHangUpMessage = "Read failed: the line hung up";
    static constexpr double kWriteMsPerByte = 100.0;
    static constexpr double kWriteConstantMs = 1000.0;
    // How long a cancelled write that has begun may go on to finish its frame.
    static constexpr double kCancelGraceMs = 500.0;

    // True when `baud` is a speed termios can set (50 .. 4000000 of the standard list).
    static bool isStandardBaud(int baud);

private:
    bool pollHangUp();
    void markHungUp() { m_hungUp = true; }
    // Waits for `events` on the port (and, when watchCancel, the cancel token) until
    // `deadline` (monotonic ms). The port's revents; 0 on time-out; -1 on error;
    // -2 cancelled.
    int waitFor(short events, double deadline, bool watchCancel);
    void noteWritten(std::size_t count, double startedAt);

    int m_fd = -1;
    std::string m_device;
    bool m_hungUp = false;
    int m_baud = 0;
    double m_lineBusyUntil = 0;     // when the last byte written has left the line
    bool m_lowLatencySet = false;   // we turned the driver's low-latency flag on
};

} // namespace tarsel
