// The download page, the Update button and Cancel, driving the real window against
// the display core on a virtual line (the block phase keeps its 10 s time-out).
#include "support/ui_test_support.h"
#include "support/virtual_link.h"
#include "transfer/download_run.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"
#include "ui/preferences.h"
#include "ui/transfer_controller.h"
#include "ui/window_forms.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <cstdlib>

using namespace tarsel::uitest;

namespace {

// A window on a virtual line to a display of `model` at 9600 bit/s, with the model
// chosen as after Connect.
struct Session {
    Session(const std::string& model, int modelIndex) : view(tarsel::test::displayConfig(model, 9600)), index(modelIndex)
    {
    }

    bool open()
    {
        if (!view.open())
            return false;
        window = &view.window();
        window->frame().cbbDisplayMode->setCurrentIndex(index);
        window->actBtnEnableExecute();
        controller = &window->transferController();
        return window->modelIndex() == index;
    }
    const char* error() const { return view.error(); }
    QString log() const { return window->downloadPage().redt_log->toPlainText(); }
    void setFaults(const tarsel::sim::Faults& faults)
    {
        view.display([&](tarsel::sim::DisplayCore& d) { d.setFaults(faults); });
    }

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

    VirtualWindow view;
    tarsel::test::VirtualLine& line = view.line;
    BoxRecorder& boxes = view.boxes;
    int index;
    TarselMain* window = nullptr;
    TransferController* controller = nullptr;
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
    Session s("KT310--IIA", 0);
    QVERIFY2(s.open(), s.error());
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
    QVERIFY(waitIdle(*s.window));

