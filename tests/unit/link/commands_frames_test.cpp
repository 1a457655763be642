// The frames of the write-only framed commands and of the text commands, and the
// port rules they share.
#include "link/commands.h"
#include "commands_fixture.h"

#include <functional>

namespace tarsel::test {
namespace {

using Run = std::function<Status(Link&)>;

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
        {"SetLine1Text", [](Link& l) { return SetLine1Text(l, "Welcome"); },
         hexBytes({0x02, 0x07, 0x16, 0x06}) + "Welcome" + '\0', "cmd"},
        {"SetLine2TextEmpty", [](Link& l) { return SetLine2Text(l, ""); },
         hexBytes({0x02, 0x07, 0x16, 0x07, 0x00}), "cmd"},
        {"SetLineFlags", [](Link& l) { return SetLineFlags(l, 0x85); },
         hexBytes({0x02, 0x07, 0x16, 0x09, 0x85}), "cmd"},
        {"SetMainTextEndsAtAZeroByte", [](Link& l) { return SetMainText(l, Bytes("AB\0CD", 5)); },
         hexBytes({0x02, 0x07, 0x18}) + "AB", "cmd"},
        {"ShowPicture", [](Link& l) { return ShowPicture(l, 10); },
         hexBytes({0x02, 0x07, 0x1A, 0x0A}), "cmd"},
        {"SetPlayListPictures1_2_10",
         [](Link& l) { return SetPlayList(l, (1u << 0) | (1u << 1) | (1u << 9)); },
         hexBytes({0x02, 0x07, 0x28, 0x02, 0x03}), "cmd"},
        {"SetPlayListEmpty", [](Link& l) { return SetPlayList(l, 0); },
         hexBytes({0x02, 0x07, 0x28, 0x00, 0x00}), "cmd"},
        {"SetStandbyTime120", [](Link& l) { return SetStandbyTime(l, 120); },
         hexBytes({0x02, 0x07, 0x1C, 0x78}), "cmd"},
        {"SetStandbyTime0", [](Link& l) { return SetStandbyTime(l, 0); },
         hexBytes({0x02, 0x07, 0x1C, 0x00}), "cmd"},
        {"SetPlayInterval", [](Link& l) { return SetPlayInterval(l, 10); },
         hexBytes({0x02, 0x07, 0x1B, 0x0A}), "cmd"},
        {"FormatStorage", [](Link& l) { return FormatStorage(l); },
         hexBytes({0x02, 0x07, 0x05, 0x00}), "cmd"},
        {"ShowQrCode", [](Link& l) { return ShowQrCode(l, 2, 0, "http://x"); },
         hexBytes({0x02, 0x07, 0x1D, 0x02, 0x00}) + "http://x" + '\0', "cmd"},
        {"ShowQrCodeAt", [](Link& l) { return ShowQrCodeAt(l, 3, 7, "pay"); },
         hexBytes({0x02, 0x07, 0x1E, 0x03, 0x07}) + "pay" + '\0', "cmd"},
        {"SetCommandSet12", [](Link& l) { return SetCommandSet(l, 12); },
         hexBytes({0x02, 0x43, 0x31, 0x32}), "cmd"},
        {"SetCommandSet0", [](Link& l) { return SetCommandSet(l, 0); },
         hexBytes({0x02, 0x43, 0x30}), "cmd"},
        {"SetCommandSetNegative", [](Link& l) { return SetCommandSet(l, -1); },
         hexBytes({0x02, 0x43, 0x2D, 0x31}), "cmd"},
        {"SetDeviceBaud4", [](Link& l) { return SetDeviceBaud(l, 4); },
         hexBytes({0x02, 0x42, 0x34}), "cmd"},
        {"RestartDisplay", [](Link& l) { return RestartDisplay(l); },
         hexBytes({0x02, 0x1D, 0xAA, 0x55}), "text"},
        {"FactoryReset", [](Link& l) { return FactoryReset(l); },
         hexBytes({0x02, 0x07, 0x15, 0x27, 0x27}), "text"},
        {"ClearDisplay", [](Link& l) { return ClearDisplay(l); }, hexBytes({0x0C}), "text"},
        {"SendTextCutsAt40", [long45](Link& l) { return SendText(l, long45); }, first40, "text"},
        {"SendTextShort", [](Link& l) { return SendText(l, "Total 9.99"); }, "Total 9.99",
         "text"},
        {"SendTextAtColumn5Row2", [long45](Link& l) { return SendTextAt(l, 5, 2, long45); },
         hexBytes({0x1F, 0x24, 0x05, 0x02}) + first40, "text"},
        {"SetBrightness0SendsOne", [](Link& l) { return SetBrightness(l, 0); },
         hexBytes({0x1F, 0x58, 0x01}), "text"},
        {"SetBrightness6SendsFour", [](Link& l) { return SetBrightness(l, 6); },
         hexBytes({0x1F, 0x58, 0x04}), "text"},
        {"SetBrightness3", [](Link& l) { return SetBrightness(l, 3); },
         hexBytes({0x1F, 0x58, 0x03}), "text"},
        {"SetBrightnessNegativeSendsOne", [](Link& l) { return SetBrightness(l, -3); },
         hexBytes({0x1F, 0x58, 0x01}), "text"},
        {"SetCodePage", [](Link& l) { return SetCodePage(l, 0x10); },
         hexBytes({0x02, 0x06, 0x10}), "text"},
        {"SetInterChar", [](Link& l) { return SetInterChar(l, 0x03); },
         hexBytes({0x02, 0x05, 0x03}), "text"},
        {"SendRaw", [](Link& l) { return SendRaw(l, hexBytes({0x1B, 0x74, 0x00, 0x80, 0xFF})); },
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
        {"Line1Reset", [](Link& l) { return SetLine1Text(l, kResetInjection); },
         hexBytes({0x02, 0x07, 0x16, 0x06}) + "A" + '\0', "cmd"},
        {"Line2Format", [](Link& l) { return SetLine2Text(l, kFormatInjection); },
         hexBytes({0x02, 0x07, 0x16, 0x07}) + "A" + '\0', "cmd"},
        {"Line1Controls", [](Link& l) { return SetLine1Text(l, kControlBytes); },
         hexBytes({0x02, 0x07, 0x16, 0x06}) + "x??\?''?? y" + '\0', "cmd"},
        {"MainTextReset", [](Link& l) { return SetMainText(l, kResetInjection); },
         hexBytes({0x02, 0x07, 0x18}) + "A", "cmd"},
        {"MainTextControls", [](Link& l) { return SetMainText(l, kControlBytes); },
         hexBytes({0x02, 0x07, 0x18}) + "x??\?''?? y", "cmd"},
        {"QrCodeFormat", [](Link& l) { return ShowQrCode(l, 2, 0, kFormatInjection); },
         hexBytes({0x02, 0x07, 0x1D, 0x02, 0x00}) + "A" + '\0', "cmd"},
        {"QrCodeAtControls", [](Link& l) { return ShowQrCodeAt(l, 1, 3, kControlBytes); },
         hexBytes({0x02, 0x07, 0x1E, 0x01, 0x03}) + "x??\?''?? y" + '\0', "cmd"},
        {"SendTextReset", [](Link& l) { return SendText(l, kResetInjection); }, "A", "text"},
        {"SendTextControls", [](Link& l) { return SendText(l, kControlBytes); }, "x??\?''?? y",
         "text"},
        {"SendTextAtFormat", [](Link& l) { return SendTextAt(l, 3, 1, kFormatInjection); },
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
        const Status status = c.run(link);
        EXPECT_EQ(status, Status::success());
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
        EXPECT_TRUE(c.run(link));
        ASSERT_EQ(line.writes.size(), 1u);
        EXPECT_EQ(line.writes[0].slot, c.slot);
        EXPECT_EQ(line.writes[0].data, c.frame);
    }
    // A test text that is nothing but its 00 (the converter's empty text) sends nothing.
    line.writes.clear();
    EXPECT_TRUE(SendText(link, Bytes(1, '\0')));
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(FrameTest, OpenFailureSendsNothingAndReturnsTheOpenMessage)
{
    line.failOpen = true;
    for (const auto& c : frameCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.run(link), Status::failure(Code::PortError, " Error opening serial port!"));
    }
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(FrameTest, EmptyPortNameGivesTheCode2MessageWithoutTryingToOpen)
{
    link.PortName.clear();
    EXPECT_EQ(FormatStorage(link), Status::failure(Code::PortError, " Error opening serial port!"));
    EXPECT_EQ(ClearDisplay(link).code, Code::PortError);
    EXPECT_TRUE(cmd.openedNames.empty());
    EXPECT_TRUE(text.openedNames.empty());
}

TEST_F(FrameTest, FailedWriteIsAFailureWithThePortsMessageAndThePortIsClosed)
{
    line.failWrites = true;
    for (const auto& c : frameCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.run(link), Status::failure(Code::PortError, "Write failed: Input/output error"));
        EXPECT_FALSE(cmd.isOpen());
        EXPECT_FALSE(text.isOpen());
    }
}

TEST_F(FrameTest, TextCommandFailsWhileCmdPortIsHeldAndCmdPortStaysUsable)
{
    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    EXPECT_EQ(ClearDisplay(link), Status::failure(Code::PortError, " Error opening serial port!"));
    EXPECT_TRUE(cmd.isOpen());
    EXPECT_TRUE(SwitchDeviceBaud(link, 115200));
    EXPECT_EQ(line.written("cmd"), hexBytes({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));
    EXPECT_TRUE(line.written("text").empty());
}

// Every command that opens CmdPort closes it before returning, also when the
// caller had it open already, whatever the outcome.
TEST_F(FrameTest, OpenTypeCommandsCloseCmdPortEvenWhenItWasOpenBefore)
{
    const std::vector<std::pair<const char*, std::function<void()>>> commands = {
        {"DetectModel", [this] { int index; DetectModel(link, index); }},
        {"ReadVersion", [this] { int version; ReadVersion(link, version); }},
        {"GetConfiguration", [this] { Bytes r; GetConfiguration(link, r); }},
        {"SetTextColor", [this] { SetTextColor(link, ColorArea::Header, 0); }},
        {"SetBackColor", [this] { SetBackColor(link, ColorArea::Footer, 0); }},
        {"SetTitleMode", [this] { SetTitleMode(link, kTitleShowsText); }},
        {"SetMainTextLines", [this] { SetMainTextLines(link, 1); }},
        {"WaitDeviceReadyNotKeepingOpen", [this] { WaitDeviceReady(link, false); }},
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
        EXPECT_TRUE(c.run(link));
        EXPECT_FALSE(cmd.isOpen());
    }
}

TEST_F(FrameTest, SwitchDeviceBaudNeedsAnOpenPortAndTracesItsFrame)
{
    EXPECT_EQ(SwitchDeviceBaud(link, 115200), Status::failure(Code::PortError, "Serial Port Not Opened!"));
    EXPECT_TRUE(line.writes.empty());
    EXPECT_TRUE(cmd.openedNames.empty());

    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    EXPECT_TRUE(SwitchDeviceBaud(link, 115200));
    EXPECT_TRUE(SwitchDeviceBaud(link, 9600));
    ASSERT_EQ(line.writes.size(), 2u);
    EXPECT_EQ(line.writes[0].data, hexBytes({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));
    EXPECT_EQ(line.writes[1].data, hexBytes({0x02, 0x07, 0x04, 0x00, 0x00, 0x25, 0x80}));
    EXPECT_EQ(traces, (std::vector<std::string>{"----> 0207040001C200", "----> 0207040000" "2580"}));
    EXPECT_TRUE(cmd.isOpen());

    line.failWrites = true;
    EXPECT_EQ(SwitchDeviceBaud(link, 115200), Status::failure(Code::PortError, "Write failed: Input/output error"));
    EXPECT_TRUE(cmd.isOpen());
}

TEST_F(FrameTest, LineSpeedSwitchTellsTheDisplayThenChangesTheLocalSpeed)
{
    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    const double start = clock.nowMs();
    EXPECT_TRUE(SwitchLineSpeed(link, 115200, 200));
    EXPECT_EQ(line.currentBaud, 115200);
    // The frame must be off the line (7 bytes at 38400 bit/s) before the 200 ms pause
    // and the PC's own change.
    ASSERT_EQ(line.drains.size(), 1u);
    EXPECT_NEAR(line.drains[0] - start, 7 * 10000.0 / 38400, 1e-9);
    EXPECT_NEAR(clock.nowMs() - start, 300 + 7 * 10000.0 / 38400, 1e-9);
    EXPECT_DOUBLE_EQ(line.writes.at(0).at, start);  // the frame goes out before the pause
    EXPECT_EQ(line.written("cmd"), hexBytes({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));

    EXPECT_TRUE(SwitchLineSpeed(link, link.BaudRate, 500));
    EXPECT_EQ(line.currentBaud, 38400);
    EXPECT_EQ(line.writes.at(1).data, hexBytes({0x02, 0x07, 0x04, 0x00, 0x00, 0x96, 0x00}));
    EXPECT_TRUE(cmd.isOpen());
}

TEST_F(FrameTest, LineSpeedSwitchThatThePcCannotFollowSaysSo)
{
    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    line.refuseSpeed = true;
    EXPECT_EQ(SwitchLineSpeed(link, 115200, 200),
              Status::failure(Code::PortError, "could not set 115200 bit/s on /dev/ttyFAKE0: Invalid argument"));
    EXPECT_EQ(line.currentBaud, 38400);
    // The display was told: its frame went out.
    EXPECT_EQ(line.written("cmd"), hexBytes({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));
}

TEST_F(FrameTest, CancelledJobWritesNothingMoreAndEndsItsPausesAtOnce)
{
    CancelToken token;
    const CancelScope scope(link, &token);
    token.cancel();
    const double start = clock.nowMs();
    EXPECT_EQ(SetTextColor(link, ColorArea::Footer, 0x8000FF), Status::failure(Code::Cancelled, kCancelledText));
    EXPECT_EQ(WaitDeviceReady(link, false).code, Code::Cancelled);
    EXPECT_EQ(SwitchLineSpeed(link, 115200, 200).code, Code::Cancelled);
    EXPECT_TRUE(line.writes.empty());
    EXPECT_DOUBLE_EQ(clock.nowMs(), start) << "no pause was waited out";
    EXPECT_FALSE(cmd.isOpen());
}

} // namespace
} // namespace tarsel::test
