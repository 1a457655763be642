// The settings operations that talk to the display. They run on the device worker,
// one at a time, over the link; they reach the window only through the outlets.
// The window gathers the settings into the record before it starts one of them.
#pragma once

#include "link/commands.h"
#include "link/link.h"
#include "link/outlets.h"
#include "settings/display_info.h"
#include "settings/window_values.h"
#include "util/bytes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarsel {

// A message box to show: empty text means nothing to show.
struct Notice {
    std::string text;
    int flags = 0;
    bool operator==(const Notice&) const = default;
};

inline constexpr const char* kDone = "Done!";
inline constexpr const char* kFail = "Fail!";
inline constexpr const char* kNotFoundDevice = "Not found the devies:";

// ---------------------------------------------------------------------------
// Settings transfer

// "Get Setting": the display's settings document, 00 included; empty when no
// complete reply arrived.
Bytes ReadDisplaySettings(Link& link);
// Applies a reply on the window's side: "Get Settings Error!" (warning) for an
// empty reply, the parser's text (warning) for a bad one, else
// "Get Settings from Display Success!" (information). A reply whose texts held
// control characters is applied with them made plain, and the success text is
// followed by the warning that names the keys (warning icon). `applied` (when
// given) tells whether the document reached `info` and `values`.
Notice ApplyDisplaySettings(const Bytes& reply, TDisplayInfo& info, WindowValues& values, bool* applied = nullptr);

// "Load Setting" once the file is read: "Load Settings Error!" (warning) for an
// empty file, the parser's text (warning) for a bad one, else
// "Load Settings Success!" (information), followed by the warning that names the
// keys whose texts held control characters (then with the warning icon).
Notice ApplySettingsFile(const Bytes& content, TDisplayInfo& info, WindowValues& values, bool* applied = nullptr);

inline constexpr const char* kAllDownloadQuestion = "Do you want to download all settings?";
// Asks the "All Download" question; true on Yes.
bool ConfirmAllDownload(Outlets& outlets);
// Sends every setting group of the gathered record with progress, waits between
// the commands, and shows the report (warning icon when anything failed). Returns
// the report. A cancelled job (the link's token) stops before its next command,
// shows nothing and returns an empty report. Every operation below likewise shows
// no failure box for a command that ended because its job was cancelled.
std::string RunAllDownload(Link& link, Outlets& outlets, const TDisplayInfo& info);
// One report line: the label padded to 30, "Success " or "Failed ", CR LF.
std::string AllDownloadReportLine(const std::string& label, bool ok);

// Asks, then sends the factory reset; a failed write is shown. True when it was sent.
bool RunResetDisplay(Link& link, Outlets& outlets);
// Sends the restart; a failed write is shown. True when it was sent.
bool RunRestartDisplay(Link& link, Outlets& outlets);
// Asks, then formats the display's storage; nothing is shown afterwards. True when
// the command was sent.
bool RunFormat(Link& link, Outlets& outlets);

// ---------------------------------------------------------------------------
// The "Setting" buttons (each stops at the first failure and shows its text)

void RunWelcomeSetting(Link& link, Outlets& outlets, const TDisplayInfo& info);
void RunHeaderSetting(Link& link, Outlets& outlets, const TDisplayInfo& info);
void RunTextSetting(Link& link, Outlets& outlets, const TDisplayInfo& info);
void RunFooterSetting(Link& link, Outlets& outlets, const TDisplayInfo& info);
void RunBrightnessSetting(Link& link, Outlets& outlets, const TDisplayInfo& info);
// Sends Baud_Rate. On success the link's speed becomes that row's rate, "Done!"
// is shown and the row is returned (for the connection baud-rate box); on
// failure "Fail!" (warning) and -1. `changed` (when given) is told the row before
// "Done!" is shown, so the window can show the new speed first.
int RunBaudRateSetting(Link& link, Outlets& outlets, const TDisplayInfo& info,
                       const std::function<void(int row)>& changed = {});
// Sends the command-set selector's row (not its CommandNo).
void RunCommandSetSetting(Link& link, Outlets& outlets, int commandModeRow);
void RunPlaySetting(Link& link, Outlets& outlets, const TDisplayInfo& info);

// "Setting" on the code-page page: character set, code page, 1000 ms, "Done!".
inline constexpr double kCodePageSettlePauseMs = 1000;
void RunCodePageSetting(Link& link, Outlets& outlets, const TDisplayInfo& info);

// ---------------------------------------------------------------------------
// Display test

// The text in the test code page; at column/row when positionAt. First 40 bytes.
void RunDisplayText(Link& link, Outlets& outlets, const Text& text, int testCodePageRow, bool positionAt,
                    int column, int row);
void RunClearDisplay(Link& link, Outlets& outlets);
// Only for the models that show a QR code at a picture (1, 3, 5, 6); the text in
// the host code page. alignIndex 0..2 (left, centre, right). False when the model
// does not offer it (nothing sent).
bool RunShowQrCodeAt(Link& link, Outlets& outlets, int modelIndex, const Text& text, int alignIndex,
                     int pictureNumber);

// "Show QrCode" on the models that render the code from text: ShowQrCode with
// alignment alignIndex + 1 (0..2: left, centre, right), slot 0 and the text in the
// host code page. A failure is shown. True when the frame was sent.
bool RunShowQrCode(Link& link, Outlets& outlets, const Text& text, int alignIndex);

// "Show QrCode" on the models that show a QR code as a picture made from a file.
inline constexpr double kQrSpeedUpPauseMs = 500;   // after the display's switch up
inline constexpr double kQrSpeedBackPauseMs = 300; // after its switch back
// The picture code returned when the PC could not follow to the transfer speed.
inline constexpr int kQrSpeedFailed = 0x100;
// Opens CmdPort (when that fails: stops silently, kQrPortClosed), switches both ends
// to the transfer speed, sends the picture made from `file` with SendQrPicture,
// switches the display back to BaudRate (also after a cancel) and closes CmdPort. A
// PC that cannot take the transfer speed is shown (kQrSpeedFailed); a picture code
// other than 0 and kQrCancelled is shown as "Error：" + code. Returns the code.
int RunShowQrPicture(Link& link, Outlets& outlets, const std::string& file, int alignIndex,
                     const OneBitConverter& toOneBitPerPixel);

// The 41-byte test pattern of a test button's tag (101..103, 201..204): 0B, 16
// bytes from the first byte, four blanks, the next 16 bytes, four blanks. Empty
// for an unknown tag.
Bytes CodePageTestPattern(int tag);
void RunCodePageTest(Link& link, Outlets& outlets, int tag);

// ---------------------------------------------------------------------------
// Editing aids

// (20 - n) / 2 blanks in front (none when negative), then padded to `width`.
Text CenterText(const Text& text, int width);

// Which service pages a change of the test text shows: "Firmware Updates" always,
// "Download File" for the service code.
struct ServicePages {
    bool firmwareUpdates = true;
    bool downloadFile = false;
};
inline constexpr const char16_t* kServiceCode = u"5930127";
ServicePages ServicePagesFor(const Text& testText);

} // namespace tarsel
