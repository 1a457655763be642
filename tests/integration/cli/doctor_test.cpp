// tarsel-cli doctor on a machine of our own making (a kernel tty tree, /dev, /proc,
// /etc/group and /etc/passwd, dpkg's status, udev's properties and stat's answers), and
// the program itself against a virtual display that another process holds open.
#include "cli/doctor.h"
#include "cli_process.h"
#include "support/port_hog.h"
#include "support/sim_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <stdlib.h>
#include <sys/stat.h>

namespace tarsel::cli {
namespace {

namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

constexpr unsigned kDialout = 20;

struct FakeMachine {
    std::string root;
    std::map<std::string, DeviceFacts> devices; // by path
    std::map<std::string, std::string> udev;
    UserFacts user{1000, "alice", 1000, {1000}};
    DoctorSources sources;

    FakeMachine()
    {
        std::string tmpl = (fs::temp_directory_path() / "tarsel-doctor-XXXXXX").string();
        root = fs::canonical(::mkdtemp(tmpl.data())).string();
        for (const char* d : {"sys/class/tty", "dev", "by-id", "proc", "etc", "virtual"})
            fs::create_directories(root + "/" + d);
        ::chmod((root + "/virtual").c_str(), 0700);
        write("etc/passwd", "root:x:0:0:root:/root:/bin/bash\nalice:x:1000:1000::/home/alice:/bin/bash\n"
                            "bob:x:1001:1001::/home/bob:/bin/bash\ncarol:x:1002:20::/home/carol:/bin/bash\n");
        write("etc/group", "root:x:0:\ndialout:x:20:bob,dave\nalice:x:1000:\nbob:x:1001:\n");
        write("status", "Package: bash\nStatus: install ok installed\n\n");
        sources.procRoot = root + "/proc";
        sources.passwdFile = root + "/etc/passwd";
        sources.groupFile = root + "/etc/group";
        sources.dpkgStatus = root + "/status";
        sources.ports.sysClassTty = root + "/sys/class/tty";
        sources.ports.devFolder = root + "/dev";
        sources.ports.byIdFolder = root + "/by-id";
        sources.ports.virtualFolder = root + "/virtual";
        sources.ports.describe = [](const std::string& tty) {
            return tty == "ttyUSB0" ? std::string("QinHeng Electronics CH340 serial converter") : std::string();
        };
        sources.statDevice = [this](const std::string& path) {
            const auto it = devices.find(path);
            return it == devices.end() ? DeviceFacts{} : it->second;
        };
        sources.udevProperties = [this](const std::string&) { return udev; };
        sources.user = [this] { return user; };
    }
    ~FakeMachine()
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void write(const std::string& file, const std::string& text) const { std::ofstream(root + "/" + file) << text; }

