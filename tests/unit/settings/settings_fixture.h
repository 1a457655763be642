// Shared pieces of the settings tests: the default window state and a scripted
// display on a fake line.
#pragma once

#include "link/link.h"
#include "settings/display_info.h"
#include "settings/settings_document.h"
#include "settings/tables.h"
#include "settings/window_values.h"
#include "support/fake_port.h"
#include "support/recording_outlets.h"
#include "util/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace tarsel::test {

inline Text T(const std::string& utf8) { return Utf8ToUtf16(utf8); }

// The record and window right after the window has applied the default document.
struct DefaultState {
    TDisplayInfo info;
    WindowValues values;
    DefaultState()
    {
        std::string error;
        EXPECT_TRUE(ParseSettingsJson(T(DefaultSettingsJson), info, values, error)) << error;
    }
};

// A line with a display behind it that answers the model query and echoes the
// echoed commands (unless silent).
struct DisplayRig {
    VirtualClock clock;
    FakeLine line{clock};
    FakePort cmd{line, "cmd"};
    FakePort text{line, "text"};
    Link link{cmd, text, clock};
    RecordingOutlets outlets;
    bool silent = false;

    DisplayRig()
    {
        link.PortName = "/dev/ttyFAKE0";
        line.onWrite = [this](FakeLine& l, const Bytes& f) {
            if (silent)
                return;
            if (f == bytesOf({0x02, 0x07, 0x16, 0x01})) {
                l.answer(Bytes("KT310-II") + '\0', 5);
                return;
            }
            if (f.size() >= 3 && f[0] == 0x02 && f[1] == 0x07) {
                const auto c = static_cast<std::uint8_t>(f[2]);
                if ((c >= 0x0B && c <= 0x11 && c != 0x0D) || c == 0x09 || c == 0x0A || c == 0x14)
                    l.answer(f, 5);
            }
        };
    }

    // Every frame written, model queries left out.
    std::vector<Bytes> commandFrames() const
    {
        std::vector<Bytes> out;
        for (const auto& w : line.writes)
            if (w.data != bytesOf({0x02, 0x07, 0x16, 0x01}))
                out.push_back(w.data);
        return out;
    }
};

} // namespace tarsel::test
