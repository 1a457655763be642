// A small window that shows a picture file and follows it as it is rewritten: the
// screen a virtual display draws (tarsel-display-sim --screen FILE), beside Tarsel.
#pragma once

#include <QLabel>
#include <QString>

class QFileSystemWatcher;
class QTimer;

namespace tarsel::ui {

class ScreenViewer : public QLabel {
    Q_OBJECT

public:
    explicit ScreenViewer(const QString& file, QWidget* parent = nullptr);
    // Reads the file again (done by itself when it changes).
    void reload();

private:
    QString m_file;
    QFileSystemWatcher* m_watcher;
    QTimer* m_soon;
};

} // namespace tarsel::ui
