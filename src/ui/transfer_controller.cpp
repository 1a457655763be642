#include "ui/transfer_controller.h"

#include "link/clock.h"
#include "transfer/catalogue.h"
#include "ui/language_table.h"
#include "ui/outcome_boxes.h"
#include "ui/preferences.h"
#include "ui/tarselmain.h"
#include "ui/window_forms.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

TransferController::TransferController(TarselMain* window)
    : QObject(window), m_window(window),
      m_run(std::make_unique<tarsel::DownloadRun>(window->link(), window->outlets())),
      m_singlePictures(std::make_shared<tarsel::PictureSource>())
{
    setObjectName(QStringLiteral("TransferController"));

    auto* charset = forms().download.cbbCharset;
    connect(charset, &QComboBox::currentIndexChanged, this, [this] { cbbCharsetChange(); });
    connect(forms().download.btn_CharacterSetSelectFile, &QPushButton::clicked, this,
            [this] { btn_CharacterSetSelectFileClick(); });
    connect(forms().download.btn_CharacterSetDownSingle, &QPushButton::clicked, this,
            [this] { btn_CharacterSetDownSingleClick(); });
    connect(forms().download.btn_CharacterSetDownAll, &QPushButton::clicked, this,
            [this] { btn_CharacterSetDownAllClick(); });
    connect(forms().firmware.btn_update, &QPushButton::clicked, this,
            [this] { btn_updateClick(); });

    // Start-up: nothing chosen yet.
    forms().download.btn_CharacterSetSelectFile->setEnabled(false);
    forms().download.btn_CharacterSetDownSingle->setEnabled(false);

}

TransferController::~TransferController() = default;

const tarsel::ui::WindowForms& TransferController::forms() const { return m_window->forms(); }

void TransferController::setTransferTimeoutMs(double ms) { m_run->setTransferTimeoutMs(ms); }

void TransferController::setPictureSource(tarsel::PictureSource pictures)
{
    // Shared with a job that may be running; a new source applies to later runs.
    m_singlePictures = std::make_shared<tarsel::PictureSource>(std::move(pictures));
}

// ---------------------------------------------------------------------------
// The "Download File" page

void TransferController::cbbCharsetChange()
{
    auto* charset = forms().download.cbbCharset;
    auto* select = forms().download.btn_CharacterSetSelectFile;
    auto* download = forms().download.btn_CharacterSetDownSingle;
    auto* addr = forms().download.edt_addr;
    auto* name = forms().download.edt_filename;
    const int index = charset->currentIndex();
    if (index < 0 || index >= tarsel::kCatalogueSize) {
        select->setEnabled(false);
        download->setEnabled(false);
        addr->clear();
        name->clear();
        return;
    }
    select->setEnabled(true);
    download->setEnabled(!forms().download.pnlCharsetFilename->text().isEmpty());
    const tarsel::DownloadItem& item = tarsel::DownloadItemAt(index + 1);
    addr->setText(QString::fromLatin1(item.FlashAddress));
    name->setText(QString::fromLatin1(item.FileName));
}

QString TransferController::selectFileFilter()
{
    return QStringLiteral("Bin Files(*.bin);;JPEG Image File (*.jpg)");
}

tarsel::ui::FileKind TransferController::selectFileKind() const
{
    return forms().download.cbbCharset->currentIndex() + 1 == tarsel::kFirmwarePos ? tarsel::ui::FileKind::Firmware
                                                                                  : tarsel::ui::FileKind::SingleItems;
}

void TransferController::btn_CharacterSetSelectFileClick()
{
    const tarsel::ui::FileKind kind = selectFileKind();
    const QString folder = m_window->preferences().startFolder(kind);
    const QString path = fileDialogHook
        ? fileDialogHook(folder)
        : QFileDialog::getOpenFileName(m_window, QString(), folder, selectFileFilter());
    if (!path.isEmpty())
        m_window->preferences().rememberFile(kind, path);
    auto* file = forms().download.pnlCharsetFilename;
    auto* download = forms().download.btn_CharacterSetDownSingle;
    if (path.isEmpty()) {
        file->clear();
        download->setEnabled(false);
        return;
    }
    file->setText(path);
    download->setEnabled(forms().download.cbbCharset->currentIndex() >= 0);
}

void TransferController::btn_CharacterSetDownSingleClick()
{
    const int index = forms().download.cbbCharset->currentIndex();
    if (index < 0 || index >= tarsel::kCatalogueSize)
        return;
    const int position = index + 1;
    const std::string file = forms().download.pnlCharsetFilename->text().toStdString();
    auto pictures = m_singlePictures;
    startRun([position, file, pictures](tarsel::DownloadRun& run) {
        run.setPictureSource([pictures](int pos) { return *pictures ? (*pictures)(pos) : tarsel::Bytes(); });
        return run.StartSingleDownload(position, file);
    });
}

void TransferController::btn_CharacterSetDownAllClick()
{
    startRun([](tarsel::DownloadRun& run) { return run.StartFontDownload(); });
}

void TransferController::btn_updateClick()
{
    startRun([](tarsel::DownloadRun& run) { return run.StartFirmwareUpdate(); });
}

bool TransferController::startPictureDownload(const std::vector<int>& positions, tarsel::PictureSource pictures)
{
    auto source = std::make_shared<tarsel::PictureSource>(std::move(pictures));
    return startRun([positions, source](tarsel::DownloadRun& run) {
        return run.StartPictureDownload(positions, [source](int pos) { return (*source)(pos); });
    });
}

// ---------------------------------------------------------------------------
// Running and cancelling

QPushButton* TransferController::cancelButton() const { return forms().status.btn_CancelRun; }

bool TransferController::startRun(std::function<tarsel::RunReport(tarsel::DownloadRun&)> body)
{
    if (m_active || m_window->isBusy())
        return false;
    m_active = true;
    m_run->setModelIndex(m_window->modelIndex());
    emit runStarted();
    auto report = std::make_shared<tarsel::RunReport>();
    // The run's boxes say what was cancelled: no second box from the window.
    m_window->runDeviceJob(
        [this, body = std::move(body), report] {
            *report = body(*m_run);
            tarsel::Outlets& out = m_window->outlets();
            if (report->end == tarsel::RunOutcome::Cancelled)
                out.ShowLogOnRichEdit("Download cancelled " + report->tallyText().substr(6), true);
            for (const tarsel::Notice& notice : tarsel::ui::RunNotices(*report, m_window->link().BaudRate))
                out.ShowMessageBox(notice.text, notice.flags);
            out.ResetProgress();
        },
        [this, report] {
            m_active = false;
            m_lastReport = *report;
            emit runFinished(static_cast<int>(report->end));
        },
        QString());
    return true;
}

void TransferController::cancelRun()
{
    if (!m_active)
        return;
    // The run's token: every pause, wait and write ends at once; the run then puts
    // the display back to its speed and says what was cancelled.
    m_window->cancelDeviceWork();
}
