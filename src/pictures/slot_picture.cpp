#include "pictures/slot_picture.h"

#include "pictures/convert.h"
#include "pictures/resample.h"
#include "pictures/slots.h"

namespace tarsel {

DecodeOptions ShownDecodeOptions(PixelSize target)
{
    DecodeOptions options;
    options.atLeast = [target](PixelSize declared) { return PlanDisplay(declared, target).shown; };
    return options;
}

Image ProposedCrop(const Image& picture, PixelSize declared, PixelSize target)
{
    if (picture.empty())
        return {};
    const DisplayPlan plan = PlanDisplay(declared, target);
    const Image shown = ScaleImage(picture, plan.shown.width, plan.shown.height);
    const PixelRect image = CentreIn(kConvertPanelSize, plan.shown);
    const PixelRect frame = CentreIn(kConvertPanelSize, target);
    return CropShown(shown, CropPlacement(frame, image), target);
}

bool ProposedCropFromFile(const std::string& path, PixelSize target, Image& crop, std::string& error)
{
    Image picture;
    PixelSize declared;
    if (!LoadImageFile(path, picture, error, ShownDecodeOptions(target), &declared))
        return false;
    crop = ProposedCrop(picture, declared, target);
    if (crop.empty()) {
        error = "Cannot convert \"" + path + "\": the picture is empty.";
        return false;
    }
    return true;
}

Bytes SlotPictureBytes(const Image& bitmap, int slot, int model)
{
    if (bitmap.empty())
        return {};
    const auto size = SlotTargetSize(slot, model);
    if (!size)
        return {};
    if (ModelStoresJpegPictures(model))
        return BitmapToJpegBytes(bitmap, false);
    if (bitmap.width == size->width && bitmap.height == size->height)
        return BitmapToRgb565Bytes(bitmap, size->width, size->height);
    return BitmapToRgb565Bytes(ScaleImage(bitmap, size->width, size->height), size->width, size->height);
}

} // namespace tarsel
