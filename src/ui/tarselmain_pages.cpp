// Building the main window: the connection group, the seven tab pages, the button
// row and the status bar. Every control carries the object name the handlers and
// the caption table use; captions set here are replaced by the language switch.
#include "ui/tarselmain.h"

#include "ui/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QTabBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>

using tarsel::ui::ColorPanel;
using tarsel::ui::RadioGroup;
using tarsel::ui::SlotImage;

namespace {

QString name(const char* n) { return QString::fromLatin1(n); }

QPushButton* makeButton(const char* objectName, const QString& text, QWidget* parent = nullptr)
{
    auto* b = new tarsel::ui::PaddedButton(text, parent);
    b->setObjectName(name(objectName));
    return b;
}

// The bottom row is tight: its buttons keep the style's own margins.
QPushButton* makePlainButton(const char* objectName, const QString& text)
{
    auto* b = new QPushButton(text);
    b->setObjectName(name(objectName));
    return b;
}

QLabel* makeLabel(const char* objectName, const QString& text, QWidget* parent = nullptr)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name(objectName));
    return l;
}

QComboBox* makeCombo(const char* objectName, QLabel* caption, QWidget* parent = nullptr)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name(objectName));
    c->setMaxVisibleItems(20);
    if (caption)
        caption->setBuddy(c);
    return c;
}

QLineEdit* makeEdit(const char* objectName, QLabel* caption, QWidget* parent = nullptr)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name(objectName));
    if (caption)
        caption->setBuddy(e);
    return e;
}

QSpinBox* makeSpin(const char* objectName, int min, int max, int value, QLabel* caption,
                   QWidget* parent = nullptr)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(name(objectName));
    s->setRange(min, max);
    s->setValue(value);
    s->setMinimumWidth(60);
    if (caption)
        caption->setBuddy(s);
    return s;
}

QCheckBox* makeCheck(const char* objectName, const QString& text, QWidget* parent = nullptr)
{
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name(objectName));
    return c;
}

QGroupBox* makeGroup(const char* objectName, const QString& title, QWidget* parent = nullptr)
{
    auto* g = new QGroupBox(title, parent);
    g->setObjectName(name(objectName));
    return g;
}

ColorPanel* makeColor(const char* objectName, QLabel* caption, QWidget* parent = nullptr)
{
    auto* p = new ColorPanel(name(objectName), parent);
    p->setFixedSize(60, 22);
    if (caption)
        caption->setBuddy(p);
    return p;
}

QRadioButton* makeRadio(const char* objectName, const QString& text, QWidget* parent = nullptr)
{
    auto* r = new QRadioButton(text, parent);
    r->setObjectName(name(objectName));
    return r;
}

// The hint label beside a code page combo box.
QLabel* makeHint(const char* objectName)
{
    auto* l = makeLabel(objectName, QStringLiteral("(For text encoding conversion only)"));
    l->setForegroundRole(QPalette::PlaceholderText);
    return l;
}

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

void TarselMain::buildWindow()
{
    setObjectName(QStringLiteral("frmTarselMain"));
    setWindowTitle(QStringLiteral("Tarsel"));
    setFixedSize(856, 671);
    setWindowFlags((windowFlags() & ~Qt::WindowMaximizeButtonHint) | Qt::MSWindowsFixedSizeDialogHint);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("pnlClient"));
    auto* v = new QVBoxLayout(central);
    v->setContentsMargins(6, 4, 6, 2);
    v->setSpacing(4);

    v->addWidget(buildSettingsGroup());

    auto* tabs = new QTabWidget(central);
    tabs->setObjectName(QStringLiteral("PageControl1"));
    tabs->setAccessibleName(QStringLiteral("Pages"));
    auto* tabStyle = new CompactTabStyle;
    tabStyle->setParent(tabs);
    tabs->tabBar()->setStyle(tabStyle);
    tabs->addTab(buildBasicPage(), QStringLiteral(" Basic Setting"));
    tabs->addTab(buildDisplayPage(), QStringLiteral("Display Setting"));
    tabs->addTab(buildCodepagePage(), QStringLiteral("CodePage Setting"));
    tabs->addTab(buildPicturePage(), QStringLiteral("Picture Management "));
    tabs->addTab(buildTestPage(), QStringLiteral("Display Testing"));
    tabs->addTab(buildDownloadPage(), QStringLiteral("Download File"));
    tabs->addTab(buildFirmwarePage(), QStringLiteral("Firmware Updates"));
    v->addWidget(tabs, 1);

    v->addWidget(buildButtonRow());
    setCentralWidget(central);
    buildStatusBar();
}

