#include "cli/arguments.h"

#include "link/models.h"
#include "pictures/slots.h"
#include "settings/tables.h"
#include "transfer/catalogue.h"
#include "util/version.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

namespace tarsel::cli {

namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A whole decimal number in [low, high], or -1.
int numberIn(const std::string& text, int low, int high)
{
    if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    const int v = std::stoi(text);
    return v >= low && v <= high ? v : -1;
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool isFontItem(int position) { return (position >= kFirstFontPos && position <= kLastFontPos) || position == kBig52GbkPos; }

const char* const kDescription =
    "tarsel-cli: configure point-of-sale customer displays over a serial line from the command line.\n"
    "Every command that talks to a display first finds it the way the window's Connect does\n"
    "(the line speeds 9600 to 115200 in turn) and then runs the window's own procedure, with\n"
    "the same messages and time limits.";

const char* const kFooter =
    "Ports: --port takes a device path (/dev/ttyUSB0) or a stable name\n"
    "(/dev/serial/by-id/...). Without it, $TARSEL_PORT, else the only connected USB serial\n"
    "adapter; with none or several, the ports are listed and nothing is done.\n"
    "\n"
    "Messages, questions and progress go to standard error; what a command reports (the\n"
    "port list, the model, the settings) to standard output. A question is asked on a\n"
    "terminal; elsewhere --yes answers it, and without --yes the command stops (exit 2).\n"
    "With --json every event and the final result is one JSON object per line on standard\n"
    "output. Settings texts (settings get) are bytes in the display's code page: in JSON\n"
    "each byte is the Windows-1252 character of that byte (as in the settings file), so a\n"
    "text goes back to the display unchanged.\n"
    "\n"
    "Finding the display: the speed it was last found at on the port is tried first\n"
    "(remembered in $XDG_STATE_HOME/tarsel/ports.json), then the others. The display is\n"
    "not cleared (only clear and detect --clear clear it).\n"
    "\n"
    "Exit status (with --json also the result's \"outcome\"):\n"
    "  0    success (ok)\n"
    "  1    the display refused, answered wrongly or not in time (refused, timed-out);\n"
    "       a question answered No (declined); settings diff: the settings differ;\n"
    "       doctor: something stands between you and the port\n"
    "  2    usage: a wrong command line, an input file that cannot be used, a question\n"
    "       left unanswered (unusable-input)\n"
    "  3    the port cannot be opened, or it went away (port-error, hung-up)\n"
    "  4    no display found (no-display)\n"
    "  130  cancelled (Ctrl-C or SIGTERM); the display is put back to its own speed and\n"
    "       the port closed first\n"
    "\n"
    "Provisioning profile (provision PROFILE): a JSON object such as\n"
    "  {\"settings\": \"shop.ini\", \"pictures\": {\"73\": \"logo.png\"}, \"fonts\": \"all\"}\n"
    "with the keys settings, only, pictures, fonts and firmware, each optional. \"only\" names\n"
    "settings groups to send instead of All Download; \"pictures\" maps slots to picture\n"
    "files; \"fonts\" is \"all\" or a list of font items; \"firmware\" is true (the maker's\n"
    "image) or a file. Paths are relative to the profile. Every display gets, in turn,\n"
    "firmware, fonts, pictures and settings; a step that fails ends that display's work.\n"
    "\n"
    "Examples:\n"
    "  Find the display on a port:\n"
    "      tarsel-cli detect --port /dev/ttyUSB0\n"
    "\n"
    "  Send two groups of a settings file:\n"
    "      tarsel-cli settings put shop.ini --only welcome --only play-list\n"
    "\n"
    "  Apply a profile to two displays at once:\n"
    "      tarsel-cli provision shop.json --port /dev/ttyUSB0 --port /dev/ttyUSB1";

const char* const kCompletionFooter =
    "The Debian package installs the scripts where the shells look for them. To put one\n"
    "in place by hand (the folders may need to be made first):\n"
    "  bash:  tarsel-cli completion bash > ~/.local/share/bash-completion/completions/tarsel-cli\n"
    "  zsh:   tarsel-cli completion zsh > ~/.zfunc/_tarsel-cli\n"
    "         and in ~/.zshrc, before compinit: fpath=(~/.zfunc $fpath)\n"
    "  fish:  tarsel-cli completion fish > ~/.config/fish/completions/tarsel-cli.fish\n"
    "A new shell then completes commands, options, their values and the ports\n"
    "(--port asks tarsel-cli ports). For the current shell only:\n"
    "  bash:  source <(tarsel-cli completion bash)\n"
    "  zsh:   source <(tarsel-cli completion zsh)   (after compinit)\n"
    "  fish:  tarsel-cli completion fish | source";

// CLI11 validators that turn the arguments into numbers as they are read.
CLI::Validator itemValidator(bool fontsOnly)
{
    return CLI::Validator(
        [fontsOnly](std::string& value) -> std::string {
            const int position = ItemPosition(value);
            if (position == 0)
                return "no catalogue item \"" + value + "\" (a name such as CP437, or a position 1..93)";
            if (fontsOnly && !isFontItem(position))
                return "\"" + value + "\" is not a font item (CP437 ... mini_RUSSIA, big52gbk)";
            value = std::to_string(position);
            return {};
        },
        fontsOnly ? "FONT" : "ITEM");
}

CLI::Validator slotValidator()
{
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const int slot = SlotNumber(value);
            if (slot == 0)
                return "no picture slot \"" + value + "\" (73..86, or Logo_Start, logo_Head, Pic_Head, "
                       "Picture_1 ... Picture_10, Pic_Guest)";
            value = std::to_string(slot);
            return {};
        },
        "SLOT");
}

