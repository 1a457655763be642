// The picture conversion window: the user opens a PNG, JPEG or BMP file, sees it
// shown so that it covers the target size, drags a frame of exactly the target
// size over it, and takes the region under the frame ("OK") or saves it ("Save").
#pragma once

#include "pictures/geometry.h"
#include "pictures/image.h"

#include <QDialog>
#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class ImageConvertForm;
}

namespace tarsel::ui {

class ImageConvert;
class Preferences;

// Copies between the pictures layer's 24-bit picture and a QImage (RGB888).
QImage ToQImage(const tarsel::Image& img);
tarsel::Image FromQImage(const QImage& img);

// Image1: the loaded picture, either already at the control's size (a reduced
// picture) or centred at its own size (a picture that fits the target).
class PreviewImage : public QWidget {
    Q_OBJECT

public:
    explicit PreviewImage(QWidget* parent = nullptr);
    void setPicture(const QImage& picture, bool centred);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
    bool m_centred = false;
};

// panSelect: the frame of the target size with its outline (Shape1), its grips
// (PaintBox1) and the surface that takes the mouse (Image2). Drags go to the
// conversion window it belongs to.
class SelectionFrame : public QWidget {
    Q_OBJECT

public:
    explicit SelectionFrame(QWidget* parent = nullptr);
    void setOwner(ImageConvert* owner) { m_owner = owner; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    ImageConvert* m_owner = nullptr;
};

class ImageConvert : public QDialog {
    Q_OBJECT

public:
    // The client area's fixed size.
    static constexpr int kClientWidth = 884;
    static constexpr int kClientHeight = 662;

    // `preferences` (optional) gives the folder the Open and Save dialogs start in and
    // remembers the folder chosen.
    ImageConvert(QWidget* owner, int pictureNumber, tarsel::PixelSize target, Preferences* preferences = nullptr);
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

    // The form's controls (Panel1, Image1, panSelect, Panel3, Panel4, the buttons and
    // actions).
    const Ui::ImageConvertForm& form() const { return *m_form; }

    // Replace the file dialogs and message boxes (tests). The file hook gets whether
    // it is the save dialog and the folder the dialog would open in, and returns the
    // chosen path (empty = cancelled).
    std::function<QString(bool save, const QString& folder)> fileDialogHook;
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

    QString startFolder() const;
    void rememberFile(const QString& path);

    std::unique_ptr<Ui::ImageConvertForm> m_form;
    int m_pictureNumber;
    Preferences* m_preferences;

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
bool RunImageConvert(QWidget* owner, int pictureNumber, tarsel::Image& bitmap, Preferences* preferences = nullptr);

} // namespace tarsel::ui
