// Synthetic stand-ins for the display maker's images, for tests, benchmarks and
// demonstrations: the right names and sizes, deterministic pseudo-random content.
// scripts/make-resource-pack writes the same bytes.
#pragma once

#include "util/bytes.h"

#include <cstddef>
#include <string>

namespace tarsel {

// `size` bytes derived from the name (ignoring case): FNV-1a of the name seeds a
// 32-bit xorshift (13, 17, 5); each step gives its lowest byte.
Bytes SyntheticImage(const std::string& name, std::size_t size);

// Writes every image of the maker's pack into `folder` as <name>.bin. A divisor
// above 1 writes smaller images (size / divisor, at least 1 byte) for quick tests.
bool WriteSyntheticResourcePack(const std::string& folder, std::size_t divisor, std::string& error);

} // namespace tarsel
