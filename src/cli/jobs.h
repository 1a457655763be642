// What tarsel-cli does once its command line is read: the port chosen, the display
// found (without clearing it, at the speed it was last found at first), and the
// command run with the window's own procedures. Every procedure returns its outcome;
// the command line turns it into its own messages, an exit status and JSON.
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/settings_view.h"
#include "link/cancel.h"
#include "link/clock.h"
#include "link/connect.h"
#include "link/link.h"
#include "link/port_list.h"
#include "link/serial_port.h"
#include "link/status.h"
#include "settings/settings_ops.h"
#include "transfer/download_run.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <set>
#include <string>
#include <vector>

namespace tarsel::cli {

// The exit status of an outcome: 0 ok; 1 the display refused, failed or did not
// answer in time (also a question answered No); 2 unusable input; 3 the port cannot
// be opened or went away; 4 no display answered; 130 cancelled.
int ExitFor(Code code);

// The interface language id from the locale's environment (LC_ALL, LC_MESSAGES, LANG):
// zh_CN and other Chinese 2052, zh_TW and zh_HK 1028, anything else 1033. It chooses
// the language of the port's open-error texts.
std::uint16_t LangIdFromEnvironment();

// Where the command line meets the machine; tests put a virtual line and clock here.
struct Environment {
    // Makes one handle slot (called twice per display: CmdPort, TextPort); default a
    // termios port.
    std::function<std::unique_ptr<SerialPort>()> portFactory;
    Clock* clock = nullptr;                                  // default: the steady clock
    std::function<bool(std::vector<PortInfo>&, std::string&)> listPorts; // default ListPorts
    // The file the speed each port was last found at is kept in; empty: the default
    // ($XDG_STATE_HOME/tarsel/ports.json). "-": remember nothing.
    std::string speedMemoryFile;
};

// Which port a single-display command uses: --port (a path or a stable name; one not
// in the list is used as given), else $TARSEL_PORT, else the only USB adapter. With
// no port or several adapters: false, exit 2 and a message that lists the ports.
struct PortChoice {
    bool chosen = false;
    std::string path;
    std::string stableName; // the port list's stable name (the path when not listed)
    bool listed = false;    // found in the port list
    int exitCode = 0;
    std::string message;
};
PortChoice ChoosePort(const std::string& wanted, const std::string& fromEnvironment,
                      const std::vector<PortInfo>& ports);

// The port list as `ports` prints it, one port a line.
std::string PortListText(const std::vector<PortInfo>& ports);
nlohmann::ordered_json PortListJson(const std::vector<PortInfo>& ports);

// The command line's text for a port that cannot be opened: the system's reason
// ("cannot open /dev/ttyUSB0: Device or resource busy"), not the window's box text.
std::string PortOpenFailureText(const std::string& port, const Status& status);

// One display: its own port pair, link (watching the shared cancel token), outlets
// and download run.
class DisplaySession {
public:
    DisplaySession(const std::string& port, const std::string& stableName, ConsoleOutlets& outlets,
                   const CancelToken& cancel, std::uint16_t langId, const Environment& environment = {});
    ~DisplaySession();
    DisplaySession(const DisplaySession&) = delete;
    DisplaySession& operator=(const DisplaySession&) = delete;

    // Opens the port once to see that it can be (PortError with the reason), then
    // finds the display: the speed it was last found at on this port first, then the
    // others in order (or only `onlyBaud`). The display is cleared only when asked.
    // NoDisplay when no display answers, Refused when one answers with a name Tarsel
    // does not know, Cancelled.
    Status connect(int onlyBaud, bool clearDisplay = false);

