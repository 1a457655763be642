#include "ui/window_forms.h"

#include "ui/widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QProxyStyle>
#include <QStatusBar>
#include <QTabBar>

namespace tarsel::ui {
namespace {

// The window is 856 pixels wide and the status bar holds, in a run, the four panels,
// the speed panel and the Cancel button: the speed panel's room comes out of the
// progress bar's panel, which shows the same progress at 220 pixels.
constexpr int kProgressPanelWidth = 220;
constexpr int kRatePanelWidth = 150;

// Tabs with less space around their captions, so that all seven fit in one row.
class CompactTabStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_TabBarTabHSpace)
            return 10;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

} // namespace

void WindowForms::setupUi(QMainWindow* window)
{
    frame.setupUi(window);
    basic.setupUi(frame.tsBasicSet);
    display.setupUi(frame.tsDisplaySet);
    codepage.setupUi(frame.tsCodepageSet);
    pictures.setupUi(frame.tsPictureManagement);
    test.setupUi(frame.tsDisplayTest);
    download.setupUi(frame.tsDownloadFile);
    firmware.setupUi(frame.tsFirmwareUpdates);

    auto* tabStyle = new CompactTabStyle;
    tabStyle->setParent(frame.PageControl1);
    frame.PageControl1->tabBar()->setStyle(tabStyle);

    // The hints beside the code page lists are drawn in the placeholder colour.
    for (QLabel* hint : {basic.lbl_codepage_hint_welmsg, display.lbl_codepage_hint_maintext, test.lbl_codepage_hint_test})
        hint->setForegroundRole(QPalette::PlaceholderText);

    // The picture-number spin box's text field is the picture-number edit.
    edt_PicNo = test.ud_PicNo->textField();
    edt_PicNo->setObjectName(QStringLiteral("edt_PicNo"));
    edt_PicNo->setAccessibleName(QStringLiteral("Picture No"));

    buildStatusBar();
}

void WindowForms::buildStatusBar()
{
    QStatusBar* bar = frame.StatusBar1;

    // Panel 0 holds the run's progress bar, 2 pixels narrower than the panel, and
    // beside it, while a job runs, the Cancel button.
    auto* panel0 = new QFrame(bar);
    panel0->setObjectName(QStringLiteral("StatusBar1Panel0"));
    panel0->setFrameShape(QFrame::StyledPanel);
    panel0->setFrameShadow(QFrame::Sunken);
    panel0->setFixedWidth(kProgressPanelWidth);
    auto* p0 = new QHBoxLayout(panel0);
    p0->setContentsMargins(0, 1, 2, 1);
    auto* bar1 = new QProgressBar(panel0);
    bar1->setObjectName(QStringLiteral("cxProgressBar1"));
    bar1->setAccessibleName(QStringLiteral("Progress"));
    bar1->setMaximumHeight(18);
    p0->addWidget(bar1);
    auto* cancel = new QPushButton(panel0);
    cancel->setObjectName(QStringLiteral("btn_CancelRun"));
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    cancel->setToolTip(QStringLiteral("Stop the running operation"));
    cancel->setMaximumHeight(20);
    cancel->hide();
    p0->addWidget(cancel);
    bar->addWidget(panel0);
    status.StatusBar1Panel0 = panel0;
    status.cxProgressBar1 = bar1;
    status.btn_CancelRun = cancel;

    const int widths[] = {200, 100, 50};
    const char* const descriptions[] = {"Current step", "Items", "Elapsed time"};
    QLabel** panels[] = {&status.StatusBar1Panel1, &status.StatusBar1Panel2, &status.StatusBar1Panel3};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(bar);
        l->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        l->setFixedWidth(widths[i]);
        l->setFrameShape(QFrame::StyledPanel);
        l->setFrameShadow(QFrame::Sunken);
        l->setAccessibleName(QString::fromLatin1(descriptions[i]));
        bar->addWidget(l);
        *panels[i] = l;
    }

    // The transfer's speed and time left, while a download runs.
    auto* rate = new QLabel(bar);
    rate->setObjectName(QStringLiteral("StatusBar1Rate"));
    rate->setFixedWidth(kRatePanelWidth);
    rate->setFrameShape(QFrame::StyledPanel);
    rate->setFrameShadow(QFrame::Sunken);
    rate->setAccessibleName(QStringLiteral("Transfer speed and time left"));
    rate->setToolTip(QStringLiteral("Transfer speed, time left for the item | for the whole download"));
    bar->addWidget(rate);
    rate->hide(); // until a transfer has a speed to show
    status.StatusBar1Rate = rate;

    // The connection: short text here, every detail in its tooltip and accessible
    // description (the panels above leave little room).
    auto* connection = new ElidedLabel(bar);
    connection->setObjectName(QStringLiteral("lbl_Connection"));
    connection->setAccessibleName(QStringLiteral("Connection"));
    connection->setMinimumWidth(20);
    bar->addPermanentWidget(connection, 1);
    status.lbl_Connection = connection;
}

