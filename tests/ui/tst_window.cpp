// The main window without a display: start-up state, controls and their names,
// captions in both languages, the outlets, the Busy state and the port list.
#include "support/ui_test_support.h"
#include "ui/language_table.h"
#include "ui/qt_outlets.h"
#include "ui/sys_lang.h"
#include "ui/preferences.h"
#include "ui/widgets.h"
#include "ui/window_forms.h"

#include <QAccessible>
#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QFileInfo>
#include <QtTest>

#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarsel::uitest;
using tarsel::ui::RadioGroup;
using tarsel::ui::SlotImage;

namespace {

QStringList g_trace;
QtMessageHandler g_previousHandler = nullptr;

void captureTrace(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (context.category && QLatin1String(context.category) == QLatin1String("tarsel.frames"))
        g_trace << text;
    else if (g_previousHandler)
        g_previousHandler(type, context, text);
}

// The bottom buttons of the device-controls group (all but Exit).
std::vector<QWidget*> bottomButtons(TarselMain& w)
{
    const auto& f = w.frame();
    return {f.btn_Default, f.btn_loadsettings, f.btn_savesettings, f.btn_GetSetting, f.btn_AllDownload,
            f.btn_ResetDisplay, f.btn_RestartDisplay};
}

// The controls of the caption table, by object name, in the table's order.
const char* const kCaptionControls[] = {
    "grp_Settings", "lab_SerialPort", "lab_BaudRate", "labModel", "btnConnect", "tsBasicSet", "tsDisplayTest",
    "tsCodepageSet", "tsDisplaySet", "tsPictureManagement", "tsDownloadFile", "tsFirmwareUpdates", "grp_commandSet",
    "grp_baudrateSet", "btn_commandSet", "btn_baudrateSet", "lab_Set_BaudRate", "lab_commandmode",
    "grp_WelcomeMessage", "lab_Line1", "lab_Line2", "chk_Scroll1", "chk_Scroll2", "btn_Default",
    "btn_RestartDisplay", "btn_loadsettings", "btn_savesettings", "btn_DownloadSetting", "grp_TestText",
    "lab_TestContent", "chk_PositionAt", "lab_Row", "lab_Column", "btn_TextSend", "btn_ClearDisplay",
    "rg_QrCodeAlign", "lbl_PicNo", "btn_ShowQrCode", "btn_ShowQrCodeAt", "rg_Down_InterChar", "rg_Down_CodePage",
    "btn_DownloadCodePage", "grp_Test_InterChar", "grp_Test_CodePage", "btn_AllDownload", "btn_Exit",
    "btn_GetSetting", "btn_ResetDisplay", "grpHeader", "grpText", "grpFooter", "btn_HeaderSet", "btn_TextSet",
    "btn_FooterSet", "btn_welText_center", "btn_mainText_center", "btn_textText_center", "labHeaderTextColor",
    "labHeaderBgColor", "rbtnHeaderText", "rbtnHeaderPicture", "labTextTextColor", "labTextBgColoer",
    "rbtnTextLine2", "rbtnTextLine4", "labFooterTextColoer", "labFooterBgColoer", "rg_brightness",
    "btn_brightness_set", "grpPreview", "lab_previewTime", "btn_previewPlay", "chk_previewStartup",
    "btn_previewLarger", "lbl_previewNote", "grp_playsetting", "chkSelectALL", "btn_DownloadPictrue", "btn_SetToPlay",
    "lbl_standbytime", "lbl_standbytime_memo", "lbl_playinteral", "lbl_playinterval_memo", "lbl_selected",
    "lbl_codepage_welmsg", "lbl_codepage_maintext", "lbl_codeage_test", "lbl_codepage_hint_welmsg",
    "lbl_codepage_hint_maintext", "lbl_codepage_hint_test", "lbl_DevModel", "lbl_CurrentVersion",
    "lbl_LatestVersion", "btn_update",
};

// Every row of the caption table, exactly as shown once the window is built, on the
// control of the row's name.
void checkAllCaptions(TarselMain& w, bool chinese)
{
    const auto rows = tarsel::ui::captionTable(w.forms());
    QCOMPARE(rows.size(), std::size(kCaptionControls));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QVERIFY(rows[i].control);
        QCOMPARE(rows[i].control->objectName(), QString::fromLatin1(kCaptionControls[i]));
        QCOMPARE(tarsel::ui::shownCaption(rows[i].control), QString::fromUtf8(chinese ? rows[i].chinese : rows[i].english));
    }
}

} // namespace

class TstWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_ports; // an empty virtual-port folder

private slots:
    void startState();
    void everyNamedControlExists();
    void selectorsAreFilled();
    void pictureSlots();
    void englishCaptions();
    void chineseCaptions();
    void languageIds();
    void logLinesAndColours();
    void logSaveAndClear();
    void preferencesFileAndStartFolders();
    void progressAndStatusPanels();
    void elapsedSecondsTimer();
    void traceGoesToFramesCategory();
    void boxFromWorkerWaitsForAnswer();
    void realMessageBox();
    void busyDisablesGroupAndRestores();
    void cancelStopsASleepingJob();
    void closingDuringAJobDoesNotHang();
    void portListFollowsPorts();
    void lastPortIsPreferredAtStart();
    void closingDuringAJobThatDoesNotStopFailsTheExit();
};

