// The run's speed and time left, fed with the reports a run makes, on a virtual clock:
// a streamed file whose first pieces land in the port's buffers at once, the block
// method's slower pace, a stall, a change of pace, a new run, and the texts.
#include "support/fake_port.h"
#include "transfer/transfer_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tarsel;
using tarsel::test::VirtualClock;

namespace {

constexpr int kLine = 11520;              // 115200 bit/s
constexpr double kPieceMs = 256.0 * 1000.0 / kLine;

// Reports a run as DownloadRun does, on a virtual clock.
struct RunFeed {
    VirtualClock clock;
    TransferMeter meter;
    ByteProgress p;

    explicit RunFeed(std::uint64_t runTotal) { p.runTotal = runTotal; p.lineBytesPerSecond = kLine; }

    void startItem(int position, std::uint64_t size, std::uint64_t runDoneBefore)
    {
        ++p.item;
        p.position = position;
        p.itemTotal = size;
        p.itemDone = 0;
        p.runDone = runDoneBefore;
        meter.update(p, clock.nowMs());
    }
    // `bytes` more of the item handed to the port now.
    void written(std::uint64_t bytes)
    {
        const std::uint64_t before = p.itemDone;
        p.itemDone = std::min(p.itemTotal, p.itemDone + bytes);
        p.runDone += p.itemDone - before;
        meter.update(p, clock.nowMs());
    }
    // A stream into a port that takes `buffer` bytes at once and then one 256-byte
    // piece each time the line has carried one, for `ms` of virtual time (or until
    // the item is written). `queued` counts the pieces in the port's buffers.
    void streamFor(double ms, std::uint64_t buffer, int& queued)
    {
        const double end = clock.nowMs() + ms;
        while (p.itemDone < p.itemTotal) {
            if (static_cast<std::uint64_t>(queued + 1) * 256 <= buffer) {
                written(256);
                ++queued;
                continue;
            }
            if (clock.nowMs() + kPieceMs > end)
                break;
            clock.advance(kPieceMs);
            --queued;
        }
    }
    TransferMeter::Estimate now() const { return meter.estimate(clock.m_now); }
};

} // namespace

TEST(TransferMeter, AStreamThatFillsThePortBuffersAtOnceIsMeasuredAtTheLinesPace)
{
    RunFeed run(102400);
    run.startItem(5, 102400, 0);
    int queued = 0;
    run.streamFor(0, 20480, queued); // the pseudo-terminal takes 20 KB at once
    EXPECT_EQ(run.p.itemDone, 20480u);
    TransferMeter::Estimate e = run.now();
    EXPECT_TRUE(e.active);
    EXPECT_FALSE(e.rateKnown); // nothing measured yet
    EXPECT_EQ(e.itemLeft, 102400u); // handed over is not gone out

    run.streamFor(999, 20480, queued);
    EXPECT_FALSE(run.now().rateKnown);
    run.streamFor(2000, 20480, queued);
    e = run.now();
    ASSERT_TRUE(e.rateKnown);
    // The line's pace, not the 20 KB burst (which would read about 18 kB/s here).
    EXPECT_NEAR(e.bytesPerSecond, kLine, kLine * 0.02);
    // About 3 s of line time has gone out, whatever sits in the buffers.
    const double goneOut = 102400.0 - static_cast<double>(e.itemLeft);
    EXPECT_NEAR(goneOut, 3 * kLine, 600);
    EXPECT_EQ(e.runLeft, e.itemLeft);
    EXPECT_NEAR(e.itemSecondsLeft, (102400.0 - 3 * kLine) / kLine, 0.1);

    // Everything written: the buffered bytes still take their line time.
    run.streamFor(100000, 20480, queued);
    EXPECT_EQ(run.p.itemDone, 102400u);
    e = run.now();
    EXPECT_GT(e.itemLeft, 15000u);
    EXPECT_NEAR(e.itemSecondsLeft, static_cast<double>(e.itemLeft) / kLine, 0.1);
    run.clock.advance(1000);
    EXPECT_NEAR(static_cast<double>(run.now().itemLeft), static_cast<double>(e.itemLeft) - kLine, 300);
    run.clock.advance(5000);
    e = run.now();
    EXPECT_EQ(e.itemLeft, 0u);
    EXPECT_EQ(e.runLeft, 0u);
    EXPECT_EQ(e.runSecondsLeft, 0.0);
}

