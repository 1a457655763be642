#include "ui/command_line.h"
#include "ui/screen_viewer.h"
#include "ui/screenshots.h"
#include "ui/tarselmain.h"

#include <QApplication>

int main(int argc, char** argv)
{
    using tarsel::ui::CommandLine;
    // scripts/run names the virtual display it started in TARSEL_PORT, so that it is
    // selected rather than a built-in port that has no display behind it.
    const QString portFromEnvironment = qEnvironmentVariable("TARSEL_PORT");

    // --help and --version answer before the application exists: they need no display
    // (the manual page is made from them during the build).
    CommandLine commandLine = tarsel::ui::parseCommandLine(tarsel::ui::argumentList(argc, argv), portFromEnvironment);
    if (commandLine.action == CommandLine::Action::Help || commandLine.action == CommandLine::Action::Version)
        return tarsel::ui::reportCommandLine(commandLine);

    QApplication app(argc, argv);
    TarselMain::initApplication();
    // Again without the toolkit's own options, which the application has taken out.
    commandLine = tarsel::ui::parseCommandLine(QCoreApplication::arguments(), portFromEnvironment);
    if (commandLine.action != CommandLine::Action::Run)
        return tarsel::ui::reportCommandLine(commandLine);

    // Hidden mode used by scripts/screenshots: a picture of every tab, then exit.
    const QString shots = qEnvironmentVariable("TARSEL_SCREENSHOTS");
    if (!shots.isEmpty())
        return tarsel::ui::writeScreenshots(shots, qEnvironmentVariable("TARSEL_SCREENSHOT_PORT"));

    if (!commandLine.screenFile.isEmpty()) {
        tarsel::ui::ScreenViewer viewer(commandLine.screenFile);
        viewer.show();
        return app.exec();
    }

    TarselMain::Options options;
    options.preferredPort = commandLine.preferredPort;
    TarselMain window(options);
    window.show();
    return app.exec();
}
