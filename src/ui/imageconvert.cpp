#include "ui/imageconvert.h"

#include "pictures/convert.h"
#include "pictures/resample.h"

#include <QAction>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
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

// Image1: the loaded picture, either already at the control's size (a reduced
// picture) or centred at its own size (a picture that fits the target).
class PreviewImage : public QWidget {
public:
    explicit PreviewImage(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("Image1"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setPicture(const QImage& picture, bool centred)
    {
        m_picture = picture;
        m_centred = centred;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
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

private:
    QImage m_picture;
    bool m_centred = false;
};

// panSelect: the frame of the target size with its outline (Shape1), its grips
// (PaintBox1) and the surface that takes the mouse (Image2).
class SelectionFrame : public QWidget {
public:
    SelectionFrame(ImageConvert* owner, QWidget* parent) : QWidget(parent), m_owner(owner)
    {
        setObjectName(QStringLiteral("panSelect"));
        setMouseTracking(true);
        setCursor(Qt::SizeAllCursor);
        setAccessibleName(QStringLiteral("Selection"));
    }

protected:
    void paintEvent(QPaintEvent*) override
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
    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton)
            m_owner->beginDrag(e->globalPosition().toPoint());
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (e->buttons() & Qt::LeftButton)
            m_owner->dragTo(e->globalPosition().toPoint());
        update();
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton)
            m_owner->endDrag();
    }

private:
    ImageConvert* m_owner;
};

