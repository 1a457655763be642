#include "sim/virtual_display.h"

#include "sim/line_speed.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tarsel::sim {

namespace {

std::string errnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::atomic<int> g_displaysInProcess{0};

// A real display answers from its own processor, whatever the PC is busy with. The
// display's thread gets a real-time priority where that is allowed (root, or
// CAP_SYS_NICE), else at least a better nice value; refusals are harmless.
void raiseThreadPriority()
{
    sched_param param {};
    param.sched_priority = 10;
    if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0)
        return;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -10);
}

// How far ahead of the line the display's receiver takes bytes off the pty: the
// bytes of the next couple of milliseconds. The rest stays in the pty, which fills
// and then blocks the program's writes, as a real line does.
constexpr double kRxLookaheadMs = 4.0;
// The receiver takes bytes in batches of at least this much line time: taking each
// byte as soon as there is room for it woke the thread at the byte rate (11 520 times a
// second at 115200), which sixteen displays at once could not afford on two cores.
constexpr double kRxBatchMs = 2.0;
// How often a receiver held by flow control looks at the line settings again.
constexpr double kFlowRecheckMs = 20.0;

} // namespace

std::string virtualPortFolder(bool create, std::string* error)
{
    std::string folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && *runtime && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
        folder = std::string(runtime) + "/tarsel";
    else
        folder = "/tmp/tarsel-" + std::to_string(::getuid());
    if (!create)
        return folder;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = errnoText("cannot create " + folder);
        return {};
    }
    // Refuse a folder someone else could have prepared (a link, another owner, open to others).
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()
        || (st.st_mode & 077) != 0) {
        if (error)
            *error = folder + " is not a private folder of this user";
        return {};
    }
    return folder;
}

double VirtualDisplay::nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

VirtualDisplay::VirtualDisplay(Options options) : m_options(std::move(options)) {}

VirtualDisplay::~VirtualDisplay() { stop(); }

bool VirtualDisplay::start(std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        closeAll();
        unregister();
        return false;
    };
    if (m_running)
        return fail("the display is already running");

    DisplayCore::Config cfg;
    cfg.model = m_options.model;
    cfg.baud = m_options.baud;
    cfg.version = m_options.version;
    cfg.restartSilenceMs = m_options.restartSilenceMs;
    cfg.quietGapMs = m_options.quietGapMs;
    cfg.blockRetryMs = m_options.blockRetryMs;
    cfg.blockRetries = m_options.blockRetries;
    cfg.streamGapMs = m_options.streamGapMs;
    cfg.seed = m_options.seed;
    cfg.faults = m_options.faults;
    cfg.settings = m_options.settings;
    try {
        m_core.emplace(cfg);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    m_core->onRecord = [this](const Record& r) {
        if (m_options.log)
            m_options.log("<- " + r.name + " [" + std::to_string(r.length) + "] " + hexSpaced(r.bytes)
                          + (r.name == "Noise" ? " (line at " + std::to_string(m_lineSpeed) + " bit/s)" : ""));
    };

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0)
        return fail(errnoText("posix_openpt"));
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail(errnoText("grantpt/unlockpt"));
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(errnoText("ptsname"));
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0)
        return fail(errnoText("open " + m_slavePath));
    if (!setRawLine(m_slave, m_options.baud))
        return fail(errnoText("set line of " + m_slavePath));
    m_lineSpeed = readLineSpeed(m_master);

    // The program's opens and closes of the slave: to clear its exclusive flag and drop
    // unread answers when it lets go of the port, like a real port's last close does.
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0
        && ::inotify_add_watch(m_inotify, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        closeFd(m_inotify);
    m_openers = 0;
    if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0)
        return fail(errnoText("pipe"));

    if (m_options.registerLink) {
        std::string why;
        std::string folder = m_options.linkFolder.empty() ? virtualPortFolder(true, &why)
                                                          : m_options.linkFolder;
        if (folder.empty())
            return fail(why);
        std::string link = m_options.linkName;
        if (link.empty()) {
            const int n = g_displaysInProcess.fetch_add(1);
            link = "virtual-" + m_options.model + "-" + std::to_string(::getpid());
            if (n > 0)
                link += "-" + std::to_string(n);
        }
        if (link.find('/') != std::string::npos || link == "." || link == "..")
            return fail("invalid link name \"" + link + "\"");
        const std::string path = folder + "/" + link;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode))
                return fail(path + " exists and is not a link");
            ::unlink(path.c_str()); // a link left behind by a display that died
        }
        if (::symlink(m_slavePath.c_str(), path.c_str()) != 0)
            return fail(errnoText("cannot create link " + path));
        m_linkPath = path;
    }

    m_stop = false;
    m_hungUp = false;
    m_incoming.clear();
    m_outgoing.clear();
    m_wire.clear();
    m_ready.clear();
    m_rxBusyUntil = 0;
    m_flowHeld = false;
    m_wireClock = 0;
    m_running = true;
    m_thread = std::thread([this] { run(); });
    return true;
}

