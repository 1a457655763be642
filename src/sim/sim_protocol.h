// The virtual display's own view of the serial protocol: its CRC, its model table,
// its line speeds and the settings document it keeps and reports.
// Written from the display's side; it shares no code with the program's link layer.
#pragma once

#include "util/bytes.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarsel::sim {

// CRC-16 with polynomial 0x1021, initial value 0xFFFF, no reflection, no final XOR
// (check value of "123456789": 0x29B1).
std::uint16_t crc16(const Bytes& data);
std::uint16_t crc16(const char* data, std::size_t size, std::uint16_t crc = 0xFFFF);

// How a model stores files.
enum class StorageMethod { Block, NamedFiles };

struct ModelInfo {
    const char* name;
    int width;
    int height;
    StorageMethod storage;
    bool firmwareLoader; // answers the upgrade sync and takes the firmware announce frame
};

// The seven models, in the order of the program's model list.
const std::vector<ModelInfo>& models();
// The model with exactly this name (case-sensitive), or nullptr.
const ModelInfo* findModel(const std::string& name);

// Line speeds the display can run at; the index is its baud code (0 = 9600 ... 4 = 115200).
const std::vector<int>& baudCodes();
bool isSupportedBaud(int baud);

// RGB565 of three 8-bit channels.
std::uint16_t rgb565(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// Brightness level 1..4 of the 1F 58 command as the display stores it in "back_light".
// The program reads 1|2 as 100 %, 3|4 as 60 %, 5 as 40 % and 6 as 20 %, so the stored
// codes bring the same level back.
int backLightCodeForLevel(int level);

// The factory document, byte for byte.
extern const char* const kDefaultSettingsDocument;

// The display's settings: an ordered flat object of integers and byte strings.
// render() writes one key per line without spaces, exactly like the factory document,
// and puts text bytes out unchanged (only '"', '\' and control bytes are escaped).
class SettingsDocument {
public:
    SettingsDocument(); // factory settings
    void reset();

    void setNumber(const std::string& key, long value);
    void setText(const std::string& key, const Bytes& value);
    long number(const std::string& key) const; // 0 when absent or a text
    Bytes text(const std::string& key) const;  // empty when absent or a number
    bool has(const std::string& key) const;

    Bytes render() const;
    bool operator==(const SettingsDocument& other) const;

private:
    struct Entry {
        std::string key;
        bool isText = false;
        long number = 0;
        Bytes text;
        bool operator==(const Entry&) const = default;
    };
    Entry* find(const std::string& key);
    const Entry* find(const std::string& key) const;
    std::vector<Entry> m_entries;
};

// Upper-case hex, bytes separated by a space ("02 07 16 01").
std::string hexSpaced(const Bytes& data, std::size_t limit = 64);

} // namespace tarsel::sim
