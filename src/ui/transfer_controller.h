// The window side of the download runs: the "Download File" page (item, file,
// Download, Font Download), the firmware "Update" button, and the entry the picture
// page uses to send its slots. Each run is one job on the window's device worker,
// cancelled like any job by the status bar's Cancel button.
#pragma once

#include "transfer/download_run.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QPushButton;
class TarselMain;

namespace tarsel::ui {
enum class FileKind;
struct WindowForms;
} // namespace tarsel::ui

class TransferController : public QObject {
    Q_OBJECT

public:
    // Connects to the window's controls.
    explicit TransferController(TarselMain* window);
    ~TransferController() override;

    // Starts a picture run (positions 77..90). `pictures` is called on the device
    // worker with each position and returns the bytes to store (RGB565 or JPEG for
    // the connected model), empty when that slot has nothing to send. False when the
    // window is busy and nothing was started.
    bool startPictureDownload(const std::vector<int>& positions, tarsel::PictureSource pictures);

    // Where a single download of a picture position (77..90) from the "Download File"
    // page takes its bytes (called on the device worker). Unset: such a position has
    // nothing to send.
    void setPictureSource(tarsel::PictureSource pictures);

    // Handlers (public so that tests can drive them).
    void cbbCharsetChange();
    void btn_CharacterSetSelectFileClick();
    void btn_CharacterSetDownSingleClick();
    void btn_CharacterSetDownAllClick();
    void btn_updateClick();
    // Cancels the running download: it puts the display back to its speed where it
    // still answers, closes the port and says what was cancelled.
    void cancelRun();

    bool runActive() const { return m_active; }
    tarsel::RunOutcome lastOutcome() const { return m_lastReport.end; }
    // What the last run did (its items, tally and outcome).
    const tarsel::RunReport& lastReport() const { return m_lastReport; }

    // Tests: replaces the open-file dialog (gets the folder it would open in, returns
    // the chosen path, empty = cancelled) and shortens the block phase's time-out.
    std::function<QString(const QString& folder)> fileDialogHook;
    // The file types offered by "Select File".
    static QString selectFileFilter();
    // Whose folder "Select File" opens in and remembers: the firmware item's own, or
    // the one of every other item.
    tarsel::ui::FileKind selectFileKind() const;
    // The window's Cancel button in the status bar, shown while any job runs.
    QPushButton* cancelButton() const;
    void setTransferTimeoutMs(double ms);

signals:
    void runStarted();
    void runFinished(int outcome); // a tarsel::RunOutcome

private:
    const tarsel::ui::WindowForms& forms() const;
    bool startRun(std::function<tarsel::RunReport(tarsel::DownloadRun&)> body);

    TarselMain* m_window;
    std::unique_ptr<tarsel::DownloadRun> m_run;
    bool m_active = false;
    tarsel::RunReport m_lastReport;
    std::shared_ptr<tarsel::PictureSource> m_singlePictures;
};
