#include "ui/settings_controller.h"

#include "link/models.h"
#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "ui/tarselmain.h"
#include "ui/widgets.h"
#include "util/codepage.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include <memory>

using tarsel::Bytes;
using tarsel::Color;
using tarsel::Text;
using tarsel::TDisplayInfo;
using tarsel::WindowValues;
using tarsel::ui::ColorPanel;
using tarsel::ui::RadioGroup;

namespace {

const char* const kMainTextEdits[] = {"edtMianText1", "edtMianText2", "edtMianText3", "edtMianText4"};

// The code page test buttons and their tags.
struct TestButton {
    const char* name;
    int tag;
};
const TestButton kTestButtons[] = {
    {"btn_203F", 101}, {"btn_405F", 102}, {"btn_607F", 103},
    {"btn_809F", 201}, {"btn_A0BF", 202}, {"btn_C0DF", 203}, {"btn_E0FF", 204},
};

const QString kSettingsFilter = QStringLiteral("Settings Files (*.ini)");
const QString kProposedName = QStringLiteral("Tarsel");

Color toColor(const QColor& c)
{
    return static_cast<Color>(c.red()) | (static_cast<Color>(c.green()) << 8) | (static_cast<Color>(c.blue()) << 16);
}

QColor toQColor(Color c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

Text toText(const QString& s) { return s.toStdU16String(); }
QString toQString(const Text& t) { return QString::fromStdU16String(t); }

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString playBoxName(int i) { return QStringLiteral("CheckBox%1").arg(76 + i); }

// Checks one of two exclusive radio buttons, or neither.
void setRadioPair(QRadioButton* first, bool firstOn, QRadioButton* second, bool secondOn)
{
    const bool exclusive = first->autoExclusive();
    if (!firstOn && !secondOn) {
        first->setAutoExclusive(false);
        second->setAutoExclusive(false);
    }
    first->setChecked(firstOn);
    second->setChecked(secondOn && !firstOn);
    first->setAutoExclusive(exclusive);
    second->setAutoExclusive(exclusive);
}

} // namespace

SettingsController::SettingsController(TarselMain* window) : QObject(window), m_window(window)
{
    setObjectName(QStringLiteral("settingsController"));
    connectControls();
    actDefaultSettingExecute();
}

// ---- Widgets <-> values ----

WindowValues SettingsController::readValues() const
{
    auto* w = m_window;
    WindowValues v;
    v.cbb_down_BaudRate = w->control<QComboBox>("cbb_down_BaudRate")->currentIndex();
    v.chk_Scroll1 = w->control<QCheckBox>("chk_Scroll1")->isChecked();
    v.chk_Scroll2 = w->control<QCheckBox>("chk_Scroll2")->isChecked();
    v.rg_Down_InterChar = w->control<RadioGroup>("rg_Down_InterChar")->itemIndex();
    v.rg_Down_CodePage = w->control<RadioGroup>("rg_Down_CodePage")->itemIndex();
    v.cbb_CodePage = w->control<QComboBox>("cbb_CodePage")->currentIndex();
    v.cbb_codepage_test = w->control<QComboBox>("cbb_codepage_test")->currentIndex();
    v.cbb_codepage_maintext = w->control<QComboBox>("cbb_codepage_maintext")->currentIndex();
    v.cbb_down_CommandMode = w->control<QComboBox>("cbb_down_CommandMode")->currentIndex();
    v.edt_line1 = toText(w->control<QLineEdit>("edt_line1")->text());
    v.edt_line2 = toText(w->control<QLineEdit>("edt_line2")->text());
    v.pnlColorTextText = toColor(w->control<ColorPanel>("pnlColorTextText")->color());
    v.pnlColorBgText = toColor(w->control<ColorPanel>("pnlColorBgText")->color());
    v.pnlColorBgFooter = toColor(w->control<ColorPanel>("pnlColorBgFooter")->color());
    v.pnlColorTextFooter = toColor(w->control<ColorPanel>("pnlColorTextFooter")->color());
    v.pnlColorBgHeader = toColor(w->control<ColorPanel>("pnlColorBgHeader")->color());
    v.pnlColorTextHeader = toColor(w->control<ColorPanel>("pnlColorTextHeader")->color());
    v.rg_brightness = w->control<RadioGroup>("rg_brightness")->itemIndex();
    for (int i = 0; i < 10; ++i)
        v.CheckBox[static_cast<std::size_t>(i)] = w->findChild<QCheckBox*>(playBoxName(i))->isChecked();
    v.lbl_selected_nums = toText(w->control<QLabel>("lbl_selected_nums")->text());
    v.rbtnTextLine2 = w->control<QRadioButton>("rbtnTextLine2")->isChecked();
    v.rbtnTextLine4 = w->control<QRadioButton>("rbtnTextLine4")->isChecked();
    for (int i = 0; i < 4; ++i)
        v.edtMianText[static_cast<std::size_t>(i)] = toText(w->control<QLineEdit>(kMainTextEdits[i])->text());
    v.edtMianText3Visible = !w->control<QWidget>("edtMianText3")->isHidden();
    v.edtMianText4Visible = !w->control<QWidget>("edtMianText4")->isHidden();
    v.rbtnHeaderText = w->control<QRadioButton>("rbtnHeaderText")->isChecked();
    v.rbtnHeaderPicture = w->control<QRadioButton>("rbtnHeaderPicture")->isChecked();
    v.ud_StandbyTime = w->control<QSpinBox>("ud_StandbyTime")->value();
    v.ud_PlayInterval = w->control<QSpinBox>("ud_PlayInterval")->value();
    return v;
}

void SettingsController::writeValues(const WindowValues& v)
{
    auto* w = m_window;
    w->control<QComboBox>("cbb_down_BaudRate")->setCurrentIndex(v.cbb_down_BaudRate);
    w->control<QCheckBox>("chk_Scroll1")->setChecked(v.chk_Scroll1);
    w->control<QCheckBox>("chk_Scroll2")->setChecked(v.chk_Scroll2);
    w->control<RadioGroup>("rg_Down_InterChar")->setItemIndex(v.rg_Down_InterChar);
    w->control<RadioGroup>("rg_Down_CodePage")->setItemIndex(v.rg_Down_CodePage);
    w->control<QComboBox>("cbb_CodePage")->setCurrentIndex(v.cbb_CodePage);
    w->control<QComboBox>("cbb_codepage_test")->setCurrentIndex(v.cbb_codepage_test);
    w->control<QComboBox>("cbb_codepage_maintext")->setCurrentIndex(v.cbb_codepage_maintext);
    w->control<QComboBox>("cbb_down_CommandMode")->setCurrentIndex(v.cbb_down_CommandMode);
    w->control<QLineEdit>("edt_line1")->setText(toQString(v.edt_line1));
    w->control<QLineEdit>("edt_line2")->setText(toQString(v.edt_line2));
    w->control<ColorPanel>("pnlColorTextText")->setColor(toQColor(v.pnlColorTextText));
    w->control<ColorPanel>("pnlColorBgText")->setColor(toQColor(v.pnlColorBgText));
    w->control<ColorPanel>("pnlColorBgFooter")->setColor(toQColor(v.pnlColorBgFooter));
    w->control<ColorPanel>("pnlColorTextFooter")->setColor(toQColor(v.pnlColorTextFooter));
    w->control<ColorPanel>("pnlColorBgHeader")->setColor(toQColor(v.pnlColorBgHeader));
    w->control<ColorPanel>("pnlColorTextHeader")->setColor(toQColor(v.pnlColorTextHeader));
    w->control<RadioGroup>("rg_brightness")->setItemIndex(v.rg_brightness);
    for (int i = 0; i < 10; ++i)
        w->findChild<QCheckBox*>(playBoxName(i))->setChecked(v.CheckBox[static_cast<std::size_t>(i)]);
    w->control<QLabel>("lbl_selected_nums")->setText(toQString(v.lbl_selected_nums));
    setRadioPair(w->control<QRadioButton>("rbtnTextLine2"), v.rbtnTextLine2,
                 w->control<QRadioButton>("rbtnTextLine4"), v.rbtnTextLine4);
    for (int i = 0; i < 4; ++i)
        w->control<QLineEdit>(kMainTextEdits[i])->setText(toQString(v.edtMianText[static_cast<std::size_t>(i)]));
    w->control<QWidget>("edtMianText3")->setVisible(v.edtMianText3Visible);
    w->control<QWidget>("edtMianText4")->setVisible(v.edtMianText4Visible);
    setRadioPair(w->control<QRadioButton>("rbtnHeaderText"), v.rbtnHeaderText,
                 w->control<QRadioButton>("rbtnHeaderPicture"), v.rbtnHeaderPicture);
    w->control<QSpinBox>("ud_StandbyTime")->setValue(v.ud_StandbyTime);
    w->control<QSpinBox>("ud_PlayInterval")->setValue(v.ud_PlayInterval);
}

void SettingsController::gatherSettings()
{
    WindowValues values = readValues();
    tarsel::GatherSettings(values, m_info);
    writeValues(values);
}

void SettingsController::actDefaultSettingExecute()
{
    const Text document = tarsel::Utf8ToUtf16(tarsel::DefaultSettingsJson);
    if (document.empty()) {
        showNotice(tarsel::kGetSettingsError, tarsel::kBoxError);
        return;
    }
    WindowValues values = readValues();
    std::string error;
    if (tarsel::ParseSettingsJson(document, m_info, values, error))
        writeValues(values);
}

// ---- Wiring ----

void SettingsController::connectControls()
{
    auto* w = m_window;
    auto button = [this, w](const char* name, void (SettingsController::*handler)()) {
        connect(w->control<QPushButton>(name), &QPushButton::clicked, this, handler);
    };
    button("btn_Default", &SettingsController::actDefaultSettingExecute);
    button("btn_savesettings", &SettingsController::btn_savesettingsClick);
    button("btn_loadsettings", &SettingsController::btn_loadsettingsClick);
    button("btn_GetSetting", &SettingsController::btn_GetSettingClick);
    button("btn_AllDownload", &SettingsController::btn_AllDownloadClick);
    button("btn_ResetDisplay", &SettingsController::btn_ResetDisplayClick);
    button("btn_RestartDisplay", &SettingsController::btn_RestartDisplayClick);
    button("btn_Format", &SettingsController::btn_FormatClick);
    button("btn_DownloadSetting", &SettingsController::btn_DownloadSettingClick);
    button("btn_HeaderSet", &SettingsController::btn_HeaderSetClick);
    button("btn_TextSet", &SettingsController::btn_TextSetClick);
    button("btn_FooterSet", &SettingsController::btn_FooterSetClick);
    button("btn_brightness_set", &SettingsController::btn_brightness_setClick);
    button("btn_baudrateSet", &SettingsController::btn_baudrateSetClick);
    button("btn_commandSet", &SettingsController::btn_commandSetClick);
    button("btn_SetToPlay", &SettingsController::btn_SetToPlayClick);
    button("btn_DownloadCodePage", &SettingsController::btn_DownloadCodePageClick);
    button("btn_TextSend", &SettingsController::btn_TextSendClick);
    button("btn_ClearDisplay", &SettingsController::btn_ClearDisplayClick);
    button("btn_ShowQrCodeAt", &SettingsController::btn_ShowQrCodeAtClick);
    button("btn_welText_center", &SettingsController::centerWelcome);
    button("btn_mainText_center", &SettingsController::centerMainText);
    button("btn_textText_center", &SettingsController::centerTestText);

    // Code page test buttons (actButtonCreatExecute): tag per button, one handler.
    for (const auto& b : kTestButtons) {
        auto* btn = w->control<QPushButton>(b.name);
        btn->setProperty("tag", b.tag);
        const int tag = b.tag;
        connect(btn, &QPushButton::clicked, this, [this, tag] { actCodePageTestExecute(tag); });
    }

    // Colour panels.
    for (const char* name : {"pnlColorTextHeader", "pnlColorBgHeader", "pnlColorTextText", "pnlColorBgText",
                             "pnlColorTextFooter", "pnlColorBgFooter"}) {
        connect(w->control<ColorPanel>(name), &ColorPanel::clicked, this, [this, name] { pickColor(name); });
    }

    // Character counts of the welcome message.
    connect(w->control<QLineEdit>("edt_line1"), &QLineEdit::textChanged, this, [w](const QString& t) {
        w->control<QLabel>("lbl_mess1_count")->setText(QString::number(t.size()));
    });
    connect(w->control<QLineEdit>("edt_line2"), &QLineEdit::textChanged, this, [w](const QString& t) {
        w->control<QLabel>("lbl_mess2_count")->setText(QString::number(t.size()));
    });

    // Line count switch (both radio buttons).
    for (const char* name : {"rbtnTextLine2", "rbtnTextLine4"})
        connect(w->control<QRadioButton>(name), &QRadioButton::clicked, this, &SettingsController::updateMainTextLines);

    // Code page selectors kept in step (user choices only).
    connect(w->control<RadioGroup>("rg_Down_CodePage"), &RadioGroup::itemClicked, this,
            [this] { syncSelectors(&tarsel::SyncFromCodePageGroup); });
    connect(w->control<RadioGroup>("rg_Down_InterChar"), &RadioGroup::itemClicked, this,
            [this] { syncSelectors(&tarsel::SyncFromInterChar); });
    connect(w->control<QComboBox>("cbb_CodePage"), &QComboBox::activated, this,
            [this] { syncSelectors(&tarsel::SyncFromCodePageCombo); });
    connect(w->control<QComboBox>("cbb_codepage_test"), &QComboBox::activated, this,
            [this] { syncSelectors(&tarsel::SyncFromTestCodePage); });

    // Service code.
    connect(w->control<QLineEdit>("edt_Text"), &QLineEdit::textChanged, this, &SettingsController::edt_TextChange);
}

void SettingsController::showNotice(const std::string& text, int flags)
{
    if (!text.empty())
        m_window->showMessageBox(QString::fromStdString(text), flags);
}

void SettingsController::runWithSettings(std::function<void(const TDisplayInfo&)> job)
{
    gatherSettings();
    TDisplayInfo info = m_info; // the worker gets its own copy
    m_window->runDeviceJob([job = std::move(job), info] { job(info); });
}

// ---- Settings file ----

void SettingsController::btn_savesettingsClick()
{
    gatherSettings();
    const QString folder = m_saveFolder.isEmpty() ? QCoreApplication::applicationDirPath() : m_saveFolder;
    const QString chosen = fileDialogHook
        ? fileDialogHook(true, folder, kProposedName)
        : QFileDialog::getSaveFileName(m_window, QString(), folder + QLatin1Char('/') + kProposedName, kSettingsFilter);
    if (chosen.isEmpty())
        return;
    m_saveFolder = QFileInfo(chosen).absolutePath();
    const std::string path = tarsel::SettingsFileName(localPath(chosen));
    std::string error;
    if (tarsel::SaveSettingsFile(path, m_info, error))
        showNotice(tarsel::kSaveSettingsSuccess + QFile::decodeName(path.c_str()).toStdString(), tarsel::kBoxInfo);
    else
        showNotice(error, tarsel::kBoxError);
}

void SettingsController::btn_loadsettingsClick()
{
    // Keys missing from the file keep what the window shows now.
    gatherSettings();
    const QString folder = m_openFolder.isEmpty() ? QCoreApplication::applicationDirPath() : m_openFolder;
    const QString chosen = fileDialogHook ? fileDialogHook(false, folder, QString())
                                          : QFileDialog::getOpenFileName(m_window, QString(), folder, kSettingsFilter);
    if (chosen.isEmpty())
        return;
    m_openFolder = QFileInfo(chosen).absolutePath();
    Bytes content;
    std::string error;
    if (!tarsel::LoadSettingsFile(localPath(chosen), content, error)) {
        showNotice(error, tarsel::kBoxWarning);
        return;
    }
    WindowValues values = readValues();
    bool applied = false;
    const tarsel::Notice notice = tarsel::ApplySettingsFile(content, m_info, values, &applied);
    if (applied)
        writeValues(values);
    showNotice(notice.text, notice.flags);
}

// ---- Settings transfer ----

void SettingsController::btn_GetSettingClick()
{
    auto reply = std::make_shared<Bytes>();
    m_window->runDeviceJob([this, reply] { *reply = tarsel::ReadDisplaySettings(m_window->link()); },
                           [this, reply] {
                               WindowValues values = readValues();
                               bool applied = false;
                               const tarsel::Notice notice =
                                   tarsel::ApplyDisplaySettings(*reply, m_info, values, &applied);
                               if (applied)
                                   writeValues(values);
                               showNotice(notice.text, notice.flags);
                           });
}

void SettingsController::btn_AllDownloadClick()
{
    if (!tarsel::ConfirmAllDownload(m_window->outlets()))
        return;
    runWithSettings([this](const TDisplayInfo& info) {
        tarsel::RunAllDownload(m_window->link(), m_window->outlets(), info);
    });
}

void SettingsController::btn_ResetDisplayClick()
{
    m_window->runDeviceJob([this] { tarsel::RunResetDisplay(m_window->link(), m_window->outlets()); });
}

void SettingsController::btn_RestartDisplayClick()
{
    m_window->runDeviceJob([this] { tarsel::RunRestartDisplay(m_window->link(), m_window->outlets()); });
}

void SettingsController::btn_FormatClick()
{
    m_window->runDeviceJob([this] { tarsel::RunFormat(m_window->link(), m_window->outlets()); });
}

// ---- "Setting" buttons ----

void SettingsController::btn_DownloadSettingClick()
{
    runWithSettings([this](const TDisplayInfo& i) { tarsel::RunWelcomeSetting(m_window->link(), m_window->outlets(), i); });
}

void SettingsController::btn_HeaderSetClick()
{
    runWithSettings([this](const TDisplayInfo& i) { tarsel::RunHeaderSetting(m_window->link(), m_window->outlets(), i); });
}

void SettingsController::btn_TextSetClick()
{
    runWithSettings([this](const TDisplayInfo& i) { tarsel::RunTextSetting(m_window->link(), m_window->outlets(), i); });
}

void SettingsController::btn_FooterSetClick()
{
    runWithSettings([this](const TDisplayInfo& i) { tarsel::RunFooterSetting(m_window->link(), m_window->outlets(), i); });
}

void SettingsController::btn_brightness_setClick()
{
    runWithSettings(
        [this](const TDisplayInfo& i) { tarsel::RunBrightnessSetting(m_window->link(), m_window->outlets(), i); });
}

void SettingsController::btn_baudrateSetClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        // The connection's baud-rate box follows before "Done!" is shown.
        tarsel::RunBaudRateSetting(m_window->link(), m_window->outlets(), i, [this](int row) {
            QMetaObject::invokeMethod(
                m_window, [w = m_window, row] { w->control<QComboBox>("cbb_BaudRate")->setCurrentIndex(row); },
                Qt::QueuedConnection);
        });
    });
}

