#include "settings_fixture.h"

#include "settings/settings_ops.h"

namespace tarsel::test {
namespace {

const Bytes kModelQuery = bytesOf({0x02, 0x07, 0x16, 0x01});

TEST(AllDownload, SendsEveryGroupAndReportsSuccess)
{
    DisplayRig rig;
    DefaultState s;
    s.values.rg_brightness = 3; // "100%"
    GatherSettings(s.values, s.info);
    ASSERT_TRUE(ConfirmAllDownload(rig.outlets));
    const ProcedureReport outcome = RunAllDownload(rig.link, rig.outlets, s.info);
    const std::string report = AllDownloadReportText(outcome);
    EXPECT_TRUE(outcome.ok());
    ASSERT_EQ(outcome.steps.size(), 14u);

    const auto frames = rig.commandFrames();
    ASSERT_EQ(frames.size(), 14u);
    EXPECT_EQ(frames[0], bytesOf({0x1F, 0x58, 0x04}));
    EXPECT_EQ(frames[1], bytesOf({0x02, 0x07, 0x0B, 0xF8, 0xFC, 0xF8}));  // header text white
    EXPECT_EQ(frames[2], bytesOf({0x02, 0x07, 0x0C, 0x00, 0x00, 0xF8}));  // header back blue
    EXPECT_EQ(frames[3], bytesOf({0x02, 0x07, 0x0A}));
    EXPECT_EQ(frames[4], bytesOf({0x02, 0x07, 0x0E, 0x00, 0xFC, 0xF8}));
    EXPECT_EQ(frames[5], bytesOf({0x02, 0x07, 0x0F, 0x00, 0x00, 0x00}));
    EXPECT_EQ(frames[6], bytesOf({0x02, 0x07, 0x14, 0x01}));
    EXPECT_EQ(frames[7], bytesOf({0x02, 0x07, 0x10, 0x00, 0x00, 0xF8}));
    EXPECT_EQ(frames[8], bytesOf({0x02, 0x07, 0x11, 0xF8, 0xFC, 0xF8}));
    EXPECT_EQ(frames[9], bytesOf({0x02, 0x07, 0x16, 0x06}) + s.info.wel_mess1 + Bytes(1, '\0'));
    EXPECT_EQ(frames[10].substr(0, 4), bytesOf({0x02, 0x07, 0x16, 0x07}));
    EXPECT_EQ(frames[11], bytesOf({0x02, 0x07, 0x16, 0x09, 0x04}));
    EXPECT_EQ(frames[12], bytesOf({0x02, 0x05, 0x00}));
    EXPECT_EQ(frames[13], bytesOf({0x02, 0x06, 0x00}));

    EXPECT_EQ(report.substr(0, 14), "Download: \r\n\r\n");
    EXPECT_NE(report.find("Brightness adjustment :       Success \r\n"), std::string::npos);
    EXPECT_NE(report.find("CodePage Setting :            Success \r\n"), std::string::npos);
    EXPECT_EQ(report.find("Failed"), std::string::npos);
    EXPECT_EQ(rig.outlets.boxes.size(), 1u); // only the question

    // Six groups with their step texts; progress starts and ends.
    const auto statuses = rig.outlets.callsNamed("status");
    ASSERT_EQ(statuses.size(), 6u);
    EXPECT_EQ(statuses[0].text, "Brightness adjustment ...");
    EXPECT_EQ(statuses[5].text, "CodePage Settings ...");
    const auto start = rig.outlets.callsNamed("start");
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0].text, "All Settings Downloading......");
    EXPECT_EQ(start[0].a, 100);
    EXPECT_EQ(start[0].b, 0);
    EXPECT_EQ(rig.outlets.callsNamed("reset").size(), 1u);
    std::vector<int> positions;
    for (const auto& c : rig.outlets.callsNamed("position"))
        positions.push_back(c.a);
    const std::vector<int> expected = {0, 100, 0, 30, 60, 100, 0, 30, 60, 100, 0, 50, 100, 0, 100, 0, 50, 100};
    EXPECT_EQ(positions, expected);
}

