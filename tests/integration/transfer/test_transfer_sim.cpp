// Download runs over a real pty against the virtual display: the program's own
// termios port, the line-speed switch, every storage method and the faults that
// must end a run cleanly.
//
// The display is paced as a real line is (10 bits a byte both ways, the program's
// writes blocked once the pty is full), so a stream's CRC wait starts only after its
// bytes can have arrived. The protocol's fixed pauses (100 ms before every probe
// read, 200 ms after the setup frame, ...) add nothing to what is checked here and
// pass twenty times faster; every wait for an answer keeps its real limits.
#include "link/commands.h"
#include "link/termios_port.h"
#include "sim/virtual_display.h"
#include "support/quick_pause_clock.h"
#include "support/recording_outlets.h"
#include "support/sim_line.h"
#include "transfer/catalogue.h"
#include "transfer/download_run.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace tarsel;
using namespace tarsel::test;

namespace {

double wallMs() { return SteadyClock().nowMs(); }

struct SimRunTest : ::testing::Test {
    QuickPauseClock clock{20};
    TermiosPort cmd, text;
    Link link{cmd, text, clock};
    RecordingOutlets out;
    DownloadRun run{link, out};
    std::unique_ptr<sim::VirtualDisplay> display;
    std::filesystem::path root;

    void SetUp() override
    {
        root = std::filesystem::temp_directory_path() /
               ("tarsel-simrun-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        setenv("XDG_DATA_HOME", (root / "none").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root / "none").c_str(), 1);
        unsetenv("TARSEL_RESOURCE_DIR");
        SetResourceFolderOverride({(root / "pack").string()});
        std::string error;
        ASSERT_TRUE(WriteSyntheticResourcePack((root / "pack").string(), 64, error)) << error;
        run.setTransferTimeoutMs(2000);
    }
    void TearDown() override
    {
        cmd.close();
        text.close();
        display.reset();
        SetResourceFolderOverride({});
        std::filesystem::remove_all(root);
    }
    void start(const std::string& model, int modelIndex, sim::Faults faults = {}, int version = 12)
    {
        auto options = simOptions(model, 9600, true);
        options.faults = faults;
        options.version = version;
        display = startSim(options);
        ASSERT_TRUE(display);
        link.PortName = display->devicePath();
        link.BaudRate = 9600;
        run.setModelIndex(modelIndex);
    }
    RunReport report; // what the last run returned
    RunOutcome started(RunReport r)
    {
        report = std::move(r);
        return report.end;
    }
    std::string writeFile(const std::string& name, const Bytes& content)
    {
        const auto path = (root / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::vector<std::string> redLines() const
    {
        std::vector<std::string> lines;
        for (const auto& c : out.callsNamed("log"))
            if (c.a)
                lines.push_back(c.text);
        return lines;
    }
};

Bytes patterned(std::size_t size)
{
    Bytes b(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 37) ^ (i >> 8));
    return b;
}

} // namespace

TEST_F(SimRunTest, FontDownloadOnKT310IIAStores74ItemsByteForByte)
{
    start("KT310--IIA", 0);
    const RunOutcome outcome = started(run.StartFontDownload());
    ASSERT_EQ(outcome, RunOutcome::Finished) << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 74 / Failed 0]");
    EXPECT_EQ(redLines(), (std::vector<std::string>{"CP437_40x40 [Failed]:not suport",
                                                     "CP936_GBK [Failed]:not suport",
                                                     "big52gbk [Failed]:not suport"}));
    const auto stored = display->blocks();
    EXPECT_EQ(stored.size(), 74u);
    for (int pos = 1; pos <= 76; ++pos) {
        if (pos == 2 || pos == 17)
            continue;
        const auto it = stored.find(static_cast<std::uint32_t>(std::stoul(FlashAddressHex(pos), nullptr, 16)));
        ASSERT_NE(it, stored.end()) << pos;
        EXPECT_EQ(it->second, LoadResource(ResourceName(pos, 0))) << pos;
    }
    for (const auto& t : display->transfers())
        EXPECT_EQ(t.badBlocks, 0);
    // The display went back to the line's own speed.
    EXPECT_EQ(display->speed(), 9600);
    EXPECT_FALSE(cmd.isOpen());
}

TEST_F(SimRunTest, FontDownloadOnKT310IIDStores77NamedFiles)
{
    start("KT310-IID", 3);
    ASSERT_EQ(started(run.StartFontDownload()), RunOutcome::Finished) << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 77 / Failed 0]");
    const auto files = display->files();
    EXPECT_EQ(files.size(), 77u);
    for (int pos : {1, 2, 17, 27, 76, 92}) {
        const auto it = files.find(DownloadItemAt(pos).FileName);
        ASSERT_NE(it, files.end()) << pos;
        EXPECT_EQ(it->second, LoadResource(ResourceName(pos, 3))) << pos;
    }
    EXPECT_TRUE(redLines().empty());
    EXPECT_EQ(display->speed(), 9600);
}

