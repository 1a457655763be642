// What the window shows of a transfer and of the line: the bar following the blocks
// and pieces as they are written (the device worker held at a known one), the speed
// and time-left panel, and the frame log window with every byte of a Get Setting
// exchange, Save, Clear, Pause and its bound. The display is the display core on a
// virtual line.
#include "link/frame_log.h"
#include "support/ui_test_support.h"
#include "support/virtual_link.h"
#include "ui/frame_log_window.h"
#include "ui/transfer_controller.h"
#include "ui/window_forms.h"
#include "ui_framelog.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarsel::uitest;
using tarsel::test::VirtualLine;

namespace {

QString hexOf(const std::string& bytes)
{
    return QString::fromLatin1(QByteArray::fromStdString(bytes).toHex(' ').toUpper());
}

} // namespace

class TstProgress : public QObject {
    Q_OBJECT

private slots:
    void barFollowsWrittenBlocksAndPieces_data();
    void barFollowsWrittenBlocksAndPieces();
    void frameLogHoldsAGetSettingExchange();
    void frameLogSavesClearsPausesAndStaysBounded();
};

void TstProgress::barFollowsWrittenBlocksAndPieces_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("modelName");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<QString>("holdAt"); // the frame the display has just heard
    QTest::addColumn<double>("laterMs"); // ... and how much later the worker is held
    QTest::addColumn<int>("written");    // blocks or pieces written by then
    // 10 full blocks and a short one: the bar's maximum is 11. Held when the display
    // has the fourth block: four written, the fifth not yet asked for.
    QTest::newRow("block method") << 0 << QStringLiteral("KT310--IIA") << 2660 << QStringLiteral("Block") << 0.0 << 4;
    // 40 full pieces and a short one: 41. The stream starts 50 ms after the make-file
    // frame; 10 ms later the output buffer holds 16 pieces and the 17th write waits
    // for room on the line.
    QTest::newRow("streaming method") << 3 << QStringLiteral("KT310-IID") << 10260 << QStringLiteral("MakeFile")
                                      << 60.0 << int(VirtualLine::kOutputBuffer / 256);
}

void TstProgress::barFollowsWrittenBlocksAndPieces()
{
    QFETCH(int, model);
    QFETCH(QString, modelName);
    QFETCH(int, fileSize);
    QFETCH(QString, holdAt);
    QFETCH(double, laterMs);
    QFETCH(int, written);

    VirtualWindow v(tarsel::test::displayConfig(modelName.toStdString(), 9600));
    QVERIFY2(v.open(), v.error());
    TarselMain& w = v.window();
    w.frame().cbbDisplayMode->setCurrentIndex(model);
    w.actBtnEnableExecute();

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("own.bin"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(fileSize, 'z'));
    }
    const int units = (fileSize + 255) / 256;
    WorkerGate gate;
    int heard = 0;
    v.line.onRecord([&](const tarsel::sim::Record& r) {
        if (r.name != holdAt.toStdString())
            return;
        if (holdAt == QStringLiteral("Block") ? ++heard == written : ++heard == 1)
            v.line.at(r.timeMs + laterMs, [&] { gate.hold(); });
    });

    const tarsel::ui::StatusPanels& status = w.forms().status;
    w.downloadPage().cbbCharset->setCurrentIndex(0);
    w.transferController().fileDialogHook = [file](const QString&) { return file; };
    w.downloadPage().btn_CharacterSetSelectFile->click();
    w.downloadPage().btn_CharacterSetDownSingle->click();
    QVERIFY(gate.waitHeld());
    QTRY_COMPARE(status.cxProgressBar1->value(), written);
    QCOMPARE(status.cxProgressBar1->maximum(), units);
    QVERIFY(status.cxProgressBar1->isVisible());
    // The speed panel has heard of the bytes (the speed itself needs a second).
    QTRY_VERIFY(!status.StatusBar1Rate->text().isEmpty());
    QVERIFY(status.StatusBar1Rate->isVisible());
    // Everything the status bar shows during a run fits in the fixed window.
    QCoreApplication::processEvents();
    for (QWidget* panel : {static_cast<QWidget*>(status.StatusBar1Panel3), static_cast<QWidget*>(status.StatusBar1Rate),
                           static_cast<QWidget*>(w.transferController().cancelButton())}) {
        QVERIFY(panel->isVisible());
        const QRect inWindow(panel->mapTo(&w, QPoint(0, 0)), panel->size());
        QVERIFY2(w.rect().contains(inWindow), qPrintable(panel->objectName()));
    }
    QCOMPARE(status.cxProgressBar1->value(), written); // still held: nothing ran ahead
    gate.release();

    QVERIFY(waitIdle(w));
    QCOMPARE(v.boxes.boxes.last().text, QStringLiteral("Done! [Succeed 1 / Failed 0]"));
    QCOMPARE(w.transferController().lastReport().items.at(0).bytes, std::uint64_t(fileSize));
    // At rest the bar is hidden and the speed panel empty.
    QVERIFY(!status.cxProgressBar1->isVisible());
    QVERIFY(status.StatusBar1Rate->text().isEmpty());
}

