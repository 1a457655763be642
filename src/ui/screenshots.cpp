#include "ui/screenshots.h"

#include "link/port_list.h"
#include "ui/preview_controller.h"
#include "ui/tarselmain.h"
#include "ui/window_forms.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTextStream>
#include <QThread>

namespace tarsel::ui {
namespace {

void settle(int ms)
{
    QDeadlineTimer until(ms);
    while (!until.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

QString choosePort(QComboBox* ports, const QString& wanted)
{
    if (!wanted.isEmpty())
        return wanted;
    const QString virtualFolder = QString::fromStdString(tarsel::VirtualPortFolder());
    for (int i = 0; i < ports->count(); ++i)
        if (ports->itemText(i).startsWith(virtualFolder))
            return ports->itemText(i);
    return ports->count() > 0 ? ports->itemText(0) : QString();
}

bool shootLanguage(const QString& folder, const QString& portName, std::uint16_t langId, const QString& tag)
{
    QTextStream err(stderr);
    TarselMain::Options options;
    options.sysLangId = langId;
    options.preferredPort = portName.toStdString();
    options.messageBoxHook = [&err](const QString& text, int flags) {
        err << "box (" << flags << "): " << QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')) << "\n";
        err.flush();
        return (flags & 0x0F) == 4 ? 7 : 1;
    };
    TarselMain window(options);
    window.show();
    settle(200);

    auto* ports = window.frame().cbb_SerialPort;
    const QString port = choosePort(ports, portName);
    if (ports->findText(port) < 0)
        ports->addItem(port);
    ports->setCurrentIndex(ports->findText(port));
    err << "connecting to " << port << "\n";
    err.flush();
    window.btnConnectClick();
    QDeadlineTimer limit(20000);
    while (window.isBusy() && !limit.hasExpired())
        settle(50);
    settle(200);

    auto* tabs = window.frame().PageControl1;
    bool ok = true;
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setTabVisible(i, true);
        tabs->setCurrentIndex(i);
        settle(150);
        const QString file = QDir(folder).filePath(
            QStringLiteral("%1-%2-%3.png").arg(tag).arg(i + 1).arg(tabs->widget(i)->objectName()));
        if (!window.grab().save(file)) {
            err << "cannot write " << file << "\n";
            ok = false;
        } else {
            err << "wrote " << file << "\n";
        }
    }

    // The preview, larger, with texts of the language's own: in Chinese a main text
    // in the GBK code page.
    const bool chinese = langId == 2052;
    tabs->setCurrentIndex(tabs->indexOf(window.frame().tsDisplaySet));
    if (chinese) {
        window.displayPage().cbb_codepage_maintext->setCurrentIndex(15); // CP936_GBK
        window.basicPage().cbb_CodePage->setCurrentIndex(15);
        window.codepagePage().rg_Down_CodePage->setItemIndex(15);
    }
    window.basicPage().edt_line1->setText(chinese ? QStringLiteral("欢迎光临") : QStringLiteral("WELCOME"));
    const auto lines = window.forms().mainTextEdits();
    // (A line of double-byte characters takes more than its 20 bytes and moves the
    // lines after it: the last line shows it plainly.)
    lines[0]->setText(chinese ? QStringLiteral("  TOTAL:  12.50") : QStringLiteral("  Fresh bread daily"));
    lines[1]->setText(chinese ? QStringLiteral("  欢迎光临本店") : QStringLiteral("  Total:  12.50"));
    window.previewController().render();
    QDialog* larger = window.previewController().largerView();
    larger->show();
    settle(200);
    window.previewController().render();
    settle(100);
    const QString file = QDir(folder).filePath(QStringLiteral("%1-8-preview.png").arg(tag));
    if (!larger->grab().save(file)) {
        err << "cannot write " << file << "\n";
        ok = false;
    } else {
        err << "wrote " << file << "\n";
    }
    larger->close();
    window.close();
    return ok;
}

} // namespace

int writeScreenshots(const QString& folder, const QString& portName)
{
    QDir().mkpath(folder);
    const bool en = shootLanguage(folder, portName, 1033, QStringLiteral("en"));
    const bool zh = shootLanguage(folder, portName, 2052, QStringLiteral("zh"));
    return en && zh ? 0 : 1;
}

} // namespace tarsel::ui
