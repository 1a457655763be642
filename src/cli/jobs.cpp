#include "cli/jobs.h"

#include "cli/completion.h"
#include "cli/doctor.h"
#include "cli/profile.h"
#include "cli/provision.h"
#include "cli/speed_memory.h"
#include "link/commands.h"
#include "link/models.h"
#include "link/ports.h"
#include "link/termios_port.h"
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "preview/screen.h"
#include "pictures/slot_picture.h"
#include "pictures/slots.h"
#include "settings/settings_document.h"
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

std::string join(const std::vector<std::string>& parts, const char* separator = ", ")
{
    std::string text;
    for (const std::string& p : parts)
        text += (text.empty() ? "" : separator) + p;
    return text;
}

std::string plural(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Records an outcome in the result object and, when it is a failure, says so.
Status finishWith(ConsoleOutlets& out, const Status& status, nlohmann::ordered_json& result)
{
    result["outcome"] = CodeName(status.code);
    if (!status.ok() && !status.cancelled()) {
        result["error"] = status.text;
        out.note(status.text, "error");
    }
    return status;
}

// The window's texts that a status may carry, in the command line's words.
std::string withoutPrefix(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

} // namespace

int ExitFor(Code code)
{
    switch (code) {
    case Code::Ok: return kExitOk;
    case Code::BadInput: return kExitUsage;
    case Code::PortError:
    case Code::HungUp: return kExitPort;
    case Code::NoDisplay: return kExitNoDisplay;
    case Code::Cancelled: return kExitCancelled;
    case Code::Refused:
    case Code::TimedOut:
    case Code::Declined: return kExitFailed;
    }
    return kExitFailed;
}

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
        choice.stableName = index >= 0 && !ports[static_cast<std::size_t>(index)].stableName.empty()
            ? ports[static_cast<std::size_t>(index)].stableName
            : choice.path;
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
        choice.stableName = adapters.front()->stableName.empty() ? choice.path : adapters.front()->stableName;
        return choice;
    }
    choice.exitCode = kExitUsage;
    choice.message = adapters.empty() ? "No USB serial adapter is connected; choose a port with --port:\n"
                                      : "Several USB serial adapters are connected; choose one with --port:\n";
    choice.message += PortListText(ports);
    return choice;
}

