// A soak: a thousand commands of every kind, one after another, through the procedures
// the window and the command line run (Connect, Get Setting, every "Setting", All
// Download, the speed change, Display Text, Clear, the code-page test, a QR code, one
// item, a picture), about one in four of the long ones cancelled at a random moment.
//
// The display is the virtual display program on a pseudo-terminal, paced at the line's
// speed, in a process of its own: the open descriptors and resident memory printed are
// this program's alone. Every command's outcome is checked: what a setting sent comes
// back from the next Get Setting, a cancelled run leaves the display answering at the
// speed it had, and nothing fails that was not cancelled.
//
// The same commands then run again on a virtual line in virtual time: each one's time
// there is its protocol time (bytes on the line at its speed, the protocol's pauses and
// waits, the display's answers), against which the real run's slowest command is shown.
//
// Usage: bench_soak [--count N] [--seed S] [--model NAME] [--verbose] [--virtual-only]
//   --count N       commands (default 1000)
//   --seed S        the plan's random seed (default 1)
//   --model NAME    the display's model (default KT310--IIC)
//   --verbose       every command with its time and outcome on standard error
//   --virtual-only  only the run in virtual time (seconds), e.g. to find a failure again
#include "quiet_outlets.h"
#include "link/clock.h"
#include "link/commands.h"
#include "link/connect.h"
#include "link/link.h"
#include "link/models.h"
#include "link/outlets.h"
#include "link/status.h"
#include "link/termios_port.h"
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "pictures/image.h"
#include "pictures/slot_picture.h"
#include "pictures/slots.h"
#include "settings/display_info.h"
#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "settings/window_values.h"
#include "support/virtual_line.h"
#include "transfer/download_run.h"
#include "util/bits.h"
#include "util/codepage.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace tarsel;
namespace fs = std::filesystem;

namespace {

constexpr int kStartBaud = 19200;

enum class Kind {
    Connect, GetSetting, Welcome, Header, TextSetting, Footer, Brightness, CodePage, CommandSet, Play, Baud,
    AllDownload, DisplayText, Clear, CodePageTest, Qr, Item, Picture, Count
};

const char* kindName(Kind k)
{
    static const char* names[] = {"Connect", "Get Setting", "Welcome Setting", "Header Setting", "Text Setting",
                                  "Footer Setting", "Brightness", "Code page Setting", "Command set", "Play Setting",
                                  "Baud rate", "All Download", "Display Text", "Clear", "Code page test",
                                  "QR code", "One item", "A picture"};
    return names[static_cast<int>(k)];
}

// How often each kind comes, out of the sum: the quick ones often, the long ones less.
int weightOf(Kind k)
{
    switch (k) {
    case Kind::Connect: return 6;
    case Kind::GetSetting: return 12;
    case Kind::AllDownload: return 3;
    case Kind::Baud: return 3;
    case Kind::Qr: return 4;
    case Kind::Item: return 5;
    case Kind::Picture: return 4;
    default: return 7;
    }
}

bool cancellable(Kind k) { return k == Kind::AllDownload || k == Kind::Qr || k == Kind::Item || k == Kind::Picture; }

struct Planned {
    Kind kind = Kind::Connect;
    std::uint32_t seed = 0;
    double cancelAfterMs = -1; // < 0: not cancelled
};

std::vector<Planned> makePlan(int count, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<int> weights;
    for (int k = 0; k < static_cast<int>(Kind::Count); ++k)
        weights.push_back(weightOf(static_cast<Kind>(k)));
    std::discrete_distribution<int> pick(weights.begin(), weights.end());
    std::vector<Planned> plan;
    for (int i = 0; i < count; ++i) {
        Planned p;
        // The first command finds the display, as a technician's first click does.
        p.kind = i == 0 ? Kind::Connect : static_cast<Kind>(pick(rng));
        p.seed = static_cast<std::uint32_t>(rng());
        if (cancellable(p.kind) && rng() % 4 == 0)
            p.cancelAfterMs = std::uniform_real_distribution<double>(0, 4000)(rng);
        plan.push_back(p);
    }
    return plan;
}

using bench::QuietOutlets;

// Where the commands run: the link, its clock, and a way to cancel the running
// command after a while.
class Line {
public:
    virtual ~Line() = default;
    virtual Link& link() = 0;
    virtual double nowMs() = 0;
    virtual void cancelAfter(const std::shared_ptr<CancelToken>& token, double ms) = 0;
    virtual void commandEnded() {}
};

// The virtual display program on a pty, in real time.
class RealLine : public Line {
public:
    bool start(const std::string& model, std::string& error)
    {
        int out[2];
        if (::pipe(out) != 0) {
            error = std::strerror(errno);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        // TARSEL_SOAK_DISPLAY_LOG=FILE keeps the display's log of every frame.
        const char* log = std::getenv("TARSEL_SOAK_DISPLAY_LOG");
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log && *log ? log : "/dev/null",
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<std::string> args = {TARSEL_SIM_BINARY, "--model", model, "--baud", std::to_string(kStartBaud),
                                         "--no-register"};
        if (log && *log)
            args.push_back("--verbose");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, TARSEL_SIM_BINARY, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            error = std::string("cannot start the virtual display: ") + std::strerror(rc);
            return false;
        }
        std::string path;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            path += c;
        ::close(out[0]);
        if (path.empty()) {
            error = "the virtual display named no port";
            return false;
        }
        m_link.PortName = path;
        m_link.BaudRate = kStartBaud;
        return true;
    }
    ~RealLine() override
    {
        commandEnded();
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Link& link() override { return m_link; }
    double nowMs() override { return m_clock.nowMs(); }
    void cancelAfter(const std::shared_ptr<CancelToken>& token, double ms) override
    {
        m_ended = false;
        m_canceller = std::thread([this, token, ms] {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, std::chrono::duration<double, std::milli>(ms), [this] { return m_ended; }))
                token->cancel();
        });
    }
    void commandEnded() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_wake.notify_all();
        if (m_canceller.joinable())
            m_canceller.join();
    }

