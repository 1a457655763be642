#include "util/bits.h"

namespace tarsel {

int BitIsSet(std::uint8_t flags, int n)
{
    if (n < 1 || n > 8)
        return 0;
    return (flags >> (n - 1)) & 1;
}

void SetBit(std::uint8_t& flags, int n, bool on)
{
    if (n < 1 || n > 8)
        return;
    const auto mask = static_cast<std::uint8_t>(1u << (n - 1));
    flags = on ? static_cast<std::uint8_t>(flags | mask) : static_cast<std::uint8_t>(flags & ~mask);
}

std::uint16_t ColorToRGB565(Color color)
{
    const std::uint32_t r = color & 0xFF;
    const std::uint32_t g = (color >> 8) & 0xFF;
    const std::uint32_t b = (color >> 16) & 0xFF;
    return static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

Color RGB565ToColor(std::uint16_t rgb565)
{
    const std::uint32_t r = ((rgb565 >> 11) & 0x1F) << 3;
    const std::uint32_t g = ((rgb565 >> 5) & 0x3F) << 2;
    const std::uint32_t b = (rgb565 & 0x1F) << 3;
    return r | (g << 8) | (b << 16);
}

} // namespace tarsel
