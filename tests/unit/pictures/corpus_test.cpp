// Bad input: every file a user may hand the conversion window or the QR button.
// Each either decodes or gives a clear message; none crashes, hangs or allocates
// memory for pixels it does not have (the sanitizer build runs these too).
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "pictures/image.h"
#include "unit/pictures/picture_files.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <random>

#include <sys/stat.h>

namespace tarsel {
namespace {

using namespace testpics;

struct Case {
    std::string name;
    Bytes content;
    std::string messagePart; // empty: the file must decode
};

Bytes validPng() { return EncodePng(TestPicture(64, 48)); }
Bytes validJpeg() { return EncodeJpeg(TestPicture(64, 48), 90); }
Bytes validBmp() { return EncodeBmp(TestPicture(64, 48)); }

Bytes withByte(Bytes b, std::size_t at, std::uint8_t v)
{
    if (at < b.size())
        b.replace(at, 1, 1, static_cast<char>(v));
    return b;
}

// The JPEG with the frame header's height and width replaced.
Bytes jpegDeclaring(unsigned width, unsigned height)
{
    Bytes b = validJpeg();
    const auto sof = b.find("\xFF\xC0");
    b[sof + 5] = static_cast<char>(height >> 8);
    b[sof + 6] = static_cast<char>(height & 0xFF);
    b[sof + 7] = static_cast<char>(width >> 8);
    b[sof + 8] = static_cast<char>(width & 0xFF);
    return b;
}

Bytes bmpWith(void (*edit)(BmpSpec&))
{
    BmpSpec s;
    s.width = 4;
    s.height = 2;
    s.pixelData = Bytes(24, '\x40');
    edit(s);
    return WriteBmp(s);
}

std::vector<Case> corpus()
{
    const Bytes png = validPng();
    const Bytes jpg = validJpeg();
    const Bytes bmp = validBmp();
    const auto idat = png.find("IDAT");
    std::vector<Case> cases = {
        {"empty file", "", "empty"},
        {"text", "Hello, this is not a picture at all.\n", "not a PNG, JPEG or BMP"},
        {"gif", "GIF89a\x01\x00\x01\x00\x00\x00\x00;", "not a PNG, JPEG or BMP"},
        {"png signature only", png.substr(0, 8), "truncated"},
        {"png truncated in header", png.substr(0, 20), "truncated"},
        {"png truncated in data", png.substr(0, png.size() / 2), "truncated"},
        {"png without its end", png.substr(0, png.size() - 12), ""},
        {"png damaged data", withByte(png, idat + 20, static_cast<std::uint8_t>(png[idat + 20] ^ 0x55)), "PNG"},
        {"png damaged header crc", withByte(png, 29, static_cast<std::uint8_t>(png[29] ^ 1)), "PNG"},
        {"png 100000 x 100000", PngDeclaring(100000, 100000), "too large"},
        {"png 2^31-1 wide", PngDeclaring(0x7FFFFFFF, 1), "PNG"},
        {"png 8000 x 7000", PngDeclaring(8000, 7000), "too large"},
        {"png zero width", PngDeclaring(0, 10), "PNG"},
        {"png 1 x 1 without data", PngDeclaring(1, 1), "PNG"},
        {"jpeg soi only", jpg.substr(0, 2), "JPEG"},
        {"jpeg header only", jpg.substr(0, jpg.find("\xFF\xDA")), "JPEG"},
        {"jpeg truncated in data", jpg.substr(0, jpg.size() * 2 / 3), "truncated"},
        {"jpeg garbage after soi", Bytes("\xFF\xD8\xFF", 3) + Bytes(200, '\x5A'), "JPEG"},
        {"jpeg 65000 x 65000", jpegDeclaring(65000, 65000), "too large"},
        {"jpeg zero height", jpegDeclaring(64, 0), "JPEG"},
        {"jpeg zero width", jpegDeclaring(0, 48), "JPEG"},
        {"bmp magic only", "BM", "truncated"},
        {"bmp truncated header", bmp.substr(0, 30), "truncated"},
        {"bmp truncated pixels", bmp.substr(0, bmp.size() - 1), "truncated"},
        {"bmp 2^31 wide", bmpWith([](BmpSpec& s) { s.width = INT32_MIN; }), "no pixels"},
        {"bmp height INT_MIN", bmpWith([](BmpSpec& s) { s.height = INT32_MIN; }), "too large"},
        {"bmp 100000 x 100000", bmpWith([](BmpSpec& s) { s.width = s.height = 100000; }), "too large"},
        {"bmp 7000 x 7000 without data", bmpWith([](BmpSpec& s) { s.width = s.height = 7000; }), "truncated"},
        {"bmp zero width", bmpWith([](BmpSpec& s) { s.width = 0; }), "no pixels"},
        {"bmp two planes", bmpWith([](BmpSpec& s) { s.planes = 2; }), "planes"},
        {"bmp 16-bit", bmpWith([](BmpSpec& s) { s.bpp = 16; }), ""},
        {"bmp 7-bit", bmpWith([](BmpSpec& s) { s.bpp = 7; }), "not supported"},
        {"bmp rle8 at 24 bits", bmpWith([](BmpSpec& s) { s.compression = 1; }), "does not go with"},
        {"bmp rle4 at 8 bits", bmpWith([](BmpSpec& s) { s.bpp = 8; s.compression = 2; }), "does not go with"},
        {"bmp rle8 absolute run past the end", bmpWith([](BmpSpec& s) { s.bpp = 8; s.compression = 1; s.colorsUsed = 2; s.palette = {0, 0xFFFFFF}; s.pixelData = bytesOf({0, 40, 1, 1}); }), "truncated"},
        {"bmp rle4 delta past the end", bmpWith([](BmpSpec& s) { s.bpp = 4; s.compression = 2; s.colorsUsed = 2; s.palette = {0, 0xFFFFFF}; s.pixelData = bytesOf({0, 2, 1}); }), "truncated"},
        {"bmp os/2 huffman", bmpWith([](BmpSpec& s) { s.headerSize = 64; s.bpp = 1; s.compression = 3; s.palette = {0, 0xFFFFFF}; }), "Huffman"},
        {"bmp os/2 rle24", bmpWith([](BmpSpec& s) { s.headerSize = 64; s.compression = 4; }), "run-length"},
        {"bmp jpeg inside", bmpWith([](BmpSpec& s) { s.compression = 4; }), "not supported"},
        {"bmp 16-bit mask past 16 bits", bmpWith([](BmpSpec& s) { s.bpp = 16; s.compression = 3; s.masks = {0x1F0000, 0x7E0, 0x1F}; }), "masks"},
        {"bmp 24-bit bitfields", bmpWith([](BmpSpec& s) { s.compression = 3; }), "not supported"},
        {"bmp zero masks", bmpWith([](BmpSpec& s) { s.bpp = 32; s.compression = 3; s.masks = {0, 0, 0}; s.pixelData = Bytes(32, 0); }), "masks"},
        {"bmp split mask", bmpWith([](BmpSpec& s) { s.bpp = 32; s.compression = 3; s.masks = {0x0F0F, 0xF0, 0xF00000}; s.pixelData = Bytes(32, 0); }), "masks"},
        {"bmp 300 palette colours", bmpWith([](BmpSpec& s) { s.bpp = 8; s.colorsUsed = 300; s.pixelData = Bytes(8, 0); }), "palette"},
        {"bmp palette past the end", bmpWith([](BmpSpec& s) { s.bpp = 8; s.colorsUsed = 0; s.pixelData.clear(); s.dataOffsetOverride = 60; }), "truncated"},
        {"bmp offset past the end", withByte(withByte(bmp, 12, 0x01), 11, 0x86), "offset"},
        {"bmp offset inside the header", bmpWith([](BmpSpec& s) { s.dataOffsetOverride = 20; }), "offset"},
        {"bmp odd header size", bmpWith([](BmpSpec& s) { s.headerSize = 41; }), "header size"},
        {"bmp header size 2^32-1", withByte(withByte(withByte(withByte(bmp, 14, 0xFF), 15, 0xFF), 16, 0xFF), 17, 0xFF), "header size"},
        {"bmp palette index past the table", bmpWith([](BmpSpec& s) { s.bpp = 8; s.colorsUsed = 1; s.palette = {0xFFFFFF}; s.pixelData = Bytes(8, '\x07'); }), ""},
    };
    return cases;
}

TEST(Corpus, EachFileDecodesOrGivesAClearMessage)
{
    for (const Case& c : corpus()) {
        SCOPED_TRACE(c.name);
        Image img(3, 3, 1, 2, 3);
        const Image before = img;
        std::string error;
        const bool ok = DecodeImage(c.content, img, error);
        if (c.messagePart.empty()) {
            EXPECT_TRUE(ok) << error;
            EXPECT_FALSE(img.empty());
            EXPECT_EQ(img.pixels.size(), std::size_t(img.width) * img.height * 3);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.messagePart), std::string::npos) << "message: " << error;
            EXPECT_EQ(img.pixels, before.pixels) << "the picture must be left as it was";
        }
    }
}

