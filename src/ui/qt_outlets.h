// The window's outlets: message boxes, status bar and progress, log view and frame
// trace. Every call may come from the device worker; it is carried out on the
// window's thread. ShowMessageBox blocks the calling worker until the box is answered.
#pragma once

#include "link/clock.h"
#include "link/outlets.h"
#include "transfer/transfer_meter.h"

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

// The controls the outlets write to.
struct OutletWidgets {
    QLabel* panel1 = nullptr; // what is being done
    QLabel* panel2 = nullptr; // items started of the total
    QLabel* panel3 = nullptr; // elapsed seconds
    QLabel* rate = nullptr;   // speed and time left (optional)
    QProgressBar* bar1 = nullptr; // the run's progress (status bar)
    QProgressBar* bar2 = nullptr; // the slot's progress, laid over the slot's picture
    QTextEdit* log = nullptr;
    // The picture control of a slot (73..86), or null.
    std::function<QWidget*(int slot)> slotImage;
};

class QtOutlets : public QObject, public tarsel::Outlets {
    Q_OBJECT

public:
    // Answers a box instead of showing it (tests); called on the window's thread.
    using BoxHook = std::function<int(const QString& text, int flags)>;

    // `window` parents the message boxes; `widgets` are written to.
    QtOutlets(QWidget* window, OutletWidgets widgets, BoxHook hook);

    int ShowMessageBox(const std::string& text, int flags) override;
    void ShowLogOnRichEdit(const std::string& text, bool error) override;
    void StartProgress(const std::string& text, int maximum, int kind) override;
    void SetProgressMax(int maximum, int position) override;
    void SetProgressPosition(int value, int position) override;
    void ShowTransferStatus(const std::string& text, const std::string& detail, int position) override;
    void ResetProgress() override;
    void StopElapsedTimer() override;
    void TraceOut(const std::string& text) override;
    // Feeds the transfer meter (on the calling worker) and has the rate panel
    // redrawn on the window's thread, at most every kRatePanelMs (and with the
    // elapsed seconds, so that a stalled line shows).
    void ShowByteProgress(const ByteProgress& progress) override;

    static constexpr int kRatePanelMs = 250;
    // The rate panel's text for the meter's estimate now.
    QString rateText() const;

    // Runs `f` on the window's thread: at once when called there, else queued (in order).
    void onGui(std::function<void()> f);

    // Releases every worker waiting for a box (answered 1, or 7 for a question) and
    // makes later boxes return at once; closes a box being shown. Used when the
    // window closes while a job runs.
    void cancelBoxes();

    // Seconds since the current run started (`Fwait`), and the timer counting them.
    int elapsedSeconds() const { return m_fwait; }
    const QTimer* elapsedTimer() const { return m_tmr1; }

    // The box as the window shows it: title "Tarsel", icon and buttons from the flags.
    static int execBox(QWidget* parent, const QString& text, int flags);
    // The answer given when a box cannot be shown: 7 for a Yes/No question, else 1.
    static int defaultAnswer(int flags);

private:
    int showBox(const QString& text, int flags);
    void tick();
    void showRate();
    void resetMeter();

    struct PendingBox {
        bool done = false;
        int answer = 1;
    };

    QWidget* m_window;
    OutletWidgets m_w;
    BoxHook m_hook;
    QTimer* m_tmr1;
    int m_fwait = 0;

    // The run's speed and time left, fed from the worker, read on the window's thread.
    mutable std::mutex m_meterMutex;
    mutable tarsel::SteadyClock m_meterClock;
    tarsel::TransferMeter m_meter;
    bool m_ratePending = false;   // a redraw of the rate panel is queued
    double m_rateShownMs = -1e9;  // when the panel was last redrawn

    std::mutex m_boxMutex;
    std::condition_variable m_boxAnswered;
    std::set<std::shared_ptr<PendingBox>> m_pending;
    bool m_boxesCancelled = false;
    QPointer<QMessageBox> m_activeBox;
};

} // namespace tarsel::ui
