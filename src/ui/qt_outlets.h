// The window's outlets: message boxes, status bar and progress, log view and frame
// trace. Every call may come from the device worker; it is carried out on the
// window's thread. ShowMessageBox blocks the calling worker until the box is answered.
#pragma once

#include "link/outlets.h"

#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

class QLabel;
class QMessageBox;
class QProgressBar;
class QTextEdit;
class QTimer;
class QWidget;

Q_DECLARE_LOGGING_CATEGORY(lcFrames)

namespace tarsel::ui {

class QtOutlets : public QObject, public tarsel::Outlets {
    Q_OBJECT

public:
    // Answers a box instead of showing it (tests); called on the window's thread.
    using BoxHook = std::function<int(const QString& text, int flags)>;

    // `window` holds the status bar panels, both progress bars, the log view and the
    // picture slots (looked up by their object names).
    QtOutlets(QWidget* window, BoxHook hook);

    int ShowMessageBox(const std::string& text, int flags) override;
    void ShowLogOnRichEdit(const std::string& text, bool error) override;
    void StartProgress(const std::string& text, int maximum, int kind) override;
    void SetProgressMax(int maximum, int position) override;
    void SetProgressPosition(int value, int position) override;
    void ShowTransferStatus(const std::string& text, const std::string& detail, int position) override;
    void ResetProgress() override;
    void StopElapsedTimer() override;
    void TraceOut(const std::string& text) override;

    // Runs `f` on the window's thread: at once when called there, else queued (in order).
    void onGui(std::function<void()> f);

    // Releases every worker waiting for a box (answered 1, or 7 for a question) and
    // makes later boxes return at once; closes a box being shown. Used when the
    // window closes while a job runs.
    void cancelBoxes();

    // Seconds since the current run started (`Fwait`).
    int elapsedSeconds() const { return m_fwait; }

    // The box as the window shows it: title "Tarsel", icon and buttons from the flags.
    static int execBox(QWidget* parent, const QString& text, int flags);
    // The answer given when a box cannot be shown: 7 for a Yes/No question, else 1.
    static int defaultAnswer(int flags);

private:
    int showBox(const QString& text, int flags);
    void tick();

    struct PendingBox {
        bool done = false;
        int answer = 1;
    };

    QWidget* m_window;
    BoxHook m_hook;
    QLabel* m_panel1;
    QLabel* m_panel2;
    QLabel* m_panel3;
    QProgressBar* m_bar1;
    QProgressBar* m_bar2;
    QTextEdit* m_log;
    QTimer* m_tmr1;
    int m_fwait = 0;

    std::mutex m_boxMutex;
    std::condition_variable m_boxAnswered;
    std::set<std::shared_ptr<PendingBox>> m_pending;
    bool m_boxesCancelled = false;
    QPointer<QMessageBox> m_activeBox;
};

} // namespace tarsel::ui
