#include "transfer/download_run.h"

#include "link/commands.h"
#include "link/models.h"
#include "link/ports.h"
#include "transfer/crc16.h"
#include "transfer/resources.h"
#include "util/files.h"
#include "util/hex.h"

#include <algorithm>
#include <filesystem>

namespace tarsel {

namespace {

bool isPicturePosition(int position) { return position >= kFirstPicturePos && position <= kLastPicturePos; }
bool isFontPosition(int position) { return position >= kFirstFontPos && position <= kLastFontPos; }

// The position given to the progress outlets when no picture slot is involved.
constexpr int kNoSlot = 0;

} // namespace

std::string NoImagesMessage(const std::vector<std::string>& folders)
{
    std::string text = "None of the display maker's images needed for this download were found.\n"
                       "Put the maker's resource pack (files such as CP437_800x480.bin, big52gbk.bin, "
                       "KT310II.bin) into one of these folders:";
    for (const auto& folder : folders)
        text += "\n" + folder;
    return text;
}

DownloadRun::DownloadRun(Link& link, Outlets& outlets) : m_link(link), m_out(outlets) { SetDownListNull(); }

void DownloadRun::SetDownListNull()
{
    DownList.fill(false);
    DownList[kEndOfRun] = true;
}

int DownloadRun::GetDownListTrueTotal() const
{
    int total = 0;
    for (int i = 0; i < kEndOfRun; ++i)
        if (DownList[static_cast<std::size_t>(i)])
            ++total;
    return total;
}

std::string DownloadRun::TallyText() const
{
    return "Done! [Succeed " + std::to_string(Statistics_S) + " / Failed " + std::to_string(Statistics_F) + "]";
}

std::string RunReport::tallyText() const
{
    return "Done! [Succeed " + std::to_string(succeeded) + " / Failed " + std::to_string(failed) + "]";
}

std::string RunReport::cancelledText(int baudRate) const
{
    std::string text;
    switch (kind) {
    case RunKind::Fonts: text = "The font download was cancelled."; break;
    case RunKind::Single: text = "The download was cancelled."; break;
    case RunKind::Pictures: text = "The picture download was cancelled."; break;
    case RunKind::Firmware: text = "The firmware update was cancelled."; break;
    }
    text += " [Succeed " + std::to_string(succeeded) + " / Failed " + std::to_string(failed) + "]";
    if (firmwareTouched)
        text += "\n\nThe display holds an incomplete firmware image: update the firmware again before using it.";
    else if (kind != RunKind::Firmware && itemCut)
        text += "\nThe item being sent when it was cancelled is incomplete in the display.";
    if (!displayBack)
        text += "\n\nThe display did not answer at " + std::to_string(baudRate) +
                " bit/s afterwards: press Connect before the next command.";
    return text;
}

// ---------------------------------------------------------------------------
// Run starts

RunReport DownloadRun::StartFontDownload()
{
    std::vector<int> positions;
    for (int pos = kFirstFontPos; pos <= kLastFontPos; ++pos)
        positions.push_back(pos);
    positions.push_back(kBig52GbkPos);
    return StartFontDownload(positions);
}

RunReport DownloadRun::StartFontDownload(const std::vector<int>& positions)
{
    m_kind = RunKind::Fonts;
    SetDownListNull();
    bool any = false;
    for (int pos : positions) {
        if (isFontPosition(pos) || pos == kBig52GbkPos) {
            DownList[static_cast<std::size_t>(pos)] = true;
            any = true;
        }
    }
    if (!any)
        return notStarted(Status::success("Nothing to send."));
    std::vector<std::string> folders;
    if (!anyImagePresent(folders))
        return notStarted(Status::failure(Code::BadInput, NoImagesMessage(folders)));
    return start({RunKind::Fonts, kFirstFontPos, 1, kReportHeading, true});
}

RunReport DownloadRun::StartSingleDownload(int position, const std::string& filePath)
{
    m_kind = RunKind::Single;
    if (position < 1 || position > kCatalogueSize)
        return notStarted(Status::failure(Code::BadInput, "There is no catalogue position " + std::to_string(position) + "."));
    SetDownListNull();
    DownList[static_cast<std::size_t>(position)] = true;
    m_userFile = filePath;
    return start({RunKind::Single, position, 1, nullptr, false});
}

RunReport DownloadRun::StartPictureDownload(const std::vector<int>& positions, PictureSource pictures)
{
    m_kind = RunKind::Pictures;
    SetDownListNull();
    bool any = false;
    for (int pos : positions) {
        if (isPicturePosition(pos)) {
            DownList[static_cast<std::size_t>(pos)] = true;
            any = true;
        }
    }
    if (!any)
        return notStarted(Status::success("Nothing to send."));
    m_pictures = std::move(pictures);
    return start({RunKind::Pictures, kFirstPicturePos, 2, kReportHeading, false});
}

RunReport DownloadRun::StartFirmwareUpdate()
{
    m_kind = RunKind::Firmware;
    // Without an image for this model there is nothing to update with: say so
    // before touching the display.
    const std::string imageName = FirmwareResourceName(m_model);
    if (!m_firmwareFile.empty()) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(m_firmwareFile, error))
            return notStarted(
                Status::failure(Code::BadInput, "Cannot read the firmware image \"" + m_firmwareFile + "\"."));
    }
    const ResourceLookup image = m_firmwareFile.empty() ? FindResource(imageName) : ResourceLookup{true, m_firmwareFile, {}};
    if (!image.found)
        return notStarted(Status::failure(Code::BadInput, "There is no firmware image \"" + imageName + "\" for the " +
                                                              ModelName(m_model) +
                                                              " display, so it cannot be updated.\nPut the maker's "
                                                              "firmware image (" +
                                                              imageName + ".bin) into one of these folders:\n" +
                                                              JoinFolders(image.searched)));
    return start({RunKind::Firmware, 1, 1, nullptr, true});
}

