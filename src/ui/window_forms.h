// The main window's forms, typed: the frame (forms/mainframe.ui) and the seven tab
// pages (forms/*page.ui), compiled by uic, plus what Designer cannot hold: the
// status bar's panels and the name of the picture-number spin box's text field.
// Controllers and tests reach every control through these members, never by name.
#pragma once

#include "ui_basicpage.h"
#include "ui_codepagepage.h"
#include "ui_displaypage.h"
#include "ui_downloadpage.h"
#include "ui_firmwarepage.h"
#include "ui_mainframe.h"
#include "ui_picturepage.h"
#include "ui_testpage.h"

#include <array>
#include <vector>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QWidget;

namespace tarsel::ui {

class ElidedLabel;
class SlotImage;

// The status bar's four panels: 0 holds the run's progress bar, 1..3 are texts;
// then the transfer's speed and time left.
struct StatusPanels {
    QFrame* StatusBar1Panel0 = nullptr;
    QProgressBar* cxProgressBar1 = nullptr;
    QLabel* StatusBar1Panel1 = nullptr;
    QLabel* StatusBar1Panel2 = nullptr;
    QLabel* StatusBar1Panel3 = nullptr;
    // "11.5 kB/s  0:07 | 2:31": speed, the item's and the run's time left.
    QLabel* StatusBar1Rate = nullptr;
    // Permanent, on the right: which display, speed and port the window talks to.
    ElidedLabel* lbl_Connection = nullptr;
    // In panel 0 beside the progress bar, shown while a device job runs: cancels it.
    QPushButton* btn_CancelRun = nullptr;
};

// The controls of one picture slot.
struct SlotControls {
    int slot = 0;
    QWidget* cell = nullptr; // pnlSlot<n>, holding the four below
    SlotImage* image = nullptr; // cxImage<n>
    QCheckBox* tick = nullptr;  // CheckBox<n>
    QPushButton* minus = nullptr;
    QPushButton* plus = nullptr;
};

struct WindowForms {
    Ui::MainFrame frame;
    Ui::BasicPage basic;
    Ui::DisplayPage display;
    Ui::CodepagePage codepage;
    Ui::PicturePage pictures;
    Ui::TestPage test;
    Ui::DownloadPage download;
    Ui::FirmwarePage firmware;
    StatusPanels status;
    QLineEdit* edt_PicNo = nullptr; // the text field of ud_PicNo

    // Builds the frame on `window`, fills its tab pages from their forms and adds
    // the status bar's panels.
    void setupUi(QMainWindow* window);

    // The fourteen slots in the page's order (73, 74, 75, 86, then 76..85).
    std::array<SlotControls, 14> pictureSlots() const;
    // One slot by its number (73..86); all null for another number.
    SlotControls pictureSlot(int slot) const;
    // The play slots' ticks, CheckBox76 .. CheckBox85.
    std::array<QCheckBox*, 10> playTicks() const;
    // The main text edits, edtMianText1 .. edtMianText4.
    std::array<QLineEdit*, 4> mainTextEdits() const;
    // The device-controls group, in the order it is switched: PageControl1,
    // grp_Settings and the bottom buttons except Exit.
    std::vector<QWidget*> deviceGroup() const;

private:
    void buildStatusBar();
};

} // namespace tarsel::ui
