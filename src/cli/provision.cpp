#include "cli/provision.h"

#include "cli/jobs.h"
#include "cli/profile.h"
#include "link/models.h"
#include "pictures/image.h"
#include "settings/settings_document.h"
#include "util/files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

namespace tarsel::cli {

namespace {

constexpr std::size_t kStepCount = std::size(kProvisionSteps);

const char* stepWord(const Status& status)
{
    switch (status.code) {
    case Code::Ok: return "ok";
    case Code::Cancelled: return "cancelled";
    default: return "failed";
    }
}

std::string isoTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buf;
}

void provisionOne(ProvisionRow& row, const PortChoice& port, const Invocation& inv, const Profile& profile,
                  const SettingsToSend& settings, Console& console, const CancelToken& cancel, std::uint16_t langId,
                  const Environment& env, PictureCache& pictures)
{
    ConsoleOutlets::Options options;
    options.port = row.port;
    options.assumeYes = inv.yes;
    options.trace = inv.trace;
    options.progressBar = false; // several displays: lines, no bars
    options.cancel = &cancel;
    ConsoleOutlets out(console, options);
    row.steps.assign(kStepCount, "-");
    row.outcomes.assign(kStepCount, std::nullopt);
    row.stableName = port.stableName.empty() ? port.path : port.stableName;
    row.start = isoTimeNow();
    DisplaySession session(port.path, port.stableName, out, cancel, langId, env);
    const double started = session.link().clock.nowMs();
    auto finish = [&] { row.durationS = (session.link().clock.nowMs() - started) / 1000.0; };
    const Status found = session.connect(inv.baud);
    if (!found.ok()) {
        row.status = found;
        row.exit = ExitFor(found.code);
        row.message = found.text;
        if (!found.cancelled())
            out.note(found.text, "error");
        for (std::size_t i = 0; i < kStepCount; ++i)
            row.steps[i] = "skipped";
        finish();
        return;
    }
    row.model = ModelName(session.model());
    row.firmware = session.found().version;
    row.baud = session.found().baud;
    const bool wanted[kStepCount] = {profile.firmware, profile.fonts, !profile.pictures.empty(),
                                     !profile.settingsFile.empty()};
    for (std::size_t i = 0; i < kStepCount; ++i) {
        if (!wanted[i])
            continue;
        if (row.exit != kExitOk) {
            row.steps[i] = "skipped";
            continue;
        }
        nlohmann::ordered_json detail;
        out.resetTally();
        Status status;
        ApplyOutcome applied;
        switch (i) {
        case 0: status = UpdateFirmware(session, profile.firmwareFile, detail); break;
        case 1: status = DownloadFonts(session, profile.fontPositions, detail); break;
        case 2: status = DownloadPictures(session, profile.pictures, detail, &pictures); break;
        case 3:
            status = ApplySettings(session, settings, profile.only, false, detail, &applied);
            row.settingsChanged = applied.changed;
            row.settingsVerified = applied.verified;
            break;
        }
        if (detail.contains("items")) {
            for (const auto& item : detail["items"]) {
                ItemReport r;
                r.position = item["position"].get<int>();
                r.name = item["name"].get<std::string>();
                r.bytes = item["bytes"].get<std::uint64_t>();
                r.crc = item["crc"].get<std::uint16_t>();
                r.status = item["outcome"] == "ok" ? Status::success()
                                                   : Status::failure(Code::Refused, item.value("text", std::string()));
                row.items.push_back(r);
            }
        }
        if (session.cancelled())
            status = Status::failure(Code::Cancelled, kCancelledText);
        row.steps[i] = stepWord(status);
        row.outcomes[i] = status;
        if (!status.ok()) {
            row.status = status;
            row.exit = ExitFor(status.code);
            row.message = status.text;
        }
    }
    // The speed it runs at now (a profile may change it).
    row.baud = session.link().BaudRate;
    finish();
}

} // namespace

std::string ProvisionTable(const std::vector<ProvisionRow>& rows)
{
    std::vector<std::vector<std::string>> cells;
    std::vector<std::string> head = {"PORT", "MODEL"};
    for (const char* s : kProvisionSteps) {
        std::string h = s;
        std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        head.push_back(h);
    }
    head.push_back("RESULT");
    cells.push_back(head);
    for (const ProvisionRow& r : rows) {
        std::vector<std::string> line = {r.port, r.model.empty() ? "-" : r.model};
        for (std::size_t i = 0; i < kStepCount; ++i)
            line.push_back(i < r.steps.size() ? r.steps[i] : "-");
        line.push_back(r.exit == kExitOk ? "ok" : std::string(r.exit == kExitCancelled ? "cancelled" : "failed") + " (exit " + std::to_string(r.exit) + ")");
        cells.push_back(line);
    }
    std::vector<std::size_t> widths(head.size(), 0);
    for (const auto& line : cells)
        for (std::size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], line[c].size());
    std::string text;
    for (const auto& line : cells) {
        std::string out;
        for (std::size_t c = 0; c < line.size(); ++c) {
            out += line[c];
            if (c + 1 < line.size())
                out.append(widths[c] - line[c].size() + 2, ' ');
        }
        text += out + "\n";
    }
    for (const ProvisionRow& r : rows)
        if (r.exit != kExitOk && !r.message.empty())
            text += r.port + ": " + r.message + "\n";
    return text;
}

