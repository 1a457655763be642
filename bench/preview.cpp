// Time per render of the screen preview (it runs on every edit in the window): the
// default-like screen on both screen sizes, with the header picture and title logo at
// their slot sizes, with a carousel picture (screen-sized, scaled into the main
// area), with a double-byte main text, and the first render (fonts found and
// loaded). Also names the fonts that supplied glyphs.
//
//   bench_preview [RENDERS]
#include "preview/font_set.h"
#include "preview/screen.h"
#include "util/codepage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace tarsel;
using namespace tarsel::preview;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

std::shared_ptr<const Image> gradient(int w, int h)
{
    auto img = std::make_shared<Image>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img->setPixel(x, y, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x + y));
    return img;
}

Input standby(int model)
{
    Input in;
    TDisplayInfo& d = in.info;
    d.wel_mess1 = "*** TFT DISPLAY *** ";
    d.wel_mess2 = "**HAVE A NICE DAY AND THANK YOU**" + std::string(27, ' ');
    d.main_str = "*** TFT DISPLAY  ***  HAVE A NICE DAY!  *** TFT DISPLAY  ***  HAVE A NICE DAY!  ";
    d.font_Foreground_color_565 = 2047;
    d.bm_back_rgb_565 = 65535;
    d.bm_font_rgb_565 = 31;
    d.tp_back_rgb_565 = 31;
    d.tp_font_rgb_565 = 65535;
    d.tp_mode = 10;
    d.line_mode = 1;
    d.lun_time = 1;
    in.modelIndex = model;
    in.atSeconds = 3.3; // both welcome lines part-way through their scroll
    return in;
}

void run(const char* name, const Input& in, int renders)
{
    RenderNotes notes;
    RenderScreen(in, &notes); // glyphs of this screen made once
    const auto start = Clock::now();
    std::size_t checksum = 0;
    for (int i = 0; i < renders; ++i) {
        Input each = in;
        each.atSeconds += 0.01 * i;
        checksum += RenderScreen(each).pixels[static_cast<std::size_t>(i) % 1000];
    }
    std::printf("  %-46s %7.3f ms per render%s\n", name, msSince(start) / renders,
                notes.missingGlyphs ? " (glyphs missing)" : "");
    if (checksum == 1)
        std::printf(" ");
}

} // namespace

int main(int argc, char** argv)
{
    const int renders = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    const auto first = Clock::now();
    RenderNotes notes;
    RenderScreen(standby(6), &notes);
    std::printf("Screen preview\n  first render (fonts found and loaded)         %7.1f ms\n", msSince(first));
    if (!notes.fontError.empty())
        std::printf("  %s\n", notes.fontError.c_str());

    run("800 x 480, texts only", standby(6), renders);
    run("480 x 272, texts only", standby(1), renders);

    Input pictures = standby(6);
    pictures.slotPictures[74] = gradient(240, 80);
    pictures.slotPictures[75] = gradient(560, 80);
    pictures.info.tp_mode = 9;
    run("800 x 480, title logo and head picture", pictures, renders);

    Input carousel = pictures;
    carousel.slotPictures[76] = gradient(800, 480);
    carousel.info.into_lun_bo = 1;
    carousel.info.pic_reg = 1;
    run("800 x 480, carousel picture scaled to 800 x 360", carousel, renders);

    Input cjk = standby(6);
    cjk.info.Expand_Char_No = 25; // CP936_GBK
    cjk.info.main_str = WideToCodePage(Utf8ToUtf16("欢迎光临，谢谢惠顾！祝您购物愉快。今天特价商品请到收银台咨询。"), 936);
    cjk.info.line_mode = 2;
    run("800 x 480, four lines of GBK main text", cjk, renders);

    std::printf("  fonts used:\n");
    for (const std::string& file : FontSet::shared().usedFiles())
        std::printf("    %s\n", file.c_str());
    return 0;
}
