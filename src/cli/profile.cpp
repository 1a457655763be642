#include "cli/profile.h"

#include "cli/arguments.h"
#include "transfer/catalogue.h"
#include "util/files.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

namespace tarsel::cli {

namespace {

std::string resolve(const std::string& folder, const std::string& path)
{
    const std::filesystem::path p(path);
    if (p.is_absolute() || folder.empty())
        return p.lexically_normal().string();
    return (std::filesystem::path(folder) / p).lexically_normal().string();
}

bool isFontItem(int position) { return (position >= kFirstFontPos && position <= kLastFontPos) || position == kBig52GbkPos; }

} // namespace

bool ParseProfile(const std::string& text, const std::string& folder, Profile& profile, std::string& error)
{
    const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        error = "the profile is not a JSON object";
        return false;
    }
    Profile p;
    auto pathOf = [&](const nlohmann::ordered_json& value, const std::string& what, std::string& out) {
        if (!value.is_string() || value.get<std::string>().empty()) {
            error = "\"" + what + "\" must be a file name";
            return false;
        }
        out = resolve(folder, value.get<std::string>());
        return true;
    };
    for (const auto& [key, value] : doc.items()) {
        if (key == "settings") {
            if (!pathOf(value, key, p.settingsFile))
                return false;
        } else if (key == "only") {
            if (!value.is_array()) {
                error = "\"only\" must be a list of settings groups";
                return false;
            }
            for (const auto& g : value) {
                const auto& groups = SettingsGroups();
                if (!g.is_string() || std::none_of(groups.begin(), groups.end(), [&](const SettingsGroup& s) {
                        return g.get<std::string>() == s.name;
                    })) {
                    error = "\"only\": no settings group " + g.dump();
                    return false;
                }
                p.only.push_back(g.get<std::string>());
            }
        } else if (key == "pictures") {
            if (!value.is_object()) {
                error = "\"pictures\" must map slots to picture files";
                return false;
            }
            for (const auto& [slotName, file] : value.items()) {
                const int slot = SlotNumber(slotName);
                if (slot == 0) {
                    error = "\"pictures\": no picture slot \"" + slotName + "\"";
                    return false;
                }
                std::string path;
                if (!pathOf(file, "pictures/" + slotName, path))
                    return false;
                auto same = std::find_if(p.pictures.begin(), p.pictures.end(), [&](const auto& e) { return e.first == slot; });
                if (same != p.pictures.end()) {
                    error = "\"pictures\": slot " + std::to_string(slot) + " is given twice";
                    return false;
                }
                p.pictures.emplace_back(slot, path);
            }
            std::sort(p.pictures.begin(), p.pictures.end());
        } else if (key == "fonts") {
            if (value.is_string() && value.get<std::string>() == "all") {
                p.fonts = true;
            } else if (value.is_array()) {
                for (const auto& item : value) {
                    const int position = item.is_string() ? ItemPosition(item.get<std::string>())
                                         : item.is_number_integer() ? ItemPosition(std::to_string(item.get<long long>()))
                                                                    : 0;
                    if (!isFontItem(position)) {
                        error = "\"fonts\": " + item.dump() + " is not a font item";
                        return false;
                    }
                    p.fontPositions.push_back(position);
                }
                p.fonts = !p.fontPositions.empty();
            } else {
                error = "\"fonts\" must be \"all\" or a list of font items";
                return false;
            }
        } else if (key == "firmware") {
            if (value.is_boolean()) {
                p.firmware = value.get<bool>();
            } else {
                if (!pathOf(value, key, p.firmwareFile))
                    return false;
                p.firmware = true;
            }
        } else {
            error = "unknown key \"" + key + "\" (settings, only, pictures, fonts, firmware)";
            return false;
        }
    }
    if (!p.only.empty() && p.settingsFile.empty()) {
        error = "\"only\" needs \"settings\"";
        return false;
    }
    if (p.empty()) {
        error = "the profile asks for nothing (settings, pictures, fonts or firmware)";
        return false;
    }
    profile = std::move(p);
    return true;
}

bool LoadProfile(const std::string& path, Profile& profile, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "cannot read the profile \"" + path + "\"";
        return false;
    }
    const Bytes text = ReadFileBytes(path);
    if (text.empty()) {
        error = "cannot read the profile \"" + path + "\"";
        return false;
    }
    std::string reason;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (!ParseProfile(text, folder, profile, reason)) {
        error = path + ": " + reason;
        return false;
    }
    return true;
}

} // namespace tarsel::cli