QWidget* TarselMain::buildSettingsGroup()
{
    auto* g = makeGroup("grp_Settings", QStringLiteral("COM Settings"));
    auto* h = new QHBoxLayout(g);
    h->setContentsMargins(8, 4, 8, 6);

    auto* labPort = makeLabel("lab_SerialPort", QStringLiteral("Serial Port:"));
    auto* port = makeCombo("cbb_SerialPort", labPort);
    port->setMinimumWidth(230);
    port->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* labBaud = makeLabel("lab_BaudRate", QStringLiteral("Baud Rate:"));
    auto* baud = makeCombo("cbb_BaudRate", labBaud);
    baud->setMinimumWidth(90);
    auto* labModel = makeLabel("labModel", QStringLiteral("Model:"));
    auto* model = makeCombo("cbbDisplayMode", labModel);
    model->setMinimumWidth(120);
    auto* connectButton = makeButton("btnConnect", QStringLiteral("Connect"));
    connectButton->setMinimumWidth(90);

    h->addWidget(labPort);
    h->addWidget(port);
    h->addSpacing(12);
    h->addWidget(labBaud);
    h->addWidget(baud);
    h->addSpacing(12);
    h->addWidget(labModel);
    h->addWidget(model);
    h->addSpacing(12);
    h->addWidget(connectButton);
    h->addStretch(1);
    return g;
}

QWidget* TarselMain::buildBasicPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsBasicSet"));
    auto* v = new QVBoxLayout(page);

    // Welcome message.
    auto* wel = makeGroup("grp_WelcomeMessage", QStringLiteral("Welcome Message Set"));
    auto* grid = new QGridLayout(wel);
    auto* lab1 = makeLabel("lab_Line1", QStringLiteral("Line 1:"));
    auto* line1 = makeEdit("edt_line1", lab1);
    auto* count1 = makeLabel("lbl_mess1_count", QStringLiteral("0"));
    count1->setMinimumWidth(24);
    count1->setAccessibleDescription(QStringLiteral("Characters in line 1"));
    auto* scroll1 = makeCheck("chk_Scroll1", QStringLiteral("Scroll"));
    auto* lab2 = makeLabel("lab_Line2", QStringLiteral("Line 2:"));
    auto* line2 = makeEdit("edt_line2", lab2);
    auto* count2 = makeLabel("lbl_mess2_count", QStringLiteral("0"));
    count2->setMinimumWidth(24);
    count2->setAccessibleDescription(QStringLiteral("Characters in line 2"));
    auto* scroll2 = makeCheck("chk_Scroll2", QStringLiteral("Scroll"));
    grid->addWidget(lab1, 0, 0);
    grid->addWidget(line1, 0, 1, 1, 3);
    grid->addWidget(count1, 0, 4);
    grid->addWidget(scroll1, 0, 5);
    grid->addWidget(lab2, 1, 0);
    grid->addWidget(line2, 1, 1, 1, 3);
    grid->addWidget(count2, 1, 4);
    grid->addWidget(scroll2, 1, 5);
    auto* labCp = makeLabel("lbl_codepage_welmsg", QStringLiteral("Code Page:"));
    auto* cp = makeCombo("cbb_CodePage", labCp);
    cp->setMinimumWidth(130);
    grid->addWidget(labCp, 2, 0);
    grid->addWidget(cp, 2, 1);
    grid->addWidget(makeHint("lbl_codepage_hint_welmsg"), 2, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(makeButton("btn_welText_center", QStringLiteral("Center")));
    buttons->addWidget(makeButton("btn_DownloadSetting", QStringLiteral("Setting")));
    grid->addLayout(buttons, 3, 0, 1, 6);
    grid->setColumnStretch(3, 1);
    v->addWidget(wel);

    // Command set and the display's own baud rate.
    auto* row = new QHBoxLayout;
    auto* cmd = makeGroup("grp_commandSet", QStringLiteral("Command Set"));
    auto* ch = new QHBoxLayout(cmd);
    auto* labCmd = makeLabel("lab_commandmode", QStringLiteral("Command Mode:"));
    auto* cmdCombo = makeCombo("cbb_down_CommandMode", labCmd);
    cmdCombo->setMinimumWidth(150);
    ch->addWidget(labCmd);
    ch->addWidget(cmdCombo, 1);
    ch->addWidget(makeButton("btn_commandSet", QStringLiteral("Setting")));
    row->addWidget(cmd, 1);

    auto* br = makeGroup("grp_baudrateSet", QStringLiteral("Baudrate Set"));
    auto* bh = new QHBoxLayout(br);
    auto* labBaud = makeLabel("lab_Set_BaudRate", QStringLiteral("Baud Rate:"));
    auto* baudCombo = makeCombo("cbb_down_BaudRate", labBaud);
    baudCombo->setMinimumWidth(100);
    bh->addWidget(labBaud);
    bh->addWidget(baudCombo, 1);
    bh->addWidget(makeButton("btn_baudrateSet", QStringLiteral("Setting")));
    row->addWidget(br, 1);
    v->addLayout(row);
    v->addStretch(1);
    return page;
}

