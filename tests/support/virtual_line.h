// A serial line in virtual time whose far end is the display core itself.
//
//   VirtualLine line(config);               // a sim::DisplayCore::Config
//   auto cmd = line.makePort("cmd");        // the program's two handle slots
//   auto text = line.makePort("text");
//   Link link(*cmd, *text, line.clock());
//   link.PortName = line.portName();
//   ... run the program's commands and procedures ...
//   line.records(), line.withDisplay([](const sim::DisplayCore& d) { ... }), line.writes()
//
// Time moves only when the program sleeps on line.clock(), waits on a port
// (waitReadable, drainOutput) or blocks in a write. When it moves, everything in between
// happens in time order: the program's bytes reach the display 10 bits each at the speed
// they were sent at, once their last bit is in; the display meets its deadlines (quiet
// gaps, block re-requests); its answers leave at the speed it runs at then and reach the
// PC byte by byte; callbacks scheduled with at() run. Every limit of the program is
// therefore kept exactly, without real time passing and without regard to how busy the
// machine is.
//
// Thread safety: every call may come from any thread; one mutex guards the line. The
// thread that moves time runs the at() and onRecord() callbacks with that mutex held:
// they may use the line's accessors and cancel a job, but must not move time (a sleep or
// wait inside a callback returns at once) nor wait for another thread that uses the line.
#pragma once

#include "link/clock.h"
#include "link/serial_port.h"
#include "sim/display_core.h"
#include "util/bytes.h"

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarsel::test {

class VirtualLine {
public:
    // A display of `config` at the far end; the clock starts at `startMs`.
    explicit VirtualLine(sim::DisplayCore::Config config = {}, double startMs = 1000.0);
    ~VirtualLine();
    VirtualLine(const VirtualLine&) = delete;
    VirtualLine& operator=(const VirtualLine&) = delete;

    // The line's clock: the program's Link clock.
    Clock& clock();
    double nowMs() const { return m_now.load(std::memory_order_acquire); }

    // A handle slot on this line, named `slot` in writes() and portEvents() ("cmd",
    // "text"). Every slot is a way to the same port: while one is open, opening another
    // fails as a busy port does. Ports must not outlive the line.
    std::unique_ptr<SerialPort> makePort(const std::string& slot);

    // The device name an open must give; any other name does not exist.
    std::string portName() const;
    void setPortName(const std::string& name);

    // Trouble on the PC's side.
    struct PortFaults {
        bool permissionDenied = false;  // opens fail for lack of permission
        bool busyElsewhere = false;     // another program holds the port
        std::vector<int> refusedSpeeds; // opens and setBaud at these speeds fail
        bool failWrites = false;        // every write fails
    };
    void setPortFaults(const PortFaults& faults);

    // The adapter is unplugged now: reads fail with the hang-up message, writes fail,
    // waits end at once, and the port no longer exists for an open.
    void hangUp();
    bool hungUp() const;

    // Moves time on without the program (e.g. to let the display's deadlines pass).
    void runUntil(double ms);
    void runFor(double ms) { runUntil(nowMs() + ms); }

    // Runs `callback` once time reaches `ms` (at once on the next move when it already has).
    void at(double ms, std::function<void()> callback);
    // Runs `callback` for every frame the display records from now on.
    void onRecord(std::function<void(const sim::Record&)> callback);

    // The display, under the line's lock.
    template <class F>
    auto withDisplay(F f)
    {
        std::lock_guard lock(m_mutex);
        return f(m_core);
    }
    std::vector<sim::Record> records() const;
    std::vector<sim::Record> recordsNamed(const std::string& name) const;
    int displaySpeed() const;
    int pcSpeed() const; // the speed of the open slot; 0 while none is open

    // Every open, failed open, close and speed change of the PC's side.
    struct PortEvent {
        enum class Kind { Open, OpenFailed, Close, SetBaud };
        Kind kind = Kind::Open;
        double atMs = 0;
        std::string slot;
        int baud = 0;
    };
    std::vector<PortEvent> portEvents() const;

    // Every successful write: when it was made, through which slot, at which speed. A
    // write cut short by a cancel holds only the bytes that went into the buffer.
    struct Write {
        double atMs = 0;
        std::string slot;
        int baud = 0;
        Bytes bytes;
    };
    std::vector<Write> writes() const;
    // All bytes written (through `slot` only when given).
    Bytes written(const std::string& slot = {}) const;
    // The display's bytes that arrived while no slot listened at their speed.
    std::size_t lostBytes() const;

    // What the driver and adapter hold between the program and the wire.
    static constexpr std::size_t kOutputBuffer = 4096;
    // The least time a wait takes, as a poll does: a wait that ends at its limit is past it.
    static constexpr double kMinWaitMs = 0.001;

private:
    class Port;
    class LineClock;

    // Bytes on one direction's wire: byte i has fully arrived at start + (i + 1) * byteMs.
    struct Burst {
        Bytes bytes;
        std::size_t done = 0; // bytes that have arrived
        double start = 0;
        double byteMs = 0;
        int baud = 0;
        double arrival(std::size_t i) const { return start + static_cast<double>(i + 1) * byteMs; }
        double end() const { return arrival(bytes.size() - 1); }
    };
    struct Answer {
        double due;
        Bytes bytes;
    };
    enum class Event { None, Callback, Deadline, ToDisplay, AnswerLeaves, ToPc };
    enum class Moved { Reached, Cancelled, Stopped };

    // Moves time to `target` (with the lock held), handling every event on the way, and
    // stops early when `cancel` is cancelled or `stop` holds after an event.
    Moved advance(double target, const CancelToken* cancel, const std::function<bool()>& stop = {});
    Event nextEvent(double& when) const;
    void handle(Event event);
    void apply(const std::vector<sim::Action>& actions, double atMs);
    void hangUpLocked();
    void setNow(double ms) { m_now.store(ms, std::memory_order_release); }
    double toDisplayEnd() const;   // when the last byte written will have arrived
    std::size_t toDisplayQueued() const;
    bool sleep(double ms, const CancelToken* cancel);

    mutable std::recursive_mutex m_mutex;
    std::atomic<double> m_now;
    std::unique_ptr<LineClock> m_clock;
    sim::DisplayCore m_core;
    std::string m_portName = "/dev/ttyVIRTUAL0";
    PortFaults m_faults;
    bool m_hungUp = false;
    bool m_advancing = false;
    double m_lastTick = -1e300;

    const Port* m_owner = nullptr; // the open slot
    int m_pcBaud = 0;
    Bytes m_input;                 // arrived at the PC, not read yet
    std::deque<Burst> m_toDisplay;
    std::deque<Answer> m_answers;  // made by the display, waiting for their time
    std::deque<Burst> m_toPc;
    std::size_t m_lost = 0;

    std::multimap<double, std::function<void()>> m_timers;
    std::vector<std::function<void(const sim::Record&)>> m_recordHooks;
    std::vector<PortEvent> m_portEvents;
    std::vector<Write> m_writes;
};

} // namespace tarsel::test
