#include "preview/screen.h"

#include "pictures/resample.h"
#include "pictures/slots.h"
#include "preview/display_text.h"
#include "preview/font_set.h"
#include "settings/tables.h"
#include "util/bits.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace tarsel::preview {

namespace {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

// The colour the display shows for a record's 565 value (only the low 16 bits count).
Rgb shownColour(std::int32_t value565)
{
    const Color c = RGB565ToColor(static_cast<std::uint16_t>(value565 & 0xFFFF));
    return Rgb{static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>(c >> 8 & 0xFF),
               static_cast<std::uint8_t>(c >> 16 & 0xFF)};
}

PixelRect intersect(const PixelRect& a, const PixelRect& b)
{
    const int left = std::max(a.left, b.left), top = std::max(a.top, b.top);
    const int right = std::min(a.right(), b.right()), bottom = std::min(a.bottom(), b.bottom());
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

PixelRect wholeOf(const Image& img) { return {0, 0, img.width, img.height}; }

void fillRect(Image& img, const PixelRect& rect, Rgb c)
{
    const PixelRect r = intersect(rect, wholeOf(img));
    if (r.width == 0 || r.height == 0)
        return;
    std::uint8_t* first = img.at(r.left, r.top);
    for (int x = 0; x < r.width; ++x) {
        first[3 * x] = c.b;
        first[3 * x + 1] = c.g;
        first[3 * x + 2] = c.r;
    }
    const std::size_t bytes = 3 * static_cast<std::size_t>(r.width);
    for (int y = r.top + 1; y < r.bottom(); ++y)
        std::memcpy(img.at(r.left, y), first, bytes);
}

// The slot's picture, or nullptr when the slot holds nothing.
const Image* slotPicture(const Input& input, int slot)
{
    auto it = input.slotPictures.find(slot);
    if (it == input.slotPictures.end() || !it->second || it->second->empty())
        return nullptr;
    return it->second.get();
}

// Puts `picture` over `rect`, scaled to it when the sizes differ. False (and nothing
// drawn) without a picture.
bool drawPicture(Image& img, const PixelRect& rect, const Image* picture)
{
    if (!picture || rect.width <= 0 || rect.height <= 0)
        return false;
    Image scaled;
    const Image* src = picture;
    if (picture->width != rect.width || picture->height != rect.height) {
        scaled = ScaleImage(*picture, rect.width, rect.height);
        if (scaled.empty())
            return false;
        src = &scaled;
    }
    const PixelRect r = intersect(rect, wholeOf(img));
    const std::size_t bytes = 3 * static_cast<std::size_t>(r.width);
    for (int y = r.top; y < r.bottom(); ++y)
        std::memcpy(img.at(r.left, y), src->at(r.left - rect.left, y - rect.top), bytes);
    return r.width > 0;
}

// Draws text cells onto a background already in place.
class TextPainter {
public:
    TextPainter(Image& img, FontSet& fonts, RenderNotes& notes) : m_img(img), m_fonts(fonts), m_notes(notes) {}

    // One line of cells with its first cell at x0, in line `lineIndex` of the grid,
    // clipped to the grid's area.
    void drawLine(const TextGrid& grid, const CellLine& line, int x0, int lineIndex, Rgb colour)
    {
        const PixelRect clip = intersect(grid.area, wholeOf(m_img));
        const LineMetrics m = m_fonts.metrics(grid.pixelSize);
        const int lineTop = grid.area.top + lineIndex * grid.lineHeight;
        const int baseline = lineTop + (grid.lineHeight - (m.ascent + m.descent)) / 2 + m.ascent;
        int x = x0;
        for (const TextCell& cell : line) {
            const int spanWidth = cell.span * grid.cellWidth;
            if (x < clip.right() && x + spanWidth > clip.left && cell.ch != U' ')
                drawCell(cell.ch, x, spanWidth, baseline, grid.pixelSize, clip, colour);
            x += spanWidth;
        }
    }

private:
    void drawCell(char32_t ch, int x, int spanWidth, int baseline, int pixelSize, const PixelRect& clip, Rgb c)
    {
        // A byte sequence the code page does not read is what the display shows as "?".
        if (ch == 0xFFFD)
            ch = U'?';
        const auto glyph = m_fonts.glyph(ch, pixelSize, spanWidth);
        if (glyph->missing)
            ++m_notes.missingGlyphs;
        // The glyph's advance centred in its cells and nothing drawn outside them, as
        // a fixed-cell font draws.
        const int gx = x + (spanWidth - glyph->advance) / 2 + glyph->left;
        const int gy = baseline - glyph->top;
        const int x1 = std::max({gx, clip.left, x}), x2 = std::min({gx + glyph->width, clip.right(), x + spanWidth});
        const int y1 = std::max(gy, clip.top), y2 = std::min(gy + glyph->height, clip.bottom());
        for (int y = y1; y < y2; ++y) {
            const std::uint8_t* cov = glyph->coverage.data() + static_cast<std::size_t>(y - gy) * glyph->width;
            std::uint8_t* p = m_img.at(x1, y);
            for (int px = x1; px < x2; ++px, p += 3) {
                const unsigned a = cov[px - gx];
                if (a == 0)
                    continue;
                p[0] = blend(p[0], c.b, a);
                p[1] = blend(p[1], c.g, a);
                p[2] = blend(p[2], c.r, a);
            }
        }
    }

    static std::uint8_t blend(unsigned under, unsigned over, unsigned a)
    {
        return static_cast<std::uint8_t>((under * (255 - a) + over * a + 127) / 255);
    }

    Image& m_img;
    FontSet& m_fonts;
    RenderNotes& m_notes;
};

double standbySeconds(double t) { return std::isfinite(t) && t > 0 ? t : 0.0; }

// A welcome line: from the area's left edge, or scrolling left and coming round.
void drawWelcomeLine(TextPainter& painter, const TextGrid& grid, const CellLine& line, bool scrolls, double t,
                     Rgb colour)
{
    if (!scrolls || grid.cellWidth <= 0) {
        painter.drawLine(grid, line, grid.area.left, 0, colour);
        return;
    }
    const int period = std::max(CellCount(line) * grid.cellWidth, grid.area.width);
    const double travelled = t * kScrollCellsPerSecond * grid.cellWidth;
    const int offset = static_cast<int>(std::fmod(travelled, static_cast<double>(period)));
    for (int x = grid.area.left - offset; x < grid.area.right(); x += period)
        painter.drawLine(grid, line, x, 0, colour);
}

// Display bytes cut into the grid's lines from its top-left cell.
void drawTextLines(TextPainter& painter, const TextGrid& grid, const Bytes& bytes, int codePage, Rgb colour)
{
    const auto lines = SplitLines(DecodeDisplayText(bytes, codePage), grid.cells, grid.lines);
    for (std::size_t i = 0; i < lines.size(); ++i)
        painter.drawLine(grid, lines[i], grid.area.left, static_cast<int>(i), colour);
}

void drawQrCode(Image& img, const PixelRect& area, const QrBitmap& qr, int align)
{
    const int s = qr.size;
    const std::size_t stride = static_cast<std::size_t>(std::max(s, 0) + 7) / 8;
    if (s <= 0 || qr.bits.size() < stride * static_cast<std::size_t>(s))
        return;
    const int d = std::min({s, area.width, area.height});
    if (d <= 0)
        return;
    const int x0 = align == 1 ? area.left : align == 3 ? area.right() - d : area.left + (area.width - d) / 2;
    const int y0 = area.top + (area.height - d) / 2;
    for (int y = 0; y < d; ++y) {
        const std::size_t sy = static_cast<std::size_t>(y) * static_cast<std::size_t>(s) / static_cast<std::size_t>(d);
        for (int x = 0; x < d; ++x) {
            const std::size_t sx = static_cast<std::size_t>(x) * static_cast<std::size_t>(s) / static_cast<std::size_t>(d);
            const bool black = byteAt(qr.bits, sy * stride + sx / 8) & (0x80 >> (sx % 8));
            const Rgb c = black ? kBlack : kWhite;
            img.setPixel(x0 + x, y0 + y, c.r, c.g, c.b);
        }
    }
}

// The play picture the carousel shows at time t, or nullptr when it shows none.
const Image* carouselPicture(const Input& input, double t)
{
    const TDisplayInfo& info = input.info;
    if (info.into_lun_bo == 0 || t < info.into_lun_bo)
        return nullptr;
    std::vector<const Image*> playable;
    for (int k = 0; k < kPlaySlotCount; ++k)
        if (info.pic_reg >> k & 1u)
            if (const Image* picture = slotPicture(input, kFirstPlaySlot + k))
                playable.push_back(picture);
    if (playable.empty())
        return nullptr;
    const double interval = std::max<int>(info.lun_time, 1);
    const auto turn = static_cast<long long>(std::floor((t - info.into_lun_bo) / interval));
    return playable[static_cast<std::size_t>(turn % static_cast<long long>(playable.size()))];
}

void drawMainArea(Image& img, TextPainter& painter, const Layout& layout, const Input& input, int codePage, double t)
{
    const TDisplayInfo& info = input.info;
    const Rgb background = shownColour(info.font_Background_color_565);
    const Rgb foreground = shownColour(info.font_Foreground_color_565);
    fillRect(img, layout.main, background);
    switch (input.sent) {
    case Sent::Cleared:
        return;
    case Sent::Picture:
        if (input.pictureNumber >= 1 && input.pictureNumber <= kPlaySlotCount)
            drawPicture(img, layout.main, slotPicture(input, 75 + input.pictureNumber));
        return;
    case Sent::QrCode:
        drawQrCode(img, layout.main, input.qrCode, input.qrAlign);
        return;
    case Sent::Text:
        drawTextLines(painter, MainTextGrid(layout, 2), input.sentText, codePage, foreground);
        return;
    case Sent::Nothing:
        break;
    }
    if (drawPicture(img, layout.main, carouselPicture(input, t)))
        return;
    drawTextLines(painter, MainTextGrid(layout, info.line_mode == 2 ? 4 : 2), info.main_str, codePage, foreground);
}

} // namespace

Image RenderScreen(const Input& input, RenderNotes* notes)
{
    RenderNotes local;
    RenderNotes& out = notes ? *notes : local;
    out = RenderNotes{};

    const Layout layout = LayoutFor(input.modelIndex);
    Image img(layout.screen.width, layout.screen.height, 0, 0, 0);
    if (input.startup) {
        drawPicture(img, layout.startupLogo, slotPicture(input, 73));
        return img;
    }

    FontSet& fonts = FontSet::shared();
    out.fontError = fonts.error();
    TextPainter painter(img, fonts, out);
    const TDisplayInfo& info = input.info;
    const int codePage = CodePageOfRow(FindCodePage(info.Expand_Char_No));
    const double t = standbySeconds(input.atSeconds);

    // Header row.
    if (!drawPicture(img, layout.titleLogo, slotPicture(input, 74)))
        fillRect(img, layout.titleLogo, shownColour(info.tp_back_rgb_565));
    fillRect(img, layout.header, shownColour(info.tp_back_rgb_565));
    if (info.tp_mode == 9) {
        drawPicture(img, layout.header, slotPicture(input, 75));
    } else {
        const bool scrolls = !(info.temp2 & 0x01);
        drawWelcomeLine(painter, HeaderTextGrid(layout), DecodeDisplayText(info.wel_mess1, codePage), scrolls, t,
                        shownColour(info.tp_font_rgb_565));
    }

    drawMainArea(img, painter, layout, input, codePage, t);

    // Footer.
    fillRect(img, layout.footer, shownColour(info.bm_back_rgb_565));
    const bool scrolls = !(info.temp2 & 0x02);
    drawWelcomeLine(painter, FooterTextGrid(layout), DecodeDisplayText(info.wel_mess2, codePage), scrolls, t,
                    shownColour(info.bm_font_rgb_565));
    return img;
}

} // namespace tarsel::preview
