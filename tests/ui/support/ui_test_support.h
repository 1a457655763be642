// Helpers for the window tests: a recording message-box hook, a window on a virtual
// line, the virtual display program's core registered in a private port folder behind
// a real pseudo-terminal, waiting for the device worker.
#pragma once

#include "sim/virtual_display.h"
#include "support/virtual_line.h"
#include "ui/tarselmain.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <condition_variable>
#include <memory>
#include <mutex>

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

// A window on a virtual line: a private port folder with one name linked to /dev/null,
// the line's port named by that path, and a window whose clock is the line's and whose
// ports are the line's slots (the first one made "cmd", the next "text"). The display
// core at the far end answers in virtual time: a job takes no real time, only waiting
// for the worker (waitIdle) does. Members are destroyed window first, line last.
class VirtualWindow {
public:
    explicit VirtualWindow(const sim::DisplayCore::Config& display);

    // Options for a window on this line: boxes answered by `boxes`, English unless a
    // language id is given, ports listed from the folder.
    TarselMain::Options options(std::uint16_t langId = 1033);
    // Makes the window (with options() unless given), shows it and selects the line's
    // port. False with `lastError` set.
    bool open();
    bool open(TarselMain::Options options);
    // Clicks Connect and waits for the scan to end.
    bool connect(int timeoutMs = 15000);
    TarselMain& window() { return *m_window; }
    const char* error() const { return lastError.c_str(); }

    // Another display on the same adapter (the line must be idle).
    void plugIn(const sim::DisplayCore::Config& display);
    // The port goes away (its name leaves the folder, opens find nothing) and comes
    // back under the same name.
    void unplug();
    void plugBack();

    // The display, under the line's lock (not while the worker is held in a callback).
    template <class F>
    auto display(F f)
    {
        return line.withDisplay([&](sim::DisplayCore& d) { return f(d); });
    }
    std::size_t countRecords(const std::string& name) const { return line.recordsNamed(name).size(); }

    tarsel::test::VirtualLine line;
    BoxRecorder boxes;
    QTemporaryDir folder;
    QString port;
    std::string lastError;

private:
    int m_portsMade = 0;
    std::unique_ptr<TarselMain> m_window;
};

// Holds the device worker at a virtual moment: a line callback (at(), onRecord())
// calls hold(), which returns once the test's thread has called release(). Meanwhile
// the worker keeps the line's lock: the test's thread may use the window, not the
// line, until it releases. A hold that is never released ends after 20 s.
class WorkerGate {
public:
    ~WorkerGate() { release(); } // a test that fails while holding lets the worker go
    void hold();
    // Waits (running the window's events) until the worker is held; false after `timeoutMs`.
    bool waitHeld(int timeoutMs = 15000);
    void release();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
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