TEST(AllDownload, TwentyPercentSendsLevelOne)
{
    DisplayRig rig;
    DefaultState s;
    s.values.rg_brightness = 0;
    GatherSettings(s.values, s.info);
    RunAllDownload(rig.link, rig.outlets, s.info);
    EXPECT_EQ(rig.commandFrames().at(0), bytesOf({0x1F, 0x58, 0x01}));
}

TEST(AllDownload, SilentDisplayRunsAllCommandsAndWarns)
{
    DisplayRig rig;
    rig.silent = true;
    DefaultState s;
    GatherSettings(s.values, s.info);
    const double before = rig.clock.nowMs();
    const ProcedureReport outcome = RunAllDownload(rig.link, rig.outlets, s.info);
    const std::string report = AllDownloadReportText(outcome);
    EXPECT_EQ(rig.commandFrames().size(), 14u);
    // The first failure is the outcome: the header's echo never came.
    EXPECT_EQ(outcome.status, Status::failure(Code::TimedOut, "Set TextColor Error : Time out !"));
    // Thirteen waits of 51 probes each.
    EXPECT_EQ(rig.line.writes.size() - 14, 13u * 51u);
    EXPECT_GT(rig.clock.nowMs() - before, 13 * 51 * 200.0);
    EXPECT_EQ(AllDownloadReportLine("Main Mode :", false), "Main Mode :" + std::string(19, ' ') + "Failed \r\n");
    EXPECT_NE(report.find(AllDownloadReportLine("Header TextColor :", false)), std::string::npos);
    EXPECT_NE(report.find(AllDownloadReportLine("Main Mode :", false)), std::string::npos);
    EXPECT_NE(report.find(AllDownloadReportLine("Line1 Setting :", true)), std::string::npos);
}

TEST(AllDownload, NoSendsNothing)
{
    DisplayRig rig;
    rig.outlets.answer(kAnswerNo);
    EXPECT_FALSE(ConfirmAllDownload(rig.outlets));
    EXPECT_EQ(rig.outlets.lastBox().text, kAllDownloadQuestion);
    EXPECT_EQ(rig.outlets.lastBox().flags, kBoxQuestion);
}

TEST(DeviceOps, ResetRestartAndFormat)
{
    DisplayRig rig;
    rig.outlets.answer(kAnswerNo);
    EXPECT_EQ(RunResetDisplay(rig.link, rig.outlets).code, Code::Declined);
    rig.outlets.answer(kAnswerNo);
    EXPECT_EQ(RunFormat(rig.link, rig.outlets).code, Code::Declined);
    EXPECT_TRUE(rig.line.writes.empty());

    EXPECT_TRUE(RunResetDisplay(rig.link, rig.outlets));
    EXPECT_TRUE(RunFormat(rig.link, rig.outlets));
    EXPECT_TRUE(RunRestartDisplay(rig.link));
    EXPECT_EQ(rig.line.written("text"), bytesOf({0x02, 0x07, 0x15, 0x27, 0x27, 0x02, 0x1D, 0xAA, 0x55}));
    EXPECT_EQ(rig.line.written("cmd"), bytesOf({0x02, 0x07, 0x05, 0x00}));
    EXPECT_EQ(rig.outlets.boxes.size(), 4u); // only the questions

    rig.line.failOpen = true;
    EXPECT_EQ(RunRestartDisplay(rig.link), Status::failure(Code::PortError, " Error opening serial port!"));
}