TEST(TransferMeter, BlockMethodPaceAndTheRunsTimeLeftOverSeveralItems)
{
    // Stop and wait: 256 data bytes per 274-byte frame and 16-byte request.
    constexpr double blockMs = 290.0 * 1000.0 / kLine;
    constexpr double pace = 256.0 * 1000.0 / blockMs; // 10169 bytes/s
    RunFeed run(3 * 25600);
    run.startItem(1, 25600, 0);
    for (int b = 0; b < 100; ++b) {
        run.clock.advance(blockMs);
        run.written(256);
    }
    run.clock.advance(25); // the last frame leaves the line
    TransferMeter::Estimate e = run.now();
    ASSERT_TRUE(e.rateKnown);
    EXPECT_NEAR(e.bytesPerSecond, pace, pace * 0.02);
    EXPECT_EQ(e.itemLeft, 0u);
    EXPECT_EQ(e.runLeft, 51200u);
    EXPECT_NEAR(e.runSecondsLeft, 51200.0 / pace, 0.1);

    // The pause before the next item does not lower the speed, nor does the start of
    // the item make it jump.
    run.clock.advance(300);
    const double beforeItem = run.now().bytesPerSecond;
    EXPECT_NEAR(beforeItem, e.bytesPerSecond, 0.5);
    run.startItem(2, 25600, 25600);
    run.clock.advance(blockMs);
    run.written(256);
    run.clock.advance(25);
    e = run.now();
    EXPECT_NEAR(e.bytesPerSecond, beforeItem, beforeItem * 0.05);
    EXPECT_EQ(e.itemLeft, 25600u - 256u);
    EXPECT_NEAR(e.itemSecondsLeft, (25600.0 - 256) / e.bytesPerSecond, 0.01);
}

TEST(TransferMeter, TheRunsTimeLeftCountsTheOverheadOfEveryItemLeft)
{
    // Four items of 10240 bytes at 10 000 bytes/s, each followed by 1.5 s of waits.
    RunFeed run(4 * 10240);
    run.p.lineBytesPerSecond = 0;
    run.p.itemCount = 4;
    auto sendItem = [&](int position) {
        run.startItem(position, 10240, static_cast<std::uint64_t>(position - 1) * 10240);
        for (int i = 0; i < 40; ++i) {
            run.clock.advance(25.6);
            run.written(256);
        }
    };
    sendItem(1);
    TransferMeter::Estimate e = run.now();
    EXPECT_EQ(e.overheadSeconds, 0.0); // nothing finished yet
    ASSERT_TRUE(e.rateKnown);
    EXPECT_NEAR(e.bytesPerSecond, 10000, 1);
    EXPECT_NEAR(e.runSecondsLeft, 3 * 1.024, 0.01);

    run.clock.advance(1500);
    sendItem(2);
    e = run.now();
    EXPECT_NEAR(e.bytesPerSecond, 10000, 1); // the waits are no part of the speed
    EXPECT_NEAR(e.overheadSeconds, 1.5, 0.001);
    // The rest: 2 items' bytes, and the overhead of items 2, 3 and 4.
    EXPECT_NEAR(e.runSecondsLeft, 2 * 1.024 + 3 * 1.5, 0.01);
    EXPECT_EQ(e.itemSecondsLeft, 0.0);

    // While the item's own waits run, the run's time left counts down.
    run.clock.advance(1000);
    EXPECT_NEAR(run.now().runSecondsLeft, 2 * 1.024 + 2 * 1.5 + 0.5, 0.01);
    run.clock.advance(500);
    sendItem(3);
    sendItem(4);
    run.clock.advance(600);
    e = run.now();
    EXPECT_EQ(e.runLeft, 0u);
    EXPECT_NEAR(e.overheadSeconds, 1.0, 0.001); // 1.5, 1.5 and 0 (item 4 came at once)
    EXPECT_NEAR(e.runSecondsLeft, 0.4, 0.01);
    run.clock.advance(600);
    EXPECT_EQ(run.now().runSecondsLeft, 0.0);
}

