// Speed and time left of a download run, from the run's ByteProgress reports: what
// the window's status bar and the command line's progress line show.
//
// Plain C++ with the time passed in, so that it can run against any clock. Not
// thread-safe: one thread updates and asks it (or the caller locks).
#pragma once

#include "link/outlets.h"

#include <cstdint>
#include <deque>
#include <string>

namespace tarsel {

// How it measures:
// - A write returns once the bytes are in the port's buffers, so the first
//   kilobytes of a streamed file are "written" at once. A byte is therefore counted
//   as gone out no faster than the line carries (ByteProgress::lineBytesPerSecond):
//   the start of an item shows no burst, and its end waits for the buffered bytes.
// - An item's data phase runs from its first report until its last byte has gone
//   out; what follows until the next item starts (the display's answer, the next
//   item's set-up, the fixed pauses) is the item's overhead.
// - The speed is what went out over the last `windowMs` of data phases, so the
//   pauses between items neither lower it nor make it jump at an item's start; a
//   line that stalls within an item lets it fall. It is given once `minSpanMs` of
//   data phases have been measured.
// - The item's time left is its bytes not yet gone out divided by the speed; the
//   run's adds, for every item not yet finished, the average overhead of the items
//   finished so far (a run of many small items is mostly overhead).
class TransferMeter {
public:
    static constexpr double kDefaultWindowMs = 5000;
    static constexpr double kDefaultMinSpanMs = 1000;

    struct Estimate {
        bool active = false;          // a run has reported since the last reset
        bool rateKnown = false;       // enough of the run measured to give a speed
        double bytesPerSecond = 0;    // when rateKnown
        std::uint64_t itemLeft = 0;   // bytes of the item not yet gone out
        std::uint64_t runLeft = 0;    // bytes of the run not yet gone out
        // When rateKnown; infinite while nothing moves.
        double itemSecondsLeft = 0;
        double runSecondsLeft = 0;
        // The average overhead of an item so far, in seconds (0 before the first
        // item has finished).
        double overheadSeconds = 0;
    };

    explicit TransferMeter(double windowMs = kDefaultWindowMs, double minSpanMs = kDefaultMinSpanMs);

    // Forgets the run (call when a run starts or ends). A report whose runDone is
    // below the last one also starts over.
    void reset();
    // One report, made at `nowMs`.
    void update(const ByteProgress& progress, double nowMs);
    // The estimate at `nowMs` (not earlier than the last update): between reports the
    // buffered bytes keep going out and a stalled line lets the speed fall.
    Estimate estimate(double nowMs) const;

private:
    // Where the run stands at time t (at or after the latest report), extrapolated
    // from the latest report.
    struct State {
        double sent = 0;      // bytes of the run gone out
        double dataMs = 0;    // time spent in data phases since the run's start
        bool inData = false;  // within an item's data phase
        double dataEndMs = 0; // when the current item's data phase ended (if it has)
    };
    State at(double t) const;
    // Bytes gone out when the data-phase clock read `dataMs` (at or before `now`).
    double sentAtData(double dataMs, const State& now) const;

    struct Sample {
        double dataMs;
        double sent;
    };

    double m_windowMs;
    double m_minSpanMs;
    bool m_active = false;
    ByteProgress m_last;          // the latest report
    double m_lastMs = 0;          // its time
    State m_state;                // the run at m_lastMs
    double m_itemStartMs = 0;     // when the current item started
    double m_itemStartDataMs = 0; // the data-phase clock then
    double m_overheadMs = 0;      // the overheads of the finished items, summed
    int m_finishedItems = 0;
    std::deque<Sample> m_samples; // oldest first
};

// "850 B/s", "11.5 kB/s", "1.20 MB/s" (1 kB = 1000 bytes).
std::string FormatRate(double bytesPerSecond);
// "0:07", "12:05", "1:02:03"; "--:--" for a time that cannot be told (infinite).
std::string FormatDuration(double seconds);
// The short form for a status panel: "11.5 kB/s  0:07 | 2:31" (speed, item's time
// left, run's time left); "measuring…" until the speed is known; empty when inactive.
std::string FormatEstimate(const TransferMeter::Estimate& estimate);

} // namespace tarsel
