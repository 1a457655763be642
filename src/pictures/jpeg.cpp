// JPEG reading and writing through libjpeg-turbo. The library's error exit is
// replaced by a longjmp back into the calling function (never exit()); as for PNG,
// the state lives in the caller's frame.
#include "pictures/codecs.h"
#include "pictures/image.h"

#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <cstdlib>
#include <new>

namespace tarsel {

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    std::string message;
};

void jpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    if (err->message.empty()) {
        char buffer[JMSG_LENGTH_MAX];
        (*cinfo->err->format_message)(cinfo, buffer);
        err->message = buffer;
    }
    std::longjmp(err->jump, 1);
}

// Warnings that mean the picture data ended early are errors for us: the decoder
// would otherwise fill the rest of the picture with grey and report success.
void jpegEmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return; // trace messages
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) {
        auto* err = reinterpret_cast<JpegError*>(cinfo->err);
        err->message = "the file is truncated";
        std::longjmp(err->jump, 1);
    }
    cinfo->err->num_warnings++;
}

void jpegOutputMessage(j_common_ptr) {}

void installErrorManager(JpegError& err)
{
    jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    err.mgr.emit_message = jpegEmitMessage;
    err.mgr.output_message = jpegOutputMessage;
}

struct JpegReader {
    jpeg_decompress_struct cinfo{};
    JpegError err;
    const Bytes* content = nullptr;
    const DecodeOptions* options = nullptr;
    PixelSize declared;
    Image image;
    PixelBuffer row; // a CMYK row, written by the library before it is read
    std::string error;
};

// The smallest n (of n/8) for which the DCT-scaled picture still covers `need`. Only
// 1/8, 1/4 and 1/2 are offered: the library's inverse DCT has fast (SIMD) paths for
// those and falls back to slow generic code for 3/8, 5/8, ..., which costs more than
// the smaller picture saves.
unsigned scaleEighths(PixelSize declared, PixelSize need)
{
    for (unsigned n = 1; n < 8; n *= 2) {
        const long long w = (static_cast<long long>(declared.width) * n + 7) / 8;
        const long long h = (static_cast<long long>(declared.height) * n + 7) / 8;
        if (w >= need.width && h >= need.height)
            return n;
    }
    return 8;
}

bool readJpeg(JpegReader& r)
{
    if (setjmp(r.err.jump))
        return false;
    jpeg_create_decompress(&r.cinfo);
    jpeg_mem_src(&r.cinfo, reinterpret_cast<const unsigned char*>(r.content->data()),
                 static_cast<unsigned long>(r.content->size()));
    jpeg_read_header(&r.cinfo, TRUE);

    r.declared = {static_cast<int>(r.cinfo.image_width), static_cast<int>(r.cinfo.image_height)};
    if (r.cinfo.image_width == 0 || r.cinfo.image_height == 0) {
        r.error = "the picture has no pixels";
        return false;
    }
    const std::int64_t maxPixels = r.options ? r.options->maxPixels : kMaxImagePixels;
    if (static_cast<std::int64_t>(r.cinfo.image_width) * r.cinfo.image_height > maxPixels) {
        r.error = TooLargeText(r.cinfo.image_width, r.cinfo.image_height, maxPixels);
        return false;
    }
    // Bound what a hostile progressive file can make the library allocate.
    r.cinfo.mem->max_memory_to_use = 1024L * 1024 * 1024;

    const bool cmyk = r.cinfo.jpeg_color_space == JCS_CMYK || r.cinfo.jpeg_color_space == JCS_YCCK;
    r.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    if (r.options && r.options->atLeast) {
        r.cinfo.scale_num = scaleEighths(r.declared, r.options->atLeast(r.declared));
        r.cinfo.scale_denom = 8;
        // A picture decoded to be shown and reduced further: the fast inverse DCT and
        // plain chroma upsampling differ from the exact ones by a level or two, far
        // below what a display of 5-6-5 bit colour shows, and save a third of the time.
        r.cinfo.dct_method = JDCT_IFAST;
        r.cinfo.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&r.cinfo);

    const int w = static_cast<int>(r.cinfo.output_width);
    const int h = static_cast<int>(r.cinfo.output_height);
    r.image.width = w;
    r.image.height = h;
    r.image.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    if (cmyk)
        r.row.resize(static_cast<std::size_t>(w) * 4);
    while (r.cinfo.output_scanline < r.cinfo.output_height) {
        const int y = static_cast<int>(r.cinfo.output_scanline);
        if (!cmyk) {
            JSAMPROW rowPtr = r.image.row(y);
            jpeg_read_scanlines(&r.cinfo, &rowPtr, 1);
            continue;
        }
        JSAMPROW rowPtr = r.row.data();
        jpeg_read_scanlines(&r.cinfo, &rowPtr, 1);
        // Adobe writes CMYK inverted: the stored value is 255 - ink.
        std::uint8_t* dst = r.image.row(y);
        for (int x = 0; x < w; ++x) {
            const unsigned c = rowPtr[4 * x], m = rowPtr[4 * x + 1], yy = rowPtr[4 * x + 2], k = rowPtr[4 * x + 3];
            dst[3 * x + 0] = static_cast<std::uint8_t>((yy * k + 127) / 255);
            dst[3 * x + 1] = static_cast<std::uint8_t>((m * k + 127) / 255);
            dst[3 * x + 2] = static_cast<std::uint8_t>((c * k + 127) / 255);
        }
    }
    jpeg_finish_decompress(&r.cinfo);
    return true;
}