void TstWindow::startState()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarsel v3.1"));
    // No display name of its own: the desktop would append it to the caption.
    TarselMain::initApplication();
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Tarsel"));
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    TarselMain::initApplication();
    QCOMPARE(w.minimumSize(), QSize(856, 671));
    QCOMPARE(w.maximumSize(), QSize(856, 671));

    QVERIFY(!w.frame().PageControl1->isEnabled());
    for (QWidget* b : bottomButtons(w))
        QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
    QVERIFY(w.frame().btn_Exit->isEnabled());
    QVERIFY(w.frame().cbb_SerialPort->isEnabled());
    QVERIFY(w.frame().btnConnect->isEnabled());
    QVERIFY(!w.frame().cbb_BaudRate->isEnabled());
    QVERIFY(!w.frame().cbbDisplayMode->isEnabled());

    auto* tabs = w.frame().PageControl1;
    QCOMPARE(tabs->currentWidget(), w.frame().tsBasicSet);
    QVERIFY(!tabVisible(w, w.frame().tsDownloadFile));
    QVERIFY(!tabVisible(w, w.frame().tsFirmwareUpdates));
    for (QWidget* page : {w.frame().tsBasicSet, w.frame().tsDisplaySet, w.frame().tsCodepageSet,
                          w.frame().tsPictureManagement, w.frame().tsDisplayTest})
        QVERIFY2(tabVisible(w, page), qPrintable(page->objectName()));
    // The pages in tab order.
    QStringList order;
    for (int i = 0; i < tabs->count(); ++i)
        order << tabs->widget(i)->objectName();
    QCOMPARE(order, (QStringList{"tsBasicSet", "tsDisplaySet", "tsCodepageSet", "tsPictureManagement",
                                 "tsDisplayTest", "tsDownloadFile", "tsFirmwareUpdates"}));

    QCOMPARE(w.frame().cbb_BaudRate->currentText(), QStringLiteral("9600"));
    QCOMPARE(w.link().BaudRate, 9600);
    QCOMPARE(w.link().SysLangId, std::uint16_t(1033));
    QCOMPARE(w.modelIndex(), -1);
    QCOMPARE(w.frame().cbbDisplayMode->currentIndex(), -1);
    QVERIFY(w.basicPage().chk_Scroll1->isHidden());
    QVERIFY(!w.basicPage().chk_Scroll2->isHidden());
    QCOMPARE(w.basicPage().edt_line1->maxLength(), 20);
    QCOMPARE(w.basicPage().edt_line2->maxLength(), 60);
    QCOMPARE(w.firmwarePage().lbl_show_latestVersion->text(), QStringLiteral("V12"));
    QCOMPARE(w.testPage().edt_Text->text(), QStringLiteral("1234567890ABCDEFGHIJ"));

    // Status bar at rest.
    QVERIFY(w.forms().status.cxProgressBar1->isHidden());
    QVERIFY(w.picturePage().cxProgressBar2->isHidden());
    const auto& status = w.forms().status;
    for (QLabel* p : {status.StatusBar1Panel1, status.StatusBar1Panel2, status.StatusBar1Panel3})
        QVERIFY(p->text().isEmpty());
    // Panel 0 gives 180 of its 400 pixels to the speed panel (the window's width is fixed).
    QCOMPARE(w.forms().status.StatusBar1Panel0->width(), 220);
    QCOMPARE(w.forms().status.StatusBar1Panel1->width(), 200);
    QCOMPARE(w.forms().status.StatusBar1Panel2->width(), 100);
    QCOMPARE(w.forms().status.StatusBar1Panel3->width(), 50);
    QCOMPARE(w.forms().status.StatusBar1Rate->width(), 150);
    QVERIFY(w.forms().status.StatusBar1Rate->text().isEmpty());

    // Model-dependent controls wait for Connect.
    const auto& pic = w.picturePage();
    const auto& test = w.testPage();
    for (QWidget* c : std::initializer_list<QWidget*>{pic.cxImage86, pic.CheckBox86, pic.Button27, pic.Button28,
                                                      test.lbl_PicNo, test.ud_PicNo, test.btn_ShowQrCodeAt})
        QVERIFY2(!shownOnPage(c), qPrintable(c->objectName()));
    QVERIFY(boxes.boxes.isEmpty());
}

