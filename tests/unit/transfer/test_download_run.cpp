// Download runs against a scripted display in virtual time: selection, skips,
// booking, tally, the speed switch, and the time-out, hang-up, abandon and cancel
// paths; the firmware update and the picture run.
#include "scripted_display.h"
#include "support/recording_outlets.h"
#include "transfer/download_run.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

using namespace tarsel;
using namespace tarsel::test;

namespace {

const Bytes kSwitchTo115200 = bytesOf({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00});
const Bytes kSwitchTo9600 = bytesOf({0x02, 0x07, 0x04, 0x00, 0x00, 0x25, 0x80});
constexpr std::size_t kPackDivisor = 64;

struct RunTest : ::testing::Test {
    VirtualClock clock;
    FakeLine line{clock};
    FakePort cmd{line, "cmd"};
    FakePort text{line, "text"};
    Link link{cmd, text, clock};
    RecordingOutlets out;
    DownloadRun run{link, out};
    RunReport report; // what the last run returned
    std::filesystem::path root;

    RunOutcome started(RunReport r)
    {
        report = std::move(r);
        return report.end;
    }

    void SetUp() override
    {
        link.PortName = "/dev/ttyFAKE";
        link.BaudRate = 9600;
        root = std::filesystem::temp_directory_path() /
               ("tarsel-run-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        setenv("XDG_DATA_HOME", (root / "none-home").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root / "none-dirs").c_str(), 1);
        unsetenv("TARSEL_RESOURCE_DIR");
        SetResourceFolderOverride({(root / "pack").string()});
    }
    void TearDown() override
    {
        SetResourceFolderOverride({});
        std::filesystem::remove_all(root);
    }
    void writePack()
    {
        std::string error;
        ASSERT_TRUE(WriteSyntheticResourcePack((root / "pack").string(), kPackDivisor, error)) << error;
    }
    std::string writeFile(const std::string& name, const Bytes& content)
    {
        std::filesystem::create_directories(root);
        const auto path = (root / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::vector<std::string> logLines(bool red) const
    {
        std::vector<std::string> lines;
        for (const auto& c : out.callsNamed("log"))
            if ((c.a != 0) == red)
                lines.push_back(c.text);
        return lines;
    }
    // Index of the first write of `frame` on CmdPort at or after `from`, or -1.
    int findWrite(const Bytes& frame, std::size_t from = 0) const
    {
        for (std::size_t i = from; i < line.writes.size(); ++i)
            if (line.writes[i].slot == "cmd" && line.writes[i].data == frame)
                return static_cast<int>(i);
        return -1;
    }
    int lastWriteOf(const Bytes& frame) const
    {
        for (int i = static_cast<int>(line.writes.size()) - 1; i >= 0; --i)
            if (line.writes[static_cast<std::size_t>(i)].data == frame)
                return i;
        return -1;
    }
};

// The byte reports of a run hold together: the run's total is fixed from the first
// report on and is what the display stored; the run's bytes never go back and end at
// the total; every item goes from 0 to its size in steps of at most one 256-byte
// piece or block, and the run's bytes move with the item's; the items are numbered
// 1..n, n known from the start.
void expectByteReportsHoldTogether(const std::vector<ByteProgress>& reports, std::uint64_t stored,
                                   int storedItems)
{
    ASSERT_FALSE(reports.empty());
    const std::uint64_t total = reports.front().runTotal;
    EXPECT_EQ(total, stored);
    int item = 0;
    std::uint64_t itemStartRun = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const ByteProgress& r = reports[i];
        SCOPED_TRACE("report " + std::to_string(i) + " of position " + std::to_string(r.position));
        EXPECT_EQ(r.runTotal, total);
        EXPECT_EQ(r.lineBytesPerSecond, 11520);
        EXPECT_EQ(r.itemCount, storedItems);
        EXPECT_LE(r.itemDone, r.itemTotal);
        const bool itemStart = i == 0 || r.position != reports[i - 1].position;
        if (itemStart) {
            EXPECT_EQ(r.itemDone, 0u);
            EXPECT_EQ(r.item, ++item);
            if (i > 0) { // the item before ended whole
                EXPECT_EQ(reports[i - 1].itemDone, reports[i - 1].itemTotal);
            }
            itemStartRun = r.runDone;
        } else {
            EXPECT_EQ(r.item, item);
            EXPECT_GE(r.itemDone, reports[i - 1].itemDone);
            EXPECT_LE(r.itemDone - reports[i - 1].itemDone, 256u);
        }
        EXPECT_EQ(r.runDone, itemStartRun + r.itemDone);
        if (i > 0) {
            EXPECT_GE(r.runDone, reports[i - 1].runDone);
        }
    }
    EXPECT_EQ(reports.back().itemDone, reports.back().itemTotal);
    EXPECT_EQ(reports.back().runDone, total);
    EXPECT_EQ(item, storedItems);
}

template <typename Map>
std::uint64_t storedBytes(const Map& stored)
{
    std::uint64_t sum = 0;
    for (const auto& [key, data] : stored)
        sum += data.size();
    return sum;
}

} // namespace

TEST_F(RunTest, FontDownloadOnAnAddressedModelSendsTheSmallScreenImages)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::Finished);