std::string PortOpenFailureText(const std::string& port, const Status& status)
{
    // The window's text is " Error opening serial port!" with the system's reason
    // ("<port>: Device or resource busy") and hints on the lines after it.
    std::vector<std::string> lines;
    std::string line;
    for (char c : status.text + "\n") {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (lines.size() < 2) {
        std::string reason = lines.empty() ? std::string() : lines.front();
        while (!reason.empty() && (reason.front() == ' '))
            reason.erase(0, 1);
        while (!reason.empty() && (reason.back() == '!' || reason.back() == ' '))
            reason.pop_back();
        return "cannot open " + port + ": " + reason;
    }
    std::string text = "cannot open " + port + ": " + withoutPrefix(lines[1], port + ": ");
    for (std::size_t i = 2; i < lines.size(); ++i)
        if (!lines[i].empty())
            text += "\n" + lines[i];
    return text;
}

// ---------------------------------------------------------------------------
// A display

DisplaySession::DisplaySession(const std::string& port, const std::string& stableName, ConsoleOutlets& outlets,
                               const CancelToken& cancel, std::uint16_t langId, const Environment& environment)
    : m_port(port), m_stableName(stableName.empty() ? port : stableName), m_outlets(outlets), m_env(environment),
      m_cmd(environment.portFactory ? environment.portFactory() : std::make_unique<TermiosPort>()),
      m_text(environment.portFactory ? environment.portFactory() : std::make_unique<TermiosPort>()),
      m_ownClock(environment.clock ? nullptr : std::make_unique<SteadyClock>()),
      m_link(*m_cmd, *m_text, environment.clock ? *environment.clock : *m_ownClock), m_run(m_link, outlets)
{
    if (m_env.speedMemoryFile.empty())
        m_env.speedMemoryFile = DefaultSpeedMemoryFile();
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

Status DisplaySession::connect(int onlyBaud, bool clearDisplay)
{
    if (Status opened = OpenCmdPort(m_link); !opened.ok())
        return Status::failure(Code::PortError, PortOpenFailureText(m_port, opened));
    CloseCmdPort(m_link);
    const std::vector<int> speeds = onlyBaud > 0 ? std::vector<int>{onlyBaud}
                                                 : SpeedsToTry(ConnectSpeeds(), RecallSpeed(m_env.speedMemoryFile, m_stableName));
    ConnectOptions options;
    options.clearDisplay = clearDisplay;
    m_found = ScanForDisplay(m_link, speeds, options);
    if (m_found.status.cancelled() || cancelled())
        return Status::failure(Code::Cancelled, kCancelledText);
    if (!m_found.found()) {
        if (m_found.status.code == Code::NoDisplay) {
            std::vector<std::string> tried;
            for (int s : speeds)
                tried.push_back(std::to_string(s));
            return Status::failure(Code::NoDisplay, "No display answered on " + m_port + " (tried " + join(tried) +
                                                        " bit/s).");
        }
        if (m_found.status.code == Code::PortError)
            return Status::failure(Code::PortError, PortOpenFailureText(m_port, m_found.status));
        return m_found.status;
    }
    rememberSpeed();
    m_run.setModelIndex(m_found.modelIndex);
    return Status::success();
}

void DisplaySession::rememberSpeed() { RememberSpeed(m_env.speedMemoryFile, m_stableName, m_link.BaudRate); }

// ---------------------------------------------------------------------------
// Settings groups

const std::vector<std::string>& GroupKeys(const std::string& group)
{
    static const std::map<std::string, std::vector<std::string>> keys = {
        {"welcome", {"wel_mess1", "wel_mess2", "temp2"}},
        {"header", {"tp_font_rgb", "tp_back_rgb", "tp_mode"}},
        {"text", {"font_Foreground_color", "font_Background_color", "line_mode", "main_str"}},
        {"footer", {"bm_font_rgb", "bm_back_rgb"}},
        {"brightness", {"back_light"}},
        {"baud-rate", {"Baud_Rate"}},
        {"command-set", {"Comm_No"}},
        {"play-list", {"pic_reg", "into_lun_bo", "lun_time"}},
        {"code-page", {"Char_No", "Expand_Char_No"}},
    };
    static const std::vector<std::string> none;
    const auto it = keys.find(group);
    return it == keys.end() ? none : it->second;
}

std::string GroupOfKey(const std::string& key)
{
    for (const SettingsGroup& g : SettingsGroups())
        for (const std::string& k : GroupKeys(g.name))
            if (k == key)
                return g.name;
    return {};
}

ProcedureReport SendSettingsGroup(DisplaySession& session, const SettingsState& state, const std::string& group)
{
    Link& link = session.link();
    const TDisplayInfo& info = state.info;
    if (group == "all-download")
        return RunAllDownload(link, session.outlets(), info);
    if (group == "welcome")
        return RunWelcomeSetting(link, info);
    if (group == "header")
        return RunHeaderSetting(link, info);
    if (group == "text")
        return RunTextSetting(link, info);
    if (group == "footer")
        return RunFooterSetting(link, info);
    if (group == "play-list")
        return RunPlaySetting(link, info);
    if (group == "code-page")
        return RunCodePageSetting(link, info);
    ProcedureReport report;
    if (group == "brightness") {
        report.status = RunBrightnessSetting(link, info);
        report.steps.push_back({"Brightness adjustment", report.status});
    } else if (group == "command-set") {
        report.status = RunCommandSetSetting(link, state.values.cbb_down_CommandMode);
        report.steps.push_back({"Command Set", report.status});
    } else if (group == "baud-rate") {
        int row = -1;
        report.status = RunBaudRateSetting(link, info, row);
        report.steps.push_back({"Baudrate Set", report.status});
        if (report.status.ok()) {
            // The line follows the display to its new speed: it must answer there.
            Status ready = WaitDeviceReady(link, false);
            report.steps.push_back({"Display at " + std::to_string(link.BaudRate) + " bit/s", ready});
            if (!ready.ok())
                report.status = Status::failure(ready.cancelled() ? Code::Cancelled : Code::NoDisplay,
                                                "the display did not answer at its new speed " +
                                                    std::to_string(link.BaudRate) + " bit/s (" + ready.text + ")");
            session.rememberSpeed();
        }
    } else {
        report.status = Status::failure(Code::BadInput, "no settings group \"" + group + "\"");
    }
    return report;
}

Status ReadDisplayState(DisplaySession& session, SettingsState& state)
{
    Bytes reply;
    const Status read = ReadDisplaySettings(session.link(), reply);
    if (!read.ok())
        return read.cancelled() ? read
                                : Status::failure(read.code, "could not read the display's settings: " + read.text);
    state = DefaultSettingsState();
    std::string error;
    if (!ApplyDocument(reply, state, error))
        return Status::failure(Code::Refused, "the display's settings cannot be read: " + error);
    return Status::success();
}

namespace {

// The groups `put` sends after All Download: those it leaves out for which the file
// holds keys, the baud rate last.
std::vector<std::string> groupsAfterAllDownload(const std::set<std::string>& keys)
{
    std::vector<std::string> groups;
    for (const char* group : {"text", "command-set", "play-list", "baud-rate"}) {
        for (const std::string& key : GroupKeys(group)) {
            // The text group's colours and line count are in All Download already.
            if (std::string(group) == "text" && key != "main_str")
                continue;
            if (keys.count(key)) {
                groups.emplace_back(group);
                break;
            }
        }
    }
    return groups;
}

// The groups in the order they go out: as given (each once), the baud rate last.
std::vector<std::string> sendingOrder(const std::vector<std::string>& groups)
{
    std::vector<std::string> order;
    bool baud = false;
    for (const std::string& g : groups) {
        if (g == "baud-rate")
            baud = true;
        else if (std::find(order.begin(), order.end(), g) == order.end())
            order.push_back(g);
    }
    if (baud)
        order.emplace_back("baud-rate");
    return order;
}

nlohmann::ordered_json stepsJson(const ProcedureReport& report)
{
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    for (const StepOutcome& s : report.steps) {
        nlohmann::ordered_json e;
        e["command"] = s.label;
        e["outcome"] = CodeName(s.status.code);
        if (!s.status.ok())
            e["text"] = s.status.text;
        steps.push_back(e);
    }
    return steps;
}

// A failed command of a group, in the command line's words.
std::string groupFailure(const std::string& group, const ProcedureReport& report)
{
    for (const StepOutcome& s : report.steps)
        if (!s.status.ok())
            return group + ": " + s.label + ": " + s.status.text;
    return group + ": " + report.status.text;
}

std::string trimmedLabel(std::string label)
{
    while (!label.empty() && (label.back() == ' ' || label.back() == ':'))
        label.pop_back();
    return label;
}

} // namespace

Status PutSettings(DisplaySession& session, const SettingsToSend& settings, const std::vector<std::string>& groups,
                   nlohmann::ordered_json& result)
{
    ConsoleOutlets& out = session.outlets();
    // Keys the file does not hold keep what the display has: read it first.
    SettingsState state;
    if (Status read = ReadDisplayState(session, state); !read.ok())
        return finishWith(out, read, result);
    std::string error;
    if (!ApplyDocument(settings.content, state, error))
        return finishWith(out, Status::failure(Code::BadInput, settings.name + ": " + error), result);

    std::vector<std::string> keys(settings.keys.begin(), settings.keys.end());
    result["file-keys"] = keys;
    if (keys.size() >= 21) // the document's 21 keys
        out.note("Every key is set by " + settings.name + ".");
    else
        out.note("Keys set by " + settings.name + ": " + (keys.empty() ? std::string("none") : join(keys)) +
                 "; every other key keeps the display's value.");

    std::vector<std::string> order;
    if (groups.empty()) {
        order.emplace_back("all-download");
        for (const std::string& g : groupsAfterAllDownload(settings.keys))
            order.push_back(g);
    } else {
        order = sendingOrder(groups);
    }

    Status first;
    nlohmann::ordered_json sent = nlohmann::ordered_json::object();
    nlohmann::ordered_json details = nlohmann::ordered_json::object();
    std::vector<std::string> okGroups;
    for (const std::string& group : order) {
        const ProcedureReport report = SendSettingsGroup(session, state, group);
        if (report.status.cancelled() || session.cancelled())
            return finishWith(out, Status::failure(Code::Cancelled, kCancelledText), result);
        sent[group] = CodeName(report.status.code);
        details[group] = stepsJson(report);
        if (report.ok()) {
            okGroups.push_back(group);
            continue;
        }
        // All Download goes on after a failed command; the window's report names them.
        if (group == "all-download") {
            std::vector<std::string> failed;
            for (const StepOutcome& s : report.steps)
                if (!s.status.ok())
                    failed.push_back(trimmedLabel(s.label) + " (" + s.status.text + ")");
            out.note("All Download: " + plural(failed.size(), "command", "commands") + " failed: " + join(failed),
                     "error");
        } else {
            out.note(groupFailure(group, report), "error");
        }
        if (first.ok())
            first = report.status;
        // The display's speed is not touched once something failed before it.
        if (group != "baud-rate" && std::find(order.begin(), order.end(), "baud-rate") != order.end()
            && order.back() == "baud-rate" && !first.ok()) {
            sent["baud-rate"] = "skipped";
            break;
        }
    }
    result["groups"] = sent;
    result["commands"] = details;
    if (!okGroups.empty()) {
        std::string line = "Sent: " + join(okGroups);
        if (std::find(okGroups.begin(), okGroups.end(), "baud-rate") != okGroups.end())
            line += " (the display runs at " + std::to_string(session.link().BaudRate) + " bit/s now)";
        out.note(line + ".");
    }
    result["outcome"] = CodeName(first.code);
    if (!first.ok())
        result["error"] = first.text;
    return first;
}

namespace {

// The order apply sends groups in: the baud rate last, so that everything before it
// goes out at the speed the display listens at.
const char* const kApplyOrder[] = {"welcome", "header", "footer", "brightness", "text",
                                   "code-page", "command-set", "play-list", "baud-rate"};

nlohmann::ordered_json differencesJson(const std::vector<SettingDifference>& differences)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& d : differences)
        list.push_back({{"key", d.key}, {"caption", d.caption}, {"display", d.display}, {"file", d.file}});
    return list;
}

std::string differencesText(const std::vector<SettingDifference>& differences)
{
    std::size_t width = 0;
    for (const auto& d : differences)
        width = std::max(width, d.caption.size() + d.key.size() + 3);
    std::string text;
    for (const auto& d : differences) {
        std::string name = d.caption + " (" + d.key + ")";
        name.resize(width, ' ');
        text += "  " + name + "  " + d.display + " -> " + d.file + "\n";
    }
    return text;
}

} // namespace

