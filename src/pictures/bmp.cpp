// A small BMP reader that checks every header field against the file's size before
// it touches pixel data, and the 24-bit BMP writer.
#include "pictures/codecs.h"
#include "pictures/image.h"

#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace tarsel {

namespace {

constexpr std::size_t kFileHeaderSize = 14;

enum : std::uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3 };

std::uint32_t le16(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint32_t>(byteAt(b, at)) | static_cast<std::uint32_t>(byteAt(b, at + 1)) << 8;
}

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return le16(b, at) | le16(b, at + 2) << 16;
}

void put16(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void put32(Bytes& b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// One channel of a BI_BITFIELDS pixel: the masked bits scaled to 0..255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t max = 0;

    bool set(std::uint32_t m)
    {
        if (m == 0)
            return false;
        mask = m;
        shift = std::countr_zero(m);
        const std::uint32_t bits = m >> shift;
        if ((bits & (bits + 1)) != 0)
            return false; // not one run of ones
        max = bits;
        return true;
    }
    std::uint8_t operator()(std::uint32_t px) const
    {
        return static_cast<std::uint8_t>((((px & mask) >> shift) * 255 + max / 2) / max);
    }
};

bool fail(std::string& error, const std::string& why)
{
    error = "BMP: " + why;
    return false;
}

} // namespace

bool DecodeBmp(const Bytes& content, Image& out, std::string& error)
{
    const std::size_t size = content.size();
    if (size < kFileHeaderSize + 4 || content[0] != 'B' || content[1] != 'M')
        return fail(error, size < kFileHeaderSize + 4 ? "the file is truncated" : "not a BMP file");
    const std::uint32_t dataOffset = le32(content, 10);
    const std::uint32_t headerSize = le32(content, 14);
    const bool core = headerSize == 12;
    if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 64 &&
        headerSize != 108 && headerSize != 124)
        return fail(error, "unknown header size " + std::to_string(headerSize));
    if (kFileHeaderSize + headerSize > size)
        return fail(error, "the file is truncated");

    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, bpp = 0, compression = BiRgb, colorsUsed = 0;
    if (core) {
        width = le16(content, 18);
        height = le16(content, 20);
        planes = le16(content, 22);
        bpp = le16(content, 24);
    } else {
        width = static_cast<std::int32_t>(le32(content, 18));
        height = static_cast<std::int32_t>(le32(content, 22));
        planes = le16(content, 26);
        bpp = le16(content, 28);
        compression = le32(content, 30);
        colorsUsed = le32(content, 46);
    }
    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (width <= 0 || height <= 0)
        return fail(error, "the picture has no pixels (" + std::to_string(width) + " × " + std::to_string(height) + ")");
    if (width * height > kMaxImagePixels)
        return fail(error, "the picture is too large (" + std::to_string(width) + " × " + std::to_string(height) +
                               " pixels; at most 50 megapixels are accepted)");
    if (planes != 1)
        return fail(error, "invalid number of planes");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return fail(error, std::to_string(bpp) + "-bit pictures are not supported");
    if (compression == BiRle8 || compression == BiRle4)
        return fail(error, "run-length compressed pictures are not supported");
    if (compression != BiRgb && !(compression == BiBitfields && bpp == 32))
        return fail(error, "compression method " + std::to_string(compression) + " is not supported");

    // Channel masks: inside the larger headers, or right after a 40-byte header.
    std::size_t tablePos = kFileHeaderSize + headerSize;
    Channel red, green, blue;
    if (compression == BiBitfields) {
        std::size_t maskPos = kFileHeaderSize + 40;
        if (headerSize == 40) {
            if (tablePos + 12 > size)
                return fail(error, "the file is truncated");
            tablePos += 12;
        }
        if (!red.set(le32(content, maskPos)) || !green.set(le32(content, maskPos + 4)) ||
            !blue.set(le32(content, maskPos + 8)))
            return fail(error, "invalid colour masks");
    }

    // Palette.
    std::vector<std::uint8_t> palette; // blue, green, red per entry
    if (bpp <= 8) {
        const std::uint32_t maxColors = 1u << bpp;
        if (colorsUsed > maxColors)
            return fail(error, "invalid palette size " + std::to_string(colorsUsed));
        const std::uint32_t count = colorsUsed ? colorsUsed : maxColors;
        const std::size_t entry = core ? 3 : 4;
        if (tablePos + count * entry > size)
            return fail(error, "the file is truncated");
        palette.assign(static_cast<std::size_t>(maxColors) * 3, 0); // entries past the table are black
        for (std::uint32_t i = 0; i < count; ++i)
            std::memcpy(&palette[i * 3], content.data() + tablePos + i * entry, 3);
    }

    const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bpp + 31) / 32) * 4;
    const std::uint64_t dataSize = stride * static_cast<std::uint64_t>(height);
    if (dataOffset < kFileHeaderSize + headerSize || dataOffset > size)
        return fail(error, "invalid pixel data offset");
    if (dataSize > size - dataOffset)
        return fail(error, "the file is truncated");

    Image img;
    try {
        img = Image(static_cast<int>(width), static_cast<int>(height), 0, 0, 0);
    } catch (const std::bad_alloc&) {
        return fail(error, "not enough memory for the picture");
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(content.data()) + dataOffset;
    for (int y = 0; y < img.height; ++y) {
        const int fileRow = topDown ? y : img.height - 1 - y;
        const std::uint8_t* src = data + stride * static_cast<std::uint64_t>(fileRow);
        std::uint8_t* dst = img.row(y);
        switch (bpp) {
        case 24:
            std::memcpy(dst, src, img.stride());
            break;
        case 32:
            for (int x = 0; x < img.width; ++x, src += 4, dst += 3) {
                if (compression == BiBitfields) {
                    const std::uint32_t px = src[0] | src[1] << 8 | src[2] << 16 | static_cast<std::uint32_t>(src[3]) << 24;
                    dst[0] = blue(px);
                    dst[1] = green(px);
                    dst[2] = red(px);
                } else {
                    dst[0] = src[0];
                    dst[1] = src[1];
                    dst[2] = src[2];
                }
            }
            break;
        default: {
            const unsigned perByte = 8 / bpp;
            const unsigned mask = (1u << bpp) - 1;
            for (int x = 0; x < img.width; ++x, dst += 3) {
                const unsigned byte = src[x / perByte];
                const unsigned shift = 8 - bpp * (x % perByte + 1);
                const unsigned index = (byte >> shift) & mask;
                std::memcpy(dst, &palette[index * 3], 3);
            }
        }
        }
    }
    out = std::move(img);
    return true;
}

Bytes EncodeBmp(const Image& img)
{
    if (img.empty())
        return {};
    const std::uint32_t stride = static_cast<std::uint32_t>((img.width * 3 + 3) / 4 * 4);
    const std::uint32_t dataSize = stride * static_cast<std::uint32_t>(img.height);
    const std::uint32_t offset = kFileHeaderSize + 40;
    Bytes out;
    out.reserve(offset + dataSize);
    out += "BM";
    put32(out, offset + dataSize);
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(img.width));
    put32(out, static_cast<std::uint32_t>(img.height)); // positive: bottom-up
    put16(out, 1);
    put16(out, 24);
    put32(out, BiRgb);
    put32(out, dataSize);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    const std::string padding(stride - img.stride(), '\0');
    for (int y = img.height - 1; y >= 0; --y) {
        out.append(reinterpret_cast<const char*>(img.row(y)), img.stride());
        out += padding;
    }
    return out;
}

} // namespace tarsel
