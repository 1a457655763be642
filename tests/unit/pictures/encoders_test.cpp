#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "unit/pictures/picture_files.h"

#include "util/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tarsel {
namespace {

using testpics::TestPicture;

Image onePixel(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    Image img(1, 1);
    img.setPixel(0, 0, r, g, b);
    return img;
}

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/tarsel-pictures-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

TEST(Rgb565, KnownColoursLowByteFirst)
{
    EXPECT_EQ(BitmapToRgb565Bytes(onePixel(255, 255, 255), 1, 1), bytesOf({0xFF, 0xFF}));
    EXPECT_EQ(BitmapToRgb565Bytes(onePixel(255, 0, 0), 1, 1), bytesOf({0x00, 0xF8}));
    EXPECT_EQ(BitmapToRgb565Bytes(onePixel(0, 255, 0), 1, 1), bytesOf({0xE0, 0x07}));
    EXPECT_EQ(BitmapToRgb565Bytes(onePixel(0, 0, 255), 1, 1), bytesOf({0x1F, 0x00}));
    EXPECT_EQ(BitmapToRgb565Bytes(onePixel(7, 3, 7), 1, 1), bytesOf({0x00, 0x00}));
    // Truncation, not rounding: 0x0F red -> 1, 0x0B green -> 2, 0xFF blue -> 31.
    EXPECT_EQ(BitmapToRgb565Bytes(onePixel(0x0F, 0x0B, 0xFF), 1, 1), bytesOf({0x5F, 0x08}));
}

TEST(Rgb565, RowsTopToBottomLeftToRightAndOnlyTheAskedSize)
{
    Image img(3, 2, 0, 0, 0);
    img.setPixel(1, 0, 255, 0, 0); // second pixel of the top row
    img.setPixel(0, 1, 0, 0, 255); // first pixel of the second row
    img.setPixel(2, 1, 255, 255, 255);
    EXPECT_EQ(BitmapToRgb565Bytes(img, 3, 2), bytesOf({0, 0, 0x00, 0xF8, 0, 0, 0x1F, 0x00, 0, 0, 0xFF, 0xFF}));
    // A 2 × 1 window of the same picture: the top-left corner only.
    EXPECT_EQ(BitmapToRgb565Bytes(img, 2, 1), bytesOf({0, 0, 0x00, 0xF8}));
    // Never past the picture.
    EXPECT_EQ(BitmapToRgb565Bytes(img, 10, 10).size(), 12u);
}

TEST(Rgb565, ScreenSizes)
{
    EXPECT_EQ(BitmapToRgb565Bytes(Image(800, 480), 800, 480).size(), 768000u);
    EXPECT_EQ(BitmapToRgb565Bytes(Image(480, 272), 480, 272).size(), 261120u);
}

TEST(Rgb565, FileIsTruncatedAndHoldsTheSameBytes)
{
    TempDir dir;
    const std::string path = dir.file("pic.bin");
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(path, Bytes(5000, 'x'), error));
    const Image img = TestPicture(40, 30);
    ASSERT_TRUE(SaveBitmapRgb565File(img, 40, 30, path, error)) << error;
    EXPECT_EQ(ReadFileBytes(path), BitmapToRgb565Bytes(img, 40, 30));
    EXPECT_FALSE(SaveBitmapRgb565File(img, 40, 30, dir.file("missing/dir/pic.bin"), error));
    EXPECT_NE(error.find("Cannot create"), std::string::npos);
}

