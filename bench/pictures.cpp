// The conversion path on pictures: decode (a JPEG DCT-scaled as the conversion window
// asks for it), reduce the way the window shows it, crop 800 × 480 under the frame,
// encode RGB565 and JPEG; on a generated 12-megapixel photo (JPEG and PNG) and on
// every file named on the command line. The same path runs with Pillow on the same
// files (bench/pictures_pillow.py) and Tarsel's time is printed as a ratio of
// Pillow's. Each Tarsel path runs in a child process of its own so that its peak
// memory (ru_maxrss) is its own.
//
//   bench_pictures [FILE...]
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "pictures/geometry.h"
#include "pictures/image.h"
#include "pictures/memory.h"
#include "pictures/resample.h"
#include "util/files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarsel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr PixelSize kTarget{800, 480};
constexpr PixelSize kPanel{884, 662};

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Something like a photo: smooth light, a few shapes, sensor noise.
Image photo(int w, int h)
{
    Image img(w, h);
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int noise = static_cast<int>(rng() % 9) - 4;
            const bool disc = (x - w / 3) * (x - w / 3) + (y - h / 2) * (y - h / 2) < (h / 4) * (h / 4);
            int r = 60 + 150 * x / w + noise, g = 90 + 120 * y / h + noise, b = disc ? 200 + noise : 80 + noise;
            img.setPixel(x, y, static_cast<std::uint8_t>(std::clamp(r, 0, 255)),
                         static_cast<std::uint8_t>(std::clamp(g, 0, 255)), static_cast<std::uint8_t>(std::clamp(b, 0, 255)));
        }
    }
    return img;
}

struct Times {
    double decode = 0, crop = 0, rgb565 = 0, jpeg = 0;
    double total() const { return decode + crop + rgb565 + jpeg; }
};

// One run of the path as the window does it: the display plan from the declared
// size, the frame centred and clamped, the crop at the displayed scale.
bool runPath(const std::string& file, bool dctScaling, Times& t, PixelSize& decoded, PixelSize& shown)
{
    auto t0 = Clock::now();
    const Bytes content = ReadFileBytes(file);
    DecodeOptions options;
    if (dctScaling)
        options.atLeast = [](PixelSize declared) { return PlanDisplay(declared, kTarget).shown; };
    Image img;
    PixelSize declared;
    std::string error;
    if (!DecodeImage(content, img, error, options, &declared)) {
        std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
        return false;
    }
    decoded = {img.width, img.height};
    t.decode = msSince(t0);

    t0 = Clock::now();
    const DisplayPlan plan = PlanDisplay(declared, kTarget);
    shown = plan.shown;
    const PixelRect image = CentreIn(kPanel, plan.shown);
    const PixelRect frame = ClampSelection(CentreIn(kPanel, kTarget), image);
    const Image crop = CropPicture(img, CropPlacement(frame, image), kTarget);
    t.crop = msSince(t0);

    t0 = Clock::now();
    const Bytes raw = BitmapToRgb565Bytes(crop, kTarget.width, kTarget.height);
    t.rgb565 = msSince(t0);
    t0 = Clock::now();
    const Bytes jpg = BitmapToJpegBytes(crop, false);
    t.jpeg = msSince(t0);
    return raw.size() == 768000 && !jpg.empty();
}

// On a shared machine other work only ever adds time: the best of several runs is the
// figure least disturbed by it, on both sides of the comparison.
constexpr int kRuns = 7;

