// The "Preview" pane follows the window's settings at once, without "Setting": the
// colours as the display shows them, the texts, the header's picture, the carousel
// on its time slider. No display is needed.
#include "pictures/image.h"
#include "support/ui_test_support.h"
#include "support/virtual_link.h"
#include "ui/pictures_controller.h"
#include "ui/preview_controller.h"
#include "ui/tarselmain.h"
#include "ui/widgets.h"
#include "ui/window_forms.h"
#include "util/bits.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarsel::uitest;

namespace {

// The colour the display shows for a colour picked in the window.
QRgb shown(const QColor& picked)
{
    const tarsel::Color c = tarsel::RGB565ToColor(tarsel::ColorToRGB565(
        static_cast<tarsel::Color>(picked.red()) | (static_cast<tarsel::Color>(picked.green()) << 8) |
        (static_cast<tarsel::Color>(picked.blue()) << 16)));
    return qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

} // namespace

class TstPreview : public QObject {
    Q_OBJECT

private slots:
    void followsEditsWithoutSetting();
    void headerPictureAndCarousel();
};

void TstPreview::followsEditsWithoutSetting()
{
    BoxRecorder boxes;
    QTemporaryDir ports;
    TarselMain w(testOptions(boxes, ports.path()));
    PreviewController& preview = w.previewController();
    QTRY_VERIFY(!preview.screen().isNull());
    QCOMPARE(preview.screen().size(), QSize(800, 480)); // before Connect: the large screen

    // A colour picked in the window shows at once, as RGB565 keeps it.
    w.displayPage().pnlColorBgHeader->setColor(QColor(0x12, 0x9A, 0xEE));
    w.displayPage().pnlColorBgText->setColor(QColor(200, 30, 40));
    w.displayPage().pnlColorBgFooter->setColor(QColor(255, 255, 0));
    QTRY_COMPARE(preview.screen().pixel(799, 2), shown(QColor(0x12, 0x9A, 0xEE)));
    QTRY_COMPARE(preview.screen().pixel(1, 120), shown(QColor(200, 30, 40)));
    QTRY_COMPARE(preview.screen().pixel(799, 478), shown(QColor(255, 255, 0)));

    // A text typed into the main text changes the main area; nothing went anywhere.
    const QImage before = preview.screen();
    w.forms().mainTextEdits()[0]->setText(QStringLiteral("NEW PRICE 9.99"));
    QTRY_VERIFY(preview.screen() != before);
    QCOMPARE(w.forms().mainTextEdits()[0]->text(), QStringLiteral("NEW PRICE 9.99")); // not padded in the window
    QVERIFY(boxes.boxes.isEmpty());

    // Four lines instead of two: the third line's row gets text.
    auto thirdRow = [&] {
        const QImage s = preview.screen();
        int ink = 0;
        for (int y = 80 + 180; y < 80 + 270; ++y)
            for (int x = 0; x < 800; x += 2)
                ink += s.pixel(x, y) != shown(QColor(200, 30, 40));
        return ink;
    };
    w.forms().mainTextEdits()[2]->setText(QStringLiteral("THIRD LINE"));
    QTRY_VERIFY(preview.screen() != before);
    const int twoLines = thirdRow();
    w.displayPage().rbtnTextLine4->setChecked(true);
    QTRY_VERIFY(thirdRow() > twoLines);

    // The larger view shows the same screen.
    QDialog* larger = preview.largerView();
    larger->show();
    QVERIFY(larger->isVisible());
    larger->close();
}

void TstPreview::headerPictureAndCarousel()
{
    // A KT710-II on a virtual line: Connect gives the slots their sizes.
    VirtualWindow view(tarsel::test::displayConfig("KT710-II", 38400));
    QVERIFY2(view.open(), view.error());
    QVERIFY2(view.connect(), view.error());
    TarselMain& w = view.window();
    QCOMPARE(w.modelIndex(), 6);
    PreviewController& preview = w.previewController();

    // A head picture filled into slot 75 shows in the header once "Show Picture" is on.
    w.picturesController().convertHook = [](int, tarsel::Image& bitmap) {
        for (int y = 0; y < bitmap.height; ++y)
            for (int x = 0; x < bitmap.width; ++x)
                bitmap.setPixel(x, y, 0, 200, 0);
        return true;
    };
    w.picturesController().Button22Click(75);
    w.picturesController().Button22Click(76); // play picture 1
    w.displayPage().rbtnHeaderPicture->setChecked(true);
    QTRY_COMPARE(preview.screen().pixel(520, 40), qRgb(0, 200, 0));
    QVERIFY(preview.screen().pixel(120, 40) != qRgb(0, 200, 0)); // the title logo's slot holds nothing

    // The carousel: picture 1 ticked, 5 s of standby, then it plays.
    w.forms().pictureSlot(76).tick->setChecked(true);
    w.picturePage().ud_StandbyTime->setValue(5);
    preview.setAtSeconds(4);
    preview.render();
    QVERIFY(preview.screen().pixel(400, 200) != qRgb(0, 200, 0));
    w.displayPage().sld_previewTime->setValue(6);
    QTRY_COMPARE(preview.screen().pixel(400, 200), qRgb(0, 200, 0));
}

QTEST_MAIN(TstPreview)
#include "tst_preview.moc"
