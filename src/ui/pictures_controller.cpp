#include "ui/pictures_controller.h"

#include "link/commands.h"
#include "link/models.h"
#include "link/outlets.h"
#include "link/ports.h"
#include "pictures/convert.h"
#include "pictures/resample.h"
#include "pictures/slot_picture.h"
#include "settings/settings_ops.h"
#include "transfer/download_run.h"
#include "ui/imageconvert.h"
#include "ui/outcome_boxes.h"
#include "ui/preferences.h"
#include "ui/settings_controller.h"
#include "ui/tarselmain.h"
#include "ui/transfer_controller.h"
#include "ui/widgets.h"
#include "ui/window_forms.h"
#include "util/codepage.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

using tarsel::ui::FileKind;
using tarsel::ui::SlotControls;

namespace {

const char* const kQrOpenFilter =
    "All (*.png *.jpg *.jpeg *.bmp);;Portable Network Graphics (*.png);;JPEG Image File (*.jpg);;"
    "JPEG Image File (*.jpeg);;Bitmaps (*.bmp)";

int slotIndex(int slot) { return slot - tarsel::kFirstSlot; }

} // namespace

PicturesController::PicturesController(TarselMain* window) : QObject(window), m_window(window)
{
    setObjectName(QStringLiteral("PicturesController"));
    const tarsel::ui::WindowForms& f = forms();
    for (const SlotControls& c : f.pictureSlots()) {
        const int slot = c.slot;
        connect(c.minus, &QPushButton::clicked, this, [this, slot] { Button21Click(slot); });
        connect(c.plus, &QPushButton::clicked, this, [this, slot] { Button22Click(slot); });
    }
    for (const SlotControls& c : f.pictureSlots()) {
        if (c.slot < tarsel::kFirstPlaySlot || c.slot >= tarsel::kFirstPlaySlot + tarsel::kPlaySlotCount)
            continue;
        const int slot = c.slot;
        connect(c.image, &tarsel::ui::SlotImage::clicked, this, [this, slot] { cxImage76Click(slot); });
        // Every change of a play tick counts: by the user, by "Select All" or by a
        // settings document being applied.
        connect(c.tick, &QCheckBox::toggled, this, [this] { CheckBox76Click(); });
    }
    connect(f.pictures.chkSelectALL, &QCheckBox::clicked, this, [this] { chkSelectALLClick(); });
    connect(f.test.btn_ShowQrCode, &QPushButton::clicked, this, &PicturesController::btn_ShowQrCodeClick);
    connect(f.pictures.btn_DownloadPictrue, &QPushButton::clicked, this, &PicturesController::btn_DownloadPictrueClick);

    // A picture position chosen on the "Download File" page takes its slot's picture.
    // The run happens while the window is busy, so the slots do not change meanwhile.
    m_window->transferController().setPictureSource([this](int position) {
        const int slot = tarsel::QueuePositionSlot(position);
        if (!tarsel::IsSlot(slot) || !m_picList[static_cast<std::size_t>(slotIndex(slot))])
            return tarsel::Bytes();
        return PictureBytes(m_bitmaps[static_cast<std::size_t>(slotIndex(slot))], slot, m_window->modelIndex());
    });
}

const tarsel::ui::WindowForms& PicturesController::forms() const { return m_window->forms(); }

bool PicturesController::picList(int position) const
{
    const int slot = tarsel::QueuePositionSlot(position);
    return tarsel::IsSlot(slot) && m_picList[static_cast<std::size_t>(slotIndex(slot))];
}

const tarsel::Image& PicturesController::slotBitmap(int slot) const
{
    static const tarsel::Image none;
    return tarsel::IsSlot(slot) ? m_bitmaps[static_cast<std::size_t>(slotIndex(slot))] : none;
}

void PicturesController::Button22Click(int slot)
{
    const auto size = tarsel::SlotTargetSize(slot, m_window->modelIndex());
    if (!size)
        return; // no display model yet, or the guest slot on a model without it
    tarsel::Image bitmap(size->width, size->height);
    const bool taken = convertHook ? convertHook(slot, bitmap)
                                   : tarsel::ui::RunImageConvert(m_window, slot, bitmap, &m_window->preferences());
    if (!taken || bitmap.width != size->width || bitmap.height != size->height)
        return;
    setUserPicture(slot, std::move(bitmap));
}

void PicturesController::setUserPicture(int slot, tarsel::Image bitmap)
{
    const auto i = static_cast<std::size_t>(slotIndex(slot));
    const SlotControls c = forms().pictureSlot(slot);
    if (c.image)
        c.image->setPicture(tarsel::ui::ToQImage(bitmap));
    m_bitmaps[i] = std::move(bitmap);
    m_picList[i] = true;
    if (c.tick)
        c.tick->setChecked(true);
    emit slotPictureChanged(slot);
}

