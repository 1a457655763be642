#include "ui/imageconvert.h"

#include "pictures/convert.h"
#include "pictures/resample.h"
#include "ui/preferences.h"
#include "ui_imageconvert.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <cstring>

namespace tarsel::ui {

std::function<void(ImageConvert&)> ImageConvert::shownHook;

namespace {

const char* const kOpenFilter =
    "All (*.png *.PNG *.jpg *.JPG *.bmp *.BMP);;Portable Network Graphics (*.png *.PNG);;"
    "JPEG Image File (*.jpg *.JPG);;Bitmaps (*.bmp *.BMP)";
const char* const kSaveFilter = "JPEG Image File (*.jpg)";

bool endsWithEither(const QString& name, const char* lower, const char* upper)
{
    return name.endsWith(QLatin1String(lower), Qt::CaseSensitive) || name.endsWith(QLatin1String(upper), Qt::CaseSensitive);
}

QRect toQRect(const tarsel::PixelRect& r) { return QRect(r.left, r.top, r.width, r.height); }

tarsel::PixelRect toPixelRect(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

} // namespace

QImage ToQImage(const tarsel::Image& img)
{
    if (img.empty())
        return {};
    QImage out(img.width, img.height, QImage::Format_BGR888);
    for (int y = 0; y < img.height; ++y)
        std::memcpy(out.scanLine(y), img.row(y), img.stride());
    return out;
}

tarsel::Image FromQImage(const QImage& img)
{
    if (img.isNull())
        return {};
    const QImage bgr = img.convertToFormat(QImage::Format_BGR888);
    tarsel::Image out(bgr.width(), bgr.height());
    for (int y = 0; y < out.height; ++y)
        std::memcpy(out.row(y), bgr.constScanLine(y), out.stride());
    return out;
}

PreviewImage::PreviewImage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PreviewImage::setPicture(const QImage& picture, bool centred)
{
    m_picture = picture;
    m_centred = centred;
    update();
}

void PreviewImage::paintEvent(QPaintEvent*)
{
    if (m_picture.isNull())
        return;
    QPainter p(this);
    if (m_centred)
        p.drawImage(QPoint(tarsel::CentreOffset(width(), m_picture.width()),
                           tarsel::CentreOffset(height(), m_picture.height())),
                    m_picture);
    else
        p.drawImage(QPoint(0, 0), m_picture);
}

SelectionFrame::SelectionFrame(QWidget* parent) : QWidget(parent) {}

void SelectionFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // Shape1: red outline, 3 pixels wide.
    p.setPen(QPen(Qt::red, 3));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1.5, 1.5, width() - 3.0, height() - 3.0));
    // DrawSelectionHandles on PaintBox1.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::red);
    for (const tarsel::PixelRect& r : tarsel::SelectionHandleRects(width(), height()))
        p.drawRect(toQRect(r));
}

void SelectionFrame::mousePressEvent(QMouseEvent* e)
{
    if (m_owner && e->button() == Qt::LeftButton)
        m_owner->beginDrag(e->globalPosition().toPoint());
}

void SelectionFrame::mouseMoveEvent(QMouseEvent* e)
{
    if (m_owner && (e->buttons() & Qt::LeftButton))
        m_owner->dragTo(e->globalPosition().toPoint());
    update();
}

void SelectionFrame::mouseReleaseEvent(QMouseEvent* e)
{
    if (m_owner && e->button() == Qt::LeftButton)
        m_owner->endDrag();
}

ImageConvert::ImageConvert(QWidget* owner, int pictureNumber, tarsel::PixelSize target, Preferences* preferences)
    : QDialog(owner), m_form(std::make_unique<Ui::ImageConvertForm>()), m_pictureNumber(pictureNumber),
      m_preferences(preferences)
{
    Ui::ImageConvertForm& f = *m_form;
    f.setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);

    nWidth = target.width;
    nHeigth = target.height;
    fBitmap = tarsel::Image(nWidth, nHeigth);

    f.Panel1->setBackgroundRole(QPalette::Window);
    f.panSelect->setOwner(this);
    f.Panel4->setText(QStringLiteral("%1*%2").arg(nWidth).arg(nHeigth));
    connect(f.actEnter, &QAction::triggered, this, &ImageConvert::actEnterExecute);
    connect(f.actEsc, &QAction::triggered, this, &ImageConvert::actEscExecute);
    connect(f.actOpen, &QAction::triggered, this, &ImageConvert::actOpenExecute);
    connect(f.actSave, &QAction::triggered, this, &ImageConvert::actSaveExecute);

    // Panel3 sits in the bottom right corner, as large as its buttons need.
    f.Panel3->adjustSize();
    f.Panel3->move(kClientWidth - f.Panel3->width() - 8, kClientHeight - f.Panel3->height() - 8);

    FormShow();
}

