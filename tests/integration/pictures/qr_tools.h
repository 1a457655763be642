// QR codes made by a standard generator (libqrencode) and read by a standard
// decoder (libzbar), for checking what the QR picture path does to them.
#pragma once

#include "pictures/image.h"
#include "util/bytes.h"

#include <qrencode.h>
#include <zbar.h>

#include <string>
#include <vector>

namespace tarsel::qrtest {

// The text as a QR code picture: `modulePx` pixels per module, a quiet zone of four
// modules, black on white; `ink` is the colour of the dark modules (r = g = b).
inline Image MakeQrPicture(const std::string& text, int modulePx, std::uint8_t ink = 0)
{
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code)
        return {};
    const int quiet = 4;
    const int side = (code->width + 2 * quiet) * modulePx;
    Image img(side, side);
    for (int my = 0; my < code->width; ++my)
        for (int mx = 0; mx < code->width; ++mx)
            if (code->data[my * code->width + mx] & 1)
                for (int y = 0; y < modulePx; ++y)
                    for (int x = 0; x < modulePx; ++x)
                        img.setPixel((mx + quiet) * modulePx + x, (my + quiet) * modulePx + y, ink, ink, ink);
    QRcode_free(code);
    return img;
}

// Reads QR codes from a one-bit picture as the display stores it (rows top to
// bottom, first pixel in the most significant bit, 1 = black), enlarged `scale` times.
// Every text found, in the decoder's order.
inline std::vector<std::string> ReadQrFromOneBit(const Bytes& bits, int width, int height, int scale = 2)
{
    using namespace zbar; // zbar.h puts its C interface there when read as C++
    const int w = width * scale, h = height * scale;
    std::vector<unsigned char> grey(static_cast<std::size_t>(w) * h, 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t index = static_cast<std::size_t>(y / scale) * width + x / scale;
            if (index / 8 < bits.size() && (byteAt(bits, index / 8) >> (7 - index % 8)) & 1)
                grey[static_cast<std::size_t>(y) * w + x] = 0;
        }
    zbar_image_scanner_t* scanner = zbar_image_scanner_create();
    zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
    zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
    zbar_image_t* image = zbar_image_create();
    zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(image, static_cast<unsigned>(w), static_cast<unsigned>(h));
    zbar_image_set_data(image, grey.data(), grey.size(), nullptr);
    std::vector<std::string> found;
    if (zbar_scan_image(scanner, image) > 0)
        for (const zbar_symbol_t* s = zbar_image_first_symbol(image); s; s = zbar_symbol_next(s))
            found.emplace_back(zbar_symbol_get_data(s), zbar_symbol_get_data_length(s));
    zbar_image_destroy(image);
    zbar_image_scanner_destroy(scanner);
    return found;
}

} // namespace tarsel::qrtest