void SettingsController::btn_commandSetClick()
{
    const int row = m_window->control<QComboBox>("cbb_down_CommandMode")->currentIndex();
    m_window->runDeviceJob(
        [this, row] { tarsel::RunCommandSetSetting(m_window->link(), m_window->outlets(), row); });
}

void SettingsController::btn_SetToPlayClick()
{
    runWithSettings([this](const TDisplayInfo& i) { tarsel::RunPlaySetting(m_window->link(), m_window->outlets(), i); });
}

void SettingsController::btn_DownloadCodePageClick()
{
    runWithSettings(
        [this](const TDisplayInfo& i) { tarsel::RunCodePageSetting(m_window->link(), m_window->outlets(), i); });
}

// ---- Display test ----

void SettingsController::btn_TextSendClick()
{
    auto* w = m_window;
    const Text text = toText(w->control<QLineEdit>("edt_Text")->text());
    const int codePage = w->control<QComboBox>("cbb_codepage_test")->currentIndex();
    const bool positionAt = w->control<QCheckBox>("chk_PositionAt")->isChecked();
    const int column = w->control<QSpinBox>("ud_Column")->value();
    const int row = w->control<QSpinBox>("ud_Row")->value();
    w->runDeviceJob([this, text, codePage, positionAt, column, row] {
        tarsel::RunDisplayText(m_window->link(), m_window->outlets(), text, codePage, positionAt, column, row);
    });
}

