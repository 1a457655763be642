#include "link/port_list.h"
#include "link/termios_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarsel;

TEST(PortNames, SortAsTextIgnoringCase)
{
    struct Case { std::vector<std::string> in, out; };
    const std::vector<Case> cases = {
        {{"COM2", "COM10", "COM1"}, {"COM1", "COM10", "COM2"}},
        {{"com3", "COM2", "Com1"}, {"Com1", "COM2", "com3"}},
        {{"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyACM0", "/dev/rfcomm0"},
         {"/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB0"}},
        // Folded to lower case, so '_' (5F) sorts before letters (61..7A).
        {{"COMa", "COM_1"}, {"COM_1", "COMa"}},
        {{"COM1", "COM"}, {"COM", "COM1"}},
        // Names equal but for case keep a fixed order, whatever order they came in.
        {{"com1", "COM1"}, {"COM1", "com1"}},
        {{"COM1", "com1"}, {"COM1", "com1"}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        auto names = c.in;
        SortPortNames(names);
        EXPECT_EQ(names, c.out);
    }
}

TEST(PortNames, LessIsAStrictOrdering)
{
    const std::vector<std::string> names = {"", "a", "A", "b", "B1", "b1", "COM10", "COM2", "_", "\xC3\xA9"};
    for (const auto& a : names) {
        EXPECT_FALSE(PortNameLess(a, a)) << a;
        for (const auto& b : names) {
            if (a != b) {
                EXPECT_NE(PortNameLess(a, b), PortNameLess(b, a)) << a << " / " << b;
            }
        }
    }
}

TEST(TermiosSpeeds, OnlyStandardSpeedsAreSet)
{
    for (int baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600})
        EXPECT_TRUE(TermiosPort::isStandardBaud(baud)) << baud;
    // 0 would mean "hang up" to termios; the others have no speed code.
    for (int baud : {0, -9600, 14400, 128000, 256000, 12345})
        EXPECT_FALSE(TermiosPort::isStandardBaud(baud)) << baud;
}

TEST(TermiosPort, ClosedSlotFollowsTheContract)
{
    TermiosPort port;
    std::string message;
    Bytes out = "stale";
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.write("x", message));
    EXPECT_EQ(message, "3: 6");
    EXPECT_FALSE(port.read(out, message));
    EXPECT_EQ(out, "");
    EXPECT_EQ(message, "Failed to read data");
    EXPECT_EQ(port.bytesWaiting(), 0);
    EXPECT_FALSE(port.waitReadable(0));
    port.setBaud(9600);
    port.purgeInput();
    port.close();
    EXPECT_FALSE(port.isOpen());
}
