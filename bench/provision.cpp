// Provisioning one, four and sixteen displays at once with the same profile, by the
// built tarsel-cli (with a report per display, --report), against virtual displays
// paced at 115200 bit/s: each time as a ratio of the one-display time (one thread per
// port: the goal for sixteen is 1.1 at most) and the CPU time the program used per
// display.
//
// The profile: a settings file applied as `settings apply` applies it, a full-screen
// picture made from a 1600 × 960 PNG and a play picture, and three font images (a
// synthetic pack, 1/16 of the maker's sizes).
//
// Usage: bench_provision [--model NAME] [--repeat N]
//   --model NAME  the displays' model (default KT310-IID)
//   --repeat N    measure each case N times and report the fastest (default 1)
#include "link/models.h"
#include "pictures/codecs.h"
#include "settings/tables.h"
#include "sim/virtual_display.h"
#include "transfer/synthetic_pack.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace tarsel;
namespace fs = std::filesystem;

namespace {

constexpr int kBaud = 115200;

struct Measure {
    double seconds = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    double simSeconds = 0; // CPU the virtual displays (this process) used meanwhile
    int exit = -1;
};

double secondsOf(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// Runs tarsel-cli with its output in `log`; the wall time and the CPU time it used.
Measure runCli(const std::vector<std::string>& args, const fs::path& log)
{
    Measure m;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> argv = {TARSEL_CLI_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> a;
    for (auto& s : argv)
        a.push_back(s.data());
    a.push_back(nullptr);
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid, TARSEL_CLI_BINARY, &actions, nullptr, a.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", TARSEL_CLI_BINARY, std::strerror(rc));
        return m;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.userSeconds = secondsOf(usage.ru_utime);
    m.systemSeconds = secondsOf(usage.ru_stime);
    m.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

Image photo(int w, int h)
{
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, static_cast<std::uint8_t>((x * 255) / w), static_cast<std::uint8_t>((y * 255) / h),
                         static_cast<std::uint8_t>(((x / 40 + y / 40) % 2) * 200 + (x ^ y) % 55));
    return img;
}

bool writeProfile(const fs::path& dir)
{
    auto settings = nlohmann::ordered_json::parse(DefaultSettingsJson);
    settings["wel_mess1"] = "BENCH SHOP";
    settings["pic_reg"] = 1;
    settings["into_lun_bo"] = 20;
    std::ofstream(dir / "shop.ini") << settings.dump(4);
    std::ofstream(dir / "photo.png", std::ios::binary) << EncodePng(photo(1600, 960));
    std::ofstream(dir / "offer.png", std::ios::binary) << EncodePng(photo(800, 480));
    std::ofstream(dir / "profile.json") << R"({
        "settings": "shop.ini",
        "pictures": {"73": "photo.png", "Picture_1": "offer.png"},
        "fonts": ["CP437", "mini_CP437", "USA"]
    })";
    return fs::exists(dir / "profile.json");
}

Measure provision(int count, const std::string& model, const fs::path& dir, int repeat)
{
    Measure best;
    for (int r = 0; r < repeat; ++r) {
        std::vector<std::unique_ptr<sim::VirtualDisplay>> displays;
        const fs::path report = dir / ("report-" + std::to_string(count) + ".csv");
        std::vector<std::string> args = {"provision", (dir / "profile.json").string(), "--baud",
                                         std::to_string(kBaud), "--report", report.string()};
        for (int i = 0; i < count; ++i) {
            sim::Options o;
            o.model = model;
            o.baud = kBaud;
            o.pacing = true;
            o.registerLink = false;
            auto d = std::make_unique<sim::VirtualDisplay>(o);
            std::string error;
            if (!d->start(&error)) {
                std::fprintf(stderr, "virtual display did not start: %s\n", error.c_str());
                return {};
            }
            args.push_back("--port");
            args.push_back(d->slavePath());
            displays.push_back(std::move(d));
        }
        const fs::path log = dir / ("provision-" + std::to_string(count) + ".log");
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        Measure m = runCli(args, log);
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        m.simSeconds = secondsOf(after.ru_utime) + secondsOf(after.ru_stime) - secondsOf(before.ru_utime) -
                       secondsOf(before.ru_stime);
        if (m.exit != 0) {
            std::fprintf(stderr, "provision of %d display(s) ended with %d; its output:\n", count, m.exit);
            std::ifstream in(log);
            std::string line;
            while (std::getline(in, line))
                std::fprintf(stderr, "  %s\n", line.c_str());
            return m;
        }
        // Every display got everything: one line a display in the report, all ok.
        std::ifstream in(report);
        std::string line;
        int ok = 0;
        std::getline(in, line); // the header
        while (std::getline(in, line))
            ok += line.find(",ok,") != std::string::npos;
        if (ok != count) {
            std::fprintf(stderr, "the report of %d display(s) has %d ok\n", count, ok);
            m.exit = 1;
            return m;
        }
        if (r == 0 || m.seconds < best.seconds)
            best = m;
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    std::string model = "KT310-IID";
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--model" && i + 1 < argc)
            model = argv[++i];
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: bench_provision [--model NAME] [--repeat N]\n");
            return 2;
        }
    }
    const int modelIndex = FindModel(model);
    if (modelIndex < 0) {
        std::fprintf(stderr, "unknown model %s\n", model.c_str());
        return 2;
    }
    const fs::path dir = fs::temp_directory_path() / ("tarsel-bench-provision-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string error;
    if (!WriteSyntheticResourcePack((dir / "pack").string(), 16, error) || !writeProfile(dir)) {
        std::fprintf(stderr, "cannot write the test data: %s\n", error.c_str());
        return 1;
    }
    setenv("TARSEL_RESOURCE_DIR", (dir / "pack").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "none").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir / "none").c_str(), 1);
    unsetenv("TARSEL_PORT");

    std::printf("Provisioning %s displays paced at %d bit/s with one profile (its settings applied, two\n"
                "pictures from PNG files, three font images), by tarsel-cli, one thread per display, with a\n"
                "report (--report)\n",
                model.c_str(), kBaud);
    std::fflush(stdout);
    const Measure one = provision(1, model, dir, repeat);
    if (one.exit != 0) {
        fs::remove_all(dir);
        return 1;
    }
    auto print = [&](int count, const Measure& m) {
        const double cpu = m.userSeconds + m.systemSeconds;
        std::printf("  %2d display%s %6.2f s wall, ratio to one %.2f, CPU %.2f s (%.3f s a display; user %.2f, "
                    "system %.2f); the virtual displays' CPU %.2f s\n",
                    count, count == 1 ? ": " : "s:", m.seconds, m.seconds / one.seconds, cpu, cpu / count,
                    m.userSeconds, m.systemSeconds, m.simSeconds);
        std::fflush(stdout);
    };
    print(1, one);
    for (int count : {4, 16}) {
        const Measure many = provision(count, model, dir, repeat);
        if (many.exit != 0) {
            fs::remove_all(dir);
            return 1;
        }
        print(count, many);
        if (count == 16)
            std::printf("  ratio 16 / 1: %.2f (goal: at most 1.10)\n", many.seconds / one.seconds);
    }
    fs::remove_all(dir);
    return 0;
}
