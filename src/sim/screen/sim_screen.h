// The virtual display's screen: what it holds (the settings it was sent, the pictures
// it stored, the last text, QR code or picture it was told to show) drawn with the
// preview renderer, as the window and the command line draw it.
#pragma once

#include "preview/screen.h"
#include "sim/display_core.h"

#include <map>
#include <string>

namespace tarsel::sim {

// What the display holds, copied out of it (under its lock) for drawing.
struct HeldState {
    std::string model;                    // its model name
    SettingsDocument settings;
    std::map<std::uint32_t, Bytes> blocks; // by flash address
    std::map<std::string, Bytes> files;    // by device file name
    Shown shown;
};
HeldState CopyHeldState(const DisplayCore& core);

// The renderer's input for that state, `atSeconds` into standby.
preview::Input ScreenInput(const HeldState& held, double atSeconds);

// A QR code of `text` as the display draws one from a text (QR_ECLEVEL_M, 8-bit
// mode), four pixels a module; empty for a text that gives none.
preview::QrBitmap QrFromText(const Bytes& text);

// Draws the screen and writes it as a PNG file, replacing `path` atomically. False
// with the reason.
bool WriteScreenPng(const HeldState& held, double atSeconds, const std::string& path, std::string& error);

} // namespace tarsel::sim
