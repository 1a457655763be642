// What tarsel-cli reads from files and its command line before it talks to a display:
// a provisioning profile, a settings file given to `settings apply`, and the
// arguments. The first byte chooses which; the rest is the input.
// Properties: nothing crashes; a refusal says why; an accepted profile names only
// known groups, slots and items, with paths under its folder; a settings file that
// applies compares equal to itself, and its differences from the display name only
// keys the file holds, each one a key some settings group carries.
#include "fuzz_check.h"

#include "cli/arguments.h"
#include "cli/jobs.h"
#include "cli/profile.h"
#include "cli/settings_view.h"
#include "pictures/slots.h"
#include "transfer/catalogue.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace tarsel;
using namespace tarsel::cli;

namespace {

void fuzzProfile(const std::string& text)
{
    const std::string folder = "/profiles/shop";
    Profile profile;
    std::string error;
    if (!ParseProfile(text, folder, profile, error)) {
        TARSEL_FUZZ_CHECK(!error.empty());
        return;
    }
    auto underFolder = [&](const std::string& path) { return path.empty() || path[0] == '/' || path.rfind(folder, 0) == 0; };
    TARSEL_FUZZ_CHECK(underFolder(profile.settingsFile));
    for (const std::string& group : profile.only)
        TARSEL_FUZZ_CHECK(!GroupKeys(group).empty());
    for (const auto& [slot, file] : profile.pictures) {
        TARSEL_FUZZ_CHECK(IsSlot(slot));
        TARSEL_FUZZ_CHECK(!file.empty());
    }
    for (int position : profile.fontPositions)
        TARSEL_FUZZ_CHECK(position >= 1 && position <= kCatalogueSize);
}

void fuzzSettingsFile(const Bytes& content)
{
    static const SettingsState display = [] {
        SettingsState s = DefaultSettingsState();
        return s;
    }();
    SettingsState target = display;
    std::string error;
    if (!ApplyDocument(content, target, error)) {
        TARSEL_FUZZ_CHECK(!error.empty());
        return;
    }
    const std::set<std::string> keys = DocumentKeys(content);
    // The same settings do not differ; differences name only the file's keys.
    TARSEL_FUZZ_CHECK(CompareSettings(target, target, keys).empty());
    for (const SettingDifference& d : CompareSettings(display, target, keys)) {
        TARSEL_FUZZ_CHECK(keys.count(d.key) == 1);
        TARSEL_FUZZ_CHECK(d.key == "temp1" || !GroupOfKey(d.key).empty());
        TARSEL_FUZZ_CHECK(d.display != d.file);
    }
    // Applied again on top of itself, nothing changes.
    SettingsState twice = target;
    TARSEL_FUZZ_CHECK(ApplyDocument(content, twice, error));
    TARSEL_FUZZ_CHECK(CompareSettings(target, twice, keys).empty());
}

void fuzzArguments(const std::string& text)
{
    std::vector<std::string> args = {"tarsel-cli"};
    std::string arg;
    for (char c : text) {
        if (c == '\0') {
            args.push_back(arg);
            arg.clear();
        } else {
            arg += c;
        }
    }
    if (!arg.empty())
        args.push_back(arg);
    const ParseResult r = ParseArguments(args);
    if (r.action == ParseResult::Action::Exit) {
        TARSEL_FUZZ_CHECK(r.exitCode == kExitOk || r.exitCode == kExitUsage);
        TARSEL_FUZZ_CHECK(r.exitCode == kExitOk || !r.err.empty() || !r.out.empty());
    } else {
        TARSEL_FUZZ_CHECK(!r.invocation.name.empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0: fuzzProfile(rest); break;
    case 1: fuzzSettingsFile(rest); break;
    case 2: fuzzArguments(rest); break;
    }
    return 0;
}
