// The picture slots of the main window: "+" with the target size per model, "-",
// PicList, the play ticks and their count, "Select All", showing a play picture,
// "Show QrCode", and the picture download against the display core on a virtual line.
#include "integration/pictures/qr_tools.h"
#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "pictures/resample.h"
#include "support/ui_test_support.h"
#include "support/virtual_link.h"
#include "ui/imageconvert.h"
#include "ui/pictures_controller.h"
#include "ui/transfer_controller.h"
#include "ui/widgets.h"
#include "ui/window_forms.h"
#include "ui_imageconvert.h"
#include "unit/pictures/picture_files.h"
#include "util/files.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarsel::uitest;
using tarsel::Image;
using tarsel::test::displayConfig;
using tarsel::ui::SlotImage;

namespace {

PicturesController* controllerOf(TarselMain& w) { return &w.picturesController(); }

QCheckBox* tick(TarselMain& w, int slot) { return w.forms().pictureSlot(slot).tick; }

SlotImage* slotImage(TarselMain& w, int slot) { return w.forms().pictureSlot(slot).image; }

// The model and the device controls as Connect would leave them, without a display.
void setModel(TarselMain& w, int model)
{
    w.frame().cbbDisplayMode->setCurrentIndex(model);
    w.actBtnEnableExecute();
}

// A shown window connected to the display on its line, with the boxes and the
// display's records of the connect itself cleared.
bool connectWindow(VirtualWindow& v)
{
    if (!v.open() || !v.connect())
        return false;
    v.boxes.boxes.clear();
    v.line.runFor(10); // the clear frame of a model without version check
    v.display([](tarsel::sim::DisplayCore& d) { d.clearRecords(); });
    if (v.window().modelIndex() < 0)
        v.lastError = "no model detected";
    return v.window().modelIndex() >= 0;
}

// 7 bytes of speed switch frame at `baud`.
double switchFrameMs(int baud) { return 7 * 10000.0 / baud; }

} // namespace

class TstPictures : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_ports;

private slots:
    void plusUsesTheTargetSizeOfTheModel();
    void plusThenMinusRestoresThePlaceholder();
    void conversionWindowFillsASlot();
    void playTicksAndCount();
    void selectAllTicksEverySlot();
    void pictureBytesPerModel();
    void clickOnPlayPictureShowsIt();
    void placeholderSlotsAreNotSent();
    void slot74OnKT310IIAIsStoredAsRgb565();
    void slot76OnKT310IIDIsStoredAsJpeg();
    void qrCodeFromAFileArrivesAndReadsBack();
    void qrCodeFromTextAndErrors();
    void qrPictureSpeedSwitchAndPauses();
    void downloadStopsWhenTheDisplayDoesNotAnswer();
};

void TstPictures::plusUsesTheTargetSizeOfTheModel()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    auto* c = controllerOf(w);
    QVERIFY(c);
    QSize asked;
    int askedSlot = 0;
    c->convertHook = [&](int slot, Image& bitmap) {
        askedSlot = slot;
        asked = QSize(bitmap.width, bitmap.height);
        return false;
    };
    setModel(w, 0); // KT310--IIA
    w.picturePage().Button24->click(); // "+" of slot 74
    QCOMPARE(askedSlot, 74);
    QCOMPARE(asked, QSize(120, 40));
    setModel(w, 4); // KT710--II
    w.picturePage().Button24->click();
    QCOMPARE(asked, QSize(240, 80));
    w.picturePage().Button26->click(); // slot 75
    QCOMPARE(asked, QSize(560, 80));
    setModel(w, 1);
    w.picturePage().Button20->click(); // slot 85
    QCOMPARE(askedSlot, 85);
    QCOMPARE(asked, QSize(480, 272));
    setModel(w, 5);
    w.picturePage().Button28->click(); // slot 86, guest
    QCOMPARE(asked, QSize(800, 360));
    // A cancelled conversion changes nothing.
    for (int position = 77; position <= 90; ++position)
        QVERIFY(!c->picList(position));
    QVERIFY(!tick(w, 86)->isChecked());
}