TEST_F(SimRunTest, SingleItemFromAFileOfOnesOwn)
{
    start("KT310--IIB", 1);
    const Bytes content = patterned(3000);
    ASSERT_EQ(started(run.StartSingleDownload(20, writeFile("own.bin", content))), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    EXPECT_EQ(display->blocks().at(0x000C8000), content);
}

TEST_F(SimRunTest, FirmwareUpdateOnKT310IICThroughTheLoaderEntry)
{
    start("KT310--IIC", 2, {}, 11);
    ASSERT_EQ(started(run.StartFirmwareUpdate()), RunOutcome::Finished) << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    ASSERT_TRUE(display->firmware());
    EXPECT_EQ(*display->firmware(), LoadResource("KT310II"));
    EXPECT_EQ(display->restarts(), 1);
    EXPECT_TRUE(display->recordsNamed("DownloadServiceSetup").empty());
    EXPECT_EQ(display->recordsNamed("Announce").size(), 1u);
    EXPECT_EQ(redLines(), (std::vector<std::string>{"big52gbk [Failed]:not suport"}));
}

TEST_F(SimRunTest, SilentDisplayEndsTheRunWithTimeOut)
{
    sim::Faults faults;
    faults.stopAfterBlocks = 3;
    start("KT310--IIA", 0, faults);
    ASSERT_EQ(started(run.StartSingleDownload(1, writeFile("f.bin", patterned(5000)))), RunOutcome::TimedOut) << report.status;
    EXPECT_EQ(report.status, Status::failure(Code::TimedOut, "Time Out!"));
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_TRUE(out.boxes.empty()); // the caller says it
}

TEST_F(SimRunTest, HangUpMidTransferEndsAtOnce)
{
    sim::Faults faults;
    faults.hangUpAfterBlocks = 3;
    start("KT310--IIA", 0, faults);
    const std::string file = writeFile("f.bin", patterned(50000));
    const double before = wallMs();
    ASSERT_EQ(started(run.StartSingleDownload(1, file)), RunOutcome::HungUp);
    EXPECT_LT(wallMs() - before, 1500); // no waiting out the time-out
    EXPECT_EQ(report.status.code, Code::HungUp);
    EXPECT_FALSE(cmd.isOpen());
}

TEST_F(SimRunTest, WrongEndCrcFailsTheItemAndTheRunGoesOn)
{
    sim::Faults faults;
    faults.wrongCrc = true;
    start("KT310--IIA", 0, faults);
    ASSERT_EQ(started(run.StartSingleDownload(51, writeFile("f.bin", patterned(1728)))), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 0 / Failed 1]");
    EXPECT_EQ(redLines(), (std::vector<std::string>{"USA [Failed]:CRC check error"}));
    EXPECT_EQ(display->speed(), 9600); // the run ended normally
}

TEST_F(SimRunTest, GarbageBetweenFramesIsSkipped)
{
    sim::Faults faults;
    faults.garbageBytes = 7;
    start("KT310--IIA", 0);
    // Garbage only once the blocks flow (the model probes would not survive it).
    std::thread injector([&] {
        if (display->waitForRecord("StartDownload", 5000))
            display->setFaults(faults);
    });
    const Bytes content = patterned(40000);
    const RunOutcome outcome = started(run.StartSingleDownload(3, writeFile("f.bin", content)));
    injector.join();
    ASSERT_EQ(outcome, RunOutcome::Finished) << report.status;
    EXPECT_GT(display->recordsNamed("Block").size(), 150u);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    EXPECT_EQ(display->blocks().at(0x001A9000), content);
}

TEST_F(SimRunTest, RefusedMakeFileAbandonsTheRun)
{
    sim::Faults faults;
    faults.refuseMakeFile = true;
    start("KT310-II", 5, faults);
    ASSERT_EQ(started(run.StartSingleDownload(1, writeFile("f.bin", patterned(1000)))), RunOutcome::Abandoned);
    EXPECT_EQ(report.status, Status::failure(Code::Refused, "Make Flie failed !"));
    EXPECT_EQ(display->speed(), 9600); // speed restored
    EXPECT_FALSE(cmd.isOpen());
}

TEST_F(SimRunTest, EmptyFileIsSkippedWithTheTallyAtOnce)
{
    start("KT310--IIA", 0);
    ASSERT_EQ(started(run.StartSingleDownload(1, writeFile("empty.bin", ""))), RunOutcome::Finished) << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 0 / Failed 0]");
    EXPECT_TRUE(display->transfers().empty());
}