RunReport DownloadRun::start(const RunPlan& plan)
{
    m_kind = plan.kind;
    m_speedRaised = m_streamCut = m_blocksCut = m_firmwareTouched = false;
    m_items.clear();
    m_skipped.clear();
    Statistics_S = Statistics_F = 0;
    RunCount = 0;
    const bool firmware = plan.kind == RunKind::Firmware;
    auto stop = [&](Status status) { return cancelled() ? cancel() : notStarted(std::move(status)); };

    if (firmware) {
        // The update asks first, restarts the addressed-flash models into their
        // loader, and chooses what to send by the display's version.
        if (m_out.ShowMessageBox(kUpgradeQuestion, kBoxQuestion) != kAnswerYes)
            return notStarted(Status::failure(Code::Declined, "The firmware update was not confirmed."));
        if (!IsNamedFileModel(m_model))
            RestartDisplay(m_link);
        if (Status ready = WaitDeviceReady(m_link, false); !ready.ok()) {
            if (ready.code != Code::Cancelled && ready.code != Code::HungUp)
                ready.text = std::string(kNoDeviceText) + ready.text;
            return stop(ready);
        }
        SetDownListNull();
        int version = 0;
        ReadVersion(m_link, version);
        if (cancelled())
            return cancel();
        if (version < kCarriedFirmwareVersion)
            DownList[kBig52GbkPos] = true;
        DownList[kFirmwarePos] = true;
    }
    if (Status opened = openForTransfer(); !opened.ok())
        return stop(opened);
    if (!firmware) {
        if (Status ready = WaitDeviceReady(m_link, true); !ready.ok()) {
            CloseCmdPort(m_link);
            if (ready.code != Code::Cancelled && ready.code != Code::HungUp)
                ready.text = std::string(kNoDeviceText) + ready.text;
            return stop(ready);
        }
        if (cancelled())
            return cancel();
    }
    if (plan.kind == RunKind::Pictures) {
        m_out.StartProgress("", 100, plan.progressKind);
        ReportText = plan.reportText;
    }
    if (Status raised = raiseSpeed(); !raised.ok())
        return stop(raised);
    if (plan.kind == RunKind::Pictures) {
        // The display is asked again at the new speed before the first picture.
        if (Status ready = WaitDeviceReady(m_link, true); !ready.ok()) {
            if (cancelled())
                return cancel();
            restoreSpeedAndClose();
            return notStarted(ready);
        }
    } else {
        m_out.StartProgress("", 100, plan.progressKind);
        if (plan.reportText)
            ReportText = plan.reportText;
    }
    IsDownResource = plan.resources;
    RunTotal = GetDownListTrueTotal();
    CurrentPos = plan.firstPosition;
    // Bytes left from an earlier run belong to a closed line.
    m_assembler.clear();
    planRunBytes();
    return NextDownload();
}

