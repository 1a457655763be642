// The virtual display through a real pty, talked to with a plain raw termios line.
#include "sim/virtual_display.h"
#include "support/sim_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarsel;
using tarsel::sim::VirtualDisplay;
using tarsel::test::SimLine;
using tarsel::test::simOptions;
using tarsel::test::startSim;

namespace {

const Bytes kModelQuery = bytesOf({0x02, 0x07, 0x16, 0x01});
const Bytes kGetConfiguration = bytesOf({0x02, 0x07, 0x16, 0x05});

double nowMs() { return VirtualDisplay::nowMs(); }

Bytes be32(std::uint32_t v)
{
    return bytesOf({std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
}

Bytes withCrc(Bytes frame)
{
    const std::uint16_t crc = sim::crc16(frame);
    frame.push_back(static_cast<char>(crc >> 8));
    frame.push_back(static_cast<char>(crc & 0xFF));
    return frame;
}

Bytes testFile(std::size_t size, unsigned seed)
{
    Bytes b(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return b;
}

// Answers the display's block requests from `file` until the end frame; returns it.
Bytes serveBlocks(SimLine& line, const Bytes& file, int* blocksSent = nullptr)
{
    for (int guard = 0; guard < 1000; ++guard) {
        Bytes frame = line.readCount(16, 2000);
        if (frame.size() < 16)
            return frame;
        if (frame.compare(0, 5, "ACT=9") == 0)
            return frame;
        EXPECT_EQ(frame.compare(0, 12, "ACT=0,L=100,"), 0);
        const std::uint32_t n = (std::uint32_t(byteAt(frame, 12)) << 24) | (byteAt(frame, 13) << 16)
            | (byteAt(frame, 14) << 8) | byteAt(frame, 15);
        Bytes data = n * 256 < file.size() ? file.substr(n * 256, 256) : Bytes();
        data.resize(256, '\0');
        EXPECT_TRUE(line.write(withCrc("ACT=0,L=100," + frame.substr(12, 4) + data)));
        if (blocksSent)
            ++*blocksSent;
    }
    return {};
}

} // namespace

TEST(VirtualDisplayLine, AnswersTheModelQueryOnlyAtItsOwnSpeed)
{
    auto display = startSim(simOptions("KT710-II", 38400, true));
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 38400)) << line.error();
    ASSERT_TRUE(line.write(kModelQuery));
    EXPECT_EQ(line.readUntil('\0', 1000), Bytes("KT710-II", 8) + '\0');

    ASSERT_TRUE(line.setBaud(9600));
    ASSERT_TRUE(line.write(kModelQuery));
    EXPECT_EQ(line.readFor(300), "");
    ASSERT_TRUE(display->waitForRecord("Noise", 500));
    EXPECT_EQ(display->recordsNamed("Noise").back().bytes, kModelQuery);
    EXPECT_EQ(display->recordsNamed("ModelQuery").size(), 1u);

    // The version byte, back at the right speed.
    ASSERT_TRUE(line.setBaud(38400));
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x07, 0x16, 0x02})));
    EXPECT_EQ(line.readCount(1, 1000), bytesOf({12}));
}

TEST(VirtualDisplayLine, PacesBothDirectionsAtTheLineRate)
{
    auto display = startSim(simOptions("KT310-IID", 9600, true));
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 9600));
    const std::size_t docSize = display->settingsText().size() + 1;
    const double start = nowMs();
    ASSERT_TRUE(line.write(kGetConfiguration));
    const Bytes answer = line.readUntil('\0', 3000);
    const double took = nowMs() - start;
    ASSERT_EQ(answer.size(), docSize);
    const double lineTime = (4 + docSize) * 10.0 * 1000.0 / 9600; // about 515 ms
    EXPECT_GE(took, lineTime * 0.95);
    EXPECT_LE(took, lineTime + 500);

    // Unpaced, the same answer comes at once.
    auto fast = startSim(simOptions("KT310-IID", 9600, false));
    ASSERT_TRUE(fast);
    SimLine quick;
    ASSERT_TRUE(quick.open(fast->devicePath(), 9600));
    const double t0 = nowMs();
    ASSERT_TRUE(quick.write(kGetConfiguration));
    EXPECT_EQ(quick.readUntil('\0', 3000).size(), docSize);
    EXPECT_LT(nowMs() - t0, lineTime * 0.5);
}