    // A tty the kernel has, its node in /dev (root:dialout crw-rw----) and, for an
    // adapter, its stable name.
    std::string tty(const std::string& name, const std::string& stableName = {})
    {
        fs::create_directories(root + "/sys/class/tty/" + name + "/device");
        if (name.rfind("ttyS", 0) == 0)
            write("sys/class/tty/" + name + "/type", "4\n");
        const std::string node = root + "/dev/" + name;
        write("dev/" + name, "");
        if (!stableName.empty())
            fs::create_symlink(node, root + "/by-id/" + stableName);
        devices[node] = DeviceFacts{true, true, 0, kDialout, 0660, -1};
        return node;
    }
    void process(int pid, const std::string& comm, const std::vector<std::string>& files = {}) const
    {
        const std::string folder = root + "/proc/" + std::to_string(pid);
        fs::create_directories(folder + "/fd");
        std::ofstream(folder + "/comm") << comm << "\n";
        for (std::size_t i = 0; i < files.size(); ++i)
            fs::create_symlink(files[i], folder + "/fd/" + std::to_string(i + 3));
    }
};

const Finding* findingOf(const std::vector<Finding>& findings, const std::string& check)
{
    for (const Finding& f : findings)
        if (f.check == check)
            return &f;
    return nullptr;
}

TEST(Doctor, WhoMayOpenTheDeviceAndWhatLetsThemFromTheGroupFileAndStat)
{
    FakeMachine m;
    const Accounts accounts = Accounts::read(m.sources.passwdFile, m.sources.groupFile);
    const DeviceFacts dialoutNode{true, true, 0, kDialout, 0660, -1};
    const DeviceFacts rootOnly{true, true, 0, 0, 0600, -1};
    struct Case {
        const char* what;
        DeviceFacts facts;
        UserFacts user;
        bool ok;
        const char* text;
        const char* fix;
    } cases[] = {
        {"not in the group", dialoutNode, {1000, "alice", 1000, {1000}}, false,
         "only root and the dialout group may, and alice is not in dialout",
         "sudo usermod -aG dialout $USER, then log out and in again"},
        {"added to the group after logging in", dialoutNode, {1001, "bob", 1001, {1001}}, false,
         "bob is in the dialout group, but this login session began before that", "log out and in again"},
        {"the group is the user's own in passwd", dialoutNode, {1002, "carol", kDialout, {1002}}, false,
         "carol is in the dialout group, but this login session began before that", "newgrp dialout"},
        {"in the group in this session", dialoutNode, {1003, "dave", 1003, {1003, kDialout}}, true,
         "you may open /dev/ttyUSB0 (root:dialout crw-rw----): you are in the dialout group", ""},
        {"the device is the user's", {true, true, 1000, kDialout, 0600, -1}, {1000, "alice", 1000, {1000}}, true,
         "(alice:dialout crw-------): it is yours", ""},
        {"only root", rootOnly, {1000, "alice", 1000, {1000, kDialout}}, false,
         "only root may open /dev/ttyUSB0 (root:root crw-------)",
         "KERNEL==\"ttyUSB0\", GROUP=\"dialout\", MODE=\"0660\""},
        {"root", rootOnly, {0, "root", 0, {0}}, true, "you are root", ""},
        {"an access list lets the user in", {true, true, 0, kDialout, 0660, 1}, {1000, "alice", 1000, {1000}}, true,
         "you may open /dev/ttyUSB0 (root:dialout crw-rw----)", ""},
        {"refused although the bits allow it", {true, true, 0, kDialout, 0666, 0}, {1000, "alice", 1000, {1000}},
         false, "although its permissions allow it", "getfacl /dev/ttyUSB0"},
    };
    for (const Case& c : cases) {
        const Finding f = CheckPermission("/dev/ttyUSB0", c.facts, c.user, accounts);
        EXPECT_EQ(f.check, "permission");
        EXPECT_EQ(f.ok, c.ok) << c.what << ": " << f.text;
        EXPECT_TRUE(contains(f.text, c.text)) << c.what << ": " << f.text;
        EXPECT_TRUE(c.ok ? f.fix.empty() : contains(f.fix, c.fix)) << c.what << ": " << f.fix;
    }
}

TEST(Doctor, AnAdapterHeldOpenAndProbedByModemManagerNamesTheProgramAndTheUdevRule)
{
    FakeMachine m;
    const std::string node = m.tty("ttyUSB0", "usb-1a86_USB_Serial-if00-port0");
    const std::string stable = m.root + "/by-id/usb-1a86_USB_Serial-if00-port0";
    m.tty("ttyS0");
    m.user.sessionGroups.push_back(kDialout);
    m.udev = {{"ID_VENDOR_ID", "1a86"}, {"ID_MODEL_ID", "7523"}};
    m.process(1234, "minicom", {"/dev/pts/0", node});
    m.process(1300, "bash", {"/dev/pts/0"});
    m.process(700, "ModemManager");
    m.write("status", "Package: brltty\nStatus: install ok installed\n");

    std::vector<Finding> findings = Diagnose(stable, m.sources);
    ASSERT_EQ(findings.size(), 4u) << FindingsText(findings);
    EXPECT_EQ(findings[0], (Finding{"port", true,
                                    stable + ": USB serial adapter QinHeng Electronics CH340 serial converter on " + node,
                                    ""}));
    EXPECT_EQ(findings[1].check, "permission");
    EXPECT_TRUE(findings[1].ok) << findings[1].text;
    EXPECT_EQ(findings[2], (Finding{"holder", false,
                                    node + " is held open by minicom (pid 1234); no other program can use it meanwhile",
                                    "close minicom (or: kill 1234)"}));
    EXPECT_EQ(findings[3].check, "modemmanager");
    EXPECT_FALSE(findings[3].ok);
    EXPECT_TRUE(contains(findings[3].text, "ModemManager is running (pid 700)")) << findings[3].text;
    EXPECT_TRUE(contains(findings[3].fix, "ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"7523\", "
                                          "ENV{ID_MM_DEVICE_IGNORE}=\"1\""))
        << findings[3].fix;
    // brltty is installed but has not taken the adapter: nothing to say of it.

    // As the command prints it, and its exit status.
    std::ostringstream out, err, jsonOut;
    Console console(out, err, {});
    nlohmann::ordered_json result;
    Invocation inv;
    inv.ports = {stable};
    EXPECT_EQ(RunDoctor(inv, console, result, m.sources), kExitFailed);
    EXPECT_TRUE(contains(out.str(), "\nproblem: " + node + " is held open by minicom (pid 1234); no other program "
                                    "can use it meanwhile\n  fix: close minicom (or: kill 1234)\nproblem: "))
        << out.str();
    EXPECT_EQ(out.str().rfind("ok: " + stable + ": USB serial adapter", 0), 0u) << out.str();
    EXPECT_EQ(result["outcome"], "refused");
    EXPECT_EQ(result["findings"][2]["check"], "holder");
    EXPECT_EQ(result["findings"][2]["fix"], "close minicom (or: kill 1234)");

    // Told to leave the adapter alone, and the program closed: nothing in the way, on
    // every port of the machine.
    m.udev["ID_MM_DEVICE_IGNORE"] = "1";
    fs::remove_all(m.root + "/proc/1234");
    findings = Diagnose("", m.sources);
    for (const Finding& f : findings)
        EXPECT_TRUE(f.ok) << f.check << ": " << f.text;
    ASSERT_NE(findingOf(findings, "modemmanager"), nullptr);
    EXPECT_TRUE(contains(findingOf(findings, "modemmanager")->text, "leaves " + stable + " alone"));
    EXPECT_EQ(findings.size(), 7u) << "two ports, three checks each, and ModemManager: " << FindingsText(findings);
    Console jsonConsole(jsonOut, err, {true});
    nlohmann::ordered_json clean;
    EXPECT_EQ(RunDoctor({}, jsonConsole, clean, m.sources), kExitOk);
    EXPECT_EQ(clean["outcome"], "ok");
    EXPECT_EQ(jsonOut.str(), "") << "with --json the findings are in the result object only";
}

TEST(Doctor, AMissingPortListsThePortsThereAreAndBrlttyIsNamedWhereItMayHaveTakenAnAdapter)
{
    FakeMachine m;
    const std::string uart = m.tty("ttyS0");
    m.write("status", "Package: brltty\nStatus: deinstall ok config-files\n\nPackage: bash\nStatus: install ok "
                      "installed\n");

    std::vector<Finding> findings = Diagnose(m.root + "/dev/ttyUSB0", m.sources);
    ASSERT_EQ(findings.size(), 1u) << FindingsText(findings);
    EXPECT_EQ(findings[0], (Finding{"port", false, m.root + "/dev/ttyUSB0 does not exist",
                                    "choose one of the ports there are: " + uart}));

    // Installed: it may have taken the adapter that is missing.
    m.write("status", "Package: brltty\nStatus: install ok installed\n");
    findings = Diagnose(m.root + "/dev/ttyUSB0", m.sources);
    ASSERT_EQ(findings.size(), 2u) << FindingsText(findings);
    EXPECT_EQ(findings[1].check, "brltty");
    EXPECT_FALSE(findings[1].ok);
    EXPECT_EQ(findings[1].fix, "sudo apt remove brltty (unless this machine has a braille display)");

    // A built-in port is none of its business, even while it runs; every port is.
    m.process(321, "brltty");
    findings = Diagnose(uart, m.sources);
    EXPECT_EQ(findingOf(findings, "brltty"), nullptr) << FindingsText(findings);
    findings = Diagnose("", m.sources);
    ASSERT_NE(findingOf(findings, "brltty"), nullptr) << FindingsText(findings);
    EXPECT_TRUE(contains(findingOf(findings, "brltty")->text, "brltty is running (pid 321)"));

    // No port at all, and a path that is no device.
    fs::remove_all(m.root + "/sys/class/tty/ttyS0");
    findings = Diagnose("", m.sources);
    ASSERT_NE(findingOf(findings, "ports"), nullptr);
    EXPECT_FALSE(findingOf(findings, "ports")->ok);
    EXPECT_TRUE(contains(findingOf(findings, "ports")->fix, "connect the display's USB serial adapter"));
    m.devices[m.root + "/etc/group"] = DeviceFacts{true, false, 0, 0, 0644, 1};
    findings = Diagnose(m.root + "/etc/group", m.sources);
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(findings[0].text, m.root + "/etc/group is not a serial device");
}

// The program, as a user runs it, against a virtual display registered where the port
// list finds it.
struct DoctorRun : ::testing::Test {
    fs::path root;
    std::unique_ptr<sim::VirtualDisplay> display;

    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "tarsel-doctor-run-XXXXXX").string();
        root = ::mkdtemp(tmpl.data());
        fs::create_directories(root / "run" / "tarsel");
        ::chmod((root / "run").c_str(), 0700);
        ::chmod((root / "run" / "tarsel").c_str(), 0700);
        sim::Options o = test::simOptions("KT310-II", 9600);
        o.registerLink = true;
        o.linkFolder = (root / "run" / "tarsel").string();
        o.linkName = "disp";
        display = test::startSim(o);
        ASSERT_TRUE(display);
    }
    void TearDown() override
    {
        display.reset();
        fs::remove_all(root);
    }
    struct Result {
        int exit;
        std::string out;
        std::string err;
    };
    Result run(const std::vector<std::string>& args) const
    {
        test::CliProcess p;
        if (!p.start(TARSEL_CLI_BINARY, args,
                     {"PATH=/usr/bin:/bin", "LANG=C", "XDG_RUNTIME_DIR=" + (root / "run").string(),
                      "XDG_STATE_HOME=" + (root / "state").string()}))
            return {-2, "", "could not start " TARSEL_CLI_BINARY};
        const int exit = p.wait(60000);
        return {exit, p.out, p.err};
    }
    std::string port() const { return (root / "run" / "tarsel" / "disp").string(); }
};

