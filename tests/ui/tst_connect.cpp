// Connect against virtual displays (real ptys, real time) and against a scripted
// line: the baud scan, model detection, model-dependent controls, version check,
// failure handling, and that the window keeps answering meanwhile.
#include "support/ui_test_support.h"
#include "ui/settings_controller.h"
#include "ui/window_forms.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace tarsel::uitest;

namespace {

const char* const kWarning =
    "The current firmware version is lower than the latest version.\n\nPlease update the firmware version.";

int countRecords(tarsel::sim::VirtualDisplay* d, const char* name)
{
    return static_cast<int>(d->recordsNamed(name).size());
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

} // namespace

class TstConnect : public QObject {
    Q_OBJECT

private slots:
    void findsDisplayAt38400WithOldFirmware();
    void currentFirmwareGivesNoWarning();
    void modelWithoutSlot86OrVersionCheck();
    void secondConnectStartsOverAndHidesControls();
    void silentLineShowsOneError();
    void portThatCannotBeOpened();
    void windowKeepsAnsweringDuringConnect();
    void vanishedPortIsNeverReplaced();
    void cancelAllDownloadAgainstASilentDisplay();
};

void TstConnect::findsDisplayAt38400WithOldFirmware()
{
    SimWindow s;
    QVERIFY2(s.open("KT710-II", 38400, 11), s.error());
    TarselMain& w = s.window();
    auto* baud = w.frame().cbb_BaudRate;
    QSignalSpy tried(baud, &QComboBox::currentIndexChanged);
    QSignalSpy connected(&w, &TarselMain::deviceConnected);

    QTest::mouseClick(w.frame().btnConnect, Qt::LeftButton);
    QVERIFY(w.isBusy());
    QVERIFY(waitIdle(w));

    // 9600 (already shown), 19200, then 38400 answers.
    QCOMPARE(tried.count(), 2);
    QCOMPARE(tried.at(0).at(0).toInt(), 1);
    QCOMPARE(tried.at(1).at(0).toInt(), 2);
    QCOMPARE(baud->currentText(), QStringLiteral("38400"));
    QCOMPARE(w.link().BaudRate, 38400);
    QVERIFY(countRecords(s.sim.display(), "Noise") >= 1); // the tries at other speeds

    QCOMPARE(w.modelIndex(), 6);
    QCOMPARE(w.frame().cbbDisplayMode->currentText(), QStringLiteral("KT710-II"));
    QCOMPARE(connected.count(), 1);
    QCOMPARE(connected.at(0).at(0).toInt(), 6);
    QVERIFY(allVisible(slot86(w)));
    QVERIFY(allVisible(pictureNumber(w)));
    QVERIFY(tabVisible(w, w.frame().tsFirmwareUpdates));
    QVERIFY(!tabVisible(w, w.frame().tsDownloadFile));
    QCOMPARE(w.firmwarePage().lbl_show_deviceModel->text(), QStringLiteral("KT710-II"));
    QCOMPARE(w.firmwarePage().lbl_show_currentVersion->text(), QStringLiteral("V11"));
    QCOMPARE(countRecords(s.sim.display(), "ClearDisplay"), 1);
    QCOMPARE(countRecords(s.sim.display(), "ReadVersion"), 1);

    QCOMPARE(s.boxes.boxes.size(), 2);
    QCOMPARE(s.boxes.boxes[0].text, QStringLiteral("Connected to KT710-II!"));
    QCOMPARE(s.boxes.boxes[0].flags, 64);
    QCOMPARE(s.boxes.boxes[1].text, QString::fromLatin1(kWarning));
    QCOMPARE(s.boxes.boxes[1].flags, 48);

    // Connected: everything usable except the baud and model lists.
    QVERIFY(w.frame().PageControl1->isEnabled());
    QVERIFY(w.frame().btn_AllDownload->isEnabled());
    QVERIFY(w.frame().btnConnect->isEnabled());
    QVERIFY(!baud->isEnabled());
    QVERIFY(!w.frame().cbbDisplayMode->isEnabled());
}

void TstConnect::currentFirmwareGivesNoWarning()
{
    SimWindow s;
    QVERIFY2(s.open("KT710-II", 9600, 12), s.error());
    QVERIFY2(s.connect(), s.error());
    TarselMain& w = s.window();
    QCOMPARE(w.link().BaudRate, 9600);
    QCOMPARE(w.modelIndex(), 6);
    QCOMPARE(w.firmwarePage().lbl_show_currentVersion->text(), QStringLiteral("V12"));
    QVERIFY(!tabVisible(w, w.frame().tsFirmwareUpdates));
    QCOMPARE(s.boxes.boxes.size(), 1);
    QCOMPARE(s.boxes.boxes[0].text, QStringLiteral("Connected to KT710-II!"));
}

void TstConnect::modelWithoutSlot86OrVersionCheck()
{
    SimWindow s;
    QVERIFY2(s.open("KT310--IIB", 19200, 5), s.error());
    QVERIFY2(s.connect(), s.error());
    TarselMain& w = s.window();
    QCOMPARE(w.modelIndex(), 1);
    QCOMPARE(w.frame().cbb_BaudRate->currentText(), QStringLiteral("19200"));
    QVERIFY(allVisible(pictureNumber(w)));
    QVERIFY(noneVisible(slot86(w)));
    QVERIFY(!tabVisible(w, w.frame().tsFirmwareUpdates));
    QCOMPARE(countRecords(s.sim.display(), "ReadVersion"), 0);
    QVERIFY(w.firmwarePage().lbl_show_deviceModel->text().isEmpty());
    QCOMPARE(s.boxes.boxes.size(), 1);
    QCOMPARE(s.boxes.boxes[0].text, QStringLiteral("Connected to KT310--IIB!"));
}

void TstConnect::secondConnectStartsOverAndHidesControls()
{
    SimWindow s;
    QVERIFY2(s.open("KT710-II", 38400, 11), s.error());
    QVERIFY2(s.connect(), s.error());
    TarselMain& w = s.window();
    QCOMPARE(w.modelIndex(), 6);
    QVERIFY(tabVisible(w, w.frame().tsFirmwareUpdates));

    // Another display on the same port: a KT310--IIA at 9600.
    s.sim.stop();
    QVERIFY2(s.sim.start("KT310--IIA", 9600, 11), s.sim.lastError.c_str());
    QVERIFY(selectPort(w, s.sim.portPath()));
    s.boxes.boxes.clear();
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
    QCOMPARE(s.boxes.boxes.size(), 1);
    QCOMPARE(s.boxes.boxes[0].text, QStringLiteral("Connected to KT310--IIA!"));
}

// A scripted line that never answers, on a virtual clock: the scan ends at once.
void TstConnect::silentLineShowsOneError()
{
    ScriptedLine scripted;
    QVERIFY(scripted.addPort(QStringLiteral("silent")));
    auto& line = scripted.line;
    BoxRecorder boxes;
    TarselMain w(scripted.options(boxes));
    w.show();
    QVERIFY(selectPort(w, scripted.port));
    w.btnConnectClick();
    QVERIFY(waitIdle(w));

    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Not found Device : Time out !"));
    QCOMPARE(boxes.boxes[0].flags, 16);
    QCOMPARE(line.openBauds, (std::vector<int>{9600, 19200, 38400, 57600, 115200}));
    tarsel::Bytes queries;
    for (int i = 0; i < 5; ++i)
        queries += tarsel::bytesOf({0x02, 0x07, 0x16, 0x01});
    QCOMPARE(line.written("cmd"), queries);
    QVERIFY(line.written("text").empty()); // no ClearDisplay
    // Each speed: 100 ms pause, 86.4 ms wait for the name, 100 ms before the next speed.
    QCOMPARE(line.writes.size(), std::size_t(5));
    for (std::size_t i = 1; i < line.writes.size(); ++i) {
        const double gap = line.writes[i].at - line.writes[i - 1].at;
        QVERIFY2(gap > 286.4 && gap <= 286.4 + line.readStepMs + 1e-6, qPrintable(QString::number(gap)));
    }
    // Left on the last speed; nothing else changed.
    QCOMPARE(w.frame().cbb_BaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(w.link().BaudRate, 115200);
    QCOMPARE(w.modelIndex(), -1);
    QVERIFY(!w.frame().PageControl1->isEnabled());
    QVERIFY(!w.frame().btn_GetSetting->isEnabled());
    QVERIFY(w.frame().grp_Settings->isEnabled());
    QVERIFY(!w.frame().cbb_BaudRate->isEnabled());
    QVERIFY(noneVisible(slot86(w)) && noneVisible(pictureNumber(w)));
}

void TstConnect::portThatCannotBeOpened()
{
    ScriptedLine scripted;
    QVERIFY(scripted.addPort(QStringLiteral("busy")));
    scripted.line.failOpen = true;
    BoxRecorder boxes;
    TarselMain w(scripted.options(boxes));
    QVERIFY(selectPort(w, scripted.port));
    w.btnConnectClick();
    QVERIFY(waitIdle(w));
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, QStringLiteral(" Error opening serial port!"));
    QVERIFY(scripted.line.writes.empty());
}

// A silent display in real time: the scan takes about 1.5 s; meanwhile the window's
// event loop keeps running. A 10 ms timer keeps ticking while the window is busy; a scan
// run on the window's thread would hold it for the whole 1.5 s. The bounds leave room for
// a machine busy with other work (a gap of 150 ms has been seen there).
void TstConnect::windowKeepsAnsweringDuringConnect()
{
    SimWindow s;
    QVERIFY2(s.open("KT710-II", 9600, 12, /*silent=*/true), s.error());
    TarselMain& w = s.window();

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worstGap = 0;
    int ticks = 0;
    QTimer probe;
    probe.setInterval(10);
    int busyTicks = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstGap = std::max(worstGap, now - last);
        last = now;
        ++ticks;
        if (w.isBusy())
            ++busyTicks;
    });
    clock.start();
    probe.start();
    w.btnConnectClick();
    QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 10000);
    probe.stop();
    qInfo("Connect against a silent line: %lld ms, %d timer ticks, longest gap %lld ms",
          static_cast<long long>(clock.elapsed()), ticks, static_cast<long long>(worstGap));
    QVERIFY(clock.elapsed() > 1000); // the scan really waited on the line
    QVERIFY2(busyTicks >= 20, qPrintable(QStringLiteral("%1 timer ticks while busy").arg(busyTicks)));
    QVERIFY2(worstGap < 500, qPrintable(QStringLiteral("window blocked for %1 ms").arg(worstGap)));
    QCOMPARE(s.boxes.boxes.size(), 1);
    QCOMPARE(s.boxes.boxes[0].text, QStringLiteral("Not found Device : Time out !"));
    QVERIFY(countRecords(s.sim.display(), "ModelQuery") >= 1);
}