Status ApplySettings(DisplaySession& session, const SettingsToSend& settings, const std::vector<std::string>& groups,
                     bool check, nlohmann::ordered_json& result, ApplyOutcome* outcome)
{
    ConsoleOutlets& out = session.outlets();
    ApplyOutcome local;
    ApplyOutcome& o = outcome ? *outcome : local;
    o = {};
    // The keys to bring about: the file's, only those of the groups asked for, and
    // only those a command carries.
    std::set<std::string> keys;
    for (const std::string& key : settings.keys) {
        const std::string group = GroupOfKey(key);
        if (group.empty())
            continue;
        if (groups.empty() || std::find(groups.begin(), groups.end(), group) != groups.end())
            keys.insert(key);
    }
    SettingsState display;
    if (Status read = ReadDisplayState(session, display); !read.ok())
        return finishWith(out, read, result);
    SettingsState target = display;
    std::string error;
    if (!ApplyDocument(settings.content, target, error))
        return finishWith(out, Status::failure(Code::BadInput, settings.name + ": " + error), result);

    o.differences = CompareSettings(display, target, keys);
    for (const char* group : kApplyOrder)
        for (const auto& d : o.differences)
            if (GroupOfKey(d.key) == group) {
                o.groups.emplace_back(group);
                break;
            }
    result["differences"] = differencesJson(o.differences);
    result["groups"] = o.groups;

    if (check || o.differences.empty()) {
        o.changed = check && !o.differences.empty();
        o.verified = o.differences.empty();
        result["changed"] = o.changed;
        result["verified"] = o.verified;
        result["outcome"] = CodeName(Code::Ok);
        if (o.differences.empty())
            out.note("The display holds " + settings.name + ": nothing to change.");
        else
            out.note("Would change (" + join(o.groups) + "), display -> " + settings.name + ":\n" +
                     differencesText(o.differences) + plural(o.differences.size(), "setting differs.", "settings differ."));
        return Status::success();
    }

    Status first;
    for (const std::string& group : o.groups) {
        const ProcedureReport report = SendSettingsGroup(session, target, group);
        if (report.status.cancelled() || session.cancelled())
            return finishWith(out, Status::failure(Code::Cancelled, kCancelledText), result);
        o.changed = true;
        if (!report.ok()) {
            first = Status::failure(report.status.code, groupFailure(group, report));
            result["failed-group"] = group;
            break; // nothing more goes out, least of all a new speed
        }
    }
    result["changed"] = o.changed;

    // Read back what the display holds now.
    SettingsState after;
    if (Status read = ReadDisplayState(session, after); !read.ok()) {
        result["verified"] = false;
        return finishWith(out, first.ok() ? read : first, result);
    }
    o.remaining = CompareSettings(after, target, keys);
    o.verified = o.remaining.empty();
    result["verified"] = o.verified;
    if (!o.remaining.empty())
        result["remaining"] = differencesJson(o.remaining);
    if (!first.ok())
        return finishWith(out, first, result);
    if (!o.verified)
        return finishWith(out,
                          Status::failure(Code::Refused, "the display does not hold " + settings.name +
                                                             " after it was sent: " +
                                                             plural(o.remaining.size(), "setting differs", "settings differ") +
                                                             " (display -> file):\n" + differencesText(o.remaining)),
                          result);
    out.note("Changed " + join(o.groups) + "; read back: the display holds " + settings.name + ".");
    result["outcome"] = CodeName(Code::Ok);
    return Status::success();
}

