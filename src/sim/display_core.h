// The display's behaviour without any I/O: bytes that reach it go in, the bytes it
// answers (and speed changes, hang-ups) come out. Time is passed in by the caller, so
// the whole state machine runs in unit tests without a pty.
#pragma once

#include "sim/sim_protocol.h"
#include "util/bytes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tarsel::sim {

// Misbehaviour on request.
struct Faults {
    bool silent = false;          // answers nothing at all (still records what it hears)
    int garbageBytes = 0;         // this many random bytes (0x80..0xFE) before every answer
    bool wrongEcho = false;       // echoes come back with their last byte changed
    bool wrongCrc = false;        // the end frame and the file CRC line report a wrong CRC
    int stopAfterBlocks = -1;     // goes silent once this many blocks (or 256-byte stream
                                  // pieces) have arrived since the faults were set; -1 never
    int hangUpAfterBlocks = -1;   // hangs the line up at that point instead; -1 never
    int slowMs = 0;               // every answer leaves this many ms late
    bool refuseMakeFile = false;  // make-file is answered "NO"
    std::vector<std::string> unkeptKeys = {}; // settings it takes (and echoes) but does not keep

    bool operator==(const Faults&) const = default;
};

// One frame (or run of bytes) the display received.
struct Record {
    double timeMs = 0;    // when it had fully arrived, on the caller's clock
    std::string name;     // "ModelQuery", "SetTextColor", "Block", "Text", "Noise", ...
    Bytes bytes;          // the frame (file streams: only their first 1024 bytes)
    std::size_t length = 0; // the full length
};

// One file transfer, finished or not.
struct Transfer {
    enum class Method { Block, Firmware, NamedFile };
    Method method = Method::Block;
    std::uint32_t address = 0;    // block method: flash address
    std::string name;             // named file: device file name
    std::size_t expectedLength = 0;
    std::size_t receivedLength = 0;
    std::optional<std::uint16_t> announcedCrc; // named file and firmware: the PC's CRC
    std::uint16_t crc = 0xFFFF;   // the display's CRC of what it received
    bool finished = false;        // ended: stored, given up or abandoned
    bool complete = false;        // every byte arrived and the file was stored
    int badBlocks = 0;            // block frames refused (CRC or block number wrong)
    double startMs = 0;
    double endMs = 0;
};

struct QrPicture {
    int align = 0;
    int slot = 0;
    Bytes bytes;
};

// What the screen shows besides the settings and the stored pictures: the last text,
// QR code or picture the display was told to show, or a cleared screen.
struct Shown {
    enum class What { Settings, Text, QrText, QrPicture, Picture, Cleared };
    What what = What::Settings;
    Bytes text = {}; // Text: the characters shown (up to 40); QrText: the code's text
    int align = 2;   // QrText, QrPicture: 1 left, 2 centre, 3 right
    Bytes qrBits = {}; // QrPicture: 192 x 192 pixels, 1 bit a pixel, 1 = black
    int picture = 0; // Picture: 1..10; QrText at a picture: that picture
};

struct Action {
    enum class Kind { Send, SetSpeed, HangUp };
    Kind kind = Kind::Send;
    Bytes bytes;          // Send
    int baud = 0;         // SetSpeed
    double delayMs = 0;   // Send: leave this long after the triggering frame arrived
};

class DisplayCore {
public:
    struct Config {
        std::string model = "KT710-II";
        int baud = 9600;
        int version = 12;
        double restartSilenceMs = 300;  // deaf and mute after the restart command
        double speedSettleMs = 20;      // deaf after changing its speed
        double quietGapMs = 20;         // frames without an end marker end after this quiet
        double blockRetryMs = 1000;     // a block request with no block frame this long is sent again ...
        int blockRetries = 3;           // ... this many times; this long after the last, the transfer is given up
        double streamGapMs = 2000;      // a named file whose data stops for this long is dropped
        std::uint32_t seed = 1;         // garbage bytes
        std::string answerName;         // what it answers the model query with (empty: its model's name)
        Faults faults;
        SettingsDocument settings;      // what it keeps at power-on (factory settings)
    };

    static constexpr std::size_t kBlockFrameSize = 274;
    static constexpr std::size_t kQrPictureSize = 4608;
    static constexpr int kMaxBlockRetries = 3;

    // Throws std::invalid_argument for an unknown model or an unsupported speed.
    explicit DisplayCore(Config config);

    // Bytes that reached the display at its own speed at time nowMs (ms, any origin).
    // Deadlines up to nowMs that tick() has not been called for are met first.
    std::vector<Action> receive(const Bytes& bytes, double nowMs);
    // Bytes sent at another line speed: recorded as "Noise", otherwise ignored.
    void noise(const Bytes& bytes, double nowMs);
    // Time passes: ends open frames after a quiet gap, asks again for a block that does
    // not come (and abandons the transfer in the end), drops a stream that stopped.
    std::vector<Action> tick(double nowMs);
    // When tick() next has something to do; +infinity when nothing is pending.
    double nextDeadline() const;

