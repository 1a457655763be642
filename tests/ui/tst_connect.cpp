// Connect in the real window against the display core on a virtual line: the baud
// scan, model detection, model-dependent controls, version check, failure handling,
// a port that goes away, Cancel, and that the window keeps answering meanwhile.
// (The scan over a real pseudo-terminal is tst_connect_pty.)
#include "link/frame_log.h"
#include "support/ui_test_support.h"
#include "support/virtual_link.h"
#include "ui/settings_controller.h"
#include "ui/window_forms.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <memory>

using namespace tarsel::uitest;
using tarsel::test::displayConfig;
using tarsel::test::VirtualLine;

namespace {

const tarsel::Bytes kModelQuery = tarsel::bytesOf({0x02, 0x07, 0x16, 0x01});

tarsel::sim::DisplayCore::Config display(const std::string& model, int baud, int version = 12, bool silent = false)
{
    auto c = displayConfig(model, baud);
    c.version = version;
    c.faults.silent = silent;
    return c;
}

// The guest slot's picture, tick and buttons.
std::vector<QWidget*> slot86(TarselMain& w)
{
    const auto& p = w.picturePage();
    return {p.cxImage86, p.CheckBox86, p.Button27, p.Button28};
}

// The picture-number controls of the display test page.
std::vector<QWidget*> pictureNumber(TarselMain& w)
{
    const auto& t = w.testPage();
    return {t.lbl_PicNo, t.ud_PicNo, t.btn_ShowQrCodeAt};
}

bool allVisible(const std::vector<QWidget*>& controls)
{
    for (QWidget* c : controls)
        if (!shownOnPage(c))
            return false;
    return true;
}

bool noneVisible(const std::vector<QWidget*>& controls)
{
    for (QWidget* c : controls)
        if (shownOnPage(c))
            return false;
    return true;
}

std::vector<int> openBauds(const VirtualLine& line)
{
    std::vector<int> bauds;
    for (const auto& e : line.portEvents())
        if (e.kind == VirtualLine::PortEvent::Kind::Open)
            bauds.push_back(e.baud);
    return bauds;
}

} // namespace

class TstConnect : public QObject {
    Q_OBJECT

private slots:
    void modelDecidesVersionCheckAndControls_data();
    void modelDecidesVersionCheckAndControls();
    void secondConnectStartsOverAndHidesControls();
    void silentDisplayShowsOneErrorWhileTheWindowKeepsAnswering();
    void portThatCannotBeOpened();
    void vanishedPortIsNeverReplaced();
    void cancelAllDownloadAgainstASilentDisplay();
};

void TstConnect::modelDecidesVersionCheckAndControls_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("modelIndex");
    QTest::addColumn<bool>("checksVersion");
    QTest::addColumn<bool>("hasSlot86");
    QTest::newRow("current firmware, no warning") << "KT710-II" << 9600 << 12 << 6 << true << true;
    QTest::newRow("no version check, no guest slot") << "KT310--IIB" << 19200 << 5 << 1 << false << false;
}

void TstConnect::modelDecidesVersionCheckAndControls()
{
    QFETCH(QString, model);
    QFETCH(int, baud);
    QFETCH(int, version);
    QFETCH(int, modelIndex);
    QFETCH(bool, checksVersion);
    QFETCH(bool, hasSlot86);

    VirtualWindow v(display(model.toStdString(), baud, version));
    QVERIFY2(v.open(), v.error());
    QVERIFY2(v.connect(), v.error());
    TarselMain& w = v.window();
    QCOMPARE(w.modelIndex(), modelIndex);
    QCOMPARE(w.link().BaudRate, baud);
    QCOMPARE(w.frame().cbb_BaudRate->currentText(), QString::number(baud));
    v.line.runFor(10); // the clear frame is still on the wire when a scan without version ends
    QCOMPARE(v.countRecords("ClearDisplay"), std::size_t(1));
    QCOMPARE(v.countRecords("ReadVersion"), std::size_t(checksVersion ? 1 : 0));
    QCOMPARE(w.firmwarePage().lbl_show_deviceModel->text(), checksVersion ? model : QString());
    QCOMPARE(w.firmwarePage().lbl_show_currentVersion->text(),
             checksVersion ? QStringLiteral("V%1").arg(version) : QString());
    QCOMPARE(allVisible(slot86(w)), hasSlot86);
    QCOMPARE(noneVisible(slot86(w)), !hasSlot86);
    QVERIFY(allVisible(pictureNumber(w)));
    QVERIFY(!tabVisible(w, w.frame().tsFirmwareUpdates)); // the firmware is current or not checked
    QCOMPARE(v.boxes.boxes.size(), 1);
    QCOMPARE(v.boxes.boxes[0].text, QStringLiteral("Connected to %1!").arg(model));
    QCOMPARE(v.boxes.boxes[0].flags, 64);
}