private:
    pid_t m_pid = -1;
    TermiosPort m_cmd, m_text;
    SteadyClock m_clock;
    Link m_link{m_cmd, m_text, m_clock};
    std::thread m_canceller;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_ended = true;
};

// The display core on a virtual line, in virtual time.
class VirtualTimeLine : public Line {
public:
    explicit VirtualTimeLine(const std::string& model) : m_line(config(model))
    {
        m_link.PortName = m_line.portName();
        m_link.BaudRate = kStartBaud;
    }
    Link& link() override { return m_link; }
    double nowMs() override { return m_line.nowMs(); }
    void cancelAfter(const std::shared_ptr<CancelToken>& token, double ms) override
    {
        m_line.at(m_line.nowMs() + ms, [token] { token->cancel(); });
    }

private:
    static sim::DisplayCore::Config config(const std::string& model)
    {
        sim::DisplayCore::Config c;
        c.model = model;
        c.baud = kStartBaud;
        return c;
    }
    test::VirtualLine m_line;
    std::unique_ptr<SerialPort> m_cmd = m_line.makePort("cmd");
    std::unique_ptr<SerialPort> m_text = m_line.makePort("text");
    Link m_link{*m_cmd, *m_text, m_line.clock()};
};

// The record as the window holds it, and what the display must report of it.
struct Expectation {
    TDisplayInfo info;
    WindowValues values;
    int commandModeRow = 0;
};

Bytes padded(const std::string& s, std::size_t n)
{
    Bytes b(s.substr(0, n));
    b.resize(n, ' ');
    return b;
}

