#include "ui/settings_controller.h"

#include "link/models.h"
#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "ui/outcome_boxes.h"
#include "ui/preferences.h"
#include "ui/tarselmain.h"
#include "ui/widgets.h"
#include "ui/window_forms.h"
#include "util/codepage.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
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
using tarsel::ui::FileKind;
using tarsel::ui::RadioGroup;

namespace {

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

const tarsel::ui::WindowForms& SettingsController::forms() const { return m_window->forms(); }

// ---- Widgets <-> values ----

WindowValues SettingsController::readValues() const
{
    WindowValues v;
    v.cbb_down_BaudRate = forms().basic.cbb_down_BaudRate->currentIndex();
    v.chk_Scroll1 = forms().basic.chk_Scroll1->isChecked();
    v.chk_Scroll2 = forms().basic.chk_Scroll2->isChecked();
    v.rg_Down_InterChar = forms().codepage.rg_Down_InterChar->itemIndex();
    v.rg_Down_CodePage = forms().codepage.rg_Down_CodePage->itemIndex();
    v.cbb_CodePage = forms().basic.cbb_CodePage->currentIndex();
    v.cbb_codepage_test = forms().test.cbb_codepage_test->currentIndex();
    v.cbb_codepage_maintext = forms().display.cbb_codepage_maintext->currentIndex();
    v.cbb_down_CommandMode = forms().basic.cbb_down_CommandMode->currentIndex();
    v.edt_line1 = toText(forms().basic.edt_line1->text());
    v.edt_line2 = toText(forms().basic.edt_line2->text());
    v.pnlColorTextText = toColor(forms().display.pnlColorTextText->color());
    v.pnlColorBgText = toColor(forms().display.pnlColorBgText->color());
    v.pnlColorBgFooter = toColor(forms().display.pnlColorBgFooter->color());
    v.pnlColorTextFooter = toColor(forms().display.pnlColorTextFooter->color());
    v.pnlColorBgHeader = toColor(forms().display.pnlColorBgHeader->color());
    v.pnlColorTextHeader = toColor(forms().display.pnlColorTextHeader->color());
    v.rg_brightness = forms().display.rg_brightness->itemIndex();
    const auto ticks = forms().playTicks();
    for (std::size_t i = 0; i < ticks.size(); ++i)
        v.CheckBox[i] = ticks[i]->isChecked();
    v.lbl_selected_nums = toText(forms().pictures.lbl_selected_nums->text());
    v.rbtnTextLine2 = forms().display.rbtnTextLine2->isChecked();
    v.rbtnTextLine4 = forms().display.rbtnTextLine4->isChecked();
    const auto lines = forms().mainTextEdits();
    for (std::size_t i = 0; i < lines.size(); ++i)
        v.edtMianText[i] = toText(lines[i]->text());
    v.edtMianText3Visible = !forms().display.edtMianText3->isHidden();
    v.edtMianText4Visible = !forms().display.edtMianText4->isHidden();
    v.rbtnHeaderText = forms().display.rbtnHeaderText->isChecked();
    v.rbtnHeaderPicture = forms().display.rbtnHeaderPicture->isChecked();
    v.ud_StandbyTime = forms().pictures.ud_StandbyTime->value();
    v.ud_PlayInterval = forms().pictures.ud_PlayInterval->value();
    return v;
}

void SettingsController::writeValues(const WindowValues& v)
{
    forms().basic.cbb_down_BaudRate->setCurrentIndex(v.cbb_down_BaudRate);
    forms().basic.chk_Scroll1->setChecked(v.chk_Scroll1);
    forms().basic.chk_Scroll2->setChecked(v.chk_Scroll2);
    forms().codepage.rg_Down_InterChar->setItemIndex(v.rg_Down_InterChar);
    forms().codepage.rg_Down_CodePage->setItemIndex(v.rg_Down_CodePage);
    forms().basic.cbb_CodePage->setCurrentIndex(v.cbb_CodePage);
    forms().test.cbb_codepage_test->setCurrentIndex(v.cbb_codepage_test);
    forms().display.cbb_codepage_maintext->setCurrentIndex(v.cbb_codepage_maintext);
    forms().basic.cbb_down_CommandMode->setCurrentIndex(v.cbb_down_CommandMode);
    forms().basic.edt_line1->setText(toQString(v.edt_line1));
    forms().basic.edt_line2->setText(toQString(v.edt_line2));
    forms().display.pnlColorTextText->setColor(toQColor(v.pnlColorTextText));
    forms().display.pnlColorBgText->setColor(toQColor(v.pnlColorBgText));
    forms().display.pnlColorBgFooter->setColor(toQColor(v.pnlColorBgFooter));
    forms().display.pnlColorTextFooter->setColor(toQColor(v.pnlColorTextFooter));
    forms().display.pnlColorBgHeader->setColor(toQColor(v.pnlColorBgHeader));
    forms().display.pnlColorTextHeader->setColor(toQColor(v.pnlColorTextHeader));
    forms().display.rg_brightness->setItemIndex(v.rg_brightness);
    const auto ticks = forms().playTicks();
    for (std::size_t i = 0; i < ticks.size(); ++i)
        ticks[i]->setChecked(v.CheckBox[i]);
    forms().pictures.lbl_selected_nums->setText(toQString(v.lbl_selected_nums));
    setRadioPair(forms().display.rbtnTextLine2, v.rbtnTextLine2,
                 forms().display.rbtnTextLine4, v.rbtnTextLine4);
    const auto lines = forms().mainTextEdits();
    for (std::size_t i = 0; i < lines.size(); ++i)
        lines[i]->setText(toQString(v.edtMianText[i]));
    forms().display.edtMianText3->setVisible(v.edtMianText3Visible);
    forms().display.edtMianText4->setVisible(v.edtMianText4Visible);
    setRadioPair(forms().display.rbtnHeaderText, v.rbtnHeaderText,
                 forms().display.rbtnHeaderPicture, v.rbtnHeaderPicture);
    forms().pictures.ud_StandbyTime->setValue(v.ud_StandbyTime);
    forms().pictures.ud_PlayInterval->setValue(v.ud_PlayInterval);
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
    const tarsel::ui::WindowForms& f = forms();
    auto button = [this](QPushButton* b, void (SettingsController::*handler)()) {
        connect(b, &QPushButton::clicked, this, handler);
    };
    button(f.frame.btn_Default, &SettingsController::actDefaultSettingExecute);
    button(f.frame.btn_savesettings, &SettingsController::btn_savesettingsClick);
    button(f.frame.btn_loadsettings, &SettingsController::btn_loadsettingsClick);
    button(f.frame.btn_GetSetting, &SettingsController::btn_GetSettingClick);
    button(f.frame.btn_AllDownload, &SettingsController::btn_AllDownloadClick);
    button(f.frame.btn_ResetDisplay, &SettingsController::btn_ResetDisplayClick);
    button(f.frame.btn_RestartDisplay, &SettingsController::btn_RestartDisplayClick);
    button(f.download.btn_Format, &SettingsController::btn_FormatClick);
    button(f.basic.btn_DownloadSetting, &SettingsController::btn_DownloadSettingClick);
    button(f.display.btn_HeaderSet, &SettingsController::btn_HeaderSetClick);
    button(f.display.btn_TextSet, &SettingsController::btn_TextSetClick);
    button(f.display.btn_FooterSet, &SettingsController::btn_FooterSetClick);
    button(f.display.btn_brightness_set, &SettingsController::btn_brightness_setClick);
    button(f.basic.btn_baudrateSet, &SettingsController::btn_baudrateSetClick);
    button(f.basic.btn_commandSet, &SettingsController::btn_commandSetClick);
    button(f.pictures.btn_SetToPlay, &SettingsController::btn_SetToPlayClick);
    button(f.codepage.btn_DownloadCodePage, &SettingsController::btn_DownloadCodePageClick);
    button(f.test.btn_TextSend, &SettingsController::btn_TextSendClick);
    button(f.test.btn_ClearDisplay, &SettingsController::btn_ClearDisplayClick);
    button(f.test.btn_ShowQrCodeAt, &SettingsController::btn_ShowQrCodeAtClick);
    button(f.basic.btn_welText_center, &SettingsController::centerWelcome);
    button(f.display.btn_mainText_center, &SettingsController::centerMainText);
    button(f.test.btn_textText_center, &SettingsController::centerTestText);

    // Code page test buttons (actButtonCreatExecute): tag per button, one handler.
    const std::pair<QPushButton*, int> testButtons[] = {
        {f.test.btn_203F, 101}, {f.test.btn_405F, 102}, {f.test.btn_607F, 103},
        {f.test.btn_809F, 201}, {f.test.btn_A0BF, 202}, {f.test.btn_C0DF, 203}, {f.test.btn_E0FF, 204},
    };
    for (const auto& [btn, tag] : testButtons) {
        btn->setProperty("tag", tag);
        connect(btn, &QPushButton::clicked, this, [this, tag = tag] { actCodePageTestExecute(tag); });
    }

    // Colour panels.
    for (ColorPanel* panel : {f.display.pnlColorTextHeader, f.display.pnlColorBgHeader, f.display.pnlColorTextText,
                              f.display.pnlColorBgText, f.display.pnlColorTextFooter, f.display.pnlColorBgFooter})
        connect(panel, &ColorPanel::clicked, this, [this, panel] { pickColor(panel); });

    // Character counts of the welcome message.
    connect(f.basic.edt_line1, &QLineEdit::textChanged, this,
            [count = f.basic.lbl_mess1_count](const QString& t) { count->setText(QString::number(t.size())); });
    connect(f.basic.edt_line2, &QLineEdit::textChanged, this,
            [count = f.basic.lbl_mess2_count](const QString& t) { count->setText(QString::number(t.size())); });

    // Line count switch (both radio buttons).
    for (QRadioButton* lines : {f.display.rbtnTextLine2, f.display.rbtnTextLine4})
        connect(lines, &QRadioButton::clicked, this, &SettingsController::updateMainTextLines);

    // Code page selectors kept in step (user choices only).
    connect(f.codepage.rg_Down_CodePage, &RadioGroup::itemClicked, this,
            [this] { syncSelectors(&tarsel::SyncFromCodePageGroup); });
    connect(f.codepage.rg_Down_InterChar, &RadioGroup::itemClicked, this,
            [this] { syncSelectors(&tarsel::SyncFromInterChar); });
    connect(f.basic.cbb_CodePage, &QComboBox::activated, this,
            [this] { syncSelectors(&tarsel::SyncFromCodePageCombo); });
    connect(f.test.cbb_codepage_test, &QComboBox::activated, this,
            [this] { syncSelectors(&tarsel::SyncFromTestCodePage); });

    // Service code.
    connect(f.test.edt_Text, &QLineEdit::textChanged, this, &SettingsController::edt_TextChange);
}

void SettingsController::showNotice(const std::string& text, int flags)
{
    if (!text.empty())
        m_window->showMessageBox(QString::fromStdString(text), flags);
}

void SettingsController::runWithSettings(std::function<void(const TDisplayInfo&)> job, const QString& cancelledText)
{
    gatherSettings();
    TDisplayInfo info = m_info; // the worker gets its own copy
    m_window->runDeviceJob([job = std::move(job), info] { job(info); }, {}, cancelledText);
}

// ---- Settings file ----

void SettingsController::btn_savesettingsClick()
{
    gatherSettings();
    const QString folder = m_window->preferences().startFolder(FileKind::SettingsFiles);
    const QString chosen = fileDialogHook
        ? fileDialogHook(true, folder, kProposedName)
        : QFileDialog::getSaveFileName(m_window, QString(), folder + QLatin1Char('/') + kProposedName, kSettingsFilter);
    if (chosen.isEmpty())
        return;
    m_window->preferences().rememberFile(FileKind::SettingsFiles, chosen);
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
    const QString folder = m_window->preferences().startFolder(FileKind::SettingsFiles);
    const QString chosen = fileDialogHook ? fileDialogHook(false, folder, QString())
                                          : QFileDialog::getOpenFileName(m_window, QString(), folder, kSettingsFilter);
    if (chosen.isEmpty())
        return;
    m_window->preferences().rememberFile(FileKind::SettingsFiles, chosen);
    Bytes content;
    std::string error;
    if (!tarsel::LoadSettingsFile(localPath(chosen), content, error)) {
        showNotice(error, tarsel::kBoxWarning);
        return;
    }
    WindowValues values = readValues();
    const tarsel::ApplyResult result = tarsel::ApplySettingsFile(content, m_info, values);
    if (result.applied)
        writeValues(values);
    const tarsel::Notice notice = tarsel::ApplyNotice(result);
    showNotice(notice.text, notice.flags);
}

// ---- Settings transfer ----

void SettingsController::btn_GetSettingClick()
{
    auto reply = std::make_shared<Bytes>();
    m_window->runDeviceJob([this, reply] { tarsel::ReadDisplaySettings(m_window->link(), *reply); },
                           [this, reply] {
                               if (m_window->jobWasCancelled())
                                   return; // the window stays as it was
                               WindowValues values = readValues();
                               const tarsel::ApplyResult result = tarsel::ApplyDisplaySettings(*reply, m_info, values);
                               if (result.applied)
                                   writeValues(values);
                               const tarsel::Notice notice = tarsel::ApplyNotice(result);
                               showNotice(notice.text, notice.flags);
                           },
                           QStringLiteral("Get Setting was cancelled: the window was left as it was."));
}

void SettingsController::btn_AllDownloadClick()
{
    if (!tarsel::ConfirmAllDownload(m_window->outlets()))
        return;
    runWithSettings(
        [this](const TDisplayInfo& info) {
            box(tarsel::ui::AllDownloadNotice(tarsel::RunAllDownload(m_window->link(), m_window->outlets(), info)));
        },
        QStringLiteral("All Download was cancelled: the display may hold only part of the settings."));
}

void SettingsController::btn_ResetDisplayClick()
{
    m_window->runDeviceJob(
        [this] { box(tarsel::ui::FailureNotice(tarsel::RunResetDisplay(m_window->link(), m_window->outlets()))); });
}

void SettingsController::btn_RestartDisplayClick()
{
    m_window->runDeviceJob([this] { box(tarsel::ui::FailureNotice(tarsel::RunRestartDisplay(m_window->link()))); });
}

void SettingsController::btn_FormatClick()
{
    // Nothing is shown afterwards, whatever the outcome.
    m_window->runDeviceJob([this] { tarsel::RunFormat(m_window->link(), m_window->outlets()); });
}

void SettingsController::box(const tarsel::Notice& notice) { tarsel::ui::ShowNotice(m_window->outlets(), notice); }

// ---- "Setting" buttons ----

void SettingsController::btn_DownloadSettingClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        box(tarsel::ui::SettingNotice(tarsel::RunWelcomeSetting(m_window->link(), i)));
    });
}

