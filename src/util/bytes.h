// Byte strings and texts shared by every layer.
#pragma once

#include <cstdint>
#include <string>

namespace tarsel {

// A byte string: 8-bit values of any content (0x00 allowed), explicit length.
// Frames, answers, file contents and text already converted for the display.
using Bytes = std::string;

// Text as the user sees it (window texts), UTF-16 like the window's own strings,
// so that "20 characters" counts characters and not bytes.
using Text = std::u16string;

// Messages for the user (message boxes, log lines) are UTF-8 std::string.

inline Bytes bytesOf(std::initializer_list<std::uint8_t> values)
{
    Bytes out;
    out.reserve(values.size());
    for (auto v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

inline std::uint8_t byteAt(const Bytes& b, std::size_t i) { return static_cast<std::uint8_t>(b[i]); }

} // namespace tarsel
