#include "support/virtual_line.h"

#include "link/cancel.h"
#include "link/link.h"
#include "link/termios_port.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace tarsel::test {

namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
const char* const kWriteFailedText = "Write failed: Input/output error";

double byteMsAt(int baud) { return baud > 0 ? 10000.0 / baud : 0.0; }

} // namespace

// ---------------------------------------------------------------- the clock

class VirtualLine::LineClock : public Clock {
public:
    explicit LineClock(VirtualLine& line) : m_line(line) {}
    double nowMs() override { return m_line.nowMs(); }
    void sleepMs(double ms) override { m_line.sleep(ms, nullptr); }
    bool sleepMs(double ms, const CancelToken& cancel) override { return m_line.sleep(ms, &cancel); }

private:
    VirtualLine& m_line;
};

// ---------------------------------------------------------------- a handle slot

class VirtualLine::Port : public SerialPort {
public:
    Port(VirtualLine& line, std::string slot) : m_line(line), m_slot(std::move(slot)) {}
    ~Port() override { close(); }

    OpenResult open(const std::string& name, int baud) override;
    bool isOpen() const override;
    void close() override;
    bool write(const Bytes& data, std::string& message) override;
    bool read(Bytes& out, std::string& message) override;
    int bytesWaiting() override;
    LineStatus setBaud(int baud) override;
    bool waitReadable(double timeoutMs) override;
    bool drainOutput(double maxMs, std::string& message) override;
    void purgeInput() override;
    void purgeOutput() override;
    bool hungUp() const override;

private:
    bool openLocked() const { return m_line.m_owner == this; }
    // The reason a line at `baud` cannot be had, or empty.
    std::string speedRefusal(int baud) const;

    VirtualLine& m_line;
    std::string m_slot;
};

std::string VirtualLine::Port::speedRefusal(int baud) const
{
    if (!TermiosPort::isStandardBaud(baud))
        return std::to_string(baud) + " bit/s is not a speed this port can be set to";
    const auto& refused = m_line.m_faults.refusedSpeeds;
    if (std::find(refused.begin(), refused.end(), baud) != refused.end())
        return "the driver kept " + std::to_string(m_line.m_pcBaud > 0 ? m_line.m_pcBaud : 9600) + " bit/s";
    return {};
}

OpenResult VirtualLine::Port::open(const std::string& name, int baud)
{
    std::lock_guard lock(m_line.m_mutex);
    if (openLocked())
        return {kOpenAlreadyOpen, {}, false};
    auto fail = [&](int err, const std::string& why = {}) {
        m_line.m_portEvents.push_back({PortEvent::Kind::OpenFailed, m_line.nowMs(), m_slot, baud});
        OpenResult r;
        r.code = kOpenFailed;
        r.error = why.empty() ? std::strerror(err) : why;
        r.permissionDenied = err == EACCES;
        return r;
    };
    if (m_line.m_hungUp || name.empty() || name != m_line.m_portName)
        return fail(ENOENT);
    if (m_line.m_faults.permissionDenied)
        return fail(EACCES);
    if (m_line.m_faults.busyElsewhere || m_line.m_owner)
        return fail(EBUSY);
    const std::string refusal = speedRefusal(baud);
    if (!refusal.empty())
        return fail(EINVAL, "cannot set up the line at " + std::to_string(baud) + " bit/s 8N1: " + refusal);
    m_line.m_owner = this;
    m_line.m_pcBaud = baud;
    m_line.m_input.clear();
    m_line.m_portEvents.push_back({PortEvent::Kind::Open, m_line.nowMs(), m_slot, baud});
    return {kOpenOk, {}, false};
}

bool VirtualLine::Port::isOpen() const
{
    std::lock_guard lock(m_line.m_mutex);
    return openLocked();
}

void VirtualLine::Port::close()
{
    std::lock_guard lock(m_line.m_mutex);
    if (!openLocked())
        return;
    // Unread answers go with the last close; bytes still in the adapter go on to the display.
    m_line.m_owner = nullptr;
    m_line.m_pcBaud = 0;
    m_line.m_input.clear();
    m_line.m_portEvents.push_back({PortEvent::Kind::Close, m_line.nowMs(), m_slot, 0});
}

