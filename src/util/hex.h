// Hexadecimal helpers: numbers, hex text and byte strings, and the hex form of trace lines.
#pragma once

#include "util/bytes.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarsel {

// Raised by HexToUInt and HexToBytes for a character that is not a hex digit.
class HexError : public std::runtime_error {
public:
    HexError() : std::runtime_error("Error: not a Hex String") {}
};

// Raised by HexToInt for a text that is not a valid hexadecimal integer.
class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text as one hexadecimal number (0-9, A-F, a-f, most significant first),
// wrapping past 32 bits. Empty text gives 0. Any other character throws HexError.
std::uint32_t HexToUInt(std::string_view text);

// Pairs of characters from the start, each one byte (its low 8 bits); a final single
// character gives one byte of its own value ("ABC" -> AB 0C). Throws HexError.
Bytes HexToBytes(std::string_view text);

// Every byte as two upper-case hex digits, no separator (02 0A -> "020A").
std::string FrameHex(const Bytes& bytes);

// The text read as a 32-bit hexadecimal integer (1 or more digits whose value fits in
// 32 bits; FFFFFFFF is -1). Anything else throws ConvertError.
std::int32_t HexToInt(std::string_view text);

// Upper-case hex with as many digits as needed, padded with "0" to minDigits
// (a minimum above 8 counts as 8): 255/3 -> "0FF", 0/0 -> "0".
std::string IntToHexDigits(std::uint32_t value, int minDigits);

// Upper-case hex of at least N digits (negative values as 8-digit two's complement),
// then padded with "0" on the left to 2*N digits; never cut (500/1 -> "1F4").
std::string IntToHexBytes(std::int32_t value, int byteCount);

} // namespace tarsel