TEST(Corpus, TheQrConverterGivesNothingForBadFiles)
{
    const std::string path = ::testing::TempDir() + "/tarsel-corpus-file";
    for (const Case& c : corpus()) {
        if (c.messagePart.empty())
            continue;
        SCOPED_TRACE(c.name);
        std::string error;
        ASSERT_TRUE(WriteFileAtomic(path, c.content, error));
        EXPECT_TRUE(BitmapTo1bppFile(path, 192, 192).empty());
        Image img;
        EXPECT_FALSE(LoadImageFile(path, img, error));
        EXPECT_NE(error.find(path), std::string::npos) << "the message names the file: " << error;
    }
    std::remove(path.c_str());
}

TEST(Corpus, FolderAndPipeAreNotPictures)
{
    Image img;
    std::string error;
    EXPECT_FALSE(LoadImageFile(::testing::TempDir(), img, error));
    EXPECT_NE(error.find("not a regular file (a folder)"), std::string::npos) << error;
    // A named pipe is refused before it is opened (opening it would wait for a writer).
    const std::string fifo = ::testing::TempDir() + "/tarsel-corpus-pipe.png";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(LoadImageFile(fifo, img, error));
    EXPECT_EQ(error, "Cannot open \"" + fifo + "\": not a regular file (a named pipe)");
    EXPECT_TRUE(BitmapTo1bppFile(fifo, 192, 192).empty());
    std::remove(fifo.c_str());
}

