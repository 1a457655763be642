// The picture conversion window: the user opens a PNG, JPEG or BMP file, sees it
// shown so that it covers the target size, drags a frame of exactly the target
// size over it, and takes the region under the frame ("OK") or saves it ("Save").
#pragma once

#include "pictures/geometry.h"
#include "pictures/image.h"

#include <QDialog>
#include <QImage>
#include <QString>

#include <functional>

class QAction;
class QLabel;
class QPushButton;
class QScrollArea;

namespace tarsel::ui {

// Copies between the pictures layer's 24-bit picture and a QImage (RGB888).
QImage ToQImage(const tarsel::Image& img);
tarsel::Image FromQImage(const QImage& img);

class PreviewImage;
class SelectionFrame;

class ImageConvert : public QDialog {
    Q_OBJECT

public:
    // The client area's fixed size.
    static constexpr int kClientWidth = 884;
    static constexpr int kClientHeight = 662;

    ImageConvert(QWidget* owner, int pictureNumber, tarsel::PixelSize target);
    ~ImageConvert() override;

    // The window's own fields.
    tarsel::Image fBitmap;  // the result, nWidth × nHeigth
    int nWidth = 0;
    int nHeigth = 0;
    bool FbOK = false;
    int pictureNumber() const { return m_pictureNumber; }

    // Actions (public so that tests can drive the modal window).
    void actOpenExecute();
    void actEnterExecute();
    void actEscExecute();
    void actSaveExecute();

    // Open and Save without their dialogs: the steps after the file was chosen.
    // openFile returns false (and keeps the previous picture) when the name's
    // extension is not one of the six or the file cannot be decoded.
    bool openFile(const QString& path);
    // Writes the crop by the name's extension; false when nothing was written.
    bool saveFile(const QString& path);

    // The crop: what lies under the frame at the displayed scale, nWidth × nHeigth
    // (empty when no picture is loaded).
    tarsel::Image crop() const;
    bool hasPicture() const { return !m_source.empty(); }

    // Geometry in Panel1's pixels (tests).
    tarsel::PixelRect imageRect() const;      // Image1
    tarsel::PixelRect selectionRect() const;  // panSelect
    QSize previewPanelSize() const;
    // Moves the frame as a drag from `from` to `to` (Panel1 coordinates) does,
    // ending with the clamp.
    void dragSelection(QPoint from, QPoint to);
    // What Panel1 shows, as pixels (tests compare it with the crop).
    QImage grabPreview();

    // Replace the file dialogs and message boxes (tests). The file hook gets whether
    // it is the save dialog and returns the chosen path (empty = cancelled).
    std::function<QString(bool save)> fileDialogHook;
    std::function<void(const QString& text)> messageHook;

    // Called once the window is shown, from its own event loop (tests use it to drive
    // the modal window that RunImageConvert opens).
    static std::function<void(ImageConvert&)> shownHook;

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend class SelectionFrame;
    void FormShow();
    void ClampSelection();
    void centreControls();
    void showMessage(const QString& text);
    void beginDrag(QPoint globalPos);
    void dragTo(QPoint globalPos);
    void endDrag();

    int m_pictureNumber;
    QScrollArea* scrlbx1 = nullptr;
    QWidget* Panel1 = nullptr;
    PreviewImage* Image1 = nullptr;
    SelectionFrame* panSelect = nullptr;
    QWidget* Panel3 = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnEnter = nullptr;
    QPushButton* btnSave = nullptr;
    QLabel* Panel4 = nullptr;
    QAction* actEnter = nullptr;
    QAction* actEsc = nullptr;
    QAction* actOpen = nullptr;
    QAction* actSave = nullptr;

    tarsel::Image m_source;     // the decoded picture (possibly DCT-reduced)
    tarsel::Image m_shown;      // the picture at Image1's size: what the crop takes from
    bool m_reduced = false;     // shown stretched (true) or centred at its own size
    bool m_dragging = false;
    QPoint m_dragStartGlobal;
    QPoint m_dragStartPos;
    bool m_shownOnce = false;
};

// Shows the conversion window modally for a slot. `bitmap` comes in at the slot's
// target size and goes out holding the window's result; true when the user took a
// region with "OK" (then `bitmap` is that region), false otherwise.
bool RunImageConvert(QWidget* owner, int pictureNumber, tarsel::Image& bitmap);

} // namespace tarsel::ui
