// BMP as paint programs write it: one known pixel array laid out in every variant
// (palettes, 16 and 32 bits, bit fields, OS/2 and v2..v5 headers, RLE8 and RLE4,
// both row orders) must decode to exactly that array; and files written or decoded
// by an independent decoder (tests/data/bmp, see make-fixtures there) must match.
#include "pictures/codecs.h"
#include "pictures/image.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>

namespace tarsel {
namespace {

constexpr int W = 13, H = 7;

struct Rgb {
    std::uint8_t r, g, b;
};

// Channels every coding keeps exactly: 0, 132 (5-bit 16) and 255; green only 0
// and 255, which 5 and 6 bits both keep.
const std::array<Rgb, 16> kPalette = {{{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                       {132, 0, 132}, {255, 255, 0}, {0, 255, 255}, {132, 255, 0}, {255, 0, 132},
                                       {0, 0, 132}, {132, 0, 0}, {132, 255, 255}, {255, 255, 132}, {0, 255, 132},
                                       {132, 0, 255}}};

// Runs of one index, stretches that change at every pixel, a row of index 0 and a
// stretch of index 0 inside rows (what the run-length delta skips).
int indexAt(int x, int y)
{
    if (y == 2 || (y >= 4 && x >= 5 && x < 9))
        return 0;
    if (y % 3 == 0)
        return 1 + (x / 4 + y) % 15;
    return 1 + (x * 7 + y * 3) % 15;
}

Image expected()
{
    Image img(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Rgb c = kPalette[static_cast<std::size_t>(indexAt(x, y))];
            img.setPixel(x, y, c.r, c.g, c.b);
        }
    return img;
}

void le16(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>(v >> 8 & 0xFF));
}
void le32(Bytes& b, std::uint32_t v)
{
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}

// A Windows or OS/2 info header of `size` bytes; masks go inside it (from byte 40)
// when it is large enough, else the caller puts them after it.
Bytes infoHeader(std::uint32_t size, std::int32_t width, std::int32_t height, int bpp, std::uint32_t compression,
                 std::uint32_t colors = 0, std::vector<std::uint32_t> masks = {})
{
    Bytes h;
    if (size == 12) {
        le32(h, 12);
        le16(h, static_cast<std::uint32_t>(width));
        le16(h, static_cast<std::uint32_t>(height));
        le16(h, 1);
        le16(h, static_cast<std::uint32_t>(bpp));
        return h;
    }
    le32(h, size);
    le32(h, static_cast<std::uint32_t>(width));
    le32(h, static_cast<std::uint32_t>(height));
    le16(h, 1);
    le16(h, static_cast<std::uint32_t>(bpp));
    if (size == 16)
        return h;
    le32(h, compression);
    le32(h, 0);
    le32(h, 2835);
    le32(h, 2835);
    le32(h, colors);
    le32(h, 0);
    if (size > 40)
        for (auto m : masks)
            le32(h, m);
    h.resize(size, '\0');
    return h;
}

Bytes file(const Bytes& header, const Bytes& tables, const Bytes& pixels)
{
    Bytes f = "BM";
    const auto offset = static_cast<std::uint32_t>(14 + header.size() + tables.size());
    le32(f, offset + static_cast<std::uint32_t>(pixels.size()));
    le32(f, 0);
    le32(f, offset);
    return f + header + tables + pixels;
}

Bytes palette(int entrySize, int count = 16)
{
    Bytes p;
    for (int i = 0; i < count; ++i) {
        const Rgb c = kPalette[static_cast<std::size_t>(i)];
        p += {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r)};
        if (entrySize == 4)
            p.push_back('\0');
    }
    return p;
}

// Stored rows, bottom row first unless top-down, each padded to 4 bytes.
Bytes rows(bool topDown, const std::function<Bytes(int y)>& row)
{
    Bytes out;
    for (int i = 0; i < H; ++i) {
        Bytes r = row(topDown ? i : H - 1 - i);
        r.append((4 - r.size() % 4) % 4, '\0');
        out += r;
    }
    return out;
}

Bytes indexRow(int bpp, int y)
{
    Bytes r;
    const int perByte = 8 / bpp;
    for (int x = 0; x < W; x += perByte) {
        unsigned byte = 0;
        for (int i = 0; i < perByte; ++i)
            byte = byte << bpp | static_cast<unsigned>(x + i < W ? indexAt(x + i, y) : 0);
        r.push_back(static_cast<char>(byte));
    }
    return r;
}

// Each channel put into its mask, scaled from 0..255 to the mask's range.
std::uint32_t packed(Rgb c, std::uint32_t rm, std::uint32_t gm, std::uint32_t bm)
{
    auto put = [](std::uint8_t v, std::uint32_t mask) -> std::uint32_t {
        if (mask == 0)
            return 0;
        const int shift = __builtin_ctz(mask);
        const std::uint64_t max = mask >> shift;
        return static_cast<std::uint32_t>((v * max + 127) / 255) << shift;
    };
    return put(c.r, rm) | put(c.g, gm) | put(c.b, bm);
}

Bytes maskedRow(int bytesPerPixel, int y, std::uint32_t rm, std::uint32_t gm, std::uint32_t bm)
{
    Bytes r;
    for (int x = 0; x < W; ++x) {
        const std::uint32_t px = packed(kPalette[static_cast<std::size_t>(indexAt(x, y))], rm, gm, bm);
        if (bytesPerPixel == 2)
            le16(r, px);
        else
            le32(r, px);
    }
    return r;
}

// Run-length data for the known picture: encoded runs, absolute runs of `absolute`
// changing pixels (odd counts test RLE4's half-filled bytes and the 16-bit padding),
// deltas over index 0 (a whole row too), end of line and end of picture.
Bytes rleData(bool rle4, int absolute)
{
    Bytes out;
    auto pixelByte = [&](int a, int b) { return static_cast<char>(rle4 ? (a << 4 | b) : a); };
    for (int i = 0; i < H; ++i) {
        const int y = H - 1 - i;
        const bool last = i == H - 1;
        int x = 0;
        while (x < W) {
            int zeros = 0;
            while (x + zeros < W && indexAt(x + zeros, y) == 0)
                ++zeros;
            if (x + zeros == W)
                break; // the rest of the row is index 0: end the line here
            if (zeros > 0) {
                out += {0, 2, static_cast<char>(zeros), 0};
                x += zeros;
                continue;
            }
            int n = 1;
            while (x + n < W && indexAt(x + n, y) == indexAt(x, y))
                ++n;
            bool changing = n == 1 && x + absolute <= W;
            for (int k = 0; changing && k < absolute; ++k)
                changing = indexAt(x + k, y) != 0;
            if (changing) {
                Bytes data;
                for (int k = 0; k < absolute; k += rle4 ? 2 : 1)
                    data.push_back(pixelByte(indexAt(x + k, y), rle4 && k + 1 < absolute ? indexAt(x + k + 1, y) : 0));
                out += {0, static_cast<char>(absolute)};
                out += data;
                if (data.size() % 2)
                    out.push_back('\0');
                x += absolute;
            } else {
                out += {static_cast<char>(n), pixelByte(indexAt(x, y), indexAt(x, y))};
                x += n;
            }
        }
        if (x == 0 && !last && [&] { for (int k = 0; k < W; ++k) if (indexAt(k, y)) return false; return true; }())
            out += {0, 2, 0, 1}; // a row of index 0: one row up
        else
            out += last ? Bytes{0, 1} : Bytes{0, 0};
    }
    return out;
}

std::string diff(const Image& got, const Image& want, int tolerance = 0)
{
    if (got.width != want.width || got.height != want.height)
        return "size " + std::to_string(got.width) + "x" + std::to_string(got.height);
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            for (int c = 0; c < 3; ++c)
                if (std::abs(got.at(x, y)[c] - want.at(x, y)[c]) > tolerance)
                    return "pixel " + std::to_string(x) + "," + std::to_string(y) + " channel " + std::to_string(c) +
                           ": " + std::to_string(got.at(x, y)[c]) + " instead of " + std::to_string(want.at(x, y)[c]);
    return {};
}

Image decode(const Bytes& content)
{
    Image img;
    std::string error;
    EXPECT_TRUE(DecodeImage(content, img, error)) << error;
    return img;
}

TEST(BmpVariants, EveryLayoutOfOnePictureDecodesToIt)
{
    const Image want = expected();
    const auto r555 = [](int y) { return maskedRow(2, y, 0x7C00, 0x03E0, 0x001F); };
    struct Variant {
        std::string name;
        Bytes content;
    };
    std::vector<Variant> variants;
    for (bool topDown : {false, true}) {
        const std::int32_t h = topDown ? -H : H;
        const std::string order = topDown ? " top-down" : " bottom-up";
        auto add = [&](const std::string& name, Bytes content) {
            variants.push_back({name + order, std::move(content)});
        };
        add("4-bit", file(infoHeader(40, W, h, 4, 0, 16), palette(4), rows(topDown, [](int y) { return indexRow(4, y); })));
        add("8-bit", file(infoHeader(40, W, h, 8, 0, 16), palette(4), rows(topDown, [](int y) { return indexRow(8, y); })));
        add("8-bit, full table", file(infoHeader(40, W, h, 8, 0, 0), palette(4) + Bytes(240 * 4, '\0'),
                                      rows(topDown, [](int y) { return indexRow(8, y); })));
        add("16-bit 5-5-5", file(infoHeader(40, W, h, 16, 0), "", rows(topDown, r555)));
        add("16-bit 5-6-5 bit fields", file(infoHeader(40, W, h, 16, 3), Bytes("\x00\xF8\0\0\xE0\x07\0\0\x1F\0\0\0", 12),
                                            rows(topDown, [](int y) { return maskedRow(2, y, 0xF800, 0x07E0, 0x001F); })));
        add("16-bit 5-5-5 bit fields, v3 header", file(infoHeader(56, W, h, 16, 3, 0, {0x7C00, 0x03E0, 0x001F, 0}), "",
                                                       rows(topDown, r555)));
        add("24-bit", file(infoHeader(40, W, h, 24, 0), "", rows(topDown, [](int y) {
                               Bytes r;
                               for (int x = 0; x < W; ++x) {
                                   const Rgb c = kPalette[static_cast<std::size_t>(indexAt(x, y))];
                                   r += {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r)};
                               }
                               return r;
                           })));
        add("32-bit", file(infoHeader(40, W, h, 32, 0), "",
                           rows(topDown, [](int y) { return maskedRow(4, y, 0xFF0000, 0xFF00, 0xFF); })));
        add("32-bit x-b-g-r bit fields, v4 header",
            file(infoHeader(108, W, h, 32, 3, 0, {0xFF000000, 0xFF0000, 0xFF00, 0}), "",
                 rows(topDown, [](int y) { return maskedRow(4, y, 0xFF000000, 0xFF0000, 0xFF00); })));
        add("32-bit r-g-b-x bit fields, v2 header", file(infoHeader(52, W, h, 32, 3, 0, {0xFF, 0xFF00, 0xFF0000}), "",
                                                         rows(topDown, [](int y) { return maskedRow(4, y, 0xFF, 0xFF00, 0xFF0000); })));
        // 10 bits a channel and a 2-bit alpha that is zero everywhere: opaque.
        add("32-bit 10-10-10 bit fields, v5 header, unused alpha",
            file(infoHeader(124, W, h, 32, 3, 0, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}), "",
                 rows(topDown, [](int y) { return maskedRow(4, y, 0x3FF00000, 0xFFC00, 0x3FF); })));
        add("24-bit, v5 header (masks not used)", file(infoHeader(124, W, h, 24, 0, 0, {1, 2, 4, 8}), "",
                                                       rows(topDown, [](int y) {
                                                           Bytes r = maskedRow(4, y, 0xFF0000, 0xFF00, 0xFF);
                                                           Bytes out;
                                                           for (std::size_t i = 0; i < r.size(); i += 4)
                                                               out += r.substr(i, 3);
                                                           return out;
                                                       })));
        add("OS/2 2.x 64-byte header, 8-bit", file(infoHeader(64, W, h, 8, 0, 16), palette(4),
                                                   rows(topDown, [](int y) { return indexRow(8, y); })));
        add("OS/2 2.x 16-byte header, 32-bit", file(infoHeader(16, W, h, 32, 0), "",
                                                    rows(topDown, [](int y) { return maskedRow(4, y, 0xFF0000, 0xFF00, 0xFF); })));
    }
    variants.push_back({"OS/2 1.x 12-byte header, 4-bit",
                        file(infoHeader(12, W, H, 4, 0), palette(3), rows(false, [](int y) { return indexRow(4, y); }))});
    variants.push_back({"OS/2 1.x 12-byte header, 8-bit, full table",
                        file(infoHeader(12, W, H, 8, 0), palette(3) + Bytes(240 * 3, '\0'),
                             rows(false, [](int y) { return indexRow(8, y); }))});
    for (int absolute : {3, 4, 5}) {
        const std::string n = " (absolute runs of " + std::to_string(absolute) + ")";
        const Bytes r8 = rleData(false, absolute), r4 = rleData(true, absolute);
        ASSERT_NE(r8.find(Bytes("\0\2", 2)), std::string::npos) << "the data uses deltas";
        variants.push_back({"RLE8" + n, file(infoHeader(40, W, H, 8, 1, 16), palette(4), r8)});
        variants.push_back({"RLE4" + n, file(infoHeader(40, W, H, 4, 2, 16), palette(4), r4)});
        variants.push_back({"RLE4, OS/2 2.x header" + n, file(infoHeader(64, W, H, 4, 2, 16), palette(4), r4)});
    }
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(diff(decode(v.content), want), "");
    }
}