void VirtualDisplay::stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        if (m_wake[1] >= 0) {
            const char c = 1;
            [[maybe_unused]] auto r = ::write(m_wake[1], &c, 1);
        }
        m_thread.join();
    }
    std::lock_guard lock(m_mutex);
    closeAll();
    unregister();
    m_running = false;
    m_changed.notify_all();
}

void VirtualDisplay::closeAll()
{
    closeFd(m_inotify);
    closeFd(m_slave);
    closeFd(m_master);
    closeFd(m_wake[0]);
    closeFd(m_wake[1]);
}

void VirtualDisplay::unregister()
{
    if (!m_linkPath.empty())
        ::unlink(m_linkPath.c_str());
    m_linkPath.clear();
}

void VirtualDisplay::hangUp()
{
    // The line goes dead: the program's descriptor sees a hang-up, the port disappears.
    closeFd(m_inotify);
    closeFd(m_slave);
    closeFd(m_master);
    unregister();
    m_hungUp = true;
    m_incoming.clear();
    m_outgoing.clear();
    m_wire.clear();
    m_ready.clear();
    if (m_options.log)
        m_options.log("-- hung up");
}

bool VirtualDisplay::running() const
{
    std::lock_guard lock(m_mutex);
    return m_running && !m_hungUp;
}

double VirtualDisplay::byteMs(int baud) const { return 10000.0 / baud; }

double VirtualDisplay::nextWake(double now) const
{
    double t = now + 1000;
    if (!m_incoming.empty())
        t = std::min(t, m_incoming.front().at);
    if (!m_outgoing.empty())
        t = std::min(t, m_outgoing.front().due);
    if (!m_wire.empty()) {
        // Wake at most once a millisecond, and exactly when the last byte is through.
        const double bt = byteMs(m_core->speed());
        const double batch = std::max(1.0, std::floor(1.0 / bt));
        t = std::min(t, m_wireClock + std::min<double>(batch, m_wire.size()) * bt);
    }
    t = std::min(t, m_core->nextDeadline());
    if (m_flowHeld)
        t = std::min(t, now + kFlowRecheckMs);
    else if (m_options.pacing && !receiverReady(now))
        t = std::min(t, m_rxBusyUntil - (kRxLookaheadMs - kRxBatchMs));
    return t;
}

bool VirtualDisplay::receiverReady(double now) const
{
    return !m_flowHeld && (!m_options.pacing || m_rxBusyUntil - now <= kRxLookaheadMs - kRxBatchMs);
}

