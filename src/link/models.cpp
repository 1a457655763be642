#include "link/models.h"

namespace tarsel {

namespace {

bool isOneOf(int modelIndex, std::initializer_list<int> set)
{
    for (int m : set)
        if (m == modelIndex)
            return true;
    return false;
}

} // namespace

int FindModel(const Bytes& name)
{
    for (int i = 0; i < kModelCount; ++i)
        if (ModelList[static_cast<std::size_t>(i)] == name)
            return i;
    return -1;
}

std::string ModelName(int modelIndex)
{
    if (modelIndex < 0 || modelIndex >= kModelCount)
        return {};
    return ModelList[static_cast<std::size_t>(modelIndex)];
}

ScreenSize ScreenSizeForModel(int modelIndex)
{
    if (modelIndex < 2)
        return {480, 272};
    return {800, 480};
}

bool IsNamedFileModel(int modelIndex) { return isOneOf(modelIndex, {3, 5, 6}); }
bool HasSlot86(int modelIndex) { return isOneOf(modelIndex, {3, 5, 6}); }
bool HasPictureNumberControls(int modelIndex) { return isOneOf(modelIndex, {1, 3, 5, 6}); }
bool ChecksFirmwareVersion(int modelIndex) { return isOneOf(modelIndex, {3, 5, 6}); }
bool QrFromPictureFile(int modelIndex) { return isOneOf(modelIndex, {0, 2, 4}); }

} // namespace tarsel