QWidget* TarselMain::buildDisplayPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsDisplaySet"));
    auto* v = new QVBoxLayout(page);
    auto* top = new QHBoxLayout;

    // Header.
    auto* header = makeGroup("grpHeader", QStringLiteral("Header"));
    auto* hg = new QGridLayout(header);
    auto* labHt = makeLabel("labHeaderTextColor", QStringLiteral("Text Color"));
    auto* labHb = makeLabel("labHeaderBgColor", QStringLiteral("Backgroud Color"));
    hg->addWidget(labHt, 0, 0);
    hg->addWidget(makeColor("pnlColorTextHeader", labHt), 0, 1);
    hg->addWidget(labHb, 1, 0);
    hg->addWidget(makeColor("pnlColorBgHeader", labHb), 1, 1);
    hg->addWidget(makeRadio("rbtnHeaderText", QStringLiteral("Show Text")), 2, 0);
    hg->addWidget(makeRadio("rbtnHeaderPicture", QStringLiteral("Show Picture")), 2, 1);
    hg->addWidget(makeButton("btn_HeaderSet", QStringLiteral("Setting")), 3, 1, Qt::AlignRight);
    top->addWidget(header, 1);

    // Footer.
    auto* footer = makeGroup("grpFooter", QStringLiteral("Footer Message"));
    auto* fg = new QGridLayout(footer);
    auto* labFt = makeLabel("labFooterTextColoer", QStringLiteral("Text Color"));
    auto* labFb = makeLabel("labFooterBgColoer", QStringLiteral("Backgroud Color"));
    fg->addWidget(labFt, 0, 0);
    fg->addWidget(makeColor("pnlColorTextFooter", labFt), 0, 1);
    fg->addWidget(labFb, 1, 0);
    fg->addWidget(makeColor("pnlColorBgFooter", labFb), 1, 1);
    fg->setRowStretch(2, 1);
    fg->addWidget(makeButton("btn_FooterSet", QStringLiteral("Setting")), 3, 1, Qt::AlignRight);
    top->addWidget(footer, 1);

    // Brightness.
    auto* brightBox = new QVBoxLayout;
    auto* bright = new RadioGroup(QStringLiteral("rg_brightness"), 2);
    bright->setTitle(QStringLiteral("Brightness adjustment"));
    bright->setItems({QStringLiteral("20%"), QStringLiteral("40%"), QStringLiteral("60%"), QStringLiteral("100%")});
    brightBox->addWidget(bright);
    brightBox->addWidget(makeButton("btn_brightness_set", QStringLiteral("Setting")), 0, Qt::AlignRight);
    brightBox->addStretch(1);
    top->addLayout(brightBox, 1);
    v->addLayout(top);

    // Main text.
    auto* text = makeGroup("grpText", QStringLiteral("Text"));
    auto* tg = new QGridLayout(text);
    auto* labTt = makeLabel("labTextTextColor", QStringLiteral("Text Color"));
    auto* labTb = makeLabel("labTextBgColoer", QStringLiteral("Backgroud Color"));
    tg->addWidget(labTt, 0, 0);
    tg->addWidget(makeColor("pnlColorTextText", labTt), 0, 1);
    tg->addWidget(labTb, 1, 0);
    tg->addWidget(makeColor("pnlColorBgText", labTb), 1, 1);
    tg->addWidget(makeRadio("rbtnTextLine2", QStringLiteral("Text Line 2")), 2, 0);
    tg->addWidget(makeRadio("rbtnTextLine4", QStringLiteral("Text Line 4")), 3, 0);
    static const char* const lines[] = {"edtMianText1", "edtMianText2", "edtMianText3", "edtMianText4"};
    for (int i = 0; i < 4; ++i) {
        auto* e = makeEdit(lines[i], nullptr);
        e->setAccessibleName(QStringLiteral("Main text line %1").arg(i + 1));
        e->setMaxLength(20);
        tg->addWidget(e, i, 2, 1, 3);
    }
    auto* labCp = makeLabel("lbl_codepage_maintext", QStringLiteral("Code Page:"));
    auto* cp = makeCombo("cbb_codepage_maintext", labCp);
    cp->setMinimumWidth(130);
    tg->addWidget(labCp, 4, 0);
    tg->addWidget(cp, 4, 1, 1, 2);
    tg->addWidget(makeHint("lbl_codepage_hint_maintext"), 4, 3);
    auto* tb = new QHBoxLayout;
    tb->addStretch(1);
    tb->addWidget(makeButton("btn_mainText_center", QStringLiteral("Center")));
    tb->addWidget(makeButton("btn_TextSet", QStringLiteral("Setting")));
    tg->addLayout(tb, 5, 0, 1, 5);
    tg->setColumnStretch(4, 1);
    tg->setColumnMinimumWidth(2, 120);
    v->addWidget(text);
    v->addStretch(1);
    return page;
}

