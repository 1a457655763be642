// The properties every picture reader keeps, for the BMP, PNG and JPEG targets: a
// success is a whole picture within the pixel limit; a failure says why and leaves
// the caller's picture as it was. The targets decode with a pixel limit of 4
// megapixels instead of 50: the limit's code is the same, and an input that
// declares a large picture in a few bytes costs milliseconds instead of a second.
#pragma once

#include "fuzz_check.h"

#include "pictures/image.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarsel::fuzz {

inline constexpr std::int64_t kFuzzMaxPixels = 4'000'000;

inline DecodeOptions limited()
{
    DecodeOptions options;
    options.maxPixels = kFuzzMaxPixels;
    return options;
}

template <typename Decode>
void checkReader(const std::uint8_t* data, std::size_t size, Decode decode)
{
    const Bytes content(reinterpret_cast<const char*>(data), size);
    Image img(2, 2, 1, 2, 3);
    const Image before = img;
    std::string error;
    if (decode(content, img, error)) {
        TARSEL_FUZZ_CHECK(img.width > 0 && img.height > 0);
        TARSEL_FUZZ_CHECK(static_cast<std::int64_t>(img.width) * img.height <= kFuzzMaxPixels);
        TARSEL_FUZZ_CHECK(img.pixels.size() == static_cast<std::size_t>(img.width) * img.height * 3);
    } else {
        TARSEL_FUZZ_CHECK(!error.empty());
        TARSEL_FUZZ_CHECK(img.pixels == before.pixels && img.width == 2);
    }
}

} // namespace tarsel::fuzz