CLI::Validator codePageValidator()
{
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const int row = CodePageRow(value);
            if (row < 0)
                return "no code page \"" + value + "\" (CP437, CP850, WCP1252, ...)";
            value = std::to_string(row);
            return {};
        },
        "CODEPAGE");
}

struct Parser {
    CLI::App app{kDescription, "tarsel-cli"};
    Invocation inv;
    std::vector<std::pair<CLI::App*, Command>> commands;
    std::string codePage;
    std::string align = "center";
    std::vector<std::string> fontItems;
    std::string itemArg;
    std::string slotArg;
    std::vector<std::string> slotPictureArgs;

    CLI::App* command(CLI::App* parent, const std::string& name, const std::string& help, Command c)
    {
        CLI::App* sub = parent->add_subcommand(name, help);
        commands.emplace_back(sub, c);
        return sub;
    }

    Parser()
    {
        app.set_version_flag("--version", std::string("tarsel-cli ") + TARSEL_VERSION, "Print the version and exit");
        app.footer(kFooter);
        app.require_subcommand(1);
        // The common options may also follow the command.
        app.fallthrough();
        app.add_option("-p,--port", inv.ports, "The display's port: a device path or a stable name "
                                                "(provision: one per display)")
            ->type_name("PORT")
            ->allow_extra_args(false);
        app.add_option("--baud", inv.baud, "Try only this line speed instead of all five")
            ->type_name("BAUD")
            ->check(CLI::IsMember(std::vector<int>(kBaudCandidates.begin(), kBaudCandidates.end())));
        app.add_flag("-y,--yes", inv.yes, "Answer Yes to every question (reset, format, firmware update)");
        app.add_flag("--json", inv.json, "Events and the result as JSON objects, one per line, on standard output");
        app.add_flag("--trace", inv.trace, "Every frame sent and received on standard error");
        app.add_flag("--no-progress", inv.noProgress, "No progress bar, also on a terminal");

        command(&app, "ports", "List the serial ports with their stable names and descriptions", Command::Ports);
        command(&app, "detect", "Find the display: model, firmware version, line speed", Command::Detect)
            ->add_flag("--clear", inv.clear, "Clear the display once it is found (as the window's Connect does)");

        CLI::App* settings = app.add_subcommand("settings", "The display's settings: get, put, diff, apply");
        settings->require_subcommand(1);
        command(settings, "get",
                "Read the display's settings (Get Setting); print them (the bytes of the settings file) or "
                "write a settings file",
                Command::SettingsGet)
            ->add_option("-o,--output", inv.file, "Write the settings file here (the window's format)")
            ->type_name("FILE");
        CLI::App* put = command(settings, "put",
                                "Send a settings file to the display. The display's settings are read first, "
                                "so keys the file does not hold keep their values. Without --only: All "
                                "Download, then the groups it leaves out for which the file holds keys (text, "
                                "command-set, play-list, baud-rate last)",
                                Command::SettingsPut);
        put->add_option("FILE", inv.file, "The settings file (.ini, as the window saves it)")->required();
        std::vector<std::string> groupNames;
        std::string groupHelp = "Send only these groups (repeat the option for several):";
        for (const SettingsGroup& g : SettingsGroups()) {
            groupNames.emplace_back(g.name);
            groupHelp += std::string("\n  ") + g.name + ": " + g.description;
        }
        put->add_option("--only", inv.groups, groupHelp)
            ->type_name("GROUP")
            ->allow_extra_args(false)
            ->check(CLI::IsMember(groupNames));
        CLI::App* apply = command(settings, "apply",
                                  "Apply a settings file idempotently: read the display's settings, send only "
                                  "the groups whose keys differ from the file's (the baud rate last), then read "
                                  "them back and compare. Exit 0 when the display holds the file afterwards, "
                                  "changed or not; 1 when a group failed or the read-back differs",
                                  Command::SettingsApply);
        apply->add_option("FILE", inv.file, "The settings file; a partial file changes only its keys")->required();
        apply->add_flag("--check", inv.check, "Read and compare only: send no setting, say what would change");
        apply->add_option("--only", inv.groups, "Apply only the keys of these groups (repeat for several)")
            ->type_name("GROUP")
            ->allow_extra_args(false)
            ->check(CLI::IsMember(groupNames));
        command(settings, "diff",
                "Compare the display's settings with a settings file, key by key (exit 1 when they differ)",
                Command::SettingsDiff)
            ->add_option("FILE", inv.file, "The settings file")
            ->required();

        CLI::App* text = command(&app, "text", "Show a text on the display (Display Text)", Command::Text);
        text->add_option("TEXT", inv.text, "The text (its first 40 bytes in the code page; characters the code "
                                           "page lacks go out as \"?\", with a warning)")
            ->required();
        CLI::Option* row = text->add_option("--row", inv.row, "Row 1..2 (with --column: Position at)")
                               ->check(CLI::Range(1, 2));
        CLI::Option* column = text->add_option("--column", inv.column, "Column 1..20 (with --row)")
                                  ->check(CLI::Range(1, 20));
        row->needs(column);
        column->needs(row);
        text->add_option("--code-page", codePage, "The code page the text is converted with (default CP437)")
            ->type_name("CODEPAGE")
            ->transform(codePageValidator());

        command(&app, "clear", "Clear the display (Clear Display)", Command::Clear);

        CLI::App* qr = command(&app, "qr", "Show a QR code: from TEXT on the models that render it, from a "
                                           "picture file (--picture) on the others",
                               Command::Qr);
        qr->add_option("TEXT", inv.text, "The text of the code");
        qr->add_option("--picture", inv.qrPicture, "A picture of the code (PNG, JPEG or BMP) for the models "
                                                   "that show a picture")
            ->type_name("FILE");
        qr->add_option("--align", align, "left, center or right (default center)")
            ->check(CLI::IsMember({"left", "center", "right"}));
        qr->add_option("--at", inv.atPicture, "Show the code at picture N (Show QrCode At; models that have it)")
            ->type_name("N")
            ->check(CLI::Range(1, 10));

        command(&app, "show-picture", "Show play picture N (1..10)", Command::ShowPicture)
            ->add_option("N", inv.pictureNumber, "The picture number")
            ->required()
            ->check(CLI::Range(1, 10));

        command(&app, "fonts", "Font Download: every font the model supports, or only the named items",
                Command::Fonts)
            ->add_option("ITEM", fontItems, "Font items by name or position (CP437, mini_CP850, big52gbk, 6, ...)")
            ->transform(itemValidator(true));

        CLI::App* item = command(&app, "item", "Download one catalogue item from a file, byte for byte",
                                 Command::Item);
        item->add_option("POSITION", itemArg, "The item: its name or its position 1..93")
            ->required()
            ->transform(itemValidator(false));
        item->add_option("FILE", inv.file, "The file to send")->required();

        CLI::App* picture = command(&app, "picture",
                                    "Convert a picture (the crop the conversion window proposes) and download "
                                    "it into a slot",
                                    Command::Picture);
        picture->add_option("SLOT", slotArg, "The slot: 73..86 or its item name (Logo_Start, Picture_1, ...)")
            ->required()
            ->transform(slotValidator());
        picture->add_option("FILE", inv.file, "A PNG, JPEG or BMP picture")->required();

        command(&app, "firmware", "Update the display's firmware (asks first)", Command::Firmware)
            ->add_option("FILE", inv.file, "The firmware image (default: the maker's image for the model)");
        command(&app, "reset", "Restore the factory settings (asks first)", Command::Reset);
        command(&app, "restart", "Restart the display", Command::Restart);
        command(&app, "format", "Format the display's storage (asks first)", Command::Format);

        CLI::App* preview = command(&app, "preview",
                                    "Draw the display's screen as a settings file and the slots' pictures would "
                                    "make it, into a PNG (800 x 480 or 480 x 272); no display is needed",
                                    Command::Preview);
        preview->add_option("FILE", inv.file, "The settings file (keys it does not hold: the factory settings)")
            ->required();
        preview->add_option("--model", inv.previewModel, "The display model (default KT710-II)")
            ->type_name("MODEL")
            ->check(CLI::IsMember(std::vector<std::string>(ModelList.begin(), ModelList.end())));
        preview->add_option("--pictures", inv.picturesFolder,
                            "A folder of slot pictures named by slot: 73.png, Logo_Start.jpg, Picture_1.bmp ...")
            ->type_name("DIR");
        preview->add_option("--picture", slotPictureArgs, "A slot's picture: SLOT=FILE (repeat for several)")
            ->type_name("SLOT=FILE")
            ->allow_extra_args(false);
        preview->add_option("--at", inv.atSeconds, "Seconds into standby: the carousel and the scrolling lines")
            ->type_name("SECONDS")
            ->check(CLI::Range(0.0, 100000.0));
        preview->add_flag("--startup", inv.startup, "The start-up phase: the start-up logo");
        preview->add_option("-o,--output", inv.outputFile, "The PNG to write")->type_name("OUT.png")->required();

        command(&app, "provision",
                "Apply a profile to several displays at once (one --port per display) and print a table "
                "of what succeeded where",
                Command::Provision)
            ->add_option("PROFILE", inv.file,
                         "A JSON file: {\"settings\": FILE, \"only\": [GROUP...], \"pictures\": {SLOT: FILE}, "
                         "\"fonts\": \"all\" or [ITEM...], \"firmware\": true or FILE}; paths are relative "
                         "to the profile")
            ->required();
        commands.back().first->add_option("--report", inv.reportFile,
                                          "Write one record per port to FILE: JSON (.json) or CSV with a header "
                                          "row (.csv)")
            ->type_name("FILE");

        command(&app, "doctor",
                "What stands between you and the serial ports (every port, or --port), each with its fix: "
                "a missing port, a program holding it, a permission you lack, ModemManager or brltty. "
                "Exit 1 when something does",
                Command::Doctor);
        CLI::App* completion = command(&app, "completion", "Print the shell completion script for bash, zsh or fish",
                                       Command::Completion);
        completion->add_option("SHELL", inv.shell, "bash, zsh or fish")
            ->required()
            ->check(CLI::IsMember({"bash", "zsh", "fish"}));
        completion->footer(kCompletionFooter);
    }

