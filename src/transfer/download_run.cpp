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

// ---------------------------------------------------------------------------
// Run starts

RunOutcome DownloadRun::StartFontDownload()
{
    std::vector<int> positions;
    for (int pos = kFirstFontPos; pos <= kLastFontPos; ++pos)
        positions.push_back(pos);
    positions.push_back(kBig52GbkPos);
    return StartFontDownload(positions);
}

RunOutcome DownloadRun::StartFontDownload(const std::vector<int>& positions)
{
    SetDownListNull();
    bool any = false;
    for (int pos : positions) {
        if (isFontPosition(pos) || pos == kBig52GbkPos) {
            DownList[static_cast<std::size_t>(pos)] = true;
            any = true;
        }
    }
    if (!any)
        return RunOutcome::NotStarted;
    IsDownResource = true;
    m_kind = RunKind::Fonts;
    std::vector<std::string> folders;
    if (!anyImagePresent(folders)) {
        m_out.ShowMessageBox(NoImagesMessage(folders), kBoxError);
        return RunOutcome::NotStarted;
    }
    return beginRun(kFirstFontPos, 1, kReportHeading);
}

RunOutcome DownloadRun::StartSingleDownload(int position, const std::string& filePath)
{
    if (position < 1 || position > kCatalogueSize)
        return RunOutcome::NotStarted;
    SetDownListNull();
    DownList[static_cast<std::size_t>(position)] = true;
    IsDownResource = false;
    m_userFile = filePath;
    m_kind = RunKind::Single;
    return beginRun(position, 1, nullptr);
}

RunOutcome DownloadRun::StartPictureDownload(const std::vector<int>& positions, PictureSource pictures)
{
    SetDownListNull();
    bool any = false;
    for (int pos : positions) {
        if (isPicturePosition(pos)) {
            DownList[static_cast<std::size_t>(pos)] = true;
            any = true;
        }
    }
    if (!any)
        return RunOutcome::NotStarted;
    m_pictures = std::move(pictures);
    m_kind = RunKind::Pictures;
    m_speedRaised = m_streamCut = m_firmwareTouched = false;

    std::string message;
    if (!openAndFindDevice(message))
        return RunOutcome::NotStarted;
    if (cancelled())
        return cancel();
    m_out.StartProgress("", 100, 2);
    ReportText = kReportHeading;
    IsDownResource = false;
    if (!raiseSpeed()) {
        m_out.ResetProgress();
        return cancelled() ? cancel() : RunOutcome::NotStarted;
    }
    if (!WaitDeviceReady(m_link, true, message)) {
        if (cancelled())
            return cancel();
        std::string ignored;
        restoreSpeedAndClose(ignored);
        m_out.ResetProgress();
        m_out.ShowMessageBox(message, kBoxError);
        return RunOutcome::NotStarted;
    }
    RunTotal = GetDownListTrueTotal();
    Statistics_S = Statistics_F = 0;
    RunCount = 0;
    CurrentPos = kFirstPicturePos;
    m_assembler.clear();
    planRunBytes();
    return NextDownload();
}

RunOutcome DownloadRun::StartFirmwareUpdate()
{
    // Without an image for this model there is nothing to update with: say so
    // before touching the display.
    const std::string imageName = FirmwareResourceName(m_model);
    if (!m_firmwareFile.empty()) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(m_firmwareFile, error)) {
            m_out.ShowMessageBox("Cannot read the firmware image \"" + m_firmwareFile + "\".", kBoxError);
            return RunOutcome::NotStarted;
        }
    }
    const ResourceLookup image = m_firmwareFile.empty() ? FindResource(imageName) : ResourceLookup{true, m_firmwareFile, {}};
    if (!image.found) {
        m_out.ShowMessageBox("There is no firmware image \"" + imageName + "\" for the " + ModelName(m_model) +
                                 " display, so it cannot be updated.\nPut the maker's firmware image (" + imageName +
                                 ".bin) into one of these folders:\n" + JoinFolders(image.searched),
                             kBoxError);
        return RunOutcome::NotStarted;
    }
    if (m_out.ShowMessageBox(kUpgradeQuestion, kBoxQuestion) != kAnswerYes)
        return RunOutcome::NotStarted;
    m_kind = RunKind::Firmware;
    m_speedRaised = m_streamCut = m_firmwareTouched = false;

    std::string message;
    if (!IsNamedFileModel(m_model))
        RestartDisplay(m_link, message);
    if (!WaitDeviceReady(m_link, false, message)) {
        if (cancelled())
            return cancel();
        m_out.ShowMessageBox(std::string(kNoDeviceText) + message, kBoxError);
        return RunOutcome::NotStarted;
    }
    if (cancelled())
        return cancel();
    SetDownListNull();
    if (ReadVersion(m_link) < kCarriedFirmwareVersion)
        DownList[kBig52GbkPos] = true;
    DownList[kFirmwarePos] = true;
    if (!openForTransfer(message)) {
        m_out.ShowMessageBox(message, kBoxError);
        return RunOutcome::NotStarted;
    }
    if (!raiseSpeed())
        return cancelled() ? cancel() : RunOutcome::NotStarted;
    RunTotal = GetDownListTrueTotal();
    Statistics_S = Statistics_F = 0;
    RunCount = 0;
    IsDownResource = true;
    m_out.StartProgress("", 100, 1);
    CurrentPos = 1;
    m_assembler.clear();
    planRunBytes();
    return NextDownload();
}

