// The catalogue of everything a display can store: 93 download items, the models'
// storage properties as the transfers see them, the names of the carried images
// (font, "big52gbk" and firmware) and their sizes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarsel {

struct DownloadItem {
    const char* Name;          // display name and resource base name
    const char* FlashAddress;  // "0x" + 8 hex digits; "0xFFFFFFFF" = no flash address
    const char* FileName;      // file name on the models that store named files
};

inline constexpr int kCatalogueSize = 93;
inline constexpr int kFirstFontPos = 1;
inline constexpr int kLastFontPos = 76;
inline constexpr int kFirstPicturePos = 77;
inline constexpr int kLastPicturePos = 90;
inline constexpr int kSystemPos = 91;
inline constexpr int kBig52GbkPos = 92;
inline constexpr int kFirmwarePos = 93;
inline constexpr int kEndOfRun = 94;
inline constexpr int kDownListSize = 95;

inline constexpr const char* kNoFlashAddress = "0xFFFFFFFF";

// Rows in table order; position p is DownloadItems[p - 1].
extern const std::array<DownloadItem, kCatalogueSize> DownloadItems;

// The row of position 1..93.
const DownloadItem& DownloadItemAt(int position);

// False when the model stores at flash addresses and the item has none.
bool IsItemSupported(int position, int modelIndex);

// The flash address as 8 hex digits (the FlashAddress text without "0x").
std::string FlashAddressHex(int position);

// "_480x272" for models 0 and 1, "_800x480" for the others.
std::string ResourceSuffix(int modelIndex);

// The model's text with every "-" removed, cut to 7 characters ("KT310--IIC" -> "KT310II").
std::string FirmwareResourceName(int modelIndex);

// The carried image for a position: fonts Name + suffix, 92 "big52gbk", 91 and 93 the
// firmware name; empty for pictures and positions outside 1..93.
std::string ResourceName(int position, int modelIndex);

// Size in bytes of the maker's image for a font position (1..76) at a screen size;
// 0 when the maker has none at that size.
std::size_t FontImageSize(int position, bool bigScreen);

inline constexpr std::size_t kBig52GbkSize = 48132;
inline constexpr std::size_t kFirmwareImageSize = 266240;
inline constexpr const char* kCarriedFirmwareName = "KT310II";
// The firmware version of the carried image.
inline constexpr int kCarriedFirmwareVersion = 12;

struct ResourceImage {
    std::string name;  // without ".bin"
    std::size_t size;
};

// Every image of the maker's pack: each font at both screen sizes where it exists,
// "big52gbk" and the firmware image.
std::vector<ResourceImage> ResourcePackImages();

} // namespace tarsel