TEST(SettingButtons, CodePageSettingTurkeyCp857)
{
    DisplayRig rig;
    DefaultState s;
    s.values.rg_Down_InterChar = 16;
    SyncFromInterChar(s.values);
    EXPECT_EQ(s.values.rg_Down_CodePage, 6); // CP857
    GatherSettings(s.values, s.info);
    EXPECT_TRUE(RunCodePageSetting(rig.link, s.info).ok());
    EXPECT_EQ(rig.line.written(), bytesOf({0x02, 0x05, 0x11, 0x02, 0x06, 0x09}));
    EXPECT_GE(rig.clock.nowMs() - rig.line.writes.back().at, 1000.0);
}

TEST(SettingButtons, WelcomeStopsWhenTheDisplayDoesNotAnswer)
{
    DisplayRig rig;
    rig.silent = true;
    DefaultState s;
    GatherSettings(s.values, s.info);
    const ProcedureReport report = RunWelcomeSetting(rig.link, s.info);
    const auto frames = rig.commandFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].substr(0, 4), bytesOf({0x02, 0x07, 0x16, 0x06}));
    EXPECT_EQ(report.status, Status::failure(Code::NoDisplay, std::string(kNotFoundDevice) + "Failed to read data"));
    ASSERT_EQ(report.steps.size(), 2u); // line 1 went out, the wait failed

    DisplayRig ok;
    EXPECT_TRUE(RunWelcomeSetting(ok.link, s.info).ok());
    EXPECT_EQ(ok.commandFrames().size(), 3u);
}

TEST(SettingButtons, HeaderStopsAtTheFirstFailure)
{
    DisplayRig rig;
    DefaultState s;
    GatherSettings(s.values, s.info);
    rig.line.onWrite = [](FakeLine& l, const Bytes& f) {
        if (f[2] == 0x0B)
            l.answer(f, 5);
        else
            l.answer(bytesOf({0x02, 0x07, 0x0C, 0, 0, 0}), 5); // wrong colour echoed
    };
    const ProcedureReport report = RunHeaderSetting(rig.link, s.info);
    EXPECT_EQ(rig.line.writes.size(), 2u);
    EXPECT_EQ(report.status, Status::failure(Code::Refused, "Set BackgroudColor Error!"));
    EXPECT_EQ(report.steps.size(), 2u);
}

TEST(SettingButtons, TextFooterBrightnessPlay)
{
    DisplayRig rig;
    DefaultState s;
    s.values.CheckBox = {true, false, false, false, false, false, false, false, false, true};
    s.values.ud_StandbyTime = 30;
    s.values.ud_PlayInterval = 5;
    GatherSettings(s.values, s.info);

    EXPECT_TRUE(RunTextSetting(rig.link, s.info).ok());
    auto frames = rig.commandFrames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[3], bytesOf({0x02, 0x07, 0x18}) + s.info.main_str);

    rig.line.writes.clear();
    EXPECT_TRUE(RunFooterSetting(rig.link, s.info).ok());
    EXPECT_EQ(rig.commandFrames().size(), 2u);

    rig.line.writes.clear();
    EXPECT_TRUE(RunBrightnessSetting(rig.link, s.info));
    EXPECT_EQ(rig.line.written(), bytesOf({0x1F, 0x58, 0x02}));

    rig.line.writes.clear();
    EXPECT_TRUE(RunPlaySetting(rig.link, s.info).ok());
    EXPECT_EQ(rig.line.written(), bytesOf({0x02, 0x07, 0x28, 0x02, 0x01, 0x02, 0x07, 0x1C, 0x1E, 0x02, 0x07, 0x1B, 0x05}));

    rig.line.writes.clear();
    rig.line.failWrites = true;
    const ProcedureReport failed = RunPlaySetting(rig.link, s.info);
    EXPECT_TRUE(rig.line.writes.empty());
    EXPECT_EQ(failed.status.code, Code::PortError);
    EXPECT_EQ(failed.steps.size(), 1u); // the first failure stops the rest
}

