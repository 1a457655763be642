#include "link/port_list.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarsel {

namespace {

bool isFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Names in a folder (without "." and ".."); false when the folder cannot be read.
bool folderEntries(const std::string& folder, std::vector<std::string>& names)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    while (const dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    return true;
}

// A ttyS* node exists for every possible 8250 port; only those with a UART behind
// them report a non-zero `type`.
bool hasRealUart(const std::string& ttyFolder)
{
    std::ifstream in(ttyFolder + "/type");
    long type = 0;
    if (!(in >> type))
        return false;
    return type != 0;
}

// Kernel ttys that are serial ports: they have a device behind them (which leaves out
// the virtual consoles, ptys and the like), and are of a family that talks to a line.
bool isUsbTty(const std::string& name)
{
    return startsWith(name, "ttyUSB") || startsWith(name, "ttyACM") || startsWith(name, "ttyXRUSB");
}

bool isSerialTty(const std::string& sysClassTty, const std::string& name)
{
    const std::string folder = sysClassTty + "/" + name;
    if (!exists(folder + "/device"))
        return false;
    if (startsWith(name, "ttyS"))
        return hasRealUart(folder);
    static const char* const kFamilies[] = {"ttyUSB", "ttyACM", "ttyAMA", "rfcomm", "ttymxc", "ttySAC",
                                            "ttyO",   "ttyHS",  "ttyTHS", "ttyXRUSB", "ttyGS"};
    for (const char* family : kFamilies)
        if (startsWith(name, family))
            return true;
    return false;
}

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

std::string realPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The stable names in udev's by-id folder, by the real path of their device.
std::map<std::string, std::string> stableNames(const std::string& byIdFolder)
{
    std::map<std::string, std::string> names;
    std::vector<std::string> links;
    if (!folderEntries(byIdFolder, links))
        return names;
    std::sort(links.begin(), links.end());
    const std::string folder = withSlash(byIdFolder);
    for (const auto& link : links) {
        const std::string device = realPath(folder + link);
        if (!device.empty())
            names.emplace(device, folder + link); // several names: the first in order
    }
    return names;
}

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

} // namespace

bool IsPrivateFolder(const std::string& folder)
{
    struct stat st {};
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string UdevPortDescription(const std::string& ttyName)
{
    std::unique_ptr<udev, UdevDeleter> u(udev_new());
    if (!u)
        return {};
    std::unique_ptr<udev_device, UdevDeleter> dev(udev_device_new_from_subsystem_sysname(u.get(), "tty", ttyName.c_str()));
    if (!dev)
        return {};
    // Names from the hardware database first, then what the device says of itself.
    auto property = [&](const char* a, const char* b) {
        std::string v = text(udev_device_get_property_value(dev.get(), a));
        if (v.empty())
            v = text(udev_device_get_property_value(dev.get(), b));
        for (char& c : v)
            if (c == '_')
                c = ' ';
        return v;
    };
    std::string vendor = property("ID_VENDOR_FROM_DATABASE", "ID_VENDOR");
    std::string product = property("ID_MODEL_FROM_DATABASE", "ID_MODEL");
    std::string serial = text(udev_device_get_property_value(dev.get(), "ID_SERIAL_SHORT"));
    // Without udev's database (a container, say) the USB device's own attributes.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev.get(), "usb", "usb_device");
    if (usb) {
        if (vendor.empty())
            vendor = text(udev_device_get_sysattr_value(usb, "manufacturer"));
        if (product.empty())
            product = text(udev_device_get_sysattr_value(usb, "product"));
        if (serial.empty())
            serial = text(udev_device_get_sysattr_value(usb, "serial"));
    }
    std::string description = vendor;
    if (!product.empty())
        description += (description.empty() ? "" : " ") + product;
    if (!serial.empty())
        description += (description.empty() ? "serial " : ", serial ") + serial;
    return description;
}

std::map<std::string, std::string> UdevPortProperties(const std::string& ttyName)
{
    std::map<std::string, std::string> properties;
    std::unique_ptr<udev, UdevDeleter> u(udev_new());
    if (!u)
        return properties;
    std::unique_ptr<udev_device, UdevDeleter> dev(udev_device_new_from_subsystem_sysname(u.get(), "tty", ttyName.c_str()));
    if (!dev)
        return properties;
    for (udev_list_entry* e = udev_device_get_properties_list_entry(dev.get()); e; e = udev_list_entry_get_next(e))
        properties[text(udev_list_entry_get_name(e))] = text(udev_list_entry_get_value(e));
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev.get(), "usb", "usb_device")) {
        if (properties["ID_VENDOR_ID"].empty())
            properties["ID_VENDOR_ID"] = text(udev_device_get_sysattr_value(usb, "idVendor"));
        if (properties["ID_MODEL_ID"].empty())
            properties["ID_MODEL_ID"] = text(udev_device_get_sysattr_value(usb, "idProduct"));
    }
    return properties;
}

