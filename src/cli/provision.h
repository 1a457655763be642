// provision: one profile applied to several displays at once, one thread per port,
// each with its own port pair and link (all watching the one cancel token), and a
// table of what succeeded where.
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/jobs.h"
#include "link/cancel.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tarsel::cli {

// The steps of a profile, in the order they are done on every display.
inline constexpr const char* kProvisionSteps[] = {"firmware", "fonts", "pictures", "settings"};

// What became of one display.
struct ProvisionRow {
    std::string port;
    std::string model;                // empty when no display was found
    std::vector<std::string> steps;   // per kProvisionSteps: "ok", "failed", "skipped", "cancelled", "-"
    int exit = 0;
    std::string message;              // the first failure's text
};

// The table printed at the end: one line per port with its model, each step and the result.
std::string ProvisionTable(const std::vector<ProvisionRow>& rows);

// 0 when every display did everything; 130 when cancelled; the common status when
// every display failed the same way; else 1.
int ProvisionExitCode(const std::vector<ProvisionRow>& rows, bool cancelled);

int RunProvision(const Invocation& invocation, Console& console, const CancelToken& cancel,
                 nlohmann::ordered_json& result, const Environment& environment = {});

} // namespace tarsel::cli
