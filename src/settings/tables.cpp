#include "settings/tables.h"

namespace tarsel {

namespace {

template <typename Table, typename Number>
int findRow(const Table& table, Number number, int value)
{
    for (std::size_t i = 0; i < table.size(); ++i)
        if (number(table[i]) == value)
            return static_cast<int>(i);
    return -1;
}

} // namespace

int FindBaudRate(int value)
{
    return findRow(BaudRateTable, [](const TBaudRates& r) { return r.BaudRateNo; }, value);
}

int FindCommandMode(int value)
{
    return findRow(CommandModeTable, [](const TCommandModes& r) { return r.CommandNo; }, value);
}

int FindInterChar(int value)
{
    return findRow(InterCharTable, [](const TInterChars& r) { return r.InterCharNo; }, value);
}

int FindCodePage(int value)
{
    return findRow(CodePageTable, [](const TCodePages& r) { return r.CodePageNoNew; }, value);
}

int CodePageOfRow(int row)
{
    if (row < 0 || row >= kCodePageCount)
        return kHostCodePage;
    return CodePageTable[static_cast<std::size_t>(row)].CodePageName;
}

std::uint8_t BacklightFromLevel(int level)
{
    switch (level) {
    case 1: return 6;
    case 2: return 5;
    case 3: return 4;
    case 4: return 1;
    default: return 0;
    }
}

std::uint8_t LevelFromBacklight(int backLight)
{
    switch (backLight) {
    case 1:
    case 2: return 4;
    case 3:
    case 4: return 3;
    case 5: return 2;
    case 6: return 1;
    default: return 3;
    }
}

const char* const DefaultSettingsJson =
    "{\"temp1\":0,\n"
    "\"Baud_Rate\":0,\n"
    "\"temp2\":0,\n"
    "\"Char_No\":0,\n"
    "\"Expand_Char_No\":0,\n"
    "\"Comm_No\":255,\n"
    "\"wel_mess1\":\"*** TFT DISPLAY *** \",\n"
    "\"wel_mess2\":\"**HAVE A NICE DAY AND THANK YOU**\",\n"
    "\"font_Foreground_color\":2047,\n"
    "\"font_Background_color\":0,\n"
    "\"back_light\":5,\n"
    "\"pic_reg\":0,\n"
    "\"line_mode\":1,\n"
    "\"bm_back_rgb\":65535,\n"
    "\"bm_font_rgb\":31,\n"
    "\"tp_back_rgb\":31,\n"
    "\"tp_font_rgb\":65535,\n"
    "\"tp_mode\":10,\n"
    "\"main_str\":\"*** TFT DISPLAY  ***  HAVE A NICE DAY!  *** TFT DISPLAY  ***  HAVE A NICE DAY!  \",\n"
    "\"into_lun_bo\":0,\n"
    "\"lun_time\":1\n"
    "}";

} // namespace tarsel
