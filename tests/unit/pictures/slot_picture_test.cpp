// A picture file made into a slot's bytes without the window: the crop the
// conversion window proposes when the file is opened, and the form each model stores.
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "pictures/resample.h"
#include "pictures/slot_picture.h"
#include "unit/pictures/picture_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace tarsel {
namespace {

using testpics::TestPicture;

bool whiteAt(const Image& img, int x, int y)
{
    const auto* p = img.at(x, y);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

TEST(ProposedCrop, APictureOfTheTargetSizeIsTakenWhole)
{
    const Image src = TestPicture(240, 80);
    const Image crop = ProposedCrop(src, {240, 80}, {240, 80});
    EXPECT_EQ(crop.pixels, src.pixels);
}

TEST(ProposedCrop, TheFrameStaysCentredWhereTheWindowPutsIt)
{
    // 1000 × 300 for 800 × 480: shown at its own size, picture at (-58, 181) and frame
    // at (42, 91) in the panel, so the crop holds columns 100..899 from row 90 on,
    // white above and below.
    const Image src = TestPicture(1000, 300);
    const Image crop = ProposedCrop(src, {1000, 300}, {800, 480});
    ASSERT_EQ(crop.width, 800);
    ASSERT_EQ(crop.height, 480);
    for (int y : {0, 89, 390, 479})
        EXPECT_TRUE(whiteAt(crop, 400, y)) << y;
    for (int y : {90, 200, 389})
        EXPECT_EQ(0, std::memcmp(crop.at(0, y), src.at(100, y - 90), 3 * 800)) << y;

    // A large picture of the target's proportions is reduced to cover it exactly.
    const Image big = TestPicture(1600, 960);
    EXPECT_EQ(ProposedCrop(big, {1600, 960}, {800, 480}).pixels, ScaleImage(big, 800, 480).pixels);
}

TEST(ProposedCrop, FromAFileOrWhyNot)
{
    const auto dir = std::filesystem::temp_directory_path() / ("tarsel-slotpic-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const Image src = TestPicture(120, 40);
    const auto png = (dir / "p.png").string();
    std::ofstream(png, std::ios::binary) << EncodePng(src);
    Image crop;
    std::string error;
    ASSERT_TRUE(ProposedCropFromFile(png, {120, 40}, crop, error)) << error;
    EXPECT_EQ(crop.pixels, src.pixels);

    const auto text = (dir / "t.png").string();
    std::ofstream(text) << "not a picture";
    EXPECT_FALSE(ProposedCropFromFile(text, {120, 40}, crop, error));
    EXPECT_NE(error.find("t.png"), std::string::npos) << error;
    EXPECT_FALSE(ProposedCropFromFile((dir / "missing.png").string(), {120, 40}, crop, error));
    std::filesystem::remove_all(dir);
}

TEST(SlotPictureBytes, RawOnTheAddressModelsJpegOnTheNamedFileModels)
{
    const Image logo = TestPicture(120, 40);
    EXPECT_EQ(SlotPictureBytes(logo, 74, 0), BitmapToRgb565Bytes(logo, 120, 40));
    // Another model's size: scaled to it.
    const Bytes scaled = SlotPictureBytes(logo, 74, 4);
    EXPECT_EQ(scaled.size(), 240u * 80u * 2u);
    EXPECT_EQ(scaled, BitmapToRgb565Bytes(ScaleImage(logo, 240, 80), 240, 80));
    EXPECT_EQ(SlotPictureBytes(logo, 74, 3), BitmapToJpegBytes(logo, false));
    // The guest slot exists only on the named-file models.
    EXPECT_TRUE(SlotPictureBytes(logo, 86, 0).empty());
    EXPECT_FALSE(SlotPictureBytes(logo, 86, 5).empty());
    EXPECT_TRUE(SlotPictureBytes(Image(), 74, 0).empty());
}

} // namespace
} // namespace tarsel