RunOutcome DownloadRun::beginRun(int firstPosition, int progressKind, const char* reportText)
{
    m_speedRaised = m_streamCut = m_firmwareTouched = false;
    std::string message;
    if (!openAndFindDevice(message))
        return cancelled() ? cancel() : RunOutcome::NotStarted;
    if (cancelled())
        return cancel();
    if (!raiseSpeed())
        return cancelled() ? cancel() : RunOutcome::NotStarted;
    m_out.StartProgress("", 100, progressKind);
    if (reportText)
        ReportText = reportText;
    Statistics_S = Statistics_F = 0;
    RunTotal = GetDownListTrueTotal();
    RunCount = 0;
    CurrentPos = firstPosition;
    // Bytes left from an earlier run belong to a closed line.
    m_assembler.clear();
    planRunBytes();
    return NextDownload();
}

bool DownloadRun::openAndFindDevice(std::string& message)
{
    if (!openForTransfer(message)) {
        m_out.ShowMessageBox(message, kBoxError);
        return false;
    }
    if (!WaitDeviceReady(m_link, true, message)) {
        CloseCmdPort(m_link);
        if (!cancelled())
            m_out.ShowMessageBox(std::string(kNoDeviceText) + message, kBoxError);
        return false;
    }
    return true;
}

bool DownloadRun::openForTransfer(std::string& message)
{
    if (!m_link.CmdPort.isOpen() && OpenCmdPort(m_link, message) != kStatusOpened)
        return false;
    // USB serial adapters otherwise hold small answers back for milliseconds.
    m_link.CmdPort.requestLowLatency();
    return true;
}

bool DownloadRun::raiseSpeed()
{
    std::string message;
    const SpeedSwitch result = SwitchLineSpeed(m_link, kTransferBaud, kSpeedSwitchPauseMs, message);
    if (result == SpeedSwitch::Done) {
        m_speedRaised = true;
        return true;
    }
    if (result == SpeedSwitch::Cancelled) {
        m_speedRaised = true; // it may have switched: the cancel finds it at either speed
        return false;
    }
    // The display may have switched although the PC could not: it is left to the
    // next Connect, which finds it at whatever speed it runs.
    CloseCmdPort(m_link);
    m_out.ShowMessageBox(message, kBoxError);
    return false;
}

bool DownloadRun::restoreSpeedAndClose(std::string& message)
{
    bool ok = true;
    if (m_speedRaised) {
        ok = SwitchLineSpeed(m_link, m_link.BaudRate, kSpeedSwitchPauseMs, message) == SpeedSwitch::Done;
        m_speedRaised = false;
    }
    CloseCmdPort(m_link);
    return ok;
}

