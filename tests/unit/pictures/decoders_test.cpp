#include "pictures/codecs.h"
#include "pictures/image.h"
#include "unit/pictures/picture_files.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <random>

namespace tarsel {
namespace {

using namespace testpics;

std::array<int, 3> rgbAt(const Image& img, int x, int y)
{
    const auto* p = img.at(x, y);
    return {p[2], p[1], p[0]};
}

Image decodeOk(const Bytes& content)
{
    Image img;
    std::string error;
    EXPECT_TRUE(DecodeImage(content, img, error)) << error;
    return img;
}

TEST(FileNames, OnlyTheSixSpellingsAreRecognised)
{
    EXPECT_EQ(ImageFormatForFileName("/x/a.png"), ImageFormat::Png);
    EXPECT_EQ(ImageFormatForFileName("a.PNG"), ImageFormat::Png);
    EXPECT_EQ(ImageFormatForFileName("a.jpg"), ImageFormat::Jpeg);
    EXPECT_EQ(ImageFormatForFileName("a.JPG"), ImageFormat::Jpeg);
    EXPECT_EQ(ImageFormatForFileName("a.bmp"), ImageFormat::Bmp);
    EXPECT_EQ(ImageFormatForFileName("a.BMP"), ImageFormat::Bmp);
    for (const char* name : {"a.jpeg", "a.JPEG", "a.Png", "a.Jpg", "a.bMp", "png", "a.png.txt", "a", ".pn", ""})
        EXPECT_EQ(ImageFormatForFileName(name), ImageFormat::Unknown) << name;
}

TEST(FileNames, ContentSignatures)
{
    EXPECT_EQ(DetectImageFormat(EncodePng(Image(2, 2))), ImageFormat::Png);
    EXPECT_EQ(DetectImageFormat(EncodeJpeg(Image(2, 2), 90)), ImageFormat::Jpeg);
    EXPECT_EQ(DetectImageFormat(EncodeBmp(Image(2, 2))), ImageFormat::Bmp);
    EXPECT_EQ(DetectImageFormat("GIF89a"), ImageFormat::Unknown);
    EXPECT_EQ(DetectImageFormat(""), ImageFormat::Unknown);
}

TEST(Png, RgbRoundTrip)
{
    const Image img = TestPicture(37, 23);
    EXPECT_EQ(decodeOk(EncodePng(img)).pixels, img.pixels);
}

TEST(Png, PaletteWithTransparency)
{
    PngSpec s;
    s.width = 4;
    s.height = 1;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    s.bitDepth = 2;
    s.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}};
    s.trnsAlpha = {255, 255, 255, 0}; // entry 3 fully transparent
    s.rows = {0b00011011};            // indices 0, 1, 2, 3
    const Image img = decodeOk(WritePng(s));
    ASSERT_EQ(img.width, 4);
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(rgbAt(img, 2, 0), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(rgbAt(img, 3, 0), (std::array<int, 3>{255, 255, 255})); // on white
}

TEST(Png, GreyDepths)
{
    PngSpec s;
    s.width = 8;
    s.height = 1;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.bitDepth = 1;
    s.rows = {0b10100000};
    Image img = decodeOk(WritePng(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(rgbAt(img, 2, 0), (std::array<int, 3>{255, 255, 255}));

    s.width = 2;
    s.bitDepth = 8;
    s.rows = {0x40, 0xC0};
    img = decodeOk(WritePng(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{0x40, 0x40, 0x40}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{0xC0, 0xC0, 0xC0}));

    // Grey with a transparent grey level.
    s.trnsColorSet = true;
    s.trnsColor.gray = 0x40;
    img = decodeOk(WritePng(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{0xC0, 0xC0, 0xC0}));
}

TEST(Png, SixteenBitAndAlphaComposedOnWhite)
{
    PngSpec s;
    s.width = 2;
    s.height = 1;
    s.colorType = PNG_COLOR_TYPE_RGB;
    s.bitDepth = 16;
    s.rows = {0xFF, 0xFF, 0x80, 0x80, 0x00, 0x00, /**/ 0x12, 0x34, 0x00, 0x00, 0xFF, 0xFF};
    Image img = decodeOk(WritePng(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{255, 128, 0}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{0x12, 0, 255}));

    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.bitDepth = 8;
    s.rows = {0, 0, 0, 128, /**/ 10, 20, 30, 255};
    img = decodeOk(WritePng(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{127, 127, 127}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{10, 20, 30}));

    s.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
    s.rows = {0, 0, /**/ 50, 255};
    img = decodeOk(WritePng(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{50, 50, 50}));
}

TEST(Png, InterlacedEqualsPlain)
{
    const Image ref = TestPicture(33, 17);
    PngSpec s;
    s.width = 33;
    s.height = 17;
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 33; ++x) {
            const auto* p = ref.at(x, y);
            s.rows.insert(s.rows.end(), {p[2], p[1], p[0]});
        }
    s.interlaced = true;
    const Bytes file = WritePng(s);
    ASSERT_EQ(byteAt(file, 28), 1); // interlace method in IHDR
    EXPECT_EQ(decodeOk(file).pixels, ref.pixels);
}

// The common pictures go through the quick reader: every filter type, every 8-bit
// colour type, image data split over many chunks, must read exactly.
TEST(Png, EveryFilterAndEightBitColourTypeReadsExactly)
{
    std::mt19937 rng(11);
    const int w = 61, h = 37;
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(w) * h * 4);
    for (auto& v : rgba)
        v = static_cast<std::uint8_t>(rng() % 7 == 0 ? 255 : rng()); // some opaque pixels too
    auto blend = [](int c, int a) { return (c * a + 255 * (255 - a) + 127) / 255; };
    struct Kind {
        const char* name;
        int colorType;
        int channels;
    };
    for (const Kind k : {Kind{"rgb", PNG_COLOR_TYPE_RGB, 3}, Kind{"rgba", PNG_COLOR_TYPE_RGB_ALPHA, 4},
                         Kind{"grey", PNG_COLOR_TYPE_GRAY, 1}, Kind{"grey+alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 2},
                         Kind{"palette", PNG_COLOR_TYPE_PALETTE, 1}}) {
        for (int filter : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH, PNG_ALL_FILTERS}) {
            SCOPED_TRACE(std::string(k.name) + " filter " + std::to_string(filter));
            PngSpec s;
            s.width = w;
            s.height = h;
            s.colorType = k.colorType;
            s.filter = filter;
            Image want(w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * w + x) * 4];
                    int r = p[0], g = p[1], b = p[2], a = p[3];
                    switch (k.channels) {
                    case 3: a = 255; s.rows.insert(s.rows.end(), {p[0], p[1], p[2]}); break;
                    case 4: s.rows.insert(s.rows.end(), {p[0], p[1], p[2], p[3]}); break;
                    case 2: g = b = r; s.rows.insert(s.rows.end(), {p[0], p[3]}); break;
                    default:
                        if (k.colorType == PNG_COLOR_TYPE_GRAY) {
                            g = b = r;
                            a = 255;
                        } else { // index = red % 16; the palette's entry 3 is half transparent
                            const int i = p[0] % 16;
                            r = i * 16;
                            g = 255 - i * 16;
                            b = i * 5;
                            a = i == 3 ? 128 : 255;
                            s.rows.push_back(static_cast<std::uint8_t>(i));
                            break;
                        }
                        s.rows.push_back(p[0]);
                    }
                    want.setPixel(x, y, static_cast<std::uint8_t>(blend(r, a)), static_cast<std::uint8_t>(blend(g, a)),
                                  static_cast<std::uint8_t>(blend(b, a)));
                }
            if (k.colorType == PNG_COLOR_TYPE_PALETTE) {
                for (int i = 0; i < 16; ++i)
                    s.palette.push_back({static_cast<png_byte>(i * 16), static_cast<png_byte>(255 - i * 16),
                                         static_cast<png_byte>(i * 5)});
                s.trnsAlpha = {255, 255, 255, 128};
            }
            const Bytes file = WritePng(s);
            ASSERT_FALSE(file.empty());
            const Image img = decodeOk(file);
            ASSERT_EQ(img.width, w);
            EXPECT_EQ(img.pixels, want.pixels);
        }
    }
    // Many image data chunks (libpng writes them 8 KiB each).
    const Image big = TestPicture(300, 200);
    const Bytes file = EncodePng(big, 0);
    std::size_t chunks = 0;
    for (std::size_t at = file.find("IDAT"); at != std::string::npos; at = file.find("IDAT", at + 4))
        ++chunks;
    EXPECT_GT(chunks, 10u);
    EXPECT_EQ(decodeOk(file).pixels, big.pixels);
}

