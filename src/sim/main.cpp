// tarsel-display-sim: a virtual customer display on a pseudo-terminal.
#include "sim/screen/sim_screen.h"
#include "sim/virtual_display.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using tarsel::sim::Faults;
using tarsel::sim::Options;

void printHelp()
{
    std::printf(
        "Usage: tarsel-display-sim [options]\n"
        "\n"
        "Plays a customer display on a pseudo-terminal so that Tarsel (or any serial\n"
        "program) can talk to it. Prints the device path, logs every frame it receives\n"
        "on standard error (hexadecimal) and runs until interrupted (Ctrl+C or SIGTERM).\n"
        "\n"
        "Options:\n"
        "  --model NAME     display model, exactly one of:\n"
        "                   KT310--IIA KT310--IIB KT310--IIC KT310-IID KT710--II\n"
        "                   KT310-II KT710-II (default KT710-II)\n"
        "  --baud N         line speed the display listens and answers at: 9600, 19200,\n"
        "                   38400, 57600 or 115200 (default 9600). Bytes sent at any\n"
        "                   other speed are noise to it.\n"
        "  --version N      firmware version it reports, 0..255 (default 12)\n"
        "  --name NAME      name of its link in the virtual-port folder\n"
        "                   (default virtual-<model>-<pid>)\n"
        "  --no-register    do not create the link; use the printed /dev/pts path\n"
        "  --no-pacing      answer at once instead of at the line rate (10 bits a byte)\n"
        "  --restart-ms N   how long it is deaf after the restart command (default 300)\n"
        "  --block-retry-ms N\n"
        "                   how long it waits for a block frame before it sends its\n"
        "                   block request again (default 1000); after three such\n"
        "                   repeats and as long again it abandons the transfer\n"
        "  --fault FAULT    misbehave; may be given several times. FAULT is one of:\n"
        "                     silent            answer nothing at all\n"
        "                     garbage=N         N random bytes before every answer\n"
        "                     wrong-echo        echoes come back with one byte changed\n"
        "                     wrong-crc         transfer end frame and file CRC line\n"
        "                                       report a wrong CRC\n"
        "                     stop-after=N      go silent after N blocks of a transfer\n"
        "                                       (or N 256-byte pieces of a file stream)\n"
        "                     hang-up-after=N   hang the line up after N blocks\n"
        "                     slow=N            every answer leaves N ms late\n"
        "                     refuse-make-file  answer the make-file command \"NO\"\n"
        "                   (to answer at one speed only, use --baud)\n"
        "  --screen FILE    draw what the display shows (its settings, stored pictures,\n"
        "                   the last text or QR code) into the PNG FILE on every change\n"
        "  --verbose        also log the bytes it sends and the port's opens and closes\n"
        "  --help           show this text\n"
        "\n"
        "The link is made in $XDG_RUNTIME_DIR/tarsel/ when XDG_RUNTIME_DIR is set,\n"
        "else in /tmp/tarsel-<uid>/, where Tarsel's port list finds it; it is removed\n"
        "when the display stops.\n");
}

bool parseInt(const char* text, int& out)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*end || errno || v < -2147483647L || v > 2147483647L)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool parseFault(const std::string& text, Faults& f)
{
    const auto eq = text.find('=');
    const std::string key = text.substr(0, eq);
    const bool hasValue = eq != std::string::npos;
    int value = 0;
    if (hasValue && (!parseInt(text.c_str() + eq + 1, value) || value < 0))
        return false;
    if (key == "silent" && !hasValue) f.silent = true;
    else if (key == "garbage" && hasValue) f.garbageBytes = value;
    else if (key == "wrong-echo" && !hasValue) f.wrongEcho = true;
    else if (key == "wrong-crc" && !hasValue) f.wrongCrc = true;
    else if (key == "stop-after" && hasValue) f.stopAfterBlocks = value;
    else if (key == "hang-up-after" && hasValue) f.hangUpAfterBlocks = value;
    else if (key == "slow" && hasValue) f.slowMs = value;
    else if (key == "refuse-make-file" && !hasValue) f.refuseMakeFile = true;
    else return false;
    return true;
}

