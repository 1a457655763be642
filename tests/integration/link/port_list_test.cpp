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
    PortListSources sources() const
    {
        PortListSources src;
        src.sysClassTty = sys;
        src.devFolder = "/dev";
        src.virtualFolder = virt;
        src.byIdFolder = root + "/by-id";
        src.describe = [](const std::string&) { return std::string(); };
        return src;
    }

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
    // USB adapters first, then virtual displays, then the rest; each sorted as text
    // ignoring case.
    const std::vector<std::string> expected = {
        "/dev/ttyACM1", "/dev/ttyUSB0", t.virt + "/kt310", t.virt + "/KT710-II",
        "/dev/rfcomm0", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS10",
    };
    EXPECT_EQ(list, expected);
}

TEST(PortList, UsbAdaptersGoByTheirStableNameWithADescription)
{
    Tree t;
    t.tty("ttyS0", true, "4");
    t.tty("ttyUSB0", true);
    t.tty("ttyUSB1", true);
    // Device nodes of the fake tree and udev's stable names for two of them.
    const std::string dev = t.root + "/dev";
    fs::create_directories(dev);
    fs::create_directories(t.root + "/by-id");
    for (const char* n : {"ttyS0", "ttyUSB0", "ttyUSB1"})
        std::ofstream(dev + "/" + n) << "";
    const std::string ftdi = t.root + "/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    fs::create_symlink(dev + "/ttyUSB1", ftdi);
    PortListSources src = t.sources();
    src.devFolder = dev;
    src.describe = [](const std::string& tty) {
        return tty == "ttyUSB1" ? std::string("FTDI FT232R USB UART, serial A1B2C3") : std::string();
    };

    std::vector<PortInfo> ports;
    std::string message;
    ASSERT_TRUE(ListPorts(ports, message, src));
    ASSERT_EQ(ports.size(), 3u);
    // Sorted by what is shown: the stable name ("/dev/serial/by-id/..." sorts before
    // "/dev/ttyUSB0" on a real machine as it does here).
    EXPECT_EQ(ports[0].kind, PortInfo::Kind::UsbAdapter);
    EXPECT_EQ(ports[0].path, ftdi);
    EXPECT_EQ(ports[0].stableName, ftdi);
    EXPECT_EQ(ports[0].device, dev + "/ttyUSB1");
    EXPECT_EQ(ports[0].description, "FTDI FT232R USB UART, serial A1B2C3");
    EXPECT_EQ(ports[1].kind, PortInfo::Kind::UsbAdapter);
    EXPECT_EQ(ports[1].device, dev + "/ttyUSB0");
    EXPECT_EQ(ports[1].path, dev + "/ttyUSB0") << "no stable name: the device path";
    EXPECT_EQ(ports[1].description, "USB serial adapter");
    EXPECT_EQ(ports[2].kind, PortInfo::Kind::BuiltIn);
    EXPECT_EQ(ports[2].path, dev + "/ttyS0");

    // The port a user names is found by path, stable name, device or a link of its own.
    EXPECT_EQ(FindPort(ports, ftdi), 0);
    EXPECT_EQ(FindPort(ports, dev + "/ttyUSB1"), 0);
    const std::string own = t.root + "/my-display";
    fs::create_symlink(dev + "/ttyUSB1", own);
    EXPECT_EQ(FindPort(ports, own), 0);
    EXPECT_EQ(FindPort(ports, dev + "/ttyS0"), 2);
    EXPECT_EQ(FindPort(ports, t.root + "/by-id/usb-other"), -1);
    EXPECT_EQ(FindPort(ports, ""), -1);
}

TEST(PortList, AVirtualPortFolderOthersCanWriteIsNotTrusted)
{
    Tree t;
    const std::string target = t.root + "/pty-standing-in";
    std::ofstream(target) << "";
    fs::create_symlink(target, t.virt + "/planted");
    std::vector<std::string> list;
    std::string message;
    ASSERT_TRUE(ListComPorts(list, message, t.sources()));
    EXPECT_EQ(list, std::vector<std::string>{t.virt + "/planted"});

    // Anyone may write to it: a "display" planted there could lead frames anywhere.
    fs::permissions(t.virt, fs::perms::all);
    EXPECT_FALSE(IsPrivateFolder(t.virt));
    ASSERT_TRUE(ListComPorts(list, message, t.sources()));
    EXPECT_TRUE(list.empty());
    fs::permissions(t.virt, fs::perms::owner_all);
    EXPECT_TRUE(IsPrivateFolder(t.virt));

    // A link standing in for the folder is not the folder.
    const std::string linked = t.root + "/linked";
    fs::create_symlink(t.virt, linked);
    EXPECT_FALSE(IsPrivateFolder(linked));
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
    PortListSources none = t.sources();
    none.sysClassTty = t.root + "/no-sys";
    none.virtualFolder = t.root + "/no-virtual";
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
    // Whatever this machine has, the list is grouped, sorted within each group and
    // names existing devices.
    std::vector<PortInfo> list;
    std::string message;
    if (!ListPorts(list, message))
        GTEST_SKIP() << "no /sys on this machine";
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_LE(static_cast<int>(list[i - 1].kind), static_cast<int>(list[i].kind));
        if (list[i - 1].kind == list[i].kind) {
            EXPECT_FALSE(PortNameLess(list[i].path, list[i - 1].path)) << list[i].path;
        }
    }
    for (const auto& p : list)
        EXPECT_TRUE(fs::exists(p.path)) << p.path;
}
