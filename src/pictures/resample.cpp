#include "pictures/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <thread>

#if defined(__x86_64__)
#include <immintrin.h>
#define TARSEL_SCALE_SSE 1
#endif

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

// Rounded and kept to a byte: when a pixel is made from some hundred source pixels,
// the rounding of their weights is given to the biggest one, which may then be
// negative, and a sum just outside 0..255 must not wrap around.
inline std::uint8_t toByte(std::int32_t acc)
{
    return static_cast<std::uint8_t>(std::clamp((acc + (kWeightOne >> 1)) >> kWeightBits, 0, 255));
}

// The horizontal taps padded to one count for every target pixel (zero weights on
// pixels that stay inside the row), so the inner loop has a fixed length.
struct PaddedTaps {
    int count = 0;
    std::vector<int> first;
    std::vector<std::int32_t> weights; // count per target pixel
    // For the SIMD row: the weights of each two neighbouring taps as 16-bit pairs, once
    // for each colour (b, b, g, g, r, r, 0, 0), `pairs` groups of eight per target
    // pixel; and the target pixels from which on the row is finished one at a time
    // (their last pair would read past the end of the source row, or the four-byte
    // store past the end of the target row).
    int pairs = 0;
    std::vector<std::int16_t> pairWeights;
    std::size_t simdEnd = 0;
};

bool useSsse3()
{
#ifdef TARSEL_SCALE_SSE
    static const bool has = [] {
        __builtin_cpu_init(); // may be asked before the library's own initialisation ran
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
#else
    return false;
#endif
}

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
    if (!useSsse3() || n == 0)
        return p;
    // A weight is at most kWeightOne: it fits a signed 16-bit lane.
    p.pairs = (p.count + 1) / 2;
    p.pairWeights.assign(n * static_cast<std::size_t>(p.pairs) * 8, 0);
    for (std::size_t x = 0; x < n; ++x)
        for (int m = 0; m < p.pairs; ++m) {
            const auto w0 = static_cast<std::int16_t>(p.weights[x * static_cast<std::size_t>(p.count) + 2 * static_cast<std::size_t>(m)]);
            const auto w1 = 2 * m + 1 < p.count
                ? static_cast<std::int16_t>(p.weights[x * static_cast<std::size_t>(p.count) + 2 * static_cast<std::size_t>(m) + 1])
                : std::int16_t{0};
            std::int16_t* g = &p.pairWeights[(x * static_cast<std::size_t>(p.pairs) + static_cast<std::size_t>(m)) * 8];
            for (int c = 0; c < 3; ++c) {
                g[2 * c] = w0;
                g[2 * c + 1] = w1;
            }
        }
    // Each pair loads eight bytes from its first pixel.
    auto fits = [&](std::size_t x) {
        return 3 * (static_cast<std::size_t>(p.first[x]) + 2 * static_cast<std::size_t>(p.pairs - 1)) + 8 <=
               3 * static_cast<std::size_t>(srcLen);
    };
    std::size_t end = n - 1;
    while (end > 0 && !fits(end - 1))
        --end;
    p.simdEnd = end;
    return p;
}

#ifdef TARSEL_SCALE_SSE
// Target pixels [0, t.simdEnd) of a row: each two taps of a target pixel's three
// colours in one multiply-add of 16-bit pairs. The sums are exactly the ones of the
// plain loop below, so the bytes are the same.
__attribute__((target("ssse3"))) void scaleRowSsse3(const std::uint8_t* s, std::uint8_t* d, const PaddedTaps& t)
{
    // Two pixels' bytes b0 g0 r0 b1 g1 r1 as 16-bit b0 b1 g0 g1 r0 r1 0 0.
    const __m128i spread = _mm_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1);
    const __m128i half = _mm_set1_epi32(kWeightOne >> 1);
    const __m128i* w = reinterpret_cast<const __m128i*>(t.pairWeights.data());
    const int pairs = t.pairs;
    for (std::size_t x = 0; x < t.simdEnd; ++x, d += 3) {
        const std::uint8_t* p = s + 3 * static_cast<std::size_t>(t.first[x]);
        __m128i acc = half;
        for (int m = 0; m < pairs; ++m, p += 6, ++w) {
            const __m128i two = _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), spread);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(two, _mm_loadu_si128(w)));
        }
        acc = _mm_srai_epi32(acc, kWeightBits);
        const __m128i words = _mm_packs_epi32(acc, acc);
        const auto bgr0 = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
        // The fourth byte lands on the next target pixel, which is written after it.
        std::memcpy(d, &bgr0, 4);
    }
}
#endif

