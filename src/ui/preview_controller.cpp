#include "ui/preview_controller.h"

#include "link/models.h"
#include "pictures/slots.h"
#include "settings/window_values.h"
#include "ui/pictures_controller.h"
#include "ui/settings_controller.h"
#include "ui/tarselmain.h"
#include "ui/widgets.h"
#include "ui/window_forms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kPlayTickMs = 100;

QImage toQImage(const tarsel::Image& image)
{
    // The picture's rows are blue, green, red: Qt's BGR888.
    return QImage(image.pixels.data(), image.width, image.height, static_cast<qsizetype>(image.stride()),
                  QImage::Format_BGR888)
        .copy();
}

} // namespace

PreviewController::PreviewController(TarselMain* window) : QObject(window), m_window(window)
{
    setObjectName(QStringLiteral("PreviewController"));
    m_pending = new QTimer(this);
    m_pending->setSingleShot(true);
    m_pending->setInterval(0);
    connect(m_pending, &QTimer::timeout, this, &PreviewController::render);
    m_play = new QTimer(this);
    m_play->setInterval(kPlayTickMs);
    connect(m_play, &QTimer::timeout, this, &PreviewController::tick);
    connectEdits();
    schedule();
}

PreviewController::~PreviewController() = default;

const tarsel::ui::WindowForms& PreviewController::forms() const { return m_window->forms(); }

tarsel::TDisplayInfo PreviewController::previewRecord() const
{
    SettingsController& settings = m_window->settingsController();
    tarsel::TDisplayInfo info = settings.displayInfo();
    tarsel::WindowValues values = settings.readValues();
    tarsel::GatherSettings(values, info); // on copies: the window keeps what it shows
    return info;
}

void PreviewController::schedule()
{
    if (!m_pending->isActive())
        m_pending->start();
}

void PreviewController::setAtSeconds(double seconds)
{
    m_seconds = std::max(0.0, seconds);
    QSlider* slider = forms().display.sld_previewTime;
    const QSignalBlocker block(slider);
    slider->setValue(static_cast<int>(std::floor(m_seconds)));
    forms().display.lbl_previewSeconds->setText(QStringLiteral("%1 s").arg(static_cast<int>(std::floor(m_seconds))));
    schedule();
}

void PreviewController::tick()
{
    double next = m_seconds + kPlayTickMs / 1000.0;
    if (next > forms().display.sld_previewTime->maximum())
        next = 0;
    setAtSeconds(next);
}

void PreviewController::slotChanged(int slot)
{
    const PicturesController& pictures = m_window->picturesController();
    const tarsel::Image& bitmap = pictures.slotBitmap(slot);
    if (pictures.picList(tarsel::SlotQueuePosition(slot)) && !bitmap.empty())
        m_slots[slot] = std::make_shared<const tarsel::Image>(bitmap);
    else
        m_slots.erase(slot);
    schedule();
}

void PreviewController::render()
{
    tarsel::preview::Input input;
    input.info = previewRecord();
    const int model = m_window->modelIndex();
    input.modelIndex = model >= 0 ? model : 6;
    input.slotPictures = m_slots;
    input.atSeconds = m_seconds;
    input.startup = forms().display.chk_previewStartup->isChecked();
    tarsel::preview::RenderNotes notes;
    m_screen = toQImage(tarsel::preview::RenderScreen(input, &notes));

    QLabel* label = forms().display.lbl_preview;
    label->setPixmap(QPixmap::fromImage(
        m_screen.scaled(label->minimumSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    QString warning;
    if (!notes.fontError.empty())
        warning = QString::fromStdString(notes.fontError);
    else if (notes.missingGlyphs > 0)
        warning = tr("%n character(s) have no glyph in the fonts installed here.", nullptr, notes.missingGlyphs);
    forms().display.lbl_previewWarning->setText(warning);
    if (m_larger && m_largerLabel)
        m_largerLabel->setPixmap(QPixmap::fromImage(m_screen));
    emit rendered();
}

QDialog* PreviewController::largerView()
{
    if (!m_larger) {
        m_larger = new QDialog(m_window);
        m_larger->setObjectName(QStringLiteral("dlgPreview"));
        m_larger->setWindowTitle(forms().display.grpPreview->title());
        auto* layout = new QVBoxLayout(m_larger);
        m_largerLabel = new QLabel(m_larger);
        m_largerLabel->setObjectName(QStringLiteral("lbl_previewLarge"));
        m_largerLabel->setAccessibleName(forms().display.lbl_preview->accessibleName());
        layout->addWidget(m_largerLabel);
        m_largerLabel->setPixmap(QPixmap::fromImage(m_screen));
    }
    return m_larger;
}

void PreviewController::connectEdits()
{
    const tarsel::ui::WindowForms& f = forms();
    auto onChange = [this] { schedule(); };
    for (QLineEdit* edit : {f.basic.edt_line1, f.basic.edt_line2})
        connect(edit, &QLineEdit::textChanged, this, onChange);
    for (QLineEdit* edit : f.mainTextEdits())
        connect(edit, &QLineEdit::textChanged, this, onChange);
    for (tarsel::ui::ColorPanel* panel : {f.display.pnlColorTextHeader, f.display.pnlColorBgHeader,
                                          f.display.pnlColorTextText, f.display.pnlColorBgText,
                                          f.display.pnlColorTextFooter, f.display.pnlColorBgFooter})
        connect(panel, &tarsel::ui::ColorPanel::colorChanged, this, onChange);
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             f.display.rbtnHeaderText, f.display.rbtnHeaderPicture, f.display.rbtnTextLine2, f.display.rbtnTextLine4,
             f.basic.chk_Scroll1, f.basic.chk_Scroll2, f.display.chk_previewStartup})
        connect(button, &QAbstractButton::toggled, this, onChange);
    for (QCheckBox* tick : f.playTicks())
        connect(tick, &QCheckBox::toggled, this, onChange);
    for (QComboBox* box : {f.basic.cbb_CodePage, f.display.cbb_codepage_maintext, f.test.cbb_codepage_test})
        connect(box, &QComboBox::currentIndexChanged, this, onChange);
    connect(f.codepage.rg_Down_CodePage, &tarsel::ui::RadioGroup::itemIndexChanged, this, onChange);
    connect(f.codepage.rg_Down_InterChar, &tarsel::ui::RadioGroup::itemIndexChanged, this, onChange);
    for (QSpinBox* spin : {f.pictures.ud_StandbyTime, f.pictures.ud_PlayInterval})
        connect(spin, &QSpinBox::valueChanged, this, onChange);
    connect(m_window, &TarselMain::modelIndexChanged, this, onChange);
    connect(&m_window->picturesController(), &PicturesController::slotPictureChanged, this,
            &PreviewController::slotChanged);

    connect(f.display.sld_previewTime, &QSlider::valueChanged, this, [this](int value) { setAtSeconds(value); });
    connect(f.display.btn_previewPlay, &QPushButton::toggled, this, [this](bool playing) {
        if (playing)
            m_play->start();
        else
            m_play->stop();
    });
    connect(f.display.btn_previewLarger, &QPushButton::clicked, this, [this] {
        QDialog* view = largerView();
        view->show();
        view->raise();
    });
}