    // After a successful parse: the command chosen and the arguments in their final form.
    bool finish(std::string& error)
    {
        for (const auto& [sub, c] : commands) {
            if (!sub->parsed())
                continue;
            inv.command = c;
            inv.name = sub->get_parent() != &app ? sub->get_parent()->get_name() + " " + sub->get_name()
                                                 : sub->get_name();
        }
        if (!codePage.empty())
            inv.codePageRow = std::stoi(codePage);
        inv.alignIndex = align == "left" ? 0 : align == "right" ? 2 : 1;
        for (const std::string& f : fontItems)
            inv.fontPositions.push_back(std::stoi(f));
        if (!itemArg.empty())
            inv.position = std::stoi(itemArg);
        if (!slotArg.empty())
            inv.slot = std::stoi(slotArg);

        if (inv.command == Command::Provision) {
            if (inv.ports.empty()) {
                error = "provision needs a --port for every display";
                return false;
            }
            if (!inv.reportFile.empty() && !endsWith(inv.reportFile, ".json") && !endsWith(inv.reportFile, ".csv")) {
                error = "provision --report needs a file ending in .json or .csv";
                return false;
            }
        } else if (inv.ports.size() > 1) {
            error = "only provision takes more than one --port";
            return false;
        }
        for (const std::string& arg : slotPictureArgs) {
            const auto eq = arg.find('=');
            const int slot = eq == std::string::npos ? 0 : SlotNumber(arg.substr(0, eq));
            if (slot == 0 || eq + 1 >= arg.size()) {
                error = "--picture needs SLOT=FILE with a slot 73..86 or its name (Logo_Start, Picture_1, ...), "
                        "not \"" + arg + "\"";
                return false;
            }
            inv.slotPictures.emplace_back(slot, arg.substr(eq + 1));
        }
        if (inv.command == Command::Qr) {
            if (inv.text.empty() && inv.qrPicture.empty()) {
                error = "qr needs a TEXT or --picture FILE";
                return false;
            }
            if (inv.atPicture > 0 && inv.text.empty()) {
                error = "qr --at needs a TEXT";
                return false;
            }
        }
        return true;
    }
};

} // namespace

