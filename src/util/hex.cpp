#include "util/hex.h"

#include <string>

namespace tarsel {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

const char kUpperDigits[] = "0123456789ABCDEF";

} // namespace

std::uint32_t HexToUInt(std::string_view text)
{
    std::uint32_t value = 0;
    for (char c : text) {
        int d = hexDigit(c);
        if (d < 0)
            throw HexError();
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return value;
}

Bytes HexToBytes(std::string_view text)
{
    Bytes out;
    out.reserve((text.size() + 1) / 2);
    for (std::size_t i = 0; i < text.size(); i += 2)
        out.push_back(static_cast<char>(HexToUInt(text.substr(i, 2)) & 0xFF));
    return out;
}

std::string FrameHex(const Bytes& bytes)
{
    std::string out;
    out.resize(bytes.size() * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<std::uint8_t>(bytes[i]);
        out[2 * i] = kUpperDigits[b >> 4];
        out[2 * i + 1] = kUpperDigits[b & 0x0F];
    }
    return out;
}

std::int32_t HexToInt(std::string_view text)
{
    auto fail = [&]() -> ConvertError {
        return ConvertError("'$" + std::string(text) + "' is not a valid integer value");
    };
    if (text.empty())
        throw fail();
    std::uint64_t value = 0;
    for (char c : text) {
        int d = hexDigit(c);
        if (d < 0)
            throw fail();
        value = (value << 4) | static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFull)
            throw fail();
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::string IntToHexDigits(std::uint32_t value, int minDigits)
{
    if (minDigits > 8)
        minDigits = 8;
    std::string digits;
    do {
        digits.insert(digits.begin(), kUpperDigits[value & 0x0F]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, static_cast<std::size_t>(minDigits) - digits.size(), '0');
    return digits;
}

std::string IntToHexBytes(std::int32_t value, int byteCount)
{
    std::string digits = value < 0 ? IntToHexDigits(static_cast<std::uint32_t>(value), 8)
                                   : IntToHexDigits(static_cast<std::uint32_t>(value), byteCount);
    if (byteCount > 0 && digits.size() < 2 * static_cast<std::size_t>(byteCount))
        digits.insert(0, 2 * static_cast<std::size_t>(byteCount) - digits.size(), '0');
    return digits;
}

} // namespace tarsel
