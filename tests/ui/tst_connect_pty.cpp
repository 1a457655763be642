// Connect end to end: the real window and its own termios ports against the virtual
// display program's core behind a real pseudo-terminal, in real time. The scan tries
// 9600 and 19200 (heard there as noise) before the display answers at 38400.
#include "support/ui_test_support.h"
#include "ui/window_forms.h"

#include <QComboBox>
#include <QLabel>
#include <QTabWidget>
#include <QtTest>

using namespace tarsel::uitest;

namespace {

const char* const kWarning =
    "The current firmware version is lower than the latest version.\n\nPlease update the firmware version.";

std::size_t countRecords(tarsel::sim::VirtualDisplay* d, const char* name) { return d->recordsNamed(name).size(); }

} // namespace

class TstConnectPty : public QObject {
    Q_OBJECT

private slots:
    void findsDisplayAt38400WithOldFirmware();
};

void TstConnectPty::findsDisplayAt38400WithOldFirmware()
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
    // The guest slot and the picture-number controls of the display test page.
    const auto& p = w.picturePage();
    const auto& t = w.testPage();
    for (QWidget* c : {static_cast<QWidget*>(p.cxImage86), static_cast<QWidget*>(p.CheckBox86),
                       static_cast<QWidget*>(p.Button27), static_cast<QWidget*>(p.Button28),
                       static_cast<QWidget*>(t.lbl_PicNo), static_cast<QWidget*>(t.ud_PicNo),
                       static_cast<QWidget*>(t.btn_ShowQrCodeAt)})
        QVERIFY2(shownOnPage(c), qPrintable(c->objectName()));
    QVERIFY(tabVisible(w, w.frame().tsFirmwareUpdates));
    QVERIFY(!tabVisible(w, w.frame().tsDownloadFile));
    QCOMPARE(w.firmwarePage().lbl_show_deviceModel->text(), QStringLiteral("KT710-II"));
    QCOMPARE(w.firmwarePage().lbl_show_currentVersion->text(), QStringLiteral("V11"));
    QCOMPARE(w.connectionText(), QStringLiteral("KT710-II V11, 38400 bit/s, %1").arg(s.sim.portPath()));
    QCOMPARE(countRecords(s.sim.display(), "ClearDisplay"), std::size_t(1));
    QCOMPARE(countRecords(s.sim.display(), "ReadVersion"), std::size_t(1));

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

QTEST_MAIN(TstConnectPty)
#include "tst_connect_pty.moc"
