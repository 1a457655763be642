// The time limits of the named-file exchanges at their exact edges, on a virtual line
// at 9600 bit/s: the display answers late by whole milliseconds (an answer leaves that
// long after what it answers has arrived), and where a byte lands follows from the
// line time, 10 bits a byte. Of two answers a millisecond apart that straddle an
// edge, the earlier is taken and the later is the exchange's time-out.
#include "link/ports.h"
#include "support/virtual_link.h"
#include "transfer/crc16.h"
#include "transfer/download_run.h"
#include "transfer/frames.h"
#include "transfer/protocol.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarsel::test {
namespace {

constexpr int kBaud = 9600;
constexpr double kByteMs = 10000.0 / kBaud;

// The whole-millisecond delays that put a byte landing `lineMs` + delay after the
// reference moment last before `edgeMs` and first after it.
struct Straddle {
    int inside;
    int past;
};
Straddle straddle(double edgeMs, double lineMs)
{
    const int inside = static_cast<int>(std::floor(edgeMs - lineMs));
    EXPECT_LT(lineMs + inside, edgeMs - 0.01);
    EXPECT_GT(lineMs + inside + 1, edgeMs + 0.01);
    return {inside, inside + 1};
}

// A named-file display at 9600 bit/s with CmdPort open.
struct NamedFileLine : VirtualLink {
    NamedFileLine() : VirtualLink(displayConfig("KT310-IID", kBaud)) { EXPECT_TRUE(OpenCmdPort(link).ok()); }

    void setFaults(int slowMs, int garbageBytes = 0)
    {
        sim::Faults f;
        f.slowMs = slowMs;
        f.garbageBytes = garbageBytes;
        line.withDisplay([&](sim::DisplayCore& d) { d.setFaults(f); });
    }
    // Tells the display to expect `file` (answered at once), then sends it with the
    // display answering `slowMs` late and `garbageBytes` of noise before its CRC line.
    // Returns when the last byte has arrived; the CRC wait begins after the pause the
    // run makes there.
    void sendFile(const Bytes& file, int slowMs, int garbageBytes)
    {
        ASSERT_EQ(MakeFile(link, "a.bin", std::to_string(file.size()), std::to_string(Crc16(file))),
                  Status::success());
        setFaults(slowMs, garbageBytes);
        ASSERT_EQ(StreamFile(link, file, {}), Status::success());
        streamEnd = line.nowMs();
        link.clock.sleepMs(kStreamSettleMs);
    }
    double streamEnd = 0;
};

const Bytes kFile = Bytes(300, 'f');

} // namespace

// MakeFile: 50 ms pause, then reads 50 ms apart until three bytes ("OK" and more) have
// come. The read 850 ms in is the last within 864 ms.
TEST(TransferAnswerEdges, MakeFileTakesItsThirdByteUpToTheLastReadBeforeTheLimit)
{
    const Bytes frame = MakeFileFrame("a.bin", "300", std::to_string(Crc16(kFile)));
    const double edge = 50 + 850;
    const Straddle s = straddle(edge, static_cast<double>(frame.size() + 3) * kByteMs);
    for (const int slowMs : {s.inside, s.past}) {
        SCOPED_TRACE(slowMs);
        NamedFileLine rig;
        rig.setFaults(slowMs);
        const Status made = MakeFile(rig.link, "a.bin", "300", std::to_string(Crc16(kFile)));
        if (slowMs == s.inside)
            EXPECT_EQ(made, Status::success());
        else
            EXPECT_EQ(made, Status::failure(Code::TimedOut, "Make File failed : Time out !"));
        ASSERT_EQ(rig.line.writes().size(), 1u);
        EXPECT_EQ(rig.line.writes()[0].bytes, frame);
    }
}

// The CRC line: no pause, and a read that brings nothing ends the wait. The line must
// have begun to arrive when the wait starts (500 ms after the stream's last byte); the
// rest comes with the next read 100 ms later.
TEST(TransferAnswerEdges, FileCrcLineMustHaveBegunWhenTheWaitStarts)
{
    const Straddle s = straddle(kStreamSettleMs, 1 * kByteMs);
    const std::string crc = std::to_string(Crc16(kFile));
    for (const int slowMs : {s.inside, s.past}) {
        SCOPED_TRACE(slowMs);
        NamedFileLine rig;
        rig.sendFile(kFile, slowMs, 0);
        const Status status = WaitFileCrc(rig.link, crc);
        if (slowMs == s.inside)
            EXPECT_EQ(status, Status::success());
        else
            EXPECT_EQ(status, Status::failure(Code::TimedOut, "Failed to read data"));
    }
}

// A CRC line behind 200 bytes of noise takes 214 ms of line time: reads 100 ms apart
// take it while it comes, and the read 200 ms in is the last within 259.2 ms.
TEST(TransferAnswerEdges, FileCrcLineMustEndByTheLastReadBeforeTheLimit)
{
    constexpr int kNoise = 200;
    // What the display sends with that noise (the same bytes on every line).
    Bytes sent;
    {
        NamedFileLine probe;
        probe.sendFile(kFile, 0, kNoise);
        probe.line.runFor(1000);
        std::string message;
        ASSERT_TRUE(probe.cmdPort->read(sent, message)) << message;
    }
    ASSERT_EQ(sent.size(), kNoise + std::to_string(Crc16(kFile)).size() + 1);
    ASSERT_EQ(sent.back(), '\n');
    const std::string expected = sent.substr(0, sent.size() - 1);

    const Straddle s = straddle(kStreamSettleMs + 200, static_cast<double>(sent.size()) * kByteMs);
    for (const int slowMs : {s.inside, s.past}) {
        SCOPED_TRACE(slowMs);
        NamedFileLine rig;
        rig.sendFile(kFile, slowMs, kNoise);
        const Status status = WaitFileCrc(rig.link, expected);
        if (slowMs == s.inside)
            EXPECT_EQ(status, Status::success());
        else
            EXPECT_EQ(status, Status::failure(Code::TimedOut, "Download failed : Time out !"));
    }
}

} // namespace tarsel::test