std::string VirtualPortFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && isFolder(runtime))
        return withSlash(runtime) + "tarsel/";
    return "/tmp/tarsel-" + std::to_string(::getuid()) + "/";
}

bool PortNameLess(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(a[i])));
        const auto cb = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(b[i])));
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

void SortPortNames(std::vector<std::string>& names)
{
    std::sort(names.begin(), names.end(), PortNameLess);
}

bool ListPorts(std::vector<PortInfo>& list, std::string& message, const PortListSources& sources)
{
    std::vector<PortInfo> usb, virtuals, others;
    const PortDescriber describe = sources.describe ? sources.describe : PortDescriber(UdevPortDescription);

    std::vector<std::string> ttys;
    const bool sysRead = folderEntries(sources.sysClassTty, ttys);
    const std::string dev = withSlash(sources.devFolder);
    const auto byId = stableNames(sources.byIdFolder);
    for (const auto& name : ttys) {
        if (!isSerialTty(sources.sysClassTty, name))
            continue;
        PortInfo p;
        p.device = dev + name;
        p.path = p.stableName = p.device;
        const auto stable = byId.find(realPath(p.device));
        if (stable != byId.end())
            p.path = p.stableName = stable->second;
        if (isUsbTty(name) || stable != byId.end()) {
            p.kind = PortInfo::Kind::UsbAdapter;
            p.description = describe(name);
            if (p.description.empty())
                p.description = "USB serial adapter";
            usb.push_back(std::move(p));
        } else {
            p.kind = PortInfo::Kind::BuiltIn;
            p.description = startsWith(name, "ttyS") ? "built-in serial port" : "serial port";
            others.push_back(std::move(p));
        }
    }

    const std::string folder = withSlash(sources.virtualFolder.empty() ? VirtualPortFolder() : sources.virtualFolder);
    std::vector<std::string> links;
    const bool virtualRead = IsPrivateFolder(folder) && folderEntries(folder, links);
    for (const auto& name : links) {
        const std::string path = folder + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && exists(path)) {
            PortInfo p;
            p.kind = PortInfo::Kind::Virtual;
            p.path = p.stableName = path;
            p.device = realPath(path);
            p.description = "virtual display";
            virtuals.push_back(std::move(p));
        }
    }
    // A missing virtual-port folder only means that no virtual display is running; the
    // list fails only when there is nothing at all to read.
    if (!sysRead && !virtualRead) {
        message = kPortListError;
        return false;
    }
    auto byName = [](const PortInfo& a, const PortInfo& b) { return PortNameLess(a.path, b.path); };
    std::vector<PortInfo> found;
    for (auto* group : {&usb, &virtuals, &others}) {
        std::stable_sort(group->begin(), group->end(), byName);
        found.insert(found.end(), group->begin(), group->end());
    }
    list = std::move(found);
    message = "OK";
    return true;
}

bool ListComPorts(std::vector<std::string>& list, std::string& message)
{
    return ListComPorts(list, message, PortListSources{});
}

bool ListComPorts(std::vector<std::string>& list, std::string& message, const PortListSources& sources)
{
    std::vector<PortInfo> ports;
    if (!ListPorts(ports, message, sources))
        return false;
    list.clear();
    for (const auto& p : ports)
        list.push_back(p.path);
    return true;
}

int FindPort(const std::vector<PortInfo>& ports, const std::string& wanted)
{
    if (wanted.empty())
        return -1;
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (ports[i].path == wanted || ports[i].stableName == wanted || ports[i].device == wanted)
            return static_cast<int>(i);
    // A link of its own (or a bare "ttyUSB0") to one of the devices.
    const std::string device = realPath(wanted.find('/') == std::string::npos ? "/dev/" + wanted : wanted);
    if (device.empty())
        return -1;
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (realPath(ports[i].device) == device)
            return static_cast<int>(i);
    return -1;
}

} // namespace tarsel