// ---------------------------------------------------------------------------
// Download runs

Status ReportRun(DisplaySession& session, const RunReport& report, nlohmann::ordered_json& result)
{
    ConsoleOutlets& out = session.outlets();
    out.ResetProgress();
    result["succeeded"] = report.succeeded;
    result["failed"] = report.failed;
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const ItemReport& item : report.items) {
        nlohmann::ordered_json e;
        e["position"] = item.position;
        e["name"] = item.name;
        e["bytes"] = item.bytes;
        e["crc"] = item.crc;
        e["outcome"] = CodeName(item.status.code);
        if (!item.status.ok())
            e["text"] = item.status.text;
        items.push_back(e);
    }
    result["items"] = items;
    if (!report.skipped.empty()) {
        nlohmann::ordered_json skipped = nlohmann::ordered_json::array();
        for (const auto& [position, reason] : report.skipped)
            skipped.push_back({{"position", position}, {"name", DownloadItemAt(position).Name}, {"reason", reason}});
        result["skipped"] = skipped;
    }

    const int baud = session.link().BaudRate;
    switch (report.end) {
    case RunOutcome::NotStarted:
        if (report.status.ok() || report.status.code == Code::Declined) {
            result["outcome"] = CodeName(report.status.code);
            if (!report.status.ok())
                out.note(report.status.text, "error");
            return report.status;
        }
        return finishWith(out, Status::failure(report.status.code, withoutPrefix(report.status.text, kNoDeviceText)),
                          result);
    case RunOutcome::Finished: {
        std::vector<std::string> stored;
        for (const ItemReport& item : report.items)
            if (item.status.ok())
                stored.push_back(item.name);
        if (!stored.empty())
            out.note("Stored " + plural(stored.size(), "item", "items") + ": " + join(stored) + ".");
        for (const auto& [position, reason] : report.skipped)
            out.note(std::string(DownloadItemAt(position).Name) + " was not sent: " + reason + ".", "warning");
        if (!report.restore.ok() && report.status.ok())
            return finishWith(out, report.restore, result);
        if (!report.restore.ok())
            out.note("the display could not be switched back to " + std::to_string(baud) + " bit/s: " +
                         report.restore.text,
                     "error");
        return finishWith(out, report.status, result);
    }
    case RunOutcome::Abandoned:
        return finishWith(out, Status::failure(report.status.code, "the download was given up: " + report.status.text),
                          result);
    case RunOutcome::TimedOut:
        return finishWith(out,
                          Status::failure(Code::TimedOut, "the display stopped asking for the file's blocks (nothing "
                                                          "for 10 s); it may still run at 115200 bit/s: run "
                                                          "tarsel-cli detect to find it"),
                          result);
    case RunOutcome::HungUp:
        return finishWith(out, Status::failure(Code::HungUp, "the line went away during the download" +
                                                                 (report.status.text.empty()
                                                                      ? std::string()
                                                                      : " (" + report.status.text + ")")),
                          result);
    case RunOutcome::Cancelled: {
        std::string text = "cancelled after " + plural(static_cast<std::size_t>(report.succeeded), "item", "items") +
                           " stored";
        if (report.failed > 0)
            text += " and " + std::to_string(report.failed) + " failed";
        text += ".";
        if (report.firmwareTouched)
            text += " The display holds an incomplete firmware image: update the firmware again before using it.";
        else if (report.itemCut)
            text += " The item being sent is incomplete in the display.";
        text += report.displayBack ? " The display is back at " + std::to_string(baud) + " bit/s."
                                   : " The display did not answer at " + std::to_string(baud) +
                                         " bit/s afterwards: run tarsel-cli detect to find it.";
        out.note(text, report.displayBack && !report.firmwareTouched ? "information" : "warning");
        result["outcome"] = CodeName(Code::Cancelled);
        result["display-back"] = report.displayBack;
        return report.status;
    }
    }
    return report.status;
}

