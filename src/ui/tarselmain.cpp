#include "ui/tarselmain.h"

#include "link/commands.h"
#include "link/connect.h"
#include "link/frame_log.h"
#include "link/models.h"
#include "link/port_list.h"
#include "link/port_tap.h"
#include "link/termios_port.h"
#include "ui/device_worker.h"
#include "ui/fill_lists.h"
#include "ui/frame_log_window.h"
#include "ui/language_table.h"
#include "ui/pictures_controller.h"
#include "ui/outcome_boxes.h"
#include "ui/preview_controller.h"
#include "ui/preferences.h"
#include "ui/qt_outlets.h"
#include "ui/settings_controller.h"
#include "ui/sys_lang.h"
#include "ui/transfer_controller.h"
#include "ui/widgets.h"
#include "ui/window_forms.h"
#include "util/version.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>

#include <cstdlib>

using tarsel::ui::QtOutlets;

namespace {

// How long closing the window waits for a running device job to unwind (a cancelled
// download first puts the display back to its own speed, which can take seconds).
constexpr int kCloseWaitMs = 10000;
// The exit status when a job did not stop in time after the window was closed.
constexpr int kForcedExitStatus = 3;
// How often the port list is read again (ports appear and disappear).
constexpr int kPortRescanMs = 2000;

// Qt's own Chinese texts for standard buttons, installed while a Chinese window exists.
QTranslator* g_qtChinese = nullptr;

void useQtChinese(bool chinese)
{
    if (chinese && !g_qtChinese) {
        auto* t = new QTranslator(qApp);
        if (t->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QApplication::installTranslator(t);
            g_qtChinese = t;
        } else {
            delete t;
        }
    } else if (!chinese && g_qtChinese) {
        QApplication::removeTranslator(g_qtChinese);
        delete g_qtChinese;
        g_qtChinese = nullptr;
    }
}

// The number in a baud combo text; an empty or blank text counts as 0.
int baudOf(const QString& text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? v : 0;
}

} // namespace

// The placeholder pictures are compiled into the static window library; make sure
// they are linked in and registered.
static void initPlaceholderResources() { Q_INIT_RESOURCE(placeholders); }
static void initIconResources() { Q_INIT_RESOURCE(appicon); }

