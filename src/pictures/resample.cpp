#include "pictures/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarsel {

namespace {

constexpr int kWeightBits = 14;
constexpr std::int32_t kWeightOne = 1 << kWeightBits;

// The source pixels and fixed-point weights that make one target pixel on one axis.
struct Taps {
    std::vector<int> first;             // first source index per target index
    std::vector<int> count;             // number of source pixels per target index
    std::vector<std::int32_t> weights;  // count[i] weights per target index, in order
    std::vector<std::size_t> offset;    // where target index i's weights start
};

Taps makeTaps(int srcLen, int dstLen)
{
    Taps t;
    t.first.resize(dstLen);
    t.count.resize(dstLen);
    t.offset.resize(dstLen);
    std::vector<double> w;
    for (int x = 0; x < dstLen; ++x) {
        w.clear();
        int first = 0;
        if (dstLen < srcLen) {
            const double scale = static_cast<double>(srcLen) / dstLen;
            const double a = x * scale;
            const double b = std::min<double>((x + 1) * scale, srcLen);
            first = static_cast<int>(std::floor(a));
            const int last = std::min(srcLen, static_cast<int>(std::ceil(b)));
            for (int j = first; j < last; ++j) {
                const double overlap = std::min<double>(b, j + 1) - std::max<double>(a, j);
                w.push_back(overlap > 0 ? overlap / scale : 0.0);
            }
        } else if (dstLen == srcLen) {
            first = x;
            w.push_back(1.0);
        } else {
            const double c = (x + 0.5) * srcLen / dstLen - 0.5;
            int j0 = static_cast<int>(std::floor(c));
            double f = c - j0;
            if (j0 < 0) {
                j0 = 0;
                f = 0;
            }
            if (j0 >= srcLen - 1) {
                j0 = srcLen - 1;
                f = 0;
            }
            first = j0;
            w.push_back(1.0 - f);
            if (f > 0)
                w.push_back(f);
        }
        // Fixed point, exactly summing to one so that flat colours stay flat.
        std::int32_t sum = 0;
        std::size_t biggest = 0;
        t.offset[x] = t.weights.size();
        for (std::size_t k = 0; k < w.size(); ++k) {
            const auto q = static_cast<std::int32_t>(std::lround(w[k] * kWeightOne));
            t.weights.push_back(q);
            sum += q;
            if (q > t.weights[t.offset[x] + biggest])
                biggest = k;
        }
        t.weights[t.offset[x] + biggest] += kWeightOne - sum;
        t.first[x] = first;
        t.count[x] = static_cast<int>(w.size());
    }
    return t;
}

inline std::uint8_t toByte(std::int32_t acc)
{
    return static_cast<std::uint8_t>((acc + (kWeightOne >> 1)) >> kWeightBits);
}

// Scales every row of src to `width` pixels.
Image scaleRows(const Image& src, int width)
{
    Image out;
    out.width = width;
    out.height = src.height;
    out.pixels.resize(out.stride() * static_cast<std::size_t>(out.height));
    const Taps t = makeTaps(src.width, width);
    for (int y = 0; y < src.height; ++y) {
        const std::uint8_t* s = src.row(y);
        std::uint8_t* d = out.row(y);
        for (int x = 0; x < width; ++x) {
            const std::int32_t* w = &t.weights[t.offset[x]];
            const std::uint8_t* p = s + 3 * static_cast<std::size_t>(t.first[x]);
            std::int32_t b = 0, g = 0, r = 0;
            for (int k = 0; k < t.count[x]; ++k, p += 3) {
                b += w[k] * p[0];
                g += w[k] * p[1];
                r += w[k] * p[2];
            }
            d[3 * x] = toByte(b);
            d[3 * x + 1] = toByte(g);
            d[3 * x + 2] = toByte(r);
        }
    }
    return out;
}

// Scales every column of src to `height` pixels.
Image scaleColumns(const Image& src, int height)
{
    Image out;
    out.width = src.width;
    out.height = height;
    out.pixels.resize(out.stride() * static_cast<std::size_t>(height));
    const Taps t = makeTaps(src.height, height);
    const std::size_t n = src.stride();
    std::vector<std::int32_t> acc(n);
    for (int y = 0; y < height; ++y) {
        std::fill(acc.begin(), acc.end(), 0);
        const std::int32_t* w = &t.weights[t.offset[y]];
        for (int k = 0; k < t.count[y]; ++k) {
            const std::uint8_t* s = src.row(t.first[y] + k);
            const std::int32_t wk = w[k];
            for (std::size_t i = 0; i < n; ++i)
                acc[i] += wk * s[i];
        }
        std::uint8_t* d = out.row(y);
        for (std::size_t i = 0; i < n; ++i)
            d[i] = toByte(acc[i]);
    }
    return out;
}

} // namespace

Image ScaleImage(const Image& src, int width, int height)
{
    if (src.empty() || width < 1 || height < 1)
        return {};
    if (width == src.width && height == src.height)
        return src;
    if (width == src.width)
        return scaleColumns(src, height);
    Image rows = scaleRows(src, width);
    if (height == src.height)
        return rows;
    return scaleColumns(rows, height);
}

Image CropShown(const Image& shown, const PixelRect& placement, PixelSize target)
{
    Image out(target.width, target.height, kCropFill, kCropFill, kCropFill);
    if (out.empty() || shown.empty())
        return out;
    const int x0 = std::max(0, placement.left);
    const int y0 = std::max(0, placement.top);
    const int x1 = std::min({target.width, placement.left + shown.width});
    const int y1 = std::min({target.height, placement.top + shown.height});
    if (x0 >= x1 || y0 >= y1)
        return out;
    for (int y = y0; y < y1; ++y)
        std::memcpy(out.at(x0, y), shown.at(x0 - placement.left, y - placement.top),
                    3 * static_cast<std::size_t>(x1 - x0));
    return out;
}

Image CropPicture(const Image& picture, const PixelRect& placement, PixelSize target)
{
    return CropShown(ScaleImage(picture, placement.width, placement.height), placement, target);
}

} // namespace tarsel
