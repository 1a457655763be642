// TermiosPort against real pseudo-terminals: our port opens the slave side, the test
// plays the display on the master side.
#include "link/termios_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace tarsel;
using namespace std::chrono_literals;

namespace {

double nowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class Pty {
public:
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slave = ::ptsname(master);
    }
    ~Pty() { closeMaster(); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    bool ok() const { return master >= 0 && !slave.empty(); }

    void send(const Bytes& data) const
    {
        std::size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::write(master, data.data() + done, data.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else {
                struct pollfd p { master, POLLOUT, 0 };
                ::poll(&p, 1, 100);
            }
        }
    }

    // Everything the slave side wrote within `ms`, once `count` bytes are there.
    Bytes receive(std::size_t count, double ms = 1000) const
    {
        Bytes got;
        double deadline = nowMs() + ms;
        while (got.size() < count && nowMs() < deadline) {
            char buf[8192];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
            else {
                struct pollfd p { master, POLLIN, 0 };
                ::poll(&p, 1, 10);
            }
        }
        return got;
    }

    speed_t lineSpeed() const
    {
        struct termios tio {};
        ::tcgetattr(master, &tio);
        return ::cfgetospeed(&tio);
    }

    int master = -1;
    std::string slave;
};

Bytes pattern(std::size_t n)
{
    Bytes b;
    for (std::size_t i = 0; i < n; ++i)
        b.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    return b;
}

// Waits until the port has at least `n` bytes waiting (the pty hands them over
// asynchronously).
bool waitForBytes(TermiosPort& port, int n, double ms = 2000)
{
    double deadline = nowMs() + ms;
    while (port.bytesWaiting() < n && nowMs() < deadline)
        std::this_thread::sleep_for(1ms);
    return port.bytesWaiting() >= n;
}

} // namespace

TEST(TermiosPort, OpensRawEightNOneAtTheSpeedAsked)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TermiosPort port;
    ASSERT_EQ(port.open(pty.slave, 38400).code, kOpenOk);
    EXPECT_EQ(port.devicePath(), std::filesystem::canonical(pty.slave).string());
    struct termios tio {};
    ASSERT_EQ(::tcgetattr(pty.master, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), B38400);
    EXPECT_EQ(::cfgetispeed(&tio), B38400);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB));
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(tio.c_iflag & (ICRNL | ISTRIP | IXON | IXOFF));

    port.requestLowLatency(); // a pty refuses it; the port must stay as it was
    ASSERT_EQ(::tcgetattr(pty.master, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), B38400);

    // Control bytes (XON and XOFF among them) pass both ways untouched.
    const Bytes all = pattern(256) + bytesOf({0x0D, 0x0A, 0x03, 0x1A, 0x11, 0x13, 0x00});
    std::string message;
    ASSERT_TRUE(port.write(all, message)) << message;
    EXPECT_EQ(message, "OK");
    EXPECT_EQ(pty.receive(all.size()), all);
    pty.send(all);
    ASSERT_TRUE(waitForBytes(port, static_cast<int>(all.size())));
    Bytes got;
    ASSERT_TRUE(port.read(got, message));
    EXPECT_EQ(got, all);
}

TEST(TermiosPort, SetBaudChangesTheSpeedOfTheOpenPort)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TermiosPort port;
    ASSERT_EQ(port.open(pty.slave, 9600).code, kOpenOk);
    EXPECT_EQ(pty.lineSpeed(), B9600);
    EXPECT_TRUE(port.setBaud(115200).ok);
    EXPECT_EQ(pty.lineSpeed(), B115200);
    // No such termios speed: the change fails with its reason and the speed stays.
    const LineStatus odd = port.setBaud(14400);
    EXPECT_FALSE(odd.ok);
    EXPECT_EQ(odd.error, "14400 bit/s is not a speed this port can be set to");
    EXPECT_EQ(pty.lineSpeed(), B115200);
    EXPECT_FALSE(port.setBaud(0).ok) << "0 must not mean \"hang up\"";
    EXPECT_EQ(pty.lineSpeed(), B115200);
    std::string message;
    EXPECT_TRUE(port.write("still up", message)) << message;
    EXPECT_EQ(pty.receive(8), "still up");
    EXPECT_TRUE(port.setBaud(9600).ok);
    EXPECT_EQ(pty.lineSpeed(), B9600);

    // A blank baud text gives 0: the open fails and says why instead of running at
    // whatever speed the port had.
    TermiosPort blank;
    port.close();
    const OpenResult refused = blank.open(pty.slave, 0);
    EXPECT_EQ(refused.code, kOpenFailed);
    EXPECT_NE(refused.error.find("0 bit/s is not a speed"), std::string::npos) << refused.error;
    EXPECT_FALSE(blank.isOpen());
    EXPECT_EQ(blank.open(pty.slave, 9600).code, kOpenOk) << "nothing of the refused open stays behind";
}