// A virtual display registered under a fixed name in `folder`, as one that is unplugged
// and plugged in again comes back under its stable name.
std::unique_ptr<tarsel::sim::VirtualDisplay> startNamed(const QString& folder, const std::string& name,
                                                        const std::string& model)
{
    tarsel::sim::Options o;
    o.model = model;
    o.baud = 38400;
    o.linkFolder = folder.toStdString();
    o.linkName = name;
    auto d = std::make_unique<tarsel::sim::VirtualDisplay>(o);
    std::string error;
    if (!d->start(&error))
        return nullptr;
    return d;
}

// The selected port goes away (a USB adapter unplugged, a display restarting): the
// window says so and is "not connected", nothing is moved to the other port, and the
// port is selected again when it comes back under the same name.
void TstConnect::vanishedPortIsNeverReplaced()
{
    QTemporaryDir folder;
    auto a = startNamed(folder.path(), "display-a", "KT710-II");
    auto b = startNamed(folder.path(), "display-b", "KT310-IID");
    QVERIFY(a && b);
    const QString pathA = QString::fromStdString(a->linkPath());
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, folder.path()));
    w.show();
    QVERIFY(selectPort(w, pathA));
    QCOMPARE(w.connectionText(), QStringLiteral("Not connected"));

    // The connection widget through Connect: each speed tried, then what answered where.
    QStringList seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.last() != w.connectionText())
            seen << w.connectionText();
    });
    watch.start(1);
    w.btnConnectClick();
    QVERIFY(waitIdle(w));
    watch.stop();
    QCOMPARE(w.modelIndex(), 6);
    QCOMPARE(w.connectionText(), QStringLiteral("KT710-II V12, 38400 bit/s, %1").arg(pathA));
    QVERIFY2(seen.contains(QStringLiteral("Connecting… 9600 bit/s")), qPrintable(seen.join(QLatin1Char('|'))));
    QVERIFY(w.forms().status.lbl_Connection->toolTip() == w.connectionText());

    // Display A goes away.
    a->stop();
    b->clearRecords();
    w.refreshPortList();
    QVERIFY(w.selectedPortGone());
    QCOMPARE(QString::fromStdString(w.link().PortName), pathA);
    QCOMPARE(w.frame().cbb_SerialPort->currentText(), QStringLiteral("%1 (not present)").arg(pathA));
    QCOMPARE(w.connectionText(), QStringLiteral("Not connected: %1 went away").arg(pathA));
    QCOMPARE(w.modelIndex(), -1);
    QVERIFY(!w.frame().PageControl1->isEnabled());
    QVERIFY(!w.frame().btn_GetSetting->isEnabled());
    QVERIFY(w.frame().btnConnect->isEnabled());
    QVERIFY(noneVisible(slot86(w)));

    // Whatever still runs a command goes nowhere else: it cannot open the gone port.
    boxes.boxes.clear();
    w.settingsController().btn_GetSettingClick();
    QVERIFY(waitIdle(w));
    QVERIFY(!boxes.boxes.isEmpty());
    QCOMPARE(boxes.boxes.last().text, QStringLiteral("Get Settings Error!"));
    w.refreshPortList();
    QVERIFY(w.selectedPortGone());
    QVERIFY(b->records().empty());

    // It comes back under the same name: selected again; Connect finds it.
    a = startNamed(folder.path(), "display-a", "KT710-II");
    QVERIFY(a);
    w.refreshPortList();
    QVERIFY(!w.selectedPortGone());
    QCOMPARE(w.frame().cbb_SerialPort->currentText(), pathA);
    QCOMPARE(QString::fromStdString(w.link().PortName), pathA);
    QCOMPARE(w.connectionText(), QStringLiteral("Not connected: %1 is back (press Connect)").arg(pathA));
    w.btnConnectClick();
    QVERIFY(waitIdle(w));
    QCOMPARE(w.modelIndex(), 6);
    QVERIFY(b->records().empty());
}