void PicturesController::Button21Click(int slot)
{
    if (!tarsel::IsSlot(slot))
        return;
    const auto i = static_cast<std::size_t>(slotIndex(slot));
    const SlotControls c = forms().pictureSlot(slot);
    c.image->clearPicture();
    c.tick->setChecked(false);
    m_picList[i] = false;
    m_bitmaps[i] = tarsel::Image();
    c.image->setPicture(TarselMain::placeholder(slot));
    emit slotPictureChanged(slot);
}

void PicturesController::cxImage76Click(int slot)
{
    const int number = tarsel::PlayPictureNumber(slot);
    if (number == 0 || m_window->isBusy())
        return;
    m_window->runDeviceJob([w = m_window, number] {
        tarsel::ui::ShowNotice(w->outlets(), tarsel::ui::FailureNotice(tarsel::ShowPicture(w->link(), static_cast<std::uint8_t>(number))));
    });
}

void PicturesController::CheckBox76Click() { updatePlaySelection(); }

void PicturesController::updatePlaySelection()
{
    std::array<bool, tarsel::kPlaySlotCount> ticks{};
    const auto boxes = forms().playTicks();
    static_assert(boxes.size() == ticks.size());
    for (std::size_t k = 0; k < ticks.size(); ++k)
        ticks[k] = boxes[k]->isChecked();
    const tarsel::PlaySelection selection = tarsel::PlaySelectionFromTicks(ticks);
    m_picReg = selection.picReg;
    forms().pictures.lbl_selected_nums->setText(QString::number(selection.count));
}

void PicturesController::chkSelectALLClick()
{
    const bool checked = forms().pictures.chkSelectALL->isChecked();
    for (const SlotControls& c : forms().pictureSlots())
        c.tick->setChecked(checked);
}

void PicturesController::btn_ShowQrCodeClick()
{
    auto* w = m_window;
    const int model = w->modelIndex();
    if (model < 0 || w->isBusy())
        return;
    const int alignIndex = forms().test.rg_QrCodeAlign->itemIndex();

    if (!tarsel::QrFromPictureFile(model)) {
        const std::u16string text = forms().test.edt_Text->text().toStdU16String();
        w->runDeviceJob([w, alignIndex, text] {
            tarsel::ui::ShowNotice(w->outlets(), tarsel::ui::FailureNotice(tarsel::RunShowQrCode(w->link(), text, alignIndex)));
        });
        return;
    }

    const QString folder = w->preferences().startFolder(FileKind::Pictures);
    const QString file = qrFileDialogHook
        ? qrFileDialogHook(folder)
        : QFileDialog::getOpenFileName(w, QString(), folder, QString::fromLatin1(kQrOpenFilter));
    if (file.isEmpty())
        return;
    w->preferences().rememberFile(FileKind::Pictures, file);
    w->runDeviceJob([w, alignIndex, path = file.toStdString()] {
        tarsel::ui::ShowNotice(w->outlets(), tarsel::ui::QrPictureNotice(
                          tarsel::RunShowQrPicture(w->link(), path, alignIndex, &tarsel::BitmapTo1bppFile)));
    });
}

tarsel::Bytes PicturesController::PictureBytes(const tarsel::Image& bitmap, int slot, int model)
{
    return tarsel::SlotPictureBytes(bitmap, slot, model);
}

void PicturesController::btn_DownloadPictrueClick()
{
    auto* w = m_window;
    if (w->isBusy())
        return;
    w->settingsController().gatherSettings();
    updatePlaySelection();

    // Ticked slots that hold a user picture; a snapshot of their pictures goes to
    // the worker so that the slots may change while the run goes on.
    std::vector<int> positions;
    auto pictures = std::make_shared<std::array<tarsel::Image, tarsel::kSlotCount>>();
    for (int slot : tarsel::kSlots) {
        QCheckBox* tick = forms().pictureSlot(slot).tick;
        const auto i = static_cast<std::size_t>(slotIndex(slot));
        if (tick && tick->isChecked() && m_picList[i]) {
            positions.push_back(tarsel::SlotQueuePosition(slot));
            (*pictures)[i] = m_bitmaps[i];
        }
    }
    if (positions.empty())
        return; // nothing to send: no port is opened, no message shown
    const int model = w->modelIndex();
    tarsel::PictureSource source = [pictures, model](int position) {
        const int slot = tarsel::QueuePositionSlot(position);
        if (!tarsel::IsSlot(slot))
            return tarsel::Bytes();
        return PictureBytes((*pictures)[static_cast<std::size_t>(slotIndex(slot))], slot, model);
    };
    // The transfer side runs it, with its Cancel button.
    w->transferController().startPictureDownload(positions, std::move(source));
}
