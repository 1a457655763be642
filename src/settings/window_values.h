// The state of every settings control of the window as plain values, and the two
// directions between it and the settings record.
#pragma once

#include "settings/display_info.h"
#include "util/bits.h"
#include "util/bytes.h"

#include <array>
#include <string>

namespace tarsel {

// One member per control, named after it. Item indexes are table rows; -1 means
// no selection.
struct WindowValues {
    int cbb_down_BaudRate = -1;
    bool chk_Scroll1 = false;
    bool chk_Scroll2 = false;
    int rg_Down_InterChar = -1;
    int rg_Down_CodePage = -1;
    int cbb_CodePage = -1;          // welcome message texts
    int cbb_codepage_test = -1;     // "Display Test" texts
    int cbb_codepage_maintext = -1; // main text
    int cbb_down_CommandMode = -1;
    Text edt_line1;
    Text edt_line2;
    Color pnlColorTextText = 0;
    Color pnlColorBgText = 0;
    Color pnlColorBgFooter = 0;
    Color pnlColorTextFooter = 0;
    Color pnlColorBgHeader = 0;
    Color pnlColorTextHeader = 0;
    int rg_brightness = -1;                 // 0..3 = "20%", "40%", "60%", "100%"
    std::array<bool, 10> CheckBox{};        // CheckBox76 ... CheckBox85
    Text lbl_selected_nums;                 // number of checked play boxes
    bool rbtnTextLine2 = false;
    bool rbtnTextLine4 = false;
    std::array<Text, 4> edtMianText;        // edtMianText1 ... edtMianText4
    bool edtMianText3Visible = true;
    bool edtMianText4Visible = true;
    bool rbtnHeaderText = false;
    bool rbtnHeaderPicture = false;
    int ud_StandbyTime = 0;
    int ud_PlayInterval = 0;

    bool operator==(const WindowValues&) const = default;
};

// Window to record. Reads the controls into `info` and writes the normalised
// texts (padding), the play-count caption and the main-text visibility back.
void GatherSettings(WindowValues& values, TDisplayInfo& info);

// Record to window, in the display's order of steps: selectors, texts, colours,
// brightness, play boxes, line count, header mode, main text, play times. Also
// updates the play-count caption and sets the record's window-only fields (the
// "888" colours, back_light_set, pic_reg_lo/hi).
void ApplySettings(TDisplayInfo& info, WindowValues& values);

// Code-page selectors kept in step (each as the click on its control does).
void SyncFromCodePageGroup(WindowValues& values); // rg_Down_CodePage chosen
void SyncFromCodePageCombo(WindowValues& values); // cbb_CodePage chosen
void SyncFromTestCodePage(WindowValues& values);  // cbb_codepage_test chosen
void SyncFromInterChar(WindowValues& values);     // rg_Down_InterChar chosen

// Window text to display bytes and back with the host code page of a TCodePages
// row (host code page for no selection). An empty text gives empty bytes here.
Bytes EncodeForRow(const Text& text, int codePageRow);
Text DecodeForRow(const Bytes& bytes, int codePageRow);

} // namespace tarsel
