// Opening and closing the two handle slots of the link, and the open-error texts
// in the system's language.
#pragma once

#include "link/link.h"
#include "link/status.h"

#include <cstdint>
#include <string>

namespace tarsel {

// Language id that selects the Chinese open-error texts.
inline constexpr std::uint16_t kLangIdChinese = 2052;

// The text of an open code in the language chosen by sysLangId, as
// prefix + " " + text + "!". Every caller passes an empty prefix, so the user sees
// the text with one leading blank, e.g. " Error opening serial port!".
std::string ComErrorText(int code, const std::string& prefix, std::uint16_t sysLangId);

// Opens CmdPort (resp. TextPort) with PortName and BaudRate. Opened: ok. Otherwise
// PortError with the code's message: an empty PortName gives the code-2 message and
// nothing is tried; a slot that is already open gives the code-0 message. The
// system's reason follows on a second line ("/dev/ttyUSB0: Device or resource busy"),
// and a port refused for lack of permission adds a line naming the dialout group.
Status OpenCmdPort(Link& link);
Status OpenTextPort(Link& link);

// Closes the slot if it is open; closing a closed slot does nothing. Always true.
bool CloseCmdPort(Link& link);
bool CloseTextPort(Link& link);

// The second line added to an open failure caused by missing permission.
extern const char* const kPermissionHint;

} // namespace tarsel
