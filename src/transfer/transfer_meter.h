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
// - The speed is what went out over the last `windowMs` (pauses between items
//   included: they are part of the run), given only once `minSpanMs` of the run
//   has been measured; it is not reset between items, so it carries on smoothly.
// - The time left is the bytes not yet gone out divided by that speed.
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
    // Bytes of the run gone out at time t (t at or after the first report).
    double sentAt(double t) const;

    struct Sample {
        double t;
        double sent;
    };

    double m_windowMs;
    double m_minSpanMs;
    bool m_active = false;
    ByteProgress m_last;          // the latest report
    double m_firstMs = 0;         // time of the run's first report
    double m_lastMs = 0;          // time of the latest report
    double m_sent = 0;            // bytes gone out at m_lastMs
    std::deque<Sample> m_samples; // (time, bytes gone out), oldest first
};

// "850 B/s", "11.5 kB/s", "1.20 MB/s" (1 kB = 1000 bytes).
std::string FormatRate(double bytesPerSecond);
// "0:07", "12:05", "1:02:03"; "--:--" for a time that cannot be told (infinite).
std::string FormatDuration(double seconds);
// The short form for a status panel: "11.5 kB/s  0:07 | 2:31" (speed, item's time
// left, run's time left); "measuring…" until the speed is known; empty when inactive.
std::string FormatEstimate(const TransferMeter::Estimate& estimate);

} // namespace tarsel