bool PictureCache::get(int slot, int model, const std::string& file, Bytes& bytes, std::string& error)
{
    // One conversion a picture and model: the displays that need the same one wait for it.
    std::lock_guard lock(m_mutex);
    const auto key = std::make_tuple(slot, model, file);
    if (const auto it = m_bytes.find(key); it != m_bytes.end()) {
        bytes = it->second;
        return true;
    }
    const auto size = SlotTargetSize(slot, model);
    Image crop;
    if (!size || !ProposedCropFromFile(file, *size, crop, error))
        return false;
    bytes = SlotPictureBytes(crop, slot, model);
    m_bytes.emplace(key, bytes);
    return true;
}

Status DownloadPictures(DisplaySession& session, const std::vector<std::pair<int, std::string>>& pictures,
                        nlohmann::ordered_json& result, PictureCache* cache)
{
    const int model = session.model();
    ConsoleOutlets& out = session.outlets();
    std::vector<int> positions;
    std::map<int, Bytes> bytes;
    for (const auto& [slot, file] : pictures) {
        const auto size = SlotTargetSize(slot, model);
        if (!size) {
            out.note("The " + ModelName(model) + " has no picture slot " + std::to_string(slot) + " (" +
                         SlotLabel(slot) + "); " + file + " is not sent to it.",
                     "warning");
            continue;
        }
        std::string error;
        PictureCache own;
        if (!(cache ? *cache : own).get(slot, model, file, bytes[SlotQueuePosition(slot)], error))
            return finishWith(out, Status::failure(Code::BadInput, error), result);
        positions.push_back(SlotQueuePosition(slot));
    }
    if (positions.empty()) {
        result["succeeded"] = 0;
        result["outcome"] = CodeName(Code::Ok);
        return Status::success();
    }
    const RunReport report = session.run().StartPictureDownload(positions, [&bytes](int position) {
        const auto it = bytes.find(position);
        return it == bytes.end() ? Bytes() : it->second;
    });
    return ReportRun(session, report, result);
}

Status DownloadFonts(DisplaySession& session, const std::vector<int>& positions, nlohmann::ordered_json& result)
{
    DownloadRun& run = session.run();
    const RunReport report = positions.empty() ? run.StartFontDownload() : run.StartFontDownload(positions);
    return ReportRun(session, report, result);
}

Status UpdateFirmware(DisplaySession& session, const std::string& file, nlohmann::ordered_json& result)
{
    DownloadRun& run = session.run();
    run.setFirmwareFile(file);
    const RunReport report = run.StartFirmwareUpdate();
    run.setFirmwareFile({});
    return ReportRun(session, report, result);
}

// ---------------------------------------------------------------------------
// The commands

