// The commands that wait for an answer: model query, probe, device-ready wait,
// version, settings document and the echoed commands, with their time-out edges.
#include "link/commands.h"
#include "commands_fixture.h"

namespace tarsel::test {
namespace {

const Bytes kModelQuery = hexBytes({0x02, 0x07, 0x16, 0x01});
const Bytes kVersionQuery = hexBytes({0x02, 0x07, 0x16, 0x02});
const Bytes kConfigQuery = hexBytes({0x02, 0x07, 0x16, 0x05});

Bytes withZero(const std::string& name) { return name + '\0'; }

class WaitTest : public LinkTest {};

// ---------------------------------------------------------------------------
// DetectModel

TEST_F(WaitTest, DetectModelFindsEachModelByItsExactName)
{
    const char* names[] = {"KT310--IIA", "KT310--IIB", "KT310--IIC", "KT310-IID", "KT710--II", "KT310-II", "KT710-II"};
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(names[i]);
        answerFrame(kModelQuery, {{20, withZero(names[i])}});
        Status st;
        EXPECT_EQ(detect(link, st), i);
        EXPECT_EQ(st.text, "OK");
        EXPECT_FALSE(cmd.isOpen());
    }
}

TEST_F(WaitTest, DetectModelTracesOnlyTheAnswer)
{
    answerFrame(kModelQuery, {{20, withZero("KT710-II")}});
    Status st;
    EXPECT_EQ(detect(link, st), 6);
    EXPECT_EQ(line.written(), kModelQuery);
    EXPECT_EQ(traces, std::vector<std::string>{"<---- 4B543731302D494900"});
}

TEST_F(WaitTest, DetectModelUnknownOrWrongCaseNameIsUnknown)
{
    for (const char* name : {"KT999", "kt710-II", "KT710-II ", "KT710-II\x01", ""}) {
        SCOPED_TRACE(name);
        answerFrame(kModelQuery, {{20, withZero(name)}});
        Status st;
        EXPECT_EQ(detect(link, st), -1);
        EXPECT_EQ(st.text, "Unknown model !");
    }
}

TEST_F(WaitTest, DetectModelWithoutTerminatorTimesOut86_4msAfterThePause)
{
    answerFrame(kModelQuery, {{20, "KT710-II"}});
    Status st;
    EXPECT_EQ(detect(link, st), -1);
    EXPECT_EQ(st.text, "Not found Device : Time out !");
    const double took = clock.nowMs() - line.writes.at(0).at;
    EXPECT_GT(took, 186.4);
    EXPECT_LE(took, 186.4 + line.readStepMs + 1e-9);
    EXPECT_TRUE(traces.empty());
    EXPECT_FALSE(cmd.isOpen());
}

TEST_F(WaitTest, DetectModelOnASilentLineAlsoTimesOutAt86_4ms)
{
    Status st;
    EXPECT_EQ(detect(link, st), -1);
    EXPECT_EQ(st.text, "Not found Device : Time out !");
    const double took = clock.nowMs() - line.writes.at(0).at;
    EXPECT_GT(took, 186.4);
    EXPECT_LE(took, 186.4 + line.readStepMs + 1e-9);
}

TEST_F(WaitTest, DetectModelJoinsAnAnswerInThreePieces)
{
    answerFrame(kModelQuery, {{40, "KT3"}, {130, "10-I"}, {185, Bytes("ID\0", 3)}});
    Status st;
    EXPECT_EQ(detect(link, st), 3);
    EXPECT_EQ(traces, std::vector<std::string>{"<---- 4B543331302D49494400"});
}

// The check at exactly the limit still waits: pieces arrive so that a read ends at
// exactly 86.4 ms with the answer still open, and the next read completes it.
TEST_F(WaitTest, DetectModelTimeEqualToTheLimitStillWaits)
{
    line.readStepMs = 21.6;
    answerFrame(kModelQuery, {{50, "KT7"}, {100 + 20, "10"}, {100 + 40, "-"}, {100 + 60, "I"},
                              {100 + 80, "I"}, {100 + 100, Bytes(1, '\0')}});
    Status st;
    EXPECT_EQ(detect(link, st), 6) << st.text;
}

TEST_F(WaitTest, DetectModelTimeJustPastTheLimitTimesOut)
{
    line.readStepMs = 21.6003;  // the fourth read ends at 86.4012 ms
    answerFrame(kModelQuery, {{50, "KT7"}, {100 + 20, "10"}, {100 + 40, "-"}, {100 + 60, "I"},
                              {100 + 80, "I"}, {100 + 100, Bytes(1, '\0')}});
    Status st;
    EXPECT_EQ(detect(link, st), -1);
    EXPECT_EQ(st.text, "Not found Device : Time out !");
}

TEST_F(WaitTest, DetectModelOpenFailureSendsNothing)
{
    line.failOpen = true;
    link.SysLangId = 2052;
    Status st;
    EXPECT_EQ(detect(link, st), -1);
    EXPECT_EQ(st.text, " 打开串口出错，此串口不存在或被占用!");
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(WaitTest, DetectModelEndsPromptlyWhenTheLineHangsUp)
{
    line.onWrite = [](FakeLine& l, const Bytes&) { l.hangUp = true; };
    Status st;
    EXPECT_EQ(detect(link, st), -1);
    EXPECT_NE(st.text.find("hung up"), std::string::npos) << st.text;
    EXPECT_LT(clock.nowMs() - line.writes.at(0).at, 101);
    EXPECT_FALSE(cmd.isOpen());
}

TEST_F(WaitTest, DetectModelWriteFailureIsReported)
{
    line.failWrites = true;
    Status st;
    EXPECT_EQ(detect(link, st), -1);
    EXPECT_EQ(st.text, "Write failed: Input/output error");
    EXPECT_FALSE(cmd.isOpen());
}

// ---------------------------------------------------------------------------
// ProbeModel and WaitDeviceReady

TEST_F(WaitTest, ProbeModelOutcomesAndTraces)
{
    Status st;
    EXPECT_FALSE((st = ProbeModel(link)));  // CmdPort closed: the write fails
    EXPECT_EQ(st.text, "3: 6");
    EXPECT_TRUE(traces.empty());

    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    answerFrame(kModelQuery, {{30, withZero("KT310--IIB")}});
    EXPECT_TRUE((st = ProbeModel(link)));
    EXPECT_EQ(st.text, "OK");
    EXPECT_EQ(traces, (std::vector<std::string>{"----> 02071601", "<---- 4B543331302D2D49494200"}));
    EXPECT_TRUE(cmd.isOpen());

    answerFrame(kModelQuery, {{30, withZero("XYZ")}});
    EXPECT_FALSE((st = ProbeModel(link)));
    EXPECT_EQ(st.text, "Unknown model !");

    // Nothing arrived during the pause: no further waiting.
    answerFrame(kModelQuery, {{150, withZero("KT710-II")}});
    const double before = clock.nowMs();
    EXPECT_FALSE((st = ProbeModel(link)));
    EXPECT_EQ(st.text, "Failed to read data");
    EXPECT_LT(clock.nowMs() - before, 101);
    line.clearInput();

    // Bytes that keep coming without the terminator: time-out past 172.8 ms.
    line.readStepMs = 10;  // every read finds a new byte
    line.onWrite = [](FakeLine& l, const Bytes&) {
        for (int t = 10; t < 400; t += 10)
            l.answer("K", t);
    };
    EXPECT_FALSE((st = ProbeModel(link)));
    EXPECT_EQ(st.text, "Not found Device : Time out !");
    EXPECT_TRUE(cmd.isOpen());
}

TEST_F(WaitTest, WaitDeviceReadyTries51TimesOnASilentLine)
{
    const double start = clock.nowMs();
    Status st;
    EXPECT_FALSE((st = WaitDeviceReady(link, false)));
    EXPECT_EQ(st.text, "Failed to read data");
    EXPECT_EQ(line.writes.size(), 51u);
    for (const auto& w : line.writes)
        EXPECT_EQ(w.data, kModelQuery);
    const double took = clock.nowMs() - start;
    EXPECT_GE(took, 51 * 200.0);
    EXPECT_LT(took, 51 * 200.0 + 51 * 1.0);
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_EQ(line.openBauds.size(), 1u);
}

TEST_F(WaitTest, WaitDeviceReadyStopsAtTheFirstAnswer)
{
    int probes = 0;
    line.onWrite = [&probes](FakeLine& l, const Bytes&) {
        if (++probes == 3)
            l.answer(withZero("KT710-II"), 20);
    };
    const double start = clock.nowMs();
    Status st;
    EXPECT_FALSE((st = WaitDeviceReady(link, true)));  // keepOpen with a closed port
    EXPECT_EQ(st.text, "Serial Port Not Opened!");
    EXPECT_EQ(probes, 0);

    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    EXPECT_TRUE((st = WaitDeviceReady(link, true)));
    EXPECT_EQ(st.text, "OK");
    EXPECT_EQ(probes, 3);
    EXPECT_NEAR(clock.nowMs() - start, 3 * 200.0, 1.0);
    EXPECT_TRUE(cmd.isOpen());  // kept open
}

TEST_F(WaitTest, WaitDeviceReadyOpenFailureAndHangUp)
{
    line.failOpen = true;
    Status st;
    EXPECT_FALSE((st = WaitDeviceReady(link, false)));
    EXPECT_EQ(st.text, " Error opening serial port!");
    EXPECT_TRUE(line.writes.empty());

    line.failOpen = false;
    line.onWrite = [](FakeLine& l, const Bytes&) { l.hangUp = true; };
    EXPECT_FALSE((st = WaitDeviceReady(link, false)));
    EXPECT_EQ(line.writes.size(), 1u);  // a hung-up line is not probed 51 times
    EXPECT_NE(st.text.find("hung up"), std::string::npos) << st.text;
    EXPECT_FALSE(cmd.isOpen());
}

// ---------------------------------------------------------------------------
// ReadVersion

TEST_F(WaitTest, ReadVersionReadsTheAnswerAsOneHexNumber)
{
    struct Case { Bytes answer; int version; };
    const Case cases[] = {{hexBytes({0x0C}), 12}, {hexBytes({0x00, 0x0D}), 13}, {hexBytes({0x01, 0x00}), 256},
                          {hexBytes({0x0B}), 11}};
    for (const auto& c : cases) {
        answerFrame(kVersionQuery, {{50, c.answer}});
        Status st;
        EXPECT_EQ(readVersion(link, st), c.version);
        EXPECT_EQ(st.text, "OK");
        EXPECT_FALSE(cmd.isOpen());
    }
    EXPECT_EQ(line.writes.back().data, kVersionQuery);
    EXPECT_TRUE(traces.empty());
}

TEST_F(WaitTest, ReadVersionWithoutAnswerIsZero)
{
    Status st;
    EXPECT_EQ(readVersion(link, st), 0);
    EXPECT_EQ(st.text, "Read Version Error !");
    // One read after the pause: an answer arriving later is not waited for.
    answerFrame(kVersionQuery, {{150, hexBytes({0x0C})}});
    EXPECT_EQ(readVersion(link), 0);
    line.failOpen = true;
    EXPECT_EQ(readVersion(link), 0);
}

// ---------------------------------------------------------------------------
// GetConfiguration

TEST_F(WaitTest, GetConfigurationReturnsTheDocumentWithItsFinalZero)
{
    const Bytes doc = "{\"wel_mess1\":\"Caf\xE9\"}";
    answerFrame(kConfigQuery, {{120, doc.substr(0, 10)}, {700, doc.substr(10) + '\0'}});
    Bytes reply = "stale";
    Status st;
    EXPECT_TRUE((st = GetConfiguration(link, reply)));
    EXPECT_EQ(reply, doc + '\0');
    EXPECT_EQ(st.text, "OK");
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_TRUE(traces.empty());
}

TEST_F(WaitTest, GetConfigurationWithBytesAfterTheZeroNeverCompletes)
{
    answerFrame(kConfigQuery, {{50, Bytes("{}\0xy", 5)}});
    Bytes reply;
    Status st;
    EXPECT_FALSE((st = GetConfiguration(link, reply)));
    EXPECT_EQ(st.text, "Get configuration: Time out !");
    EXPECT_TRUE(reply.empty());
    const double took = clock.nowMs() - line.writes.at(0).at;
    EXPECT_GT(took, 100 + 1296.0);
    EXPECT_LE(took, 100 + 1296.0 + line.readStepMs + 1e-9);
}

TEST_F(WaitTest, GetConfigurationTimeEqualToTheLimitStillWaits)
{
    line.readStepMs = 324;  // reads end at 324, 648, 972, 1296, 1620 ms after the pause
    answerFrame(kConfigQuery, {{50, "{"}, {100 + 300, "\""}, {100 + 600, "a"}, {100 + 900, "\""},
                               {100 + 1200, "}"}, {100 + 1400, Bytes(1, '\0')}});
    Bytes reply;
    Status st;
    EXPECT_TRUE((st = GetConfiguration(link, reply))) << st.text;
    EXPECT_EQ(reply, Bytes("{\"a\"}\0", 6));
}

// ---------------------------------------------------------------------------
// Echoed commands

TEST_F(WaitTest, EchoedCommandsSendTheirFramesAndAcceptTheirEcho)
{
    struct Case {
        const char* name;
        std::function<Status(Link&)> run;
        Bytes frame;
    };
    const std::uint32_t red255blue128 = 0x800000 | 0xFF;
    const std::vector<Case> cases = {
        {"TextHeader", [&](Link& l) { return SetTextColor(l, ColorArea::Header, 0x332211); },
         hexBytes({0x02, 0x07, 0x0B, 0x11, 0x22, 0x33})},
        {"TextMain", [&](Link& l) { return SetTextColor(l, ColorArea::MainText, 0xFFFFFF); },
         hexBytes({0x02, 0x07, 0x0E, 0xFF, 0xFF, 0xFF})},
        {"TextFooter", [&](Link& l) { return SetTextColor(l, ColorArea::Footer, red255blue128); },
         hexBytes({0x02, 0x07, 0x10, 0xFF, 0x00, 0x80})},
        {"BackHeader", [&](Link& l) { return SetBackColor(l, ColorArea::Header, 0x0000FF); },
         hexBytes({0x02, 0x07, 0x0C, 0xFF, 0x00, 0x00})},
        {"BackMain", [&](Link& l) { return SetBackColor(l, ColorArea::MainText, 0x00FF00); },
         hexBytes({0x02, 0x07, 0x0F, 0x00, 0xFF, 0x00})},
        {"BackFooter", [&](Link& l) { return SetBackColor(l, ColorArea::Footer, 0); },
         hexBytes({0x02, 0x07, 0x11, 0x00, 0x00, 0x00})},
        {"TitleText", [&](Link& l) { return SetTitleMode(l, kTitleShowsText); },
         hexBytes({0x02, 0x07, 0x0A})},
        {"TitlePicture", [&](Link& l) { return SetTitleMode(l, kTitleShowsPicture); },
         hexBytes({0x02, 0x07, 0x09})},
        {"MainTextLines", [&](Link& l) { return SetMainTextLines(l, 2); },
         hexBytes({0x02, 0x07, 0x14, 0x02})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        traces.clear();
        line.writes.clear();
        answerFrame(c.frame, {{300, c.frame}});
        Status st;
        EXPECT_TRUE((st = c.run(link)));
        EXPECT_EQ(st.text, "OK");
        ASSERT_EQ(line.writes.size(), 1u);
        EXPECT_EQ(line.writes[0].data, c.frame);
        const std::string hex = traces.empty() ? "" : traces[0].substr(6);
        EXPECT_EQ(traces, (std::vector<std::string>{"----> " + hex, "<---- " + hex}));
        EXPECT_EQ(hex.size(), c.frame.size() * 2);
        EXPECT_FALSE(cmd.isOpen());
    }
}

TEST_F(WaitTest, EchoWithASeventhByteIsAnError)
{
    const Bytes frame = hexBytes({0x02, 0x07, 0x10, 0xFF, 0x00, 0x80});
    answerFrame(frame, {{100, frame + '\x55'}});
    Status st;
    EXPECT_FALSE((st = SetTextColor(link, ColorArea::Footer, 0x8000FF)));
    EXPECT_EQ(st.text, "Set TextColor Error!");
    EXPECT_EQ(traces, (std::vector<std::string>{"----> 020710FF0080", "<---- 020710FF008055"}));
}

TEST_F(WaitTest, WrongEchoGivesTheCommandsErrorText)
{
    answerFrame(hexBytes({0x02, 0x07, 0x0C, 0x01, 0x02, 0x03}), {{100, hexBytes({0x02, 0x07, 0x0C, 0x01, 0x02, 0x04})}});
    Status st;
    EXPECT_FALSE((st = SetBackColor(link, ColorArea::Header, 0x030201)));
    EXPECT_EQ(st.text, "Set BackgroudColor Error!");
    answerFrame(hexBytes({0x02, 0x07, 0x0A}), {{100, hexBytes({0x02, 0x07, 0x09})}});
    EXPECT_FALSE((st = SetTitleMode(link, kTitleShowsText)));
    EXPECT_EQ(st.text, "Set Title mode Error!");
}

TEST_F(WaitTest, EchoInPiecesIsJoined)
{
    const Bytes frame = hexBytes({0x02, 0x07, 0x0E, 0x10, 0x20, 0x30});
    answerFrame(frame, {{520, frame.substr(0, 2)}, {900, frame.substr(2, 3)}, {1400, frame.substr(5)}});
    Status st;
    EXPECT_TRUE((st = SetTextColor(link, ColorArea::MainText, 0x302010))) << st.text;
}

TEST_F(WaitTest, EchoOfFiveBytesEndsAfter1728msWithTheTimeOutText)
{
    struct Case {
        std::function<Status(Link&)> run;
        Bytes frame;
        const char* timeOut;
    };
    const std::vector<Case> cases = {
        {[](Link& l) { return SetTextColor(l, ColorArea::Footer, 0x8000FF); },
         hexBytes({0x02, 0x07, 0x10, 0xFF, 0x00, 0x80}), "Set TextColor Error : Time out !"},
        {[](Link& l) { return SetBackColor(l, ColorArea::Footer, 0x8000FF); },
         hexBytes({0x02, 0x07, 0x11, 0xFF, 0x00, 0x80}), "Set BackgroudColor Error : Time out !"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeOut);
        traces.clear();
        answerFrame(c.frame, {{100, c.frame.substr(0, 5)}});
        const double start = clock.nowMs();
        Status st;
        EXPECT_FALSE((st = c.run(link)));
        EXPECT_EQ(st.text, c.timeOut);
        const double waited = clock.nowMs() - start - 500;
        EXPECT_GT(waited, 1728.0);
        EXPECT_LE(waited, 1728.0 + 100 + line.readStepMs);
        EXPECT_EQ(traces.size(), 1u);  // the frame only
        EXPECT_FALSE(cmd.isOpen());
    }
    // Title mode waits for 3 bytes: two bytes never complete it.
    answerFrame(hexBytes({0x02, 0x07, 0x09}), {{100, hexBytes({0x02, 0x07})}});
    Status st;
    EXPECT_FALSE((st = SetTitleMode(link, kTitleShowsPicture)));
    EXPECT_EQ(st.text, "Set Title mode Error : Time out !");
}

// Reads end 8 ms after each check, checks are 108 ms apart: the 16th check falls at
// exactly 1728 ms and still waits; the read after it completes the echo.
TEST_F(WaitTest, EchoTimeEqualToTheLimitStillWaits)
{
    line.readStepMs = 8;
    const Bytes frame = hexBytes({0x02, 0x07, 0x10, 0xFF, 0x00, 0x80});
    answerFrame(frame, {{100, frame.substr(0, 5)}, {500 + 1730, frame.substr(5)}});
    Status st;
    EXPECT_TRUE((st = SetTextColor(link, ColorArea::Footer, 0x8000FF))) << st.text;

    line.readStepMs = 8.001;  // the 16th check falls just past the limit
    answerFrame(frame, {{100, frame.substr(0, 5)}, {500 + 1730, frame.substr(5)}});
    EXPECT_FALSE((st = SetTextColor(link, ColorArea::Footer, 0x8000FF)));
    EXPECT_EQ(st.text, "Set TextColor Error : Time out !");
}

TEST_F(WaitTest, EchoWaitEndsPromptlyWhenTheLineHangsUp)
{
    line.onWrite = [](FakeLine& l, const Bytes&) { l.hangUp = true; };
    const double start = clock.nowMs();
    Status st;
    EXPECT_FALSE((st = SetTitleMode(link, kTitleShowsText)));
    EXPECT_NE(st.text.find("hung up"), std::string::npos) << st.text;
    EXPECT_LT(clock.nowMs() - start, 600);
    EXPECT_FALSE(cmd.isOpen());
}

TEST_F(WaitTest, MainTextLinesTakesOneReadAfterItsPause)
{
    const Bytes frame = hexBytes({0x02, 0x07, 0x14, 0x01});
    Status st;
    EXPECT_FALSE((st = SetMainTextLines(link, 1)));  // silent
    EXPECT_EQ(st.text, "Set Main Text Lines Error!");
    EXPECT_EQ(traces, std::vector<std::string>{"----> 02071401"});

    traces.clear();
    answerFrame(frame, {{600, frame}});  // too late for the single read
    EXPECT_FALSE((st = SetMainTextLines(link, 1)));
    EXPECT_EQ(st.text, "Set Main Text Lines Error!");
    line.clearInput();

    traces.clear();
    answerFrame(frame, {{200, frame + '\x00'}});
    EXPECT_FALSE((st = SetMainTextLines(link, 1)));
    EXPECT_EQ(traces, (std::vector<std::string>{"----> 02071401", "<---- 0207140100"}));
    EXPECT_FALSE(cmd.isOpen());
}

} // namespace
} // namespace tarsel::test
