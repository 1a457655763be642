// Bit access in flag bytes and the display's 16-bit colour form.
#pragma once

#include <cstdint>

namespace tarsel {

// A colour value as the window system has it: 0x00BBGGRR (red in the lowest byte).
using Color = std::uint32_t;

inline bool IntToBool(std::int32_t value) { return value != 0; }

// Flags are numbered 1..8; flag n is bit n-1. Returns 1 when flag n is set, else 0
// (also for n outside 1..8).
int BitIsSet(std::uint8_t flags, int n);

// Sets (on) or clears flag n; other bits unchanged; n outside 1..8 changes nothing.
void SetBit(std::uint8_t& flags, int n, bool on);

// (red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3).
std::uint16_t ColorToRGB565(Color color);

// red = top 5 bits << 3, green = middle 6 bits << 2, blue = low 5 bits << 3.
Color RGB565ToColor(std::uint16_t rgb565);

} // namespace tarsel
