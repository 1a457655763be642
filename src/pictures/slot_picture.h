// A picture file made into what a slot sends, without the conversion window: the
// crop the window proposes when the file is opened (the frame centred on the shown
// picture, not moved), and the bytes the slot is sent as on a model.
#pragma once

#include "pictures/geometry.h"
#include "pictures/image.h"

#include <string>

namespace tarsel {

// The conversion window's preview panel, in which picture and frame are centred.
inline constexpr PixelSize kConvertPanelSize{884, 662};

// How a picture to be converted for `target` is decoded: a JPEG may be decoded at a
// reduced scale that still covers the size it is shown at (PlanDisplay).
DecodeOptions ShownDecodeOptions(PixelSize target);

// The window's proposal for a picture decoded at `picture`'s size from a file that
// declares `declared`: shown as PlanDisplay says, picture and frame (target size) each
// centred in the panel, the crop taken at the frame; white where the picture does not
// reach.
Image ProposedCrop(const Image& picture, PixelSize declared, PixelSize target);

// Reads and decodes the file by its content with ShownDecodeOptions, as the window
// does, and makes the proposed crop.
// False with a message naming the file when it cannot be read or decoded.
bool ProposedCropFromFile(const std::string& path, PixelSize target, Image& crop, std::string& error);

// The bytes a slot's picture is sent as: a JPEG at quality 90 on the models that store
// named JPEG files, else RGB565 at the slot's size on the model (scaled when the
// picture has another size). Empty for an empty picture or a slot the model lacks.
Bytes SlotPictureBytes(const Image& bitmap, int slot, int model);

} // namespace tarsel