// What a Get Setting must show of the settings sent so far.
std::string compareHeld(const TDisplayInfo& held, const TDisplayInfo& got)
{
    std::string d;
    auto check = [&](const char* key, auto a, auto b) {
        if (a != b)
            d += std::string(d.empty() ? "" : ", ") + key;
    };
    check("wel_mess1", held.wel_mess1, got.wel_mess1);
    check("wel_mess2", held.wel_mess2, got.wel_mess2);
    check("temp2", held.temp2, got.temp2);
    check("tp_font_rgb", ColorToRGB565(held.tp_font_rgb_888), static_cast<std::uint16_t>(got.tp_font_rgb_565));
    check("tp_back_rgb", ColorToRGB565(held.tp_back_rgb_888), static_cast<std::uint16_t>(got.tp_back_rgb_565));
    check("tp_mode", held.tp_mode, got.tp_mode);
    check("font_Foreground_color", ColorToRGB565(held.font_Foreground_color_888),
          static_cast<std::uint16_t>(got.font_Foreground_color_565));
    check("font_Background_color", ColorToRGB565(held.font_Background_color_888),
          static_cast<std::uint16_t>(got.font_Background_color_565));
    check("line_mode", held.line_mode, got.line_mode);
    check("main_str", held.main_str, got.main_str);
    check("bm_font_rgb", ColorToRGB565(held.bm_font_rgb_888), static_cast<std::uint16_t>(got.bm_font_rgb_565));
    check("bm_back_rgb", ColorToRGB565(held.bm_back_rgb_888), static_cast<std::uint16_t>(got.bm_back_rgb_565));
    check("Char_No", held.Char_No, got.Char_No);
    check("Expand_Char_No", held.Expand_Char_No, got.Expand_Char_No);
    check("pic_reg", held.pic_reg, got.pic_reg);
    check("into_lun_bo", held.into_lun_bo, got.into_lun_bo);
    check("lun_time", held.lun_time, got.lun_time);
    check("Baud_Rate", held.Baud_Rate, got.Baud_Rate);
    return d;
}

struct Files {
    std::string item;    // an 8 KB font image for position 1
    std::string qr;      // a black-and-white picture for the QR code
};

struct Ran {
    Status status;
    bool cancelled = false;
    std::string failure; // empty: as it should be
};

Color randomColor(std::mt19937& rng) { return rng() & 0xFFFFFF; }