TEST(VirtualDisplayLine, SettingsSentComeBackInItsDocument)
{
    auto display = startSim(simOptions("KT710-II", 115200));
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 115200));

    ASSERT_TRUE(line.write(kGetConfiguration));
    EXPECT_EQ(line.readUntil('\0', 1000), Bytes(sim::kDefaultSettingsDocument) + '\0');

    const Bytes colour = bytesOf({0x02, 0x07, 0x10, 0xFF, 0x00, 0x80});
    ASSERT_TRUE(line.write(colour));
    EXPECT_EQ(line.readCount(6, 1000), colour);
    const Bytes title = bytesOf({0x02, 0x07, 0x09});
    ASSERT_TRUE(line.write(title));
    EXPECT_EQ(line.readCount(3, 1000), title);
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x07, 0x16, 0x06}) + "Hello \xE9\"x" + '\0'));
    ASSERT_TRUE(line.write(bytesOf({0x1F, 0x58, 0x04})));
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x05, 0x11, 0x02, 0x06, 0x09})));
    ASSERT_TRUE(display->waitForRecord("SetCodePage", 1000));
    ASSERT_TRUE(line.write(kGetConfiguration));
    const Bytes doc = line.readUntil('\0', 1000);
    EXPECT_NE(doc.find("\"bm_font_rgb\":63504,\n"), Bytes::npos) << doc;
    EXPECT_NE(doc.find("\"tp_mode\":9,\n"), Bytes::npos);
    EXPECT_NE(doc.find("\"wel_mess1\":\"Hello \xE9\\\"x\",\n"), Bytes::npos);
    EXPECT_NE(doc.find("\"back_light\":1,\n"), Bytes::npos);
    EXPECT_NE(doc.find("\"Char_No\":17,\n\"Expand_Char_No\":9,\n"), Bytes::npos);
}

TEST(VirtualDisplayLine, SpeedSwitchMovesItToTheNewRate)
{
    auto display = startSim(simOptions("KT310--IIA", 9600));
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 9600));
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00})));
    ASSERT_TRUE(display->waitForRecord("SwitchDeviceBaud", 1000));
    EXPECT_EQ(display->speed(), 115200);
    ASSERT_TRUE(line.write(kModelQuery)); // still at 9600: noise now
    EXPECT_EQ(line.readFor(200), "");
    ASSERT_TRUE(line.setBaud(115200));
    ASSERT_TRUE(line.write(kModelQuery));
    EXPECT_EQ(line.readUntil('\0', 1000), Bytes("KT310--IIA") + '\0');

    // The baud-rate setting also changes its speed and its document.
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x42, '2'})));
    ASSERT_TRUE(display->waitForRecord("SetDeviceBaud", 1000));
    EXPECT_EQ(display->speed(), 38400);
    EXPECT_EQ(display->settings().number("Baud_Rate"), 2);
}

TEST(VirtualDisplayLine, EchoFaultsAndSilence)
{
    auto display = startSim(simOptions("KT310--IIB", 57600));
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 57600));
    const Bytes colour = bytesOf({0x02, 0x07, 0x0B, 0x01, 0x02, 0x03});

    sim::Faults f;
    f.wrongEcho = true;
    display->setFaults(f);
    ASSERT_TRUE(line.write(colour));
    const Bytes wrong = line.readCount(6, 1000);
    ASSERT_EQ(wrong.size(), 6u);
    EXPECT_NE(wrong, colour);
    EXPECT_EQ(wrong.substr(0, 5), colour.substr(0, 5));

    f = {};
    f.garbageBytes = 5;
    display->setFaults(f);
    ASSERT_TRUE(line.write(colour));
    const Bytes noisy = line.readCount(11, 1000);
    ASSERT_EQ(noisy.size(), 11u);
    EXPECT_EQ(noisy.substr(5), colour);

    f = {};
    f.silent = true;
    display->setFaults(f);
    ASSERT_TRUE(line.write(kModelQuery));
    EXPECT_EQ(line.readFor(200), "");
    EXPECT_TRUE(display->waitForRecord("ModelQuery", 500)); // heard, not answered
}