TEST(TermiosPort, OpenClearsFlowControlAPreviousProgramLeftOn)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    // Another program left RTS/CTS and XON/XOFF on: on a three-wire cable every write
    // would wait for a CTS that never comes, and XON/XOFF would eat 0x11 and 0x13.
    struct termios tio {};
    ASSERT_EQ(::tcgetattr(pty.master, &tio), 0);
    tio.c_cflag |= CRTSCTS;
    tio.c_iflag |= IXON | IXOFF | IXANY;
    ASSERT_EQ(::tcsetattr(pty.master, TCSANOW, &tio), 0);
    ASSERT_EQ(::tcgetattr(pty.master, &tio), 0);
    ASSERT_TRUE(tio.c_cflag & CRTSCTS) << "the pty keeps the flag, as a UART does";

    TermiosPort port;
    ASSERT_EQ(port.open(pty.slave, 19200).code, kOpenOk);
    ASSERT_EQ(::tcgetattr(pty.master, &tio), 0);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | IXANY));
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);
}

TEST(TermiosPort, SecondOpenOfTheSamePortFailsAndTheFirstStaysUsable)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TermiosPort cmd, text;
    ASSERT_EQ(cmd.open(pty.slave, 9600).code, kOpenOk);
    EXPECT_EQ(cmd.open(pty.slave, 9600).code, kOpenAlreadyOpen);
    const OpenResult busy = text.open(pty.slave, 9600);
    EXPECT_EQ(busy.code, kOpenFailed);
    EXPECT_FALSE(text.isOpen());
    EXPECT_EQ(busy.error, "Device or resource busy");
    EXPECT_FALSE(busy.permissionDenied);

    // The same device under another name is the same port.
    const auto dir = std::filesystem::temp_directory_path() / ("tarsel-port-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto link = dir / "KT710-II";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty.slave, link);
    EXPECT_EQ(text.open(link.string(), 9600).code, kOpenFailed);
    std::filesystem::remove_all(dir);

    // Another program cannot take it either: the lock is held (and, without root,
    // the open itself is refused).
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            ::_exit(errno == EBUSY ? 0 : 2);
        ::_exit(::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process got the port";

    std::string message;
    ASSERT_TRUE(cmd.write("ping", message)) << message;
    EXPECT_EQ(pty.receive(4), "ping");
    pty.send("pong");
    ASSERT_TRUE(cmd.waitReadable(1000));
    ASSERT_TRUE(waitForBytes(cmd, 4));
    Bytes got;
    ASSERT_TRUE(cmd.read(got, message));
    EXPECT_EQ(got, "pong");

    // Once closed, the other slot may have it, also through the exclusive flag.
    cmd.close();
    EXPECT_EQ(text.open(pty.slave, 9600).code, kOpenOk);
    text.close();
    EXPECT_EQ(cmd.open(pty.slave, 9600).code, kOpenOk);
}

TEST(TermiosPort, OpenFailuresNameTheReason)
{
    TermiosPort port;
    EXPECT_EQ(port.open("", 9600).code, kOpenFailed);
    const OpenResult missing = port.open("/dev/tarsel-no-such-port", 9600);
    EXPECT_EQ(missing.code, kOpenFailed);
    EXPECT_EQ(missing.error, "No such file or directory");
    EXPECT_FALSE(missing.permissionDenied);
    const OpenResult notSerial = port.open("/dev/null", 9600);
    EXPECT_EQ(notSerial.code, kOpenFailed) << "not a serial line";
    EXPECT_EQ(notSerial.error, "Inappropriate ioctl for device");
    EXPECT_FALSE(port.isOpen());
    // A refused device leaves nothing registered: the same path can be tried again.
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const OpenResult opened = port.open(pty.slave, 9600);
    EXPECT_EQ(opened.code, kOpenOk);
    EXPECT_EQ(opened.error, "");

    if (::geteuid() != 0) {
        TermiosPort other;
        Pty locked;
        ASSERT_TRUE(locked.ok());
        ASSERT_EQ(::chmod(locked.slave.c_str(), 0), 0);
        const OpenResult denied = other.open(locked.slave, 9600);
        EXPECT_EQ(denied.code, kOpenFailed);
        EXPECT_TRUE(denied.permissionDenied);
        EXPECT_EQ(denied.error, "Permission denied");
    }
}

TEST(TermiosPort, ReadsAtMost4096BytesAndLeavesTheRestQueued)
{
    // The kernel's line discipline holds at most 4095 received bytes, so on Linux 5000
    // waiting bytes come as 4095 + 905 (on the display's original platform: 4096 + 904).
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TermiosPort port;
    ASSERT_EQ(port.open(pty.slave, 115200).code, kOpenOk);
    const Bytes data = pattern(5000);
    pty.send(data);
    ASSERT_TRUE(waitForBytes(port, 4095));

    std::string message;
    Bytes first, second;
    ASSERT_TRUE(port.read(first, message));
    EXPECT_EQ(message, "OK");
    EXPECT_GE(first.size(), 4095u);
    EXPECT_LE(first.size(), 4096u);
    const int rest = static_cast<int>(data.size() - first.size());
    ASSERT_TRUE(waitForBytes(port, rest));
    EXPECT_EQ(port.bytesWaiting(), rest);
    ASSERT_TRUE(port.read(second, message));
    EXPECT_EQ(second.size(), static_cast<std::size_t>(rest));
    EXPECT_TRUE(first + second == data);
    EXPECT_FALSE(port.read(second, message));
    EXPECT_EQ(message, "Failed to read data");
}

TEST(TermiosPort, IdleReadReturnsAtOnce)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TermiosPort port;
    ASSERT_EQ(port.open(pty.slave, 9600).code, kOpenOk);
    Bytes out = "stale";
    std::string message;
    const double start = nowMs();
    EXPECT_FALSE(port.read(out, message));
    const double took = nowMs() - start;
    EXPECT_EQ(out, "");
    EXPECT_EQ(message, "Failed to read data");
    EXPECT_LT(took, 500.0); // a read that waited for data would never return
    EXPECT_FALSE(port.hungUp());
}