void TstPictures::plusThenMinusRestoresThePlaceholder()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    auto* c = controllerOf(w);
    setModel(w, 2);
    const QImage placeholder = TarselMain::placeholder(80);
    QVERIFY(!placeholder.isNull());
    QCOMPARE(slotImage(w, 80)->picture(), placeholder);

    c->convertHook = [](int, Image& bitmap) {
        bitmap = Image(bitmap.width, bitmap.height, 0, 0, 255);
        return true;
    };
    w.picturePage().Button10->click(); // "+" of slot 80
    w.picturePage().Button2->click();  // "+" of slot 76
    QVERIFY(c->picList(84));
    QVERIFY(c->picList(80));
    QVERIFY(tick(w, 80)->isChecked());
    QCOMPARE(slotImage(w, 80)->picture().size(), QSize(800, 480));
    QCOMPARE(slotImage(w, 80)->picture().pixelColor(5, 5), QColor(255, 0, 0));
    QCOMPARE(c->slotBitmap(80).width, 800);

    w.picturePage().Button9->click(); // "-" of slot 80
    QVERIFY(!c->picList(84));
    QVERIFY(!tick(w, 80)->isChecked());
    QCOMPARE(slotImage(w, 80)->picture(), placeholder);
    QVERIFY(c->slotBitmap(80).empty());
    // The other slot keeps its picture and flag.
    QVERIFY(c->picList(80));
    QVERIFY(tick(w, 76)->isChecked());
    for (int position : {77, 78, 79, 81, 82, 83, 85, 86, 87, 88, 89, 90})
        QVERIFY(!c->picList(position));
}

void TstPictures::conversionWindowFillsASlot()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    setModel(w, 0);
    const QString file = m_dir.filePath("logo.png");
    std::string error;
    QVERIFY(tarsel::WriteFileAtomic(file.toStdString(), tarsel::EncodePng(tarsel::testpics::TestPicture(240, 80)), error));
    QString caption;
    tarsel::ui::ImageConvert::shownHook = [&](tarsel::ui::ImageConvert& dlg) {
        caption = dlg.form().Panel4->text();
        dlg.openFile(file);
        dlg.actEnterExecute();
    };
    w.picturePage().Button24->click();
    tarsel::ui::ImageConvert::shownHook = nullptr;
    QCOMPARE(caption, QStringLiteral("120*40"));
    auto* c = controllerOf(w);
    QVERIFY(c->picList(78));
    QCOMPARE(c->slotBitmap(74).width, 120);
    QCOMPARE(c->slotBitmap(74).height, 40);
    // 240 × 80 is reduced column by column until its height rounds to 40: 121 × 40,
    // centred one column left of the centred frame.
    const Image shown = tarsel::ScaleImage(tarsel::testpics::TestPicture(240, 80), 121, 40);
    QVERIFY(c->slotBitmap(74).pixels == tarsel::CropShown(shown, {-1, 0, 121, 40}, {120, 40}).pixels);
}

void TstPictures::playTicksAndCount()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    w.show();
    setModel(w, 2);
    auto* c = controllerOf(w);
    auto* count = w.picturePage().lbl_selected_nums;
    // Start from no play ticks whatever the default document said.
    for (int slot = 76; slot <= 85; ++slot)
        tick(w, slot)->setChecked(false);
    QCOMPARE(count->text(), QStringLiteral("0"));
    for (int slot : {76, 78, 85})
        tick(w, slot)->click();
    QCOMPARE(c->picReg(), std::uint16_t(0x205));
    QCOMPARE(count->text(), QStringLiteral("3"));
    tick(w, 73)->click();
    tick(w, 86)->setChecked(true);
    QCOMPARE(c->picReg(), std::uint16_t(0x205));
    QCOMPARE(count->text(), QStringLiteral("3"));
    tick(w, 78)->click();
    QCOMPARE(c->picReg(), std::uint16_t(0x201));
    QCOMPARE(count->text(), QStringLiteral("2"));
}

void TstPictures::selectAllTicksEverySlot()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    w.show();
    setModel(w, 0);
    auto* all = w.picturePage().chkSelectALL;
    QVERIFY(tick(w, 86)->isHidden() || !tick(w, 86)->isVisible()); // hidden until a model with it connects
    all->click();
    QVERIFY(all->isChecked());
    for (int slot = 73; slot <= 86; ++slot)
        QVERIFY2(tick(w, slot)->isChecked(), qPrintable(QString::number(slot)));
    QCOMPARE(w.picturePage().lbl_selected_nums->text(), QStringLiteral("10"));
    QCOMPARE(controllerOf(w)->picReg(), std::uint16_t(0x3FF));
    all->click();
    for (int slot = 73; slot <= 86; ++slot)
        QVERIFY(!tick(w, slot)->isChecked());
    QCOMPARE(w.picturePage().lbl_selected_nums->text(), QStringLiteral("0"));
}