TEST(TransferMeter, AStreamedItemAfterAnotherKeepsTheSpeedSteady)
{
    RunFeed run(2 * 51200);
    int queued = 0;
    run.startItem(3, 51200, 0);
    run.streamFor(1e9, 20480, queued);
    run.clock.advance(20480.0 * 1000 / kLine + 700); // the drain, then the CRC line
    queued = 0; // drained
    const double before = run.now().bytesPerSecond;
    run.startItem(4, 51200, 51200);
    run.streamFor(0, 20480, queued); // 20 KB land in the buffers at once
    const double after = run.now().bytesPerSecond;
    EXPECT_NEAR(after, before, before * 0.03);
    run.streamFor(500, 20480, queued);
    EXPECT_NEAR(run.now().bytesPerSecond, before, before * 0.15);
}

TEST(TransferMeter, AStallLetsTheSpeedFallAndTheTimeLeftBecomesUnknown)
{
    RunFeed run(1000000);
    run.p.lineBytesPerSecond = 0; // speed of the line not known: counts what is written
    run.startItem(1, 1000000, 0);
    for (int i = 0; i < 40; ++i) {
        run.clock.advance(100);
        run.written(1000);
    }
    EXPECT_NEAR(run.now().bytesPerSecond, 10000, 1);
    EXPECT_NEAR(run.now().runSecondsLeft, 960000.0 / 10000, 0.1);
    run.clock.advance(2500);
    EXPECT_NEAR(run.now().bytesPerSecond, 5000, 1); // half the window without a byte
    run.clock.advance(2500);
    const TransferMeter::Estimate e = run.now();
    EXPECT_TRUE(e.rateKnown);
    EXPECT_EQ(e.bytesPerSecond, 0.0);
    EXPECT_TRUE(std::isinf(e.itemSecondsLeft));
    EXPECT_EQ(FormatDuration(e.runSecondsLeft), "--:--");

    // It moves again, at another pace: after one window only the new pace counts.
    for (int i = 0; i < 60; ++i) {
        run.clock.advance(100);
        run.written(2000);
    }
    EXPECT_NEAR(run.now().bytesPerSecond, 20000, 1);
}

TEST(TransferMeter, ANewRunStartsOverAndResetForgets)
{
    RunFeed run(4096);
    run.p.lineBytesPerSecond = 0;
    run.startItem(1, 4096, 0);
    for (int i = 0; i < 16; ++i) {
        run.clock.advance(100);
        run.written(256);
    }
    ASSERT_TRUE(run.now().rateKnown);
    EXPECT_EQ(run.now().runLeft, 0u);

    // The next run reports from 0 again.
    run.p = ByteProgress{};
    run.p.runTotal = 8192;
    run.startItem(7, 8192, 0);
    TransferMeter::Estimate e = run.now();
    EXPECT_TRUE(e.active);
    EXPECT_FALSE(e.rateKnown);
    EXPECT_EQ(e.runLeft, 8192u);
    EXPECT_EQ(FormatEstimate(e), "measuring\u2026");

    run.meter.reset();
    e = run.now();
    EXPECT_FALSE(e.active);
    EXPECT_EQ(FormatEstimate(e), "");
}

TEST(TransferMeter, Texts)
{
    EXPECT_EQ(FormatRate(0), "0 B/s");
    EXPECT_EQ(FormatRate(850), "850 B/s");
    EXPECT_EQ(FormatRate(11520), "11.5 kB/s");
    EXPECT_EQ(FormatRate(10169.4), "10.2 kB/s");
    EXPECT_EQ(FormatRate(250000), "250 kB/s");
    EXPECT_EQ(FormatRate(1200000), "1.20 MB/s");
    EXPECT_EQ(FormatDuration(0), "0:00");
    EXPECT_EQ(FormatDuration(6.2), "0:07"); // rounded up: never "0:00" while bytes are left
    EXPECT_EQ(FormatDuration(725), "12:05");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
    EXPECT_EQ(FormatDuration(std::numeric_limits<double>::infinity()), "--:--");
    EXPECT_EQ(FormatDuration(-1), "--:--");

    TransferMeter::Estimate e;
    e.active = e.rateKnown = true;
    e.bytesPerSecond = 11520;
    e.itemSecondsLeft = 7;
    e.runSecondsLeft = 151;
    EXPECT_EQ(FormatEstimate(e), "11.5 kB/s  0:07 | 2:31");
}