Status DownloadRun::openForTransfer()
{
    if (!m_link.CmdPort.isOpen()) {
        if (Status opened = OpenCmdPort(m_link); !opened.ok())
            return opened;
    }
    // USB serial adapters otherwise hold small answers back for milliseconds.
    m_link.CmdPort.requestLowLatency();
    return Status::success();
}

Status DownloadRun::raiseSpeed()
{
    const Status result = SwitchLineSpeed(m_link, kTransferBaud, kSpeedSwitchPauseMs);
    if (result.ok()) {
        m_speedRaised = true;
        return result;
    }
    if (result.cancelled()) {
        m_speedRaised = true; // it may have switched: the cancel finds it at either speed
        return result;
    }
    // The display may have switched although the PC could not: it is left to the
    // next Connect, which finds it at whatever speed it runs.
    CloseCmdPort(m_link);
    return result;
}

Status DownloadRun::restoreSpeedAndClose()
{
    Status status;
    if (m_speedRaised) {
        status = SwitchLineSpeed(m_link, m_link.BaudRate, kSpeedSwitchPauseMs);
        m_speedRaised = false;
    }
    CloseCmdPort(m_link);
    return status;
}

void DownloadRun::settleLine(double quietMs, double limitMs)
{
    SerialPort& port = m_link.CmdPort;
    Clock& clock = m_link.clock;
    const double start = clock.nowMs();
    double lastByte = start;
    while (clock.nowMs() - start < limitMs && !port.hungUp()) {
        const double quietLeft = lastByte + quietMs - clock.nowMs();
        if (quietLeft <= 0)
            return;
        if (port.waitReadable(quietLeft)) {
            Bytes dropped;
            std::string ignored;
            if (port.read(dropped, ignored))
                lastByte = clock.nowMs();
        }
    }
}

bool DownloadRun::returnDisplayToBaudRate()
{
    SerialPort& port = m_link.CmdPort;
    Clock& clock = m_link.clock;
    const double started = clock.nowMs();
    std::string message;
    // What was written reaches the display first (the rest of a cut stream is thrown
    // away); then it gets a quiet line, so that it ends (or drops) what it was doing
    // and its last answers are out of the way. A display pulling blocks asks again a
    // few times before it gives up: the line must stay quiet longer than it waits.
    if (m_streamCut)
        port.purgeOutput();
    port.drainOutput(StreamDrainLimitMs(0), message);
    if (m_blocksCut)
        settleLine(kCancelQuietAfterBlocksMs, kCancelBlocksSettleLimitMs);
    else
        settleLine(m_streamCut ? kCancelQuietAfterStreamMs : kCancelQuietMs, kCancelSettleLimitMs);
    auto answersHere = [&] {
        for (int i = 0; i < kCancelProbes && !port.hungUp(); ++i) {
            port.purgeInput();
            if (ProbeModel(m_link).ok())
                return true;
            m_link.pause(kDeviceReadyPauseMs);
        }
        return false;
    };
    const int transferSpeed = kTransferBaud;
    bool tryTransferSpeed = m_speedRaised;
    m_speedRaised = false;
    // The display may still be busy with what it was cut off from, at either speed:
    // look at both until it answers or the search has gone on long enough.
    do {
        if (tryTransferSpeed) {
            port.setBaud(transferSpeed);
            if (answersHere()) {
                if (!SwitchLineSpeed(m_link, m_link.BaudRate, kSpeedSwitchPauseMs).ok())
                    return false;
                return answersHere();
            }
        }
        port.setBaud(m_link.BaudRate);
        if (answersHere())
            return true;
        if (!tryTransferSpeed)
            return false;
    } while (!port.hungUp() && clock.nowMs() - started < kCancelRecoverLimitMs);
    return false;
}

// ---------------------------------------------------------------------------
// The step routine

