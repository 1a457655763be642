// The settings procedures against the display core on a virtual line at 38400 bit/s:
// what the display holds after "All Download" and the "Setting" buttons, what Get
// Setting brings back, and texts carrying display commands (a 00 that ends the
// text, then a factory reset 02 07 15 27 27 or a format 02 07 05 00) from a settings
// file and from the display's own reply: the display must only ever receive text.
#include "link/commands.h"
#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "support/recording_outlets.h"
#include "support/virtual_link.h"
#include "util/bits.h"
#include "util/codepage.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace tarsel::test {
namespace {

const Bytes kReset = Bytes("A\0\x02\x07\x15''", 7);
const Bytes kFormat = Bytes("B\0\x02\x07\x05\0", 6);

sim::DisplayCore::Config kt310At38400(const sim::SettingsDocument& settings = {})
{
    sim::DisplayCore::Config c = displayConfig("KT310-II", 38400);
    c.settings = settings;
    return c;
}

class DisplaySettings : public VirtualLinkTest {
protected:
    explicit DisplaySettings(const sim::SettingsDocument& served = {}) : VirtualLinkTest(kt310At38400(served))
    {
        std::string error;
        EXPECT_TRUE(ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), info, values, error)) << error;
    }

    sim::SettingsDocument kept() { return line.withDisplay([](sim::DisplayCore& d) { return d.settings(); }); }

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

    RecordingOutlets outlets;
    TDisplayInfo info;
    WindowValues values;
};