TarselMain::TarselMain(Options options, QWidget* parent) : QMainWindow(parent), m_options(std::move(options))
{
    initPlaceholderResources();
    if (m_options.clock) {
        m_clock = m_options.clock;
    } else {
        m_ownClock = std::make_unique<tarsel::SteadyClock>();
        m_clock = m_ownClock.get();
    }
    auto factory = m_options.portFactory;
    if (!factory)
        factory = [] { return std::unique_ptr<tarsel::SerialPort>(new tarsel::TermiosPort); };
    // Both slots are tapped: the frame log sees every byte either of them moves.
    // Its time stamps are real time, whatever clock the jobs use.
    static tarsel::SteadyClock frameLogClock;
    m_frameLog = std::make_shared<tarsel::FrameLog>(frameLogClock);
    m_cmdPort = std::make_unique<tarsel::TappedPort>(factory(), m_frameLog);
    m_textPort = std::make_unique<tarsel::TappedPort>(factory(), m_frameLog);
    m_link = std::make_unique<tarsel::Link>(*m_cmdPort, *m_textPort, *m_clock);
    m_preferences = m_options.preferencesFile ? std::make_unique<tarsel::ui::Preferences>(*m_options.preferencesFile)
                                              : std::make_unique<tarsel::ui::Preferences>();

    // The forms: fixed size, border not resizable, no maximise button.
    m_forms = std::make_unique<tarsel::ui::WindowForms>();
    m_forms->setupUi(this);
    setFixedSize(856, 671);
    setWindowFlags((windowFlags() & ~Qt::WindowMaximizeButtonHint) | Qt::MSWindowsFixedSizeDialogHint);
    const tarsel::ui::WindowForms& f = *m_forms;

    tarsel::ui::OutletWidgets outletWidgets;
    outletWidgets.panel1 = f.status.StatusBar1Panel1;
    outletWidgets.panel2 = f.status.StatusBar1Panel2;
    outletWidgets.panel3 = f.status.StatusBar1Panel3;
    outletWidgets.rate = f.status.StatusBar1Rate;
    outletWidgets.bar1 = f.status.cxProgressBar1;
    outletWidgets.bar2 = f.pictures.cxProgressBar2;
    outletWidgets.log = f.download.redt_log;
    outletWidgets.slotImage = [forms = m_forms.get()](int slot) -> QWidget* { return forms->pictureSlot(slot).image; };
    m_outlets = new QtOutlets(this, std::move(outletWidgets), m_options.messageBoxHook);
    m_link->trace = [o = m_outlets, log = m_frameLog](const std::string& line) {
        o->TraceOut(line);
        log->addTrace(line);
    };
    m_worker = std::make_unique<tarsel::ui::DeviceWorker>();
    m_worker->onError = [](const char* what) { qWarning("Device job failed: %s", what); };

    // Start-up, first part: caption, status bar, tabs, language id, lists, captions.
    setWindowTitle(QStringLiteral("Tarsel v" TARSEL_VERSION));
    m_outlets->ResetProgress();
    f.frame.PageControl1->setCurrentWidget(f.frame.tsBasicSet);
    setTabShown(f.frame.tsDownloadFile, false);
    setTabShown(f.frame.tsFirmwareUpdates, false);
    m_link->SysLangId = m_options.sysLangId ? *m_options.sysLangId : tarsel::ui::systemLangId();
    fillLists();
    actSelectLanguageExecute();

    // Feature controllers: one line each. They connect to the typed controls and
    // apply their own start-up steps (default settings document, code-page test
    // buttons, picture slots).
    m_settings = new SettingsController(this);
    m_transfer = new TransferController(this);
    m_pictures = new PicturesController(this);
    m_preview = new PreviewController(this);

    // The log view's Save… (its Clear empties the view by itself).
    connect(f.download.redt_log->saveAction(), &QAction::triggered, this, &TarselMain::saveLog);
    // The frame log: a shortcut of the window itself, so that it also opens while the
    // device controls (with the "Download File" page) are disabled during a job.
    m_actFrameLog = new QAction(QStringLiteral("Frame Log…"), this);
    m_actFrameLog->setObjectName(QStringLiteral("actFrameLog"));
    m_actFrameLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    addAction(m_actFrameLog);
    connect(m_actFrameLog, &QAction::triggered, this, &TarselMain::openFrameLog);
    f.download.redt_log->addMenuAction(m_actFrameLog);
    connect(f.download.btn_FrameLog, &QPushButton::clicked, this, &TarselMain::openFrameLog);

    // Cancel, in the status bar while any device job runs.
    f.status.btn_CancelRun->setText(tarsel::ui::isChineseLangId(m_link->SysLangId) ? QStringLiteral("取消")
                                                                                     : QStringLiteral("Cancel"));
    connect(f.status.btn_CancelRun, &QPushButton::clicked, this, [this] {
        m_forms->status.btn_CancelRun->setEnabled(false);
        cancelDeviceWork();
    });
    setConnection(QStringLiteral("Not connected"));

    // Start-up, second part: ports, link speed, device controls, limits, pictures.
    formCreate();
}

TarselMain::~TarselMain()
{
    m_closing = true;
    cancelDeviceWork();
    if (m_outlets)
        m_outlets->cancelBoxes();
    if (m_worker && !m_worker->shutdown(m_options.closeWaitMs.value_or(kCloseWaitMs))) {
        qWarning("A device operation did not stop in time; leaving at once.");
        if (m_options.forcedExitHook)
            m_options.forcedExitHook(kForcedExitStatus);
        else
            std::_Exit(kForcedExitStatus);
    }
}

void TarselMain::initApplication()
{
    QApplication::setApplicationName(QStringLiteral("Tarsel"));
    QApplication::setApplicationVersion(QStringLiteral(TARSEL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(TARSEL_APP_ID));
    // The installed icon of the desktop's theme; the same picture built in otherwise.
    initIconResources();
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(TARSEL_APP_ID),
                                                 QIcon(QStringLiteral(":/icons/tarsel.png"))));
}

tarsel::Link& TarselMain::link() { return *m_link; }

tarsel::Outlets& TarselMain::outlets() { return *m_outlets; }

