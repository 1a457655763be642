// The window side of the picture slots: filling ("+") and emptying ("-") the
// fourteen slots, the PicList flags, the play ticks with their count, "Select All",
// showing a play picture on the display, "Show QrCode" and the picture "Download".
#pragma once

#include "pictures/image.h"
#include "pictures/slots.h"
#include "util/bytes.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

class TarselMain;

namespace tarsel::ui {
struct WindowForms;
}

class PicturesController : public QObject {
    Q_OBJECT

public:
    // Connects to the slot controls of the window.
    explicit PicturesController(TarselMain* window);

    // PicList: true for a slot holding a user picture, by queue position 77..90.
    bool picList(int position) const;
    // The user picture of a slot (empty in the placeholder state).
    const tarsel::Image& slotBitmap(int slot) const;
    // The play selection of the ten play ticks.
    std::uint16_t picReg() const { return m_picReg; }

    // Handlers, by slot number where they serve several controls.
    void Button22Click(int slot); // "+"
    void Button21Click(int slot); // "-"
    void cxImage76Click(int slot);
    void CheckBox76Click();
    void chkSelectALLClick();
    void btn_ShowQrCodeClick();
    void btn_DownloadPictrueClick();

    // What is sent for a slot's picture on a model: RGB565 at the slot's size on the
    // models that store by flash address, the whole picture as a JPEG (quality 90) on
    // the models that store named files. A picture of another size than the model
    // needs (filled while another model was connected) is scaled to it first, so the
    // display always gets a whole picture of its size. Empty for an empty picture.
    static tarsel::Bytes PictureBytes(const tarsel::Image& bitmap, int slot, int model);

    // Tests: replace the conversion window (gets the slot and a bitmap of the target
    // size; returns whether the user took a picture) and the QR file dialog (gets the
    // folder it would open in; returns the chosen path, empty = cancelled).
    std::function<bool(int slot, tarsel::Image& bitmap)> convertHook;
    std::function<QString(const QString& folder)> qrFileDialogHook;

signals:
    // A slot's picture was filled or emptied.
    void slotPictureChanged(int slot);

private:
    const tarsel::ui::WindowForms& forms() const;
    void setUserPicture(int slot, tarsel::Image bitmap);
    void updatePlaySelection();

    TarselMain* m_window;
    std::array<tarsel::Image, tarsel::kSlotCount> m_bitmaps;
    std::array<bool, tarsel::kSlotCount> m_picList{};
    std::uint16_t m_picReg = 0;
};
