// Another program holding a serial port: a child process named "porthog" that opens the
// port, takes it for exclusive use (TIOCEXCL and flock, as terminal programs do) and
// waits until it is killed. It holds nothing else of the test's: every other descriptor
// it inherited is closed first (a virtual display's pty master among them).
#pragma once

#include <csignal>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarsel::test {

class PortHog {
public:
    static constexpr const char* kProgram = "porthog";

    PortHog() = default;
    ~PortHog() { stop(); }
    PortHog(const PortHog&) = delete;
    PortHog& operator=(const PortHog&) = delete;

    // Starts the child on `device`; true once it holds it.
    bool start(const std::string& device)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return false;
        m_pid = ::fork();
        if (m_pid < 0)
            return false;
        if (m_pid == 0) {
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != ready[1])
                    ::close(fd);
            ::prctl(PR_SET_NAME, kProgram, 0, 0, 0);
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const bool held = fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            const char answer = held ? 'y' : 'n';
            (void)!::write(ready[1], &answer, 1);
            ::close(ready[1]);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char answer = 0;
        const bool held = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
        if (!held)
            stop();
        return held;
    }

    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

} // namespace tarsel::test
