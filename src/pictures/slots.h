// The fourteen picture slots: their numbers, labels, target sizes per display model,
// and the play selection they make.
#pragma once

#include "pictures/image.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tarsel {

inline constexpr int kFirstSlot = 73;
inline constexpr int kLastSlot = 86;
inline constexpr int kSlotCount = kLastSlot - kFirstSlot + 1;
inline constexpr int kFirstPlaySlot = 76;
inline constexpr int kPlaySlotCount = 10;
inline constexpr int kGuestSlot = 86;

// The slots in the order they are laid out and sent.
inline constexpr std::array<int, kSlotCount> kSlots{73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86};

inline bool IsSlot(int slot) { return slot >= kFirstSlot && slot <= kLastSlot; }
inline bool IsPlaySlot(int slot) { return slot >= kFirstPlaySlot && slot < kFirstPlaySlot + kPlaySlotCount; }

// The download queue position of a slot (slot + 4) and back.
inline int SlotQueuePosition(int slot) { return slot + 4; }
inline int QueuePositionSlot(int position) { return position - 4; }

// The picture number a play slot shows (76 -> 1 … 85 -> 10); 0 for other slots.
inline int PlayPictureNumber(int slot) { return IsPlaySlot(slot) ? slot - 75 : 0; }

// The label of the slot's placeholder ("Startup logo", "Picture 3", "Guest", …).
std::string SlotLabel(int slot);

// The placeholder's resource name ("IMG73" …) and its size (130 × 80, slot 75 274 × 80).
std::string SlotPlaceholderName(int slot);
PixelSize SlotPlaceholderSize(int slot);

// The size the conversion window must produce for the slot on display model
// `model` (0..6); none for an unknown slot or model, and for the guest slot on
// models 0 and 1.
std::optional<PixelSize> SlotTargetSize(int slot, int model);

// Whether the guest slot exists on the model (the named-file models 3, 5, 6).
bool ModelHasGuestSlot(int model);

// Whether the model stores pictures as named JPEG files (3, 5, 6) rather than raw
// RGB565 at flash addresses (0, 1, 2, 4).
bool ModelStoresJpegPictures(int model);

// The play selection from the ten play ticks: bit k set when the tick of slot 76 + k
// is set, and how many are set.
struct PlaySelection {
    std::uint16_t picReg = 0;
    int count = 0;
};
PlaySelection PlaySelectionFromTicks(const std::array<bool, kPlaySlotCount>& ticks);

// The play ticks a pic_reg value stands for (bits above 9 are ignored).
std::array<bool, kPlaySlotCount> PlayTicksFromPicReg(unsigned picReg);

} // namespace tarsel
