// The time limits of the commands that wait for an answer, at their exact edges, on a
// virtual line: the display answers late by whole milliseconds (an answer leaves
// that long after its frame has arrived), and where the byte that completes the
// answer lands follows from the line time, 10 bits a byte at the speed. Of two
// answers a millisecond apart that straddle the edge, the earlier is taken and the
// later is the command's time-out.
#include "link/commands.h"
#include "link/connect.h"
#include "support/virtual_link.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace tarsel::test {
namespace {

double byteMs(int baud) { return 10000.0 / baud; }

// The whole-millisecond delays that put a byte landing `lineMs` + delay after the
// write last before `edgeMs` and first after it.
struct Straddle {
    int inside;
    int past;
};
Straddle straddle(double edgeMs, double lineMs)
{
    const int inside = static_cast<int>(std::floor(edgeMs - lineMs));
    return {inside, inside + 1};
}

sim::Faults answeringLate(int slowMs)
{
    sim::Faults f;
    f.slowMs = slowMs;
    return f;
}

struct AnswerEdge {
    const char* name;
    sim::DisplayCore::Config display;
    std::size_t frameBytes;   // the command's frame
    std::size_t answerBytes;  // the answer up to the byte that completes it
    double edgeMs;            // from the write: the latest that byte may land
    std::function<Status(Link&)> command;
    const char* timeOutText;
};

std::vector<AnswerEdge> answerEdges()
{
    return {
        // 100 ms pause, then the name and its 00 within 86.4 ms.
        {"DetectModel", displayConfig("KT710-II", 9600), 4, 9, 100 + 86.4,
         [](Link& l) {
             int model = -1;
             return DetectModel(l, model);
         },
         "Not found Device : Time out !"},
        // 500 ms pause, then reads 100 ms apart: the read 1700 ms in is the last one
        // within 1728 ms, the next would be past it.
        {"SetTextColor", displayConfig("KT710-II", 9600), 6, 6, 500 + 1700,
         [](Link& l) { return SetTextColor(l, ColorArea::Header, 0x00FF8040); },
         "Set TextColor Error : Time out !"},
        // 100 ms pause, then the whole document and its 00 within 1296 ms.
        {"GetConfiguration", displayConfig("KT310--IIA", 115200), 4, sim::SettingsDocument().render().size() + 1,
         100 + 1296,
         [](Link& l) {
             Bytes reply;
             return GetConfiguration(l, reply);
         },
         "Get configuration: Time out !"},
    };
}

void PrintTo(const AnswerEdge& e, std::ostream* out) { *out << e.name; }

class AnswerEdgeTest : public ::testing::TestWithParam<AnswerEdge> {};

} // namespace

TEST_P(AnswerEdgeTest, LastByteInsideTheLimitIsTakenOnePastIsATimeOut)
{
    const AnswerEdge& e = GetParam();
    const double lineMs = static_cast<double>(e.frameBytes + e.answerBytes) * byteMs(e.display.baud);
    const Straddle s = straddle(e.edgeMs, lineMs);
    ASSERT_GT(s.inside, 0);
    ASSERT_LT(lineMs + s.inside, e.edgeMs - 0.01);
    ASSERT_GT(lineMs + s.past, e.edgeMs + 0.01);

    for (const int slowMs : {s.inside, s.past}) {
        SCOPED_TRACE(::testing::Message() << "answer " << slowMs << " ms late, last byte at "
                                          << lineMs + slowMs << " ms of " << e.edgeMs);
        VirtualLink rig(e.display);
        rig.line.withDisplay([&](sim::DisplayCore& d) { d.setFaults(answeringLate(slowMs)); });
        const Status status = e.command(rig.link);
        if (slowMs == s.inside)
            EXPECT_EQ(status, Status::success());
        else
            EXPECT_EQ(status, Status::failure(Code::TimedOut, e.timeOutText));
        // The frame went at once on an idle line and arrived after its line time.
        const auto writes = rig.line.writes();
        ASSERT_EQ(writes.size(), 1u);
        const auto records = rig.line.records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_NEAR(records[0].timeMs - writes[0].atMs, e.frameBytes * byteMs(e.display.baud), 1e-6);
        EXPECT_FALSE(rig.cmdPort->isOpen());
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, AnswerEdgeTest, ::testing::ValuesIn(answerEdges()),
                         [](const ::testing::TestParamInfo<AnswerEdge>& info) { return std::string(info.param.name); });

// Connect's scan against a display at 19200 bit/s: the query at 9600 is noise to it;
// at 19200 an answer inside the model query's limit is found there, one past it is
// not, and the scan moves on to 38400 and beyond.
TEST(AnswerEdgeScan, AnAnswerPastTheModelQueryLimitMovesTheScanOn)
{
    const double lineMs = (4 + 9) * byteMs(19200);
    const Straddle s = straddle(100 + 86.4, lineMs);
    auto opens = [](const VirtualLine& line) {
        std::vector<int> bauds;
        for (const auto& e : line.portEvents())
            if (e.kind == VirtualLine::PortEvent::Kind::Open)
                bauds.push_back(e.baud);
        return bauds;
    };
    const ConnectOptions queryOnly{false, false};

    VirtualLink inTime(displayConfig("KT710-II", 19200));
    inTime.link.BaudRate = 9600;
    inTime.line.withDisplay([&](sim::DisplayCore& d) { d.setFaults(answeringLate(s.inside)); });
    const ConnectResult found = ScanForDisplay(inTime.link, ConnectSpeeds(), queryOnly);
    EXPECT_EQ(found.status, Status::success());
    EXPECT_EQ(found.modelIndex, 6);
    EXPECT_EQ(found.baud, 19200);
    EXPECT_EQ(inTime.link.BaudRate, 19200);
    EXPECT_EQ(opens(inTime.line), (std::vector<int>{9600, 19200}));
    EXPECT_EQ(inTime.line.recordsNamed("Noise").size(), 1u);

    VirtualLink late(displayConfig("KT710-II", 19200));
    late.link.BaudRate = 9600;
    late.line.withDisplay([&](sim::DisplayCore& d) { d.setFaults(answeringLate(s.past)); });
    const ConnectResult missed = ScanForDisplay(late.link, ConnectSpeeds(), queryOnly);
    EXPECT_EQ(missed.status, Status::failure(Code::NoDisplay, "Not found Device : Time out !"));
    EXPECT_FALSE(missed.found());
    EXPECT_EQ(opens(late.line), (std::vector<int>{9600, 19200, 38400, 57600, 115200}));
    // It did answer at 19200, only too late for the scan.
    EXPECT_EQ(late.line.recordsNamed("ModelQuery").size(), 1u);
    EXPECT_GT(late.line.lostBytes(), 0u);
}

} // namespace tarsel::test