TEST(PictureFiles, SavedLikeSettingsFilesThroughLinksAndNeverOntoAPipe)
{
    TempDir dir;
    const Image img = TestPicture(8, 6);
    std::string error;
    // Each of the three kinds replaces the file the link names and keeps the link.
    const std::string real = dir.file("real.pic");
    ASSERT_TRUE(WriteFileAtomic(real, "old", error));
    const std::string link = dir.file("link.bmp");
    ASSERT_EQ(::symlink("real.pic", link.c_str()), 0);
    ASSERT_TRUE(SaveBitmapBmpFile(img, link, error)) << error;
    EXPECT_EQ(ReadFileBytes(real), EncodeBmp(img));
    ASSERT_TRUE(SaveBitmapJpegFile(img, link, error)) << error;
    EXPECT_EQ(ReadFileBytes(real), BitmapToJpegBytes(img, false));
    ASSERT_TRUE(SaveBitmapRgb565File(img, 8, 6, link, error)) << error;
    EXPECT_EQ(ReadFileBytes(real), BitmapToRgb565Bytes(img, 8, 6));
    EXPECT_TRUE(std::filesystem::is_symlink(link));

    // A named pipe is refused and stays a pipe; no temporary file is left.
    const std::string fifo = dir.file("pipe.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(SaveBitmapRgb565File(img, 8, 6, fifo, error));
    EXPECT_EQ(error, "Cannot create \"" + fifo + "\": not a regular file (a named pipe)");
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), std::filesystem::directory_iterator()), 3);
}

TEST(Jpeg, QualityFifteenIsMuchSmallerAndBothDecodeBack)
{
    const Image img = TestPicture(800, 480);
    const Bytes fine = BitmapToJpegBytes(img, false);
    const Bytes small = BitmapToJpegBytes(img, true);
    ASSERT_FALSE(fine.empty());
    ASSERT_FALSE(small.empty());
    EXPECT_LT(small.size() * 2, fine.size());
    for (const Bytes* b : {&fine, &small}) {
        Image back;
        std::string error;
        ASSERT_TRUE(DecodeImage(*b, back, error)) << error;
        EXPECT_EQ(back.width, 800);
        EXPECT_EQ(back.height, 480);
    }
    // Width and height arguments do not matter: the whole picture is encoded.
    EXPECT_EQ(BitmapToJpegBytes(img, 10, 10, true), small);
    EXPECT_EQ(BitmapToJpegBytes(img, 10, 10, false), fine);
}

TEST(Jpeg, DefaultQualityKeepsColoursCloseAndIsFourTwoZero)
{
    const Image img = TestPicture(64, 48);
    const Bytes jpg = BitmapToJpegBytes(img);
    Image back;
    std::string error;
    ASSERT_TRUE(DecodeJpeg(jpg, back, error)) << error;
    long long total = 0;
    for (std::size_t i = 0; i < img.pixels.size(); ++i)
        total += std::abs(int(img.pixels[i]) - int(back.pixels[i]));
    EXPECT_LT(double(total) / img.pixels.size(), 4.0);

    // The SOF0 segment lists the luminance sampling factor 0x22 and chroma 0x11.
    const auto sof = jpg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    EXPECT_EQ(byteAt(jpg, sof + 11), 0x22);
    EXPECT_EQ(byteAt(jpg, sof + 14), 0x11);
    EXPECT_EQ(byteAt(jpg, sof + 17), 0x11);
}

TEST(Bmp, WriterRoundTripsThroughTheReader)
{
    for (int w : {1, 2, 3, 4, 5, 17}) {
        const Image img = TestPicture(w, 7);
        const Bytes bmp = EncodeBmp(img);
        const std::size_t stride = (w * 3 + 3) / 4 * 4;
        EXPECT_EQ(bmp.size(), 54 + stride * 7);
        Image back;
        std::string error;
        ASSERT_TRUE(DecodeBmp(bmp, back, error)) << error;
        EXPECT_EQ(back.pixels, img.pixels) << "width " << w;
    }
}

TEST(Bmp, SaveFiles)
{
    TempDir dir;
    const Image img = TestPicture(30, 20);
    std::string error;
    ASSERT_TRUE(SaveBitmapBmpFile(img, dir.file("a.bmp"), error));
    ASSERT_TRUE(SaveBitmapJpegFile(img, dir.file("a.jpg"), error));
    Image back;
    ASSERT_TRUE(LoadImageFile(dir.file("a.bmp"), back, error)) << error;
    EXPECT_EQ(back.pixels, img.pixels);
    ASSERT_TRUE(LoadImageFile(dir.file("a.jpg"), back, error)) << error;
    EXPECT_EQ(back.width, 30);
}

