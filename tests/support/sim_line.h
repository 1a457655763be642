// A plain raw termios line to a virtual display, for tests that must not depend on the
// program's own serial port code. Also starts a display with test-friendly options.
#pragma once

#include "sim/virtual_display.h"
#include "util/bytes.h"

#include <memory>
#include <string>

namespace tarsel::test {

class SimLine {
public:
    SimLine() = default;
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Opens the device raw 8N1 at `baud`, non-blocking. False with errno text in error().
    bool open(const std::string& path, int baud);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    bool setBaud(int baud);
    bool write(const Bytes& data);
    // Reads whatever arrives until `ms` have passed.
    Bytes readFor(double ms);
    // Reads until `count` bytes have arrived or `ms` passed.
    Bytes readCount(std::size_t count, double ms);
    // Reads until the data ends with `terminator` or `ms` passed.
    Bytes readUntil(char terminator, double ms);
    int fd() const { return m_fd; }
    const std::string& error() const { return m_error; }

private:
    int m_fd = -1;
    std::string m_error;
};

// Options for a display in tests: no link unless asked, pacing as given.
sim::Options simOptions(const std::string& model, int baud, bool pacing = false);

// Starts a display; fails the current test (and returns null) when it cannot start.
std::unique_ptr<sim::VirtualDisplay> startSim(const sim::Options& options);

} // namespace tarsel::test