QWidget* TarselMain::buildCodepagePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsCodepageSet"));
    auto* v = new QVBoxLayout(page);
    auto* inter = new RadioGroup(QStringLiteral("rg_Down_InterChar"), 5);
    inter->setTitle(QStringLiteral("InterChar"));
    v->addWidget(inter);
    auto* cp = new RadioGroup(QStringLiteral("rg_Down_CodePage"), 5);
    cp->setTitle(QStringLiteral("CodePage"));
    v->addWidget(cp);
    auto* h = new QHBoxLayout;
    h->addStretch(1);
    h->addWidget(makeButton("btn_DownloadCodePage", QStringLiteral("Setting")));
    v->addLayout(h);
    v->addStretch(1);
    return page;
}

QWidget* TarselMain::buildPicturePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsPictureManagement"));
    auto* v = new QVBoxLayout(page);

    auto* grid = makeGroup("grpPicManagement", QString());
    grid->setAccessibleName(QStringLiteral("Pictures"));
    auto* gl = new QVBoxLayout(grid);
    gl->setSpacing(4);
    gl->setContentsMargins(8, 6, 8, 6);
    // Row 1: 73, 74, 75 (double width), 86; rows 2 and 3: 76..80 and 81..85.
    QHBoxLayout* rows[3];
    for (auto*& row : rows) {
        row = new QHBoxLayout;
        row->setSpacing(8);
        gl->addLayout(row);
    }

    // Slot number, its "-" and "+" buttons, and its label for assistive technology.
    struct SlotDef { int slot; int minus; int plus; const char* label; };
    static const SlotDef kSlots[] = {
        {73, 21, 22, "Startup logo"}, {74, 23, 24, "Title logo"}, {75, 25, 26, "Head Picture"},
        {86, 27, 28, "Guest"},
        {76, 1, 2, "Picture 1"}, {77, 3, 4, "Picture 2"}, {78, 5, 6, "Picture 3"},
        {79, 7, 8, "Picture 4"}, {80, 9, 10, "Picture 5"}, {81, 11, 12, "Picture 6"},
        {82, 13, 14, "Picture 7"}, {83, 15, 16, "Picture 8"}, {84, 17, 18, "Picture 9"},
        {85, 19, 20, "Picture 10"},
    };
    for (int i = 0; i < 14; ++i) {
        const SlotDef& d = kSlots[i];
        auto* cell = new QWidget(grid);
        cell->setObjectName(QStringLiteral("pnlSlot%1").arg(d.slot));
        auto* cv = new QVBoxLayout(cell);
        cv->setContentsMargins(0, 0, 0, 0);
        cv->setSpacing(2);
        const QSize size(d.slot == 75 ? 274 : 130, 80);
        auto* image = new SlotImage(QStringLiteral("cxImage%1").arg(d.slot), d.slot, size, cell);
        image->setAccessibleName(QString::fromLatin1(d.label));
        image->setToolTip(QString::fromLatin1(d.label));
        cv->addWidget(image);
        auto* line = new QHBoxLayout;
        line->setSpacing(2);
        auto* tick = new QCheckBox(cell);
        tick->setObjectName(QStringLiteral("CheckBox%1").arg(d.slot));
        tick->setProperty("tag", d.slot);
        tick->setAccessibleName(QStringLiteral("Download %1").arg(QString::fromLatin1(d.label)));
        auto* minus = new QPushButton(QStringLiteral("-"), cell);
        minus->setObjectName(QStringLiteral("Button%1").arg(d.minus));
        minus->setProperty("tag", d.slot);
        minus->setAccessibleDescription(QStringLiteral("Clear %1").arg(QString::fromLatin1(d.label)));
        minus->setToolTip(minus->accessibleDescription());
        minus->setFixedSize(28, 22);
        auto* plus = new QPushButton(QStringLiteral("+"), cell);
        plus->setObjectName(QStringLiteral("Button%1").arg(d.plus));
        plus->setProperty("tag", d.slot);
        plus->setAccessibleDescription(QStringLiteral("Fill %1 from an image file").arg(QString::fromLatin1(d.label)));
        plus->setToolTip(plus->accessibleDescription());
        plus->setFixedSize(28, 22);
        line->addWidget(tick);
        line->addStretch(1);
        line->addWidget(minus);
        line->addWidget(plus);
        cv->addLayout(line);
        rows[i < 4 ? 0 : 1 + (i - 4) / 5]->addWidget(cell);
    }
    for (auto* row : rows)
        row->addStretch(1);
    auto* bar2 = new QProgressBar(grid);
    bar2->setObjectName(QStringLiteral("cxProgressBar2"));
    bar2->setTextVisible(true);
    bar2->hide();

    auto* top = new QHBoxLayout;
    top->addWidget(grid);
    auto* side = new QVBoxLayout;
    side->addWidget(makeCheck("chkSelectALL", QStringLiteral("Select All")));
    side->addWidget(makeButton("btn_DownloadPictrue", QStringLiteral("Download")));
    side->addStretch(1);
    top->addLayout(side);
    v->addLayout(top);

    // Play setting.
    auto* play = makeGroup("grp_playsetting", QStringLiteral("Play Setting"));
    auto* pg = new QGridLayout(play);
    auto* labStandby = makeLabel("lbl_standbytime", QStringLiteral("Standby time:"));
    pg->addWidget(labStandby, 0, 0);
    pg->addWidget(makeSpin("ud_StandbyTime", 0, 120, 0, labStandby), 0, 1);
    pg->addWidget(makeLabel("lbl_standbytime_memo", QStringLiteral("(0~120s,0: Not Play)")), 0, 2);
    auto* labInterval = makeLabel("lbl_playinteral", QStringLiteral("Play interval:"));
    pg->addWidget(labInterval, 0, 4);
    pg->addWidget(makeSpin("ud_PlayInterval", 1, 10, 1, labInterval), 0, 5);
    pg->addWidget(makeLabel("lbl_playinterval_memo", QStringLiteral("(1~10s)")), 0, 6);
    auto* labSelected = makeLabel("lbl_selected", QStringLiteral("Selected:"));
    auto* nums = makeLabel("lbl_selected_nums", QStringLiteral("0"));
    nums->setMinimumWidth(24);
    labSelected->setBuddy(nums);
    pg->addWidget(labSelected, 0, 8);
    pg->addWidget(nums, 0, 9);
    pg->addWidget(makeButton("btn_SetToPlay", QStringLiteral("Setting")), 0, 11);
    pg->setColumnStretch(3, 1);
    pg->setColumnStretch(7, 1);
    pg->setColumnStretch(10, 1);
    v->addWidget(play);
    v->addStretch(1);
    return page;
}

