#include "cli/doctor.h"

#include "link/port_holders.h"
#include "link/status.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarsel::cli {

namespace {

// The group Debian gives serial ports to.
constexpr const char* kSerialGroup = "dialout";
constexpr const char* kUdevRuleFile = "/etc/udev/rules.d/99-tarsel.rules";

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

bool parseNumber(const std::string& text, unsigned& value)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    value = static_cast<unsigned>(std::stoul(text));
    return true;
}

std::string baseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string realPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// "crw-rw----", as ls shows it.
std::string modeText(const DeviceFacts& facts)
{
    std::string text = facts.charDevice ? "c" : "-";
    const char* letters = "rwxrwxrwx";
    for (int bit = 8; bit >= 0; --bit)
        text += (facts.mode & (1u << bit)) ? letters[8 - bit] : '-';
    return text;
}

// "a, b and c" (or "a, b or c").
std::string namesAnd(const std::vector<std::string>& names, const char* last = " and ")
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? last : ", ") + names[i];
    return text;
}

DeviceFacts statDevice(const std::string& path)
{
    DeviceFacts facts;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return facts;
    facts.exists = true;
    facts.charDevice = S_ISCHR(st.st_mode);
    facts.uid = st.st_uid;
    facts.gid = st.st_gid;
    facts.mode = st.st_mode & 07777;
    facts.mayOpen = ::access(path.c_str(), R_OK | W_OK) == 0 ? 1 : 0;
    return facts;
}

