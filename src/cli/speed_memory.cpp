#include "cli/speed_memory.h"

#include "util/files.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace tarsel::cli {

namespace {

constexpr std::uint64_t kMaxFileBytes = 256 * 1024;

nlohmann::json readMemory(const std::string& file)
{
    Bytes content;
    std::string reason;
    if (ReadRegularFile(file, kMaxFileBytes, content, reason) != ReadStatus::Ok)
        return nlohmann::json::object();
    nlohmann::json parsed = nlohmann::json::parse(content, nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json::object();
}

// Holds an exclusive lock on "<file>.lock" while it lives.
class FileLock {
public:
    explicit FileLock(const std::string& file)
    {
        m_fd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd = -1;
};

} // namespace

std::string DefaultSpeedMemoryFile()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return std::string(state) + "/tarsel/ports.json";
    const char* home = std::getenv("HOME");
    if (home && *home == '/')
        return std::string(home) + "/.local/state/tarsel/ports.json";
    return {};
}

int RecallSpeed(const std::string& file, const std::string& port)
{
    if (file.empty() || file == "-")
        return 0;
    const nlohmann::json memory = readMemory(file);
    const auto it = memory.find(port);
    return it != memory.end() && it->is_number_integer() ? it->get<int>() : 0;
}

void RememberSpeed(const std::string& file, const std::string& port, int baud)
{
    if (file.empty() || file == "-" || port.empty() || baud <= 0)
        return;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
    const FileLock lock(file);
    nlohmann::json memory = readMemory(file);
    if (memory.contains(port) && memory[port] == baud)
        return;
    memory[port] = baud;
    std::string ignored;
    WriteFileAtomic(file, memory.dump(2) + "\n", ignored);
}

std::vector<int> SpeedsToTry(const std::vector<int>& speeds, int remembered)
{
    std::vector<int> order;
    if (std::find(speeds.begin(), speeds.end(), remembered) != speeds.end())
        order.push_back(remembered);
    for (int speed : speeds)
        if (speed != remembered)
            order.push_back(speed);
    return order;
}

} // namespace tarsel::cli