TEST(Jpeg, GreyAndProgressiveAndRgb)
{
    std::vector<std::uint8_t> grey(16 * 8, 0x80);
    Image img = decodeOk(WriteJpeg(16, 8, 1, grey));
    ASSERT_EQ(img.width, 16);
    EXPECT_NEAR(rgbAt(img, 3, 3)[0], 0x80, 2);
    EXPECT_EQ(rgbAt(img, 3, 3)[0], rgbAt(img, 3, 3)[2]);

    std::vector<std::uint8_t> red;
    for (int i = 0; i < 32 * 16; ++i)
        red.insert(red.end(), {250, 10, 10});
    for (bool progressive : {false, true}) {
        img = decodeOk(WriteJpeg(32, 16, 3, red, 95, progressive));
        ASSERT_EQ(img.height, 16);
        const auto px = rgbAt(img, 10, 10);
        EXPECT_NEAR(px[0], 250, 6);
        EXPECT_NEAR(px[1], 10, 6);
        EXPECT_NEAR(px[2], 10, 6);
    }
}

TEST(Jpeg, DctScalingKeepsAtLeastTheAskedSize)
{
    const Bytes jpg = EncodeJpeg(TestPicture(1600, 960), 90);
    DecodeOptions opt;
    opt.atLeast = [](PixelSize declared) {
        EXPECT_EQ(declared, (PixelSize{1600, 960}));
        return PixelSize{400, 240};
    };
    Image img;
    std::string error;
    PixelSize declared;
    ASSERT_TRUE(DecodeJpeg(jpg, img, error, opt, &declared)) << error;
    EXPECT_EQ(declared, (PixelSize{1600, 960}));
    EXPECT_EQ(img.width, 400);
    EXPECT_EQ(img.height, 240);

    opt.atLeast = [](PixelSize) { return PixelSize{401, 1}; };
    ASSERT_TRUE(DecodeJpeg(jpg, img, error, opt, &declared));
    EXPECT_EQ(img.width, 800); // of 1/8, 1/4, 1/2: 1/2 is the smallest that covers 401
    opt.atLeast = [](PixelSize) { return PixelSize{5000, 5000}; };
    ASSERT_TRUE(DecodeJpeg(jpg, img, error, opt, &declared));
    EXPECT_EQ(img.width, 1600); // never enlarged
}