const QTimer* TarselMain::elapsedTimer() const { return m_outlets->elapsedTimer(); }

const Ui::MainFrame& TarselMain::frame() const { return m_forms->frame; }
const Ui::BasicPage& TarselMain::basicPage() const { return m_forms->basic; }
const Ui::DisplayPage& TarselMain::displayPage() const { return m_forms->display; }
const Ui::CodepagePage& TarselMain::codepagePage() const { return m_forms->codepage; }
const Ui::PicturePage& TarselMain::picturePage() const { return m_forms->pictures; }
const Ui::TestPage& TarselMain::testPage() const { return m_forms->test; }
const Ui::DownloadPage& TarselMain::downloadPage() const { return m_forms->download; }
const Ui::FirmwarePage& TarselMain::firmwarePage() const { return m_forms->firmware; }

void TarselMain::setTabShown(QWidget* page, bool shown)
{
    QTabWidget* tabs = m_forms->frame.PageControl1;
    tabs->setTabVisible(tabs->indexOf(page), shown);
}

int TarselMain::showMessageBox(const QString& text, int flags)
{
    return m_outlets->ShowMessageBox(text.toStdString(), flags);
}

// ---- Start-up ----

void TarselMain::fillLists()
{
    using namespace tarsel::ui;
    const WindowForms& f = *m_forms;
    auto fill = [](QComboBox* c, const QStringList& items, int index) {
        const QSignalBlocker block(c);
        c->clear();
        c->addItems(items);
        c->setCurrentIndex(index);
    };
    fill(f.basic.cbb_down_BaudRate, baudRateNames(), -1);
    fill(f.frame.cbb_BaudRate, baudRateNames(), 0);
    fill(f.basic.cbb_down_CommandMode, commandSetNames(), -1);
    f.codepage.rg_Down_CodePage->setItems(codePageNames());
    fill(f.basic.cbb_CodePage, codePageNames(), -1);
    fill(f.test.cbb_codepage_test, codePageNames(), -1);
    fill(f.display.cbb_codepage_maintext, codePageNames(), -1);
    fill(f.download.cbbCharset, catalogueNames(), -1);
    fill(f.frame.cbbDisplayMode, modelNames(), -1);
    f.codepage.rg_Down_InterChar->setItems(interCharNames(false));

    connect(f.frame.cbbDisplayMode, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_modelIndex.store(index);
        emit modelIndexChanged(index);
    });
}

void TarselMain::actSelectLanguageExecute()
{
    const bool chinese = tarsel::ui::isChineseLangId(m_link->SysLangId);
    const QStringList failed = tarsel::ui::applyCaptions(tarsel::ui::captionTable(*m_forms), chinese);
    if (!failed.isEmpty())
        qWarning("Caption table: no caption on %s", qPrintable(failed.join(QLatin1String(", "))));
    auto* inter = m_forms->codepage.rg_Down_InterChar;
    const int index = inter->itemIndex();
    inter->setItems(tarsel::ui::interCharNames(chinese));
    inter->setItemIndex(index);
    useQtChinese(chinese);
}

void TarselMain::formCreate()
{
    const tarsel::ui::WindowForms& f = *m_forms;
    // Serial ports: the port asked for (--port), else the one used last time, else
    // the first one; a failed listing is reported once.
    auto* ports = f.frame.cbb_SerialPort;
    connect(ports, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!isBusy())
            portChosen(index);
    });
    std::string message;
    if (!listPorts(m_ports, message))
        showMessageBox(QString::fromStdString(message), tarsel::kBoxError);
    int start = tarsel::FindPort(m_ports, m_options.preferredPort);
    if (start < 0)
        start = tarsel::FindPort(m_ports, m_preferences->lastPort().toStdString());
    if (start < 0 && !m_ports.empty())
        start = 0;
    fillPortCombo(start);
    if (start >= 0)
        m_selected = m_ports[static_cast<std::size_t>(start)];
    setPortName(m_selected.path.empty() ? QString() : QString::fromStdString(m_selected.path));
    m_link->BaudRate = baudOf(f.frame.cbb_BaudRate->currentText());

    m_portTimer = new QTimer(this);
    m_portTimer->setObjectName(QStringLiteral("tmrPorts"));
    m_portTimer->setInterval(kPortRescanMs);
    connect(m_portTimer, &QTimer::timeout, this, &TarselMain::refreshPortList);
    m_portTimer->start();

    // Only the port list and Connect (and Exit) until a display has been found.
    actBtnDisableExecute();
    f.frame.grp_Settings->setEnabled(true);
    f.frame.cbb_BaudRate->setEnabled(false);
    f.frame.cbbDisplayMode->setEnabled(false);

    f.basic.chk_Scroll1->hide();
    f.basic.edt_line1->setMaxLength(20);
    f.basic.edt_line2->setMaxLength(60);
    f.firmware.lbl_show_latestVersion->setText(QStringLiteral("V%1").arg(tarsel::kLatestFirmwareVersion));
    hideModelControls();
    loadPlaceholders();

    connect(f.frame.btnConnect, &QPushButton::clicked, this, &TarselMain::btnConnectClick);
    connect(f.frame.btn_Exit, &QPushButton::clicked, this, &QWidget::close);
}

