#include "ui/tarselmain.h"

#include "link/commands.h"
#include "link/models.h"
#include "link/port_list.h"
#include "link/termios_port.h"
#include "ui/device_worker.h"
#include "ui/fill_lists.h"
#include "ui/language_table.h"
#include "ui/pictures_controller.h"
#include "ui/qt_outlets.h"
#include "ui/settings_controller.h"
#include "ui/sys_lang.h"
#include "ui/transfer_controller.h"
#include "ui/widgets.h"
#include "util/version.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
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

// How long closing the window waits for a running device job to unwind.
constexpr int kCloseWaitMs = 3000;
// How often the port list is read again (ports appear and disappear).
constexpr int kPortRescanMs = 2000;

const char* const kFirmwareWarning =
    "The current firmware version is lower than the latest version.\n\nPlease update the firmware version.";

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
    m_cmdPort = factory();
    m_textPort = factory();
    m_link = std::make_unique<tarsel::Link>(*m_cmdPort, *m_textPort, *m_clock);

    buildWindow();
    m_outlets = new QtOutlets(this, m_options.messageBoxHook);
    m_link->trace = [o = m_outlets](const std::string& line) { o->TraceOut(line); };
    m_worker = std::make_unique<tarsel::ui::DeviceWorker>();
    m_worker->onError = [](const char* what) { qWarning("Device job failed: %s", what); };

    // Start-up, first part: caption, status bar, tabs, language id, lists, captions.
    setWindowTitle(QStringLiteral("Tarsel v" TARSEL_VERSION));
    m_outlets->ResetProgress();
    auto* tabs = control<QTabWidget>("PageControl1");
    tabs->setCurrentIndex(tabs->indexOf(control<QWidget>("tsBasicSet")));
    tabs->setTabVisible(tabs->indexOf(control<QWidget>("tsDownloadFile")), false);
    tabs->setTabVisible(tabs->indexOf(control<QWidget>("tsFirmwareUpdates")), false);
    m_link->SysLangId = m_options.sysLangId ? *m_options.sysLangId : tarsel::ui::systemLangId();
    fillLists();
    actSelectLanguageExecute();

    // Feature controllers: one line each. They connect to the controls by name and
    // apply their own start-up steps (default settings document, code-page test
    // buttons, picture slots).
    new SettingsController(this);
    new TransferController(this);
    new PicturesController(this);

    // Start-up, second part: ports, link speed, device controls, limits, pictures.
    formCreate();
}

TarselMain::~TarselMain()
{
    m_closing = true;
    cancelDeviceWork();
    if (m_outlets)
        m_outlets->cancelBoxes();
    if (m_worker && !m_worker->shutdown(kCloseWaitMs)) {
        qWarning("A device operation did not stop in time; leaving at once.");
        std::_Exit(0);
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

int TarselMain::showMessageBox(const QString& text, int flags)
{
    return m_outlets->ShowMessageBox(text.toStdString(), flags);
}

// ---- Start-up ----

void TarselMain::fillLists()
{
    using namespace tarsel::ui;
    auto fill = [this](const char* name, const QStringList& items, int index) {
        auto* c = control<QComboBox>(name);
        const QSignalBlocker block(c);
        c->clear();
        c->addItems(items);
        c->setCurrentIndex(index);
    };
    fill("cbb_down_BaudRate", baudRateNames(), -1);
    fill("cbb_BaudRate", baudRateNames(), 0);
    fill("cbb_down_CommandMode", commandSetNames(), -1);
    control<RadioGroup>("rg_Down_CodePage")->setItems(codePageNames());
    fill("cbb_CodePage", codePageNames(), -1);
    fill("cbb_codepage_test", codePageNames(), -1);
    fill("cbb_codepage_maintext", codePageNames(), -1);
    fill("cbbCharset", catalogueNames(), -1);
    fill("cbbDisplayMode", modelNames(), -1);
    control<RadioGroup>("rg_Down_InterChar")->setItems(interCharNames(false));

    auto* model = control<QComboBox>("cbbDisplayMode");
    connect(model, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_modelIndex.store(index);
        emit modelIndexChanged(index);
    });
}

void TarselMain::actSelectLanguageExecute()
{
    const bool chinese = tarsel::ui::isChineseLangId(m_link->SysLangId);
    const QStringList missing = tarsel::ui::applyCaptions(this, chinese);
    if (!missing.isEmpty())
        qWarning("Caption table: no control named %s", qPrintable(missing.join(QLatin1String(", "))));
    auto* inter = control<tarsel::ui::RadioGroup>("rg_Down_InterChar");
    const int index = inter->itemIndex();
    inter->setItems(tarsel::ui::interCharNames(chinese));
    inter->setItemIndex(index);
    useQtChinese(chinese);
}

void TarselMain::formCreate()
{
    // Serial ports: the first one is selected; a failed listing is reported once.
    auto* ports = control<QComboBox>("cbb_SerialPort");
    connect(ports, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!isBusy())
            setPortName(text);
    });
    std::vector<std::string> list;
    std::string message;
    const bool listed = m_options.virtualPortFolder
        ? tarsel::ListComPorts(list, message, tarsel::PortListSources{.virtualFolder = *m_options.virtualPortFolder})
        : tarsel::ListComPorts(list, message);
    if (!listed)
        showMessageBox(QString::fromStdString(message), tarsel::kBoxError);
    {
        const QSignalBlocker block(ports);
        ports->clear();
        for (const std::string& p : list)
            ports->addItem(QString::fromStdString(p));
        const int preferred = ports->findText(QString::fromStdString(m_options.preferredPort));
        ports->setCurrentIndex(preferred >= 0 ? preferred : (ports->count() > 0 ? 0 : -1));
    }
    setPortName(ports->currentText());
    m_link->BaudRate = baudOf(control<QComboBox>("cbb_BaudRate")->currentText());

    m_portTimer = new QTimer(this);
    m_portTimer->setObjectName(QStringLiteral("tmrPorts"));
    m_portTimer->setInterval(kPortRescanMs);
    connect(m_portTimer, &QTimer::timeout, this, &TarselMain::refreshPortList);
    m_portTimer->start();

    // Only the port list and Connect (and Exit) until a display has been found.
    actBtnDisableExecute();
    control<QWidget>("grp_Settings")->setEnabled(true);
    control<QWidget>("cbb_BaudRate")->setEnabled(false);
    control<QWidget>("cbbDisplayMode")->setEnabled(false);

    control<QWidget>("chk_Scroll1")->hide();
    control<QLineEdit>("edt_line1")->setMaxLength(20);
    control<QLineEdit>("edt_line2")->setMaxLength(60);
    control<QLabel>("lbl_show_latestVersion")->setText(QStringLiteral("V%1").arg(tarsel::kLatestFirmwareVersion));
    hideModelControls();
    loadPlaceholders();

    connect(control<QPushButton>("btnConnect"), &QPushButton::clicked, this, &TarselMain::btnConnectClick);
    connect(control<QPushButton>("btn_Exit"), &QPushButton::clicked, this, &QWidget::close);
}

