#include "ui/frame_log_window.h"

#include "link/frame_log.h"
#include "link/outlets.h"
#include "ui/preferences.h"
#include "ui/widgets.h"
#include "ui_framelog.h"

#include <QFileDialog>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTimer>

namespace tarsel::ui {

FrameLogWindow::FrameLogWindow(std::shared_ptr<tarsel::FrameLog> log, Preferences* preferences,
                               std::function<int(const QString&, int)> showBox, QWidget* parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::FrameLogForm>()), m_log(std::move(log)),
      m_preferences(preferences), m_showBox(std::move(showBox)), m_timer(new QTimer(this))
{
    m_ui->setupUi(this);
    QPlainTextEdit* view = m_ui->txtFrames;
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The view holds what the log holds: its oldest lines go as the ring's do.
    view->setMaximumBlockCount(static_cast<int>(m_log->capacity()));

    m_timer->setObjectName(QStringLiteral("tmrFrameLog"));
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &FrameLogWindow::refresh);
    connect(m_ui->btnFrameLogSave, &QPushButton::clicked, this, &FrameLogWindow::save);
    connect(m_ui->btnFrameLogClear, &QPushButton::clicked, this, &FrameLogWindow::clearLog);
    connect(m_ui->btnFrameLogPause, &QPushButton::toggled, this, &FrameLogWindow::setPaused);
    connect(m_ui->btnFrameLogClose, &QPushButton::clicked, this, &QWidget::close);
    m_ui->btnFrameLogPause->setChecked(m_log->status().paused);
}

FrameLogWindow::~FrameLogWindow() = default;

void FrameLogWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
    m_timer->start();
}

void FrameLogWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}

bool FrameLogWindow::refresh()
{
    QPlainTextEdit* view = m_ui->txtFrames;
    const tarsel::FrameLog::Status status = m_log->status();
    if (status.generation != m_generation) {
        // Cleared (or first look): the view starts again from what the log holds.
        view->clear();
        m_lastSequence = 0;
        m_generation = status.generation;
    }
    if (status.lastSequence != m_lastSequence) {
        std::uint64_t missed = 0;
        const std::vector<std::string> lines = m_log->linesSince(m_lastSequence, m_lastSequence, missed, kLinesPerTurn);
        if (!lines.empty()) {
            std::size_t size = 0;
            for (const auto& line : lines)
                size += line.size() + 1;
            std::string joined;
            joined.reserve(size);
            for (const auto& line : lines) {
                if (!joined.empty())
                    joined += '\n';
                joined += line;
            }
            // Follow the newest line unless the user has scrolled up to read.
            QScrollBar* bar = view->verticalScrollBar();
            const bool atEnd = bar->value() >= bar->maximum();
            view->appendPlainText(QString::fromStdString(joined));
            if (atEnd)
                bar->setValue(bar->maximum());
        }
    }
    const bool complete = m_lastSequence >= status.lastSequence;
    // The status line once the view has caught up (each new text lays the window out).
    if (complete)
        m_ui->lblFrameLogStatus->setText(statusText());
    if (!complete && isVisible() && !m_moreQueued) {
        m_moreQueued = true;
        QTimer::singleShot(kNextTurnMs, this, [this] {
            m_moreQueued = false;
            refresh();
        });
    }
    return complete;
}

QString FrameLogWindow::statusText() const
{
    const tarsel::FrameLog::Status s = m_log->status();
    QString text = s.held == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(s.held);
    if (s.dropped > 0)
        text += QStringLiteral("; %1 older lines dropped (the log keeps the last %2)").arg(s.dropped).arg(m_log->capacity());
    if (s.skipped > 0)
        text += QStringLiteral("; %1 lines skipped while paused").arg(s.skipped);
    if (s.paused)
        text += QStringLiteral("; paused");
    return text;
}

void FrameLogWindow::setPaused(bool paused)
{
    if (m_ui->btnFrameLogPause->isChecked() != paused)
        m_ui->btnFrameLogPause->setChecked(paused); // comes back here through toggled
    m_log->setPaused(paused);
    refresh();
}

void FrameLogWindow::clearLog()
{
    m_log->clear();
    refresh();
}

bool FrameLogWindow::saveTo(const QString& path, QString& error) const
{
    return SaveTextFile(path, m_log->text(), error);
}

void FrameLogWindow::save()
{
    const QString folder = m_preferences ? m_preferences->startFolder(FileKind::LogFiles) : QString();
    const QString path = saveDialogHook
        ? saveDialogHook(folder)
        : QFileDialog::getSaveFileName(this, QString(), folder + QStringLiteral("/tarsel-frames.txt"),
                                       QStringLiteral("Text Files (*.txt);;All Files (*)"));
    if (path.isEmpty())
        return;
    if (m_preferences)
        m_preferences->rememberFile(FileKind::LogFiles, path);
    QString error;
    if (!saveTo(path, error) && m_showBox)
        m_showBox(QStringLiteral("Cannot save the frame log to \"%1\": %2").arg(path, error), tarsel::kBoxError);
}

} // namespace tarsel::ui