    EXPECT_EQ(report.tallyText(), "Done! [Succeed 74 / Failed 0]");
    EXPECT_EQ(report.status.code, Code::Ok);
    EXPECT_EQ(report.items.size(), 74u);
    EXPECT_EQ(report.skipped.size(), 3u);
    EXPECT_EQ(logLines(true), (std::vector<std::string>{"CP437_40x40 [Failed]:not suport",
                                                         "CP936_GBK [Failed]:not suport",
                                                         "big52gbk [Failed]:not suport"}));
    const auto black = logLines(false);
    ASSERT_EQ(black.size(), 74u);
    EXPECT_EQ(black.front(), "CP437 [Succeed]");
    EXPECT_EQ(black.back(), "mini_RUSSIA [Succeed]");

    ASSERT_EQ(display.byAddress.size(), 74u);
    for (int pos = 1; pos <= 76; ++pos) {
        if (pos == 2 || pos == 17)
            continue;
        const Bytes expected = LoadResource(ResourceName(pos, 0));
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(display.byAddress[std::stoul(FlashAddressHex(pos), nullptr, 16)], expected) << pos;
    }
    EXPECT_EQ(display.badBlockFrames, 0);
    expectByteReportsHoldTogether(out.bytes, storedBytes(display.byAddress), 74);
    // One report as each item starts and one per block answered.
    std::size_t blocks = 0;
    for (const auto& [address, data] : display.byAddress)
        blocks += (data.size() + 255) / 256;
    EXPECT_EQ(out.bytes.size(), 74u + blocks);

    // Panel 2 counts started items against the selection, which includes the skipped ones.
    const auto status = out.callsNamed("status");
    ASSERT_EQ(status.size(), 74u);
    EXPECT_EQ(status.front().text, "Download CP437");
    EXPECT_EQ(status.front().detail, "1 of  77");
    EXPECT_EQ(status.back().detail, "74 of  77");
    EXPECT_EQ(run.RunTotal, 77);
    EXPECT_EQ(out.callsNamed("start").front().b, 1);

    // Speed raised after the device wait and restored at the end; port closed.
    const int up = findWrite(kSwitchTo115200);
    ASSERT_GE(up, 0);
    EXPECT_GT(lastWriteOf(kSwitchTo9600), lastWriteOf(StartDownloadFrame()));
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_EQ(line.currentBaud, 9600);
    EXPECT_TRUE(out.boxes.empty()); // the caller shows the tally
}

TEST_F(RunTest, AWrongEndCrcFailsOnlyThatItem)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIA");
    display.wrongEndCrcForItem = 1; // the second item sent: CP737
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 73 / Failed 1]");
    // Any failed item fails the run, and the report names it.
    EXPECT_EQ(report.status.code, Code::Refused);
    EXPECT_EQ(report.items[1].name, "CP737");
    EXPECT_EQ(report.items[1].status, Status::failure(Code::Refused, "CRC check error"));
    const auto red = logLines(true);
    ASSERT_EQ(red.size(), 4u);
    EXPECT_EQ(red[0], "CP437_40x40 [Failed]:not suport");
    EXPECT_EQ(red[1], "CP737 [Failed]:CRC check error");
    EXPECT_EQ(logLines(false)[1], "CP737_S [Succeed]");
}

