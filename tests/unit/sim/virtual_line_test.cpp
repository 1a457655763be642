// The virtual line: the display core at the far end of a serial port in virtual time.
#include "link/cancel.h"
#include "link/commands.h"
#include "link/termios_port.h"
#include "sim/sim_protocol.h"
#include "support/virtual_link.h"

#include <gtest/gtest.h>

using namespace tarsel;
using namespace tarsel::test;

namespace {

const Bytes kModelQuery = bytesOf({0x02, 0x07, 0x16, 0x01});
constexpr double kExact = 1e-6;

double byteMs(int baud) { return 10000.0 / baud; }

Bytes be32(std::uint32_t v)
{
    return bytesOf({std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
}

// Reads until `count` bytes have come or `limitMs` passed, waiting on the port.
Bytes readCount(SerialPort& port, std::size_t count, double limitMs, Clock& clock)
{
    const double end = clock.nowMs() + limitMs;
    Bytes all;
    while (all.size() < count && clock.nowMs() < end) {
        if (!port.waitReadable(end - clock.nowMs()))
            break;
        Bytes chunk;
        std::string message;
        if (!port.read(chunk, message))
            break;
        all += chunk;
    }
    return all;
}

class VirtualLineAt9600 : public VirtualLinkTest {};

class VirtualLineAt115200 : public VirtualLinkTest {
protected:
    VirtualLineAt115200() : VirtualLinkTest(displayConfig("KT310--IIA", 115200)) {}
};

} // namespace

TEST_F(VirtualLineAt9600, AnswerArrivesAtTheLineTimeOfBothDirections)
{
    ASSERT_TRUE(cmd.open(line.portName(), 9600).ok());
    std::string message;
    const double t0 = line.nowMs();
    ASSERT_TRUE(cmd.write(kModelQuery, message));
    EXPECT_EQ(line.nowMs(), t0); // a frame that fits into the buffer takes no time to write

    // The first byte of the answer is in once the 4 bytes have gone and it has come back.
    ASSERT_TRUE(cmd.waitReadable(1000));
    EXPECT_NEAR(line.nowMs() - t0, 5 * byteMs(9600), kExact);
    EXPECT_EQ(cmd.bytesWaiting(), 1);
    const Bytes answer = readCount(cmd, 9, 1000, line.clock());
    EXPECT_EQ(answer, Bytes("KT710-II") + '\0');
    EXPECT_NEAR(line.nowMs() - t0, 13 * byteMs(9600), kExact);
    const auto queries = line.recordsNamed("ModelQuery");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_NEAR(queries[0].timeMs - t0, 4 * byteMs(9600), kExact);

    // Nothing more comes: a read takes nothing and no time.
    Bytes none;
    EXPECT_FALSE(cmd.read(none, message));
    EXPECT_EQ(message, "Failed to read data");
    EXPECT_NEAR(line.nowMs() - t0, 13 * byteMs(9600), kExact);
}

TEST_F(VirtualLineAt9600, ASilentDisplayTimesTheModelQueryOutAtItsLimit)
{
    sim::Faults f;
    f.silent = true;
    line.withDisplay([&](sim::DisplayCore& d) { d.setFaults(f); });
    int model = 0;
    EXPECT_EQ(DetectModel(link, model), Status::failure(Code::TimedOut, "Not found Device : Time out !"));
    EXPECT_EQ(model, -1);
    const auto w = line.writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].bytes, kModelQuery);
    // Closed at the first look past 100 ms + 86.4 ms, not a moment later.
    const auto events = line.portEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, VirtualLine::PortEvent::Kind::Close);
    EXPECT_GT(events[1].atMs - w[0].atMs, 186.4);
    EXPECT_LE(events[1].atMs - w[0].atMs, 186.4 + VirtualLine::kMinWaitMs + kExact);
}

