// The JPEG reader, at full size and DCT-scaled as the conversion window asks for
// it (see fuzz_picture.h for the properties; a scaled picture also keeps at least
// the size asked for, or the declared size).
#include "fuzz_picture.h"

#include "pictures/codecs.h"
#include "pictures/geometry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarsel;
    fuzz::checkReader(data, size, [](const Bytes& c, Image& img, std::string& error) {
        return DecodeJpeg(c, img, error, fuzz::limited());
    });
    fuzz::checkReader(data, size, [](const Bytes& c, Image& img, std::string& error) {
        DecodeOptions options = fuzz::limited();
        PixelSize asked;
        options.atLeast = [&asked](PixelSize declared) {
            asked = PlanDisplay(declared, {800, 480}).shown;
            return asked;
        };
        PixelSize declared;
        const bool ok = DecodeJpeg(c, img, error, options, &declared);
        if (ok) {
            const bool coversAsked = img.width >= asked.width && img.height >= asked.height;
            const bool whole = img.width == declared.width && img.height == declared.height;
            TARSEL_FUZZ_CHECK(coversAsked || whole);
            TARSEL_FUZZ_CHECK(img.width <= declared.width && img.height <= declared.height);
        }
        return ok;
    });
    return 0;
}
