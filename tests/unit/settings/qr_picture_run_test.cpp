// "Show QrCode" on the models that show a picture: the display gets the picture at the
// transfer speed and is put back to its own speed afterwards, however the run ends.
#include "link/cancel.h"
#include "link/commands.h"
#include "link/models.h"
#include "settings/settings_ops.h"
#include "support/virtual_link.h"

#include <filesystem>
#include <fstream>
#include <memory>

namespace tarsel::test {
namespace {

// A picture file and the bits the conversion makes of it.
struct QrFile {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("tarsel-qr-run-" + std::to_string(::getpid()) + ".png"))
                           .string();
    QrFile() { std::ofstream(path) << "picture"; }
    ~QrFile() { std::filesystem::remove(path); }
    static Bytes bits(const std::string&, int, int)
    {
        Bytes b(kQrPictureBytes, '\0');
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<char>(i * 13);
        return b;
    }
    static constexpr std::size_t kQrPictureBytes = 4608;
};

// The display answers the model query at `baud` (its own speed, back again).
bool answersAt(VirtualLink& rig, int baud)
{
    rig.link.BaudRate = baud;
    int model = -1;
    return DetectModel(rig.link, model).ok() && model == FindModel("KT310--IIC");
}

TEST(QrPictureRun, TheDisplayShowsThePictureAndIsBackAtItsSpeed)
{
    QrFile file;
    VirtualLink rig(displayConfig("KT310--IIC", 19200));
    const QrPictureReport report = RunShowQrPicture(rig.link, file.path, 1, &QrFile::bits);
    EXPECT_EQ(report.status.code, Code::Ok) << report.status;
    const auto pictures = rig.line.withDisplay([](const sim::DisplayCore& d) { return d.qrPictures(); });
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].bytes, QrFile::bits("", 0, 0));
    EXPECT_EQ(pictures[0].align, 2);
    EXPECT_EQ(rig.line.displaySpeed(), 19200);
    EXPECT_TRUE(answersAt(rig, 19200));
}

TEST(QrPictureRun, ACancelAtAnyMomentLeavesTheDisplayAtItsSpeed)
{
    QrFile file;
    // From before the speed switch to after the trailer, every 37 ms.
    for (double at = 0; at < 2700; at += 37) {
        SCOPED_TRACE("cancelled after " + std::to_string(at) + " ms");
        VirtualLink rig(displayConfig("KT310--IIC", 19200));
        auto token = std::make_shared<CancelToken>();
        rig.link.setCancel(token.get());
        rig.line.at(rig.line.nowMs() + at, [token] { token->cancel(); });
        const QrPictureReport report = RunShowQrPicture(rig.link, file.path, 0, &QrFile::bits);
        rig.link.setCancel(nullptr);
        EXPECT_TRUE(report.status.code == Code::Cancelled || report.status.code == Code::Ok) << report.status;
        EXPECT_EQ(rig.line.displaySpeed(), 19200);
        EXPECT_TRUE(answersAt(rig, 19200));
        if (::testing::Test::HasFailure())
            break;
    }
}

} // namespace
} // namespace tarsel::test
