// The virtual display on a pseudo-terminal: a DisplayCore driven by its own thread,
// with the line speed, pacing and registration of a real display on a serial port.
//
//   tarsel::sim::Options o;
//   o.model = "KT710-II"; o.baud = 38400;
//   tarsel::sim::VirtualDisplay display(o);
//   std::string error;
//   if (!display.start(&error)) ...;
//   open(display.devicePath(), ...)       // the program's side of the line
//   display.records(), display.settings(), display.files(), ...
//   display.stop();                       // also done by the destructor
//
// Times in records are std::chrono::steady_clock milliseconds since its epoch, the scale
// of tarsel::SteadyClock::nowMs().
#pragma once

#include "sim/display_core.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarsel::sim {

struct Options {
    std::string model = "KT710-II";  // one of the seven model names, exactly
    int baud = 9600;                 // 9600, 19200, 38400, 57600 or 115200
    int version = 12;                // firmware version byte
    bool registerLink = true;        // symlink in the virtual-port folder
    std::string linkName;            // default "virtual-<model>-<pid>" (+ "-<n>" after the first)
    std::string linkFolder;          // default virtualPortFolder()
    bool pacing = true;              // bytes take 10 bits of line time each, both ways; the
                                     // program's bytes are taken off the pty only at that
                                     // rate, so its writes block once the pty is full
    bool raisePriority = true;       // answer from a real-time thread where allowed
    double restartSilenceMs = 300;   // deaf after the restart command
    double quietGapMs = 20;          // frames without an end marker end after this quiet
    double blockRetryMs = 1000;      // a block request with no block frame this long is sent again ...
    int blockRetries = 3;            // ... this many times; this long after the last, the transfer is given up
    double streamGapMs = 2000;         // a named file whose data stops for this long is dropped
    std::uint32_t seed = 1;          // garbage bytes
    Faults faults;
    SettingsDocument settings;       // what it keeps at power-on (factory settings)
    // Called (on the display's thread) with a line for every frame received; empty = quiet.
    std::function<void(const std::string&)> log;
    bool verbose = false;            // also log the bytes it sends
};

// The folder where virtual displays register: $XDG_RUNTIME_DIR/tarsel when
// XDG_RUNTIME_DIR is set and is a directory, else /tmp/tarsel-<uid>. With create, the
// folder is made (mode 0700); a folder that is not ours or is open to others is refused
// (empty result, reason in *error).
std::string virtualPortFolder(bool create, std::string* error = nullptr);

class VirtualDisplay {
public:
    explicit VirtualDisplay(Options options = {});
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Opens the pty, registers and starts the thread. False with a reason on failure.
    bool start(std::string* error = nullptr);
    // Stops the thread, closes the pty and removes the link. Safe to call twice.
    void stop();
    bool running() const;

    std::string devicePath() const; // the link when registered, else the pty slave
    std::string slavePath() const;  // /dev/pts/N
    std::string linkPath() const;   // empty when not registered

    const Options& options() const { return m_options; }
    int speed() const;       // the display's own line speed now
    int lineSpeed() const;   // the speed the program set on the port (0 before start)

    // Everything it received, in order ("Noise" for bytes at another speed).
    std::vector<Record> records() const;
    std::vector<Record> recordsNamed(const std::string& name) const;
    void clearRecords();
    // Waits until at least `count` records named `name` exist (true) or timeoutMs passes.
    bool waitForRecord(const std::string& name, double timeoutMs, std::size_t count = 1) const;

    SettingsDocument settings() const;
    Bytes settingsText() const; // the document as it would report it (without the 00)
    std::map<std::uint32_t, Bytes> blocks() const; // stored by flash address
    std::map<std::string, Bytes> files() const;    // stored by device file name
    std::optional<Bytes> firmware() const;
    std::vector<QrPicture> qrPictures() const;
    std::vector<Transfer> transfers() const;
    // Waits until `count` transfers have ended (complete or not) or timeoutMs passes.
    bool waitForTransfers(std::size_t count, double timeoutMs) const;

    // The display's core, under its lock (f gets a const DisplayCore&; it must not wait).
    template <class F>
    auto withCore(F f) const
    {
        std::lock_guard lock(m_mutex);
        return f(*m_core);
    }

    Faults faults() const;
    void setFaults(const Faults& faults); // also restarts the block counting of the faults
    bool hungUp() const;
    int restarts() const;

    static double nowMs();

private:
    void run();
    void closeAll();
    void hangUp();
    void handleInotify();
    void readInput(double now);
    bool receiverReady(double now) const;
    void deliverInput(double now);
    void apply(const std::vector<Action>& actions, double at);
    void pumpOutput(double now);
    double byteMs(int baud) const;
    double nextWake(double now) const;
    void unregister();

    Options m_options;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::optional<DisplayCore> m_core;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_running = false;
    bool m_hungUp = false;

    int m_master = -1;
    int m_slave = -1;     // kept open so the line stays up between the program's opens
    int m_inotify = -1;
    int m_wake[2] = {-1, -1};
    int m_openers = 0;    // the program's open descriptors of the slave (from inotify)
    std::string m_slavePath;
    std::string m_linkPath;
    int m_lineSpeed = 0;

    struct Incoming { double at; Bytes bytes; };
    std::deque<Incoming> m_incoming;  // read, waiting for their arrival time
    double m_rxBusyUntil = 0;         // when the last byte taken off the pty has arrived
    bool m_flowHeld = false;          // the program's RTS/CTS flow control holds its bytes
    struct Outgoing { double due; Bytes bytes; };
    std::deque<Outgoing> m_outgoing;  // answers waiting for their time
    Bytes m_wire;                     // being sent at line rate
    double m_wireClock = 0;           // when the next byte on the wire started
    Bytes m_ready;                    // sent, waiting for the kernel to take it
};

} // namespace tarsel::sim