UserFacts thisUser()
{
    UserFacts user;
    user.uid = ::getuid();
    user.primaryGid = ::getgid();
    if (const passwd* pw = ::getpwuid(user.uid)) {
        user.name = pw->pw_name;
        user.primaryGid = pw->pw_gid;
    } else if (const char* name = std::getenv("USER")) {
        user.name = name;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        user.sessionGroups.assign(groups.begin(), groups.end());
    user.sessionGroups.push_back(::getegid());
    return user;
}

bool packageInstalled(const std::string& statusFile, const std::string& package)
{
    std::ifstream in(statusFile);
    std::string line;
    bool inPackage = false;
    while (std::getline(in, line)) {
        if (line.empty())
            inPackage = false;
        else if (line.rfind("Package: ", 0) == 0)
            inPackage = line.substr(9) == package;
        else if (inPackage && line.rfind("Status: ", 0) == 0) {
            // "install ok installed"; a removed package keeps "deinstall ok config-files".
            const auto words = split(line.substr(8), ' ');
            return words.size() == 3 && words[2] == "installed";
        }
    }
    return false;
}

std::string pidList(const std::vector<ProcessName>& processes)
{
    std::vector<std::string> pids;
    for (const ProcessName& p : processes)
        pids.push_back(std::to_string(p.pid));
    return namesAnd(pids);
}

// --- the checks ----------------------------------------------------------------

struct PortUnderTest {
    std::string path;    // as the user names it
    std::string device;  // the device node behind it
    bool usb = false;
    Finding identity;    // what it is
};

// A port of the port list, said what it is.
PortUnderTest listedPort(const PortInfo& p)
{
    PortUnderTest port{p.path, p.device.empty() ? p.path : p.device, p.kind == PortInfo::Kind::UsbAdapter, {}};
    std::string what;
    switch (p.kind) {
    case PortInfo::Kind::UsbAdapter:
        what = "USB serial adapter " + p.description + " on " + port.device;
        if (p.stableName == p.device)
            what += " (no stable name in /dev/serial/by-id)";
        break;
    case PortInfo::Kind::Virtual: what = "virtual display on " + port.device; break;
    case PortInfo::Kind::BuiltIn: what = p.description + " (a UART of this machine)"; break;
    }
    port.identity = {"port", true, p.path + ": " + what, {}};
    return port;
}

Finding holderFinding(const PortUnderTest& port, const std::string& procRoot)
{
    const PortHolders found = FindPortHolders(port.device, procRoot);
    Finding f{"holder", true, {}, {}};
    if (!found.holders.empty()) {
        std::vector<std::string> who, programs, pids;
        for (const ProcessName& h : found.holders) {
            who.push_back(h.program + " (pid " + std::to_string(h.pid) + ")");
            if (std::find(programs.begin(), programs.end(), h.program) == programs.end())
                programs.push_back(h.program);
            pids.push_back(std::to_string(h.pid));
        }
        f.ok = false;
        f.text = port.device + " is held open by " + namesAnd(who) + "; no other program can use it meanwhile";
        std::string kill = "kill";
        for (const std::string& pid : pids)
            kill += " " + pid;
        f.fix = "close " + namesAnd(programs) + " (or: " + kill + ")";
        return f;
    }
    f.text = "no program holds " + port.device + " open";
    if (found.unreadable > 0)
        f.text += " as far as can be seen: the open files of " + std::to_string(found.unreadable) +
                  (found.unreadable == 1 ? " process" : " processes") +
                  " of other users could not be read (sudo tarsel-cli doctor reads them all)";
    return f;
}

// ModemManager probes every new USB serial adapter with modem commands and holds it
// for seconds; a udev property tells it to leave one alone.
Finding modemManagerFinding(const PortUnderTest& port, const std::vector<ProcessName>& running,
                            const std::map<std::string, std::string>& properties)
{
    const auto property = [&](const char* key) {
        const auto it = properties.find(key);
        return it == properties.end() ? std::string() : it->second;
    };
    Finding f{"modemmanager", true, {}, {}};
    if (property("ID_MM_DEVICE_IGNORE") == "1") {
        f.text = "ModemManager is running, but leaves " + port.path + " alone (ID_MM_DEVICE_IGNORE=1)";
        return f;
    }
    const std::string vendor = property("ID_VENDOR_ID");
    const std::string product = property("ID_MODEL_ID");
    const bool known = !vendor.empty() && !product.empty();
    const std::string rule = "ATTRS{idVendor}==\"" + (known ? vendor : std::string("VVVV")) +
                             "\", ATTRS{idProduct}==\"" + (known ? product : std::string("PPPP")) +
                             "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
    f.ok = false;
    f.text = "ModemManager is running (pid " + pidList(running) + "): it probes " + port.path +
             " with modem commands each time the adapter is plugged in and holds it meanwhile";
    f.fix = "tell it to leave the adapter alone with the udev property ID_MM_DEVICE_IGNORE=1: put the line " + rule +
            " into " + kUdevRuleFile;
    if (!known)
        f.fix += " (with the adapter's vendor and product ids, as lsusb shows them)";
    f.fix += ", run sudo udevadm control --reload and plug the adapter in again; or, with no modem on this "
             "machine, sudo systemctl disable --now ModemManager";
    return f;
}

const char* const kBrlttyFix = "sudo apt remove brltty (unless this machine has a braille display)";

} // namespace

// ---------------------------------------------------------------------------------

std::string Accounts::userName(unsigned uid) const
{
    const auto it = users.find(uid);
    return it == users.end() ? std::to_string(uid) : it->second;
}

const Accounts::Group* Accounts::group(unsigned gid) const
{
    for (const Group& g : groups)
        if (g.gid == gid)
            return &g;
    return nullptr;
}

std::string Accounts::groupName(unsigned gid) const
{
    const Group* g = group(gid);
    return g ? g->name : std::to_string(gid);
}

Accounts Accounts::read(const std::string& passwdFile, const std::string& groupFile)
{
    Accounts accounts;
    std::string line;
    std::ifstream passwd(passwdFile);
    while (std::getline(passwd, line)) {
        const auto fields = split(line, ':');
        unsigned uid = 0;
        if (fields.size() >= 3 && parseNumber(fields[2], uid))
            accounts.users.emplace(uid, fields[0]);
    }
    std::ifstream group(groupFile);
    while (std::getline(group, line)) {
        const auto fields = split(line, ':');
        Group g;
        if (fields.size() < 3 || !parseNumber(fields[2], g.gid))
            continue;
        g.name = fields[0];
        if (fields.size() >= 4)
            for (const std::string& m : split(fields[3], ','))
                if (!m.empty())
                    g.members.push_back(m);
        accounts.groups.push_back(std::move(g));
    }
    return accounts;
}