void TstProgress::frameLogHoldsAGetSettingExchange()
{
    VirtualWindow view(tarsel::test::displayConfig("KT710-II", 9600));
    QVERIFY2(view.open(), view.error());
    QVERIFY2(view.connect(), view.error());
    TarselMain& w = view.window();
    view.boxes.boxes.clear();
    w.frame().btn_GetSetting->click();
    QVERIFY(waitIdle(w));
    QCOMPARE(view.boxes.boxes.size(), 1);
    QCOMPARE(view.boxes.boxes.last().flags, int(tarsel::kBoxInfo));

    // Opened from the button beside the log view; not modal.
    QVERIFY(!w.frameLogWindow());
    w.downloadPage().btn_FrameLog->click();
    tarsel::ui::FrameLogWindow* log = w.frameLogWindow();
    QVERIFY(log);
    QVERIFY(log->isVisible());
    QVERIFY(!log->isModal());
    QCOMPARE(log->windowModality(), Qt::NonModal);
    const QString text = log->form().txtFrames->toPlainText();

    // The query, then the display's reply as it was read (in pieces of up to 32 bytes
    // a line), each line time-stamped and naming the port.
    const QString port = QString::fromStdString(tarsel::FrameLog::shortPortName(view.port.toStdString()));
    const QString query = QStringLiteral(" --> %1  02 07 16 05 ").arg(port);
    const qsizetype at = text.lastIndexOf(query);
    QVERIFY2(at >= 0, qPrintable(text.right(2000)));
    const QString reply = QStringLiteral(" <-- %1  ").arg(port);
    QStringList replyHex;
    for (const QString& line : text.mid(at).split(QLatin1Char('\n'))) {
        if (!line.contains(reply))
            continue;
        QVERIFY(QRegularExpression(QStringLiteral("^ *\\d+\\.\\d <-- ")).match(line).hasMatch());
        replyHex << line.mid(line.indexOf(reply) + reply.size(), 95).trimmed();
    }
    const std::string document =
        view.display([](tarsel::sim::DisplayCore& d) { return d.settings().render(); }) + std::string(1, '\0');
    QCOMPARE(replyHex.join(QLatin1Char(' ')), hexOf(document));
    // Connect's frames and their trace lines are there too.
    QVERIFY(text.contains(QStringLiteral(" <---- 4B543731302D494900")));
    QVERIFY(text.contains(QStringLiteral(" --- %1 opened ").arg(port)));

    // The log view's context menu opens it as well (and Ctrl+L, also while busy).
    log->close();
    QVERIFY(!log->isVisible());
    std::unique_ptr<QMenu> menu(w.downloadPage().redt_log->createLogContextMenu());
    QVERIFY(menu->actions().contains(w.frameLogAction()));
    QCOMPARE(w.frameLogAction()->text(), QStringLiteral("Frame Log…"));
    w.frameLogAction()->trigger();
    QVERIFY(log->isVisible());
    QCOMPARE(w.frameLogWindow(), log); // the same window again
}