TEST(SettingButtons, BaudRateAndCommandSet)
{
    DisplayRig rig;
    DefaultState s;
    s.values.cbb_down_BaudRate = 4;
    GatherSettings(s.values, s.info);
    int row = -1;
    EXPECT_TRUE(RunBaudRateSetting(rig.link, s.info, row));
    EXPECT_EQ(row, 4);
    EXPECT_EQ(rig.line.written(), bytesOf({0x02, 0x42, 0x34}));
    EXPECT_EQ(rig.link.BaudRate, 115200);

    rig.line.writes.clear();
    EXPECT_TRUE(RunCommandSetSetting(rig.link, 14));
    EXPECT_TRUE(RunCommandSetSetting(rig.link, 0));
    EXPECT_EQ(rig.line.written(), bytesOf({0x02, 0x43, 0x31, 0x34, 0x02, 0x43, 0x30}));

    rig.line.failOpen = true;
    s.info.Baud_Rate = 0;
    EXPECT_EQ(RunBaudRateSetting(rig.link, s.info, row).code, Code::PortError);
    EXPECT_EQ(row, -1);
    EXPECT_EQ(rig.link.BaudRate, 115200);
    EXPECT_EQ(RunCommandSetSetting(rig.link, 1).code, Code::PortError);

    // A baud code or command-set row that no selector row offers (left by a
    // document) is refused: nothing sent, the link keeps its speed.
    rig.line.failOpen = false;
    rig.line.writes.clear();
    s.info.Baud_Rate = 7;
    EXPECT_EQ(RunBaudRateSetting(rig.link, s.info, row, [](int) { ADD_FAILURE() << "box moved"; }).code,
              Code::BadInput);
    EXPECT_EQ(RunCommandSetSetting(rig.link, -1).code, Code::BadInput);
    EXPECT_EQ(RunCommandSetSetting(rig.link, 15).code, Code::BadInput);
    EXPECT_TRUE(rig.line.writes.empty());
    EXPECT_EQ(rig.link.BaudRate, 115200);
}

TEST(DisplayTest, TextClearAndQrCode)
{
    DisplayRig rig;
    const Text fifty = Text(25, u'a') + Text(25, u'b');
    TextChanges changes;
    EXPECT_TRUE(RunDisplayText(rig.link, fifty, 0, true, 5, 2, &changes));
    EXPECT_EQ(rig.line.written(), bytesOf({0x1F, 0x24, 0x05, 0x02}) + Bytes(25, 'a') + Bytes(15, 'b'));
    EXPECT_EQ(changes.cutBytes, 10u); // said, not silently
    EXPECT_EQ(changes.replaced, 0);
    rig.line.writes.clear();
    EXPECT_TRUE(RunDisplayText(rig.link, u"\u00E9", 20, false, 1, 1, &changes));
    EXPECT_EQ(rig.line.written(), bytesOf({0xE9}));
    EXPECT_FALSE(changes.changed());
    // A character the code page lacks goes out as "?", and is counted; a "?" typed is not.
    rig.line.writes.clear();
    EXPECT_TRUE(RunDisplayText(rig.link, u"\u20AC? \u0416", 0, false, 1, 1, &changes));
    EXPECT_EQ(rig.line.written(), "?? ?");
    EXPECT_EQ(changes.replaced, 2);
    rig.line.writes.clear();
    EXPECT_TRUE(RunClearDisplay(rig.link));
    EXPECT_EQ(rig.line.written(), bytesOf({0x0C}));

    rig.line.writes.clear();
    EXPECT_EQ(RunShowQrCodeAt(rig.link, 0, u"x", 1, 5).code, Code::BadInput);
    EXPECT_TRUE(rig.line.writes.empty());
    EXPECT_TRUE(RunShowQrCodeAt(rig.link, 3, u"caf\u00E9", 1, 5));
    EXPECT_EQ(rig.line.written(), bytesOf({0x02, 0x07, 0x1E, 0x02, 0x05, 'c', 'a', 'f', 0xE9, 0x00}));
    EXPECT_TRUE(rig.outlets.boxes.empty());
}

