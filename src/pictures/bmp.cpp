// A BMP reader for what paint programs write, which checks every header field against
// the file's size before it touches pixel data, and the 24-bit BMP writer.
//
// Read: the Windows headers of 40, 52, 56, 108 and 124 bytes and the OS/2 headers of
// 12, 16 and 64 bytes; 1, 4 and 8 bits with a palette, 16 and 32 bits with the
// default layouts or with bit fields (each channel any run of up to 32 bits), 24
// bits; RLE8 and RLE4 with their end-of-line, end-of-picture and delta codes; rows
// stored bottom-up or top-down.
#include "pictures/codecs.h"
#include "pictures/image.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace tarsel {

namespace {

constexpr std::size_t kFileHeaderSize = 14;

enum : std::uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3, BiAlphaBitfields = 6 };

std::uint32_t le16(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint32_t>(byteAt(b, at)) | static_cast<std::uint32_t>(byteAt(b, at + 1)) << 8;
}

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return le16(b, at) | le16(b, at + 2) << 16;
}

std::uint32_t le16Ptr(const std::uint8_t* p) { return p[0] | static_cast<std::uint32_t>(p[1]) << 8; }

std::uint32_t le32Ptr(const std::uint8_t* p)
{
    return le16Ptr(p) | le16Ptr(p + 2) << 16;
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

// One channel of a bit-field pixel: the masked bits scaled to 0..255, rounded.
// Masks of up to 16 bits go through a table; wider ones are computed in 64 bits.
class Channel {
public:
    // False for a mask that is not one run of ones. A zero mask gives 0 always.
    bool set(std::uint32_t mask)
    {
        m_mask = mask;
        m_table.clear();
        if (mask == 0)
            return true;
        m_shift = std::countr_zero(mask);
        const std::uint32_t bits = mask >> m_shift;
        if ((bits & (bits + 1)) != 0)
            return false;
        m_max = bits;
        if (std::popcount(bits) <= 16) {
            m_table.resize(static_cast<std::size_t>(bits) + 1);
            for (std::uint32_t v = 0; v <= bits; ++v)
                m_table[v] = scale(v);
        }
        return true;
    }
    bool present() const { return m_mask != 0; }
    std::uint8_t operator()(std::uint32_t px) const
    {
        if (m_mask == 0)
            return 0;
        const std::uint32_t v = (px & m_mask) >> m_shift;
        return m_table.empty() ? scale(v) : m_table[v];
    }

private:
    std::uint8_t scale(std::uint32_t v) const
    {
        return static_cast<std::uint8_t>((static_cast<std::uint64_t>(v) * 255 + m_max / 2) / m_max);
    }

    std::uint32_t m_mask = 0;
    int m_shift = 0;
    std::uint64_t m_max = 1;
    std::vector<std::uint8_t> m_table;
};

bool fail(std::string& error, const std::string& why)
{
    error = "BMP: " + why;
    return false;
}

std::string sizeText(std::int64_t w, std::int64_t h) { return std::to_string(w) + " × " + std::to_string(h); }

struct Header {
    std::uint32_t size = 0;
    bool os2 = false;     // an OS/2 header (12, 16 or 64 bytes)
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool topDown = false;
    std::uint32_t planes = 0;
    std::uint32_t bpp = 0;
    std::uint32_t compression = BiRgb;
    std::uint32_t colorsUsed = 0;
};

bool readHeader(const Bytes& content, Header& h, std::string& error)
{
    h.size = le32(content, 14);
    switch (h.size) {
    case 12: case 16: case 64: h.os2 = true; break;
    case 40: case 52: case 56: case 108: case 124: break;
    default: return fail(error, "unknown header size " + std::to_string(h.size));
    }
    if (kFileHeaderSize + h.size > content.size())
        return fail(error, "the file is truncated");
    if (h.size == 12) {
        h.width = le16(content, 18);
        h.height = le16(content, 20);
        h.planes = le16(content, 22);
        h.bpp = le16(content, 24);
    } else {
        h.width = static_cast<std::int32_t>(le32(content, 18));
        h.height = static_cast<std::int32_t>(le32(content, 22));
        h.planes = le16(content, 26);
        h.bpp = le16(content, 28);
        if (h.size > 16) {
            h.compression = le32(content, 30);
            h.colorsUsed = le32(content, 46);
        }
    }
    h.topDown = h.height < 0;
    if (h.topDown)
        h.height = -h.height;
    return true;
}

// The palette as blue, green, red per entry, always 2^bpp entries (those past the
// file's table are black). `tablePos` is where the table starts.
bool readPalette(const Bytes& content, const Header& h, std::size_t tablePos, std::uint32_t dataOffset,
                 std::vector<std::uint8_t>& palette, std::string& error)
{
    const std::uint32_t maxColors = 1u << h.bpp;
    if (h.colorsUsed > maxColors)
        return fail(error, "invalid palette size " + std::to_string(h.colorsUsed));
    std::uint32_t count = h.colorsUsed ? h.colorsUsed : maxColors;
    const std::size_t entry = h.size == 12 ? 3 : 4;
    // Some writers give a full-size count but store a shorter table before the pixels.
    if (h.colorsUsed == 0 && dataOffset > tablePos && dataOffset < tablePos + count * entry)
        count = static_cast<std::uint32_t>((dataOffset - tablePos) / entry);
    if (tablePos + count * entry > content.size())
        return fail(error, "the file is truncated");
    palette.assign(static_cast<std::size_t>(maxColors) * 3, 0);
    for (std::uint32_t i = 0; i < count; ++i)
        std::memcpy(&palette[i * 3], content.data() + tablePos + i * entry, 3);
    return true;
}

struct Masks {
    Channel red, green, blue, alpha;
};

// Run-length data (RLE8, RLE4) into palette indexes: runs, absolute runs padded to
// 16 bits, end of line, end of picture and delta moves. Everything outside the
// picture is dropped; pixels never written keep index 0. Data that ends inside a
// code is a truncated file; data that ends between codes ends the picture.
bool decodeRle(const std::uint8_t* data, std::size_t size, bool rle4, const Header& h,
               std::vector<std::uint8_t>& indexes, std::string& error)
{
    const std::int64_t width = h.width, height = h.height;
    std::int64_t x = 0, y = 0; // y counts stored rows from the first one
    std::size_t pos = 0;
    auto put = [&](std::int64_t px, std::uint8_t index) {
        if (px < width && y < height)
            indexes[static_cast<std::size_t>(y * width + px)] = index;
    };
    while (pos + 2 <= size && y < height) {
        const std::uint8_t count = data[pos];
        const std::uint8_t code = data[pos + 1];
        pos += 2;
        if (count > 0) {
            const std::int64_t n = std::min<std::int64_t>(count, std::max<std::int64_t>(width - x, 0));
            for (std::int64_t i = 0; i < n; ++i)
                put(x + i, rle4 ? static_cast<std::uint8_t>(i % 2 == 0 ? code >> 4 : code & 0x0F) : code);
            x += count;
            continue;
        }
        switch (code) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of picture
            return true;
        case 2: // delta: right, then up the picture (on to later stored rows)
            if (pos + 2 > size)
                return fail(error, "the file is truncated");
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
            break;
        default: { // absolute run of `code` pixels, padded to 16 bits
            const std::size_t bytes = rle4 ? (code + 1u) / 2 : code;
            if (pos + bytes > size)
                return fail(error, "the file is truncated");
            for (unsigned i = 0; i < code; ++i) {
                const std::uint8_t b = data[pos + (rle4 ? i / 2 : i)];
                put(x + i, rle4 ? static_cast<std::uint8_t>(i % 2 == 0 ? b >> 4 : b & 0x0F) : b);
            }
            x += code;
            pos += bytes + (bytes & 1);
        }
        }
    }
    return true;
}

} // namespace

