#include "settings/window_values.h"

#include "settings/tables.h"
#include "util/codepage.h"
#include "util/text.h"

#include <algorithm>
#include <string>

namespace tarsel {

namespace {

constexpr int kLine1Width = 20;
constexpr int kLine2Width = 60;
constexpr int kMainLineWidth = 20;

Text numberText(int n)
{
    const std::string digits = std::to_string(n);
    return Text(digits.begin(), digits.end());
}

void setCodePageCombos(WindowValues& v, int row)
{
    v.cbb_CodePage = row;
    v.cbb_codepage_test = row;
    v.cbb_codepage_maintext = row;
}

} // namespace

Bytes EncodeForRow(const Text& text, int codePageRow)
{
    if (text.empty())
        return {};
    return WideToCodePage(text, CodePageOfRow(codePageRow));
}

Text DecodeForRow(const Bytes& bytes, int codePageRow)
{
    if (bytes.empty())
        return {};
    return CodePageToWide(bytes, CodePageOfRow(codePageRow));
}

void GatherSettings(WindowValues& v, TDisplayInfo& info)
{
    // 1. Fixed byte and the display's own line speed.
    info.temp1 = 0;
    if (v.cbb_down_BaudRate >= 0)
        info.Baud_Rate = static_cast<std::uint8_t>(v.cbb_down_BaudRate);

    // 2. Scroll flags: a set bit means the line does not scroll.
    SetBit(info.temp2, 1, !v.chk_Scroll1);
    SetBit(info.temp2, 2, !v.chk_Scroll2);
    SetBit(info.temp2, 3, true);
    SetBit(info.temp2, 4, false);

    // 3. Character set, code page and command set (unchanged without a selection).
    if (v.rg_Down_InterChar >= 0 && v.rg_Down_InterChar < kInterCharCount)
        info.Char_No = static_cast<std::uint8_t>(InterCharTable[static_cast<std::size_t>(v.rg_Down_InterChar)].InterCharNo);
    if (v.rg_Down_CodePage >= 0 && v.rg_Down_CodePage < kCodePageCount)
        info.Expand_Char_No = static_cast<std::uint8_t>(CodePageTable[static_cast<std::size_t>(v.rg_Down_CodePage)].CodePageNoNew);
    if (v.cbb_down_CommandMode >= 0 && v.cbb_down_CommandMode < kCommandModeCount)
        info.Comm_No = static_cast<std::uint8_t>(CommandModeTable[static_cast<std::size_t>(v.cbb_down_CommandMode)].CommandNo);

    // 4./5. Welcome message, padded in the window, converted for the display.
    v.edt_line1 = PadRight(v.edt_line1, kLine1Width, u' ');
    v.edt_line2 = PadRight(v.edt_line2, kLine2Width, u' ');
    info.wel_mess1 = EncodeForRow(v.edt_line1, v.cbb_CodePage);
    info.wel_mess2 = EncodeForRow(v.edt_line2, v.cbb_CodePage);

    // 6. Main-text colours.
    info.font_Foreground_color_565 = ColorToRGB565(v.pnlColorTextText);
    info.font_Background_color_565 = ColorToRGB565(v.pnlColorBgText);
    info.font_Foreground_color_888 = v.pnlColorTextText;
    info.font_Background_color_888 = v.pnlColorBgText;

    // 7. Brightness.
    if (v.rg_brightness >= 0 && v.rg_brightness <= 3) {
        info.back_light_set = static_cast<std::uint8_t>(v.rg_brightness + 1);
        info.back_light = BacklightFromLevel(info.back_light_set);
    } else {
        info.back_light_set = 0;
    }

    // 8. Play list.
    info.pic_reg = 0;
    int checked = 0;
    for (std::size_t i = 0; i < v.CheckBox.size(); ++i) {
        if (v.CheckBox[i]) {
            info.pic_reg = static_cast<std::uint16_t>(info.pic_reg | (1u << i));
            ++checked;
        }
    }
    v.lbl_selected_nums = numberText(checked);

    // 9. Line count.
    if (v.rbtnTextLine2) {
        info.line_mode = 1;
        v.edtMianText3Visible = false;
        v.edtMianText4Visible = false;
    } else if (v.rbtnTextLine4) {
        info.line_mode = 2;
        v.edtMianText3Visible = true;
        v.edtMianText4Visible = true;
    }

    // 10. Footer and header colours.
    info.bm_back_rgb_565 = ColorToRGB565(v.pnlColorBgFooter);
    info.bm_font_rgb_565 = ColorToRGB565(v.pnlColorTextFooter);
    info.tp_back_rgb_565 = ColorToRGB565(v.pnlColorBgHeader);
    info.tp_font_rgb_565 = ColorToRGB565(v.pnlColorTextHeader);
    info.bm_back_rgb_888 = v.pnlColorBgFooter;
    info.bm_font_rgb_888 = v.pnlColorTextFooter;
    info.tp_back_rgb_888 = v.pnlColorBgHeader;
    info.tp_font_rgb_888 = v.pnlColorTextHeader;

    // 11. Header mode.
    if (v.rbtnHeaderText)
        info.tp_mode = 10;
    else if (v.rbtnHeaderPicture)
        info.tp_mode = 9;

    // 12. Main text: four padded lines (hidden ones included), joined.
    Text joined;
    for (auto& line : v.edtMianText) {
        line = PadRight(line, kMainLineWidth, u' ');
        joined += line;
    }
    info.main_str = EncodeForRow(joined, v.cbb_codepage_maintext);

    // 13. Carousel times.
    info.into_lun_bo = static_cast<std::uint8_t>(v.ud_StandbyTime);
    info.lun_time = static_cast<std::uint8_t>(v.ud_PlayInterval);
}

void ApplySettings(TDisplayInfo& info, WindowValues& v)
{
    // 1. Line speed.
    v.cbb_down_BaudRate = FindBaudRate(info.Baud_Rate);

    // 2. Scroll boxes: checked when the "does not scroll" bit is clear.
    v.chk_Scroll1 = BitIsSet(info.temp2, 1) == 0;
    v.chk_Scroll2 = BitIsSet(info.temp2, 2) == 0;

    // 3. Character set and code page, with the code page combos in step.
    v.rg_Down_InterChar = FindInterChar(info.Char_No);
    v.rg_Down_CodePage = FindCodePage(info.Expand_Char_No);
    SyncFromCodePageGroup(v);

    // 4. Command set.
    v.cbb_down_CommandMode = FindCommandMode(info.Comm_No);

    // 5. Welcome message in the selected code page.
    v.edt_line1 = DecodeForRow(info.wel_mess1, v.rg_Down_CodePage);
    v.edt_line2 = DecodeForRow(info.wel_mess2, v.rg_Down_CodePage);

    // 6. Colours as the display stores them.
    auto to888 = [](std::int32_t c565) { return RGB565ToColor(static_cast<std::uint16_t>(c565 & 0xFFFF)); };
    info.font_Foreground_color_888 = to888(info.font_Foreground_color_565);
    info.font_Background_color_888 = to888(info.font_Background_color_565);
    info.bm_back_rgb_888 = to888(info.bm_back_rgb_565);
    info.bm_font_rgb_888 = to888(info.bm_font_rgb_565);
    info.tp_back_rgb_888 = to888(info.tp_back_rgb_565);
    info.tp_font_rgb_888 = to888(info.tp_font_rgb_565);
    v.pnlColorTextText = info.font_Foreground_color_888;
    v.pnlColorBgText = info.font_Background_color_888;
    v.pnlColorBgFooter = info.bm_back_rgb_888;
    v.pnlColorTextFooter = info.bm_font_rgb_888;
    v.pnlColorBgHeader = info.tp_back_rgb_888;
    v.pnlColorTextHeader = info.tp_font_rgb_888;

    // 7. Brightness.
    info.back_light_set = LevelFromBacklight(info.back_light);
    v.rg_brightness = info.back_light_set - 1;

    // 8. Play list: ten boxes from the low byte and bits 0..1 of the high byte.
    info.pic_reg_lo = static_cast<std::uint8_t>(info.pic_reg & 0xFF);
    info.pic_reg_hi = static_cast<std::uint8_t>(info.pic_reg >> 8);
    for (int i = 0; i < 8; ++i)
        v.CheckBox[static_cast<std::size_t>(i)] = BitIsSet(info.pic_reg_lo, i + 1) != 0;
    v.CheckBox[8] = BitIsSet(info.pic_reg_hi, 1) != 0;
    v.CheckBox[9] = BitIsSet(info.pic_reg_hi, 2) != 0;
    // The count beside the boxes follows them, so it never shows a stale number.
    v.lbl_selected_nums = numberText(static_cast<int>(std::count(v.CheckBox.begin(), v.CheckBox.end(), true)));

    // 9. Line count.
    if (info.line_mode == 2) {
        v.edtMianText3Visible = true;
        v.edtMianText4Visible = true;
        v.rbtnTextLine4 = true;
        v.rbtnTextLine2 = false;
    } else {
        v.edtMianText3Visible = false;
        v.edtMianText4Visible = false;
        v.rbtnTextLine2 = true;
        v.rbtnTextLine4 = false;
    }

    // 10. Header mode.
    v.rbtnHeaderPicture = info.tp_mode == 9;
    v.rbtnHeaderText = !v.rbtnHeaderPicture;

    // 11. Main text in four pieces of 20 bytes.
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t from = i * 20;
        const Bytes piece = from < info.main_str.size() ? info.main_str.substr(from, 20) : Bytes{};
        v.edtMianText[i] = DecodeForRow(piece, v.rg_Down_CodePage);
    }

    // 12. Carousel times.
    v.ud_StandbyTime = info.into_lun_bo;
    v.ud_PlayInterval = info.lun_time;
}

void SyncFromCodePageGroup(WindowValues& v) { setCodePageCombos(v, v.rg_Down_CodePage); }

void SyncFromCodePageCombo(WindowValues& v)
{
    v.rg_Down_CodePage = v.cbb_CodePage;
    v.cbb_codepage_test = v.cbb_CodePage;
    v.cbb_codepage_maintext = v.cbb_CodePage;
}

void SyncFromTestCodePage(WindowValues& v)
{
    v.rg_Down_CodePage = v.cbb_codepage_test;
    v.cbb_CodePage = v.cbb_codepage_test;
    v.cbb_codepage_maintext = v.cbb_codepage_test;
}

void SyncFromInterChar(WindowValues& v)
{
    int row = -1;
    if (v.rg_Down_InterChar >= 0 && v.rg_Down_InterChar < kInterCharCount)
        row = FindCodePage(InterCharTable[static_cast<std::size_t>(v.rg_Down_InterChar)].SetCodePageNo);
    v.rg_Down_CodePage = row;
    SyncFromCodePageGroup(v);
}

} // namespace tarsel
