// The one resampling rule of the pictures layer. The conversion window's preview,
// its crop, the QR code reduction and the benchmarks all go through ScaleImage, so
// what the crop yields is pixel for pixel what the preview showed.
#pragma once

#include "pictures/geometry.h"
#include "pictures/image.h"

namespace tarsel {

// The colour given to the parts of a crop that the picture does not cover.
inline constexpr std::uint8_t kCropFill = 255; // white

// Scales `src` to width × height, each axis on its own: an area average (every
// source pixel weighted by how much of it falls into the target pixel) where the
// axis shrinks, bilinear interpolation between pixel centres where it grows, a copy
// where it keeps its size. Empty for an empty source or a size below 1.
Image ScaleImage(const Image& src, int width, int height);

// A `target`-sized bitmap, filled with kCropFill, with `shown` (the picture as the
// preview shows it, already at placement's size) put at placement's left and top;
// parts outside the bitmap are cut off.
Image CropShown(const Image& shown, const PixelRect& placement, PixelSize target);

// CropShown of the picture scaled to placement's size.
Image CropPicture(const Image& picture, const PixelRect& placement, PixelSize target);

} // namespace tarsel
