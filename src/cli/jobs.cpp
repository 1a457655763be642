#include "cli/jobs.h"

#include "cli/profile.h"
#include "cli/provision.h"
#include "link/commands.h"
#include "link/models.h"
#include "link/ports.h"
#include "pictures/convert.h"
#include "pictures/slot_picture.h"
#include "pictures/slots.h"
#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "util/codepage.h"
#include "util/files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

namespace tarsel::cli {

namespace {

const char* kindName(PortInfo::Kind kind)
{
    switch (kind) {
    case PortInfo::Kind::UsbAdapter: return "usb";
    case PortInfo::Kind::Virtual: return "virtual";
    case PortInfo::Kind::BuiltIn: return "built-in";
    }
    return "built-in";
}

bool readable(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// The outcome of a procedure that shows its failures in boxes.
int boxesExit(const DisplaySession& session)
{
    if (session.cancelled())
        return kExitCancelled;
    const auto& t = session.outlets().tally();
    return t.errors > 0 || t.warnings > 0 ? kExitFailed : kExitOk;
}

// A procedure that asked first: not confirmed is a failure (declined) or a usage
// error (no terminal to ask on and no --yes).
int confirmedExit(const DisplaySession& session, bool done)
{
    if (session.cancelled())
        return kExitCancelled;
    const auto& t = session.outlets().tally();
    if (t.unanswered)
        return kExitUsage;
    if (!done || t.errors > 0 || t.warnings > 0)
        return kExitFailed;
    return kExitOk;
}

void addRunCounts(const DownloadRun& run, nlohmann::ordered_json& result)
{
    result["succeeded"] = run.Statistics_S;
    result["failed"] = run.Statistics_F;
}

} // namespace

std::uint16_t LangIdFromEnvironment()
{
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            locale = v;
            break;
        }
    }
    if (locale.rfind("zh_TW", 0) == 0 || locale.rfind("zh_HK", 0) == 0)
        return 1028;
    if (locale.rfind("zh", 0) == 0)
        return kLangIdChinese;
    return 1033;
}

// ---------------------------------------------------------------------------
// Ports

std::string PortListText(const std::vector<PortInfo>& ports)
{
    if (ports.empty())
        return "(no serial ports)\n";
    std::size_t width = 0;
    for (const PortInfo& p : ports)
        width = std::max(width, p.path.size());
    std::string text;
    for (const PortInfo& p : ports) {
        std::string line = p.path;
        line.append(width + 2 - p.path.size(), ' ');
        std::string kind = kindName(p.kind);
        kind.resize(10, ' ');
        line += kind;
        line += p.description.empty() ? "-" : p.description;
        if (!p.device.empty() && p.device != p.path)
            line += " (" + p.device + ")";
        text += line + "\n";
    }
    return text;
}

nlohmann::ordered_json PortListJson(const std::vector<PortInfo>& ports)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const PortInfo& p : ports) {
        nlohmann::ordered_json e;
        e["path"] = p.path;
        e["kind"] = kindName(p.kind);
        e["device"] = p.device;
        e["stable-name"] = p.stableName;
        e["description"] = p.description;
        list.push_back(e);
    }
    return list;
}

PortChoice ChoosePort(const std::string& wanted, const std::string& fromEnvironment,
                      const std::vector<PortInfo>& ports)
{
    PortChoice choice;
    const std::string name = wanted.empty() ? fromEnvironment : wanted;
    if (!name.empty()) {
        const int index = FindPort(ports, name);
        choice.chosen = true;
        choice.listed = index >= 0;
        choice.path = index >= 0 ? ports[static_cast<std::size_t>(index)].path : name;
        return choice;
    }
    std::vector<const PortInfo*> adapters;
    for (const PortInfo& p : ports)
        if (p.kind == PortInfo::Kind::UsbAdapter)
            adapters.push_back(&p);
    if (adapters.size() == 1) {
        choice.chosen = true;
        choice.listed = true;
        choice.path = adapters.front()->path;
        return choice;
    }
    choice.exitCode = kExitUsage;
    choice.message = adapters.empty() ? "No USB serial adapter is connected; choose a port with --port:\n"
                                      : "Several USB serial adapters are connected; choose one with --port:\n";
    choice.message += PortListText(ports);
    return choice;
}

// ---------------------------------------------------------------------------
// A display

