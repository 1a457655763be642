#include "ui/command_line.h"

#include "util/version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QRegularExpression>

#include <cstdio>

namespace tarsel::ui {

namespace {

constexpr char kProgram[] = "tarsel";

// Printed after the options; the manual page takes it as its ENVIRONMENT section.
constexpr char kEnvironment[] =
    "\n"
    "Environment:\n"
    "  TARSEL_PORT    The port to select at start when --port is not given.\n";

} // namespace

CommandLine parseCommandLine(const QStringList& args, const QString& portFromEnvironment)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Configures point-of-sale customer displays over a serial line: finds the\n"
        "display and its line speed, reads and writes its settings, and downloads\n"
        "fonts, pictures and firmware into it.\n"
        "\n"
        "Opening a serial port needs membership of the 'dialout' group\n"
        "(sudo usermod -aG dialout $USER, then log in again)."));
    // Own help option: the toolkit's --help-all would list options this program does
    // not take before its window exists.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the program's version and exit."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Select the serial port <path> at start "
                                                 "(for example /dev/ttyUSB0) when it is listed."),
                                  QStringLiteral("path"));
    const QCommandLineOption screen(QStringLiteral("show-screen"),
                                    QStringLiteral("Only show the picture <file> in a small window and follow it "
                                                   "as it is rewritten (the screen a virtual display draws "
                                                   "with its --screen option)."),
                                    QStringLiteral("file"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(port);
    parser.addOption(screen);

    const bool parsed = parser.parse(args);
    CommandLine result;
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::Help;
        // Usage names the program as it is installed, not the path it was started by.
        result.text = parser.helpText().replace(
                          QRegularExpression(QStringLiteral("^Usage: \\S+")),
                          QStringLiteral("Usage: ") + QLatin1String(kProgram))
            + QLatin1String(kEnvironment);
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        result.text = QLatin1String(kProgram) + QLatin1Char(' ') + QLatin1String(TARSEL_VERSION);
        return result;
    }
    if (!parsed) {
        result.action = CommandLine::Action::Error;
        result.text = parser.errorText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.action = CommandLine::Action::Error;
        result.text = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
        return result;
    }
    const QString chosen = parser.isSet(port) ? parser.value(port) : portFromEnvironment;
    if (parser.isSet(port) && chosen.isEmpty()) {
        result.action = CommandLine::Action::Error;
        result.text = QStringLiteral("--port needs the path of a serial port.");
        return result;
    }
    result.preferredPort = chosen.toStdString();
    if (parser.isSet(screen)) {
        result.screenFile = parser.value(screen);
        if (result.screenFile.isEmpty()) {
            result.action = CommandLine::Action::Error;
            result.text = QStringLiteral("--show-screen needs the path of a picture.");
        }
    }
    return result;
}

QStringList argumentList(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    return args;
}

int reportCommandLine(const CommandLine& commandLine)
{
    switch (commandLine.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version: {
        QString text = commandLine.text;
        if (!text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        return 0;
    }
    case CommandLine::Action::Error:
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                     commandLine.text.toLocal8Bit().constData(), kProgram);
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    return 0;
}

} // namespace tarsel::ui