TEST(VirtualDisplayLine, RestartMakesItDeafForAWhile)
{
    sim::Options o = simOptions("KT710--II", 115200);
    o.restartSilenceMs = 300;
    auto display = startSim(o);
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 115200));
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x1D, 0xAA, 0x55})));
    ASSERT_TRUE(display->waitForRecord("RestartDisplay", 1000));
    ASSERT_TRUE(line.write(kModelQuery));
    EXPECT_EQ(line.readFor(100), "");
    ::usleep(300 * 1000);
    ASSERT_TRUE(line.write(kModelQuery));
    EXPECT_EQ(line.readUntil('\0', 1000), Bytes("KT710--II") + '\0');
}

TEST(VirtualDisplayLine, StoresAFileSentByTheBlockMethod)
{
    auto display = startSim(simOptions("KT310--IIA", 115200, true));
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 115200));
    const Bytes file = testFile(700, 1);
    const Bytes setup = bytesOf({0x02, 0x10}) + be32(0x001A9000) + be32(700);
    ASSERT_TRUE(line.write(setup));
    EXPECT_EQ(line.readCount(10, 1000), setup);
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x07, 0x27, 0x27, 0x27})));
    int blocks = 0;
    const Bytes end = serveBlocks(line, file, &blocks);
    EXPECT_EQ(blocks, 3);
    ASSERT_EQ(end.size(), 16u);
    EXPECT_EQ(end.compare(0, 5, "ACT=9"), 0);
    const std::uint16_t crc = sim::crc16(file);
    EXPECT_EQ(byteAt(end, 14), crc >> 8);
    EXPECT_EQ(byteAt(end, 15), crc & 0xFF);
    const auto stored = display->blocks();
    ASSERT_EQ(stored.count(0x001A9000), 1u);
    EXPECT_EQ(stored.at(0x001A9000), file);
}

TEST(VirtualDisplayLine, StoresANamedFileAndReportsItsCrc)
{
    auto display = startSim(simOptions("KT710-II", 115200, true));
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 115200));
    const Bytes file = testFile(1000, 2);
    const std::string crc = std::to_string(sim::crc16(file));
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x07, 0x05, 0x01}) + "850_80x40.bin,1000," + crc + "\n"));
    EXPECT_EQ(line.readCount(4, 1000).substr(0, 2), "OK");
    for (std::size_t at = 0; at <= file.size(); at += 256)
        ASSERT_TRUE(line.write(file.substr(at, 256)));
    EXPECT_EQ(line.readUntil('\n', 2000), crc + "\n");
    EXPECT_EQ(display->files().at("850_80x40.bin"), file);
}

TEST(VirtualDisplayLine, TakesFirmwareThroughTheLoader)
{
    auto display = startSim(simOptions("KT310--IIC", 115200));
    ASSERT_TRUE(display);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 115200));
    ASSERT_TRUE(line.write(bytesOf({0x07, 0x07, 0x07, 0x07})));
    EXPECT_EQ(line.readCount(1, 1000), "A");
    const Bytes image = testFile(600, 3);
    const std::uint16_t crc = sim::crc16(image);
    ASSERT_TRUE(line.write(withCrc("ACT=1,L=002," + be32(600) + bytesOf({std::uint8_t(crc >> 8), std::uint8_t(crc)}))));
    const Bytes end = serveBlocks(line, image);
    ASSERT_EQ(end.size(), 16u);
    EXPECT_EQ(byteAt(end, 14), crc >> 8);
    ASSERT_TRUE(display->firmware().has_value());
    EXPECT_EQ(*display->firmware(), image);
}

