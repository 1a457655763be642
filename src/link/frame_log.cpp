#include "link/frame_log.h"

#include <algorithm>
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

double FrameLog::elapsed()
{
    const double now = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    return now - m_startMs;
}

void FrameLog::portBytes(PortDirection direction, const std::string& port, const Bytes& data)
{
    if (data.empty())
        return;
    const std::string head = timeText(elapsed()) + (direction == PortDirection::Written ? " --> " : " <-- ") +
                             shortPortName(port) + "  ";
    std::vector<std::string> lines;
    lines.reserve((data.size() + kBytesPerLine - 1) / kBytesPerLine);
    for (std::size_t from = 0; from < data.size(); from += kBytesPerLine) {
        const std::size_t count = std::min(kBytesPerLine, data.size() - from);
        std::string line = head;
        line.reserve(head.size() + kBytesPerLine * 4 + 4);
        for (std::size_t i = 0; i < kBytesPerLine; ++i) {
            if (i < count) {
                const auto b = static_cast<unsigned char>(data[from + i]);
                line += kHexDigits[b >> 4];
                line += kHexDigits[b & 0x0F];
            } else {
                line += "  "; // keeps the text column aligned
            }
            if (i + 1 < kBytesPerLine)
                line += ' ';
        }
        line += "  |";
        for (std::size_t i = 0; i < count; ++i) {
            const auto b = static_cast<unsigned char>(data[from + i]);
            line += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
        }
        line += '|';
        lines.push_back(std::move(line));
    }
    add(std::move(lines));
}

void FrameLog::portEvent(const std::string& port, const std::string& what)
{
    add({timeText(elapsed()) + " --- " + shortPortName(port) + " " + what});
}

void FrameLog::addTrace(const std::string& line)
{
    if (line.empty())
        return;
    add({timeText(elapsed()) + " " + line});
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

void FrameLog::add(std::vector<std::string> lines)
{
    std::lock_guard lock(m_mutex);
    if (m_paused) {
        m_skipped += lines.size();
        m_skippedThisPause += lines.size();
        return;
    }
    for (std::string& line : lines)
        push(std::move(line));
}

void FrameLog::setPaused(bool paused)
{
    const double now = m_clock.nowMs();
    std::lock_guard lock(m_mutex);
    if (paused == m_paused)
        return;
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
    m_firstSequence = m_nextSequence;
    m_dropped = m_skipped = m_skippedThisPause = 0;
    m_startMs = now;
    ++m_generation;
}

FrameLog::Status FrameLog::status() const
{
    std::lock_guard lock(m_mutex);
    Status s;
    s.held = m_lines.size();
    s.dropped = m_dropped;
    s.skipped = m_skipped;
    s.paused = m_paused;
    s.lastSequence = m_nextSequence - 1;
    s.generation = m_generation;
    return s;
}

std::vector<std::string> FrameLog::linesSince(std::uint64_t after, std::uint64_t& last, std::uint64_t& missed) const
{
    std::lock_guard lock(m_mutex);
    last = m_nextSequence - 1;
    missed = 0;
    std::vector<std::string> out;
    if (after >= last)
        return out;
    std::uint64_t from = after + 1;
    if (from < m_firstSequence) {
        missed = m_firstSequence - from;
        from = m_firstSequence;
    }
    out.reserve(static_cast<std::size_t>(last - from + 1));
    for (auto it = m_lines.begin() + static_cast<std::ptrdiff_t>(from - m_firstSequence); it != m_lines.end(); ++it)
        out.push_back(*it);
    return out;
}

std::string FrameLog::text() const
{
    std::lock_guard lock(m_mutex);
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
