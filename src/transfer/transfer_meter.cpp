#include "transfer/transfer_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tarsel {

TransferMeter::TransferMeter(double windowMs, double minSpanMs) : m_windowMs(windowMs), m_minSpanMs(minSpanMs) {}

void TransferMeter::reset()
{
    m_active = false;
    m_last = {};
    m_lastMs = 0;
    m_state = {};
    m_itemStartMs = m_itemStartDataMs = 0;
    m_overheadMs = 0;
    m_finishedItems = 0;
    m_samples.clear();
}

TransferMeter::State TransferMeter::at(double t) const
{
    State s = m_state;
    const double dt = std::max(0.0, t - m_lastMs);
    const auto written = static_cast<double>(m_last.runDone);
    const double queued = std::max(0.0, written - m_state.sent);
    const double lineRate = m_last.lineBytesPerSecond;
    // The buffered bytes drain at the line's pace.
    s.sent = lineRate > 0 ? std::min(written, m_state.sent + lineRate * dt / 1000.0) : written;
    if (!m_state.inData)
        return s;
    if (m_last.itemDone < m_last.itemTotal) {
        s.dataMs += dt; // waiting for more of the item (a stall counts)
        return s;
    }
    // Everything of the item written: its data phase ends when the last byte is out.
    const double endMs = m_lastMs + (lineRate > 0 ? queued * 1000.0 / lineRate : 0.0);
    if (t < endMs) {
        s.dataMs += dt;
    } else {
        s.dataMs += endMs - m_lastMs;
        s.inData = false;
        s.dataEndMs = endMs;
    }
    return s;
}

double TransferMeter::sentAtData(double dataMs, const State& now) const
{
    // After the latest sample: on the line from it to now.
    if (m_samples.empty() || dataMs >= m_samples.back().dataMs) {
        const Sample last = m_samples.empty() ? Sample{now.dataMs, now.sent} : m_samples.back();
        if (now.dataMs <= last.dataMs)
            return last.sent;
        return last.sent + (now.sent - last.sent) * (dataMs - last.dataMs) / (now.dataMs - last.dataMs);
    }
    auto after = std::lower_bound(m_samples.begin(), m_samples.end(), dataMs,
                                  [](const Sample& s, double d) { return s.dataMs < d; });
    if (after == m_samples.begin())
        return after->sent;
    const Sample& b = *after;
    const Sample& a = *(after - 1);
    if (b.dataMs <= a.dataMs)
        return b.sent;
    return a.sent + (b.sent - a.sent) * (dataMs - a.dataMs) / (b.dataMs - a.dataMs);
}

void TransferMeter::update(const ByteProgress& progress, double nowMs)
{
    if (m_active && (progress.runDone < m_last.runDone || nowMs < m_lastMs))
        reset();
    const bool newItem = !m_active || progress.item != m_last.item || progress.position != m_last.position;
    if (!m_active) {
        // Whatever the run had done before the meter saw it counts as gone out.
        m_active = true;
        m_state = {};
        m_state.sent = static_cast<double>(progress.runDone);
    } else {
        const State before = at(nowMs);
        if (newItem) {
            // The item before is finished: what its cycle took beyond its data.
            const double cycle = nowMs - m_itemStartMs;
            const double data = before.dataMs - m_itemStartDataMs;
            m_overheadMs += std::max(0.0, cycle - data);
            ++m_finishedItems;
        }
        m_state = before;
    }
    if (newItem) {
        m_state.inData = true;
        m_itemStartMs = nowMs;
        m_itemStartDataMs = m_state.dataMs;
    } else if (progress.runDone > m_last.runDone) {
        m_state.inData = true; // more bytes of the item
    }
    m_last = progress;
    m_lastMs = nowMs;
    if (progress.lineBytesPerSecond <= 0)
        m_state.sent = static_cast<double>(progress.runDone);
    m_state.sent = std::min(m_state.sent, static_cast<double>(progress.runDone));
    m_samples.push_back({m_state.dataMs, m_state.sent});
    // Keep one sample before the window for interpolating its start.
    while (m_samples.size() > 2 && m_samples[1].dataMs <= m_state.dataMs - m_windowMs)
        m_samples.pop_front();
}

TransferMeter::Estimate TransferMeter::estimate(double nowMs) const
{
    Estimate e;
    if (!m_active)
        return e;
    e.active = true;
    nowMs = std::max(nowMs, m_lastMs);
    const State s = at(nowMs);
    const double queued = static_cast<double>(m_last.runDone) - s.sent;
    const double itemSent = std::max(0.0, static_cast<double>(m_last.itemDone) - queued);
    e.itemLeft = m_last.itemTotal - std::min(m_last.itemTotal, static_cast<std::uint64_t>(std::llround(itemSent)));
    e.runLeft = m_last.runTotal - std::min(m_last.runTotal, static_cast<std::uint64_t>(std::llround(s.sent)));
    if (m_finishedItems > 0)
        e.overheadSeconds = m_overheadMs / m_finishedItems / 1000.0;

    const double from = std::max(0.0, s.dataMs - m_windowMs);
    const double span = s.dataMs - from;
    if (span < m_minSpanMs || span <= 0)
        return e;
    e.rateKnown = true;
    e.bytesPerSecond = std::max(0.0, (s.sent - sentAtData(from, s)) * 1000.0 / span);
    auto secondsFor = [&](std::uint64_t bytes) {
        if (bytes == 0)
            return 0.0;
        if (e.bytesPerSecond < 1e-9)
            return std::numeric_limits<double>::infinity();
        return static_cast<double>(bytes) / e.bytesPerSecond;
    };
    e.itemSecondsLeft = secondsFor(e.itemLeft);
    // Every item not finished yet (this one included) still has its overhead to come,
    // less what this one has spent of it already.
    const int unfinished = m_last.itemCount > 0 ? std::max(1, m_last.itemCount - m_last.item + 1) : 1;
    const double overheadSpent = s.inData ? 0.0 : (nowMs - s.dataEndMs) / 1000.0;
    e.runSecondsLeft = secondsFor(e.runLeft) +
                       std::max(0.0, e.overheadSeconds * unfinished - std::min(overheadSpent, e.overheadSeconds));
    return e;
}

std::string FormatRate(double bytesPerSecond)
{
    char text[32];
    if (!(bytesPerSecond >= 0) || std::isinf(bytesPerSecond))
        return "-- B/s";
    if (bytesPerSecond < 999.5)
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    else if (bytesPerSecond < 99950)
        std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000.0);
    else if (bytesPerSecond < 999500)
        std::snprintf(text, sizeof text, "%.0f kB/s", bytesPerSecond / 1000.0);
    else
        std::snprintf(text, sizeof text, "%.2f MB/s", bytesPerSecond / 1e6);
    return text;
}

std::string FormatDuration(double seconds)
{
    // Beyond 100 hours a time left says nothing useful.
    if (!(seconds >= 0) || seconds >= 360000)
        return "--:--";
    // Rounded up: "0:00" only when nothing is left.
    const auto total = static_cast<long long>(std::ceil(seconds - 1e-9));
    const long long h = total / 3600;
    const long long m = (total / 60) % 60;
    const long long s = total % 60;
    char text[32];
    if (h > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
    return text;
}

std::string FormatEstimate(const TransferMeter::Estimate& estimate)
{
    if (!estimate.active)
        return {};
    if (!estimate.rateKnown)
        return "measuring\u2026";
    return FormatRate(estimate.bytesPerSecond) + "  " + FormatDuration(estimate.itemSecondsLeft) + " | " +
           FormatDuration(estimate.runSecondsLeft);
}

} // namespace tarsel