TEST(BmpVariants, WideAndNarrowBitFieldsScaleWithoutOverflow)
{
    // A 28-bit red field: the old reader's 32-bit product overflowed here.
    const Bytes header = infoHeader(56, 3, 1, 32, 3, 0, {0xFFFFFFF0, 0x0C, 0x03, 0});
    Bytes px;
    le32(px, 0x80000000u | 2u << 2 | 1u); // red half way, green 2 of 3, blue 1 of 3
    le32(px, 0xFFFFFFF0u | 3u << 2 | 3u);
    le32(px, 0x00000010u);                // red 1 of 2^28 - 1
    const Image img = decode(file(header, "", px));
    ASSERT_EQ(img.width, 3);
    EXPECT_EQ((std::array<int, 3>{img.at(0, 0)[2], img.at(0, 0)[1], img.at(0, 0)[0]}), (std::array<int, 3>{128, 170, 85}));
    EXPECT_EQ((std::array<int, 3>{img.at(1, 0)[2], img.at(1, 0)[1], img.at(1, 0)[0]}), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(img.at(2, 0)[2], 0);

    // One field of all 32 bits.
    le32(px = "", 0xFFFFFFFFu);
    le32(px, 0x7FFFFFFFu);
    const Image full = decode(file(infoHeader(108, 2, 1, 32, 3, 0, {0xFFFFFFFF, 0, 0, 0}), "", px));
    EXPECT_EQ(full.at(0, 0)[2], 255);
    EXPECT_EQ(full.at(1, 0)[2], 127); // 0x7FFFFFFF / 0xFFFFFFFF of 255 is 127.49
    EXPECT_EQ(full.at(1, 0)[1], 0);
}

TEST(BmpVariants, AlphaIsLaidOnWhite)
{
    // v5 header, 8-8-8-8 with alpha: 128 of red over white, and opaque blue.
    Bytes px;
    le32(px, 0x80FF0000u);
    le32(px, 0xFF0000FFu);
    const Image img = decode(file(infoHeader(124, 2, 1, 32, 3, 0, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}), "", px));
    EXPECT_EQ((std::array<int, 3>{img.at(0, 0)[2], img.at(0, 0)[1], img.at(0, 0)[0]}), (std::array<int, 3>{255, 127, 127}));
    EXPECT_EQ((std::array<int, 3>{img.at(1, 0)[2], img.at(1, 0)[1], img.at(1, 0)[0]}), (std::array<int, 3>{0, 0, 255}));

    // 1-5-5-5 with the alpha bit-field coding after a 40-byte header: the clear
    // pixel is white, the set one its colour.
    Bytes px16;
    le16(px16, 0x7C00);          // red, alpha 0
    le16(px16, 0x8000 | 0x001F); // blue, alpha 1
    Bytes masks;
    for (std::uint32_t m : {0x7C00u, 0x03E0u, 0x001Fu, 0x8000u})
        le32(masks, m);
    const Image a16 = decode(file(infoHeader(40, 2, 1, 16, 6), masks, px16));
    EXPECT_EQ((std::array<int, 3>{a16.at(0, 0)[2], a16.at(0, 0)[1], a16.at(0, 0)[0]}), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ((std::array<int, 3>{a16.at(1, 0)[2], a16.at(1, 0)[1], a16.at(1, 0)[0]}), (std::array<int, 3>{0, 0, 255}));
}

TEST(BmpVariants, RunLengthDataStaysInsideThePicture)
{
    // Runs longer than the row, deltas past the right edge and past the top, and
    // codes after the last row: nothing is written outside, nothing crashes.
    const Bytes data = bytesOf({200, 0x12, /* a run far past the row */
                                0, 2, 250, 0, /* right, outside */ 3, 0x34, /* still outside */
                                0, 0,         /* next row */
                                0, 3, 0x05, 0x06, 0x07, 0, /* absolute, padded */
                                0, 2, 0, 200, /* far past the top */ 9, 0x01, 0, 1});
    const Image img = decode(file(infoHeader(40, 4, 2, 8, 1, 16), palette(4), data));
    ASSERT_EQ(img.width, 4);
    // Bottom row (stored first): index 0x12 is beyond the 16 given colours: black.
    EXPECT_EQ(img.at(0, 1)[0], 0);
    const Rgb five = kPalette[5], seven = kPalette[7];
    EXPECT_EQ(img.at(0, 0)[2], five.r);
    EXPECT_EQ(img.at(2, 0)[0], seven.b);
    EXPECT_EQ(img.at(3, 0)[2], kPalette[0].r); // never written: index 0

    // A picture too large to hold is refused before anything is allocated for it,
    // however little data describes it.
    Image big;
    std::string error;
    EXPECT_FALSE(DecodeImage(file(infoHeader(40, 9000, 9000, 8, 1, 16), palette(4), bytesOf({0, 1})), big, error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
}

// Files written by Pillow, or laid out by hand and decoded by Pillow: the reader
// matches Pillow's decode (one step allowed where Pillow truncates bit-field scaling).
TEST(BmpVariants, MatchTheIndependentReferenceDecodes)
{
    struct Fixture {
        const char* name;
        int tolerance;
    };
    const Fixture fixtures[] = {
        {"pillow-bilevel1", 0}, {"pillow-grey8", 0}, {"pillow-palette8", 0}, {"pillow-rgb24", 0},
        {"pillow-rgba32", 0},   {"rgb555", 1},       {"bitfields565", 1},    {"v4-xbgr32", 0},
        {"v5-bgra32", 0},       {"os2-core4", 0},    {"os2-v2-palette8", 0}, {"rle8", 0},
        {"rle4", 0},            {"topdown-rgb24", 0},
    };
    const std::string dir = std::string(TARSEL_SOURCE_DIR) + "/tests/data/bmp/";
    for (const auto& f : fixtures) {
        SCOPED_TRACE(f.name);
        const Bytes bmp = ReadFileBytes(dir + f.name + ".bmp");
        const Bytes ppm = ReadFileBytes(dir + f.name + ".ppm");
        ASSERT_FALSE(bmp.empty());
        const std::string head = "P6\n13 7\n255\n";
        ASSERT_EQ(ppm.substr(0, head.size()), head);
        Image want(W, H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const auto* p = reinterpret_cast<const std::uint8_t*>(ppm.data()) + head.size() + 3 * (y * W + x);
                want.setPixel(x, y, p[0], p[1], p[2]);
            }
        Image img;
        std::string error;
        ASSERT_TRUE(DecodeBmp(bmp, img, error)) << error;
        EXPECT_EQ(diff(img, want, f.tolerance), "");
    }
}

} // namespace
} // namespace tarsel
