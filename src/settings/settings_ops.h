// The settings operations that talk to the display. They run on the device worker,
// one at a time, over the link; during an operation they reach the window only
// through the outlets (progress, questions), and each returns its outcome with the
// facts a report needs (which commands went out, with which result). The window
// gathers the settings into the record before it starts one of them, and turns the
// outcome into its boxes; the command line into exit statuses and JSON.
#pragma once

#include "link/commands.h"
#include "link/link.h"
#include "link/outlets.h"
#include "link/status.h"
#include "settings/display_info.h"
#include "settings/window_values.h"
#include "util/bytes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// One command a procedure sent, with its outcome.
struct StepOutcome {
    std::string label;   // "Header TextColor", "Main text", ...
    Status status;
};

// A procedure of several commands: ok, or the outcome of the first that failed (its
// text is what the window shows); the commands that went out, in order.
struct ProcedureReport {
    Status status;
    std::vector<StepOutcome> steps;
    bool ok() const { return status.ok(); }
};

// ---------------------------------------------------------------------------
// Settings transfer

// "Get Setting": the display's settings document, 00 included, in `reply`; empty
// when no complete reply arrived (the outcome says why).
Status ReadDisplaySettings(Link& link, Bytes& reply);

// What applying a document (the display's reply, a settings file) came to.
struct ApplyResult {
    // Ok with the success text; a failure with the text the window shows: an empty
    // reply "Get Settings Error!" (TimedOut) or file "Load Settings Error!"
    // (BadInput), or the parser's text (Refused for the display's reply, BadInput
    // for a file).
    Status status;
    bool applied = false;                  // the document reached the record and the values
    std::vector<std::string> cleanedKeys;  // texts whose control characters were made plain
};
ApplyResult ApplyDisplaySettings(const Bytes& reply, TDisplayInfo& info, WindowValues& values);
ApplyResult ApplySettingsFile(const Bytes& content, TDisplayInfo& info, WindowValues& values);
// The window's box for an applied document: the success text (information), with the
// warning that names the cleaned keys after it (warning icon); a failure's text with
// the warning icon.
Notice ApplyNotice(const ApplyResult& result);

inline constexpr const char* kAllDownloadQuestion = "Do you want to download all settings?";
// Asks the "All Download" question; true on Yes.
bool ConfirmAllDownload(Outlets& outlets);
// Sends every setting group of the gathered record with progress and waits between
// the commands; a failed command never stops the sequence. The report holds every
// command's outcome; its status is the first failure (or ok). A cancelled job stops
// before its next command (Cancelled).
ProcedureReport RunAllDownload(Link& link, Outlets& outlets, const TDisplayInfo& info);
// The report text: "Download: " CR LF CR LF, then one line a command.
std::string AllDownloadReportText(const ProcedureReport& report);
// One report line: the label padded to 30, "Success " or "Failed ", CR LF.
std::string AllDownloadReportLine(const std::string& label, bool ok);

// Asks, then sends the factory reset: Declined on No, else the command's outcome.
Status RunResetDisplay(Link& link, Outlets& outlets);
// Sends the restart.
Status RunRestartDisplay(Link& link);
// Asks, then formats the display's storage: Declined on No, else the command's outcome.
Status RunFormat(Link& link, Outlets& outlets);

// ---------------------------------------------------------------------------
// The "Setting" buttons (each stops at the first failure)

ProcedureReport RunWelcomeSetting(Link& link, const TDisplayInfo& info);
ProcedureReport RunHeaderSetting(Link& link, const TDisplayInfo& info);
ProcedureReport RunTextSetting(Link& link, const TDisplayInfo& info);
ProcedureReport RunFooterSetting(Link& link, const TDisplayInfo& info);
Status RunBrightnessSetting(Link& link, const TDisplayInfo& info);
// How long a display takes to change its speed after the baud-rate frame (as after the
// transfers' switch): nothing is sent to it meanwhile.
inline constexpr double kDisplaySpeedSettleMs = 200;
// Sends Baud_Rate and waits kDisplaySpeedSettleMs. On success the link's speed becomes that row's rate and the row
// is put in `row` (for the connection baud-rate box); `changed` (when given) is told
// the row at once. A code no row offers is refused (BadInput) and nothing is sent.
Status RunBaudRateSetting(Link& link, const TDisplayInfo& info, int& row,
                          const std::function<void(int row)>& changed = {});
// Sends the command-set selector's row (not its CommandNo); a row outside the table
// is refused (BadInput) and nothing is sent.
Status RunCommandSetSetting(Link& link, int commandModeRow);
ProcedureReport RunPlaySetting(Link& link, const TDisplayInfo& info);

// "Setting" on the code-page page: character set, code page, 1000 ms.
inline constexpr double kCodePageSettlePauseMs = 1000;
ProcedureReport RunCodePageSetting(Link& link, const TDisplayInfo& info);

// ---------------------------------------------------------------------------
// Display test

// How a text was changed on its way to the display.
struct TextChanges {
    int replaced = 0;         // characters the code page lacks (or control characters), sent as "?"
    std::size_t cutBytes = 0; // bytes beyond the 40 the display takes, not sent
    bool changed() const { return replaced > 0 || cutBytes > 0; }
};
// The text in the test code page; at column/row when positionAt. First 40 bytes.
// `changes` tells what of the text could not be sent as given.
Status RunDisplayText(Link& link, const Text& text, int testCodePageRow, bool positionAt, int column, int row,
                      TextChanges* changes = nullptr);
// How a text was changed when it became `bytes` (nothing cut).
TextChanges TextChangesOf(const Text& text, const Bytes& bytes);
Status RunClearDisplay(Link& link);
// Only for the models that show a QR code at a picture (1, 3, 5, 6); the text in
// the host code page. alignIndex 0..2 (left, centre, right). BadInput (nothing sent)
// for the other models.
Status RunShowQrCodeAt(Link& link, int modelIndex, const Text& text, int alignIndex, int pictureNumber,
                       TextChanges* changes = nullptr);

// "Show QrCode" on the models that render the code from text: ShowQrCode with
// alignment alignIndex + 1 (0..2: left, centre, right), slot 0 and the text in the
// host code page.
Status RunShowQrCode(Link& link, const Text& text, int alignIndex, TextChanges* changes = nullptr);

// "Show QrCode" on the models that show a QR code as a picture made from a file.
inline constexpr double kQrSpeedUpPauseMs = 500;   // after the display's switch up
inline constexpr double kQrSpeedBackPauseMs = 300; // after its switch back
struct QrPictureReport {
    // Ok; BadInput "Error：21" / "Error：19" for a missing file or one that is no
    // picture (found before the display is touched); PortError for a port that
    // cannot be opened (`opened` false: the window then shows nothing) or a PC that
    // cannot take the transfer speed; the picture's outcome otherwise.
    Status status;
    int code = 0;          // the picture code of SendQrPicture
    bool opened = true;    // CmdPort could be opened
};
// Makes the picture from `file` first (a missing file or one that gives no picture
// is refused before anything is sent); opens CmdPort, switches both ends to the
// transfer speed, sends the picture with SendQrPicture, switches the display back to
// BaudRate (also after a cancel) and closes CmdPort.
QrPictureReport RunShowQrPicture(Link& link, const std::string& file, int alignIndex,
                                 const OneBitConverter& toOneBitPerPixel);

// The 41-byte test pattern of a test button's tag (101..103, 201..204): 0B, 16
// bytes from the first byte, four blanks, the next 16 bytes, four blanks. Empty
// for an unknown tag.
Bytes CodePageTestPattern(int tag);
Status RunCodePageTest(Link& link, int tag);

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