bool VirtualLine::Port::write(const Bytes& data, std::string& message)
{
    std::lock_guard lock(m_line.m_mutex);
    if (!openLocked()) {
        message = "3: 6";
        return false;
    }
    if (m_line.m_hungUp || m_line.m_faults.failWrites) {
        message = kWriteFailedText;
        return false;
    }
    if (m_cancel && m_cancel->cancelled()) {
        message = kCancelledText;
        return false;
    }
    m_line.m_writes.push_back({m_line.nowMs(), m_slot, m_line.m_pcBaud, data});
    if (data.empty()) {
        message = "OK";
        return true;
    }
    Burst b;
    b.bytes = data;
    b.start = std::max(m_line.nowMs(), m_line.toDisplayEnd());
    b.byteMs = byteMsAt(m_line.m_pcBaud);
    b.baud = m_line.m_pcBaud;
    m_line.m_toDisplay.push_back(std::move(b));

    // What does not fit into the buffer waits until enough has left on the wire.
    const std::size_t queued = m_line.toDisplayQueued();
    if (queued > kOutputBuffer) {
        std::size_t skip = queued - kOutputBuffer - 1; // the byte whose arrival makes room
        double fits = m_line.nowMs();
        for (const Burst& w : m_line.m_toDisplay) {
            const std::size_t left = w.bytes.size() - w.done;
            if (skip < left) {
                fits = w.arrival(w.done + skip);
                break;
            }
            skip -= left;
        }
        const Moved moved = m_line.advance(fits, m_cancel, [this] { return m_line.m_hungUp; });
        if (m_line.m_hungUp) {
            message = kWriteFailedText;
            return false;
        }
        if (moved == Moved::Cancelled) {
            // Only what had gone into the buffer stays on its way.
            const std::size_t now = m_line.toDisplayQueued();
            if (now > kOutputBuffer) {
                Burst& last = m_line.m_toDisplay.back();
                const std::size_t cut = std::min(now - kOutputBuffer, last.bytes.size() - last.done);
                last.bytes.resize(last.bytes.size() - cut);
                Bytes& kept = m_line.m_writes.back().bytes;
                kept.resize(kept.size() - std::min(cut, kept.size()));
                if (last.done == last.bytes.size())
                    m_line.m_toDisplay.pop_back();
            }
            message = kCancelledText;
            return false;
        }
    }
    message = "OK";
    return true;
}

bool VirtualLine::Port::read(Bytes& out, std::string& message)
{
    std::lock_guard lock(m_line.m_mutex);
    out.clear();
    if (openLocked() && m_line.m_hungUp) {
        message = TermiosPort::kHangUpMessage;
        return false;
    }
    if (!openLocked() || m_line.m_input.empty()) {
        message = TermiosPort::kNothingReadMessage;
        return false;
    }
    const std::size_t n = std::min<std::size_t>(m_line.m_input.size(), kMaxRead);
    out = m_line.m_input.substr(0, n);
    m_line.m_input.erase(0, n);
    message = "OK";
    return true;
}

int VirtualLine::Port::bytesWaiting()
{
    std::lock_guard lock(m_line.m_mutex);
    if (!openLocked() || m_line.m_hungUp)
        return 0;
    return static_cast<int>(m_line.m_input.size());
}

LineStatus VirtualLine::Port::setBaud(int baud)
{
    std::lock_guard lock(m_line.m_mutex);
    if (!openLocked())
        return {};
    const std::string refusal = speedRefusal(baud);
    if (!refusal.empty())
        return {false, refusal};
    m_line.m_pcBaud = baud;
    m_line.m_portEvents.push_back({PortEvent::Kind::SetBaud, m_line.nowMs(), m_slot, baud});
    return {};
}

bool VirtualLine::Port::waitReadable(double timeoutMs)
{
    std::lock_guard lock(m_line.m_mutex);
    if (!openLocked())
        return false;
    auto ready = [this] { return !m_line.m_input.empty() || m_line.m_hungUp; };
    if (ready())
        return true;
    if (m_cancel && m_cancel->cancelled())
        return false;
    m_line.advance(m_line.nowMs() + std::max(timeoutMs, kMinWaitMs), m_cancel, ready);
    return ready();
}

bool VirtualLine::Port::drainOutput(double maxMs, std::string& message)
{
    std::lock_guard lock(m_line.m_mutex);
    if (!openLocked()) {
        message = "3: 6";
        return false;
    }
    auto hungUp = [this] { return m_line.m_hungUp; };
    if (hungUp()) {
        message = TermiosPort::kHangUpMessage;
        return false;
    }
    if (m_cancel && m_cancel->cancelled()) {
        message = kCancelledText;
        return false;
    }
    const double drained = m_line.toDisplayEnd();
    if (drained > m_line.nowMs()) {
        const double deadline = m_line.nowMs() + std::max(0.0, maxMs);
        const Moved moved = m_line.advance(std::min(drained, deadline), m_cancel, hungUp);
        if (hungUp()) {
            message = TermiosPort::kHangUpMessage;
            return false;
        }
        if (moved == Moved::Cancelled) {
            message = kCancelledText;
            return false;
        }
        if (m_line.nowMs() < drained) {
            message = "Write failed: the output did not drain in time";
            return false;
        }
    }
    message = "OK";
    return true;
}

