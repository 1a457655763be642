// Finding the display maker's images (fonts, "big52gbk", firmware), which are not
// part of this program: they are looked up by name, ignoring case, with or without
// ".bin", in a list of data folders.
#pragma once

#include "util/bytes.h"

#include <string>
#include <vector>

namespace tarsel {

// The folders searched, in order:
//   the folders set with SetResourceFolderOverride (tests), then
//   each folder of $TARSEL_RESOURCE_DIR (colon-separated), then
//   $XDG_DATA_HOME/tarsel/resources (default ~/.local/share/tarsel/resources),
//   each of $XDG_DATA_DIRS (default /usr/local/share:/usr/share) + /tarsel/resources,
//   the installation's data folder + /resources.
// Duplicates are listed once.
std::vector<std::string> ResourceFolders();

// Folders searched before all others; an empty list removes the override.
void SetResourceFolderOverride(std::vector<std::string> folders);

struct ResourceLookup {
    bool found = false;
    std::string path;                  // the file found
    std::vector<std::string> searched; // the folders searched (all of them on a miss)
};

// Looks up `name` (e.g. "CP437_800x480", "big52gbk.bin") ignoring case, as given and
// with ".bin" appended (or removed).
ResourceLookup FindResource(const std::string& name);

// The whole image; empty when it is missing or cannot be read (lookup says which).
Bytes LoadResource(const std::string& name, ResourceLookup* lookup = nullptr);

// "a, b, c": the folders for a message.
std::string JoinFolders(const std::vector<std::string>& folders);

} // namespace tarsel