static ParseResult parseArguments(const std::vector<std::string>& args);

const std::vector<SettingsGroup>& SettingsGroups()
{
    static const std::vector<SettingsGroup> groups = {
        {"welcome", "welcome message lines 1 and 2 and their scrolling (Welcome Message Set)"},
        {"header", "header text and background colours and what it shows (Header)"},
        {"text", "main text colours, line count and the text itself (Text)"},
        {"footer", "footer text and background colours (Footer Message)"},
        {"brightness", "the brightness (Brightness adjustment)"},
        {"baud-rate", "the display's line speed (Baudrate Set); later commands follow it"},
        {"command-set", "the command set the display emulates (Command Set)"},
        {"play-list", "play pictures, standby time and play interval (Play Setting)"},
        {"code-page", "international character set and code page (CodePage Setting)"},
    };
    return groups;
}

int ItemPosition(const std::string& argument)
{
    const int number = numberIn(argument, 1, kCatalogueSize);
    if (number > 0)
        return number;
    const std::string wanted = lower(argument);
    for (int pos = 1; pos <= kCatalogueSize; ++pos)
        if (lower(DownloadItemAt(pos).Name) == wanted)
            return pos;
    return 0;
}

int SlotNumber(const std::string& argument)
{
    const int number = numberIn(argument, kFirstSlot, kLastSlot);
    if (number > 0)
        return number;
    const int position = ItemPosition(argument);
    if (position >= kFirstPicturePos && position <= kLastPicturePos && numberIn(argument, 0, 9999) < 0)
        return QueuePositionSlot(position);
    return 0;
}

