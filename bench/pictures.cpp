// The conversion of a picture file into what a slot sends, the way each program runs
// it, on a generated 12-megapixel photo (JPEG and PNG) and on every file named on the
// command line, side by side with the same work done by Pillow:
//
// - the window: the conversion window opens the file (decode, a JPEG DCT-scaled as
//   the window asks for it, and the picture scaled to the size it is shown at), "OK"
//   crops 800 × 480 under the centred frame and the slot takes a copy; the picture
//   download then makes the slot's bytes (RGB565, or JPEG on the named-file models) on
//   the device worker's thread;
// - the command line: tarsel-cli's proposed crop of the file and the slot's bytes, on
//   one thread.
//
// Each path runs in a child process of its own, started afresh (nothing in it tuned
// for pictures), so that its peak memory (ru_maxrss) and its picture buffers are its
// own. The children of both paths take turns, and each figure is the best of all their
// runs: on a shared machine other work only ever adds time.
//
//   bench_pictures [FILE...]
#include "pictures/buffer_pool.h"
#include "pictures/codecs.h"
#include "pictures/geometry.h"
#include "pictures/image.h"
#include "pictures/resample.h"
#include "pictures/slot_picture.h"
#include "pictures/slots.h"
#include "util/files.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarsel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr PixelSize kTarget{800, 480};
// A full-screen slot, on a model that stores RGB565 at flash addresses and on one
// that stores named JPEG files.
constexpr int kSlot = 76;
constexpr int kRgb565Model = 2;
constexpr int kJpegModel = 3;

// Runs of each path per child, and children of each path (taking turns).
constexpr int kRuns = 7;
constexpr int kRounds = 5;

// The goals: the window's path within 5 % of the command line's, both at or below
// Pillow's time, and the work beyond decoding under a fifth of the decode's time on
// the 12 MP photo.
constexpr double kWindowGoal = 1.05;
constexpr double kPillowGoal = 1.0;
constexpr double kBeyondDecodeGoal = 0.20;

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
    double decode = 0, scale = 0, rgb565 = 0, jpeg = 0;
    double total() const { return decode + scale + rgb565 + jpeg; }
    // What Pillow's path does too (it has no RGB565 step).
    double comparable() const { return decode + scale + jpeg; }
    // The conversion's own work: scaling, cropping and both encodings.
    double beyondDecode() const { return scale + rgb565 + jpeg; }
};

struct RunInfo {
    PixelSize decoded, shown;
    std::size_t rgb565Bytes = 0, jpegBytes = 0;
};

// The window's device worker as far as it matters here: one long-lived thread that
// runs the jobs handed to it one at a time.
class Worker {
public:
    Worker() : m_thread([this] { loop(); }) {}
    ~Worker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    // Runs `job` on the worker and waits for it.
    void run(std::function<void()> job)
    {
        std::unique_lock lock(m_mutex);
        m_job = std::move(job);
        m_wake.notify_all();
        m_done.wait(lock, [this] { return !m_job; });
    }

private:
    void loop()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || m_job; });
            if (m_stop)
                return;
            lock.unlock();
            m_job();
            lock.lock();
            m_job = nullptr;
            m_done.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    std::function<void()> m_job;
    bool m_stop = false;
    std::thread m_thread;
};

