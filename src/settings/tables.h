// The constant lookup tables behind the settings selectors, their searches, the
// brightness mappings and the factory default settings document.
#pragma once

#include <array>
#include <cstdint>

namespace tarsel {

// Display line speed: the selector text and the code the display understands.
struct TBaudRates {
    const char* BaudRateName;
    int BaudRateNo;
};

// A command set the display can emulate.
struct TCommandModes {
    const char* CommandName;
    int CommandNo;
};

// An international character set (characters 0x20..0x7F) and the code page that
// goes with it (SetCodePageNo names a TCodePages row by its CodePageNoNew).
struct TInterChars {
    const char* DisplayNameEn;
    const char* DisplayNameZh; // UTF-8
    int InterCharNo;
    int SetCodePageNo;
    int DownCodePageNo;
};

// A code page (characters 0x80..0xFF). CodePageName is the host code page number
// used to convert window texts; CodePageNoNew is the number the display understands.
struct TCodePages {
    const char* DisplayName;
    int CodePageName;
    int CodePageNoOld;
    int CodePageNoNew;
};

// Selectors are filled from these tables in row order, so an item index is a row.
inline constexpr std::array<TBaudRates, 5> BaudRateTable = {{
    {"9600", 0},
    {"19200", 1},
    {"38400", 2},
    {"57600", 3},
    {"115200", 4},
}};

// The rows of the connection baud-rate box (same rows as BaudRateTable).
inline constexpr std::array<TBaudRates, 5> ConnectBaudRateTable = BaudRateTable;

inline constexpr std::array<TCommandModes, 15> CommandModeTable = {{
    {"LD220", 0},
    {"EPSON Esc/POS", 1},
    {"AEDEX", 2},
    {"UTC/S", 3},
    {"UTC/E", 4},
    {"ADM788", 5},
    {"DSP800", 6},
    {"CD5220", 7},
    {"EMAX", 8},
    {"LOGIC CONTROL", 9},
    {"ICD2002", 10},
    {"EZ-202", 11},
    {"PL-200", 12},
    {"KT900", 13},
    {"AUTO", 255},
}};

inline constexpr std::array<TInterChars, 20> InterCharTable = {{
    {"USA", "美国", 0, 0, 0},
    {"France", "法国", 1, 19, 19},
    {"Germany", "德国", 2, 19, 19},
    {"U.K.", "英国", 3, 19, 19},
    {"Denmark I", "丹麦I", 4, 19, 19},
    {"Sweden", "瑞典", 5, 19, 19},
    {"Italy", "意大利", 6, 19, 19},
    {"Spain", "西班牙语系", 7, 19, 19},
    {"Japan", "日本", 8, 1, 1},
    {"Norway", "挪威", 9, 19, 19},
    {"Denmark II", "丹麦II", 10, 2, 2},
    {"Russia", "俄罗斯", 12, 17, 17},
    {"Greek", "希腊语系", 13, 21, 21},
    {"Czech", "捷克语系", 14, 18, 18},
    {"Lithuania", "立陶宛", 15, 51, 51},
    {"Portugal", "葡萄牙语系", 16, 3, 3},
    {"Turkey", "土耳其", 17, 9, 9},
    {"Baltic States", "波罗的海国家", 18, 51, 51},
    {"Thailand", "泰国", 19, 55, 55},
    {"Other", "其他", 255, 0, 0},
}};

inline constexpr std::array<TCodePages, 26> CodePageTable = {{
    {"CP437", 437, 0, 0},
    {"CP737", 737, 17, 21},
    {"CP737_S", 737, 0, 23},
    // The display's font for this page is the Greek ISO-8859-7 set (host code page
    // 28597); texts are converted with it. 28579 is no code page at all.
    {"CP737_S1", 28597, 0, 54},
    {"CP850", 850, 2, 2},
    {"CP852", 852, 16, 18},
    {"CP857", 857, 9, 9},
    {"CP858", 858, 18, 19},
    {"CP860", 860, 3, 3},
    {"CP863", 863, 4, 4},
    {"CP864", 864, 19, 22},
    {"CP865", 865, 5, 5},
    {"CP866", 866, 15, 17},
    {"CP866_AT", 866, 0, 15},
    {"CP874", 874, 0, 55},
    {"CP936_GBK", 936, 0, 25},
    {"CP950_BIG5", 950, 0, 146},
    {"Katakana", 932, 1, 1},
    {"WCP1250", 1250, 11, 11},
    {"WCP1251", 1251, 14, 14},
    {"WCP1252", 1252, 8, 16},
    {"WCP1253", 1253, 12, 47},
    {"WCP1255", 1255, 13, 49},
    {"WCP1256", 1256, 0, 24},
    {"WCP1257", 1257, 21, 51},
    {"WCP1258", 1258, 0, 52},
}};

inline constexpr int kBaudRateCount = static_cast<int>(BaudRateTable.size());
inline constexpr int kCommandModeCount = static_cast<int>(CommandModeTable.size());
inline constexpr int kInterCharCount = static_cast<int>(InterCharTable.size());
inline constexpr int kCodePageCount = static_cast<int>(CodePageTable.size());

// Row of the first entry whose number column equals `value`, or -1.
int FindBaudRate(int value);     // by BaudRateNo
int FindCommandMode(int value);  // by CommandNo
int FindInterChar(int value);    // by InterCharNo
int FindCodePage(int value);     // by CodePageNoNew

// The host code page of a TCodePages row; the host's own code page for a row
// outside the table (a selector without selection).
int CodePageOfRow(int row);

// The host's 8-bit code page: settings file and the display's settings report.
inline constexpr int kHostCodePage = 1252;

// Brightness: the window's level 1..4 ("20%", "40%", "60%", "100%") and the
// display's backlight code.
// Level 1 -> 6, 2 -> 5, 3 -> 4, 4 -> 1; a level outside 1..4 gives 0. The display
// keeps 1 (or 2) for its brightest level and reports 3 and 4 as "60%", so "100%" is
// stored as 1: a saved "100%" then loads as "100%".
std::uint8_t BacklightFromLevel(int level);
// Code 1, 2 -> 4; 3, 4 -> 3; 5 -> 2; 6 -> 1; 0 and above 6 -> 3.
std::uint8_t LevelFromBacklight(int backLight);

// The factory default settings document (one key per line, "\n" line ends).
extern const char* const DefaultSettingsJson;

} // namespace tarsel