void TstPictures::pictureBytesPerModel()
{
    const Image small = tarsel::testpics::TestPicture(120, 40);
    const tarsel::Bytes raw = PicturesController::PictureBytes(small, 74, 0);
    QCOMPARE(raw.size(), size_t(9600));
    QCOMPARE(raw, tarsel::BitmapToRgb565Bytes(small, 120, 40));
    // Filled for a small screen, sent to a large one: scaled to the model's size.
    QCOMPARE(PicturesController::PictureBytes(small, 74, 2).size(), size_t(240 * 80 * 2));
    // Named-file models: the whole picture as a JPEG, whatever its size.
    const tarsel::Bytes jpg = PicturesController::PictureBytes(small, 74, 3);
    Image back;
    std::string error;
    QVERIFY(tarsel::DecodeImage(jpg, back, error));
    QCOMPARE(back.width, 120);
    QVERIFY(PicturesController::PictureBytes(Image(), 76, 0).empty());
    QVERIFY(PicturesController::PictureBytes(small, 86, 0).empty());
}

void TstPictures::clickOnPlayPictureShowsIt()
{
    VirtualWindow v(displayConfig("KT310--IIC", 9600));
    QVERIFY2(connectWindow(v), v.error());
    TarselMain& w = v.window();
    QTest::mouseClick(slotImage(w, 80), Qt::LeftButton);
    QVERIFY(waitIdle(w));
    v.line.runFor(10); // the frame reaches the display
    const auto shown = v.line.recordsNamed("ShowPicture");
    QCOMPARE(shown.size(), size_t(1));
    QCOMPARE(shown[0].bytes, tarsel::bytesOf({0x02, 0x07, 0x1A, 0x05}));
    // Slots 73, 74, 75 react to no click.
    for (int slot : {73, 74, 75})
        QTest::mouseClick(slotImage(w, slot), Qt::LeftButton);
    QVERIFY(waitIdle(w));
    v.line.runFor(10);
    QCOMPARE(v.countRecords("ShowPicture"), size_t(1));
    QVERIFY(v.boxes.boxes.isEmpty());
}

void TstPictures::placeholderSlotsAreNotSent()
{
    VirtualWindow v(displayConfig("KT310--IIA", 9600));
    QVERIFY2(connectWindow(v), v.error());
    TarselMain& w = v.window();
    const std::size_t portEvents = v.line.portEvents().size();
    w.picturePage().chkSelectALL->click(); // every tick, but no slot holds a picture
    w.picturePage().btn_DownloadPictrue->click();
    QVERIFY(!w.isBusy());
    QVERIFY(v.boxes.boxes.isEmpty());
    QCOMPARE(v.line.portEvents().size(), portEvents); // the port was not even opened
    QVERIFY(v.line.records().empty());
}

void TstPictures::slot74OnKT310IIAIsStoredAsRgb565()
{
    VirtualWindow v(displayConfig("KT310--IIA", 9600));
    QVERIFY2(connectWindow(v), v.error());
    TarselMain& w = v.window();
    QCOMPARE(w.modelIndex(), 0);
    auto* c = controllerOf(w);
    const Image picture = tarsel::testpics::TestPicture(120, 40);
    c->convertHook = [&](int, Image& bitmap) {
        bitmap = picture;
        return true;
    };
    w.picturePage().Button24->click(); // "+" of slot 74, ticks it
    QVERIFY(tick(w, 74)->isChecked());
    w.picturePage().btn_DownloadPictrue->click();
    QVERIFY(waitIdle(w));
    const auto blocks = v.display([](tarsel::sim::DisplayCore& d) { return d.blocks(); });
    QCOMPARE(blocks.size(), size_t(1));
    QVERIFY(blocks.count(0x00F43000u) == 1);
    const tarsel::Bytes stored = blocks.at(0x00F43000u);
    QCOMPARE(stored.size(), size_t(9600));
    QCOMPARE(stored, tarsel::BitmapToRgb565Bytes(picture, 120, 40));
    QCOMPARE(w.transferController().lastReport().succeeded, 1);
    QVERIFY(!v.boxes.boxes.isEmpty());
    QVERIFY2(v.boxes.boxes.last().text.contains(QLatin1String("Succeed 1")), qPrintable(v.boxes.boxes.last().text));
    QCOMPARE(v.line.displaySpeed(), 9600);
}

