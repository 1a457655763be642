// A download run: the catalogue positions selected for it are sent to the display
// one after another, each booked as succeeded or failed, and the run ends with a
// tally. Started by the four run buttons (all fonts, one item from a file, the
// ticked pictures, the firmware update), all through one start sequence. Runs
// entirely on the calling (device worker) thread; during the run it reaches the
// window only through Outlets (progress, log lines, the firmware question), and it
// returns what happened as a RunReport, from which the window shows its boxes and
// the command line its results.
#pragma once

#include "link/link.h"
#include "link/outlets.h"
#include "link/status.h"
#include "transfer/catalogue.h"
#include "transfer/frames.h"
#include "transfer/protocol.h"
#include "util/bytes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarsel {

// Bytes of a picture position (77..90), already encoded for the model (RGB565 at
// the model's size, or JPEG); empty when the slot holds no picture.
using PictureSource = std::function<Bytes(int position)>;

// How a run (or its start) ended.
enum class RunOutcome {
    NotStarted,  // a check before the run failed, the user said No, or nothing to send
    Finished,    // all positions processed
    Abandoned,   // setup, sync or make-file failed
    TimedOut,    // the display fell silent during a block transfer
    HungUp,      // the line went away during the run
    Cancelled,   // the user cancelled (or the window closed)
};

enum class RunKind { Fonts, Single, Pictures, Firmware };

// One item the run sent (or tried to), in the order sent.
struct ItemReport {
    int position = 0;
    std::string name;        // the catalogue name ("CP437", "Picture_1", "firmware")
    Status status;           // ok: stored, the CRCs agree; Refused "CRC check error"; ...
    std::uint64_t bytes = 0;
    std::uint16_t crc = 0;   // Tarsel's CRC of the bytes sent
};

// What a run did, as data.
struct RunReport {
    RunKind kind = RunKind::Fonts;
    RunOutcome end = RunOutcome::NotStarted;
    // The run's outcome. Ok: every item sent was stored (or, with end NotStarted,
    // there was nothing to send). Otherwise the reason: for NotStarted the text the
    // window shows in its error box ("Not found the devies!..." , an open error, the
    // missing images) or Declined; Refused "n of m items failed" for a finished run
    // with failed items; BadInput when nothing could be sent at all; the step's
    // outcome for Abandoned; TimedOut; HungUp; Cancelled.
    Status status;
    int succeeded = 0;
    int failed = 0;
    std::vector<ItemReport> items;   // booked items
    // Positions not sent: not supported by the model, or no bytes (missing image,
    // unreadable file), with the reason.
    std::vector<std::pair<int, std::string>> skipped;
    std::string reportText;          // heading of the time-out and hang-up boxes
    Status restore;                  // switching the display back after a finished run
    bool displayBack = true;         // after a cancel: it answered at BaudRate again
    bool firmwareTouched = false;    // the firmware image's transfer began
    bool itemCut = false;            // an item was cut off in the display by the cancel

    // "Done! [Succeed n / Failed m]".
    std::string tallyText() const;
    // The box text of a cancelled run.
    std::string cancelledText(int baudRate) const;
    bool ok() const { return status.ok(); }
};

inline constexpr const char* kReportHeading = "Download: \r\n\r\n";
inline constexpr const char* kNoDeviceText = "Not found the devies!";
inline constexpr const char* kTimeOutText = "Time Out!";
inline constexpr const char* kUpgradeQuestion = "Do you want to upgrade the firmware?";
inline constexpr double kSpeedSwitchPauseMs = 200;  // after SwitchDeviceBaud
inline constexpr double kItemPauseMs = 100;         // after the CRC, before the method
inline constexpr double kStartFramePauseMs = 100;   // after the status, before the start frame
// After a cancel: how long the line must stay quiet before the display is spoken to
// again, and the longest that settling may take. A display receiving a named file
// drops it once its data stops for a while (two seconds for the virtual display), so
// that wait is longer.
inline constexpr double kCancelQuietMs = 300;
inline constexpr double kCancelQuietAfterStreamMs = 2500;
inline constexpr double kCancelSettleLimitMs = 4000;
// A display whose block transfer was cut asks for the block again, a second apart,
// three times, and then gives up: the line must stay quiet for longer than its
// interval before it listens again.
inline constexpr double kCancelQuietAfterBlocksMs = 2500;
inline constexpr double kCancelBlocksSettleLimitMs = 8000;
// The longest the search for the display after a cancel goes on.
inline constexpr double kCancelRecoverLimitMs = 12000;
inline constexpr int kCancelProbes = 5;             // model probes at each speed

class DownloadRun {
public:
    DownloadRun(Link& link, Outlets& outlets);

    // --- what the window supplies before a start
    void setModelIndex(int modelIndex) { m_model = modelIndex; }
    int modelIndex() const { return m_model; }
    // A run ends when the link's cancel token is cancelled (see Link::setCancel): it
    // puts the display back to BaudRate where it still answers, closes the port and
    // says in a box what was cancelled.
    // The block phase's time-out (10 000 ms unless a test shortens it).
    void setTransferTimeoutMs(double ms) { m_transferTimeoutMs = ms; }
    // Where picture positions get their bytes (any run that reaches 77..90).
    void setPictureSource(PictureSource source) { m_pictures = std::move(source); }
    // Benchmarks: collects the host's turnaround per block.
    void setTurnaroundLog(std::vector<double>* turnaround, std::vector<double>* writes = nullptr)
    {
        m_turnaround = turnaround;
        m_writes = writes;
    }

