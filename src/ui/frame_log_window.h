// The frame log window (forms/framelog.ui): every byte written to and read from the
// serial port as time-stamped hex lines, with the frame trace, as it happens. Not
// modal: it stays open beside the main window, also while a job runs.
//
// It shows a tarsel::FrameLog, which collects on the device worker whether or not
// the window is open. While shown, the window takes the lines added since it last
// looked five times a second, in small batches, so that a long transfer never floods
// the window's event loop; the view holds as many lines as the log (its ring).
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

namespace Ui {
class FrameLogForm;
}

namespace tarsel {
class FrameLog;
}

namespace tarsel::ui {

class Preferences;

class FrameLogWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 200;
    // Lines put into the view at one go; more follow kNextTurnMs later, so that a
    // burst (a whole buffer of a stream written at once, or the log shown for the
    // first time) never holds the window up and the window repaints in between.
    static constexpr std::size_t kLinesPerTurn = 100;
    static constexpr int kNextTurnMs = 1;

    // `showBox` shows a message box (text, flags) for a failed save. `parent` keeps
    // the window above it; the window is a top-level window of its own.
    FrameLogWindow(std::shared_ptr<tarsel::FrameLog> log, Preferences* preferences,
                   std::function<int(const QString&, int)> showBox, QWidget* parent = nullptr);
    ~FrameLogWindow() override;

    const Ui::FrameLogForm& form() const { return *m_ui; }

    // Takes the lines added since the last look into the view (up to kLinesPerTurn,
    // the rest in the next turns) and updates the status line (the timer does this
    // while the window is shown). False when lines are left for the next turn.
    bool refresh();
    // Save…: asks for a file (in the remembered folder of log files) and writes every
    // line the log holds; a failure is shown in an error box.
    void save();
    // Writes every line the log holds into `path`, replacing the file in one step.
    bool saveTo(const QString& path, QString& error) const;
    // Clear: empties the log and the view.
    void clearLog();
    // Pause: while paused nothing is added to the log.
    void setPaused(bool paused);

    // "1234 lines", then what was dropped or skipped, and "paused".
    QString statusText() const;

    // Tests: replaces the save dialog (gets the folder it would open in, returns the
    // chosen path; empty = cancelled).
    std::function<QString(const QString& folder)> saveDialogHook;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::unique_ptr<Ui::FrameLogForm> m_ui;
    std::shared_ptr<tarsel::FrameLog> m_log;
    Preferences* m_preferences;
    std::function<int(const QString&, int)> m_showBox;
    QTimer* m_timer;
    std::uint64_t m_lastSequence = 0; // the newest line in the view
    std::uint64_t m_generation = ~std::uint64_t{0};
    bool m_moreQueued = false; // a refresh for the rest is queued
};

} // namespace tarsel::ui