    Link& link() { return m_link; }
    ConsoleOutlets& outlets() { return m_outlets; }
    const ConsoleOutlets& outlets() const { return m_outlets; }
    DownloadRun& run() { return m_run; }
    const ConnectResult& found() const { return m_found; }
    int model() const { return m_found.modelIndex; }
    bool cancelled() const { return m_link.cancelled(); }
    const std::string& port() const { return m_port; }
    const std::string& stableName() const { return m_stableName; }
    // Remembers the speed the display runs at now (after a baud-rate change).
    void rememberSpeed();

private:
    std::string m_port;
    std::string m_stableName;
    ConsoleOutlets& m_outlets;
    Environment m_env;
    std::unique_ptr<SerialPort> m_cmd;
    std::unique_ptr<SerialPort> m_text;
    std::unique_ptr<Clock> m_ownClock;
    Link m_link;
    DownloadRun m_run;
    ConnectResult m_found;
};

// The settings groups the command line sends, by their `--only` names, and the
// document keys each one carries.
const std::vector<std::string>& GroupKeys(const std::string& group);
// The group that carries a document key ("" for temp1, which no command carries).
std::string GroupOfKey(const std::string& key);

// One settings group sent with the window's own commands ("all-download" for All
// Download). After "baud-rate" the line follows the display to its new speed.
ProcedureReport SendSettingsGroup(DisplaySession& session, const SettingsState& state, const std::string& group);

// The display's settings as the window would show them after Get Setting.
Status ReadDisplayState(DisplaySession& session, SettingsState& state);

// The steps a profile is made of, each also a command of its own. Each returns its
// outcome (ExitFor gives the status) and adds what it did to `result`.
struct SettingsToSend {
    Bytes content;                 // the settings file as read
    std::set<std::string> keys;    // the keys it holds
    std::string name;              // its name in messages
};
// `settings put`: the display's own settings are read first, so that keys the file
// does not hold keep the display's values; then All Download and the groups it leaves
// out for which the file holds keys (the baud rate last), or only `groups`.
Status PutSettings(DisplaySession& session, const SettingsToSend& settings, const std::vector<std::string>& groups,
                   nlohmann::ordered_json& result);
// `settings apply`: the display's settings are read and compared key by key with
// the keys the file holds (only those of `groups` when given); only the groups whose
// keys differ are sent, with the window's own commands (the baud rate last, the line
// following the display to its new speed); then the settings are read back and
// compared again. With `check` nothing is sent. The outcome: ok when the display
// holds the file afterwards (or, with check, when it could be read); Refused when the
// read-back differs; a group's failure.
struct ApplyOutcome {
    bool changed = false;   // setting frames were sent (with check: would be)
    bool verified = false;  // the display holds the file's keys (read back)
    std::vector<SettingDifference> differences; // before: display's value -> file's value
    std::vector<SettingDifference> remaining;   // after the read-back
    std::vector<std::string> groups;            // the groups sent (or to send)
};
Status ApplySettings(DisplaySession& session, const SettingsToSend& settings, const std::vector<std::string>& groups,
                     bool check, nlohmann::ordered_json& result, ApplyOutcome* outcome = nullptr);

// Pictures made once for every display of a model (provision converts a profile's
// pictures once, however many displays get them). Thread-safe.
class PictureCache {
public:
    // The bytes of `file` for `slot` on `model` (made on first use); false with the
    // reason when the file cannot be used.
    bool get(int slot, int model, const std::string& file, Bytes& bytes, std::string& error);

private:
    std::mutex m_mutex;
    std::map<std::tuple<int, int, std::string>, Bytes> m_bytes;
};
Status DownloadPictures(DisplaySession& session, const std::vector<std::pair<int, std::string>>& pictures,
                        nlohmann::ordered_json& result, PictureCache* cache = nullptr);
Status DownloadFonts(DisplaySession& session, const std::vector<int>& positions, nlohmann::ordered_json& result);
Status UpdateFirmware(DisplaySession& session, const std::string& file, nlohmann::ordered_json& result);

// What a download run did, as the command line says it (messages and JSON). The
// run's outcome, with the texts in the command line's words.
Status ReportRun(DisplaySession& session, const RunReport& report, nlohmann::ordered_json& result);

// Runs the parsed command to its end and returns the exit status. With --json the
// final result object is written last.
int RunInvocation(const Invocation& invocation, Console& console, const CancelToken& cancel,
                  const Environment& environment = {});

} // namespace tarsel::cli
