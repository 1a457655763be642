// The one picture type of the pictures layer and the readers that fill it.
#pragma once

#include "pictures/buffer_pool.h"
#include "util/bytes.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace tarsel {

// The allocator of pixel storage. It leaves new elements uninitialised: every reader
// and scaler writes each pixel byte it hands out, so zero-filling a large picture
// first would only cost time (and a buffer may come back from the pool holding an
// earlier picture). Picture-sized storage comes from PictureBufferPool::shared() and
// goes back to it, so the next picture reuses pages that are already there.
template <typename T>
struct PixelAllocator {
    using value_type = T;
    PixelAllocator() = default;
    template <typename U>
    PixelAllocator(const PixelAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t n)
    {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        if (n * sizeof(T) >= PictureBufferPool::kMinBytes)
            return static_cast<T*>(PictureBufferPool::shared().take(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept
    {
        if (n * sizeof(T) >= PictureBufferPool::kMinBytes)
            PictureBufferPool::shared().give(p);
        else
            std::allocator<T>().deallocate(p, n);
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        if constexpr (sizeof...(Args) == 0)
            ::new (static_cast<void*>(p)) U;
        else
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const PixelAllocator<U>&) const noexcept
    {
        return true;
    }
};

using PixelBuffer = std::vector<std::uint8_t, PixelAllocator<std::uint8_t>>;

// A 24-bit picture, top-down: row 0 is the top row, each pixel three bytes in the
// order blue, green, red, rows packed without padding (stride = 3 × width).
struct Image {
    int width = 0;
    int height = 0;
    PixelBuffer pixels;

    Image() = default;
    // A picture of the given size filled with one colour (blue, green, red).
    Image(int w, int h, std::uint8_t b = 255, std::uint8_t g = 255, std::uint8_t r = 255);

    bool empty() const { return width <= 0 || height <= 0 || pixels.empty(); }
    std::size_t stride() const { return static_cast<std::size_t>(width) * 3; }
    std::uint8_t* row(int y) { return pixels.data() + stride() * static_cast<std::size_t>(y); }
    const std::uint8_t* row(int y) const { return pixels.data() + stride() * static_cast<std::size_t>(y); }
    std::uint8_t* at(int x, int y) { return row(y) + 3 * static_cast<std::size_t>(x); }
    const std::uint8_t* at(int x, int y) const { return row(y) + 3 * static_cast<std::size_t>(x); }
    void setPixel(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b)
    {
        auto* p = at(x, y);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
};

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

// Readers refuse a picture whose declared width × height exceeds this before they
// allocate anything for its pixels.
inline constexpr std::int64_t kMaxImagePixels = 50'000'000;

enum class ImageFormat { Unknown, Png, Jpeg, Bmp };

// The conversion window's rule: ".png"/".PNG", ".jpg"/".JPG", ".bmp"/".BMP", exactly
// these spellings at the end of the name; anything else (".Png", ".jpeg", no
// extension) is not recognised.
ImageFormat ImageFormatForFileName(const std::string& fileName);

// The format told by the first bytes of the content (PNG signature, JPEG SOI marker,
// "BM"); Unknown otherwise.
ImageFormat DetectImageFormat(const Bytes& content);

// Decoding options. A reader may deliver the picture smaller than the file holds
// when that is cheaper (JPEG DCT scaling) but never smaller than `atLeast` returns
// for the declared size, and never with a different aspect than the scaling implies.
// `maxPixels` is the pixel limit (a smaller one keeps fuzzing fast).
struct DecodeOptions {
    // A JPEG is decoded DCT-scaled (1/8, 1/4 or 1/2) to the smallest size that still
    // covers atLeast(declared), with the fast inverse DCT: for pictures that are shown
    // and reduced further.
    std::function<PixelSize(PixelSize declared)> atLeast;
    std::int64_t maxPixels = kMaxImagePixels;
};

// The refusal text of a picture above the limit.
std::string TooLargeText(std::int64_t width, std::int64_t height, std::int64_t maxPixels);

// Each reader fills `out` and returns true, or returns false with a message for the
// user in `error` and leaves `out` untouched. `declared` (when given) receives the
// size the file declares, which differs from out's size only under DecodeOptions.
//
// PNG: palette, grey, grey+alpha, 16-bit (scaled to 8 bits), interlaced; transparent
// parts are composited on white (a tRNS colour counts as fully transparent).
// No gamma correction: samples are taken as they are stored.
bool DecodePng(const Bytes& content, Image& out, std::string& error, const DecodeOptions& options = {});
// JPEG: greyscale, YCbCr and (Adobe) CMYK/YCCK. A truncated file is an error.
bool DecodeJpeg(const Bytes& content, Image& out, std::string& error,
                const DecodeOptions& options = {}, PixelSize* declared = nullptr);
// BMP as paint programs write it: Windows headers of 40, 52, 56, 108 and 124 bytes
// and OS/2 headers of 12, 16 and 64 bytes; 1, 4 and 8 bits with a palette, 16 bits
// (5-5-5, or bit fields), 24 bits, 32 bits (plain or bit fields of any width up to
// 32 bits, alpha laid on white unless it is zero everywhere); RLE8 and RLE4 with
// delta and end codes, bounded to the picture (pixels they skip take palette entry
// 0); rows bottom-up or top-down. OS/2 Huffman and 24-bit run-length codings, and
// JPEG or PNG inside a BMP, are refused with a message.
bool DecodeBmp(const Bytes& content, Image& out, std::string& error, const DecodeOptions& options = {});

// Chooses the reader by the content's signature (not by the name).
bool DecodeImage(const Bytes& content, Image& out, std::string& error,
                 const DecodeOptions& options = {}, PixelSize* declared = nullptr);

// Reads the file and decodes it by its content. Messages name the file.
bool LoadImageFile(const std::string& path, Image& out, std::string& error,
                   const DecodeOptions& options = {}, PixelSize* declared = nullptr);

} // namespace tarsel