int CodePageRow(const std::string& argument)
{
    const std::string wanted = lower(argument);
    for (int row = 0; row < kCodePageCount; ++row)
        if (lower(CodePageTable[static_cast<std::size_t>(row)].DisplayName) == wanted)
            return row;
    return -1;
}

void VisitCommandDefinitions(const std::function<void(CLI::App&)>& visit)
{
    Parser parser;
    visit(parser.app);
}

ParseResult ParseArguments(int argc, const char* const* argv)
{
    std::vector<std::string> args(argv, argv + argc);
    return ParseArguments(args);
}

namespace {

// The result object a usage error gives with --json.
std::string usageJson(const std::string& command, const std::string& error)
{
    std::string text = error;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (text.rfind("tarsel-cli: ", 0) == 0)
        text.erase(0, 12);
    const auto hint = text.find("\nRun with --help");
    if (hint != std::string::npos)
        text.erase(hint);
    nlohmann::ordered_json e;
    e["event"] = "result";
    e["command"] = command;
    e["exit"] = kExitUsage;
    e["ok"] = false;
    e["outcome"] = "unusable-input";
    e["error"] = text;
    return e.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// The first argument that is not an option (nor an option's value): the command.
std::string commandWord(const std::vector<std::string>& args)
{
    static const std::set<std::string> withValue = {"-p", "--port", "--baud"};
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (withValue.count(a)) {
            ++i;
            continue;
        }
        if (!a.empty() && a[0] == '-')
            continue;
        return a;
    }
    return {};
}

} // namespace