DisplaySession::DisplaySession(const std::string& port, ConsoleOutlets& outlets, const CancelToken& cancel,
                               std::uint16_t langId)
    : m_port(port), m_outlets(outlets), m_link(m_cmd, m_text, m_clock), m_run(m_link, outlets)
{
    m_link.PortName = port;
    m_link.SysLangId = langId;
    m_link.trace = [this](const std::string& line) { m_outlets.TraceOut(line); };
    m_link.setCancel(&cancel);
}

DisplaySession::~DisplaySession()
{
    CloseCmdPort(m_link);
    CloseTextPort(m_link);
    m_link.setCancel(nullptr);
}

int DisplaySession::connect(int onlyBaud)
{
    std::string message;
    if (OpenCmdPort(m_link, message) != kStatusOpened) {
        m_outlets.ShowMessageBox(message, kBoxError);
        return kExitPort;
    }
    CloseCmdPort(m_link);
    const std::vector<int> speeds = onlyBaud > 0 ? std::vector<int>{onlyBaud} : ConnectSpeeds();
    m_found = ScanForDisplay(m_link, m_outlets, speeds);
    if (m_found.cancelled || cancelled())
        return kExitCancelled;
    if (!m_found.found())
        return kExitNoDisplay;
    m_run.setModelIndex(m_found.modelIndex);
    return kExitOk;
}

int RunExitCode(RunOutcome outcome, const DownloadRun& run, const ConsoleOutlets::Tally& tally, bool cancelled)
{
    if (cancelled || outcome == RunOutcome::Cancelled)
        return kExitCancelled;
    if (outcome == RunOutcome::NotStarted && tally.unanswered)
        return kExitUsage;
    if (outcome == RunOutcome::Finished && run.Statistics_F == 0 && run.Statistics_S > 0)
        return kExitOk;
    return kExitFailed;
}

// ---------------------------------------------------------------------------
// The steps

int PutSettings(DisplaySession& session, const SettingsToSend& settings, const std::vector<std::string>& groups,
                nlohmann::ordered_json& result)
{
    Link& link = session.link();
    ConsoleOutlets& out = session.outlets();
    const TDisplayInfo& info = settings.state.info;
    if (groups.empty()) {
        const std::string report = RunAllDownload(link, out, info);
        if (session.cancelled())
            return kExitCancelled;
        const bool failed = report.empty() || report.find("Failed") != std::string::npos;
        result["all-download"] = failed ? "failed" : "ok";
        return failed ? kExitFailed : kExitOk;
    }
    int exit = kExitOk;
    nlohmann::ordered_json done = nlohmann::ordered_json::object();
    for (const std::string& group : groups) {
        if (done.contains(group))
            continue;
        out.resetTally();
        bool ok = true;
        if (group == "welcome")
            RunWelcomeSetting(link, out, info);
        else if (group == "header")
            RunHeaderSetting(link, out, info);
        else if (group == "text")
            RunTextSetting(link, out, info);
        else if (group == "footer")
            RunFooterSetting(link, out, info);
        else if (group == "brightness")
            RunBrightnessSetting(link, out, info);
        else if (group == "baud-rate")
            ok = RunBaudRateSetting(link, out, info) >= 0;
        else if (group == "command-set")
            RunCommandSetSetting(link, out, settings.state.values.cbb_down_CommandMode);
        else if (group == "play-list")
            RunPlaySetting(link, out, info);
        else if (group == "code-page")
            RunCodePageSetting(link, out, info);
        if (session.cancelled())
            return kExitCancelled;
        ok = ok && boxesExit(session) == kExitOk;
        done[group] = ok ? "ok" : "failed";
        if (!ok)
            exit = kExitFailed;
    }
    result["groups"] = done;
    return exit;
}

