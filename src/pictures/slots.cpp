#include "pictures/slots.h"

namespace tarsel {

std::string SlotLabel(int slot)
{
    switch (slot) {
    case 73:
        return "Startup logo";
    case 74:
        return "Title logo";
    case 75:
        return "Head Picture";
    case 86:
        return "Guest";
    default:
        return IsPlaySlot(slot) ? "Picture " + std::to_string(PlayPictureNumber(slot)) : std::string();
    }
}

std::string SlotPlaceholderName(int slot) { return IsSlot(slot) ? "IMG" + std::to_string(slot) : std::string(); }

PixelSize SlotPlaceholderSize(int slot) { return slot == 75 ? PixelSize{274, 80} : PixelSize{130, 80}; }

std::optional<PixelSize> SlotTargetSize(int slot, int model)
{
    if (!IsSlot(slot) || model < 0 || model > 6)
        return std::nullopt;
    const bool small = model <= 1; // 480 × 272 screens
    switch (slot) {
    case 74:
        return small ? PixelSize{120, 40} : PixelSize{240, 80};
    case 75:
        return small ? PixelSize{360, 40} : PixelSize{560, 80};
    case 86:
        if (small)
            return std::nullopt;
        return PixelSize{800, 360};
    default: // 73 and the play pictures: the whole screen
        return small ? PixelSize{480, 272} : PixelSize{800, 480};
    }
}

bool ModelHasGuestSlot(int model) { return model == 3 || model == 5 || model == 6; }

bool ModelStoresJpegPictures(int model) { return model == 3 || model == 5 || model == 6; }

PlaySelection PlaySelectionFromTicks(const std::array<bool, kPlaySlotCount>& ticks)
{
    PlaySelection s;
    for (int k = 0; k < kPlaySlotCount; ++k) {
        if (ticks[k]) {
            s.picReg = static_cast<std::uint16_t>(s.picReg | (1u << k));
            ++s.count;
        }
    }
    return s;
}

std::array<bool, kPlaySlotCount> PlayTicksFromPicReg(unsigned picReg)
{
    std::array<bool, kPlaySlotCount> ticks{};
    for (int k = 0; k < kPlaySlotCount; ++k)
        ticks[k] = (picReg >> k) & 1u;
    return ticks;
}

} // namespace tarsel
