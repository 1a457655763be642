// The settings feature in the real window (offscreen), against the display core on a
// virtual line where a display is needed.
#include "settings/display_info.h"
#include "settings/settings_document.h"
#include "settings/window_values.h"
#include "support/ui_test_support.h"
#include "support/virtual_link.h"
#include "ui/settings_controller.h"
#include "ui/tarselmain.h"
#include "ui/preferences.h"
#include "ui/widgets.h"
#include "ui/window_forms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using tarsel::WindowValues;
using tarsel::ui::ColorPanel;
using tarsel::ui::RadioGroup;

namespace {

// Names of the members that differ, for failure messages.
QString differences(const WindowValues& a, const WindowValues& b)
{
    QStringList d;
#define TARSEL_CMP(m) if (!(a.m == b.m)) d << QStringLiteral(#m);
    TARSEL_CMP(cbb_down_BaudRate) TARSEL_CMP(chk_Scroll1) TARSEL_CMP(chk_Scroll2) TARSEL_CMP(rg_Down_InterChar)
    TARSEL_CMP(rg_Down_CodePage) TARSEL_CMP(cbb_CodePage) TARSEL_CMP(cbb_codepage_test) TARSEL_CMP(cbb_codepage_maintext)
    TARSEL_CMP(cbb_down_CommandMode) TARSEL_CMP(edt_line1) TARSEL_CMP(edt_line2) TARSEL_CMP(pnlColorTextText)
    TARSEL_CMP(pnlColorBgText) TARSEL_CMP(pnlColorBgFooter) TARSEL_CMP(pnlColorTextFooter) TARSEL_CMP(pnlColorBgHeader)
    TARSEL_CMP(pnlColorTextHeader) TARSEL_CMP(rg_brightness) TARSEL_CMP(CheckBox) TARSEL_CMP(lbl_selected_nums)
    TARSEL_CMP(rbtnTextLine2) TARSEL_CMP(rbtnTextLine4) TARSEL_CMP(edtMianText) TARSEL_CMP(edtMianText3Visible)
    TARSEL_CMP(edtMianText4Visible) TARSEL_CMP(rbtnHeaderText) TARSEL_CMP(rbtnHeaderPicture) TARSEL_CMP(ud_StandbyTime)
    TARSEL_CMP(ud_PlayInterval)
#undef TARSEL_CMP
    return d.join(QStringLiteral(", "));
}

struct Box {
    QString text;
    int flags;
};

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void defaultsAtCreation();
    void saveThenLoadRestoresTheWindow();
    void failedSaveAndBadFileChangeNothing();
    void loadAndSaveRefuseWhatIsNotAFile();
    void editingAidsAndSelectors();
    void getSettingAfterAllDownloadBringsBackWhatWasSent();

private:
    void createWindow(bool withDisplay);
    SettingsController* controller() const { return &m_window->settingsController(); }
    // The window's forms, typed.
    const Ui::MainFrame& frame() const { return m_window->frame(); }
    const Ui::BasicPage& basic() const { return m_window->basicPage(); }
    const Ui::DisplayPage& display() const { return m_window->displayPage(); }
    const Ui::CodepagePage& codepage() const { return m_window->codepagePage(); }
    const Ui::PicturePage& pictures() const { return m_window->picturePage(); }
    const Ui::TestPage& test() const { return m_window->testPage(); }
    const Ui::DownloadPage& download() const { return m_window->downloadPage(); }
    Box lastBox() const { return m_boxes.isEmpty() ? Box{QStringLiteral("(no box)"), 0} : m_boxes.last(); }
    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!m_window->isBusy(), 30000); }
    void editWindow();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<tarsel::uitest::VirtualWindow> m_line; // outlives the window on it
    std::unique_ptr<TarselMain> m_window;
    QList<Box> m_boxes;
    int m_questionAnswer = tarsel::kAnswerYes;
};

void TestSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_boxes.clear();
    m_questionAnswer = tarsel::kAnswerYes;
}

void TestSettings::cleanup()
{
    m_window.reset();
    m_line.reset();
    m_dir.reset();
}

