#include "link/termios_port.h"

#include "link/cancel.h"
#include "link/link.h"
#include "link/port_holders.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace tarsel {

namespace {

// The devices held open by any slot of this process, by real path.
std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}

std::set<std::string>& openDevices()
{
    static std::set<std::string> devices;
    return devices;
}

std::string errnoText(int err) { return std::strerror(err); }

// Retries a system call interrupted by a signal: the one place EINTR is handled.
template <typename F>
auto retryEintr(F f)
{
    for (;;) {
        auto r = f();
        if (!(r < 0 && errno == EINTR))
            return r;
    }
}

// Milliseconds on the monotonic clock, for the deadlines of waits.
double monotonicMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

struct SpeedCode {
    int baud;
    speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// B0 would hang the line up: it is never a valid answer.
speed_t speedFor(int baud)
{
    for (const auto& s : kSpeeds)
        if (s.baud == baud)
            return s.code;
    return B0;
}

int baudOf(speed_t code)
{
    for (const auto& s : kSpeeds)
        if (s.code == code)
            return s.baud;
    return 0;
}

// The line as the program needs it: raw, 8N1, receiver on, modem lines ignored, no
// flow control of either kind, reads that never wait, `speed` both ways. Whether the
// line hangs up on the last close (HUPCL, drops DTR) stays as the driver has it:
// some displays restart when DTR drops.
void makeLine(termios& tio, speed_t speed)
{
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
}

// What of `want` the driver did not take, or empty when it took all of it.
std::string lineDifference(const termios& got, speed_t speed)
{
    if (::cfgetospeed(&got) != speed || ::cfgetispeed(&got) != speed) {
        const int kept = baudOf(::cfgetospeed(&got));
        return kept > 0 ? "the driver kept " + std::to_string(kept) + " bit/s" : "the driver kept another speed";
    }
    if ((got.c_cflag & CSIZE) != CS8 || (got.c_cflag & (PARENB | CSTOPB)) != 0)
        return "the driver kept another character format than 8N1";
    if (got.c_cflag & CRTSCTS)
        return "the driver kept hardware flow control (RTS/CTS) on";
    if (got.c_iflag & (IXON | IXOFF))
        return "the driver kept software flow control (XON/XOFF) on";
    return {};
}

// Sets the whole line up and reads it back. Empty on success, else the reason.
std::string applyLine(int fd, int baud)
{
    const speed_t speed = speedFor(baud);
    if (speed == B0)
        return std::to_string(baud) + " bit/s is not a speed this port can be set to";
    termios tio {};
    if (retryEintr([&] { return ::tcgetattr(fd, &tio); }) != 0)
        return "cannot read the line settings: " + errnoText(errno);
    makeLine(tio, speed);
    if (retryEintr([&] { return ::tcsetattr(fd, TCSANOW, &tio); }) != 0)
        return "cannot set the line: " + errnoText(errno);
    // tcsetattr succeeds when any of the changes was made: read back what holds.
    termios got {};
    if (retryEintr([&] { return ::tcgetattr(fd, &got); }) != 0)
        return "cannot read the line settings back: " + errnoText(errno);
    return lineDifference(got, speed);
}

} // namespace

bool TermiosPort::isStandardBaud(int baud) { return speedFor(baud) != B0; }

TermiosPort::~TermiosPort() { close(); }