void SettingsController::btn_ClearDisplayClick()
{
    m_window->runDeviceJob([this] { tarsel::RunClearDisplay(m_window->link(), m_window->outlets()); });
}

void SettingsController::btn_ShowQrCodeAtClick()
{
    auto* w = m_window;
    const int model = w->modelIndex();
    if (!tarsel::HasPictureNumberControls(model))
        return;
    const Text text = toText(w->control<QLineEdit>("edt_Text")->text());
    const int align = w->control<RadioGroup>("rg_QrCodeAlign")->itemIndex();
    const int picture = w->control<QSpinBox>("ud_PicNo")->value();
    w->runDeviceJob([this, model, text, align, picture] {
        tarsel::RunShowQrCodeAt(m_window->link(), m_window->outlets(), model, text, align, picture);
    });
}

void SettingsController::actCodePageTestExecute(int tag)
{
    m_window->runDeviceJob([this, tag] { tarsel::RunCodePageTest(m_window->link(), m_window->outlets(), tag); });
}

// ---- Editing aids ----

void SettingsController::pickColor(const char* panelName)
{
    auto* panel = m_window->control<ColorPanel>(panelName);
    std::optional<QColor> chosen;
    if (colorDialogHook) {
        chosen = colorDialogHook(m_lastColor);
    } else {
        const QColor c = QColorDialog::getColor(m_lastColor, m_window);
        if (c.isValid())
            chosen = c;
    }
    if (!chosen || !chosen->isValid())
        return;
    m_lastColor = *chosen;
    panel->setColor(QColor(chosen->red(), chosen->green(), chosen->blue()));
}

