// What the display stores, made from a 24-bit picture: raw RGB565, JPEG, and the
// one-bit QR code picture.
#pragma once

#include "pictures/image.h"

#include <string>

namespace tarsel {

// Raw RGB565: `width` × `height` pixels from the top-left corner, rows top to bottom,
// each pixel the word (R>>3)<<11 | (G>>2)<<5 | (B>>3) written low byte first;
// exactly width × height × 2 bytes. The caller passes a size no larger than the
// picture; a larger size is cut to the picture (never read outside it).
Bytes BitmapToRgb565Bytes(const Image& img, int width, int height);

// The same bytes written to a file, creating or truncating it. False with the
// system's message in `error` when the file cannot be written.
bool SaveBitmapRgb565File(const Image& img, int width, int height, const std::string& path, std::string& error);

// The whole picture as a JPEG file image, at quality 90, or at quality 15 when
// `compress` is true. Width and height are accepted for the callers' convenience and
// not used: the whole picture is always encoded.
Bytes BitmapToJpegBytes(const Image& img, bool compress = false);
Bytes BitmapToJpegBytes(const Image& img, int width, int height, bool compress);

// The picture as a 24-bit BMP file / as a JPEG file at quality 90. False with the
// system's message when the file cannot be written.
bool SaveBitmapBmpFile(const Image& img, const std::string& path, std::string& error);
bool SaveBitmapJpegFile(const Image& img, const std::string& path, std::string& error);

// Luminance (0.299 R + 0.587 G + 0.114 B) below this makes a black dot of the
// one-bit picture. A dark grey from anti-aliasing, JPEG noise or a photographed code
// still reads as black; pure black (colour 0) always does.
inline constexpr int kMonochromeThreshold = 128;

// The picture stretched (proportions not kept) to width × height with ScaleImage and
// reduced to one bit per pixel: rows top to bottom, pixels left to right, eight
// pixels per byte with the first in the most significant bit, black = 1. Rows are not
// padded; a final partial byte is dropped. 192 × 192 gives 4608 bytes.
Bytes BitmapTo1bpp(const Image& img, int width, int height);

// The same from a picture file (PNG, JPEG or BMP, told by content). Empty when the
// file cannot be read or decoded; fits the converter argument of SendQrPicture.
Bytes BitmapTo1bppFile(const std::string& file, int width, int height);

} // namespace tarsel