TEST_F(VirtualLineAt9600, BytesAtAnotherSpeedAreNoiseBothWays)
{
    std::string message;
    ASSERT_TRUE(cmd.open(line.portName(), 19200).ok());
    ASSERT_TRUE(cmd.write(kModelQuery, message));
    EXPECT_FALSE(cmd.waitReadable(500));
    EXPECT_TRUE(line.recordsNamed("ModelQuery").empty());
    const auto noise = line.recordsNamed("Noise");
    ASSERT_EQ(noise.size(), 1u);
    EXPECT_EQ(noise[0].bytes, kModelQuery);

    // At the display's speed it answers; a PC that has moved to another speed meanwhile
    // hears nothing of it.
    ASSERT_TRUE(cmd.setBaud(9600).ok);
    ASSERT_TRUE(cmd.write(kModelQuery, message));
    ASSERT_TRUE(cmd.setBaud(19200).ok);
    EXPECT_FALSE(cmd.waitReadable(500));
    EXPECT_EQ(line.recordsNamed("ModelQuery").size(), 1u);
    EXPECT_EQ(line.lostBytes(), 9u);
    EXPECT_EQ(line.pcSpeed(), 19200);
    EXPECT_EQ(line.displaySpeed(), 9600);
}

TEST_F(VirtualLineAt9600, SlotsShareOnePortThatCanBeUnplugged)
{
    std::string message;
    EXPECT_EQ(cmd.open("/dev/ttyUSB7", 9600).error, "No such file or directory");
    ASSERT_TRUE(cmd.open(line.portName(), 9600).ok());
    EXPECT_EQ(cmd.open(line.portName(), 9600).code, kOpenAlreadyOpen);
    const OpenResult busy = text.open(line.portName(), 9600);
    EXPECT_EQ(busy.code, kOpenFailed);
    EXPECT_EQ(busy.error, "Device or resource busy");
    ASSERT_TRUE(cmd.write(kModelQuery, message)); // the open slot still works
    EXPECT_EQ(readCount(cmd, 9, 100, line.clock()), Bytes("KT710-II") + '\0');
    EXPECT_EQ(cmd.setBaud(12345).error, "12345 bit/s is not a speed this port can be set to");
    cmd.close();
    line.clock().sleepMs(10);
    ASSERT_TRUE(text.open(line.portName(), 9600).ok());
    const auto events = line.portEvents();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[3].kind, VirtualLine::PortEvent::Kind::Close);
    EXPECT_EQ(events[4].slot, "text");
    EXPECT_NEAR(events[4].atMs - events[3].atMs, 10, kExact);

    // Unplugged: reads name the hang-up, writes fail, waits end at once, and the port
    // is gone for the next open.
    ASSERT_TRUE(text.write(kModelQuery, message));
    line.hangUp();
    const double t = line.nowMs();
    EXPECT_TRUE(text.hungUp());
    EXPECT_TRUE(text.waitReadable(1000));
    EXPECT_EQ(line.nowMs(), t);
    Bytes got;
    EXPECT_FALSE(text.read(got, message));
    EXPECT_EQ(message, TermiosPort::kHangUpMessage);
    EXPECT_FALSE(text.write(kModelQuery, message));
    EXPECT_FALSE(text.drainOutput(100, message));
    text.close();
    EXPECT_EQ(cmd.open(line.portName(), 9600).error, "No such file or directory");
    EXPECT_EQ(line.recordsNamed("ModelQuery").size(), 1u); // the last query never arrived
}

