#include "ui/language_table.h"

#include "ui/window_forms.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>

#include <utility>

namespace tarsel::ui {
namespace {

// The page control holding a tab page, and the page's index in it.
std::pair<QTabWidget*, int> tabOf(const QWidget* w)
{
    if (QWidget* stack = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) {
            const int index = tabs->indexOf(w);
            if (index >= 0)
                return {tabs, index};
        }
    }
    return {nullptr, -1};
}

bool setCaption(QWidget* w, const QString& text)
{
    if (!w)
        return false;
    if (const auto [tabs, index] = tabOf(w); tabs) {
        tabs->setTabText(index, text);
        return true;
    }
    if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(text);
        g->setAccessibleName(text.trimmed());
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    } else {
        return false;
    }
    return true;
}

} // namespace

std::vector<CaptionRow> captionTable(const WindowForms& f)
{
    return {
        {f.frame.grp_Settings, "COM Settings", "串口设置"},
        {f.frame.lab_SerialPort, "Serial Port:", "端口号："},
        {f.frame.lab_BaudRate, "Baud Rate:", "波特率："},
        {f.frame.labModel, "Model:", "型号："},
        {f.frame.btnConnect, "Connect", "连接"},
        {f.frame.tsBasicSet, " Basic Setting", " 基本设置 "},
        {f.frame.tsDisplayTest, "Display Testing", " 客显测试 "},
        {f.frame.tsCodepageSet, "CodePage Setting", " 代码页设置 "},
        {f.frame.tsDisplaySet, "Display Setting", " 显示设置 "},
        {f.frame.tsPictureManagement, "Picture Management ", " 图片管理 "},
        {f.frame.tsDownloadFile, "Download File", "  文件下载 "},
        {f.frame.tsFirmwareUpdates, "Firmware Updates", "  固件升级 "},
        {f.basic.grp_commandSet, "Command Set", "指令集设置"},
        {f.basic.grp_baudrateSet, "Baudrate Set", "波特率设置"},
        {f.basic.btn_commandSet, "Setting", "设置"},
        {f.basic.btn_baudrateSet, "Setting", "设置"},
        {f.basic.lab_Set_BaudRate, "Baud Rate:", "波特率："},
        {f.basic.lab_commandmode, "Command Mode:", "指令集："},
        {f.basic.grp_WelcomeMessage, "Welcome Message Set", "欢迎语设置"},
        {f.basic.lab_Line1, "Line 1:", "第一行："},
        {f.basic.lab_Line2, "Line 2:", "第二行："},
        {f.basic.chk_Scroll1, "Scroll", "滚动"},
        {f.basic.chk_Scroll2, "Scroll", "滚动"},
        {f.frame.btn_Default, "Default Settings", "默认设置"},
        {f.frame.btn_RestartDisplay, "Restart Display", "重启客显"},
        {f.frame.btn_loadsettings, "Load Settings", "载入设置"},
        {f.frame.btn_savesettings, "Save Settings", "保存设置"},
        {f.basic.btn_DownloadSetting, "Setting", "设置"},
        {f.test.grp_TestText, "Display Test", "显示测试"},
        {f.test.lab_TestContent, "Text:", "文本："},
        {f.test.chk_PositionAt, "Position at", "指定位置显示"},
        {f.test.lab_Row, "Row:", "行："},
        {f.test.lab_Column, "Column:", "列："},
        {f.test.btn_TextSend, "Display Text", "显示文本"},
        {f.test.btn_ClearDisplay, "Clear Display", "清屏"},
        {f.test.rg_QrCodeAlign, "QrCode Align", "二维码位置"},
        {f.test.lbl_PicNo, "Picture No:", "图片序号："},
        {f.test.btn_ShowQrCode, "Show QrCode", "显示二维码"},
        {f.test.btn_ShowQrCodeAt, "Show QrCode At", "指定图片显示二维码"},
        {f.codepage.rg_Down_InterChar, "InterChar", "国家"},
        {f.codepage.rg_Down_CodePage, "CodePage", "代码页"},
        {f.codepage.btn_DownloadCodePage, "Setting", "设置"},
        {f.test.grp_Test_InterChar, "InterChar", "国家"},
        {f.test.grp_Test_CodePage, "CodePage", "代码页"},
        {f.frame.btn_AllDownload, "All Download", "全部下载"},
        {f.frame.btn_Exit, "Exit", "退出"},
        {f.frame.btn_GetSetting, "Get Setting", "读取设置"},
        {f.frame.btn_ResetDisplay, "Restore Display", "恢复出厂"},
        {f.display.grpHeader, "Header", "顶部标题"},
        {f.display.grpText, "Text", "正文"},
        {f.display.grpFooter, "Footer Message", "底部消息"},
        {f.display.btn_HeaderSet, "Setting", "设置"},
        {f.display.btn_TextSet, "Setting", "设置"},
        {f.display.btn_FooterSet, "Setting", "设置"},
        {f.basic.btn_welText_center, "Center", "居中"},
        {f.display.btn_mainText_center, "Center", "居中"},
        {f.test.btn_textText_center, "Center", "居中"},
        {f.display.labHeaderTextColor, "Text Color", "文字颜色"},
        {f.display.labHeaderBgColor, "Backgroud Color", "背景颜色"},
        {f.display.rbtnHeaderText, "Show Text", "显示文本"},
        {f.display.rbtnHeaderPicture, "Show Picture", "显示图片"},
        {f.display.labTextTextColor, "Text Color", "文字颜色"},
        {f.display.labTextBgColoer, "Backgroud Color", "背景颜色"},
        {f.display.rbtnTextLine2, "Text Line 2", "2 行文本"},
        {f.display.rbtnTextLine4, "Text Line 4", "4 行文本"},
        {f.display.labFooterTextColoer, "Text Color", "文字颜色"},
        {f.display.labFooterBgColoer, "Backgroud Color", "背景颜色"},
        {f.display.rg_brightness, "Brightness adjustment", "亮度调节"},
        {f.display.btn_brightness_set, "Setting", "设置"},
        {f.display.grpPreview, "Preview", "预览"},
        {f.display.lab_previewTime, "Time:", "时间："},
        {f.display.btn_previewPlay, "Play", "播放"},
        {f.display.chk_previewStartup, "Start-up logo", "开机画面"},
        {f.display.btn_previewLarger, "Larger...", "放大..."},
        {f.display.lbl_previewNote,
         "What the customer will see, as Tarsel reads the settings and the slots' pictures (the display's own fonts "
         "and positions may differ).",
         "顾客将看到的画面（按当前设置和图片槽估算，客显自身的字体和位置可能不同）。"},
        {f.pictures.grp_playsetting, "Play Setting", "播放设置"},
        {f.pictures.chkSelectALL, "Select All", "全选"},
        {f.pictures.btn_DownloadPictrue, "Download", "下载"},
        {f.pictures.btn_SetToPlay, "Setting", "设置"},
        {f.pictures.lbl_standbytime, "Standby time:", "待机时间："},
        {f.pictures.lbl_standbytime_memo, "(0~120s,0: Not Play)", "(0~120秒,0:不播放)"},
        {f.pictures.lbl_playinteral, "Play interval:", "播放间隔："},
        {f.pictures.lbl_playinterval_memo, "(1~10s)", "(1~10秒)"},
        {f.pictures.lbl_selected, "Selected:", "已选择："},
        {f.basic.lbl_codepage_welmsg, "Code Page:", "代码页："},
        {f.display.lbl_codepage_maintext, "Code Page:", "代码页："},
        {f.test.lbl_codeage_test, "Code Page:", "代码页："},
        {f.basic.lbl_codepage_hint_welmsg, "(For text encoding conversion only)", "（仅为文本做编码转换）"},
        {f.display.lbl_codepage_hint_maintext, "(For text encoding conversion only)", "（仅为文本做编码转换）"},
        {f.test.lbl_codepage_hint_test, "(For text encoding conversion only)", "（仅为文本做编码转换）"},
        {f.firmware.lbl_DevModel, "Device Model:", "设备型号："},
        {f.firmware.lbl_CurrentVersion, "Current Version:", "当前版本："},
        {f.firmware.lbl_LatestVersion, "Latest Version:", "最新版本："},
        {f.firmware.btn_update, "Update", "升级"},
    };
}

QStringList applyCaptions(std::span<const CaptionRow> rows, bool chinese)
{
    QStringList failed;
    for (const CaptionRow& row : rows) {
        if (!setCaption(row.control, QString::fromUtf8(chinese ? row.chinese : row.english)))
            failed << (row.control ? row.control->objectName() : QStringLiteral("(none)"));
    }
    return failed;
}

QString shownCaption(const QWidget* control)
{
    if (!control)
        return QStringLiteral("<missing>");
    if (const auto [tabs, index] = tabOf(control); tabs)
        return tabs->tabText(index);
    if (auto* g = qobject_cast<const QGroupBox*>(control))
        return g->title();
    if (auto* l = qobject_cast<const QLabel*>(control))
        return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(control))
        return b->text();
    return QStringLiteral("<no caption>");
}

} // namespace tarsel::ui
