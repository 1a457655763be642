// The shared link state: which port, which speed, which language, the two handle
// slots, and the clock, cancel token and trace sink every device procedure uses.
#pragma once

#include "link/cancel.h"
#include "link/clock.h"
#include "link/serial_port.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarsel {

// Receives one trace line per frame ("----> " / "<---- " + upper-case hex).
using TraceSink = std::function<void(const std::string&)>;

// The message of a wait, pause or write that ended because the job was cancelled.
inline constexpr const char* kCancelledText = "Cancelled";

struct Link {
    Link(SerialPort& cmd, SerialPort& text, Clock& clk) : CmdPort(cmd), TextPort(text), clock(clk) {}

    std::string PortName;       // e.g. /dev/ttyUSB0; empty when the machine has no port
    std::int32_t BaudRate = 9600;
    std::uint16_t SysLangId = 1033; // 2052 selects the Chinese texts
    SerialPort& CmdPort;        // framed commands and transfers
    SerialPort& TextPort;       // text commands; same physical port, exclusive with CmdPort
    Clock& clock;
    TraceSink trace;            // may be empty

    // The running job's cancel token (null: the job cannot be cancelled). Both slots
    // watch it in their blocking writes and waits.
    void setCancel(const CancelToken* token)
    {
        m_cancel = token;
        CmdPort.setCancelToken(token);
        TextPort.setCancelToken(token);
    }
    const CancelToken* cancelToken() const { return m_cancel; }
    bool cancelled() const { return m_cancel && m_cancel->cancelled(); }

    // A pause of the protocol on the link's clock; false (early) when the job is cancelled.
    bool pause(double ms) const
    {
        if (m_cancel)
            return clock.sleepMs(ms, *m_cancel);
        clock.sleepMs(ms);
        return true;
    }

    // A wait for an answer that a cancel cut short leaves that answer on its way: until
    // `untilMs` (on the link's clock) it may still arrive, and the next command would
    // take it for its own answer.
    void answerMayStillCome(double untilMs)
    {
        if (untilMs > m_answerDueUntil)
            m_answerDueUntil = untilMs;
    }
    // Before a frame goes out: lets such an answer come and drops it from `port`. False
    // when the job is cancelled meanwhile (nothing is to be sent then).
    bool letCutAnswerPass(SerialPort& port)
    {
        if (m_answerDueUntil <= 0)
            return true;
        const double waitMs = m_answerDueUntil - clock.nowMs();
        if (waitMs > 0 && !pause(waitMs))
            return false;
        m_answerDueUntil = 0;
        if (port.isOpen())
            port.purgeInput();
        return true;
    }

    // Writes one trace line; an empty text writes nothing.
    void traceOut(const std::string& line) const
    {
        if (!line.empty() && trace)
            trace(line);
    }

private:
    const CancelToken* m_cancel = nullptr;
    double m_answerDueUntil = 0;
};

// Runs a job with `token` on the link and takes it off again afterwards.
class CancelScope {
public:
    CancelScope(Link& link, const CancelToken* token) : m_link(link), m_previous(link.cancelToken())
    {
        link.setCancel(token);
    }
    ~CancelScope() { m_link.setCancel(m_previous); }
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    Link& m_link;
    const CancelToken* m_previous;
};

} // namespace tarsel
