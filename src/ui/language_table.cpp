#include "ui/language_table.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>

#include <array>

namespace tarsel::ui {
namespace {

constexpr std::array<CaptionRow, 88> kRows = {{
    {"grp_Settings", "COM Settings", "串口设置"},
    {"lab_SerialPort", "Serial Port:", "端口号："},
    {"lab_BaudRate", "Baud Rate:", "波特率："},
    {"labModel", "Model:", "型号："},
    {"btnConnect", "Connect", "连接"},
    {"tsBasicSet", " Basic Setting", " 基本设置 "},
    {"tsDisplayTest", "Display Testing", " 客显测试 "},
    {"tsCodepageSet", "CodePage Setting", " 代码页设置 "},
    {"tsDisplaySet", "Display Setting", " 显示设置 "},
    {"tsPictureManagement", "Picture Management ", " 图片管理 "},
    {"tsDownloadFile", "Download File", "  文件下载 "},
    {"tsFirmwareUpdates", "Firmware Updates", "  固件升级 "},
    {"grp_commandSet", "Command Set", "指令集设置"},
    {"grp_baudrateSet", "Baudrate Set", "波特率设置"},
    {"btn_commandSet", "Setting", "设置"},
    {"btn_baudrateSet", "Setting", "设置"},
    {"lab_Set_BaudRate", "Baud Rate:", "波特率："},
    {"lab_commandmode", "Command Mode:", "指令集："},
    {"grp_WelcomeMessage", "Welcome Message Set", "欢迎语设置"},
    {"lab_Line1", "Line 1:", "第一行："},
    {"lab_Line2", "Line 2:", "第二行："},
    {"chk_Scroll1", "Scroll", "滚动"},
    {"chk_Scroll2", "Scroll", "滚动"},
    {"btn_Default", "Default Settings", "默认设置"},
    {"btn_RestartDisplay", "Restart Display", "重启客显"},
    {"btn_loadsettings", "Load Settings", "载入设置"},
    {"btn_savesettings", "Save Settings", "保存设置"},
    {"btn_DownloadSetting", "Setting", "设置"},
    {"grp_TestText", "Display Test", "显示测试"},
    {"lab_TestContent", "Text:", "文本："},
    {"chk_PositionAt", "Position at", "指定位置显示"},
    {"lab_Row", "Row:", "行："},
    {"lab_Column", "Column:", "列："},
    {"btn_TextSend", "Display Text", "显示文本"},
    {"btn_ClearDisplay", "Clear Display", "清屏"},
    {"rg_QrCodeAlign", "QrCode Align", "二维码位置"},
    {"lbl_PicNo", "Picture No:", "图片序号："},
    {"btn_ShowQrCode", "Show QrCode", "显示二维码"},
    {"btn_ShowQrCodeAt", "Show QrCode At", "指定图片显示二维码"},
    {"rg_Down_InterChar", "InterChar", "国家"},
    {"rg_Down_CodePage", "CodePage", "代码页"},
    {"btn_DownloadCodePage", "Setting", "设置"},
    {"grp_Test_InterChar", "InterChar", "国家"},
    {"grp_Test_CodePage", "CodePage", "代码页"},
    {"btn_AllDownload", "All Download", "全部下载"},
    {"btn_Exit", "Exit", "退出"},
    {"btn_GetSetting", "Get Setting", "读取设置"},
    {"btn_ResetDisplay", "Restore Display", "恢复出厂"},
    {"grpHeader", "Header", "顶部标题"},
    {"grpText", "Text", "正文"},
    {"grpFooter", "Footer Message", "底部消息"},
    {"btn_HeaderSet", "Setting", "设置"},
    {"btn_TextSet", "Setting", "设置"},
    {"btn_FooterSet", "Setting", "设置"},
    {"btn_welText_center", "Center", "居中"},
    {"btn_mainText_center", "Center", "居中"},
    {"btn_textText_center", "Center", "居中"},
    {"labHeaderTextColor", "Text Color", "文字颜色"},
    {"labHeaderBgColor", "Backgroud Color", "背景颜色"},
    {"rbtnHeaderText", "Show Text", "显示文本"},
    {"rbtnHeaderPicture", "Show Picture", "显示图片"},
    {"labTextTextColor", "Text Color", "文字颜色"},
    {"labTextBgColoer", "Backgroud Color", "背景颜色"},
    {"rbtnTextLine2", "Text Line 2", "2 行文本"},
    {"rbtnTextLine4", "Text Line 4", "4 行文本"},
    {"labFooterTextColoer", "Text Color", "文字颜色"},
    {"labFooterBgColoer", "Backgroud Color", "背景颜色"},
    {"rg_brightness", "Brightness adjustment", "亮度调节"},
    {"btn_brightness_set", "Setting", "设置"},
    {"grp_playsetting", "Play Setting", "播放设置"},
    {"chkSelectALL", "Select All", "全选"},
    {"btn_DownloadPictrue", "Download", "下载"},
    {"btn_SetToPlay", "Setting", "设置"},
    {"lbl_standbytime", "Standby time:", "待机时间："},
    {"lbl_standbytime_memo", "(0~120s,0: Not Play)", "(0~120秒,0:不播放)"},
    {"lbl_playinteral", "Play interval:", "播放间隔："},
    {"lbl_playinterval_memo", "(1~10s)", "(1~10秒)"},
    {"lbl_selected", "Selected:", "已选择："},
    {"lbl_codepage_welmsg", "Code Page:", "代码页："},
    {"lbl_codepage_maintext", "Code Page:", "代码页："},
    {"lbl_codeage_test", "Code Page:", "代码页："},
    {"lbl_codepage_hint_welmsg", "(For text encoding conversion only)", "（仅为文本做编码转换）"},
    {"lbl_codepage_hint_maintext", "(For text encoding conversion only)", "（仅为文本做编码转换）"},
    {"lbl_codepage_hint_test", "(For text encoding conversion only)", "（仅为文本做编码转换）"},
    {"lbl_DevModel", "Device Model:", "设备型号："},
    {"lbl_CurrentVersion", "Current Version:", "当前版本："},
    {"lbl_LatestVersion", "Latest Version:", "最新版本："},
    {"btn_update", "Update", "升级"},
}};

bool setCaption(QWidget* root, const QString& name, const QString& text)
{
    QWidget* w = root->objectName() == name ? root : root->findChild<QWidget*>(name);
    if (!w)
        return false;
    // A tab page: its caption is the tab text of the page control holding it.
    if (auto* stack = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) {
            const int index = tabs->indexOf(w);
            if (index >= 0) {
                tabs->setTabText(index, text);
                return true;
            }
        }
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

std::span<const CaptionRow> captionTable() { return kRows; }

QStringList applyCaptions(QWidget* root, bool chinese)
{
    QStringList missing;
    for (const CaptionRow& row : kRows) {
        const QString text = QString::fromUtf8(chinese ? row.chinese : row.english);
        if (!setCaption(root, QString::fromLatin1(row.control), text))
            missing << QString::fromLatin1(row.control);
    }
    return missing;
}

} // namespace tarsel::ui