// Random damage to valid files of each kind: whatever happens, the reader returns,
// and a success is a complete picture of a sane size.
TEST(Corpus, RandomDamageNeverCrashes)
{
    std::mt19937 rng(20240611);
    const std::vector<Bytes> bases = {validPng(), validJpeg(), validBmp(),
                                      WriteJpeg(64, 48, 3, std::vector<std::uint8_t>(64 * 48 * 3, 90), 80, true)};
    int decoded = 0, refused = 0;
    for (const Bytes& base : bases) {
        for (int round = 0; round < 300; ++round) {
            Bytes b = base;
            const int edits = 1 + static_cast<int>(rng() % 8);
            for (int e = 0; e < edits; ++e) {
                const std::size_t at = rng() % b.size();
                const unsigned kind = rng() % 16;
                if (kind < 7)
                    b[at] = static_cast<char>(rng());
                else if (kind < 14)
                    b[at] = static_cast<char>(b[at] ^ (1 << (rng() % 8)));
                else if (kind == 14)
                    b.resize(std::max<std::size_t>(at, 2));
                else
                    b.insert(at, Bytes(1 + rng() % 16, static_cast<char>(rng())));
            }
            Image img;
            std::string error;
            if (DecodeImage(b, img, error)) {
                ++decoded;
                ASSERT_FALSE(img.empty());
                ASSERT_LE(std::int64_t(img.width) * img.height, kMaxImagePixels);
                ASSERT_EQ(img.pixels.size(), std::size_t(img.width) * img.height * 3);
            } else {
                ++refused;
                ASSERT_FALSE(error.empty());
            }
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(decoded, 0);
    EXPECT_GT(decoded + refused, 1000);
}

} // namespace
} // namespace tarsel