void TstWindow::everyNamedControlExists()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    const char* const names[] = {
        "grp_Settings", "lab_SerialPort", "cbb_SerialPort", "lab_BaudRate", "cbb_BaudRate", "labModel",
        "cbbDisplayMode", "btnConnect", "PageControl1", "tsBasicSet", "tsDisplaySet", "tsCodepageSet",
        "tsPictureManagement", "tsDisplayTest", "tsDownloadFile", "tsFirmwareUpdates", "btn_Default",
        "btn_loadsettings", "btn_savesettings", "btn_GetSetting", "btn_AllDownload", "btn_ResetDisplay",
        "btn_RestartDisplay", "btn_Exit", "StatusBar1", "cxProgressBar1", "cxProgressBar2", "redt_log",
        // Basic setting
        "grp_WelcomeMessage", "lab_Line1", "edt_line1", "lab_Line2", "edt_line2", "chk_Scroll1", "chk_Scroll2",
        "lbl_mess1_count", "lbl_mess2_count", "lbl_codepage_welmsg", "cbb_CodePage", "lbl_codepage_hint_welmsg",
        "btn_welText_center", "btn_DownloadSetting", "grp_commandSet", "lab_commandmode", "cbb_down_CommandMode",
        "btn_commandSet", "grp_baudrateSet", "lab_Set_BaudRate", "cbb_down_BaudRate", "btn_baudrateSet",
        // Display setting
        "grpHeader", "labHeaderTextColor", "labHeaderBgColor", "pnlColorTextHeader", "pnlColorBgHeader",
        "rbtnHeaderText", "rbtnHeaderPicture", "btn_HeaderSet", "grpText", "labTextTextColor", "labTextBgColoer",
        "pnlColorTextText", "pnlColorBgText", "rbtnTextLine2", "rbtnTextLine4", "edtMianText1", "edtMianText2",
        "edtMianText3", "edtMianText4", "lbl_codepage_maintext", "cbb_codepage_maintext",
        "lbl_codepage_hint_maintext", "btn_mainText_center", "btn_TextSet", "grpFooter", "labFooterTextColoer",
        "labFooterBgColoer", "pnlColorTextFooter", "pnlColorBgFooter", "btn_FooterSet", "rg_brightness",
        "btn_brightness_set",
        // Code page setting
        "rg_Down_InterChar", "rg_Down_CodePage", "btn_DownloadCodePage",
        // Pictures
        "grpPicManagement", "chkSelectALL", "btn_DownloadPictrue", "grp_playsetting", "lbl_standbytime",
        "ud_StandbyTime", "lbl_standbytime_memo", "lbl_playinteral", "ud_PlayInterval", "lbl_playinterval_memo",
        "lbl_selected", "lbl_selected_nums", "btn_SetToPlay",
        // Display test
        "grp_TestText", "lab_TestContent", "edt_Text", "chk_PositionAt", "lab_Row", "ud_Row", "lab_Column",
        "ud_Column", "btn_TextSend", "btn_ClearDisplay", "btn_textText_center", "lbl_codeage_test",
        "cbb_codepage_test", "lbl_codepage_hint_test", "rg_QrCodeAlign", "btn_ShowQrCode", "lbl_PicNo",
        "edt_PicNo", "ud_PicNo", "btn_ShowQrCodeAt", "grp_Test_InterChar", "grp_Test_CodePage", "btn_203F",
        "btn_405F", "btn_607F", "btn_809F", "btn_A0BF", "btn_C0DF", "btn_E0FF",
        // Download file
        "cbbCharset", "pnlCharsetFilename", "edt_addr", "edt_filename", "btn_CharacterSetSelectFile",
        "btn_CharacterSetDownSingle", "btn_CharacterSetDownAll", "btn_Format",
        // Firmware
        "lbl_DevModel", "lbl_show_deviceModel", "lbl_CurrentVersion", "lbl_show_currentVersion",
        "lbl_LatestVersion", "lbl_show_latestVersion", "btn_update",
    };
    // Every name is carried by exactly one object of the window.
    QHash<QString, int> count;
    for (QObject* o : w.findChildren<QObject*>())
        ++count[o->objectName()];
    for (const char* n : names)
        QVERIFY2(count.value(QString::fromLatin1(n)) == 1, n);
    for (int i = 1; i <= 28; ++i)
        QCOMPARE(count.value(QStringLiteral("Button%1").arg(i)), 1);
    // The typed members are the controls of those names.
    QCOMPARE(w.frame().btnConnect->objectName(), QStringLiteral("btnConnect"));
    QCOMPARE(w.basicPage().edt_line1->objectName(), QStringLiteral("edt_line1"));
    QCOMPARE(w.downloadPage().redt_log->objectName(), QStringLiteral("redt_log"));
    QCOMPARE(w.forms().status.cxProgressBar1->objectName(), QStringLiteral("cxProgressBar1"));
    for (const tarsel::ui::SlotControls& s : w.forms().pictureSlots()) {
        QCOMPARE(s.image->objectName(), QStringLiteral("cxImage%1").arg(s.slot));
        QCOMPARE(s.tick->objectName(), QStringLiteral("CheckBox%1").arg(s.slot));
        QCOMPARE(s.cell->objectName(), QStringLiteral("pnlSlot%1").arg(s.slot));
    }
    // The picture-number edit is the text field of its spin box.
    QCOMPARE(w.forms().edt_PicNo->objectName(), QStringLiteral("edt_PicNo"));
    QCOMPARE(w.forms().edt_PicNo->parent(), w.testPage().ud_PicNo);
    QVERIFY(tarsel::ui::applyCaptions(tarsel::ui::captionTable(w.forms()), false).isEmpty());

    // Every input control can be found by assistive technology: a caption label as
    // buddy, or an accessible name of its own.
    QSet<QWidget*> buddies;
    for (QLabel* l : w.findChildren<QLabel*>())
        if (l->buddy())
            buddies.insert(l->buddy());
    const auto inputs = w.findChildren<QWidget*>();
    for (QWidget* input : inputs) {
        const bool isInput = qobject_cast<QComboBox*>(input) || qobject_cast<QAbstractSpinBox*>(input)
            || qobject_cast<tarsel::ui::ColorPanel*>(input) || qobject_cast<QTextEdit*>(input)
            || (qobject_cast<QLineEdit*>(input) && !qobject_cast<QAbstractSpinBox*>(input->parent()));
        if (!isInput || input->objectName().isEmpty())
            continue;
        QVERIFY2(buddies.contains(input) || !input->accessibleName().isEmpty(), qPrintable(input->objectName()));
    }
    // What a screen reader is told.
    auto nameOf = [&](QWidget* control) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(control);
        return a ? a->text(QAccessible::Name) : QString();
    };
    // A combo box tells its current item as name and its label through the relation.
    QAccessibleInterface* combo = QAccessible::queryAccessibleInterface(w.frame().cbb_BaudRate);
    QVERIFY(combo);
    bool labelled = false;
    for (const auto& rel : combo->relations(QAccessible::Label))
        labelled |= rel.first->text(QAccessible::Name) == QStringLiteral("Baud Rate:");
    QVERIFY(labelled);
    QCOMPARE(nameOf(w.basicPage().edt_line1), QStringLiteral("Line 1:"));
    QCOMPARE(nameOf(w.testPage().ud_Column), QStringLiteral("Column:"));
    QCOMPARE(nameOf(w.frame().btnConnect), QStringLiteral("Connect"));
    QCOMPARE(nameOf(w.displayPage().edtMianText3), QStringLiteral("Main text line 3"));
    QCOMPARE(nameOf(w.picturePage().cxImage80), QStringLiteral("Picture 5"));
    QCOMPARE(nameOf(w.picturePage().CheckBox75), QStringLiteral("Download Head Picture"));
    QCOMPARE(nameOf(w.forms().edt_PicNo), QStringLiteral("Picture No"));
}