void SettingsController::btn_HeaderSetClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        box(tarsel::ui::SettingNotice(tarsel::RunHeaderSetting(m_window->link(), i)));
    });
}

void SettingsController::btn_TextSetClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        box(tarsel::ui::SettingNotice(tarsel::RunTextSetting(m_window->link(), i)));
    });
}

void SettingsController::btn_FooterSetClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        box(tarsel::ui::SettingNotice(tarsel::RunFooterSetting(m_window->link(), i)));
    });
}

void SettingsController::btn_brightness_setClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        box(tarsel::ui::FailureNotice(tarsel::RunBrightnessSetting(m_window->link(), i)));
    });
}

void SettingsController::btn_baudrateSetClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        // The connection's baud-rate box follows before "Done!" is shown.
        int row = -1;
        const tarsel::Status status = tarsel::RunBaudRateSetting(m_window->link(), i, row, [this](int changed) {
            QMetaObject::invokeMethod(
                m_window, [box = forms().frame.cbb_BaudRate, changed] { box->setCurrentIndex(changed); },
                Qt::QueuedConnection);
        });
        box(tarsel::ui::DoneOrFailNotice(status));
    });
}

void SettingsController::btn_commandSetClick()
{
    const int row = forms().basic.cbb_down_CommandMode->currentIndex();
    m_window->runDeviceJob([this, row] {
        box(tarsel::ui::DoneOrFailNotice(tarsel::RunCommandSetSetting(m_window->link(), row)));
    });
}