TEST(Bmp, PaletteDepthsAndOrientation)
{
    // 8-bit, 3 × 2, bottom-up: the first stored row is the bottom one.
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bpp = 8;
    s.colorsUsed = 3;
    s.palette = {0x00FF0000, 0x0000FF00, 0x000000FF};
    s.pixelData = bytesOf({0, 1, 2, 0, /**/ 2, 2, 1, 0});
    Image img = decodeOk(WriteBmp(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(rgbAt(img, 2, 0), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(rgbAt(img, 0, 1), (std::array<int, 3>{255, 0, 0}));

    s.height = -2; // top-down: the first stored row is the top one
    img = decodeOk(WriteBmp(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(rgbAt(img, 0, 1), (std::array<int, 3>{0, 0, 255}));

    // 1-bit and 4-bit.
    s.bpp = 1;
    s.height = 1;
    s.width = 9;
    s.colorsUsed = 0;
    s.palette = {0x00000000, 0x00FFFFFF};
    s.pixelData = bytesOf({0b10000000, 0b10000000, 0, 0});
    img = decodeOk(WriteBmp(s));
    EXPECT_EQ(rgbAt(img, 0, 0)[0], 255);
    EXPECT_EQ(rgbAt(img, 1, 0)[0], 0);
    EXPECT_EQ(rgbAt(img, 8, 0)[0], 255);

    s.bpp = 4;
    s.width = 3;
    s.palette = std::vector<std::uint32_t>(16, 0);
    s.palette[5] = 0x00102030;
    s.pixelData = bytesOf({0x05, 0x50, 0, 0});
    img = decodeOk(WriteBmp(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{0x10, 0x20, 0x30}));
    EXPECT_EQ(rgbAt(img, 2, 0), (std::array<int, 3>{0x10, 0x20, 0x30}));
}

TEST(Bmp, ThirtyTwoBitPlainAndBitfields)
{
    BmpSpec s;
    s.width = 2;
    s.height = -1;
    s.bpp = 32;
    s.pixelData = bytesOf({1, 2, 3, 0, /**/ 4, 5, 6, 0xFF}); // B G R X
    Image img = decodeOk(WriteBmp(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{3, 2, 1}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{6, 5, 4}));

    // Bit fields with red in the lowest byte and 4-bit green.
    s.compression = 3;
    s.masks = {0x000000FF, 0x00000F00, 0x00FF0000};
    s.pixelData = bytesOf({0x11, 0x0F, 0x33, 0, /**/ 0xFF, 0x00, 0x00, 0});
    img = decodeOk(WriteBmp(s));
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{0x11, 255, 0x33}));
    EXPECT_EQ(rgbAt(img, 1, 0), (std::array<int, 3>{0xFF, 0, 0}));

    // The same masks inside a 108-byte header.
    s.headerSize = 108;
    s.masks.clear(); // WriteBmp would put them after the header; here they go inside it
    Bytes file = WriteBmp(s);
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t m = i == 0 ? 0x000000FF : i == 1 ? 0x00000F00 : 0x00FF0000;
        for (int k = 0; k < 4; ++k)
            file[54 + 4 * i + k] = static_cast<char>((m >> (8 * k)) & 0xFF);
    }
    img = decodeOk(file);
    EXPECT_EQ(rgbAt(img, 0, 0), (std::array<int, 3>{0x11, 255, 0x33}));
}

TEST(Load, ByContentWhateverTheName)
{
    const std::string path = ::testing::TempDir() + "/tarsel-really-a-png.jpg";
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(path, EncodePng(TestPicture(5, 4)), error));
    Image img;
    EXPECT_TRUE(LoadImageFile(path, img, error)) << error;
    EXPECT_EQ(img.width, 5);
    std::remove(path.c_str());
    EXPECT_FALSE(LoadImageFile(path, img, error));
    EXPECT_NE(error.find("Cannot open"), std::string::npos);
    EXPECT_EQ(img.width, 5); // untouched on failure
}

} // namespace
} // namespace tarsel
