// Device commands over a real pty against the virtual display, in real time.
#include "link/commands.h"
#include "support/command_helpers.h"
#include "link/link.h"
#include "link/port_list.h"
#include "link/ports.h"
#include "link/termios_port.h"
#include "support/sim_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include <termios.h>

namespace tarsel {
namespace {

using test::detect;
using test::readVersion;

struct RealLink {
    TermiosPort cmd, text;
    SteadyClock clock;
    Link link{cmd, text, clock};
    std::vector<std::string> traces;

    RealLink(const std::string& port, int baud)
    {
        link.PortName = port;
        link.BaudRate = baud;
        link.trace = [this](const std::string& line) { traces.push_back(line); };
    }
};

TEST(CommandsOnVirtualDisplay, DetectModelFindsTheDisplayOnlyAtItsSpeed)
{
    auto sim = test::startSim(test::simOptions("KT710-II", 38400, /*pacing=*/true));
    ASSERT_TRUE(sim);

    RealLink at38400(sim->devicePath(), 38400);
    Status st;
    EXPECT_EQ(detect(at38400.link, st), 6) << st.text;
    EXPECT_FALSE(at38400.cmd.isOpen());
    ASSERT_FALSE(at38400.traces.empty());
    EXPECT_EQ(at38400.traces.back(), "<---- " "4B543731302D494900");

    RealLink at9600(sim->devicePath(), 9600);
    const double start = at9600.clock.nowMs();
    EXPECT_EQ(detect(at9600.link, st), -1);
    const double took = at9600.clock.nowMs() - start;
    EXPECT_EQ(st.text, "Not found Device : Time out !");
    EXPECT_GE(took, 186.4);
    EXPECT_FALSE(at9600.cmd.isOpen());
    // The display heard the query at 9600 only as noise.
    EXPECT_FALSE(sim->recordsNamed("Noise").empty());
}

TEST(CommandsOnVirtualDisplay, RegisteredDisplayIsListedAndAnswersThroughItsLink)
{
    sim::Options options = test::simOptions("KT310--IIB", 115200, true);
    options.registerLink = true;
    auto sim = test::startSim(options);
    ASSERT_TRUE(sim);
    ASSERT_FALSE(sim->linkPath().empty());

    std::vector<std::string> ports;
    Status st;
    std::string message;
    ASSERT_TRUE(ListComPorts(ports, message)) << message;
    EXPECT_NE(std::find(ports.begin(), ports.end(), sim->linkPath()), ports.end());

    RealLink link(sim->linkPath(), 115200);
    EXPECT_EQ(detect(link.link, st), 1) << st.text;
    EXPECT_EQ(readVersion(link.link), 12);
}

TEST(CommandsOnVirtualDisplay, TextPortIsRefusedWhileCmdPortIsOpen)
{
    auto sim = test::startSim(test::simOptions("KT710-II", 115200));
    ASSERT_TRUE(sim);
    RealLink link(sim->devicePath(), 115200);
    Status st;
    ASSERT_TRUE((st = OpenCmdPort(link.link))) << st.text;

    // ClearDisplay needs TextPort: the same port, exclusively held by CmdPort. The
    // system's reason follows the st.text on a line of its own.
    EXPECT_FALSE((st = ClearDisplay(link.link)));
    EXPECT_EQ(st.text, " Error opening serial port!\n" + link.link.PortName + ": Device or resource busy");

    // CmdPort still works.
    EXPECT_TRUE((st = ProbeModel(link.link))) << st.text;
    CloseCmdPort(link.link);
}

TEST(CommandsOnVirtualDisplay, EchoedColourCommandSucceeds)
{
    auto sim = test::startSim(test::simOptions("KT310-IID", 57600, true));
    ASSERT_TRUE(sim);
    RealLink link(sim->devicePath(), 57600);
    Status st;
    EXPECT_TRUE((st = SetTextColor(link.link, ColorArea::Footer, 0x8000FF))) << st.text;
    EXPECT_EQ(st.text, "OK");
    ASSERT_EQ(sim->recordsNamed("SetTextColor").size(), 1u);
    EXPECT_EQ(sim->recordsNamed("SetTextColor")[0].bytes, bytesOf({0x02, 0x07, 0x10, 0xFF, 0x00, 0x80}));
}

TEST(CommandsOnVirtualDisplay, HangUpDuringAWaitEndsPromptlyWithAMessage)
{
    sim::Options options = test::simOptions("KT710-II", 115200);
    options.faults.silent = true;
    auto sim = test::startSim(options);
    ASSERT_TRUE(sim);
    RealLink link(sim->devicePath(), 115200);

    // WaitDeviceReady on a silent line would take about 10 s; the display goes away after 300 ms.
    auto waited = std::async(std::launch::async, [&] {
        Status st;
        const double start = link.clock.nowMs();
        const bool ready = (st = WaitDeviceReady(link.link, /*keepOpen=*/false)).ok();
        return std::make_tuple(ready, st.text, link.clock.nowMs() - start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sim->stop();

    ASSERT_EQ(waited.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the wait hung";
    auto [ready, text, took] = waited.get();
    EXPECT_FALSE(ready);
    EXPECT_FALSE(text.empty());
    EXPECT_LT(took, 3000.0);
    EXPECT_FALSE(link.cmd.isOpen());
}

TEST(CommandsOnVirtualDisplay, SettingsDocumentArrivesWholeWithItsTerminator)
{
    auto sim = test::startSim(test::simOptions("KT710-II", 115200, true));
    ASSERT_TRUE(sim);
    RealLink link(sim->devicePath(), 115200);
    Bytes reply;
    Status st;
    ASSERT_TRUE((st = GetConfiguration(link.link, reply))) << st.text;
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply.back(), '\0');
    EXPECT_EQ(reply.substr(0, reply.size() - 1), sim->settingsText());
}

} // namespace
} // namespace tarsel

namespace tarsel {

// Another program left RTS/CTS on: on a three-wire cable nothing it sends gets out
// (the virtual display holds the bytes, as a line whose CTS never rises does). The
// program's own open turns flow control off, so Connect's query is answered.
TEST(CommandsOnVirtualDisplay, ModelQueryWorksAfterRtsCtsWasLeftOn)
{
    auto sim = test::startSim(test::simOptions("KT710-II", 38400, true));
    ASSERT_TRUE(sim);
    test::SimLine other;
    ASSERT_TRUE(other.open(sim->devicePath(), 38400));
    struct termios tio {};
    ASSERT_EQ(::tcgetattr(other.fd(), &tio), 0);
    tio.c_cflag |= CRTSCTS;
    ASSERT_EQ(::tcsetattr(other.fd(), TCSANOW, &tio), 0);
    ASSERT_TRUE(other.write(bytesOf({0x02, 0x07, 0x16, 0x01})));
    EXPECT_EQ(other.readFor(300), "") << "held by flow control";
    EXPECT_TRUE(sim->recordsNamed("ModelQuery").empty());
    // Held, not lost: with flow control off the query goes out and is answered.
    tio.c_cflag &= ~CRTSCTS;
    ASSERT_EQ(::tcsetattr(other.fd(), TCSANOW, &tio), 0);
    EXPECT_EQ(other.readUntil('\0', 1000), Bytes("KT710-II", 8) + '\0');
    tio.c_cflag |= CRTSCTS;
    ASSERT_EQ(::tcsetattr(other.fd(), TCSANOW, &tio), 0);
    other.close(); // the line keeps its settings, as a real port does

    RealLink link(sim->devicePath(), 38400);
    Status st;
    EXPECT_EQ(detect(link.link, st), 6) << st.text;
}

} // namespace tarsel
