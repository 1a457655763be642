#include "settings/settings_document.h"

#include "util/codepage.h"
#include "util/files.h"
#include "util/text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <utility>
#include <vector>

namespace tarsel {

const char* const kSettingsTooLarge = "The settings document is too large (more than 1 MiB).";

namespace {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

enum class Kind { U8, U16, I32, Text };

struct KeyField {
    const char* key;
    Kind kind;
    void* (*field)(TDisplayInfo&);
};

#define TARSEL_FIELD(name) [](TDisplayInfo& i) -> void* { return &i.name; }

// The document's keys in the display's order, with the field each one fills.
const KeyField kKeys[] = {
    {"temp1", Kind::U8, TARSEL_FIELD(temp1)},
    {"Baud_Rate", Kind::U8, TARSEL_FIELD(Baud_Rate)},
    {"temp2", Kind::U8, TARSEL_FIELD(temp2)},
    {"Char_No", Kind::U8, TARSEL_FIELD(Char_No)},
    {"Expand_Char_No", Kind::U8, TARSEL_FIELD(Expand_Char_No)},
    {"Comm_No", Kind::U8, TARSEL_FIELD(Comm_No)},
    {"wel_mess1", Kind::Text, TARSEL_FIELD(wel_mess1)},
    {"wel_mess2", Kind::Text, TARSEL_FIELD(wel_mess2)},
    {"font_Foreground_color", Kind::I32, TARSEL_FIELD(font_Foreground_color_565)},
    {"font_Background_color", Kind::I32, TARSEL_FIELD(font_Background_color_565)},
    {"back_light", Kind::U8, TARSEL_FIELD(back_light)},
    {"pic_reg", Kind::U16, TARSEL_FIELD(pic_reg)},
    {"line_mode", Kind::U8, TARSEL_FIELD(line_mode)},
    {"bm_back_rgb", Kind::I32, TARSEL_FIELD(bm_back_rgb_565)},
    {"bm_font_rgb", Kind::I32, TARSEL_FIELD(bm_font_rgb_565)},
    {"tp_back_rgb", Kind::I32, TARSEL_FIELD(tp_back_rgb_565)},
    {"tp_font_rgb", Kind::I32, TARSEL_FIELD(tp_font_rgb_565)},
    {"tp_mode", Kind::U8, TARSEL_FIELD(tp_mode)},
    {"main_str", Kind::Text, TARSEL_FIELD(main_str)},
    {"into_lun_bo", Kind::U8, TARSEL_FIELD(into_lun_bo)},
    {"lun_time", Kind::U8, TARSEL_FIELD(lun_time)},
};

#undef TARSEL_FIELD

bool isTrimmed(char16_t c) { return c <= 0x20; }

Text trimText(const Text& text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && isTrimmed(text[b]))
        ++b;
    while (e > b && isTrimmed(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

std::string trimKey(const std::string& key)
{
    std::size_t b = 0, e = key.size();
    while (b < e && static_cast<unsigned char>(key[b]) <= 0x20)
        ++b;
    while (e > b && static_cast<unsigned char>(key[e - 1]) <= 0x20)
        --e;
    return key.substr(b, e - b);
}

// False when arrays and objects nest deeper than the limit (strings skipped).
bool nestingWithin(const std::string& text, int limit)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"': inString = true; break;
        case '[':
        case '{':
            if (++depth > limit)
                return false;
            break;
        case ']':
        case '}': --depth; break;
        default: break;
        }
    }
    return true;
}

// The number as an integer: fractions cut toward zero, values beyond 64 bits
// saturated; the caller keeps the field's width of it.
std::uint64_t integerBits(const json& value)
{
    if (value.is_number_unsigned())
        return value.get<std::uint64_t>();
    if (value.is_number_integer())
        return static_cast<std::uint64_t>(value.get<std::int64_t>());
    const double d = std::trunc(value.get<double>());
    if (d >= 9.2e18)
        return static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (d <= -9.2e18)
        return static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::min());
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
}

