// Helpers for the window tests: a recording message-box hook, a virtual display
// registered in a private port folder, waiting for the device worker.
#pragma once

#include "sim/virtual_display.h"
#include "support/fake_port.h"
#include "ui/tarselmain.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace tarsel::uitest {

// Records every message box and answers it (1 for OK boxes, `yesNoAnswer` for questions).
struct BoxRecorder {
    struct Box { QString text; int flags; };
    QList<Box> boxes;
    int yesNoAnswer = 7;
    // Called on the GUI thread with every box before it is answered.
    std::function<void(const QString&, int)> observer;

    std::function<int(const QString&, int)> hook()
    {
        return [this](const QString& text, int flags) {
            if (observer)
                observer(text, flags);
            boxes.append({text, flags});
            return (flags & 0x0F) == 4 ? yesNoAnswer : 1;
        };
    }
};

// A private virtual-port folder with one virtual display registered in it.
class SimFixture {
public:
    // Starts a display of `model` answering at `baud` with firmware `version`.
    bool start(const std::string& model, int baud, int version = 12, bool silent = false);
    void stop();
    sim::VirtualDisplay* display() const { return m_display.get(); }
    QString portPath() const;
    QString folder() const { return m_dir.path(); }
    std::string lastError;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<sim::VirtualDisplay> m_display;
};

// A virtual display and a shown window listing its folder, with the display's port selected.
// Members are destroyed window first, display last, as locals declared in that order would be.
class SimWindow {
public:
    // Starts a display of `model` at `baud` with firmware `version`, makes an English window
    // (on `clock` when one is set), shows it and selects the port. False with `lastError` set.
    bool open(const std::string& model, int baud, int version = 12, bool silent = false);
    // Clicks Connect and waits for the scan to end.
    bool connect(int timeoutMs = 15000);
    TarselMain& window() { return *m_window; }
    const char* error() const { return lastError.c_str(); }

    SimFixture sim;
    BoxRecorder boxes;
    tarsel::Clock* clock = nullptr;
    std::string lastError;

private:
    std::unique_ptr<TarselMain> m_window;
};

// A port folder with one port name linked to /dev/null and a scripted line on a virtual
// clock behind it: windows made with `options` open FakePorts on that line, the first
// one named "cmd", every later one "text".
class ScriptedLine {
public:
    // Links `name` in the folder; `port` is then its path.
    bool addPort(const QString& name);
    TarselMain::Options options(BoxRecorder& boxes, std::uint16_t langId = 1033);

    QTemporaryDir folder;
    QString port;
    tarsel::test::VirtualClock clock;
    tarsel::test::FakeLine line{clock};
    int portsMade = 0;
};

// A preferences file of this test program's own (in a temporary folder), so that
// windows in tests never write the user's configuration.
QString testPreferencesFile();

// Options for a window in tests: boxes answered by `boxes`, English unless a language
// id is given, ports listed from `portFolder` (plus whatever the machine has), the
// remembered folders kept in testPreferencesFile().
TarselMain::Options testOptions(BoxRecorder& boxes, const QString& portFolder = {},
                                std::uint16_t langId = 1033);

// Selects `path` in the port combo (it must be listed).
bool selectPort(TarselMain& window, const QString& path);

// Waits until the window is no longer busy; false after `timeoutMs`.
bool waitIdle(TarselMain& window, int timeoutMs = 15000);

// Shown on its tab page, whether or not that page is the current one.
bool shownOnPage(QWidget* widget);

// The tab page's visibility in PageControl1 (false for a widget that is no tab page).
bool tabVisible(TarselMain& window, QWidget* page);

} // namespace tarsel::uitest