int DownloadPictures(DisplaySession& session, const std::vector<std::pair<int, std::string>>& pictures,
                     nlohmann::ordered_json& result)
{
    const int model = session.model();
    std::vector<int> positions;
    std::map<int, Bytes> bytes;
    for (const auto& [slot, file] : pictures) {
        const auto size = SlotTargetSize(slot, model);
        if (!size) {
            session.outlets().note("The " + ModelName(model) + " has no picture slot " + std::to_string(slot) +
                                       " (" + SlotLabel(slot) + "); " + file + " is not sent to it.",
                                   "warning");
            continue;
        }
        Image crop;
        std::string error;
        if (!ProposedCropFromFile(file, *size, crop, error)) {
            session.outlets().note(error, "error");
            result["error"] = error;
            return kExitUsage;
        }
        bytes[SlotQueuePosition(slot)] = SlotPictureBytes(crop, slot, model);
        positions.push_back(SlotQueuePosition(slot));
    }
    if (positions.empty()) {
        result["pictures"] = 0;
        return kExitOk;
    }
    DownloadRun& run = session.run();
    session.outlets().resetTally();
    const RunOutcome outcome = run.StartPictureDownload(positions, [&bytes](int position) {
        const auto it = bytes.find(position);
        return it == bytes.end() ? Bytes() : it->second;
    });
    addRunCounts(run, result);
    return RunExitCode(outcome, run, session.outlets().tally(), session.cancelled());
}

int DownloadFonts(DisplaySession& session, const std::vector<int>& positions, nlohmann::ordered_json& result)
{
    DownloadRun& run = session.run();
    session.outlets().resetTally();
    const RunOutcome outcome = positions.empty() ? run.StartFontDownload() : run.StartFontDownload(positions);
    addRunCounts(run, result);
    return RunExitCode(outcome, run, session.outlets().tally(), session.cancelled());
}

int UpdateFirmware(DisplaySession& session, const std::string& file, nlohmann::ordered_json& result)
{
    DownloadRun& run = session.run();
    run.setFirmwareFile(file);
    session.outlets().resetTally();
    const RunOutcome outcome = run.StartFirmwareUpdate();
    run.setFirmwareFile({});
    addRunCounts(run, result);
    return RunExitCode(outcome, run, session.outlets().tally(), session.cancelled());
}

// ---------------------------------------------------------------------------
// The commands

namespace {

// What a command needs before a display is looked for; input files are checked
// here, so that a wrong file costs no scan.
struct Prepared {
    SettingsToSend settings;
    std::set<std::string> fileKeys;
};

int prepare(const Invocation& inv, ConsoleOutlets& out, Prepared& prepared)
{
    auto unusable = [&](const std::string& text) {
        out.note(text, "error");
        return kExitUsage;
    };
    switch (inv.command) {
    case Command::SettingsPut:
    case Command::SettingsDiff: {
        Bytes content;
        std::string error;
        if (!LoadSettingsFile(inv.file, content, error))
            return unusable(inv.file + ": " + error);
        prepared.settings.state = DefaultSettingsState();
        if (!ApplyDocument(content, prepared.settings.state, error))
            return unusable(inv.file + ": " + error);
        prepared.fileKeys = DocumentKeys(content);
        return kExitOk;
    }
    case Command::Item:
    case Command::Picture:
        if (!readable(inv.file))
            return unusable("Cannot read \"" + inv.file + "\".");
        return kExitOk;
    case Command::Firmware:
        if (!inv.file.empty() && !readable(inv.file))
            return unusable("Cannot read the firmware image \"" + inv.file + "\".");
        return kExitOk;
    case Command::Qr:
        if (!inv.qrPicture.empty() && !readable(inv.qrPicture))
            return unusable("Cannot read \"" + inv.qrPicture + "\".");
        return kExitOk;
    default:
        return kExitOk;
    }
}

int settingsGet(DisplaySession& session, const Invocation& inv, Console& console, nlohmann::ordered_json& result)
{
    ConsoleOutlets& out = session.outlets();
    const Bytes reply = ReadDisplaySettings(session.link());
    if (session.cancelled())
        return kExitCancelled;
    SettingsState state = DefaultSettingsState();
    const Notice notice = ApplyDisplaySettings(reply, state.info, state.values);
    out.ShowMessageBox(notice.text, notice.flags);
    if (notice.flags != kBoxInfo)
        return kExitFailed;
    GatherSettings(state.values, state.info);
    if (!inv.file.empty()) {
        std::string error;
        if (!SaveSettingsFile(inv.file, state.info, error)) {
            out.ShowMessageBox(error, kBoxError);
            return kExitFailed;
        }
        out.ShowMessageBox(kSaveSettingsSuccess + inv.file, kBoxInfo);
        result["file"] = inv.file;
        return kExitOk;
    }
    const std::string document = Utf16ToUtf8(BuildSettingsJson(state.info));
    if (console.options().json)
        result["settings"] = nlohmann::ordered_json::parse(document, nullptr, false);
    else
        console.outText(document);
    return kExitOk;
}

int settingsDiff(DisplaySession& session, const Invocation& inv, const Prepared& prepared, Console& console,
                 nlohmann::ordered_json& result)
{
    ConsoleOutlets& out = session.outlets();
    const Bytes reply = ReadDisplaySettings(session.link());
    if (session.cancelled())
        return kExitCancelled;
    SettingsState display = DefaultSettingsState();
    std::string error;
    if (reply.empty() || !ApplyDocument(reply, display, error)) {
        out.ShowMessageBox(reply.empty() ? kGetSettingsError : error, kBoxWarning);
        return kExitFailed;
    }
    const auto differences = CompareSettings(display, prepared.settings.state, prepared.fileKeys);
    if (console.options().json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& d : differences)
            list.push_back({{"key", d.key}, {"caption", d.caption}, {"display", d.display}, {"file", d.file}});
        result["differences"] = list;
        return kExitOk;
    }
    std::string text;
    if (differences.empty()) {
        text = "The display's settings match " + inv.file + ".\n";
    } else {
        std::size_t width = 0;
        for (const auto& d : differences)
            width = std::max(width, d.caption.size() + d.key.size() + 3);
        text = "Settings that differ (display -> " + inv.file + "):\n";
        for (const auto& d : differences) {
            std::string name = d.caption + " (" + d.key + ")";
            name.resize(width, ' ');
            text += "  " + name + "  " + d.display + " -> " + d.file + "\n";
        }
        text += std::to_string(differences.size()) + (differences.size() == 1 ? " setting differs.\n"
                                                                               : " settings differ.\n");
    }
    console.outText(text);
    return kExitOk;
}