TEST_F(DisplaySettings, GetSettingAfterAllDownloadBringsBackWhatWasSent)
{
    editWindow();
    const TDisplayInfo sent = info;
    const ProcedureReport report = RunAllDownload(link, outlets, sent);
    EXPECT_TRUE(report.ok()) << AllDownloadReportText(report);
    EXPECT_EQ(line.recordsNamed("SetBrightness").at(0).bytes, bytesOf({0x1F, 0x58, 0x04}));

    // The window shows something else before the display's settings come back.
    TDisplayInfo got;
    WindowValues shown;
    Bytes reply;
    ASSERT_TRUE(ReadDisplaySettings(link, reply));
    EXPECT_EQ(reply, line.withDisplay([](sim::DisplayCore& d) { return d.settings().render(); }) + '\0');
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

TEST_F(DisplaySettings, CodePageSettingAndButtons)
{
    editWindow();
    EXPECT_TRUE(RunCodePageSetting(link, info).ok());
    ASSERT_EQ(line.recordsNamed("SetInterChar").size(), 1u);
    EXPECT_EQ(line.recordsNamed("SetInterChar")[0].bytes, bytesOf({0x02, 0x05, 0x11}));
    EXPECT_EQ(line.recordsNamed("SetCodePage")[0].bytes, bytesOf({0x02, 0x06, 0x09}));
    EXPECT_EQ(kept().number("Char_No"), 17);

    EXPECT_TRUE(RunHeaderSetting(link, info).ok());
    EXPECT_TRUE(RunWelcomeSetting(link, info).ok());
    line.runFor(10); // the flag frame is still on the wire when the button returns
    ASSERT_EQ(line.recordsNamed("SetLineFlags").size(), 1u);
    EXPECT_EQ(kept().text("wel_mess1"), info.wel_mess1);
    values.CheckBox = {false, true, false, false, false, false, false, false, false, true};
    values.ud_StandbyTime = 15;
    GatherSettings(values, info);
    EXPECT_TRUE(RunPlaySetting(link, info).ok());
    line.runFor(10);
    ASSERT_EQ(line.recordsNamed("SetPlayInterval").size(), 1u);
    EXPECT_EQ(kept().number("pic_reg"), 0x0202);
    EXPECT_EQ(kept().number("into_lun_bo"), 15);
}

TEST_F(DisplaySettings, SilentDisplayStopsTheHeaderAtItsFirstEcho)
{
    sim::Faults faults;
    faults.silent = true;
    line.withDisplay([&](sim::DisplayCore& d) { d.setFaults(faults); });
    EXPECT_EQ(RunHeaderSetting(link, info).status,
              Status::failure(Code::TimedOut, "Set TextColor Error : Time out !"));
    line.runFor(100);
    EXPECT_EQ(line.recordsNamed("SetTextColor").size(), 1u);
    EXPECT_EQ(line.recordsNamed("SetBackColor").size(), 0u);
}

// ---------------------------------------------------------------------------
// Texts that carry display commands

class HostileTextsOnDisplay : public DisplaySettings {
protected:
    explicit HostileTextsOnDisplay(const sim::SettingsDocument& served = {}) : DisplaySettings(served) {}

    // Welcome "Setting", Text "Setting" and "All Download" with the window gathered
    // as the buttons do.
    void sendEverything()
    {
        GatherSettings(values, info);
        EXPECT_TRUE(RunWelcomeSetting(link, info).ok());
        EXPECT_TRUE(RunTextSetting(link, info).ok());
        const ProcedureReport report = RunAllDownload(link, outlets, info);
        EXPECT_TRUE(report.ok()) << AllDownloadReportText(report);
        line.runFor(100); // the last frame reaches the display
    }

    // The display heard the texts as texts and nothing else.
    void expectOnlyTextsArrived(const Bytes& line1, const Bytes& line2, const Bytes& main)
    {
        for (const auto& r : line.records()) {
            EXPECT_NE(r.name, "FactoryReset") << sim::hexSpaced(r.bytes);
            EXPECT_NE(r.name, "FormatStorage") << sim::hexSpaced(r.bytes);
            EXPECT_NE(r.name, "Unknown") << sim::hexSpaced(r.bytes);
            EXPECT_NE(r.name, "Text") << sim::hexSpaced(r.bytes);
        }
        EXPECT_EQ(line.recordsNamed("SetLine1Text").size(), 2u);
        EXPECT_EQ(line.recordsNamed("SetMainText").size(), 1u);
        EXPECT_EQ(line.recordsNamed("SetCodePage").size(), 1u); // the last frame of All Download
        const sim::SettingsDocument document = kept();
        EXPECT_EQ(document.text("wel_mess1"), line1);
        EXPECT_EQ(document.text("wel_mess2"), line2);
        EXPECT_EQ(document.text("main_str"), main);
        EXPECT_EQ(line.withDisplay([](sim::DisplayCore& d) { return d.restarts(); }), 0);
    }
};

TEST_F(HostileTextsOnDisplay, InjectionsFromASettingsFileSendOnlyText)
{
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

sim::SettingsDocument injectedDocument()
{
    sim::SettingsDocument served;
    served.setText("wel_mess1", kReset);
    served.setText("wel_mess2", kFormat);
    served.setText("main_str", kReset);
    return served;
}

class HostileReplyOnDisplay : public HostileTextsOnDisplay {
protected:
    HostileReplyOnDisplay() : HostileTextsOnDisplay(injectedDocument()) {}
};

TEST_F(HostileReplyOnDisplay, InjectionsFromTheDisplaysSettingsReplySendOnlyText)
{
    Bytes reply;
    ASSERT_TRUE(ReadDisplaySettings(link, reply));
    ASSERT_NE(reply.find(R"("A\u0000\u0002\u0007\u0015''")"), std::string::npos) << "the reply carries the injection";
    const Notice notice = ApplyNotice(ApplyDisplaySettings(reply, info, values));
    EXPECT_EQ(notice.flags, kBoxWarning);
    EXPECT_EQ(notice.text.rfind("Get Settings from Display Success!", 0), 0u) << notice.text;
    EXPECT_EQ(info.wel_mess1, "A");
    EXPECT_EQ(values.edt_line2, u"B");

    line.withDisplay([](sim::DisplayCore& d) { d.clearRecords(); });
    sendEverything();
    const Bytes blanks19(19, ' ');
    expectOnlyTextsArrived("A" + blanks19, "B" + Bytes(59, ' '), "A" + blanks19 + Bytes(60, ' '));
}

} // namespace
} // namespace tarsel::test