void TstWindow::selectorsAreFilled()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    auto items = [&](QComboBox* c) {
        QStringList out;
        for (int i = 0; i < c->count(); ++i)
            out << c->itemText(i);
        return out;
    };
    const QStringList bauds{"9600", "19200", "38400", "57600", "115200"};
    QCOMPARE(items(w.frame().cbb_BaudRate), bauds);
    QCOMPARE(items(w.basicPage().cbb_down_BaudRate), bauds);
    QCOMPARE(items(w.frame().cbbDisplayMode), (QStringList{"KT310--IIA", "KT310--IIB", "KT310--IIC", "KT310-IID",
                                                    "KT710--II", "KT310-II", "KT710-II"}));
    const QStringList commands = items(w.basicPage().cbb_down_CommandMode);
    QCOMPARE(commands.size(), 15);
    QCOMPARE(commands.first(), QStringLiteral("LD220"));
    QCOMPARE(commands.last(), QStringLiteral("AUTO"));
    const QStringList pages = items(w.basicPage().cbb_CodePage);
    QCOMPARE(pages.size(), 26);
    QCOMPARE(pages.at(16), QStringLiteral("CP950_BIG5"));
    QCOMPARE(items(w.testPage().cbb_codepage_test), pages);
    QCOMPARE(items(w.displayPage().cbb_codepage_maintext), pages);
    QCOMPARE(w.codepagePage().rg_Down_CodePage->items(), pages);
    QCOMPARE(w.codepagePage().rg_Down_CodePage->columns(), 5);
    const QStringList catalogue = items(w.downloadPage().cbbCharset);
    QCOMPARE(catalogue.size(), 93);
    QCOMPARE(catalogue.at(0), QStringLiteral("CP437"));
    QCOMPARE(catalogue.at(26), QStringLiteral("mini_CP437"));
    QCOMPARE(catalogue.at(79), QStringLiteral("Picture_1"));
    QCOMPARE(catalogue.at(92), QStringLiteral("firmware"));
    QCOMPARE(w.downloadPage().cbbCharset->currentIndex(), -1);
    auto* inter = w.codepagePage().rg_Down_InterChar;
    QCOMPARE(inter->count(), 20);
    QCOMPARE(inter->items().at(3), QStringLiteral("U.K."));
    QCOMPARE(w.testPage().rg_QrCodeAlign->items(), (QStringList{"Left", "Center", "Right"}));
    QCOMPARE(w.testPage().rg_QrCodeAlign->itemIndex(), 1);
    QCOMPARE(w.displayPage().rg_brightness->items(), (QStringList{"20%", "40%", "60%", "100%"}));
}

void TstWindow::pictureSlots()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    // "-" / "+" pairs of every slot.
    const int pairs[][3] = {{73, 21, 22}, {74, 23, 24}, {75, 25, 26}, {86, 27, 28}, {76, 1, 2}, {77, 3, 4},
        {78, 5, 6}, {79, 7, 8}, {80, 9, 10}, {81, 11, 12}, {82, 13, 14}, {83, 15, 16}, {84, 17, 18}, {85, 19, 20}};
    const auto cells = w.forms().pictureSlots();
    QCOMPARE(cells.size(), std::size(pairs));
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const auto& p = pairs[i];
        QCOMPARE(cells[i].slot, p[0]);
        auto* minus = cells[i].minus;
        auto* plus = cells[i].plus;
        QCOMPARE(minus->objectName(), QStringLiteral("Button%1").arg(p[1]));
        QCOMPARE(plus->objectName(), QStringLiteral("Button%1").arg(p[2]));
        QCOMPARE(minus->text(), QStringLiteral("-"));
        QCOMPARE(plus->text(), QStringLiteral("+"));
        QCOMPARE(minus->property("tag").toInt(), p[0]);
        QCOMPARE(plus->property("tag").toInt(), p[0]);
        SlotImage* image = cells[i].image;
        QCOMPARE(image->slot(), p[0]);
        QCOMPARE(image->size(), p[0] == 75 ? QSize(274, 80) : QSize(130, 80));
        QCOMPARE(image->property("tag").toInt(), p[0]);
        QCheckBox* tick = cells[i].tick;
        QVERIFY(tick->text().isEmpty());
        QCOMPARE(tick->property("tag").toInt(), p[0]);
        // Each slot starts with its placeholder picture.
        QVERIFY2(image->hasPicture(), qPrintable(image->objectName()));
        QCOMPARE(image->picture().size(), p[0] == 75 ? QSize(274, 80) : QSize(130, 80));
        // Every slot widget lies inside the grid that "Select All" works on.
        QVERIFY(w.picturePage().grpPicManagement->isAncestorOf(tick));
    }
}

void TstWindow::englishCaptions()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path(), 1028)); // Chinese (Taiwan) stays English
    auto* tabs = w.frame().PageControl1;
    QCOMPARE(tabs->tabText(0), QStringLiteral(" Basic Setting"));
    QCOMPARE(tabs->tabText(3), QStringLiteral("Picture Management "));
    QCOMPARE(w.frame().btn_Exit->text(), QStringLiteral("Exit"));
    QCOMPARE(w.frame().btn_ResetDisplay->text(), QStringLiteral("Restore Display"));
    QCOMPARE(w.displayPage().labHeaderBgColor->text(), QStringLiteral("Backgroud Color"));
    QCOMPARE(w.displayPage().rg_brightness->title(), QStringLiteral("Brightness adjustment"));
    QCOMPARE(w.codepagePage().rg_Down_InterChar->items().first(), QStringLiteral("USA"));
    checkAllCaptions(w, false);
}

void TstWindow::chineseCaptions()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path(), 2052));
    QCOMPARE(w.link().SysLangId, std::uint16_t(2052));
    auto* tabs = w.frame().PageControl1;
    QCOMPARE(tabs->tabText(0), QStringLiteral(" 基本设置 "));
    QCOMPARE(tabs->tabText(tabs->indexOf(w.frame().tsDownloadFile)), QStringLiteral("  文件下载 "));
    QCOMPARE(w.frame().btn_Exit->text(), QStringLiteral("退出"));
    QCOMPARE(w.frame().grp_Settings->title(), QStringLiteral("串口设置"));
    QCOMPARE(w.testPage().lbl_codepage_hint_test->text(), QStringLiteral("（仅为文本做编码转换）"));
    QCOMPARE(w.displayPage().rbtnTextLine4->text(), QStringLiteral("4 行文本"));
    // Radio group: the title changes, the items stay (except the national sets).
    QCOMPARE(w.testPage().rg_QrCodeAlign->title(), QStringLiteral("二维码位置"));
    QCOMPARE(w.testPage().rg_QrCodeAlign->items(), (QStringList{"Left", "Center", "Right"}));
    const QStringList inter = w.codepagePage().rg_Down_InterChar->items();
    QCOMPARE(inter.size(), 20);
    QCOMPARE(inter.first(), QStringLiteral("美国"));
    QCOMPARE(inter.last(), QStringLiteral("其他"));
    // Texts that are not captions stay English.
    QCOMPARE(w.downloadPage().btn_CharacterSetSelectFile->text(), QStringLiteral("Select File"));
    QCOMPARE(tarsel::ui::captionTable(w.forms()).size(), tarsel::ui::kCaptionRowCount);
    QCOMPARE(tarsel::ui::kCaptionRowCount, std::size_t(94));
    checkAllCaptions(w, true);
}

