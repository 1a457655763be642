// Shared pieces of the preview tests: a record with blank texts and colours whose
// low bits the display drops, and pixel samples.
#pragma once

#include "pictures/image.h"
#include "preview/layout.h"
#include "preview/screen.h"
#include "settings/display_info.h"
#include "util/bits.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace tarsel::preview::test {

struct Px {
    int r = 0, g = 0, b = 0;
    bool operator==(const Px&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Px& p)
{
    return os << "rgb(" << p.r << ", " << p.g << ", " << p.b << ")";
}

inline Px pixelAt(const Image& img, int x, int y)
{
    const std::uint8_t* p = img.at(x, y);
    return Px{p[2], p[1], p[0]};
}

// What the display shows for an RGB565 value.
inline Px shown565(std::uint16_t c)
{
    const Color color = RGB565ToColor(c);
    return Px{static_cast<int>(color & 0xFF), static_cast<int>(color >> 8 & 0xFF), static_cast<int>(color >> 16 & 0xFF)};
}

inline Px centreOf(const Image& img, const PixelRect& r) { return pixelAt(img, r.left + r.width / 2, r.top + r.height / 2); }

// Whether two pictures hold the same pixels inside `r`.
inline bool samePixels(const Image& a, const Image& b, const PixelRect& r)
{
    for (int y = r.top; y < r.bottom(); ++y)
        for (int x = r.left; x < r.right(); ++x)
            if (!(pixelAt(a, x, y) == pixelAt(b, x, y)))
                return false;
    return true;
}

// Whether every pixel inside `r` is `c`.
inline bool allPixels(const Image& img, const PixelRect& r, Px c)
{
    for (int y = r.top; y < r.bottom(); ++y)
        for (int x = r.left; x < r.right(); ++x)
            if (!(pixelAt(img, x, y) == c))
                return false;
    return true;
}

// Colours with their low bits set, so that a preview showing the picked value
// instead of what RGB565 keeps is caught.
inline constexpr std::uint16_t kHeaderBack = 0x1A6B, kHeaderText = 0xFFE0;
inline constexpr std::uint16_t kMainBack = 0x39E7, kMainText = 0x07FF;
inline constexpr std::uint16_t kFooterBack = 0xC618, kFooterText = 0x001F;

inline Bytes blanks(std::size_t n) { return Bytes(n, ' '); }

// A record whose texts are blanks (so the area centres show background) and whose
// settings turn nothing else on.
inline TDisplayInfo blankRecord()
{
    TDisplayInfo info;
    info.temp2 = 0x04;
    info.wel_mess1 = blanks(20);
    info.wel_mess2 = blanks(60);
    info.main_str = blanks(80);
    info.tp_back_rgb_565 = kHeaderBack;
    info.tp_font_rgb_565 = kHeaderText;
    info.font_Background_color_565 = kMainBack;
    info.font_Foreground_color_565 = kMainText;
    info.bm_back_rgb_565 = kFooterBack;
    info.bm_font_rgb_565 = kFooterText;
    info.line_mode = 1;
    info.tp_mode = 10;
    info.lun_time = 1;
    return info;
}

inline std::shared_ptr<const Image> solid(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return std::make_shared<const Image>(w, h, b, g, r);
}

} // namespace tarsel::preview::test
