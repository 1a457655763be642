#include "cli/console.h"

#include "link/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarsel::cli {

namespace {

constexpr double kBlockBytes = 256;
constexpr double kBarRedrawMs = 100;

// CR LF as LF, no trailing blanks on any line, no empty lines at the end.
std::string tidy(const std::string& text)
{
    std::string out;
    std::string line;
    auto flush = [&] {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.pop_back();
        out += line;
        line.clear();
    };
    for (char c : text) {
        if (c == '\n') {
            flush();
            out += '\n';
        } else {
            line += c;
        }
    }
    flush();
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

} // namespace

const char* BoxKind(int flags)
{
    switch (flags & 0xF0) {
    case 0x10: return "error";
    case 0x20: return "question";
    case 0x30: return "warning";
    default: return "information";
    }
}

// ---------------------------------------------------------------------------
// Console

Console::Console(std::ostream& out, std::ostream& err, Options options, Asker asker)
    : m_out(out), m_err(err), m_options(options), m_asker(std::move(asker))
{
}

void Console::clearBarLocked()
{
    if (!m_barShown)
        return;
    m_err << "\r\033[K";
    m_barShown = false;
}

void Console::errLine(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    clearBarLocked();
    m_err << text << '\n';
    m_err.flush();
}

void Console::outText(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    clearBarLocked();
    m_err.flush();
    m_out << text;
    if (!text.empty() && text.back() != '\n')
        m_out << '\n';
    m_out.flush();
}

void Console::outBytes(const std::string& bytes)
{
    std::lock_guard lock(m_mutex);
    clearBarLocked();
    m_err.flush();
    m_out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    m_out.flush();
}

std::string Console::dump(const nlohmann::ordered_json& object)
{
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void Console::event(const nlohmann::ordered_json& object)
{
    const std::string line = dump(object);
    std::lock_guard lock(m_mutex);
    m_out << line << '\n';
    m_out.flush();
}

void Console::bar(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (!m_options.errIsTerminal)
        return;
    if (text.empty()) {
        clearBarLocked();
    } else {
        m_err << "\r\033[K" << text;
        m_barShown = true;
    }
    m_err.flush();
}

Reply Console::ask(const std::string& prompt, const CancelToken* cancel)
{
    std::lock_guard askLock(m_askMutex);
    {
        std::lock_guard lock(m_mutex);
        clearBarLocked();
        m_err << prompt;
        m_err.flush();
    }
    const Reply reply = m_asker ? m_asker(cancel) : Reply::No;
    if (reply == Reply::Cancelled) {
        std::lock_guard lock(m_mutex);
        m_err << '\n';
        m_err.flush();
    }
    return reply;
}

// ---------------------------------------------------------------------------
// ProgressMeter

ProgressMeter::ProgressMeter(Now now) : m_now(std::move(now)) {}

void ProgressMeter::start(int maximum)
{
    m_max = std::max(0, maximum);
    m_pos = 0;
    m_blocks = false;
    m_status.clear();
    m_itemStartMs = m_now();
}

void ProgressMeter::setMaximum(int maximum)
{
    m_max = std::max(0, maximum);
    m_pos = 0;
    m_blocks = true;
    m_itemStartMs = m_now();
}

void ProgressMeter::setPosition(int value) { m_pos = std::clamp(value, 0, m_max); }

void ProgressMeter::setStatus(const std::string& text, const std::string& detail)
{
    m_status = text;
    if (!detail.empty())
        m_status += (m_status.empty() ? "" : "  ") + detail;
}

int ProgressMeter::percent() const { return m_max > 0 ? static_cast<int>(100LL * m_pos / m_max) : 0; }

std::string ProgressMeter::formatBytes(double bytes)
{
    char buf[32];
    if (bytes < 1024)
        std::snprintf(buf, sizeof buf, "%.0f B", bytes);
    else if (bytes < 1024.0 * 1024.0)
        std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024.0);
    else
        std::snprintf(buf, sizeof buf, "%.2f MiB", bytes / (1024.0 * 1024.0));
    return buf;
}

std::string ProgressMeter::formatDuration(double seconds)
{
    const long s = std::lround(std::max(0.0, seconds));
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

std::string ProgressMeter::render(int width) const
{
    constexpr int kBarWidth = 20;
    const int pct = percent();
    const int filled = m_max > 0 ? static_cast<int>(static_cast<long long>(kBarWidth) * m_pos / m_max) : 0;
    char head[16];
    std::snprintf(head, sizeof head, "%3d%% [", pct);
    std::string line = head;
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    line += ']';
    if (m_blocks) {
        const double done = m_pos * kBlockBytes;
        const double total = m_max * kBlockBytes;
        line += " " + formatBytes(done) + " / " + formatBytes(total);
        const double seconds = (m_now() - m_itemStartMs) / 1000.0;
        if (done > 0 && seconds >= 0.2) {
            const double rate = done / seconds;
            line += "  " + formatBytes(rate) + "/s  " + formatDuration((total - done) / rate) + " left";
        } else {
            line += "  --/s";
        }
    }
    if (!m_status.empty())
        line += "  " + m_status;
    if (width > 1 && static_cast<int>(line.size()) > width - 1)
        line.resize(static_cast<std::size_t>(width - 1));
    return line;
}

// ---------------------------------------------------------------------------
// ConsoleOutlets

ConsoleOutlets::ConsoleOutlets(Console& console, Options options)
    : m_console(console), m_options(std::move(options)),
      m_meter(m_options.now ? m_options.now : ProgressMeter::Now([] { return SteadyClock().nowMs(); }))
{
}

std::string ConsoleOutlets::prefixed(const std::string& text) const
{
    if (m_options.port.empty())
        return text;
    const std::string prefix = "[" + m_options.port + "] ";
    std::string out = prefix;
    for (char c : text) {
        out += c;
        if (c == '\n')
            out += prefix;
    }
    return out;
}

nlohmann::ordered_json ConsoleOutlets::eventOf(const char* name) const
{
    nlohmann::ordered_json e;
    e["event"] = name;
    if (!m_options.port.empty())
        e["port"] = m_options.port;
    return e;
}

bool ConsoleOutlets::barShown() const
{
    return m_options.progressBar && m_console.options().errIsTerminal && !m_console.options().json;
}

int ConsoleOutlets::ShowMessageBox(const std::string& text, int flags)
{
    const std::string body = tidy(text);
    const bool json = m_console.options().json;
    if ((flags & 0x0F) == 4) {
        ++m_tally.questions;
        Reply reply = Reply::No;
        const char* how = "";
        if (m_options.assumeYes) {
            reply = Reply::Yes;
            how = "--yes";
            if (!json)
                m_console.errLine(prefixed(body + " [y/N] yes (--yes)"));
        } else if (m_console.options().canAsk) {
            reply = m_console.ask(prefixed(body + " [y/N] "), m_options.cancel);
            how = "terminal";
            if (reply == Reply::No)
                m_tally.declined = true;
        } else {
            m_tally.unanswered = true;
            how = "unanswered";
            if (!json)
                m_console.errLine(prefixed("question: " + body + "\nnot answered: there is no terminal to ask on; "
                                                                 "give --yes to answer Yes"));
        }
        if (json) {
            auto e = eventOf("message");
            e["kind"] = "question";
            e["text"] = body;
            e["answer"] = reply == Reply::Yes ? "yes" : "no";
            e["answered-by"] = how;
            m_console.event(e);
        }
        return reply == Reply::Yes ? kAnswerYes : kAnswerNo;
    }

    const char* kind = BoxKind(flags);
    if ((flags & 0xF0) == kBoxError) {
        ++m_tally.errors;
        m_tally.lastError = body;
    } else if ((flags & 0xF0) == kBoxWarning) {
        ++m_tally.warnings;
        m_tally.lastError = body;
    }
    if (json) {
        auto e = eventOf("message");
        e["kind"] = kind;
        e["text"] = body;
        m_console.event(e);
    } else if ((flags & 0xF0) == kBoxInfo || (flags & 0xF0) == 0) {
        m_console.errLine(prefixed(body));
    } else {
        m_console.errLine(prefixed(std::string(kind) + ": " + body));
    }
    return kAnswerOk;
}

void ConsoleOutlets::note(const std::string& text, const char* kind)
{
    if (m_console.options().json) {
        auto e = eventOf("message");
        e["kind"] = kind;
        e["text"] = tidy(text);
        m_console.event(e);
    } else if (std::string(kind) == "information") {
        m_console.errLine(prefixed(tidy(text)));
    } else {
        m_console.errLine(prefixed(std::string(kind) + ": " + tidy(text)));
    }
}

std::string ConsoleLogLine(const std::string& text)
{
    // The window's log lines: "CP437 [Succeed]", "CP437 [Failed]:CRC check error",
    // "CP437_40x40 [Failed]:not suport".
    const auto open = text.find(" [");
    const auto close = text.find(']', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos)
        return text;
    const std::string name = text.substr(0, open);
    const std::string word = text.substr(open + 2, close - open - 2);
    std::string reason = text.substr(close + 1);
    if (!reason.empty() && reason.front() == ':')
        reason.erase(0, 1);
    if (word == "Succeed")
        return "stored " + name;
    if (reason == "not suport")
        reason = "not supported by this model";
    return name + " failed" + (reason.empty() ? std::string() : ": " + reason);
}

std::string ConsoleStatusLine(const std::string& text, const std::string& detail)
{
    // The window's status texts: "Download CP437" with "3 of  77", "Header Settings ...",
    // "Firmware Updating......".
    std::string line = text;
    while (!line.empty() && (line.back() == '.' || line.back() == ' '))
        line.pop_back();
    if (line.rfind("Download ", 0) == 0)
        line = "sending " + line.substr(9);
    else if (line == "Firmware Updating")
        line = "updating the firmware";
    std::string count;
    for (char c : detail)
        if (!(c == ' ' && !count.empty() && count.back() == ' '))
            count += c;
    if (!count.empty())
        line += " (" + count + ")";
    return line;
}

void ConsoleOutlets::ShowLogOnRichEdit(const std::string& text, bool error)
{
    if (m_console.options().json) {
        auto e = eventOf("log");
        e["text"] = ConsoleLogLine(text);
        e["error"] = error;
        m_console.event(e);
        return;
    }
    m_console.errLine(prefixed(ConsoleLogLine(text)));
    drawBar(true);
}

void ConsoleOutlets::StartProgress(const std::string& text, int maximum, int)
{
    m_inProgress = true;
    m_lastPercent = -1;
    m_meter.start(maximum);
    const std::string line = ConsoleStatusLine(text, "");
    m_meter.setStatus(line, "");
    if (m_console.options().json) {
        auto e = eventOf("progress-start");
        e["text"] = line;
        m_console.event(e);
        return;
    }
    if (!barShown() && !line.empty())
        m_console.errLine(prefixed(line));
    drawBar(true);
}

void ConsoleOutlets::SetProgressMax(int maximum, int)
{
    m_meter.setMaximum(maximum);
    m_lastPercent = -1;
    drawBar(true);
}

void ConsoleOutlets::SetProgressPosition(int value, int)
{
    m_meter.setPosition(value);
    if (m_console.options().json) {
        const int pct = m_meter.percent();
        if (pct == m_lastPercent)
            return;
        m_lastPercent = pct;
        auto e = eventOf("progress");
        e["position"] = m_meter.position();
        e["maximum"] = m_meter.maximum();
        e["percent"] = pct;
        if (m_meter.blocks()) {
            e["bytes"] = static_cast<long long>(m_meter.position()) * 256;
            e["total-bytes"] = static_cast<long long>(m_meter.maximum()) * 256;
        }
        m_console.event(e);
        return;
    }
    drawBar(m_meter.position() >= m_meter.maximum());
}

void ConsoleOutlets::ShowTransferStatus(const std::string& text, const std::string& detail, int)
{
    const std::string line = tidy(ConsoleStatusLine(text, detail));
    m_meter.setStatus(line, "");
    if (m_console.options().json) {
        auto e = eventOf("status");
        e["text"] = line;
        m_console.event(e);
        return;
    }
    if (!barShown() && !line.empty())
        m_console.errLine(prefixed(line));
    drawBar(true);
}

void ConsoleOutlets::ResetProgress()
{
    const bool was = m_inProgress;
    m_inProgress = false;
    if (m_console.options().json) {
        if (was)
            m_console.event(eventOf("progress-end"));
        return;
    }
    if (barShown())
        m_console.bar("");
}

void ConsoleOutlets::TraceOut(const std::string& text)
{
    if (!m_options.trace || text.empty())
        return;
    if (m_console.options().json) {
        auto e = eventOf("trace");
        e["text"] = text;
        m_console.event(e);
        return;
    }
    m_console.errLine(prefixed(text));
    drawBar(true);
}

void ConsoleOutlets::drawBar(bool force)
{
    if (!m_inProgress || !barShown())
        return;
    const double now = m_options.now ? m_options.now() : SteadyClock().nowMs();
    if (!force && now - m_lastDrawMs < kBarRedrawMs)
        return;
    m_lastDrawMs = now;
    m_console.bar(prefixed(m_meter.render(m_console.options().width)));
}

} // namespace tarsel::cli