TEST_F(VirtualLineAt9600, ScheduledCancelsEndSleepsAndWaitsAtTheirMoment)
{
    CancelToken sleepToken;
    const double t0 = line.nowMs();
    line.at(t0 + 250, [&] { sleepToken.cancel(); });
    EXPECT_FALSE(line.clock().sleepMs(1000, sleepToken));
    EXPECT_NEAR(line.nowMs() - t0, 250, kExact);
    EXPECT_FALSE(line.clock().sleepMs(1000, sleepToken)); // stays cancelled
    EXPECT_NEAR(line.nowMs() - t0, 250, kExact);

    // A cancel when the display records a frame stops a wait on the port right there.
    CancelToken waitToken;
    line.onRecord([&](const sim::Record& r) {
        if (r.name == "GetConfiguration")
            waitToken.cancel();
    });
    ASSERT_TRUE(cmd.open(line.portName(), 9600).ok());
    cmd.setCancelToken(&waitToken);
    std::string message;
    const double t1 = line.nowMs();
    ASSERT_TRUE(cmd.write(bytesOf({0x02, 0x07, 0x16, 0x05}), message));
    EXPECT_FALSE(cmd.waitReadable(2000));
    EXPECT_NEAR(line.nowMs() - t1, 4 * byteMs(9600), kExact);
    EXPECT_FALSE(cmd.drainOutput(1000, message));
    EXPECT_EQ(message, kCancelledText);
    cmd.setCancelToken(nullptr);
}

TEST(VirtualLineNamedFile, WritesBlockWhileTheBufferIsFull)
{
    // A named-file model takes 10 KB in one write: the write returns once all but
    // 4096 bytes have left, the drain once the last has.
    VirtualLink rig(displayConfig("KT310-IID", 115200));
    SerialPort& port = *rig.cmdPort;
    VirtualLine& l = rig.line;
    ASSERT_TRUE(port.open(l.portName(), 115200).ok());
    Bytes file(10240, '\0');
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<char>(i * 31 + i / 256);
    const std::string crc = std::to_string(sim::crc16(file));
    std::string message;
    ASSERT_TRUE(port.write(bytesOf({0x02, 0x07, 0x05, 0x01}) + "a.bin,10240," + crc + "\n", message));
    EXPECT_EQ(readCount(port, 4, 100, l.clock()), "OK\r\n");

    const double t0 = l.nowMs();
    ASSERT_TRUE(port.write(file, message));
    EXPECT_NEAR(l.nowMs() - t0, (10240 - 4096) * byteMs(115200), kExact);
    ASSERT_TRUE(port.drainOutput(5000, message));
    EXPECT_NEAR(l.nowMs() - t0, 10240 * byteMs(115200), kExact);
    EXPECT_EQ(readCount(port, crc.size() + 1, 100, l.clock()), crc + "\n");
    EXPECT_EQ(l.withDisplay([](sim::DisplayCore& d) { return d.files().at("a.bin"); }), file);

    // Cancelled while blocked: the write ends at that moment and only what was in the
    // buffer goes on to the display.
    CancelToken token;
    port.setCancelToken(&token);
    ASSERT_TRUE(port.write(bytesOf({0x02, 0x07, 0x05, 0x01}) + "b.bin,10240," + crc + "\n", message));
    EXPECT_EQ(readCount(port, 4, 100, l.clock()), "OK\r\n");
    const double t1 = l.nowMs();
    l.at(t1 + 50.01, [&] { token.cancel(); });
    EXPECT_FALSE(port.write(file, message));
    EXPECT_EQ(message, kCancelledText);
    EXPECT_NEAR(l.nowMs() - t1, 50.01, kExact);
    const std::size_t kept = 4096 + 576; // 576 bytes had left by then
    EXPECT_EQ(l.writes().back().bytes, file.substr(0, kept));
    l.runFor(3000);
    auto transfers = l.withDisplay([](sim::DisplayCore& d) { return d.transfers(); });
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[1].receivedLength, kept);
    EXPECT_FALSE(transfers[1].complete);

    // Purged when the write returns: what was still in the buffer never goes out.
    port.setCancelToken(nullptr);
    ASSERT_TRUE(port.write(bytesOf({0x02, 0x07, 0x05, 0x01}) + "c.bin,10240," + crc + "\n", message));
    EXPECT_EQ(readCount(port, 4, 100, l.clock()), "OK\r\n");
    ASSERT_TRUE(port.write(file, message));
    port.purgeOutput();
    const double t2 = l.nowMs();
    ASSERT_TRUE(port.drainOutput(5000, message));
    EXPECT_EQ(l.nowMs(), t2);
    l.runFor(3000);
    transfers = l.withDisplay([](sim::DisplayCore& d) { return d.transfers(); });
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_EQ(transfers[2].receivedLength, 10240u - 4096u);
}