void VirtualLine::Port::purgeInput()
{
    std::lock_guard lock(m_line.m_mutex);
    if (openLocked())
        m_line.m_input.clear();
}

void VirtualLine::Port::purgeOutput()
{
    std::lock_guard lock(m_line.m_mutex);
    if (!openLocked() || m_line.m_toDisplay.empty())
        return;
    // The byte on the wire now goes on; everything behind it is gone.
    Burst& front = m_line.m_toDisplay.front();
    const bool inFlight = front.start + static_cast<double>(front.done) * front.byteMs < m_line.nowMs();
    const std::size_t keep = front.done + (inFlight ? 1 : 0);
    front.bytes.resize(keep);
    m_line.m_toDisplay.resize(1);
    if (front.done == front.bytes.size())
        m_line.m_toDisplay.clear();
}

bool VirtualLine::Port::hungUp() const
{
    std::lock_guard lock(m_line.m_mutex);
    return m_line.m_hungUp;
}

// ---------------------------------------------------------------- the line

VirtualLine::VirtualLine(sim::DisplayCore::Config config, double startMs)
    : m_now(startMs), m_clock(std::make_unique<LineClock>(*this)), m_core(std::move(config))
{
    m_core.onRecord = [this](const sim::Record& r) {
        for (const auto& hook : m_recordHooks)
            hook(r);
    };
}

VirtualLine::~VirtualLine() = default;

Clock& VirtualLine::clock() { return *m_clock; }

std::unique_ptr<SerialPort> VirtualLine::makePort(const std::string& slot)
{
    return std::make_unique<Port>(*this, slot);
}

std::string VirtualLine::portName() const
{
    std::lock_guard lock(m_mutex);
    return m_portName;
}

void VirtualLine::setPortName(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    m_portName = name;
}

void VirtualLine::setPortFaults(const PortFaults& faults)
{
    std::lock_guard lock(m_mutex);
    m_faults = faults;
}

void VirtualLine::hangUp()
{
    std::lock_guard lock(m_mutex);
    hangUpLocked();
}

bool VirtualLine::hungUp() const
{
    std::lock_guard lock(m_mutex);
    return m_hungUp;
}

void VirtualLine::hangUpLocked()
{
    m_hungUp = true;
    m_input.clear();
    m_toDisplay.clear();
    m_answers.clear();
    m_toPc.clear();
}

void VirtualLine::runUntil(double ms)
{
    std::lock_guard lock(m_mutex);
    advance(ms, nullptr);
}

void VirtualLine::at(double ms, std::function<void()> callback)
{
    std::lock_guard lock(m_mutex);
    m_timers.emplace(ms, std::move(callback));
}

void VirtualLine::onRecord(std::function<void(const sim::Record&)> callback)
{
    std::lock_guard lock(m_mutex);
    m_recordHooks.push_back(std::move(callback));
}

std::vector<sim::Record> VirtualLine::records() const
{
    std::lock_guard lock(m_mutex);
    return m_core.records();
}

std::vector<sim::Record> VirtualLine::recordsNamed(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    std::vector<sim::Record> out;
    for (const auto& r : m_core.records())
        if (r.name == name)
            out.push_back(r);
    return out;
}

int VirtualLine::displaySpeed() const
{
    std::lock_guard lock(m_mutex);
    return m_core.speed();
}

int VirtualLine::pcSpeed() const
{
    std::lock_guard lock(m_mutex);
    return m_owner ? m_pcBaud : 0;
}

std::vector<VirtualLine::PortEvent> VirtualLine::portEvents() const
{
    std::lock_guard lock(m_mutex);
    return m_portEvents;
}

std::vector<VirtualLine::Write> VirtualLine::writes() const
{
    std::lock_guard lock(m_mutex);
    return m_writes;
}

Bytes VirtualLine::written(const std::string& slot) const
{
    std::lock_guard lock(m_mutex);
    Bytes all;
    for (const auto& w : m_writes)
        if (slot.empty() || w.slot == slot)
            all += w.bytes;
    return all;
}

std::size_t VirtualLine::lostBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_lost;
}

double VirtualLine::toDisplayEnd() const { return m_toDisplay.empty() ? -kNever : m_toDisplay.back().end(); }

std::size_t VirtualLine::toDisplayQueued() const
{
    std::size_t n = 0;
    for (const Burst& b : m_toDisplay)
        n += b.bytes.size() - b.done;
    return n;
}

