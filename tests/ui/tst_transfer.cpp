// The download page, the Update button and Cancel, driving the real window against
// the virtual display. The link's clock runs 20 times faster than the wall clock so
// that the protocol's fixed pauses do not make the runs slow; the display answers
// without pacing.
#include "support/ui_test_support.h"
#include "transfer/download_run.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"
#include "ui/preferences.h"
#include "ui/transfer_controller.h"
#include "ui/window_forms.h"

#include <QTimer>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include "support/quick_pause_clock.h"

#include <cstdlib>
#include <fstream>

using namespace tarsel::uitest;

namespace {

// The protocol's fixed pauses pass twenty times faster; answers keep their limits.
using FastClock = tarsel::test::QuickPauseClock;

// A window on a virtual display's port with the model chosen, as after Connect. The
// clock is declared first so that it outlives the window.
struct Session {
    FastClock clock{20};
    SimWindow view;
    SimFixture& sim = view.sim;
    BoxRecorder& boxes = view.boxes;
    TarselMain* window = nullptr;
    TransferController* controller = nullptr;

    bool open(const std::string& model, int modelIndex)
    {
        view.clock = &clock;
        if (!view.open(model, 9600))
            return false;
        window = &view.window();
        window->frame().cbbDisplayMode->setCurrentIndex(modelIndex);
        window->actBtnEnableExecute();
        controller = &window->transferController();
        if (controller)
            controller->setTransferTimeoutMs(2000);
        return controller && window->modelIndex() == modelIndex;
    }
    const char* error() const { return view.error(); }
    QString log() const { return window->downloadPage().redt_log->toPlainText(); }

    // Writes `content` to `path` and chooses that file for the charset list's `row`.
    bool chooseOwnFile(int row, const QString& path, const QByteArray& content)
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return false;
        f.close();
        window->downloadPage().cbbCharset->setCurrentIndex(row);
        controller->fileDialogHook = [path](const QString&) { return path; };
        window->downloadPage().btn_CharacterSetSelectFile->click();
        return true;
    }
};

} // namespace

class TstTransfer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fontDownloadShowsTallyAndLog();
    void downloadPageControls();
    void firmwareRowFromOwnFileUsesTheLoaderEntry();
    void cancelEndsTheRunAndGivesTheButtonsBack();
    void aLateCancelLeavesTheNextRunAlone();
    void tallyWithAFailedItemWarns();
    void selectFileRemembersAFolderPerKind();

private:
    QTemporaryDir m_dir;
};

void TstTransfer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const std::string pack = m_dir.filePath(QStringLiteral("pack")).toStdString();
    std::string error;
    QVERIFY2(tarsel::WriteSyntheticResourcePack(pack, 64, error), error.c_str());
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("none")).toLocal8Bit());
    qputenv("XDG_DATA_DIRS", m_dir.filePath(QStringLiteral("none")).toLocal8Bit());
    qunsetenv("TARSEL_RESOURCE_DIR");
    tarsel::SetResourceFolderOverride({pack});
}

void TstTransfer::cleanupTestCase() { tarsel::SetResourceFolderOverride({}); }

void TstTransfer::fontDownloadShowsTallyAndLog()
{
    Session s;
    QVERIFY2(s.open("KT310--IIA", 0), s.error());
    auto* cancel = s.window->transferController().cancelButton();
    QVERIFY(cancel);
    QVERIFY(cancel->isHidden());

    // The elapsed seconds stop before the tally is shown, not when the box is closed.
    bool timerRunningAtTally = true;
    s.boxes.observer = [&](const QString& text, int) {
        if (text.startsWith(QStringLiteral("Done! [")))
            timerRunningAtTally = s.window->elapsedTimer()->isActive();
    };

    QSignalSpy finished(s.controller, &TransferController::runFinished);
    s.window->downloadPage().btn_CharacterSetDownAll->click();
    QVERIFY(s.window->isBusy());
    QVERIFY(!cancel->isHidden());
    QVERIFY(!s.window->frame().PageControl1->isEnabled());
    QVERIFY(waitIdle(*s.window, 150000));

    QCOMPARE(finished.count(), 1);
    QCOMPARE(s.controller->lastOutcome(), tarsel::RunOutcome::Finished);
    QVERIFY(!s.boxes.boxes.isEmpty());
    QCOMPARE(s.boxes.boxes.last().text, QStringLiteral("Done! [Succeed 74 / Failed 0]"));
    QCOMPARE(s.boxes.boxes.last().flags, 64);
    QVERIFY(!timerRunningAtTally);
    const QString log = s.log();
    QVERIFY(log.contains(QStringLiteral("CP437 [Succeed]")));
    QVERIFY(log.contains(QStringLiteral("mini_RUSSIA [Succeed]")));
    QVERIFY(log.contains(QStringLiteral("CP437_40x40 [Failed]:not suport")));
    QVERIFY(log.contains(QStringLiteral("big52gbk [Failed]:not suport")));
    QCOMPARE(log.count(QStringLiteral("[Succeed]")), 74);
    QCOMPARE(s.sim.display()->blocks().size(), std::size_t(74));
    QCOMPARE(s.sim.display()->blocks().at(0x00000000), tarsel::LoadResource("CP437_480x272"));
    // Buttons back, Cancel gone, the display at its own speed again.
    QVERIFY(s.window->frame().PageControl1->isEnabled());
    QVERIFY(cancel->isHidden());
    QCOMPARE(s.sim.display()->speed(), 9600);
    QVERIFY(!s.window->link().CmdPort.isOpen());
}