Bytes hostBytesOfUtf8(const std::string& utf8) { return WideToHost(Utf8ToUtf16(utf8)); }

// Assigns one member; false (with the error text) for a numeric key whose value is
// not a number. `cleaned` tells whether a text had to be made plain.
bool assignMember(const KeyField& k, const json& value, TDisplayInfo& info, std::string& errorText, bool& cleaned)
{
    void* field = k.field(info);
    cleaned = false;
    if (k.kind == Kind::Text) {
        const std::string text = value.is_string()
            ? value.get<std::string>()
            : value.dump(-1, ' ', false, json::error_handler_t::replace);
        // Control characters are the same bytes in every host code page: checking the
        // converted bytes catches each one that would reach a frame.
        Bytes bytes = hostBytesOfUtf8(text);
        if (!IsPlainDisplayText(bytes)) {
            bytes = PlainDisplayText(bytes);
            cleaned = true;
        }
        *static_cast<Bytes*>(field) = std::move(bytes);
        return true;
    }
    if (!value.is_number()) {
        errorText = std::string("The value of \"") + k.key + "\" is not a number.";
        return false;
    }
    const std::uint64_t bits = integerBits(value);
    switch (k.kind) {
    case Kind::U8: *static_cast<std::uint8_t*>(field) = static_cast<std::uint8_t>(bits); break;
    case Kind::U16: *static_cast<std::uint16_t*>(field) = static_cast<std::uint16_t>(bits); break;
    case Kind::I32: *static_cast<std::int32_t*>(field) = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)); break;
    case Kind::Text: break;
    }
    return true;
}

const KeyField* findKey(const std::string& name)
{
    for (const auto& k : kKeys)
        if (name == k.key)
            return &k;
    return nullptr;
}

std::string utf8OfHostBytes(const Bytes& bytes) { return Utf16ToUtf8(HostToWide(bytes)); }


} // namespace

bool ParseSettingsJson(const Text& document, TDisplayInfo& info, WindowValues& values, std::string& errorText,
                       std::vector<std::string>* cleanedKeys)
{
    if (document.empty()) {
        errorText = kGetSettingsError;
        return false;
    }
    if (document.size() > kMaxSettingsDocument) {
        errorText = kSettingsTooLarge;
        return false;
    }
    const std::string text = Utf16ToUtf8(trimText(document));
    if (text.empty() || !nestingWithin(text, kMaxSettingsNesting)) {
        errorText = kParsingFailed;
        return false;
    }

    // Collect the top level's members in document order (the DOM keeps only one of
    // a repeated name, and not at its last place).
    std::vector<std::pair<std::string, json>> members;
    std::string currentKey;
    json::parser_callback_t collect = [&](int depth, json::parse_event_t event, json& parsed) {
        if (depth == 1) {
            if (event == json::parse_event_t::key)
                currentKey = parsed.get<std::string>();
            else if (event == json::parse_event_t::value || event == json::parse_event_t::object_end
                     || event == json::parse_event_t::array_end)
                members.emplace_back(currentKey, parsed);
        }
        return true;
    };
    json root;
    try {
        root = json::parse(text, collect, /*allow_exceptions=*/false);
    } catch (const std::exception&) {
        root = json(json::value_t::discarded);
    }
    if (root.is_discarded()) {
        errorText = kParsingFailed;
        return false;
    }
    if (!root.is_object()) {
        errorText = "The settings document is not a JSON object.";
        return false;
    }

    TDisplayInfo work = info;
    std::vector<const KeyField*> cleaned; // in the order they were first found
    for (const auto& [name, value] : members) {
        const KeyField* k = findKey(trimKey(name));
        if (!k)
            continue;
        bool madePlain = false;
        if (!assignMember(*k, value, work, errorText, madePlain)) {
            info = work; // what was assigned before the bad member stays
            return false;
        }
        const auto seen = std::find(cleaned.begin(), cleaned.end(), k);
        if (madePlain && seen == cleaned.end())
            cleaned.push_back(k);
        else if (!madePlain && seen != cleaned.end())
            cleaned.erase(seen); // a later value of the key replaced it
    }
    info = work;
    if (cleanedKeys) {
        cleanedKeys->clear();
        for (const KeyField* k : cleaned)
            cleanedKeys->push_back(k->key);
    }

    WindowValues shown = values;
    try {
        ApplySettings(info, shown);
    } catch (const std::exception& e) {
        errorText = std::string(kGetSettingsFailed) + e.what();
        return false;
    }
    values = std::move(shown);
    return true;
}