// The child: kRuns runs of the path; one result line on `out`.
int child(const std::string& file, bool dctScaling, int out)
{
    std::vector<Times> runs;
    PixelSize decoded, shown;
    for (int i = 0; i < kRuns; ++i) {
        Times t;
        if (!runPath(file, dctScaling, t, decoded, shown))
            return 1;
        runs.push_back(t);
    }
    std::sort(runs.begin(), runs.end(), [](const Times& a, const Times& b) { return a.total() < b.total(); });
    const Times& m = runs[0];
    const std::string line = std::to_string(runs[kRuns / 2].total()) + " " + std::to_string(m.decode) + " " + std::to_string(m.crop) +
                             " " + std::to_string(m.rgb565) + " " + std::to_string(m.jpeg) + " " +
                             std::to_string(runs[0].total()) + " " + std::to_string(decoded.width) + " " +
                             std::to_string(decoded.height) + " " + std::to_string(shown.width) + " " +
                             std::to_string(shown.height) + "\n";
    return ::write(out, line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0 : 1;
}

struct Result {
    bool ok = false;
    Times best;        // the best run, step by step
    double median = 0; // the median run's total
    PixelSize decoded, shown;
    double peakMb = 0;
};

// Runs the path in a child process of its own, so that its peak memory is its own.
Result measure(const std::string& file, bool dctScaling)
{
    Result r;
    int fds[2];
    if (::pipe(fds) != 0)
        return r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string out = std::to_string(fds[1]);
        const char* mode = dctScaling ? "dct" : "full";
        ::execl("/proc/self/exe", "bench_pictures", "--child", file.c_str(), mode, out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(fds[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    r.peakMb = usage.ru_maxrss / 1024.0;
    Times& m = r.best;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           std::sscanf(text.c_str(), "%lf %lf %lf %lf %lf %*f %d %d %d %d", &r.median, &m.decode, &m.crop, &m.rgb565,
                       &m.jpeg, &r.decoded.width, &r.decoded.height, &r.shown.width, &r.shown.height) == 9;
    return r;
}

// The same path with Pillow, in one Python process for every file: the best time
// per file in ms, or a negative value when Pillow could not run.
std::vector<double> pillowTimes(const std::vector<std::string>& files, const std::vector<PixelSize>& shown)
{
    std::vector<double> times(files.size(), -1);
    const char* python = std::getenv("TARSEL_PYTHON");
    std::string interpreter = python ? python : (::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3");
    std::string command = interpreter + " '" TARSEL_SOURCE_DIR "/bench/pictures_pillow.py' " + std::to_string(kRuns);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].find('\'') != std::string::npos)
            continue; // not quoted safely for the shell; that file has no Pillow figure
        command += " " + std::to_string(shown[i].width) + " " + std::to_string(shown[i].height) + " '" + files[i] + "'";
    }
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return times;
    char line[4096];
    while (std::fgets(line, sizeof line, p)) {
        double ms = 0;
        int w = 0, h = 0, consumed = 0;
        if (std::sscanf(line, "%lf %dx%d %n", &ms, &w, &h, &consumed) < 3)
            continue;
        std::string name = line + consumed;
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();
        for (std::size_t i = 0; i < files.size(); ++i)
            if (files[i] == name && times[i] < 0) {
                times[i] = ms;
                break;
            }
    }
    ::pclose(p);
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        // As tarsel-cli does at its start (the window leaves the allocator as it is; run
        // with TARSEL_BENCH_PLAIN_MALLOC=1 to measure that). Only here: a child's peak
        // memory counts the pages it shares with this process when it is forked, so this
        // one gives its freed memory back.
        if (!std::getenv("TARSEL_BENCH_PLAIN_MALLOC"))
            KeepPictureBuffers();
        return child(argv[2], std::strcmp(argv[3], "dct") == 0, std::atoi(argv[4]));
    }
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::printf("usage: bench_pictures [FILE...]\n"
                    "The conversion path (decode, scale to the shown size, crop 800x480 under the centred frame,\n"
                    "RGB565, JPEG q90) on a generated 12 MP photo and on every FILE, and the same path with\n"
                    "Pillow (draft, resize, crop, JPEG q90); Tarsel's time is printed as a ratio of Pillow's.\n");
        return 0;
    }

    char dirTemplate[] = "/tmp/tarsel-bench-pictures-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    const std::string jpgFile = dir + "/photo.jpg";
    const std::string pngFile = dir + "/photo.png";

    {
        // Made in a scope of its own: the children are forked from this process, and
        // its resident memory counts in their peak until they exec.
        auto t0 = Clock::now();
        const Image big = photo(4000, 3000);
        std::string error;
        const Bytes jpg = EncodeJpeg(big, 92);
        const Bytes png = EncodePng(big, 6);
        if (!WriteFileAtomic(jpgFile, jpg, error) || !WriteFileAtomic(pngFile, png, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("Generated a 4000x3000 photo in %.0f ms: JPEG %.1f MB, PNG %.1f MB\n", msSince(t0),
                    jpg.size() / 1e6, png.size() / 1e6);
    }
    std::printf("Path: read file, decode (JPEG DCT-scaled as the window asks), scale to the shown size, crop 800x480 "
                "under the centred frame, RGB565, JPEG q90; %s.\nPillow: open, draft (JPEG), resize (box filter), crop, "
                "JPEG q90. Times are the best of %d runs (RGB565 left out of the ratio: Pillow's path has none).\n\n",
                std::getenv("TARSEL_BENCH_PLAIN_MALLOC") ? "the C library's allocator as it comes (as in the window)"
                                                        : "picture buffers kept in the heap (as in tarsel-cli)",
                kRuns);

    std::vector<std::string> files = {jpgFile, pngFile};
    for (int i = 1; i < argc; ++i)
        files.push_back(argv[i]);

    // The full-size decode of the photo, for comparison with the DCT-scaled one.
    const Result full = measure(jpgFile, false);
    if (full.ok)
        std::printf("12 MP JPEG, full-size decode: %.1f ms (decode %.1f), peak memory %.1f MB\n\n", full.best.total(),
                    full.best.decode, full.peakMb);

    std::vector<Result> results;
    std::vector<PixelSize> shown;
    for (const auto& f : files) {
        results.push_back(measure(f, true));
        shown.push_back(results.back().ok ? results.back().shown : PixelSize{800, 480});
    }
    const std::vector<double> pillow = pillowTimes(files, shown);

    std::printf("%-34s %-5s %9s %9s %9s %9s %9s %9s %8s %7s\n", "file", "kind", "decoded", "tarsel", "decode",
                "scale", "jpeg", "pillow", "ratio", "goal");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Result& r = results[i];
        std::string name = i == 0 ? "generated 12 MP photo (JPEG)" : i == 1 ? "generated 12 MP photo (PNG)" : files[i];
        if (name.size() > 34)
            name = "..." + name.substr(name.size() - 31);
        const ImageFormat kind = DetectImageFormat(ReadFileBytes(files[i]).substr(0, 8));
        const char* kindText = kind == ImageFormat::Jpeg ? "JPEG" : kind == ImageFormat::Png ? "PNG" : kind == ImageFormat::Bmp ? "BMP" : "?";
        const double goal = kind == ImageFormat::Jpeg ? 0.5 : kind == ImageFormat::Png ? 0.7 : 0;
        if (!r.ok) {
            std::printf("%-34s %-5s failed\n", name.c_str(), kindText);
            continue;
        }
        // Pillow's path has no RGB565 step: the ratio compares the same steps.
        const double tarsel = r.best.total() - r.best.rgb565;
        char decodedText[32];
        std::snprintf(decodedText, sizeof decodedText, "%dx%d", r.decoded.width, r.decoded.height);
        std::printf("%-34s %-5s %9s %8.1fms %7.1fms %7.1fms %7.1fms ", name.c_str(), kindText, decodedText, tarsel,
                    r.best.decode, r.best.crop, r.best.jpeg);
        if (pillow[i] > 0)
            std::printf("%7.1fms %8.2f", pillow[i], tarsel / pillow[i]);
        else
            std::printf("%9s %8s", "n/a", "n/a");
        if (goal > 0)
            std::printf(" %7s", (std::string("<= ") + (goal == 0.5 ? "0.5" : "0.7")).c_str());
        std::printf("   (RGB565 %.1f ms, median run %.1f ms, peak %.0f MB)\n", r.best.rgb565, r.median, r.peakMb);
    }
    if (std::all_of(pillow.begin(), pillow.end(), [](double t) { return t < 0; }))
        std::printf("\nPillow did not run (Debian python3-pil; TARSEL_PYTHON names the interpreter): no ratios.\n");

    std::remove(jpgFile.c_str());
    std::remove(pngFile.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