QImage TarselMain::placeholder(int slot)
{
    return QImage(QStringLiteral(":/placeholders/IMG%1.jpg").arg(slot));
}

void TarselMain::loadPlaceholders()
{
    for (const tarsel::ui::SlotControls& s : m_forms->pictureSlots()) {
        const QImage picture = placeholder(s.slot);
        if (!picture.isNull())
            s.image->setPicture(picture);
    }
}

void TarselMain::setPortName(const QString& name) { m_link->PortName = name.toStdString(); }

bool TarselMain::listPorts(std::vector<tarsel::PortInfo>& ports, std::string& message) const
{
    tarsel::PortListSources sources;
    if (m_options.virtualPortFolder)
        sources.virtualFolder = *m_options.virtualPortFolder;
    return tarsel::ListPorts(ports, message, sources);
}

void TarselMain::fillPortCombo(int selectIndex)
{
    auto* combo = m_forms->frame.cbb_SerialPort;
    const QSignalBlocker block(combo);
    combo->clear();
    for (const tarsel::PortInfo& p : m_ports) {
        const QString path = QString::fromStdString(p.path);
        combo->addItem(path, path);
        QString tip = QString::fromStdString(p.description);
        if (p.device != p.path)
            tip += QStringLiteral(" (%1)").arg(QString::fromStdString(p.device));
        combo->setItemData(combo->count() - 1, tip, Qt::ToolTipRole);
    }
    if (m_portGone) {
        // The chosen port stays chosen while it is away, so that nothing goes to
        // another port without the user choosing it.
        const QString path = QString::fromStdString(m_selected.path);
        combo->addItem(QStringLiteral("%1 (not present)").arg(path), path);
        combo->setItemData(combo->count() - 1, QStringLiteral("This port has gone away"), Qt::ToolTipRole);
        selectIndex = combo->count() - 1;
    }
    combo->setCurrentIndex(selectIndex);
}

void TarselMain::portChosen(int index)
{
    if (index < 0 || index >= static_cast<int>(m_ports.size()))
        return; // the gone entry: nothing changes
    const tarsel::PortInfo& chosen = m_ports[static_cast<std::size_t>(index)];
    const bool changed = chosen.path != m_selected.path;
    m_selected = chosen;
    if (m_portGone) {
        // The user moved away from the gone port: it leaves the list.
        m_portGone = false;
        fillPortCombo(index);
    }
    setPortName(QString::fromStdString(m_selected.path));
    m_preferences->setLastPort(QString::fromStdString(m_selected.stableName));
    if (changed && m_modelIndex.load() >= 0)
        setConnection(QStringLiteral("Not checked: %1 (press Connect)").arg(QString::fromStdString(m_selected.path)));
}