int qr(DisplaySession& session, const Invocation& inv)
{
    ConsoleOutlets& out = session.outlets();
    const int model = session.model();
    const Text text = Utf8ToUtf16(inv.text);
    if (inv.atPicture > 0) {
        if (!RunShowQrCodeAt(session.link(), out, model, text, inv.alignIndex, inv.atPicture)) {
            out.note("The " + ModelName(model) + " has no Show QrCode At.", "error");
            return kExitUsage;
        }
        return boxesExit(session);
    }
    if (QrFromPictureFile(model)) {
        if (inv.qrPicture.empty()) {
            out.note("The " + ModelName(model) + " shows a QR code as a picture: give it with --picture FILE.",
                     "error");
            return kExitUsage;
        }
        const int code = RunShowQrPicture(session.link(), out, inv.qrPicture, inv.alignIndex, &BitmapTo1bppFile);
        if (session.cancelled())
            return kExitCancelled;
        return code == kQrOk ? kExitOk : kExitFailed;
    }
    if (inv.text.empty()) {
        out.note("The " + ModelName(model) + " makes the QR code from a text: give the TEXT.", "error");
        return kExitUsage;
    }
    RunShowQrCode(session.link(), out, text, inv.alignIndex);
    return boxesExit(session);
}

int onDisplay(DisplaySession& session, const Invocation& inv, const Prepared& prepared, Console& console,
              nlohmann::ordered_json& result)
{
    Link& link = session.link();
    ConsoleOutlets& out = session.outlets();
    out.resetTally();
    std::string message;
    switch (inv.command) {
    case Command::Detect:
        if (!console.options().json) {
            std::string text = "port: " + session.port() + "\nmodel: " + ModelName(session.model()) + "\n";
            text += "firmware: " + (session.found().version >= 0 ? "V" + std::to_string(session.found().version)
                                                                  : std::string("not reported by this model")) + "\n";
            text += "speed: " + std::to_string(session.found().baud) + "\n";
            console.outText(text);
        }
        return kExitOk;
    case Command::SettingsGet:
        return settingsGet(session, inv, console, result);
    case Command::SettingsPut:
        return PutSettings(session, prepared.settings, inv.groups, result);
    case Command::SettingsDiff:
        return settingsDiff(session, inv, prepared, console, result);
    case Command::Text:
        RunDisplayText(link, out, Utf8ToUtf16(inv.text), inv.codePageRow, inv.row > 0, inv.column, inv.row);
        return boxesExit(session);
    case Command::Clear:
        RunClearDisplay(link, out);
        return boxesExit(session);
    case Command::Qr:
        return qr(session, inv);
    case Command::ShowPicture:
        if (!ShowPicture(link, static_cast<std::uint8_t>(inv.pictureNumber), message) && !session.cancelled())
            out.ShowMessageBox(message, kBoxError);
        return boxesExit(session);
    case Command::Fonts:
        return DownloadFonts(session, inv.fontPositions, result);
    case Command::Item: {
        DownloadRun& run = session.run();
        // A picture position takes the file as its slot's picture, byte for byte.
        const std::string file = inv.file;
        run.setPictureSource([file](int) { return ReadFileBytes(file); });
        const RunOutcome outcome = run.StartSingleDownload(inv.position, inv.file);
        run.setPictureSource({});
        addRunCounts(run, result);
        return RunExitCode(outcome, run, out.tally(), session.cancelled());
    }
    case Command::Picture:
        if (!SlotTargetSize(inv.slot, session.model())) {
            out.note("The " + ModelName(session.model()) + " has no picture slot " + std::to_string(inv.slot) + " (" +
                         SlotLabel(inv.slot) + ").",
                     "error");
            return kExitUsage;
        }
        return DownloadPictures(session, {{inv.slot, inv.file}}, result);
    case Command::Firmware:
        return UpdateFirmware(session, inv.file, result);
    case Command::Reset:
        return confirmedExit(session, RunResetDisplay(link, out));
    case Command::Restart:
        RunRestartDisplay(link, out);
        return boxesExit(session);
    case Command::Format:
        return confirmedExit(session, RunFormat(link, out));
    case Command::Ports:
    case Command::Provision:
        break;
    }
    return kExitUsage;
}

