// Download runs against the display core on a virtual line: the line-speed switch,
// every storage method, the faults that must end a run cleanly, and cancels at exact
// moments of an item, after which the display must be back at its own speed and
// answer without a new Connect. The block phase keeps its real 10 s time-out.
#include "link/commands.h"
#include "support/recording_outlets.h"
#include "support/virtual_link.h"
#include "transfer/catalogue.h"
#include "transfer/download_run.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tarsel;
using namespace tarsel::test;

namespace {

constexpr double kByteMsAt115200 = 10000.0 / 115200;

Bytes patterned(std::size_t size)
{
    Bytes b(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 37) ^ (i >> 8));
    return b;
}

class DisplayRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = std::filesystem::temp_directory_path() /
               ("tarsel-displayrun-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        setenv("XDG_DATA_HOME", (root / "none").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root / "none").c_str(), 1);
        unsetenv("TARSEL_RESOURCE_DIR");
        SetResourceFolderOverride({(root / "pack").string()});
        std::string error;
        ASSERT_TRUE(WriteSyntheticResourcePack((root / "pack").string(), 64, error)) << error;
    }
    void TearDown() override
    {
        run.reset();
        rig.reset();
        SetResourceFolderOverride({});
        std::filesystem::remove_all(root);
    }

    // A display of `model` at 9600 bit/s and a run for `modelIndex`.
    void start(const std::string& model, int modelIndex, sim::Faults faults = {}, int version = 12)
    {
        sim::DisplayCore::Config config = displayConfig(model, 9600);
        config.faults = faults;
        config.version = version;
        rig = std::make_unique<VirtualLink>(config);
        run = std::make_unique<DownloadRun>(rig->link, out);
        run->setModelIndex(modelIndex);
    }
    VirtualLine& line() { return rig->line; }
    template <class F>
    auto display(F f)
    {
        return rig->line.withDisplay([&](sim::DisplayCore& d) { return f(d); });
    }
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
    // The display answers Get Setting at the line's own speed, without a new Connect.
    void expectDisplayAnswersAtItsOwnSpeed()
    {
        EXPECT_EQ(line().displaySpeed(), 9600);
        EXPECT_FALSE(rig->cmdPort->isOpen());
        Bytes reply;
        const Status st = GetConfiguration(rig->link, reply);
        EXPECT_TRUE(st.ok()) << st;
        EXPECT_EQ(reply, display([](sim::DisplayCore& d) { return d.settings().render(); }) + '\0');
    }

    std::filesystem::path root;
    RecordingOutlets out;
    std::unique_ptr<VirtualLink> rig;
    std::unique_ptr<DownloadRun> run;
    RunReport report; // what the last run returned
};

} // namespace

TEST_F(DisplayRunTest, FontDownloadOnKT310IIAStores74ItemsByteForByte)
{
    start("KT310--IIA", 0);
    ASSERT_EQ(started(run->StartFontDownload()), RunOutcome::Finished) << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 74 / Failed 0]");
    EXPECT_EQ(redLines(), (std::vector<std::string>{"CP437_40x40 [Failed]:not suport",
                                                     "CP936_GBK [Failed]:not suport",
                                                     "big52gbk [Failed]:not suport"}));
    const auto stored = display([](sim::DisplayCore& d) { return d.blocks(); });
    EXPECT_EQ(stored.size(), 74u);
    for (int pos = 1; pos <= 76; ++pos) {
        if (pos == 2 || pos == 17)
            continue;
        const auto it = stored.find(static_cast<std::uint32_t>(std::stoul(FlashAddressHex(pos), nullptr, 16)));
        ASSERT_NE(it, stored.end()) << pos;
        EXPECT_EQ(it->second, LoadResource(ResourceName(pos, 0))) << pos;
    }
    for (const auto& t : display([](sim::DisplayCore& d) { return d.transfers(); }))
        EXPECT_EQ(t.badBlocks, 0);
    // The blocks went at the transfer speed; the display went back to the line's own.
    EXPECT_EQ(line().recordsNamed("SwitchDeviceBaud").size(), 2u);
    expectDisplayAnswersAtItsOwnSpeed();
}

