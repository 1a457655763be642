#include "cli/settings_view.h"

#include "settings/settings_document.h"
#include "settings/tables.h"
#include "util/codepage.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace tarsel::cli {

namespace {

// The window's captions of the controls that show each key (English).
struct KeyCaption {
    const char* key;
    const char* caption;
};

constexpr KeyCaption kCaptions[] = {
    {"temp1", "(not shown)"},
    {"Baud_Rate", "Baudrate Set / Baud Rate"},
    {"temp2", "Welcome Message Set / Scroll"},
    {"Char_No", "CodePage Setting / InterChar"},
    {"Expand_Char_No", "CodePage Setting / CodePage"},
    {"Comm_No", "Command Set / Command Mode"},
    {"wel_mess1", "Welcome Message Set / Line 1"},
    {"wel_mess2", "Welcome Message Set / Line 2"},
    {"font_Foreground_color", "Text / Text Color"},
    {"font_Background_color", "Text / Backgroud Color"},
    {"back_light", "Brightness adjustment"},
    {"pic_reg", "Play Setting / Selected"},
    {"line_mode", "Text / Text Line 2, Text Line 4"},
    {"bm_back_rgb", "Footer Message / Backgroud Color"},
    {"bm_font_rgb", "Footer Message / Text Color"},
    {"tp_back_rgb", "Header / Backgroud Color"},
    {"tp_font_rgb", "Header / Text Color"},
    {"tp_mode", "Header / Show Text, Show Picture"},
    {"main_str", "Text / main text"},
    {"into_lun_bo", "Play Setting / Standby time"},
    {"lun_time", "Play Setting / Play interval"},
};

constexpr const char* kBrightnessNames[] = {"20%", "40%", "60%", "100%"};

std::string quoted(const Text& text) { return "\"" + Utf16ToUtf8(text) + "\""; }

std::string colour(Color c)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", static_cast<unsigned>(c & 0xFF),
                  static_cast<unsigned>((c >> 8) & 0xFF), static_cast<unsigned>((c >> 16) & 0xFF));
    return buf;
}

template <typename Table, typename Name>
std::string rowName(const Table& table, int row, int code, Name name)
{
    if (row >= 0 && row < static_cast<int>(table.size()))
        return name(table[static_cast<std::size_t>(row)]);
    return "code " + std::to_string(code) + " (no such choice)";
}

} // namespace

SettingsState DefaultSettingsState()
{
    SettingsState state;
    std::string error;
    ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), state.info, state.values, error);
    return state;
}

bool ApplyDocument(const Bytes& document, SettingsState& state, std::string& error)
{
    if (document.empty()) {
        error = kLoadSettingsError;
        return false;
    }
    SettingsState next = state;
    if (!ParseSettingsDocument(document, next.info, next.values, error))
        return false;
    GatherSettings(next.values, next.info);
    state = next;
    return true;
}

std::set<std::string> DocumentKeys(const Bytes& document)
{
    std::set<std::string> keys;
    const nlohmann::json parsed = nlohmann::json::parse(Utf16ToUtf8(HostToWide(document)), nullptr, false);
    if (!parsed.is_object())
        return keys;
    for (const auto& [name, value] : parsed.items()) {
        const auto first = name.find_first_not_of(" \t\r\n");
        const auto last = name.find_last_not_of(" \t\r\n");
        if (first != std::string::npos)
            keys.insert(name.substr(first, last - first + 1));
    }
    return keys;
}

std::vector<ShownSetting> ShowSettings(const SettingsState& state)
{
    const TDisplayInfo& i = state.info;
    const WindowValues& v = state.values;
    std::vector<std::string> values;
    values.push_back(std::to_string(i.temp1));
    values.push_back(rowName(BaudRateTable, v.cbb_down_BaudRate, i.Baud_Rate,
                             [](const TBaudRates& r) { return std::string(r.BaudRateName); }));
    values.push_back(std::string("line 1 ") + (v.chk_Scroll1 ? "scrolls" : "does not scroll") + ", line 2 " +
                     (v.chk_Scroll2 ? "scrolls" : "does not scroll"));
    values.push_back(rowName(InterCharTable, v.rg_Down_InterChar, i.Char_No,
                             [](const TInterChars& r) { return std::string(r.DisplayNameEn); }));
    values.push_back(rowName(CodePageTable, v.rg_Down_CodePage, i.Expand_Char_No,
                             [](const TCodePages& r) { return std::string(r.DisplayName); }));
    values.push_back(rowName(CommandModeTable, v.cbb_down_CommandMode, i.Comm_No,
                             [](const TCommandModes& r) { return std::string(r.CommandName); }));
    values.push_back(quoted(v.edt_line1));
    values.push_back(quoted(v.edt_line2));
    values.push_back(colour(v.pnlColorTextText));
    values.push_back(colour(v.pnlColorBgText));
    values.push_back(v.rg_brightness >= 0 && v.rg_brightness < 4 ? kBrightnessNames[v.rg_brightness]
                                                                  : std::string("none"));
    std::string played;
    for (std::size_t k = 0; k < v.CheckBox.size(); ++k)
        if (v.CheckBox[k])
            played += (played.empty() ? "Picture " : ", ") + std::to_string(k + 1);
    values.push_back(played.empty() ? "none" : played);
    values.push_back(v.rbtnTextLine4 ? "Text Line 4" : "Text Line 2");
    values.push_back(colour(v.pnlColorBgFooter));
    values.push_back(colour(v.pnlColorTextFooter));
    values.push_back(colour(v.pnlColorBgHeader));
    values.push_back(colour(v.pnlColorTextHeader));
    values.push_back(v.rbtnHeaderPicture ? "Show Picture" : "Show Text");
    std::string lines;
    for (std::size_t k = 0; k < v.edtMianText.size(); ++k)
        lines += (k ? " / " : "") + quoted(v.edtMianText[k]);
    values.push_back(lines);
    values.push_back(v.ud_StandbyTime == 0 ? std::string("0 s (Not Play)") : std::to_string(v.ud_StandbyTime) + " s");
    values.push_back(std::to_string(v.ud_PlayInterval) + " s");

    std::vector<ShownSetting> shown;
    for (std::size_t k = 0; k < std::size(kCaptions); ++k)
        shown.push_back({kCaptions[k].key, kCaptions[k].caption, values[k]});
    return shown;
}

std::vector<SettingDifference> CompareSettings(const SettingsState& display, const SettingsState& file,
                                               const std::set<std::string>& fileKeys)
{
    const auto a = ShowSettings(display);
    const auto b = ShowSettings(file);
    std::vector<SettingDifference> differences;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (!fileKeys.count(a[k].key) || a[k].value == b[k].value)
            continue;
        differences.push_back({a[k].key, a[k].caption, a[k].value, b[k].value});
    }
    return differences;
}

} // namespace tarsel::cli
