// ListComPorts against fake kernel trees and virtual-port folders on disk.
#include "link/port_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace tarsel;
namespace fs = std::filesystem;

namespace {

class Tree {
public:
    Tree()
    {
        std::string tmpl = (fs::temp_directory_path() / "tarsel-ports-XXXXXX").string();
        root = ::mkdtemp(tmpl.data());
        sys = root + "/sys/class/tty";
        virt = root + "/virtual";
        fs::create_directories(sys);
        fs::create_directories(virt);
    }
    ~Tree()
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    // A tty of the kernel; `withDevice` when a driver is bound to it, `type` when given.
    void tty(const std::string& name, bool withDevice, const char* type = nullptr) const
    {
        fs::create_directories(sys + "/" + name);
        if (withDevice)
            fs::create_directories(sys + "/" + name + "/device");
        if (type)
            std::ofstream(sys + "/" + name + "/type") << type << "\n";
    }
    PortListSources sources() const { return {sys, "/dev", virt}; }

    std::string root, sys, virt;
};

} // namespace

TEST(PortList, ListsSerialDevicesAndLiveVirtualDisplaysSorted)
{
    Tree t;
    t.tty("ttyS0", true, "4");   // a 16550A
    t.tty("ttyS1", true, "0");   // no UART behind it
    t.tty("ttyS2", true);        // cannot tell: left out
    t.tty("ttyS10", true, "4");
    t.tty("ttyUSB0", true);
    t.tty("ttyACM1", true);
    t.tty("ttyAMA0", true);
    t.tty("rfcomm0", true);
    t.tty("ttyUSB9", false);     // no device behind it
    t.tty("tty0", true);         // a console
    t.tty("ptmx", false);
    t.tty("console", false);

    const std::string target = t.root + "/pty-standing-in";
    std::ofstream(target) << "";
    fs::create_symlink(target, t.virt + "/KT710-II");
    fs::create_symlink(target, t.virt + "/kt310");
    fs::create_symlink(t.root + "/gone", t.virt + "/Dead");  // its display has ended
    std::ofstream(t.virt + "/notes.txt") << "not a link";

    std::vector<std::string> list = {"stale"};
    std::string message;
    ASSERT_TRUE(ListComPorts(list, message, t.sources()));
    const std::vector<std::string> expected = {
        "/dev/rfcomm0", "/dev/ttyACM1", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS10", "/dev/ttyUSB0",
        t.virt + "/kt310", t.virt + "/KT710-II",
    };
    EXPECT_EQ(list, expected);
}

TEST(PortList, OneReadableSourceIsEnough)
{
    Tree t;
    t.tty("ttyUSB0", true);
    std::vector<std::string> list;
    std::string message;
    PortListSources noVirtual = t.sources();
    noVirtual.virtualFolder = t.root + "/no-such-folder";
    ASSERT_TRUE(ListComPorts(list, message, noVirtual));
    EXPECT_EQ(list, std::vector<std::string>{"/dev/ttyUSB0"});

    fs::create_symlink(t.root, t.virt + "/sim");
    PortListSources noSys = t.sources();
    noSys.sysClassTty = t.root + "/no-sys";
    ASSERT_TRUE(ListComPorts(list, message, noSys));
    EXPECT_EQ(list, std::vector<std::string>{t.virt + "/sim"});

    // A machine with no serial port at all gives an empty list, not an error.
    PortListSources empty = noVirtual;
    fs::remove_all(t.sys + "/ttyUSB0");
    list = {"stale"};
    ASSERT_TRUE(ListComPorts(list, message, empty));
    EXPECT_TRUE(list.empty());
}

TEST(PortList, NothingReadableFailsAndKeepsTheList)
{
    Tree t;
    PortListSources none{t.root + "/no-sys", "/dev", t.root + "/no-virtual"};
    std::vector<std::string> list = {"/dev/ttyUSB0"};
    std::string message;
    EXPECT_FALSE(ListComPorts(list, message, none));
    EXPECT_EQ(message, "Error opening registry key for serial port list");
    EXPECT_EQ(list, std::vector<std::string>{"/dev/ttyUSB0"});
}

TEST(PortList, VirtualPortFolderFollowsTheRuntimeFolder)
{
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    const std::string fallback = "/tmp/tarsel-" + std::to_string(::getuid()) + "/";
    Tree t;

    ::setenv("XDG_RUNTIME_DIR", t.root.c_str(), 1);
    EXPECT_EQ(VirtualPortFolder(), t.root + "/tarsel/");
    ::setenv("XDG_RUNTIME_DIR", (t.root + "/").c_str(), 1);
    EXPECT_EQ(VirtualPortFolder(), t.root + "/tarsel/");
    ::setenv("XDG_RUNTIME_DIR", (t.root + "/missing").c_str(), 1);
    EXPECT_EQ(VirtualPortFolder(), fallback);
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(VirtualPortFolder(), fallback);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualPortFolder(), fallback);

    if (saved)
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
}

TEST(PortList, TheRealMachineCanBeListed)
{
    // Whatever this machine has, the list is sorted and names existing devices.
    std::vector<std::string> list;
    std::string message;
    if (!ListComPorts(list, message))
        GTEST_SKIP() << "no /sys on this machine";
    auto sorted = list;
    SortPortNames(sorted);
    EXPECT_EQ(list, sorted);
    for (const auto& p : list)
        EXPECT_TRUE(fs::exists(p)) << p;
}