TEST_F(DisplayRunTest, FontDownloadOnKT310IIDStores77NamedFiles)
{
    start("KT310-IID", 3);
    ASSERT_EQ(started(run->StartFontDownload()), RunOutcome::Finished) << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 77 / Failed 0]");
    const auto files = display([](sim::DisplayCore& d) { return d.files(); });
    EXPECT_EQ(files.size(), 77u);
    for (int pos : {1, 2, 17, 27, 76, 92}) {
        const auto it = files.find(DownloadItemAt(pos).FileName);
        ASSERT_NE(it, files.end()) << pos;
        EXPECT_EQ(it->second, LoadResource(ResourceName(pos, 3))) << pos;
    }
    EXPECT_TRUE(redLines().empty());
    EXPECT_EQ(line().displaySpeed(), 9600);
}

TEST_F(DisplayRunTest, SingleItemFromAFileOfOnesOwn)
{
    start("KT310--IIB", 1);
    const Bytes content = patterned(3000);
    ASSERT_EQ(started(run->StartSingleDownload(20, writeFile("own.bin", content))), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    EXPECT_EQ(display([](sim::DisplayCore& d) { return d.blocks().at(0x000C8000); }), content);
}

TEST_F(DisplayRunTest, FirmwareUpdateOnKT310IICThroughTheLoaderEntry)
{
    start("KT310--IIC", 2, {}, 11);
    ASSERT_EQ(started(run->StartFirmwareUpdate()), RunOutcome::Finished) << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    const auto firmware = display([](sim::DisplayCore& d) { return d.firmware(); });
    ASSERT_TRUE(firmware);
    EXPECT_EQ(*firmware, LoadResource("KT310II"));
    EXPECT_EQ(display([](sim::DisplayCore& d) { return d.restarts(); }), 1);
    EXPECT_TRUE(line().recordsNamed("DownloadServiceSetup").empty());
    EXPECT_EQ(line().recordsNamed("Announce").size(), 1u);
    EXPECT_EQ(redLines(), (std::vector<std::string>{"big52gbk [Failed]:not suport"}));
}

// The display falls silent after the third block: the run times out 10 s after the
// last block request, not earlier and not later.
TEST_F(DisplayRunTest, SilentDisplayEndsTheRunWithTimeOutAfterTenSeconds)
{
    sim::Faults faults;
    faults.stopAfterBlocks = 3;
    start("KT310--IIA", 0, faults);
    ASSERT_EQ(started(run->StartSingleDownload(1, writeFile("f.bin", patterned(5000)))), RunOutcome::TimedOut)
        << report.status;
    EXPECT_EQ(report.status, Status::failure(Code::TimedOut, "Time Out!"));
    EXPECT_FALSE(rig->cmdPort->isOpen());
    EXPECT_TRUE(out.boxes.empty()); // the caller says it

    // Block 3 was written the moment its request was in and took 274 bytes of line time.
    const auto blocks = line().recordsNamed("Block");
    ASSERT_EQ(blocks.size(), 3u);
    const double requestIn = blocks[2].timeMs - 274 * kByteMsAt115200;
    double closedAt = 0;
    for (const auto& e : line().portEvents())
        if (e.kind == VirtualLine::PortEvent::Kind::Close && e.atMs > requestIn)
            closedAt = e.atMs;
    EXPECT_GE(closedAt - requestIn, 10000);
    EXPECT_LT(closedAt - requestIn, 10000 + 1);
}

TEST_F(DisplayRunTest, HangUpMidTransferEndsAtOnce)
{
    sim::Faults faults;
    faults.hangUpAfterBlocks = 3;
    start("KT310--IIA", 0, faults);
    double hungUpAt = 0;
    line().onRecord([&](const sim::Record& r) {
        if (r.name == "Block")
            hungUpAt = r.timeMs;
    });
    ASSERT_EQ(started(run->StartSingleDownload(1, writeFile("f.bin", patterned(50000)))), RunOutcome::HungUp);
    EXPECT_EQ(report.status.code, Code::HungUp);
    EXPECT_TRUE(line().hungUp());
    EXPECT_EQ(line().recordsNamed("Block").size(), 3u);
    EXPECT_LT(line().nowMs() - hungUpAt, 1.0); // no waiting out the time-out
    EXPECT_FALSE(rig->cmdPort->isOpen());
}

TEST_F(DisplayRunTest, WrongEndCrcFailsTheItemAndTheRunGoesOn)
{
    sim::Faults faults;
    faults.wrongCrc = true;
    start("KT310--IIA", 0, faults);
    ASSERT_EQ(started(run->StartSingleDownload(51, writeFile("f.bin", patterned(1728)))), RunOutcome::Finished);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 0 / Failed 1]");
    EXPECT_EQ(redLines(), (std::vector<std::string>{"USA [Failed]:CRC check error"}));
    EXPECT_EQ(line().displaySpeed(), 9600); // the run ended normally
}

