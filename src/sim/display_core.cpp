#include "sim/display_core.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tarsel::sim {

namespace {

constexpr std::size_t npos = Bytes::npos;
constexpr std::size_t kStreamRecordLimit = 1024;
constexpr double kQrTimeoutMs = 3000;

std::uint8_t at(const Bytes& b, std::size_t i) { return static_cast<std::uint8_t>(b[i]); }

std::uint32_t be32(const Bytes& b, std::size_t i)
{
    return (std::uint32_t(at(b, i)) << 24) | (std::uint32_t(at(b, i + 1)) << 16)
        | (std::uint32_t(at(b, i + 2)) << 8) | std::uint32_t(at(b, i + 3));
}

void putBe32(Bytes& out, std::uint32_t v)
{
    out.push_back(static_cast<char>(v >> 24));
    out.push_back(static_cast<char>(v >> 16));
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

void putBe16(Bytes& out, std::uint16_t v)
{
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Bytes that start a command; a run of plain text ends before them.
bool startsCommand(std::uint8_t c)
{
    return c == 0x02 || c == 0x07 || c == 0x0B || c == 0x0C || c == 0x1B || c == 0x1F;
}

const Bytes kQrTrailer = bytesOf({0x02, 0x07, 0x19, 0x00});

} // namespace

enum class DisplayCore::Cmd {
    ModelQuery, ReadVersion, GetConfiguration, SetLine1Text, SetLine2Text, SetLineFlags,
    SetTextColor, SetBackColor, SetTitleMode, SetMainTextLines, SetMainText, ShowPicture,
    SetPlayList, SetStandbyTime, SetPlayInterval, FormatStorage, MakeFile, ShowQrCode,
    ShowQrCodeAt, QrPictureStart, SwitchDeviceBaud, FactoryReset, StartDownload,
    DownloadServiceSetup, SetInterChar, SetCodePage, SetDeviceBaud, SetCommandSet,
    RestartDisplay, UpgradeSync, ClearDisplay, HomeAndText, SetBrightness, SendTextAt,
    Control, Escape, Block, Announce, Unknown, Text, Ignored,
};

struct DisplayCore::Match {
    bool needMore = false;
    std::size_t length = 0;
    Cmd cmd = Cmd::Text;
    const char* name = "Text";
};

DisplayCore::DisplayCore(Config config)
    : m_config(std::move(config)), m_model(findModel(m_config.model)), m_speed(m_config.baud),
      m_configuredSpeed(m_config.baud), m_settings(m_config.settings), m_rng(m_config.seed)
{
    if (!m_model) {
        std::string known;
        for (const auto& m : models())
            known += std::string(known.empty() ? "" : ", ") + m.name;
        throw std::invalid_argument("unknown display model \"" + m_config.model + "\" (known: " + known + ")");
    }
    if (!isSupportedBaud(m_config.baud))
        throw std::invalid_argument("unsupported line speed " + std::to_string(m_config.baud)
                                    + " (9600, 19200, 38400, 57600 or 115200)");
}

void DisplayCore::setFaults(const Faults& faults)
{
    m_config.faults = faults;
    m_blocksSinceFaults = 0;
    m_stopped = false;
}

void DisplayCore::record(const std::string& name, const Bytes& bytes, double nowMs, std::size_t length)
{
    Record r{nowMs, name, bytes, length ? length : bytes.size()};
    m_records.push_back(r);
    if (onRecord)
        onRecord(m_records.back());
}

void DisplayCore::answer(std::vector<Action>& out, const Bytes& bytes)
{
    const Faults& f = m_config.faults;
    if (f.silent || m_stopped || m_hungUp)
        return;
    Action a;
    a.kind = Action::Kind::Send;
    std::uniform_int_distribution<int> noiseByte(0x80, 0xFE);
    for (int i = 0; i < f.garbageBytes; ++i)
        a.bytes.push_back(static_cast<char>(noiseByte(m_rng)));
    a.bytes += bytes;
    a.delayMs = f.slowMs;
    out.push_back(std::move(a));
}

void DisplayCore::echo(std::vector<Action>& out, const Bytes& frame)
{
    Bytes e = frame;
    if (m_config.faults.wrongEcho && !e.empty())
        e.back() = static_cast<char>(at(e, e.size() - 1) ^ 0x01);
    answer(out, e);
}

void DisplayCore::switchSpeed(int baud, double nowMs, std::vector<Action>& out)
{
    if (!isSupportedBaud(baud) || baud == m_speed)
        return;
    m_speed = baud;
    // Reprogramming its line takes a moment: what arrives meanwhile is lost.
    m_switchingUntil = nowMs + m_config.speedSettleMs;
    Action a;
    a.kind = Action::Kind::SetSpeed;
    a.baud = baud;
    out.push_back(a);
}

std::uint16_t DisplayCore::reportedCrc(std::uint16_t crc) const
{
    return m_config.faults.wrongCrc ? static_cast<std::uint16_t>(crc ^ 0x5A5A) : crc;
}

// ---------------------------------------------------------------- frame recognition

DisplayCore::Match DisplayCore::match(bool quiet) const
{
    const Bytes& b = m_buf;
    const std::size_t n = b.size();
    Match m;
    auto fixed = [&](std::size_t len, Cmd cmd, const char* name) {
        if (n < len) {
            m.needMore = true;
            return m;
        }
        m.length = len;
        m.cmd = cmd;
        m.name = name;
        return m;
    };
    // Up to and including the first 00 at or after `from`.
    auto terminated = [&](std::size_t from, std::uint8_t end, Cmd cmd, const char* name) {
        const std::size_t pos = n > from ? b.find(static_cast<char>(end), from) : npos;
        if (pos == npos) {
            m.needMore = true;
            return m;
        }
        m.length = pos + 1;
        m.cmd = cmd;
        m.name = name;
        return m;
    };
    // Plain text from `from` up to the next command byte, or the quiet gap.
    auto textRun = [&](std::size_t from, Cmd cmd, const char* name) {
        std::size_t i = from;
        while (i < n && !startsCommand(at(b, i)))
            ++i;
        if (i == n && !quiet) {
            m.needMore = true;
            return m;
        }
        m.length = i;
        m.cmd = cmd;
        m.name = name;
        return m;
    };
    // Everything up to the quiet gap, whatever the bytes are.
    auto untilQuiet = [&](Cmd cmd, const char* name) {
        if (!quiet) {
            m.needMore = true;
            return m;
        }
        m.length = n;
        m.cmd = cmd;
        m.name = name;
        return m;
    };
    // Decimal digits up to maxValue: more digits are awaited while the value could grow.
    auto digits = [&](Cmd cmd, const char* name, int maxValue) {
        if (n < 3) {
            m.needMore = true;
            return m;
        }
        if (!isDigit(at(b, 2))) {
            m.length = 2;
            m.cmd = Cmd::Unknown;
            m.name = "Unknown";
            return m;
        }
        std::size_t i = 2;
        long value = 0;
        while (i < n && isDigit(at(b, i)) && (i == 2 || value * 10 + (at(b, i) - '0') <= maxValue)) {
            value = value * 10 + (at(b, i) - '0');
            ++i;
        }
        if (i == n && value * 10 <= maxValue && !quiet) {
            m.needMore = true;
            return m;
        }
        m.length = i;
        m.cmd = cmd;
        m.name = name;
        return m;
    };

    if (n == 0) {
        m.needMore = true;
        return m;
    }
    const std::uint8_t c0 = at(b, 0);
    const std::size_t k = n < 5 ? n : 5;

    // Waiting for a block, the display listens for block frames only: anything else,
    // up to the next "A" or the quiet gap, is heard and dropped.
    if (m_pull) {
        static const Bytes act0 = "ACT=0";
        if (b.compare(0, k, act0, 0, k) == 0 && !(n < 5 && quiet))
            return fixed(kBlockFrameSize, Cmd::Block, "Block");
        std::size_t i = 1;
        while (i < n && at(b, i) != 'A')
            ++i;
        if (i == n && !quiet) {
            m.needMore = true;
            return m;
        }
        m.length = i;
        m.cmd = Cmd::Ignored;
        m.name = "IgnoredDuringTransfer";
        return m;
    }

    // The firmware announce frame starts with "ACT=1".
    if (c0 == 'A') {
        static const Bytes act1 = "ACT=1";
        if (m_model->firmwareLoader && b.compare(0, k, act1, 0, k) == 0) {
            if (n < 5 && quiet)
                return textRun(1, Cmd::Text, "Text");
            return fixed(20, Cmd::Announce, "Announce");
        }
        return textRun(1, Cmd::Text, "Text");
    }

    switch (c0) {
    case 0x02: {
        if (n < 2)
            return fixed(2, Cmd::Unknown, "Unknown");
        switch (at(b, 1)) {
        case 0x07: {
            if (n < 3)
                return fixed(3, Cmd::Unknown, "Unknown");
            switch (at(b, 2)) {
            case 0x16:
                if (n < 4)
                    return fixed(4, Cmd::Unknown, "Unknown");
                switch (at(b, 3)) {
                case 0x01: return fixed(4, Cmd::ModelQuery, "ModelQuery");
                case 0x02: return fixed(4, Cmd::ReadVersion, "ReadVersion");
                case 0x05: return fixed(4, Cmd::GetConfiguration, "GetConfiguration");
                case 0x06: return terminated(4, 0x00, Cmd::SetLine1Text, "SetLine1Text");
                case 0x07: return terminated(4, 0x00, Cmd::SetLine2Text, "SetLine2Text");
                case 0x09: return fixed(5, Cmd::SetLineFlags, "SetLineFlags");
                default: return fixed(4, Cmd::Unknown, "Unknown");
                }
            case 0x0B: case 0x0E: case 0x10: return fixed(6, Cmd::SetTextColor, "SetTextColor");
            case 0x0C: case 0x0F: case 0x11: return fixed(6, Cmd::SetBackColor, "SetBackColor");
            case 0x09: case 0x0A: return fixed(3, Cmd::SetTitleMode, "SetTitleMode");
            case 0x14: return fixed(4, Cmd::SetMainTextLines, "SetMainTextLines");
            // The main text has no end marker: it ends when the line falls quiet, and
            // every byte before that (a 02 too) is text.
            case 0x18: return untilQuiet(Cmd::SetMainText, "SetMainText");
            case 0x1A: return fixed(4, Cmd::ShowPicture, "ShowPicture");
            case 0x28: return fixed(5, Cmd::SetPlayList, "SetPlayList");
            case 0x1C: return fixed(4, Cmd::SetStandbyTime, "SetStandbyTime");
            case 0x1B: return fixed(4, Cmd::SetPlayInterval, "SetPlayInterval");
            case 0x05:
                if (n < 4)
                    return fixed(4, Cmd::Unknown, "Unknown");
                if (at(b, 3) == 0x00)
                    return fixed(4, Cmd::FormatStorage, "FormatStorage");
                if (at(b, 3) == 0x01)
                    return terminated(4, 0x0A, Cmd::MakeFile, "MakeFile");
                return fixed(4, Cmd::Unknown, "Unknown");
            case 0x1D: return terminated(5, 0x00, Cmd::ShowQrCode, "ShowQrCode");
            case 0x1E: return terminated(5, 0x00, Cmd::ShowQrCodeAt, "ShowQrCodeAt");
            case 0x19:
                if (n < 4)
                    return fixed(4, Cmd::Unknown, "Unknown");
                if (at(b, 3) == 0x00) // a picture trailer without its start
                    return fixed(4, Cmd::Unknown, "Unknown");
                return fixed(5, Cmd::QrPictureStart, "SendQrPicture");
            case 0x04: return fixed(7, Cmd::SwitchDeviceBaud, "SwitchDeviceBaud");
            case 0x15:
                if (n >= 5 && !(at(b, 3) == 0x27 && at(b, 4) == 0x27))
                    return fixed(3, Cmd::Unknown, "Unknown");
                return fixed(5, Cmd::FactoryReset, "FactoryReset");
            case 0x27:
                if (n >= 5 && !(at(b, 3) == 0x27 && at(b, 4) == 0x27))
                    return fixed(3, Cmd::Unknown, "Unknown");
                return fixed(5, Cmd::StartDownload, "StartDownload");
            default: return fixed(3, Cmd::Unknown, "Unknown");
            }
        }
        case 0x10: return fixed(10, Cmd::DownloadServiceSetup, "DownloadServiceSetup");
        case 0x05: return fixed(3, Cmd::SetInterChar, "SetInterChar");
        case 0x06: return fixed(3, Cmd::SetCodePage, "SetCodePage");
        case 0x42: return digits(Cmd::SetDeviceBaud, "SetDeviceBaud", 4);
        case 0x43: return digits(Cmd::SetCommandSet, "SetCommandSet", 14);
        case 0x1D:
            if (n >= 4 && !(at(b, 2) == 0xAA && at(b, 3) == 0x55))
                return fixed(2, Cmd::Unknown, "Unknown");
            return fixed(4, Cmd::RestartDisplay, "RestartDisplay");
        default: return fixed(2, Cmd::Unknown, "Unknown");
        }
    }
    case 0x07: {
        std::size_t i = 0;
        while (i < n && i < 4 && at(b, i) == 0x07)
            ++i;
        if (i == 4)
            return fixed(4, Cmd::UpgradeSync, "UpgradeSync");
        if (i == n && !quiet) {
            m.needMore = true;
            return m;
        }
        return textRun(i, Cmd::Text, "Text");
    }
    case 0x0C: return fixed(1, Cmd::ClearDisplay, "ClearDisplay");
    case 0x0B: return textRun(1, Cmd::HomeAndText, "HomeAndText");
    case 0x1F:
        if (n < 2)
            return fixed(2, Cmd::Control, "Control");
        if (at(b, 1) == 0x58)
            return fixed(3, Cmd::SetBrightness, "SetBrightness");
        if (at(b, 1) == 0x24) {
            if (n < 4)
                return fixed(4, Cmd::SendTextAt, "SendTextAt");
            return textRun(4, Cmd::SendTextAt, "SendTextAt");
        }
        return fixed(2, Cmd::Control, "Control");
    case 0x1B: return fixed(2, Cmd::Escape, "Escape");
    default: return textRun(1, Cmd::Text, "Text");
    }
}

// ---------------------------------------------------------------- receiving

std::vector<Action> DisplayCore::receive(const Bytes& bytes, double nowMs)
{
    // What time alone would have done by now comes first: a caller that woke late must
    // not join a frame that the quiet gap has ended to the bytes that follow it.
    std::vector<Action> out = tick(nowMs);
    if (m_hungUp || bytes.empty())
        return out;
    if (restarting(nowMs)) {
        record("IgnoredWhileRestarting", bytes, nowMs);
        return out;
    }
    if (nowMs < m_switchingUntil) {
        record("IgnoredWhileSwitching", bytes, nowMs);
        return out;
    }
    m_lastInput = nowMs;
    if (m_qr) {
        Bytes rest = feedQr(bytes, nowMs);
        if (rest.empty())
            return out;
        m_buf += rest;
        parse(nowMs, false, out);
        return out;
    }
    m_buf += bytes;
    parse(nowMs, false, out);
    return out;
}

void DisplayCore::noise(const Bytes& bytes, double nowMs)
{
    if (m_hungUp || bytes.empty())
        return;
    // One burst of noise is one record, however the line delivered it.
    if (!m_records.empty()) {
        Record& last = m_records.back();
        if (last.name == "Noise" && nowMs - last.timeMs < m_config.quietGapMs) {
            last.bytes += bytes;
            last.length = last.bytes.size();
            last.timeMs = nowMs;
            return;
        }
    }
    record("Noise", bytes, nowMs);
}

void DisplayCore::parse(double nowMs, bool quiet, std::vector<Action>& out)
{
    while (!m_buf.empty() && !m_hungUp) {
        if (m_stream) {
            feedStream(nowMs, out);
            continue;
        }
        if (m_qr) {
            Bytes rest;
            rest.swap(m_buf);
            m_buf = feedQr(rest, nowMs);
            continue;
        }
        if (restarting(nowMs)) { // bytes behind the restart command are lost
            record("IgnoredWhileRestarting", m_buf, nowMs);
            m_buf.clear();
            return;
        }
        if (nowMs < m_switchingUntil) { // and those right behind a change of speed
            record("IgnoredWhileSwitching", m_buf, nowMs);
            m_buf.clear();
            return;
        }
        Match m = match(quiet);
        if (m.needMore) {
            if (!quiet)
                return;
            // The line went quiet in the middle of a frame: keep what came as text (or,
            // waiting for a block, drop the broken frame).
            m.needMore = false;
            m.length = m_buf.size();
            m.cmd = m_pull ? Cmd::Ignored : Cmd::Text;
            m.name = m_pull ? "IgnoredDuringTransfer" : "Text";
        }
        if (m.length == 0)
            m.length = 1;
        Bytes frame = m_buf.substr(0, m.length);
        m_buf.erase(0, m.length);
        handle(m, frame, nowMs, out);
    }
}

std::vector<Action> DisplayCore::tick(double nowMs)
{
    std::vector<Action> out;
    if (m_hungUp)
        return out;
    // Deadlines are compared as nextDeadline() computes them, so that a caller that
    // comes exactly at the deadline it was given finds it due.
    if (!m_buf.empty() && nowMs >= m_lastInput + m_config.quietGapMs)
        parse(nowMs, true, out);
    if (m_qr && nowMs >= m_qr->lastMs + m_config.quietGapMs) {
        const Bytes& d = m_qr->picture.bytes;
        if (d.size() >= 4 && d.compare(d.size() - 4, 4, kQrTrailer) == 0)
            finishQr(nowMs);
        else if (nowMs >= m_qr->lastMs + kQrTimeoutMs) {
            record("QrPictureAbandoned", d, nowMs);
            m_qr.reset();
        }
    }
    if (m_pull && nowMs >= m_pull->requestedMs + m_config.blockRetryMs) {
        if (m_pull->silentRetries < m_config.blockRetries) {
            ++m_pull->silentRetries;
            requestBlock(nowMs, out);
        } else {
            abandonPull(nowMs);
        }
    }
    if (m_stream && nowMs >= m_stream->lastMs + m_config.streamGapMs) {
        m_transfers[m_stream->transfer].endMs = nowMs;
        m_transfers[m_stream->transfer].finished = true;
        m_stream.reset();
    }
    return out;
}

double DisplayCore::nextDeadline() const
{
    double t = std::numeric_limits<double>::infinity();
    if (m_hungUp)
        return t;
    if (!m_buf.empty())
        t = std::min(t, m_lastInput + m_config.quietGapMs);
    if (m_qr) {
        const Bytes& d = m_qr->picture.bytes;
        const bool trailer = d.size() >= 4 && d.compare(d.size() - 4, 4, kQrTrailer) == 0;
        t = std::min(t, m_qr->lastMs + (trailer ? m_config.quietGapMs : kQrTimeoutMs));
    }
    if (m_pull)
        t = std::min(t, m_pull->requestedMs + m_config.blockRetryMs);
    if (m_stream)
        t = std::min(t, m_stream->lastMs + m_config.streamGapMs);
    return t;
}

// ---------------------------------------------------------------- commands

void DisplayCore::handle(const Match& m, const Bytes& f, double nowMs, std::vector<Action>& out)
{
    // A display that forgets some settings: whatever a command does to them is undone.
    const SettingsDocument before = m_config.faults.unkeptKeys.empty() ? SettingsDocument() : m_settings;
    const SettingsDocument settingsBefore = m_settings;
    const std::size_t stored = m_blocks.size() + m_files.size();
    handleFrame(m, f, nowMs, out);
    showOnScreen(m, f);
    if (!(m_settings == settingsBefore) || m_blocks.size() + m_files.size() != stored)
        ++m_screenChanges;
    for (const std::string& key : m_config.faults.unkeptKeys) {
        if (key == "wel_mess1" || key == "wel_mess2" || key == "main_str")
            m_settings.setText(key, before.text(key));
        else
            m_settings.setNumber(key, before.number(key));
    }
}

void DisplayCore::showOnScreen(const Match& m, const Bytes& f)
{
    Shown next = m_shown;
    switch (m.cmd) {
    case Cmd::Text:
        next = {Shown::What::Text, f.substr(0, 40)};
        break;
    case Cmd::HomeAndText:
        next = {Shown::What::Text, f.substr(1, 40)};
        break;
    case Cmd::SendTextAt:
        next = {Shown::What::Text, f.size() > 4 ? f.substr(4, 40) : Bytes()};
        break;
    case Cmd::ClearDisplay:
        next = {Shown::What::Cleared};
        break;
    case Cmd::ShowPicture:
        next = {Shown::What::Picture};
        next.picture = at(f, 3);
        break;
    case Cmd::ShowQrCode:
    case Cmd::ShowQrCodeAt:
        // 02 07 1D|1E align slot|picture text 00
        next = {Shown::What::QrText, f.substr(5, f.size() - 6)};
        next.align = at(f, 3);
        next.picture = m.cmd == Cmd::ShowQrCodeAt ? at(f, 4) : 0;
        break;
    default:
        return;
    }
    m_shown = std::move(next);
    ++m_screenChanges;
}

void DisplayCore::handleFrame(const Match& m, const Bytes& f, double nowMs, std::vector<Action>& out)
{
    if (m.cmd != Cmd::Block && m.cmd != Cmd::Announce)
        record(m.name, f, nowMs); // transfer frames are recorded once they are checked
    SettingsDocument& s = m_settings;
    switch (m.cmd) {
    case Cmd::ModelQuery: {
        Bytes name = m_config.answerName.empty() ? Bytes(m_model->name) : Bytes(m_config.answerName);
        name.push_back('\0');
        answer(out, name);
        break;
    }
    case Cmd::ReadVersion:
        answer(out, Bytes(1, static_cast<char>(m_config.version & 0xFF)));
        break;
    case Cmd::GetConfiguration: {
        Bytes doc = s.render();
        doc.push_back('\0');
        answer(out, doc);
        break;
    }
    case Cmd::SetLine1Text:
        s.setText("wel_mess1", f.substr(4, f.size() - 5));
        break;
    case Cmd::SetLine2Text:
        s.setText("wel_mess2", f.substr(4, f.size() - 5));
        break;
    case Cmd::SetLineFlags:
        s.setNumber("temp2", at(f, 4));
        break;
    case Cmd::SetTextColor:
    case Cmd::SetBackColor: {
        static const std::map<std::uint8_t, const char*> keys = {
            {0x0B, "tp_font_rgb"}, {0x0C, "tp_back_rgb"},
            {0x0E, "font_Foreground_color"}, {0x0F, "font_Background_color"},
            {0x10, "bm_font_rgb"}, {0x11, "bm_back_rgb"},
        };
        s.setNumber(keys.at(at(f, 2)), rgb565(at(f, 3), at(f, 4), at(f, 5)));
        echo(out, f);
        break;
    }
    case Cmd::SetTitleMode:
        s.setNumber("tp_mode", at(f, 2));
        echo(out, f);
        break;
    case Cmd::SetMainTextLines:
        s.setNumber("line_mode", at(f, 3));
        echo(out, f);
        break;
    case Cmd::SetMainText:
        s.setText("main_str", f.substr(3));
        break;
    case Cmd::SetPlayList:
        s.setNumber("pic_reg", (at(f, 3) << 8) | at(f, 4));
        break;
    case Cmd::SetStandbyTime:
        s.setNumber("into_lun_bo", at(f, 3));
        break;
    case Cmd::SetPlayInterval:
        s.setNumber("lun_time", at(f, 3));
        break;
    case Cmd::FormatStorage:
        m_blocks.clear();
        m_files.clear();
        break;
    case Cmd::MakeFile:
        onMakeFile(f, nowMs, out);
        break;
    case Cmd::QrPictureStart: {
        QrUpload up;
        up.picture.align = at(f, 3);
        up.picture.slot = at(f, 4);
        up.lastMs = nowMs;
        m_qr = up;
        if (!m_buf.empty()) {
            Bytes rest;
            rest.swap(m_buf);
            m_buf = feedQr(rest, nowMs);
        }
        break;
    }
    case Cmd::SwitchDeviceBaud:
        switchSpeed(static_cast<int>(be32(f, 3)), nowMs, out);
        break;
    case Cmd::FactoryReset:
        s.reset();
        break;
    case Cmd::SetInterChar:
        s.setNumber("Char_No", at(f, 2));
        break;
    case Cmd::SetCodePage:
        s.setNumber("Expand_Char_No", at(f, 2));
        break;
    case Cmd::SetDeviceBaud: {
        const int code = std::stoi(f.substr(2));
        if (code >= 0 && code < static_cast<int>(baudCodes().size())) {
            s.setNumber("Baud_Rate", code);
            m_configuredSpeed = baudCodes()[code];
            switchSpeed(m_configuredSpeed, nowMs, out);
        }
        break;
    }
    case Cmd::SetCommandSet: {
        const int row = std::stoi(f.substr(2));
        if (row >= 0 && row <= 14)
            s.setNumber("Comm_No", row == 14 ? 255 : row);
        break;
    }
    case Cmd::SetBrightness:
        if (at(f, 2) >= 1 && at(f, 2) <= 4)
            s.setNumber("back_light", backLightCodeForLevel(at(f, 2)));
        break;
    case Cmd::RestartDisplay:
        ++m_restarts;
        m_silentUntil = nowMs + m_config.restartSilenceMs;
        m_setup.reset();
        m_pull.reset();
        m_stream.reset();
        m_qr.reset();
        switchSpeed(m_configuredSpeed, nowMs, out);
        break;
    case Cmd::DownloadServiceSetup:
        if (m_model->storage == StorageMethod::Block) {
            m_setup = std::make_pair(be32(f, 2), be32(f, 6));
            echo(out, f);
        }
        break;
    case Cmd::StartDownload:
        if (m_setup && m_model->storage == StorageMethod::Block) {
            const auto [address, length] = *m_setup;
            m_setup.reset();
            startPull(Transfer::Method::Block, address, length, std::nullopt, nowMs, out);
        }
        break;
    case Cmd::UpgradeSync:
        if (m_model->firmwareLoader)
            answer(out, "A");
        break;
    case Cmd::Announce: {
        // "ACT=1,L=002," length(4) crc(2) frame-crc(2)
        const std::uint16_t frameCrc = static_cast<std::uint16_t>((at(f, 18) << 8) | at(f, 19));
        if (crc16(f.data(), 18) != frameCrc || f.compare(0, 12, "ACT=1,L=002,") != 0) {
            record("AnnounceRefused", f, nowMs);
            break;
        }
        record("Announce", f, nowMs);
        const std::uint16_t fileCrc = static_cast<std::uint16_t>((at(f, 16) << 8) | at(f, 17));
        startPull(Transfer::Method::Firmware, 0, be32(f, 12), fileCrc, nowMs, out);
        break;
    }
    case Cmd::Block:
        onBlockFrame(f, nowMs, out);
        break;
    case Cmd::ShowPicture: case Cmd::ShowQrCode: case Cmd::ShowQrCodeAt: case Cmd::ClearDisplay:
    case Cmd::HomeAndText: case Cmd::SendTextAt: case Cmd::Control: case Cmd::Escape:
    case Cmd::Unknown: case Cmd::Text: case Cmd::Ignored:
        break; // shown on the screen, not understood, or not listened to: recorded only
    }
}

// ---------------------------------------------------------------- block method and firmware entry

void DisplayCore::startPull(Transfer::Method method, std::uint32_t address, std::size_t length,
                            std::optional<std::uint16_t> announcedCrc, double nowMs,
                            std::vector<Action>& out)
{
    Transfer t;
    t.method = method;
    t.address = address;
    t.expectedLength = length;
    t.announcedCrc = announcedCrc;
    t.startMs = nowMs;
    m_transfers.push_back(t);
    Pull p;
    p.method = method;
    p.address = address;
    p.length = length;
    p.transfer = m_transfers.size() - 1;
    m_pull = std::move(p);
    if (length == 0)
        finishPull(nowMs, out);
    else
        requestBlock(nowMs, out);
}

void DisplayCore::requestBlock(double nowMs, std::vector<Action>& out)
{
    Bytes req = "ACT=0,L=100,";
    putBe32(req, m_pull->block);
    // The wait for the block starts when the request leaves.
    m_pull->requestedMs = nowMs + m_config.faults.slowMs;
    answer(out, req);
}

void DisplayCore::abandonPull(double nowMs)
{
    // Given up without a word: nothing stored, no end frame, the speed left as it is.
    Bytes req = "ACT=0,L=100,";
    putBe32(req, m_pull->block);
    Transfer& t = m_transfers[m_pull->transfer];
    t.endMs = nowMs;
    t.finished = true;
    t.complete = false;
    m_pull.reset();
    record("TransferAbandoned", req, nowMs);
}

bool DisplayCore::countBlock(std::vector<Action>& out)
{
    ++m_blocksSinceFaults;
    const Faults& f = m_config.faults;
    if (f.hangUpAfterBlocks >= 0 && m_blocksSinceFaults >= f.hangUpAfterBlocks) {
        m_hungUp = true;
        Action a;
        a.kind = Action::Kind::HangUp;
        out.push_back(a);
        return false;
    }
    if (f.stopAfterBlocks >= 0 && m_blocksSinceFaults >= f.stopAfterBlocks)
        m_stopped = true;
    return true;
}

void DisplayCore::onBlockFrame(const Bytes& f, double nowMs, std::vector<Action>& out)
{
    Pull& p = *m_pull;
    Transfer& t = m_transfers[p.transfer];
    const std::uint16_t frameCrc = static_cast<std::uint16_t>((at(f, 272) << 8) | at(f, 273));
    const bool good = crc16(f.data(), 272) == frameCrc && f.compare(0, 12, "ACT=0,L=100,") == 0
        && be32(f, 12) == p.block;
    record(good ? "Block" : "BlockRefused", f, nowMs);
    if (!good) {
        ++t.badBlocks;
        if (++p.retries > kMaxBlockRetries) {
            finishPull(nowMs, out); // gives up; its CRC tells the PC the file is not whole
            return;
        }
        requestBlock(nowMs, out);
        return;
    }
    p.retries = 0;
    p.silentRetries = 0;
    const std::size_t take = std::min<std::size_t>(256, p.length - p.data.size());
    p.data.append(f, 16, take);
    t.receivedLength = p.data.size();
    if (!countBlock(out))
        return;
    if (p.data.size() >= p.length) {
        finishPull(nowMs, out);
        return;
    }
    ++p.block;
    requestBlock(nowMs, out);
}

void DisplayCore::finishPull(double nowMs, std::vector<Action>& out)
{
    Pull p = std::move(*m_pull);
    m_pull.reset();
    Transfer& t = m_transfers[p.transfer];
    t.receivedLength = p.data.size();
    t.crc = crc16(p.data);
    t.endMs = nowMs;
    t.finished = true;
    t.complete = p.data.size() == p.length;
    if (t.complete) {
        if (p.method == Transfer::Method::Firmware)
            m_firmware = p.data;
        else
            m_blocks[p.address] = p.data;
    }
    Bytes end = "ACT=9,L=000,";
    end.push_back('\0');
    end.push_back('\0');
    putBe16(end, reportedCrc(t.crc));
    answer(out, end);
}

// ---------------------------------------------------------------- named files

void DisplayCore::onMakeFile(const Bytes& f, double nowMs, std::vector<Action>& out)
{
    if (m_model->storage != StorageMethod::NamedFiles)
        return;
    // 02 07 05 01 name "," length "," crc 0A; the name may itself hold commas.
    const Bytes body = f.substr(4, f.size() - 5);
    const std::size_t c2 = body.rfind(',');
    const std::size_t c1 = c2 == npos || c2 == 0 ? npos : body.rfind(',', c2 - 1);
    auto number = [](const Bytes& s, long long& v) {
        if (s.empty() || s.size() > 10)
            return false;
        v = 0;
        for (char c : s) {
            if (!isDigit(static_cast<std::uint8_t>(c)))
                return false;
            v = v * 10 + (c - '0');
        }
        return true;
    };
    long long length = 0;
    long long crc = 0;
    const bool ok = c1 != npos && c1 > 0 && number(body.substr(c1 + 1, c2 - c1 - 1), length)
        && number(body.substr(c2 + 1), crc) && crc <= 0xFFFF && length <= 0x7FFFFFFF;
    if (!ok || m_config.faults.refuseMakeFile) {
        answer(out, "NO\r\n");
        return;
    }
    answer(out, "OK\r\n");
    Transfer t;
    t.method = Transfer::Method::NamedFile;
    t.name = body.substr(0, c1);
    t.expectedLength = static_cast<std::size_t>(length);
    t.announcedCrc = static_cast<std::uint16_t>(crc);
    t.startMs = nowMs;
    m_transfers.push_back(t);
    Stream s;
    s.name = t.name;
    s.length = t.expectedLength;
    s.lastMs = nowMs;
    s.transfer = m_transfers.size() - 1;
    m_stream = std::move(s);
    feedStream(nowMs, out);
}

void DisplayCore::feedStream(double nowMs, std::vector<Action>& out)
{
    Stream& s = *m_stream;
    Transfer& t = m_transfers[s.transfer];
    s.lastMs = nowMs;
    while (s.data.size() < s.length && !m_buf.empty()) {
        // Count 256-byte pieces for the block faults.
        const std::size_t toBoundary = 256 - s.data.size() % 256;
        const std::size_t take = std::min({toBoundary, s.length - s.data.size(), m_buf.size()});
        s.data.append(m_buf, 0, take);
        m_buf.erase(0, take);
        t.receivedLength = s.data.size();
        if (s.data.size() % 256 == 0 || s.data.size() == s.length) {
            if (!countBlock(out)) {
                m_stream.reset();
                return;
            }
        }
    }
    if (s.data.size() < s.length)
        return;
    Stream done = std::move(*m_stream);
    m_stream.reset();
    Bytes head = done.data.substr(0, kStreamRecordLimit);
    record("FileStream", head, nowMs, done.data.size());
    t.crc = crc16(done.data);
    t.endMs = nowMs;
    t.finished = true;
    t.complete = true;
    m_files[done.name] = std::move(done.data);
    answer(out, std::to_string(reportedCrc(t.crc)) + "\n");
}

// ---------------------------------------------------------------- QR picture

Bytes DisplayCore::feedQr(const Bytes& chunk, double nowMs)
{
    QrUpload& q = *m_qr;
    q.lastMs = nowMs;
    Bytes& d = q.picture.bytes;
    // A whole picture is counted in: the trailer right behind it ends the upload at once,
    // and what follows is the next frame, however the line delivered the bytes. A shorter
    // upload (a cut one) ends when the line falls quiet after a trailer (see tick()).
    const std::size_t whole = kQrPictureSize + kQrTrailer.size();
    if (d.size() < whole) {
        const std::size_t take = std::min(chunk.size(), whole - d.size());
        d += chunk.substr(0, take);
        if (d.size() == whole && d.compare(kQrPictureSize, kQrTrailer.size(), kQrTrailer) == 0) {
            finishQr(nowMs);
            return chunk.substr(take);
        }
        d += chunk.substr(take);
        return {};
    }
    d += chunk;
    return {};
}

void DisplayCore::finishQr(double nowMs)
{
    QrPicture pic = std::move(m_qr->picture);
    m_qr.reset();
    pic.bytes.resize(pic.bytes.size() - 4);
    Bytes trailer = kQrTrailer;
    record("QrPictureData", pic.bytes.substr(0, kStreamRecordLimit), nowMs, pic.bytes.size());
    record("QrPictureEnd", trailer, nowMs);
    m_shown = {Shown::What::QrPicture};
    m_shown.align = pic.align;
    m_shown.qrBits = pic.bytes;
    ++m_screenChanges;
    m_qrPictures.push_back(std::move(pic));
}

} // namespace tarsel::sim
