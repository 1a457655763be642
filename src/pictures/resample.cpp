#include "pictures/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <thread>

namespace tarsel {

namespace {

constexpr int kWeightBits = 14;
// Below this many source-row pixels of work, a second thread costs more than it saves.
constexpr std::int64_t kParallelWork = 256 * 1024;
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

// The horizontal taps padded to one count for every target pixel (zero weights on
// pixels that stay inside the row), so the inner loop has a fixed length.
struct PaddedTaps {
    int count = 0;
    std::vector<int> first;
    std::vector<std::int32_t> weights; // count per target pixel
};

PaddedTaps padTaps(const Taps& t, int srcLen)
{
    PaddedTaps p;
    p.count = t.count.empty() ? 0 : *std::max_element(t.count.begin(), t.count.end());
    const std::size_t n = t.first.size();
    p.first.resize(n);
    p.weights.assign(n * static_cast<std::size_t>(p.count), 0);
    for (std::size_t x = 0; x < n; ++x) {
        // Start early enough that every padded tap is a pixel of the row.
        const int first = std::max(0, std::min(t.first[x], srcLen - p.count));
        p.first[x] = first;
        for (int k = 0; k < t.count[x]; ++k)
            p.weights[x * static_cast<std::size_t>(p.count) + static_cast<std::size_t>(t.first[x] - first + k)] =
                t.weights[t.offset[x] + static_cast<std::size_t>(k)];
    }
    return p;
}

template <int Count>
void scaleRowFixed(const std::uint8_t* s, std::uint8_t* d, const PaddedTaps& t)
{
    const std::size_t width = t.first.size();
    const std::int32_t* w = t.weights.data();
    for (std::size_t x = 0; x < width; ++x, d += 3, w += Count) {
        const std::uint8_t* p = s + 3 * static_cast<std::size_t>(t.first[x]);
        std::int32_t b = 0, g = 0, r = 0;
        for (int k = 0; k < Count; ++k, p += 3) {
            b += w[k] * p[0];
            g += w[k] * p[1];
            r += w[k] * p[2];
        }
        d[0] = toByte(b);
        d[1] = toByte(g);
        d[2] = toByte(r);
    }
}

// One row scaled to the taps' length (three bytes a pixel).
void scaleRow(const std::uint8_t* s, std::uint8_t* d, const Taps& t, const PaddedTaps& padded)
{
    switch (padded.count) {
    case 1: return scaleRowFixed<1>(s, d, padded);
    case 2: return scaleRowFixed<2>(s, d, padded);
    case 3: return scaleRowFixed<3>(s, d, padded);
    case 4: return scaleRowFixed<4>(s, d, padded);
    default: break;
    }
    const int width = static_cast<int>(t.first.size());
    for (int x = 0; x < width; ++x, d += 3) {
        const std::int32_t* w = &t.weights[t.offset[x]];
        const std::uint8_t* p = s + 3 * static_cast<std::size_t>(t.first[x]);
        std::int32_t b = 0, g = 0, r = 0;
        for (int k = 0; k < t.count[x]; ++k, p += 3) {
            b += w[k] * p[0];
            g += w[k] * p[1];
            r += w[k] * p[2];
        }
        d[0] = toByte(b);
        d[1] = toByte(g);
        d[2] = toByte(r);
    }
}

// One target row from `count` rows with their weights.
void blendRows(const std::uint8_t* const* rows, const std::int32_t* w, int count, std::uint8_t* d, std::size_t n,
               std::vector<std::int32_t>& acc)
{
    if (count == 1 && w[0] == kWeightOne) {
        std::memcpy(d, rows[0], n);
        return;
    }
    if (count == 2) {
        const std::uint8_t* a = rows[0];
        const std::uint8_t* b = rows[1];
        const std::int32_t wa = w[0], wb = w[1];
        for (std::size_t i = 0; i < n; ++i)
            d[i] = toByte(wa * a[i] + wb * b[i]);
        return;
    }
    std::int32_t* sum = acc.data();
    const std::uint8_t* first = rows[0];
    for (std::size_t i = 0; i < n; ++i)
        sum[i] = w[0] * first[i];
    for (int k = 1; k < count; ++k) {
        const std::uint8_t* r = rows[k];
        const std::int32_t wk = w[k];
        for (std::size_t i = 0; i < n; ++i)
            sum[i] += wk * r[i];
    }
    for (std::size_t i = 0; i < n; ++i)
        d[i] = toByte(sum[i]);
}

} // namespace

// Each axis on its own: rows first (rounded to bytes), then columns, as two passes
// would; but the rows scaled to the new width are kept only in a window that slides
// down the picture, never as a whole picture, and each is scaled once.
Image ScaleImage(const Image& src, int width, int height)
{
    if (src.empty() || width < 1 || height < 1)
        return {};
    if (width == src.width && height == src.height)
        return src;
    Image out;
    out.width = width;
    out.height = height;
    out.pixels.resize(out.stride() * static_cast<std::size_t>(height));
    const std::size_t n = out.stride();
    const bool sameWidth = width == src.width;
    const Taps tx = sameWidth ? Taps{} : makeTaps(src.width, width);
    const PaddedTaps px = sameWidth ? PaddedTaps{} : padTaps(tx, src.width);
    if (height == src.height) {
        for (int y = 0; y < height; ++y)
            scaleRow(src.row(y), out.row(y), tx, px);
        return out;
    }

    const Taps ty = makeTaps(src.height, height);
    const int window = *std::max_element(ty.count.begin(), ty.count.end());
    // Target rows y0..y1-1, with a window of rows scaled to the new width of its own.
    auto produce = [&](int y0, int y1) {
        PixelBuffer rows(sameWidth ? 0 : n * static_cast<std::size_t>(window));
        std::vector<int> held(static_cast<std::size_t>(window), -1); // which source row each slot holds
        auto scaled = [&](int sy) -> const std::uint8_t* {
            if (sameWidth)
                return src.row(sy);
            const auto slot = static_cast<std::size_t>(sy % window);
            std::uint8_t* r = rows.data() + slot * n;
            if (held[slot] != sy) {
                scaleRow(src.row(sy), r, tx, px);
                held[slot] = sy;
            }
            return r;
        };
        std::vector<const std::uint8_t*> taps(static_cast<std::size_t>(window));
        std::vector<std::int32_t> acc(n);
        for (int y = y0; y < y1; ++y) {
            for (int k = 0; k < ty.count[y]; ++k)
                taps[static_cast<std::size_t>(k)] = scaled(ty.first[y] + k);
            blendRows(taps.data(), &ty.weights[ty.offset[y]], ty.count[y], out.row(y), n, acc);
        }
    };
    // A large picture is scaled in two halves at once: the window's preview and the
    // crop wait for it, and the machine has a second core for it.
    const std::int64_t work = static_cast<std::int64_t>(src.width) * height;
    if (work < kParallelWork || height < 2 || std::thread::hardware_concurrency() < 2) {
        produce(0, height);
        return out;
    }
    const int mid = height / 2;
    std::exception_ptr failure;
    std::thread upper([&] {
        try {
            produce(0, mid);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        produce(mid, height);
    } catch (...) {
        upper.join();
        throw;
    }
    upper.join();
    if (failure)
        std::rethrow_exception(failure);
    return out;
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
