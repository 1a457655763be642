// Display bytes as the display lays them out: one character cell per byte of a
// single-byte code page, two cells for a two-byte character of the double-byte
// code pages (932, 936, 950), lines of a fixed number of cells.
#pragma once

#include "util/bytes.h"

#include <cstdint>
#include <vector>

namespace tarsel::preview {

struct TextCell {
    char32_t ch = U' '; // what the display shows; controls and NUL show as blank
    int span = 1;       // cells taken: 2 for a two-byte character
    bool operator==(const TextCell&) const = default;
};

using CellLine = std::vector<TextCell>;

// Whether `b` starts a two-byte character in the host code page `codePage`
// (always false for a single-byte code page).
bool IsLeadByte(int codePage, std::uint8_t b);

// The bytes read in `codePage` (CodePageToWide) cell by cell. A two-byte character
// cut off by the end of the bytes, or a byte pair the code page does not define,
// reads as U+FFFD.
CellLine DecodeDisplayText(const Bytes& bytes, int codePage);

// The cells cut into lines of `cellsPerLine` cells, at most `maxLines` of them. A
// two-cell character that would straddle the end of a line starts the next one, as
// the display wraps it; with single-byte text line k is bytes k·n .. k·n + n − 1.
std::vector<CellLine> SplitLines(const CellLine& cells, int cellsPerLine, int maxLines);

// Number of cells a line takes.
int CellCount(const CellLine& line);

} // namespace tarsel::preview