template <int Count>
void scaleRowFixed(const std::uint8_t* s, std::uint8_t* d, const PaddedTaps& t, std::size_t from)
{
    const std::size_t width = t.first.size();
    const std::int32_t* w = t.weights.data() + from * Count;
    d += 3 * from;
    for (std::size_t x = from; x < width; ++x, d += 3, w += Count) {
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
    std::size_t from = 0;
#ifdef TARSEL_SCALE_SSE
    if (padded.pairs > 0) {
        scaleRowSsse3(s, d, padded);
        from = padded.simdEnd;
    }
#endif
    switch (padded.count) {
    case 1: return scaleRowFixed<1>(s, d, padded, from);
    case 2: return scaleRowFixed<2>(s, d, padded, from);
    case 3: return scaleRowFixed<3>(s, d, padded, from);
    case 4: return scaleRowFixed<4>(s, d, padded, from);
    default: break;
    }
    const int width = static_cast<int>(t.first.size());
    d += 3 * from;
    for (int x = static_cast<int>(from); x < width; ++x, d += 3) {
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

#ifdef TARSEL_SCALE_SSE
// Bytes [0, n rounded down to 16) of a target row: each two source rows in one
// multiply-add of 16-bit pairs (SSE2, which every x86-64 has); the same sums as the
// plain loops below.
std::size_t blendRowsSse2(const std::uint8_t* const* rows, const std::int32_t* w, int count, std::uint8_t* d,
                          std::size_t n)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(kWeightOne >> 1);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i a0 = half, a1 = half, a2 = half, a3 = half;
        for (int k = 0; k < count; k += 2) {
            const bool second = k + 1 < count;
            const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i rb = second ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i)) : zero;
            // Two 16-bit weights (a weight may be negative: see toByte).
            const std::uint32_t wa = static_cast<std::uint16_t>(w[k]);
            const std::uint32_t wb = second ? static_cast<std::uint16_t>(w[k + 1]) : 0u;
            const __m128i wk = _mm_set1_epi32(static_cast<int>(wb << 16 | wa));
            const __m128i lo = _mm_unpacklo_epi8(ra, rb); // a0 b0 a1 b1 ... a7 b7
            const __m128i hi = _mm_unpackhi_epi8(ra, rb);
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), wk));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), wk));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), wk));
            a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), wk));
        }
        const __m128i lo = _mm_packs_epi32(_mm_srai_epi32(a0, kWeightBits), _mm_srai_epi32(a1, kWeightBits));
        const __m128i hi = _mm_packs_epi32(_mm_srai_epi32(a2, kWeightBits), _mm_srai_epi32(a3, kWeightBits));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
    }
    return i;
}
#endif

// Bytes [from, n) of one target row from `count` rows with their weights.
void blendRowsPlain(const std::uint8_t* const* rows, const std::int32_t* w, int count, std::uint8_t* d, std::size_t from,
                    std::size_t n, std::vector<std::int32_t>& acc)
{
    if (count == 2) {
        const std::uint8_t* a = rows[0];
        const std::uint8_t* b = rows[1];
        const std::int32_t wa = w[0], wb = w[1];
        for (std::size_t i = from; i < n; ++i)
            d[i] = toByte(wa * a[i] + wb * b[i]);
        return;
    }
    std::int32_t* sum = acc.data();
    const std::uint8_t* first = rows[0];
    for (std::size_t i = from; i < n; ++i)
        sum[i] = w[0] * first[i];
    for (int k = 1; k < count; ++k) {
        const std::uint8_t* r = rows[k];
        const std::int32_t wk = w[k];
        for (std::size_t i = from; i < n; ++i)
            sum[i] += wk * r[i];
    }
    for (std::size_t i = from; i < n; ++i)
        d[i] = toByte(sum[i]);
}

// One target row from `count` rows with their weights.
void blendRows(const std::uint8_t* const* rows, const std::int32_t* w, int count, std::uint8_t* d, std::size_t n,
               std::vector<std::int32_t>& acc)
{
    if (count == 1 && w[0] == kWeightOne) {
        std::memcpy(d, rows[0], n);
        return;
    }
    std::size_t from = 0;
#ifdef TARSEL_SCALE_SSE
    from = blendRowsSse2(rows, w, count, d, n);
#endif
    if (from < n)
        blendRowsPlain(rows, w, count, d, from, n, acc);
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
    const int x0 = std::max(0, placement.left);
    const int y0 = std::max(0, placement.top);
    const int x1 = std::min({target.width, placement.left + shown.width});
    const int y1 = std::min({target.height, placement.top + shown.height});
    if (target.width <= 0 || target.height <= 0 || shown.empty() || x0 >= x1 || y0 >= y1)
        return Image(target.width, target.height, kCropFill, kCropFill, kCropFill);
    // Each byte written once: the fill only where the picture does not reach (the
    // buffer may hold an earlier picture).
    Image out;
    out.width = target.width;
    out.height = target.height;
    out.pixels.resize(out.stride() * static_cast<std::size_t>(out.height));
    const std::size_t left = 3 * static_cast<std::size_t>(x0);
    const std::size_t middle = 3 * static_cast<std::size_t>(x1 - x0);
    const std::size_t right = out.stride() - left - middle;
    for (int y = 0; y < out.height; ++y) {
        std::uint8_t* d = out.row(y);
        if (y < y0 || y >= y1) {
            std::memset(d, kCropFill, out.stride());
            continue;
        }
        std::memset(d, kCropFill, left);
        std::memcpy(d + left, shown.at(x0 - placement.left, y - placement.top), middle);
        std::memset(d + left + middle, kCropFill, right);
    }
    return out;
}

Image CropPicture(const Image& picture, const PixelRect& placement, PixelSize target)
{
    return CropShown(ScaleImage(picture, placement.width, placement.height), placement, target);
}

} // namespace tarsel
