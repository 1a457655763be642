#include "settings/settings_ops.h"

#include "link/commands.h"
#include "link/models.h"
#include "link/ports.h"
#include "settings/settings_document.h"
#include "settings/tables.h"
#include "util/codepage.h"
#include "util/text.h"

#include <functional>
#include <string>

namespace tarsel {

namespace {

constexpr int kCenterWidth = 20;

void showError(Outlets& outlets, const std::string& message) { outlets.ShowMessageBox(message, kBoxError); }
void showDone(Outlets& outlets) { outlets.ShowMessageBox(kDone, kBoxInfo); }

// Runs the steps in order; the first failure shows its text and stops the rest. A
// cancelled job stops quietly: whoever cancelled it says so. True when every step
// succeeded.
bool runSteps(Link& link, Outlets& outlets, std::initializer_list<std::function<bool(std::string&)>> steps)
{
    for (const auto& step : steps) {
        std::string message;
        if (!step(message)) {
            if (!link.cancelled())
                showError(outlets, message);
            return false;
        }
    }
    return true;
}

// Shows a failed command's text unless the job was cancelled.
void showFailure(Link& link, Outlets& outlets, const std::string& message)
{
    if (!link.cancelled())
        showError(outlets, message);
}

// The pause between "All Download" commands: wait until the display answers
// again (the outcome does not matter). False when the job was cancelled.
bool waitForDisplay(Link& link)
{
    std::string ignored;
    WaitDeviceReady(link, false, ignored);
    return !link.cancelled();
}

} // namespace

// ---------------------------------------------------------------------------
// Settings transfer

Bytes ReadDisplaySettings(Link& link)
{
    Bytes reply;
    std::string message;
    if (!GetConfiguration(link, reply, message))
        reply.clear();
    return reply;
}

namespace {

// A parsed document's success text, with the warning about cleaned texts after it.
Notice parsed(const char* success, const std::vector<std::string>& cleanedKeys, bool* applied)
{
    if (applied)
        *applied = true;
    if (cleanedKeys.empty())
        return {success, kBoxInfo};
    return {std::string(success) + "\n\n" + CleanedTextsWarning(cleanedKeys), kBoxWarning};
}

} // namespace

Notice ApplyDisplaySettings(const Bytes& reply, TDisplayInfo& info, WindowValues& values, bool* applied)
{
    if (applied)
        *applied = false;
    if (reply.empty())
        return {kGetSettingsError, kBoxWarning};
    std::string error;
    std::vector<std::string> cleaned;
    if (!ParseSettingsDocument(reply, info, values, error, &cleaned))
        return {error, kBoxWarning};
    return parsed("Get Settings from Display Success!", cleaned, applied);
}

Notice ApplySettingsFile(const Bytes& content, TDisplayInfo& info, WindowValues& values, bool* applied)
{
    if (applied)
        *applied = false;
    if (content.empty())
        return {kLoadSettingsError, kBoxWarning};
    std::string error;
    std::vector<std::string> cleaned;
    if (!ParseSettingsDocument(content, info, values, error, &cleaned))
        return {error, kBoxWarning};
    return parsed(kLoadSettingsSuccess, cleaned, applied);
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

std::string RunAllDownload(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    std::string report = "Download: \r\n\r\n";
    auto command = [&](const char* label, bool ok) {
        if (!link.cancelled())
            report += AllDownloadReportLine(label, ok);
    };
    auto group = [&](const char* step) {
        outlets.ShowTransferStatus(step, "", 0);
        outlets.SetProgressPosition(0, 0);
    };
    auto progress = [&](int p) { outlets.SetProgressPosition(p, 0); };
    std::string m;

    // A cancelled run stops before its next command; the report is not shown.
    auto stopped = [&] {
        outlets.ResetProgress();
        return std::string();
    };

    outlets.StartProgress("All Settings Downloading......", 100, 0);

    group("Brightness adjustment ...");
    command("Brightness adjustment :", SetBrightness(link, info.back_light_set, m));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("Header Settings ...");
    command("Header TextColor :", SetTextColor(link, ColorArea::Header, info.tp_font_rgb_888, m));
    progress(30);
    if (!waitForDisplay(link))
        return stopped();
    command("Header BackgroudColor :", SetBackColor(link, ColorArea::Header, info.tp_back_rgb_888, m));
    progress(60);
    if (!waitForDisplay(link))
        return stopped();
    command("Header Mode :", SetTitleMode(link, info.tp_mode, m));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("Main Settings ...");
    command("Text TextColor :", SetTextColor(link, ColorArea::MainText, info.font_Foreground_color_888, m));
    progress(30);
    if (!waitForDisplay(link))
        return stopped();
    command("Text BackgroudColor :", SetBackColor(link, ColorArea::MainText, info.font_Background_color_888, m));
    progress(60);
    if (!waitForDisplay(link))
        return stopped();
    command("Main Mode :", SetMainTextLines(link, info.line_mode, m));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("Footer Settings ...");
    command("Footer TextColor :", SetTextColor(link, ColorArea::Footer, info.bm_font_rgb_888, m));
    progress(50);
    if (!waitForDisplay(link))
        return stopped();
    command("Footer BackgroudColor :", SetBackColor(link, ColorArea::Footer, info.bm_back_rgb_888, m));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("Welcome Message Settings ...");
    command("Line1 Setting :", SetLine1Text(link, info.wel_mess1, m));
    if (!waitForDisplay(link))
        return stopped();
    command("Line2 Setting :", SetLine2Text(link, info.wel_mess2, m));
    if (!waitForDisplay(link))
        return stopped();
    command("Line2 Scroll Setting :", SetLineFlags(link, info.temp2, m));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    group("CodePage Settings ...");
    command("InterChar Setting :", SetInterChar(link, info.Char_No, m));
    progress(50);
    command("CodePage Setting :", SetCodePage(link, info.Expand_Char_No, m));
    progress(100);
    if (!waitForDisplay(link))
        return stopped();

    if (link.cancelled())
        return stopped();
    outlets.ResetProgress();
    const bool anyFailed = report.find("Failed") != std::string::npos;
    outlets.ShowMessageBox(report, anyFailed ? kBoxWarning : kBoxInfo);
    return report;
}

bool RunResetDisplay(Link& link, Outlets& outlets)
{
    if (outlets.ShowMessageBox("Are you sure you want to restore factory settings?", kBoxQuestion) != kAnswerYes)
        return false;
    std::string message;
    if (FactoryReset(link, message))
        return true;
    showFailure(link, outlets, message);
    return false;
}

bool RunRestartDisplay(Link& link, Outlets& outlets)
{
    std::string message;
    if (RestartDisplay(link, message))
        return true;
    showFailure(link, outlets, message);
    return false;
}

bool RunFormat(Link& link, Outlets& outlets)
{
    if (outlets.ShowMessageBox("Are you sure you want to format the storage?", kBoxQuestion) != kAnswerYes)
        return false;
    std::string message;
    return FormatStorage(link, message);
}

// ---------------------------------------------------------------------------
// The "Setting" buttons

void RunWelcomeSetting(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    auto ready = [&](std::string& message) {
        if (WaitDeviceReady(link, false, message))
            return true;
        message = kNotFoundDevice + message;
        return false;
    };
    if (runSteps(link, outlets, {
            [&](std::string& m) { return SetLine1Text(link, info.wel_mess1, m); },
            ready,
            [&](std::string& m) { return SetLine2Text(link, info.wel_mess2, m); },
            ready,
            [&](std::string& m) { return SetLineFlags(link, info.temp2, m); },
        }))
        showDone(outlets);
}

void RunHeaderSetting(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    if (runSteps(link, outlets, {
            [&](std::string& m) { return SetTextColor(link, ColorArea::Header, info.tp_font_rgb_888, m); },
            [&](std::string& m) { return SetBackColor(link, ColorArea::Header, info.tp_back_rgb_888, m); },
            [&](std::string& m) { return SetTitleMode(link, info.tp_mode, m); },
        }))
        showDone(outlets);
}

void RunTextSetting(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    if (runSteps(link, outlets, {
            [&](std::string& m) { return SetTextColor(link, ColorArea::MainText, info.font_Foreground_color_888, m); },
            [&](std::string& m) { return SetBackColor(link, ColorArea::MainText, info.font_Background_color_888, m); },
            [&](std::string& m) { return SetMainTextLines(link, info.line_mode, m); },
            [&](std::string& m) { return SetMainText(link, info.main_str, m); },
        }))
        showDone(outlets);
}

void RunFooterSetting(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    if (runSteps(link, outlets, {
            [&](std::string& m) { return SetTextColor(link, ColorArea::Footer, info.bm_font_rgb_888, m); },
            [&](std::string& m) { return SetBackColor(link, ColorArea::Footer, info.bm_back_rgb_888, m); },
        }))
        showDone(outlets);
}

void RunBrightnessSetting(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    std::string message;
    if (!SetBrightness(link, info.back_light_set, message))
        showFailure(link, outlets, message);
}

int RunBaudRateSetting(Link& link, Outlets& outlets, const TDisplayInfo& info,
                       const std::function<void(int row)>& changed)
{
    // A code no row offers (a document can hold one) would move the display to a
    // speed the tool cannot follow: refuse it rather than lose the display.
    const int row = info.Baud_Rate;
    std::string message;
    if (row >= static_cast<int>(ConnectBaudRateTable.size()) || !SetDeviceBaud(link, row, message)) {
        if (!link.cancelled())
            outlets.ShowMessageBox(kFail, kBoxWarning);
        return -1;
    }
    link.BaudRate = std::stoi(ConnectBaudRateTable[static_cast<std::size_t>(row)].BaudRateName);
    if (changed)
        changed(row);
    showDone(outlets);
    return row;
}

void RunCommandSetSetting(Link& link, Outlets& outlets, int commandModeRow)
{
    // Without a selection there is no command set to send ("-1" means nothing to
    // the display).
    std::string message;
    if (commandModeRow >= 0 && commandModeRow < kCommandModeCount && SetCommandSet(link, commandModeRow, message))
        showDone(outlets);
    else if (!link.cancelled())
        outlets.ShowMessageBox(kFail, kBoxWarning);
}

void RunPlaySetting(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    if (runSteps(link, outlets, {
            [&](std::string& m) { return SetPlayList(link, info.pic_reg, m); },
            [&](std::string& m) { return SetStandbyTime(link, info.into_lun_bo, m); },
            [&](std::string& m) { return SetPlayInterval(link, info.lun_time, m); },
        }))
        showDone(outlets);
}

void RunCodePageSetting(Link& link, Outlets& outlets, const TDisplayInfo& info)
{
    if (runSteps(link, outlets, {
            [&](std::string& m) { return SetInterChar(link, info.Char_No, m); },
            [&](std::string& m) { return SetCodePage(link, info.Expand_Char_No, m); },
        })) {
        if (link.pause(kCodePageSettlePauseMs))
            showDone(outlets);
    }
}

// ---------------------------------------------------------------------------
// Display test

void RunDisplayText(Link& link, Outlets& outlets, const Text& text, int testCodePageRow, bool positionAt,
                    int column, int row)
{
    const Bytes bytes = WideToCodePage(text, CodePageOfRow(testCodePageRow));
    std::string message;
    const bool ok = positionAt ? SendTextAt(link, column, row, bytes, message) : SendText(link, bytes, message);
    if (!ok)
        showFailure(link, outlets, message);
}

void RunClearDisplay(Link& link, Outlets& outlets)
{
    std::string message;
    if (!ClearDisplay(link, message))
        showFailure(link, outlets, message);
}

bool RunShowQrCodeAt(Link& link, Outlets& outlets, int modelIndex, const Text& text, int alignIndex,
                     int pictureNumber)
{
    if (!HasPictureNumberControls(modelIndex))
        return false;
    std::string message;
    if (!ShowQrCodeAt(link, static_cast<std::uint8_t>(alignIndex + 1), static_cast<std::uint8_t>(pictureNumber),
                      WideToHost(text), message))
        showFailure(link, outlets, message);
    return true;
}

bool RunShowQrCode(Link& link, Outlets& outlets, const Text& text, int alignIndex)
{
    std::string message;
    if (ShowQrCode(link, static_cast<std::uint8_t>(alignIndex + 1), 0, WideToHost(text), message))
        return true;
    showFailure(link, outlets, message);
    return false;
}

int RunShowQrPicture(Link& link, Outlets& outlets, const std::string& file, int alignIndex,
                     const OneBitConverter& toOneBitPerPixel)
{
    std::string message;
    if (!link.CmdPort.isOpen() && OpenCmdPort(link, message) != kStatusOpened)
        return kQrPortClosed;
    if (SwitchLineSpeed(link, kTransferBaud, kQrSpeedUpPauseMs, message) == SpeedSwitch::LocalFailed) {
        // The PC could not follow the display to the transfer speed.
        CloseCmdPort(link);
        outlets.ShowMessageBox(message, kBoxError);
        return kQrSpeedFailed;
    }
    const int code = SendQrPicture(link, file, static_cast<std::uint8_t>(alignIndex + 1), 0, toOneBitPerPixel);
    {
        // Back to the display's own speed, also after a cancel.
        const CancelScope cleanup(link, nullptr);
        SwitchDeviceBaud(link, link.BaudRate, message);
        link.pause(kQrSpeedBackPauseMs);
    }
    CloseCmdPort(link);
    if (code != kQrOk && code != kQrCancelled)
        outlets.ShowMessageBox("Error：" + std::to_string(code), kBoxError);
    return code;
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

void RunCodePageTest(Link& link, Outlets& outlets, int tag)
{
    const Bytes pattern = CodePageTestPattern(tag);
    if (pattern.empty())
        return;
    std::string message;
    if (!SendRaw(link, pattern, message))
        showFailure(link, outlets, message);
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
