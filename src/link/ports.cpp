#include "link/ports.h"

namespace tarsel {

const char* const kPermissionHint =
    "Permission denied: add your user to the dialout group "
    "(sudo usermod -aG dialout $USER) and log in again.";

namespace {

const char* englishText(int code)
{
    switch (code) {
    case 0: return "This serial port already opened";
    case 1: return "OK";
    case 2: return "Error opening serial port";
    case 3: return "Cannot setup comm buffer";
    case 4: return "Unable to create event";
    default: return nullptr;
    }
}

const char* chineseText(int code)
{
    switch (code) {
    case 0: return "此串口已经打开";
    case 1: return "OK";
    case 2: return "打开串口出错，此串口不存在或被占用";
    case 3: return "初始化缓冲区出错";
    case 4: return "无法创建事件";
    default: return nullptr;
    }
}

Status openSlot(Link& link, SerialPort& slot)
{
    if (link.PortName.empty())
        return Status::failure(Code::PortError, ComErrorText(kOpenFailed, {}, link.SysLangId));
    const OpenResult result = slot.open(link.PortName, link.BaudRate);
    if (result.ok())
        return Status::success();
    std::string message = ComErrorText(result.code, {}, link.SysLangId);
    if (result.code == kOpenAlreadyOpen)
        return Status::failure(Code::PortError, message);
    // The system's own reason on a second line: busy, missing, or a line that
    // would not take the settings.
    if (!result.error.empty())
        message += "\n" + link.PortName + ": " + result.error;
    if (result.permissionDenied) {
        message += '\n';
        message += kPermissionHint;
    }
    return Status::failure(Code::PortError, message);
}

} // namespace

std::string ComErrorText(int code, const std::string& prefix, std::uint16_t sysLangId)
{
    const bool chinese = sysLangId == kLangIdChinese;
    const char* text = chinese ? chineseText(code) : englishText(code);
    std::string body;
    if (text)
        body = text;
    else
        body = std::string(chinese ? " 未知错误 " : " Unknown Error ") + std::to_string(code);
    return prefix + " " + body + "!";
}

Status OpenCmdPort(Link& link) { return openSlot(link, link.CmdPort); }
Status OpenTextPort(Link& link) { return openSlot(link, link.TextPort); }

bool CloseCmdPort(Link& link)
{
    link.CmdPort.close();
    return true;
}

bool CloseTextPort(Link& link)
{
    link.TextPort.close();
    return true;
}

} // namespace tarsel