bool VirtualLine::sleep(double ms, const CancelToken* cancel)
{
    std::lock_guard lock(m_mutex);
    if (cancel && cancel->cancelled())
        return false;
    if (ms > 0)
        return advance(nowMs() + ms, cancel) != Moved::Cancelled;
    return true;
}

// ---------------------------------------------------------------- time

VirtualLine::Event VirtualLine::nextEvent(double& when) const
{
    // At equal times: test callbacks, then the display's deadlines (a gap that has
    // lasted its full length has passed), bytes reaching it, its answers leaving, and
    // bytes reaching the PC.
    Event event = Event::None;
    when = kNever;
    auto consider = [&](double t, Event e) {
        if (t < when) {
            when = t;
            event = e;
        }
    };
    if (!m_timers.empty())
        consider(m_timers.begin()->first, Event::Callback);
    double deadline = m_core.nextDeadline();
    // A deadline the display has just been ticked for cannot come again at once.
    if (deadline <= m_lastTick)
        deadline = m_lastTick + kMinWaitMs;
    consider(deadline, Event::Deadline);
    if (!m_toDisplay.empty())
        consider(m_toDisplay.front().arrival(m_toDisplay.front().done), Event::ToDisplay);
    if (!m_answers.empty())
        consider(m_answers.front().due, Event::AnswerLeaves);
    if (!m_toPc.empty())
        consider(m_toPc.front().arrival(m_toPc.front().done), Event::ToPc);
    return event;
}

VirtualLine::Moved VirtualLine::advance(double target, const CancelToken* cancel, const std::function<bool()>& stop)
{
    // A callback that sleeps or waits would move time from inside the move.
    if (m_advancing)
        return Moved::Reached;
    m_advancing = true;
    Moved moved = Moved::Reached;
    for (;;) {
        if (cancel && cancel->cancelled()) {
            moved = Moved::Cancelled;
            break;
        }
        if (stop && stop()) {
            moved = Moved::Stopped;
            break;
        }
        double when = 0;
        const Event event = nextEvent(when);
        if (event == Event::None || when > target) {
            setNow(std::max(nowMs(), target));
            break;
        }
        setNow(std::max(nowMs(), when));
        handle(event);
    }
    m_advancing = false;
    return moved;
}

void VirtualLine::handle(Event event)
{
    const double now = nowMs();
    switch (event) {
    case Event::None:
        break;
    case Event::Callback: {
        auto node = m_timers.extract(m_timers.begin());
        node.mapped()();
        break;
    }
    case Event::Deadline:
        m_lastTick = now;
        apply(m_core.tick(now), now);
        break;
    case Event::ToDisplay: {
        // Byte by byte: a frame in the middle of a write may change the display's speed,
        // and the bytes behind it then reach a display that listens at another one.
        Burst& b = m_toDisplay.front();
        const Bytes byte(1, b.bytes[b.done]);
        const int baud = b.baud;
        if (++b.done == b.bytes.size())
            m_toDisplay.pop_front();
        if (baud == m_core.speed())
            apply(m_core.receive(byte, now), now);
        else
            m_core.noise(byte, now);
        break;
    }
    case Event::AnswerLeaves: {
        Answer a = std::move(m_answers.front());
        m_answers.pop_front();
        if (m_hungUp || a.bytes.empty())
            break;
        Burst b;
        b.bytes = std::move(a.bytes);
        b.start = std::max(now, m_toPc.empty() ? now : m_toPc.back().end());
        b.baud = m_core.speed();
        b.byteMs = byteMsAt(b.baud);
        m_toPc.push_back(std::move(b));
        break;
    }
    case Event::ToPc: {
        Burst& b = m_toPc.front();
        const char c = b.bytes[b.done];
        const int baud = b.baud;
        if (++b.done == b.bytes.size())
            m_toPc.pop_front();
        // Heard only by an open port at the same speed.
        if (m_owner && m_pcBaud == baud && !m_hungUp)
            m_input.push_back(c);
        else
            ++m_lost;
        break;
    }
    }
}

void VirtualLine::apply(const std::vector<sim::Action>& actions, double atMs)
{
    for (const sim::Action& a : actions) {
        switch (a.kind) {
        case sim::Action::Kind::Send: {
            Answer answer{atMs + a.delayMs, a.bytes};
            auto pos = std::upper_bound(m_answers.begin(), m_answers.end(), answer.due,
                                        [](double due, const Answer& x) { return due < x.due; });
            m_answers.insert(pos, std::move(answer));
            break;
        }
        case sim::Action::Kind::SetSpeed:
            break; // the core runs at its new speed from now on
        case sim::Action::Kind::HangUp:
            hangUpLocked();
            return;
        }
    }
}

} // namespace tarsel::test