ParseResult ParseArguments(const std::vector<std::string>& args)
{
    ParseResult result = parseArguments(args);
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    if (result.action == ParseResult::Action::Exit && result.exitCode == kExitUsage && json) {
        std::string command = commandWord(args);
        result.out = usageJson(command, result.err);
    }
    return result;
}

static ParseResult parseArguments(const std::vector<std::string>& args)
{
    ParseResult result;
    Parser parser;
    std::ostringstream out, err;
    // A command that does not exist is named as such (the parser would only say that
    // a command is missing).
    if (const std::string word = commandWord(args); !word.empty()) {
        std::vector<std::string> known;
        for (const auto& [sub, c] : parser.commands)
            if (sub->get_parent() == &parser.app)
                known.push_back(sub->get_name());
        known.emplace_back("settings");
        if (std::find(known.begin(), known.end(), word) == known.end()) {
            std::sort(known.begin(), known.end());
            std::string list;
            for (const std::string& k : known)
                list += (list.empty() ? "" : ", ") + k;
            result.err = "tarsel-cli: unknown command \"" + word + "\" (commands: " + list +
                         ")\nRun with --help for more information.\n";
            result.exitCode = kExitUsage;
            return result;
        }
    }
    try {
        // CLI11 takes the arguments after the program, last one first.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        if (!reversed.empty())
            reversed.pop_back();
        parser.app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = parser.app.exit(e, out, err);
        result.out = out.str();
        result.err = err.str();
        result.exitCode = code == 0 ? kExitOk : kExitUsage;
        return result;
    }
    std::string error;
    if (!parser.finish(error)) {
        result.err = "tarsel-cli: " + error + "\nRun with --help for more information.\n";
        result.exitCode = kExitUsage;
        return result;
    }
    result.action = ParseResult::Action::Run;
    result.invocation = parser.inv;
    return result;
}

} // namespace tarsel::cli
