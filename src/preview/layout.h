// Where the display puts each part of its screen, as Tarsel reads the settings and
// the picture slots' sizes. An approximation: the display's own fonts and exact
// positions may differ; what it is for is colours, code pages, picture sizes and
// texts that do not fit.
#pragma once

#include "pictures/geometry.h"
#include "pictures/image.h"

namespace tarsel::preview {

// The areas of one model's screen, in screen pixels.
//
// 800 × 480 (models 2..6): the start-up logo (slot 73) covers the screen; otherwise
// a header row 80 high holds the title logo (slot 74, 240 × 80) at the left and the
// header area (560 × 80, the head picture's size, slot 75) right of it; the main
// area below is 800 × 360 (the guest picture's size, slot 86); the footer is the
// bottom 40 rows.
//
// 480 × 272 (models 0, 1): the header row takes the slot sizes of these models
// (title logo 120 × 40, header area 360 × 40); the 232 rows below are shared by main
// area and footer in the 9 : 1 of the larger screen (360 : 40), rounded to whole
// rows: main area 480 × 209, footer 480 × 23.
struct Layout {
    PixelSize screen;
    PixelRect startupLogo;
    PixelRect titleLogo;
    PixelRect header;
    PixelRect main;
    PixelRect footer;
};

// The layout of model `modelIndex`: below 2 the 480 × 272 screen, any other the
// 800 × 480 one (the rule the picture sizes follow).
Layout LayoutFor(int modelIndex);

// A text laid out in character cells, as the display's fixed-cell fonts do: lines
// of `cells` cells, each cellWidth wide; a line lineHeight high with its glyphs
// drawn at pixelSize and centred in it. The cells start at the area's left edge.
struct TextGrid {
    PixelRect area;
    int cells = 20;
    int lines = 1;
    int cellWidth = 0;
    int lineHeight = 0;
    int pixelSize = 0;
};

// The main text: 20 cells a line, `lines` (2 or 4) lines filling the main area.
// A cell is a twentieth of the width; glyphs are drawn at twice that (a Latin
// letter of the fonts used is half as wide as it is high, so it fills its cell)
// unless four fifths of the line height is less.
TextGrid MainTextGrid(const Layout& layout, int lines);

// Welcome line 1 in the header area: 20 cells across it, the same sizing rule.
TextGrid HeaderTextGrid(const Layout& layout);

// Welcome line 2 in the footer: glyphs at four fifths of the footer's height, cells
// half that wide; its 60 cells are wider than the screen, so a line that does not
// scroll is cut off at the right edge.
TextGrid FooterTextGrid(const Layout& layout);

} // namespace tarsel::preview