std::string SerialNumberOf(const std::string& description)
{
    for (const char* marker : {", serial ", "serial "}) {
        const auto at = description.find(marker);
        if (at != std::string::npos && (std::string(marker)[0] == ',' || at == 0)) {
            std::string serial = description.substr(at + std::string(marker).size());
            const auto end = serial.find_first_of(", ");
            return end == std::string::npos ? serial : serial.substr(0, end);
        }
    }
    return {};
}

namespace {

std::string itemsText(const std::vector<ItemReport>& items)
{
    std::string text;
    char crc[8];
    for (const ItemReport& item : items) {
        std::snprintf(crc, sizeof crc, "%04X", static_cast<unsigned>(item.crc));
        text += (text.empty() ? "" : ";") + item.name + ":" + crc + (item.status.ok() ? "" : ":failed");
    }
    return text;
}

const char* outcomeName(const ProvisionRow& r) { return CodeName(r.status.code); }

// One CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& value)
{
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (char c : value)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string optionalBool(const std::optional<bool>& value) { return value ? (*value ? "true" : "false") : ""; }

} // namespace

nlohmann::ordered_json ProvisionReportJson(const std::vector<ProvisionRow>& rows)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ProvisionRow& r : rows) {
        nlohmann::ordered_json e;
        e["port"] = r.port;
        e["stable_name"] = r.stableName;
        e["serial"] = r.serial.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.serial);
        e["model"] = r.model.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.model);
        e["firmware"] = r.firmware >= 0 ? nlohmann::ordered_json(r.firmware) : nlohmann::ordered_json(nullptr);
        e["baud"] = r.baud > 0 ? nlohmann::ordered_json(r.baud) : nlohmann::ordered_json(nullptr);
        e["outcome"] = outcomeName(r);
        e["message"] = r.message;
        nlohmann::ordered_json steps = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < kStepCount && i < r.steps.size(); ++i) {
            if (r.steps[i] == "-")
                continue;
            nlohmann::ordered_json step;
            step["step"] = kProvisionSteps[i];
            if (i < r.outcomes.size() && r.outcomes[i]) {
                step["outcome"] = CodeName(r.outcomes[i]->code);
                step["text"] = r.outcomes[i]->text;
            } else {
                step["outcome"] = r.steps[i];
                step["text"] = "";
            }
            steps.push_back(step);
        }
        e["steps"] = steps;
        nlohmann::ordered_json settings;
        settings["changed"] = r.settingsChanged ? nlohmann::ordered_json(*r.settingsChanged) : nullptr;
        settings["verified"] = r.settingsVerified ? nlohmann::ordered_json(*r.settingsVerified) : nullptr;
        e["settings"] = settings;
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const ItemReport& item : r.items) {
            char crc[8];
            std::snprintf(crc, sizeof crc, "%04X", static_cast<unsigned>(item.crc));
            items.push_back({{"name", item.name}, {"position", item.position}, {"bytes", item.bytes},
                             {"crc", crc}, {"stored", item.status.ok()}});
        }
        e["items"] = items;
        e["start"] = r.start;
        e["duration_s"] = std::round(r.durationS * 1000.0) / 1000.0;
        list.push_back(e);
    }
    return list;
}

std::string ProvisionReportCsv(const std::vector<ProvisionRow>& rows)
{
    std::vector<std::string> head = {"port", "stable_name", "serial", "model", "firmware", "baud", "outcome", "message"};
    for (const char* step : kProvisionSteps)
        head.push_back(step);
    for (const char* column : {"settings_changed", "settings_verified", "items", "start", "duration_s"})
        head.emplace_back(column);
    std::string text;
    auto line = [&text](const std::vector<std::string>& fields) {
        std::string l;
        for (std::size_t i = 0; i < fields.size(); ++i)
            l += (i ? "," : "") + csvField(fields[i]);
        text += l + "\r\n";
    };
    line(head);
    for (const ProvisionRow& r : rows) {
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.3f", r.durationS);
        std::vector<std::string> fields = {r.port, r.stableName, r.serial, r.model,
                                           r.firmware >= 0 ? std::to_string(r.firmware) : "",
                                           r.baud > 0 ? std::to_string(r.baud) : "", outcomeName(r), r.message};
        for (std::size_t i = 0; i < kStepCount; ++i) {
            std::string step = i < r.steps.size() ? r.steps[i] : "-";
            if (i < r.outcomes.size() && r.outcomes[i])
                step = CodeName(r.outcomes[i]->code);
            fields.push_back(step);
        }
        fields.push_back(optionalBool(r.settingsChanged));
        fields.push_back(optionalBool(r.settingsVerified));
        fields.push_back(itemsText(r.items));
        fields.push_back(r.start);
        fields.push_back(duration);
        line(fields);
    }
    return text;
}

