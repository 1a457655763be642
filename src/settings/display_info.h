// The display's settings record. The window owns the one instance and passes it
// to every settings operation.
#pragma once

#include "util/bits.h"
#include "util/bytes.h"

#include <cstdint>

namespace tarsel {

// Fields keep the display's own names. "565" fields hold the display's RGB565
// colour in their low 16 bits (a document may put any 32-bit integer there);
// "888" fields hold the colour as picked in the window (0x00BBGGRR). Texts hold
// bytes in the display's code page.
struct TDisplayInfo {
    std::uint8_t temp1 = 0;          // always 0 when gathered
    std::uint8_t Baud_Rate = 0;      // BaudRateNo (0 = 9600 ... 4 = 115200)
    std::uint8_t temp2 = 0;          // bit 0/1: line 1/2 does not scroll; bit 2 set, bit 3 clear
    std::uint8_t Char_No = 0;        // InterCharNo
    std::uint8_t Expand_Char_No = 0; // CodePageNoNew
    std::uint8_t Comm_No = 0;        // CommandNo (255 = AUTO)
    Bytes wel_mess1;                 // 20 characters, space-padded
    Bytes wel_mess2;                 // up to 60 characters, space-padded to 60
    std::int32_t font_Foreground_color_565 = 0;
    std::int32_t font_Background_color_565 = 0;
    Color font_Foreground_color_888 = 0;
    Color font_Background_color_888 = 0;
    std::uint8_t back_light = 0;     // backlight code as the display stores it
    std::uint8_t back_light_set = 0; // window level 1..4
    std::uint16_t pic_reg = 0;       // bit i = play check box i (0..9)
    std::uint8_t pic_reg_lo = 0;
    std::uint8_t pic_reg_hi = 0;
    std::uint8_t line_mode = 0;      // 1 = two lines, 2 = four lines
    std::int32_t bm_back_rgb_565 = 0;
    std::int32_t bm_font_rgb_565 = 0;
    std::int32_t tp_back_rgb_565 = 0;
    std::int32_t tp_font_rgb_565 = 0;
    Color bm_back_rgb_888 = 0;
    Color bm_font_rgb_888 = 0;
    Color tp_back_rgb_888 = 0;
    Color tp_font_rgb_888 = 0;
    std::uint8_t tp_mode = 0;        // 10 = header shows text, 9 = picture
    Bytes main_str;                  // four lines of 20 characters, concatenated
    std::uint8_t into_lun_bo = 0;    // standby seconds before the carousel, 0..120
    std::uint8_t lun_time = 0;       // carousel interval, 1..10

    bool operator==(const TDisplayInfo&) const = default;
};

} // namespace tarsel
