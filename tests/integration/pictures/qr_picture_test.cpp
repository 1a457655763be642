// The QR code picture end to end: a code from a standard generator, saved as a PNG,
// JPEG or BMP file, reduced to the display's 192 × 192 one-bit picture, sent to the
// display core on a virtual line, and read back from the stored bytes by a standard
// decoder.
#include "integration/pictures/qr_tools.h"
#include "link/commands.h"
#include "link/models.h"
#include "link/ports.h"
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "support/virtual_link.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tarsel {
namespace {

using qrtest::MakeQrPicture;
using qrtest::ReadQrFromOneBit;

std::string tempFile(const std::string& name)
{
    return (std::filesystem::path(::testing::TempDir()) / ("tarsel-qr-" + name)).string();
}

TEST(QrPicture, StandardCodesSurviveTheReductionFromEveryFormat)
{
    struct Variant {
        const char* text;
        int modulePx;
        std::uint8_t ink;
    };
    const Variant variants[] = {
        {"1234567890ABCDEFGHIJ", 3, 0},      // smaller than 192: enlarged
        {"1234567890ABCDEFGHIJ", 11, 0},     // larger: reduced by a fraction
        {"https://example.org/r?id=4711", 7, 60}, // dark grey modules
    };
    for (const Variant& v : variants) {
        const Image code = MakeQrPicture(v.text, v.modulePx, v.ink);
        ASSERT_FALSE(code.empty());
        const std::pair<std::string, Bytes> files[] = {
            {"code.png", EncodePng(code)},
            {"code.jpg", EncodeJpeg(code, 75)},
            {"code.bmp", EncodeBmp(code)},
        };
        for (const auto& [name, content] : files) {
            SCOPED_TRACE(std::string(v.text) + " " + std::to_string(v.modulePx) + " px " + name);
            const std::string path = tempFile(name);
            std::string error;
            ASSERT_TRUE(WriteFileAtomic(path, content, error)) << error;
            const Bytes bits = BitmapTo1bppFile(path, kQrPictureSize, kQrPictureSize);
            ASSERT_EQ(bits.size(), 4608u);
            const auto texts = ReadQrFromOneBit(bits, kQrPictureSize, kQrPictureSize);
            ASSERT_EQ(texts.size(), 1u);
            EXPECT_EQ(texts[0], v.text);
            std::remove(path.c_str());
        }
    }
}

TEST(QrPicture, SentToAVirtualDisplayAndReadBack)
{
    test::VirtualLink rig(test::displayConfig("KT310--IIC", 9600));
    Link& link = rig.link;
    auto qrPictures = [&] { return rig.line.withDisplay([](sim::DisplayCore& d) { return d.qrPictures(); }); };

    const std::string message = "TARSEL-QR-0042";
    const std::string path = tempFile("sent.png");
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(path, EncodePng(MakeQrPicture(message, 5)), error));

    ASSERT_TRUE(OpenCmdPort(link));
    SwitchLineSpeed(link, kTransferBaud, 500);
    std::uint8_t code = 0xFF;
    EXPECT_TRUE(SendQrPicture(link, path, 2, 0, &BitmapTo1bppFile, code));
    SwitchDeviceBaud(link, link.BaudRate);
    CloseCmdPort(link);
    EXPECT_EQ(code, 0);
    rig.line.runFor(10); // the switch back reaches the display
    EXPECT_EQ(rig.line.displaySpeed(), 9600);

    const auto pictures = qrPictures();
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].align, 2);
    EXPECT_EQ(pictures[0].slot, 0);
    ASSERT_EQ(pictures[0].bytes.size(), 4608u);
    EXPECT_EQ(pictures[0].bytes, BitmapTo1bppFile(path, 192, 192));
    const auto texts = ReadQrFromOneBit(pictures[0].bytes, 192, 192);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], message);

    // A file that is no picture: code 19, nothing sent.
    const std::string bad = tempFile("bad.png");
    ASSERT_TRUE(WriteFileAtomic(bad, "no picture here", error));
    ASSERT_TRUE(OpenCmdPort(link));
    EXPECT_EQ(SendQrPicture(link, bad, 2, 0, &BitmapTo1bppFile, code).code, Code::BadInput);
    EXPECT_EQ(code, kQrConversionFailed);
    CloseCmdPort(link);
    EXPECT_EQ(qrPictures().size(), 1u);
    std::remove(path.c_str());
    std::remove(bad.c_str());
}

} // namespace
} // namespace tarsel