    QCOMPARE(finished.count(), 1);
    const tarsel::RunReport& report = s.controller->lastReport();
    QCOMPARE(report.end, tarsel::RunOutcome::Finished);
    QCOMPARE(report.succeeded, 74);
    QCOMPARE(report.failed, 0);
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
    const auto blocks = s.view.display([](tarsel::sim::DisplayCore& d) { return d.blocks(); });
    QCOMPARE(blocks.size(), std::size_t(74));
    QCOMPARE(blocks.at(0x00000000), tarsel::LoadResource("CP437_480x272"));
    // Buttons back, Cancel gone, the display at its own speed again.
    QVERIFY(s.window->frame().PageControl1->isEnabled());
    QVERIFY(cancel->isHidden());
    QCOMPARE(s.line.displaySpeed(), 9600);
    QVERIFY(!s.window->link().CmdPort.isOpen());
}

void TstTransfer::downloadPageControls()
{
    Session s("KT310--IIA", 0);
    QVERIFY2(s.open(), s.error());
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
    Session s("KT310--IIC", 2);
    QVERIFY2(s.open(), s.error());
    QByteArray content(5000, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13);
    QVERIFY(s.chooseOwnFile(92, m_dir.filePath(QStringLiteral("fw.bin")), content)); // "firmware"
    s.window->downloadPage().btn_CharacterSetDownSingle->click();
    QVERIFY(waitIdle(*s.window));
    QCOMPARE(s.boxes.boxes.last().text, QStringLiteral("Done! [Succeed 1 / Failed 0]"));
    const auto firmware = s.view.display([](tarsel::sim::DisplayCore& d) { return d.firmware(); });
    QVERIFY(firmware);
    QCOMPARE(*firmware, content.toStdString());
    QVERIFY(s.line.recordsNamed("DownloadServiceSetup").empty());
    QCOMPARE(s.line.recordsNamed("Announce").size(), std::size_t(1));
}

// Cancel clicked while the 20th block is on its way: the run ends, gives the buttons
// back, and the display, back at its own speed, answers the next command.
void TstTransfer::cancelEndsTheRunAndGivesTheButtonsBack()
{
    Session s("KT310--IIA", 0);
    QVERIFY2(s.open(), s.error());
    QVERIFY(s.chooseOwnFile(0, m_dir.filePath(QStringLiteral("big.bin")), QByteArray(2000000, 'x')));
    WorkerGate gate;
    int blocks = 0;
    s.line.onRecord([&](const tarsel::sim::Record& r) {
        if (r.name == "Block" && ++blocks == 20)
            gate.hold();
    });
    s.window->downloadPage().btn_CharacterSetDownSingle->click();
    QVERIFY(s.window->isBusy());
    QVERIFY(gate.waitHeld());
    auto* cancel = s.window->transferController().cancelButton();
    QVERIFY(!cancel->isHidden());
    cancel->click();
    gate.release();
    QVERIFY(waitIdle(*s.window));
    const tarsel::RunReport& report = s.controller->lastReport();
    QCOMPARE(report.end, tarsel::RunOutcome::Cancelled);
    QVERIFY(report.displayBack);
    QVERIFY(report.itemCut);
    QVERIFY(!s.window->link().CmdPort.isOpen());
    QVERIFY(cancel->isHidden());
    QVERIFY(s.window->frame().PageControl1->isEnabled());
    for (const auto& box : s.boxes.boxes)
        QVERIFY(!box.text.startsWith(QStringLiteral("Done!")));
    QVERIFY(s.log().contains(QStringLiteral("Download cancelled")));
    QCOMPARE(s.line.recordsNamed("Block").size(), std::size_t(20)); // none after the cancel
    QVERIFY(s.view.display([](tarsel::sim::DisplayCore& d) { return d.blocks().empty(); })); // the item never completed
    QCOMPARE(s.line.displaySpeed(), 9600);

    s.window->frame().btn_GetSetting->click();
    QVERIFY(waitIdle(*s.window));
    QCOMPARE(s.boxes.boxes.last().text, QStringLiteral("Get Settings from Display Success!"));
}

void TstTransfer::aLateCancelLeavesTheNextRunAlone()
{
    // A cancelled run must not have its cancel reach the run started next.
    Session s("KT310--IIA", 0);
    QVERIFY2(s.open(), s.error());
    QVERIFY(s.chooseOwnFile(0, m_dir.filePath(QStringLiteral("late.bin")), QByteArray(5000, 'y')));
    auto* download = s.window->downloadPage().btn_CharacterSetDownSingle;

    // First run: cancelled while it waits for a silent display, before any speed change.
    tarsel::sim::Faults faults;
    faults.silent = true;
    s.setFaults(faults);
    WorkerGate gate;
    double cancelledAt = 0;
    s.line.onRecord([&](const tarsel::sim::Record& r) {
        if (r.name == "ModelQuery" && cancelledAt == 0) {
            cancelledAt = r.timeMs;
            gate.hold();
        }
    });
    download->click();
    QVERIFY(gate.waitHeld());
    s.controller->cancelRun();
    gate.release();
    QVERIFY(waitIdle(*s.window));
    QCOMPARE(s.controller->lastOutcome(), tarsel::RunOutcome::Cancelled);
    QVERIFY(s.line.recordsNamed("SwitchDeviceBaud").empty());
    QCOMPARE(s.line.nowMs(), cancelledAt); // it ended there, without waiting for anything

    // Second run: the display stops after three blocks. The first run's cancel must
    // not reach it: it runs until the display's silence times it out.
    faults = tarsel::sim::Faults();
    faults.stopAfterBlocks = 3;
    s.setFaults(faults);
    download->click();
    QVERIFY(s.controller->runActive());
    QVERIFY(waitIdle(*s.window));
    QCOMPARE(s.controller->lastOutcome(), tarsel::RunOutcome::TimedOut);
    QCOMPARE(s.line.recordsNamed("Block").size(), std::size_t(3));
}

void TstTransfer::tallyWithAFailedItemWarns()
{
    Session s("KT310--IIA", 0);
    QVERIFY2(s.open(), s.error());
    QVERIFY(s.chooseOwnFile(50, m_dir.filePath(QStringLiteral("usa.bin")), QByteArray(1728, 'u'))); // "USA"
    tarsel::sim::Faults faults;
    faults.wrongCrc = true;
    s.setFaults(faults);
    s.window->downloadPage().btn_CharacterSetDownSingle->click();
    QVERIFY(waitIdle(*s.window));
    const tarsel::RunReport& report = s.controller->lastReport();
    QCOMPARE(report.end, tarsel::RunOutcome::Finished);
    QCOMPARE(report.items.size(), std::size_t(1));
    QCOMPARE(report.items[0].status, tarsel::Status::failure(tarsel::Code::Refused, "CRC check error"));
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