TEST_F(RunTest, SingleItemFromAFile)
{
    Bytes content(300, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i);
    const auto file = writeFile("own.bin", content);
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartSingleDownload(6, file)), RunOutcome::Finished);
    EXPECT_EQ(display.byAddress[0x00032000], content);
    EXPECT_EQ(logLines(false), (std::vector<std::string>{"CP850 [Succeed]"}));
    EXPECT_EQ(out.callsNamed("max").back().a, 2);        // 300 div 256 + 1
    EXPECT_EQ(out.callsNamed("position").back().a, 2);   // after block 1

    // The same file as "firmware" on a named-file model goes out as firmware.bin.
    ScriptedDisplay named(line, "KT310-II");
    run.setModelIndex(5);
    EXPECT_EQ(started(run.StartSingleDownload(93, file)), RunOutcome::Finished);
    EXPECT_EQ(named.byName["firmware.bin"], content);
}

TEST_F(RunTest, SingleItemFromANamedPipeIsRefusedUnread)
{
    // Opening a pipe for reading would wait for a writer; it is refused by its kind.
    const auto fifo = writeFile("pipe.bin", "");
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartSingleDownload(6, fifo)), RunOutcome::Finished);
    EXPECT_EQ(logLines(true),
              (std::vector<std::string>{"CP850 [Failed]:cannot read " + fifo + " (not a regular file (a named pipe))"}));
    EXPECT_EQ(display.setupFrames, 0);
}

TEST_F(RunTest, StepsOfOneItemInOrder)
{
    // Run start: device wait, speed up. Step: device wait, setup, status, pause, start
    // frame, blocks. Position 94: device wait, then the speed goes back.
    const auto file = writeFile("own.bin", Bytes(300, 's'));
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartSingleDownload(6, file)), RunOutcome::Finished);
    const Bytes query = bytesOf({0x02, 0x07, 0x16, 0x01});
    const Bytes setup = DownloadServiceSetupFrame(0x00032000, 300);
    std::vector<std::string> order;
    std::vector<double> at;
    for (const auto& w : line.writes) {
        if (w.slot != "cmd")
            continue;
        const char* name = w.data == query ? "query" : w.data == kSwitchTo115200 ? "up"
            : w.data == kSwitchTo9600 ? "down" : w.data == setup ? "setup"
            : w.data == StartDownloadFrame() ? "start" : w.data.size() == kBlockFrameSize ? "block" : "other";
        if (order.empty() || order.back() != name || std::string(name) != "query") {
            order.push_back(name);
            at.push_back(w.at);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"query", "up", "query", "setup", "start", "block", "block",
                                               "query", "down"}));
    // 200 ms for the echo, then 100 ms between the status and the start frame.
    ASSERT_EQ(at.size(), 9u);
    EXPECT_GE(at[4] - at[3], 300);
    EXPECT_LT(at[4] - at[3], 320);
}

TEST_F(RunTest, AnEmptyFileIsSkippedAndTheTallyComesAtOnce)
{
    const auto file = writeFile("empty.bin", "");
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartSingleDownload(6, file)), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 0 / Failed 0]");
    EXPECT_EQ(report.status.code, Code::BadInput); // nothing reached the display
    EXPECT_EQ(display.setupFrames, 0);
    EXPECT_TRUE(out.callsNamed("status").empty());
    EXPECT_TRUE(out.callsNamed("log").empty());
}

TEST_F(RunTest, SilentDisplayDuringBlocksTimesOutWithoutSpeedRestore)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIA");
    display.silentAfterBlocks = 3;
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::TimedOut);
    EXPECT_EQ(report.status, Status::failure(Code::TimedOut, "Time Out!"));
    EXPECT_EQ(report.reportText, "Download: \r\n\r\n");
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_EQ(lastWriteOf(kSwitchTo9600), -1); // the display stays at 115200
    EXPECT_EQ(display.blockFramesReceived, 3);

    // A single download keeps the heading of the last run; a fresh one has none.
    DownloadRun fresh(link, out);
    fresh.setModelIndex(0);
    fresh.setTransferTimeoutMs(500);
    ScriptedDisplay again(line, "KT310--IIA");
    again.silentAfterBlocks = 1;
    const double before = clock.nowMs();
    EXPECT_EQ(started(fresh.StartSingleDownload(6, writeFile("f.bin", Bytes(1000, 'q')))), RunOutcome::TimedOut);
    EXPECT_EQ(report.reportText, "");
    EXPECT_LT(clock.nowMs() - before, 2000); // the shortened time-out is used
}

TEST_F(RunTest, HangUpEndsTheRunAtOnceWithAClearError)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIA");
    display.hangUpAfterBlocks = 2;
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::HungUp);
    EXPECT_EQ(report.status.code, Code::HungUp);
    EXPECT_NE(report.status.text.find("hung up"), std::string::npos);
    EXPECT_FALSE(cmd.isOpen());
}

