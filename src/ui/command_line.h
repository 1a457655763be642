// The window program's command line: --help, --version and --port PATH (the port to
// select at start; $TARSEL_PORT when --port is not given).
#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace tarsel::ui {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // Help: the help text; Version: the version line; Error: what is wrong (one line).
    QString text;
    // The port selected at start when it is listed: --port, else $TARSEL_PORT.
    std::string preferredPort;
    // --show-screen FILE: instead of the main window, a small window that shows the
    // picture FILE and follows it as it is rewritten (a virtual display's screen).
    QString screenFile;
};

// Parses the arguments (args[0] is the program). `portFromEnvironment` is the value of
// TARSEL_PORT. --help and --version win over every other argument, so that they answer
// even while the arguments still hold the toolkit's own options (-platform, -style…).
CommandLine parseCommandLine(const QStringList& args, const QString& portFromEnvironment);

// argv as a list, before any application object exists.
QStringList argumentList(int argc, char** argv);

// Prints what a Help, Version or Error result says: help and version on standard output
// (returns 0), an error with a hint to --help on standard error (returns 2).
int reportCommandLine(const CommandLine& commandLine);

} // namespace tarsel::ui