void VirtualDisplay::run()
{
    if (m_options.raisePriority)
        raiseThreadPriority();
    while (!m_stop) {
        double wake;
        {
            std::lock_guard lock(m_mutex);
            wake = nextWake(nowMs());
        }
        double waitMs = std::max(0.0, wake - nowMs());
        timespec ts;
        ts.tv_sec = static_cast<time_t>(waitMs / 1000);
        ts.tv_nsec = static_cast<long>(std::fmod(waitMs, 1000.0) * 1e6);
        pollfd fds[3] = {{m_master, 0, 0}, {m_inotify, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        {
            std::lock_guard lock(m_mutex);
            if (receiverReady(nowMs()))
                fds[0].events |= POLLIN;
            if (!m_ready.empty())
                fds[0].events |= POLLOUT;
        }
        const int rc = ::ppoll(fds, 3, &ts, nullptr);
        if (rc < 0 && errno != EINTR)
            break;
        if (m_stop)
            break;
        if (fds[2].revents & POLLIN) {
            char drain[64];
            while (::read(m_wake[0], drain, sizeof drain) > 0) {
            }
        }
        std::lock_guard lock(m_mutex);
        const double now = nowMs();
        if (fds[1].revents & POLLIN)
            handleInotify();
        // Also when nothing was signalled: a paced receiver takes the next bytes when
        // their time has come (the read does not block).
        readInput(now);
        if (!m_hungUp)
            deliverInput(now);
        if (!m_hungUp)
            apply(m_core->tick(now), now);
        if (!m_hungUp)
            pumpOutput(nowMs());
        m_changed.notify_all();
        if (m_hungUp)
            break;
        if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
            // Cannot happen while the slave is held open; do not spin if it does.
            ::usleep(10000);
        }
    }
}

void VirtualDisplay::handleInotify()
{
    alignas(inotify_event) char buf[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = ::read(m_inotify, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + i);
            if (e->mask & IN_OPEN)
                ++m_openers;
            if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                m_openers = std::max(0, m_openers - 1);
                closed = true;
            }
            i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    if (closed && m_openers == 0 && m_slave >= 0) {
        ::ioctl(m_slave, TIOCNXCL);
        ::tcflush(m_slave, TCIFLUSH);
        m_ready.clear();
        if (m_options.log && m_options.verbose)
            m_options.log("-- port closed by the program");
    }
}

void VirtualDisplay::readInput(double now)
{
    if (m_master < 0)
        return;
    char buf[4096];
    for (;;) {
        // With RTS/CTS on, the program's side sends only while CTS is up, and a
        // three-wire cable never raises it: its bytes stay where they are.
        m_flowHeld = readHardwareFlowControl(m_master);
        if (!receiverReady(now))
            return;
        m_lineSpeed = readLineSpeed(m_master);
        const int speed = m_core->speed();
        const double bt = byteMs(m_lineSpeed > 0 ? m_lineSpeed : speed);
        std::size_t room = sizeof buf;
        if (m_options.pacing) {
            // Only what the line has brought by now and in the next moments.
            const double backlog = std::max(0.0, m_rxBusyUntil - now);
            room = std::clamp<std::size_t>(static_cast<std::size_t>((kRxLookaheadMs - backlog) / bt), 1, sizeof buf);
        }
        const ssize_t n = ::read(m_master, buf, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // EAGAIN, or EIO while no one holds the slave
        Bytes bytes(buf, static_cast<std::size_t>(n));
        // The program may hold the exclusive flag; our own descriptor keeps the flag alive
        // after the program closes, so clear it once the program has spoken (its lock
        // file descriptor still keeps two openers apart).
        if (m_slave >= 0)
            ::ioctl(m_slave, TIOCNXCL);
        const double arrival = m_options.pacing ? std::max(now, m_rxBusyUntil) + bytes.size() * bt : now;
        if (m_options.pacing)
            m_rxBusyUntil = arrival;
        if (m_lineSpeed != speed) {
            // Sent at a speed the display does not listen at: noise, once it is through.
            m_core->noise(bytes, arrival);
            continue;
        }
        m_incoming.push_back({arrival, std::move(bytes)});
    }
}

void VirtualDisplay::deliverInput(double now)
{
    while (!m_incoming.empty() && m_incoming.front().at <= now && !m_hungUp) {
        Incoming in = std::move(m_incoming.front());
        m_incoming.pop_front();
        apply(m_core->receive(in.bytes, in.at), in.at);
    }
}

void VirtualDisplay::apply(const std::vector<Action>& actions, double at)
{
    for (const Action& a : actions) {
        switch (a.kind) {
        case Action::Kind::Send: {
            if (m_options.log && m_options.verbose)
                m_options.log("-> [" + std::to_string(a.bytes.size()) + "] " + hexSpaced(a.bytes));
            Outgoing o{at + a.delayMs, a.bytes};
            auto pos = std::upper_bound(m_outgoing.begin(), m_outgoing.end(), o.due,
                                        [](double due, const Outgoing& x) { return due < x.due; });
            m_outgoing.insert(pos, std::move(o));
            break;
        }
        case Action::Kind::SetSpeed:
            if (m_options.log)
                m_options.log("-- speed " + std::to_string(a.baud));
            break;
        case Action::Kind::HangUp:
            hangUp();
            return;
        }
    }
}

void VirtualDisplay::pumpOutput(double now)
{
    if (m_master < 0)
        return;
    while (!m_outgoing.empty() && m_outgoing.front().due <= now) {
        if (m_wire.empty())
            m_wireClock = std::max(m_wireClock, m_outgoing.front().due);
        m_wire += m_outgoing.front().bytes;
        m_outgoing.pop_front();
    }
    Bytes sent;
    if (!m_options.pacing) {
        sent.swap(m_wire);
    } else if (!m_wire.empty()) {
        const double bt = byteMs(m_core->speed());
        const double k = std::floor((now - m_wireClock) / bt + 1e-9);
        const std::size_t count = k <= 0 ? 0 : std::min<std::size_t>(m_wire.size(), static_cast<std::size_t>(k));
        if (count > 0) {
            sent = m_wire.substr(0, count);
            m_wire.erase(0, count);
            m_wireClock += count * bt;
        }
    }
    if (!sent.empty()) {
        // Sent at a speed the program is not listening at: it would only see garbage.
        m_lineSpeed = readLineSpeed(m_master);
        // The program may have opened the port since the last look: an answer to it must
        // not be taken for one to nobody.
        if (m_inotify >= 0 && m_openers == 0)
            handleInotify();
        if (m_lineSpeed != m_core->speed()) {
            if (m_options.log)
                m_options.log("-- lost at the wrong speed: " + hexSpaced(sent));
        } else if (m_inotify >= 0 && m_openers == 0) {
            if (m_options.log && m_options.verbose)
                m_options.log("-- lost, the port is closed: " + hexSpaced(sent));
        } else {
            m_ready += sent;
        }
    }
    while (!m_ready.empty()) {
        const ssize_t n = ::write(m_master, m_ready.data(), m_ready.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                m_ready.clear(); // EIO: nobody to hear it
            return;
        }
        m_ready.erase(0, static_cast<std::size_t>(n));
    }
}

std::string VirtualDisplay::devicePath() const
{
    std::lock_guard lock(m_mutex);
    return m_linkPath.empty() ? m_slavePath : m_linkPath;
}

std::string VirtualDisplay::slavePath() const
{
    std::lock_guard lock(m_mutex);
    return m_slavePath;
}

std::string VirtualDisplay::linkPath() const
{
    std::lock_guard lock(m_mutex);
    return m_linkPath;
}

int VirtualDisplay::speed() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->speed() : m_options.baud;
}

int VirtualDisplay::lineSpeed() const
{
    std::lock_guard lock(m_mutex);
    return m_master >= 0 ? readLineSpeed(m_master) : m_lineSpeed;
}

std::vector<Record> VirtualDisplay::records() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->records() : std::vector<Record>{};
}