// Runs one planned command on `line`, updating `held` with what the display keeps.
Ran runCommand(Line& line, int model, const Planned& p, Expectation& held, const Files& files)
{
    Link& link = line.link();
    QuietOutlets outlets;
    std::mt19937 rng(p.seed);
    auto token = std::make_shared<CancelToken>();
    link.setCancel(token.get());
    if (p.cancelAfterMs >= 0)
        line.cancelAfter(token, p.cancelAfterMs);
    TDisplayInfo info = held.info; // the window's record with this command's edits
    Ran r;
    auto fromReport = [](const ProcedureReport& report) { return report.status; };
    switch (p.kind) {
    case Kind::Connect: {
        std::vector<int> speeds = {link.BaudRate};
        for (int s : kBaudCandidates)
            if (s != link.BaudRate)
                speeds.push_back(s);
        const ConnectResult c = ScanForDisplay(link, speeds);
        r.status = c.status;
        if (c.status.ok() && (c.modelIndex != model || c.baud != link.BaudRate))
            r.failure = "found model " + std::to_string(c.modelIndex) + " at " + std::to_string(c.baud);
        break;
    }
    case Kind::GetSetting: {
        Bytes reply;
        r.status = ReadDisplaySettings(link, reply);
        if (r.status.ok()) {
            TDisplayInfo got;
            WindowValues values = held.values;
            const ApplyResult a = ApplyDisplaySettings(reply, got, values);
            if (!a.applied)
                r.failure = "the reply did not apply: " + a.status.text;
            else if (const std::string d = compareHeld(held.info, got); !d.empty())
                r.failure = "the display does not hold " + d;
        }
        break;
    }
    case Kind::Welcome:
        info.wel_mess1 = padded("Welcome " + std::to_string(rng() % 100000), 20);
        info.wel_mess2 = padded("Offer of the day no. " + std::to_string(rng() % 1000), 60);
        info.temp2 = static_cast<std::uint8_t>((info.temp2 & ~0x03) | (rng() % 4));
        r.status = fromReport(RunWelcomeSetting(link, info));
        break;
    case Kind::Header:
        info.tp_font_rgb_888 = randomColor(rng);
        info.tp_back_rgb_888 = randomColor(rng);
        info.tp_mode = rng() % 2 ? 10 : 9;
        r.status = fromReport(RunHeaderSetting(link, info));
        break;
    case Kind::TextSetting:
        info.font_Foreground_color_888 = randomColor(rng);
        info.font_Background_color_888 = randomColor(rng);
        info.line_mode = static_cast<std::uint8_t>(1 + rng() % 2);
        info.main_str = padded("Total " + std::to_string(rng() % 10000) + ".00", 20) + padded("Thank you", 20) +
                        padded("", 40);
        r.status = fromReport(RunTextSetting(link, info));
        break;
    case Kind::Footer:
        info.bm_font_rgb_888 = randomColor(rng);
        info.bm_back_rgb_888 = randomColor(rng);
        r.status = fromReport(RunFooterSetting(link, info));
        break;
    case Kind::Brightness:
        info.back_light_set = static_cast<std::uint8_t>(1 + rng() % 4);
        r.status = RunBrightnessSetting(link, info);
        break;
    case Kind::CodePage:
        info.Char_No = static_cast<std::uint8_t>(rng() % 3);
        info.Expand_Char_No = static_cast<std::uint8_t>(rng() % 10);
        r.status = fromReport(RunCodePageSetting(link, info));
        break;
    case Kind::CommandSet:
        held.commandModeRow = static_cast<int>(rng() % 3);
        r.status = RunCommandSetSetting(link, held.commandModeRow);
        break;
    case Kind::Play:
        info.pic_reg = static_cast<std::uint16_t>(rng() % 1024);
        info.into_lun_bo = static_cast<std::uint8_t>(rng() % 121);
        info.lun_time = static_cast<std::uint8_t>(1 + rng() % 10);
        r.status = fromReport(RunPlaySetting(link, info));
        break;
    case Kind::Baud: {
        info.Baud_Rate = link.BaudRate == 19200 ? 2 : 1; // 38400 and 19200 by turns
        int row = -1;
        r.status = RunBaudRateSetting(link, info, row);
        break;
    }
    case Kind::AllDownload:
        r.status = fromReport(RunAllDownload(link, outlets, info));
        break;
    case Kind::DisplayText: {
        const Text text = Utf8ToUtf16("Item " + std::to_string(rng() % 1000) + " 1.99");
        r.status = RunDisplayText(link, text, 0, rng() % 2, static_cast<int>(rng() % 10), static_cast<int>(rng() % 4));
        break;
    }
    case Kind::Clear:
        r.status = RunClearDisplay(link);
        break;
    case Kind::CodePageTest:
        r.status = RunCodePageTest(link, 101 + static_cast<int>(rng() % 3));
        break;
    case Kind::Qr: {
        // As the window's "Show QrCode" on this model: a picture made from a file, or the
        // code rendered by the display from the text (at a picture where it offers that).
        const int align = static_cast<int>(rng() % 3);
        const Text code = Utf8ToUtf16("https://example.com/receipt/" + std::to_string(rng()));
        if (QrFromPictureFile(model))
            r.status = RunShowQrPicture(link, files.qr, align, &BitmapTo1bppFile).status;
        else if (HasPictureNumberControls(model))
            r.status = RunShowQrCodeAt(link, model, code, align, static_cast<int>(1 + rng() % 10));
        else
            r.status = RunShowQrCode(link, code, align);
        break;
    }
    case Kind::Item: {
        DownloadRun run(link, outlets);
        run.setModelIndex(model);
        r.status = run.StartSingleDownload(1, files.item).status;
        break;
    }
    case Kind::Picture: {
        DownloadRun run(link, outlets);
        run.setModelIndex(model);
        const int slot = 74; // the title logo
        const auto size = SlotTargetSize(slot, model);
        const Image logo(size->width, size->height, static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                         static_cast<std::uint8_t>(rng()));
        const Bytes bytes = SlotPictureBytes(logo, slot, model);
        r.status = run.StartPictureDownload({SlotQueuePosition(slot)}, [&](int) { return bytes; }).status;
        break;
    }
    case Kind::Count: break;
    }
    line.commandEnded();
    r.cancelled = token->cancelled();
    link.setCancel(nullptr);

    const bool settingKind = p.kind >= Kind::Welcome && p.kind <= Kind::AllDownload;
    if (r.cancelled) {
        if (!r.status.ok() && r.status.code != Code::Cancelled)
            r.failure = "cancelled, but it ended " + r.status.text;
        // Whatever the moment of the cancel, the display answers at the speed it had.
        int found = -1;
        if (r.failure.empty() && !DetectModel(link, found).ok())
            r.failure = "after the cancel the display does not answer at " + std::to_string(link.BaudRate);
        if (r.status.ok() && settingKind)
            held.info = info;
    } else if (!r.status.ok() && r.failure.empty()) {
        r.failure = r.status.text.empty() ? CodeName(r.status.code) : r.status.text;
    } else if (r.status.ok() && settingKind) {
        held.info = info; // the display keeps what was sent
    }
    return r;
}

struct Usage {
    long rssKb = 0;
    int fds = 0;
};