ImageConvert::~ImageConvert() = default;

void ImageConvert::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    if (QScreen* screen = (parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen())) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    if (shownHook)
        QTimer::singleShot(0, this, [this] {
            if (shownHook)
                shownHook(*this);
        });
}

void ImageConvert::FormShow()
{
    m_form->panSelect->resize(nWidth, nHeigth);
    m_form->Image1->resize(nWidth, nHeigth);
    centreControls();
    ClampSelection();
}

void ImageConvert::centreControls()
{
    const Ui::ImageConvertForm& f = *m_form;
    const tarsel::PixelSize panel{f.Panel1->width(), f.Panel1->height()};
    f.Image1->setGeometry(toQRect(tarsel::CentreIn(panel, {f.Image1->width(), f.Image1->height()})));
    f.panSelect->setGeometry(toQRect(tarsel::CentreIn(panel, {f.panSelect->width(), f.panSelect->height()})));
    m_form->Panel3->raise();
    m_form->Panel4->raise();
}

void ImageConvert::ClampSelection()
{
    const tarsel::PixelRect s = tarsel::ClampSelection(selectionRect(), imageRect());
    m_form->panSelect->move(s.left, s.top);
    m_form->panSelect->update();
    m_form->Panel3->update();
    m_form->btnOpen->update();
    m_form->btnEnter->update();
    m_form->Panel4->update();
}

tarsel::PixelRect ImageConvert::imageRect() const { return toPixelRect(m_form->Image1->geometry()); }

tarsel::PixelRect ImageConvert::selectionRect() const { return toPixelRect(m_form->panSelect->geometry()); }

QSize ImageConvert::previewPanelSize() const { return m_form->Panel1->size(); }

void ImageConvert::showMessage(const QString& text)
{
    if (messageHook)
        messageHook(text);
    else
        QMessageBox::critical(this, QStringLiteral("Tarsel"), text);
}

QString ImageConvert::startFolder() const
{
    return m_preferences ? m_preferences->startFolder(FileKind::Pictures) : Preferences::documentsFolder();
}

void ImageConvert::rememberFile(const QString& path)
{
    if (m_preferences)
        m_preferences->rememberFile(FileKind::Pictures, path);
}

void ImageConvert::actOpenExecute()
{
    const QString folder = startFolder();
    const QString path = fileDialogHook
        ? fileDialogHook(false, folder)
        : QFileDialog::getOpenFileName(this, QString(), folder, QString::fromLatin1(kOpenFilter));
    if (path.isEmpty())
        return;
    rememberFile(path);
    openFile(path);
}

bool ImageConvert::openFile(const QString& path)
{
    // Only the six spellings name a picture this window reads; any other file keeps
    // the picture that is shown.
    if (tarsel::ImageFormatForFileName(path.toStdString()) == tarsel::ImageFormat::Unknown) {
        showMessage(QStringLiteral("Cannot open \"%1\": only .png, .jpg and .bmp files can be opened.").arg(path));
        return false;
    }
    const tarsel::PixelSize target{nWidth, nHeigth};
    tarsel::DecodeOptions options;
    // A JPEG may be decoded smaller as long as it still covers the shown size; the
    // preview and the crop are both made from what was decoded.
    options.atLeast = [target](tarsel::PixelSize declared) { return tarsel::PlanDisplay(declared, target).shown; };
    tarsel::Image picture;
    tarsel::PixelSize declared;
    std::string error;
    if (!tarsel::LoadImageFile(path.toStdString(), picture, error, options, &declared)) {
        showMessage(QString::fromStdString(error));
        return false;
    }

    const tarsel::DisplayPlan plan = tarsel::PlanDisplay(declared, target);
    m_source = std::move(picture);
    m_reduced = plan.reduced;
    m_shown = tarsel::ScaleImage(m_source, plan.shown.width, plan.shown.height);
    m_form->Image1->resize(plan.shown.width, plan.shown.height);
    m_form->Image1->setPicture(m_reduced ? ToQImage(m_shown) : ToQImage(m_source), !m_reduced);
    centreControls();
    return true;
}

