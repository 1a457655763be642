// Test helpers that make picture files of every kind the readers must handle,
// written with libpng and libjpeg directly or byte by byte, so that the readers
// are checked against files they did not write themselves.
#pragma once

#include "pictures/image.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tarsel::testpics {

inline void put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void put32(Bytes& b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
inline void putBe32(Bytes& b, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<char>((v >> s) & 0xFF));
}

// A PNG written by libpng from packed rows in the file's own sample layout.
struct PngSpec {
    int width = 1;
    int height = 1;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::uint8_t> rows; // height rows of png_get_rowbytes bytes each
    std::vector<png_color> palette;
    std::vector<std::uint8_t> trnsAlpha; // palette alpha
    bool trnsColorSet = false;
    png_color_16 trnsColor{};
    int filter = -1; // one PNG_FILTER_* for every row; -1: libpng's choice
};

inline void pngWriteSink(png_structp png, png_bytep data, png_size_t n)
{
    static_cast<Bytes*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), n);
}
inline void pngNoFlush(png_structp) {}

inline Bytes WritePng(const PngSpec& desc)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rowPtrs;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, pngWriteSink, pngNoFlush);
    png_set_IHDR(png, info, desc.width, desc.height, desc.bitDepth, desc.colorType,
                 desc.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!desc.palette.empty())
        png_set_PLTE(png, info, desc.palette.data(), static_cast<int>(desc.palette.size()));
    if (!desc.trnsAlpha.empty())
        png_set_tRNS(png, info, desc.trnsAlpha.data(), static_cast<int>(desc.trnsAlpha.size()), nullptr);
    if (desc.trnsColorSet)
        png_set_tRNS(png, info, nullptr, 0, &desc.trnsColor);
    if (desc.filter >= 0)
        png_set_filter(png, 0, desc.filter);
    png_write_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    for (int y = 0; y < desc.height; ++y)
        rowPtrs.push_back(const_cast<png_bytep>(desc.rows.data() + rowBytes * y));
    png_write_image(png, rowPtrs.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A PNG chunk with its length and CRC.
inline Bytes PngChunk(const char* type, const Bytes& data)
{
    Bytes out;
    putBe32(out, static_cast<std::uint32_t>(data.size()));
    Bytes body = std::string(type, 4) + data;
    out += body;
    putBe32(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
    return out;
}

// A PNG made only of a signature, an IHDR declaring the given size, an IDAT of a few
// zero bytes and an IEND: the header is valid, the data far too short.
inline Bytes PngDeclaring(std::uint32_t width, std::uint32_t height)
{
    Bytes ihdr;
    putBe32(ihdr, width);
    putBe32(ihdr, height);
    ihdr += bytesOf({8, 2, 0, 0, 0});
    Bytes out("\x89PNG\r\n\x1a\n", 8);
    out += PngChunk("IHDR", ihdr);
    out += PngChunk("IDAT", bytesOf({0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
    out += PngChunk("IEND", {});
    return out;
}

struct JpegErr {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};
inline void jpegErrJump(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegErr*>(c->err)->jump, 1); }

// A JPEG written by libjpeg: components 1 (grey) or 3 (RGB given as r,g,b).
inline Bytes WriteJpeg(int width, int height, int components, const std::vector<std::uint8_t>& samples,
                       int quality = 90, bool progressive = false)
{
    jpeg_compress_struct c{};
    JpegErr err;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrJump;
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::free(buf);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + static_cast<std::size_t>(c.next_scanline) * width * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(reinterpret_cast<const char*>(buf), size);
    std::free(buf);
    return out;
}

// A BMP assembled byte by byte. Fields not given take sound values.
struct BmpSpec {
    std::int32_t width = 1;
    std::int32_t height = 1; // negative: top-down
    std::uint16_t planes = 1;
    std::uint16_t bpp = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint32_t> palette;   // 0x00RRGGBB entries
    std::vector<std::uint32_t> masks;     // red, green, blue for BI_BITFIELDS
    Bytes pixelData;                      // rows as stored, with padding
    std::int64_t dataOffsetOverride = -1; // -1: right after the tables
    std::uint32_t headerSize = 40;
};

inline Bytes WriteBmp(const BmpSpec& s)
{
    Bytes tables;
    for (auto m : s.masks)
        put32(tables, m);
    for (auto c : s.palette)
        put32(tables, c);
    const std::uint32_t offset = s.dataOffsetOverride >= 0 ? static_cast<std::uint32_t>(s.dataOffsetOverride)
                                                           : 14 + s.headerSize + static_cast<std::uint32_t>(tables.size());
    Bytes out = "BM";
    put32(out, offset + static_cast<std::uint32_t>(s.pixelData.size()));
    put32(out, 0);
    put32(out, offset);
    put32(out, s.headerSize);
    put32(out, static_cast<std::uint32_t>(s.width));
    put32(out, static_cast<std::uint32_t>(s.height));
    put16(out, s.planes);
    put16(out, s.bpp);
    put32(out, s.compression);
    put32(out, static_cast<std::uint32_t>(s.pixelData.size()));
    put32(out, 2835);
    put32(out, 2835);
    put32(out, s.colorsUsed);
    put32(out, 0);
    out.append(s.headerSize - 40, '\0');
    out += tables;
    if (out.size() < offset)
        out.append(offset - out.size(), '\0');
    out += s.pixelData;
    return out;
}

// A colourful test picture: smooth gradients with a few sharp edges.
inline Image TestPicture(int w, int h)
{
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, static_cast<std::uint8_t>(x * 255 / std::max(1, w - 1)),
                         static_cast<std::uint8_t>(y * 255 / std::max(1, h - 1)),
                         static_cast<std::uint8_t>(((x / 16 + y / 16) % 2) ? 200 : 40));
    return img;
}

} // namespace tarsel::testpics
