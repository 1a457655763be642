// Reading and setting the speed of a pty's slave side from its master.
// (On Linux a termios request on the master acts on the slave's settings.)
#pragma once

namespace tarsel::sim {

// The output speed in bit/s the program set on the slave side, or 0 when unknown.
int readLineSpeed(int masterFd);

// True when the program turned hardware flow control (RTS/CTS) on for the slave side.
bool readHardwareFlowControl(int masterFd);

// Raw 8N1 at `baud` on the slave side (no echo, no line editing). Returns false on failure.
bool setRawLine(int fd, int baud);

} // namespace tarsel::sim