OpenResult TermiosPort::open(const std::string& name, int baud)
{
    if (isOpen())
        return {kOpenAlreadyOpen, {}, false};
    m_hungUp = false;

    auto fail = [](int err, const std::string& what = {}) {
        OpenResult r;
        r.code = kOpenFailed;
        r.error = what.empty() ? errnoText(err) : what;
        r.permissionDenied = err == EACCES || err == EPERM;
        return r;
    };

    if (name.empty())
        return fail(ENOENT);
    const std::string path = name.find('/') == std::string::npos ? "/dev/" + name : name;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return fail(errno);
    const std::string device = resolved;

    // Reserve the device before opening it, so two slots racing for it cannot both win.
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        if (!openDevices().insert(device).second)
            return fail(EBUSY, BusyReason(device));
    }
    auto release = [&device] {
        std::lock_guard<std::mutex> lock(registryMutex());
        openDevices().erase(device);
    };

    const int fd = retryEintr([&] { return ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        const int err = errno;
        release();
        return fail(err, err == EBUSY ? BusyReason(device) : std::string());
    }
    auto refuse = [&](int err, const std::string& what = {}) {
        ::close(fd);
        release();
        return fail(err, what);
    };
    if (!::isatty(fd))
        return refuse(ENOTTY);
    if (retryEintr([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        if (errno != EWOULDBLOCK)
            return refuse(errno);
        // Our own descriptor goes first, so that only the lock's holders are named.
        OpenResult busy = refuse(EBUSY);
        busy.error = BusyReason(device);
        return busy;
    }
    // Keeps other programs out (root is not stopped by it; the lock above and the
    // registry cover that).
    if (::ioctl(fd, TIOCEXCL) != 0)
        return refuse(errno, "cannot take the port for exclusive use: " + errnoText(errno));
    const std::string lineError = applyLine(fd, baud);
    if (!lineError.empty()) {
        ::ioctl(fd, TIOCNXCL);
        return refuse(EINVAL, "cannot set up the line at " + std::to_string(baud) + " bit/s 8N1: " + lineError);
    }

    m_fd = fd;
    m_device = device;
    m_baud = baud;
    m_lineBusyUntil = 0;
    m_lowLatencySet = false;
    return {kOpenOk, {}, false};
}

void TermiosPort::close()
{
    if (!isOpen())
        return;
    if (m_lowLatencySet) {
        // Give the driver back its own setting.
        serial_struct ss {};
        if (::ioctl(m_fd, TIOCGSERIAL, &ss) == 0) {
            ss.flags &= ~ASYNC_LOW_LATENCY;
            ::ioctl(m_fd, TIOCSSERIAL, &ss);
        }
        m_lowLatencySet = false;
    }
    // The exclusive flag belongs to the tty, not to this descriptor: a pty whose other
    // end keeps it open would otherwise stay locked against our own next open.
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd); // also releases the flock
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        openDevices().erase(m_device);
    }
    m_fd = -1;
    m_device.clear();
}

