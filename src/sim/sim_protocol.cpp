#include "sim/sim_protocol.h"

#include <cstdio>

namespace tarsel::sim {

std::uint16_t crc16(const char* data, std::size_t size, std::uint16_t crc)
{
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(data[i]) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

std::uint16_t crc16(const Bytes& data) { return crc16(data.data(), data.size()); }

const std::vector<ModelInfo>& models()
{
    static const std::vector<ModelInfo> list = {
        {"KT310--IIA", 480, 272, StorageMethod::Block, false},
        {"KT310--IIB", 480, 272, StorageMethod::Block, false},
        {"KT310--IIC", 800, 480, StorageMethod::Block, true},
        {"KT310-IID", 800, 480, StorageMethod::NamedFiles, false},
        {"KT710--II", 800, 480, StorageMethod::Block, false},
        {"KT310-II", 800, 480, StorageMethod::NamedFiles, false},
        {"KT710-II", 800, 480, StorageMethod::NamedFiles, false},
    };
    return list;
}

const ModelInfo* findModel(const std::string& name)
{
    for (const auto& m : models())
        if (name == m.name)
            return &m;
    return nullptr;
}

const std::vector<int>& baudCodes()
{
    static const std::vector<int> codes = {9600, 19200, 38400, 57600, 115200};
    return codes;
}

bool isSupportedBaud(int baud)
{
    for (int b : baudCodes())
        if (b == baud)
            return true;
    return false;
}

std::uint16_t rgb565(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

int backLightCodeForLevel(int level)
{
    switch (level) {
    case 1: return 6;
    case 2: return 5;
    case 3: return 4;
    default: return level >= 4 ? 1 : 6;
    }
}

const char* const kDefaultSettingsDocument =
    "{\"temp1\":0,\n"
    "\"Baud_Rate\":0,\n"
    "\"temp2\":0,\n"
    "\"Char_No\":0,\n"
    "\"Expand_Char_No\":0,\n"
    "\"Comm_No\":255,\n"
    "\"wel_mess1\":\"*** TFT DISPLAY *** \",\n"
    "\"wel_mess2\":\"**HAVE A NICE DAY AND THANK YOU**\",\n"
    "\"font_Foreground_color\":2047,\n"
    "\"font_Background_color\":0,\n"
    "\"back_light\":5,\n"
    "\"pic_reg\":0,\n"
    "\"line_mode\":1,\n"
    "\"bm_back_rgb\":65535,\n"
    "\"bm_font_rgb\":31,\n"
    "\"tp_back_rgb\":31,\n"
    "\"tp_font_rgb\":65535,\n"
    "\"tp_mode\":10,\n"
    "\"main_str\":\"*** TFT DISPLAY  ***  HAVE A NICE DAY!  *** TFT DISPLAY  ***  HAVE A NICE DAY!  \",\n"
    "\"into_lun_bo\":0,\n"
    "\"lun_time\":1\n"
    "}";

SettingsDocument::SettingsDocument() { reset(); }

void SettingsDocument::reset()
{
    m_entries.clear();
    auto num = [this](const char* k, long v) { m_entries.push_back({k, false, v, {}}); };
    auto txt = [this](const char* k, const char* v) { m_entries.push_back({k, true, 0, v}); };
    num("temp1", 0);
    num("Baud_Rate", 0);
    num("temp2", 0);
    num("Char_No", 0);
    num("Expand_Char_No", 0);
    num("Comm_No", 255);
    txt("wel_mess1", "*** TFT DISPLAY *** ");
    txt("wel_mess2", "**HAVE A NICE DAY AND THANK YOU**");
    num("font_Foreground_color", 2047);
    num("font_Background_color", 0);
    num("back_light", 5);
    num("pic_reg", 0);
    num("line_mode", 1);
    num("bm_back_rgb", 65535);
    num("bm_font_rgb", 31);
    num("tp_back_rgb", 31);
    num("tp_font_rgb", 65535);
    num("tp_mode", 10);
    txt("main_str", "*** TFT DISPLAY  ***  HAVE A NICE DAY!  *** TFT DISPLAY  ***  HAVE A NICE DAY!  ");
    num("into_lun_bo", 0);
    num("lun_time", 1);
}

SettingsDocument::Entry* SettingsDocument::find(const std::string& key)
{
    for (auto& e : m_entries)
        if (e.key == key)
            return &e;
    return nullptr;
}

const SettingsDocument::Entry* SettingsDocument::find(const std::string& key) const
{
    for (const auto& e : m_entries)
        if (e.key == key)
            return &e;
    return nullptr;
}

void SettingsDocument::setNumber(const std::string& key, long value)
{
    Entry* e = find(key);
    if (!e) {
        m_entries.push_back({key, false, value, {}});
        return;
    }
    e->isText = false;
    e->number = value;
    e->text.clear();
}

void SettingsDocument::setText(const std::string& key, const Bytes& value)
{
    Entry* e = find(key);
    if (!e) {
        m_entries.push_back({key, true, 0, value});
        return;
    }
    e->isText = true;
    e->number = 0;
    e->text = value;
}

long SettingsDocument::number(const std::string& key) const
{
    const Entry* e = find(key);
    return e && !e->isText ? e->number : 0;
}

Bytes SettingsDocument::text(const std::string& key) const
{
    const Entry* e = find(key);
    return e && e->isText ? e->text : Bytes();
}

bool SettingsDocument::has(const std::string& key) const { return find(key) != nullptr; }

bool SettingsDocument::operator==(const SettingsDocument& other) const
{
    return m_entries == other.m_entries;
}

static void appendJsonString(Bytes& out, const Bytes& text)
{
    out.push_back('"');
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", u);
            out += esc;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

Bytes SettingsDocument::render() const
{
    Bytes out = "{";
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (i > 0)
            out += ",\n";
        out += '"' + e.key + "\":";
        if (e.isText)
            appendJsonString(out, e.text);
        else
            out += std::to_string(e.number);
    }
    out += "\n}";
    return out;
}

std::string hexSpaced(const Bytes& data, std::size_t limit)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    const std::size_t n = data.size() < limit ? data.size() : limit;
    out.reserve(n * 3 + 16);
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0)
            out.push_back(' ');
        const auto u = static_cast<unsigned char>(data[i]);
        out.push_back(digits[u >> 4]);
        out.push_back(digits[u & 15]);
    }
    if (n < data.size())
        out += " ... (" + std::to_string(data.size()) + " bytes)";
    return out;
}

} // namespace tarsel::sim
