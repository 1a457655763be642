// The window's boxes for the outcomes of its jobs: the texts and icons the window has
// always shown, made from what a procedure returned. Plain functions of the outcome,
// no widgets: the controllers show what they return through the outlets.
#pragma once

#include "link/connect.h"
#include "link/status.h"
#include "settings/settings_ops.h"
#include "transfer/download_run.h"

#include <vector>

namespace tarsel::ui {

// A failed command's text with the error icon; nothing for success, a cancelled job
// or a No to the question.
Notice FailureNotice(const Status& status);
// A "Setting" button of several commands: "Done!" (information), or the first
// failure's text (error); nothing for a cancelled job.
Notice SettingNotice(const ProcedureReport& report);
// The baud-rate and command-set buttons: "Done!" or "Fail!" (warning).
Notice DoneOrFailNotice(const Status& status);
// "All Download": the report, with the warning icon when a command failed.
Notice AllDownloadNotice(const ProcedureReport& report);
// "Show QrCode" from a picture file: "Error：" + code, or the speed failure; nothing
// when the port could not be opened or the job was cancelled.
Notice QrPictureNotice(const QrPictureReport& report);
// Connect found no display: the last detection's message (error icon).
Notice ConnectFailedNotice(const ConnectResult& result);
// A download run's boxes, in the order shown: the start's failure, the tally (and a
// failed speed restore after it), the abandon, time-out and hang-up texts, or what
// was cancelled.
std::vector<Notice> RunNotices(const RunReport& report, int baudRate);

// Shows the notice through the outlets when it has a text.
void ShowNotice(Outlets& outlets, const Notice& notice);

} // namespace tarsel::ui
