// Test doubles for unit tests without I/O: a virtual clock and a scripted serial line.
#pragma once

#include "link/clock.h"
#include "link/serial_port.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarsel::test {

// Virtual time: nowMs() only moves when someone sleeps or a fake read advances it.
class VirtualClock : public Clock {
public:
    using Clock::sleepMs;
    double nowMs() override { return m_now; }
    void sleepMs(double ms) override { if (ms > 0) m_now += ms; }
    void advance(double ms) { m_now += ms; }
    double m_now = 1000.0;
};

// The far end of a scripted line, shared by the two handle slots (CmdPort, TextPort).
// Answers are scheduled at virtual times; a read returns what has "arrived" by now.
class FakeLine {
public:
    explicit FakeLine(VirtualClock& clock) : clock(clock) {}

    struct Write { double at; std::string slot; Bytes data; };

    VirtualClock& clock;
    std::vector<Write> writes;          // every write, in order, with its virtual time
    std::vector<int> openBauds;         // speed of every successful open
    std::vector<int> localBauds;        // every speed the PC set on an open port
    std::vector<double> drains;         // virtual time of every drainOutput
    std::function<void(FakeLine&, const Bytes&)> onWrite; // respond to a frame
    double readStepMs = 0.1;            // virtual time one read takes (loops without pause)
    bool failOpen = false;              // every open fails with code 2
    bool failWrites = false;            // every write fails
    bool hangUp = false;                // the line has hung up
    bool permissionDenied = false;      // every open fails with code 2 for lack of permission
    bool refuseSpeed = false;           // every setBaud fails
    const void* owner = nullptr;        // the slot that holds the port open
    int currentBaud = 0;

    // Schedule bytes to arrive `delayMs` after now.
    void answer(const Bytes& data, double delayMs = 0) { m_pending.push_back({clock.nowMs() + delayMs, data}); }
    void answerAt(double at, const Bytes& data) { m_pending.push_back({at, data}); }
    // Bytes that have arrived by now and not been read yet.
    Bytes arrived();
    std::size_t queued() const;
    void clearInput() { m_pending.clear(); m_buffer.clear(); }
    // All bytes written through the slot named `slot` ("cmd" or "text"), or by both when empty.
    Bytes written(const std::string& slot = {}) const;

private:
    struct Pending { double at; Bytes data; };
    std::deque<Pending> m_pending;
    Bytes m_buffer;
    friend class FakePort;
};

class FakePort : public SerialPort {
public:
    FakePort(FakeLine& line, std::string slotName) : m_line(line), m_slot(std::move(slotName)) {}
    ~FakePort() override { close(); }

    OpenResult open(const std::string& name, int baud) override;
    bool isOpen() const override { return m_open; }
    void close() override;
    bool write(const Bytes& data, std::string& message) override;
    bool read(Bytes& out, std::string& message) override;
    int bytesWaiting() override;
    LineStatus setBaud(int baud) override;
    bool waitReadable(double timeoutMs) override;
    // Lets the line time of what was written pass (virtual time): each write keeps the
    // line busy for 10 bits a byte at the current speed from when it was written, or
    // from when the line is free again.
    bool drainOutput(double maxMs, std::string& message) override;
    void purgeInput() override;
    bool hungUp() const override { return m_line.hangUp; }

    std::vector<std::string> openedNames;

private:
    FakeLine& m_line;
    std::string m_slot;
    bool m_open = false;
    double m_lineBusyUntil = 0;  // virtual time the last byte written has left the line
};

} // namespace tarsel::test
