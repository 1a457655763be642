// tarsel-cli: the display jobs of the window from the command line.
#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/jobs.h"
#include "cli/signals.h"

#include <cctype>
#include <iostream>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace tarsel;
using namespace tarsel::cli;

namespace {

// A yes/no answer typed on the terminal; Ctrl-C (the cancel token) ends the wait.
Reply askTerminal(const CancelToken* cancel)
{
    std::string line;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {cancel ? cancel->pollFd() : -1, POLLIN, 0}};
        const int n = ::poll(fds, 2, cancel && cancel->pollFd() < 0 ? 100 : -1);
        if (cancel && cancel->cancelled())
            return Reply::Cancelled;
        if (n <= 0)
            continue;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got <= 0)
            return Reply::No;
        if (c == '\n')
            break;
        line += c;
    }
    std::string word;
    for (char c : line)
        if (!std::isspace(static_cast<unsigned char>(c)))
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word == "y" || word == "yes" ? Reply::Yes : Reply::No;
}

int terminalWidth()
{
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20)
        return ws.ws_col;
    return 80;
}

} // namespace

int main(int argc, char** argv)
{
    const ParseResult parsed = ParseArguments(argc, argv);
    if (parsed.action == ParseResult::Action::Exit) {
        std::cout << parsed.out;
        std::cerr << parsed.err;
        return parsed.exitCode;
    }
    const Invocation& inv = parsed.invocation;

    Console::Options options;
    options.json = inv.json;
    options.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    options.canAsk = ::isatty(STDIN_FILENO) == 1 && options.errIsTerminal;
    options.width = options.errIsTerminal ? terminalWidth() : 80;
    Console console(std::cout, std::cerr, options, askTerminal);

    // Before any other thread exists: every thread inherits the blocked signals.
    CancelToken cancel;
    SignalCanceller signals(cancel, [&console] {
        console.errLine("tarsel-cli: interrupted again; leaving without waiting for the display");
        std::cout.flush();
        ::_exit(kExitCancelled);
    });
    return RunInvocation(inv, console, cancel);
}