bool TermiosPort::pollHangUp()
{
    if (!isOpen())
        return false;
    pollfd pfd {m_fd, POLLIN, 0};
    if (retryEintr([&] { return ::poll(&pfd, 1, 0); }) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
        markHungUp();
    return m_hungUp;
}

int TermiosPort::waitFor(short events, double deadline, bool watchCancel)
{
    const CancelToken* cancel = watchCancel ? m_cancel : nullptr;
    const int cancelFd = cancel ? cancel->pollFd() : -1;
    for (;;) {
        if (cancel && cancel->cancelled())
            return -2;
        double left = std::max(0.0, deadline - monotonicMs());
        // Without a descriptor for the token, wake now and then to look at it.
        if (cancel && cancelFd < 0)
            left = std::min(left, 20.0);
        timespec ts;
        ts.tv_sec = static_cast<time_t>(left / 1000.0);
        ts.tv_nsec = static_cast<long>(std::fmod(left, 1000.0) * 1e6);
        pollfd fds[2] = {{m_fd, events, 0}, {cancelFd, POLLIN, 0}};
        const int r = ::ppoll(fds, cancelFd >= 0 ? 2 : 1, &ts, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (fds[0].revents)
            return fds[0].revents;
        if (cancel && cancel->cancelled())
            return -2;
        if (monotonicMs() >= deadline)
            return 0;
    }
}

int TermiosPort::bytesWaiting()
{
    if (!isOpen())
        return 0;
    int waiting = 0;
    if (::ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting < 0)
        return 0;
    return waiting;
}

bool TermiosPort::read(Bytes& out, std::string& message)
{
    out.clear();
    if (!isOpen()) {
        message = kNothingReadMessage;
        return false;
    }
    const int want = std::min(bytesWaiting(), kMaxRead);
    if (want > 0) {
        char buf[kMaxRead];
        const ssize_t n = retryEintr([&] { return ::read(m_fd, buf, static_cast<std::size_t>(want)); });
        if (n > 0) {
            out.assign(buf, static_cast<std::size_t>(n));
            message = "OK";
            return true;
        }
        if (n < 0 && errno == EIO)
            markHungUp();
    }
    message = pollHangUp() ? kHangUpMessage : kNothingReadMessage;
    return false;
}

void TermiosPort::noteWritten(std::size_t count, double startedAt)
{
    if (m_baud <= 0)
        return;
    m_lineBusyUntil = std::max(m_lineBusyUntil, startedAt) + static_cast<double>(count) * 10000.0 / m_baud;
}

bool TermiosPort::write(const Bytes& data, std::string& message)
{
    if (!isOpen()) {
        message = "3: 6"; // the invalid-handle report of a closed slot
        return false;
    }
    const double start = monotonicMs();
    const double deadline = start + kWriteMsPerByte * static_cast<double>(data.size()) + kWriteConstantMs;
    auto fail = [&](const std::string& why) {
        message = "Write failed: " + why;
        return false;
    };
    auto cancelled = [&] {
        message = kCancelledText;
        return false;
    };
    if (m_cancel && m_cancel->cancelled())
        return cancelled();

    // A frame cut in the middle would leave the display waiting for its rest and
    // swallowing whatever comes next: once the first byte is out, a cancel lets the
    // write finish for a short grace time before it gives up.
    double graceEnd = -1;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = retryEintr([&] { return ::write(m_fd, data.data() + done, data.size() - done); });
        if (n > 0) {
            noteWritten(static_cast<std::size_t>(n), start);
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            const int err = errno;
            if (err == EIO)
                markHungUp();
            return fail(errnoText(err));
        }
        // The driver's queue is full: the line (or the far end) is slower than we are.
        const bool inGrace = graceEnd >= 0;
        const int revents = waitFor(POLLOUT, inGrace ? std::min(deadline, graceEnd) : deadline, !inGrace);
        if (revents == -2) {
            if (done == 0)
                return cancelled();
            graceEnd = monotonicMs() + kCancelGraceMs;
            continue;
        }
        if (revents < 0)
            return fail(errnoText(errno));
        if (revents == 0)
            return inGrace && monotonicMs() < deadline ? cancelled() : fail(errnoText(ETIMEDOUT));
        if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
            markHungUp();
            return fail("the line hung up");
        }
    }

    // Wait until the bytes have left the output queue (bounded by the same deadline).
    for (;;) {
        int queued = 0;
        if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            break;
        const double left = deadline - monotonicMs();
        if (left <= 0)
            return fail(errnoText(ETIMEDOUT));
        // Sleep about half the time the queued bytes take on the line, at least 1 ms.
        const double lineMs = m_baud > 0 ? queued * 10000.0 / m_baud : 1.0;
        const double step = std::clamp(lineMs / 2, 1.0, std::min(left, 50.0));
        if (m_cancel ? !m_cancel->sleepFor(step) : false)
            return cancelled();
        if (!m_cancel) {
            timespec ts {0, static_cast<long>(step * 1e6)};
            ::nanosleep(&ts, nullptr);
        }
        if (pollHangUp())
            return fail("the line hung up");
    }
    message = "OK";
    return true;
}