void TarselMain::refreshPortList()
{
    if (isBusy() || m_closing)
        return; // the worker is using the link; try again later
    std::vector<tarsel::PortInfo> ports;
    std::string message;
    if (!listPorts(ports, message))
        return;
    const bool wasGone = m_portGone;
    const int found = m_selected.path.empty() ? -1 : tarsel::FindPort(ports, m_selected.stableName);
    if (ports == m_ports && (found >= 0) == !wasGone)
        return;
    m_ports = std::move(ports);
    if (found >= 0) {
        // The chosen port is here (again): the same path or the same stable name.
        m_portGone = false;
        m_selected = m_ports[static_cast<std::size_t>(found)];
        fillPortCombo(found);
        setPortName(QString::fromStdString(m_selected.path));
        if (wasGone)
            setConnection(QStringLiteral("Not connected: %1 is back (press Connect)")
                              .arg(QString::fromStdString(m_selected.path)));
        return;
    }
    if (!m_selected.path.empty()) {
        // The chosen port went away: the window no longer knows a display, and
        // PortName stays on the missing port (every command fails to open it).
        m_portGone = true;
        fillPortCombo(-1);
        if (!wasGone)
            markNotConnected(QStringLiteral("Not connected: %1 went away").arg(QString::fromStdString(m_selected.path)));
        return;
    }
    // Nothing was chosen yet (there was no port at all): the first one now.
    fillPortCombo(m_ports.empty() ? -1 : 0);
    if (!m_ports.empty()) {
        m_selected = m_ports.front();
        setPortName(QString::fromStdString(m_selected.path));
    }
}

void TarselMain::setConnection(const QString& text)
{
    m_connectionText = text;
    // As much as fits in the status bar; the whole text is its tooltip.
    m_forms->status.lbl_Connection->setFullText(text);
}

void TarselMain::markNotConnected(const QString& why)
{
    const tarsel::ui::WindowForms& f = *m_forms;
    {
        const QSignalBlocker block(f.frame.cbbDisplayMode);
        f.frame.cbbDisplayMode->setCurrentIndex(-1);
    }
    m_modelIndex.store(-1);
    emit modelIndexChanged(-1);
    hideModelControls();
    // Only the port list and Connect (and Exit), as before the first Connect.
    actBtnDisableExecute();
    f.frame.grp_Settings->setEnabled(true);
    setConnection(why);
}

// ---- The log view ----

void TarselMain::saveLog()
{
    using tarsel::ui::FileKind;
    const QString folder = m_preferences->startFolder(FileKind::LogFiles);
    const QString path = m_options.logSaveDialogHook
        ? m_options.logSaveDialogHook(folder)
        : QFileDialog::getSaveFileName(this, QString(), folder + QStringLiteral("/tarsel-log.txt"),
                                       QStringLiteral("Text Files (*.txt);;All Files (*)"));
    if (path.isEmpty())
        return;
    m_preferences->rememberFile(FileKind::LogFiles, path);
    QString error;
    if (!m_forms->download.redt_log->saveToFile(path, error))
        showMessageBox(QStringLiteral("Cannot save the log to \"%1\": %2").arg(path, error), tarsel::kBoxError);
}

// ---- The frame log ----

void TarselMain::openFrameLog()
{
    if (!m_frameLogWindow) {
        m_frameLogWindow = new tarsel::ui::FrameLogWindow(
            m_frameLog, m_preferences.get(), [this](const QString& text, int flags) { return showMessageBox(text, flags); },
            this);
        m_frameLogWindow->setObjectName(QStringLiteral("frmFrameLog"));
    }
    m_frameLogWindow->show();
    m_frameLogWindow->raise();
    m_frameLogWindow->activateWindow();
}

tarsel::ui::FrameLogWindow* TarselMain::frameLogWindow() const { return m_frameLogWindow; }

// ---- Device-controls group and Busy ----

void TarselMain::setGroupEnabled(bool enabled)
{
    if (isBusy()) {
        m_groupState.assign(m_forms->deviceGroup().size(), enabled);
        return;
    }
    for (QWidget* w : m_forms->deviceGroup())
        w->setEnabled(enabled);
}

void TarselMain::actBtnDisableExecute() { setGroupEnabled(false); }

void TarselMain::actBtnEnableExecute() { setGroupEnabled(true); }

void TarselMain::enterBusy()
{
    if (m_busyDepth++ > 0)
        return;
    const auto group = m_forms->deviceGroup();
    m_groupState.clear();
    for (QWidget* w : group) {
        m_groupState.push_back(!w->testAttribute(Qt::WA_ForceDisabled));
        w->setEnabled(false);
    }
    m_forms->status.btn_CancelRun->setEnabled(true);
    m_forms->status.btn_CancelRun->show();
    emit busyChanged(true);
}