void TstConnect::secondConnectStartsOverAndHidesControls()
{
    VirtualWindow v(display("KT710-II", 38400, 11));
    QVERIFY2(v.open(), v.error());
    QVERIFY2(v.connect(), v.error());
    TarselMain& w = v.window();
    QCOMPARE(w.modelIndex(), 6);
    QVERIFY(tabVisible(w, w.frame().tsFirmwareUpdates));

    // Another display on the same port: a KT310--IIA at 9600.
    v.plugIn(display("KT310--IIA", 9600, 11));
    v.boxes.boxes.clear();
    auto* baud = w.frame().cbb_BaudRate;
    QSignalSpy tried(baud, &QComboBox::currentIndexChanged);
    w.btnConnectClick();
    // Hidden at once, before the display answers.
    QVERIFY(noneVisible(slot86(w)) && noneVisible(pictureNumber(w)));
    QVERIFY(!tabVisible(w, w.frame().tsFirmwareUpdates));
    QVERIFY(waitIdle(w));
    QCOMPARE(tried.count(), 1);
    QCOMPARE(tried.at(0).at(0).toInt(), 0); // starts again from 9600
    QCOMPARE(w.link().BaudRate, 9600);
    QCOMPARE(w.modelIndex(), 0);
    QVERIFY(noneVisible(slot86(w)) && noneVisible(pictureNumber(w)));
    QVERIFY(!tabVisible(w, w.frame().tsFirmwareUpdates));
    QCOMPARE(v.boxes.boxes.size(), 1);
    QCOMPARE(v.boxes.boxes[0].text, QStringLiteral("Connected to KT310--IIA!"));
}

// A display that never answers: every speed is tried with its exact waits, one error
// box ends the scan, and the window's event loop runs all the while (the scan runs on
// the device worker: held in the middle of the scan, the window still handles its
// timers and shows the speed being tried).
void TstConnect::silentDisplayShowsOneErrorWhileTheWindowKeepsAnswering()
{
    VirtualWindow v(display("KT710-II", 9600, 12, /*silent=*/true));
    QVERIFY2(v.open(), v.error());
    TarselMain& w = v.window();
    WorkerGate gate;
    int heard = 0;
    v.line.onRecord([&](const tarsel::sim::Record&) {
        if (++heard == 2) // the query at 19200, heard as noise
            gate.hold();
    });
    std::atomic<int> ticks{0};
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { ++ticks; });
    probe.start(5);
    w.btnConnectClick();
    QVERIFY(gate.waitHeld());
    const int ticksAtHold = ticks;
    QTRY_VERIFY(ticks >= ticksAtHold + 3);
    QVERIFY(w.isBusy());
    QTRY_COMPARE(w.connectionText(), QStringLiteral("Connecting… 19200 bit/s"));
    QCOMPARE(w.frame().cbb_BaudRate->currentText(), QStringLiteral("19200"));
    gate.release();
    QVERIFY(waitIdle(w));
    probe.stop();

    QCOMPARE(v.boxes.boxes.size(), 1);
    QCOMPARE(v.boxes.boxes[0].text, QStringLiteral("Not found Device : Time out !"));
    QCOMPARE(v.boxes.boxes[0].flags, 16);
    QCOMPARE(openBauds(v.line), (std::vector<int>{9600, 19200, 38400, 57600, 115200}));
    tarsel::Bytes queries;
    for (int i = 0; i < 5; ++i)
        queries += kModelQuery;
    QCOMPARE(v.line.written("cmd"), queries);
    QVERIFY(v.line.written("text").empty()); // no ClearDisplay
    // Each speed: 100 ms pause, 86.4 ms wait for the name, 100 ms before the next speed.
    const auto writes = v.line.writes();
    QCOMPARE(writes.size(), std::size_t(5));
    for (std::size_t i = 1; i < writes.size(); ++i) {
        const double gap = writes[i].atMs - writes[i - 1].atMs;
        QVERIFY2(gap > 286.4 && gap <= 286.4 + VirtualLine::kMinWaitMs + 1e-6, qPrintable(QString::number(gap)));
    }
    // Left on the last speed; nothing else changed.
    QCOMPARE(w.frame().cbb_BaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(w.link().BaudRate, 115200);
    QCOMPARE(w.modelIndex(), -1);
    QCOMPARE(w.connectionText(), QStringLiteral("Not connected"));
    QVERIFY(!w.frame().PageControl1->isEnabled());
    QVERIFY(!w.frame().btn_GetSetting->isEnabled());
    QVERIFY(w.frame().grp_Settings->isEnabled());
    QVERIFY(!w.frame().cbb_BaudRate->isEnabled());
    QVERIFY(noneVisible(slot86(w)) && noneVisible(pictureNumber(w)));
}

void TstConnect::portThatCannotBeOpened()
{
    VirtualWindow v(display("KT710-II", 9600));
    VirtualLine::PortFaults faults;
    faults.busyElsewhere = true;
    v.line.setPortFaults(faults);
    QVERIFY2(v.open(), v.error());
    QVERIFY2(v.connect(), v.error());
    QCOMPARE(v.boxes.boxes.size(), 1);
    QCOMPARE(v.boxes.boxes[0].text,
             QStringLiteral(" Error opening serial port!\n%1: Device or resource busy").arg(v.port));
    QCOMPARE(v.boxes.boxes[0].flags, 16);
    QVERIFY(v.line.writes().empty());
    QCOMPARE(v.window().modelIndex(), -1);
}

