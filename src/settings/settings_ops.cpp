#include "settings/settings_ops.h"

#include "link/commands.h"
#include "link/models.h"
#include "link/ports.h"
#include "settings/settings_document.h"
#include "settings/tables.h"
#include "util/codepage.h"
#include "util/text.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

namespace tarsel {

namespace {

constexpr int kCenterWidth = 20;

using Step = std::pair<const char*, std::function<Status()>>;

// Runs the commands in order; the first failure stops the rest. A cancelled job
// stops likewise (Cancelled).
ProcedureReport runSteps(std::initializer_list<Step> steps)
{
    ProcedureReport report;
    for (const auto& [label, step] : steps) {
        Status status = step();
        report.steps.push_back({label, status});
        if (!status.ok()) {
            report.status = status;
            return report;
        }
    }
    return report;
}

// The pause between "All Download" commands: wait until the display answers
// again (the outcome does not matter). False when the job was cancelled.
bool waitForDisplay(Link& link)
{
    WaitDeviceReady(link, false);
    return !link.cancelled();
}

} // namespace

// ---------------------------------------------------------------------------
// Settings transfer

Status ReadDisplaySettings(Link& link, Bytes& reply)
{
    Status status = GetConfiguration(link, reply);
    if (!status.ok())
        reply.clear();
    return status;
}

namespace {

ApplyResult applyDocument(const Bytes& content, TDisplayInfo& info, WindowValues& values, const char* empty,
                          Code emptyCode, Code badCode, const char* success)
{
    ApplyResult result;
    if (content.empty()) {
        result.status = Status::failure(emptyCode, empty);
        return result;
    }
    std::string error;
    if (!ParseSettingsDocument(content, info, values, error, &result.cleanedKeys)) {
        result.status = Status::failure(badCode, error);
        result.cleanedKeys.clear();
        return result;
    }
    result.applied = true;
    result.status = Status::success(success);
    return result;
}

} // namespace

ApplyResult ApplyDisplaySettings(const Bytes& reply, TDisplayInfo& info, WindowValues& values)
{
    return applyDocument(reply, info, values, kGetSettingsError, Code::TimedOut, Code::Refused,
                         "Get Settings from Display Success!");
}

ApplyResult ApplySettingsFile(const Bytes& content, TDisplayInfo& info, WindowValues& values)
{
    return applyDocument(content, info, values, kLoadSettingsError, Code::BadInput, Code::BadInput,
                         kLoadSettingsSuccess);
}

Notice ApplyNotice(const ApplyResult& result)
{
    if (!result.status.ok())
        return {result.status.text, kBoxWarning};
    if (result.cleanedKeys.empty())
        return {result.status.text, kBoxInfo};
    return {result.status.text + "\n\n" + CleanedTextsWarning(result.cleanedKeys), kBoxWarning};
}

bool ConfirmAllDownload(Outlets& outlets)
{
    return outlets.ShowMessageBox(kAllDownloadQuestion, kBoxQuestion) == kAnswerYes;
}

std::string AllDownloadReportLine(const std::string& label, bool ok)
{
    std::string line = label;
    if (line.size() < 30)
        line.append(30 - line.size(), ' ');
    return line + (ok ? "Success " : "Failed ") + "\r\n";
}

std::string AllDownloadReportText(const ProcedureReport& report)
{
    std::string text = "Download: \r\n\r\n";
    for (const StepOutcome& step : report.steps)
        text += AllDownloadReportLine(step.label, step.status.ok());
    return text;
}

ProcedureReport RunAllDownload(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    ProcedureReport report;
    auto command = [&](const char* label, const Status& status) {
        if (status.cancelled() || link.cancelled())
            return;
        report.steps.push_back({label, status});
        if (!status.ok() && report.status.ok())
            report.status = status;
    };
    auto group = [&](const char* step) {
        outlets.ShowTransferStatus(step, "", 0);
        outlets.SetProgressPosition(0, 0);
    };
    auto progress = [&](int p) { outlets.SetProgressPosition(p, 0); };

    // A cancelled run stops before its next command.
    auto stopped = [&] {
        outlets.ResetProgress();
        report.status = Status::failure(Code::Cancelled, kCancelledText);
        return report;
    };

    outlets.StartProgress("All Settings Downloading......", 100, 0);

    group("Brightness adjustment ...");
    command("Brightness adjustment :", SetBrightness(link, info.back_light_set));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("Header Settings ...");
    command("Header TextColor :", SetTextColor(link, ColorArea::Header, info.tp_font_rgb_888));
    progress(30);
    if (!waitForDisplay(link))
        return stopped();
    command("Header BackgroudColor :", SetBackColor(link, ColorArea::Header, info.tp_back_rgb_888));
    progress(60);
    if (!waitForDisplay(link))
        return stopped();
    command("Header Mode :", SetTitleMode(link, info.tp_mode));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("Main Settings ...");
    command("Text TextColor :", SetTextColor(link, ColorArea::MainText, info.font_Foreground_color_888));
    progress(30);
    if (!waitForDisplay(link))
        return stopped();
    command("Text BackgroudColor :", SetBackColor(link, ColorArea::MainText, info.font_Background_color_888));
    progress(60);
    if (!waitForDisplay(link))
        return stopped();
    command("Main Mode :", SetMainTextLines(link, info.line_mode));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("Footer Settings ...");
    command("Footer TextColor :", SetTextColor(link, ColorArea::Footer, info.bm_font_rgb_888));
    progress(50);
    if (!waitForDisplay(link))
        return stopped();
    command("Footer BackgroudColor :", SetBackColor(link, ColorArea::Footer, info.bm_back_rgb_888));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("Welcome Message Settings ...");
    command("Line1 Setting :", SetLine1Text(link, info.wel_mess1));
    if (!waitForDisplay(link))
        return stopped();
    command("Line2 Setting :", SetLine2Text(link, info.wel_mess2));
    if (!waitForDisplay(link))
        return stopped();
    command("Line2 Scroll Setting :", SetLineFlags(link, info.temp2));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("CodePage Settings ...");
    command("InterChar Setting :", SetInterChar(link, info.Char_No));
    progress(50);
    command("CodePage Setting :", SetCodePage(link, info.Expand_Char_No));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    if (link.cancelled())
        return stopped();
    outlets.ResetProgress();
    return report;
}

Status RunResetDisplay(Link& link, Outlets& outlets)
{
    if (outlets.ShowMessageBox("Are you sure you want to restore factory settings?", kBoxQuestion) != kAnswerYes)
        return Status::failure(Code::Declined, "The factory reset was not confirmed.");
    return FactoryReset(link);
}

Status RunRestartDisplay(Link& link) { return RestartDisplay(link); }

Status RunFormat(Link& link, Outlets& outlets)
{
    if (outlets.ShowMessageBox("Are you sure you want to format the storage?", kBoxQuestion) != kAnswerYes)
        return Status::failure(Code::Declined, "Formatting the storage was not confirmed.");
    return FormatStorage(link);
}

// ---------------------------------------------------------------------------
// The "Setting" buttons

ProcedureReport RunWelcomeSetting(Link& link, const TDisplayInfo& info)
{
    auto ready = [&] {
        Status status = WaitDeviceReady(link, false);
        if (!status.ok() && !status.cancelled())
            status.text = kNotFoundDevice + status.text;
        return status;
    };
    return runSteps({
        {"Line1 Setting", [&] { return SetLine1Text(link, info.wel_mess1); }},
        {"Wait for the display", ready},
        {"Line2 Setting", [&] { return SetLine2Text(link, info.wel_mess2); }},
        {"Wait for the display", ready},
        {"Line2 Scroll Setting", [&] { return SetLineFlags(link, info.temp2); }},
    });
}

ProcedureReport RunHeaderSetting(Link& link, const TDisplayInfo& info)
{
    return runSteps({
        {"Header TextColor", [&] { return SetTextColor(link, ColorArea::Header, info.tp_font_rgb_888); }},
        {"Header BackgroudColor", [&] { return SetBackColor(link, ColorArea::Header, info.tp_back_rgb_888); }},
        {"Header Mode", [&] { return SetTitleMode(link, info.tp_mode); }},
    });
}

ProcedureReport RunTextSetting(Link& link, const TDisplayInfo& info)
{
    return runSteps({
        {"Text TextColor", [&] { return SetTextColor(link, ColorArea::MainText, info.font_Foreground_color_888); }},
        {"Text BackgroudColor",
         [&] { return SetBackColor(link, ColorArea::MainText, info.font_Background_color_888); }},
        {"Main Mode", [&] { return SetMainTextLines(link, info.line_mode); }},
        {"Main Text", [&] { return SetMainText(link, info.main_str); }},
    });
}

ProcedureReport RunFooterSetting(Link& link, const TDisplayInfo& info)
{
    return runSteps({
        {"Footer TextColor", [&] { return SetTextColor(link, ColorArea::Footer, info.bm_font_rgb_888); }},
        {"Footer BackgroudColor", [&] { return SetBackColor(link, ColorArea::Footer, info.bm_back_rgb_888); }},
    });
}

Status RunBrightnessSetting(Link& link, const TDisplayInfo& info) { return SetBrightness(link, info.back_light_set); }

Status RunBaudRateSetting(Link& link, const TDisplayInfo& info, int& row, const std::function<void(int row)>& changed)
{
    // A code no row offers (a document can hold one) would move the display to a
    // speed the tool cannot follow: refuse it rather than lose the display.
    row = -1;
    const int code = info.Baud_Rate;
    if (code >= static_cast<int>(ConnectBaudRateTable.size()))
        return Status::failure(Code::BadInput, "There is no baud rate with the code " + std::to_string(code) + ".");
    Status status = SetDeviceBaud(link, code);
    if (!status.ok())
        return status;
    // The display reprograms its line: nothing reaches it at either speed meanwhile, so
    // the next command (the window's next click, the command line's read-back) waits.
    link.pause(kDisplaySpeedSettleMs);
    row = code;
    link.BaudRate = std::stoi(ConnectBaudRateTable[static_cast<std::size_t>(row)].BaudRateName);
    if (changed)
        changed(row);
    return status;
}

Status RunCommandSetSetting(Link& link, int commandModeRow)
{
    // Without a selection there is no command set to send ("-1" means nothing to
    // the display).
    if (commandModeRow < 0 || commandModeRow >= kCommandModeCount)
        return Status::failure(Code::BadInput, "No command set is chosen.");
    return SetCommandSet(link, commandModeRow);
}

ProcedureReport RunPlaySetting(Link& link, const TDisplayInfo& info)
{
    return runSteps({
        {"Play List", [&] { return SetPlayList(link, info.pic_reg); }},
        {"Standby Time", [&] { return SetStandbyTime(link, info.into_lun_bo); }},
        {"Play Interval", [&] { return SetPlayInterval(link, info.lun_time); }},
    });
}

ProcedureReport RunCodePageSetting(Link& link, const TDisplayInfo& info)
{
    ProcedureReport report = runSteps({
        {"InterChar Setting", [&] { return SetInterChar(link, info.Char_No); }},
        {"CodePage Setting", [&] { return SetCodePage(link, info.Expand_Char_No); }},
    });
    if (report.ok() && !link.pause(kCodePageSettlePauseMs))
        report.status = Status::failure(Code::Cancelled, kCancelledText);
    return report;
}

// ---------------------------------------------------------------------------
// Display test

namespace {

int questionMarks(const Bytes& bytes) { return static_cast<int>(std::count(bytes.begin(), bytes.end(), '?')); }
int questionMarks(const Text& text) { return static_cast<int>(std::count(text.begin(), text.end(), u'?')); }

} // namespace

TextChanges TextChangesOf(const Text& text, const Bytes& bytes)
{
    // What the display gets: control characters made plain. Every "?" more than the
    // text had is a character that could not be sent as it is (no code page in the
    // table uses 0x3F inside a double-byte character).
    TextChanges changes;
    changes.replaced = std::max(0, questionMarks(PlainDisplayText(bytes)) - questionMarks(text));
    return changes;
}

Status RunDisplayText(Link& link, const Text& text, int testCodePageRow, bool positionAt, int column, int row,
                      TextChanges* changes)
{
    const Bytes bytes = WideToCodePage(text, CodePageOfRow(testCodePageRow));
    if (changes) {
        *changes = TextChangesOf(text, bytes);
        const std::size_t plain = PlainDisplayText(bytes).size();
        changes->cutBytes = plain > kTextMaxBytes ? plain - kTextMaxBytes : 0;
    }
    return positionAt ? SendTextAt(link, column, row, bytes) : SendText(link, bytes);
}

Status RunClearDisplay(Link& link) { return ClearDisplay(link); }

Status RunShowQrCodeAt(Link& link, int modelIndex, const Text& text, int alignIndex, int pictureNumber,
                       TextChanges* changes)
{
    if (!HasPictureNumberControls(modelIndex))
        return Status::failure(Code::BadInput, "The " + ModelName(modelIndex) + " has no Show QrCode At.");
    const Bytes bytes = WideToHost(text);
    if (changes)
        *changes = TextChangesOf(text, bytes);
    return ShowQrCodeAt(link, static_cast<std::uint8_t>(alignIndex + 1), static_cast<std::uint8_t>(pictureNumber),
                        bytes);
}

Status RunShowQrCode(Link& link, const Text& text, int alignIndex, TextChanges* changes)
{
    const Bytes bytes = WideToHost(text);
    if (changes)
        *changes = TextChangesOf(text, bytes);
    return ShowQrCode(link, static_cast<std::uint8_t>(alignIndex + 1), 0, bytes);
}

QrPictureReport RunShowQrPicture(Link& link, const std::string& file, int alignIndex,
                                 const OneBitConverter& toOneBitPerPixel)
{
    QrPictureReport report;
    // The picture is made before anything is sent: a missing file or one that is no
    // picture costs no switching of speeds.
    std::error_code error;
    if (file.empty() || !std::filesystem::exists(file, error)) {
        report.code = kQrFileMissing;
        report.status = Status::failure(Code::BadInput, QrPictureErrorText(report.code));
        return report;
    }
    const Bytes picture = toOneBitPerPixel ? toOneBitPerPixel(file, kQrPictureSize, kQrPictureSize) : Bytes();
    if (picture.empty()) {
        report.code = kQrConversionFailed;
        report.status = Status::failure(Code::BadInput, QrPictureErrorText(report.code));
        return report;
    }
    if (!link.CmdPort.isOpen()) {
        if (Status opened = OpenCmdPort(link); !opened.ok()) {
            report.code = kQrPortClosed;
            report.opened = false;
            report.status = opened;
            return report;
        }
    }
    const Status raised = SwitchLineSpeed(link, kTransferBaud, kQrSpeedUpPauseMs);
    if (!raised.ok() && !raised.cancelled()) {
        // The PC could not follow the display to the transfer speed (or the frame
        // could not be written).
        CloseCmdPort(link);
        report.status = raised;
        return report;
    }
    if (raised.cancelled()) {
        report.code = kQrCancelled;
        report.status = raised;
    } else {
        std::uint8_t code = 0;
        report.status = SendQrPicture(link, file, static_cast<std::uint8_t>(alignIndex + 1), 0,
                                      [&picture](const std::string&, int, int) { return picture; }, code);
        report.code = code;
    }
    {
        // Back to the display's own speed, also after a cancel.
        const CancelScope cleanup(link, nullptr);
        SwitchDeviceBaud(link, link.BaudRate);
        link.pause(kQrSpeedBackPauseMs);
    }
    CloseCmdPort(link);
    return report;
}

Bytes CodePageTestPattern(int tag)
{
    int first = 0;
    switch (tag) {
    case 101: first = 0x20; break;
    case 102: first = 0x40; break;
    case 103: first = 0x60; break;
    case 201: first = 0x80; break;
    case 202: first = 0xA0; break;
    case 203: first = 0xC0; break;
    case 204: first = 0xE0; break;
    default: return {};
    }
    Bytes pattern(1, '\x0B');
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < 16; ++i)
            pattern.push_back(static_cast<char>(first + half * 16 + i));
        pattern.append(4, ' ');
    }
    return pattern;
}

Status RunCodePageTest(Link& link, int tag)
{
    const Bytes pattern = CodePageTestPattern(tag);
    if (pattern.empty())
        return Status::failure(Code::BadInput, "There is no test pattern " + std::to_string(tag) + ".");
    return SendRaw(link, pattern);
}

// ---------------------------------------------------------------------------
// Editing aids

Text CenterText(const Text& text, int width)
{
    const int n = static_cast<int>(text.size());
    return PadRight(PrependChars(text, (kCenterWidth - n) / 2, u' '), width, u' ');
}

ServicePages ServicePagesFor(const Text& testText)
{
    ServicePages pages;
    pages.downloadFile = testText == kServiceCode;
    return pages;
}

} // namespace tarsel
