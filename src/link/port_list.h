// The serial ports of the machine and the virtual displays registered beside them.
#pragma once

#include <string>
#include <vector>

namespace tarsel {

// Where virtual displays register themselves as symlinks to their pty:
// $XDG_RUNTIME_DIR/tarsel/ when XDG_RUNTIME_DIR is set and exists, else /tmp/tarsel-<uid>/.
// Ends with "/".
std::string VirtualPortFolder();

// Where ListComPorts looks; tests point these at fake trees.
struct PortListSources {
    std::string sysClassTty = "/sys/class/tty"; // one entry per tty the kernel has
    std::string devFolder = "/dev";             // prefix of the listed device paths
    std::string virtualFolder;                  // empty: VirtualPortFolder()
};

// Returned when neither the kernel's tty list nor the virtual-port folder can be read.
inline constexpr const char* kPortListError = "Error opening registry key for serial port list";

// Fills `list` with the serial devices the kernel has (ttyS* only with a real UART,
// ttyUSB*, ttyACM*, ttyAMA*, rfcomm* ...) as device paths, plus the virtual displays
// registered in the virtual-port folder (symlinks whose target exists), sorted as
// text ignoring case. Returns false with kPortListError, leaving `list` unchanged,
// only when neither source can be read.
bool ListComPorts(std::vector<std::string>& list, std::string& message);
bool ListComPorts(std::vector<std::string>& list, std::string& message, const PortListSources& sources);

// Sorts as text ignoring case: letters are folded to lower case, then bytes compared
// (so COM10 comes before COM2). Equal folded names keep a stable, byte-wise order.
void SortPortNames(std::vector<std::string>& names);
bool PortNameLess(const std::string& a, const std::string& b);

} // namespace tarsel