tarsel::Image ImageConvert::crop() const
{
    if (m_source.empty())
        return {};
    return tarsel::CropShown(m_shown, tarsel::CropPlacement(selectionRect(), imageRect()), {nWidth, nHeigth});
}

void ImageConvert::actEnterExecute()
{
    if (hasPicture()) {
        fBitmap = crop();
        FbOK = true;
    }
    actEscExecute();
}

void ImageConvert::actEscExecute() { done(FbOK ? QDialog::Accepted : QDialog::Rejected); }

void ImageConvert::actSaveExecute()
{
    if (!hasPicture())
        return;
    const QString folder = startFolder();
    const QString path = fileDialogHook ? fileDialogHook(true, folder) : [this, &folder] {
        QFileDialog dialog(this, QString(), folder, QString::fromLatin1(kSaveFilter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.selectFile(QStringLiteral("Unnamed"));
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                      : QString();
    }();
    if (path.isEmpty())
        return;
    rememberFile(path);
    saveFile(path);
}

bool ImageConvert::saveFile(const QString& path)
{
    if (!hasPicture())
        return false;
    const tarsel::Image region = crop();
    const std::string file = path.toStdString();
    std::string error;
    bool wrote = false;
    bool ok = true;
    if (endsWithEither(path, ".bin", ".BIN")) {
        ok = tarsel::SaveBitmapRgb565File(region, nWidth, nHeigth, file, error);
        wrote = true;
    }
    if (endsWithEither(path, ".bmp", ".BMP")) {
        ok = tarsel::SaveBitmapBmpFile(region, file, error);
        wrote = true;
    }
    if (endsWithEither(path, ".jpg", ".JPG")) {
        ok = tarsel::SaveBitmapJpegFile(region, file, error);
        wrote = true;
    }
    if (!ok)
        showMessage(QString::fromStdString(error));
    return wrote && ok;
}

void ImageConvert::beginDrag(QPoint globalPos)
{
    m_dragging = true;
    m_dragStartGlobal = globalPos;
    m_dragStartPos = m_form->panSelect->pos();
}

void ImageConvert::dragTo(QPoint globalPos)
{
    if (!m_dragging)
        return;
    m_form->panSelect->move(m_dragStartPos + (globalPos - m_dragStartGlobal));
}

void ImageConvert::endDrag()
{
    if (!m_dragging)
        return;
    m_dragging = false;
    ClampSelection();
    m_form->panSelect->update(); // DrawSelectionHandles
}

void ImageConvert::dragSelection(QPoint from, QPoint to)
{
    beginDrag(m_form->Panel1->mapToGlobal(from));
    dragTo(m_form->Panel1->mapToGlobal(to));
    endDrag();
}

QImage ImageConvert::grabPreview()
{
    QWidget* overlays[] = {m_form->panSelect, m_form->Panel3, m_form->Panel4};
    bool hidden[3];
    for (int i = 0; i < 3; ++i) {
        hidden[i] = overlays[i]->isHidden();
        overlays[i]->hide();
    }
    const QImage shot = m_form->Panel1->grab().toImage();
    for (int i = 0; i < 3; ++i)
        overlays[i]->setHidden(hidden[i]);
    return shot;
}

bool RunImageConvert(QWidget* owner, int pictureNumber, tarsel::Image& bitmap, Preferences* preferences)
{
    ImageConvert window(owner, pictureNumber, {bitmap.width, bitmap.height}, preferences);
    window.FbOK = false;
    window.exec();
    // The window goes now: the caller takes its bitmap rather than a copy of it.
    bitmap = std::move(window.fBitmap);
    return window.FbOK;
}

} // namespace tarsel::ui
