// The window program's command line (--help, --version, --port and TARSEL_PORT) and
// what the application tells the desktop about itself: version, desktop id, icon.
#include "ui/command_line.h"
#include "ui/tarselmain.h"
#include "util/version.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QtTest>

using tarsel::ui::CommandLine;
using tarsel::ui::parseCommandLine;

Q_DECLARE_METATYPE(CommandLine::Action)

class TstCommandLine : public QObject {
    Q_OBJECT

private slots:
    void actionAndPort_data();
    void actionAndPort();
    void helpAndVersionTexts();
    void errorsNameTheArgument();
    void applicationIdentity();
};

void TstCommandLine::actionAndPort_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<CommandLine::Action>("action");
    QTest::addColumn<QString>("port");

    using A = CommandLine::Action;
    const QString virtualPort = QStringLiteral("/tmp/tarsel-1000/virtual-KT710-II-42");
    QTest::newRow("nothing") << QStringList{} << QString() << A::Run << QString();
    QTest::newRow("TARSEL_PORT") << QStringList{} << virtualPort << A::Run << virtualPort;
    QTest::newRow("--port PATH") << QStringList{"--port", "/dev/ttyUSB0"} << QString() << A::Run
                                 << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("--port=PATH") << QStringList{"--port=/dev/ttyACM1"} << QString() << A::Run
                                 << QStringLiteral("/dev/ttyACM1");
    QTest::newRow("--port wins over TARSEL_PORT")
        << QStringList{"--port", "/dev/ttyUSB0"} << virtualPort << A::Run << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("--port without a path") << QStringList{"--port"} << virtualPort << A::Error << QString();
    QTest::newRow("--port with an empty path") << QStringList{"--port", ""} << virtualPort << A::Error << QString();
    QTest::newRow("unknown option") << QStringList{"--bogus"} << QString() << A::Error << QString();
    QTest::newRow("a port without --port") << QStringList{"/dev/ttyUSB0"} << QString() << A::Error << QString();
    QTest::newRow("--help") << QStringList{"--help"} << QString() << A::Help << QString();
    QTest::newRow("-h") << QStringList{"-h"} << QString() << A::Help << QString();
    QTest::newRow("--version") << QStringList{"--version"} << QString() << A::Version << QString();
    QTest::newRow("-v") << QStringList{"-v"} << QString() << A::Version << QString();
    // Before the application exists the toolkit's own options are still there.
    QTest::newRow("--help beside toolkit options")
        << QStringList{"-platform", "offscreen", "--help"} << QString() << A::Help << QString();
    QTest::newRow("--version beside an unknown option")
        << QStringList{"--bogus", "--version"} << QString() << A::Version << QString();
    QTest::newRow("--help and --port") << QStringList{"--port", "/dev/ttyS0", "--help"} << QString() << A::Help
                                       << QString();
}

void TstCommandLine::actionAndPort()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, environment);
    QFETCH(CommandLine::Action, action);
    QFETCH(QString, port);

    arguments.prepend(QStringLiteral("/usr/bin/tarsel"));
    const CommandLine result = parseCommandLine(arguments, environment);
    QCOMPARE(result.action, action);
    QCOMPARE(QString::fromStdString(result.preferredPort), port);
    if (action == CommandLine::Action::Error)
        QVERIFY(!result.text.isEmpty());
}

void TstCommandLine::helpAndVersionTexts()
{
    // The version line is what the manual page and the package take the version from.
    const CommandLine version = parseCommandLine({"./build/src/ui/tarsel", "--version"}, QString());
    QCOMPARE(version.text, QStringLiteral("tarsel " TARSEL_VERSION));

    // Usage names the installed program, not the path it was started by.
    const CommandLine help = parseCommandLine({"./build/src/ui/tarsel", "--help"}, QString());
    QVERIFY2(help.text.startsWith(QStringLiteral("Usage: tarsel [options]\n")), qPrintable(help.text));
    for (const char* wanted : {"-h, --help", "-v, --version", "--port <path>", "TARSEL_PORT", "dialout"})
        QVERIFY2(help.text.contains(QLatin1String(wanted)), wanted);
    // Only the options this program answers to: nothing that needs a window first.
    QVERIFY(!help.text.contains(QLatin1String("--help-all")));
}

void TstCommandLine::errorsNameTheArgument()
{
    QVERIFY(parseCommandLine({"tarsel", "--bogus"}, QString()).text.contains(QLatin1String("bogus")));
    QVERIFY(parseCommandLine({"tarsel", "COM3"}, QString()).text.contains(QLatin1String("COM3")));
    QVERIFY(parseCommandLine({"tarsel", "--port"}, QString()).text.contains(QLatin1String("port")));
}

void TstCommandLine::applicationIdentity()
{
    TarselMain::initApplication();
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral(TARSEL_VERSION));
    // The desktop matches the window to its entry (and the entry's icon) by this id.
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral(TARSEL_APP_ID));

    // The window icon is the program's own picture, also where no icon theme has it.
    const QIcon icon = QApplication::windowIcon();
    QVERIFY(!icon.isNull());
    const QImage small = icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(small.size(), QSize(32, 32));
    // The header band of the display's screen in the picture is blue; the corner is
    // transparent.
    const QColor screen = small.pixelColor(16, 6);
    QVERIFY2(screen.blue() > 150 && screen.red() < 100 && screen.alpha() == 255,
             qPrintable(screen.name(QColor::HexArgb)));
    QCOMPARE(small.pixelColor(0, 31).alpha(), 0);
    QWidget window;
    QCOMPARE(window.windowIcon().cacheKey(), icon.cacheKey());
}

QTEST_MAIN(TstCommandLine)
#include "tst_command_line.moc"
