// The transfer exchanges over a scripted line in virtual time.
#include "scripted_display.h"
#include "transfer/protocol.h"

#include <gtest/gtest.h>

using namespace tarsel;
using namespace tarsel::test;

namespace {

struct ProtocolTest : ::testing::Test {
    VirtualClock clock;
    FakeLine line{clock};
    FakePort cmd{line, "cmd"};
    FakePort text{line, "text"};
    Link link{cmd, text, clock};
    std::vector<std::string> traces;

    void SetUp() override
    {
        link.PortName = "/dev/ttyFAKE";
        link.trace = [this](const std::string& t) { traces.push_back(t); };
        ASSERT_EQ(cmd.open(link.PortName, 115200).code, kOpenOk);
    }

    Bytes fileOf(std::size_t size)
    {
        Bytes f(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            f[i] = static_cast<char>((i * 131) >> 3);
        return f;
    }
};

} // namespace

TEST_F(ProtocolTest, EveryOperationNeedsTheOpenPort)
{
    cmd.close();
    Status st;
    EXPECT_FALSE((st = DownloadServiceSetup(link, "00000000", "00000010")));
    EXPECT_EQ(st.text, "Serial Port Not Opened!");
    EXPECT_FALSE((st = WaitUpgradeReady(link)));
    EXPECT_EQ(st.text, "Serial Port Not Opened!");
    EXPECT_FALSE((st = MakeFile(link, "a.bin", "1", "2")));
    EXPECT_EQ(st.text, "Serial Port Not Opened!");
    EXPECT_FALSE((st = WaitFileCrc(link, "1")));
    EXPECT_EQ(st.text, "Serial Port Not Opened!");
    EXPECT_EQ(SendBlock(link, Bytes(4, '\0'), "x").code, Code::PortError);
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(ProtocolTest, ServiceSetupChecksTheWholeEcho)
{
    ScriptedDisplay display(line, "KT310--IIA");
    Status st;
    ASSERT_TRUE((st = DownloadServiceSetup(link, "001A9000", "0000012C"))) << st.text;
    const Bytes frame = bytesOf({0x02, 0x10, 0x00, 0x1A, 0x90, 0x00, 0x00, 0x00, 0x01, 0x2C});
    EXPECT_EQ(line.written("cmd"), frame);
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_EQ(traces[0], "----> 0210001A90000000012C");
    EXPECT_EQ(traces[1], "<---- 0210001A90000000012C");

    // Eleven bytes fail even though the first ten are the frame.
    display.extraEchoByte = true;
    EXPECT_FALSE((st = DownloadServiceSetup(link, "001A9000", "0000012C")));
    EXPECT_EQ(st.text, "Download service setup failed !");

    // A silent display: the first poll after the pause finds nothing.
    line.onWrite = nullptr;
    const double before = clock.nowMs();
    EXPECT_FALSE((st = DownloadServiceSetup(link, "001A9000", "0000012C")));
    EXPECT_EQ(st.text, "Failed to read data");
    EXPECT_NEAR(clock.nowMs() - before, 200, 1);
}

TEST_F(ProtocolTest, ServiceSetupJoinsAnEchoInPieces)
{
    line.onWrite = [](FakeLine& l, const Bytes& data) {
        l.answer(data.substr(0, 4), 150);
        l.answer(data.substr(4), 250); // arrives between the first and second poll
    };
    Status st;
    EXPECT_TRUE((st = DownloadServiceSetup(link, "00000000", "00000001"))) << st.text;
}

TEST_F(ProtocolTest, UpgradeSyncDropsNoiseOneByteAtATime)
{
    ScriptedDisplay display(line, "KT310--IIC");
    display.syncGarbage = 3; // "?" "?" "?" then "A", one per sync write
    Status st;
    ASSERT_TRUE((st = WaitUpgradeReady(link))) << st.text;
    EXPECT_TRUE(traces.empty()); // the sync is not traced

    // Noise already waiting: every dropped byte costs one more sync write.
    line.onWrite = nullptr;
    line.writes.clear();
    line.answer("xyzA");
    ASSERT_TRUE((st = WaitUpgradeReady(link)));
    EXPECT_EQ(line.writes.size(), 4u);
    for (const auto& w : line.writes)
        EXPECT_EQ(w.data, UpgradeSyncFrame());
}

TEST_F(ProtocolTest, UpgradeSyncTimesOutAndNoiseCannotHoldItForever)
{
    Status st;
    const double before = clock.nowMs();
    EXPECT_FALSE((st = WaitUpgradeReady(link)));
    EXPECT_EQ(st.text, "Upgrade Failed: Time out 1!");
    EXPECT_GT(clock.nowMs() - before, 8640);
    EXPECT_LT(clock.nowMs() - before, 8640 + 110);

    // A loader that answers every sync with noise still ends at the limit.
    line.onWrite = [](FakeLine& l, const Bytes&) { l.answer("??"); };
    EXPECT_FALSE((st = WaitUpgradeReady(link)));
    EXPECT_EQ(st.text, "Upgrade Failed: Time out 1!");
}

TEST_F(ProtocolTest, MakeFileAnswers)
{
    line.onWrite = [](FakeLine& l, const Bytes&) { l.answer("OK\r\nleftover", 10); };
    Status st;
    EXPECT_TRUE((st = MakeFile(link, "P1.jpg", "9600", "4660"))) << st.text;
    EXPECT_EQ(line.written("cmd"), bytesOf({2, 7, 5, 1}) + "P1.jpg,9600,4660\n");
    EXPECT_EQ(cmd.bytesWaiting(), 0); // the rest of the answer is purged
    ASSERT_EQ(traces.size(), 2u);

    line.onWrite = [](FakeLine& l, const Bytes&) { l.answer("NO!", 10); };
    EXPECT_FALSE((st = MakeFile(link, "P1.jpg", "9600", "4660")));
    EXPECT_EQ(st.text, "Make Flie failed !");

    line.onWrite = [](FakeLine& l, const Bytes&) { l.answer("OK", 10); }; // never 3 bytes
    const double before = clock.nowMs();
    EXPECT_FALSE((st = MakeFile(link, "P1.jpg", "9600", "4660")));
    EXPECT_EQ(st.text, "Make File failed : Time out !");
    EXPECT_GT(clock.nowMs() - before, 50 + 864);
    EXPECT_LT(clock.nowMs() - before, 50 + 864 + 60);
}

TEST_F(ProtocolTest, FileCrcLine)
{
    Status st;
    line.answer("4660\n");
    EXPECT_TRUE((st = WaitFileCrc(link, "4660"))) << st.text;
    EXPECT_EQ(traces.back(), "<---- 343636300A");

    line.answer("4661\n");
    EXPECT_FALSE((st = WaitFileCrc(link, "4660")));
    EXPECT_EQ(st.text, "Download failed : Crc");

    EXPECT_FALSE((st = WaitFileCrc(link, "4660"))); // nothing at the first poll
    EXPECT_EQ(st.text, "Failed to read data");

    // A line that trickles in without its end times out.
    for (int i = 0; i < 10; ++i)
        line.answer("1", 50.0 + 100.0 * i);
    line.answer("1");
    EXPECT_FALSE((st = WaitFileCrc(link, "1111")));
    EXPECT_EQ(st.text, "Download failed : Time out !");
}

TEST_F(ProtocolTest, FileCrcLineAfterTheRestOfTheMakeFileAnswer)
{
    // The line end of "OK" CR LF came after the poll that took "OK": it is not the CRC line.
    line.answer("\r\n");
    line.answer("4660\n");
    EXPECT_EQ(WaitFileCrc(link, "4660"), Status::success());
    EXPECT_EQ(traces.back(), "<---- 343636300A");
    line.answer("\n");
    line.answer("4661\n");
    EXPECT_EQ(WaitFileCrc(link, "4660"), Status::failure(Code::Refused, "Download failed : Crc"));
}

TEST_F(ProtocolTest, StreamWritesPiecesOf256AndAnEmptyLastPiece)
{
    const Bytes file = fileOf(512);
    std::vector<int> progress;
    StreamOptions options;
    options.onPieceSent = [&](int k) { progress.push_back(k); };
    Status st;
    EXPECT_EQ(StreamFile(link, file, options), Status::success());
    EXPECT_EQ(progress, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(line.writes.size(), 2u); // the empty third piece writes nothing
    EXPECT_EQ(line.written("cmd"), file);
    EXPECT_TRUE(traces.empty()); // the stream is not traced

    progress.clear();
    line.writes.clear();
    EXPECT_EQ(StreamFile(link, fileOf(300), options), Status::success());
    EXPECT_EQ(progress, (std::vector<int>{1, 2}));
    EXPECT_EQ(line.writes[1].data.size(), 44u);

    line.hangUp = true;
    EXPECT_EQ(StreamFile(link, file, options).code, Code::HungUp);
}

TEST_F(ProtocolTest, BlockPhaseAnswersEveryRequestAndReportsTheEndCrc)
{
    ScriptedDisplay display(line, "KT310--IIA");
    display.garbageBeforeRequests = "noise";
    display.splitRequests = true;
    Status st;
    const Bytes file = fileOf(1000);
    ASSERT_TRUE((st = DownloadServiceSetup(link, "00010000", "000003E8")));
    ASSERT_TRUE((st = SendStartDownload(link)));
    FrameAssembler assembler;
    std::vector<std::uint32_t> progress;
    std::vector<double> turnaround;
    BlockPhaseOptions options;
    options.onBlockSent = [&](std::uint32_t n) { progress.push_back(n); };
    options.turnaroundMs = &turnaround;
    const auto result = RunBlockPhase(link, assembler, file, Crc16(file), options);
    EXPECT_TRUE(result.completed());
    EXPECT_TRUE(result.crcMatches);
    EXPECT_EQ(result.blocksSent, 4u);
    EXPECT_EQ(progress, (std::vector<std::uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(display.byAddress[0x10000], file);
    EXPECT_EQ(display.badBlockFrames, 0);
    ASSERT_EQ(turnaround.size(), 4u);
    for (double t : turnaround)
        EXPECT_LT(t, 0.01); // no pause between a request and its block
    // Every block frame is traced; the start frame and the requests are not.
    EXPECT_EQ(traces.size(), 2u + 4u);
    EXPECT_EQ(traces[2].substr(0, 30), "----> 4143543D302C4C3D3130302C");

    display.wrongEndCrc = true;
    ASSERT_TRUE((st = DownloadServiceSetup(link, "00010000", "000003E8")));
    ASSERT_TRUE((st = SendStartDownload(link)));
    EXPECT_FALSE(RunBlockPhase(link, assembler, file, Crc16(file), options).crcMatches);
}

TEST_F(ProtocolTest, BlockPhaseTimeOutIsRestartedByEveryRequest)
{
    ScriptedDisplay display(line, "KT310--IIA");
    display.silentAfterBlocks = 2;
    Status st;
    const Bytes file = fileOf(2000);
    display.answerDelayMs = 0.5;
    ASSERT_TRUE((st = DownloadServiceSetup(link, "00010000", "000007D0")));
    display.answerDelayMs = 3000;
    ASSERT_TRUE((st = SendStartDownload(link)));
    double lastWrite = 0;
    BlockPhaseOptions options;
    options.timeoutMs = 10000;
    options.onBlockSent = [&](std::uint32_t) { lastWrite = clock.nowMs(); };
    FrameAssembler assembler;
    const auto result = RunBlockPhase(link, assembler, file, Crc16(file), options);
    EXPECT_EQ(result.status.code, Code::TimedOut);
    EXPECT_EQ(result.blocksSent, 2u);
    EXPECT_NEAR(clock.nowMs() - lastWrite, 10000, 1);
}

TEST_F(ProtocolTest, BlockPhaseEndsAtOnceOnHangUpAndOnCancel)
{
    ScriptedDisplay display(line, "KT310--IIA");
    display.hangUpAfterBlocks = 1;
    Status st;
    const Bytes file = fileOf(2000);
    ASSERT_TRUE((st = DownloadServiceSetup(link, "00010000", "000007D0")));
    ASSERT_TRUE((st = SendStartDownload(link)));
    FrameAssembler assembler;
    BlockPhaseOptions options;
    const double before = clock.nowMs();
    auto result = RunBlockPhase(link, assembler, file, Crc16(file), options);
    EXPECT_EQ(result.status.code, Code::HungUp);
    EXPECT_LT(clock.nowMs() - before, 50);

    line.hangUp = false;
    line.onWrite = nullptr;
    CancelToken token;
    const CancelScope scope(link, &token);
    token.cancel();
    const double cancelledAt = clock.nowMs();
    result = RunBlockPhase(link, assembler, file, Crc16(file), options);
    EXPECT_EQ(result.status.code, Code::Cancelled);
    EXPECT_DOUBLE_EQ(clock.nowMs(), cancelledAt) << "a cancelled job waits for nothing";
}