TEST(TermiosPort, WaitReadableWakesOnDataAndTimesOutOtherwise)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TermiosPort port;
    ASSERT_EQ(port.open(pty.slave, 9600).code, kOpenOk);
    double start = nowMs();
    EXPECT_FALSE(port.waitReadable(80));
    double took = nowMs() - start;
    EXPECT_GE(took, 79.0);
    EXPECT_LT(took, 1000.0);

    std::thread sender([&] {
        std::this_thread::sleep_for(30ms);
        pty.send("A");
    });
    start = nowMs();
    EXPECT_TRUE(port.waitReadable(2000));
    took = nowMs() - start;
    sender.join();
    EXPECT_LT(took, 1500.0);
    ASSERT_TRUE(waitForBytes(port, 1));
    port.purgeInput();
    EXPECT_EQ(port.bytesWaiting(), 0);
    Bytes out;
    std::string message;
    EXPECT_FALSE(port.read(out, message));
}

TEST(TermiosPort, LongWritesArriveWhole)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TermiosPort port;
    ASSERT_EQ(port.open(pty.slave, 115200).code, kOpenOk);
    const Bytes data = pattern(100000); // far more than the kernel buffers hold
    Bytes got;
    std::thread reader([&] { got = pty.receive(data.size(), 3000); });
    std::string message;
    EXPECT_TRUE(port.write(data, message)) << message;
    reader.join();
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST(TermiosPort, HangUpFailsWritesAndReadsWithAMessageAndNoWaiting)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TermiosPort port;
    ASSERT_EQ(port.open(pty.slave, 9600).code, kOpenOk);
    pty.send("last");
    ASSERT_TRUE(waitForBytes(port, 4));
    pty.closeMaster(); // the kernel hangs the line up; what was queued is gone

    Bytes out;
    std::string message;
    double start = nowMs();
    EXPECT_FALSE(port.read(out, message));
    EXPECT_EQ(out, "");
    EXPECT_EQ(message, TermiosPort::kHangUpMessage);
    EXPECT_TRUE(port.hungUp());
    // Waiting on a dead line returns at once instead of sitting out the time-out...
    EXPECT_TRUE(port.waitReadable(3000));
    // ...and repeated reads stay failures without blocking.
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(port.read(out, message));
    EXPECT_LT(nowMs() - start, 500.0);

    start = nowMs();
    EXPECT_FALSE(port.write("frame", message));
    EXPECT_LT(nowMs() - start, 1500.0);
    EXPECT_EQ(message.rfind("Write failed: ", 0), 0u) << message;
    EXPECT_GT(message.size(), std::string("Write failed: ").size());

    // Closing and reopening a dead pty neither crashes nor hangs.
    port.close();
    EXPECT_FALSE(port.isOpen());
}
