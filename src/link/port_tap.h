// A tap on a serial port: a SerialPort that forwards every call to the real port and
// tells a listener what crossed the line (every byte written and read) and what
// happened to the port (opened, closed, speed changed, input discarded).
#pragma once

#include "link/serial_port.h"
#include "util/bytes.h"

#include <memory>
#include <string>

namespace tarsel {

enum class PortDirection { Written, Read };

// What a TappedPort reports. Called on the thread that uses the port (the device
// worker), between the port's own steps: implementations must be thread-safe and
// return at once (no waiting on the window).
class PortTraffic {
public:
    virtual ~PortTraffic() = default;
    // `port` is the name the port was opened with.
    virtual void portBytes(PortDirection direction, const std::string& port, const Bytes& data) = 0;
    // "opened at 9600 bit/s", "closed", "speed 115200 bit/s", "write failed: ..."
    virtual void portEvent(const std::string& port, const std::string& what) = 0;
};

class TappedPort : public SerialPort {
public:
    // Reports to `traffic` (which may be null: then it only forwards).
    TappedPort(std::unique_ptr<SerialPort> port, std::shared_ptr<PortTraffic> traffic);
    ~TappedPort() override;

    SerialPort& inner() { return *m_port; }

    OpenResult open(const std::string& name, int baud) override;
    bool isOpen() const override { return m_port->isOpen(); }
    void close() override;
    // A successful write is reported whole; a failed one as an event with the reason.
    bool write(const Bytes& data, std::string& message) override;
    // What a read returned (nothing when nothing was waiting).
    bool read(Bytes& out, std::string& message) override;
    int bytesWaiting() override { return m_port->bytesWaiting(); }
    LineStatus setBaud(int baud) override;
    bool waitReadable(double timeoutMs) override { return m_port->waitReadable(timeoutMs); }
    bool drainOutput(double maxMs, std::string& message) override { return m_port->drainOutput(maxMs, message); }
    // Reported as an event when bytes were waiting (they are not read, so not shown).
    void purgeInput() override;
    void purgeOutput() override;
    bool hungUp() const override { return m_port->hungUp(); }
    void requestLowLatency() override { m_port->requestLowLatency(); }
    void setCancelToken(const CancelToken* token) override;

private:
    void event(const std::string& what);

    std::unique_ptr<SerialPort> m_port;
    std::shared_ptr<PortTraffic> m_traffic;
    std::string m_name; // as last opened
};

} // namespace tarsel
