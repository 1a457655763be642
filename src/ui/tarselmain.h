// The main window: connection settings, the seven tab pages, the bottom button row
// and the status bar; it owns the link state, the device worker and the outlets.
#pragma once

#include "link/clock.h"
#include "link/link.h"
#include "link/outlets.h"
#include "link/port_list.h"
#include "link/serial_port.h"

#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QTimer;
class PicturesController;
class PreviewController;
class SettingsController;
class TransferController;

namespace Ui {
class MainFrame;
class BasicPage;
class DisplayPage;
class CodepagePage;
class PicturePage;
class TestPage;
class DownloadPage;
class FirmwarePage;
} // namespace Ui

namespace tarsel {
class FrameLog;
}

namespace tarsel::ui {
class DeviceWorker;
class FrameLogWindow;
class Preferences;
class QtOutlets;
struct WindowForms;
} // namespace tarsel::ui

// What the window is created with; every member has a production default.
struct TarselMainOptions {
    tarsel::Clock* clock = nullptr; // default: a SteadyClock owned by the window
    // Makes one handle slot (called twice: CmdPort, TextPort); default: TermiosPort.
    // Either way the window puts a tap on it that feeds the frame log.
    std::function<std::unique_ptr<tarsel::SerialPort>()> portFactory;
    // Tests: answers message boxes without showing a dialog (window's thread).
    std::function<int(const QString& text, int flags)> messageBoxHook;
    std::optional<std::uint16_t> sysLangId; // default: from the system locale
    // The port selected at start when it is listed (default: the first port).
    std::string preferredPort;
    // Where virtual displays register; empty: the default folder. (Tests.)
    std::optional<std::string> virtualPortFolder;
    // The file the window's remembered choices are kept in; default: the user's
    // configuration file (see ui/preferences.h). (Tests.)
    std::optional<QString> preferencesFile;
    // Tests: the log's Save… dialog; gets the folder it would open in, returns the
    // chosen path (empty = cancelled).
    std::function<QString(const QString& folder)> logSaveDialogHook;
    // Tests: called instead of ending the process when a job does not stop in time
    // after the window was closed (the process ends with this non-zero status).
    std::function<void(int status)> forcedExitHook;
    // How long closing waits for a running job to stop (default 10 s). (Tests.)
    std::optional<int> closeWaitMs;
};

class TarselMain : public QMainWindow {
    Q_OBJECT

public:
    using Options = TarselMainOptions;

    explicit TarselMain(Options options = {}, QWidget* parent = nullptr);

    // The application's name "Tarsel", its version, desktop entry and window icon
    // (call after the QApplication exists). No separate display
    // name is set: the desktop would append it to every window title
    // ("Tarsel v3.1 — Tarsel").
    static void initApplication();
    ~TarselMain() override;

    // PortName, BaudRate, SysLangId, CmdPort, TextPort, clock, trace. Jobs on the
    // device worker may use it freely; the window's thread leaves it alone while busy.
    tarsel::Link& link();
    // Usable from the worker thread.
    tarsel::Outlets& outlets();
    // tmr1: the elapsed-seconds timer of the status bar.
    const QTimer* elapsedTimer() const;
    // cbbDisplayMode's item index (-1 before Connect). Safe from any thread.
    int modelIndex() const { return m_modelIndex.load(); }
    bool isBusy() const { return m_busyDepth > 0; }

    // Runs `job` on the device worker (Busy: device-controls group disabled and the
    // status bar's Cancel button shown meanwhile), then `done` on the window's thread,
    // then leaves Busy, restoring the group's enabled state (as changed by
    // actBtnEnableExecute/actBtnDisableExecute calls made while busy, e.g. from
    // `done`). The job runs with a cancel token of its own on the link; when it was
    // cancelled, `cancelledText` (unless empty) is shown in an information box after it.
    void runDeviceJob(std::function<void()> job, std::function<void()> done = {},
                      QString cancelledText = QStringLiteral("The operation was cancelled."));
    // In a job's `done`: whether that job was cancelled.
    bool jobWasCancelled() const { return m_doneOfCancelledJob; }

    // The window's controls, typed (ui/window_forms.h): the frame around the pages,
    // each tab page, the status bar panels and the picture slots.
    const tarsel::ui::WindowForms& forms() const { return *m_forms; }
    const Ui::MainFrame& frame() const;
    const Ui::BasicPage& basicPage() const;
    const Ui::DisplayPage& displayPage() const;
    const Ui::CodepagePage& codepagePage() const;
    const Ui::PicturePage& picturePage() const;
    const Ui::TestPage& testPage() const;
    const Ui::DownloadPage& downloadPage() const;
    const Ui::FirmwarePage& firmwarePage() const;

    // The feature controllers, made with the window.
    SettingsController& settingsController() const { return *m_settings; }
    TransferController& transferController() const { return *m_transfer; }
    PicturesController& picturesController() const { return *m_pictures; }
    PreviewController& previewController() const { return *m_preview; }