void TstPictures::slot76OnKT310IIDIsStoredAsJpeg()
{
    VirtualWindow v(displayConfig("KT310-IID", 9600));
    QVERIFY2(connectWindow(v), v.error());
    TarselMain& w = v.window();
    QCOMPARE(w.modelIndex(), 3);
    auto* c = controllerOf(w);
    c->convertHook = [](int, Image& bitmap) {
        bitmap = tarsel::testpics::TestPicture(bitmap.width, bitmap.height);
        return true;
    };
    w.picturePage().Button2->click(); // "+" of slot 76
    w.picturePage().btn_DownloadPictrue->click();
    QVERIFY(waitIdle(w));
    const auto files = v.display([](tarsel::sim::DisplayCore& d) { return d.files(); });
    QVERIFY(files.count("P1.jpg") == 1);
    QCOMPARE(files.size(), size_t(1));
    Image back;
    std::string error;
    QVERIFY2(tarsel::DecodeImage(files.at("P1.jpg"), back, error), error.c_str());
    QCOMPARE(back.width, 800);
    QCOMPARE(back.height, 480);
    QCOMPARE(files.at("P1.jpg"), tarsel::BitmapToJpegBytes(c->slotBitmap(76), false));
    QCOMPARE(w.transferController().lastReport().succeeded, 1);
    QVERIFY(v.boxes.boxes.last().text.contains(QLatin1String("Succeed 1")));
}

void TstPictures::qrCodeFromAFileArrivesAndReadsBack()
{
    VirtualWindow v(displayConfig("KT310--IIC", 9600));
    QVERIFY2(connectWindow(v), v.error());
    TarselMain& w = v.window();
    QCOMPARE(w.modelIndex(), 2);

    const std::string text = "Tarsel QR 2024-06";
    const QString file = m_dir.filePath("code.jpg"); // a JPEG, with its noise
    std::string error;
    QVERIFY(tarsel::WriteFileAtomic(file.toStdString(), tarsel::EncodeJpeg(tarsel::qrtest::MakeQrPicture(text, 6), 80),
                                    error));
    controllerOf(w)->qrFileDialogHook = [file](const QString&) { return file; };
    w.testPage().btn_ShowQrCode->click();
    QVERIFY(waitIdle(w));

    const auto pictures = v.display([](tarsel::sim::DisplayCore& d) { return d.qrPictures(); });
    QCOMPARE(pictures.size(), size_t(1));
    QCOMPARE(pictures[0].bytes.size(), size_t(4608));
    QCOMPARE(pictures[0].align, 2); // "Center", the default
    QCOMPARE(pictures[0].bytes, tarsel::BitmapTo1bppFile(file.toStdString(), 192, 192));
    const auto texts = tarsel::qrtest::ReadQrFromOneBit(pictures[0].bytes, 192, 192);
    QCOMPARE(texts.size(), size_t(1));
    QCOMPARE(texts[0], text);
    QVERIFY(v.boxes.boxes.isEmpty());
    // The line went back to the window's speed.
    QCOMPARE(v.line.displaySpeed(), 9600);
}

void TstPictures::qrCodeFromTextAndErrors()
{
    VirtualWindow v(displayConfig("KT310-IID", 9600));
    QVERIFY2(connectWindow(v), v.error());
    TarselMain& w = v.window();
    bool dialogAsked = false;
    controllerOf(w)->qrFileDialogHook = [&](const QString&) {
        dialogAsked = true;
        return QString();
    };
    w.testPage().edt_Text->setText(QStringLiteral("ABC"));
    w.testPage().btn_ShowQrCode->click();
    QVERIFY(waitIdle(w));
    QVERIFY(!dialogAsked);
    v.line.runFor(10); // the frame reaches the display
    QCOMPARE(v.countRecords("ShowQrCode"), size_t(1));
    QCOMPARE(v.line.recordsNamed("ShowQrCode")[0].bytes,
             tarsel::bytesOf({0x02, 0x07, 0x1D, 0x02, 0x00, 'A', 'B', 'C', 0x00}));

    // A picture model with a missing file: "Error：21".
    VirtualWindow v2(displayConfig("KT710--II", 9600));
    QVERIFY2(connectWindow(v2), v2.error());
    TarselMain& w2 = v2.window();
    QCOMPARE(w2.modelIndex(), 4);
    controllerOf(w2)->qrFileDialogHook = [this](const QString&) { return m_dir.filePath("no-such-code.png"); };
    w2.testPage().btn_ShowQrCode->click();
    QVERIFY(waitIdle(w2));
    QCOMPARE(v2.boxes.boxes.size(), 1);
    QCOMPARE(v2.boxes.boxes[0].text, QStringLiteral("Error：21"));
    QCOMPARE(v2.boxes.boxes[0].flags, 16);
    QVERIFY(v2.display([](tarsel::sim::DisplayCore& d) { return d.qrPictures().empty(); }));
    // A cancelled file dialog does nothing.
    v2.boxes.boxes.clear();
    v2.display([](tarsel::sim::DisplayCore& d) { d.clearRecords(); });
    // It opened where the last picture was chosen.
    QString folder;
    controllerOf(w2)->qrFileDialogHook = [&folder](const QString& start) {
        folder = start;
        return QString();
    };
    w2.testPage().btn_ShowQrCode->click();
    QCOMPARE(folder, m_dir.path());
    QVERIFY(!w2.isBusy());
    QVERIFY(v2.boxes.boxes.isEmpty());
    QVERIFY(v2.line.records().empty());
}

