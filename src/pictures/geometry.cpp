#include "pictures/geometry.h"

#include <cmath>

namespace tarsel {

namespace {

PixelRect fromEdges(int left, int top, int right, int bottom) { return {left, top, right - left, bottom - top}; }

// Nearest integer, ties to even.
long long roundHalfEven(double v)
{
    const double lower = std::floor(v);
    const double diff = v - lower;
    if (diff < 0.5)
        return static_cast<long long>(lower);
    if (diff > 0.5)
        return static_cast<long long>(lower) + 1;
    return std::fmod(lower, 2.0) == 0.0 ? static_cast<long long>(lower) : static_cast<long long>(lower) + 1;
}

} // namespace

DisplayPlan PlanDisplay(PixelSize picture, PixelSize target)
{
    const long long W = picture.width;
    const long long H = picture.height;
    if (W <= target.width && H <= target.height)
        return {target, false};

    long long w = W, h = H;
    for (long long i = 0; i <= W + H; ++i) {
        w = W - i;
        h = roundHalfEven(static_cast<double>(H) - static_cast<double>(i) * static_cast<double>(H) / static_cast<double>(W));
        if (w <= target.width || h <= target.height)
            break;
    }
    return {{static_cast<int>(w), static_cast<int>(h)}, true};
}

int CentreOffset(int outer, int inner) { return (outer - inner) / 2; }

PixelRect CentreIn(PixelSize panel, PixelSize size)
{
    return {CentreOffset(panel.width, size.width), CentreOffset(panel.height, size.height), size.width, size.height};
}

PixelRect ClampSelection(PixelRect s, const PixelRect& i)
{
    if (s.top + s.height >= i.top + i.height)
        s.top = i.top + i.height - s.height;
    if (i.top >= s.top)
        s.top = i.top;
    if (s.left + s.width >= i.left + i.width)
        s.left = i.left + i.width - s.width;
    if (i.left >= s.left)
        s.left = i.left;
    return s;
}

PixelRect CropPlacement(const PixelRect& selection, const PixelRect& image)
{
    return {image.left - selection.left, image.top - selection.top, image.width, image.height};
}

std::array<PixelRect, 12> SelectionHandleRects(int w, int h)
{
    const int hw = w / 2;
    const int hh = h / 2;
    return {
        fromEdges(0, 0, 10, 10),
        fromEdges(w - 10, 0, w, 10),
        fromEdges(0, h - 10, 10, h),
        fromEdges(w - 10, h - 10, w, h),
        fromEdges(0, hh - 5, 10, hh + 5),
        fromEdges(hw - 5, 0, hw + 5, 10),
        fromEdges(w - 8, hh - 5, w, hh + 5),
        fromEdges(hw - 5, h - 10, hw + 5, h),
        fromEdges(0, 0, 4, h),
        fromEdges(0, 0, w, 4),
        fromEdges(w - 4, 0, w, h),
        fromEdges(0, h - 4, w, h),
    };
}

} // namespace tarsel