QWidget* TarselMain::buildTestPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsDisplayTest"));
    auto* v = new QVBoxLayout(page);

    auto* test = makeGroup("grp_TestText", QStringLiteral("Display Test"));
    auto* g = new QGridLayout(test);
    auto* labText = makeLabel("lab_TestContent", QStringLiteral("Text:"));
    auto* text = makeEdit("edt_Text", labText);
    text->setText(QStringLiteral("1234567890ABCDEFGHIJ"));
    g->addWidget(labText, 0, 0);
    g->addWidget(text, 0, 1, 1, 6);
    g->addWidget(makeButton("btn_textText_center", QStringLiteral("Center")), 0, 7);

    auto* labCp = makeLabel("lbl_codeage_test", QStringLiteral("Code Page:"));
    auto* cp = makeCombo("cbb_codepage_test", labCp);
    cp->setMinimumWidth(130);
    g->addWidget(labCp, 1, 0);
    g->addWidget(cp, 1, 1, 1, 2);
    g->addWidget(makeHint("lbl_codepage_hint_test"), 1, 3, 1, 4);

    auto* pos = new QHBoxLayout;
    pos->addWidget(makeCheck("chk_PositionAt", QStringLiteral("Position at")));
    pos->addSpacing(12);
    auto* labRow = makeLabel("lab_Row", QStringLiteral("Row:"));
    pos->addWidget(labRow);
    pos->addWidget(makeSpin("ud_Row", 1, 2, 1, labRow));
    pos->addSpacing(12);
    auto* labCol = makeLabel("lab_Column", QStringLiteral("Column:"));
    pos->addWidget(labCol);
    pos->addWidget(makeSpin("ud_Column", 1, 20, 1, labCol));
    pos->addStretch(1);
    pos->addWidget(makeButton("btn_TextSend", QStringLiteral("Display Text")));
    pos->addWidget(makeButton("btn_ClearDisplay", QStringLiteral("Clear Display")));
    g->addLayout(pos, 2, 0, 1, 8);
    g->setColumnStretch(5, 1);
    v->addWidget(test);

    // QR code.
    auto* qr = new QHBoxLayout;
    auto* align = new RadioGroup(QStringLiteral("rg_QrCodeAlign"), 3);
    align->setTitle(QStringLiteral("QrCode Align"));
    align->setItems({QStringLiteral("Left"), QStringLiteral("Center"), QStringLiteral("Right")});
    align->setItemIndex(1);
    align->setMinimumWidth(260);
    qr->addWidget(align);
    qr->addWidget(makeButton("btn_ShowQrCode", QStringLiteral("Show QrCode")), 0, Qt::AlignVCenter);
    qr->addSpacing(16);
    auto* labPic = makeLabel("lbl_PicNo", QStringLiteral("Picture No:"));
    auto* picNo = makeSpin("ud_PicNo", 1, 10, 1, labPic);
    // The spin box's text field is the picture-number edit.
    if (auto* edit = picNo->findChild<QLineEdit*>()) {
        edit->setObjectName(QStringLiteral("edt_PicNo"));
        edit->setAccessibleName(QStringLiteral("Picture No"));
    }
    qr->addWidget(labPic, 0, Qt::AlignVCenter);
    qr->addWidget(picNo, 0, Qt::AlignVCenter);
    qr->addWidget(makeButton("btn_ShowQrCodeAt", QStringLiteral("Show QrCode At")), 0, Qt::AlignVCenter);
    qr->addStretch(1);
    v->addLayout(qr);

    // Code page test patterns.
    auto* inter = makeGroup("grp_Test_InterChar", QStringLiteral("InterChar"));
    auto* ih = new QHBoxLayout(inter);
    ih->addWidget(makeButton("btn_203F", QStringLiteral("InterChar 0x20~0x3F")));
    ih->addWidget(makeButton("btn_405F", QStringLiteral("InterChar 0x40~0x5F")));
    ih->addWidget(makeButton("btn_607F", QStringLiteral("InterChar 0x60~0x7F")));
    ih->addStretch(1);
    v->addWidget(inter);
    auto* cpg = makeGroup("grp_Test_CodePage", QStringLiteral("CodePage"));
    auto* ch = new QHBoxLayout(cpg);
    ch->addWidget(makeButton("btn_809F", QStringLiteral("CodePage 0x80~0x9F")));
    ch->addWidget(makeButton("btn_A0BF", QStringLiteral("CodePage 0xA0~0xBF")));
    ch->addWidget(makeButton("btn_C0DF", QStringLiteral("CodePage 0xC0~0xDF")));
    ch->addWidget(makeButton("btn_E0FF", QStringLiteral("CodePage 0xE0~0xFF")));
    ch->addStretch(1);
    v->addWidget(cpg);
    v->addStretch(1);
    return page;
}