TEST_F(DisplayRunTest, GarbageBetweenFramesIsSkipped)
{
    start("KT310--IIA", 0);
    // Garbage only once the blocks flow (the model probes would not survive it).
    sim::Faults faults;
    faults.garbageBytes = 7;
    line().onRecord([&](const sim::Record& r) {
        if (r.name == "StartDownload")
            display([&](sim::DisplayCore& d) { d.setFaults(faults); });
    });
    const Bytes content = patterned(40000);
    ASSERT_EQ(started(run->StartSingleDownload(3, writeFile("f.bin", content))), RunOutcome::Finished)
        << report.status;
    EXPECT_EQ(line().recordsNamed("Block").size(), 157u);
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    EXPECT_EQ(display([](sim::DisplayCore& d) { return d.blocks().at(0x001A9000); }), content);
}

TEST_F(DisplayRunTest, RefusedMakeFileAbandonsTheRun)
{
    sim::Faults faults;
    faults.refuseMakeFile = true;
    start("KT310-II", 5, faults);
    ASSERT_EQ(started(run->StartSingleDownload(1, writeFile("f.bin", patterned(1000)))), RunOutcome::Abandoned);
    EXPECT_EQ(report.status, Status::failure(Code::Refused, "Make Flie failed !"));
    expectDisplayAnswersAtItsOwnSpeed(); // speed restored
}

TEST_F(DisplayRunTest, EmptyFileIsSkippedWithTheTallyAtOnce)
{
    start("KT310--IIA", 0);
    ASSERT_EQ(started(run->StartSingleDownload(1, writeFile("empty.bin", ""))), RunOutcome::Finished) << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 0 / Failed 0]");
    EXPECT_TRUE(display([](sim::DisplayCore& d) { return d.transfers(); }).empty());
}

// A stream of 100 KB at 115200 bit/s: the program's writes block once the output
// buffer is full, and the CRC wait starts only when the last byte has arrived.
TEST_F(DisplayRunTest, HundredKilobyteStreamTakesItsLineTime)
{
    start("KT310-IID", 3);
    const Bytes content = patterned(100 * 1024);
    ASSERT_EQ(started(run->StartSingleDownload(5, writeFile("big.bin", content))), RunOutcome::Finished)
        << report.status;
    EXPECT_EQ(report.tallyText(), "Done! [Succeed 1 / Failed 0]");
    EXPECT_EQ(display([&](sim::DisplayCore& d) { return d.files().at(DownloadItemAt(5).FileName); }), content);
    const auto transfers = display([](sim::DisplayCore& d) { return d.transfers(); });
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_GE(transfers[0].endMs - transfers[0].startMs, content.size() * kByteMsAt115200);
}

// ---------------------------------------------------------------------------
// Cancels at exact moments of an item