Finding CheckPermission(const std::string& device, const DeviceFacts& facts, const UserFacts& user,
                        const Accounts& accounts)
{
    Finding f{"permission", true, {}, {}};
    const std::string owner = accounts.userName(facts.uid);
    const std::string groupName = accounts.groupName(facts.gid);
    const std::string how = " (" + owner + ":" + groupName + " " + modeText(facts) + ")";
    const bool inSession = std::find(user.sessionGroups.begin(), user.sessionGroups.end(), facts.gid) !=
                           user.sessionGroups.end();
    const bool ownerMay = (facts.mode & 0600) == 0600;
    const bool groupMay = (facts.mode & 0060) == 0060;
    const bool othersMay = (facts.mode & 0006) == 0006;

    if (user.uid == 0) {
        f.text = "you are root: you may open " + device + how;
        return f;
    }
    std::string reason;
    if (facts.uid == user.uid && ownerMay)
        reason = "it is yours";
    else if (groupMay && inSession)
        reason = "you are in the " + groupName + " group";
    else if (othersMay)
        reason = "everyone may";
    if (facts.mayOpen == 1 || (facts.mayOpen < 0 && !reason.empty())) {
        f.text = "you may open " + device + how + (reason.empty() ? "" : ": " + reason);
        return f;
    }

    f.ok = false;
    const std::string who = user.name.empty() ? "you" : user.name;
    if (!reason.empty()) {
        // The bits allow it, yet the system refuses (an access list, a read-only mount).
        f.text = "you may not open " + device + how + " although its permissions allow it";
        f.fix = "ask the administrator what refuses it (getfacl " + device + " shows an access list)";
        return f;
    }
    if (groupMay && facts.gid != 0) {
        const Accounts::Group* g = accounts.group(facts.gid);
        const bool listed = user.primaryGid == facts.gid ||
                            (g && std::find(g->members.begin(), g->members.end(), user.name) != g->members.end());
        if (listed) {
            f.text = who + " is in the " + groupName + " group, but this login session began before that: it cannot "
                     "open " + device + how + " yet";
            f.fix = "log out and in again (or, in one shell only: newgrp " + groupName + ")";
        } else {
            f.text = "you may not open " + device + how + ": only " + owner + " and the " + groupName +
                     " group may, and " + who + " is not in " + groupName;
            f.fix = "sudo usermod -aG " + groupName + " $USER, then log out and in again";
        }
        return f;
    }
    f.text = "only " + owner + " may open " + device + how;
    f.fix = "give it to the " + std::string(kSerialGroup) + " group: sudo chgrp " + kSerialGroup + " " + device +
            " && sudo chmod 660 " + device + " (this lasts until the node is made again, at the next boot or plug-in; "
            "for good, a udev rule KERNEL==\"" +
            baseName(device) + "\", GROUP=\"" + kSerialGroup + "\", MODE=\"0660\" in " + kUdevRuleFile +
            "), and be in that group: sudo usermod -aG " + kSerialGroup + " $USER";
    return f;
}

