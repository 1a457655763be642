#include "ui/screen_viewer.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QImage>
#include <QPixmap>
#include <QTimer>

namespace tarsel::ui {

ScreenViewer::ScreenViewer(const QString& file, QWidget* parent)
    : QLabel(parent), m_file(file), m_watcher(new QFileSystemWatcher(this)), m_soon(new QTimer(this))
{
    setObjectName(QStringLiteral("ScreenViewer"));
    setWindowTitle(tr("Virtual display: %1").arg(QFileInfo(file).fileName()));
    setAccessibleName(tr("The virtual display's screen"));
    setAlignment(Qt::AlignCenter);
    setMinimumSize(480, 272);
    // The file is replaced by a rename: watch its folder, and read it a moment after
    // a change so that a file being written is not read half way.
    m_watcher->addPath(QFileInfo(file).absolutePath());
    m_soon->setSingleShot(true);
    m_soon->setInterval(50);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_soon, qOverload<>(&QTimer::start));
    connect(m_soon, &QTimer::timeout, this, &ScreenViewer::reload);
    reload();
}

void ScreenViewer::reload()
{
    const QImage picture(m_file);
    if (picture.isNull()) {
        setText(tr("Waiting for %1 ...").arg(m_file));
        return;
    }
    setPixmap(QPixmap::fromImage(picture));
    resize(picture.size());
}

} // namespace tarsel::ui