TEST(DisplayTest, CodePagePatterns)
{
    Bytes expected = bytesOf({0x0B});
    for (int i = 0x20; i < 0x30; ++i)
        expected.push_back(static_cast<char>(i));
    expected += "    ";
    for (int i = 0x30; i < 0x40; ++i)
        expected.push_back(static_cast<char>(i));
    expected += "    ";
    EXPECT_EQ(CodePageTestPattern(101), expected);
    const Bytes last = CodePageTestPattern(204);
    ASSERT_EQ(last.size(), 41u);
    EXPECT_EQ(byteAt(last, 1), 0xE0);
    EXPECT_EQ(byteAt(last, 16), 0xEF);
    EXPECT_EQ(last.substr(17, 4), "    ");
    EXPECT_EQ(byteAt(last, 21), 0xF0);
    EXPECT_EQ(byteAt(last, 36), 0xFF);
    EXPECT_EQ(last.substr(37), "    ");
    EXPECT_TRUE(CodePageTestPattern(100).empty());

    DisplayRig rig;
    EXPECT_TRUE(RunCodePageTest(rig.link, 202));
    EXPECT_EQ(RunCodePageTest(rig.link, 100).code, Code::BadInput);
    EXPECT_EQ(rig.line.written("text"), CodePageTestPattern(202));
}

TEST(GetSetting, ReplyInPiecesIsJoinedAndApplied)
{
    DisplayRig rig;
    rig.line.onWrite = [](FakeLine& l, const Bytes&) {
        l.answer("{\"Comm_No\":", 150);
        l.answer("2}", 300);
        l.answer(Bytes(1, '\0'), 400);
    };
    Bytes reply;
    EXPECT_TRUE(ReadDisplaySettings(rig.link, reply));
    EXPECT_EQ(reply, Bytes("{\"Comm_No\":2}") + '\0');
    DefaultState s;
    const ApplyResult applied = ApplyDisplaySettings(reply, s.info, s.values);
    EXPECT_TRUE(applied.applied);
    EXPECT_EQ(ApplyNotice(applied), (Notice{"Get Settings from Display Success!", kBoxInfo}));
    EXPECT_EQ(s.values.cbb_down_CommandMode, 2);

    EXPECT_EQ(ApplyNotice(ApplyDisplaySettings(Bytes(), s.info, s.values)), (Notice{kGetSettingsError, kBoxWarning}));
    const ApplyResult bad = ApplyDisplaySettings(Bytes(1, '\0'), s.info, s.values);
    EXPECT_EQ(bad.status, Status::failure(Code::Refused, kParsingFailed));
    EXPECT_EQ(ApplyNotice(bad), (Notice{kParsingFailed, kBoxWarning}));

    DisplayRig silent;
    silent.silent = true;
    EXPECT_EQ(ReadDisplaySettings(silent.link, reply), Status::failure(Code::TimedOut, "Get configuration: Time out !"));
    EXPECT_TRUE(reply.empty());
}

TEST(EditingAids, CenterText)
{
    EXPECT_EQ(CenterText(u"ABC", 20), Text(8, u' ') + u"ABC" + Text(9, u' '));
    const Text longLine(21, u'x');
    EXPECT_EQ(CenterText(longLine, 20), longLine);
    const Text ten = u"0123456789";
    const Text line2 = CenterText(ten, 60);
    EXPECT_EQ(line2, Text(5, u' ') + ten + Text(45, u' '));
    EXPECT_EQ(CenterText(CenterText(u"ABC", 20), 20), CenterText(u"ABC", 20));
}

TEST(EditingAids, ServiceCode)
{
    EXPECT_TRUE(ServicePagesFor(u"x").firmwareUpdates);
    EXPECT_FALSE(ServicePagesFor(u"x").downloadFile);
    EXPECT_TRUE(ServicePagesFor(u"5930127").downloadFile);
    EXPECT_FALSE(ServicePagesFor(u" 5930127").downloadFile);
}

} // namespace
} // namespace tarsel::test