void TestSettings::createWindow(bool withDisplay)
{
    const QString ports = m_dir->filePath(QStringLiteral("ports"));
    QDir().mkpath(ports);
    QFile::setPermissions(ports, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    TarselMain::Options options;
    options.virtualPortFolder = ports.toStdString();
    if (withDisplay) {
        m_line = std::make_unique<tarsel::uitest::VirtualWindow>(tarsel::test::displayConfig("KT310-II", 9600));
        options = m_line->options();
    }
    options.sysLangId = 1033;
    options.preferencesFile = m_dir->filePath(QStringLiteral("tarsel.conf"));
    options.messageBoxHook = [this](const QString& text, int flags) {
        m_boxes.push_back({text, flags});
        return flags == tarsel::kBoxQuestion ? m_questionAnswer : tarsel::kAnswerOk;
    };
    m_window = std::make_unique<TarselMain>(options);
    m_window->show();
    QVERIFY(controller());
    // Without a display the device controls stay disabled; these tests use them anyway.
    if (!withDisplay)
        m_window->actBtnEnableExecute();
}

void TestSettings::editWindow()
{
    basic().cbb_down_BaudRate->setCurrentIndex(2);
    basic().chk_Scroll1->setChecked(false);
    codepage().rg_Down_InterChar->button(16)->click(); // Turkey, and CP857 everywhere
    basic().cbb_down_CommandMode->setCurrentIndex(7);
    basic().edt_line1->setText(QStringLiteral("G\u00FCle g\u00FCle"));
    basic().edt_line2->setText(QStringLiteral("\u015Eimdi"));
    display().pnlColorTextText->setColor(QColor(0x40, 0x80, 0xF8));
    display().pnlColorBgText->setColor(QColor(0x08, 0x04, 0x10));
    display().pnlColorTextHeader->setColor(QColor(0xF8, 0, 0));
    display().pnlColorBgHeader->setColor(QColor(0, 0xFC, 0));
    display().pnlColorTextFooter->setColor(QColor(0x10, 0x20, 0x30));
    display().pnlColorBgFooter->setColor(QColor(0x88, 0x44, 0x28));
    display().rg_brightness->setItemIndex(3);
    pictures().CheckBox77->setChecked(true);
    pictures().CheckBox85->setChecked(true);
    display().rbtnTextLine4->click();
    display().rbtnHeaderPicture->click();
    display().edtMianText1->setText(QStringLiteral("one"));
    display().edtMianText4->setText(QStringLiteral("\u00C7ok"));
    pictures().ud_StandbyTime->setValue(45);
    pictures().ud_PlayInterval->setValue(7);
}

void TestSettings::defaultsAtCreation()
{
    createWindow(false);
    QCOMPARE(basic().cbb_down_BaudRate->currentText(), QStringLiteral("9600"));
    QCOMPARE(basic().cbb_down_CommandMode->currentText(), QStringLiteral("AUTO"));
    QCOMPARE(codepage().rg_Down_CodePage->itemIndex(), 0);
    QCOMPARE(display().cbb_codepage_maintext->currentText(), QStringLiteral("CP437"));
    QCOMPARE(display().rg_brightness->itemIndex(), 1);
    QCOMPARE(basic().edt_line1->text(), QStringLiteral("*** TFT DISPLAY *** "));
    QCOMPARE(basic().lbl_mess1_count->text(), QStringLiteral("20"));
    QCOMPARE(basic().lbl_mess2_count->text(), QStringLiteral("33"));
    QVERIFY(display().rbtnTextLine2->isChecked());
    QVERIFY(display().edtMianText3->isHidden());
    QCOMPARE(display().pnlColorTextText->color(), QColor(0, 0xFC, 0xF8));
    QCOMPARE(pictures().ud_PlayInterval->value(), 1);
    QCOMPARE(test().btn_E0FF->property("tag").toInt(), 204);
    QVERIFY(m_boxes.isEmpty());
}

void TestSettings::saveThenLoadRestoresTheWindow()
{
    createWindow(false);
    editWindow();
    QString proposedSeen;
    QStringList foldersSeen;
    const QString chosen = m_dir->filePath(QStringLiteral("mine.txt"));
    controller()->fileDialogHook = [&](bool save, const QString& folder, const QString& proposed) {
        if (save)
            proposedSeen = proposed;
        foldersSeen << folder;
        return chosen;
    };
    frame().btn_savesettings->click();
    QCOMPARE(proposedSeen, QStringLiteral("Tarsel"));
    // Nothing remembered yet: the documents folder, never the program's own folder.
    QCOMPARE(foldersSeen, QStringList{tarsel::ui::Preferences::documentsFolder()});
    QVERIFY(foldersSeen.first() != QCoreApplication::applicationDirPath());
    const QString file = m_dir->filePath(QStringLiteral("mine.ini"));
    QVERIFY(QFile::exists(file));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(lastBox().text, QStringLiteral("Save Settings File Success:") + file);
    QCOMPARE(lastBox().flags, int(tarsel::kBoxInfo));
    QCOMPARE(m_window->preferences().lastFolder(tarsel::ui::FileKind::SettingsFiles), m_dir->path());
    // Saving pads the texts in the window.
    QCOMPARE(display().edtMianText1->text(), QStringLiteral("one") + QString(17, QLatin1Char(' ')));
    const WindowValues saved = controller()->readValues();
    const tarsel::TDisplayInfo savedInfo = controller()->displayInfo();

    frame().btn_Default->click();
    QVERIFY(!(controller()->readValues() == saved));

    controller()->fileDialogHook = [&](bool save, const QString& folder, const QString&) {
        foldersSeen << folder;
        return save ? QString() : file;
    };
    frame().btn_loadsettings->click();
    // Load opens where the settings file was saved.
    QCOMPARE(foldersSeen.last(), m_dir->path());
    QCOMPARE(lastBox().text, QStringLiteral("Load Settings Success!"));
    QCOMPARE(lastBox().flags, int(tarsel::kBoxInfo));
    const WindowValues loaded = controller()->readValues();
    QVERIFY2(loaded == saved, qPrintable(differences(loaded, saved)));
    QCOMPARE(basic().edt_line1->text(), QStringLiteral("G\u00FCle g\u00FCle") + QString(11, QLatin1Char(' ')));
    QCOMPARE(display().rg_brightness->itemIndex(), 3);
    QCOMPARE(tarsel::BuildSettingsDocument(controller()->displayInfo()), tarsel::BuildSettingsDocument(savedInfo));

    // The folder is kept between runs: a new window opens its dialogs there too.
    m_window.reset();
    createWindow(false);
    QString next;
    controller()->fileDialogHook = [&](bool, const QString& folder, const QString&) {
        next = folder;
        return QString();
    };
    frame().btn_loadsettings->click();
    QCOMPARE(next, m_dir->path());
}

void TestSettings::failedSaveAndBadFileChangeNothing()
{
    createWindow(false);
    controller()->fileDialogHook = [&](bool, const QString&, const QString&) {
        return m_dir->filePath(QStringLiteral("missing/folder/x.ini"));
    };
    frame().btn_savesettings->click();
    QCOMPARE(lastBox().flags, int(tarsel::kBoxError));
    QVERIFY(lastBox().text.contains(QStringLiteral("No such file or directory")));

    // A file that is no settings document: one warning, the window as it was.
    const QString bad = m_dir->filePath(QStringLiteral("bad.ini"));
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(200000, '['));
    f.close();
    const WindowValues before = controller()->readValues();
    controller()->fileDialogHook = [&](bool, const QString&, const QString&) { return bad; };
    frame().btn_loadsettings->click();
    QCOMPARE(lastBox().text, QStringLiteral("Parsing failed!"));
    QCOMPARE(lastBox().flags, int(tarsel::kBoxWarning));
    QVERIFY(controller()->readValues() == before);

    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.close();
    frame().btn_loadsettings->click();
    QCOMPARE(lastBox().text, QStringLiteral("Load Settings Error!"));

    // Cancel writes nothing and shows nothing.
    const int boxes = m_boxes.size();
    controller()->fileDialogHook = [](bool, const QString&, const QString&) { return QString(); };
    frame().btn_savesettings->click();
    frame().btn_loadsettings->click();
    QCOMPARE(m_boxes.size(), boxes);
}