RunReport DownloadRun::NextDownload()
{
    for (;;) {
        if (cancelled())
            return cancel();
        if (CurrentPos < 0 || CurrentPos > kEndOfRun)
            CurrentPos = kEndOfRun;
        if (!DownList[static_cast<std::size_t>(CurrentPos)]) {
            ++CurrentPos;
            continue;
        }
        // Lets the display settle; the outcome is not used.
        const Status ready = WaitDeviceReady(m_link, true);
        if (cancelled())
            return cancel();
        if (m_link.CmdPort.hungUp()) {
            m_pendingStatus = Status::failure(Code::HungUp, ready.text);
            return hungUp();
        }
        if (CurrentPos == kEndOfRun)
            return finish();

        const DownloadItem& item = DownloadItemAt(CurrentPos);
        if (!IsItemSupported(CurrentPos, m_model)) {
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [" + "Failed" + "]:not suport", true);
            m_skipped.emplace_back(CurrentPos, "not supported by the " + ModelName(m_model));
            ++CurrentPos;
            continue;
        }
        if (!loadItem(CurrentPos)) {
            ++CurrentPos;
            continue;
        }
        const ItemResult result = sendItem(CurrentPos);
        if (result != ItemResult::Booked)
            return end(result);
    }
}

void DownloadRun::planRunBytes()
{
    m_plannedSize.fill(0);
    m_preparedPictures.clear();
    m_runPlanned = true;
    RunBytesTotal = 0;
    RunBytesDone = 0;
    RunItemsToSend = 0;
    RunItemNumber = 0;
    for (int pos = 1; pos <= kCatalogueSize; ++pos) {
        const auto index = static_cast<std::size_t>(pos);
        if (!DownList[index] || !IsItemSupported(pos, m_model))
            continue;
        std::uint64_t size = 0;
        std::error_code error;
        if (isPicturePosition(pos)) {
            if (m_pictures) {
                Bytes picture = m_pictures(pos);
                size = picture.size();
                if (!picture.empty())
                    m_preparedPictures.emplace(pos, std::move(picture));
            }
        } else if (IsDownResource) {
            const ResourceLookup lookup = FindResource(ResourceName(pos, m_model));
            if (lookup.found)
                size = std::filesystem::file_size(lookup.path, error);
        } else if (!m_userFile.empty() && std::filesystem::is_regular_file(m_userFile, error)) {
            size = std::filesystem::file_size(m_userFile, error);
        }
        if (error)
            size = 0;
        m_plannedSize[index] = size;
        RunBytesTotal += size;
        if (size > 0)
            ++RunItemsToSend;
    }
}

std::uint64_t DownloadRun::plannedSize(int position) const
{
    return position >= 0 && position < kDownListSize ? m_plannedSize[static_cast<std::size_t>(position)] : 0;
}

void DownloadRun::startItemBytes(int position)
{
    ++RunItemNumber;
    reportBytes(position, 0);
}

void DownloadRun::reportBytes(int position, std::uint64_t itemDone)
{
    ByteProgress progress;
    progress.position = position;
    progress.item = RunItemNumber;
    progress.itemCount = std::max(RunItemsToSend, RunItemNumber);
    progress.itemTotal = FileData.size();
    progress.itemDone = std::min<std::uint64_t>(itemDone, progress.itemTotal);
    progress.runTotal = RunBytesTotal;
    progress.runDone = std::min(RunBytesDone + progress.itemDone, RunBytesTotal);
    progress.lineBytesPerSecond = (m_speedRaised ? kTransferBaud : m_link.BaudRate) / 10;
    m_out.ShowByteProgress(progress);
}