namespace {

struct CancelMoment {
    const char* what;
    const char* model;
    int modelIndex;
    int position;
    std::size_t fileSize;
    const char* record;  // the cancel comes when the display has recorded this frame ...
    int count;           // ... for the count-th time ...
    double laterMs;      // ... and this much later
    bool itemCut;        // the report says the display held part of an item
    bool stored;         // the display had the whole item by then and keeps it
};

// Block method: 5000 bytes are 20 blocks. Streamed: 20 000 bytes take 1736 ms at
// 115200 bit/s.
const CancelMoment kCancelMoments[] = {
    {"while the display switches its speed", "KT310--IIA", 0, 1, 5000, "SwitchDeviceBaud", 1, 0, false, false},
    {"before the start frame", "KT310--IIA", 0, 1, 5000, "DownloadServiceSetup", 1, 0, false, false},
    {"at the start frame", "KT310--IIA", 0, 1, 5000, "StartDownload", 1, 0, true, false},
    {"after the first block", "KT310--IIA", 0, 1, 5000, "Block", 1, 0, true, false},
    {"after the fifth block", "KT310--IIA", 0, 1, 5000, "Block", 5, 0, true, false},
    {"in the middle of the item", "KT310--IIA", 0, 1, 5000, "Block", 10, 0, true, false},
    {"at the last block", "KT310--IIA", 0, 1, 5000, "Block", 20, 0, true, true},
    {"at the make-file frame", "KT310-IID", 3, 5, 20000, "MakeFile", 1, 0, false, false},
    {"in the middle of the stream", "KT310-IID", 3, 5, 20000, "MakeFile", 1, 900, true, false},
    {"once the whole stream is in", "KT310-IID", 3, 5, 20000, "FileStream", 1, 0, true, true},
};

void PrintTo(const CancelMoment& m, std::ostream* out) { *out << m.what; }

class CancelAtAMoment : public DisplayRunTest, public ::testing::WithParamInterface<CancelMoment> {};

} // namespace

TEST_P(CancelAtAMoment, LeavesTheDisplayAtItsOwnSpeedReadyForTheNextCommand)
{
    const CancelMoment& m = GetParam();
    start(m.model, m.modelIndex);
    CancelToken token;
    double cancelAt = -1;
    int seen = 0;
    line().onRecord([&](const sim::Record& r) {
        if (r.name != m.record || ++seen != m.count)
            return;
        cancelAt = r.timeMs + m.laterMs;
        line().at(cancelAt, [&] { token.cancel(); });
    });
    const std::string file = writeFile("f.bin", patterned(m.fileSize));
    {
        const CancelScope scope(rig->link, &token);
        started(run->StartSingleDownload(m.position, file));
    }
    ASSERT_GE(cancelAt, 0) << "the moment never came";
    EXPECT_EQ(report.end, RunOutcome::Cancelled) << report.status;
    EXPECT_EQ(report.status.code, Code::Cancelled);
    EXPECT_TRUE(report.displayBack);
    EXPECT_EQ(report.itemCut, m.itemCut);
    EXPECT_EQ(report.succeeded + report.failed, 0);

    // Nothing of the item went out after the cancel (but the block on the wire), and
    // the display keeps no part of it.
    for (const char* frame : {"DownloadServiceSetup", "StartDownload", "Block", "MakeFile", "FileStream"})
        for (const auto& r : line().recordsNamed(frame))
            EXPECT_LE(r.timeMs, cancelAt + 274 * kByteMsAt115200) << frame;
    const std::size_t kept = display([](sim::DisplayCore& d) { return d.blocks().size() + d.files().size(); });
    EXPECT_EQ(kept, m.stored ? 1u : 0u);
    expectDisplayAnswersAtItsOwnSpeed();
}

INSTANTIATE_TEST_SUITE_P(Moments, CancelAtAMoment, ::testing::ValuesIn(kCancelMoments),
                         [](const ::testing::TestParamInfo<CancelMoment>& info) {
                             std::string name;
                             for (const char* c = info.param.what; *c; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c)))
                                     name += *c;
                                 else if (*c == ' ')
                                     name += '_';
                             return name;
                         });