QImage TarselMain::placeholder(int slot)
{
    return QImage(QStringLiteral(":/placeholders/IMG%1.jpg").arg(slot));
}

void TarselMain::loadPlaceholders()
{
    for (int slot = 73; slot <= 86; ++slot) {
        auto* image = findChild<tarsel::ui::SlotImage*>(QStringLiteral("cxImage%1").arg(slot));
        const QImage picture = placeholder(slot);
        if (image && !picture.isNull())
            image->setPicture(picture);
    }
}

void TarselMain::setPortName(const QString& name) { m_link->PortName = name.toStdString(); }

void TarselMain::refreshPortList()
{
    if (isBusy() || m_closing)
        return; // the worker is using the link; try again later
    std::vector<std::string> list;
    std::string message;
    const bool listed = m_options.virtualPortFolder
        ? tarsel::ListComPorts(list, message, tarsel::PortListSources{.virtualFolder = *m_options.virtualPortFolder})
        : tarsel::ListComPorts(list, message);
    if (!listed)
        return;
    QStringList names;
    for (const std::string& p : list)
        names << QString::fromStdString(p);
    auto* ports = control<QComboBox>("cbb_SerialPort");
    QStringList current;
    for (int i = 0; i < ports->count(); ++i)
        current << ports->itemText(i);
    if (names == current)
        return;
    // Keep the selection while its port exists; otherwise take the first port.
    const QString selected = ports->currentText();
    {
        const QSignalBlocker block(ports);
        ports->clear();
        ports->addItems(names);
        const int keep = names.indexOf(selected);
        ports->setCurrentIndex(keep >= 0 ? keep : (names.isEmpty() ? -1 : 0));
    }
    setPortName(ports->currentText());
}

// ---- Device-controls group and Busy ----

std::vector<QWidget*> TarselMain::deviceGroup() const
{
    static const char* const names[] = {"PageControl1", "grp_Settings", "btn_Default",
        "btn_loadsettings", "btn_savesettings", "btn_GetSetting", "btn_AllDownload",
        "btn_ResetDisplay", "btn_RestartDisplay"};
    std::vector<QWidget*> out;
    for (const char* n : names)
        out.push_back(control<QWidget>(n));
    return out;
}

void TarselMain::setGroupEnabled(bool enabled)
{
    if (isBusy()) {
        m_groupState.assign(deviceGroup().size(), enabled);
        return;
    }
    for (QWidget* w : deviceGroup())
        w->setEnabled(enabled);
}

void TarselMain::actBtnDisableExecute() { setGroupEnabled(false); }

void TarselMain::actBtnEnableExecute() { setGroupEnabled(true); }

void TarselMain::enterBusy()
{
    if (m_busyDepth++ > 0)
        return;
    const auto group = deviceGroup();
    m_groupState.clear();
    for (QWidget* w : group) {
        m_groupState.push_back(!w->testAttribute(Qt::WA_ForceDisabled));
        w->setEnabled(false);
    }
    emit busyChanged(true);
}