std::vector<Finding> Diagnose(const std::string& wanted, const DoctorSources& sources)
{
    const auto stat = sources.statDevice ? sources.statDevice : std::function<DeviceFacts(const std::string&)>(statDevice);
    const auto udev = sources.udevProperties ? sources.udevProperties
                                             : std::function<std::map<std::string, std::string>(const std::string&)>(
                                                   UdevPortProperties);
    const UserFacts user = sources.user ? sources.user() : thisUser();
    const Accounts accounts = Accounts::read(sources.passwdFile, sources.groupFile);

    std::vector<Finding> findings;
    std::vector<PortInfo> ports;
    std::string message;
    const bool listed = ListPorts(ports, message, sources.ports);
    std::vector<std::string> portNames;
    for (const PortInfo& p : ports)
        portNames.push_back(p.path);
    const std::string choose = portNames.empty()
        ? std::string("connect the display's USB serial adapter (sudo dmesg shows whether the kernel saw it)")
        : "choose one of the ports there are: " + namesAnd(portNames, " or ");

    // The ports to look at, each said what it is.
    std::vector<PortUnderTest> checked;
    bool usbConcerned = false; // a USB adapter is (or should be) among them
    if (!wanted.empty()) {
        const int index = FindPort(ports, wanted);
        if (index >= 0) {
            checked.push_back(listedPort(ports[static_cast<std::size_t>(index)]));
            usbConcerned = checked.back().usb;
        } else {
            const DeviceFacts facts = stat(wanted);
            if (!facts.exists) {
                findings.push_back({"port", false, wanted + " does not exist", choose});
                usbConcerned = true;
            } else if (!facts.charDevice) {
                findings.push_back({"port", false, wanted + " is not a serial device", choose});
            } else {
                const std::string device = realPath(wanted).empty() ? wanted : realPath(wanted);
                checked.push_back({wanted, device, false,
                                   {"port", true,
                                    wanted + ": a character device" + (device != wanted ? " (" + device + ")" : "") +
                                        " that is not among the serial ports listed",
                                    {}}});
            }
        }
    } else if (!listed) {
        findings.push_back({"ports", false, "the serial ports cannot be listed (" + message + ")",
                            "look at whether /sys/class/tty can be read"});
    } else if (ports.empty()) {
        findings.push_back({"ports", false, "this machine has no serial port", choose});
        usbConcerned = true;
    } else {
        for (const PortInfo& p : ports)
            checked.push_back(listedPort(p));
        usbConcerned = true;
    }

    const std::vector<ProcessName> modemManager = ProcessesNamed("ModemManager", sources.procRoot);
    for (const PortUnderTest& port : checked) {
        findings.push_back(port.identity);
        findings.push_back(CheckPermission(port.device, stat(port.device), user, accounts));
        findings.push_back(holderFinding(port, sources.procRoot));
        if (port.usb && !modemManager.empty())
            findings.push_back(modemManagerFinding(port, modemManager, udev(baseName(port.device))));
    }

    // brltty takes some USB serial adapters for braille displays: their port goes away.
    if (usbConcerned) {
        const std::vector<ProcessName> brltty = ProcessesNamed("brltty", sources.procRoot);
        const bool anyUsb = std::any_of(checked.begin(), checked.end(), [](const PortUnderTest& p) { return p.usb; });
        if (!brltty.empty())
            findings.push_back({"brltty", false,
                                "brltty is running (pid " + pidList(brltty) +
                                    "): it takes some USB serial adapters for braille displays, and their port "
                                    "disappears",
                                kBrlttyFix});
        else if (!anyUsb && packageInstalled(sources.dpkgStatus, "brltty"))
            findings.push_back({"brltty", false,
                                "brltty is installed: it may take a USB serial adapter for a braille display when it "
                                "is plugged in, and the port disappears",
                                kBrlttyFix});
    }
    return findings;
}

std::string FindingsText(const std::vector<Finding>& findings)
{
    std::string text;
    for (const Finding& f : findings) {
        text += (f.ok ? "ok: " : "problem: ") + f.text + "\n";
        if (!f.fix.empty())
            text += "  fix: " + f.fix + "\n";
    }
    return text;
}

nlohmann::ordered_json FindingsJson(const std::vector<Finding>& findings)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Finding& f : findings) {
        nlohmann::ordered_json e;
        e["check"] = f.check;
        e["ok"] = f.ok;
        e["text"] = f.text;
        e["fix"] = f.fix;
        list.push_back(e);
    }
    return list;
}

int RunDoctor(const Invocation& invocation, Console& console, nlohmann::ordered_json& result,
              const DoctorSources& sources)
{
    const std::string wanted = invocation.ports.empty() ? std::string() : invocation.ports.front();
    const std::vector<Finding> findings = Diagnose(wanted, sources);
    const bool clear = std::all_of(findings.begin(), findings.end(), [](const Finding& f) { return f.ok; });
    if (!wanted.empty())
        result["port"] = wanted;
    // As settings diff does: exit 1 with "refused" when something is in the way.
    result["outcome"] = CodeName(clear ? Code::Ok : Code::Refused);
    result["findings"] = FindingsJson(findings);
    if (!console.options().json)
        console.outText(FindingsText(findings));
    return clear ? kExitOk : kExitFailed;
}

} // namespace tarsel::cli
