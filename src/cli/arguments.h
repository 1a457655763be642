// The command line of tarsel-cli: its commands, their arguments and options, and
// what a parse decides (run a command, or print help, the version or a usage error).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tarsel::cli {

// Exit statuses of tarsel-cli.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,     // the display refused or failed
    kExitUsage = 2,      // wrong command line, or an input file that cannot be used
    kExitPort = 3,       // the port cannot be opened
    kExitNoDisplay = 4,  // no display answered
    kExitCancelled = 130,
};

enum class Command {
    Ports, Detect, SettingsGet, SettingsPut, SettingsDiff, SettingsApply, Text, Clear, Qr, ShowPicture,
    Fonts, Item, Picture, Firmware, Reset, Restart, Format, Provision, Preview, Doctor, Completion,
};

// The settings groups `settings put --only` takes: the window's "Setting" buttons.
struct SettingsGroup {
    const char* name;
    const char* description;
};
const std::vector<SettingsGroup>& SettingsGroups();

struct Invocation {
    Command command = Command::Ports;
    std::string name; // the command as typed: "settings put", "fonts", ...

    // Every command.
    std::vector<std::string> ports; // --port (several only for provision)
    int baud = 0;                   // --baud: the only speed tried; 0: every speed
    bool yes = false;               // --yes: questions are answered Yes
    bool json = false;              // --json: events and the result as JSON lines
    bool trace = false;             // --trace: every frame on standard error
    bool noProgress = false;        // --no-progress: no progress bar on a terminal
    bool clear = false;             // detect --clear: clear the display once found
    bool check = false;             // settings apply --check: compare only, send nothing
    std::string reportFile;         // provision --report FILE (.json or .csv)
    // preview: the model (a name; empty: KT710-II), a folder of slot pictures, single
    // slot pictures, the time into standby, the start-up phase, the PNG to write.
    std::string previewModel;
    std::string picturesFolder;
    std::vector<std::pair<int, std::string>> slotPictures;
    double atSeconds = 0;
    bool startup = false;
    std::string outputFile;

    std::string file;               // settings FILE, item FILE, firmware FILE, PROFILE,
                                    // picture FILE, settings get -o FILE
    std::vector<std::string> groups; // settings put --only
    std::string text;               // text, qr
    int row = 0;                    // text --row (0: not positioned)
    int column = 0;                 // text --column
    int codePageRow = 0;            // text --code-page, as a code page table row
    int alignIndex = 1;             // qr --align: 0 left, 1 centre, 2 right
    int atPicture = 0;              // qr --at N (0: not at a picture)
    std::string qrPicture;          // qr --picture FILE
    int pictureNumber = 0;          // show-picture N
    std::vector<int> fontPositions; // fonts ITEM... as catalogue positions (empty: all)
    int position = 0;               // item POSITION
    int slot = 0;                   // picture SLOT (73..86)
    std::string shell;              // completion SHELL: bash, zsh or fish
};

struct ParseResult {
    enum class Action { Run, Exit };
    Action action = Action::Exit;
    int exitCode = kExitOk;  // for Exit: 0 after help or version, 2 after a usage error
    std::string out;         // help or version text
    std::string err;         // the usage error and a hint to --help
    Invocation invocation;
};

// Calls `visit` with the parser's own command definitions (commands, options and
// their validators), from which the shell completion scripts are made.
void VisitCommandDefinitions(const std::function<void(CLI::App&)>& visit);

// Parses argv (argv[0] is the program).
ParseResult ParseArguments(int argc, const char* const* argv);
ParseResult ParseArguments(const std::vector<std::string>& args);

// The catalogue position an item argument names: its number (1..93) or its name
// ignoring case ("CP437", "mini_cp850", "big52gbk"); 0 when it names none.
int ItemPosition(const std::string& argument);
// The picture slot a slot argument names: 73..86, or the name of its download item
// ("Logo_Start", "Picture_3", ...); 0 when it names none.
int SlotNumber(const std::string& argument);
// The code page table row a --code-page argument names ("CP437", "wcp1252"); -1 when none.
int CodePageRow(const std::string& argument);

} // namespace tarsel::cli