void SettingsController::centerWelcome()
{
    auto* l1 = m_window->control<QLineEdit>("edt_line1");
    auto* l2 = m_window->control<QLineEdit>("edt_line2");
    l1->setText(toQString(tarsel::CenterText(toText(l1->text()), 20)));
    l2->setText(toQString(tarsel::CenterText(toText(l2->text()), 60)));
}

void SettingsController::centerMainText()
{
    for (const char* name : kMainTextEdits) {
        auto* e = m_window->control<QLineEdit>(name);
        e->setText(toQString(tarsel::CenterText(toText(e->text()), 20)));
    }
}

void SettingsController::centerTestText()
{
    auto* e = m_window->control<QLineEdit>("edt_Text");
    e->setText(toQString(tarsel::CenterText(toText(e->text()), 20)));
}

void SettingsController::updateMainTextLines()
{
    auto* w = m_window;
    if (w->control<QRadioButton>("rbtnTextLine2")->isChecked()) {
        w->control<QWidget>("edtMianText3")->setVisible(false);
        w->control<QWidget>("edtMianText4")->setVisible(false);
    } else if (w->control<QRadioButton>("rbtnTextLine4")->isChecked()) {
        w->control<QWidget>("edtMianText3")->setVisible(true);
        w->control<QWidget>("edtMianText4")->setVisible(true);
    }
}

void SettingsController::syncSelectors(void (*sync)(WindowValues&))
{
    auto* w = m_window;
    WindowValues v = readValues();
    sync(v);
    w->control<RadioGroup>("rg_Down_CodePage")->setItemIndex(v.rg_Down_CodePage);
    w->control<QComboBox>("cbb_CodePage")->setCurrentIndex(v.cbb_CodePage);
    w->control<QComboBox>("cbb_codepage_test")->setCurrentIndex(v.cbb_codepage_test);
    w->control<QComboBox>("cbb_codepage_maintext")->setCurrentIndex(v.cbb_codepage_maintext);
}

void SettingsController::edt_TextChange(const QString& text)
{
    auto* tabs = m_window->control<QTabWidget>("PageControl1");
    const tarsel::ServicePages pages = tarsel::ServicePagesFor(toText(text));
    if (pages.firmwareUpdates)
        tabs->setTabVisible(tabs->indexOf(m_window->control<QWidget>("tsFirmwareUpdates")), true);
    if (pages.downloadFile)
        tabs->setTabVisible(tabs->indexOf(m_window->control<QWidget>("tsDownloadFile")), true);
}