// Every Busy job can be cancelled: All Download against a display that never answers
// (about 150 s of waiting otherwise) ends within a second of Cancel.
void TstConnect::cancelAllDownloadAgainstASilentDisplay()
{
    SimWindow s;
    QVERIFY2(s.open("KT710-II", 9600, 12, /*silent=*/true), s.error());
    TarselMain& w = s.window();
    w.frame().cbbDisplayMode->setCurrentIndex(6);
    w.actBtnEnableExecute();
    s.boxes.yesNoAnswer = 6; // "Do you want to download all settings?"
    w.frame().btn_AllDownload->click();
    QVERIFY(w.isBusy());
    QPushButton* cancel = w.forms().status.btn_CancelRun;
    QVERIFY(!cancel->isHidden());
    QTest::qWait(500);
    QVERIFY(w.isBusy());
    const std::size_t heardBefore = s.sim.display()->records().size();
    QElapsedTimer sinceCancel;
    sinceCancel.start();
    cancel->click();
    QVERIFY(waitIdle(w, 5000));
    QVERIFY2(sinceCancel.elapsed() < 1000, qPrintable(QString::number(sinceCancel.elapsed())));
    QVERIFY(cancel->isHidden());
    QCOMPARE(s.boxes.boxes.last().text,
             QStringLiteral("All Download was cancelled: the display may hold only part of the settings."));
    QCOMPARE(s.boxes.boxes.last().flags, 64);
    // Nothing more went out after the cancel (at most the frame being written).
    QTest::qWait(300);
    QVERIFY(s.sim.display()->records().size() <= heardBefore + 1);
    QVERIFY(w.frame().btn_AllDownload->isEnabled());
}

QTEST_MAIN(TstConnect)
#include "tst_connect.moc"
