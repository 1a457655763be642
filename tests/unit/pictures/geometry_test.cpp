#include "pictures/geometry.h"
#include "pictures/resample.h"
#include "pictures/slots.h"
#include "unit/pictures/picture_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace tarsel {
namespace {

using testpics::TestPicture;

constexpr PixelSize kPanel{884, 662};
constexpr PixelSize kScreen{800, 480};

TEST(DisplayPlan, LargePictureIsReducedUntilOneSideReachesTheTarget)
{
    DisplayPlan p = PlanDisplay({1600, 960}, kScreen);
    EXPECT_TRUE(p.reduced);
    EXPECT_EQ(p.shown, (PixelSize{800, 480}));

    // 4 : 3 reaches the target width first; the height still covers.
    p = PlanDisplay({4000, 3000}, kScreen);
    EXPECT_EQ(p.shown, (PixelSize{800, 600}));

    // Wide: stops on the width, the height still covers the target.
    p = PlanDisplay({3000, 1000}, kScreen);
    // i = 1559: h = 1000 − 519.67 = 480.33, rounded 480, w = 1441.
    EXPECT_EQ(p.shown, (PixelSize{1441, 480}));
    p = PlanDisplay({801, 481}, kScreen);
    EXPECT_EQ(p.shown, (PixelSize{800, 480}));
}

TEST(DisplayPlan, WiderButNotTallerIsShownAtItsOwnSize)
{
    const DisplayPlan p = PlanDisplay({1000, 300}, kScreen);
    EXPECT_TRUE(p.reduced);
    EXPECT_EQ(p.shown, (PixelSize{1000, 300}));
    EXPECT_EQ(PlanDisplay({300, 1000}, kScreen).shown, (PixelSize{300, 1000}));
}

TEST(DisplayPlan, FittingPictureGetsATargetSizedArea)
{
    const DisplayPlan p = PlanDisplay({400, 200}, kScreen);
    EXPECT_FALSE(p.reduced);
    EXPECT_EQ(p.shown, kScreen);
    EXPECT_FALSE(PlanDisplay({800, 480}, kScreen).reduced);
}

TEST(DisplayPlan, RoundsHalvesToEven)
{
    // 4 × 10 for a 1 × 1 target: i = 3 gives w = 1, h = 10 − 7.5 = 2.5 -> 2.
    EXPECT_EQ(PlanDisplay({4, 10}, {1, 1}).shown, (PixelSize{1, 2}));
    // i = 1 gives 10 − 2.5 = 7.5 -> 8.
    EXPECT_EQ(PlanDisplay({4, 10}, {3, 1}).shown, (PixelSize{3, 8}));
}

TEST(Centre, TruncatesTowardZero)
{
    EXPECT_EQ(CentreOffset(884, 800), 42);
    EXPECT_EQ(CentreOffset(5, 2), 1);
    EXPECT_EQ(CentreOffset(2, 5), -1);
    EXPECT_EQ(CentreOffset(884, 1000), -58);
    EXPECT_EQ(CentreIn(kPanel, kScreen), (PixelRect{42, 91, 800, 480}));
}

TEST(Clamp, KeepsTheFrameOnThePictureInItsOrder)
{
    const PixelRect image{42, 91, 800, 480};
    // Dragged down and right: pulled back to the bottom and right edges.
    EXPECT_EQ(ClampSelection({700, 560, 240, 80}, image), (PixelRect{602, 491, 240, 80}));
    // Dragged up and left.
    EXPECT_EQ(ClampSelection({-50, -20, 240, 80}, image), (PixelRect{42, 91, 240, 80}));
    // Inside: unchanged.
    EXPECT_EQ(ClampSelection({100, 200, 240, 80}, image), (PixelRect{100, 200, 240, 80}));
}

TEST(Clamp, FrameLargerThanThePictureIsAlignedToItsTopOrLeft)
{
    // 1000 × 300 picture, 800 × 480 frame: pinned to the picture's top.
    const PixelRect image = CentreIn(kPanel, {1000, 300});
    EXPECT_EQ(image, (PixelRect{-58, 181, 1000, 300}));
    PixelRect s = ClampSelection(CentreIn(kPanel, kScreen), image);
    EXPECT_EQ(s, (PixelRect{42, 181, 800, 480}));
    // After a drag down and far right it is still on top, and inside on the right.
    s = ClampSelection({500, 300, 800, 480}, image);
    EXPECT_EQ(s, (PixelRect{142, 181, 800, 480}));
    // Larger in both: top-left corner.
    EXPECT_EQ(ClampSelection({10, 10, 800, 480}, {100, 100, 300, 200}), (PixelRect{100, 100, 800, 480}));
}

TEST(Crop, PlacementIsThePictureRelativeToTheFrame)
{
    EXPECT_EQ(CropPlacement({42, 91, 800, 480}, {42, 91, 800, 480}), (PixelRect{0, 0, 800, 480}));
    EXPECT_EQ(CropPlacement({142, 181, 800, 480}, {-58, 181, 1000, 300}), (PixelRect{-200, 0, 1000, 300}));
}

TEST(Crop, LargePictureCoveringTheTargetExactly)
{
    const Image src = TestPicture(1600, 960);
    const DisplayPlan plan = PlanDisplay({1600, 960}, kScreen);
    const PixelRect image = CentreIn(kPanel, plan.shown);
    const PixelRect frame = ClampSelection(CentreIn(kPanel, kScreen), image);
    const Image crop = CropPicture(src, CropPlacement(frame, image), kScreen);
    EXPECT_EQ(crop.pixels, ScaleImage(src, 800, 480).pixels);
}

TEST(Crop, WidePictureLeavesWhiteBelowAndCutsAtTheFrame)
{
    const Image src = TestPicture(1000, 300);
    const PixelRect image = CentreIn(kPanel, PlanDisplay({1000, 300}, kScreen).shown);
    const PixelRect frame = ClampSelection({500, 300, 800, 480}, image);
    const Image crop = CropPicture(src, CropPlacement(frame, image), kScreen);
    ASSERT_EQ(crop.width, 800);
    ASSERT_EQ(crop.height, 480);
    // Column 0 of the crop is column 200 of the unscaled picture.
    EXPECT_EQ(0, std::memcmp(crop.at(0, 0), src.at(200, 0), 3 * 800));
    EXPECT_EQ(0, std::memcmp(crop.at(0, 299), src.at(200, 299), 3 * 800));
    for (int y : {300, 400, 479})
        for (int x : {0, 799})
            EXPECT_EQ(crop.at(x, y)[0] + crop.at(x, y)[1] + crop.at(x, y)[2], 3 * 255);
}

TEST(Crop, SmallPictureIsStretchedToTheWholeTarget)
{
    Image src(400, 200, 0, 0, 255); // red
    const DisplayPlan plan = PlanDisplay({400, 200}, kScreen);
    const PixelRect image = CentreIn(kPanel, plan.shown);
    const PixelRect frame = ClampSelection(CentreIn(kPanel, kScreen), image);
    const Image crop = CropPicture(src, CropPlacement(frame, image), kScreen);
    EXPECT_EQ(crop.pixels, Image(800, 480, 0, 0, 255).pixels);
}

TEST(Handles, TwelveRectanglesOnTheFrame)
{
    const auto r = SelectionHandleRects(800, 480);
    EXPECT_EQ(r[0], (PixelRect{0, 0, 10, 10}));
    EXPECT_EQ(r[1], (PixelRect{790, 0, 10, 10}));
    EXPECT_EQ(r[2], (PixelRect{0, 470, 10, 10}));
    EXPECT_EQ(r[3], (PixelRect{790, 470, 10, 10}));
    EXPECT_EQ(r[4], (PixelRect{0, 235, 10, 10}));
    EXPECT_EQ(r[5], (PixelRect{395, 0, 10, 10}));
    EXPECT_EQ(r[6], (PixelRect{792, 235, 8, 10}));
    EXPECT_EQ(r[7], (PixelRect{395, 470, 10, 10}));
    EXPECT_EQ(r[8], (PixelRect{0, 0, 4, 480}));
    EXPECT_EQ(r[11], (PixelRect{0, 476, 800, 4}));
    // Odd sizes halve toward zero.
    EXPECT_EQ(SelectionHandleRects(121, 41)[5], (PixelRect{55, 0, 10, 10}));
}

TEST(Scale, FlatColoursStayExactAndAreasAverage)
{
    EXPECT_EQ(ScaleImage(Image(37, 11, 10, 20, 30), 5, 3).pixels, Image(5, 3, 10, 20, 30).pixels);
    EXPECT_EQ(ScaleImage(Image(3, 2, 10, 20, 30), 17, 9).pixels, Image(17, 9, 10, 20, 30).pixels);

    Image two(2, 1, 0, 0, 0);
    two.setPixel(1, 0, 200, 100, 50);
    const Image one = ScaleImage(two, 1, 1);
    EXPECT_EQ(one.at(0, 0)[2], 100);
    EXPECT_EQ(one.at(0, 0)[1], 50);
    EXPECT_EQ(one.at(0, 0)[0], 25);

    // 3 -> 2: the middle pixel is shared half and half.
    Image three(3, 1, 0, 0, 0);
    three.setPixel(1, 0, 90, 90, 90);
    three.setPixel(2, 0, 180, 180, 180);
    const Image half = ScaleImage(three, 2, 1);
    EXPECT_EQ(half.at(0, 0)[0], 30);  // (0 + 0.5·90) / 1.5
    EXPECT_EQ(half.at(1, 0)[0], 150); // (0.5·90 + 180) / 1.5

    const Image src = TestPicture(20, 10);
    EXPECT_EQ(ScaleImage(src, 20, 10).pixels, src.pixels);
    EXPECT_TRUE(ScaleImage(src, 0, 10).empty());
    EXPECT_TRUE(ScaleImage(Image(), 5, 5).empty());
}

TEST(Scale, EnlargingInterpolatesBetweenCentres)
{
    Image two(2, 1, 0, 0, 0);
    two.setPixel(1, 0, 200, 200, 200);
    const Image four = ScaleImage(two, 4, 1);
    EXPECT_EQ(four.at(0, 0)[0], 0);   // clamped at the edge
    EXPECT_EQ(four.at(1, 0)[0], 50);  // a quarter of the way
    EXPECT_EQ(four.at(2, 0)[0], 150);
    EXPECT_EQ(four.at(3, 0)[0], 200);
}

TEST(Slots, TargetSizesPerModel)
{
    EXPECT_EQ(SlotTargetSize(74, 0), (PixelSize{120, 40}));
    EXPECT_EQ(SlotTargetSize(74, 4), (PixelSize{240, 80}));
    EXPECT_EQ(SlotTargetSize(75, 1), (PixelSize{360, 40}));
    EXPECT_EQ(SlotTargetSize(75, 2), (PixelSize{560, 80}));
    EXPECT_EQ(SlotTargetSize(73, 1), (PixelSize{480, 272}));
    EXPECT_EQ(SlotTargetSize(85, 6), (PixelSize{800, 480}));
    EXPECT_EQ(SlotTargetSize(86, 3), (PixelSize{800, 360}));
    EXPECT_FALSE(SlotTargetSize(86, 0).has_value());
    EXPECT_FALSE(SlotTargetSize(72, 3).has_value());
    EXPECT_FALSE(SlotTargetSize(76, 7).has_value());
    EXPECT_EQ(SlotQueuePosition(73), 77);
    EXPECT_EQ(QueuePositionSlot(90), 86);
    EXPECT_EQ(PlayPictureNumber(80), 5);
    EXPECT_EQ(PlayPictureNumber(75), 0);
    EXPECT_EQ(SlotLabel(85), "Picture 10");
    EXPECT_EQ(SlotPlaceholderName(80), "IMG80");
    EXPECT_EQ(SlotPlaceholderSize(75), (PixelSize{274, 80}));
}

TEST(Slots, PlaySelection)
{
    std::array<bool, kPlaySlotCount> ticks{};
    ticks[0] = ticks[2] = ticks[9] = true; // slots 76, 78, 85
    const PlaySelection s = PlaySelectionFromTicks(ticks);
    EXPECT_EQ(s.picReg, 0x205);
    EXPECT_EQ(s.count, 3);
    EXPECT_EQ(PlayTicksFromPicReg(0x205), ticks);
    EXPECT_EQ(PlaySelectionFromTicks(PlayTicksFromPicReg(0xFFFF)).picReg, 0x3FF);
    EXPECT_EQ(PlaySelectionFromTicks({}).count, 0);
}

} // namespace
} // namespace tarsel