void TstWindow::languageIds()
{
    using tarsel::ui::langIdForLocale;
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("zh_CN"))), std::uint16_t(2052));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("zh_TW"))), std::uint16_t(1028));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("zh_SG"))), std::uint16_t(4100));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("en_US"))), std::uint16_t(1033));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("en_GB"))), std::uint16_t(2057));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("de_DE"))), std::uint16_t(1031));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("de_AT"))), std::uint16_t(3079));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("fr_FR"))), std::uint16_t(1036));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("ru_RU"))), std::uint16_t(1049));
    QCOMPARE(langIdForLocale(QLocale(QStringLiteral("ja_JP"))), std::uint16_t(1041));
    QCOMPARE(langIdForLocale(QLocale::c()), std::uint16_t(1033));
}

void TstWindow::logLinesAndColours()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    auto& out = w.outlets();
    w.actBtnEnableExecute(); // as after Connect
    auto* log = w.downloadPage().redt_log;
    QVERIFY(log->isReadOnly());

    // A run writes its lines while the window is busy (the log view disabled).
    w.runDeviceJob([&] {
        out.ShowLogOnRichEdit("CP437 [Failed]:CRC check error", true);
        out.ShowLogOnRichEdit("CP737 [Succeed]", false);
    });
    QVERIFY(waitIdle(w));
    QVERIFY(log->isEnabled());
    QTextDocument* doc = log->document();
    QCOMPARE(doc->blockCount(), 2);
    QCOMPARE(doc->firstBlock().text(), QStringLiteral("CP437 [Failed]:CRC check error"));
    QCOMPARE(doc->lastBlock().text(), QStringLiteral("CP737 [Succeed]"));
    const QTextCharFormat failed = doc->firstBlock().begin().fragment().charFormat();
    const QTextCharFormat succeeded = doc->lastBlock().begin().fragment().charFormat();
    QCOMPARE(failed.foreground().color(), QColor(255, 0, 0));
    // A normal line has no colour of its own: it takes the view's text colour.
    QVERIFY(!succeeded.hasProperty(QTextFormat::ForegroundBrush));

    // As drawn after the run: the normal line dark, not in the disabled grey.
    auto* tabs = w.frame().PageControl1;
    tabs->setTabVisible(tabs->indexOf(w.frame().tsDownloadFile), true);
    tabs->setCurrentWidget(w.frame().tsDownloadFile);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QImage shot = log->viewport()->grab().toImage();
    auto rowsOf = [&](const QTextBlock& block) {
        const QRectF r = doc->documentLayout()->blockBoundingRect(block);
        return std::pair{int(r.top()), int(r.bottom())};
    };
    auto darkest = [&](const QTextBlock& block) {
        int best = 255;
        const auto [top, bottom] = rowsOf(block);
        for (int y = std::max(top, 0); y < std::min(bottom, shot.height()); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                best = std::min(best, std::max({c.red(), c.green(), c.blue()}));
            }
        return best;
    };
    auto reddest = [&](const QTextBlock& block) {
        int best = 0;
        const auto [top, bottom] = rowsOf(block);
        for (int y = std::max(top, 0); y < std::min(bottom, shot.height()); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                best = std::max(best, c.red() - std::max(c.green(), c.blue()));
            }
        return best;
    };
    QVERIFY2(darkest(doc->lastBlock()) < 100, "the Succeed line is drawn in a light colour");
    QVERIFY(reddest(doc->firstBlock()) > 150);
    QCOMPARE(reddest(doc->lastBlock()), 0);

    // Kind 1 empties the log; other kinds keep it.
    out.StartProgress("x", 10, 0);
    QCOMPARE(doc->blockCount(), 2);
    out.StartProgress("x", 10, 1);
    QVERIFY(log->toPlainText().isEmpty());
    out.ResetProgress();
}