void TarselMain::leaveBusy()
{
    if (m_busyDepth == 0 || --m_busyDepth > 0)
        return;
    const auto group = deviceGroup();
    for (std::size_t i = 0; i < group.size() && i < m_groupState.size(); ++i)
        group[i]->setEnabled(m_groupState[i]);
    setPortName(control<QComboBox>("cbb_SerialPort")->currentText());
    emit busyChanged(false);
}

void TarselMain::runDeviceJob(std::function<void()> job, std::function<void()> done)
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
    m_worker->post([this, token, job = std::move(job), done = std::move(done)]() mutable {
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
        QMetaObject::invokeMethod(this, [this, done = std::move(done)] {
            if (done && !m_closing)
                done();
            leaveBusy();
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
    // Abandon a running operation: its sleeps return at once, a box it waits for is
    // answered, and the worker is waited for briefly.
    m_closing = true;
    m_portTimer->stop();
    cancelDeviceWork();
    m_outlets->cancelBoxes();
    if (!m_worker->shutdown(kCloseWaitMs)) {
        qWarning("A device operation did not stop in time; leaving at once.");
        std::_Exit(0);
    }
    event->accept();
}

// ---- Connect ----

void TarselMain::hideModelControls()
{
    static const char* const names[] = {"cxImage86", "CheckBox86", "Button27", "Button28",
        "lbl_PicNo", "ud_PicNo", "btn_ShowQrCodeAt"};
    for (const char* n : names)
        control<QWidget>(n)->hide();
    if (auto* slot = control<QWidget>("pnlSlot86"))
        slot->hide();
    auto* tabs = control<QTabWidget>("PageControl1");
    tabs->setTabVisible(tabs->indexOf(control<QWidget>("tsFirmwareUpdates")), false);
}

void TarselMain::showModelControls(int index)
{
    if (tarsel::HasSlot86(index)) {
        for (const char* n : {"pnlSlot86", "cxImage86", "CheckBox86", "Button27", "Button28"})
            control<QWidget>(n)->show();
    }
    if (tarsel::HasPictureNumberControls(index)) {
        for (const char* n : {"lbl_PicNo", "ud_PicNo", "btn_ShowQrCodeAt"})
            control<QWidget>(n)->show();
    }
}

void TarselMain::btnConnectClick()
{
    if (isBusy() || m_closing)
        return;
    hideModelControls();
    auto* baud = control<QComboBox>("cbb_BaudRate");
    QStringList bauds;
    for (int i = 0; i < baud->count(); ++i)
        bauds << baud->itemText(i);
    auto found = std::make_shared<int>(-1);
    runDeviceJob([this, bauds, found] { *found = connectJob(bauds); },
                 [this, found] {
                     if (*found >= 0)
                         emit deviceConnected(*found);
                 });
}

int TarselMain::connectJob(const QStringList& bauds)
{
    tarsel::Link& link = *m_link;
    auto cancelled = [&link] { return link.cancelled(); };

    // The baud scan: the combo shows the speed being tried.
    std::string message;
    int index = -1;
    for (int i = 0; i < bauds.size() && index < 0; ++i) {
        if (cancelled())
            return -1;
        m_outlets->onGui([this, i] { control<QComboBox>("cbb_BaudRate")->setCurrentIndex(i); });
        link.BaudRate = baudOf(bauds[i]);
        index = tarsel::DetectModel(link, message);
        if (index < 0)
            link.pause(100);
    }
    if (index < 0) {
        if (!cancelled())
            m_outlets->ShowMessageBox(message, tarsel::kBoxError);
        return -1;
    }

    m_outlets->onGui([this, index] {
        control<QComboBox>("cbbDisplayMode")->setCurrentIndex(index);
        actBtnEnableExecute();
        showModelControls(index);
    });
    std::string ignored;
    tarsel::ClearDisplay(link, ignored);
    const std::string name = tarsel::ModelName(index);
    m_outlets->ShowMessageBox("Connected to " + name + "!", tarsel::kBoxInfo);
    m_outlets->onGui([this] {
        auto* tabs = control<QTabWidget>("PageControl1");
        tabs->setTabVisible(tabs->indexOf(control<QWidget>("tsFirmwareUpdates")), false);
    });
    if (!tarsel::ChecksFirmwareVersion(index))
        return index;

    m_outlets->onGui([this, name] { control<QLabel>("lbl_show_deviceModel")->setText(QString::fromStdString(name)); });
    const int version = tarsel::ReadVersion(link);
    m_outlets->onGui([this, version] {
        control<QLabel>("lbl_show_currentVersion")->setText(QStringLiteral("V%1").arg(version));
    });
    if (version < tarsel::kLatestFirmwareVersion) {
        m_outlets->onGui([this] {
            auto* tabs = control<QTabWidget>("PageControl1");
            tabs->setTabVisible(tabs->indexOf(control<QWidget>("tsFirmwareUpdates")), true);
        });
        m_outlets->ShowMessageBox(kFirmwareWarning, tarsel::kBoxWarning);
    }
    return index;
}