void TestSettings::loadAndSaveRefuseWhatIsNotAFile()
{
    createWindow(false);
    const QString fifo = m_dir->filePath(QStringLiteral("pipe.ini"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    // Load Setting on a named pipe returns at once with a message. Should it ever
    // block in open() or read(), the pipe's other end is opened after a long while so
    // that the test ends (and fails on the message) instead of hanging.
    std::atomic<bool> returned{false};
    std::thread rescue([&] {
        for (int i = 0; i < 600 && !returned; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!returned) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
            if (fd >= 0)
                ::close(fd);
        }
    });
    controller()->fileDialogHook = [&](bool, const QString&, const QString&) { return fifo; };
    frame().btn_loadsettings->click();
    returned = true;
    rescue.join();
    QCOMPARE(lastBox().text, fifo + QStringLiteral(": not a regular file (a named pipe)"));
    QCOMPARE(lastBox().flags, int(tarsel::kBoxWarning));

    // Save Setting onto a link to a device node, or onto the pipe, leaves it as it
    // was. As root the device is a null device node of the test's own.
    QString device = QStringLiteral("/dev/null");
    if (::geteuid() == 0) {
        device = m_dir->filePath(QStringLiteral("null-device"));
        if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
            device.clear();
    }
    QStringList targets{fifo};
    if (!device.isEmpty())
        targets << device;
    for (const QString& target : targets) {
        const QString link = m_dir->filePath(QStringLiteral("link.ini"));
        QFile::remove(link);
        QVERIFY(QFile::link(target, link));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        const auto mode = st.st_mode;
        const auto inode = st.st_ino;
        controller()->fileDialogHook = [&](bool, const QString&, const QString&) { return link; };
        frame().btn_savesettings->click();
        QCOMPARE(lastBox().flags, int(tarsel::kBoxError));
        QVERIFY2(lastBox().text.startsWith(link + QStringLiteral(": not a regular file (")), qPrintable(lastBox().text));
        QVERIFY2(lastBox().text.contains(target), qPrintable(lastBox().text));
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode, mode);
        QCOMPARE(st.st_ino, inode);
        QVERIFY(QFileInfo(link).isSymLink());
    }
}

