#include "ui/qt_outlets.h"

#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <condition_variable>

Q_LOGGING_CATEGORY(lcFrames, "tarsel.frames", QtWarningMsg)

namespace tarsel::ui {
namespace {

bool isSlotPosition(int position) { return position >= 77 && position <= 90; }

} // namespace

QtOutlets::QtOutlets(QWidget* window, OutletWidgets widgets, BoxHook hook)
    : QObject(window), m_window(window), m_w(std::move(widgets)), m_hook(std::move(hook)), m_tmr1(new QTimer(window))
{
    Q_ASSERT(m_w.panel1 && m_w.panel2 && m_w.panel3 && m_w.bar1 && m_w.bar2 && m_w.log);
    m_tmr1->setObjectName(QStringLiteral("tmr1"));
    m_tmr1->setInterval(1000);
    connect(m_tmr1, &QTimer::timeout, this, &QtOutlets::tick);
}

void QtOutlets::onGui(std::function<void()> f)
{
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

int QtOutlets::defaultAnswer(int flags) { return (flags & 0x0F) == 4 ? kAnswerNo : kAnswerOk; }

namespace {

// Flags: icon in bits 4..7 (16 error, 32 question, 48 warning, 64 information),
// buttons in bits 0..3 (0 OK, 4 Yes/No).
std::unique_ptr<QMessageBox> makeBox(QWidget* parent, const QString& text, int flags)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & 0xF0) {
    case 0x10: icon = QMessageBox::Critical; break;
    case 0x20: icon = QMessageBox::Question; break;
    case 0x30: icon = QMessageBox::Warning; break;
    case 0x40: icon = QMessageBox::Information; break;
    default: break;
    }
    const bool yesNo = (flags & 0x0F) == 4;
    return std::make_unique<QMessageBox>(icon, QStringLiteral("Tarsel"), text,
                                         yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                                         parent);
}

int answerOf(int result, int flags)
{
    if (result == QMessageBox::Yes)
        return kAnswerYes;
    if (result == QMessageBox::No)
        return kAnswerNo;
    return QtOutlets::defaultAnswer(flags);
}

} // namespace

int QtOutlets::execBox(QWidget* parent, const QString& text, int flags)
{
    auto box = makeBox(parent, text, flags);
    return answerOf(box->exec(), flags);
}

int QtOutlets::showBox(const QString& text, int flags)
{
    if (m_hook)
        return m_hook(text, flags);
    // Keeps a handle so that closing the window can close the box.
    auto box = makeBox(m_window, text, flags);
    m_activeBox = box.get();
    const int result = box->exec();
    m_activeBox = nullptr;
    return answerOf(result, flags);
}

int QtOutlets::ShowMessageBox(const std::string& text, int flags)
{
    const QString qtext = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) {
        {
            std::lock_guard lock(m_boxMutex);
            if (m_boxesCancelled)
                return defaultAnswer(flags);
        }
        return showBox(qtext, flags);
    }

    auto pending = std::make_shared<PendingBox>();
    {
        std::lock_guard lock(m_boxMutex);
        if (m_boxesCancelled)
            return defaultAnswer(flags);
        m_pending.insert(pending);
    }
    QMetaObject::invokeMethod(this, [this, pending, qtext, flags] {
        {
            std::lock_guard lock(m_boxMutex);
            if (pending->done)
                return;
        }
        const int answer = showBox(qtext, flags);
        {
            std::lock_guard lock(m_boxMutex);
            if (!pending->done) {
                pending->done = true;
                pending->answer = answer;
            }
        }
        m_boxAnswered.notify_all();
    }, Qt::QueuedConnection);

    std::unique_lock lock(m_boxMutex);
    m_boxAnswered.wait(lock, [&] { return pending->done; });
    m_pending.erase(pending);
    return pending->answer;
}

void QtOutlets::cancelBoxes()
{
    {
        std::lock_guard lock(m_boxMutex);
        m_boxesCancelled = true;
        for (const auto& p : m_pending) {
            if (!p->done) {
                p->done = true;
                p->answer = kAnswerNo; // a question is refused; an OK box has no choice
            }
        }
    }
    m_boxAnswered.notify_all();
    if (m_activeBox)
        m_activeBox->reject();
}

void QtOutlets::ShowLogOnRichEdit(const std::string& text, bool error)
{
    onGui([this, line = QString::fromStdString(text), error] {
        QTextEdit* log = m_w.log;
        QTextCursor cursor(log->document());
        cursor.movePosition(QTextCursor::End);
        // An error line is red; any other line carries no colour of its own, so that
        // it is drawn in the view's text colour of the moment (lines written while
        // the window is busy would otherwise keep the disabled grey).
        QTextCharFormat format;
        if (error)
            format.setForeground(QColor(255, 0, 0));
        if (!log->document()->isEmpty())
            cursor.insertBlock(QTextBlockFormat(), format);
        cursor.insertText(line, format);
        // Bring the newest line into view.
        log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
    });
}

