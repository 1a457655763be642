// Procedures that change the display's speed leave it answering at the speed the program
// then speaks: "Show QrCode" on the models that show a picture (sent at the transfer
// speed, the display put back afterwards however the run ends) and the baud-rate setting.
#include "link/cancel.h"
#include "link/commands.h"
#include "link/models.h"
#include "settings/settings_ops.h"
#include "sim/sim_protocol.h"
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

TEST(BaudRateSetting, TheNextCommandReachesTheDisplayAtItsNewSpeed)
{
    // The display is deaf for a moment while it changes its speed; a command sent at
    // once (the command line's next step, a quick click) must not be lost in it.
    VirtualLink rig(displayConfig("KT310--IIC", 19200));
    TDisplayInfo info;
    for (const int code : {2, 1, 4}) {
        info.Baud_Rate = static_cast<std::uint8_t>(code);
        int row = -1;
        ASSERT_EQ(RunBaudRateSetting(rig.link, info, row).code, Code::Ok);
        info.back_light_set = static_cast<std::uint8_t>(code);
        ASSERT_EQ(RunBrightnessSetting(rig.link, info).code, Code::Ok);
        rig.line.runFor(100);
        EXPECT_EQ(rig.line.displaySpeed(), rig.link.BaudRate);
        const auto held = rig.line.withDisplay([](const sim::DisplayCore& d) { return d.settings(); });
        EXPECT_EQ(held.number("back_light"), sim::backLightCodeForLevel(code)) << "after the switch to " << rig.link.BaudRate;
        EXPECT_EQ(held.number("Baud_Rate"), code);
    }
}

} // namespace
} // namespace tarsel::test