void SettingsController::btn_SetToPlayClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        box(tarsel::ui::SettingNotice(tarsel::RunPlaySetting(m_window->link(), i)));
    });
}

void SettingsController::btn_DownloadCodePageClick()
{
    runWithSettings([this](const TDisplayInfo& i) {
        box(tarsel::ui::SettingNotice(tarsel::RunCodePageSetting(m_window->link(), i)));
    });
}

// ---- Display test ----

void SettingsController::btn_TextSendClick()
{
    auto* w = m_window;
    const Text text = toText(forms().test.edt_Text->text());
    const int codePage = forms().test.cbb_codepage_test->currentIndex();
    const bool positionAt = forms().test.chk_PositionAt->isChecked();
    const int column = forms().test.ud_Column->value();
    const int row = forms().test.ud_Row->value();
    w->runDeviceJob([this, text, codePage, positionAt, column, row] {
        box(tarsel::ui::FailureNotice(
            tarsel::RunDisplayText(m_window->link(), text, codePage, positionAt, column, row)));
    });
}

void SettingsController::btn_ClearDisplayClick()
{
    m_window->runDeviceJob([this] { box(tarsel::ui::FailureNotice(tarsel::RunClearDisplay(m_window->link()))); });
}

void SettingsController::btn_ShowQrCodeAtClick()
{
    auto* w = m_window;
    const int model = w->modelIndex();
    if (!tarsel::HasPictureNumberControls(model))
        return;
    const Text text = toText(forms().test.edt_Text->text());
    const int align = forms().test.rg_QrCodeAlign->itemIndex();
    const int picture = forms().test.ud_PicNo->value();
    w->runDeviceJob([this, model, text, align, picture] {
        box(tarsel::ui::FailureNotice(tarsel::RunShowQrCodeAt(m_window->link(), model, text, align, picture)));
    });
}

