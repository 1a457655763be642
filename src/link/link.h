// The shared link state: which port, which speed, which language, the two handle
// slots, and the clock and trace sink every device procedure uses.
#pragma once

#include "link/clock.h"
#include "link/serial_port.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarsel {

// Receives one trace line per frame ("----> " / "<---- " + upper-case hex).
using TraceSink = std::function<void(const std::string&)>;

struct Link {
    Link(SerialPort& cmd, SerialPort& text, Clock& clk) : CmdPort(cmd), TextPort(text), clock(clk) {}

    std::string PortName;       // e.g. /dev/ttyUSB0; empty when the machine has no port
    std::int32_t BaudRate = 9600;
    std::uint16_t SysLangId = 1033; // 2052 selects the Chinese texts
    SerialPort& CmdPort;        // framed commands and transfers
    SerialPort& TextPort;       // text commands; same physical port, exclusive with CmdPort
    Clock& clock;
    TraceSink trace;            // may be empty

    // Writes one trace line; an empty text writes nothing.
    void traceOut(const std::string& line) const
    {
        if (!line.empty() && trace)
            trace(line);
    }
};

} // namespace tarsel
