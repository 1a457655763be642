// Kept apart from <termios.h>: the kernel's termios2 (exact speeds, also for
// non-standard rates) needs <asm/termbits.h>, which clashes with the C library's header.
#include "sim/line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tarsel::sim {

int readLineSpeed(int masterFd)
{
    struct termios2 t {};
    if (::ioctl(masterFd, TCGETS2, &t) != 0)
        return 0;
    return static_cast<int>(t.c_ospeed);
}

bool readHardwareFlowControl(int masterFd)
{
    struct termios2 t {};
    if (::ioctl(masterFd, TCGETS2, &t) != 0)
        return false;
    return (t.c_cflag & CRTSCTS) != 0;
}

static tcflag_t standardRate(int baud)
{
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return BOTHER;
    }
}

bool setRawLine(int fd, int baud)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CBAUD | CIBAUD);
    const tcflag_t rate = standardRate(baud);
    t.c_cflag |= CS8 | CREAD | CLOCAL | rate | (rate << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace tarsel::sim
