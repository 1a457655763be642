#include "preview/layout.h"

#include <algorithm>

namespace tarsel::preview {

namespace {

constexpr int kWelcomeLine1Cells = 20;
constexpr int kWelcomeLine2Cells = 60;
constexpr int kMainTextCells = 20;

TextGrid cellGrid(const PixelRect& area, int cells, int lines)
{
    TextGrid grid;
    grid.area = area;
    grid.cells = cells;
    grid.lines = std::max(lines, 1);
    grid.cellWidth = area.width / cells;
    grid.lineHeight = area.height / grid.lines;
    grid.pixelSize = std::max(1, std::min(2 * grid.cellWidth, grid.lineHeight * 4 / 5));
    return grid;
}

} // namespace

Layout LayoutFor(int modelIndex)
{
    Layout l;
    if (modelIndex < 2) {
        l.screen = {480, 272};
        l.titleLogo = {0, 0, 120, 40};
        l.header = {120, 0, 360, 40};
        const int rest = l.screen.height - 40;   // 232
        const int footer = (rest + 5) / 10;      // 23: a tenth, rounded
        l.main = {0, 40, 480, rest - footer};    // 209
        l.footer = {0, 40 + rest - footer, 480, footer};
    } else {
        l.screen = {800, 480};
        l.titleLogo = {0, 0, 240, 80};
        l.header = {240, 0, 560, 80};
        l.main = {0, 80, 800, 360};
        l.footer = {0, 440, 800, 40};
    }
    l.startupLogo = {0, 0, l.screen.width, l.screen.height};
    return l;
}

TextGrid MainTextGrid(const Layout& layout, int lines) { return cellGrid(layout.main, kMainTextCells, lines); }

TextGrid HeaderTextGrid(const Layout& layout) { return cellGrid(layout.header, kWelcomeLine1Cells, 1); }

TextGrid FooterTextGrid(const Layout& layout)
{
    TextGrid grid;
    grid.area = layout.footer;
    grid.cells = kWelcomeLine2Cells;
    grid.lines = 1;
    grid.lineHeight = layout.footer.height;
    grid.pixelSize = std::max(1, layout.footer.height * 4 / 5);
    grid.cellWidth = std::max(1, grid.pixelSize / 2);
    return grid;
}

} // namespace tarsel::preview
