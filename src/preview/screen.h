// The display's screen as Tarsel reads a settings record and the picture slots: a
// pure function from what the display holds (and the time since it went to
// standby) to an RGB picture of the model's screen. The window's Preview pane, the
// command line's preview and the virtual display all draw through it; it may run on
// several threads at once.
//
// What goes where (see layout.h for the rectangles):
// - start-up phase: the start-up logo (slot 73) over the whole screen; black when
//   the slot holds nothing (the display's own logo is not known here).
// - header row: the title logo (slot 74) at the left; right of it, with tp_mode 9
//   the head picture (slot 75), with any other tp_mode welcome line 1 (wel_mess1)
//   in tp_font_rgb on tp_back_rgb. An empty logo or picture slot shows
//   tp_back_rgb.
// - main area: the main text (main_str, 20 cells a line; 4 lines with line_mode 2,
//   else 2) in font_Foreground_color on font_Background_color. With the carousel on
//   (into_lun_bo > 0) and atSeconds ≥ into_lun_bo, the play pictures ticked in
//   pic_reg (bit k = slot 76 + k) whose slots hold a picture take turns, lun_time
//   seconds each (0 counts as 1), in slot order, wrapping. With none of them
//   available the display has nothing to play and keeps the main text.
// - footer: welcome line 2 (wel_mess2) in bm_font_rgb on bm_back_rgb.
// - welcome lines scroll as the record says (bit 0 of temp2 set: line 1 stays,
//   bit 1 set: line 2 stays): the line moves left kScrollCellsPerSecond cells a
//   second and comes round again, one copy after the other at the line's width (at
//   least the area's width apart).
// - what the display was last sent outside the settings (`sent`) takes the main
//   area instead of the main text and the carousel: a test text, a QR code, a play
//   picture by number, or nothing ("cleared": the main area in its background).
//
// Texts are the record's bytes read in the code page of Expand_Char_No's TCodePages
// row (Windows-1252 when no row has the number); colours are the record's RGB565
// values as the display shows them (RGB565ToColor); pictures whose size differs
// from their area are scaled to it (ScaleImage).
#pragma once

#include "pictures/image.h"
#include "preview/layout.h"
#include "settings/display_info.h"
#include "util/bytes.h"

#include <map>
#include <memory>
#include <string>

namespace tarsel::preview {

inline constexpr double kScrollCellsPerSecond = 4.0;

// A monochrome picture as the display takes it for a QR code: size × size pixels,
// rows top to bottom, (size + 7) / 8 bytes a row, the leftmost pixel in the most
// significant bit, 1 = black.
struct QrBitmap {
    int size = 0;
    Bytes bits;
};

// What the display was last sent that is not part of its settings.
enum class Sent {
    Nothing,  // the settings decide the main area
    Text,     // sentText: up to 2 lines of 20 cells in the display's code page, in
              // the main text's colours from the main area's top
    QrCode,   // qrCode, vertically centred in the main area; qrAlign 1 left, 3
              // right, anything else centred; 1 pixel a bit, reduced only when
              // larger than the main area; the rest of the area in its background
    Picture,  // the play picture pictureNumber (1..10, slot 75 + n) over the main
              // area; its background when the slot holds nothing
    Cleared,  // the main area in its background colour
};

struct Input {
    TDisplayInfo info;  // the record as the display holds it
    int modelIndex = 6; // 0..6; below 2 a 480 × 272 screen
    // Slot 73..86 -> its picture; a missing or empty entry is a slot that holds nothing.
    std::map<int, std::shared_ptr<const Image>> slotPictures;
    double atSeconds = 0; // time since standby began: carousel and scrolling
    bool startup = false; // the start-up logo phase

    Sent sent = Sent::Nothing;
    Bytes sentText;
    QrBitmap qrCode;
    int qrAlign = 2;
    int pictureNumber = 0;
};

// What a render could not do as asked.
struct RenderNotes {
    std::string fontError; // no font at all: every text area is drawn without glyphs
    int missingGlyphs = 0; // characters no installed font has (drawn as the font's box)
};

Image RenderScreen(const Input& input, RenderNotes* notes = nullptr);

} // namespace tarsel::preview
