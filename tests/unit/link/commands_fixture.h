// A link over a scripted line with a virtual clock, shared by the command tests.
#pragma once

#include "link/commands.h"
#include "link/link.h"
#include "support/command_helpers.h"
#include "support/fake_port.h"
#include "util/bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarsel::test {

class LinkTest : public ::testing::Test {
protected:
    LinkTest()
    {
        link.PortName = "/dev/ttyFAKE0";
        link.BaudRate = 38400;
        link.trace = [this](const std::string& line) { traces.push_back(line); };
    }

    // Answers the first frame equal to `frame` with `pieces`, each `delay` ms after the write.
    void answerFrame(const Bytes& frame, std::vector<std::pair<double, Bytes>> pieces)
    {
        line.onWrite = [frame, pieces](FakeLine& l, const Bytes& data) {
            if (data != frame)
                return;
            for (const auto& [delay, bytes] : pieces)
                l.answer(bytes, delay);
        };
    }

    double lastWriteAt() const { return line.writes.empty() ? -1 : line.writes.back().at; }

    VirtualClock clock;
    FakeLine line{clock};
    FakePort cmd{line, "cmd"};
    FakePort text{line, "text"};
    Link link{cmd, text, clock};
    std::vector<std::string> traces;
};

inline Bytes hexBytes(std::initializer_list<std::uint8_t> values) { return bytesOf(values); }

} // namespace tarsel::test