void TarselMain::leaveBusy()
{
    if (m_busyDepth == 0 || --m_busyDepth > 0)
        return;
    const auto group = m_forms->deviceGroup();
    for (std::size_t i = 0; i < group.size() && i < m_groupState.size(); ++i)
        group[i]->setEnabled(m_groupState[i]);
    m_forms->status.btn_CancelRun->hide();
    // A port chosen while the job ran takes effect now.
    const int index = m_forms->frame.cbb_SerialPort->currentIndex();
    if (index >= 0 && index < static_cast<int>(m_ports.size())
        && m_ports[static_cast<std::size_t>(index)].path != m_selected.path)
        portChosen(index);
    emit busyChanged(false);
}

void TarselMain::runDeviceJob(std::function<void()> job, std::function<void()> done, QString cancelledText)
{
    if (m_closing)
        return;
    enterBusy();
    // Every job gets its own token: a cancel meant for one job never reaches the next.
    auto token = std::make_shared<tarsel::CancelToken>();
    {
        std::lock_guard lock(m_jobMutex);
        m_jobToken = token;
    }
    if (m_closing)
        token->cancel();
    m_worker->post([this, token, job = std::move(job), done = std::move(done), cancelledText]() mutable {
        if (!token->cancelled()) {
            const tarsel::CancelScope scope(*m_link, token.get());
            try {
                job();
            } catch (const std::exception& e) {
                qWarning("Device job failed: %s", e.what());
            } catch (...) {
                // Whatever went wrong, the window must leave Busy below.
                qWarning("Device job failed with an unknown exception");
            }
        }
        QMetaObject::invokeMethod(this, [this, token, done = std::move(done), cancelledText] {
            m_doneOfCancelledJob = token->cancelled();
            if (done && !m_closing)
                done();
            m_doneOfCancelledJob = false;
            leaveBusy();
            if (token->cancelled() && !m_closing && !cancelledText.isEmpty())
                showMessageBox(cancelledText, tarsel::kBoxInfo);
        }, Qt::QueuedConnection);
    });
}

void TarselMain::cancelDeviceWork()
{
    std::lock_guard lock(m_jobMutex);
    if (m_jobToken)
        m_jobToken->cancel();
}

// ---- Window events ----

void TarselMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TarselMain::closeEvent(QCloseEvent* event)
{
    if (!isBusy()) {
        m_closing = true;
        m_portTimer->stop();
        m_worker->shutdown(m_options.closeWaitMs.value_or(kCloseWaitMs));
        event->accept();
        return;
    }
    // A job runs: cancel it (a box it waits for is answered) and close once it has
    // unwound; the window stays responsive meanwhile. A job that does not stop in time
    // ends the program with a failure status, never as a success.
    event->ignore();
    if (m_closing)
        return;
    m_closing = true;
    m_portTimer->stop();
    cancelDeviceWork();
    m_outlets->cancelBoxes();
    setConnection(QStringLiteral("Closing: waiting for the running operation to stop"));
    connect(this, &TarselMain::busyChanged, this, [this](bool busy) {
        if (!busy)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
    QTimer::singleShot(m_options.closeWaitMs.value_or(kCloseWaitMs), this, [this] {
        if (!isBusy())
            return;
        qWarning("A device operation did not stop in time after the window was closed; leaving at once.");
        if (m_options.forcedExitHook)
            m_options.forcedExitHook(kForcedExitStatus);
        else
            std::_Exit(kForcedExitStatus);
    });
}

// ---- Connect ----

void TarselMain::hideModelControls()
{
    const tarsel::ui::WindowForms& f = *m_forms;
    QWidget* const controls[] = {f.pictures.pnlSlot86, f.pictures.cxImage86, f.pictures.CheckBox86,
        f.pictures.Button27, f.pictures.Button28, f.test.lbl_PicNo, f.test.ud_PicNo, f.test.btn_ShowQrCodeAt};
    for (QWidget* w : controls)
        w->hide();
    setTabShown(f.frame.tsFirmwareUpdates, false);
}

void TarselMain::showModelControls(int index)
{
    const tarsel::ui::WindowForms& f = *m_forms;
    if (tarsel::HasSlot86(index)) {
        QWidget* const slot86[] = {f.pictures.pnlSlot86, f.pictures.cxImage86, f.pictures.CheckBox86,
            f.pictures.Button27, f.pictures.Button28};
        for (QWidget* w : slot86)
            w->show();
    }
    if (tarsel::HasPictureNumberControls(index)) {
        QWidget* const pictureNumber[] = {f.test.lbl_PicNo, f.test.ud_PicNo, f.test.btn_ShowQrCodeAt};
        for (QWidget* w : pictureNumber)
            w->show();
    }
}

void TarselMain::btnConnectClick()
{
    if (isBusy() || m_closing)
        return;
    hideModelControls();
    auto* baud = m_forms->frame.cbb_BaudRate;
    QStringList bauds;
    for (int i = 0; i < baud->count(); ++i)
        bauds << baud->itemText(i);
    auto found = std::make_shared<int>(-1);
    runDeviceJob([this, bauds, found] { *found = connectJob(bauds); },
                 [this, found] {
                     if (*found >= 0) {
                         m_preferences->setLastPort(QString::fromStdString(m_selected.stableName));
                         emit deviceConnected(*found);
                     } else if (m_connectionText.startsWith(QStringLiteral("Connecting"))) {
                         setConnection(QStringLiteral("Not connected"));
                     }
                 },
                 QStringLiteral("Connect was cancelled: no display is connected."));
}

int TarselMain::connectJob(const QStringList& bauds)
{
    // The baud scan: the combo shows the speed being tried.
    std::vector<int> speeds;
    for (const QString& text : bauds)
        speeds.push_back(baudOf(text));
    const QString port = QString::fromStdString(m_selected.path);
    tarsel::ConnectHooks hooks;
    hooks.tryingSpeed = [this, speeds](int i) {
        m_outlets->onGui([this, i, baud = speeds[static_cast<std::size_t>(i)]] {
            m_forms->frame.cbb_BaudRate->setCurrentIndex(i);
            setConnection(QStringLiteral("Connecting… %1 bit/s").arg(baud));
        });
    };
    hooks.modelFound = [this, port](int index) {
        m_outlets->onGui([this, index, port, baud = m_link->BaudRate] {
            m_forms->frame.cbbDisplayMode->setCurrentIndex(index);
            actBtnEnableExecute();
            showModelControls(index);
            setConnection(QStringLiteral("%1, %2 bit/s, %3")
                              .arg(QString::fromStdString(tarsel::ModelName(index)))
                              .arg(baud)
                              .arg(port));
        });
    };
    hooks.announce = [this](int index) {
        m_outlets->ShowMessageBox(tarsel::ConnectedText(index), tarsel::kBoxInfo);
        m_outlets->onGui([this] { setTabShown(m_forms->frame.tsFirmwareUpdates, false); });
    };
    auto found = std::make_shared<int>(-1);
    hooks.readingVersion = [this, found](int index) {
        *found = index;
        m_outlets->onGui([this, name = tarsel::ModelName(index)] {
            m_forms->firmware.lbl_show_deviceModel->setText(QString::fromStdString(name));
        });
    };
    hooks.versionRead = [this, port, found](int version) {
        m_outlets->onGui([this, version, port, index = *found, baud = m_link->BaudRate] {
            m_forms->firmware.lbl_show_currentVersion->setText(QStringLiteral("V%1").arg(version));
            setConnection(QStringLiteral("%1 V%2, %3 bit/s, %4")
                              .arg(QString::fromStdString(tarsel::ModelName(index)))
                              .arg(version)
                              .arg(baud)
                              .arg(port));
        });
    };
    const tarsel::ConnectResult result = tarsel::ScanForDisplay(*m_link, speeds, {}, hooks);
    tarsel::ui::ShowNotice(*m_outlets, tarsel::ui::ConnectFailedNotice(result));
    if (result.firmwareOld()) {
        m_outlets->onGui([this] { setTabShown(m_forms->frame.tsFirmwareUpdates, true); });
        m_outlets->ShowMessageBox(tarsel::kFirmwareWarning, tarsel::kBoxWarning);
    }
    return result.modelIndex;
}
