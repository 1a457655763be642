// The picture conversion window: its shape, opening files by their extension, the
// reduction of large pictures, the frame and its drag, the crop (equal to what the
// preview shows under the frame), OK, Save, and the modal RunImageConvert.
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "pictures/resample.h"
#include "ui/imageconvert.h"
#include "ui/preferences.h"
#include "ui_imageconvert.h"
#include "unit/pictures/picture_files.h"
#include "util/files.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace tarsel {
// Lets QCOMPARE print rectangles.
inline char* toString(const PixelRect& r)
{
    return qstrdup(QStringLiteral("(%1, %2, %3 x %4)").arg(r.left).arg(r.top).arg(r.width).arg(r.height).toLatin1().constData());
}
} // namespace tarsel

using tarsel::Image;
using tarsel::PixelRect;
using tarsel::ui::ImageConvert;

namespace {

// Writes `bytes` into the folder and returns the path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const tarsel::Bytes& bytes)
{
    const QString path = dir.filePath(name);
    std::string error;
    if (!tarsel::WriteFileAtomic(path.toStdString(), bytes, error))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The preview pixels of `rect` (Panel1 coordinates) as a 24-bit picture.
Image previewRegion(ImageConvert& dlg, const PixelRect& rect)
{
    const QImage shot = dlg.grabPreview();
    return tarsel::ui::FromQImage(shot.copy(rect.left, rect.top, rect.width, rect.height));
}

Image regionOf(const Image& img, int x0, int y0, int w, int h)
{
    Image out(w, h);
    for (int y = 0; y < h; ++y)
        std::memcpy(out.row(y), img.at(x0, y0 + y), 3 * static_cast<std::size_t>(w));
    return out;
}

bool isWhite(const Image& img, int x, int y)
{
    const auto* p = img.at(x, y);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

struct Messages {
    QStringList texts;
    void attach(ImageConvert& dlg)
    {
        dlg.messageHook = [this](const QString& t) { texts << t; };
    }
};

} // namespace

class TstImageConvert : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void windowShapeBeforeAnyPicture();
    void largePictureCoversTheTargetExactly();
    void widePictureAndTheDrag();
    void mouseDragMovesTheFrameAndClampsOnRelease();
    void smallPictureIsCentredButStretchedInTheCrop();
    void cropEqualsThePreviewUnderTheFrame();
    void unknownExtensionsAndBadFilesKeepThePicture();
    void saveByExtension();
    void runImageConvertIsModal();
    void dialogsStartInTheRememberedPicturesFolder();
};

void TstImageConvert::windowShapeBeforeAnyPicture()
{
    ImageConvert dlg(nullptr, 76, {800, 480});
    QCOMPARE(dlg.size(), QSize(884, 662));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Image Convert"));
    QCOMPARE(dlg.form().Panel4->text(), QStringLiteral("800*480"));
    QCOMPARE(dlg.form().btnOpen->text(), QStringLiteral("O&pen"));
    QCOMPARE(dlg.form().btnEnter->text(), QStringLiteral("&OK"));
    QCOMPARE(dlg.form().btnSave->text(), QStringLiteral("Save"));
    QCOMPARE(dlg.previewPanelSize(), QSize(884, 662));
    QCOMPARE(dlg.selectionRect(), (PixelRect{42, 91, 800, 480}));
    QCOMPARE(dlg.imageRect(), (PixelRect{42, 91, 800, 480}));
    QCOMPARE(dlg.nWidth, 800);
    QCOMPARE(dlg.nHeigth, 480);
    QCOMPARE(dlg.pictureNumber(), 76);

    ImageConvert small(nullptr, 74, {120, 40});
    QCOMPARE(small.form().Panel4->text(), QStringLiteral("120*40"));
    QCOMPARE(small.selectionRect(), (PixelRect{382, 311, 120, 40}));

    // No picture: Save asks nothing, OK closes with a false result.
    bool asked = false;
    dlg.fileDialogHook = [&](bool, const QString&) {
        asked = true;
        return QString();
    };
    dlg.actSaveExecute();
    QVERIFY(!asked);
    QVERIFY(dlg.crop().empty());
    dlg.actEnterExecute();
    QVERIFY(!dlg.FbOK);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

void TstImageConvert::largePictureCoversTheTargetExactly()
{
    const Image src = tarsel::testpics::TestPicture(1600, 960);
    for (const auto& [name, bytes] : {std::pair{QStringLiteral("big.png"), tarsel::EncodePng(src)},
                                      std::pair{QStringLiteral("big.JPG"), tarsel::EncodeJpeg(src, 95)}}) {
        ImageConvert dlg(nullptr, 76, {800, 480});
        QVERIFY(dlg.openFile(writeFile(m_dir, name, bytes)));
        QCOMPARE(dlg.imageRect(), (PixelRect{42, 91, 800, 480}));
        QCOMPARE(dlg.selectionRect(), (PixelRect{42, 91, 800, 480}));
        const Image crop = dlg.crop();
        QCOMPARE(crop.width, 800);
        QCOMPARE(crop.height, 480);
        if (name.endsWith(QLatin1String(".png")))
            QVERIFY(crop.pixels == tarsel::ScaleImage(src, 800, 480).pixels);
        QVERIFY(previewRegion(dlg, dlg.selectionRect()).pixels == crop.pixels);
    }
}

void TstImageConvert::widePictureAndTheDrag()
{
    const Image src = tarsel::testpics::TestPicture(1000, 300);
    ImageConvert dlg(nullptr, 76, {800, 480});
    QVERIFY(dlg.openFile(writeFile(m_dir, "wide.bmp", tarsel::EncodeBmp(src))));
    // Shown unscaled; the frame is centred and not yet clamped.
    QCOMPARE(dlg.imageRect(), (PixelRect{-58, 181, 1000, 300}));
    QCOMPARE(dlg.selectionRect(), (PixelRect{42, 91, 800, 480}));
    // The first drag pins the frame to the picture's top; dragged far right it stops
    // at the picture's right edge.
    dlg.dragSelection({100, 100}, {558, 309});
    QCOMPARE(dlg.selectionRect(), (PixelRect{142, 181, 800, 480}));
    const Image crop = dlg.crop();
    QVERIFY(regionOf(crop, 0, 0, 800, 300).pixels == regionOf(src, 200, 0, 800, 300).pixels);
    QVERIFY(isWhite(crop, 0, 300));
    QVERIFY(isWhite(crop, 799, 479));
    // Dragged far left: the left edges meet.
    dlg.dragSelection({500, 300}, {-400, 300});
    QCOMPARE(dlg.selectionRect(), (PixelRect{-58, 181, 800, 480}));
    QVERIFY(regionOf(dlg.crop(), 0, 0, 800, 300).pixels == regionOf(src, 0, 0, 800, 300).pixels);
}

void TstImageConvert::mouseDragMovesTheFrameAndClampsOnRelease()
{
    ImageConvert dlg(nullptr, 74, {240, 80});
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    // Reduced until its height rounds to 80: shown at 503 × 80.
    QVERIFY(dlg.openFile(writeFile(m_dir, "drag.png", tarsel::EncodePng(tarsel::testpics::TestPicture(1000, 160)))));
    QCOMPARE(dlg.imageRect(), (PixelRect{190, 291, 503, 80}));
    auto* frame = dlg.form().panSelect;
    QVERIFY(frame);
    const PixelRect start = dlg.selectionRect();
    QCOMPARE(start, (PixelRect{322, 291, 240, 80}));
    // Points are given relative to where the frame started, on the screen.
    const QPoint origin = frame->mapToGlobal(QPoint(0, 0));
    auto send = [frame, origin](QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
        const QPointF global(origin + p);
        QMouseEvent e(type, frame->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
        QApplication::sendEvent(frame, &e);
    };
    // Press inside the frame, move 100 right and 50 up: the frame follows.
    send(QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, {120, -30}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(dlg.selectionRect(), (PixelRect{422, 241, 240, 80}));
    // Beyond the picture while held: not clamped yet.
    send(QEvent::MouseMove, {820, 20}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(dlg.selectionRect(), (PixelRect{1122, 291, 240, 80}));
    send(QEvent::MouseButtonRelease, {820, 20}, Qt::LeftButton, Qt::NoButton);
    // Released: clamped to the picture's right edge.
    QCOMPARE(dlg.selectionRect(), (PixelRect{190 + 503 - 240, 291, 240, 80}));
    // A move without the button does not drag.
    send(QEvent::MouseMove, {0, 0}, Qt::NoButton, Qt::NoButton);
    QCOMPARE(dlg.selectionRect(), (PixelRect{453, 291, 240, 80}));
    QCOMPARE(frame->cursor().shape(), Qt::SizeAllCursor);
    dlg.close();
}

void TstImageConvert::smallPictureIsCentredButStretchedInTheCrop()
{
    Image src(400, 200, 0, 0, 0);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 400; ++x)
            src.setPixel(x, y, x < 200 ? 255 : 0, 0, x < 200 ? 0 : 255); // red left, blue right
    ImageConvert dlg(nullptr, 76, {800, 480});
    QVERIFY(dlg.openFile(writeFile(m_dir, "small.bmp", tarsel::EncodeBmp(src))));
    QCOMPARE(dlg.imageRect(), (PixelRect{42, 91, 800, 480}));
    // The preview shows it at its own size in the middle of the frame.
    QVERIFY(previewRegion(dlg, {42 + 200, 91 + 140, 400, 200}).pixels == src.pixels);
    // The crop stretches it to the whole target.
    const Image crop = dlg.crop();
    QVERIFY(crop.pixels == tarsel::ScaleImage(src, 800, 480).pixels);
    QCOMPARE(int(crop.at(10, 470)[2]), 255);
    QCOMPARE(int(crop.at(790, 10)[0]), 255);
}

void TstImageConvert::cropEqualsThePreviewUnderTheFrame()
{
    // A reduced picture leaves the frame room in one direction: vertical for a
    // 4 : 3 photo (shown 560 × 420), horizontal for a wide one (shown 483 × 80).
    struct Case {
        Image src;
        tarsel::PixelSize target;
        PixelRect shown;
    };
    const Case cases[] = {
        {tarsel::testpics::TestPicture(1200, 900), {560, 80}, {162, 121, 560, 420}},
        {tarsel::testpics::TestPicture(1200, 200), {240, 80}, {200, 291, 483, 80}},
    };
    for (const Case& c : cases) {
        ImageConvert dlg(nullptr, 75, c.target);
        QVERIFY(dlg.openFile(writeFile(m_dir, "photo.jpg", tarsel::EncodeJpeg(c.src, 90))));
        QCOMPARE(dlg.imageRect(), c.shown);
        for (QPoint to : {QPoint(300, 300), QPoint(100, 500), QPoint(700, 620), QPoint(560, 330)}) {
            dlg.dragSelection({400, 300}, to);
            const PixelRect s = dlg.selectionRect();
            QVERIFY(s.left >= c.shown.left && s.right() <= c.shown.right());
            QVERIFY(s.top >= c.shown.top && s.bottom() <= c.shown.bottom());
            QVERIFY(previewRegion(dlg, s).pixels == dlg.crop().pixels);
        }
    }
}

void TstImageConvert::unknownExtensionsAndBadFilesKeepThePicture()
{
    ImageConvert dlg(nullptr, 76, {800, 480});
    Messages messages;
    messages.attach(dlg);
    const Image first(900, 500, 10, 200, 30);
    QVERIFY(dlg.openFile(writeFile(m_dir, "first.PNG", tarsel::EncodePng(first))));
    const Image before = dlg.crop();
    const PixelRect imageBefore = dlg.imageRect();

    // A real JPEG, but ".jpeg" is not one of the six spellings.
    const tarsel::Bytes jpeg = tarsel::EncodeJpeg(Image(100, 100, 0, 0, 255), 90);
    for (const QString& name : {QStringLiteral("x.jpeg"), QStringLiteral("x.Jpg"), QStringLiteral("x.gif"),
                                QStringLiteral("noextension")}) {
        QVERIFY(!dlg.openFile(writeFile(m_dir, name, jpeg)));
        QVERIFY(dlg.crop().pixels == before.pixels);
        QCOMPARE(dlg.imageRect(), imageBefore);
    }
    QCOMPARE(messages.texts.size(), 4);
    QVERIFY(messages.texts[0].contains(QLatin1String("x.jpeg")));

    // Damaged, truncated, empty, huge: a message, the picture stays.
    const tarsel::Bytes png = tarsel::EncodePng(tarsel::testpics::TestPicture(50, 50));
    const std::pair<QString, tarsel::Bytes> bad[] = {
        {"cut.png", png.substr(0, png.size() / 2)},
        {"empty.jpg", ""},
        {"text.bmp", "just text"},
        {"huge.png", tarsel::testpics::PngDeclaring(100000, 100000)},
    };
    for (const auto& [name, bytes] : bad) {
        messages.texts.clear();
        QVERIFY(!dlg.openFile(writeFile(m_dir, name, bytes)));
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY2(messages.texts[0].contains(name), qPrintable(messages.texts[0]));
        QVERIFY(dlg.crop().pixels == before.pixels);
    }
    QVERIFY(!dlg.openFile(m_dir.filePath("missing.png")));

    // Through Open: a cancelled dialog changes nothing either.
    dlg.fileDialogHook = [](bool, const QString&) { return QString(); };
    dlg.actOpenExecute();
    QVERIFY(dlg.crop().pixels == before.pixels);
}

void TstImageConvert::saveByExtension()
{
    ImageConvert dlg(nullptr, 76, {800, 480});
    Messages messages;
    messages.attach(dlg);
    QVERIFY(dlg.openFile(writeFile(m_dir, "save-src.png", tarsel::EncodePng(tarsel::testpics::TestPicture(1600, 960)))));
    const Image crop = dlg.crop();

    QString chosen;
    dlg.fileDialogHook = [&](bool save, const QString&) {
        Q_ASSERT(save);
        return chosen;
    };
    chosen = m_dir.filePath("out.bin");
    dlg.actSaveExecute();
    QCOMPARE(tarsel::ReadFileBytes(chosen.toStdString()), tarsel::BitmapToRgb565Bytes(crop, 800, 480));
    QCOMPARE(tarsel::ReadFileBytes(chosen.toStdString()).size(), size_t(768000));

    // Saving again over a longer file truncates it.
    std::string error;
    QVERIFY(tarsel::WriteFileAtomic(m_dir.filePath("OUT2.BIN").toStdString(), std::string(900000, 'x'), error));
    QVERIFY(dlg.saveFile(m_dir.filePath("OUT2.BIN")));
    QCOMPARE(tarsel::ReadFileBytes(m_dir.filePath("OUT2.BIN").toStdString()).size(), size_t(768000));

    chosen = m_dir.filePath("out.bmp");
    dlg.actSaveExecute();
    Image back;
    QVERIFY(tarsel::LoadImageFile(chosen.toStdString(), back, error));
    QVERIFY(back.pixels == crop.pixels);

    for (const char* name : {"out.jpg", "OUT.JPG"}) {
        chosen = m_dir.filePath(QLatin1String(name));
        dlg.actSaveExecute();
        QVERIFY(tarsel::LoadImageFile(chosen.toStdString(), back, error));
        QCOMPARE(back.width, 800);
        QCOMPARE(back.height, 480);
    }

    for (const char* name : {"out.Bin", "out.jpeg", "out.png", "out"}) {
        chosen = m_dir.filePath(QLatin1String(name));
        dlg.actSaveExecute();
        QVERIFY2(!QFile::exists(chosen), name);
    }
    // Save does not close the window or take the picture.
    QVERIFY(!dlg.FbOK);

    // A folder that does not exist: a message, nothing written.
    QVERIFY(!dlg.saveFile(m_dir.filePath("no/such/folder/out.bin")));
    QCOMPARE(messages.texts.size(), 1);
}

void TstImageConvert::runImageConvertIsModal()
{
    const QString file = writeFile(m_dir, "modal.png", tarsel::EncodePng(tarsel::testpics::TestPicture(360, 100)));
    QString caption;
    ImageConvert::shownHook = [&](ImageConvert& dlg) {
        caption = dlg.form().Panel4->text();
        QVERIFY(dlg.isModal());
        QVERIFY(dlg.openFile(file));
        dlg.dragSelection({0, 0}, {-1000, -1000});
        dlg.form().btnEnter->click();
    };
    Image bitmap(360, 40);
    QVERIFY(tarsel::ui::RunImageConvert(nullptr, 75, bitmap));
    QCOMPARE(caption, QStringLiteral("360*40"));
    QCOMPARE(bitmap.width, 360);
    QCOMPARE(bitmap.height, 40);
    // The picture is 360 wide (not wider than the target) but taller: shown at its own
    // size, the frame at its top-left corner.
    const Image src = tarsel::testpics::TestPicture(360, 100);
    QVERIFY(bitmap.pixels == regionOf(src, 0, 0, 360, 40).pixels);

    // Closed without OK: false, even with a picture opened.
    ImageConvert::shownHook = [&](ImageConvert& dlg) {
        QVERIFY(dlg.openFile(file));
        QTest::keyClick(&dlg, Qt::Key_Escape);
    };
    Image other(360, 40);
    QVERIFY(!tarsel::ui::RunImageConvert(nullptr, 75, other));
    ImageConvert::shownHook = nullptr;
}

void TstImageConvert::dialogsStartInTheRememberedPicturesFolder()
{
    QTemporaryDir dir;
    const QString photos = dir.filePath(QStringLiteral("photos"));
    QVERIFY(QDir().mkpath(photos));
    const QString file = writeFile(m_dir, "x.png", tarsel::EncodePng(tarsel::testpics::TestPicture(240, 80)));
    QVERIFY(QFile::copy(file, photos + QStringLiteral("/logo.png")));
    tarsel::ui::Preferences preferences(dir.filePath(QStringLiteral("tarsel.conf")));

    QStringList folders;
    QString chosen;
    auto hook = [&](bool, const QString& folder) {
        folders << folder;
        return chosen;
    };
    {
        ImageConvert dlg(nullptr, 74, {120, 40}, &preferences);
        dlg.fileDialogHook = hook;
        chosen = photos + QStringLiteral("/logo.png");
        dlg.actOpenExecute();
        QVERIFY(dlg.hasPicture());
        chosen = QString(); // Save cancelled
        dlg.actSaveExecute();
    }
    // Nothing remembered at first: the documents folder; then the folder of the picture.
    QCOMPARE(folders, (QStringList{tarsel::ui::Preferences::documentsFolder(), photos}));
    QCOMPARE(preferences.lastFolder(tarsel::ui::FileKind::Pictures), photos);

    // A later window (a later run) opens there too; without preferences it opens in
    // the documents folder, never in the program's own folder.
    ImageConvert again(nullptr, 74, {120, 40}, &preferences);
    again.fileDialogHook = hook;
    again.actOpenExecute();
    QCOMPARE(folders.last(), photos);
    ImageConvert bare(nullptr, 74, {120, 40});
    bare.fileDialogHook = hook;
    bare.actOpenExecute();
    QCOMPARE(folders.last(), tarsel::ui::Preferences::documentsFolder());
    QVERIFY(folders.last() != QCoreApplication::applicationDirPath());
}

QTEST_MAIN(TstImageConvert)
#include "tst_imageconvert.moc"