void TstWindow::logSaveAndClear()
{
    QTemporaryDir dir;
    BoxRecorder boxes;
    auto options = testOptions(boxes, m_ports.path());
    options.preferencesFile = dir.filePath(QStringLiteral("tarsel.conf"));
    QStringList folders;
    QString chosen;
    options.logSaveDialogHook = [&](const QString& folder) {
        folders << folder;
        return chosen;
    };
    TarselMain w(options);
    auto* log = w.downloadPage().redt_log;
    w.outlets().ShowLogOnRichEdit("CP437 [Failed]:CRC check error", true);
    w.outlets().ShowLogOnRichEdit("CP737 [Succeed]", false);

    // The context menu: the standard entries, then Save… and Clear.
    std::unique_ptr<QMenu> menu(log->createLogContextMenu());
    const QList<QAction*> actions = menu->actions();
    QVERIFY(actions.size() >= 4);
    QCOMPARE(actions.at(actions.size() - 2), log->saveAction());
    QCOMPARE(actions.last(), log->clearAction());
    QCOMPARE(log->saveAction()->text(), QStringLiteral("Save…"));
    QCOMPARE(log->clearAction()->text(), QStringLiteral("Clear"));
    QVERIFY(log->saveAction()->isEnabled());
    bool copy = false;
    for (QAction* a : actions)
        copy |= a->text().remove(QLatin1Char('&')).startsWith(QStringLiteral("Copy"));
    QVERIFY(copy);

    // Save…: the lines as text, one per line; the dialog starts in the documents
    // folder, then where the last log was saved.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("logs")));
    chosen = dir.filePath(QStringLiteral("logs/run.txt"));
    log->saveAction()->trigger();
    QFile saved(chosen);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("CP437 [Failed]:CRC check error\nCP737 [Succeed]\n"));
    saved.close();
    QCOMPARE(folders, QStringList{tarsel::ui::Preferences::documentsFolder()});
    QVERIFY(boxes.boxes.isEmpty());

    // Saving over the file replaces it whole.
    w.outlets().ShowLogOnRichEdit("CP850 [Succeed]", false);
    log->saveAction()->trigger();
    QCOMPARE(folders.last(), dir.filePath(QStringLiteral("logs")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("CP437 [Failed]:CRC check error\nCP737 [Succeed]\nCP850 [Succeed]\n"));
    saved.close();

    // A folder that does not exist: an error box naming the file, nothing written.
    chosen = dir.filePath(QStringLiteral("missing/run.txt"));
    log->saveAction()->trigger();
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.last().flags, int(tarsel::kBoxError));
    QVERIFY(boxes.boxes.last().text.contains(chosen));
    QVERIFY(!QFile::exists(chosen));
    // A named pipe chosen as the file: refused at once with a box, and it stays a pipe
    // (a log saved there would hang the window or replace the pipe by a file).
    chosen = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(chosen).constData(), 0600), 0);
    log->saveAction()->trigger();
    QCOMPARE(boxes.boxes.size(), 2);
    QVERIFY(boxes.boxes.last().text.contains(QStringLiteral("named pipe")));
    QVERIFY(QFileInfo(chosen).exists() && !QFileInfo(chosen).isFile());
    // A cancelled dialog writes nothing and says nothing.
    chosen.clear();
    log->saveAction()->trigger();
    QCOMPARE(boxes.boxes.size(), 2);

    // Clear empties the view; the next line starts a fresh log.
    log->clearAction()->trigger();
    QVERIFY(log->document()->isEmpty());
    std::unique_ptr<QMenu> empty(log->createLogContextMenu());
    QVERIFY(!log->saveAction()->isEnabled());
    QVERIFY(!log->clearAction()->isEnabled());
    w.outlets().ShowLogOnRichEdit("CP852 [Succeed]", false);
    QCOMPARE(log->logText(), QStringLiteral("CP852 [Succeed]\n"));
}

void TstWindow::preferencesFileAndStartFolders()
{
    using tarsel::ui::FileKind;
    using tarsel::ui::Preferences;
    // The user's file: <config>/tarsel/tarsel.conf (only its name is read here).
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QCOMPARE(Preferences().fileName(), config + QStringLiteral("/tarsel/tarsel.conf"));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("prefs.conf"));
    const QString a = dir.filePath(QStringLiteral("a"));
    const QString b = dir.filePath(QStringLiteral("b"));
    QVERIFY(QDir().mkpath(a) && QDir().mkpath(b));
    {
        Preferences p(file);
        for (FileKind k : {FileKind::SettingsFiles, FileKind::Pictures, FileKind::SingleItems, FileKind::Firmware,
                           FileKind::LogFiles}) {
            QVERIFY(p.lastFolder(k).isEmpty());
            QCOMPARE(p.startFolder(k), Preferences::documentsFolder());
        }
        p.rememberFile(FileKind::Pictures, a + QStringLiteral("/x.png"));
        p.rememberFile(FileKind::SettingsFiles, b + QStringLiteral("/t.ini"));
        p.rememberFile(FileKind::SingleItems, QStringLiteral("relative.bin")); // ignored
    }
    // Each kind its own folder, kept in the file for the next run.
    Preferences p(file);
    QCOMPARE(p.startFolder(FileKind::Pictures), a);
    QCOMPARE(p.startFolder(FileKind::SettingsFiles), b);
    QCOMPARE(p.startFolder(FileKind::SingleItems), Preferences::documentsFolder());
    QVERIFY(QDir(a).removeRecursively());
    QCOMPARE(p.startFolder(FileKind::Pictures), Preferences::documentsFolder());
    QVERIFY(Preferences::documentsFolder() != QCoreApplication::applicationDirPath());
    QVERIFY(QFileInfo(Preferences::documentsFolder()).isDir());
}

void TstWindow::progressAndStatusPanels()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    w.show();
    auto& out = w.outlets();
    auto* bar1 = w.forms().status.cxProgressBar1;
    auto* bar2 = w.picturePage().cxProgressBar2;
    auto* p1 = w.forms().status.StatusBar1Panel1;
    auto* p2 = w.forms().status.StatusBar1Panel2;

    out.StartProgress("All Settings Downloading......", 100, 2);
    QCOMPARE(p1->text(), QStringLiteral("All Settings Downloading......"));
    QVERIFY(bar1->isVisible());
    QVERIFY(w.forms().status.StatusBar1Panel0->isAncestorOf(bar1));
    QCOMPARE(bar1->maximum(), 100);
    QCOMPARE(bar2->maximum(), 100);

    // A picture position lays the slot bar over its slot: 80 -> slot 76.
    w.frame().PageControl1->setCurrentWidget(w.frame().tsPictureManagement);
    QCoreApplication::processEvents();
    out.ShowTransferStatus("Download Picture_1", "1 of  2", 80);
    QCOMPARE(p1->text(), QStringLiteral("Download Picture_1"));
    QCOMPARE(p2->text(), QStringLiteral("1 of  2"));
    auto* slot = w.picturePage().cxImage76;
    QVERIFY(bar2->isVisible());
    QCOMPARE(bar2->size(), slot->size());
    QCOMPARE(bar2->mapToGlobal(QPoint(0, 0)), slot->mapToGlobal(QPoint(0, 0)));

    out.SetProgressMax(5, 80);
    QCOMPARE(bar1->maximum(), 5);
    QCOMPARE(bar2->maximum(), 5);
    out.SetProgressPosition(3, 80);
    QCOMPARE(bar1->value(), 3);
    QCOMPARE(bar2->value(), 3);
    QVERIFY(bar2->isVisible());
    out.SetProgressPosition(5, 80);
    QVERIFY(!bar2->isVisible()); // hidden once full

    // A font position changes only the texts and the main bar.
    out.SetProgressMax(50, 12);
    QCOMPARE(bar2->maximum(), 5);
    out.ShowTransferStatus("Download CP864", "3 of  9", 12);
    QCOMPARE(p1->text(), QStringLiteral("Download CP864"));
    QVERIFY(!bar2->isVisible());

    out.ResetProgress();
    QVERIFY(p1->text().isEmpty() && p2->text().isEmpty());
    QVERIFY(w.forms().status.StatusBar1Panel3->text().isEmpty());
    QVERIFY(!bar1->isVisible() && !bar2->isVisible());
    QCOMPARE(bar1->value(), 0);
    QCOMPARE(bar2->value(), 0);
    out.StartProgress("again", 10, 0);
    QVERIFY(bar1->isVisible());
    out.ResetProgress();
}

