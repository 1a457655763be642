#include "cli/provision.h"

#include "cli/jobs.h"
#include "cli/profile.h"
#include "link/models.h"
#include "pictures/image.h"
#include "settings/settings_document.h"
#include "util/files.h"

#include <algorithm>
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

void provisionOne(ProvisionRow& row, const PortChoice& port, const Invocation& inv, const Profile& profile,
                  const SettingsToSend& settings, Console& console, const CancelToken& cancel, std::uint16_t langId,
                  const Environment& env)
{
    ConsoleOutlets::Options options;
    options.port = row.port;
    options.assumeYes = inv.yes;
    options.trace = inv.trace;
    options.progressBar = false; // several displays: lines, no bars
    options.cancel = &cancel;
    ConsoleOutlets out(console, options);
    row.steps.assign(kStepCount, "-");
    DisplaySession session(row.port, port.stableName, out, cancel, langId, env);
    const Status found = session.connect(inv.baud);
    if (!found.ok()) {
        row.exit = ExitFor(found.code);
        row.message = found.text;
        if (!found.cancelled())
            out.note(found.text, "error");
        for (std::size_t i = 0; i < kStepCount; ++i)
            row.steps[i] = "skipped";
        return;
    }
    row.model = ModelName(session.model());
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
        switch (i) {
        case 0: status = UpdateFirmware(session, profile.firmwareFile, detail); break;
        case 1: status = DownloadFonts(session, profile.fontPositions, detail); break;
        case 2: status = DownloadPictures(session, profile.pictures, detail); break;
        case 3: status = PutSettings(session, settings, profile.only, detail); break;
        }
        if (session.cancelled())
            status = Status::failure(Code::Cancelled, kCancelledText);
        row.steps[i] = stepWord(status);
        if (!status.ok()) {
            row.exit = ExitFor(status.code);
            row.message = status.text;
        }
    }
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
        row.port = choice.path;
        rows.push_back(row);
        choices.push_back(choice);
    }

    const std::uint16_t langId = LangIdFromEnvironment();
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < rows.size(); ++i)
        threads.emplace_back([&row = rows[i], &choice = choices[i], &inv, &profile, &settings, &console, &cancel, langId,
                              &env] { provisionOne(row, choice, inv, profile, settings, console, cancel, langId, env); });
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
        if (!r.message.empty())
            e["message"] = r.message;
        list.push_back(e);
    }
    result["displays"] = list;
    if (!console.options().json)
        console.outText(ProvisionTable(rows));
    return ProvisionExitCode(rows, cancel.cancelled());
}

} // namespace tarsel::cli