bool DownloadRun::loadItem(int position)
{
    const DownloadItem& item = DownloadItemAt(position);
    FileData.clear();
    if (isPicturePosition(position)) {
        // Encoded when the run was planned; a source set later is asked now.
        if (auto prepared = m_preparedPictures.find(position); prepared != m_preparedPictures.end()) {
            FileData = std::move(prepared->second);
            m_preparedPictures.erase(prepared);
        } else if (m_pictures && !m_runPlanned) {
            FileData = m_pictures(position);
        }
    } else if (IsDownResource && position == kFirmwarePos && !m_firmwareFile.empty()) {
        FileData = ReadFileBytes(m_firmwareFile);
        if (FileData.empty()) {
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [Failed]:cannot read " + m_firmwareFile, true);
            m_skipped.emplace_back(position, "cannot read " + m_firmwareFile);
        }
    } else if (IsDownResource) {
        const std::string name = ResourceName(position, m_model);
        ResourceLookup lookup;
        FileData = LoadResource(name, &lookup);
        if (!lookup.found) {
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [Failed]:no image " + name + ".bin in " +
                                        JoinFolders(lookup.searched),
                                    true);
            m_skipped.emplace_back(position, "no image " + name + ".bin");
        }
    } else if (!m_userFile.empty()) {
        // The length goes out as 4 bytes: a longer file is refused by its size, unread.
        std::string reason;
        switch (ReadRegularFile(m_userFile, 0xFFFFFFFFu, FileData, reason)) {
        case ReadStatus::Ok: break;
        case ReadStatus::TooLarge:
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [Failed]:file too large", true);
            m_skipped.emplace_back(position, "file too large");
            break;
        default:
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [Failed]:cannot read " + m_userFile + " (" + reason + ")",
                                    true);
            m_skipped.emplace_back(position, "cannot read " + m_userFile + " (" + reason + ")");
        }
    }
    FlashAddressHexText = FlashAddressHex(position);
    // A file that changed since the run was planned corrects the run's total.
    const std::uint64_t planned = plannedSize(position);
    RunBytesTotal = RunBytesTotal - std::min(planned, RunBytesTotal) + FileData.size();
    if (planned > 0 && FileData.empty())
        --RunItemsToSend;
    else if (planned == 0 && !FileData.empty())
        ++RunItemsToSend;
    m_plannedSize[static_cast<std::size_t>(position)] = FileData.size();
    return !FileData.empty();
}

DownloadRun::ItemResult DownloadRun::sendItem(int position)
{
    FileCrc = Crc16(FileData);
    if (!m_link.pause(kItemPauseMs))
        return ItemResult::Cancelled;
    if (position == kFirmwarePos)
        m_firmwareTouched = true;
    if (m_model == 2 && position == kFirmwarePos)
        return sendByBlocks(position, true);
    if (IsNamedFileModel(m_model))
        return sendByStream(position);
    return sendByBlocks(position, false);
}

DownloadRun::ItemResult DownloadRun::sendByBlocks(int position, bool firmwareEntry)
{
    const DownloadItem& item = DownloadItemAt(position);
    const auto length = static_cast<std::uint32_t>(FileData.size());
    Status started;
    if (firmwareEntry) {
        if (Status ready = WaitUpgradeReady(m_link); !ready.ok())
            return failedStep(ready);
        // The loader's progress belongs to no picture slot; the run's count is not advanced.
        m_out.SetProgressMax(BlockCount(FileData.size()), kNoSlot);
        m_out.ShowTransferStatus("Firmware Updating......", "1 of  1", kNoSlot);
        startItemBytes(position);
        started = SendAnnounce(m_link, length, FileCrc);
    } else {
        if (Status setup = DownloadServiceSetup(m_link, FlashAddressHexText, IntToHexDigits(length, 8)); !setup.ok())
            return failedStep(setup);
        m_out.SetProgressMax(BlockCount(FileData.size()), position);
        ++RunCount;
        m_out.ShowTransferStatus(std::string("Download ") + item.Name,
                                 std::to_string(RunCount) + " of  " + std::to_string(RunTotal), position);
        if (!m_link.pause(kStartFramePauseMs))
            return ItemResult::Cancelled;
        startItemBytes(position);
        started = SendStartDownload(m_link);
    }
    // From the start frame on the display pulls the file: a cancel must wait until it
    // has let go of it.
    m_blocksCut = true;
    if (!started.ok()) {
        if (started.cancelled())
            return ItemResult::Cancelled;
        return failedStep(started);
    }
    return finishBlockPhase(position);
}

DownloadRun::ItemResult DownloadRun::finishBlockPhase(int position)
{
    BlockPhaseOptions options;
    options.timeoutMs = m_transferTimeoutMs;
    options.turnaroundMs = m_turnaround;
    options.writeMs = m_writes;
    // The bytes answered so far: the display asks for the blocks in order and may
    // ask for one again, so the furthest block answered counts.
    std::uint64_t furthest = 0;
    options.onBlockSent = [this, position, &furthest](std::uint32_t blockNumber) {
        m_out.SetProgressPosition(static_cast<int>(blockNumber) + 1, position);
        furthest = std::max<std::uint64_t>(furthest, (std::uint64_t{blockNumber} + 1) * kBlockSize);
        reportBytes(position, furthest);
    };
    const BlockPhaseResult result = RunBlockPhase(m_link, m_assembler, FileData, FileCrc, options);
    switch (result.status.code) {
    case Code::Ok:
        m_blocksCut = false;
        book(position, result.crcMatches ? Status::success() : Status::failure(Code::Refused, "CRC check error"));
        return ItemResult::Booked;
    case Code::TimedOut:
        return ItemResult::TimedOut;
    case Code::Cancelled:
        return ItemResult::Cancelled;
    case Code::HungUp:
        m_pendingStatus = result.status;
        return ItemResult::HungUp;
    default:
        // A block that could not be written: the port is broken, the run cannot go on.
        m_pendingStatus = result.status;
        return m_link.CmdPort.hungUp() ? ItemResult::HungUp : ItemResult::Abandoned;
    }
}

