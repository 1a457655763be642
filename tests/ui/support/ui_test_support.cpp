#include "support/ui_test_support.h"

#include "ui/window_forms.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>

#include <unistd.h>

namespace tarsel::uitest {

bool SimFixture::start(const std::string& model, int baud, int version, bool silent)
{
    sim::Options o;
    o.model = model;
    o.baud = baud;
    o.version = version;
    o.registerLink = true;
    o.linkFolder = m_dir.path().toStdString();
    o.faults.silent = silent; // paced as a real line is

    m_display = std::make_unique<sim::VirtualDisplay>(o);
    return m_display->start(&lastError);
}

void SimFixture::stop()
{
    if (m_display)
        m_display->stop();
}

QString SimFixture::portPath() const
{
    return m_display ? QString::fromStdString(m_display->devicePath()) : QString();
}

bool SimWindow::open(const std::string& model, int baud, int version, bool silent)
{
    if (!sim.start(model, baud, version, silent)) {
        lastError = sim.lastError;
        return false;
    }
    auto options = testOptions(boxes, sim.folder());
    if (clock)
        options.clock = clock;
    m_window = std::make_unique<TarselMain>(options);
    m_window->show();
    if (!selectPort(*m_window, sim.portPath())) {
        lastError = "the display's port is not listed";
        return false;
    }
    return true;
}

bool SimWindow::connect(int timeoutMs)
{
    m_window->btnConnectClick();
    if (!waitIdle(*m_window, timeoutMs)) {
        lastError = "Connect did not end";
        return false;
    }
    return true;
}

VirtualWindow::VirtualWindow(const sim::DisplayCore::Config& display) : line(display)
{
    port = QDir(folder.path()).filePath(QStringLiteral("ttyVIRTUAL0"));
    plugBack();
}

TarselMain::Options VirtualWindow::options(std::uint16_t langId)
{
    auto o = testOptions(boxes, folder.path(), langId);
    o.clock = &line.clock();
    o.portFactory = [this] { return line.makePort(m_portsMade++ == 0 ? "cmd" : "text"); };
    return o;
}

bool VirtualWindow::open() { return open(options()); }

bool VirtualWindow::open(TarselMain::Options options)
{
    m_window = std::make_unique<TarselMain>(std::move(options));
    m_window->show();
    if (!selectPort(*m_window, port)) {
        lastError = "the line's port is not listed";
        return false;
    }
    return true;
}

bool VirtualWindow::connect(int timeoutMs)
{
    m_window->btnConnectClick();
    if (!waitIdle(*m_window, timeoutMs)) {
        lastError = "Connect did not end";
        return false;
    }
    return true;
}

void VirtualWindow::plugIn(const sim::DisplayCore::Config& display)
{
    line.withDisplay([&](sim::DisplayCore& d) {
        auto onRecord = std::move(d.onRecord); // the line's record callbacks stay
        d = sim::DisplayCore(display);
        d.onRecord = std::move(onRecord);
    });
}

void VirtualWindow::unplug()
{
    QFile::remove(port);
    line.setPortName({});
}

void VirtualWindow::plugBack()
{
    ::symlink("/dev/null", port.toLocal8Bit().constData());
    line.setPortName(port.toStdString());
}

void WorkerGate::hold()
{
    std::unique_lock lock(m_mutex);
    m_held = true;
    m_changed.notify_all();
    m_changed.wait_for(lock, std::chrono::seconds(20), [this] { return m_released; });
}

bool WorkerGate::waitHeld(int timeoutMs)
{
    QDeadlineTimer limit(timeoutMs);
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_held)
                break;
        }
        if (limit.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    QCoreApplication::processEvents();
    return true;
}

void WorkerGate::release()
{
    std::lock_guard lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
}

QString testPreferencesFile()
{
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("tarsel.conf"));
}

TarselMain::Options testOptions(BoxRecorder& boxes, const QString& portFolder, std::uint16_t langId)
{
    TarselMain::Options o;
    o.preferencesFile = testPreferencesFile();
    o.messageBoxHook = boxes.hook();
    o.sysLangId = langId;
    if (!portFolder.isEmpty())
        o.virtualPortFolder = portFolder.toStdString() + "/";
    return o;
}

bool selectPort(TarselMain& window, const QString& path)
{
    auto* ports = window.frame().cbb_SerialPort;
    window.refreshPortList();
    const int index = ports->findText(path);
    if (index < 0)
        return false;
    ports->setCurrentIndex(index);
    return window.link().PortName == path.toStdString();
}

bool waitIdle(TarselMain& window, int timeoutMs)
{
    QDeadlineTimer limit(timeoutMs);
    while (window.isBusy()) {
        if (limit.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return true;
}

bool shownOnPage(QWidget* widget)
{
    for (QWidget* w = widget; w && !w->objectName().startsWith(QLatin1String("ts")); w = w->parentWidget())
        if (w->isHidden())
            return false;
    return true;
}

bool tabVisible(TarselMain& window, QWidget* page)
{
    auto* tabs = window.frame().PageControl1;
    const int index = tabs->indexOf(page);
    return index >= 0 && tabs->isTabVisible(index);
}

} // namespace tarsel::uitest
