// Who holds a port open: /proc read from a fake tree, and a real process holding a pty
// against the port's open. (A pty's own far end, which does not count, is tried on a
// virtual display in the doctor's tests.)
#include "link/clock.h"
#include "link/port_holders.h"
#include "link/ports.h"
#include "link/termios_port.h"
#include "support/port_hog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace tarsel;
namespace fs = std::filesystem;

namespace {

// A /proc of our own making: processes with a name, an executable and open files.
class FakeProc {
public:
    FakeProc()
    {
        std::string tmpl = (fs::temp_directory_path() / "tarsel-proc-XXXXXX").string();
        root = ::mkdtemp(tmpl.data());
    }
    ~FakeProc()
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void process(int pid, const std::string& comm, const std::string& exe = {}) const
    {
        const fs::path p = fs::path(root) / std::to_string(pid);
        fs::create_directories(p / "fd");
        std::ofstream(p / "comm") << comm << "\n";
        if (!exe.empty())
            fs::create_symlink(exe, p / "exe");
    }
    void open(int pid, int fd, const std::string& target) const
    {
        fs::create_symlink(target, fs::path(root) / std::to_string(pid) / "fd" / std::to_string(fd));
    }
    // A process whose open files cannot be listed (another user's).
    void unreadable(int pid) const
    {
        const fs::path p = fs::path(root) / std::to_string(pid);
        fs::create_directories(p);
        std::ofstream(p / "comm") << "sshd\n";
        std::ofstream(p / "fd") << "";
    }

    std::string root;
};

} // namespace

TEST(PortHolders, NamesEveryProcessWithThePortOpenAndCountsTheUnreadable)
{
    FakeProc proc;
    proc.process(1234, "minicom", "/usr/bin/minicom");
    proc.open(1234, 0, "/dev/pts/1");
    proc.open(1234, 3, "/dev/ttyUSB0");
    proc.process(99, "screen");
    proc.open(99, 5, "/dev/ttyUSB0");
    // comm keeps 15 bytes of a long name: the executable's name is the whole of it.
    proc.process(4000, "tarsel-display-s", "/usr/lib/tarsel/tarsel-display-sim (deleted)");
    proc.open(4000, 7, "/dev/ttyUSB0");
    proc.process(500, "bash", "/usr/bin/bash");
    proc.open(500, 1, "/dev/ttyUSB1");
    proc.open(500, 2, "socket:[1234]");
    proc.unreadable(1);
    proc.unreadable(2);
    fs::create_directories(fs::path(proc.root) / "self"); // not a process: ignored

    const PortHolders found = FindPortHolders("/dev/ttyUSB0", proc.root);
    EXPECT_EQ(found.holders, (std::vector<ProcessName>{{99, "screen"}, {1234, "minicom"}, {4000, "tarsel-display-sim"}}));
    EXPECT_EQ(found.unreadable, 2);
    EXPECT_EQ(HolderList(found.holders), "screen, pid 99; minicom, pid 1234; tarsel-display-sim, pid 4000");
    EXPECT_EQ(HolderList({{7, "minicom"}}), "minicom, pid 7");

    // A busy port's reason leaves out this process's own other handle on it.
    proc.process(::getpid(), "tarsel");
    proc.open(::getpid(), 9, "/dev/ttyUSB1");
    EXPECT_EQ(BusyReason("/dev/ttyUSB1", proc.root), "Device or resource busy (held by bash, pid 500)");
    EXPECT_EQ(BusyReason("/dev/ttyS0", proc.root), "Device or resource busy");

    EXPECT_TRUE(FindPortHolders("/dev/ttyS0", proc.root).holders.empty());
    EXPECT_EQ(ProcessesNamed("bash", proc.root), (std::vector<ProcessName>{{500, "bash"}}));
    EXPECT_TRUE(ProcessesNamed("ModemManager", proc.root).empty());
}

TEST(PortHolders, ABusyPortsReasonNamesTheProgramHoldingIt)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);

    test::PortHog hog;
    ASSERT_TRUE(hog.start(slave));
    const std::string held = "Device or resource busy (held by porthog, pid " + std::to_string(hog.pid()) + ")";
    EXPECT_EQ(FindPortHolders(slave).holders, (std::vector<ProcessName>{{hog.pid(), "porthog"}}));

    // Refused by the exclusive flag (or, for root, by the lock): the reason names it.
    TermiosPort port;
    const OpenResult busy = port.open(slave, 9600);
    EXPECT_EQ(busy.code, kOpenFailed);
    EXPECT_EQ(busy.error, held);
    EXPECT_FALSE(port.isOpen());
    // The window's message: its own first line, the reason with the holder on the second.
    TermiosPort text;
    SteadyClock clock;
    Link link(port, text, clock);
    link.PortName = slave;
    const Status status = OpenCmdPort(link);
    EXPECT_EQ(status.code, Code::PortError);
    EXPECT_EQ(status.text, " Error opening serial port!\n" + slave + ": " + held);

    // Gone: the port opens, and a busy reason without a holder stays the system's own.
    hog.stop();
    EXPECT_TRUE(port.open(slave, 9600).ok());
    port.close();
    EXPECT_EQ(BusyReason(slave), "Device or resource busy");
    ::close(master);
}