struct JpegWriter {
    jpeg_compress_struct cinfo{};
    JpegError err;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

bool writeJpeg(JpegWriter& w, const Image& img, int quality)
{
    if (setjmp(w.err.jump))
        return false;
    jpeg_create_compress(&w.cinfo);
    jpeg_mem_dest(&w.cinfo, &w.buffer, &w.size);
    w.cinfo.image_width = static_cast<JDIMENSION>(img.width);
    w.cinfo.image_height = static_cast<JDIMENSION>(img.height);
    w.cinfo.input_components = 3;
    w.cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&w.cinfo);
    jpeg_set_quality(&w.cinfo, quality, TRUE);
    // 4:2:0: luminance sampled 2 × 2, chroma once.
    w.cinfo.comp_info[0].h_samp_factor = 2;
    w.cinfo.comp_info[0].v_samp_factor = 2;
    w.cinfo.comp_info[1].h_samp_factor = w.cinfo.comp_info[1].v_samp_factor = 1;
    w.cinfo.comp_info[2].h_samp_factor = w.cinfo.comp_info[2].v_samp_factor = 1;
    jpeg_start_compress(&w.cinfo, TRUE);
    while (w.cinfo.next_scanline < w.cinfo.image_height) {
        JSAMPROW rowPtr = const_cast<JSAMPROW>(img.row(static_cast<int>(w.cinfo.next_scanline)));
        jpeg_write_scanlines(&w.cinfo, &rowPtr, 1);
    }
    jpeg_finish_compress(&w.cinfo);
    return true;
}

} // namespace

bool DecodeJpeg(const Bytes& content, Image& out, std::string& error, const DecodeOptions& options,
                PixelSize* declared)
{
    JpegReader r;
    r.content = &content;
    r.options = &options;
    r.cinfo.err = &r.err.mgr;
    installErrorManager(r.err);
    bool ok = false;
    try {
        ok = readJpeg(r);
    } catch (const std::bad_alloc&) {
        r.error = "not enough memory for the picture";
    }
    jpeg_destroy_decompress(&r.cinfo);
    if (!ok) {
        std::string why = !r.error.empty() ? r.error : r.err.message;
        error = "JPEG: " + (why.empty() ? std::string("the file is damaged") : why);
        return false;
    }
    if (declared)
        *declared = r.declared;
    out = std::move(r.image);
    return true;
}

Bytes EncodeJpeg(const Image& img, int quality)
{
    if (img.empty())
        return {};
    JpegWriter w;
    w.cinfo.err = &w.err.mgr;
    installErrorManager(w.err);
    const bool ok = writeJpeg(w, img, quality);
    jpeg_destroy_compress(&w.cinfo);
    Bytes out;
    if (ok && w.buffer)
        out.assign(reinterpret_cast<const char*>(w.buffer), w.size);
    std::free(w.buffer);
    return out;
}

} // namespace tarsel