TEST_F(RunTest, FailedSetupOrMakeFileAbandonsTheRunWithSpeedRestore)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIA");
    display.extraEchoByte = true;
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::Abandoned);
    EXPECT_EQ(report.status, Status::failure(Code::Refused, "Download service setup failed !"));
    EXPECT_EQ(display.setupFrames, 1); // later positions are not processed
    EXPECT_GT(lastWriteOf(kSwitchTo9600), findWrite(kSwitchTo115200));
    EXPECT_FALSE(cmd.isOpen());

    out.clear();
    line.writes.clear();
    ScriptedDisplay named(line, "KT310-IID");
    named.refuseMakeFile = true;
    run.setModelIndex(3);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::Abandoned);
    EXPECT_EQ(report.status, Status::failure(Code::Refused, "Make Flie failed !"));
    EXPECT_GE(lastWriteOf(kSwitchTo9600), 0);
}

TEST_F(RunTest, WrongFileCrcOnANamedFileModelFailsTheItem)
{
    const auto file = writeFile("own.bin", Bytes(700, 'k'));
    ScriptedDisplay display(line, "KT310-IID");
    display.wrongFileCrc = true;
    run.setModelIndex(3);
    EXPECT_EQ(started(run.StartSingleDownload(1, file)), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 0 / Failed 1]");
    EXPECT_EQ(logLines(true), (std::vector<std::string>{"CP437 [Failed]:CRC check error"}));
    // A failed item's bytes are behind the run all the same.
    EXPECT_EQ(out.bytes.back().runDone, 700u);
    EXPECT_EQ(out.bytes.back().runTotal, 700u);
}

TEST_F(RunTest, FontDownloadOnANamedFileModelReportsEveryPieceWritten)
{
    writePack();
    ScriptedDisplay display(line, "KT310-IID");
    run.setModelIndex(3);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 77 / Failed 0]");
    expectByteReportsHoldTogether(out.bytes, storedBytes(display.byName), 77);
    // One report as each item starts and one per piece written (the stream's last
    // piece is empty when the size is a multiple of 256).
    std::size_t pieces = 0;
    for (const auto& [name, data] : display.byName)
        pieces += data.size() / 256 + 1;
    EXPECT_EQ(out.bytes.size(), display.byName.size() + pieces);
    // Each piece's report comes after its write and before the next one.
    const std::uint64_t firstItem = out.bytes.front().itemTotal;
    ASSERT_GT(firstItem, 512u);
    EXPECT_EQ(out.bytes[1].itemDone, 256u);
    EXPECT_EQ(out.bytes[2].itemDone, 512u);
}

TEST_F(RunTest, NoDeviceOrNoPortStopsBeforeTheRun)
{
    writePack();
    run.setModelIndex(0);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::NotStarted);
    EXPECT_EQ(report.status, Status::failure(Code::NoDisplay, "Not found the devies!Failed to read data"));
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_EQ(findWrite(kSwitchTo115200), -1);

    link.PortName.clear();
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::NotStarted);
    EXPECT_EQ(report.status, Status::failure(Code::PortError, " Error opening serial port!"));
}

TEST_F(RunTest, MissingImagesAreNamedWithTheFoldersSearched)
{
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    // No images at all: one message, nothing opened.
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::NotStarted);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(report.status.code, Code::BadInput);
    EXPECT_NE(report.status.text.find((root / "pack").string()), std::string::npos);
    EXPECT_NE(report.status.text.find("resource pack"), std::string::npos);
    EXPECT_TRUE(line.openBauds.empty());

    // Some images: the missing ones are logged in red with the folders.
    std::filesystem::create_directories(root / "pack");
    std::ofstream(root / "pack/cp850_480X272.bin", std::ios::binary) << Bytes(600, 'c');
    out.clear();
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    const auto red = logLines(true);
    ASSERT_EQ(red.size(), 73u + 3u);
    EXPECT_EQ(red[0].rfind("CP437 [Failed]:no image CP437_480x272.bin in " + (root / "pack").string(), 0), 0u);
    EXPECT_EQ(display.byAddress[0x00032000], Bytes(600, 'c'));
}