ImageConvert::ImageConvert(QWidget* owner, int pictureNumber, tarsel::PixelSize target)
    : QDialog(owner), m_pictureNumber(pictureNumber)
{
    setObjectName(QStringLiteral("frmImageConvert"));
    setWindowTitle(QStringLiteral("Image Convert"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setModal(true);

    nWidth = target.width;
    nHeigth = target.height;
    fBitmap = tarsel::Image(nWidth, nHeigth);

    scrlbx1 = new QScrollArea(this);
    scrlbx1->setObjectName(QStringLiteral("scrlbx1"));
    scrlbx1->setFrameShape(QFrame::NoFrame);
    scrlbx1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrlbx1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrlbx1->setGeometry(0, 0, kClientWidth, kClientHeight);

    auto* panel = new QLabel(QStringLiteral("Image Preview"));
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::Window);
    panel->setFixedSize(kClientWidth, kClientHeight);
    Panel1 = panel;
    scrlbx1->setWidget(Panel1);

    Image1 = new PreviewImage(Panel1);
    panSelect = new SelectionFrame(this, Panel1);

    Panel4 = new QLabel(Panel1);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setFrameShape(QFrame::Panel);
    Panel4->setFrameShadow(QFrame::Raised);
    Panel4->setAutoFillBackground(true);
    Panel4->setAlignment(Qt::AlignCenter);
    Panel4->setText(QStringLiteral("%1*%2").arg(nWidth).arg(nHeigth));
    Panel4->setAccessibleName(QStringLiteral("Target size"));
    Panel4->setGeometry(8, 8, 110, 26);

    actEnter = new QAction(QStringLiteral("&OK"), this);
    actEnter->setObjectName(QStringLiteral("actEnter"));
    actEsc = new QAction(QStringLiteral("&Exit"), this);
    actEsc->setObjectName(QStringLiteral("actEsc"));
    actEsc->setShortcut(QKeySequence(Qt::Key_Escape));
    actOpen = new QAction(QStringLiteral("O&pen"), this);
    actOpen->setObjectName(QStringLiteral("actOpen"));
    actSave = new QAction(QStringLiteral("Save"), this);
    actSave->setObjectName(QStringLiteral("actSave"));
    addAction(actEsc);
    connect(actEnter, &QAction::triggered, this, &ImageConvert::actEnterExecute);
    connect(actEsc, &QAction::triggered, this, &ImageConvert::actEscExecute);
    connect(actOpen, &QAction::triggered, this, &ImageConvert::actOpenExecute);
    connect(actSave, &QAction::triggered, this, &ImageConvert::actSaveExecute);

    Panel3 = new QFrame(Panel1);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setAutoFillBackground(true);
    auto* bar = new QHBoxLayout(Panel3);
    bar->setContentsMargins(6, 6, 6, 6);
    auto makeButton = [this, bar](const char* name, QAction* action) {
        auto* b = new QPushButton(action->text(), Panel3);
        b->setObjectName(QLatin1String(name));
        b->setMinimumWidth(86);
        connect(b, &QPushButton::clicked, action, &QAction::trigger);
        bar->addWidget(b);
        return b;
    };
    btnOpen = makeButton("btnOpen", actOpen);
    btnEnter = makeButton("btnEnter", actEnter);
    btnSave = makeButton("btnSave", actSave);
    btnEnter->setDefault(false);
    btnEnter->setAutoDefault(false);
    btnOpen->setAutoDefault(false);
    btnSave->setAutoDefault(false);
    Panel3->adjustSize();
    Panel3->move(kClientWidth - Panel3->width() - 8, kClientHeight - Panel3->height() - 8);

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
    panSelect->resize(nWidth, nHeigth);
    Image1->resize(nWidth, nHeigth);
    centreControls();
    ClampSelection();
}

void ImageConvert::centreControls()
{
    const tarsel::PixelSize panel{Panel1->width(), Panel1->height()};
    Image1->setGeometry(toQRect(tarsel::CentreIn(panel, {Image1->width(), Image1->height()})));
    panSelect->setGeometry(toQRect(tarsel::CentreIn(panel, {panSelect->width(), panSelect->height()})));
    Panel3->raise();
    Panel4->raise();
}

void ImageConvert::ClampSelection()
{
    const tarsel::PixelRect s = tarsel::ClampSelection(selectionRect(), imageRect());
    panSelect->move(s.left, s.top);
    panSelect->update();
    Panel3->update();
    btnOpen->update();
    btnEnter->update();
    Panel4->update();
}

tarsel::PixelRect ImageConvert::imageRect() const { return toPixelRect(Image1->geometry()); }

tarsel::PixelRect ImageConvert::selectionRect() const { return toPixelRect(panSelect->geometry()); }

QSize ImageConvert::previewPanelSize() const { return Panel1->size(); }

void ImageConvert::showMessage(const QString& text)
{
    if (messageHook)
        messageHook(text);
    else
        QMessageBox::critical(this, QStringLiteral("Tarsel"), text);
}

void ImageConvert::actOpenExecute()
{
    const QString path = fileDialogHook
        ? fileDialogHook(false)
        : QFileDialog::getOpenFileName(this, QString(), QString(), QString::fromLatin1(kOpenFilter));
    if (path.isEmpty())
        return;
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
    Image1->resize(plan.shown.width, plan.shown.height);
    Image1->setPicture(m_reduced ? ToQImage(m_shown) : ToQImage(m_source), !m_reduced);
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
    const QString path = fileDialogHook ? fileDialogHook(true) : [this] {
        QFileDialog dialog(this, QString(), QString(), QString::fromLatin1(kSaveFilter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.selectFile(QStringLiteral("Unnamed"));
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                      : QString();
    }();
    if (path.isEmpty())
        return;
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
    m_dragStartPos = panSelect->pos();
}

void ImageConvert::dragTo(QPoint globalPos)
{
    if (!m_dragging)
        return;
    panSelect->move(m_dragStartPos + (globalPos - m_dragStartGlobal));
}

void ImageConvert::endDrag()
{
    if (!m_dragging)
        return;
    m_dragging = false;
    ClampSelection();
    panSelect->update(); // DrawSelectionHandles
}

void ImageConvert::dragSelection(QPoint from, QPoint to)
{
    beginDrag(Panel1->mapToGlobal(from));
    dragTo(Panel1->mapToGlobal(to));
    endDrag();
}

QImage ImageConvert::grabPreview()
{
    QWidget* overlays[] = {panSelect, Panel3, Panel4};
    bool hidden[3];
    for (int i = 0; i < 3; ++i) {
        hidden[i] = overlays[i]->isHidden();
        overlays[i]->hide();
    }
    const QImage shot = Panel1->grab().toImage();
    for (int i = 0; i < 3; ++i)
        overlays[i]->setHidden(hidden[i]);
    return shot;
}

bool RunImageConvert(QWidget* owner, int pictureNumber, tarsel::Image& bitmap)
{
    ImageConvert window(owner, pictureNumber, {bitmap.width, bitmap.height});
    window.FbOK = false;
    window.exec();
    bitmap = window.fBitmap;
    return window.FbOK;
}

} // namespace tarsel::ui
