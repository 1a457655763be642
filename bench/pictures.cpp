// The conversion path of a large photo: decode a 12-megapixel JPEG or PNG, reduce
// it the way the conversion window shows it, crop 800 × 480 under the frame, encode
// RGB565 and JPEG. Each path runs in a child process of its own so that its peak
// memory (ru_maxrss) is its own.
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "pictures/geometry.h"
#include "pictures/image.h"
#include "pictures/resample.h"
#include "util/files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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
bool runPath(const std::string& file, bool dctScaling, Times& t, PixelSize& decoded)
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
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    decoded = {img.width, img.height};
    t.decode = msSince(t0);

    t0 = Clock::now();
    const DisplayPlan plan = PlanDisplay(declared, kTarget);
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

int child(const std::string& file, bool dctScaling)
{
    constexpr int kRuns = 5;
    std::vector<Times> runs;
    PixelSize decoded;
    for (int i = 0; i < kRuns; ++i) {
        Times t;
        if (!runPath(file, dctScaling, t, decoded))
            return 1;
        runs.push_back(t);
    }
    std::sort(runs.begin(), runs.end(), [](const Times& a, const Times& b) { return a.total() < b.total(); });
    const Times& m = runs[kRuns / 2];
    std::printf("  decoded at %dx%d; median of %d: total %.1f ms (decode %.1f, crop+scale %.1f, RGB565 %.1f, JPEG %.1f); "
                "best %.1f ms\n",
                decoded.width, decoded.height, kRuns, m.total(), m.decode, m.crop, m.rgb565, m.jpeg, runs[0].total());
    std::fflush(stdout);
    return 0;
}

void measure(const char* label, const std::string& file, bool dctScaling, double goalMs)
{
    std::printf("%s (goal < %.0f ms)\n", label, goalMs);
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const char* mode = dctScaling ? "dct" : "full";
        ::execl("/proc/self/exe", "bench_pictures", "--child", file.c_str(), mode, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::printf("  failed\n");
    std::printf("  peak memory %.1f MB\n", usage.ru_maxrss / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], std::strcmp(argv[3], "dct") == 0);

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
    std::printf("Path: read file, decode, display plan 800x600, crop 800x480 under the centred frame, RGB565, JPEG q90\n\n");

    measure("12 MP JPEG, full decode", jpgFile, false, 150);
    measure("12 MP JPEG, DCT-scaled decode (1/4 here, still covering the shown size)", jpgFile, true, 150);
    measure("12 MP PNG", pngFile, false, 400);

    std::remove(jpgFile.c_str());
    std::remove(pngFile.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