    // Called with every new record (logging).
    std::function<void(const Record&)> onRecord;

    const ModelInfo& model() const { return *m_model; }
    int speed() const { return m_speed; }
    int version() const { return m_config.version; }
    const SettingsDocument& settings() const { return m_settings; }
    const std::vector<Record>& records() const { return m_records; }
    void clearRecords() { m_records.clear(); }
    const std::map<std::uint32_t, Bytes>& blocks() const { return m_blocks; }
    const std::map<std::string, Bytes>& files() const { return m_files; }
    const std::optional<Bytes>& firmware() const { return m_firmware; }
    const std::vector<QrPicture>& qrPictures() const { return m_qrPictures; }
    const std::vector<Transfer>& transfers() const { return m_transfers; }
    // What the screen shows besides the settings and pictures.
    const Shown& shown() const { return m_shown; }
    // Grows with every change of what the screen would show: a setting, a stored
    // picture, a text, a QR code, a cleared screen.
    std::uint64_t screenChanges() const { return m_screenChanges; }
    const Faults& faults() const { return m_config.faults; }
    void setFaults(const Faults& faults);
    bool restarting(double nowMs) const { return nowMs < m_silentUntil; }
    bool hungUp() const { return m_hungUp; }
    int restarts() const { return m_restarts; }

private:
    enum class Cmd;
    struct Match;
    struct Pull {
        Transfer::Method method;
        std::uint32_t address = 0;
        std::size_t length = 0;
        Bytes data;
        std::uint32_t block = 0;
        int retries = 0;          // refused block frames for this block
        int silentRetries = 0;    // requests repeated because no block frame came
        double requestedMs = 0;   // when the last block request left
        std::size_t transfer = 0; // index in m_transfers
    };
    struct Stream {
        std::string name;
        std::size_t length = 0;
        Bytes data;
        double lastMs = 0;
        std::size_t transfer = 0;
    };
    struct QrUpload {
        QrPicture picture;
        double lastMs = 0;
    };

    Match match(bool quiet) const;
    void parse(double nowMs, bool quiet, std::vector<Action>& out);
    void handle(const Match& m, const Bytes& frame, double nowMs, std::vector<Action>& out);
    void handleFrame(const Match& m, const Bytes& frame, double nowMs, std::vector<Action>& out);
    void showOnScreen(const Match& m, const Bytes& frame);
    void record(const std::string& name, const Bytes& bytes, double nowMs, std::size_t length = 0);
    void answer(std::vector<Action>& out, const Bytes& bytes);
    void echo(std::vector<Action>& out, const Bytes& frame);
    void switchSpeed(int baud, double nowMs, std::vector<Action>& out);

    void startPull(Transfer::Method method, std::uint32_t address, std::size_t length,
                   std::optional<std::uint16_t> announcedCrc, double nowMs, std::vector<Action>& out);
    void requestBlock(double nowMs, std::vector<Action>& out);
    void abandonPull(double nowMs);
    void onBlockFrame(const Bytes& frame, double nowMs, std::vector<Action>& out);
    void finishPull(double nowMs, std::vector<Action>& out);
    void onMakeFile(const Bytes& frame, double nowMs, std::vector<Action>& out);
    void feedStream(double nowMs, std::vector<Action>& out);
    // Takes bytes of a QR picture upload; what follows a whole picture's trailer is returned.
    Bytes feedQr(const Bytes& chunk, double nowMs);
    void finishQr(double nowMs);
    // Counts an arrived block; returns false when a fault ends the conversation here.
    bool countBlock(std::vector<Action>& out);
    std::uint16_t reportedCrc(std::uint16_t crc) const;

    Config m_config;
    const ModelInfo* m_model;
    int m_speed;
    int m_configuredSpeed;     // what a restart comes back at (changed by 02 42)
    SettingsDocument m_settings;
    std::vector<Record> m_records;
    std::map<std::uint32_t, Bytes> m_blocks;
    std::map<std::string, Bytes> m_files;
    std::optional<Bytes> m_firmware;
    std::vector<QrPicture> m_qrPictures;
    std::vector<Transfer> m_transfers;
    Shown m_shown;
    std::uint64_t m_screenChanges = 0;

    Bytes m_buf;
    double m_lastInput = 0;
    double m_silentUntil = -1e300;
    double m_switchingUntil = -1e300; // deaf while it changes its speed
    std::optional<std::pair<std::uint32_t, std::uint32_t>> m_setup; // address, length
    std::optional<Pull> m_pull;
    std::optional<Stream> m_stream;
    std::optional<QrUpload> m_qr;
    int m_blocksSinceFaults = 0;
    bool m_stopped = false;
    bool m_hungUp = false;
    int m_restarts = 0;
    std::mt19937 m_rng;
};

} // namespace tarsel::sim
