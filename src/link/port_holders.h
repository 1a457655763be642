// Which programs hold a serial port open, read from /proc: a busy port's message
// names them, and tarsel-cli doctor tells the user what to close.
#pragma once

#include <string>
#include <vector>

namespace tarsel {

// One process, by its pid and the name of its program.
struct ProcessName {
    int pid = 0;
    std::string program; // /proc/<pid>/comm, or the executable's base name where comm is cut short

    bool operator==(const ProcessName&) const = default;
};

struct PortHolders {
    std::vector<ProcessName> holders; // in order of pid
    // Processes whose open files could not be read (another user's, without root): one
    // of them may hold the port unseen.
    int unreadable = 0;
};

// The processes with `device` open: /proc/<pid>/fd/* links to the device (its real
// path, so a stable name and its target are one port) or to a device node with the
// same device number. A pseudo-terminal's own far end (the process that also holds
// its master, such as a virtual display) does not count as holding it.
PortHolders FindPortHolders(const std::string& device, const std::string& procRoot = "/proc");

// "minicom, pid 1234" and, for several, "minicom, pid 1234; screen, pid 99".
std::string HolderList(const std::vector<ProcessName>& holders);

// The system's reason for a busy port with the holders named where they can be found:
// "Device or resource busy (held by minicom, pid 1234)"; without any found (another
// user's program, or only this process itself), "Device or resource busy".
std::string BusyReason(const std::string& device, const std::string& procRoot = "/proc");

// The running processes whose program is `program` (compared with comm).
std::vector<ProcessName> ProcessesNamed(const std::string& program, const std::string& procRoot = "/proc");

} // namespace tarsel
