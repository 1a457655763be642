// The real window against a virtual display: how long the window takes to its first
// paint, how much memory it holds once shown, and how long the window's event loop
// is held up at worst while the worker talks to the display:
//  1. start: from the process's start (and from main()) to the first paint of the
//     main window; resident memory once it is shown;
//  2. Connect on a display paced at the line's speed (a KT310-IID, firmware 12);
//  3. "Font Download" on that display (a named-file model: every image streamed at
//     115200 bit/s) from a synthetic resource pack, with the frame log window open;
//  4. Connect's scan of a silent line (all five speeds).
// The loop's gaps are measured with a 1 ms timer (the longest time between two of its
// ticks: work on the window's thread plus whatever the machine's scheduler adds) and
// by timing every event the application delivers, in the window thread's CPU time
// (its own work alone; Qt's event types: 77 a repaint, 206 an expose, 1 a timer).
// Goal: gaps below 16 ms (one frame at 60 Hz); first paint below 300 ms.
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise, e.g. under Xvfb:
//   xvfb-run -a env QT_QPA_PLATFORM=xcb bench_window
// Usage: bench_window [--divisor N] [--no-frame-log]
//   --divisor N     images of size/N (default 16; 1 = the maker's full sizes, minutes)
//   --no-frame-log  leave the frame log window closed during the download
#include "link/frame_log.h"
#include "sim/virtual_display.h"
#include "transfer/download_run.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"
#include "ui/frame_log_window.h"
#include "ui/tarselmain.h"
#include "ui/transfer_controller.h"
#include "ui/window_forms.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// Milliseconds since this process started (the kernel counts in clock ticks, 10 ms).
double msSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int i = 3; i <= 22 && (fields >> field); ++i)
        if (i == 22)
            startTicks = std::stoull(field);
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
    return nowMs - static_cast<double>(startTicks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// "VmRSS" or "VmHWM" of this process, in KiB.
long statusKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::atol(line.c_str() + prefix.size());
    return -1;
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Times every event the application delivers, on the wall clock and in the window
// thread's own CPU time: the longest CPU time is the longest the window's thread
// worked on one piece of its own work (the wall time adds what the machine's
// scheduler took away meanwhile).
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (m_depth++ > 0) { // nested (a modal loop, a send inside a handler): counted in the outer one
            const bool r = QApplication::notify(receiver, event);
            --m_depth;
            return r;
        }
        // Named before delivery: the event may delete its receiver (a deleteLater, a
        // single-shot timer's object), and the event itself with it.
        const QMetaObject* meta = receiver->metaObject();
        const QString name = receiver->objectName();
        const int type = event->type();
        const auto t = Clock::now();
        const double cpu0 = threadCpuMs();
        const bool r = QApplication::notify(receiver, event);
        const double ms = msSince(t);
        const double cpu = threadCpuMs() - cpu0;
        --m_depth;
        if (ms > longestMs || cpu > longestCpuMs || cpu > kSlowMs) {
            const std::string what = std::string(meta->className()) + " \"" + name.toStdString() +
                                     "\", event type " + std::to_string(type);
            if (ms > longestMs) {
                longestMs = ms;
                longestWhat = what;
            }
            if (cpu > longestCpuMs) {
                longestCpuMs = cpu;
                longestCpuWhat = what;
            }
            if (cpu > kSlowMs)
                ++slow[what];
        }
        return r;
    }
    void resetLongest()
    {
        longestMs = longestCpuMs = 0;
        longestWhat.clear();
        longestCpuWhat.clear();
        slow.clear();
    }
    static constexpr double kSlowMs = 16;
    double longestMs = 0;
    std::string longestWhat;
    double longestCpuMs = 0;
    std::string longestCpuWhat;
    std::map<std::string, int> slow; // events that took over kSlowMs of CPU, by receiver and type

private:
    int m_depth = 0;
};

