#include "transfer/synthetic_pack.h"

#include "transfer/catalogue.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace tarsel {

Bytes SyntheticImage(const std::string& name, std::size_t size)
{
    std::uint32_t state = 2166136261u;
    for (unsigned char c : name) {
        state ^= static_cast<std::uint32_t>(std::tolower(c));
        state *= 16777619u;
    }
    if (state == 0)
        state = 1;
    Bytes out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out[i] = static_cast<char>(state & 0xFF);
    }
    return out;
}

bool WriteSyntheticResourcePack(const std::string& folder, std::size_t divisor, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    if (divisor == 0)
        divisor = 1;
    for (const auto& entry : ResourcePackImages()) {
        std::size_t size = entry.size / divisor;
        if (size == 0)
            size = 1;
        const Bytes image = SyntheticImage(entry.name, size);
        std::ofstream file(folder + "/" + entry.name + ".bin", std::ios::binary | std::ios::trunc);
        file.write(image.data(), static_cast<std::streamsize>(image.size()));
        if (!file) {
            error = "cannot write " + folder + "/" + entry.name + ".bin";
            return false;
        }
    }
    return true;
}

} // namespace tarsel