void QtOutlets::StartProgress(const std::string& text, int maximum, int kind)
{
    resetMeter();
    onGui([this, t = QString::fromStdString(text), maximum, kind] {
        m_w.panel1->setText(t);
        m_w.panel2->clear();
        m_w.panel3->clear();
        m_fwait = 0;
        m_tmr1->start();
        m_w.bar1->setMaximum(maximum);
        m_w.bar1->setValue(0);
        m_w.bar1->show();
        if (kind == 1)
            m_w.log->clear();
        if (kind == 2) {
            m_w.bar2->setMaximum(maximum);
            m_w.bar2->setValue(0);
        }
    });
}

void QtOutlets::SetProgressMax(int maximum, int position)
{
    onGui([this, maximum, position] {
        m_w.bar1->setMaximum(maximum);
        if (isSlotPosition(position))
            m_w.bar2->setMaximum(maximum);
    });
}

void QtOutlets::SetProgressPosition(int value, int position)
{
    onGui([this, value, position] {
        m_w.bar1->setValue(std::clamp(value, m_w.bar1->minimum(), m_w.bar1->maximum()));
        if (isSlotPosition(position)) {
            m_w.bar2->setValue(std::clamp(value, m_w.bar2->minimum(), m_w.bar2->maximum()));
            if (value >= m_w.bar2->maximum())
                m_w.bar2->hide();
        }
    });
}

void QtOutlets::ShowTransferStatus(const std::string& text, const std::string& detail, int position)
{
    onGui([this, t = QString::fromStdString(text), d = QString::fromStdString(detail), position] {
        m_w.panel1->setText(t);
        m_w.panel2->setText(d);
        if (!isSlotPosition(position))
            return;
        const int slot = position - 4;
        QWidget* image = m_w.slotImage ? m_w.slotImage(slot) : nullptr;
        if (!image)
            return;
        QWidget* barParent = m_w.bar2->parentWidget();
        const QPoint topLeft = barParent->isAncestorOf(image)
            ? image->mapTo(barParent, QPoint(0, 0))
            : barParent->mapFromGlobal(image->mapToGlobal(QPoint(0, 0)));
        m_w.bar2->setGeometry(QRect(topLeft, image->size()));
        m_w.bar2->show();
        m_w.bar2->raise();
    });
}

void QtOutlets::ResetProgress()
{
    resetMeter();
    onGui([this] {
        m_tmr1->stop();
        m_w.panel1->clear();
        m_w.panel2->clear();
        m_w.panel3->clear();
        m_w.bar1->setValue(0);
        m_w.bar2->setValue(0);
        m_w.bar1->hide();
        m_w.bar2->hide();
    });
}

void QtOutlets::StopElapsedTimer()
{
    onGui([this] { m_tmr1->stop(); });
}

void QtOutlets::TraceOut(const std::string& text)
{
    if (text.empty())
        return;
    qCDebug(lcFrames).noquote() << QString::fromStdString(text);
}

void QtOutlets::tick()
{
    ++m_fwait;
    m_w.panel3->setText(QString::number(m_fwait) + QLatin1Char('s'));
    showRate();
}

void QtOutlets::resetMeter()
{
    {
        std::lock_guard lock(m_meterMutex);
        m_meter.reset();
    }
    onGui([this] { showRate(); });
}

void QtOutlets::ShowByteProgress(const ByteProgress& progress)
{
    std::lock_guard lock(m_meterMutex);
    const double now = m_meterClock.nowMs();
    m_meter.update(progress, now);
    // One redraw queued at a time, and not more often than every kRatePanelMs: a
    // block or a piece every 20 ms must not keep the window's thread busy.
    if (m_ratePending || now - m_rateShownMs < kRatePanelMs)
        return;
    m_ratePending = true;
    m_rateShownMs = now;
    QMetaObject::invokeMethod(this, [this] { showRate(); }, Qt::QueuedConnection);
}

QString QtOutlets::rateText() const
{
    std::lock_guard lock(m_meterMutex);
    return QString::fromStdString(tarsel::FormatEstimate(m_meter.estimate(m_meterClock.nowMs())));
}

void QtOutlets::showRate()
{
    const QString text = rateText();
    {
        std::lock_guard lock(m_meterMutex);
        m_ratePending = false;
    }
    if (m_w.rate && m_w.rate->text() != text)
        m_w.rate->setText(text);
    // Shown while there is something to say; the room is the connection widget's
    // otherwise.
    if (m_w.rate)
        m_w.rate->setVisible(!text.isEmpty());
}

} // namespace tarsel::ui