void DownloadRun::settleLine(double quietMs)
{
    SerialPort& port = m_link.CmdPort;
    Clock& clock = m_link.clock;
    const double start = clock.nowMs();
    double lastByte = start;
    while (clock.nowMs() - start < kCancelSettleLimitMs && !port.hungUp()) {
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
    std::string message;
    // What was written reaches the display first (the rest of a cut stream is thrown
    // away); then it gets a quiet line, so that it ends (or drops) what it was doing
    // and its last answers are out of the way.
    if (m_streamCut)
        port.purgeOutput();
    port.drainOutput(StreamDrainLimitMs(0), message);
    settleLine(m_streamCut ? kCancelQuietAfterStreamMs : kCancelQuietMs);
    auto answersHere = [&] {
        for (int i = 0; i < kCancelProbes && !port.hungUp(); ++i) {
            port.purgeInput();
            if (ProbeModel(m_link, message))
                return true;
            m_link.pause(kDeviceReadyPauseMs);
        }
        return false;
    };
    if (m_speedRaised) {
        m_speedRaised = false;
        if (answersHere()) {
            std::string switchMessage;
            return SwitchLineSpeed(m_link, m_link.BaudRate, kSpeedSwitchPauseMs, switchMessage) == SpeedSwitch::Done
                && answersHere();
        }
        // Not at the transfer speed: it may have gone back by itself.
        port.setBaud(m_link.BaudRate);
    }
    return answersHere();
}

// ---------------------------------------------------------------------------
// The step routine

RunOutcome DownloadRun::NextDownload()
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
        std::string ignored;
        WaitDeviceReady(m_link, true, ignored); // lets the display settle; outcome not used
        if (cancelled())
            return cancel();
        if (m_link.CmdPort.hungUp())
            return hungUp(ignored);
        if (CurrentPos == kEndOfRun)
            return finish();

        const DownloadItem& item = DownloadItemAt(CurrentPos);
        if (!IsItemSupported(CurrentPos, m_model)) {
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [" + "Failed" + "]:not suport", true);
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
        if (FileData.empty())
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [Failed]:cannot read " + m_firmwareFile, true);
    } else if (IsDownResource) {
        const std::string name = ResourceName(position, m_model);
        ResourceLookup lookup;
        FileData = LoadResource(name, &lookup);
        if (!lookup.found)
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [Failed]:no image " + name + ".bin in " +
                                        JoinFolders(lookup.searched),
                                    true);
    } else if (!m_userFile.empty()) {
        // The length goes out as 4 bytes: a longer file is refused by its size, unread.
        std::string reason;
        switch (ReadRegularFile(m_userFile, 0xFFFFFFFFu, FileData, reason)) {
        case ReadStatus::Ok: break;
        case ReadStatus::TooLarge:
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [Failed]:file too large", true);
            break;
        default:
            m_out.ShowLogOnRichEdit(std::string(item.Name) + " [Failed]:cannot read " + m_userFile + " (" + reason + ")",
                                    true);
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
    std::string message;
    if (firmwareEntry) {
        if (!WaitUpgradeReady(m_link, message))
            return failedStep(message);
        // The loader's progress belongs to no picture slot; the run's count is not advanced.
        m_out.SetProgressMax(BlockCount(FileData.size()), kNoSlot);
        m_out.ShowTransferStatus("Firmware Updating......", "1 of  1", kNoSlot);
        startItemBytes(position);
        SendAnnounce(m_link, length, FileCrc, message);
    } else {
        if (!DownloadServiceSetup(m_link, FlashAddressHexText, IntToHexDigits(length, 8), message))
            return failedStep(message);
        m_out.SetProgressMax(BlockCount(FileData.size()), position);
        ++RunCount;
        m_out.ShowTransferStatus(std::string("Download ") + item.Name,
                                 std::to_string(RunCount) + " of  " + std::to_string(RunTotal), position);
        if (!m_link.pause(kStartFramePauseMs))
            return ItemResult::Cancelled;
        startItemBytes(position);
        SendStartDownload(m_link, message);
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
    switch (result.end) {
    case BlockPhaseEnd::Completed:
        book(position, result.crcMatches);
        return ItemResult::Booked;
    case BlockPhaseEnd::TimedOut:
        return ItemResult::TimedOut;
    case BlockPhaseEnd::Cancelled:
        return ItemResult::Cancelled;
    case BlockPhaseEnd::HungUp:
    case BlockPhaseEnd::PortClosed:
        m_pendingError = result.message;
        return ItemResult::HungUp;
    }
    return ItemResult::TimedOut;
}

DownloadRun::ItemResult DownloadRun::sendByStream(int position)
{
    const DownloadItem& item = DownloadItemAt(position);
    std::string message;
    if (!MakeFile(m_link, item.FileName, std::to_string(FileData.size()), std::to_string(FileCrc), message))
        return failedStep(message);
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
    switch (StreamFile(m_link, FileData, options, message)) {
    case StreamEnd::Cancelled:
        m_streamCut = true;
        return ItemResult::Cancelled;
    case StreamEnd::HungUp:
        m_pendingError = message;
        return ItemResult::HungUp;
    case StreamEnd::WriteFailed:
        book(position, false);
        return ItemResult::Booked;
    case StreamEnd::Completed:
        break;
    }
    if (!m_link.pause(kStreamSettleMs))
        return ItemResult::Cancelled;
    const bool ok = WaitFileCrc(m_link, std::to_string(FileCrc), message);
    if (!ok && cancelled())
        return ItemResult::Cancelled;
    if (!ok && m_link.CmdPort.hungUp()) {
        m_pendingError = message;
        return ItemResult::HungUp;
    }
    book(position, ok);
    return ItemResult::Booked;
}

void DownloadRun::book(int position, bool ok)
{
    const DownloadItem& item = DownloadItemAt(position);
    // Sent or failed, the item's bytes are behind the run now.
    RunBytesDone = std::min(RunBytesDone + FileData.size(), RunBytesTotal);
    if (ok) {
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

RunOutcome DownloadRun::end(ItemResult result)
{
    switch (result) {
    case ItemResult::Abandoned:
        return abandon(m_pendingError);
    case ItemResult::TimedOut:
        return timeOut();
    case ItemResult::HungUp:
        return hungUp(m_pendingError);
    case ItemResult::Cancelled:
        return cancel();
    case ItemResult::Booked:
        break;
    }
    return RunOutcome::Finished;
}

RunOutcome DownloadRun::finish()
{
    m_preparedPictures.clear();
    std::string message;
    const bool restored = restoreSpeedAndClose(message);
    m_out.StopElapsedTimer();
    // A run in which any item failed is a partial failure: the warning icon.
    m_out.ShowMessageBox(TallyText(), Statistics_F > 0 ? kBoxWarning : kBoxInfo);
    m_out.ResetProgress();
    if (!restored)
        m_out.ShowMessageBox(message, kBoxError);
    return RunOutcome::Finished;
}

RunOutcome DownloadRun::abandon(const std::string& message)
{
    m_preparedPictures.clear();
    std::string ignored;
    restoreSpeedAndClose(ignored);
    m_out.ShowMessageBox(message, kBoxError);
    m_out.ResetProgress();
    return RunOutcome::Abandoned;
}

RunOutcome DownloadRun::timeOut()
{
    m_preparedPictures.clear();
    // The display is left at the transfer speed; the next command opens at BaudRate.
    CloseCmdPort(m_link);
    m_speedRaised = false;
    m_out.ResetProgress();
    m_out.ShowMessageBox(ReportText + kTimeOutText, kBoxError);
    return RunOutcome::TimedOut;
}

RunOutcome DownloadRun::hungUp(const std::string& detail)
{
    m_preparedPictures.clear();
    CloseCmdPort(m_link);
    m_speedRaised = false;
    m_out.ResetProgress();
    std::string text = ReportText + "The serial line hung up during the download; the display is no longer connected.";
    if (!detail.empty())
        text += "\n(" + detail + ")";
    m_out.ShowMessageBox(text, kBoxError);
    return RunOutcome::HungUp;
}

RunOutcome DownloadRun::cancel()
{
    m_preparedPictures.clear();
    // What follows puts the display back and must run to its end, whatever the token says.
    CancelScope cleanup(m_link, nullptr);
    const bool back = m_link.CmdPort.isOpen() && !m_link.CmdPort.hungUp() && returnDisplayToBaudRate();
    CloseCmdPort(m_link);
    m_speedRaised = false;
    m_out.ResetProgress();
    m_out.ShowLogOnRichEdit("Download cancelled " + TallyText().substr(6), true);
    m_out.ShowMessageBox(CancelledText(back), m_firmwareTouched || !back ? kBoxWarning : kBoxInfo);
    return RunOutcome::Cancelled;
}

std::string DownloadRun::CancelledText(bool displayBack) const
{
    std::string text;
    switch (m_kind) {
    case RunKind::Fonts: text = "The font download was cancelled."; break;
    case RunKind::Single: text = "The download was cancelled."; break;
    case RunKind::Pictures: text = "The picture download was cancelled."; break;
    case RunKind::Firmware: text = "The firmware update was cancelled."; break;
    }
    text += " [Succeed " + std::to_string(Statistics_S) + " / Failed " + std::to_string(Statistics_F) + "]";
    if (m_firmwareTouched)
        text += "\n\nThe display holds an incomplete firmware image: update the firmware again before using it.";
    else if (m_kind != RunKind::Firmware && RunCount > Statistics_S + Statistics_F)
        text += "\nThe item being sent when it was cancelled is incomplete in the display.";
    if (!displayBack)
        text += "\n\nThe display did not answer at " + std::to_string(m_link.BaudRate) +
                " bit/s afterwards: press Connect before the next command.";
    return text;
}

DownloadRun::ItemResult DownloadRun::failedStep(const std::string& message)
{
    if (cancelled())
        return ItemResult::Cancelled;
    m_pendingError = message;
    return m_link.CmdPort.hungUp() ? ItemResult::HungUp : ItemResult::Abandoned;
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
