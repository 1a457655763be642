#include "link/port_list.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include <dirent.h>
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

} // namespace

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

bool ListComPorts(std::vector<std::string>& list, std::string& message)
{
    return ListComPorts(list, message, PortListSources{});
}

bool ListComPorts(std::vector<std::string>& list, std::string& message, const PortListSources& sources)
{
    std::vector<std::string> found;

    std::vector<std::string> ttys;
    const bool sysRead = folderEntries(sources.sysClassTty, ttys);
    const std::string dev = withSlash(sources.devFolder);
    for (const auto& name : ttys)
        if (isSerialTty(sources.sysClassTty, name))
            found.push_back(dev + name);

    const std::string folder = withSlash(sources.virtualFolder.empty() ? VirtualPortFolder() : sources.virtualFolder);
    std::vector<std::string> links;
    const bool virtualRead = folderEntries(folder, links);
    for (const auto& name : links) {
        const std::string path = folder + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && exists(path))
            found.push_back(path);
    }
    // A missing virtual-port folder only means that no virtual display is running; the
    // list fails only when there is nothing at all to read.
    if (!sysRead && !virtualRead) {
        message = kPortListError;
        return false;
    }
    SortPortNames(found);
    list = std::move(found);
    message = "OK";
    return true;
}

} // namespace tarsel
