// The frame log behind a tapped port, on a virtual clock: what a command's exchange
// looks like in it, long writes over several lines, failures, the ring's bound,
// pause, clear, and a reader taking batches while the worker adds.
#include "link/commands.h"
#include "link/frame_log.h"
#include "link/port_tap.h"
#include "support/fake_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tarsel;
using namespace tarsel::test;

namespace {

struct TappedLink : ::testing::Test {
    VirtualClock clock;
    FakeLine line{clock};
    std::shared_ptr<FrameLog> log = std::make_shared<FrameLog>(clock, 100);
    FakePort* cmdFake = new FakePort(line, "cmd");
    TappedPort cmd{std::unique_ptr<SerialPort>(cmdFake), log};
    TappedPort text{std::make_unique<FakePort>(line, "text"), log};
    Link link{cmd, text, clock};

    TappedLink()
    {
        link.PortName = "/dev/ttyFAKE0";
        link.BaudRate = 9600;
        link.trace = [this](const std::string& l) { log->addTrace(l); };
    }
    std::vector<std::string> lines() const
    {
        std::uint64_t last = 0, missed = 0;
        return log->linesSince(0, last, missed);
    }
};

std::string hexColumn(const std::string& hex) { return hex + std::string(95 - hex.size(), ' '); }

} // namespace

TEST_F(TappedLink, AGetSettingExchangeShowsItsBytesBothWays)
{
    const Bytes reply = bytesOf({'{', '"', 'a', '"', ':', '1', '}', 0x00});
    line.onWrite = [&](FakeLine& l, const Bytes& data) {
        if (data == bytesOf({0x02, 0x07, 0x16, 0x05}))
            l.answer(reply, 30);
    };
    Bytes got;
    ASSERT_EQ(GetConfiguration(link, got), Status::success());
    ASSERT_EQ(got, reply);

    const auto l = lines();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0], "       0.0 --- ttyFAKE0 opened /dev/ttyFAKE0 at 9600 bit/s");
    EXPECT_EQ(l[1], "       0.0 --> ttyFAKE0  " + hexColumn("02 07 16 05") + "  |....|");
    // The answer came 30 ms after the write and was read after the 100 ms pause.
    EXPECT_EQ(l[2], "     100.1 <-- ttyFAKE0  " + hexColumn("7B 22 61 22 3A 31 7D 00") + "  |{\"a\":1}.|");
    EXPECT_EQ(l[3], "     100.1 --- ttyFAKE0 closed");

    // Trace lines come in between, where the link writes them.
    line.onWrite = [&](FakeLine& l, const Bytes& data) {
        if (data == bytesOf({0x02, 0x07, 0x16, 0x01}))
            l.answer(Bytes("KT310-IID") + '\0', 20);
    };
    ASSERT_TRUE(cmd.open(link.PortName, 9600).ok());
    ASSERT_EQ(ProbeModel(link), Status::success());
    const auto probe = lines();
    ASSERT_EQ(probe.size(), 9u);
    EXPECT_EQ(probe[5].substr(10), " --> ttyFAKE0  " + hexColumn("02 07 16 01") + "  |....|");
    EXPECT_EQ(probe[6].substr(10), " ----> 02071601");
    EXPECT_EQ(probe[7].substr(10), " <-- ttyFAKE0  " + hexColumn("4B 54 33 31 30 2D 49 49 44 00") + "  |KT310-IID.|");
    EXPECT_EQ(probe[8].substr(10), " <---- 4B543331302D49494400");
}