void TestSettings::editingAidsAndSelectors()
{
    createWindow(false);
    // Centring.
    basic().edt_line1->setText(QStringLiteral("ABC"));
    basic().edt_line2->setText(QStringLiteral("0123456789"));
    basic().btn_welText_center->click();
    QCOMPARE(basic().edt_line1->text(), QString(8, QLatin1Char(' ')) + QStringLiteral("ABC") + QString(9, QLatin1Char(' ')));
    QCOMPARE(basic().edt_line2->text().size(), 60);
    QCOMPARE(basic().lbl_mess2_count->text(), QStringLiteral("60"));

    // Line count switch.
    display().rbtnTextLine4->click();
    QVERIFY(!display().edtMianText4->isHidden());
    display().rbtnTextLine2->click();
    QVERIFY(display().edtMianText4->isHidden());

    // Selectors in step.
    codepage().rg_Down_InterChar->button(10)->click(); // Denmark II
    QCOMPARE(basic().cbb_CodePage->currentText(), QStringLiteral("CP850"));
    QCOMPARE(display().cbb_codepage_maintext->currentText(), QStringLiteral("CP850"));
    auto* testCodePage = test().cbb_codepage_test;
    testCodePage->setCurrentIndex(20);
    emit testCodePage->activated(20); // the user's choice
    QCOMPARE(codepage().rg_Down_CodePage->itemIndex(), 20);
    QCOMPARE(basic().cbb_CodePage->currentIndex(), 20);
    auto* main = display().cbb_codepage_maintext;
    main->setCurrentIndex(12);
    emit main->activated(12);
    QCOMPARE(codepage().rg_Down_CodePage->itemIndex(), 20);

    // Colour picker starts at the last colour chosen, not the panel's.
    QList<QColor> starts;
    controller()->colorDialogHook = [&](const QColor& start) -> std::optional<QColor> {
        starts << start;
        return QColor(0x40, 0x80, 0xFF);
    };
    emit display().pnlColorBgFooter->clicked();
    QCOMPARE(display().pnlColorBgFooter->color(), QColor(0x40, 0x80, 0xFF));
    controller()->colorDialogHook = [&](const QColor& start) -> std::optional<QColor> {
        starts << start;
        return std::nullopt;
    };
    emit display().pnlColorTextHeader->clicked();
    QCOMPARE(starts.size(), 2);
    QCOMPARE(starts[1], QColor(0x40, 0x80, 0xFF));
    QCOMPARE(display().pnlColorTextHeader->color(), QColor(0xF8, 0xFC, 0xF8));

    // Service code.
    auto* tabs = frame().PageControl1;
    const int fw = tabs->indexOf(frame().tsFirmwareUpdates);
    const int dl = tabs->indexOf(frame().tsDownloadFile);
    QVERIFY(!tabs->isTabVisible(fw));
    test().edt_Text->setText(QStringLiteral("593012"));
    QVERIFY(tabs->isTabVisible(fw));
    QVERIFY(!tabs->isTabVisible(dl));
    test().edt_Text->setText(QStringLiteral("5930127"));
    QVERIFY(tabs->isTabVisible(dl));
}

