// A download run: the catalogue positions selected for it are sent to the display
// one after another, each booked as succeeded or failed, and the run ends with a
// tally. Started by the four run buttons (all fonts, one item from a file, the
// ticked pictures, the firmware update). Runs entirely on the calling (device
// worker) thread and reaches the window only through Outlets.
#pragma once

#include "link/link.h"
#include "link/outlets.h"
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
    NotStarted,  // a check before the run failed (message shown) or the user said No
    Finished,    // all positions processed, tally shown
    Abandoned,   // setup, sync or make-file failed (message shown)
    TimedOut,    // the display fell silent during a block transfer
    HungUp,      // the line went away during the run
    Cancelled,   // the user cancelled (or the window closed)
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
    RunOutcome StartFontDownload();
    // Only the given font positions (1-76, 92) from the carried images; other
    // positions are ignored, and none left ends silently.
    RunOutcome StartFontDownload(const std::vector<int>& positions);
    // One position from the user's file (a picture position takes its slot instead).
    RunOutcome StartSingleDownload(int position, const std::string& filePath);
    // The given picture positions (77..90); nothing to send ends silently.
    RunOutcome StartPictureDownload(const std::vector<int>& positions, PictureSource pictures);
    // Asks, restarts the display where needed, waits for it, and sends the carried
    // firmware image (after "big52gbk" when the display's version is below 12).
    RunOutcome StartFirmwareUpdate();
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
    RunOutcome NextDownload();

    // The tally text "Done! [Succeed n / Failed m]".
    std::string TallyText() const;

    // The box shown when a run was cancelled; `displayBack` tells whether the display
    // answered at BaudRate afterwards.
    std::string CancelledText(bool displayBack) const;

private:
    enum class ItemResult { Booked, Abandoned, TimedOut, HungUp, Cancelled };
    enum class RunKind { Fonts, Single, Pictures, Firmware };

    bool cancelled() const { return m_link.cancelled(); }
    bool openForTransfer(std::string& message);
    // Opens CmdPort and waits for the display; on failure shows the message and closes.
    bool openAndFindDevice(std::string& message);
    // Both ends to the transfer speed; on failure shows why, closes and returns false.
    bool raiseSpeed();
    // Both ends back to BaudRate, then closes; a failure is returned in `message`.
    bool restoreSpeedAndClose(std::string& message);
    // After a cancel: lets the line settle, finds the display at the transfer speed or
    // at BaudRate, and leaves it at BaudRate. True when it answers there.
    bool returnDisplayToBaudRate();
    // Reads and drops whatever comes until the line has been quiet for quietMs.
    void settleLine(double quietMs);
    bool loadItem(int position);
    ItemResult sendItem(int position);
    ItemResult sendByBlocks(int position, bool firmwareEntry);
    ItemResult sendByStream(int position);
    ItemResult finishBlockPhase(int position);
    // A setup, sync or make-file that failed: cancelled, hung up or abandoned.
    ItemResult failedStep(const std::string& message);
    void book(int position, bool ok);
    RunOutcome abandon(const std::string& message);
    RunOutcome timeOut();
    RunOutcome hungUp(const std::string& detail);
    RunOutcome cancel();
    RunOutcome finish();
    RunOutcome end(ItemResult result);
    // The catalogue positions of the selection with no carried image; `folders`
    // gets the folders searched.
    std::vector<std::string> missingImages(std::vector<std::string>& folders) const;
    bool anyImagePresent(std::vector<std::string>& folders) const;
    RunOutcome beginRun(int firstPosition, int progressKind, const char* reportText);
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
    bool m_firmwareTouched = false; // the firmware image's transfer began
    double m_transferTimeoutMs = kTransferTimeoutMs;
    PictureSource m_pictures;
    std::string m_userFile;
    std::string m_firmwareFile;
    std::vector<double>* m_turnaround = nullptr;
    std::vector<double>* m_writes = nullptr;
    FrameAssembler m_assembler;
    std::string m_pendingError; // the abandon message of the item just tried
    std::array<std::uint64_t, kDownListSize> m_plannedSize{};
    std::map<int, Bytes> m_preparedPictures; // encoded by planRunBytes, taken by loadItem
    bool m_runPlanned = false;
};

// The message shown before a run that finds none of its images.
std::string NoImagesMessage(const std::vector<std::string>& folders);

} // namespace tarsel