void TstWindow::elapsedSecondsTimer()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    auto* panel = w.forms().status.StatusBar1Panel3;
    const QTimer* tmr1 = w.elapsedTimer();
    QCOMPARE(tmr1->objectName(), QStringLiteral("tmr1"));
    QVERIFY(!tmr1->isActive());
    QCOMPARE(tmr1->interval(), 1000);
    w.outlets().StartProgress("run", 10, 0);
    QVERIFY(tmr1->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(panel->text(), QStringLiteral("1s"), 2500);
    w.outlets().ResetProgress();
    QVERIFY(!tmr1->isActive());
    QVERIFY(panel->text().isEmpty());
    // A new run counts from 0 again.
    w.outlets().StartProgress("run", 10, 0);
    QVERIFY(panel->text().isEmpty());
    w.outlets().ResetProgress();
}

void TstWindow::traceGoesToFramesCategory()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    QLoggingCategory::setFilterRules(QStringLiteral("tarsel.frames.debug=true"));
    g_trace.clear();
    g_previousHandler = qInstallMessageHandler(captureTrace);
    w.outlets().TraceOut("----> 02071601");
    w.outlets().TraceOut("");
    w.link().traceOut("<---- 4B543731302D494900");
    qInstallMessageHandler(g_previousHandler);
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(g_trace, (QStringList{"----> 02071601", "<---- 4B543731302D494900"}));
}

void TstWindow::boxFromWorkerWaitsForAnswer()
{
    BoxRecorder boxes;
    boxes.yesNoAnswer = 6;
    auto options = testOptions(boxes, m_ports.path());
    Qt::HANDLE hookThread = nullptr;
    auto record = boxes.hook();
    options.messageBoxHook = [&](const QString& text, int flags) {
        hookThread = QThread::currentThreadId();
        return record(text, flags);
    };
    TarselMain w(options);
    std::atomic<int> yes{0}, ok{0};
    bool done = false;
    w.runDeviceJob([&] {
        yes = w.outlets().ShowMessageBox("Do you want to download all settings?", 36);
        ok = w.outlets().ShowMessageBox("Done!", 64);
    }, [&] { done = true; });
    QVERIFY(waitIdle(w));
    QVERIFY(done);
    QCOMPARE(yes.load(), 6);
    QCOMPARE(ok.load(), 1);
    QCOMPARE(hookThread, QThread::currentThreadId()); // shown by the window's thread
    QCOMPARE(boxes.boxes.size(), 2);
    QCOMPARE(boxes.boxes[0].flags, 36);
    QCOMPARE(boxes.boxes[1].text, QStringLiteral("Done!"));

    boxes.yesNoAnswer = 7;
    w.runDeviceJob([&] { yes = w.outlets().ShowMessageBox("Are you sure?", 36); });
    QVERIFY(waitIdle(w));
    QCOMPARE(yes.load(), 7);
}

void TstWindow::realMessageBox()
{
    // The standard box: title, icon and buttons from the flags; No answers 7.
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(QMessageBox::No)->click();
    });
    QCOMPARE(tarsel::ui::QtOutlets::execBox(nullptr, QStringLiteral("Format?"), 36), 7);
    QCOMPARE(title, QStringLiteral("Tarsel"));
    QCOMPARE(icon, QMessageBox::Question);
    QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);

    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    QCOMPARE(tarsel::ui::QtOutlets::execBox(nullptr, QStringLiteral("Load Settings Error!"), 48), 1);
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void TstWindow::busyDisablesGroupAndRestores()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    QSignalSpy busySpy(&w, &TarselMain::busyChanged);
    std::atomic<bool> release{false};
    bool groupDuringDone = true;
    w.runDeviceJob([&] { while (!release) QThread::msleep(1); },
                   [&] {
                       groupDuringDone = w.frame().grp_Settings->isEnabled();
                       w.actBtnEnableExecute();
                   });
    QVERIFY(w.isBusy());
    QVERIFY(!w.frame().grp_Settings->isEnabled());
    QVERIFY(!w.frame().btnConnect->isEnabled());
    QVERIFY(w.frame().btn_Exit->isEnabled());
    release = true;
    QVERIFY(waitIdle(w));
    QVERIFY(!groupDuringDone);
    QCOMPARE(busySpy.count(), 2);
    // `done` enabled the group: everything but the baud and model lists.
    QVERIFY(w.frame().PageControl1->isEnabled());
    for (QWidget* b : bottomButtons(w))
        QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
    QVERIFY(!w.frame().cbb_BaudRate->isEnabled());
    QVERIFY(!w.frame().cbbDisplayMode->isEnabled());

    // Without a change during the job the previous state comes back.
    w.actBtnDisableExecute();
    w.frame().grp_Settings->setEnabled(true);
    w.runDeviceJob([] {});
    QVERIFY(!w.frame().grp_Settings->isEnabled());
    QVERIFY(waitIdle(w));
    QVERIFY(w.frame().grp_Settings->isEnabled());
    QVERIFY(!w.frame().PageControl1->isEnabled());
    QVERIFY(!w.frame().btn_Default->isEnabled());

    // A job that fails with something other than std::exception still ends Busy.
    w.runDeviceJob([] { throw 42; });
    QVERIFY(waitIdle(w));
    QVERIFY(!w.isBusy());
    QVERIFY(w.frame().grp_Settings->isEnabled());

    // Jobs run one at a time, in order.
    QStringList order;
    std::mutex m;
    for (int i = 0; i < 3; ++i)
        w.runDeviceJob([&, i] { QThread::msleep(5); std::lock_guard l(m); order << QString::number(i); });
    QVERIFY(waitIdle(w));
    QCOMPARE(order, (QStringList{"0", "1", "2"}));
}