Usage usageNow()
{
    Usage u;
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    u.rssKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(d))
            u.fds += e->d_name[0] != '.';
        ::closedir(d);
        --u.fds; // the directory's own
    }
    return u;
}

struct PassResult {
    std::vector<double> ms;       // each command's time
    std::vector<std::string> failures;
    int cancelled = 0;
    Usage start, after100, end;
};

PassResult runPass(Line& line, int model, const std::vector<Planned>& plan, const Files& files, bool verbose,
                   const char* label)
{
    PassResult pr;
    Expectation held;
    std::string error;
    if (!ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), held.info, held.values, error))
        pr.failures.push_back("the default settings did not parse: " + error);
    pr.start = usageNow();
    int since = 0;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (i == 1) {
            // Learn what the display holds at the start: every later Get Setting is
            // compared with this and what was sent since.
            Bytes reply;
            TDisplayInfo got;
            if (ReadDisplaySettings(line.link(), reply).ok() &&
                ApplyDisplaySettings(reply, got, held.values).applied)
                held.info = got;
            else
                pr.failures.push_back("the first Get Setting failed");
        }
        const double t0 = line.nowMs();
        const Ran r = runCommand(line, model, plan[i], held, files);
        pr.ms.push_back(line.nowMs() - t0);
        pr.cancelled += r.cancelled;
        if (!r.failure.empty())
            pr.failures.push_back("#" + std::to_string(i + 1) + " " + kindName(plan[i].kind) + ": " + r.failure);
        if (verbose)
            std::fprintf(stderr, "%s #%zu %s %.0f ms%s%s\n", label, i + 1, kindName(plan[i].kind), pr.ms.back(),
                         r.cancelled ? (" (cancelled after " + std::to_string(static_cast<int>(plan[i].cancelAfterMs)) +
                                        " ms)").c_str()
                                     : "",
                         r.failure.empty() ? "" : (" FAILED: " + r.failure).c_str());
        if (i + 1 == 100)
            pr.after100 = usageNow();
        if (++since == 100 && !verbose) {
            since = 0;
            std::fprintf(stderr, "  %s: %zu of %zu commands\n", label, i + 1, plan.size());
        }
    }
    pr.end = usageNow();
    if (plan.size() < 100)
        pr.after100 = pr.end;
    return pr;
}

bool writeFiles(const fs::path& dir, Files& files)
{
    std::mt19937 rng(3);
    Bytes item(8192, '\0');
    for (char& c : item)
        c = static_cast<char>(rng());
    files.item = (dir / "font.bin").string();
    std::ofstream(files.item, std::ios::binary).write(item.data(), static_cast<std::streamsize>(item.size()));
    Image qr(96, 96);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            const std::uint8_t v = ((x / 8 + y / 8) % 2) ? 0 : 255;
            qr.setPixel(x, y, v, v, v);
        }
    files.qr = (dir / "qr.png").string();
    const Bytes png = EncodePng(qr);
    std::ofstream(files.qr, std::ios::binary).write(png.data(), static_cast<std::streamsize>(png.size()));
    return fs::exists(files.item) && fs::exists(files.qr);
}

double growth(long from, long to) { return from > 0 ? 100.0 * static_cast<double>(to - from) / static_cast<double>(from) : 0; }

} // namespace