TEST_F(RunTest, FirmwareUpdateThroughTheLoaderEntry)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIC");
    display.version = 11;
    display.syncGarbage = 2;
    run.setModelIndex(2);
    EXPECT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::Finished);
    EXPECT_EQ(out.boxes.front().text, "Do you want to upgrade the firmware?");
    EXPECT_EQ(out.boxes.front().flags, kBoxQuestion);
    EXPECT_EQ(line.written("text"), bytesOf({0x02, 0x1D, 0xAA, 0x55}));
    EXPECT_EQ(display.firmware, LoadResource("KT310II"));
    EXPECT_EQ(display.setupFrames, 0);
    EXPECT_EQ(display.announceFrames, 1);
    EXPECT_EQ(findWrite(StartDownloadFrame()), -1);
    // Version 11: big52gbk is selected too, and not supported by this model.
    EXPECT_EQ(logLines(true), (std::vector<std::string>{"big52gbk [Failed]:not suport"}));
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    const auto status = out.callsNamed("status");
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].text, "Firmware Updating......");
    EXPECT_EQ(status[0].detail, "1 of  1");
    EXPECT_EQ(status[0].a, 0); // no slot
    EXPECT_EQ(run.RunCount, 0);
    const auto max = out.callsNamed("max");
    ASSERT_EQ(max.size(), 1u);
    EXPECT_EQ(max[0].a, BlockCount(LoadResource("KT310II").size()));
    EXPECT_EQ(max[0].b, 0);
}

TEST_F(RunTest, FirmwareUpdateOnANamedFileModel)
{
    writePack();
    ScriptedDisplay display(line, "KT310-IID");
    display.version = 0;
    run.setModelIndex(3);
    EXPECT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::Finished);
    EXPECT_EQ(line.written("text"), Bytes()); // no restart for this model
    EXPECT_EQ(display.byName["firmware.bin"], LoadResource("KT310II"));
    EXPECT_EQ(display.byName["big52gbk.bin"], LoadResource("big52gbk"));
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 2 / Failed 0]");

    // Version 12: only the firmware.
    out.clear();
    display.byName.clear();
    display.version = 12;
    EXPECT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::Finished);
    EXPECT_EQ(display.byName.size(), 1u);
}

TEST_F(RunTest, FirmwareUpdateDeclinedOrWithoutImage)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    out.answer(kAnswerNo);
    EXPECT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::NotStarted);
    EXPECT_EQ(report.status.code, Code::Declined);
    EXPECT_TRUE(line.writes.empty());
    EXPECT_TRUE(line.openBauds.empty());

    for (int model : {4, 6}) {
        out.clear();
        run.setModelIndex(model);
        EXPECT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::NotStarted);
        EXPECT_TRUE(out.boxes.empty()); // not even the question
        EXPECT_EQ(report.status.code, Code::BadInput);
        EXPECT_NE(report.status.text.find("KT710II"), std::string::npos);
        EXPECT_TRUE(line.writes.empty());
    }
}

TEST_F(RunTest, PictureRunSendsTheSlotsThatHoldPictures)
{
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    const Bytes logo(9600, 'L');
    std::vector<int> asked;
    auto source = [&](int pos) {
        asked.push_back(pos);
        return pos == 78 ? logo : Bytes();
    };
    EXPECT_EQ(started(run.StartPictureDownload({78, 80}, source)), RunOutcome::Finished);
    EXPECT_EQ(asked, (std::vector<int>{78, 80}));
    EXPECT_EQ(display.byAddress[0x00F43000], logo);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    EXPECT_EQ(out.callsNamed("start").front().b, 2);
    EXPECT_EQ(out.callsNamed("status").front().text, "Download logo_Head");
    EXPECT_EQ(out.callsNamed("status").front().a, 78);
    EXPECT_TRUE(out.callsNamed("log").empty()); // pictures get no log line
    // The run's total is known before the first picture goes out, each picture asked
    // for once.
    expectByteReportsHoldTogether(out.bytes, 9600, 1);

    out.clear();
    line.openBauds.clear();
    EXPECT_EQ(started(run.StartPictureDownload({}, source)), RunOutcome::NotStarted);
    EXPECT_TRUE(out.calls.empty());
    EXPECT_TRUE(line.openBauds.empty());
}

