// The display's answers as the commands read them: the model name (model query),
// the version bytes and the settings document (settings query), arriving in pieces
// over a scripted line with a virtual clock. The input is a list of pieces, each a
// length byte and that many bytes; a length of 0 is a read that finds nothing.
// Properties: every command returns within its limits of virtual time, a model
// index is -1 or a known model's, a complete settings reply ends with its 00, and a
// reply applied to the window leaves only plain texts.
#include "fuzz_check.h"

#include "link/commands.h"
#include "link/models.h"
#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "util/codepage.h"
#include "util/text.h"

#include <cstddef>
#include <cstdint>
#include <deque>

using namespace tarsel;

namespace {

class VirtualClock : public Clock {
public:
    using Clock::sleepMs;
    double nowMs() override { return now; }
    void sleepMs(double ms) override { now += ms > 0 ? ms : 0; }
    double now = 0;
};

// A line whose answers are the input's pieces, one per read, in order; each read
// and each wait takes virtual time, so the commands' limits are reached.
class ScriptedPort : public SerialPort {
public:
    ScriptedPort(VirtualClock& clock, std::deque<Bytes> pieces) : m_clock(clock), m_pieces(std::move(pieces)) {}
    OpenResult open(const std::string&, int) override
    {
        m_open = true;
        return {};
    }
    bool isOpen() const override { return m_open; }
    void close() override { m_open = false; }
    bool write(const Bytes&, std::string& message) override
    {
        message = "OK";
        return m_open;
    }
    bool read(Bytes& out, std::string& message) override
    {
        out.clear();
        m_clock.sleepMs(0.5);
        if (m_pieces.empty() || m_pieces.front().empty()) {
            if (!m_pieces.empty())
                m_pieces.pop_front();
            message = "Failed to read data";
            return false;
        }
        out = std::move(m_pieces.front());
        m_pieces.pop_front();
        message = "OK";
        return true;
    }
    int bytesWaiting() override { return m_pieces.empty() ? 0 : static_cast<int>(m_pieces.front().size()); }
    LineStatus setBaud(int) override { return {}; }
    bool waitReadable(double timeoutMs) override
    {
        if (!m_pieces.empty() && !m_pieces.front().empty())
            return true;
        m_clock.sleepMs(m_pieces.empty() ? timeoutMs : std::min(timeoutMs, 5.0));
        if (!m_pieces.empty())
            m_pieces.pop_front(); // a quiet stretch passed
        return false;
    }
    bool drainOutput(double, std::string& message) override
    {
        message = "OK";
        return m_open;
    }
    void purgeInput() override {}

private:
    VirtualClock& m_clock;
    std::deque<Bytes> m_pieces;
    bool m_open = false;
};

std::deque<Bytes> pieces(const std::uint8_t* data, std::size_t size)
{
    std::deque<Bytes> out;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t n = std::min<std::size_t>(data[at], size - at - 1);
        out.emplace_back(reinterpret_cast<const char*>(data + at + 1), n);
        at += 1 + n;
    }
    return out;
}

struct Rig {
    VirtualClock clock;
    ScriptedPort cmd;
    ScriptedPort text;
    Link link;
    Rig(const std::deque<Bytes>& answers) : cmd(clock, answers), text(clock, {}), link(cmd, text, clock)
    {
        link.PortName = "/dev/ttyFUZZ";
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::deque<Bytes> answers = pieces(data, size);

    {
        Rig rig(answers);
        int model = -2;
        const Status status = DetectModel(rig.link, model);
        TARSEL_FUZZ_CHECK(model >= -1 && model < kModelCount);
        TARSEL_FUZZ_CHECK(status.ok() == (model >= 0));
        TARSEL_FUZZ_CHECK(model >= 0 || !status.text.empty());
        // The pause, the limit and one last read: never much past the limit.
        TARSEL_FUZZ_CHECK(rig.clock.now <= kModelQueryPauseMs + kDetectModelLimitMs + 10);
        TARSEL_FUZZ_CHECK(!rig.cmd.isOpen());
    }
    {
        Rig rig(answers);
        rig.cmd.open("", 0);
        const Status status = ProbeModel(rig.link);
        TARSEL_FUZZ_CHECK(status.ok() == (status.text == "OK"));
        TARSEL_FUZZ_CHECK(status.ok() || status.code == Code::TimedOut || status.code == Code::Refused);
        TARSEL_FUZZ_CHECK(rig.clock.now <= kModelQueryPauseMs + kProbeModelLimitMs + 10);
    }
    {
        Rig rig(answers);
        int version = -1;
        ReadVersion(rig.link, version);
        TARSEL_FUZZ_CHECK(answers.empty() || answers.front().empty() || version == 0 ||
                          static_cast<unsigned>(version) == static_cast<unsigned>(std::stoul(
                              [&] {
                                  // The last 8 hex digits of the answer: what fits 32 bits.
                                  std::string hex;
                                  for (unsigned char c : answers.front()) {
                                      static const char* digits = "0123456789ABCDEF";
                                      hex += digits[c >> 4];
                                      hex += digits[c & 15];
                                  }
                                  return hex.size() > 8 ? hex.substr(hex.size() - 8) : hex;
                              }(),
                              nullptr, 16)));
    }
    {
        Rig rig(answers);
        Bytes reply;
        const bool complete = GetConfiguration(rig.link, reply).ok();
        TARSEL_FUZZ_CHECK(rig.clock.now <= kGetConfigurationPauseMs + kGetConfigurationLimitMs + 10);
        if (complete) {
            TARSEL_FUZZ_CHECK(!reply.empty() && reply.back() == '\0');
        } else {
            TARSEL_FUZZ_CHECK(reply.empty());
        }
        static const auto start = [] {
            std::pair<TDisplayInfo, WindowValues> s;
            std::string error;
            ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), s.first, s.second, error);
            return s;
        }();
        TDisplayInfo info = start.first;
        WindowValues values = start.second;
        const ApplyResult result = ApplyDisplaySettings(reply, info, values);
        const bool applied = result.applied;
        TARSEL_FUZZ_CHECK(!result.status.text.empty());
        TARSEL_FUZZ_CHECK(applied == result.status.ok());
        TARSEL_FUZZ_CHECK(!applied || (IsPlainDisplayText(info.wel_mess1) && IsPlainDisplayText(info.wel_mess2) &&
                                       IsPlainDisplayText(info.main_str)));
    }
    return 0;
}