int main(int argc, char** argv)
{
    int count = 1000;
    std::uint32_t seed = 1;
    std::string modelName = "KT310--IIC";
    bool verbose = false;
    bool virtualOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count" && i + 1 < argc)
            count = std::max(1, std::atoi(argv[++i]));
        else if (a == "--seed" && i + 1 < argc)
            seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--model" && i + 1 < argc)
            modelName = argv[++i];
        else if (a == "--verbose")
            verbose = true;
        else if (a == "--virtual-only")
            virtualOnly = true;
        else {
            std::fprintf(stderr, "usage: bench_soak [--count N] [--seed S] [--model NAME] [--verbose] [--virtual-only]\n");
            return 2;
        }
    }
    const int model = FindModel(modelName);
    if (model < 0) {
        std::fprintf(stderr, "unknown model %s\n", modelName.c_str());
        return 2;
    }
    const fs::path dir = fs::temp_directory_path() / ("tarsel-bench-soak-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    Files files;
    if (!writeFiles(dir, files)) {
        std::fprintf(stderr, "cannot write the test files in %s\n", dir.c_str());
        return 1;
    }
    const std::vector<Planned> plan = makePlan(count, seed);
    std::vector<int> perKind(static_cast<int>(Kind::Count), 0);
    int planned = 0;
    for (const Planned& p : plan) {
        ++perKind[static_cast<int>(p.kind)];
        planned += p.cancelAfterMs >= 0;
    }
    std::printf("Soak: %d commands (seed %u) on a %s starting at %d bit/s, the virtual display program on a\n"
                "pseudo-terminal paced at the line's speed; %d of them cancelled at a random moment.\n",
                count, seed, modelName.c_str(), kStartBaud, planned);
    for (int k = 0; k < static_cast<int>(Kind::Count); ++k)
        std::printf("  %-18s %4d\n", kindName(static_cast<Kind>(k)), perKind[k]);
    std::fflush(stdout);

    PassResult real;
    double wall = 0;
    if (!virtualOnly) {
        RealLine line;
        std::string error;
        if (!line.start(modelName, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const auto t0 = std::chrono::steady_clock::now();
        real = runPass(line, model, plan, files, verbose, "real");
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    PassResult virt;
    {
        VirtualTimeLine line(modelName);
        virt = runPass(line, model, plan, files, verbose, "virtual");
    }
    fs::remove_all(dir);

    if (!virtualOnly) {
    std::printf("\nReal run: %.0f s, %d cancelled\n", wall, real.cancelled);
    std::printf("  failures: %zu (must be 0)\n", real.failures.size());
    for (std::size_t i = 0; i < real.failures.size() && i < 20; ++i)
        std::printf("    %s\n", real.failures[i].c_str());
    std::printf("  open descriptors: start %d, after 100 %d, end %d\n", real.start.fds, real.after100.fds,
                real.end.fds);
    std::printf("  resident memory:  start %.1f MB, after 100 %.1f MB, end %.1f MB (%+.1f %% since the start, %+.1f %% "
                "since command 100; goal: within 5 %%)\n",
                real.start.rssKb / 1024.0, real.after100.rssKb / 1024.0, real.end.rssKb / 1024.0,
                growth(real.start.rssKb, real.end.rssKb), growth(real.after100.rssKb, real.end.rssKb));
    }
    std::printf("Virtual run (the same commands in virtual time): failures %zu\n", virt.failures.size());
    for (std::size_t i = 0; i < virt.failures.size() && i < 20; ++i)
        std::printf("    %s\n", virt.failures[i].c_str());

    // The slowest commands: by how far they ran over their protocol time.
    std::vector<std::size_t> order(plan.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const bool comparable = !virtualOnly && virt.ms.size() == real.ms.size();
    if (comparable) {
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return real.ms[a] - virt.ms[a] > real.ms[b] - virt.ms[b]; });
        std::printf("Slowest against the protocol time (the same command in virtual time):\n");
        for (std::size_t n = 0; n < 5 && n < order.size(); ++n) {
            const std::size_t i = order[n];
            std::printf("  #%-4zu %-18s %8.0f ms, protocol %8.0f ms, over by %6.0f ms%s\n", i + 1,
                        kindName(plan[i].kind), real.ms[i], virt.ms[i], real.ms[i] - virt.ms[i],
                        plan[i].cancelAfterMs >= 0 ? " (cancel planned)" : "");
        }
        std::vector<double> k(static_cast<int>(Kind::Count), 0), kv(static_cast<int>(Kind::Count), 0);
        for (std::size_t i = 0; i < plan.size(); ++i)
            if (plan[i].cancelAfterMs < 0) {
                const int kind = static_cast<int>(plan[i].kind);
                if (real.ms[i] > k[kind]) {
                    k[kind] = real.ms[i];
                    kv[kind] = virt.ms[i];
                }
            }
        std::printf("Slowest of each kind (not cancelled): real ms / protocol ms\n");
        for (int kind = 0; kind < static_cast<int>(Kind::Count); ++kind)
            if (k[kind] > 0)
                std::printf("  %-18s %8.0f / %8.0f\n", kindName(static_cast<Kind>(kind)), k[kind], kv[kind]);
    }
    std::printf("Virtual run: %d cancelled\n", virt.cancelled);
    return real.failures.empty() && virt.failures.empty() ? 0 : 1;
}
