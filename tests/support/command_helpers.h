// Shorthands for tests of the device commands that return a value besides their outcome.
#pragma once

#include "link/commands.h"

namespace tarsel::test {

// The model index DetectModel found (-1 for none); its outcome in `status`.
inline int detect(Link& link, Status& status)
{
    int index = -1;
    status = DetectModel(link, index);
    return index;
}

// The version ReadVersion read (0 when none); its outcome in `status`.
inline int readVersion(Link& link, Status& status)
{
    int version = 0;
    status = ReadVersion(link, version);
    return version;
}
inline int readVersion(Link& link)
{
    Status ignored;
    return readVersion(link, ignored);
}

} // namespace tarsel::test
