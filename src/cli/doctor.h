// tarsel-cli doctor: what stands between the user and a serial port (a missing port,
// a program holding it open, a permission the user lacks, ModemManager or brltty
// taking USB adapters), each finding with its fix. The machine is read through
// DoctorSources, which tests point at fake trees.
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "link/port_list.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarsel::cli {

struct Finding {
    std::string check; // "ports", "port", "permission", "holder", "modemmanager", "brltty"
    bool ok = true;
    std::string text;
    std::string fix;   // what to do; empty when ok

    bool operator==(const Finding&) const = default;
};

// What stat() says of a device node, and whether access() lets this user read and
// write it.
struct DeviceFacts {
    bool exists = false;
    bool charDevice = false;
    unsigned uid = 0;
    unsigned gid = 0;
    unsigned mode = 0;  // the permission bits
    int mayOpen = -1;   // access(R_OK | W_OK): 1 yes, 0 no, -1 not asked
};

// Who runs the program: the groups of this login session are those the process has
// (getgroups), which may lag behind /etc/group until the next login.
struct UserFacts {
    unsigned uid = 0;
    std::string name;
    unsigned primaryGid = 0;
    std::vector<unsigned> sessionGroups;
};

// The users and groups of the machine, as /etc/passwd and /etc/group list them.
struct Accounts {
    struct Group {
        std::string name;
        unsigned gid = 0;
        std::vector<std::string> members;
    };
    std::map<unsigned, std::string> users; // uid -> name
    std::vector<Group> groups;

    std::string userName(unsigned uid) const;
    std::string groupName(unsigned gid) const;
    const Group* group(unsigned gid) const;
    // /etc/group lines "name:x:gid:a,b" and /etc/passwd lines "name:x:uid:gid:...";
    // unreadable files give no entries.
    static Accounts read(const std::string& passwdFile, const std::string& groupFile);
};

// Where the doctor looks; every default is the machine's own.
struct DoctorSources {
    std::string procRoot = "/proc";
    std::string passwdFile = "/etc/passwd";
    std::string groupFile = "/etc/group";
    std::string dpkgStatus = "/var/lib/dpkg/status"; // which packages are installed
    PortListSources ports;                            // /sys/class/tty, /dev, by-id, virtual displays
    std::function<DeviceFacts(const std::string& path)> statDevice;                              // stat + access
    std::function<std::map<std::string, std::string>(const std::string& ttyName)> udevProperties; // UdevPortProperties
    std::function<UserFacts()> user;                                                              // this process's
};

// Whether `user` may open the device node `device`, and if not, what lets them.
Finding CheckPermission(const std::string& device, const DeviceFacts& facts, const UserFacts& user,
                        const Accounts& accounts);

// The findings for the port `wanted` names (a path or a stable name), or for every port
// of the port list when it is empty, followed by the checks of the machine that concern
// them (ModemManager, brltty).
std::vector<Finding> Diagnose(const std::string& wanted, const DoctorSources& sources = {});

// The findings as the command prints them: "ok: ..." or "problem: ..." and "  fix: ...".
std::string FindingsText(const std::vector<Finding>& findings);
nlohmann::ordered_json FindingsJson(const std::vector<Finding>& findings);

// tarsel-cli doctor [--port P]: prints the findings (with --json into `result`) and
// returns 0 when nothing stands in the way, 1 otherwise.
int RunDoctor(const Invocation& invocation, Console& console, nlohmann::ordered_json& result,
              const DoctorSources& sources = {});

} // namespace tarsel::cli
