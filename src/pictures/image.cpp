#include "pictures/image.h"

#include "util/files.h"

#include <algorithm>
#include <cstring>

namespace tarsel {

namespace {

bool endsWith(const std::string& s, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// No picture file of ours comes near this; a larger file is refused before it is read.
constexpr std::int64_t kMaxImageFileBytes = 512LL * 1024 * 1024;

} // namespace

Image::Image(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r)
    : width(w > 0 ? w : 0), height(h > 0 ? h : 0)
{
    pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    if (pixels.empty())
        return;
    if (b == g && g == r) {
        std::memset(pixels.data(), b, pixels.size());
        return;
    }
    // The first pixel, then what is filled so far copied after itself.
    pixels[0] = b;
    pixels[1] = g;
    pixels[2] = r;
    for (std::size_t done = 3; done < pixels.size(); done *= 2)
        std::memcpy(pixels.data() + done, pixels.data(), std::min(done, pixels.size() - done));
}

std::string TooLargeText(std::int64_t width, std::int64_t height, std::int64_t maxPixels)
{
    return "the picture is too large (" + std::to_string(width) + " × " + std::to_string(height) +
           " pixels; at most " + std::to_string(maxPixels / 1'000'000) + " megapixels are accepted)";
}

ImageFormat ImageFormatForFileName(const std::string& fileName)
{
    if (endsWith(fileName, ".png") || endsWith(fileName, ".PNG"))
        return ImageFormat::Png;
    if (endsWith(fileName, ".jpg") || endsWith(fileName, ".JPG"))
        return ImageFormat::Jpeg;
    if (endsWith(fileName, ".bmp") || endsWith(fileName, ".BMP"))
        return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

ImageFormat DetectImageFormat(const Bytes& content)
{
    static const char pngSignature[] = "\x89PNG\r\n\x1a\n";
    if (content.size() >= 8 && content.compare(0, 8, pngSignature, 8) == 0)
        return ImageFormat::Png;
    if (content.size() >= 3 && byteAt(content, 0) == 0xFF && byteAt(content, 1) == 0xD8 && byteAt(content, 2) == 0xFF)
        return ImageFormat::Jpeg;
    if (content.size() >= 2 && content[0] == 'B' && content[1] == 'M')
        return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

bool DecodeImage(const Bytes& content, Image& out, std::string& error, const DecodeOptions& options,
                 PixelSize* declared)
{
    Image tmp;
    bool ok = false;
    switch (DetectImageFormat(content)) {
    case ImageFormat::Png:
        ok = DecodePng(content, tmp, error, options);
        if (ok && declared)
            *declared = {tmp.width, tmp.height};
        break;
    case ImageFormat::Jpeg:
        ok = DecodeJpeg(content, tmp, error, options, declared);
        break;
    case ImageFormat::Bmp:
        ok = DecodeBmp(content, tmp, error, options);
        if (ok && declared)
            *declared = {tmp.width, tmp.height};
        break;
    case ImageFormat::Unknown:
        error = content.empty() ? "The file is empty." : "The file is not a PNG, JPEG or BMP picture.";
        return false;
    }
    if (ok)
        out = std::move(tmp);
    return ok;
}

bool LoadImageFile(const std::string& path, Image& out, std::string& error, const DecodeOptions& options,
                   PixelSize* declared)
{
    Bytes content;
    std::string reason;
    switch (ReadRegularFile(path, kMaxImageFileBytes, content, reason)) {
    case ReadStatus::Ok: break;
    case ReadStatus::TooLarge: error = "\"" + path + "\" is too large for a picture."; return false;
    case ReadStatus::ReadFailed: error = "Cannot read \"" + path + "\": " + reason; return false;
    case ReadStatus::OpenFailed:
    case ReadStatus::NotRegular: error = "Cannot open \"" + path + "\": " + reason; return false;
    }
    std::string why;
    if (!DecodeImage(content, out, why, options, declared)) {
        error = "\"" + path + "\": " + why;
        return false;
    }
    return true;
}

} // namespace tarsel