// Ticks every millisecond and keeps the intervals between ticks.
class LoopGaps : public QObject {
public:
    LoopGaps()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const auto now = Clock::now();
            if (m_running)
                m_gaps.push_back(std::chrono::duration<double, std::milli>(now - m_last).count());
            m_last = now;
            m_running = true;
        });
    }
    void start()
    {
        m_gaps.clear();
        m_running = false;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double percentile(double p) const
    {
        if (m_gaps.empty())
            return 0;
        std::vector<double> v = m_gaps;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
    }
    double longest() const { return m_gaps.empty() ? 0 : *std::max_element(m_gaps.begin(), m_gaps.end()); }
    std::size_t over(double ms) const
    {
        return static_cast<std::size_t>(std::count_if(m_gaps.begin(), m_gaps.end(), [ms](double g) { return g > ms; }));
    }
    std::size_t count() const { return m_gaps.size(); }

private:
    QTimer m_timer;
    std::vector<double> m_gaps;
    Clock::time_point m_last;
    bool m_running = false;
};

// Records the first paint of a widget.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && paintedMs < 0) {
            paintedMs = msSince(since);
            fromProcessStartMs = msSinceProcessStart();
            watched->removeEventFilter(this);
        }
        return false;
    }
    Clock::time_point since;
    double paintedMs = -1;
    double fromProcessStartMs = -1;
};

// Runs the event loop until `done` says so (checked every 20 ms) or `limitMs` passes.
bool runUntil(const std::function<bool()>& done, double limitMs)
{
    QEventLoop loop;
    QTimer poll;
    const auto start = Clock::now();
    bool ok = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            ok = true;
            loop.quit();
        } else if (msSince(start) > limitMs) {
            loop.quit();
        }
    });
    poll.start(20);
    loop.exec();
    return ok;
}

std::string FormatSeconds(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f s", ms / 1000.0);
    return text;
}