TEST_F(RunTest, CancelMidItemPutsTheDisplayBackToItsSpeedAndSaysSo)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    CancelToken token;
    const CancelScope scope(link, &token);
    const auto scripted = line.onWrite;
    line.onWrite = [&](FakeLine& l, const Bytes& data) {
        scripted(l, data);
        if (display.blockFramesReceived == 5)
            token.cancel();
    };
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::Cancelled);
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_EQ(display.blockFramesReceived, 5) << "not one block after the cancel";
    // The display was told to go back to its own speed, and the PC followed it.
    ASSERT_EQ(link.BaudRate, 9600);
    const Bytes back = bytesOf({0x02, 0x07, 0x04, 0x00, 0x00, 0x25, 0x80});
    EXPECT_NE(line.written("cmd").find(back), Bytes::npos);
    ASSERT_FALSE(line.localBauds.empty());
    EXPECT_EQ(line.localBauds.back(), 9600);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(report.status.code, Code::Cancelled);
    EXPECT_TRUE(report.displayBack);
    EXPECT_EQ(report.cancelledText(link.BaudRate), "The font download was cancelled. [Succeed 1 / Failed 0]\n"
                                                   "The item being sent when it was cancelled is incomplete in the "
                                                   "display.");
}

TEST_F(RunTest, CancelledFirmwareUpdateWarnsOfTheIncompleteImage)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIC");
    run.setModelIndex(2);
    out.answers = {kAnswerYes};
    CancelToken token;
    const CancelScope scope(link, &token);
    const auto scripted = line.onWrite;
    line.onWrite = [&](FakeLine& l, const Bytes& data) {
        scripted(l, data);
        if (display.announceFrames == 1 && display.blockFramesReceived == 2)
            token.cancel();
    };
    EXPECT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::Cancelled);
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_TRUE(report.firmwareTouched);
    const std::string text = report.cancelledText(link.BaudRate);
    EXPECT_NE(text.find("The firmware update was cancelled."), std::string::npos);
    EXPECT_NE(text.find("incomplete firmware image"), std::string::npos) << text;
}
TEST_F(RunTest, DownListHelpers)
{
    run.SetDownListNull();
    EXPECT_EQ(run.GetDownListTrueTotal(), 0);
    EXPECT_TRUE(run.DownList[kEndOfRun]);
    run.DownList[5] = run.DownList[93] = true;
    EXPECT_EQ(run.GetDownListTrueTotal(), 2);
    run.Statistics_S = 3;
    run.Statistics_F = 1;
    EXPECT_EQ(run.TallyText(), "Done! [Succeed 3 / Failed 1]");
}

TEST_F(RunTest, ARunCancelledBeforeItBeginsSendsNothing)
{
    writePack();
    ScriptedDisplay display(line, "KT310--IIA");
    run.setModelIndex(0);
    CancelToken token;
    token.cancel();
    const CancelScope scope(link, &token);
    EXPECT_EQ(started(run.StartFontDownload()), RunOutcome::Cancelled);
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_EQ(display.setupFrames, 0);
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(RunTest, FontDownloadOfNamedItemsOnly)
{
    writePack();
    ScriptedDisplay display(line, "KT310-IID");
    run.setModelIndex(3);
    // Positions that are not fonts are ignored; big52gbk is one.
    EXPECT_EQ(started(run.StartFontDownload({31, 80, 1, 92, 93})), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 3 / Failed 0]");
    EXPECT_EQ(display.byName.size(), 3u);
    EXPECT_EQ(display.byName["437_80x40.bin"], LoadResource(ResourceName(1, 3)));
    EXPECT_EQ(display.byName["850_48x24.bin"], LoadResource(ResourceName(31, 3)));
    EXPECT_EQ(display.byName["big52gbk.bin"], LoadResource("big52gbk"));
    EXPECT_EQ(logLines(false), (std::vector<std::string>{"CP437 [Succeed]", "mini_CP850 [Succeed]"}));

    // Nothing that is a font: nothing happens.
    out.clear();
    line.writes.clear();
    EXPECT_EQ(started(run.StartFontDownload({77, 93})), RunOutcome::NotStarted);
    EXPECT_TRUE(report.ok());
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(RunTest, FirmwareUpdateFromAGivenFile)
{
    // No pack at all: the given image is enough.
    ScriptedDisplay display(line, "KT310--IIC");
    display.version = 12;
    run.setModelIndex(2);
    Bytes image(2000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7 + 1);
    run.setFirmwareFile(writeFile("update.bin", image));
    EXPECT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::Finished);
    EXPECT_EQ(display.firmware, image);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");

    // A file that is not there: said before the question, nothing sent.
    out.clear();
    line.writes.clear();
    run.setFirmwareFile((root / "missing.bin").string());
    EXPECT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::NotStarted);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(report.status.code, Code::BadInput);
    EXPECT_NE(report.status.text.find("missing.bin"), std::string::npos);
    EXPECT_TRUE(line.writes.empty());
}
