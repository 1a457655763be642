// Transfer throughput against the virtual display paced at 115200 bit/s:
//  1. one 102400-byte font image by the block method: payload rate during the block
//     phase against the stop-and-wait ceiling, and the host's turnaround per block;
//  2. the same image by the streaming method against the line's 11520 bytes/s;
//  3. a whole "Font Download" on a KT310--IIA (block method) and on a KT310-IID
//     (streaming method), each time split into data time and the fixed pauses of the
//     protocol.
//
// Usage: bench_transfer [--full] [--divisor N] [--skip-run]
//   --full       the whole Font Download with the maker's full image sizes (minutes)
//   --divisor N  the whole Font Download with images of size/N (default 8)
//   --skip-run   only parts 1 and 2
#include "quiet_outlets.h"
#include "link/clock.h"
#include "link/link.h"
#include "link/outlets.h"
#include "link/models.h"
#include "link/termios_port.h"
#include "sim/virtual_display.h"
#include "transfer/catalogue.h"
#include "transfer/download_run.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarsel;

namespace {

constexpr double kLineBytesPerSecond = 11520.0; // 115200 bit/s, 10 bits a byte
// Stop and wait: 256 data bytes per 274-byte block frame plus the 16-byte request.
constexpr double kCeiling = 256.0 * kLineBytesPerSecond / (274.0 + 16.0);

using bench::QuietOutlets;

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

struct Session {
    std::unique_ptr<sim::VirtualDisplay> display;
    TermiosPort cmd, text;
    SteadyClock clock;
    Link link{cmd, text, clock};
    QuietOutlets out;
    DownloadRun run{link, out};

    bool start(const std::string& model, int modelIndex)
    {
        sim::Options o;
        o.model = model;
        o.baud = 9600;
        o.pacing = true;
        o.registerLink = false;
        display = std::make_unique<sim::VirtualDisplay>(o);
        std::string error;
        if (!display->start(&error)) {
            std::fprintf(stderr, "virtual display did not start: %s\n", error.c_str());
            return false;
        }
        link.PortName = display->devicePath();
        link.BaudRate = 9600;
        run.setModelIndex(modelIndex);
        return true;
    }
};

std::string writeFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

int blockMethod(const std::filesystem::path& dir)
{
    Session s;
    if (!s.start("KT310--IIA", 0))
        return 1;
    const Bytes image = SyntheticImage("CP437_800x480", 102400);
    std::vector<double> turnaround, writes;
    s.run.setTurnaroundLog(&turnaround, &writes);
    const RunOutcome outcome = s.run.StartSingleDownload(1, writeFile(dir / "font.bin", image)).end;
    const auto transfers = s.display->transfers();
    if (outcome != RunOutcome::Finished || transfers.empty() || !transfers.back().complete ||
        s.display->blocks().at(0) != image) {
        std::printf("block method: the transfer failed (%s)\n", s.out.lastBox.c_str());
        return 1;
    }
    const auto& t = transfers.back();
    const double seconds = (t.endMs - t.startMs) / 1000.0;
    const double rate = 102400.0 / seconds;
    std::printf("Block method, 102400-byte font image, virtual display paced at 115200 bit/s\n");
    std::printf("  block phase:            %.3f s for %zu blocks\n", seconds, turnaround.size());
    std::printf("  payload rate:           %.0f bytes/s = %.1f %% of the stop-and-wait ceiling (%.0f bytes/s)\n",
                rate, 100.0 * rate / kCeiling, kCeiling);
    std::printf("  host turnaround/block:  median %.3f ms, p99 %.3f ms, max %.3f ms "
                "(request read -> block frame handed to the port)\n",
                percentile(turnaround, 0.5), percentile(turnaround, 0.99),
                *std::max_element(turnaround.begin(), turnaround.end()));
    std::printf("  port write per block:   median %.2f ms (returns once the 274 bytes left the output queue)\n",
                percentile(writes, 0.5));
    return 0;
}

int streamMethod(const std::filesystem::path& dir)
{
    Session s;
    if (!s.start("KT310-IID", 3))
        return 1;
    const Bytes image = SyntheticImage("CP437_800x480", 102400);
    const RunOutcome outcome = s.run.StartSingleDownload(1, writeFile(dir / "font.bin", image)).end;
    const auto transfers = s.display->transfers();
    if (outcome != RunOutcome::Finished || transfers.empty() || !transfers.back().complete) {
        std::printf("streaming method: the transfer failed (%s)\n", s.out.lastBox.c_str());
        return 1;
    }
    const auto& t = transfers.back();
    const double seconds = (t.endMs - t.startMs) / 1000.0;
    const double rate = 102400.0 / seconds;
    std::printf("Streaming method, the same image as a named file\n");
    std::printf("  stream:                 %.3f s, %.0f bytes/s = %.1f %% of the line's %.0f bytes/s\n", seconds, rate,
                100.0 * rate / kLineBytesPerSecond, kLineBytesPerSecond);
    return 0;
}

int wholeRun(const std::filesystem::path& dir, std::size_t divisor, const std::string& model, int modelIndex)
{
    std::string error;
    const auto pack = dir / "pack";
    if (!WriteSyntheticResourcePack(pack.string(), divisor, error)) {
        std::printf("cannot write the pack: %s\n", error.c_str());
        return 1;
    }
    SetResourceFolderOverride({pack.string()});
    Session s;
    if (!s.start(model, modelIndex))
        return 1;
    const double begin = s.clock.nowMs();
    const RunOutcome outcome = s.run.StartFontDownload().end;
    const double total = (s.clock.nowMs() - begin) / 1000.0;
    SetResourceFolderOverride({});
    if (outcome != RunOutcome::Finished) {
        std::printf("whole Font Download failed: %s\n", s.out.lastBox.c_str());
        return 1;
    }
    double data = 0;
    std::size_t bytes = 0;
    for (const auto& t : s.display->transfers()) {
        data += (t.endMs - t.startMs) / 1000.0;
        bytes += t.receivedLength;
    }
    std::printf("Whole \"Font Download\" on a %s (%s), paced at 115200 bit/s\n", model.c_str(),
                divisor == 1 ? "full image sizes" : ("images of size/" + std::to_string(divisor)).c_str());
    std::printf("  result:                 %s, %zu items, %zu bytes\n", s.out.lastBox.c_str(),
                s.display->transfers().size(), bytes);
    std::printf("  total:                  %.1f s\n", total);
    std::printf("  data time:              %.1f s (%s; %.0f bytes/s)\n", data,
                IsNamedFileModel(modelIndex) ? "file streams" : "block phases", bytes / data);
    std::printf("  fixed pauses and waits: %.1f s (device waits, setup echo, item and start pauses,\n"
                "                          speed switch and restore: about %.2f s per position)\n",
                total - data, (total - data) / 77.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t divisor = 8;
    bool runWhole = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--full"))
            divisor = 1;
        else if (!std::strcmp(argv[i], "--divisor") && i + 1 < argc)
            divisor = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
        else if (!std::strcmp(argv[i], "--skip-run"))
            runWhole = false;
        else {
            std::fprintf(stderr, "usage: %s [--full] [--divisor N] [--skip-run]\n", argv[0]);
            return 2;
        }
    }
    const auto dir = std::filesystem::temp_directory_path() / ("tarsel-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    int rc = blockMethod(dir);
    rc |= streamMethod(dir);
    if (runWhole) {
        rc |= wholeRun(dir, divisor, "KT310--IIA", 0);
        rc |= wholeRun(dir, divisor, "KT310-IID", 3);
    }
    std::filesystem::remove_all(dir);
    return rc;
}