TEST_F(TappedLink, LongWritesContinueOnAlignedLinesAndFailuresSayWhy)
{
    std::string message;
    ASSERT_TRUE(cmd.open("/dev/serial/by-id/usb-Maker_Adapter_0001-if00-port0", 115200).ok());
    Bytes data;
    for (int i = 0; i < 70; ++i)
        data += static_cast<char>('A' + i % 26);
    clock.advance(12.34);
    ASSERT_TRUE(cmd.write(data, message));
    line.failWrites = true;
    EXPECT_FALSE(cmd.write(bytesOf({0x07, 0x07}), message));
    ASSERT_TRUE(cmd.setBaud(9600).ok);
    line.answer(Bytes("junk"));
    cmd.purgeInput();
    // Nothing received, nothing shown.
    Bytes none;
    EXPECT_FALSE(cmd.read(none, message));

    const auto l = lines();
    ASSERT_EQ(l.size(), 7u);
    EXPECT_EQ(l[0], "       0.0 --- usb-Maker_Adapter_0001-if00-port0 opened "
                    "/dev/serial/by-id/usb-Maker_Adapter_0001-if00-port0 at 115200 bit/s");
    const std::string head = "      12.3 --> usb-Maker_Adapter_0001-if00-port0  ";
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(l[i].substr(0, head.size()), head) << i;
        EXPECT_EQ(l[i].find('|'), head.size() + 95 + 2) << i; // the text column lines up
    }
    EXPECT_EQ(l[1].substr(head.size() + 97), "|ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEF|");
    EXPECT_EQ(l[3].substr(head.size()), hexColumn("4D 4E 4F 50 51 52") +
                                            "  |" + data.substr(64) + "|");
    EXPECT_EQ(l[4].substr(10), " --- usb-Maker_Adapter_0001-if00-port0 write of 2 bytes failed: "
                               "Write failed: Input/output error");
    EXPECT_EQ(l[5].substr(10), " --- usb-Maker_Adapter_0001-if00-port0 speed 9600 bit/s");
    EXPECT_EQ(l[6].substr(10), " --- usb-Maker_Adapter_0001-if00-port0 4 bytes received and discarded unread");

    // A second open of an open slot changes nothing on the line; a failed open says why.
    EXPECT_EQ(cmd.open("/dev/ttyFAKE0", 9600).code, kOpenAlreadyOpen);
    EXPECT_FALSE(text.open("/dev/pts/7", 9600).ok()); // the other slot holds the line
    const auto after = lines();
    ASSERT_EQ(after.size(), 8u);
    EXPECT_EQ(after[7].substr(10), " --- pts/7 open /dev/pts/7 failed");
}

TEST(FrameLog, AnAnswerThatTricklesInJoinsIntoFullLines)
{
    // At 9600 bit/s an answer arrives about a byte a millisecond, one read each.
    VirtualClock clock;
    FrameLog log(clock, 100);
    const Bytes answer = "{\"Baud_Rate\":0,\"Char_No\":0,\"Expand_Char_No\":0}";
    for (const char c : answer) {
        log.portBytes(PortDirection::Read, "/dev/ttyUSB0", Bytes(1, c));
        clock.advance(1.04);
    }
    // The first 32 bytes made a line at once; the rest shows once 20 ms pass quietly.
    std::uint64_t last = 0, missed = 0;
    auto l = log.linesSince(0, last, missed);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0], "       0.0 <-- ttyUSB0  7B 22 42 61 75 64 5F 52 61 74 65 22 3A 30 2C 22 43 68 61 72 5F 4E 6F 22 "
                    "3A 30 2C 22 45 78 70 61  |{\"Baud_Rate\":0,\"Char_No\":0,\"Expa|");
    clock.advance(18); // 19 ms after the last byte
    EXPECT_TRUE(log.linesSince(last, last, missed).empty());
    clock.advance(2);
    l = log.linesSince(last, last, missed);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].rfind("      33.3 <-- ttyUSB0  6E 64 5F 43 68 61 72 5F", 0), 0u) << l[0];
    EXPECT_EQ(l[0].substr(l[0].find('|')), "|nd_Char_No\":0}|");

    // A write in between, a trace line or a pause of more than 20 ms ends a line.
    log.portBytes(PortDirection::Read, "/dev/ttyUSB0", "AB");
    log.portBytes(PortDirection::Written, "/dev/ttyUSB0", "C");
    log.portBytes(PortDirection::Written, "/dev/ttyUSB0", "D");
    log.addTrace("----> 4344");
    log.portBytes(PortDirection::Written, "/dev/ttyUSB0", "E");
    clock.advance(21);
    log.portBytes(PortDirection::Written, "/dev/ttyUSB0", "F");
    const std::string text = log.text(); // shows the line still being joined
    l = log.linesSince(last, last, missed);
    ASSERT_EQ(l.size(), 5u);
    EXPECT_NE(l[0].find("<-- ttyUSB0  41 42   "), std::string::npos);
    EXPECT_NE(l[1].find("--> ttyUSB0  43 44   "), std::string::npos);
    EXPECT_EQ(l[2].substr(10), " ----> 4344");
    EXPECT_NE(l[3].find("--> ttyUSB0  45   "), std::string::npos);
    EXPECT_NE(l[4].find("--> ttyUSB0  46   "), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "|F|\n");
}