// The window's path, step by step as the window takes it (its drawing left out).
// `slotBitmap` is the slot's picture, kept from one run to the next as the window
// keeps it until the slot is filled again.
bool runWindowPath(const std::string& file, Worker& worker, Image& slotBitmap, Times& t, RunInfo& info)
{
    // "+": the slot's bitmap of the target size, and the conversion window with its own.
    auto t0 = Clock::now();
    Image bitmap(kTarget.width, kTarget.height);
    Image fBitmap(kTarget.width, kTarget.height);
    const double setup = msSince(t0);
    Image source, shown;
    PixelSize declared;
    t0 = Clock::now();
    {
        // Open: the file decoded (ImageConvert::openFile).
        DecodeOptions options;
        options.atLeast = [](PixelSize d) { return PlanDisplay(d, kTarget).shown; };
        Image picture;
        std::string error;
        if (!LoadImageFile(file, picture, error, options, &declared)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        t.decode = msSince(t0);
        t0 = Clock::now();
        source = std::move(picture);
    }
    // ... shown at the planned size, picture and frame centred in the panel (the frame
    // is clamped onto a target-sized area when the window is shown: it stays centred).
    const DisplayPlan plan = PlanDisplay(declared, kTarget);
    shown = ScaleImage(source, plan.shown.width, plan.shown.height);
    const PixelRect image = CentreIn(kConvertPanelSize, plan.shown);
    const PixelRect frame = CentreIn(kConvertPanelSize, kTarget);
    // "OK": the crop under the frame; the window goes and the caller takes its bitmap.
    fBitmap = CropShown(shown, CropPlacement(frame, image), kTarget);
    bitmap = std::move(fBitmap);
    info.decoded = {source.width, source.height};
    info.shown = plan.shown;
    source = Image();
    shown = Image();
    fBitmap = Image();
    slotBitmap = std::move(bitmap);
    t.scale = setup + msSince(t0);

    // The picture download: the slot's bytes made on the device worker.
    Bytes raw, jpg;
    t0 = Clock::now();
    worker.run([&] { raw = SlotPictureBytes(slotBitmap, kSlot, kRgb565Model); });
    t.rgb565 = msSince(t0);
    t0 = Clock::now();
    worker.run([&] { jpg = SlotPictureBytes(slotBitmap, kSlot, kJpegModel); });
    t.jpeg = msSince(t0);
    info.rgb565Bytes = raw.size();
    info.jpegBytes = jpg.size();
    return raw.size() == 768000 && !jpg.empty();
}

// The command line's path: ProposedCropFromFile (its two steps, timed apart) and the
// slot's bytes, on the calling thread. `dctScaling` false decodes the file at its
// full size instead, for comparison.
bool runCliPath(const std::string& file, bool dctScaling, Times& t, RunInfo& info)
{
    auto t0 = Clock::now();
    Image picture;
    PixelSize declared;
    std::string error;
    if (!LoadImageFile(file, picture, error, dctScaling ? ShownDecodeOptions(kTarget) : DecodeOptions{}, &declared)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    t.decode = msSince(t0);
    info.decoded = {picture.width, picture.height};
    info.shown = PlanDisplay(declared, kTarget).shown;

    t0 = Clock::now();
    Image crop = ProposedCrop(picture, declared, kTarget);
    picture = Image();
    t.scale = msSince(t0);

    t0 = Clock::now();
    const Bytes raw = SlotPictureBytes(crop, kSlot, kRgb565Model);
    t.rgb565 = msSince(t0);
    t0 = Clock::now();
    const Bytes jpg = SlotPictureBytes(crop, kSlot, kJpegModel);
    t.jpeg = msSince(t0);
    info.rgb565Bytes = raw.size();
    info.jpegBytes = jpg.size();
    return raw.size() == 768000 && !jpg.empty();
}

// What a child reports: its best run step by step, its first run's total (the first
// picture a program converts has no buffers to reuse), and how many picture buffers
// came from the pool.
struct ChildReport {
    Times best;
    double first = 0;
    RunInfo info;
    unsigned long long taken = 0, reused = 0;
};

int child(const std::string& mode, const std::string& file, int out)
{
    std::vector<Times> runs;
    RunInfo info;
    bool ok = true;
    if (mode == "window") {
        Worker worker;
        Image slotBitmap;
        for (int i = 0; i < kRuns && ok; ++i) {
            Times t;
            ok = runWindowPath(file, worker, slotBitmap, t, info);
            runs.push_back(t);
        }
    } else {
        for (int i = 0; i < kRuns && ok; ++i) {
            Times t;
            ok = runCliPath(file, mode != "full", t, info);
            runs.push_back(t);
        }
    }
    if (!ok)
        return 1;
    const Times first = runs.front();
    std::sort(runs.begin(), runs.end(), [](const Times& a, const Times& b) { return a.total() < b.total(); });
    const Times& m = runs.front();
    const PictureBufferPool::Stats pool = PictureBufferPool::shared().stats();
    char line[512];
    const int n = std::snprintf(line, sizeof line, "%f %f %f %f %f %d %d %d %d %llu %llu\n", m.decode, m.scale, m.rgb565,
                                m.jpeg, first.total(), info.decoded.width, info.decoded.height, info.shown.width,
                                info.shown.height, static_cast<unsigned long long>(pool.taken),
                                static_cast<unsigned long long>(pool.reused));
    return n > 0 && ::write(out, line, static_cast<std::size_t>(n)) == n ? 0 : 1;
}

struct Result {
    bool ok = false;
    ChildReport report;
    double peakMb = 0;
};

// Runs one child (mode "window", "cli" or "full") on the file.
Result measureOnce(const std::string& mode, const std::string& file)
{
    Result r;
    int fds[2];
    if (::pipe(fds) != 0)
        return r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string out = std::to_string(fds[1]);
        ::execl("/proc/self/exe", "bench_pictures", "--child", mode.c_str(), file.c_str(), out.c_str(),
                static_cast<char*>(nullptr));
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
    ChildReport& c = r.report;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           std::sscanf(text.c_str(), "%lf %lf %lf %lf %lf %d %d %d %d %llu %llu", &c.best.decode, &c.best.scale,
                       &c.best.rgb565, &c.best.jpeg, &c.first, &c.info.decoded.width, &c.info.decoded.height,
                       &c.info.shown.width, &c.info.shown.height, &c.taken, &c.reused) == 11;
    return r;
}

// The better of two results of the same path: the best run, the least disturbed first
// run, the highest peak.
void keepBest(Result& into, const Result& r)
{
    if (!r.ok)
        return;
    if (!into.ok) {
        into = r;
        return;
    }
    const double first = std::min(into.report.first, r.report.first);
    const double peak = std::max(into.peakMb, r.peakMb);
    if (r.report.best.total() < into.report.best.total())
        into = r;
    into.report.first = first;
    into.peakMb = peak;
}

// The same path with Pillow, in one Python process for every file: the best time
// per file in ms, or a negative value when Pillow could not run.
std::vector<double> pillowTimes(const std::vector<std::string>& files, const std::vector<PixelSize>& shown)
{
    std::vector<double> times(files.size(), -1);
    const char* python = std::getenv("TARSEL_PYTHON");
    std::string interpreter = python ? python : (::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3");
    std::string command =
        interpreter + " '" TARSEL_SOURCE_DIR "/bench/pictures_pillow.py' " + std::to_string(kRuns * kRounds);
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

const char* met(bool ok) { return ok ? "met" : "NOT MET"; }

void printPath(const char* label, const Result& r, double pillow)
{
    const Times& b = r.report.best;
    std::printf("  %-7s %7.1f ms = decode %6.1f + scale/crop %5.1f + JPEG %4.1f", label, b.comparable(), b.decode,
                b.scale, b.jpeg);
    if (pillow > 0)
        std::printf("   %5.2f x Pillow", b.comparable() / pillow);
    std::printf("\n          RGB565 %.1f ms; beyond decode %.0f %% of the decode; first run %.1f ms; peak %.0f MB; "
                "%llu of %llu picture buffers reused\n",
                b.rgb565, 100 * b.beyondDecode() / b.decode, r.report.first, r.peakMb, r.report.reused,
                r.report.taken);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], argv[3], std::atoi(argv[4]));
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::printf("usage: bench_pictures [FILE...]\n"
                    "The conversion of a picture file into a slot's bytes (decode, scale to the shown size, crop\n"
                    "800x480 under the centred frame, RGB565, JPEG q90) as the window runs it and as tarsel-cli\n"
                    "runs it, on a generated 12 MP photo and on every FILE, and the same work with Pillow (draft,\n"
                    "resize, crop, JPEG q90); times are printed as ratios of each other and of Pillow's.\n");
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
    PictureBufferPool::shared().release();
    std::printf(
        "window: decode (a JPEG DCT-scaled as the window asks), scale to the shown size, crop 800x480 under the "
        "centred frame, the slot's copy; RGB565 and JPEG q90 on a worker thread.\n"
        "cli:    tarsel-cli's proposed crop of the file (the same steps), RGB565 and JPEG q90 on one thread.\n"
        "Pillow: open, draft (JPEG), resize (box filter), crop, JPEG q90 (no RGB565: the ratios leave it out).\n"
        "Each path in fresh child processes taking turns; times are the best of %d runs.\n\n",
        kRuns * kRounds);

    std::vector<std::string> files = {jpgFile, pngFile};
    for (int i = 1; i < argc; ++i)
        files.push_back(argv[i]);

    // The full-size decode of the photo, for comparison with the DCT-scaled one.
    const Result full = measureOnce("full", jpgFile);
    if (full.ok)
        std::printf("12 MP JPEG decoded at full size (command line's steps): %.1f ms (decode %.1f), peak memory "
                    "%.1f MB\n\n",
                    full.report.best.total(), full.report.best.decode, full.peakMb);

    std::vector<Result> window(files.size()), cli(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        for (int round = 0; round < kRounds; ++round) {
            keepBest(window[i], measureOnce("window", files[i]));
            keepBest(cli[i], measureOnce("cli", files[i]));
        }
    std::vector<PixelSize> shown;
    for (std::size_t i = 0; i < files.size(); ++i)
        shown.push_back(cli[i].ok ? cli[i].report.info.shown : PixelSize{800, 480});
    const std::vector<double> pillow = pillowTimes(files, shown);

    double worstWindow = 0, worstPillow = 0;
    bool allMeasured = true;
    std::vector<std::string> beyondDecode;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string name = i == 0 ? "generated 12 MP photo (JPEG)" : i == 1 ? "generated 12 MP photo (PNG)" : files[i];
        const ImageFormat kind = DetectImageFormat(ReadFileBytes(files[i]).substr(0, 8));
        const char* kindText = kind == ImageFormat::Jpeg ? "JPEG" : kind == ImageFormat::Png ? "PNG" : kind == ImageFormat::Bmp ? "BMP" : "?";
        const Result& w = window[i];
        const Result& c = cli[i];
        if (!w.ok || !c.ok) {
            std::printf("%s (%s): failed\n\n", name.c_str(), kindText);
            allMeasured = false;
            continue;
        }
        const RunInfo& info = c.report.info;
        std::printf("%s: %s, decoded %dx%d, shown %dx%d", name.c_str(), kindText, info.decoded.width,
                    info.decoded.height, info.shown.width, info.shown.height);
        if (pillow[i] > 0)
            std::printf("; Pillow %.1f ms\n", pillow[i]);
        else
            std::printf("; no Pillow figure\n");
        printPath("window", w, pillow[i]);
        printPath("cli", c, pillow[i]);
        const double ratio = w.report.best.comparable() / c.report.best.comparable();
        std::printf("  window / cli %.3f\n\n", ratio);
        worstWindow = std::max(worstWindow, ratio);
        if (pillow[i] > 0)
            worstPillow = std::max({worstPillow, w.report.best.comparable() / pillow[i], c.report.best.comparable() / pillow[i]});
        else
            allMeasured = false;
        if (i < 2) {
            char text[128];
            std::snprintf(text, sizeof text, "%s: window %.0f %%, cli %.0f %%", kindText,
                          100 * w.report.best.beyondDecode() / w.report.best.decode,
                          100 * c.report.best.beyondDecode() / c.report.best.decode);
            beyondDecode.push_back(text);
            if (w.report.best.beyondDecode() > kBeyondDecodeGoal * w.report.best.decode ||
                c.report.best.beyondDecode() > kBeyondDecodeGoal * c.report.best.decode)
                beyondDecode.back() += " (NOT MET)";
        }
    }
    if (std::all_of(pillow.begin(), pillow.end(), [](double t) { return t < 0; }))
        std::printf("Pillow did not run (Debian python3-pil; TARSEL_PYTHON names the interpreter): no ratios.\n\n");

    std::printf("Goals%s:\n", allMeasured ? "" : " (not every file measured)");
    std::printf("  window's path within %.0f %% of the command line's: worst window / cli %.3f -- %s\n",
                100 * (kWindowGoal - 1), worstWindow, met(worstWindow <= kWindowGoal));
    if (worstPillow > 0)
        std::printf("  both at or below Pillow's time on every file: worst ratio %.2f -- %s\n", worstPillow,
                    met(worstPillow <= kPillowGoal));
    std::string shares;
    for (const auto& s : beyondDecode)
        shares += (shares.empty() ? "" : "; ") + s;
    const bool sharesMet = std::none_of(beyondDecode.begin(), beyondDecode.end(),
                                        [](const std::string& s) { return s.find("NOT MET") != std::string::npos; });
    std::printf("  scale, crop, RGB565 and JPEG under %.0f %% of the decode on the 12 MP photo: %s -- %s\n",
                100 * kBeyondDecodeGoal, shares.c_str(), met(sharesMet && beyondDecode.size() == 2));

    std::remove(jpgFile.c_str());
    std::remove(pngFile.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
