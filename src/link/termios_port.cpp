#include "link/termios_port.h"

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

// poll() on one descriptor until `deadline` (monotonic ms); EINTR waits again for the
// rest of the time. Returns the revents, 0 on time-out, -1 on error.
int pollUntil(int fd, short events, double deadline)
{
    for (;;) {
        double left = std::max(0.0, deadline - monotonicMs());
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(left / 1000.0);
        ts.tv_nsec = static_cast<long>(std::fmod(left, 1000.0) * 1e6);
        struct pollfd pfd { fd, events, 0 };
        int r = ::ppoll(&pfd, 1, &ts, nullptr);
        if (r > 0)
            return pfd.revents;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

speed_t speedFor(int baud)
{
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0; // B0 would hang up the line: never set it
    }
}

// Raw 8N1 at `baud` (an unsupported speed keeps the current one); hardware flow control
// and modem-line handling stay as the driver has them. Software flow control is turned
// off: every tty starts with XON/XOFF on, which would swallow the 0x11 and 0x13 bytes
// of binary frames and let a 0x13 from the display stop our output. Failures are ignored.
void applyLine(int fd, int baud)
{
    struct termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    const tcflag_t hardFlow = tio.c_cflag & CRTSCTS;
    const tcflag_t hangUpOnClose = tio.c_cflag & HUPCL;
    ::cfmakeraw(&tio); // also clears IXON, IXOFF and IXANY
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD | hardFlow | hangUpOnClose;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    speed_t speed = speedFor(baud);
    if (speed != B0) {
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
    }
    retryEintr([&] { return ::tcsetattr(fd, TCSANOW, &tio); });
}

} // namespace

bool TermiosPort::isStandardBaud(int baud) { return speedFor(baud) != B0; }

TermiosPort::~TermiosPort() { close(); }

int TermiosPort::open(const std::string& name, int baud)
{
    if (isOpen())
        return kOpenAlreadyOpen;
    m_openError.clear();
    m_permissionDenied = false;
    m_hungUp = false;

    auto fail = [this](int err) {
        m_openError = errnoText(err);
        m_permissionDenied = err == EACCES || err == EPERM;
        return static_cast<int>(kOpenFailed);
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
            return fail(EBUSY);
    }
    auto release = [&device] {
        std::lock_guard<std::mutex> lock(registryMutex());
        openDevices().erase(device);
    };

    int fd = retryEintr([&] { return ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        int err = errno;
        release();
        return fail(err);
    }
    int err = 0;
    if (!::isatty(fd))
        err = ENOTTY;
    else if (retryEintr([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0)
        err = errno == EWOULDBLOCK ? EBUSY : errno;
    if (err != 0) {
        ::close(fd);
        release();
        return fail(err);
    }
    ::ioctl(fd, TIOCEXCL); // keeps other programs out; root is not stopped by it

    m_fd = fd;
    m_device = device;
    m_baud = isStandardBaud(baud) ? baud : 9600;
    applyLine(fd, baud);
    return kOpenOk;
}

void TermiosPort::close()
{
    if (!isOpen())
        return;
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
    struct pollfd pfd { m_fd, POLLIN, 0 };
    if (retryEintr([&] { return ::poll(&pfd, 1, 0); }) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
        markHungUp();
    return m_hungUp;
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
        ssize_t n = retryEintr([&] { return ::read(m_fd, buf, static_cast<std::size_t>(want)); });
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

bool TermiosPort::write(const Bytes& data, std::string& message)
{
    if (!isOpen()) {
        message = "3: 6"; // the invalid-handle report of a closed slot
        return false;
    }
    const double deadline = monotonicMs() + kWriteMsPerByte * static_cast<double>(data.size()) + kWriteConstantMs;
    auto fail = [&](const std::string& why) {
        message = "Write failed: " + why;
        return false;
    };

    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = retryEintr([&] { return ::write(m_fd, data.data() + done, data.size() - done); });
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            int err = errno;
            if (err == EIO)
                markHungUp();
            return fail(errnoText(err));
        }
        int revents = pollUntil(m_fd, POLLOUT, deadline);
        if (revents < 0)
            return fail(errnoText(errno));
        if (revents == 0)
            return fail(errnoText(ETIMEDOUT));
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
        double left = deadline - monotonicMs();
        if (left <= 0)
            return fail(errnoText(ETIMEDOUT));
        // Sleep about half the time the queued bytes take on the line, at least 1 ms.
        double lineMs = m_baud > 0 ? queued * 10000.0 / m_baud : 1.0;
        double step = std::clamp(lineMs / 2, 1.0, std::min(left, 50.0));
        struct timespec ts { 0, static_cast<long>(step * 1e6) };
        ::nanosleep(&ts, nullptr);
        if (pollHangUp())
            return fail("the line hung up");
    }
    message = "OK";
    return true;
}

void TermiosPort::setBaud(int baud)
{
    if (!isOpen())
        return;
    if (isStandardBaud(baud))
        m_baud = baud;
    applyLine(m_fd, baud);
}

bool TermiosPort::waitReadable(double timeoutMs)
{
    if (!isOpen())
        return false;
    if (bytesWaiting() > 0)
        return true;
    if (m_hungUp)
        return true;
    const double deadline = monotonicMs() + std::max(0.0, timeoutMs);
    int revents = pollUntil(m_fd, POLLIN, deadline);
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

void TermiosPort::requestLowLatency()
{
    if (!isOpen())
        return;
    struct serial_struct ss {};
    if (::ioctl(m_fd, TIOCGSERIAL, &ss) != 0)
        return;
    if (ss.flags & ASYNC_LOW_LATENCY)
        return;
    ss.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(m_fd, TIOCSSERIAL, &ss); // a refusal is ignored
}

} // namespace tarsel