// The selected port goes away (a USB adapter unplugged, a display restarting): the
// window says so and is "not connected", nothing is moved to the other port, and the
// port is selected again when it comes back under the same name.
void TstConnect::vanishedPortIsNeverReplaced()
{
    VirtualWindow v(display("KT710-II", 38400));
    const QString other = QDir(v.folder.path()).filePath(QStringLiteral("display-b"));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), other));
    QVERIFY2(v.open(), v.error());
    TarselMain& w = v.window();
    QCOMPARE(w.connectionText(), QStringLiteral("Not connected"));
    QVERIFY2(v.connect(), v.error());
    QCOMPARE(w.modelIndex(), 6);
    QCOMPARE(w.connectionText(), QStringLiteral("KT710-II V12, 38400 bit/s, %1").arg(v.port));
    QVERIFY(w.forms().status.lbl_Connection->toolTip() == w.connectionText());

    // The display goes away.
    v.unplug();
    w.refreshPortList();
    QVERIFY(w.selectedPortGone());
    QCOMPARE(QString::fromStdString(w.link().PortName), v.port);
    QCOMPARE(w.frame().cbb_SerialPort->currentText(), QStringLiteral("%1 (not present)").arg(v.port));
    QCOMPARE(w.connectionText(), QStringLiteral("Not connected: %1 went away").arg(v.port));
    QCOMPARE(w.modelIndex(), -1);
    QVERIFY(!w.frame().PageControl1->isEnabled());
    QVERIFY(!w.frame().btn_GetSetting->isEnabled());
    QVERIFY(w.frame().btnConnect->isEnabled());
    QVERIFY(noneVisible(slot86(w)));

    // Whatever still runs a command goes nowhere else: it cannot open the gone port.
    v.boxes.boxes.clear();
    const std::size_t heard = v.line.records().size();
    w.settingsController().btn_GetSettingClick();
    QVERIFY(waitIdle(w));
    QVERIFY(!v.boxes.boxes.isEmpty());
    QCOMPARE(v.boxes.boxes.last().text, QStringLiteral("Get Settings Error!"));
    w.refreshPortList();
    QVERIFY(w.selectedPortGone());
    QCOMPARE(v.line.records().size(), heard);
    QVERIFY(!QString::fromStdString(w.frameLog().text()).contains(QStringLiteral("display-b")));

    // It comes back under the same name: selected again; Connect finds it.
    v.plugBack();
    w.refreshPortList();
    QVERIFY(!w.selectedPortGone());
    QCOMPARE(w.frame().cbb_SerialPort->currentText(), v.port);
    QCOMPARE(QString::fromStdString(w.link().PortName), v.port);
    QCOMPARE(w.connectionText(), QStringLiteral("Not connected: %1 is back (press Connect)").arg(v.port));
    QVERIFY2(v.connect(), v.error());
    QCOMPARE(w.modelIndex(), 6);
    QVERIFY(!QString::fromStdString(w.frameLog().text()).contains(QStringLiteral("display-b")));
}

// Every Busy job can be cancelled: All Download against a display that never answers
// (about 150 s of waiting otherwise) ends the moment Cancel is clicked.
void TstConnect::cancelAllDownloadAgainstASilentDisplay()
{
    VirtualWindow v(display("KT710-II", 9600, 12, /*silent=*/true));
    QVERIFY2(v.open(), v.error());
    TarselMain& w = v.window();
    w.frame().cbbDisplayMode->setCurrentIndex(6);
    w.actBtnEnableExecute();
    v.boxes.yesNoAnswer = 6; // "Do you want to download all settings?"
    // Held in the wait for the third echo, which never comes.
    WorkerGate gate;
    double heldAt = 0;
    std::size_t heard = 0;
    v.line.onRecord([&](const tarsel::sim::Record&) {
        if (++heard == 3) {
            heldAt = v.line.nowMs();
            gate.hold();
        }
    });
    w.frame().btn_AllDownload->click();
    QVERIFY(gate.waitHeld());
    QVERIFY(w.isBusy());
    QPushButton* cancel = w.forms().status.btn_CancelRun;
    QVERIFY(!cancel->isHidden());
    cancel->click();
    gate.release();
    QVERIFY(waitIdle(w));
    QVERIFY(cancel->isHidden());
    QCOMPARE(v.boxes.boxes.last().text,
             QStringLiteral("All Download was cancelled: the display may hold only part of the settings."));
    QCOMPARE(v.boxes.boxes.last().flags, 64);
    // It ended there: no time passed on the line and nothing more went out.
    QCOMPARE(v.line.nowMs(), heldAt);
    QCOMPARE(v.line.records().size(), std::size_t(3));
    QVERIFY(w.frame().btn_AllDownload->isEnabled());
}

QTEST_MAIN(TstConnect)
#include "tst_connect.moc"