void TestSettings::getSettingAfterAllDownloadBringsBackWhatWasSent()
{
    createWindow(true);
    auto& line = m_line->line;
    QVERIFY(tarsel::uitest::selectPort(*m_window, m_line->port));
    m_window->btnConnectClick();
    waitIdle();
    QCOMPARE(lastBox().text, QStringLiteral("Connected to KT310-II!"));

    editWindow();
    m_questionAnswer = tarsel::kAnswerNo;
    frame().btn_AllDownload->click();
    waitIdle();
    QCOMPARE(lastBox().text, QStringLiteral("Do you want to download all settings?"));
    QVERIFY(line.recordsNamed("SetBrightness").empty());

    m_questionAnswer = tarsel::kAnswerYes;
    frame().btn_AllDownload->click();
    waitIdle();
    QVERIFY2(!lastBox().text.contains(QStringLiteral("Failed")), qPrintable(lastBox().text));
    QCOMPARE(lastBox().flags, int(tarsel::kBoxInfo));
    QCOMPARE(line.recordsNamed("SetBrightness").at(0).bytes, tarsel::bytesOf({0x1F, 0x58, 0x04}));
    const WindowValues sent = controller()->readValues();

    frame().btn_Default->click();
    frame().btn_GetSetting->click();
    waitIdle();
    QCOMPARE(lastBox().text, QStringLiteral("Get Settings from Display Success!"));
    const WindowValues got = controller()->readValues();
    // What "All Download" carries comes back; the rest is the display's own.
    QCOMPARE(got.rg_brightness, sent.rg_brightness);
    QCOMPARE(got.pnlColorTextText, sent.pnlColorTextText);
    QCOMPARE(got.pnlColorBgText, sent.pnlColorBgText);
    QCOMPARE(got.pnlColorTextHeader, sent.pnlColorTextHeader);
    QCOMPARE(got.pnlColorBgHeader, sent.pnlColorBgHeader);
    QCOMPARE(got.pnlColorTextFooter, sent.pnlColorTextFooter);
    QCOMPARE(got.pnlColorBgFooter, sent.pnlColorBgFooter);
    QVERIFY(got.rbtnHeaderPicture);
    QVERIFY(got.rbtnTextLine4);
    QVERIFY(got.edtMianText3Visible);
    QCOMPARE(got.chk_Scroll1, false);
    QCOMPARE(got.chk_Scroll2, true);
    QCOMPARE(got.rg_Down_InterChar, 16);
    QCOMPARE(got.rg_Down_CodePage, 6);
    QCOMPARE(got.cbb_codepage_test, 6);
    QVERIFY(got.edt_line1 == sent.edt_line1);
    QVERIFY(got.edt_line2 == sent.edt_line2);
    QCOMPARE(got.cbb_down_CommandMode, 14); // not sent by "All Download"

    // Code page "Setting" and a test pattern reach the display byte for byte.
    codepage().btn_DownloadCodePage->click();
    waitIdle();
    QCOMPARE(lastBox().text, QStringLiteral("Done!"));
    QCOMPARE(line.recordsNamed("SetInterChar").back().bytes, tarsel::bytesOf({0x02, 0x05, 0x11}));
    QCOMPARE(line.recordsNamed("SetCodePage").back().bytes, tarsel::bytesOf({0x02, 0x06, 0x09}));

    // Baud rate "Setting" moves the connection to the new speed.
    basic().cbb_down_BaudRate->setCurrentIndex(2);
    basic().btn_baudrateSet->click();
    waitIdle();
    QCOMPARE(lastBox().text, QStringLiteral("Done!"));
    QCOMPARE(frame().cbb_BaudRate->currentText(), QStringLiteral("38400"));
    QCOMPARE(m_window->link().BaudRate, 38400);
    line.runFor(100); // the speed frame is still on the wire when the button's job ends
    QCOMPARE(line.displaySpeed(), 38400);
    const std::size_t colours = line.recordsNamed("SetTextColor").size();
    display().btn_HeaderSet->click();
    waitIdle();
    QCOMPARE(lastBox().text, QStringLiteral("Done!"));
    QCOMPARE(line.recordsNamed("SetTextColor").size(), colours + 1); // heard at the new speed
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
