#include "pictures/buffer_pool.h"
#include "pictures/codecs.h"
#include "pictures/image.h"
#include "pictures/resample.h"
#include "pictures/slot_picture.h"
#include "unit/pictures/picture_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <thread>

namespace tarsel {
namespace {

using namespace testpics;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::uint8_t kStale = 0xA5;

// A noisy picture: no byte value dominates, so a stale byte shows.
Image noise(int w, int h, unsigned seed)
{
    Image img(w, h);
    std::mt19937 rng(seed);
    for (auto& b : img.pixels)
        b = static_cast<std::uint8_t>(rng());
    return img;
}

// Where two pictures' bytes first differ ("" when they are the same).
std::string firstDifference(const Image& got, const Image& want)
{
    if (got.width != want.width || got.height != want.height)
        return "size " + std::to_string(got.width) + " x " + std::to_string(got.height);
    const auto at = std::mismatch(got.pixels.begin(), got.pixels.end(), want.pixels.begin());
    if (at.first == got.pixels.end())
        return "";
    const auto i = static_cast<std::size_t>(at.first - got.pixels.begin());
    return "byte " + std::to_string(i) + " (row " + std::to_string(i / got.stride()) + ") is " +
           std::to_string(*at.first) + ", not " + std::to_string(*at.second);
}

std::uint64_t reusedSoFar() { return PictureBufferPool::shared().stats().reused; }

// Leaves the process's pool holding exactly buffers of these sizes, each full of
// kStale, as if earlier pictures had just used them.
void fillPoolWithStaleBuffers(const std::vector<std::size_t>& sizes)
{
    PictureBufferPool& pool = PictureBufferPool::shared();
    pool.release();
    std::vector<void*> held;
    for (std::size_t n : sizes) {
        held.push_back(pool.take(n));
        std::memset(held.back(), kStale, n);
    }
    for (void* p : held)
        pool.give(p);
}

// Every reader, the scaler and the crop deliver the same picture into a buffer that
// held another one as into fresh memory: nothing of the earlier picture shows, not in
// an interlaced PNG's passes, not in the parts of a crop the picture does not cover.
TEST(PictureBufferPool, AReusedBufferNeverShowsTheEarlierPicture)
{
    const int w = 320, h = 300; // 288 000 bytes: kept by the pool
    const std::size_t rgb = std::size_t(w) * h * 3;
    const Image src = noise(w, h, 1);

    std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
    std::mt19937 rng(2);
    for (auto& b : rgba)
        b = static_cast<std::uint8_t>(rng());
    PngSpec alpha;
    alpha.width = w;
    alpha.height = h;
    alpha.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    alpha.interlaced = true;
    alpha.rows = rgba;
    PngSpec plain = alpha;
    plain.colorType = PNG_COLOR_TYPE_RGB;
    plain.rows.clear();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = src.at(x, y);
            plain.rows.insert(plain.rows.end(), {p[2], p[1], p[0]});
        }
    std::vector<std::uint8_t> samples(rgb);
    for (auto& b : samples)
        b = static_cast<std::uint8_t>(rng());

