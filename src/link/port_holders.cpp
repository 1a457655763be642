#include "link/port_holders.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarsel {

namespace {

// The kernel keeps 15 bytes of a program's name in comm.
constexpr std::size_t kCommLength = 15;

bool isNumber(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The numeric entries of a folder (processes in /proc, descriptors in fd/); false when
// the folder cannot be read, with errno kept.
bool numberedEntries(const std::string& folder, std::vector<std::string>& names)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    while (const dirent* e = ::readdir(dir))
        if (isNumber(e->d_name))
            names.emplace_back(e->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return std::stol(a) < std::stol(b); });
    return true;
}

std::string linkTarget(const std::string& path)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::string firstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string baseName(std::string path)
{
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// comm, unless the kernel cut it short and the executable's own name (readable for
// one's own processes) is the whole of it.
std::string programOf(const std::string& processFolder)
{
    const std::string comm = firstLine(processFolder + "/comm");
    const std::string exe = baseName(linkTarget(processFolder + "/exe"));
    if (comm.empty())
        return exe;
    if (comm.size() >= kCommLength && exe.size() > comm.size() && exe.compare(0, comm.size(), comm) == 0)
        return exe;
    return comm;
}

// N of /dev/pts/N, else -1.
int ptsIndex(const std::string& device)
{
    const std::string prefix = "/dev/pts/";
    if (device.compare(0, prefix.size(), prefix) != 0 || !isNumber(device.substr(prefix.size())))
        return -1;
    return std::atoi(device.c_str() + prefix.size());
}

// True when the process holds the master side of pseudo-terminal `index`: its own far
// end (a virtual display keeps its slave open as well), not a program in the way.
bool holdsPtyMaster(const std::string& processFolder, const std::vector<std::string>& fds, int index)
{
    for (const std::string& fd : fds) {
        const std::string target = linkTarget(processFolder + "/fd/" + fd);
        if (target != "/dev/ptmx" && target != "/dev/pts/ptmx")
            continue;
        std::ifstream info(processFolder + "/fdinfo/" + fd);
        std::string key;
        while (info >> key) {
            if (key == "tty-index:") {
                int n = -1;
                if (info >> n && n == index)
                    return true;
                break;
            }
        }
    }
    return false;
}

} // namespace

PortHolders FindPortHolders(const std::string& device, const std::string& procRoot)
{
    PortHolders found;
    char resolved[PATH_MAX];
    const std::string real = ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
    struct stat deviceStat {};
    const bool haveDevice = ::stat(real.c_str(), &deviceStat) == 0 && S_ISCHR(deviceStat.st_mode);
    const int pty = ptsIndex(real);

    std::vector<std::string> pids;
    if (!numberedEntries(procRoot, pids))
        return found;
    for (const std::string& pid : pids) {
        const std::string folder = procRoot + "/" + pid;
        std::vector<std::string> fds;
        if (!numberedEntries(folder + "/fd", fds)) {
            if (errno != ENOENT && errno != ESRCH) // not one that ended meanwhile
                ++found.unreadable;
            continue;
        }
        bool holds = false;
        for (const std::string& fd : fds) {
            const std::string path = folder + "/fd/" + fd;
            const std::string target = linkTarget(path);
            if (target == real || target == device) {
                holds = true;
            } else if (haveDevice && target.compare(0, 5, "/dev/") == 0) {
                // The same device under another name (another mount of /dev, say).
                struct stat st {};
                holds = ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == deviceStat.st_rdev;
            }
            if (holds)
                break;
        }
        if (!holds || (pty >= 0 && holdsPtyMaster(folder, fds, pty)))
            continue;
        found.holders.push_back({std::atoi(pid.c_str()), programOf(folder)});
    }
    return found;
}

std::string HolderList(const std::vector<ProcessName>& holders)
{
    std::string text;
    for (const ProcessName& h : holders)
        text += (text.empty() ? "" : "; ") + (h.program.empty() ? std::string("a program") : h.program) + ", pid " +
                std::to_string(h.pid);
    return text;
}

std::string BusyReason(const std::string& device, const std::string& procRoot)
{
    std::string reason = std::strerror(EBUSY);
    std::vector<ProcessName> others = FindPortHolders(device, procRoot).holders;
    // This program's other handle on the port (the window's other slot) is not
    // another program in the way.
    const int self = static_cast<int>(::getpid());
    others.erase(std::remove_if(others.begin(), others.end(), [self](const ProcessName& p) { return p.pid == self; }),
                 others.end());
    if (!others.empty())
        reason += " (held by " + HolderList(others) + ")";
    return reason;
}

std::vector<ProcessName> ProcessesNamed(const std::string& program, const std::string& procRoot)
{
    std::vector<ProcessName> found;
    std::vector<std::string> pids;
    if (!numberedEntries(procRoot, pids))
        return found;
    const std::string comm = program.substr(0, kCommLength);
    for (const std::string& pid : pids)
        if (firstLine(procRoot + "/" + pid + "/comm") == comm)
            found.push_back({std::atoi(pid.c_str()), program});
    return found;
}

} // namespace tarsel
