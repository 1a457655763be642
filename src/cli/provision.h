// provision: one profile applied to several displays at once, one thread per port,
// each with its own port pair and link (all watching the one cancel token), a table
// of what succeeded where, and (with --report) one record per port in a file.
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/jobs.h"
#include "link/cancel.h"
#include "link/status.h"
#include "transfer/download_run.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace tarsel::cli {

// The steps of a profile, in the order they are done on every display.
inline constexpr const char* kProvisionSteps[] = {"firmware", "fonts", "pictures", "settings"};

// What became of one display.
struct ProvisionRow {
    std::string port;                 // as given
    std::string stableName;           // the port list's stable name (the port when none)
    std::string serial;               // the adapter's serial number where udev knows it
    std::string model;                // empty when no display was found
    int firmware = -1;                // the version the model reports; -1 when it reports none
    int baud = 0;                     // the line speed it was found at
    std::vector<std::string> steps;   // per kProvisionSteps: "ok", "failed", "skipped", "cancelled", "-"
    std::vector<std::optional<Status>> outcomes; // per kProvisionSteps: the step's outcome when it ran
    Status status;                    // the display's outcome: ok, or the first failure
    int exit = 0;
    std::string message;              // the first failure's text
    std::optional<bool> settingsChanged;  // when the profile has settings and they were compared
    std::optional<bool> settingsVerified;
    std::vector<ItemReport> items;    // the items the downloads sent, with their CRC
    std::string start;                // when the display's work began (UTC, ISO 8601)
    double durationS = 0;             // how long it took, in seconds
};

// The table printed at the end: one line per port with its model, each step and the result.
std::string ProvisionTable(const std::vector<ProvisionRow>& rows);

// The report's forms: a JSON array of records, or CSV with a header row (columns port,
// stable_name, serial, model, firmware, baud, outcome, message, one per step,
// settings_changed, settings_verified, items, start, duration_s).
nlohmann::ordered_json ProvisionReportJson(const std::vector<ProvisionRow>& rows);
std::string ProvisionReportCsv(const std::vector<ProvisionRow>& rows);

// The adapter's serial number in a port's description ("..., serial A1B2C3"); empty
// when it has none.
std::string SerialNumberOf(const std::string& description);

// 0 when every display did everything; 130 when cancelled; the common status when
// every display failed the same way; else 1.
int ProvisionExitCode(const std::vector<ProvisionRow>& rows, bool cancelled);

int RunProvision(const Invocation& invocation, Console& console, const CancelToken& cancel,
                 nlohmann::ordered_json& result, const Environment& environment = {});

} // namespace tarsel::cli
