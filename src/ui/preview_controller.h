// The "Preview" pane of the "Display Setting" page: the display's screen as the
// settings in the window and the slots' pictures would make it, redrawn at once on
// every edit (colours, texts, line count, header mode, carousel, code page), with a
// time slider and a play button for the carousel and the scrolling lines, and a
// larger view. Nothing is sent and the window is not changed by it.
#pragma once

#include "preview/screen.h"
#include "settings/display_info.h"

#include <QImage>
#include <QObject>
#include <QPointer>

#include <array>
#include <memory>

class QDialog;
class QLabel;
class QTimer;
class TarselMain;

namespace tarsel::ui {
struct WindowForms;
}

class PreviewController : public QObject {
    Q_OBJECT

public:
    explicit PreviewController(TarselMain* window);
    ~PreviewController() override;

    // The record the preview shows: the window's values gathered as an operation
    // would gather them, without writing anything back into the window.
    tarsel::TDisplayInfo previewRecord() const;
    // The screen last drawn (full size: 800 × 480 or 480 × 272).
    const QImage& screen() const { return m_screen; }
    // The time the preview shows, in seconds since standby began.
    double atSeconds() const { return m_seconds; }
    void setAtSeconds(double seconds);
    // Draws now (normally a change schedules it for the next turn of the event loop).
    void render();
    // The larger view (made on first use).
    QDialog* largerView();

signals:
    // A new screen was drawn.
    void rendered();

private:
    const tarsel::ui::WindowForms& forms() const;
    void schedule();
    void connectEdits();
    void slotChanged(int slot);
    void tick();

    TarselMain* m_window;
    QTimer* m_pending = nullptr;
    QTimer* m_play = nullptr;
    double m_seconds = 0;
    std::map<int, std::shared_ptr<const tarsel::Image>> m_slots;
    QImage m_screen;
    QPointer<QDialog> m_larger;
    QLabel* m_largerLabel = nullptr;
};
