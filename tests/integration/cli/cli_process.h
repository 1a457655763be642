// Runs the built tarsel-cli as a child process with its own environment, collecting
// what it writes, and lets a test signal it.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tarsel::test {

class CliProcess {
public:
    CliProcess() = default;
    ~CliProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        closeFds();
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Starts `program` with `args` and exactly the environment `env` ("NAME=value").
    bool start(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env)
    {
        int out[2], err[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> a, e;
        for (auto& s : argv)
            a.push_back(s.data());
        a.push_back(nullptr);
        std::vector<std::string> envCopy = env;
        for (auto& s : envCopy)
            e.push_back(s.data());
        e.push_back(nullptr);
        const int rc = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, a.data(), e.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        ::close(in[0]);
        ::close(in[1]); // standard input: at its end at once
        m_out = out[0];
        m_err = err[0];
        if (rc != 0) {
            m_pid = -1;
            return false;
        }
        return true;
    }

    // Reads what the child wrote for up to `ms`.
    void pump(double ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(static_cast<long long>(ms * 1000));
        while (m_out >= 0 || m_err >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return;
            pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
            const int n = ::poll(fds, 2, static_cast<int>(left));
            if (n <= 0)
                return;
            readFrom(fds[0], m_out, out);
            readFrom(fds[1], m_err, err);
        }
    }

    // Waits for the child's end (reading its output); its exit status, or -1 when it
    // did not end within timeoutMs (it is then killed).
    int wait(double timeoutMs)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(timeoutMs));
        while (m_pid > 0) {
            int status = 0;
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                pump(200); // what is left in the pipes
                if (WIFEXITED(status))
                    return WEXITSTATUS(status);
                return 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > end) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                m_pid = -1;
                return -1;
            }
            pump(20);
        }
        return -1;
    }

    pid_t pid() const { return m_pid; }
    std::string out;
    std::string err;

private:
    static void readFrom(const pollfd& p, int& fd, std::string& into)
    {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            ::close(fd);
            fd = -1;
        }
    }
    void closeFds()
    {
        if (m_out >= 0)
            ::close(m_out);
        if (m_err >= 0)
            ::close(m_err);
        m_out = m_err = -1;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
};

} // namespace tarsel::test
