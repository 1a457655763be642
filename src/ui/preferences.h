// What the window remembers between runs, in the user's configuration file
// (~/.config/tarsel/tarsel.conf, following XDG_CONFIG_HOME): the last folder of each
// kind of file dialog and the last port used. Nothing else is kept between runs.
#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace tarsel::ui {

// The file dialogs that remember their folder, one entry per kind of file.
enum class FileKind {
    SettingsFiles, // Save Settings / Load Settings
    Pictures,      // the conversion window's Open and Save, the QR picture
    SingleItems,   // "Select File" for a font or picture item
    Firmware,      // "Select File" for the firmware item
    LogFiles,      // the log view's Save…
};

class Preferences {
public:
    // The user's configuration file.
    Preferences();
    // Another file (tests).
    explicit Preferences(const QString& file);
    ~Preferences();
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    // The file the preferences live in.
    QString fileName() const;

    // The folder of the file last chosen in a dialog of `kind`; empty when none.
    QString lastFolder(FileKind kind) const;
    void setLastFolder(FileKind kind, const QString& folder);
    // Remembers the folder of a file the user has chosen (a relative or empty path
    // changes nothing).
    void rememberFile(FileKind kind, const QString& filePath);

    // Where a dialog of `kind` opens: the remembered folder while it still exists,
    // else the user's documents folder (or the home folder when there is none) —
    // never the program's own folder.
    QString startFolder(FileKind kind) const;

    // The user's documents folder when it exists, else the home folder.
    static QString documentsFolder();

    // The port last used, by its stable name (/dev/serial/by-id/... for a USB
    // adapter); empty when none.
    QString lastPort() const;
    void setLastPort(const QString& stableName);

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace tarsel::ui
