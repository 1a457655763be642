#include "support/fake_port.h"

#include "link/cancel.h"
#include "link/link.h"

#include <algorithm>

namespace tarsel::test {

Bytes FakeLine::arrived()
{
    const double now = clock.nowMs();
    while (!m_pending.empty()) {
        auto it = std::min_element(m_pending.begin(), m_pending.end(),
                                   [](const Pending& a, const Pending& b) { return a.at < b.at; });
        if (it->at > now)
            break;
        m_buffer += it->data;
        m_pending.erase(it);
    }
    return m_buffer;
}

std::size_t FakeLine::queued() const { return m_buffer.size(); }

Bytes FakeLine::written(const std::string& slot) const
{
    Bytes all;
    for (const auto& w : writes)
        if (slot.empty() || w.slot == slot)
            all += w.data;
    return all;
}

OpenResult FakePort::open(const std::string& name, int baud)
{
    if (m_open)
        return {kOpenAlreadyOpen, {}, false};
    if (m_line.permissionDenied)
        return {kOpenFailed, {}, true};
    if (m_line.failOpen || name.empty() || (m_line.owner && m_line.owner != this))
        return {kOpenFailed, {}, false};
    m_line.owner = this;
    m_line.currentBaud = baud;
    m_line.openBauds.push_back(baud);
    openedNames.push_back(name);
    m_open = true;
    m_lineBusyUntil = 0;
    return {kOpenOk, {}, false};
}

void FakePort::close()
{
    if (!m_open)
        return;
    m_open = false;
    if (m_line.owner == this)
        m_line.owner = nullptr;
}

bool FakePort::write(const Bytes& data, std::string& message)
{
    if (!m_open) {
        message = "3: 6";
        return false;
    }
    if (m_line.failWrites || m_line.hangUp) {
        message = "Write failed: Input/output error";
        return false;
    }
    if (m_cancel && m_cancel->cancelled()) {
        message = kCancelledText;
        return false;
    }
    m_line.writes.push_back({m_line.clock.nowMs(), m_slot, data});
    if (m_line.currentBaud > 0)
        m_lineBusyUntil = std::max(m_lineBusyUntil, m_line.clock.nowMs()) + data.size() * 10000.0 / m_line.currentBaud;
    message = "OK";
    if (m_line.onWrite)
        m_line.onWrite(m_line, data);
    return true;
}

bool FakePort::read(Bytes& out, std::string& message)
{
    out.clear();
    if (m_open) {
        m_line.clock.advance(m_line.readStepMs);
        m_line.arrived();
        const std::size_t n = std::min<std::size_t>(m_line.m_buffer.size(), kMaxRead);
        out = m_line.m_buffer.substr(0, n);
        m_line.m_buffer.erase(0, n);
    }
    if (out.empty()) {
        // A hung-up line names the hang-up, as the real port does.
        message = m_line.hangUp && m_open ? "Read failed: the line hung up" : "Failed to read data";
        return false;
    }
    message = "OK";
    return true;
}

int FakePort::bytesWaiting()
{
    if (!m_open)
        return 0;
    return static_cast<int>(m_line.arrived().size());
}

LineStatus FakePort::setBaud(int baud)
{
    if (!m_open)
        return {};
    if (m_line.refuseSpeed)
        return {false, "Invalid argument"};
    m_line.currentBaud = baud;
    m_line.localBauds.push_back(baud);
    return {};
}

bool FakePort::drainOutput(double maxMs, std::string& message)
{
    if (!m_open) {
        message = "3: 6";
        return false;
    }
    const double wait = std::min(m_lineBusyUntil - m_line.clock.nowMs(), maxMs);
    if (wait > 0)
        m_line.clock.advance(wait);
    m_line.drains.push_back(m_line.clock.nowMs());
    message = "OK";
    return true;
}

bool FakePort::waitReadable(double timeoutMs)
{
    if (!m_open || (m_cancel && m_cancel->cancelled()))
        return false;
    const double end = m_line.clock.nowMs() + timeoutMs;
    for (;;) {
        if (!m_line.arrived().empty() || m_line.hangUp)
            return true;
        // Jump to the next scheduled arrival, or to the deadline.
        double next = end;
        for (const auto& p : m_line.m_pending)
            next = std::min(next, p.at);
        if (next >= end) {
            m_line.clock.m_now = std::max(m_line.clock.m_now, end);
            return !m_line.arrived().empty();
        }
        m_line.clock.m_now = std::max(m_line.clock.m_now, next);
    }
}

void FakePort::purgeInput()
{
    m_line.arrived();
    m_line.m_buffer.clear();
}

} // namespace tarsel::test