std::array<SlotControls, 14> WindowForms::pictureSlots() const
{
    const Ui::PicturePage& p = pictures;
    return {{
        {73, p.pnlSlot73, p.cxImage73, p.CheckBox73, p.Button21, p.Button22},
        {74, p.pnlSlot74, p.cxImage74, p.CheckBox74, p.Button23, p.Button24},
        {75, p.pnlSlot75, p.cxImage75, p.CheckBox75, p.Button25, p.Button26},
        {86, p.pnlSlot86, p.cxImage86, p.CheckBox86, p.Button27, p.Button28},
        {76, p.pnlSlot76, p.cxImage76, p.CheckBox76, p.Button1, p.Button2},
        {77, p.pnlSlot77, p.cxImage77, p.CheckBox77, p.Button3, p.Button4},
        {78, p.pnlSlot78, p.cxImage78, p.CheckBox78, p.Button5, p.Button6},
        {79, p.pnlSlot79, p.cxImage79, p.CheckBox79, p.Button7, p.Button8},
        {80, p.pnlSlot80, p.cxImage80, p.CheckBox80, p.Button9, p.Button10},
        {81, p.pnlSlot81, p.cxImage81, p.CheckBox81, p.Button11, p.Button12},
        {82, p.pnlSlot82, p.cxImage82, p.CheckBox82, p.Button13, p.Button14},
        {83, p.pnlSlot83, p.cxImage83, p.CheckBox83, p.Button15, p.Button16},
        {84, p.pnlSlot84, p.cxImage84, p.CheckBox84, p.Button17, p.Button18},
        {85, p.pnlSlot85, p.cxImage85, p.CheckBox85, p.Button19, p.Button20},
    }};
}

SlotControls WindowForms::pictureSlot(int slot) const
{
    for (const SlotControls& s : pictureSlots())
        if (s.slot == slot)
            return s;
    return {};
}

std::array<QCheckBox*, 10> WindowForms::playTicks() const
{
    const Ui::PicturePage& p = pictures;
    return {p.CheckBox76, p.CheckBox77, p.CheckBox78, p.CheckBox79, p.CheckBox80,
            p.CheckBox81, p.CheckBox82, p.CheckBox83, p.CheckBox84, p.CheckBox85};
}

std::array<QLineEdit*, 4> WindowForms::mainTextEdits() const
{
    return {display.edtMianText1, display.edtMianText2, display.edtMianText3, display.edtMianText4};
}

std::vector<QWidget*> WindowForms::deviceGroup() const
{
    const Ui::MainFrame& f = frame;
    return {f.PageControl1, f.grp_Settings, f.btn_Default, f.btn_loadsettings, f.btn_savesettings,
            f.btn_GetSetting, f.btn_AllDownload, f.btn_ResetDisplay, f.btn_RestartDisplay};
}

} // namespace tarsel::ui