bool ParseSettingsDocument(const Bytes& document, TDisplayInfo& info, WindowValues& values, std::string& errorText,
                           std::vector<std::string>* cleanedKeys)
{
    // Refuse an oversized reply before converting it; everything else is the text parser's.
    if (document.size() > kMaxSettingsDocument) {
        errorText = kSettingsTooLarge;
        return false;
    }
    return ParseSettingsJson(HostToWide(document), info, values, errorText, cleanedKeys);
}

std::string CleanedTextsWarning(const std::vector<std::string>& keys)
{
    if (keys.empty())
        return {};
    std::string names;
    for (const auto& k : keys)
        names += (names.empty() ? "\"" : ", \"") + k + "\"";
    return (keys.size() == 1 ? "The text of " : "The texts of ") + names +
           " held control characters, which the display would take as commands: " +
           (keys.size() == 1 ? "it ends" : "each ends") +
           " at its first 00 byte and its other control characters are shown as \"?\".";
}

Text BuildSettingsJson(const TDisplayInfo& info)
{
    ordered_json doc = ordered_json::object();
    doc["temp1"] = info.temp1;
    doc["Baud_Rate"] = info.Baud_Rate;
    doc["temp2"] = info.temp2;
    doc["Char_No"] = info.Char_No;
    doc["Expand_Char_No"] = info.Expand_Char_No;
    doc["Comm_No"] = info.Comm_No;
    doc["wel_mess1"] = utf8OfHostBytes(info.wel_mess1);
    doc["wel_mess2"] = utf8OfHostBytes(info.wel_mess2);
    doc["font_Foreground_color"] = info.font_Foreground_color_565;
    doc["font_Background_color"] = info.font_Background_color_565;
    doc["back_light"] = info.back_light;
    doc["pic_reg"] = info.pic_reg;
    doc["line_mode"] = info.line_mode;
    doc["bm_back_rgb"] = info.bm_back_rgb_565;
    doc["bm_font_rgb"] = info.bm_font_rgb_565;
    doc["tp_back_rgb"] = info.tp_back_rgb_565;
    doc["tp_font_rgb"] = info.tp_font_rgb_565;
    doc["tp_mode"] = info.tp_mode;
    doc["main_str"] = utf8OfHostBytes(info.main_str);
    doc["into_lun_bo"] = info.into_lun_bo;
    doc["lun_time"] = info.lun_time;
    return Utf8ToUtf16(doc.dump(4, ' ', false, ordered_json::error_handler_t::replace));
}

Bytes BuildSettingsDocument(const TDisplayInfo& info) { return WideToHost(BuildSettingsJson(info)); }

std::string SettingsFileName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string::npos || dot <= nameStart)
        return path + ".ini";
    return path.substr(0, dot) + ".ini";
}

bool SaveSettingsFile(const std::string& path, const TDisplayInfo& info, std::string& error)
{
    std::string reason;
    if (!WriteFileAtomic(path, BuildSettingsDocument(info), reason)) {
        error = path + ": " + reason;
        return false;
    }
    error.clear();
    return true;
}

bool LoadSettingsFile(const std::string& path, Bytes& content, std::string& error)
{
    std::string reason;
    switch (ReadRegularFile(path, kMaxSettingsDocument, content, reason)) {
    case ReadStatus::Ok: error.clear(); return true;
    case ReadStatus::TooLarge: error = kSettingsTooLarge; return false;
    default: error = path + ": " + reason; return false;
    }
}

} // namespace tarsel
