#include "util/text.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

namespace tarsel {

namespace {

template <typename S>
bool blankOnly(const S& s)
{
    return std::all_of(s.begin(), s.end(), [](auto c) {
        return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<decltype(c)>>(c)) <= 0x20;
    });
}

} // namespace

Text RemoveChar(const Text& text, char16_t c)
{
    Text out;
    out.reserve(text.size());
    for (char16_t ch : text)
        if (ch != c)
            out.push_back(ch);
    return out;
}

Text PadRight(const Text& text, int width, char16_t c)
{
    if (width <= 0 || text.size() >= static_cast<std::size_t>(width))
        return text;
    Text out = text;
    out.append(static_cast<std::size_t>(width) - text.size(), c);
    return out;
}

Bytes PadRightBytes(const Bytes& bytes, std::size_t width, char byte)
{
    if (bytes.size() >= width)
        return bytes;
    Bytes out = bytes;
    out.append(width - bytes.size(), byte);
    return out;
}

Text PrependChars(const Text& text, int count, char16_t c)
{
    if (count <= 0)
        return text;
    return Text(static_cast<std::size_t>(count), c) + text;
}

Text VarDefault(const std::optional<Text>& value, const Text& fallback)
{
    if (!value)
        return fallback;
    return VarDefault(*value, fallback);
}

Text VarDefault(const Text& value, const Text& fallback)
{
    return blankOnly(value) ? fallback : value;
}

std::string VarDefault(const std::string& value, const std::string& fallback)
{
    return blankOnly(value) ? fallback : value;
}

int IndexOfText(const std::vector<Bytes>& list, const Bytes& item)
{
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] == item)
            return static_cast<int>(i);
    return -1;
}

Bytes PlainDisplayText(const Bytes& text)
{
    Bytes out = text.substr(0, text.find('\0'));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return out;
}

bool IsPlainDisplayText(const Bytes& text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

} // namespace tarsel