TEST_F(DoctorRun, AProgramHoldingThePortIsNamedByDoctorAndInTheBusyMessage)
{
    const std::string pts = display->slavePath();
    // Free: the display's own end of its pty is not in the way.
    const Result free = run({"doctor", "--port", port()});
    EXPECT_EQ(free.exit, 0) << free.out << free.err;
    EXPECT_EQ(free.out.rfind("ok: " + port() + ": virtual display on " + pts + "\n", 0), 0u) << free.out;
    EXPECT_FALSE(contains(free.out, "problem:")) << free.out;

    test::PortHog hog;
    ASSERT_TRUE(hog.start(pts));
    const std::string pid = std::to_string(hog.pid());
    const Result held = run({"doctor", "-p", port()});
    EXPECT_EQ(held.exit, 1);
    EXPECT_TRUE(contains(held.out, "problem: " + pts + " is held open by porthog (pid " + pid +
                                       "); no other program can use it meanwhile\n  fix: close porthog (or: kill " +
                                       pid + ")\n"))
        << held.out;
    const Result json = run({"doctor", "-p", port(), "--json"});
    EXPECT_EQ(json.exit, 1);
    const auto result = nlohmann::json::parse(json.out);
    EXPECT_EQ(result["event"], "result");
    EXPECT_EQ(result["command"], "doctor");
    EXPECT_EQ(result["ok"], false);
    bool named = false;
    for (const auto& f : result["findings"])
        named = named || (f["check"] == "holder" && f["ok"] == false && contains(f["fix"], "kill " + pid));
    EXPECT_TRUE(named) << json.out;

    // A command that needs the port says who has it.
    const Result busy = run({"detect", "-p", port()});
    EXPECT_EQ(busy.exit, 3);
    EXPECT_TRUE(contains(busy.err, "cannot open " + port() + ": Device or resource busy (held by porthog, pid " + pid +
                                       ")"))
        << busy.err;

    const Result missing = run({"doctor", "-p", (root / "no-such-port").string()});
    EXPECT_EQ(missing.exit, 1);
    EXPECT_TRUE(contains(missing.out, "problem: " + (root / "no-such-port").string() + " does not exist\n  fix: "
                                      "choose one of the ports there are: "))
        << missing.out;
    EXPECT_TRUE(contains(missing.out, port())) << "the ports are listed: " << missing.out;
}

} // namespace
} // namespace tarsel::cli