void logLine(const std::string& line)
{
    timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local {};
    localtime_r(&ts.tv_sec, &local);
    std::fprintf(stderr, "%02d:%02d:%02d.%03ld %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                 ts.tv_nsec / 1000000, line.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string screenFile;
    options.log = logLine;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tarsel-display-sim: %s needs %s\n", arg.c_str(), what);
                std::exit(2);
            }
            return argv[++i];
        };
        int n = 0;
        if (arg == "--help" || arg == "-h") {
            printHelp();
            return 0;
        } else if (arg == "--model") {
            options.model = value("a model name");
        } else if (arg == "--baud") {
            if (!parseInt(value("a speed"), n)) {
                std::fprintf(stderr, "tarsel-display-sim: --baud needs a number\n");
                return 2;
            }
            options.baud = n;
        } else if (arg == "--version") {
            if (!parseInt(value("a number"), n) || n < 0 || n > 255) {
                std::fprintf(stderr, "tarsel-display-sim: --version needs a number 0..255\n");
                return 2;
            }
            options.version = n;
        } else if (arg == "--name") {
            options.linkName = value("a name");
        } else if (arg == "--no-register") {
            options.registerLink = false;
        } else if (arg == "--no-pacing") {
            options.pacing = false;
        } else if (arg == "--restart-ms") {
            if (!parseInt(value("milliseconds"), n) || n < 0) {
                std::fprintf(stderr, "tarsel-display-sim: --restart-ms needs a number\n");
                return 2;
            }
            options.restartSilenceMs = n;
        } else if (arg == "--block-retry-ms") {
            if (!parseInt(value("milliseconds"), n) || n <= 0) {
                std::fprintf(stderr, "tarsel-display-sim: --block-retry-ms needs a number above 0\n");
                return 2;
            }
            options.blockRetryMs = n;
        } else if (arg == "--fault") {
            const std::string fault = value("a fault");
            if (!parseFault(fault, options.faults)) {
                std::fprintf(stderr, "tarsel-display-sim: unknown fault \"%s\" (see --help)\n", fault.c_str());
                return 2;
            }
        } else if (arg == "--screen") {
            screenFile = value("a PNG file");
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else {
            std::fprintf(stderr, "tarsel-display-sim: unknown option \"%s\" (see --help)\n", arg.c_str());
            return 2;
        }
    }

    // Signals are taken by sigtimedwait below; block them before the display's thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    tarsel::sim::VirtualDisplay display(options);
    std::string error;
    if (!display.start(&error)) {
        std::fprintf(stderr, "tarsel-display-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", display.devicePath().c_str());
    std::fflush(stdout);
    logLine("-- " + options.model + " at " + std::to_string(options.baud) + " bit/s on "
            + display.slavePath() + (display.linkPath().empty() ? "" : " (" + display.linkPath() + ")"));

    // The screen: drawn again on every change, and every second while something
    // moves on it (the carousel, scrolling lines).
    std::uint64_t drawnChanges = ~std::uint64_t{0};
    double standbySince = tarsel::sim::VirtualDisplay::nowMs();
    double drawnAt = 0;
    auto drawScreen = [&] {
        if (screenFile.empty())
            return;
        const auto [changes, held] = display.withCore([](const tarsel::sim::DisplayCore& core) {
            return std::make_pair(core.screenChanges(), tarsel::sim::CopyHeldState(core));
        });
        const double now = tarsel::sim::VirtualDisplay::nowMs();
        if (changes != drawnChanges)
            standbySince = now;
        else if (now - drawnAt < 1000)
            return;
        std::string screenError;
        if (!tarsel::sim::WriteScreenPng(held, (now - standbySince) / 1000.0, screenFile, screenError) &&
            changes != drawnChanges)
            logLine("-- cannot write the screen: " + screenError);
        drawnChanges = changes;
        drawnAt = now;
    };

    for (;;) {
        drawScreen();
        timespec slice {0, 100 * 1000 * 1000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &slice);
        if (sig > 0) {
            logLine(std::string("-- stopping on ") + strsignal(sig));
            break;
        }
        if (display.hungUp()) {
            logLine("-- the line was hung up; stopping");
            break;
        }
    }
    display.stop();
    return 0;
}