void TstWindow::cancelStopsASleepingJob()
{
    BoxRecorder boxes;
    TarselMain w(testOptions(boxes, m_ports.path()));
    std::atomic<bool> started{false};
    w.runDeviceJob([&] { started = true; w.link().pause(20000); });
    QTRY_VERIFY(started.load());
    w.cancelDeviceWork();
    QVERIFY(waitIdle(w, 3000));
    // The next job's sleeps are not cancelled any more.
    double slept = 0;
    w.runDeviceJob([&] {
        const double t0 = w.link().clock.nowMs();
        w.link().clock.sleepMs(30);
        slept = w.link().clock.nowMs() - t0;
    });
    QVERIFY(waitIdle(w));
    QVERIFY(slept >= 29);
}

void TstWindow::closingDuringAJobDoesNotHang()
{
    BoxRecorder boxes;
    auto options = testOptions(boxes, m_ports.path());
    options.messageBoxHook = nullptr; // a real box would be shown; closing must release it
    TarselMain w(options);
    w.show();
    std::atomic<bool> finished{false};
    std::atomic<int> answer{0};
    w.runDeviceJob([&] {
        w.link().pause(200);
        answer = w.outlets().ShowMessageBox("Do you want to upgrade the firmware?", 36);
        w.link().pause(20000);
        finished = true;
    });
    // Close while the question is shown (its nested loop runs this timer).
    QTimer::singleShot(400, &w, [&] { w.close(); });
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 5000);
    QVERIFY(finished.load());
    QCOMPARE(answer.load(), 7);
}

void TstWindow::portListFollowsPorts()
{
    QTemporaryDir folder;
    auto link = [&](const char* name) {
        return ::symlink("/dev/null", QDir(folder.path()).filePath(QString::fromLatin1(name)).toLocal8Bit().constData()) == 0;
    };
    QVERIFY(link("display-b"));
    QVERIFY(link("display-c"));
    const QString b = QDir(folder.path()).filePath(QStringLiteral("display-b"));
    const QString a = QDir(folder.path()).filePath(QStringLiteral("display-a"));
    const QString c = QDir(folder.path()).filePath(QStringLiteral("display-c"));
    BoxRecorder boxes;
    auto options = testOptions(boxes, folder.path());
    options.preferredPort = c.toStdString(); // selected at start instead of the first port
    TarselMain w(options);
    auto* ports = w.frame().cbb_SerialPort;
    QCOMPARE(ports->currentText(), c);
    QCOMPARE(QString::fromStdString(w.link().PortName), c);
    QVERIFY(ports->findText(b) >= 0);
    QVERIFY(selectPort(w, b));

    // A port that appears is listed by the periodic rescan; the selection stays.
    QVERIFY(link("display-a"));
    QTRY_VERIFY_WITH_TIMEOUT(ports->findText(a) >= 0, 5000);
    QCOMPARE(ports->currentText(), b);
    QCOMPARE(QString::fromStdString(w.link().PortName), b);
    QVERIFY(ports->findText(a) < ports->findText(b)); // sorted

    // The selected port disappears: it stays selected, marked as gone, and no other
    // port is taken in its place.
    QVERIFY(QFile::remove(b));
    w.refreshPortList();
    QCOMPARE(ports->currentText(), QStringLiteral("%1 (not present)").arg(b));
    QCOMPARE(QString::fromStdString(w.link().PortName), b);
    QVERIFY(w.selectedPortGone());
    QVERIFY(boxes.boxes.isEmpty());

    // Choosing another port is the user's to do; the gone one then leaves the list.
    QVERIFY(selectPort(w, a));
    QVERIFY(!w.selectedPortGone());
    QCOMPARE(ports->findText(QStringLiteral("%1 (not present)").arg(b)), -1);
    QCOMPARE(w.preferences().lastPort(), a); // remembered by its stable name
}

void TstWindow::lastPortIsPreferredAtStart()
{
    QTemporaryDir folder;
    for (const char* n : {"display-a", "display-b"})
        QVERIFY(::symlink("/dev/null", QDir(folder.path()).filePath(QString::fromLatin1(n)).toLocal8Bit().constData()) == 0);
    const QString b = QDir(folder.path()).filePath(QStringLiteral("display-b"));
    BoxRecorder boxes;
    {
        TarselMain first(testOptions(boxes, folder.path()));
        QVERIFY(selectPort(first, b));
    }
    TarselMain second(testOptions(boxes, folder.path()));
    QCOMPARE(second.frame().cbb_SerialPort->currentText(), b);
    QCOMPARE(QString::fromStdString(second.link().PortName), b);
}

// Closing the window while a job runs cancels it; one that does not stop in time
// ends the program with a failure status, never as a success.
void TstWindow::closingDuringAJobThatDoesNotStopFailsTheExit()
{
    BoxRecorder boxes;
    auto options = testOptions(boxes, m_ports.path());
    int exitStatus = -1;
    options.forcedExitHook = [&](int status) { exitStatus = status; };
    options.closeWaitMs = 300;
    TarselMain w(options);
    w.show();
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    // A job that does not listen to its cancel token.
    w.runDeviceJob([&] {
        started = true;
        while (!release.load())
            QThread::msleep(5);
    });
    QTRY_VERIFY(started.load());
    w.close();
    QVERIFY(w.isVisible()); // still there while the job runs
    QTRY_COMPARE_WITH_TIMEOUT(exitStatus, 3, 5000);
    release = true;
    QVERIFY(waitIdle(w));

    // A job that stops: the window closes once it has, and nothing is forced.
    exitStatus = -1;
    TarselMain v(options);
    v.show();
    started = false;
    v.runDeviceJob([&] {
        started = true;
        v.link().pause(20000);
    });
    QTRY_VERIFY(started.load());
    v.close();
    QTRY_VERIFY_WITH_TIMEOUT(!v.isVisible(), 2000);
    QCOMPARE(exitStatus, -1);
}

QTEST_MAIN(TstWindow)
#include "tst_window.moc"