TEST_F(VirtualLineAt9600, TheQuietGapCountsFromTheLastByteOnTheWire)
{
    // 13 bytes of main text take 13.5 ms on the wire at 9600: a frame written 25 ms
    // after it is only 12.5 ms behind its end and becomes part of it; one written
    // 40 ms after it is a frame of its own.
    ASSERT_TRUE(text.open(line.portName(), 9600).ok());
    std::string message;
    const Bytes mainText = bytesOf({0x02, 0x07, 0x18}) + "Total 9.99";
    const Bytes playList = bytesOf({0x02, 0x07, 0x28, 0x00, 0x05});
    ASSERT_TRUE(text.write(mainText, message));
    line.clock().sleepMs(25);
    ASSERT_TRUE(text.write(playList, message));
    line.clock().sleepMs(100);
    auto mainStr = [&] { return line.withDisplay([](sim::DisplayCore& d) { return d.settings().text("main_str"); }); };
    EXPECT_EQ(mainStr(), mainText.substr(3) + playList);

    ASSERT_TRUE(text.write(mainText, message));
    line.clock().sleepMs(40);
    ASSERT_TRUE(text.write(playList, message));
    line.clock().sleepMs(100);
    EXPECT_EQ(mainStr(), mainText.substr(3));
    EXPECT_EQ(line.withDisplay([](sim::DisplayCore& d) { return d.settings().number("pic_reg"); }), 5);
}

TEST_F(VirtualLineAt115200, WaitSeesTheRequestsTheDisplayRepeatsOnItsDeadline)
{
    ASSERT_TRUE(cmd.open(line.portName(), 115200).ok());
    std::string message;
    const Bytes setup = bytesOf({0x02, 0x10}) + be32(0x1000) + be32(600);
    ASSERT_TRUE(cmd.write(setup, message));
    EXPECT_EQ(readCount(cmd, 10, 100, line.clock()), setup);
    ASSERT_TRUE(cmd.write(bytesOf({0x02, 0x07, 0x27, 0x27, 0x27}), message));
    const Bytes request = "ACT=0,L=100," + be32(0);
    EXPECT_EQ(readCount(cmd, 16, 100, line.clock()), request);
    double last = line.nowMs();

    // A probe in between is not answered; the request comes again a second after the last.
    ASSERT_TRUE(cmd.write(kModelQuery, message));
    for (int repeat = 1; repeat <= 3; ++repeat) {
        EXPECT_EQ(readCount(cmd, 16, 1500, line.clock()), request) << repeat;
        EXPECT_NEAR(line.nowMs() - last, 1000, kExact) << repeat;
        last = line.nowMs();
    }
    EXPECT_EQ(line.recordsNamed("IgnoredDuringTransfer").size(), 1u);

    // A second after the third repeat it gives up without a word, still at 115200.
    EXPECT_FALSE(cmd.waitReadable(3000));
    const auto abandoned = line.recordsNamed("TransferAbandoned");
    ASSERT_EQ(abandoned.size(), 1u);
    EXPECT_NEAR(abandoned[0].timeMs - (last - 16 * byteMs(115200)), 1000, kExact);
    EXPECT_EQ(line.displaySpeed(), 115200);
    ASSERT_TRUE(cmd.write(kModelQuery, message));
    EXPECT_EQ(readCount(cmd, 11, 100, line.clock()), Bytes("KT310--IIA") + '\0');
}
