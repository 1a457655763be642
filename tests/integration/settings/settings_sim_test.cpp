// Settings transfer against the virtual display over a real pty, with the
// program's own serial port. The protocol's fixed pauses check nothing here, so the
// link's clock runs five times faster than the wall clock.
#include "link/commands.h"
#include "link/termios_port.h"
#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "sim/virtual_display.h"
#include "support/recording_outlets.h"
#include "support/sim_line.h"
#include "util/bits.h"
#include "util/codepage.h"

#include "support/quick_pause_clock.h"

#include <gtest/gtest.h>

namespace tarsel::test {
namespace {

// The fixed protocol pauses pass five times faster; answers keep their real limits.
using FastClock = QuickPauseClock;

struct SettingsSim : ::testing::Test {
    FastClock clock{5};
    TermiosPort cmd, text;
    Link link{cmd, text, clock};
    RecordingOutlets outlets;
    std::unique_ptr<sim::VirtualDisplay> display;
    TDisplayInfo info;
    WindowValues values;

    void SetUp() override
    {
        display = startSim(simOptions("KT310-II", 38400));
        ASSERT_TRUE(display);
        link.PortName = display->devicePath();
        link.BaudRate = 38400;
        std::string error;
        ASSERT_TRUE(ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), info, values, error)) << error;
    }

    // A window that differs from the factory settings in every group.
    void editWindow()
    {
        values.rg_brightness = 3; // "100%"
        values.pnlColorTextHeader = 0x102030;
        values.pnlColorBgHeader = 0xA0B0C0;
        values.rbtnHeaderText = false;
        values.rbtnHeaderPicture = true;
        values.pnlColorTextText = 0x00FF00;
        values.pnlColorBgText = 0x4080FF;
        values.rbtnTextLine2 = false;
        values.rbtnTextLine4 = true;
        values.pnlColorTextFooter = 0x0000FF;
        values.pnlColorBgFooter = 0x123456;
        values.chk_Scroll1 = false;
        values.chk_Scroll2 = true;
        values.rg_Down_InterChar = 16; // Turkey
        SyncFromInterChar(values);     // CP857
        values.edt_line1 = u"G\u00FCle g\u00FCle";
        values.edt_line2 = u"\u015Eimdi";
        GatherSettings(values, info);
    }
};

TEST_F(SettingsSim, GetSettingAfterAllDownloadBringsBackWhatWasSent)
{
    editWindow();
    const TDisplayInfo sent = info;
    const ProcedureReport report = RunAllDownload(link, outlets, sent);
    EXPECT_TRUE(report.ok()) << AllDownloadReportText(report);
    EXPECT_EQ(display->recordsNamed("SetBrightness").at(0).bytes, bytesOf({0x1F, 0x58, 0x04}));

    // The window shows something else before the display's settings come back.
    TDisplayInfo got;
    WindowValues shown;
    Bytes reply;
    ASSERT_TRUE(ReadDisplaySettings(link, reply));
    EXPECT_EQ(reply.back(), '\0');
    EXPECT_TRUE(ApplyDisplaySettings(reply, got, shown).status.ok());

    // The display keeps its own backlight code for the level it was sent.
    EXPECT_EQ(LevelFromBacklight(got.back_light), 4);
    EXPECT_EQ(got.tp_font_rgb_565, sent.tp_font_rgb_565);
    EXPECT_EQ(got.tp_back_rgb_565, sent.tp_back_rgb_565);
    EXPECT_EQ(got.tp_mode, 9);
    EXPECT_EQ(got.font_Foreground_color_565, sent.font_Foreground_color_565);
    EXPECT_EQ(got.font_Background_color_565, sent.font_Background_color_565);
    EXPECT_EQ(got.line_mode, 2);
    EXPECT_EQ(got.bm_font_rgb_565, sent.bm_font_rgb_565);
    EXPECT_EQ(got.bm_back_rgb_565, sent.bm_back_rgb_565);
    EXPECT_EQ(got.wel_mess1, sent.wel_mess1);
    EXPECT_EQ(got.wel_mess2, sent.wel_mess2);
    EXPECT_EQ(got.temp2, sent.temp2);
    EXPECT_EQ(got.Char_No, 17);
    EXPECT_EQ(got.Expand_Char_No, 9);

    // And the window shows it: texts in CP857, colours as the display keeps them.
    EXPECT_EQ(shown.edt_line1, values.edt_line1);
    EXPECT_EQ(shown.edt_line2, values.edt_line2);
    EXPECT_EQ(shown.rg_Down_InterChar, 16);
    EXPECT_EQ(shown.cbb_codepage_test, 6);
    EXPECT_EQ(shown.pnlColorTextText, 0x00FC00u);
    EXPECT_EQ(shown.pnlColorBgHeader, RGB565ToColor(ColorToRGB565(0xA0B0C0)));
    EXPECT_TRUE(shown.rbtnTextLine4);
    EXPECT_TRUE(shown.rbtnHeaderPicture);
    EXPECT_FALSE(shown.chk_Scroll1);
    EXPECT_TRUE(shown.chk_Scroll2);
    EXPECT_EQ(shown.rg_brightness, 3); // "100%"
}

TEST_F(SettingsSim, CodePageSettingAndButtons)
{
    editWindow();
    EXPECT_TRUE(RunCodePageSetting(link, info).ok());
    ASSERT_EQ(display->recordsNamed("SetInterChar").size(), 1u);
    EXPECT_EQ(display->recordsNamed("SetInterChar")[0].bytes, bytesOf({0x02, 0x05, 0x11}));
    EXPECT_EQ(display->recordsNamed("SetCodePage")[0].bytes, bytesOf({0x02, 0x06, 0x09}));
    EXPECT_EQ(display->settings().number("Char_No"), 17);

    EXPECT_TRUE(RunHeaderSetting(link, info).ok());
    EXPECT_TRUE(RunWelcomeSetting(link, info).ok());
    ASSERT_TRUE(display->waitForRecord("SetLineFlags", 2000));
    EXPECT_EQ(display->settings().text("wel_mess1"), info.wel_mess1);
    values.CheckBox = {false, true, false, false, false, false, false, false, false, true};
    values.ud_StandbyTime = 15;
    GatherSettings(values, info);
    EXPECT_TRUE(RunPlaySetting(link, info).ok());
    ASSERT_TRUE(display->waitForRecord("SetPlayInterval", 2000));
    EXPECT_EQ(display->settings().number("pic_reg"), 0x0202);
    EXPECT_EQ(display->settings().number("into_lun_bo"), 15);
}

TEST_F(SettingsSim, SilentDisplayWarns)
{
    auto faults = display->faults();
    faults.silent = true;
    display->setFaults(faults);
    EXPECT_EQ(RunHeaderSetting(link, info).status,
              Status::failure(Code::TimedOut, "Set TextColor Error : Time out !"));
    EXPECT_EQ(display->recordsNamed("SetBackColor").size(), 0u);
}

} // namespace
} // namespace tarsel::test
