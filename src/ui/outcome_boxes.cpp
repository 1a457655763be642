#include "ui/outcome_boxes.h"

#include "link/outlets.h"

namespace tarsel::ui {

namespace {

bool quiet(const Status& status)
{
    return status.ok() || status.code == Code::Cancelled || status.code == Code::Declined;
}

} // namespace

Notice FailureNotice(const Status& status)
{
    if (quiet(status))
        return {};
    return {status.text, kBoxError};
}

Notice SettingNotice(const ProcedureReport& report)
{
    if (report.status.ok())
        return {kDone, kBoxInfo};
    return FailureNotice(report.status);
}

Notice DoneOrFailNotice(const Status& status)
{
    if (status.ok())
        return {kDone, kBoxInfo};
    if (status.cancelled())
        return {};
    return {kFail, kBoxWarning};
}

Notice AllDownloadNotice(const ProcedureReport& report)
{
    if (report.status.cancelled())
        return {};
    bool anyFailed = false;
    for (const StepOutcome& step : report.steps)
        anyFailed = anyFailed || !step.status.ok();
    return {AllDownloadReportText(report), anyFailed ? kBoxWarning : kBoxInfo};
}

Notice QrPictureNotice(const QrPictureReport& report)
{
    if (!report.opened)
        return {};
    return FailureNotice(report.status);
}

Notice ConnectFailedNotice(const ConnectResult& result)
{
    if (result.found() || result.status.cancelled())
        return {};
    return {result.lastMessage, kBoxError};
}

std::vector<Notice> RunNotices(const RunReport& report, int baudRate)
{
    std::vector<Notice> notices;
    switch (report.end) {
    case RunOutcome::NotStarted:
        if (Notice n = FailureNotice(report.status); !n.text.empty())
            notices.push_back(n);
        break;
    case RunOutcome::Finished:
        // A run in which any item failed is a partial failure: the warning icon.
        notices.push_back({report.tallyText(), report.failed > 0 ? kBoxWarning : kBoxInfo});
        if (!report.restore.ok())
            notices.push_back({report.restore.text, kBoxError});
        break;
    case RunOutcome::Abandoned:
        notices.push_back({report.status.text, kBoxError});
        break;
    case RunOutcome::TimedOut:
        notices.push_back({report.reportText + kTimeOutText, kBoxError});
        break;
    case RunOutcome::HungUp: {
        std::string text =
            report.reportText + "The serial line hung up during the download; the display is no longer connected.";
        if (!report.status.text.empty())
            text += "\n(" + report.status.text + ")";
        notices.push_back({text, kBoxError});
        break;
    }
    case RunOutcome::Cancelled:
        notices.push_back({report.cancelledText(baudRate),
                           report.firmwareTouched || !report.displayBack ? kBoxWarning : kBoxInfo});
        break;
    }
    return notices;
}

void ShowNotice(Outlets& outlets, const Notice& notice)
{
    if (!notice.text.empty())
        outlets.ShowMessageBox(notice.text, notice.flags);
}

} // namespace tarsel::ui