namespace {

// What a command needs before a display is looked for; input files are checked
// here, so that a wrong file costs no scan and touches no display.
struct Prepared {
    SettingsToSend settings;
    SettingsState fileState;
    std::vector<std::string> ignoredKeys; // members of the file that are no settings key
};

Status prepare(const Invocation& inv, Prepared& prepared)
{
    auto unusable = [](const std::string& text) { return Status::failure(Code::BadInput, text); };
    switch (inv.command) {
    case Command::SettingsPut:
    case Command::SettingsApply:
    case Command::SettingsDiff: {
        std::string error;
        if (!LoadSettingsFile(inv.file, prepared.settings.content, error))
            return unusable(error);
        prepared.fileState = DefaultSettingsState();
        if (!ApplyDocument(prepared.settings.content, prepared.fileState, error))
            return unusable(inv.file + ": " + error);
        prepared.settings.keys = DocumentKeys(prepared.settings.content);
        prepared.settings.name = inv.file;
        for (const std::string& key : prepared.settings.keys)
            if (GroupOfKey(key).empty() && key != "temp1")
                prepared.ignoredKeys.push_back(key);
        return Status::success();
    }
    case Command::Item:
    case Command::Picture:
        if (!readable(inv.file))
            return unusable("Cannot read \"" + inv.file + "\".");
        return Status::success();
    case Command::Firmware:
        if (!inv.file.empty() && !readable(inv.file))
            return unusable("Cannot read the firmware image \"" + inv.file + "\".");
        return Status::success();
    case Command::Qr:
        if (!inv.qrPicture.empty()) {
            if (!readable(inv.qrPicture))
                return unusable("Cannot read \"" + inv.qrPicture + "\".");
            if (BitmapTo1bppFile(inv.qrPicture, kQrPictureSize, kQrPictureSize).empty())
                return unusable("\"" + inv.qrPicture + "\" is not a PNG, JPEG or BMP picture.");
        }
        return Status::success();
    default:
        return Status::success();
    }
}

// Says how a text was changed on its way to the display.
void warnTextChanges(ConsoleOutlets& out, const TextChanges& changes, const char* codePage,
                     nlohmann::ordered_json& result)
{
    if (!changes.changed())
        return;
    std::vector<std::string> what;
    if (changes.replaced > 0)
        what.push_back(plural(static_cast<std::size_t>(changes.replaced), "character", "characters") + " that " +
                       codePage + " does not have went out as \"?\"");
    if (changes.cutBytes > 0)
        what.push_back("the last " + plural(changes.cutBytes, "byte", "bytes") + " were cut (the display takes " +
                       std::to_string(kTextMaxBytes) + ")");
    out.note("the text was not sent as given: " + join(what, "; ") + ".", "warning");
    result["replaced-characters"] = changes.replaced;
    result["cut-bytes"] = changes.cutBytes;
}

Status settingsGet(DisplaySession& session, const Invocation& inv, Console& console, nlohmann::ordered_json& result)
{
    ConsoleOutlets& out = session.outlets();
    Bytes reply;
    const Status read = ReadDisplaySettings(session.link(), reply);
    if (!read.ok())
        return finishWith(out, read.cancelled() ? read
                                                : Status::failure(read.code, "could not read the display's settings: " +
                                                                                 read.text),
                          result);
    SettingsState state = DefaultSettingsState();
    const ApplyResult applied = ApplyDisplaySettings(reply, state.info, state.values);
    if (!applied.status.ok())
        return finishWith(out, Status::failure(applied.status.code, "the display's settings cannot be read: " +
                                                                        applied.status.text),
                          result);
    if (!applied.cleanedKeys.empty()) {
        out.note("the display's " + join(applied.cleanedKeys) +
                     " held control characters; they are written as \"?\" (a text goes to the display as a text "
                     "frame).",
                 "warning");
        result["cleaned-keys"] = applied.cleanedKeys;
    }
    GatherSettings(state.values, state.info);
    const Bytes document = BuildSettingsDocument(state.info);
    if (!inv.file.empty()) {
        std::string error;
        if (!SaveSettingsFile(inv.file, state.info, error))
            return finishWith(out, Status::failure(Code::BadInput, error), result);
        out.note("Wrote the display's settings to " + inv.file + ".");
        result["file"] = inv.file;
    } else if (console.options().json) {
        // The texts as the settings file holds them: every byte of the display's code
        // page read as one Windows-1252 character, so they go back unchanged.
        result["settings"] = nlohmann::ordered_json::parse(Utf16ToUtf8(HostToWide(document)), nullptr, false);
    } else {
        // The same bytes as the settings file.
        console.outBytes(document);
    }
    result["outcome"] = CodeName(Code::Ok);
    return Status::success();
}

Status settingsDiff(DisplaySession& session, const Invocation& inv, const Prepared& prepared, Console& console,
                    nlohmann::ordered_json& result)
{
    ConsoleOutlets& out = session.outlets();
    SettingsState display;
    if (Status read = ReadDisplayState(session, display); !read.ok())
        return finishWith(out, read, result);
    const auto differences = CompareSettings(display, prepared.fileState, prepared.settings.keys);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& d : differences)
        list.push_back({{"key", d.key}, {"caption", d.caption}, {"display", d.display}, {"file", d.file}});
    result["differences"] = list;
    result["differ"] = !differences.empty();
    if (!console.options().json) {
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
            text += plural(differences.size(), "setting differs.\n", "settings differ.\n");
        }
        console.outText(text);
    }
    // As diff does: 1 when they differ.
    const Status status = differences.empty()
        ? Status::success()
        : Status::failure(Code::Refused, plural(differences.size(), "setting differs", "settings differ"));
    result["outcome"] = CodeName(status.code);
    return status;
}

Status qr(DisplaySession& session, const Invocation& inv, nlohmann::ordered_json& result)
{
    ConsoleOutlets& out = session.outlets();
    const int model = session.model();
    const Text text = Utf8ToUtf16(inv.text);
    TextChanges changes;
    if (inv.atPicture > 0) {
        if (!HasPictureNumberControls(model))
            return finishWith(out, Status::failure(Code::BadInput, "The " + ModelName(model) + " has no Show QrCode At."),
                              result);
        const Status status = RunShowQrCodeAt(session.link(), model, text, inv.alignIndex, inv.atPicture, &changes);
        warnTextChanges(out, changes, "the host code page", result);
        return finishWith(out, status, result);
    }
    if (QrFromPictureFile(model)) {
        if (inv.qrPicture.empty())
            return finishWith(out, Status::failure(Code::BadInput, "The " + ModelName(model) +
                                                                     " shows a QR code as a picture: give it with "
                                                                     "--picture FILE."),
                              result);
        const QrPictureReport report =
            RunShowQrPicture(session.link(), inv.qrPicture, inv.alignIndex, &BitmapTo1bppFile);
        result["picture-code"] = report.code;
        if (!report.opened)
            return finishWith(out, Status::failure(Code::PortError, PortOpenFailureText(session.port(), report.status)),
                              result);
        if (!report.status.ok() && !report.status.cancelled() && report.code != 0)
            return finishWith(out, Status::failure(report.status.code, "the QR picture was not shown (picture code " +
                                                                           std::to_string(report.code) + ")"),
                              result);
        return finishWith(out, report.status, result);
    }
    if (inv.text.empty())
        return finishWith(out, Status::failure(Code::BadInput, "The " + ModelName(model) +
                                                                 " makes the QR code from a text: give the TEXT."),
                          result);
    const Status status = RunShowQrCode(session.link(), text, inv.alignIndex, &changes);
    warnTextChanges(out, changes, "the host code page", result);
    return finishWith(out, status, result);
}

// A command that asked first: a question left unanswered (no terminal, no --yes) is a
// usage error.
Status confirmed(DisplaySession& session, Status status)
{
    if (status.code == Code::Declined && session.outlets().tally().unanswered)
        return Status::failure(Code::BadInput, "not confirmed: there is no terminal to ask on; give --yes");
    return status;
}

