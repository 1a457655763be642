// CRC-16/IBM-3740 (also known as CRC-16/CCITT-FALSE): polynomial 0x1021, initial
// value 0xFFFF, most significant bit first, no reflection, no final XOR.
// Check value: "123456789" gives 0x29B1; an empty string gives 0xFFFF.
#pragma once

#include "util/bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarsel {

namespace crc16_detail {

constexpr std::array<std::uint16_t, 256> makeTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : (crc << 1));
        table[i] = crc;
    }
    return table;
}

inline constexpr std::array<std::uint16_t, 256> kTable = makeTable();

} // namespace crc16_detail

inline constexpr std::uint16_t kCrc16Initial = 0xFFFF;

// Continues a CRC over `size` more bytes.
constexpr std::uint16_t Crc16Update(std::uint16_t crc, const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<std::uint8_t>(data[i]);
        crc = static_cast<std::uint16_t>((crc << 8) ^ crc16_detail::kTable[((crc >> 8) ^ byte) & 0xFF]);
    }
    return crc;
}

constexpr std::uint16_t Crc16(const char* data, std::size_t size)
{
    return Crc16Update(kCrc16Initial, data, size);
}

inline std::uint16_t Crc16(const Bytes& data) { return Crc16(data.data(), data.size()); }

// The CRC as two bytes, high byte first, as frames carry it.
inline Bytes Crc16Bytes(std::uint16_t crc)
{
    Bytes out(2, '\0');
    out[0] = static_cast<char>(crc >> 8);
    out[1] = static_cast<char>(crc & 0xFF);
    return out;
}

// The bytes followed by their CRC, high byte first.
inline Bytes Crc16Append(const Bytes& data) { return data + Crc16Bytes(Crc16(data)); }

} // namespace tarsel