int listPorts(Console& console, nlohmann::ordered_json& result)
{
    std::vector<PortInfo> ports;
    std::string message;
    if (!ListPorts(ports, message)) {
        console.errLine("error: " + message);
        return kExitFailed;
    }
    if (console.options().json)
        result["ports"] = PortListJson(ports);
    else
        console.outText(PortListText(ports));
    return kExitOk;
}

} // namespace

int RunInvocation(const Invocation& inv, Console& console, const CancelToken& cancel)
{
    nlohmann::ordered_json result;
    result["event"] = "result";
    result["command"] = inv.name;
    auto finish = [&](int exit) {
        if (cancel.cancelled())
            exit = kExitCancelled;
        if (console.options().json) {
            nlohmann::ordered_json ordered;
            ordered["event"] = "result";
            ordered["command"] = inv.name;
            ordered["exit"] = exit;
            ordered["ok"] = exit == kExitOk;
            for (const auto& [key, value] : result.items())
                if (key != "event" && key != "command")
                    ordered[key] = value;
            console.event(ordered);
        } else if (exit == kExitCancelled) {
            console.errLine("tarsel-cli: cancelled");
        }
        return exit;
    };

    if (inv.command == Command::Ports)
        return finish(listPorts(console, result));
    if (inv.command == Command::Provision)
        return finish(RunProvision(inv, console, cancel, result));

    ConsoleOutlets::Options options;
    options.assumeYes = inv.yes;
    options.trace = inv.trace;
    options.progressBar = !inv.noProgress;
    options.cancel = &cancel;
    ConsoleOutlets prepOutlets(console, options);
    Prepared prepared;
    if (const int exit = prepare(inv, prepOutlets, prepared); exit != kExitOk)
        return finish(exit);

    std::vector<PortInfo> ports;
    std::string listMessage;
    ListPorts(ports, listMessage);
    const char* env = std::getenv("TARSEL_PORT");
    const PortChoice choice = ChoosePort(inv.ports.empty() ? std::string() : inv.ports.front(), env ? env : "", ports);
    if (!choice.chosen) {
        prepOutlets.note(choice.message, "error");
        return finish(choice.exitCode);
    }
    result["port"] = choice.path;

    ConsoleOutlets out(console, options);
    DisplaySession session(choice.path, out, cancel, LangIdFromEnvironment());
    int exit = session.connect(inv.baud);
    if (exit == kExitPort && !choice.listed)
        out.note("The ports of this machine:\n" + PortListText(ports));
    if (exit != kExitOk)
        return finish(exit);
    result["model"] = ModelName(session.model());
    result["baud"] = session.found().baud;
    if (session.found().version >= 0)
        result["version"] = session.found().version;
    else
        result["version"] = nullptr;
    exit = onDisplay(session, inv, prepared, console, result);
    return finish(exit);
}

} // namespace tarsel::cli