void TstTransfer::downloadPageControls()
{
    Session s;
    QVERIFY2(s.open("KT310--IIA", 0), s.error());
    auto* charset = s.window->downloadPage().cbbCharset;
    auto* select = s.window->downloadPage().btn_CharacterSetSelectFile;
    auto* download = s.window->downloadPage().btn_CharacterSetDownSingle;
    QCOMPARE(charset->count(), 93);
    QCOMPARE(charset->currentIndex(), -1);
    QVERIFY(!select->isEnabled());
    QVERIFY(!download->isEnabled());

    charset->setCurrentIndex(5);
    QCOMPARE(s.window->downloadPage().edt_addr->text(), QStringLiteral("0x00032000"));
    QCOMPARE(s.window->downloadPage().edt_filename->text(), QStringLiteral("850_80x40.bin"));
    QVERIFY(select->isEnabled());
    QVERIFY(!download->isEnabled());

    s.controller->fileDialogHook = [](const QString&) { return QStringLiteral("/tmp/some.bin"); };
    select->click();
    QCOMPARE(s.window->downloadPage().pnlCharsetFilename->text(), QStringLiteral("/tmp/some.bin"));
    QVERIFY(download->isEnabled());
    charset->setCurrentIndex(7); // the chosen file stays
    QVERIFY(download->isEnabled());
    QCOMPARE(s.window->downloadPage().edt_filename->text(), QStringLiteral("857_80x40.bin"));

    s.controller->fileDialogHook = [](const QString&) { return QString(); };
    select->click();
    QVERIFY(s.window->downloadPage().pnlCharsetFilename->text().isEmpty());
    QVERIFY(!download->isEnabled());
    QCOMPARE(TransferController::selectFileFilter(), QStringLiteral("Bin Files(*.bin);;JPEG Image File (*.jpg)"));
}

void TstTransfer::firmwareRowFromOwnFileUsesTheLoaderEntry()
{
    Session s;
    QVERIFY2(s.open("KT310--IIC", 2), s.error());
    QByteArray content(5000, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13);
    QVERIFY(s.chooseOwnFile(92, m_dir.filePath(QStringLiteral("fw.bin")), content)); // "firmware"
    s.window->downloadPage().btn_CharacterSetDownSingle->click();
    QVERIFY(waitIdle(*s.window, 15000));
    QCOMPARE(s.boxes.boxes.last().text, QStringLiteral("Done! [Succeed 1 / Failed 0]"));
    QVERIFY(s.sim.display()->firmware());
    QCOMPARE(*s.sim.display()->firmware(), content.toStdString());
    QVERIFY(s.sim.display()->recordsNamed("DownloadServiceSetup").empty());
}

void TstTransfer::cancelEndsTheRunAndGivesTheButtonsBack()
{
    Session s;
    QVERIFY2(s.open("KT310--IIA", 0), s.error());
    QVERIFY(s.chooseOwnFile(0, m_dir.filePath(QStringLiteral("big.bin")), QByteArray(2000000, 'x')));
    s.window->downloadPage().btn_CharacterSetDownSingle->click();
    QVERIFY(s.window->isBusy());
    QVERIFY(s.sim.display()->waitForRecord("Block", 10000, 20));
    QCoreApplication::processEvents();
    auto* cancel = s.window->transferController().cancelButton();
    QVERIFY(!cancel->isHidden());
    cancel->click();
    // The display asks for the cut block again a few times before it lets go.
    QVERIFY(waitIdle(*s.window, 20000));
    QCOMPARE(s.controller->lastOutcome(), tarsel::RunOutcome::Cancelled);
    QVERIFY(!s.window->link().CmdPort.isOpen());
    QVERIFY(cancel->isHidden());
    QVERIFY(s.window->frame().PageControl1->isEnabled());
    for (const auto& box : s.boxes.boxes)
        QVERIFY(!box.text.startsWith(QStringLiteral("Done!")));
    QVERIFY(s.log().contains(QStringLiteral("Download cancelled")));
    QVERIFY(s.sim.display()->blocks().empty()); // the item never completed
}