QWidget* TarselMain::buildDownloadPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsDownloadFile"));
    auto* v = new QVBoxLayout(page);
    auto* g = new QGridLayout;

    auto* labItem = new QLabel(QStringLiteral("Item:"));
    auto* charset = makeCombo("cbbCharset", labItem);
    charset->setMinimumWidth(160);
    auto* labAddr = new QLabel(QStringLiteral("Flash Address:"));
    auto* addr = makeEdit("edt_addr", labAddr);
    addr->setReadOnly(true);
    auto* labName = new QLabel(QStringLiteral("File Name:"));
    auto* fileName = makeEdit("edt_filename", labName);
    fileName->setReadOnly(true);
    g->addWidget(labItem, 0, 0);
    g->addWidget(charset, 0, 1);
    g->addWidget(labAddr, 0, 2);
    g->addWidget(addr, 0, 3);
    g->addWidget(labName, 0, 4);
    g->addWidget(fileName, 0, 5);

    auto* labFile = new QLabel(QStringLiteral("File:"));
    auto* file = makeLabel("pnlCharsetFilename", QString());
    file->setFrameShape(QFrame::StyledPanel);
    file->setFrameShadow(QFrame::Sunken);
    file->setMinimumHeight(24);
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    labFile->setBuddy(file);
    file->setAccessibleName(QStringLiteral("File"));
    g->addWidget(labFile, 1, 0);
    g->addWidget(file, 1, 1, 1, 5);
    g->setColumnStretch(3, 1);
    g->setColumnStretch(5, 1);
    v->addLayout(g);

    auto* h = new QHBoxLayout;
    h->addWidget(makeButton("btn_CharacterSetSelectFile", QStringLiteral("Select File")));
    h->addWidget(makeButton("btn_CharacterSetDownSingle", QStringLiteral("Download")));
    h->addWidget(makeButton("btn_CharacterSetDownAll", QStringLiteral("Font Download")));
    h->addStretch(1);
    h->addWidget(makeButton("btn_Format", QStringLiteral("Format")));
    v->addLayout(h);

    auto* log = new QTextEdit;
    log->setObjectName(QStringLiteral("redt_log"));
    log->setReadOnly(true);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log->setAccessibleName(QStringLiteral("Download log"));
    v->addWidget(log, 1);
    return page;
}