    // --- the four run buttons
    // Positions 1-76 and 92 from the carried images.
    RunReport StartFontDownload();
    // Only the given font positions (1-76, 92) from the carried images; other
    // positions are ignored, and none left ends silently.
    RunReport StartFontDownload(const std::vector<int>& positions);
    // One position from the user's file (a picture position takes its slot instead).
    RunReport StartSingleDownload(int position, const std::string& filePath);
    // The given picture positions (77..90); nothing to send ends silently.
    RunReport StartPictureDownload(const std::vector<int>& positions, PictureSource pictures);
    // Asks, restarts the display where needed, waits for it, and sends the carried
    // firmware image (after "big52gbk" when the display's version is below 12).
    RunReport StartFirmwareUpdate();
    // The firmware update takes its image from this file instead of the carried one
    // (empty: the carried image again).
    void setFirmwareFile(std::string path) { m_firmwareFile = std::move(path); }

    // --- the run state (read by tests and the window)
    std::array<bool, kDownListSize> DownList{};
    int CurrentPos = 0;
    int RunTotal = 0;
    int RunCount = 0;
    int Statistics_S = 0;
    int Statistics_F = 0;
    bool IsDownResource = false;
    std::string ReportText;
    // The bytes the run will send in all (see ByteProgress), fixed at its start, and
    // those of the items finished so far (sent or failed).
    std::uint64_t RunBytesTotal = 0;
    std::uint64_t RunBytesDone = 0;
    // The items the run sends (those with bytes to send), and the number of the one
    // being sent.
    int RunItemsToSend = 0;
    int RunItemNumber = 0;
    // The transfer state of the item being sent.
    Bytes FileData;
    std::uint16_t FileCrc = 0;
    std::string FlashAddressHexText;

    void SetDownListNull();
    int GetDownListTrueTotal() const;
    // Processes positions from CurrentPos until the run ends (a loop, not recursion).
    RunReport NextDownload();

    // The tally text "Done! [Succeed n / Failed m]".
    std::string TallyText() const;

private:
    enum class ItemResult { Booked, Abandoned, TimedOut, HungUp, Cancelled };

    // What differs between the four run buttons; everything else is one sequence.
    struct RunPlan {
        RunKind kind = RunKind::Fonts;
        int firstPosition = 1;
        int progressKind = 1;
        const char* reportText = nullptr; // nullptr: ReportText kept
        bool resources = true;            // IsDownResource
    };
    // The one start sequence: the firmware question and the display's restart (the
    // firmware update), the device found, both ends raised to the transfer speed,
    // the progress started, and the run.
    RunReport start(const RunPlan& plan);

    bool cancelled() const { return m_link.cancelled(); }
    Status openForTransfer();
    // Both ends to the transfer speed; on failure closes the port.
    Status raiseSpeed();
    // Both ends back to BaudRate, then closes.
    Status restoreSpeedAndClose();
    // After a cancel: waits until the display has let go of the cut transfer (it
    // re-requests a block a few times before it gives up, or drops a stream whose
    // data stopped), finds it at the transfer speed or at BaudRate, and leaves it at
    // BaudRate. True when it answers there.
    bool returnDisplayToBaudRate();
    // Reads and drops whatever comes until the line has been quiet for quietMs (at
    // most limitMs in all).
    void settleLine(double quietMs, double limitMs);
    bool loadItem(int position);
    ItemResult sendItem(int position);
    ItemResult sendByBlocks(int position, bool firmwareEntry);
    ItemResult sendByStream(int position);
    ItemResult finishBlockPhase(int position);
    // A setup, sync or make-file that failed: cancelled, hung up or abandoned.
    ItemResult failedStep(const Status& status);
    void book(int position, const Status& status);
    RunReport notStarted(Status status);
    RunReport abandon();
    RunReport timeOut();
    RunReport hungUp();
    RunReport cancel();
    RunReport finish();
    RunReport end(ItemResult result);
    RunReport report(RunOutcome end, Status status);
    // The catalogue positions of the selection with no carried image; `folders`
    // gets the folders searched.
    std::vector<std::string> missingImages(std::vector<std::string>& folders) const;
    bool anyImagePresent(std::vector<std::string>& folders) const;
    // Sizes every item the run will send (the carried images and the user's file by
    // their file size; pictures are encoded here once and kept for their turn) and
    // sets RunBytesTotal; RunBytesDone starts at 0.
    void planRunBytes();
    // The size an item was planned with (0 when not planned).
    std::uint64_t plannedSize(int position) const;
    // The item's first report (itemDone 0), just before its data goes out: it is
    // counted as the next item sent.
    void startItemBytes(int position);
    // Reports the item's bytes handed to the port (ShowByteProgress).
    void reportBytes(int position, std::uint64_t itemDone);

    Link& m_link;
    Outlets& m_out;
    int m_model = 0;
    RunKind m_kind = RunKind::Fonts;
    bool m_speedRaised = false;     // the display was switched to the transfer speed
    bool m_streamCut = false;       // a named-file stream was cut off by the cancel
    bool m_blocksCut = false;       // a block transfer was cut off by the cancel
    bool m_firmwareTouched = false; // the firmware image's transfer began
    std::vector<ItemReport> m_items;
    std::vector<std::pair<int, std::string>> m_skipped;
    Status m_pendingStatus;         // the abandon / hang-up outcome of the item just tried
    double m_transferTimeoutMs = kTransferTimeoutMs;
    PictureSource m_pictures;
    std::string m_userFile;
    std::string m_firmwareFile;
    std::vector<double>* m_turnaround = nullptr;
    std::vector<double>* m_writes = nullptr;
    FrameAssembler m_assembler;
    std::array<std::uint64_t, kDownListSize> m_plannedSize{};
    std::map<int, Bytes> m_preparedPictures; // encoded by planRunBytes, taken by loadItem
    bool m_runPlanned = false;
};

// The message shown before a run that finds none of its images.
std::string NoImagesMessage(const std::vector<std::string>& folders);

} // namespace tarsel
