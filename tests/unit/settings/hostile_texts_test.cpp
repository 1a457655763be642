// Settings documents whose texts carry display commands (a 00 that ends the text
// and a factory reset or format after it) are applied with plain texts, named in a
// warning, and every frame made from them shows only text.
#include "settings_fixture.h"

#include "settings/settings_ops.h"
#include "util/hex.h"

namespace tarsel::test {
namespace {

// The issue's two injections as a user's file holds them (JSON escapes).
const char* const kInjectedDocument = R"({"wel_mess1":"A\u0000\u0002\u0007\u0015''",
"wel_mess2":"B\u0000\u0002\u0007\u0005\u0000",
"main_str":"M\u0002\u0007\u0015''\u001F\u0024\u0001\u0001",
"Comm_No":7})";

TEST(HostileTexts, FileWithInjectedTextsLoadsPlainWithAWarningNamingTheKeys)
{
    DefaultState s;
    const ApplyResult result = ApplySettingsFile(Bytes(kInjectedDocument), s.info, s.values);
    const Notice notice = ApplyNotice(result);
    EXPECT_TRUE(result.applied);
    EXPECT_EQ(result.cleanedKeys, (std::vector<std::string>{"wel_mess1", "wel_mess2", "main_str"}));
    EXPECT_EQ(notice.flags, kBoxWarning);
    EXPECT_EQ(notice.text.rfind("Load Settings Success!\n\n", 0), 0u) << notice.text;
    EXPECT_NE(notice.text.find("\"wel_mess1\", \"wel_mess2\", \"main_str\""), std::string::npos) << notice.text;
    EXPECT_EQ(s.info.wel_mess1, "A");
    EXPECT_EQ(s.info.wel_mess2, "B");
    EXPECT_EQ(s.info.main_str, "M??\?''?$??");  // columns kept, no control byte left
    EXPECT_EQ(s.info.Comm_No, 7);              // the rest of the document still applies
    EXPECT_EQ(s.values.edt_line1, u"A");
    EXPECT_EQ(s.values.edtMianText[0], u"M??\?''?$??");

    // A clean file says only that it loaded; a repeated key whose last value is clean
    // is not named.
    const Notice clean = ApplyNotice(ApplySettingsFile(Bytes(R"({"wel_mess1":"x\u0001","wel_mess1":"ok"})"), s.info, s.values));
    EXPECT_EQ(clean, (Notice{"Load Settings Success!", kBoxInfo}));
    EXPECT_EQ(s.info.wel_mess1, "ok");
    const Notice last = ApplyNotice(ApplySettingsFile(Bytes(R"({"main_str":"ok","main_str":"x\t"})"), s.info, s.values));
    EXPECT_EQ(last.text, "Load Settings Success!\n\n" + CleanedTextsWarning({"main_str"}));
    EXPECT_NE(last.text.find("The text of \"main_str\" held control characters"), std::string::npos);

    const ApplyResult empty = ApplySettingsFile(Bytes(), s.info, s.values);
    EXPECT_EQ(ApplyNotice(empty), (Notice{"Load Settings Error!", kBoxWarning}));
    EXPECT_EQ(empty.status.code, Code::BadInput);
    EXPECT_FALSE(empty.applied);
}

TEST(HostileTexts, DisplayReplyWithInjectedTextsIsAppliedPlainWithAWarning)
{
    DefaultState s;
    // The reply as the display sends it: the document's bytes and its final 00.
    const Bytes reply = Bytes(kInjectedDocument) + '\0';
    const ApplyResult result = ApplyDisplaySettings(reply, s.info, s.values);
    const Notice notice = ApplyNotice(result);
    EXPECT_TRUE(result.applied);
    EXPECT_EQ(notice.flags, kBoxWarning);
    EXPECT_EQ(notice.text, "Get Settings from Display Success!\n\n" +
                               CleanedTextsWarning({"wel_mess1", "wel_mess2", "main_str"}));
    EXPECT_EQ(s.info.wel_mess1, "A");
}

// Whatever a document or the window holds, the "Setting" buttons and "All Download"
// send text frames that end at the text's own terminator and carry no command.
TEST(HostileTexts, EverySettingSendsOnlyText)
{
    DisplayRig rig;
    DefaultState s;
    ApplySettingsFile(Bytes(kInjectedDocument), s.info, s.values);
    GatherSettings(s.values, s.info);
    // Also texts that reach the record by another way than a document.
    s.info.wel_mess2 = Bytes("B\0\x02\x07\x05\0", 6);
    s.info.main_str = Bytes("M\0\x02\x07\x15''", 7);

    EXPECT_TRUE(RunWelcomeSetting(rig.link, s.info).ok());
    EXPECT_TRUE(RunTextSetting(rig.link, s.info).ok());
    RunAllDownload(rig.link, rig.outlets, s.info);

    const auto frames = rig.commandFrames();
    int textFrames = 0;
    for (const Bytes& f : frames) {
        if (f.rfind(bytesOf({0x02, 0x07, 0x16, 0x06}), 0) == 0) {
            ++textFrames;
            EXPECT_EQ(f, bytesOf({0x02, 0x07, 0x16, 0x06}) + "A" + Bytes(19, ' ') + '\0');
        } else if (f.rfind(bytesOf({0x02, 0x07, 0x16, 0x07}), 0) == 0) {
            ++textFrames;
            EXPECT_EQ(f, bytesOf({0x02, 0x07, 0x16, 0x07}) + "B" + '\0');
        } else if (f.rfind(bytesOf({0x02, 0x07, 0x18}), 0) == 0) {
            ++textFrames;
            EXPECT_EQ(f, bytesOf({0x02, 0x07, 0x18}) + "M");
        }
        // No frame carries the factory reset or the format after a text.
        EXPECT_EQ(f.find(Bytes("\x02\x07\x15\x27\x27", 5)), std::string::npos) << FrameHex(f);
        EXPECT_EQ(f.find(Bytes("\x02\x07\x05\x00", 4)), std::string::npos) << FrameHex(f);
    }
    EXPECT_EQ(textFrames, 5); // welcome: 2 lines; text: main text; all download: 2 lines
}

} // namespace
} // namespace tarsel::test
