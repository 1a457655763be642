// The program's link over a VirtualLine: its commands and procedures against the
// display core in virtual time.
#pragma once

#include "link/link.h"
#include "support/virtual_line.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tarsel::test {

// A display of `model` listening at `baud`, with the factory settings.
inline sim::DisplayCore::Config displayConfig(const std::string& model = "KT710-II", int baud = 9600)
{
    sim::DisplayCore::Config c;
    c.model = model;
    c.baud = baud;
    return c;
}

// The line, both handle slots and a Link with PortName set to the line's port, BaudRate
// to the display's speed and the trace collected in `traces`.
struct VirtualLink {
    explicit VirtualLink(sim::DisplayCore::Config config = displayConfig())
        : line(config), cmdPort(line.makePort("cmd")), textPort(line.makePort("text")),
          link(*cmdPort, *textPort, line.clock())
    {
        link.PortName = line.portName();
        link.BaudRate = config.baud;
        link.trace = [this](const std::string& l) { traces.push_back(l); };
    }

    VirtualLine line;
    std::unique_ptr<SerialPort> cmdPort;
    std::unique_ptr<SerialPort> textPort;
    Link link;
    std::vector<std::string> traces;
};

// A test on a virtual line; a fixture for another display passes its config:
//   class Kt310Test : public VirtualLinkTest {
//   protected:
//       Kt310Test() : VirtualLinkTest(displayConfig("KT310--IIA", 115200)) {}
//   };
class VirtualLinkTest : public ::testing::Test {
protected:
    explicit VirtualLinkTest(sim::DisplayCore::Config config = displayConfig()) : rig(std::move(config)) {}

    VirtualLink rig;
    VirtualLine& line = rig.line;
    Link& link = rig.link;
    SerialPort& cmd = *rig.cmdPort;
    SerialPort& text = *rig.textPort;
    std::vector<std::string>& traces = rig.traces;
};

} // namespace tarsel::test
