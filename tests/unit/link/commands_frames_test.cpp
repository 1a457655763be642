// The frames of the write-only framed commands and of the text commands, and the
// port rules they share.
#include "link/commands.h"
#include "commands_fixture.h"

#include <functional>

namespace tarsel::test {
namespace {

using Run = std::function<bool(Link&, std::string&)>;

struct FrameCase {
    const char* name;
    Run run;
    Bytes frame;
    const char* slot;  // "cmd" or "text"
};

Bytes text45()
{
    Bytes t;
    for (int i = 0; i < 45; ++i)
        t.push_back(static_cast<char>('A' + i % 26));
    return t;
}

std::vector<FrameCase> frameCases()
{
    const Bytes long45 = text45();
    const Bytes first40 = long45.substr(0, 40);
    return {
        {"SetLine1Text", [](Link& l, std::string& m) { return SetLine1Text(l, "Welcome", m); },
         hexBytes({0x02, 0x07, 0x16, 0x06}) + "Welcome" + '\0', "cmd"},
        {"SetLine2TextEmpty", [](Link& l, std::string& m) { return SetLine2Text(l, "", m); },
         hexBytes({0x02, 0x07, 0x16, 0x07, 0x00}), "cmd"},
        {"SetLineFlags", [](Link& l, std::string& m) { return SetLineFlags(l, 0x85, m); },
         hexBytes({0x02, 0x07, 0x16, 0x09, 0x85}), "cmd"},
        {"SetMainTextEndsAtAZeroByte", [](Link& l, std::string& m) { return SetMainText(l, Bytes("AB\0CD", 5), m); },
         hexBytes({0x02, 0x07, 0x18}) + "AB", "cmd"},
        {"ShowPicture", [](Link& l, std::string& m) { return ShowPicture(l, 10, m); },
         hexBytes({0x02, 0x07, 0x1A, 0x0A}), "cmd"},
        {"SetPlayListPictures1_2_10",
         [](Link& l, std::string& m) { return SetPlayList(l, (1u << 0) | (1u << 1) | (1u << 9), m); },
         hexBytes({0x02, 0x07, 0x28, 0x02, 0x03}), "cmd"},
        {"SetPlayListEmpty", [](Link& l, std::string& m) { return SetPlayList(l, 0, m); },
         hexBytes({0x02, 0x07, 0x28, 0x00, 0x00}), "cmd"},
        {"SetStandbyTime120", [](Link& l, std::string& m) { return SetStandbyTime(l, 120, m); },
         hexBytes({0x02, 0x07, 0x1C, 0x78}), "cmd"},
        {"SetStandbyTime0", [](Link& l, std::string& m) { return SetStandbyTime(l, 0, m); },
         hexBytes({0x02, 0x07, 0x1C, 0x00}), "cmd"},
        {"SetPlayInterval", [](Link& l, std::string& m) { return SetPlayInterval(l, 10, m); },
         hexBytes({0x02, 0x07, 0x1B, 0x0A}), "cmd"},
        {"FormatStorage", [](Link& l, std::string& m) { return FormatStorage(l, m); },
         hexBytes({0x02, 0x07, 0x05, 0x00}), "cmd"},
        {"ShowQrCode", [](Link& l, std::string& m) { return ShowQrCode(l, 2, 0, "http://x", m); },
         hexBytes({0x02, 0x07, 0x1D, 0x02, 0x00}) + "http://x" + '\0', "cmd"},
        {"ShowQrCodeAt", [](Link& l, std::string& m) { return ShowQrCodeAt(l, 3, 7, "pay", m); },
         hexBytes({0x02, 0x07, 0x1E, 0x03, 0x07}) + "pay" + '\0', "cmd"},
        {"SetCommandSet12", [](Link& l, std::string& m) { return SetCommandSet(l, 12, m); },
         hexBytes({0x02, 0x43, 0x31, 0x32}), "cmd"},
        {"SetCommandSet0", [](Link& l, std::string& m) { return SetCommandSet(l, 0, m); },
         hexBytes({0x02, 0x43, 0x30}), "cmd"},
        {"SetCommandSetNegative", [](Link& l, std::string& m) { return SetCommandSet(l, -1, m); },
         hexBytes({0x02, 0x43, 0x2D, 0x31}), "cmd"},
        {"SetDeviceBaud4", [](Link& l, std::string& m) { return SetDeviceBaud(l, 4, m); },
         hexBytes({0x02, 0x42, 0x34}), "cmd"},
        {"RestartDisplay", [](Link& l, std::string& m) { return RestartDisplay(l, m); },
         hexBytes({0x02, 0x1D, 0xAA, 0x55}), "text"},
        {"FactoryReset", [](Link& l, std::string& m) { return FactoryReset(l, m); },
         hexBytes({0x02, 0x07, 0x15, 0x27, 0x27}), "text"},
        {"ClearDisplay", [](Link& l, std::string& m) { return ClearDisplay(l, m); }, hexBytes({0x0C}), "text"},
        {"SendTextCutsAt40", [long45](Link& l, std::string& m) { return SendText(l, long45, m); }, first40, "text"},
        {"SendTextShort", [](Link& l, std::string& m) { return SendText(l, "Total 9.99", m); }, "Total 9.99",
         "text"},
        {"SendTextAtColumn5Row2", [long45](Link& l, std::string& m) { return SendTextAt(l, 5, 2, long45, m); },
         hexBytes({0x1F, 0x24, 0x05, 0x02}) + first40, "text"},
        {"SetBrightness0SendsOne", [](Link& l, std::string& m) { return SetBrightness(l, 0, m); },
         hexBytes({0x1F, 0x58, 0x01}), "text"},
        {"SetBrightness6SendsFour", [](Link& l, std::string& m) { return SetBrightness(l, 6, m); },
         hexBytes({0x1F, 0x58, 0x04}), "text"},
        {"SetBrightness3", [](Link& l, std::string& m) { return SetBrightness(l, 3, m); },
         hexBytes({0x1F, 0x58, 0x03}), "text"},
        {"SetBrightnessNegativeSendsOne", [](Link& l, std::string& m) { return SetBrightness(l, -3, m); },
         hexBytes({0x1F, 0x58, 0x01}), "text"},
        {"SetCodePage", [](Link& l, std::string& m) { return SetCodePage(l, 0x10, m); },
         hexBytes({0x02, 0x06, 0x10}), "text"},
        {"SetInterChar", [](Link& l, std::string& m) { return SetInterChar(l, 0x03, m); },
         hexBytes({0x02, 0x05, 0x03}), "text"},
        {"SendRaw", [](Link& l, std::string& m) { return SendRaw(l, hexBytes({0x1B, 0x74, 0x00, 0x80, 0xFF}), m); },
         hexBytes({0x1B, 0x74, 0x00, 0x80, 0xFF}), "text"},
    };
}

// A settings text that carries a command after its 00 (factory reset 02 07 15 27 27,
// format 02 07 05 00) or control bytes without one: every text frame shows only
// text, ends where the text's 00 was, and keeps its columns with "?".
const Bytes kResetInjection = Bytes("A\0\x02\x07\x15''", 7);
const Bytes kFormatInjection = Bytes("A\0\x02\x07\x05\0", 6);
const Bytes kControlBytes = Bytes("x\x02\x07\x15''\x1F\x0C y", 10);

std::vector<FrameCase> injectionCases()
{
    return {
        {"Line1Reset", [](Link& l, std::string& m) { return SetLine1Text(l, kResetInjection, m); },
         hexBytes({0x02, 0x07, 0x16, 0x06}) + "A" + '\0', "cmd"},
        {"Line2Format", [](Link& l, std::string& m) { return SetLine2Text(l, kFormatInjection, m); },
         hexBytes({0x02, 0x07, 0x16, 0x07}) + "A" + '\0', "cmd"},
        {"Line1Controls", [](Link& l, std::string& m) { return SetLine1Text(l, kControlBytes, m); },
         hexBytes({0x02, 0x07, 0x16, 0x06}) + "x??\?''?? y" + '\0', "cmd"},
        {"MainTextReset", [](Link& l, std::string& m) { return SetMainText(l, kResetInjection, m); },
         hexBytes({0x02, 0x07, 0x18}) + "A", "cmd"},
        {"MainTextControls", [](Link& l, std::string& m) { return SetMainText(l, kControlBytes, m); },
         hexBytes({0x02, 0x07, 0x18}) + "x??\?''?? y", "cmd"},
        {"QrCodeFormat", [](Link& l, std::string& m) { return ShowQrCode(l, 2, 0, kFormatInjection, m); },
         hexBytes({0x02, 0x07, 0x1D, 0x02, 0x00}) + "A" + '\0', "cmd"},
        {"QrCodeAtControls", [](Link& l, std::string& m) { return ShowQrCodeAt(l, 1, 3, kControlBytes, m); },
         hexBytes({0x02, 0x07, 0x1E, 0x01, 0x03}) + "x??\?''?? y" + '\0', "cmd"},
        {"SendTextReset", [](Link& l, std::string& m) { return SendText(l, kResetInjection, m); }, "A", "text"},
        {"SendTextControls", [](Link& l, std::string& m) { return SendText(l, kControlBytes, m); }, "x??\?''?? y",
         "text"},
        {"SendTextAtFormat", [](Link& l, std::string& m) { return SendTextAt(l, 3, 1, kFormatInjection, m); },
         hexBytes({0x1F, 0x24, 0x03, 0x01}) + "A", "text"},
    };
}

class FrameTest : public LinkTest {};

TEST_F(FrameTest, EveryCommandWritesItsFrameOnceOnItsSlotAndClosesIt)
{
    for (const auto& c : frameCases()) {
        SCOPED_TRACE(c.name);
        line.writes.clear();
        line.openBauds.clear();
        traces.clear();
        std::string message;
        EXPECT_TRUE(c.run(link, message));
        EXPECT_EQ(message, "OK");
        ASSERT_EQ(line.writes.size(), 1u);
        EXPECT_EQ(line.writes[0].slot, c.slot);
        EXPECT_EQ(line.writes[0].data, c.frame);
        EXPECT_EQ(line.openBauds, std::vector<int>{38400});
        EXPECT_FALSE(cmd.isOpen());
        EXPECT_FALSE(text.isOpen());
        EXPECT_TRUE(traces.empty()) << traces.front();
    }
    EXPECT_EQ(cmd.openedNames.front(), "/dev/ttyFAKE0");
}

TEST_F(FrameTest, TextFramesCarryOnlyTextUpToTheFirstZeroByte)
{
    for (const auto& c : injectionCases()) {
        SCOPED_TRACE(c.name);
        line.writes.clear();
        std::string message;
        EXPECT_TRUE(c.run(link, message));
        ASSERT_EQ(line.writes.size(), 1u);
        EXPECT_EQ(line.writes[0].slot, c.slot);
        EXPECT_EQ(line.writes[0].data, c.frame);
    }
    // A test text that is nothing but its 00 (the converter's empty text) sends nothing.
    line.writes.clear();
    std::string message;
    EXPECT_TRUE(SendText(link, Bytes(1, '\0'), message));
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(FrameTest, OpenFailureSendsNothingAndReturnsTheOpenMessage)
{
    line.failOpen = true;
    for (const auto& c : frameCases()) {
        SCOPED_TRACE(c.name);
        std::string message;
        EXPECT_FALSE(c.run(link, message));
        EXPECT_EQ(message, " Error opening serial port!");
    }
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(FrameTest, EmptyPortNameGivesTheCode2MessageWithoutTryingToOpen)
{
    link.PortName.clear();
    std::string message;
    EXPECT_FALSE(FormatStorage(link, message));
    EXPECT_EQ(message, " Error opening serial port!");
    EXPECT_FALSE(ClearDisplay(link, message));
    EXPECT_TRUE(cmd.openedNames.empty());
    EXPECT_TRUE(text.openedNames.empty());
}

TEST_F(FrameTest, FailedWriteIsAFailureWithThePortsMessageAndThePortIsClosed)
{
    line.failWrites = true;
    for (const auto& c : frameCases()) {
        SCOPED_TRACE(c.name);
        std::string message;
        EXPECT_FALSE(c.run(link, message));
        EXPECT_EQ(message, "Write failed: Input/output error");
        EXPECT_FALSE(cmd.isOpen());
        EXPECT_FALSE(text.isOpen());
    }
}

TEST_F(FrameTest, TextCommandFailsWhileCmdPortIsHeldAndCmdPortStaysUsable)
{
    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    std::string message;
    EXPECT_FALSE(ClearDisplay(link, message));
    EXPECT_EQ(message, " Error opening serial port!");
    EXPECT_TRUE(cmd.isOpen());
    EXPECT_TRUE(SwitchDeviceBaud(link, 115200, message));
    EXPECT_EQ(line.written("cmd"), hexBytes({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));
    EXPECT_TRUE(line.written("text").empty());
}

// Every command that opens CmdPort closes it before returning, also when the
// caller had it open already, whatever the outcome.
TEST_F(FrameTest, OpenTypeCommandsCloseCmdPortEvenWhenItWasOpenBefore)
{
    const std::vector<std::pair<const char*, std::function<void()>>> commands = {
        {"DetectModel", [this] { std::string m; DetectModel(link, m); }},
        {"ReadVersion", [this] { ReadVersion(link); }},
        {"GetConfiguration", [this] { std::string m; Bytes r; GetConfiguration(link, r, m); }},
        {"SetTextColor", [this] { std::string m; SetTextColor(link, ColorArea::Header, 0, m); }},
        {"SetBackColor", [this] { std::string m; SetBackColor(link, ColorArea::Footer, 0, m); }},
        {"SetTitleMode", [this] { std::string m; SetTitleMode(link, kTitleShowsText, m); }},
        {"SetMainTextLines", [this] { std::string m; SetMainTextLines(link, 1, m); }},
        {"WaitDeviceReadyNotKeepingOpen", [this] { std::string m; WaitDeviceReady(link, false, m); }},
    };
    for (const auto& [name, run] : commands) {
        SCOPED_TRACE(name);
        line.writes.clear();
        ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
        run();
        EXPECT_FALSE(cmd.isOpen());
        EXPECT_FALSE(line.writes.empty());
    }
    for (const auto& c : frameCases()) {
        if (std::string(c.slot) != "cmd")
            continue;
        SCOPED_TRACE(c.name);
        ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
        std::string m;
        EXPECT_TRUE(c.run(link, m));
        EXPECT_FALSE(cmd.isOpen());
    }
}

TEST_F(FrameTest, SwitchDeviceBaudNeedsAnOpenPortAndTracesItsFrame)
{
    std::string message;
    EXPECT_FALSE(SwitchDeviceBaud(link, 115200, message));
    EXPECT_EQ(message, "Serial Port Not Opened!");
    EXPECT_TRUE(line.writes.empty());
    EXPECT_TRUE(cmd.openedNames.empty());

    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    EXPECT_TRUE(SwitchDeviceBaud(link, 115200, message));
    EXPECT_TRUE(SwitchDeviceBaud(link, 9600, message));
    ASSERT_EQ(line.writes.size(), 2u);
    EXPECT_EQ(line.writes[0].data, hexBytes({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));
    EXPECT_EQ(line.writes[1].data, hexBytes({0x02, 0x07, 0x04, 0x00, 0x00, 0x25, 0x80}));
    EXPECT_EQ(traces, (std::vector<std::string>{"----> 0207040001C200", "----> 0207040000" "2580"}));
    EXPECT_TRUE(cmd.isOpen());

    line.failWrites = true;
    EXPECT_FALSE(SwitchDeviceBaud(link, 115200, message));
    EXPECT_EQ(message, "Write failed: Input/output error");
    EXPECT_TRUE(cmd.isOpen());
}

TEST_F(FrameTest, LineSpeedSwitchTellsTheDisplayThenChangesTheLocalSpeed)
{
    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    const double start = clock.nowMs();
    std::string message;
    EXPECT_EQ(SwitchLineSpeed(link, 115200, 200, message), SpeedSwitch::Done);
    EXPECT_EQ(line.currentBaud, 115200);
    // The frame must be off the line (7 bytes at 38400 bit/s) before the 200 ms pause
    // and the PC's own change.
    ASSERT_EQ(line.drains.size(), 1u);
    EXPECT_NEAR(line.drains[0] - start, 7 * 10000.0 / 38400, 1e-9);
    EXPECT_NEAR(clock.nowMs() - start, 300 + 7 * 10000.0 / 38400, 1e-9);
    EXPECT_DOUBLE_EQ(line.writes.at(0).at, start);  // the frame goes out before the pause
    EXPECT_EQ(line.written("cmd"), hexBytes({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));

    EXPECT_EQ(SwitchLineSpeed(link, link.BaudRate, 500, message), SpeedSwitch::Done);
    EXPECT_EQ(line.currentBaud, 38400);
    EXPECT_EQ(line.writes.at(1).data, hexBytes({0x02, 0x07, 0x04, 0x00, 0x00, 0x96, 0x00}));
    EXPECT_TRUE(cmd.isOpen());
}

TEST_F(FrameTest, LineSpeedSwitchThatThePcCannotFollowSaysSo)
{
    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    line.refuseSpeed = true;
    std::string message;
    EXPECT_EQ(SwitchLineSpeed(link, 115200, 200, message), SpeedSwitch::LocalFailed);
    EXPECT_EQ(message, "could not set 115200 bit/s on /dev/ttyFAKE0: Invalid argument");
    EXPECT_EQ(line.currentBaud, 38400);
    // The display was told: its frame went out.
    EXPECT_EQ(line.written("cmd"), hexBytes({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));
}

TEST_F(FrameTest, CancelledJobWritesNothingMoreAndEndsItsPausesAtOnce)
{
    CancelToken token;
    const CancelScope scope(link, &token);
    token.cancel();
    std::string message;
    const double start = clock.nowMs();
    EXPECT_FALSE(SetTextColor(link, ColorArea::Footer, 0x8000FF, message));
    EXPECT_EQ(message, kCancelledText);
    EXPECT_FALSE(WaitDeviceReady(link, false, message));
    EXPECT_EQ(SwitchLineSpeed(link, 115200, 200, message), SpeedSwitch::Cancelled);
    EXPECT_TRUE(line.writes.empty());
    EXPECT_DOUBLE_EQ(clock.nowMs(), start) << "no pause was waited out";
    EXPECT_FALSE(cmd.isOpen());
}

} // namespace
} // namespace tarsel::test