// A stream of 100 KB at 115200 bit/s on a paced line: the program's writes block once
// the pty is full, and the CRC wait starts only when the last byte can have arrived.
TEST_F(SimRunTest, HundredKilobyteStreamSucceedsPaced)
{
    start("KT310-IID", 3);
    const Bytes content = patterned(100 * 1024);
    ASSERT_EQ(started(run.StartSingleDownload(5, writeFile("big.bin", content))), RunOutcome::Finished)
        << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    EXPECT_EQ(display->files().at(DownloadItemAt(5).FileName), content);
    // The line carried it at its own rate: not faster than 11 520 bytes a second.
    const auto transfers = display->transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_GE(transfers[0].endMs - transfers[0].startMs, content.size() * 10000.0 / 115200 * 0.99);
}

struct CancelledRun {
    RunOutcome outcome = RunOutcome::NotStarted;
};

// Cancel in the middle of an item: the display is put back to its own speed, so the
// next command works without a new Connect.
TEST_F(SimRunTest, CancelMidItemLeavesTheDisplayReadyForTheNextCommand)
{
    start("KT310--IIA", 0);
    CancelToken token;
    std::thread canceller([&] {
        if (display->waitForRecord("Block", 20000, 5))
            token.cancel();
    });
    RunOutcome outcome;
    {
        const CancelScope scope(link, &token);
        outcome = started(run.StartSingleDownload(1, writeFile("f.bin", patterned(60000))));
    }
    canceller.join();
    ASSERT_EQ(outcome, RunOutcome::Cancelled) << report.status;
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_EQ(display->speed(), 9600);
    EXPECT_TRUE(report.displayBack);
    EXPECT_TRUE(report.itemCut);
    EXPECT_LT(display->recordsNamed("Block").size(), 235u) << "blocks went on after the cancel";

    Bytes reply;
    Status st;
    ASSERT_TRUE((st = GetConfiguration(link, reply))) << st.text;
    EXPECT_EQ(reply, display->settingsText() + '\0');
}

// The same in the middle of a named file: the display drops the cut file once its
// data stops, and is then put back to its own speed.
TEST_F(SimRunTest, CancelMidStreamLeavesTheDisplayReadyForTheNextCommand)
{
    start("KT310-IID", 3);
    CancelToken token;
    std::thread canceller([&] {
        if (display->waitForRecord("MakeFile", 20000))
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        token.cancel();
    });
    RunOutcome outcome;
    {
        const CancelScope scope(link, &token);
        outcome = started(run.StartSingleDownload(5, writeFile("f.bin", patterned(200 * 1024))));
    }
    canceller.join();
    ASSERT_EQ(outcome, RunOutcome::Cancelled) << report.status;
    EXPECT_EQ(display->speed(), 9600) << report.status;
    EXPECT_TRUE(display->files().empty());
    Bytes reply;
    Status st;
    ASSERT_TRUE((st = GetConfiguration(link, reply))) << st.text;
}
