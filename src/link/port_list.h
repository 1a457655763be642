// The serial ports of the machine and the virtual displays registered beside them.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarsel {

// Where virtual displays register themselves as symlinks to their pty:
// $XDG_RUNTIME_DIR/tarsel/ when XDG_RUNTIME_DIR is set and exists, else /tmp/tarsel-<uid>/.
// Ends with "/".
std::string VirtualPortFolder();

// True when `folder` may be trusted to list virtual displays: a real directory (not a
// link) of this user that nobody else can write to. Anyone could otherwise plant a
// "display" there that leads the program's frames to a device of their choosing.
bool IsPrivateFolder(const std::string& folder);

// One port as the window and the command line show it.
struct PortInfo {
    enum class Kind { UsbAdapter, Virtual, BuiltIn };
    Kind kind = Kind::BuiltIn;
    std::string path;        // what is opened: the stable name where there is one
    std::string device;      // the device node behind it (/dev/ttyUSB0, /dev/pts/3)
    std::string stableName;  // /dev/serial/by-id/... for a USB adapter, the registered
                             // link for a virtual display, else the device path
    std::string description; // "FTDI FT232R USB UART, serial A1B2C3", "virtual display", ...

    bool operator==(const PortInfo&) const = default;
};

// What a USB adapter says of itself (vendor, product, serial number), looked up by
// the kernel's tty name ("ttyUSB0"); empty when nothing is known.
using PortDescriber = std::function<std::string(const std::string& ttyName)>;
// The description from the device database (libudev), e.g. "FTDI FT232R USB UART,
// serial A1B2C3"; empty for a tty that is not on USB or when udev knows nothing.
std::string UdevPortDescription(const std::string& ttyName);
// Every property the device database has for a tty (ID_VENDOR_ID, ID_MODEL_ID,
// ID_MM_DEVICE_IGNORE, ...); for a USB adapter the vendor and product ids are taken
// from the USB device itself where udev's database lacks them. Empty when udev knows
// nothing of it.
std::map<std::string, std::string> UdevPortProperties(const std::string& ttyName);

// Where ListPorts looks; tests point these at fake trees.
struct PortListSources {
    std::string sysClassTty = "/sys/class/tty"; // one entry per tty the kernel has
    std::string devFolder = "/dev";             // prefix of the listed device paths
    std::string virtualFolder;                  // empty: VirtualPortFolder()
    std::string byIdFolder = "/dev/serial/by-id"; // udev's stable names of USB adapters
    PortDescriber describe;                     // empty: UdevPortDescription
};

// Returned when neither the kernel's tty list nor the virtual-port folder can be read.
inline constexpr const char* kPortListError = "Error opening registry key for serial port list";

// The serial devices the kernel has (ttyS* only with a real UART, ttyUSB*, ttyACM*,
// ttyAMA*, rfcomm* ...) and the virtual displays registered in the virtual-port folder
// (symlinks whose target exists; only when the folder is private). USB adapters come
// first, under their stable /dev/serial/by-id name, then virtual displays, then the
// rest; each group sorted as text ignoring case. Returns false with kPortListError,
// leaving `list` unchanged, only when neither source can be read.
bool ListPorts(std::vector<PortInfo>& list, std::string& message, const PortListSources& sources = {});

// ListPorts, as the paths to open, in the same order.
bool ListComPorts(std::vector<std::string>& list, std::string& message);
bool ListComPorts(std::vector<std::string>& list, std::string& message, const PortListSources& sources);

// The entry of `ports` that is the port `wanted` names: the same path, the same stable
// name or device node, or the same device behind a link `wanted` is. -1 when absent.
int FindPort(const std::vector<PortInfo>& ports, const std::string& wanted);

// Sorts as text ignoring case: letters are folded to lower case, then bytes compared
// (so COM10 comes before COM2). Equal folded names keep a stable, byte-wise order.
void SortPortNames(std::vector<std::string>& names);
bool PortNameLess(const std::string& a, const std::string& b);

} // namespace tarsel
