#include "ui/preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace tarsel::ui {
namespace {

// Organisation and application folder names: the file is <config>/tarsel/tarsel.conf.
const QString kFolderName = QStringLiteral("tarsel");

QString folderKey(FileKind kind)
{
    switch (kind) {
    case FileKind::SettingsFiles: return QStringLiteral("folders/settingsFiles");
    case FileKind::Pictures: return QStringLiteral("folders/pictures");
    case FileKind::SingleItems: return QStringLiteral("folders/singleItems");
    case FileKind::Firmware: return QStringLiteral("folders/firmware");
    case FileKind::LogFiles: return QStringLiteral("folders/logFiles");
    }
    return QStringLiteral("folders/other");
}

} // namespace

Preferences::Preferences()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kFolderName, kFolderName))
{
}

Preferences::Preferences(const QString& file) : m_settings(std::make_unique<QSettings>(file, QSettings::IniFormat)) {}

Preferences::~Preferences() = default;

QString Preferences::fileName() const { return m_settings->fileName(); }

QString Preferences::lastFolder(FileKind kind) const { return m_settings->value(folderKey(kind)).toString(); }

void Preferences::setLastFolder(FileKind kind, const QString& folder)
{
    m_settings->setValue(folderKey(kind), folder);
    m_settings->sync(); // kept even when the program does not end normally
}

void Preferences::rememberFile(FileKind kind, const QString& filePath)
{
    if (filePath.isEmpty() || QDir::isRelativePath(filePath))
        return;
    setLastFolder(kind, QFileInfo(filePath).absolutePath());
}

QString Preferences::startFolder(FileKind kind) const
{
    const QString remembered = lastFolder(kind);
    if (!remembered.isEmpty() && QDir::isAbsolutePath(remembered) && QFileInfo(remembered).isDir())
        return remembered;
    return documentsFolder();
}

QString Preferences::lastPort() const { return m_settings->value(QStringLiteral("ports/last")).toString(); }

void Preferences::setLastPort(const QString& stableName)
{
    if (stableName.isEmpty() || stableName == lastPort())
        return;
    m_settings->setValue(QStringLiteral("ports/last"), stableName);
    m_settings->sync();
}

QString Preferences::documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

} // namespace tarsel::ui
