// The BMP reader (see fuzz_picture.h for the properties).
#include "fuzz_picture.h"

#include "pictures/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tarsel::fuzz::checkReader(data, size, [](const tarsel::Bytes& c, tarsel::Image& img, std::string& error) {
        return tarsel::DecodeBmp(c, img, error, tarsel::fuzz::limited());
    });
    return 0;
}