void SettingsController::actCodePageTestExecute(int tag)
{
    m_window->runDeviceJob([this, tag] { box(tarsel::ui::FailureNotice(tarsel::RunCodePageTest(m_window->link(), tag))); });
}

// ---- Editing aids ----

void SettingsController::pickColor(ColorPanel* panel)
{
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
    auto* l1 = forms().basic.edt_line1;
    auto* l2 = forms().basic.edt_line2;
    l1->setText(toQString(tarsel::CenterText(toText(l1->text()), 20)));
    l2->setText(toQString(tarsel::CenterText(toText(l2->text()), 60)));
}

void SettingsController::centerMainText()
{
    for (QLineEdit* e : forms().mainTextEdits())
        e->setText(toQString(tarsel::CenterText(toText(e->text()), 20)));
}

void SettingsController::centerTestText()
{
    auto* e = forms().test.edt_Text;
    e->setText(toQString(tarsel::CenterText(toText(e->text()), 20)));
}

void SettingsController::updateMainTextLines()
{
    const Ui::DisplayPage& d = forms().display;
    if (d.rbtnTextLine2->isChecked()) {
        d.edtMianText3->setVisible(false);
        d.edtMianText4->setVisible(false);
    } else if (d.rbtnTextLine4->isChecked()) {
        d.edtMianText3->setVisible(true);
        d.edtMianText4->setVisible(true);
    }
}

void SettingsController::syncSelectors(void (*sync)(WindowValues&))
{
    WindowValues v = readValues();
    sync(v);
    forms().codepage.rg_Down_CodePage->setItemIndex(v.rg_Down_CodePage);
    forms().basic.cbb_CodePage->setCurrentIndex(v.cbb_CodePage);
    forms().test.cbb_codepage_test->setCurrentIndex(v.cbb_codepage_test);
    forms().display.cbb_codepage_maintext->setCurrentIndex(v.cbb_codepage_maintext);
}

void SettingsController::edt_TextChange(const QString& text)
{
    auto* tabs = forms().frame.PageControl1;
    const tarsel::ServicePages pages = tarsel::ServicePagesFor(toText(text));
    if (pages.firmwareUpdates)
        tabs->setTabVisible(tabs->indexOf(forms().frame.tsFirmwareUpdates), true);
    if (pages.downloadFile)
        tabs->setTabVisible(tabs->indexOf(forms().frame.tsDownloadFile), true);
}
