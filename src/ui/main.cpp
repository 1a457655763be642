#include "ui/screenshots.h"
#include "ui/tarselmain.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TarselMain::initApplication();

    // Hidden mode used by scripts/screenshots: a picture of every tab, then exit.
    const QString shots = qEnvironmentVariable("TARSEL_SCREENSHOTS");
    if (!shots.isEmpty())
        return tarsel::ui::writeScreenshots(shots, qEnvironmentVariable("TARSEL_SCREENSHOT_PORT"));

    // scripts/run names the virtual display it started, so that it is selected
    // rather than a built-in port that has no display behind it.
    TarselMain::Options options;
    options.preferredPort = qEnvironmentVariable("TARSEL_PORT").toStdString();
    TarselMain window(options);
    window.show();
    return app.exec();
}