void printGaps(const char* what, const LoopGaps& gaps, const TimedApplication& app, double seconds)
{
    std::printf("%s (%.1f s)\n", what, seconds);
    std::printf("  longest event-loop gap: %.1f ms (goal < 16 ms); p99 %.2f ms, median %.2f ms; "
                "%zu of %zu ticks over 16 ms\n",
                gaps.longest(), gaps.percentile(0.99), gaps.percentile(0.5), gaps.over(16), gaps.count());
    std::printf("  longest single event:   %.1f ms of CPU time (%s); %.1f ms on the wall clock (%s)\n",
                app.longestCpuMs, app.longestCpuWhat.c_str(), app.longestMs, app.longestWhat.c_str());
    for (const auto& [what, count] : app.slow)
        std::printf("    %d event(s) over 16 ms of CPU time: %s\n", count, what.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const auto mainStart = Clock::now();
    std::size_t divisor = 16;
    bool frameLogOpen = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--divisor") && i + 1 < argc)
            divisor = std::max<std::size_t>(1, std::strtoul(argv[++i], nullptr, 10));
        else if (!std::strcmp(argv[i], "--no-frame-log"))
            frameLogOpen = false;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The display first, so that the window's start is measured on its own.
    QTemporaryDir dir;
    tarsel::sim::Options o;
    o.model = "KT310-IID";
    o.baud = 9600;
    o.version = 12;
    o.pacing = true;
    o.registerLink = true;
    o.linkFolder = dir.path().toStdString();
    tarsel::sim::VirtualDisplay display(o);
    std::string error;
    if (!dir.isValid() || !display.start(&error)) {
        std::fprintf(stderr, "the virtual display did not start: %s\n", error.c_str());
        return 1;
    }
    const std::string pack = dir.filePath(QStringLiteral("pack")).toStdString();
    if (!tarsel::WriteSyntheticResourcePack(pack, divisor, error)) {
        std::fprintf(stderr, "cannot write the resource pack: %s\n", error.c_str());
        return 1;
    }
    tarsel::SetResourceFolderOverride({pack});

    // 1. Start: the same steps as the program's main(), and the window shown.
    const auto appStart = Clock::now();
    TimedApplication app(argc, argv);
    TarselMain::initApplication();
    std::vector<std::string> boxes;
    TarselMain::Options options;
    options.virtualPortFolder = dir.path().toStdString() + "/";
    options.preferencesFile = dir.filePath(QStringLiteral("tarsel.conf"));
    options.preferredPort = display.devicePath();
    options.messageBoxHook = [&boxes](const QString& text, int flags) {
        boxes.push_back(text.toStdString());
        return (flags & 0x0F) == 4 ? 6 : 1;
    };
    FirstPaint firstPaint;
    firstPaint.since = mainStart;
    auto window = std::make_unique<TarselMain>(options);
    window->installEventFilter(&firstPaint);
    window->show();
    if (!runUntil([&] { return firstPaint.paintedMs >= 0; }, 10000)) {
        std::fprintf(stderr, "the window was never painted (platform %s)\n", qgetenv("QT_QPA_PLATFORM").constData());
        return 1;
    }
    runUntil([] { return true; }, 0); // whatever the first show left to do
    const long rss = statusKiB("VmRSS");
    std::printf("Window benchmark on the %s platform; the display paced at its line speed\n",
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("Start\n");
    std::printf("  first paint of the window: %.0f ms from the process's start (kernel ticks of 10 ms), "
                "%.0f ms from main(), %.0f ms from the application's creation (goal < 300 ms)\n",
                firstPaint.fromProcessStartMs, firstPaint.paintedMs,
                firstPaint.paintedMs - std::chrono::duration<double, std::milli>(appStart - mainStart).count());
    std::printf("  resident memory once shown: %.1f MiB\n", static_cast<double>(rss) / 1024.0);

    LoopGaps gaps;

    // 2. Connect.
    app.resetLongest();
    gaps.start();
    auto t = Clock::now();
    window->btnConnectClick();
    if (!runUntil([&] { return !window->isBusy(); }, 60000) || window->modelIndex() != 3) {
        std::fprintf(stderr, "Connect failed: %s\n", boxes.empty() ? "" : boxes.back().c_str());
        return 1;
    }
    gaps.stop();
    printGaps("Connect to a KT310-IID answering at 9600 bit/s", gaps, app, msSince(t) / 1000.0);

    // 3. Font Download, streamed at 115200 bit/s, with the frame log open.
    if (frameLogOpen)
        window->openFrameLog();
    app.resetLongest();
    boxes.clear();
    gaps.start();
    t = Clock::now();
    TransferController& transfer = window->transferController();
    transfer.btn_CharacterSetDownAllClick();
    // What the speed panel said, every 15 s.
    std::vector<std::string> rates;
    double nextRateMs = 15000;
    runUntil([&] {
        if (msSince(t) >= nextRateMs) {
            rates.push_back(FormatSeconds(msSince(t)) + " \"" +
                            window->forms().status.StatusBar1Rate->text().toStdString() + "\"");
            nextRateMs += 15000;
        }
        return !window->isBusy();
    }, 3600000);
    gaps.stop();
    const double runSeconds = msSince(t) / 1000.0;
    std::size_t bytes = 0;
    for (const auto& [name, data] : display.files())
        bytes += data.size();
    char title[200];
    std::snprintf(title, sizeof title, "\"Font Download\", %zu images of size/%zu (%zu bytes) streamed at 115200 bit/s%s",
                  display.files().size(), divisor, bytes, frameLogOpen ? ", frame log open" : "");
    printGaps(title, gaps, app, runSeconds);
    std::printf("  result: %s\n", boxes.empty() ? "(no tally)" : boxes.back().c_str());
    std::printf("  speed panel (speed, item's | run's time left):");
    for (std::size_t i = 0; i < rates.size(); ++i)
        std::printf("%s%s", i % 3 == 0 ? "\n    " : ", ", rates[i].c_str());
    std::printf("\n");
    const tarsel::FrameLog::Status frames = window->frameLog().status();
    std::printf("  frame log: %zu lines held, %llu dropped\n", frames.held,
                static_cast<unsigned long long>(frames.dropped));
    std::printf("  resident memory after it: %.1f MiB (peak %.1f MiB)\n",
                static_cast<double>(statusKiB("VmRSS")) / 1024.0, static_cast<double>(statusKiB("VmHWM")) / 1024.0);

    // 4. Connect's scan of a silent line.
    tarsel::sim::Faults silent;
    silent.silent = true;
    display.setFaults(silent);
    app.resetLongest();
    boxes.clear();
    gaps.start();
    t = Clock::now();
    window->btnConnectClick();
    runUntil([&] { return !window->isBusy(); }, 120000);
    gaps.stop();
    printGaps("Connect's scan of a silent line (five speeds)", gaps, app, msSince(t) / 1000.0);
    std::printf("  result: %s\n", boxes.empty() ? "(no box)" : boxes.back().c_str());

    window.reset();
    tarsel::SetResourceFolderOverride({});
    display.stop();
    return 0;
}
