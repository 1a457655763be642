// Writers for whole pictures: JPEG, BMP and PNG file images as byte strings.
#pragma once

#include "pictures/image.h"

namespace tarsel {

// The JPEG quality used unless compression is asked for, and the one used when it is.
inline constexpr int kJpegDefaultQuality = 90;
inline constexpr int kJpegCompressedQuality = 15;

// Baseline JPEG, 4:2:0 chroma subsampling, at the given quality (1..100).
// Empty for an empty picture.
Bytes EncodeJpeg(const Image& img, int quality);

// A 24-bit BI_RGB BMP file image (bottom-up rows padded to 4 bytes, 2835 pixels
// per metre). Empty for an empty picture.
Bytes EncodeBmp(const Image& img);

// An 8-bit RGB PNG file image (zlib level 0..9). Empty for an empty picture.
Bytes EncodePng(const Image& img, int compressionLevel = 6);

} // namespace tarsel
