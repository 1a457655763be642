// A handle slot on a Linux tty: raw 8N1, non-blocking, exclusive.
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
// Hardware flow control and the modem lines stay as the driver has them; software flow
// control (XON/XOFF) is turned off, as binary frames carry 0x11 and 0x13. An open() never returns kOpenQueueFailed: the kernel's queues need no set-up.
//
// write() waits until the bytes have left the output queue, as the display expects its
// frames to be on the line when the call returns; it fails after 100 ms per byte
// + 1000 ms. A hang-up is seen as read() failing with kHangUpMessage, hungUp() true,
// and waitReadable() returning at once.
class TermiosPort : public SerialPort {
public:
    TermiosPort() = default;
    ~TermiosPort() override;
    TermiosPort(const TermiosPort&) = delete;
    TermiosPort& operator=(const TermiosPort&) = delete;

    int open(const std::string& name, int baud) override;
    bool isOpen() const override { return m_fd >= 0; }
    void close() override;
    std::string openErrorDetail() const override { return m_openError; }
    bool openFailedForPermission() const override { return m_permissionDenied; }

    bool write(const Bytes& data, std::string& message) override;
    bool read(Bytes& out, std::string& message) override;
    int bytesWaiting() override;
    void setBaud(int baud) override;
    bool waitReadable(double timeoutMs) override;
    void purgeInput() override;
    bool hungUp() const override { return m_hungUp; }
    void requestLowLatency() override;

    // The device path actually opened (symlinks resolved); empty when closed.
    const std::string& devicePath() const { return m_device; }

    static constexpr const char* kNothingReadMessage = "Failed to read data";
    static constexpr const char* kHangUpMessage = "Read failed: the line hung up";
    static constexpr double kWriteMsPerByte = 100.0;
    static constexpr double kWriteConstantMs = 1000.0;

    // True when `baud` is a speed termios can set (50 .. 4000000 of the standard list).
    static bool isStandardBaud(int baud);

private:
    bool pollHangUp();
    void markHungUp() { m_hungUp = true; }

    int m_fd = -1;
    std::string m_device;
    std::string m_openError;
    bool m_permissionDenied = false;
    bool m_hungUp = false;
    int m_baud = 0;
};

} // namespace tarsel
