#include "pictures/convert.h"

#include "pictures/codecs.h"
#include "pictures/resample.h"
#include "util/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarsel {

namespace {

// Saved like a settings file: the old picture stays whole until the new one is on
// disk, a link keeps pointing at the file it names, and a device or FIFO is never
// replaced.
bool writeWholeFile(const std::string& path, const Bytes& bytes, std::string& error)
{
    std::string reason;
    if (!WriteFileAtomic(path, bytes, reason)) {
        error = "Cannot create \"" + path + "\": " + reason;
        return false;
    }
    return true;
}

} // namespace

Bytes BitmapToRgb565Bytes(const Image& img, int width, int height)
{
    width = std::clamp(width, 0, img.width);
    height = std::clamp(height, 0, img.height);
    Bytes out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 2, '\0');
    std::size_t o = 0;
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* p = img.row(r);
        for (int c = 0; c < width; ++c, p += 3) {
            const unsigned word = (p[2] >> 3) << 11 | (p[1] >> 2) << 5 | (p[0] >> 3);
            out[o++] = static_cast<char>(word & 0xFF);
            out[o++] = static_cast<char>(word >> 8);
        }
    }
    return out;
}

bool SaveBitmapRgb565File(const Image& img, int width, int height, const std::string& path, std::string& error)
{
    return writeWholeFile(path, BitmapToRgb565Bytes(img, width, height), error);
}

Bytes BitmapToJpegBytes(const Image& img, bool compress)
{
    return EncodeJpeg(img, compress ? kJpegCompressedQuality : kJpegDefaultQuality);
}

Bytes BitmapToJpegBytes(const Image& img, int /*width*/, int /*height*/, bool compress)
{
    return BitmapToJpegBytes(img, compress);
}

bool SaveBitmapBmpFile(const Image& img, const std::string& path, std::string& error)
{
    return writeWholeFile(path, EncodeBmp(img), error);
}

bool SaveBitmapJpegFile(const Image& img, const std::string& path, std::string& error)
{
    return writeWholeFile(path, BitmapToJpegBytes(img, false), error);
}

Bytes BitmapTo1bpp(const Image& img, int width, int height)
{
    const Image scaled = ScaleImage(img, width, height);
    if (scaled.empty())
        return {};
    Bytes out;
    out.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) / 8);
    unsigned byte = 0;
    int bits = 0;
    for (int y = 0; y < scaled.height; ++y) {
        const std::uint8_t* p = scaled.row(y);
        for (int x = 0; x < scaled.width; ++x, p += 3) {
            // 0.299 R + 0.587 G + 0.114 B in thousandths.
            const int luma1000 = 299 * p[2] + 587 * p[1] + 114 * p[0];
            byte = (byte << 1) | (luma1000 < kMonochromeThreshold * 1000 ? 1u : 0u);
            if (++bits == 8) {
                out.push_back(static_cast<char>(byte));
                byte = 0;
                bits = 0;
            }
        }
    }
    return out;
}

Bytes BitmapTo1bppFile(const std::string& file, int width, int height)
{
    Image img;
    std::string error;
    if (!LoadImageFile(file, img, error))
        return {};
    return BitmapTo1bpp(img, width, height);
}

} // namespace tarsel
