// CRC, frame builders, the frame assembler and the frame decisions.
#include "transfer/crc16.h"
#include "transfer/frames.h"

#include <gtest/gtest.h>

using namespace tarsel;

namespace {

Bytes request(std::uint32_t n) { return "ACT=0,L=100," + BigEndian32(n); }

Bytes fileOf(std::size_t size)
{
    Bytes file(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        file[i] = static_cast<char>(i * 7 + 3);
    return file;
}

} // namespace

TEST(Crc16, KnownAnswers)
{
    EXPECT_EQ(Crc16(Bytes("123456789")), 0x29B1);
    EXPECT_EQ(Crc16(Bytes()), 0xFFFF);
    EXPECT_EQ(Crc16(bytesOf({0x00})), 0xE1F0);
    EXPECT_EQ(Crc16(Bytes("A")), 0xB915);
    // Table-driven and incremental forms agree.
    const Bytes data = fileOf(1000);
    EXPECT_EQ(Crc16Update(Crc16(data.data(), 400), data.data() + 400, 600), Crc16(data));
    EXPECT_EQ(Crc16Append(Bytes("123456789")), Bytes("123456789") + bytesOf({0x29, 0xB1}));
}

TEST(Frames, CommandFrames)
{
    EXPECT_EQ(DownloadServiceSetupFrame(0x001A9000, 300),
              bytesOf({0x02, 0x10, 0x00, 0x1A, 0x90, 0x00, 0x00, 0x00, 0x01, 0x2C}));
    EXPECT_EQ(StartDownloadFrame(), bytesOf({0x02, 0x07, 0x27, 0x27, 0x27}));
    EXPECT_EQ(UpgradeSyncFrame(), bytesOf({0x07, 0x07, 0x07, 0x07}));
    EXPECT_EQ(MakeFileFrame("437_80x40.bin", "102400", "4660"),
              bytesOf({0x02, 0x07, 0x05, 0x01}) + "437_80x40.bin,102400,4660\n");

    const Bytes announce = AnnounceFrame(266240, 0xBEEF);
    ASSERT_EQ(announce.size(), 20u);
    EXPECT_EQ(announce.substr(0, 12), "ACT=1,L=002,");
    EXPECT_EQ(announce.substr(12, 4), bytesOf({0x00, 0x04, 0x10, 0x00}));
    EXPECT_EQ(announce.substr(16, 2), bytesOf({0xBE, 0xEF}));
    EXPECT_EQ(announce.substr(18), Crc16Bytes(Crc16(announce.substr(0, 18))));
    EXPECT_EQ(BlockCount(0), 1);
    EXPECT_EQ(BlockCount(255), 1);
    EXPECT_EQ(BlockCount(256), 2);
    EXPECT_EQ(BlockCount(102400), 401);
}

TEST(Frames, BlockFramePadsTheLastBlockAndKeepsLength100)
{
    const Bytes file = fileOf(300);
    const Bytes number = bytesOf({0x00, 0x00, 0x00, 0x01});
    const Bytes frame = BlockFrame(number, BlockData(file, 1));
    ASSERT_EQ(frame.size(), kBlockFrameSize);
    EXPECT_EQ(frame.substr(0, 12), "ACT=0,L=100,");
    EXPECT_EQ(frame.substr(12, 4), number);
    EXPECT_EQ(frame.substr(16, 44), file.substr(256, 44));
    EXPECT_EQ(frame.substr(60, 212), Bytes(212, '\0'));
    EXPECT_EQ(frame.substr(272), Crc16Bytes(Crc16(frame.substr(0, 272))));

    // A block past the end is all zeros; the request's number bytes go back unchanged.
    const Bytes odd = bytesOf({0x12, 0x34, 0x56, 0x78});
    const Bytes past = BlockFrame(odd, BlockData(file, 0x12345678));
    EXPECT_EQ(past.substr(12, 4), odd);
    EXPECT_EQ(past.substr(16, 256), Bytes(256, '\0'));
    EXPECT_EQ(BlockData(file, 2), Bytes());
    EXPECT_EQ(BlockData(fileOf(512), 1), fileOf(512).substr(256));
}

TEST(FrameAssembler, SkipsGarbageByteByByteAndJoinsSplitFrames)
{
    FrameAssembler a;
    a.feed("xx");
    a.feed(request(5).substr(0, 10));
    EXPECT_FALSE(a.next()); // 12 bytes: not yet a frame, nothing dropped
    EXPECT_EQ(a.discarded(), 0u);
    a.feed(request(5).substr(10));
    auto frame = a.next();
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, request(5));
    EXPECT_EQ(a.discarded(), 2u);
    EXPECT_EQ(a.buffered(), 0u);

    // "AC" inside garbage and a lone "ACT" with an unknown type are noise too.
    a.feed("ACACTxACT7,L=100,\1\2\3\4" + request(7) + request(8).substr(0, 5));
    frame = a.next();
    ASSERT_TRUE(frame);
    EXPECT_EQ(FrameBlockNumber(*frame), 7u);
    EXPECT_FALSE(a.next());
    EXPECT_EQ(a.buffered(), 5u);
}

TEST(FrameAssembler, HandsOutOneFramePerCallInOrder)
{
    FrameAssembler a;
    const Bytes end = "ACT=9,L=002," + bytesOf({0x00, 0x00, 0x12, 0x34});
    a.feed(request(1) + request(2) + end);
    EXPECT_EQ(FrameBlockNumber(*a.next()), 1u);
    EXPECT_EQ(FrameBlockNumber(*a.next()), 2u);
    auto last = a.next();
    ASSERT_TRUE(last);
    EXPECT_EQ(FrameKind(*last), DeviceFrameKind::EndOfTransfer);
    EXPECT_EQ(FrameEndCrc(*last), 0x1234);
    EXPECT_FALSE(a.next());
}

TEST(FrameDecision, BlockRequestAndEndFrame)
{
    const Bytes file = fileOf(300);
    FrameAction act = DecideFrame(request(1), file, 0xABCD);
    EXPECT_EQ(act.kind, FrameAction::SendBlock);
    EXPECT_EQ(act.blockNumber, 1u);
    EXPECT_EQ(act.data, file.substr(256));

    Bytes end = "ACT=9,L=002,xx";
    end += bytesOf({0xAB, 0xCD});
    act = DecideFrame(end, file, 0xABCD);
    EXPECT_EQ(act.kind, FrameAction::EndOfTransfer);
    EXPECT_TRUE(act.crcMatches);
    act = DecideFrame(end, file, 0xABCE);
    EXPECT_FALSE(act.crcMatches);
    EXPECT_EQ(act.deviceCrc, 0xABCD);
}