TEST(VirtualDisplayLine, HangUpFaultEndsTheLine)
{
    auto display = startSim(simOptions("KT310--IIB", 115200));
    ASSERT_TRUE(display);
    sim::Faults f;
    f.hangUpAfterBlocks = 1;
    display->setFaults(f);
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 115200));
    const Bytes setup = bytesOf({0x02, 0x10}) + be32(0) + be32(1000);
    ASSERT_TRUE(line.write(setup));
    EXPECT_EQ(line.readCount(10, 1000), setup);
    ASSERT_TRUE(line.write(bytesOf({0x02, 0x07, 0x27, 0x27, 0x27})));
    serveBlocks(line, testFile(1000, 4));
    for (int i = 0; i < 100 && !display->hungUp(); ++i)
        ::usleep(10000);
    EXPECT_TRUE(display->hungUp());
    pollfd p{line.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 500), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    char c;
    errno = 0;
    const ssize_t n = ::read(line.fd(), &c, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    EXPECT_EQ(display->transfers().size(), 1u);
    EXPECT_FALSE(display->transfers()[0].complete);
}

TEST(VirtualDisplayLine, WhatItSendsWhileThePortIsClosedIsLost)
{
    auto display = startSim(simOptions("KT710-II", 9600, true));
    ASSERT_TRUE(display);
    const std::size_t docSize = display->settingsText().size() + 1;
    SimLine line;
    ASSERT_TRUE(line.open(display->devicePath(), 9600));
    ASSERT_TRUE(line.write(kGetConfiguration)); // about 650 ms on the wire
    ASSERT_TRUE(display->waitForRecord("GetConfiguration", 1000));
    line.close();
    ::usleep(150 * 1000); // some 140 bytes go out while nobody listens
    ASSERT_TRUE(line.open(display->devicePath(), 9600));
    const Bytes tail = line.readUntil('\0', 1500);
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.back(), '\0');
    EXPECT_LT(tail.size(), docSize - 100);
    // Then it answers normally again.
    ASSERT_TRUE(line.write(kModelQuery));
    EXPECT_EQ(line.readUntil('\0', 1000), Bytes("KT710-II") + '\0');
}

TEST(VirtualDisplayRegistration, LinkAppearsInTheFolderAndGoesOnStop)
{
    const std::string dir = ::testing::TempDir() + "simreg-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    EXPECT_EQ(sim::virtualPortFolder(false), dir + "/tarsel");

    sim::Options o = simOptions("KT310-II", 9600);
    o.registerLink = true;
    o.linkName = "virtual-test";
    std::string link;
    {
        VirtualDisplay display(o);
        ASSERT_TRUE(display.start());
        link = display.linkPath();
        EXPECT_EQ(link, dir + "/tarsel/virtual-test");
        EXPECT_EQ(display.devicePath(), link);
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), display.slavePath());
        struct stat st {};
        ASSERT_EQ(::stat((dir + "/tarsel").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        SimLine line;
        ASSERT_TRUE(line.open(link, 9600));
        ASSERT_TRUE(line.write(kModelQuery));
        EXPECT_EQ(line.readUntil('\0', 1000), Bytes("KT310-II") + '\0');
        display.stop();
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    }
    // A folder open to others is refused.
    ::chmod((dir + "/tarsel").c_str(), 0755);
    std::string why;
    EXPECT_EQ(sim::virtualPortFolder(true, &why), "");
    EXPECT_NE(why, "");
    if (old)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(dir);
}

TEST(VirtualDisplayProgram, StartsRegistersAndStopsOnSignal)
{
    const std::string dir = ::testing::TempDir() + "simprog-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string out = dir + "/out.txt";
    const std::string cmd = "XDG_RUNTIME_DIR=" + dir + " " + TARSEL_SIM_BINARY
        + " --model KT310--IIB --baud 19200 --name prog-test > " + out + " 2>" + dir
        + "/err.txt & echo $! > " + dir + "/pid";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string link = dir + "/tarsel/prog-test";
    for (int i = 0; i < 200 && !std::filesystem::exists(link); ++i)
        ::usleep(10000);
    ASSERT_TRUE(std::filesystem::exists(link));
    SimLine line;
    ASSERT_TRUE(line.open(link, 19200));
    ASSERT_TRUE(line.write(kModelQuery));
    EXPECT_EQ(line.readUntil('\0', 1000), Bytes("KT310--IIB") + '\0');
    line.close();
    ASSERT_EQ(std::system(("kill -TERM $(cat " + dir + "/pid)").c_str()), 0);
    for (int i = 0; i < 200 && std::filesystem::exists(std::filesystem::symlink_status(link)); ++i)
        ::usleep(10000);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(dir);
}
