#include "link/frame_log.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace tarsel {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

} // namespace

FrameLog::FrameLog(Clock& clock, std::size_t capacity)
    : m_clock(clock), m_capacity(std::max<std::size_t>(capacity, 1)), m_startMs(clock.nowMs())
{
}

std::string FrameLog::timeText(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%10.1f", ms);
    return text;
}

std::string FrameLog::shortPortName(const std::string& path)
{
    static const std::string pts = "/dev/pts/";
    if (path.rfind(pts, 0) == 0)
        return path.substr(5);
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FrameLog::bytesLine(double ms, PortDirection direction, const std::string& port, const Bytes& bytes)
{
    std::string line = timeText(ms) + (direction == PortDirection::Written ? " --> " : " <-- ") + shortPortName(port) + "  ";
    line.reserve(line.size() + kBytesPerLine * 4 + 4);
    for (std::size_t i = 0; i < kBytesPerLine; ++i) {
        if (i < bytes.size()) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            line += kHexDigits[b >> 4];
            line += kHexDigits[b & 0x0F];
        } else {
            line += "  "; // keeps the text column aligned
        }
        if (i + 1 < kBytesPerLine)
            line += ' ';
    }
    line += "  |";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        line += b >= 0x20 && b < 0x7F ? c : '.';
    }
    line += '|';
    return line;
}

void FrameLog::portBytes(PortDirection direction, const std::string& port, const Bytes& data)
{
    if (data.empty())
        return;
    const double clockMs = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    const double now = sinceStart(clockMs);
    Joining& j = m_joining;
    if (j.active && (j.direction != direction || j.port != port || now - j.lastMs > kJoinGapMs))
        flushJoining();
    std::size_t from = 0;
    if (!j.active) {
        j.active = true;
        j.direction = direction;
        j.port = port;
        j.firstMs = now;
        j.bytes.clear();
    }
    j.lastMs = now;
    while (from < data.size()) {
        const std::size_t take = std::min(kBytesPerLine - j.bytes.size(), data.size() - from);
        j.bytes.append(data, from, take);
        from += take;
        if (j.bytes.size() == kBytesPerLine) {
            record(bytesLine(j.firstMs, direction, port, j.bytes));
            j.bytes.clear();
            j.firstMs = now; // the rest came with this write or read
        }
    }
    if (j.bytes.empty())
        j.active = false;
}

void FrameLog::portEvent(const std::string& port, const std::string& what)
{
    const double clockMs = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    flushJoining();
    record(timeText(sinceStart(clockMs)) + " --- " + shortPortName(port) + " " + what);
}

void FrameLog::addTrace(const std::string& line)
{
    if (line.empty())
        return;
    const double clockMs = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    flushJoining();
    record(timeText(sinceStart(clockMs)) + " " + line);
}

void FrameLog::flushJoining()
{
    if (!m_joining.active)
        return;
    m_joining.active = false;
    if (!m_joining.bytes.empty())
        record(bytesLine(m_joining.firstMs, m_joining.direction, m_joining.port, m_joining.bytes));
    m_joining.bytes.clear();
}

void FrameLog::flushStale(double nowMs)
{
    if (m_joining.active && nowMs - m_joining.lastMs > kJoinGapMs)
        flushJoining();
}

void FrameLog::record(std::string line)
{
    if (m_paused) {
        ++m_skipped;
        ++m_skippedThisPause;
        return;
    }
    push(std::move(line));
}

void FrameLog::push(std::string line)
{
    m_lines.push_back(std::move(line));
    ++m_nextSequence;
    while (m_lines.size() > m_capacity) {
        m_lines.pop_front();
        ++m_firstSequence;
        ++m_dropped;
    }
}

void FrameLog::setPaused(bool paused)
{
    const double now = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    if (paused == m_paused)
        return;
    flushJoining(); // what came before the pause (or during it) is accounted for as it was
    m_paused = paused;
    if (paused) {
        m_skippedThisPause = 0;
        return;
    }
    push(timeText(now - m_startMs) + " --- paused: " + std::to_string(m_skippedThisPause) +
         (m_skippedThisPause == 1 ? " line" : " lines") + " not recorded");
}

void FrameLog::clear()
{
    const double now = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    m_lines.clear();
    m_joining = Joining();
    m_firstSequence = m_nextSequence;
    m_dropped = m_skipped = m_skippedThisPause = 0;
    m_startMs = now;
    ++m_generation;
}

FrameLog::Status FrameLog::status()
{
    const double clockMs = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    flushStale(sinceStart(clockMs));
    Status s;
    s.held = m_lines.size();
    s.dropped = m_dropped;
    s.skipped = m_skipped;
    s.paused = m_paused;
    s.lastSequence = m_nextSequence - 1;
    s.generation = m_generation;
    return s;
}

std::vector<std::string> FrameLog::linesSince(std::uint64_t after, std::uint64_t& last, std::uint64_t& missed,
                                               std::size_t max)
{
    const double clockMs = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    flushStale(sinceStart(clockMs));
    last = m_nextSequence - 1;
    missed = 0;
    std::vector<std::string> out;
    if (after >= last || max == 0)
        return out;
    std::uint64_t from = after + 1;
    if (from < m_firstSequence) {
        missed = m_firstSequence - from;
        from = m_firstSequence;
    }
    const std::uint64_t count = std::min<std::uint64_t>(last - from + 1, max);
    last = from + count - 1;
    out.reserve(static_cast<std::size_t>(count));
    const auto begin = m_lines.begin() + static_cast<std::ptrdiff_t>(from - m_firstSequence);
    out.assign(begin, begin + static_cast<std::ptrdiff_t>(count));
    return out;
}

std::string FrameLog::text()
{
    std::lock_guard lock(m_mutex);
    flushJoining();
    std::string all;
    std::size_t size = 0;
    for (const auto& line : m_lines)
        size += line.size() + 1;
    all.reserve(size);
    for (const auto& line : m_lines) {
        all += line;
        all += '\n';
    }
    return all;
}

} // namespace tarsel