bool DecodeBmp(const Bytes& content, Image& out, std::string& error, const DecodeOptions& options)
{
    const std::size_t size = content.size();
    if (size < kFileHeaderSize + 4 || content[0] != 'B' || content[1] != 'M')
        return fail(error, size < kFileHeaderSize + 4 ? "the file is truncated" : "not a BMP file");
    const std::uint32_t dataOffset = le32(content, 10);
    Header h;
    if (!readHeader(content, h, error))
        return false;
    if (h.width <= 0 || h.height <= 0)
        return fail(error, "the picture has no pixels (" + sizeText(h.width, h.height) + ")");
    if (h.width * h.height > options.maxPixels)
        return fail(error, TooLargeText(h.width, h.height, options.maxPixels));
    if (h.planes != 1)
        return fail(error, "invalid number of planes");
    if (h.bpp != 1 && h.bpp != 4 && h.bpp != 8 && h.bpp != 16 && h.bpp != 24 && h.bpp != 32)
        return fail(error, std::to_string(h.bpp) + "-bit pictures are not supported");

    // What the compression field means depends on the header: OS/2 uses 3 and 4 for
    // its own Huffman and 24-bit run-length codings, not for bit fields.
    const bool rle = h.compression == BiRle8 || h.compression == BiRle4;
    const bool bitfields = !h.os2 && (h.compression == BiBitfields || h.compression == BiAlphaBitfields);
    if (h.os2 && h.compression == 3)
        return fail(error, "OS/2 Huffman-coded pictures are not supported");
    if (h.os2 && h.compression == 4)
        return fail(error, "OS/2 24-bit run-length pictures are not supported");
    if (h.compression != BiRgb && !rle && !bitfields)
        return fail(error, "compression method " + std::to_string(h.compression) + " is not supported");
    if ((h.compression == BiRle8 && h.bpp != 8) || (h.compression == BiRle4 && h.bpp != 4))
        return fail(error, "run-length coding does not go with " + std::to_string(h.bpp) + " bits per pixel");
    if (bitfields && h.bpp != 16 && h.bpp != 32)
        return fail(error, "bit fields with " + std::to_string(h.bpp) + " bits per pixel are not supported");

    // Channel masks: inside the larger headers (alpha from 56 bytes on), or right
    // after a 40-byte header (with alpha for the alpha bit-field coding).
    std::size_t tablePos = kFileHeaderSize + h.size;
    Masks m;
    if (bitfields) {
        const std::size_t maskPos = kFileHeaderSize + 40;
        std::size_t maskCount = h.size >= 56 ? 4 : 3;
        if (h.size == 40) {
            maskCount = h.compression == BiAlphaBitfields ? 4 : 3;
            if (tablePos + 4 * maskCount > size)
                return fail(error, "the file is truncated");
            tablePos += 4 * maskCount;
        }
        const std::uint64_t limit = h.bpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        const std::uint32_t r = le32(content, maskPos), g = le32(content, maskPos + 4), b = le32(content, maskPos + 8);
        const std::uint32_t a = maskCount == 4 ? le32(content, maskPos + 12) : 0;
        if ((r | g | b) == 0 || (r | g | b | a) > limit || !m.red.set(r) || !m.green.set(g) || !m.blue.set(b) ||
            !m.alpha.set(a))
            return fail(error, "invalid colour masks");
    } else if (h.bpp == 16) {
        m.red.set(0x7C00);
        m.green.set(0x03E0);
        m.blue.set(0x001F);
    }

    std::vector<std::uint8_t> palette; // blue, green, red per entry
    if (h.bpp <= 8 && !readPalette(content, h, tablePos, dataOffset, palette, error))
        return false;

    if (dataOffset < kFileHeaderSize + h.size || dataOffset > size)
        return fail(error, "invalid pixel data offset");
    const auto* data = reinterpret_cast<const std::uint8_t*>(content.data()) + dataOffset;
    const std::size_t available = size - dataOffset;
    const std::uint64_t stride = ((static_cast<std::uint64_t>(h.width) * h.bpp + 31) / 32) * 4;
    if (!rle && stride * static_cast<std::uint64_t>(h.height) > available)
        return fail(error, "the file is truncated");

    Image img;
    std::vector<std::uint8_t> indexes;
    try {
        img = Image(static_cast<int>(h.width), static_cast<int>(h.height), 0, 0, 0);
        if (rle)
            indexes.assign(static_cast<std::size_t>(h.width * h.height), 0);
    } catch (const std::bad_alloc&) {
        return fail(error, "not enough memory for the picture");
    }
    if (rle && !decodeRle(data, available, h.compression == BiRle4, h, indexes, error))
        return false;

    // A 32-bit picture whose alpha channel is zero everywhere did not mean it:
    // it is opaque. Otherwise transparent parts are laid on white, as for PNG.
    bool useAlpha = false;
    if (m.alpha.present()) {
        for (int y = 0; y < img.height && !useAlpha; ++y) {
            const std::uint8_t* src = data + stride * static_cast<std::uint64_t>(y);
            for (int x = 0; x < img.width; ++x) {
                const std::uint32_t px = h.bpp == 16 ? le16Ptr(src + 2 * x) : le32Ptr(src + 4 * x);
                if (m.alpha(px) != 0) {
                    useAlpha = true;
                    break;
                }
            }
        }
    }

    for (int y = 0; y < img.height; ++y) {
        const int fileRow = h.topDown ? y : img.height - 1 - y;
        std::uint8_t* dst = img.row(y);
        if (rle) {
            const std::uint8_t* idx = indexes.data() + static_cast<std::size_t>(fileRow) * img.width;
            for (int x = 0; x < img.width; ++x, dst += 3)
                std::memcpy(dst, &palette[idx[x] * 3u], 3);
            continue;
        }
        const std::uint8_t* src = data + stride * static_cast<std::uint64_t>(fileRow);
        switch (h.bpp) {
        case 24:
            std::memcpy(dst, src, img.stride());
            break;
        case 16:
        case 32:
            for (int x = 0; x < img.width; ++x, dst += 3) {
                if (h.bpp == 32 && !bitfields) {
                    std::memcpy(dst, src + 4 * x, 3);
                    continue;
                }
                const std::uint32_t px = h.bpp == 16 ? le16Ptr(src + 2 * x) : le32Ptr(src + 4 * x);
                dst[0] = m.blue(px);
                dst[1] = m.green(px);
                dst[2] = m.red(px);
                if (useAlpha) {
                    const unsigned a = m.alpha(px);
                    for (int c = 0; c < 3; ++c)
                        dst[c] = static_cast<std::uint8_t>((dst[c] * a + 255 * (255 - a) + 127) / 255);
                }
            }
            break;
        default: {
            const unsigned perByte = 8 / h.bpp;
            const unsigned mask = (1u << h.bpp) - 1;
            for (int x = 0; x < img.width; ++x, dst += 3) {
                const unsigned byte = src[x / perByte];
                const unsigned shift = 8 - h.bpp * (x % perByte + 1);
                std::memcpy(dst, &palette[((byte >> shift) & mask) * 3], 3);
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