int ProvisionExitCode(const std::vector<ProvisionRow>& rows, bool cancelled)
{
    if (cancelled)
        return kExitCancelled;
    std::set<int> codes;
    for (const ProvisionRow& r : rows)
        codes.insert(r.exit);
    if (codes.size() == 1)
        return *codes.begin();
    return kExitFailed;
}

int RunProvision(const Invocation& inv, Console& console, const CancelToken& cancel, nlohmann::ordered_json& result,
                 const Environment& env)
{
    ConsoleOutlets::Options noteOptions;
    ConsoleOutlets notes(console, noteOptions);
    auto unusable = [&](const std::string& text) {
        notes.note(text, "error");
        return kExitUsage;
    };

    Profile profile;
    std::string error;
    if (!LoadProfile(inv.file, profile, error))
        return unusable(error);
    SettingsToSend settings;
    if (!profile.settingsFile.empty()) {
        if (!LoadSettingsFile(profile.settingsFile, settings.content, error))
            return unusable(error);
        SettingsState state = DefaultSettingsState();
        if (!ApplyDocument(settings.content, state, error))
            return unusable(profile.settingsFile + ": " + error);
        settings.keys = DocumentKeys(settings.content);
        settings.name = profile.settingsFile;
    }
    for (const auto& [slot, file] : profile.pictures) {
        if (DetectImageFormat(ReadFileBytes(file)) == ImageFormat::Unknown)
            return unusable("\"" + file + "\" (slot " + std::to_string(slot) + ") is not a PNG, JPEG or BMP picture.");
    }
    if (!profile.firmwareFile.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(profile.firmwareFile, ec))
            return unusable("Cannot read the firmware image \"" + profile.firmwareFile + "\".");
    }

    // Each display once, under the name the port list gives it.
    std::vector<PortInfo> ports;
    std::string listMessage;
    if (env.listPorts)
        env.listPorts(ports, listMessage);
    else
        ListPorts(ports, listMessage);
    std::vector<ProvisionRow> rows;
    std::vector<PortChoice> choices;
    std::set<std::string> seen;
    for (const std::string& wanted : inv.ports) {
        const PortChoice choice = ChoosePort(wanted, "", ports);
        if (!seen.insert(choice.path).second)
            return unusable("The port " + wanted + " is given twice.");
        ProvisionRow row;
        row.port = wanted;
        for (const PortInfo& p : ports)
            if (p.path == choice.path)
                row.serial = SerialNumberOf(p.description);
        rows.push_back(row);
        choices.push_back(choice);
    }

    const std::uint16_t langId = LangIdFromEnvironment();
    // Every display of a model gets the same pictures: each is converted once.
    PictureCache pictures;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < rows.size(); ++i)
        threads.emplace_back([&row = rows[i], &choice = choices[i], &inv, &profile, &settings, &console, &cancel, langId,
                              &env, &pictures] {
            provisionOne(row, choice, inv, profile, settings, console, cancel, langId, env, pictures);
        });
    for (std::thread& t : threads)
        t.join();

    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ProvisionRow& r : rows) {
        nlohmann::ordered_json e;
        e["port"] = r.port;
        e["model"] = r.model.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.model);
        for (std::size_t i = 0; i < kStepCount; ++i)
            e[kProvisionSteps[i]] = r.steps[i];
        e["exit"] = r.exit;
        e["outcome"] = CodeName(r.status.code);
        if (!r.message.empty())
            e["message"] = r.message;
        list.push_back(e);
    }
    result["displays"] = list;
    if (!console.options().json)
        console.outText(ProvisionTable(rows));
    if (!inv.reportFile.empty()) {
        const bool csv = inv.reportFile.size() >= 4 && inv.reportFile.compare(inv.reportFile.size() - 4, 4, ".csv") == 0;
        const std::string content = csv ? ProvisionReportCsv(rows) : ProvisionReportJson(rows).dump(2) + "\n";
        std::string error;
        if (!WriteFileAtomic(inv.reportFile, content, error)) {
            notes.note("the report could not be written: " + error, "error");
            return kExitFailed;
        }
        result["report"] = inv.reportFile;
    }
    return ProvisionExitCode(rows, cancel.cancelled());
}

} // namespace tarsel::cli