void TstProgress::frameLogSavesClearsPausesAndStaysBounded()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes));
    tarsel::FrameLog& frames = w.frameLog();
    frames.clear();
    w.openFrameLog();
    tarsel::ui::FrameLogWindow* log = w.frameLogWindow();
    QVERIFY(log);
    const Ui::FrameLogForm& f = log->form();
    auto viewLines = [&] {
        while (!log->refresh()) {
        }
        const QString text = f.txtFrames->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    };

    frames.addTrace("----> 02071601");
    frames.portBytes(tarsel::PortDirection::Read, "/dev/pts/9", "KT710-II" + std::string(1, '\0'));
    frames.portEvent("/dev/pts/9", "closed");
    QStringList lines = viewLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[1].contains(QStringLiteral(" <-- pts/9  4B 54 37 31 30 2D 49 49 00 ")));
    QVERIFY(lines[1].endsWith(QStringLiteral("|KT710-II.|")));
    QVERIFY(lines[2].endsWith(QStringLiteral(" --- pts/9 closed")));
    QCOMPARE(f.lblFrameLogStatus->text(), QStringLiteral("3 lines"));

    // Pause: nothing is added; how much was skipped is said.
    f.btnFrameLogPause->click();
    QVERIFY(f.btnFrameLogPause->isChecked());
    frames.addTrace("----> 0207160A");
    frames.portBytes(tarsel::PortDirection::Written, "/dev/pts/9", std::string(64, 'x')); // two lines
    QCOMPARE(viewLines().size(), 3);
    QCOMPARE(f.lblFrameLogStatus->text(), QStringLiteral("3 lines; 3 lines skipped while paused; paused"));
    f.btnFrameLogPause->click();
    QVERIFY(!f.btnFrameLogPause->isChecked());
    lines = viewLines();
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[3].endsWith(QStringLiteral(" --- paused: 3 lines not recorded")));

    // Save: every line, as shown, into the chosen file.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frames.txt"));
    QString offered;
    log->saveDialogHook = [&](const QString& folder) {
        offered = folder;
        return path;
    };
    f.btnFrameLogSave->click();
    QVERIFY(!offered.isEmpty());
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(saved.readAll()), lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    QVERIFY(boxes.boxes.isEmpty());
    // The next save offers that folder; a file that cannot be written says why.
    log->saveDialogHook = [&](const QString& folder) {
        offered = folder;
        return dir.filePath(QStringLiteral("missing/frames.txt"));
    };
    f.btnFrameLogSave->click();
    QCOMPARE(offered, dir.path());
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].flags, int(tarsel::kBoxError));
    QVERIFY(boxes.boxes[0].text.startsWith(QStringLiteral("Cannot save the frame log to")));

    // Clear empties the log and the view.
    f.btnFrameLogClear->click();
    QVERIFY(f.txtFrames->toPlainText().isEmpty());
    QCOMPARE(frames.status().held, std::size_t(0));
    QCOMPARE(f.lblFrameLogStatus->text(), QStringLiteral("0 lines"));

    // Bounded: the last lines stay, and the view says how many went.
    const std::size_t capacity = frames.capacity();
    QCOMPARE(capacity, std::size_t(20000));
    for (std::size_t i = 0; i < capacity + 5; ++i)
        frames.addTrace("<---- " + std::to_string(i));
    // The view takes a long backlog a few hundred lines a turn of the event loop,
    // never all at once.
    QVERIFY(!log->refresh());
    QCOMPARE(std::size_t(f.txtFrames->blockCount()), tarsel::ui::FrameLogWindow::kLinesPerTurn);
    lines = viewLines();
    QCOMPARE(std::size_t(lines.size()), capacity);
    QVERIFY(lines.first().endsWith(QStringLiteral(" <---- 5")));
    QVERIFY(lines.last().endsWith(QStringLiteral(" <---- %1").arg(capacity + 4)));
    QCOMPARE(f.lblFrameLogStatus->text(),
             QStringLiteral("20000 lines; 5 older lines dropped (the log keeps the last 20000)"));
    // More lines while the window looks: the view keeps to the bound as well.
    frames.addTrace("----> last");
    lines = viewLines();
    QCOMPARE(std::size_t(lines.size()), capacity);
    QVERIFY(lines.last().endsWith(QStringLiteral(" ----> last")));
}

QTEST_MAIN(TstProgress)
#include "tst_progress.moc"