void TstTransfer::aLateCancelLeavesTheNextRunAlone()
{
    // A cancelled run that ends quickly must not have its escalation, which comes a
    // moment later, hit the run started next.
    Session s;
    QVERIFY2(s.open("KT310--IIA", 0), s.error());
    QVERIFY(s.chooseOwnFile(0, m_dir.filePath(QStringLiteral("late.bin")), QByteArray(5000, 'y')));
    auto* download = s.window->downloadPage().btn_CharacterSetDownSingle;

    // First run: cancelled while it waits for a silent display, before any speed change.
    tarsel::sim::Faults faults;
    faults.silent = true;
    s.sim.display()->setFaults(faults);
    download->click();
    QElapsedTimer sinceCancel;
    sinceCancel.start();
    s.controller->cancelRun();
    QVERIFY(waitIdle(*s.window, 5000));
    QVERIFY(s.controller->lastOutcome() != tarsel::RunOutcome::Finished);
    QVERIFY(sinceCancel.elapsed() < 3000); // the set-up wait alone is 4.3 s

    // Second run: the display stops after three blocks. The first run's cancel must
    // not reach it: it runs until the display's silence times it out.
    faults = tarsel::sim::Faults();
    faults.stopAfterBlocks = 3;
    s.sim.display()->setFaults(faults);
    s.controller->setTransferTimeoutMs(2000);
    download->click();
    QVERIFY(s.controller->runActive());
    QVERIFY(waitIdle(*s.window, 30000));
    QCOMPARE(s.controller->lastOutcome(), tarsel::RunOutcome::TimedOut);
}

void TstTransfer::tallyWithAFailedItemWarns()
{
    Session s;
    QVERIFY2(s.open("KT310--IIA", 0), s.error());
    QVERIFY(s.chooseOwnFile(50, m_dir.filePath(QStringLiteral("usa.bin")), QByteArray(1728, 'u'))); // "USA"
    tarsel::sim::Faults faults;
    faults.wrongCrc = true;
    s.sim.display()->setFaults(faults);
    s.window->downloadPage().btn_CharacterSetDownSingle->click();
    QVERIFY(waitIdle(*s.window, 15000));
    QCOMPARE(s.controller->lastOutcome(), tarsel::RunOutcome::Finished);
    QCOMPARE(s.boxes.boxes.last().text, QStringLiteral("Done! [Succeed 0 / Failed 1]"));
    QCOMPARE(s.boxes.boxes.last().flags, int(tarsel::kBoxWarning));
    QCOMPARE(s.log(), QStringLiteral("USA [Failed]:CRC check error"));
}

void TstTransfer::selectFileRemembersAFolderPerKind()
{
    QTemporaryDir dir;
    const QString fonts = dir.filePath(QStringLiteral("fonts"));
    const QString firmware = dir.filePath(QStringLiteral("firmware"));
    QVERIFY(QDir().mkpath(fonts) && QDir().mkpath(firmware));
    BoxRecorder boxes;
    auto options = testOptions(boxes);
    options.preferencesFile = dir.filePath(QStringLiteral("tarsel.conf"));
    TarselMain w(options);
    w.actBtnEnableExecute();
    TransferController& c = w.transferController();
    QString seen;
    auto choose = [&](int row, const QString& path) {
        w.downloadPage().cbbCharset->setCurrentIndex(row);
        c.fileDialogHook = [&seen, path](const QString& folder) {
            seen = folder;
            return path;
        };
        w.downloadPage().btn_CharacterSetSelectFile->click();
        return seen;
    };
    const QString documents = tarsel::ui::Preferences::documentsFolder();
    QCOMPARE(choose(5, fonts + QStringLiteral("/850.bin")), documents);
    QCOMPARE(c.selectFileKind(), tarsel::ui::FileKind::SingleItems);
    // The firmware item keeps a folder of its own.
    QCOMPARE(choose(92, firmware + QStringLiteral("/fw.bin")), documents);
    QCOMPARE(c.selectFileKind(), tarsel::ui::FileKind::Firmware);
    QCOMPARE(choose(7, fonts + QStringLiteral("/857.bin")), fonts);
    QCOMPARE(choose(92, QString()), firmware);
    // A cancelled dialog keeps the folder; a folder that has gone falls back to the
    // documents folder.
    QCOMPARE(choose(92, QString()), firmware);
    QVERIFY(QDir(fonts).removeRecursively());
    QCOMPARE(choose(5, QString()), documents);
    QVERIFY(boxes.boxes.isEmpty());
}

QTEST_MAIN(TstTransfer)
#include "tst_transfer.moc"