QWidget* TarselMain::buildFirmwarePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsFirmwareUpdates"));
    auto* v = new QVBoxLayout(page);
    auto* f = new QFormLayout;
    f->setHorizontalSpacing(16);
    f->setVerticalSpacing(12);
    auto* model = makeLabel("lbl_show_deviceModel", QString());
    auto* current = makeLabel("lbl_show_currentVersion", QString());
    auto* latest = makeLabel("lbl_show_latestVersion", QStringLiteral("V13"));
    for (QLabel* l : {model, current, latest}) {
        l->setMinimumWidth(120);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* labModel = makeLabel("lbl_DevModel", QStringLiteral("Device Model:"));
    auto* labCurrent = makeLabel("lbl_CurrentVersion", QStringLiteral("Current Version:"));
    auto* labLatest = makeLabel("lbl_LatestVersion", QStringLiteral("Latest Version:"));
    labModel->setBuddy(model);
    labCurrent->setBuddy(current);
    labLatest->setBuddy(latest);
    f->addRow(labModel, model);
    f->addRow(labCurrent, current);
    f->addRow(labLatest, latest);
    v->addLayout(f);
    auto* h = new QHBoxLayout;
    h->addWidget(makeButton("btn_update", QStringLiteral("Update")));
    h->addStretch(1);
    v->addLayout(h);
    v->addStretch(1);
    return page;
}

