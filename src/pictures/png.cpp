// PNG reading and writing through libpng. libpng reports errors by longjmp; every
// libpng call sits in a function of its own whose state lives in the caller's frame,
// so nothing with a destructor is skipped and no local changes after setjmp.
#include "pictures/codecs.h"
#include "pictures/image.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>

namespace tarsel {

namespace {

struct PngReader {
    const Bytes* content = nullptr;
    std::int64_t maxPixels = kMaxImagePixels;
    std::size_t pos = 0;
    std::string error;
    Image image;
    // One row with alpha, or the whole interlaced picture with alpha (every pixel is
    // written by its pass before it is laid on white).
    PixelBuffer rows;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

void pngReadError(png_structp png, png_const_charp message)
{
    auto* r = static_cast<PngReader*>(png_get_error_ptr(png));
    if (r && r->error.empty())
        r->error = message ? message : "unknown error";
    png_longjmp(png, 1);
}

void pngIgnoreWarning(png_structp, png_const_charp) {}

void pngReadBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* r = static_cast<PngReader*>(png_get_io_ptr(png));
    if (r->pos > r->content->size() || length > r->content->size() - r->pos) {
        r->error = "the file is truncated";
        png_longjmp(png, 1);
    }
    std::memcpy(data, r->content->data() + r->pos, length);
    r->pos += length;
}

// Blends a BGRA row onto white into a BGR row.
void compositeRow(const std::uint8_t* bgra, std::uint8_t* bgr, int width)
{
    for (int x = 0; x < width; ++x, bgra += 4, bgr += 3) {
        const unsigned a = bgra[3];
        if (a == 255) {
            bgr[0] = bgra[0];
            bgr[1] = bgra[1];
            bgr[2] = bgra[2];
        } else {
            for (int c = 0; c < 3; ++c)
                bgr[c] = static_cast<std::uint8_t>((bgra[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
}

bool readPng(PngReader& r)
{
    if (setjmp(png_jmpbuf(r.png)))
        return false;

    png_set_read_fn(r.png, &r, pngReadBytes);
    png_set_user_limits(r.png, 1'000'000, 1'000'000);
    png_read_info(r.png, r.info);

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(r.png, r.info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    if (width == 0 || height == 0) {
        r.error = "the picture has no pixels";
        return false;
    }
    if (static_cast<std::int64_t>(width) * static_cast<std::int64_t>(height) > r.maxPixels) {
        r.error = TooLargeText(width, height, r.maxPixels);
        return false;
    }

    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(r.png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0 && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(r.png);
    if (png_get_valid(r.png, r.info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(r.png);
    if (bitDepth == 16)
        png_set_scale_16(r.png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0)
        png_set_gray_to_rgb(r.png);
    png_set_bgr(r.png);
    // A picture without alpha is read straight into the picture's rows, three bytes
    // a pixel; one with alpha in four and laid on white.
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(r.png, r.info, PNG_INFO_tRNS);
    const std::size_t pixelBytes = alpha ? 4 : 3;
    const int passes = png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);

    const std::size_t rowBytes = png_get_rowbytes(r.png, r.info);
    if (rowBytes != static_cast<std::size_t>(width) * pixelBytes) {
        r.error = "unsupported pixel layout";
        return false;
    }

    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    r.image.width = w;
    r.image.height = h;
    r.image.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    if (!alpha) {
        // Interlaced passes fill in the same rows, so the rows are read in place.
        for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < h; ++y)
                png_read_row(r.png, r.image.row(y), nullptr);
        return true;
    }
    if (passes == 1) {
        r.rows.resize(rowBytes);
        for (int y = 0; y < h; ++y) {
            png_read_row(r.png, r.rows.data(), nullptr);
            compositeRow(r.rows.data(), r.image.row(y), w);
        }
    } else {
        r.rows.resize(rowBytes * static_cast<std::size_t>(h));
        for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < h; ++y)
                png_read_row(r.png, r.rows.data() + rowBytes * static_cast<std::size_t>(y), nullptr);
        for (int y = 0; y < h; ++y)
            compositeRow(r.rows.data() + rowBytes * static_cast<std::size_t>(y), r.image.row(y), w);
    }
    return true;
}

struct PngWriter {
    Bytes* out = nullptr;
    std::string error;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

void pngWriteError(png_structp png, png_const_charp message)
{
    auto* w = static_cast<PngWriter*>(png_get_error_ptr(png));
    if (w)
        w->error = message ? message : "unknown error";
    png_longjmp(png, 1);
}

void pngWriteBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* w = static_cast<PngWriter*>(png_get_io_ptr(png));
    w->out->append(reinterpret_cast<const char*>(data), length);
}

void pngFlush(png_structp) {}

bool writePng(PngWriter& w, const Image& img, int level)
{
    if (setjmp(png_jmpbuf(w.png)))
        return false;
    png_set_write_fn(w.png, &w, pngWriteBytes, pngFlush);
    png_set_compression_level(w.png, level);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    png_set_bgr(w.png);
    for (int y = 0; y < img.height; ++y)
        png_write_row(w.png, const_cast<png_bytep>(img.row(y)));
    png_write_end(w.png, nullptr);
    return true;
}

} // namespace

bool DecodePng(const Bytes& content, Image& out, std::string& error, const DecodeOptions& options)
{
    PngReader r;
    r.content = &content;
    r.maxPixels = options.maxPixels;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, pngReadError, pngIgnoreWarning);
    if (!r.png) {
        error = "PNG: cannot start the reader";
        return false;
    }
    r.info = png_create_info_struct(r.png);
    bool ok = false;
    if (r.info) {
        try {
            ok = readPng(r);
        } catch (const std::bad_alloc&) {
            r.error = "not enough memory for the picture";
            ok = false;
        }
    } else {
        r.error = "cannot start the reader";
    }
    png_destroy_read_struct(&r.png, r.info ? &r.info : nullptr, nullptr);
    if (!ok) {
        error = "PNG: " + (r.error.empty() ? std::string("the file is damaged") : r.error);
        return false;
    }
    out = std::move(r.image);
    return true;
}

Bytes EncodePng(const Image& img, int compressionLevel)
{
    if (img.empty())
        return {};
    Bytes out;
    PngWriter w;
    w.out = &out;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, pngWriteError, pngIgnoreWarning);
    if (!w.png)
        return {};
    w.info = png_create_info_struct(w.png);
    bool ok = w.info && writePng(w, img, compressionLevel);
    png_destroy_write_struct(&w.png, w.info ? &w.info : nullptr);
    return ok ? out : Bytes{};
}

} // namespace tarsel
