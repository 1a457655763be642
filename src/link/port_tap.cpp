#include "link/port_tap.h"

namespace tarsel {

TappedPort::TappedPort(std::unique_ptr<SerialPort> port, std::shared_ptr<PortTraffic> traffic)
    : m_port(std::move(port)), m_traffic(std::move(traffic))
{
}

TappedPort::~TappedPort() = default;

void TappedPort::event(const std::string& what)
{
    if (m_traffic)
        m_traffic->portEvent(m_name, what);
}

OpenResult TappedPort::open(const std::string& name, int baud)
{
    const bool wasOpen = m_port->isOpen();
    const OpenResult result = m_port->open(name, baud);
    if (wasOpen)
        return result; // the slot was open already: nothing happened on the line
    if (result.ok()) {
        m_name = name;
        event("opened " + name + " at " + std::to_string(baud) + " bit/s");
    } else if (m_traffic) {
        m_traffic->portEvent(name, "open " + name + " failed" + (result.error.empty() ? "" : ": " + result.error));
    }
    return result;
}

void TappedPort::close()
{
    const bool wasOpen = m_port->isOpen();
    m_port->close();
    if (wasOpen)
        event("closed");
}

bool TappedPort::write(const Bytes& data, std::string& message)
{
    const bool ok = m_port->write(data, message);
    if (m_traffic && !data.empty()) {
        if (ok)
            m_traffic->portBytes(PortDirection::Written, m_name, data);
        else
            event("write of " + std::to_string(data.size()) + " bytes failed: " + message);
    }
    return ok;
}

bool TappedPort::read(Bytes& out, std::string& message)
{
    const bool ok = m_port->read(out, message);
    if (m_traffic && !out.empty())
        m_traffic->portBytes(PortDirection::Read, m_name, out);
    return ok;
}

LineStatus TappedPort::setBaud(int baud)
{
    const LineStatus status = m_port->setBaud(baud);
    if (m_port->isOpen())
        event(status.ok ? "speed " + std::to_string(baud) + " bit/s"
                        : "speed " + std::to_string(baud) + " bit/s refused: " + status.error);
    return status;
}

void TappedPort::purgeInput()
{
    const int waiting = m_traffic && m_port->isOpen() ? m_port->bytesWaiting() : 0;
    m_port->purgeInput();
    if (waiting > 0)
        event(std::to_string(waiting) + " bytes received and discarded unread");
}

void TappedPort::purgeOutput() { m_port->purgeOutput(); }

void TappedPort::setCancelToken(const CancelToken* token)
{
    SerialPort::setCancelToken(token);
    m_port->setCancelToken(token);
}

} // namespace tarsel