// The QR picture's speed switch with its 500 ms and 300 ms pauses around the
// picture, and a silent stop when the port cannot be opened.
void TstPictures::qrPictureSpeedSwitchAndPauses()
{
    VirtualWindow v(displayConfig("KT310--IIC", 9600));
    const QString file = m_dir.filePath("speed-code.png");
    std::string error;
    QVERIFY(tarsel::WriteFileAtomic(file.toStdString(), tarsel::EncodePng(tarsel::qrtest::MakeQrPicture("speed", 6)),
                                    error));
    QVERIFY2(v.open(), v.error());
    TarselMain& w = v.window();
    setModel(w, 2); // KT310--IIC: the QR code comes from a picture file
    QCOMPARE(w.link().BaudRate, 9600);
    controllerOf(w)->qrFileDialogHook = [file](const QString&) { return file; };

    const double start = v.line.nowMs();
    w.testPage().btn_ShowQrCode->click();
    QVERIFY(waitIdle(w));
    QVERIFY(v.boxes.boxes.isEmpty());
    const auto events = v.line.portEvents();
    QCOMPARE(events.front().kind, tarsel::test::VirtualLine::PortEvent::Kind::Open);
    QCOMPARE(events.front().baud, 9600);
    QCOMPARE(events.back().kind, tarsel::test::VirtualLine::PortEvent::Kind::Close);
    const auto wr = v.line.writes();
    QCOMPARE(wr.size(), size_t(1 + 1 + 18 + 1 + 1));
    QCOMPARE(wr[0].bytes, tarsel::bytesOf({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}));
    QCOMPARE(wr[0].atMs, start);
    QCOMPARE(wr[0].baud, 9600);
    // The switch frame's line time (7 bytes at 9600 bit/s), 500 ms for the display,
    // 100 ms after the local switch, 100 ms before the header.
    QCOMPARE(wr[1].bytes, tarsel::bytesOf({0x02, 0x07, 0x19, 0x02, 0x00}));
    QCOMPARE(wr[1].atMs, start + switchFrameMs(9600) + 700);
    QCOMPARE(wr[1].baud, 115200);
    for (std::size_t i = 2; i < 20; ++i)
        QCOMPARE(wr[i].bytes.size(), size_t(256));
    QCOMPARE(wr[20].bytes, tarsel::bytesOf({0x02, 0x07, 0x19, 0x00}));
    // Back to the window's speed, still on the fast line, then 300 ms and closed.
    QCOMPARE(wr[21].bytes, tarsel::bytesOf({0x02, 0x07, 0x04, 0x00, 0x00, 0x25, 0x80}));
    QCOMPARE(wr[21].atMs, wr[20].atMs + 1000);
    QCOMPARE(wr[21].baud, 115200);
    QCOMPARE(v.line.nowMs(), wr[21].atMs + 300);
    // The display has the picture and runs at the window's speed again.
    const auto pictures = v.display([](tarsel::sim::DisplayCore& d) { return d.qrPictures(); });
    QCOMPARE(pictures.size(), size_t(1));
    QCOMPARE(pictures[0].bytes, tarsel::BitmapTo1bppFile(file.toStdString(), 192, 192));
    QCOMPARE(v.line.displaySpeed(), 9600);

    // A port that cannot be opened stops the action without a message.
    tarsel::test::VirtualLine::PortFaults busy;
    busy.busyElsewhere = true;
    v.line.setPortFaults(busy);
    w.testPage().btn_ShowQrCode->click();
    QVERIFY(waitIdle(w));
    QVERIFY(v.boxes.boxes.isEmpty());
    QCOMPARE(v.line.writes().size(), wr.size());
}