bool TermiosPort::drainOutput(double maxMs, std::string& message)
{
    if (!isOpen()) {
        message = "3: 6";
        return false;
    }
    const double deadline = monotonicMs() + std::max(0.0, maxMs);
    auto sleepUntil = [&](double until) {
        const double ms = std::min(until, deadline) - monotonicMs();
        if (ms <= 0)
            return true;
        if (m_cancel)
            return m_cancel->sleepFor(ms);
        timespec ts {static_cast<time_t>(ms / 1000), static_cast<long>(std::fmod(ms, 1000.0) * 1e6)};
        ::nanosleep(&ts, nullptr);
        return true;
    };
    // The driver's queue first ...
    for (;;) {
        int queued = 0;
        if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            break;
        if (monotonicMs() >= deadline) {
            message = "Write failed: " + errnoText(ETIMEDOUT);
            return false;
        }
        if (!sleepUntil(monotonicMs() + 2)) {
            message = kCancelledText;
            return false;
        }
        if (pollHangUp()) {
            message = kHangUpMessage;
            return false;
        }
    }
    // ... then the UART's own buffer (returns at once on a pseudo-terminal) ...
    if (retryEintr([&] { return ::tcdrain(m_fd); }) != 0 && errno == EIO) {
        markHungUp();
        message = kHangUpMessage;
        return false;
    }
    // ... and whatever an adapter or a pseudo-terminal holds beyond what the driver
    // reports: the line time of everything written since the line last fell idle.
    if (!sleepUntil(m_lineBusyUntil)) {
        message = kCancelledText;
        return false;
    }
    if (monotonicMs() < m_lineBusyUntil) {
        message = "Write failed: the output did not drain in time";
        return false;
    }
    message = "OK";
    return true;
}

LineStatus TermiosPort::setBaud(int baud)
{
    if (!isOpen())
        return {};
    const speed_t speed = speedFor(baud);
    if (speed == B0)
        return {false, std::to_string(baud) + " bit/s is not a speed this port can be set to"};
    termios tio {};
    if (retryEintr([&] { return ::tcgetattr(m_fd, &tio); }) != 0)
        return {false, errnoText(errno)};
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (retryEintr([&] { return ::tcsetattr(m_fd, TCSANOW, &tio); }) != 0)
        return {false, errnoText(errno)};
    termios got {};
    if (retryEintr([&] { return ::tcgetattr(m_fd, &got); }) != 0)
        return {false, errnoText(errno)};
    const std::string difference = lineDifference(got, speed);
    if (!difference.empty())
        return {false, difference};
    m_baud = baud;
    return {};
}

bool TermiosPort::waitReadable(double timeoutMs)
{
    if (!isOpen())
        return false;
    if (bytesWaiting() > 0)
        return true;
    if (m_hungUp)
        return true;
    const int revents = waitFor(POLLIN, monotonicMs() + std::max(0.0, timeoutMs), true);
    if (revents <= 0)
        return false;
    if (revents & (POLLHUP | POLLERR | POLLNVAL))
        markHungUp();
    return true;
}

void TermiosPort::purgeInput()
{
    if (isOpen())
        ::tcflush(m_fd, TCIFLUSH);
}

void TermiosPort::purgeOutput()
{
    if (!isOpen())
        return;
    ::tcflush(m_fd, TCOFLUSH);
    // What had already left the driver (an adapter's own buffer) is at most a moment
    // of line time; the rest is gone.
    m_lineBusyUntil = std::min(m_lineBusyUntil, monotonicMs() + (m_baud > 0 ? 256 * 10000.0 / m_baud : 0.0));
}

void TermiosPort::requestLowLatency()
{
    if (!isOpen() || m_lowLatencySet)
        return;
    serial_struct ss {};
    if (::ioctl(m_fd, TIOCGSERIAL, &ss) != 0)
        return; // not a UART or USB adapter (a pty, for one)
    if (ss.flags & ASYNC_LOW_LATENCY)
        return; // already on: nothing to give back on close
    ss.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(m_fd, TIOCSSERIAL, &ss) == 0)
        m_lowLatencySet = true;
}

} // namespace tarsel
