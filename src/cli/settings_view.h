// Settings documents as the window holds them: the state after start-up, a document
// applied to it as Load Settings does, the 21 keys shown with the window's captions
// and in the window's terms, and two documents compared key by key.
#pragma once

#include "settings/display_info.h"
#include "settings/window_values.h"
#include "util/bytes.h"

#include <set>
#include <string>
#include <vector>

namespace tarsel::cli {

// The settings record and the window's controls.
struct SettingsState {
    TDisplayInfo info;
    WindowValues values;
};

// As the window starts: the default document applied.
SettingsState DefaultSettingsState();

// Applies a document in its byte form (a settings file, the display's reply) and
// gathers it back as an operation that sends it would. Empty content gives
// "Load Settings Error!"; a bad document the parser's text.
bool ApplyDocument(const Bytes& document, SettingsState& state, std::string& error);

// The names of the document's top-level members (trimmed), for the keys a file has.
std::set<std::string> DocumentKeys(const Bytes& document);

// One document key as the window shows it.
struct ShownSetting {
    std::string key;     // "tp_font_rgb"
    std::string caption; // "Header / Text Color"
    std::string value;   // "#F8FCF8"
};

// The 21 keys in document order, with the window's captions and what its controls show.
std::vector<ShownSetting> ShowSettings(const SettingsState& state);

struct SettingDifference {
    std::string key;
    std::string caption;
    std::string display;
    std::string file;
};

// The keys of `fileKeys` whose shown values differ, in document order.
std::vector<SettingDifference> CompareSettings(const SettingsState& display, const SettingsState& file,
                                               const std::set<std::string>& fileKeys);

} // namespace tarsel::cli