namespace tarsel {
namespace {

// A picture large enough to be scaled in two halves at once: halving its height
// averages each pair of rows exactly, whichever half a row falls in.
TEST(Resample, LargePicturesScaleEveryRowOnce)
{
    const int w = 600, h = 1000;
    auto level = [](int y) { return static_cast<std::uint8_t>((y * 37 + y / 3) % 256); };
    Image src(w, h);
    for (int y = 0; y < h; ++y)
        std::fill(src.row(y), src.row(y) + src.stride(), level(y));
    const Image half = ScaleImage(src, w, h / 2);
    ASSERT_EQ(half.height, h / 2);
    for (int y = 0; y < h / 2; ++y) {
        const int want = (level(2 * y) + level(2 * y + 1) + 1) / 2;
        ASSERT_EQ(half.row(y)[0], want) << "row " << y;
        ASSERT_EQ(half.row(y)[half.stride() - 1], want) << "row " << y;
    }
    // Both axes at once: the same as scaling the rows, then the columns.
    const Image both = ScaleImage(src, 250, 410);
    EXPECT_EQ(both.pixels, ScaleImage(ScaleImage(src, 250, h), 250, 410).pixels);
}

// Where a source pixel's share of a target pixel comes from, in floating point: the
// part of it under the target pixel where the axis shrinks, the distance between pixel
// centres where it grows.
double share(int srcLen, int dstLen, int x, int j)
{
    if (dstLen == srcLen)
        return x == j ? 1.0 : 0.0;
    if (dstLen < srcLen) {
        const double scale = double(srcLen) / dstLen;
        return std::max(0.0, std::min((x + 1) * scale, j + 1.0) - std::max(x * scale, double(j))) / scale;
    }
    const double c = std::clamp((x + 0.5) * srcLen / dstLen - 0.5, 0.0, srcLen - 1.0);
    return std::max(0.0, 1.0 - std::abs(c - j));
}

// Every target pixel, whatever the sizes (odd widths, strong and slight reductions,
// enlargements, each axis its own way), is within rounding of the average it stands
// for: no pixel of a row taken from the wrong place, no colour from another colour.
TEST(Resample, EveryPixelIsTheAverageItStandsFor)
{
    Image src(613, 97);
    std::mt19937 rng(11);
    for (auto& b : src.pixels)
        b = static_cast<std::uint8_t>(rng());
    const PixelSize sizes[] = {{97, 13}, {611, 96}, {300, 97}, {613, 40}, {123, 200}, {1000, 33}, {7, 150}, {1, 1}, {614, 98}};
    // The source pixels with a share in each target index.
    auto shares = [](int srcLen, int dstLen) {
        std::vector<std::vector<std::pair<int, double>>> all(static_cast<std::size_t>(dstLen));
        for (int x = 0; x < dstLen; ++x)
            for (int j = 0; j < srcLen; ++j)
                if (const double s = share(srcLen, dstLen, x, j); s > 0)
                    all[static_cast<std::size_t>(x)].push_back({j, s});
        return all;
    };
    for (const PixelSize size : sizes) {
        const Image out = ScaleImage(src, size.width, size.height);
        ASSERT_EQ(out.width, size.width);
        const auto columns = shares(src.width, size.width);
        const auto rows = shares(src.height, size.height);
        double worst = 0;
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x)
                for (int c = 0; c < 3; ++c) {
                    double want = 0;
                    for (const auto& [i, wy] : rows[static_cast<std::size_t>(y)])
                        for (const auto& [j, wx] : columns[static_cast<std::size_t>(x)])
                            want += wy * wx * src.at(j, i)[c];
                    worst = std::max(worst, std::abs(out.at(x, y)[c] - want));
                }
        // Rounded once per axis.
        EXPECT_LE(worst, 1.5) << size.width << " x " << size.height;
    }
}

} // namespace
} // namespace tarsel
