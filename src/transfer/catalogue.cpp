#include "transfer/catalogue.h"

#include "link/models.h"

namespace tarsel {

const std::array<DownloadItem, kCatalogueSize> DownloadItems = {{
    {"CP437", "0x00000000", "437_80x40.bin"}, // 1
    {"CP437_40x40", "0xFFFFFFFF", "437_40x40.bin"}, // 2
    {"CP737", "0x001A9000", "737_80x40.bin"}, // 3
    {"CP737_S", "0x001DB000", "737S_80x40.bin"}, // 4
    {"CP737_S1", "0x00271000", "737-S1_28597_80x40.bin"}, // 5
    {"CP850", "0x00032000", "850_80x40.bin"}, // 6
    {"CP852", "0x0015E000", "852_80x40.bin"}, // 7
    {"CP857", "0x000E1000", "857_80x40.bin"}, // 8
    {"CP858", "0x00177000", "858_80x40.bin"}, // 9
    {"CP860", "0x0004B000", "860_80x40.bin"}, // 10
    {"CP863", "0x00064000", "863_80x40.bin"}, // 11
    {"CP864", "0x001C2000", "864_80x40.bin"}, // 12
    {"CP865", "0x0007D000", "865_80x40.bin"}, // 13
    {"CP866", "0x000AF000", "866_80x40.bin"}, // 14
    {"CP866_AT", "0x00145000", "866_AT_80x40.bin"}, // 15
    {"CP874", "0x0028A000", "874_80x40.bin"}, // 16
    {"CP936_GBK", "0xFFFFFFFF", "936_gbk_40x40.bin"}, // 17
    {"WCP1250", "0x00113000", "1250_80x40.bin"}, // 18
    {"WCP1251", "0x0012C000", "1251_80x40.bin"}, // 19
    {"WCP1252", "0x000C8000", "1252_80x40.bin"}, // 20
    {"WCP1253", "0x001F4000", "1253_80x40.bin"}, // 21
    {"WCP1255", "0x0020D000", "1255_80x40.bin"}, // 22
    {"WCP1256", "0x0047E000", "1256_80x40.bin"}, // 23
    {"WCP1257", "0x00226000", "1257_80x40.bin"}, // 24
    {"WCP1258", "0x0023F000", "1258_80x40.bin"}, // 25
    {"Katakana", "0x00019000", "Katakana_80x40.bin"}, // 26
    {"mini_CP437", "0x002A3000", "437_48x24.bin"}, // 27
    {"mini_CP737", "0x00361000", "737_48x24.bin"}, // 28
    {"mini_CP737_S", "0x00375000", "737S_48x24.bin"}, // 29
    {"mini_CP737_S1", "0x003B1000", "737-S1_28597_48x24.bin"}, // 30
    {"mini_CP850", "0x002B7000", "850_48x24.bin"}, // 31
    {"mini_CP852", "0x00343000", "852_48x24.bin"}, // 32
    {"mini_CP857", "0x00311000", "857_48x24.bin"}, // 33
    {"mini_CP858", "0x0034D000", "858_48x24.bin"}, // 34
    {"mini_CP860", "0x002D5000", "860_48x24.bin"}, // 35
    {"mini_CP863", "0x002DF000", "863_48x24.bin"}, // 36
    {"mini_CP864", "0x0036B000", "864_48x24.bin"}, // 37
    {"mini_CP865", "0x002E9000", "865_48x24.bin"}, // 38
    {"mini_CP866", "0x002FD000", "866_48x24.bin"}, // 39
    {"mini_CP866_AT", "0x00339000", "866_AT_48x24.bin"}, // 40
    {"mini_CP874", "0x003BB000", "874_48x24.bin"}, // 41
    {"mini_WCP1250", "0x00325000", "1250_48x24.bin"}, // 42
    {"mini_WCP1251", "0x0032F000", "1251_48x24.bin"}, // 43
    {"mini_WCP1252", "0x00307000", "1252_48x24.bin"}, // 44
    {"mini_WCP1253", "0x0037F000", "1253_48x24.bin"}, // 45
    {"mini_WCP1255", "0x00389000", "1255_48x24.bin"}, // 46
    {"mini_WCP1256", "0x003C5000", "1256_48x24.bin"}, // 47
    {"mini_WCP1257", "0x00393000", "1257_48x24.bin"}, // 48
    {"mini_WCP1258", "0x0039D000", "1258_48x24.bin"}, // 49
    {"mini_Katakana", "0x002AD000", "Katakana_48x24.bin"}, // 50
    {"USA", "0x004C9000", "40x80_fxChar_U_S_A.bin"}, // 51
    {"FRANCE", "0x004CB000", "40x80_fxChar_FRANCE.bin"}, // 52
    {"GERMANY", "0x004CD000", "40x80_fxChar_GERMANY.bin"}, // 53
    {"UK", "0x004CF000", "40x80_fxChar_U_K.bin"}, // 54
    {"DENMARK_I", "0x004D1000", "40x80_fxChar_DENMARK_I.bin"}, // 55
    {"SWEDEN", "0x004D3000", "40x80_fxChar_SWEDEN.bin"}, // 56
    {"ITALY", "0x004D5000", "40x80_fxChar_ITALY.bin"}, // 57
    {"SPAIN", "0x004D7000", "40x80_fxChar_SPAIN.bin"}, // 58
    {"JAPAN", "0x004D9000", "40x80_fxChar_JAPAN.bin"}, // 59
    {"NORWAY", "0x004DB000", "40x80_fxChar_NORWAY.bin"}, // 60
    {"DENMARK_II", "0x004DD000", "40x80_fxChar_DENMARK_II.bin"}, // 61
    {"SLAVONIC", "0x004DF000", "40x80_fxChar_SLAVONIC.bin"}, // 62
    {"RUSSIA", "0x004E1000", "40x80_fxChar_RUSSIA.bin"}, // 63
    {"mini_USA", "0x003D9000", "24x48_fxChar_U_S_A.bin"}, // 64
    {"mini_FRANCE", "0x003DB000", "24x48_fxChar_FRANCE.bin"}, // 65
    {"mini_GERMANY", "0x003DD000", "24x48_fxChar_GERMANY.bin"}, // 66
    {"mini_UK", "0x003DF000", "24x48_fxChar_U_K.bin"}, // 67
    {"mini_DENMARK_I", "0x003E1000", "24x48_fxChar_DENMARK_I.bin"}, // 68
    {"mini_SWEDEN", "0x003E3000", "24x48_fxChar_SWEDEN.bin"}, // 69
    {"mini_ITALY", "0x003E5000", "24x48_fxChar_ITALY.bin"}, // 70
    {"mini_SPAIN", "0x003E7000", "24x48_fxChar_SPAIN.bin"}, // 71
    {"mini_JAPAN", "0x003E9000", "24x48_fxChar_JAPAN.bin"}, // 72
    {"mini_NORWAY", "0x003EB000", "24x48_fxChar_NORWAY.bin"}, // 73
    {"mini_DENMARK_II", "0x003ED000", "24x48_fxChar_DENMARK_II.bin"}, // 74
    {"mini_SLAVONIC", "0x003EF000", "24x48_fxChar_SLAVONIC.bin"}, // 75
    {"mini_RUSSIA", "0x003F1000", "24x48_fxChar_RUSSIA.bin"}, // 76
    {"Logo_Start", "0x004FB000", "Picture_logo.jpg"}, // 77
    {"logo_Head", "0x00F43000", "logo_m0.jpg"}, // 78
    {"Pic_Head", "0x00FBA000", "head_pic.jpg"}, // 79
    {"Picture_1", "0x005B7000", "P1.jpg"}, // 80
    {"Picture_2", "0x00673000", "P2.jpg"}, // 81
    {"Picture_3", "0x0072F000", "P3.jpg"}, // 82
    {"Picture_4", "0x007EB000", "P4.jpg"}, // 83
    {"Picture_5", "0x008A7000", "P5.jpg"}, // 84
    {"Picture_6", "0x00963000", "P6.jpg"}, // 85
    {"Picture_7", "0x00A1F000", "P7.jpg"}, // 86
    {"Picture_8", "0x00ADB000", "P8.jpg"}, // 87
    {"Picture_9", "0x00B97000", "P9.jpg"}, // 88
    {"Picture_10", "0x00C53000", "P10.jpg"}, // 89
    {"Pic_Guest", "0xFFFFFFFF", "Guest.jpg"}, // 90
    {"system", "0xFFFFFFFF", "system.ini"}, // 91
    {"big52gbk", "0xFFFFFFFF", "big52gbk.bin"}, // 92
    {"firmware", "0x00000000", "firmware.bin"}, // 93
}};

const DownloadItem& DownloadItemAt(int position) { return DownloadItems.at(static_cast<std::size_t>(position - 1)); }

bool IsItemSupported(int position, int modelIndex)
{
    if (position < 1 || position > kCatalogueSize)
        return false;
    if (IsNamedFileModel(modelIndex))
        return true;
    return std::string(DownloadItemAt(position).FlashAddress) != kNoFlashAddress;
}

std::string FlashAddressHex(int position)
{
    std::string text = DownloadItemAt(position).FlashAddress;
    return text.substr(2);
}

std::string ResourceSuffix(int modelIndex)
{
    const ScreenSize size = ScreenSizeForModel(modelIndex);
    return "_" + std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::string FirmwareResourceName(int modelIndex)
{
    std::string name;
    for (char c : ModelName(modelIndex))
        if (c != '-')
            name.push_back(c);
    return name.substr(0, 7);
}

std::string ResourceName(int position, int modelIndex)
{
    if (position >= kFirstFontPos && position <= kLastFontPos)
        return DownloadItemAt(position).Name + ResourceSuffix(modelIndex);
    if (position == kBig52GbkPos)
        return "big52gbk";
    if (position == kSystemPos || position == kFirmwarePos)
        return FirmwareResourceName(modelIndex);
    return {};
}

std::size_t FontImageSize(int position, bool bigScreen)
{
    if (position == 2) // CP437_40x40
        return bigScreen ? 51200 : 0;
    if (position == 17) // CP936_GBK
        return bigScreen ? 4813200 : 0;
    if (position >= 1 && position <= 26)
        return bigScreen ? 102400 : 36864;
    if (position >= 27 && position <= 50)
        return bigScreen ? 36864 : 16384;
    if (position >= 51 && position <= 63)
        return bigScreen ? 4800 : 1728;
    if (position >= 64 && position <= 76)
        return bigScreen ? 1728 : 768;
    return 0;
}

std::vector<ResourceImage> ResourcePackImages()
{
    std::vector<ResourceImage> pack;
    for (int pos = kFirstFontPos; pos <= kLastFontPos; ++pos) {
        for (int model : {0, 2}) { // one model of each screen size
            const std::size_t size = FontImageSize(pos, model >= 2);
            if (size > 0)
                pack.push_back({ResourceName(pos, model), size});
        }
    }
    pack.push_back({"big52gbk", kBig52GbkSize});
    pack.push_back({kCarriedFirmwareName, kFirmwareImageSize});
    return pack;
}

} // namespace tarsel
