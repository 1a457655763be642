#include "support/sim_line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <cmath>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tarsel::test {

namespace {

speed_t speedConstant(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

double now()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

SimLine::~SimLine() { close(); }

bool SimLine::open(const std::string& path, int baud)
{
    close();
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!setBaud(baud)) {
        close();
        return false;
    }
    return true;
}

void SimLine::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool SimLine::setBaud(int baud)
{
    termios t {};
    if (::tcgetattr(m_fd, &t) != 0) {
        m_error = std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, speedConstant(baud));
    ::cfsetospeed(&t, speedConstant(baud));
    if (::tcsetattr(m_fd, TCSANOW, &t) != 0) {
        m_error = std::strerror(errno);
        return false;
    }
    return true;
}

bool SimLine::write(const Bytes& data)
{
    std::size_t done = 0;
    const double end = now() + 2000;
    while (done < data.size() && now() < end) {
        const ssize_t n = ::write(m_fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            m_error = std::strerror(errno);
            return false;
        } else {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
    return done == data.size();
}

static Bytes readWhile(int fd, double ms, const std::function<bool(const Bytes&)>& done)
{
    Bytes out;
    const double end = now() + ms;
    for (;;) {
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            if (done && done(out))
                return out;
            continue;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return out; // hung up
        const double left = end - now();
        if (left <= 0)
            return out;
        pollfd p{fd, POLLIN, 0};
        timespec ts{static_cast<time_t>(left / 1000), static_cast<long>(std::fmod(left, 1000.0) * 1e6)};
        ::ppoll(&p, 1, &ts, nullptr);
        if (p.revents & (POLLHUP | POLLERR) && !(p.revents & POLLIN))
            return out;
    }
}

Bytes SimLine::readFor(double ms) { return readWhile(m_fd, ms, nullptr); }

Bytes SimLine::readCount(std::size_t count, double ms)
{
    return readWhile(m_fd, ms, [count](const Bytes& b) { return b.size() >= count; });
}

Bytes SimLine::readUntil(char terminator, double ms)
{
    return readWhile(m_fd, ms, [terminator](const Bytes& b) { return !b.empty() && b.back() == terminator; });
}

sim::Options simOptions(const std::string& model, int baud, bool pacing)
{
    sim::Options o;
    o.model = model;
    o.baud = baud;
    o.pacing = pacing;
    o.registerLink = false;
    return o;
}

std::unique_ptr<sim::VirtualDisplay> startSim(const sim::Options& options)
{
    auto display = std::make_unique<sim::VirtualDisplay>(options);
    std::string error;
    if (!display->start(&error)) {
        ADD_FAILURE() << "virtual display did not start: " << error;
        return nullptr;
    }
    return display;
}

} // namespace tarsel::test