DownloadRun::ItemResult DownloadRun::sendByStream(int position)
{
    const DownloadItem& item = DownloadItemAt(position);
    if (Status made = MakeFile(m_link, item.FileName, std::to_string(FileData.size()), std::to_string(FileCrc));
        !made.ok()) {
        // Cancelled while its answer was awaited, the make-file may have been taken:
        // the display then waits for the file's data and drops it only once the data
        // has stopped for a while, as after a cut stream.
        if (made.cancelled())
            m_streamCut = true;
        return failedStep(made);
    }
    m_out.SetProgressMax(BlockCount(FileData.size()), position);
    ++RunCount;
    m_out.ShowTransferStatus(std::string("Download ") + item.Name,
                             std::to_string(RunCount) + " of  " + std::to_string(RunTotal), position);
    startItemBytes(position);
    StreamOptions options;
    options.onPieceSent = [this, position](int piece) {
        m_out.SetProgressPosition(piece, position);
        reportBytes(position, static_cast<std::uint64_t>(piece) * kStreamPieceSize);
    };
    const Status streamed = StreamFile(m_link, FileData, options);
    switch (streamed.code) {
    case Code::Ok:
        break;
    case Code::Cancelled:
        m_streamCut = true;
        return ItemResult::Cancelled;
    case Code::HungUp:
        m_pendingStatus = streamed;
        return ItemResult::HungUp;
    default:
        // The display waits for the rest in vain: the item failed (the display drops
        // it once the data stops).
        book(position, streamed);
        return ItemResult::Booked;
    }
    if (!m_link.pause(kStreamSettleMs))
        return ItemResult::Cancelled;
    const Status crc = WaitFileCrc(m_link, std::to_string(FileCrc));
    if (crc.cancelled())
        return ItemResult::Cancelled;
    if (!crc.ok() && m_link.CmdPort.hungUp()) {
        m_pendingStatus = Status::failure(Code::HungUp, crc.text);
        return ItemResult::HungUp;
    }
    book(position, crc);
    return ItemResult::Booked;
}

void DownloadRun::book(int position, const Status& status)
{
    const DownloadItem& item = DownloadItemAt(position);
    // Sent or failed, the item's bytes are behind the run now.
    RunBytesDone = std::min(RunBytesDone + FileData.size(), RunBytesTotal);
    m_items.push_back({position, item.Name, status, FileData.size(), FileCrc});
    if (status.ok()) {
        ++Statistics_S;
        if (isFontPosition(position))
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [" + "Succeed" + "]", false);
    } else {
        ++Statistics_F;
        if (isFontPosition(position))
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [" + "Failed" + "]:CRC check error", true);
    }
    ++CurrentPos;
}

// ---------------------------------------------------------------------------
// Ends of a run

RunReport DownloadRun::report(RunOutcome end, Status status)
{
    m_preparedPictures.clear();
    RunReport r;
    r.kind = m_kind;
    r.end = end;
    r.status = std::move(status);
    r.succeeded = Statistics_S;
    r.failed = Statistics_F;
    r.items = m_items;
    r.skipped = m_skipped;
    r.reportText = ReportText;
    r.firmwareTouched = m_firmwareTouched;
    return r;
}

RunReport DownloadRun::notStarted(Status status)
{
    return report(RunOutcome::NotStarted, std::move(status));
}

RunReport DownloadRun::end(ItemResult result)
{
    switch (result) {
    case ItemResult::Abandoned:
        return abandon();
    case ItemResult::TimedOut:
        return timeOut();
    case ItemResult::HungUp:
        return hungUp();
    case ItemResult::Cancelled:
        return cancel();
    case ItemResult::Booked:
        break;
    }
    return finish();
}