TEST(FrameLog, TheRingKeepsTheNewestLinesAndSaysHowManyWereDropped)
{
    VirtualClock clock;
    FrameLog log(clock, 5);
    for (int i = 0; i < 8; ++i)
        log.addTrace("----> " + std::to_string(i));
    const FrameLog::Status s = log.status();
    EXPECT_EQ(s.held, 5u);
    EXPECT_EQ(s.dropped, 3u);
    EXPECT_EQ(s.lastSequence, 8u);

    std::uint64_t last = 0, missed = 0;
    auto l = log.linesSince(0, last, missed);
    EXPECT_EQ(last, 8u);
    EXPECT_EQ(missed, 3u);
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l.front(), "       0.0 ----> 3");
    EXPECT_EQ(l.back(), "       0.0 ----> 7");
    EXPECT_EQ(log.text().substr(0, 19), "       0.0 ----> 3\n");
    // In batches of at most two.
    l = log.linesSince(0, last, missed, 2);
    EXPECT_EQ(missed, 3u);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1], "       0.0 ----> 4");
    EXPECT_EQ(last, 5u);
    l = log.linesSince(last, last, missed, 2);
    EXPECT_EQ(missed, 0u);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0], "       0.0 ----> 5");
    l = log.linesSince(last, last, missed, 2);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(last, 8u);

    // A reader that keeps up sees every new line once.
    log.addTrace("<---- 8");
    l = log.linesSince(last, last, missed);
    EXPECT_EQ(missed, 0u);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0], "       0.0 <---- 8");
    EXPECT_TRUE(log.linesSince(last, last, missed).empty());
    log.addTrace(""); // an empty trace line writes nothing
    EXPECT_EQ(log.status().lastSequence, 9u);
}

TEST(FrameLog, PauseRecordsNothingAndResumingSaysHowMuchWasSkipped)
{
    VirtualClock clock;
    FrameLog log(clock, 100);
    log.addTrace("----> 01");
    log.setPaused(true);
    EXPECT_TRUE(log.status().paused);
    log.portBytes(PortDirection::Written, "/dev/ttyS0", Bytes(70, 'x')); // 3 lines
    log.portEvent("/dev/ttyS0", "closed");
    EXPECT_EQ(log.status().held, 1u);
    EXPECT_EQ(log.status().skipped, 4u);
    clock.advance(250);
    log.setPaused(false);
    log.setPaused(false); // no second line
    std::uint64_t last = 0, missed = 0;
    const auto l = log.linesSince(0, last, missed);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1], "     250.0 --- paused: 4 lines not recorded");

    log.setPaused(true);
    log.addTrace("----> 02");
    log.setPaused(false);
    EXPECT_EQ(log.text().substr(log.text().size() - 43), "     250.0 --- paused: 1 line not recorded\n");
    EXPECT_EQ(log.status().skipped, 5u);
}

TEST(FrameLog, ClearEmptiesItAndStartsTheTimeAgain)
{
    VirtualClock clock;
    FrameLog log(clock, 3);
    for (int i = 0; i < 5; ++i)
        log.addTrace("----> " + std::to_string(i));
    log.setPaused(true);
    log.addTrace("----> skipped");
    log.setPaused(false);
    const FrameLog::Status before = log.status();
    clock.advance(5000);
    log.clear();
    const FrameLog::Status s = log.status();
    EXPECT_EQ(s.held, 0u);
    EXPECT_EQ(s.dropped, 0u);
    EXPECT_EQ(s.skipped, 0u);
    EXPECT_EQ(s.generation, before.generation + 1);
    EXPECT_EQ(log.text(), "");
    std::uint64_t last = 0, missed = 0;
    EXPECT_TRUE(log.linesSince(before.lastSequence, last, missed).empty());
    EXPECT_EQ(missed, 0u);

    clock.advance(1.25);
    log.addTrace("<---- 41");
    const auto l = log.linesSince(before.lastSequence, last, missed);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0], "       1.2 <---- 41");
    EXPECT_EQ(missed, 0u);
}

TEST(FrameLog, AReaderTakingBatchesWhileAWorkerAddsGetsEveryLineOnceInOrder)
{
    SteadyClock clock;
    FrameLog log(clock, 1000);
    constexpr int kLines = 20000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i)
            log.addTrace("----> " + std::to_string(i));
        done = true;
    });
    std::uint64_t last = 0, missed = 0, missedTotal = 0;
    long expected = 0;
    bool inOrder = true;
    for (;;) {
        const bool finished = done.load();
        const auto l = log.linesSince(last, last, missed);
        missedTotal += missed;
        expected += static_cast<long>(missed);
        for (const auto& line : l)
            inOrder = inOrder && line.substr(17) == std::to_string(expected++);
        if (finished && l.empty())
            break;
    }
    worker.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(expected, kLines);
    EXPECT_GE(log.status().dropped, missedTotal);
}
