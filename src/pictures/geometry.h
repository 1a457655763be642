// The conversion window's geometry as plain functions: how large a loaded picture
// is shown, where the picture and the selection frame sit, how the frame is kept on
// the picture, which rectangle of the shown picture the crop takes, and where the
// frame's grips are drawn. Rectangles are in the preview panel's pixels.
#pragma once

#include "pictures/image.h"

#include <array>

namespace tarsel {

struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
    bool operator==(const PixelRect&) const = default;
};

// How the conversion window shows a picture of `picture` size for a `target` size.
struct DisplayPlan {
    // The size of the picture area (Image1).
    PixelSize shown;
    // True when the picture was larger than the target in some dimension and is shown
    // stretched to `shown`; false when it fits in both and is shown centred at its own
    // size inside a target-sized area (the crop then stretches it to the target).
    bool reduced = false;
};

// A picture larger than the target in at least one dimension is reduced one column
// at a time keeping its proportions: w(i) = W − i, h(i) = H − i·H/W rounded to nearest
// with ties to even, for the first i where w(i) ≤ target width or h(i) ≤ target
// height (at most W + H + 1 steps). A picture that fits in both is shown in an area
// of the target size.
DisplayPlan PlanDisplay(PixelSize picture, PixelSize target);

// (outer − inner) div 2, truncating toward zero (negative when inner is larger).
int CentreOffset(int outer, int inner);

// A control of `size` centred in a panel of `panel` size.
PixelRect CentreIn(PixelSize panel, PixelSize size);

// Keeps the selection frame S on the picture area I, in this order: bottom edge,
// top edge, right edge, left edge; so a frame larger than the picture is aligned
// to the picture's top or left edge.
PixelRect ClampSelection(PixelRect selection, const PixelRect& image);

// Where the shown picture lands in the crop bitmap: (I.left − S.left, I.top − S.top)
// with the picture area's size.
PixelRect CropPlacement(const PixelRect& selection, const PixelRect& image);

// The red marks drawn on the frame of size w × h, as rectangles relative to the
// frame: four 10 × 10 corners, four edge grips, four 4-pixel border bars.
std::array<PixelRect, 12> SelectionHandleRects(int w, int h);

} // namespace tarsel