Status onDisplay(DisplaySession& session, const Invocation& inv, const Prepared& prepared, Console& console,
                 nlohmann::ordered_json& result)
{
    Link& link = session.link();
    ConsoleOutlets& out = session.outlets();
    out.resetTally();
    switch (inv.command) {
    case Command::Detect:
        if (!console.options().json) {
            std::string text = "port: " + session.port() + "\nmodel: " + ModelName(session.model()) + "\n";
            text += "firmware: " + (session.found().version >= 0 ? "V" + std::to_string(session.found().version)
                                                                  : std::string("not reported by this model")) + "\n";
            text += "speed: " + std::to_string(session.found().baud) + "\n";
            console.outText(text);
        }
        result["outcome"] = CodeName(Code::Ok);
        return Status::success();
    case Command::SettingsGet:
        return settingsGet(session, inv, console, result);
    case Command::SettingsPut:
        return PutSettings(session, prepared.settings, inv.groups, result);
    case Command::SettingsDiff:
        return settingsDiff(session, inv, prepared, console, result);
    case Command::SettingsApply:
        return ApplySettings(session, prepared.settings, inv.groups, inv.check, result);
    case Command::Text: {
        TextChanges changes;
        const Status status =
            RunDisplayText(link, Utf8ToUtf16(inv.text), inv.codePageRow, inv.row > 0, inv.column, inv.row, &changes);
        warnTextChanges(out, changes, CodePageTable[static_cast<std::size_t>(inv.codePageRow)].DisplayName, result);
        return finishWith(out, status, result);
    }
    case Command::Clear: {
        const Status status = RunClearDisplay(link);
        if (status.ok())
            out.note("The display was cleared.");
        return finishWith(out, status, result);
    }
    case Command::Qr:
        return qr(session, inv, result);
    case Command::ShowPicture:
        return finishWith(out, ShowPicture(link, static_cast<std::uint8_t>(inv.pictureNumber)), result);
    case Command::Fonts:
        return DownloadFonts(session, inv.fontPositions, result);
    case Command::Item: {
        DownloadRun& run = session.run();
        // A picture position takes the file as its slot's picture, byte for byte.
        const std::string file = inv.file;
        run.setPictureSource([file](int) { return ReadFileBytes(file); });
        const RunReport report = run.StartSingleDownload(inv.position, inv.file);
        run.setPictureSource({});
        return ReportRun(session, report, result);
    }
    case Command::Picture:
        if (!SlotTargetSize(inv.slot, session.model()))
            return finishWith(out, Status::failure(Code::BadInput, "The " + ModelName(session.model()) +
                                                                     " has no picture slot " + std::to_string(inv.slot) +
                                                                     " (" + SlotLabel(inv.slot) + ")."),
                              result);
        return DownloadPictures(session, {{inv.slot, inv.file}}, result);
    case Command::Firmware:
        return confirmed(session, UpdateFirmware(session, inv.file, result));
    case Command::Reset: {
        const Status status = confirmed(session, RunResetDisplay(link, out));
        if (status.ok())
            out.note("The display was told to restore its factory settings.");
        return finishWith(out, status, result);
    }
    case Command::Restart: {
        const Status status = RunRestartDisplay(link);
        if (status.ok())
            out.note("The display was told to restart.");
        return finishWith(out, status, result);
    }
    case Command::Format: {
        const Status status = confirmed(session, RunFormat(link, out));
        if (status.ok())
            out.note("The display was told to format its storage.");
        return finishWith(out, status, result);
    }
    case Command::Ports:
    case Command::Provision:
    case Command::Preview:
    case Command::Doctor:
    case Command::Completion:
        break;
    }
    return Status::failure(Code::BadInput, "not a display command");
}

