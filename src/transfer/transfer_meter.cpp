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
    m_samples.clear();
    m_sent = 0;
    m_firstMs = m_lastMs = 0;
}

double TransferMeter::sentAt(double t) const
{
    const auto written = static_cast<double>(m_last.runDone);
    if (t >= m_lastMs) {
        // After the latest report the buffered bytes drain at the line's pace.
        if (m_last.lineBytesPerSecond <= 0)
            return written;
        return std::min(written, m_sent + m_last.lineBytesPerSecond * (t - m_lastMs) / 1000.0);
    }
    // Between two reports: on the straight line joining them.
    auto after = std::lower_bound(m_samples.begin(), m_samples.end(), t,
                                  [](const Sample& s, double time) { return s.t < time; });
    if (after == m_samples.begin())
        return after == m_samples.end() ? m_sent : after->sent;
    if (after == m_samples.end())
        return m_sent;
    const Sample& b = *after;
    const Sample& a = *(after - 1);
    if (b.t <= a.t)
        return b.sent;
    return a.sent + (b.sent - a.sent) * (t - a.t) / (b.t - a.t);
}

void TransferMeter::update(const ByteProgress& progress, double nowMs)
{
    if (m_active && (progress.runDone < m_last.runDone || nowMs < m_lastMs))
        reset();
    if (!m_active) {
        // Whatever the run had done before the meter saw it counts as gone out.
        m_active = true;
        m_firstMs = m_lastMs = nowMs;
        m_sent = static_cast<double>(progress.runDone);
        m_last = progress;
        m_samples.push_back({nowMs, m_sent});
        return;
    }
    // What drained since the last report, at the pace the line had then; then the
    // new bytes join the queue.
    m_sent = sentAt(nowMs);
    m_last = progress;
    m_lastMs = nowMs;
    if (progress.lineBytesPerSecond <= 0)
        m_sent = static_cast<double>(progress.runDone);
    m_sent = std::min(m_sent, static_cast<double>(progress.runDone));
    m_samples.push_back({nowMs, m_sent});
    // Keep one sample before the window for interpolating its start.
    while (m_samples.size() > 2 && m_samples[1].t <= nowMs - m_windowMs)
        m_samples.pop_front();
}

TransferMeter::Estimate TransferMeter::estimate(double nowMs) const
{
    Estimate e;
    if (!m_active)
        return e;
    e.active = true;
    nowMs = std::max(nowMs, m_lastMs);
    const double sentNow = sentAt(nowMs);
    const double queued = static_cast<double>(m_last.runDone) - sentNow;
    const double itemSent = std::max(0.0, static_cast<double>(m_last.itemDone) - queued);
    e.itemLeft = m_last.itemTotal - std::min(m_last.itemTotal, static_cast<std::uint64_t>(std::llround(itemSent)));
    e.runLeft = m_last.runTotal - std::min(m_last.runTotal, static_cast<std::uint64_t>(std::llround(sentNow)));

    const double from = std::max(nowMs - m_windowMs, m_firstMs);
    const double span = nowMs - from;
    if (span < m_minSpanMs || span <= 0)
        return e;
    e.rateKnown = true;
    e.bytesPerSecond = std::max(0.0, (sentNow - sentAt(from)) * 1000.0 / span);
    auto secondsFor = [&](std::uint64_t bytes) {
        if (bytes == 0)
            return 0.0;
        if (e.bytesPerSecond < 1e-9)
            return std::numeric_limits<double>::infinity();
        return static_cast<double>(bytes) / e.bytesPerSecond;
    };
    e.itemSecondsLeft = secondsFor(e.itemLeft);
    e.runSecondsLeft = secondsFor(e.runLeft);
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