QWidget* TarselMain::buildButtonRow()
{
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("pnlButtons"));
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(4);
    h->addWidget(makePlainButton("btn_Default", QStringLiteral("Default Settings")));
    h->addWidget(makePlainButton("btn_loadsettings", QStringLiteral("Load Settings")));
    h->addWidget(makePlainButton("btn_savesettings", QStringLiteral("Save Settings")));
    h->addWidget(makePlainButton("btn_GetSetting", QStringLiteral("Get Setting")));
    h->addWidget(makePlainButton("btn_AllDownload", QStringLiteral("All Download")));
    h->addWidget(makePlainButton("btn_ResetDisplay", QStringLiteral("Restore Display")));
    h->addWidget(makePlainButton("btn_RestartDisplay", QStringLiteral("Restart Display")));
    h->addStretch(1);
    h->addWidget(makePlainButton("btn_Exit", QStringLiteral("Exit")));
    return row;
}

void TarselMain::buildStatusBar()
{
    auto* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);

    // Panel 0 holds the run's progress bar, 2 pixels narrower than the panel.
    auto* panel0 = new QFrame(bar);
    panel0->setObjectName(QStringLiteral("StatusBar1Panel0"));
    panel0->setFrameShape(QFrame::StyledPanel);
    panel0->setFrameShadow(QFrame::Sunken);
    panel0->setFixedWidth(400);
    auto* p0 = new QHBoxLayout(panel0);
    p0->setContentsMargins(0, 1, 2, 1);
    auto* bar1 = new QProgressBar(panel0);
    bar1->setObjectName(QStringLiteral("cxProgressBar1"));
    bar1->setAccessibleName(QStringLiteral("Progress"));
    bar1->setMaximumHeight(18);
    p0->addWidget(bar1);
    bar->addWidget(panel0);

    const int widths[] = {200, 100, 50};
    const char* const descriptions[] = {"Current step", "Items", "Elapsed time"};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(bar);
        l->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        l->setFixedWidth(widths[i]);
        l->setFrameShape(QFrame::StyledPanel);
        l->setFrameShadow(QFrame::Sunken);
        l->setAccessibleName(QString::fromLatin1(descriptions[i]));
        bar->addWidget(l);
    }
    setStatusBar(bar);
}
