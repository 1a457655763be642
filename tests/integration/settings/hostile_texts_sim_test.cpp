// The two injections of a settings text (a 00 that ends the text, then a factory
// reset 02 07 15 27 27 or a format 02 07 05 00) reach the virtual display from a
// settings file and from the display's own settings reply; the display must only
// ever receive text.
#include "link/termios_port.h"
#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "sim/virtual_display.h"
#include "support/quick_pause_clock.h"
#include "support/recording_outlets.h"
#include "support/sim_line.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/hex.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tarsel::test {
namespace {

const Bytes kReset = Bytes("A\0\x02\x07\x15''", 7);
const Bytes kFormat = Bytes("B\0\x02\x07\x05\0", 6);

struct HostileSim : ::testing::Test {
    // Pauses pass five times faster; every answer keeps its real time limit, so a busy
    // host cannot make the display miss an echo.
    QuickPauseClock clock{5};
    TermiosPort cmd, text;
    Link link{cmd, text, clock};
    RecordingOutlets outlets;
    std::unique_ptr<sim::VirtualDisplay> display;
    TDisplayInfo info;
    WindowValues values;

    void start(const sim::SettingsDocument& settings = {})
    {
        sim::Options o = simOptions("KT310-II", 38400);
        o.settings = settings;
        display = startSim(o);
        ASSERT_TRUE(display);
        link.PortName = display->devicePath();
        link.BaudRate = 38400;
        std::string error;
        ASSERT_TRUE(ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), info, values, error)) << error;
    }

    // Welcome "Setting", Text "Setting" and "All Download" with the window gathered
    // as the buttons do.
    void sendEverything()
    {
        GatherSettings(values, info);
        EXPECT_TRUE(RunWelcomeSetting(link, info).ok());
        EXPECT_TRUE(RunTextSetting(link, info).ok());
        // The main text has no terminator: the display takes it as ended once the
        // line is quiet, before the next command comes.
        ASSERT_TRUE(display->waitForRecord("SetMainText", 3000));
        const ProcedureReport report = RunAllDownload(link, outlets, info);
        EXPECT_TRUE(report.ok()) << AllDownloadReportText(report);
        ASSERT_TRUE(display->waitForRecord("SetCodePage", 3000));
    }

    // The display heard the texts as texts and nothing else.
    void expectOnlyTextsArrived(const Bytes& line1, const Bytes& line2, const Bytes& main)
    {
        for (const auto& r : display->records()) {
            EXPECT_NE(r.name, "FactoryReset") << sim::hexSpaced(r.bytes);
            EXPECT_NE(r.name, "FormatStorage") << sim::hexSpaced(r.bytes);
            EXPECT_NE(r.name, "Unknown") << sim::hexSpaced(r.bytes);
            EXPECT_NE(r.name, "Text") << sim::hexSpaced(r.bytes);
        }
        EXPECT_EQ(display->recordsNamed("SetLine1Text").size(), 2u);
        EXPECT_EQ(display->recordsNamed("SetMainText").size(), 1u);
        const sim::SettingsDocument kept = display->settings();
        EXPECT_EQ(kept.text("wel_mess1"), line1);
        EXPECT_EQ(kept.text("wel_mess2"), line2);
        EXPECT_EQ(kept.text("main_str"), main);
        EXPECT_EQ(display->restarts(), 0);
    }
};

TEST_F(HostileSim, InjectionsFromASettingsFileSendOnlyText)
{
    start();
    const std::string dir = ::testing::TempDir() + "/tarsel-hostile-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/hostile.ini";
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(path,
                                R"({"wel_mess1":"A\u0000\u0002\u0007\u0015''",)"
                                R"("wel_mess2":"B\u0000\u0002\u0007\u0005\u0000",)"
                                R"("main_str":"M\u0000\u0002\u0007\u0015''"})",
                                error))
        << error;
    Bytes content;
    ASSERT_TRUE(LoadSettingsFile(path, content, error)) << error;
    std::filesystem::remove_all(dir);
    const Notice notice = ApplyNotice(ApplySettingsFile(content, info, values));
    EXPECT_EQ(notice.flags, kBoxWarning);
    EXPECT_NE(notice.text.find("\"wel_mess1\", \"wel_mess2\", \"main_str\""), std::string::npos) << notice.text;

    sendEverything();
    const Bytes blanks19(19, ' ');
    expectOnlyTextsArrived("A" + blanks19, "B" + Bytes(59, ' '), "M" + blanks19 + Bytes(60, ' '));
}

TEST_F(HostileSim, InjectionsFromTheDisplaysSettingsReplySendOnlyText)
{
    sim::SettingsDocument served;
    served.setText("wel_mess1", kReset);
    served.setText("wel_mess2", kFormat);
    served.setText("main_str", kReset);
    start(served);

    Bytes reply;
    ASSERT_TRUE(ReadDisplaySettings(link, reply));
    ASSERT_NE(reply.find(R"("A\u0000\u0002\u0007\u0015''")"), std::string::npos) << "the reply carries the injection";
    const Notice notice = ApplyNotice(ApplyDisplaySettings(reply, info, values));
    EXPECT_EQ(notice.flags, kBoxWarning);
    EXPECT_EQ(notice.text.rfind("Get Settings from Display Success!", 0), 0u) << notice.text;
    EXPECT_EQ(info.wel_mess1, "A");
    EXPECT_EQ(values.edt_line2, u"B");

    display->clearRecords();
    sendEverything();
    const Bytes blanks19(19, ' ');
    expectOnlyTextsArrived("A" + blanks19, "B" + Bytes(59, ' '), "A" + blanks19 + Bytes(60, ' '));
}

} // namespace
} // namespace tarsel::test