std::vector<Record> VirtualDisplay::recordsNamed(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    std::vector<Record> out;
    if (m_core)
        for (const auto& r : m_core->records())
            if (r.name == name)
                out.push_back(r);
    return out;
}

void VirtualDisplay::clearRecords()
{
    std::lock_guard lock(m_mutex);
    if (m_core)
        m_core->clearRecords();
}

bool VirtualDisplay::waitForRecord(const std::string& name, double timeoutMs, std::size_t count) const
{
    std::unique_lock lock(m_mutex);
    auto enough = [&] {
        if (!m_core)
            return false;
        std::size_t n = 0;
        for (const auto& r : m_core->records())
            n += r.name == name;
        return n >= count;
    };
    return m_changed.wait_for(lock, std::chrono::duration<double, std::milli>(timeoutMs), enough);
}

SettingsDocument VirtualDisplay::settings() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->settings() : SettingsDocument();
}

Bytes VirtualDisplay::settingsText() const { return settings().render(); }

std::map<std::uint32_t, Bytes> VirtualDisplay::blocks() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->blocks() : std::map<std::uint32_t, Bytes>{};
}

std::map<std::string, Bytes> VirtualDisplay::files() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->files() : std::map<std::string, Bytes>{};
}

std::optional<Bytes> VirtualDisplay::firmware() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->firmware() : std::nullopt;
}

std::vector<QrPicture> VirtualDisplay::qrPictures() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->qrPictures() : std::vector<QrPicture>{};
}

std::vector<Transfer> VirtualDisplay::transfers() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->transfers() : std::vector<Transfer>{};
}

bool VirtualDisplay::waitForTransfers(std::size_t count, double timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    auto enough = [&] {
        if (!m_core)
            return false;
        std::size_t n = 0;
        for (const auto& t : m_core->transfers())
            n += t.finished;
        return n >= count;
    };
    return m_changed.wait_for(lock, std::chrono::duration<double, std::milli>(timeoutMs), enough);
}

Faults VirtualDisplay::faults() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->faults() : m_options.faults;
}

void VirtualDisplay::setFaults(const Faults& faults)
{
    std::lock_guard lock(m_mutex);
    m_options.faults = faults;
    if (m_core)
        m_core->setFaults(faults);
}

bool VirtualDisplay::hungUp() const
{
    std::lock_guard lock(m_mutex);
    return m_hungUp;
}

int VirtualDisplay::restarts() const
{
    std::lock_guard lock(m_mutex);
    return m_core ? m_core->restarts() : 0;
}

} // namespace tarsel::sim
