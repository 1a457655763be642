#include "preview/display_text.h"

#include "util/codepage.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>

namespace tarsel::preview {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The first character of a decoded text (a surrogate pair joined), or U+FFFD when
// the text is not exactly one character.
char32_t singleChar(const Text& text)
{
    if (text.size() == 1)
        return text[0];
    if (text.size() == 2 && text[0] >= 0xD800 && text[0] <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF)
        return 0x10000 + ((static_cast<char32_t>(text[0]) - 0xD800) << 10) + (static_cast<char32_t>(text[1]) - 0xDC00);
    return kReplacement;
}

using ByteTable = std::array<char32_t, 256>;

// What each single byte reads as in a code page. Converting byte by byte costs a
// converter each time, so a code page's table is made once and kept; renders on
// several threads share it.
std::shared_ptr<const ByteTable> byteTable(int codePage)
{
    static std::mutex mutex;
    static std::map<int, std::shared_ptr<const ByteTable>> tables;
    std::lock_guard lock(mutex);
    auto& slot = tables[codePage];
    if (!slot) {
        auto table = std::make_shared<ByteTable>();
        for (int b = 0; b < 256; ++b)
            (*table)[static_cast<std::size_t>(b)] = singleChar(CodePageToWide(Bytes(1, static_cast<char>(b)), codePage));
        slot = std::move(table);
    }
    return slot;
}

TextCell cellOf(char32_t c, int span)
{
    // Control bytes move the display's cursor; in a settings text they only take room.
    if (c < 0x20 || c == 0x7F)
        c = U' ';
    return TextCell{c, span};
}

} // namespace

bool IsLeadByte(int codePage, std::uint8_t b)
{
    switch (codePage) {
    case 932: // Shift-JIS: 81..9F and E0..FC; A1..DF are single half-width katakana
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936: // GBK
    case 950: // Big5
        return b >= 0x81 && b <= 0xFE;
    default:
        return false;
    }
}

CellLine DecodeDisplayText(const Bytes& bytes, int codePage)
{
    const auto table = byteTable(codePage);
    CellLine cells;
    cells.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = byteAt(bytes, i);
        if (IsLeadByte(codePage, b)) {
            if (i + 1 >= bytes.size()) {
                cells.push_back(cellOf(kReplacement, 1));
                break;
            }
            cells.push_back(cellOf(singleChar(CodePageToWide(bytes.substr(i, 2), codePage)), 2));
            ++i;
            continue;
        }
        cells.push_back(cellOf((*table)[b], 1));
    }
    return cells;
}

std::vector<CellLine> SplitLines(const CellLine& cells, int cellsPerLine, int maxLines)
{
    std::vector<CellLine> lines;
    if (cellsPerLine <= 0 || maxLines <= 0)
        return lines;
    CellLine line;
    int used = 0;
    for (const TextCell& cell : cells) {
        if (used + cell.span > cellsPerLine && used > 0) {
            lines.push_back(std::move(line));
            if (static_cast<int>(lines.size()) == maxLines)
                return lines;
            line.clear();
            used = 0;
        }
        line.push_back(cell);
        used += cell.span;
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

int CellCount(const CellLine& line)
{
    int n = 0;
    for (const TextCell& cell : line)
        n += cell.span;
    return n;
}

} // namespace tarsel::preview