    auto decode = [](const Bytes& file) {
        Image img;
        std::string error;
        EXPECT_TRUE(DecodeImage(file, img, error)) << error;
        return img;
    };
    struct Case {
        const char* name;
        std::function<Image()> make;
        std::vector<std::size_t> buffers; // the pool-sized buffers it takes
    };
    const Bytes interlacedRgb = WritePng(plain);
    const Bytes interlacedAlpha = WritePng(alpha);
    const Bytes jpeg = WriteJpeg(w, h, 3, samples);
    const Bytes bmp = EncodeBmp(src);
    std::vector<std::uint8_t> bigSamples(std::size_t(2 * w) * 2 * h * 3);
    for (auto& b : bigSamples)
        b = static_cast<std::uint8_t>(rng());
    const Bytes bigJpeg = WriteJpeg(2 * w, 2 * h, 3, bigSamples);
    const std::vector<Case> cases = {
        {"interlaced PNG", [&] { return decode(interlacedRgb); }, {rgb}},
        {"interlaced PNG with alpha", [&] { return decode(interlacedAlpha); }, {rgb, std::size_t(w) * h * 4}},
        {"JPEG", [&] { return decode(jpeg); }, {rgb}},
        {"JPEG, DCT-scaled to half", [&] {
             Image img;
             std::string error;
             DecodeOptions halve;
             halve.atLeast = [](PixelSize) { return PixelSize{300, 280}; };
             EXPECT_TRUE(DecodeImage(bigJpeg, img, error, halve)) << error;
             return img;
         }, {rgb}},
        {"BMP", [&] { return decode(bmp); }, {rgb}},
        {"reduced", [&] { return ScaleImage(src, 301, 299); }, {std::size_t(301) * 299 * 3}},
        {"enlarged", [&] { return ScaleImage(src, 333, 310); }, {std::size_t(333) * 310 * 3}},
        {"crop, picture off to the left and down", [&] { return CropShown(src, {-50, 40, w, h}, {w, h}); }, {rgb}},
        {"crop, picture off to the right and up", [&] { return CropShown(src, {30, -20, w, h}, {w, h}); }, {rgb}},
        {"crop beside the picture", [&] { return CropShown(src, {w + 5, 0, w, h}, {w, h}); }, {rgb}},
    };
    for (const Case& c : cases) {
        PictureBufferPool::shared().release(); // fresh memory
        const Image fresh = c.make();
        ASSERT_FALSE(fresh.empty()) << c.name;
        fillPoolWithStaleBuffers(c.buffers);
        const std::uint64_t before = reusedSoFar();
        const Image again = c.make();
        EXPECT_GE(reusedSoFar() - before, c.buffers.size()) << c.name << ": the stale buffers were not used";
        EXPECT_EQ(firstDifference(again, fresh), "") << c.name;
    }
    // What the picture does not cover is white, whatever the buffer held.
    fillPoolWithStaleBuffers({rgb});
    const Image crop = CropShown(src, {-50, 40, w, h}, {w, h});
    EXPECT_EQ(crop.at(w - 1, 0)[0], 255);
    EXPECT_EQ(crop.at(w - 50, 39)[2], 255);
    EXPECT_EQ(std::memcmp(crop.at(0, 40), src.at(50, 0), 3 * (w - 50)), 0);
    PictureBufferPool::shared().release();
}

// The pool keeps at most its number of buffers and its bytes, the most recently given
// back first; hands out an idle buffer only to a picture that fits it without wasting
// more than half of it; and frees at once what is larger than its whole allowance.
TEST(PictureBufferPool, StaysWithinItsLimits)
{
    PictureBufferPool pool({3, 4 * kMiB});
    std::vector<void*> given;
    for (int i = 0; i < 5; ++i)
        given.push_back(pool.take(kMiB));
    for (void* p : given)
        pool.give(p);
    auto s = pool.stats();
    EXPECT_EQ(s.idleBuffers, 3u);
    EXPECT_LE(s.idleBytes, 4 * kMiB);
    EXPECT_EQ(s.reused, 0u);

    // The last three given back are the ones kept.
    const std::set<void*> kept(given.begin() + 2, given.end());
    void* a = pool.take(600 * 1024); // fits a 1 MiB buffer
    EXPECT_TRUE(kept.count(a));
    void* b = pool.take(400 * 1024); // would waste more than half of one
    EXPECT_FALSE(kept.count(b));
    void* c = pool.take(kMiB + 8192); // larger than any
    EXPECT_FALSE(kept.count(c));
    s = pool.stats();
    EXPECT_EQ(s.reused, 1u);
    EXPECT_EQ(s.idleBuffers, 2u);

    // A buffer larger than the whole allowance is not kept, and pushes nothing out.
    void* huge = pool.take(5 * kMiB);
    std::memset(huge, 1, 5 * kMiB);
    pool.give(huge);
    EXPECT_EQ(pool.stats().idleBuffers, 2u);

    // The byte allowance: three more buffers of 1.5 MiB leave only two of them.
    for (void* p : {a, b, c})
        pool.give(p);
    EXPECT_LE(pool.stats().idleBytes, 4 * kMiB);
    pool.release();
    std::vector<void*> big;
    for (int i = 0; i < 3; ++i)
        big.push_back(pool.take(3 * kMiB / 2));
    for (void* p : big)
        pool.give(p);
    s = pool.stats();
    EXPECT_EQ(s.idleBuffers, 2u);
    EXPECT_LE(s.idleBytes, 4 * kMiB);
    EXPECT_EQ(pool.take(3 * kMiB / 2), big[2]);
    pool.give(big[2]);
    pool.release();
    EXPECT_EQ(pool.stats().idleBytes, 0u);
}

// Threads that take and give back buffers at once never get the same buffer: each
// finds in its buffer only what it wrote itself, and the pool keeps its limits.
TEST(PictureBufferPool, ThreadsNeverShareABuffer)
{
    PictureBufferPool pool({4, 8 * kMiB});
    std::atomic<int> mixed{0};
    std::vector<std::thread> threads;
    constexpr int kThreads = 4, kRounds = 5000;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t));
            for (int i = 0; i < kRounds; ++i) {
                const std::size_t n = PictureBufferPool::kMinBytes + rng() % PictureBufferPool::kMinBytes;
                auto* p = static_cast<std::uint8_t*>(pool.take(n));
                // A mark on every page, and on the last byte.
                const auto mark = static_cast<std::uint8_t>(t * kRounds + i);
                for (std::size_t k = 0; k < n; k += 4096)
                    p[k] = mark;
                p[n - 1] = mark;
                std::this_thread::yield();
                bool mine = p[n - 1] == mark;
                for (std::size_t k = 0; k < n && mine; k += 4096)
                    mine = p[k] == mark;
                if (!mine)
                    ++mixed;
                pool.give(p);
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mixed.load(), 0);
    const auto s = pool.stats();
    EXPECT_EQ(s.taken, std::uint64_t(kThreads) * kRounds);
    EXPECT_GT(s.reused, 0u);
    EXPECT_LE(s.idleBuffers, 4u);
    EXPECT_LE(s.idleBytes, 8 * kMiB);
}

// Pictures converted on several threads at once (as provisioning does), all through
// the process's pool, come out as they do one at a time.
TEST(PictureBufferPool, ConversionsOnSeveralThreadsGiveTheSamePictures)
{
    const Image src = noise(900, 700, 3);
    const Bytes png = EncodePng(src, 1);
    auto convert = [&] {
        Image picture;
        std::string error;
        PixelSize declared;
        if (!DecodeImage(png, picture, error, ShownDecodeOptions({800, 480}), &declared))
            return Image();
        return ProposedCrop(picture, declared, {800, 480});
    };
    const Image want = convert();
    ASSERT_EQ(want.width, 800);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 6; ++i)
                if (convert().pixels != want.pixels)
                    ++wrong;
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace tarsel
