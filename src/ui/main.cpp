#include "ui/tarselmain.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarsel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarsel"));
    QApplication::setDesktopFileName(QStringLiteral("tarsel"));
    TarselMain window;
    window.show();
    return app.exec();
}