// The slot pictures of a folder: files named by slot number or item name, with a
// picture extension.
std::vector<std::pair<int, std::string>> picturesInFolder(const std::string& folder)
{
    std::vector<std::pair<int, std::string>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file(ec))
            continue;
        const int slot = SlotNumber(entry.path().stem().string());
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (slot != 0 && (ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp"))
            found.emplace_back(slot, entry.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

int preview(const Invocation& inv, Console& console, nlohmann::ordered_json& result)
{
    ConsoleOutlets::Options options;
    ConsoleOutlets out(console, options);
    auto fail = [&](const std::string& text) {
        finishWith(out, Status::failure(Code::BadInput, text), result);
        return kExitUsage;
    };
    Bytes content;
    std::string error;
    if (!LoadSettingsFile(inv.file, content, error))
        return fail(error);
    SettingsState state = DefaultSettingsState();
    if (!ApplyDocument(content, state, error))
        return fail(inv.file + ": " + error);
    preview::Input input;
    input.info = state.info;
    input.modelIndex = inv.previewModel.empty() ? 6 : FindModel(inv.previewModel);
    input.atSeconds = inv.atSeconds;
    input.startup = inv.startup;

    std::vector<std::pair<int, std::string>> pictures;
    if (!inv.picturesFolder.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(inv.picturesFolder, ec))
            return fail("\"" + inv.picturesFolder + "\" is not a folder.");
        pictures = picturesInFolder(inv.picturesFolder);
    }
    for (const auto& p : inv.slotPictures)
        pictures.push_back(p);
    for (const auto& [slot, file] : pictures) {
        const auto size = SlotTargetSize(slot, input.modelIndex);
        if (!size) {
            out.note("The " + ModelName(input.modelIndex) + " has no picture slot " + std::to_string(slot) + " (" +
                         SlotLabel(slot) + "); " + file + " is left out.",
                     "warning");
            continue;
        }
        auto crop = std::make_shared<Image>();
        if (!ProposedCropFromFile(file, *size, *crop, error))
            return fail(error);
        input.slotPictures[slot] = crop;
    }

    preview::RenderNotes notes;
    const Image screen = preview::RenderScreen(input, &notes);
    if (!notes.fontError.empty())
        out.note(notes.fontError, "warning");
    else if (notes.missingGlyphs > 0)
        out.note(std::to_string(notes.missingGlyphs) + " characters have no glyph in the fonts installed here.",
                 "warning");
    if (!WriteFileAtomic(inv.outputFile, EncodePng(screen), error)) {
        finishWith(out, Status::failure(Code::BadInput, inv.outputFile + ": " + error), result);
        return kExitUsage;
    }
    result["file"] = inv.outputFile;
    result["model"] = ModelName(input.modelIndex);
    result["width"] = screen.width;
    result["height"] = screen.height;
    result["outcome"] = CodeName(Code::Ok);
    if (!console.options().json)
        out.note("Wrote " + inv.outputFile + " (" + std::to_string(screen.width) + " x " +
                 std::to_string(screen.height) + ", " + ModelName(input.modelIndex) + ").");
    return kExitOk;
}

int listPorts(Console& console, const Environment& env, nlohmann::ordered_json& result)
{
    std::vector<PortInfo> ports;
    std::string message;
    const bool listed = env.listPorts ? env.listPorts(ports, message) : ListPorts(ports, message);
    if (!listed) {
        console.errLine("error: " + message);
        result["error"] = message;
        return kExitFailed;
    }
    if (console.options().json)
        result["ports"] = PortListJson(ports);
    else
        console.outText(PortListText(ports));
    return kExitOk;
}

} // namespace

int RunInvocation(const Invocation& inv, Console& console, const CancelToken& cancel, const Environment& env)
{
    nlohmann::ordered_json result;
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
                ordered[key] = value;
            console.event(ordered);
        } else if (exit == kExitCancelled) {
            console.errLine("tarsel-cli: cancelled");
        }
        return exit;
    };

    if (inv.command == Command::Ports)
        return finish(listPorts(console, env, result));
    if (inv.command == Command::Provision)
        return finish(RunProvision(inv, console, cancel, result, env));
    if (inv.command == Command::Preview)
        return finish(preview(inv, console, result));
    if (inv.command == Command::Doctor)
        return finish(RunDoctor(inv, console, result));
    if (inv.command == Command::Completion) {
        console.outText(CompletionScript(inv.shell));
        return kExitOk;
    }

    ConsoleOutlets::Options options;
    options.assumeYes = inv.yes;
    options.trace = inv.trace;
    options.progressBar = !inv.noProgress;
    options.cancel = &cancel;
    ConsoleOutlets prepOutlets(console, options);
    Prepared prepared;
    if (Status ready = prepare(inv, prepared); !ready.ok()) {
        finishWith(prepOutlets, ready, result);
        return finish(ExitFor(ready.code));
    }

    std::vector<PortInfo> ports;
    std::string listMessage;
    if (env.listPorts)
        env.listPorts(ports, listMessage);
    else
        ListPorts(ports, listMessage);
    const char* envPort = std::getenv("TARSEL_PORT");
    const PortChoice choice =
        ChoosePort(inv.ports.empty() ? std::string() : inv.ports.front(), envPort ? envPort : "", ports);
    if (!choice.chosen) {
        prepOutlets.note(choice.message, "error");
        result["outcome"] = CodeName(Code::BadInput);
        result["error"] = choice.message;
        return finish(choice.exitCode);
    }
    result["port"] = choice.path;
    if (!prepared.ignoredKeys.empty()) {
        // A misspelt key would otherwise never reach any display unnoticed.
        result["ignored-keys"] = prepared.ignoredKeys;
        prepOutlets.note(inv.file + " holds " + (prepared.ignoredKeys.size() == 1 ? "a member" : "members") +
                             " that no setting has, left out: " + join(prepared.ignoredKeys) + ".",
                         "warning");
    }

    ConsoleOutlets out(console, options);
    DisplaySession session(choice.path, choice.stableName, out, cancel, LangIdFromEnvironment(), env);
    const bool clear = inv.command == Command::Clear ? false : inv.clear;
    Status found = session.connect(inv.baud, clear);
    if (!found.ok()) {
        if (!found.cancelled())
            out.note(found.text, "error");
        if (found.code == Code::PortError && !choice.listed)
            out.note("The ports of this machine:\n" + PortListText(ports));
        result["outcome"] = CodeName(found.code);
        if (!found.ok() && !found.cancelled())
            result["error"] = found.text;
        return finish(ExitFor(found.code));
    }
    result["model"] = ModelName(session.model());
    result["baud"] = session.found().baud;
    if (session.found().version >= 0)
        result["version"] = session.found().version;
    else
        result["version"] = nullptr;
    result["stable-name"] = session.stableName();
    result["device"] = nullptr;
    result["description"] = nullptr;
    result["serial"] = nullptr;
    for (const PortInfo& p : ports) {
        if (p.path != choice.path)
            continue;
        result["device"] = p.device;
        result["description"] = p.description;
        const std::string serial = SerialNumberOf(p.description);
        result["serial"] = serial.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(serial);
    }
    const Status status = onDisplay(session, inv, prepared, console, result);
    // The speed the display runs at now (a settings file may have changed it).
    result["baud-after"] = session.link().BaudRate;
    return finish(ExitFor(status.code));
}

} // namespace tarsel::cli
