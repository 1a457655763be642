// The frame log: every byte written to and read from the port as time-stamped hex
// lines, with the frame trace lines ("----> ...", "<---- ...") and what happened to
// the port (opened, closed, speed) in between, in the order they happened. It keeps
// the last `capacity` lines (a ring), can be paused and cleared, and is read by a
// viewer in batches of the lines added since it last looked.
//
// Thread-safe: the device worker adds lines (through a TappedPort and the link's
// trace sink) while the window reads them. Adding formats the line and takes a
// lock briefly; it never waits for a reader.
#pragma once

#include "link/clock.h"
#include "link/port_tap.h"
#include "util/bytes.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tarsel {

class FrameLog : public PortTraffic {
public:
    static constexpr std::size_t kDefaultCapacity = 20000;
    // Bytes shown on one line; longer writes and reads continue on the next lines.
    static constexpr std::size_t kBytesPerLine = 32;
    // Reads (or writes) in the same direction on the same port this close together
    // share lines: an answer that trickles in a byte at a time at 9600 bit/s reads as
    // lines of 32 bytes, not as a line per byte. A line is shown once it is full, the
    // direction changes, another line comes, or no byte has joined it for this long.
    static constexpr double kJoinGapMs = 20;

    // Time stamps are milliseconds on `clock` since the log started (or was cleared).
    explicit FrameLog(Clock& clock, std::size_t capacity = kDefaultCapacity);

    // "  1234.5 --> pts/3  02 07 16 05   |....|": time (of the line's first byte),
    // direction, port, the bytes in hex and as text (printable ASCII, else ".").
    void portBytes(PortDirection direction, const std::string& port, const Bytes& data) override;
    // "  1234.5 --- pts/3 closed"
    void portEvent(const std::string& port, const std::string& what) override;
    // "  1234.5 ----> 02071605" (a frame trace line as the link writes it).
    void addTrace(const std::string& line);

    // While paused nothing is added; the lines that would have been are counted, and
    // resuming adds one line that says how many were not recorded. Bytes that came
    // before the pause are shown.
    void setPaused(bool paused);
    // Empties the log; the time and the counters start again from 0.
    void clear();

    struct Status {
        std::size_t held = 0;        // lines in the log now
        std::uint64_t dropped = 0;   // older lines dropped to stay within capacity
        std::uint64_t skipped = 0;   // lines not recorded while paused
        bool paused = false;
        std::uint64_t lastSequence = 0; // number of the newest line (numbers only grow)
        std::uint64_t generation = 0;   // grows with every clear
    };
    // (Reading shows a line still being joined once kJoinGapMs have passed.)
    Status status();
    std::size_t capacity() const { return m_capacity; }

    // The lines numbered above `after` that the log still holds, oldest first, at
    // most `max` of them. `last` gets the number of the last line returned (give it
    // as `after` next time; when nothing is returned, the newest line's); `missed`
    // how many lines above `after` were dropped before they could be read.
    std::vector<std::string> linesSince(std::uint64_t after, std::uint64_t& last, std::uint64_t& missed,
                                        std::size_t max = SIZE_MAX);
    // Every line held (a line still being joined included), each ended by a line feed.
    std::string text();

    // The short name shown on each line: "pts/3", "ttyUSB0", or the file name of a
    // longer path (a /dev/serial/by-id link, a virtual display's link).
    static std::string shortPortName(const std::string& path);
    // "%10.1f": milliseconds with one decimal, right-aligned.
    static std::string timeText(double ms);

private:
    struct Joining {
        bool active = false;
        PortDirection direction = PortDirection::Written;
        std::string port;
        double firstMs = 0; // time of the line's first byte
        double lastMs = 0;  // time the last bytes joined
        Bytes bytes;        // fewer than kBytesPerLine
    };

    // Milliseconds since the start (the caller holds the lock).
    double sinceStart(double clockMs) const { return clockMs - m_startMs; }
    // The rest of these run under the lock.
    // Adds a line (or counts it as skipped while paused).
    void record(std::string line);
    void push(std::string line);
    // Shows the line being joined.
    void flushJoining();
    // ... when nothing has joined it for kJoinGapMs by `nowMs`.
    void flushStale(double nowMs);
    static std::string bytesLine(double ms, PortDirection direction, const std::string& port, const Bytes& bytes);

    Clock& m_clock;
    const std::size_t m_capacity;
    mutable std::mutex m_mutex;
    double m_startMs = 0;
    std::deque<std::string> m_lines;
    std::uint64_t m_firstSequence = 1; // number of m_lines.front()
    std::uint64_t m_nextSequence = 1;
    std::uint64_t m_dropped = 0;
    std::uint64_t m_skipped = 0;
    std::uint64_t m_skippedThisPause = 0;
    std::uint64_t m_generation = 0;
    bool m_paused = false;
    Joining m_joining;
};

} // namespace tarsel
