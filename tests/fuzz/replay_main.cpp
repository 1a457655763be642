// Replays fuzz inputs through a target's LLVMFuzzerTestOneInput in an ordinary
// build: every file named on the command line, and every file inside each folder
// named, in name order. A property that does not hold aborts the run.
#include "util/files.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (std::filesystem::is_directory(argv[i], ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path().string());
        } else {
            files.push_back(argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 2;
    }
    for (const auto& f : files) {
        std::string reason;
        tarsel::Bytes content;
        if (tarsel::ReadRegularFile(f, 64u << 20, content, reason) != tarsel::ReadStatus::Ok) {
            std::fprintf(stderr, "%s: %s\n", f.c_str(), reason.c_str());
            return 2;
        }
        std::printf("%s\n", f.c_str());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
