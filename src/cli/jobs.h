// What tarsel-cli does once its command line is read: the port chosen, the display
// found with Connect's scan, and the command run with the window's own procedures
// through console outlets; several displays at once for provision.
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/settings_view.h"
#include "link/cancel.h"
#include "link/connect.h"
#include "link/link.h"
#include "link/port_list.h"
#include "link/termios_port.h"
#include "transfer/download_run.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace tarsel::cli {

// The interface language id from the locale's environment (LC_ALL, LC_MESSAGES, LANG):
// zh_CN and other Chinese 2052, zh_TW and zh_HK 1028, anything else 1033. It chooses
// the language of the port's open-error texts.
std::uint16_t LangIdFromEnvironment();

// Which port a single-display command uses: --port (a path or a stable name; one not
// in the list is used as given), else $TARSEL_PORT, else the only USB adapter. With
// no port or several adapters: false, exit 2 and a message that lists the ports.
struct PortChoice {
    bool chosen = false;
    std::string path;
    bool listed = false;  // found in the port list
    int exitCode = 0;
    std::string message;
};
PortChoice ChoosePort(const std::string& wanted, const std::string& fromEnvironment,
                      const std::vector<PortInfo>& ports);

// The port list as `ports` prints it, one port a line.
std::string PortListText(const std::vector<PortInfo>& ports);
nlohmann::ordered_json PortListJson(const std::vector<PortInfo>& ports);

// One display: its own port pair, link (watching the shared cancel token), outlets
// and download run.
class DisplaySession {
public:
    DisplaySession(const std::string& port, ConsoleOutlets& outlets, const CancelToken& cancel,
                   std::uint16_t langId);
    ~DisplaySession();
    DisplaySession(const DisplaySession&) = delete;
    DisplaySession& operator=(const DisplaySession&) = delete;

    // Opens the port once to see that it can be (exit 3 with the reason), then runs
    // Connect's scan over every speed, or only `onlyBaud` (exit 4 when no display
    // answers, 130 when cancelled). 0 when a display was found.
    int connect(int onlyBaud);

    Link& link() { return m_link; }
    ConsoleOutlets& outlets() { return m_outlets; }
    const ConsoleOutlets& outlets() const { return m_outlets; }
    DownloadRun& run() { return m_run; }
    const ConnectResult& found() const { return m_found; }
    int model() const { return m_found.modelIndex; }
    bool cancelled() const { return m_link.cancelled(); }
    const std::string& port() const { return m_port; }

private:
    std::string m_port;
    ConsoleOutlets& m_outlets;
    TermiosPort m_cmd;
    TermiosPort m_text;
    SteadyClock m_clock;
    Link m_link;
    DownloadRun m_run;
    ConnectResult m_found;
};

// The steps a profile is made of, each also a command of its own. Each returns an exit
// status and adds what it did to `result`.
struct SettingsToSend {
    SettingsState state;  // gathered as the window gathers before it sends
};
int PutSettings(DisplaySession& session, const SettingsToSend& settings, const std::vector<std::string>& groups,
                nlohmann::ordered_json& result);
int DownloadPictures(DisplaySession& session, const std::vector<std::pair<int, std::string>>& pictures,
                     nlohmann::ordered_json& result);
int DownloadFonts(DisplaySession& session, const std::vector<int>& positions, nlohmann::ordered_json& result);
int UpdateFirmware(DisplaySession& session, const std::string& file, nlohmann::ordered_json& result);

// The exit status of a download run that has ended.
int RunExitCode(RunOutcome outcome, const DownloadRun& run, const ConsoleOutlets::Tally& tally, bool cancelled);

// Runs the parsed command to its end and returns the exit status. With --json the
// final result object is written last.
int RunInvocation(const Invocation& invocation, Console& console, const CancelToken& cancel);

} // namespace tarsel::cli