TEST(OneBit, WhiteIsAllZeroBlackAllOnes)
{
    EXPECT_EQ(BitmapTo1bpp(Image(192, 192, 255, 255, 255), 192, 192), Bytes(4608, '\0'));
    EXPECT_EQ(BitmapTo1bpp(Image(192, 192, 0, 0, 0), 192, 192), Bytes(4608, '\xFF'));
    // Any source size is stretched to the asked size.
    EXPECT_EQ(BitmapTo1bpp(Image(1000, 37, 0, 0, 0), 192, 192), Bytes(4608, '\xFF'));
    EXPECT_EQ(BitmapTo1bpp(Image(3, 3, 0, 0, 0), 192, 192), Bytes(4608, '\xFF'));
}

TEST(OneBit, FirstPixelInTheMostSignificantBitAndRowsNotPadded)
{
    Image img(12, 2);
    img.setPixel(0, 0, 0, 0, 0);
    img.setPixel(9, 0, 0, 0, 0);
    img.setPixel(0, 1, 0, 0, 0); // pixel 12 of the stream: byte 1, fifth bit
    // 24 pixels -> 3 bytes: 1000 0000 | 0100 1000 | 0000 0000
    EXPECT_EQ(BitmapTo1bpp(img, 12, 2), bytesOf({0x80, 0x48, 0x00}));
    // 3 × 3 = 9 pixels: one byte, the ninth bit dropped.
    EXPECT_EQ(BitmapTo1bpp(Image(3, 3, 0, 0, 0), 3, 3), bytesOf({0xFF}));
    EXPECT_TRUE(BitmapTo1bpp(Image(2, 2, 0, 0, 0), 2, 2).empty());
}

TEST(OneBit, ThresholdOnLuminance)
{
    auto bit = [](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        Image img(8, 1, b, g, r);
        return byteAt(BitmapTo1bpp(img, 8, 1), 0);
    };
    EXPECT_EQ(bit(127, 127, 127), 0xFF);
    EXPECT_EQ(bit(128, 128, 128), 0x00);
    EXPECT_EQ(bit(0, 0, 120), 0xFF);  // dark blue reads as black
    EXPECT_EQ(bit(255, 255, 0), 0x00); // yellow reads as white
}

TEST(OneBit, FromFilesOfEachFormat)
{
    TempDir dir;
    Image img(192, 192);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 192; ++x)
            img.setPixel(x, y, 0, 0, 0); // top half black
    std::string error;
    ASSERT_TRUE(SaveBitmapBmpFile(img, dir.file("q.bmp"), error));
    ASSERT_TRUE(WriteFileAtomic(dir.file("q.png"), EncodePng(img), error));
    ASSERT_TRUE(SaveBitmapJpegFile(img, dir.file("q.jpg"), error));
    Bytes expected = Bytes(2304, '\xFF') + Bytes(2304, '\0');
    EXPECT_EQ(BitmapTo1bppFile(dir.file("q.bmp"), 192, 192), expected);
    EXPECT_EQ(BitmapTo1bppFile(dir.file("q.png"), 192, 192), expected);
    EXPECT_EQ(BitmapTo1bppFile(dir.file("q.jpg"), 192, 192), expected);
    EXPECT_TRUE(BitmapTo1bppFile(dir.file("none.png"), 192, 192).empty());
    ASSERT_TRUE(WriteFileAtomic(dir.file("text.png"), "not a picture", error));
    EXPECT_TRUE(BitmapTo1bppFile(dir.file("text.png"), 192, 192).empty());
}

} // namespace
} // namespace tarsel