namespace {

// "CP437 (CRC check error), Picture_1 (Download failed : Crc)".
std::string failedItems(const std::vector<ItemReport>& items)
{
    std::string text;
    for (const ItemReport& item : items) {
        if (item.status.ok())
            continue;
        if (!text.empty())
            text += ", ";
        text += item.name + " (" + item.status.text + ")";
    }
    return text;
}

std::string plural(int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

} // namespace

RunReport DownloadRun::finish()
{
    const Status restored = restoreSpeedAndClose();
    m_out.StopElapsedTimer();
    Status status;
    if (Statistics_F > 0) {
        status = Status::failure(Code::Refused, plural(Statistics_F, "item", "items") + " of " +
                                                    std::to_string(Statistics_S + Statistics_F) +
                                                    " failed: " + failedItems(m_items));
    } else if (Statistics_S == 0) {
        // Nothing reached the display: say why.
        std::string why;
        for (const auto& [position, reason] : m_skipped)
            why += std::string(why.empty() ? "" : "; ") + DownloadItemAt(position).Name + ": " + reason;
        status = Status::failure(Code::BadInput, why.empty() ? "Nothing was sent." : "Nothing was sent (" + why + ").");
    } else if (!restored.ok()) {
        status = restored;
    } else {
        status = Status::success(plural(Statistics_S, "item", "items") + " stored.");
    }
    RunReport r = report(RunOutcome::Finished, status);
    r.restore = restored;
    return r;
}

RunReport DownloadRun::abandon()
{
    restoreSpeedAndClose();
    return report(RunOutcome::Abandoned, m_pendingStatus);
}

RunReport DownloadRun::timeOut()
{
    // The display is left at the transfer speed; the next command opens at BaudRate.
    CloseCmdPort(m_link);
    m_speedRaised = false;
    return report(RunOutcome::TimedOut, Status::failure(Code::TimedOut, kTimeOutText));
}

RunReport DownloadRun::hungUp()
{
    CloseCmdPort(m_link);
    m_speedRaised = false;
    return report(RunOutcome::HungUp, Status::failure(Code::HungUp, m_pendingStatus.text));
}

RunReport DownloadRun::cancel()
{
    // What follows puts the display back and must run to its end, whatever the token says.
    CancelScope cleanup(m_link, nullptr);
    const bool back = m_link.CmdPort.isOpen() && !m_link.CmdPort.hungUp() && returnDisplayToBaudRate();
    CloseCmdPort(m_link);
    m_speedRaised = false;
    m_blocksCut = m_streamCut = false;
    RunReport r = report(RunOutcome::Cancelled, Status::failure(Code::Cancelled, kCancelledText));
    r.displayBack = back;
    r.itemCut = m_kind != RunKind::Firmware && RunCount > Statistics_S + Statistics_F;
    return r;
}

DownloadRun::ItemResult DownloadRun::failedStep(const Status& status)
{
    if (cancelled() || status.cancelled())
        return ItemResult::Cancelled;
    m_pendingStatus = status;
    return m_link.CmdPort.hungUp() || status.code == Code::HungUp ? ItemResult::HungUp : ItemResult::Abandoned;
}

// ---------------------------------------------------------------------------
// Carried images

std::vector<std::string> DownloadRun::missingImages(std::vector<std::string>& folders) const
{
    std::vector<std::string> missing;
    for (int pos = 1; pos <= kCatalogueSize; ++pos) {
        if (!DownList[static_cast<std::size_t>(pos)] || isPicturePosition(pos) || !IsItemSupported(pos, m_model))
            continue;
        const ResourceLookup lookup = FindResource(ResourceName(pos, m_model));
        folders = lookup.searched;
        if (!lookup.found)
            missing.push_back(ResourceName(pos, m_model));
    }
    return missing;
}

bool DownloadRun::anyImagePresent(std::vector<std::string>& folders) const
{
    int needed = 0;
    for (int pos = 1; pos <= kCatalogueSize; ++pos)
        if (DownList[static_cast<std::size_t>(pos)] && !isPicturePosition(pos) && IsItemSupported(pos, m_model))
            ++needed;
    folders = ResourceFolders();
    if (needed == 0)
        return true;
    return static_cast<int>(missingImages(folders).size()) < needed;
}

} // namespace tarsel
