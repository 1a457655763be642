// A provisioning profile: what `tarsel-cli provision` applies to every display. A small
// JSON object; paths in it are relative to the profile's folder:
//
//   {
//     "settings": "shop.ini",                 a settings file (the window's format)
//     "only": ["welcome", "play-list"],       optional: these groups instead of All Download
//     "pictures": {"73": "logo.png", "Picture_1": "offer.jpg"},
//     "fonts": "all",                         or ["CP437", "mini_CP850"]
//     "firmware": true                        the maker's image; or a file name
//   }
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarsel::cli {

struct Profile {
    std::string settingsFile;                      // empty: no settings
    std::vector<std::string> only;                 // settings groups; empty: All Download
    std::vector<std::pair<int, std::string>> pictures; // slot, file; in slot order
    bool fonts = false;                            // a font download
    std::vector<int> fontPositions;                // empty with fonts: every font
    bool firmware = false;
    std::string firmwareFile;                      // empty with firmware: the maker's image

    bool empty() const { return settingsFile.empty() && pictures.empty() && !fonts && !firmware; }
};

// Parses the profile's text; relative paths are taken from `folder`. False with a
// message saying what is wrong (an unknown key, a wrong type, an unknown group, slot
// or item).
bool ParseProfile(const std::string& text, const std::string& folder, Profile& profile, std::string& error);

// Reads and parses the file.
bool LoadProfile(const std::string& path, Profile& profile, std::string& error);

} // namespace tarsel::cli