    // What the window remembers between runs (file dialog folders).
    tarsel::ui::Preferences& preferences() const { return *m_preferences; }

    // The log view's Save…: asks for a file (starting in the remembered folder) and
    // writes the log into it; a failure is shown in an error box.
    void saveLog();

    // Disable / enable the device-controls group (PageControl1, grp_Settings and the
    // bottom buttons except Exit).
    void actBtnDisableExecute();
    void actBtnEnableExecute();

    // Cancels the running job: its token ends every pause, wait and write at once.
    void cancelDeviceWork();

    // The window's own message box (title "Tarsel"), for handlers on the window's thread.
    int showMessageBox(const QString& text, int flags);

    // Connect: the baud scan, model detection and model-dependent controls.
    void btnConnectClick();
    // The placeholder picture of a slot (73..86); null when it is not carried.
    static QImage placeholder(int slot);

    // Re-reads the serial port list (also done every two seconds). A selected port that
    // has gone away stays selected (marked as gone) and the window becomes "not
    // connected"; nothing is ever moved to another port without the user. When the
    // same port comes back (same path or the same stable name) it is selected again.
    void refreshPortList();
    // The ports as last listed (the combo's items, without a gone entry).
    const std::vector<tarsel::PortInfo>& ports() const { return m_ports; }
    // True while the selected port is missing from the machine.
    bool selectedPortGone() const { return m_portGone; }
    // The connection widget's full text ("Not connected", "Connecting… 19200 bit/s",
    // "KT710-II V12, 38400 bit/s, /dev/serial/by-id/…").
    QString connectionText() const { return m_connectionText; }

    // The frame log: every byte written to and read from the port and every frame
    // trace line, collected from the start (also while its window is closed).
    tarsel::FrameLog& frameLog() const { return *m_frameLog; }
    // Opens the frame log window, or brings it to the front (Ctrl+L, the "Frame
    // Log…" button beside the log view and the log view's context menu).
    void openFrameLog();
    // The frame log window; null until it is first opened.
    tarsel::ui::FrameLogWindow* frameLogWindow() const;
    QAction* frameLogAction() const { return m_actFrameLog; }

signals:
    // cbbDisplayMode's item index changed (Connect found a display).
    void modelIndexChanged(int modelIndex);
    // A Connect finished successfully.
    void deviceConnected(int modelIndex);
    void busyChanged(bool busy);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Start-up.
    void formCreate();
    void fillLists();
    void actSelectLanguageExecute();
    void loadPlaceholders();
    void setPortName(const QString& name);

    // Busy state and the device-controls group.
    void enterBusy();
    void leaveBusy();
    void setGroupEnabled(bool enabled);

    // The port list and the connection state.
    bool listPorts(std::vector<tarsel::PortInfo>& ports, std::string& message) const;
    void fillPortCombo(int selectIndex);
    void portChosen(int index);
    void setConnection(const QString& text);
    void markNotConnected(const QString& why);

    // Connect, on the worker.
    int connectJob(const QStringList& bauds); // the model index found, or -1
    void hideModelControls();
    void showModelControls(int index);
    void setTabShown(QWidget* page, bool shown);

    Options m_options;
    std::unique_ptr<tarsel::ui::WindowForms> m_forms;
    std::unique_ptr<tarsel::ui::Preferences> m_preferences;
    SettingsController* m_settings = nullptr;
    TransferController* m_transfer = nullptr;
    PicturesController* m_pictures = nullptr;
    PreviewController* m_preview = nullptr;
    std::unique_ptr<tarsel::Clock> m_ownClock;
    tarsel::Clock* m_clock = nullptr;
    // Shared with the ports' taps, the trace sink and the frame log window.
    std::shared_ptr<tarsel::FrameLog> m_frameLog;
    QPointer<tarsel::ui::FrameLogWindow> m_frameLogWindow;
    QAction* m_actFrameLog = nullptr;
    std::unique_ptr<tarsel::SerialPort> m_cmdPort;
    std::unique_ptr<tarsel::SerialPort> m_textPort;
    std::unique_ptr<tarsel::Link> m_link;
    tarsel::ui::QtOutlets* m_outlets = nullptr;
    std::unique_ptr<tarsel::ui::DeviceWorker> m_worker;
    std::mutex m_jobMutex;
    std::shared_ptr<tarsel::CancelToken> m_jobToken; // the latest job's token

    std::atomic<int> m_modelIndex{-1};
    int m_busyDepth = 0;
    std::vector<bool> m_groupState; // the group's enabled flags to restore after Busy
    bool m_centred = false;
    std::atomic<bool> m_closing{false};
    QTimer* m_portTimer = nullptr;

    std::vector<tarsel::PortInfo> m_ports; // as last listed
    tarsel::PortInfo m_selected;           // the port the user chose (or was given)
    bool m_portGone = false;               // ... and it is missing now
    QString m_connectionText;
    bool m_doneOfCancelledJob = false;
};
