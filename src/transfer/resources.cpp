#include "transfer/resources.h"

#include "util/files.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#ifndef TARSEL_DATA_DIR
#define TARSEL_DATA_DIR "/usr/local/share/tarsel"
#endif

namespace tarsel {

namespace {

std::mutex g_overrideMutex;
std::vector<std::string> g_override;

std::string envOr(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    if (value && *value)
        return value;
    return fallback;
}

std::vector<std::string> splitColons(const std::string& text)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (c == ':') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

void SetResourceFolderOverride(std::vector<std::string> folders)
{
    std::lock_guard lock(g_overrideMutex);
    g_override = std::move(folders);
}

std::vector<std::string> ResourceFolders()
{
    std::vector<std::string> folders;
    {
        std::lock_guard lock(g_overrideMutex);
        folders = g_override;
    }
    for (const auto& dir : splitColons(envOr("TARSEL_RESOURCE_DIR", "")))
        folders.push_back(dir);

    const std::string home = envOr("HOME", "");
    const std::string dataHome = envOr("XDG_DATA_HOME", home.empty() ? std::string() : home + "/.local/share");
    if (!dataHome.empty())
        folders.push_back(dataHome + "/tarsel/resources");
    for (const auto& dir : splitColons(envOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share")))
        folders.push_back(dir + "/tarsel/resources");
    folders.push_back(std::string(TARSEL_DATA_DIR) + "/resources");

    std::vector<std::string> unique;
    for (auto& dir : folders) {
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        if (std::find(unique.begin(), unique.end(), dir) == unique.end())
            unique.push_back(dir);
    }
    return unique;
}

ResourceLookup FindResource(const std::string& name)
{
    ResourceLookup result;
    result.searched = ResourceFolders();
    const std::string wanted = lower(name);
    const std::string alternative = endsWith(wanted, ".bin") ? wanted.substr(0, wanted.size() - 4) : wanted + ".bin";
    if (wanted.empty() || wanted.find('/') != std::string::npos)
        return result;

    namespace fs = std::filesystem;
    for (const auto& folder : result.searched) {
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec)
            continue;
        std::string exactMatch, otherMatch;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec)
                break;
            const std::string entry = it->path().filename().string();
            const std::string entryLower = lower(entry);
            if (entryLower != wanted && entryLower != alternative)
                continue;
            std::error_code typeEc;
            if (!it->is_regular_file(typeEc))
                continue;
            // Prefer the name as given; among equals the first in sorted order, so the
            // choice does not depend on the directory's order.
            std::string& slot = entryLower == wanted ? exactMatch : otherMatch;
            if (slot.empty() || entry < slot)
                slot = entry;
        }
        const std::string& chosen = !exactMatch.empty() ? exactMatch : otherMatch;
        if (!chosen.empty()) {
            result.found = true;
            result.path = folder + "/" + chosen;
            return result;
        }
    }
    return result;
}

Bytes LoadResource(const std::string& name, ResourceLookup* lookup)
{
    ResourceLookup found = FindResource(name);
    Bytes bytes;
    if (found.found)
        bytes = ReadFileBytes(found.path);
    if (lookup)
        *lookup = std::move(found);
    return bytes;
}

std::string JoinFolders(const std::vector<std::string>& folders)
{
    std::string text;
    for (const auto& f : folders) {
        if (!text.empty())
            text += ", ";
        text += f;
    }
    return text;
}

} // namespace tarsel