// The picture download: a display that never answers stops the run before any speed
// switch; one that stops answering after the switch to 115200 is switched back, the
// port closed, the progress reset and the message shown.
void TstPictures::downloadStopsWhenTheDisplayDoesNotAnswer()
{
    VirtualWindow v(displayConfig("KT310--IIA", 9600));
    const tarsel::Bytes query = tarsel::bytesOf({0x02, 0x07, 0x16, 0x01});
    auto silence = [&](bool silent) {
        tarsel::sim::Faults faults;
        faults.silent = silent;
        v.display([&](tarsel::sim::DisplayCore& d) { d.setFaults(faults); });
    };
    QVERIFY2(v.open(), v.error());
    TarselMain& w = v.window();
    setModel(w, 0);
    auto* c = controllerOf(w);
    c->convertHook = [](int, Image& bitmap) {
        bitmap = tarsel::testpics::TestPicture(bitmap.width, bitmap.height);
        return true;
    };
    w.picturePage().Button24->click(); // slot 74 holds a picture, ticked
    auto* download = w.picturePage().btn_DownloadPictrue;
    const tarsel::Bytes fast = tarsel::bytesOf({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00});
    const tarsel::Bytes back = tarsel::bytesOf({0x02, 0x07, 0x04, 0x00, 0x00, 0x25, 0x80});

    // No answer at all: "Not found the devies!" and the message; the speed is never switched.
    silence(true);
    download->click();
    QVERIFY(waitIdle(w));
    QCOMPARE(v.boxes.boxes.size(), 1);
    QCOMPARE(v.boxes.boxes[0].flags, 16);
    QCOMPARE(v.boxes.boxes[0].text, QStringLiteral("Not found the devies!Failed to read data"));
    auto wr = v.line.writes();
    QVERIFY(!wr.empty());
    for (const auto& x : wr)
        QCOMPARE(x.bytes, query);
    QCOMPARE(v.line.pcSpeed(), 0); // closed

    // The first probe is answered, none after the switch to 115200.
    silence(false);
    v.line.onRecord([&](const tarsel::sim::Record& r) {
        if (r.name == "SwitchDeviceBaud" && r.bytes == fast)
            silence(true);
    });
    v.boxes.boxes.clear();
    const std::size_t before = wr.size();
    download->click();
    QVERIFY(waitIdle(w));
    QCOMPARE(v.boxes.boxes.size(), 1);
    QCOMPARE(v.boxes.boxes[0].flags, 16);
    QCOMPARE(v.boxes.boxes[0].text, QStringLiteral("Failed to read data"));
    wr = v.line.writes();
    wr.erase(wr.begin(), wr.begin() + static_cast<std::ptrdiff_t>(before));
    QVERIFY(wr.size() >= 4);
    QCOMPARE(wr[0].bytes, query);
    QCOMPARE(wr[1].bytes, fast);
    QCOMPARE(wr[2].bytes, query);
    QCOMPARE(wr[2].baud, 115200);
    QCOMPARE(wr.back().bytes, back);
    QCOMPARE(wr.back().baud, 115200); // sent while the line still runs fast
    for (std::size_t i = 2; i + 1 < wr.size(); ++i)
        QCOMPARE(wr[i].bytes, query); // no block was sent
    // The frame's line time at 115200 bit/s, 200 ms, local speed back, 100 ms.
    QCOMPARE(v.line.nowMs(), wr.back().atMs + switchFrameMs(115200) + 300);
    QCOMPARE(v.line.pcSpeed(), 0);
    QCOMPARE(v.line.portEvents().back().kind, tarsel::test::VirtualLine::PortEvent::Kind::Close);
    QCOMPARE(v.line.displaySpeed(), 9600); // it heard the way back
    QVERIFY(w.picturePage().cxProgressBar2->isHidden());
    QVERIFY(w.forms().status.cxProgressBar1->isHidden());
    QVERIFY(!w.isBusy());
    QVERIFY(download->isEnabled());
}

QTEST_MAIN(TstPictures)
#include "tst_pictures.moc"
