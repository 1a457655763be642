// The console side of the outlets: message boxes as lines on standard error, questions
// answered by --yes or on the terminal, a progress bar on a terminal, and with --json
// one JSON object per event on standard output. Several displays (provision) share
// one Console, so their lines never mix within a line.
#pragma once

#include "link/cancel.h"
#include "link/outlets.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

namespace tarsel::cli {

// What a question's asker returns.
enum class Reply { Yes, No, Cancelled };

class Console {
public:
    struct Options {
        bool json = false;
        bool errIsTerminal = false;     // progress bars and the terminal's own line
        bool canAsk = false;            // questions can be put to the user
        int width = 80;                 // columns of the terminal
    };
    // Asks one yes/no question (the prompt is already written); waits for the answer
    // or the cancel token.
    using Asker = std::function<Reply(const CancelToken* cancel)>;

    Console(std::ostream& out, std::ostream& err, Options options, Asker asker = {});

    const Options& options() const { return m_options; }

    // A whole line (or lines) to standard error / standard output; a progress bar on
    // the terminal is taken away first and drawn again by the next update.
    void errLine(const std::string& text);
    void outText(const std::string& text);
    // Exactly these bytes to standard output (a document that must stay byte for byte).
    void outBytes(const std::string& bytes);
    // One JSON object on standard output.
    void event(const nlohmann::ordered_json& object);
    // Draws (or with an empty text takes away) the progress bar on the terminal.
    void bar(const std::string& text);

    // Writes the prompt and asks; one question at a time.
    Reply ask(const std::string& prompt, const CancelToken* cancel);

    // The JSON text of an object as one line (invalid UTF-8 replaced).
    static std::string dump(const nlohmann::ordered_json& object);

private:
    void clearBarLocked();

    std::ostream& m_out;
    std::ostream& m_err;
    Options m_options;
    Asker m_asker;
    std::mutex m_mutex;
    std::mutex m_askMutex;
    bool m_barShown = false;
};

// How a transfer's progress looks on the terminal: percentage, bytes, speed and the
// time left. The outlets report 256-byte blocks; the last one may be shorter, so the
// byte counts are those of whole blocks.
class ProgressMeter {
public:
    using Now = std::function<double()>; // milliseconds

    explicit ProgressMeter(Now now);
    void start(int maximum);
    void setMaximum(int maximum);  // a new item: its blocks
    void setPosition(int value);
    void setStatus(const std::string& text, const std::string& detail);
    // The bar line for a terminal `width` columns wide.
    std::string render(int width) const;
    int maximum() const { return m_max; }
    int position() const { return m_pos; }
    int percent() const;
    // True once an item's blocks are counted (a transfer), false for a plain scale.
    bool blocks() const { return m_blocks; }

    static std::string formatBytes(double bytes);
    static std::string formatDuration(double seconds);

private:
    Now m_now;
    int m_max = 0;
    int m_pos = 0;
    bool m_blocks = false;
    double m_itemStartMs = 0;
    std::string m_status;
};

class ConsoleOutlets : public Outlets {
public:
    struct Options {
        std::string port;        // prefix of every line ("[port] ") and "port" in events
        bool assumeYes = false;  // --yes
        bool trace = false;      // --trace
        bool progressBar = true; // a bar when standard error is a terminal
        const CancelToken* cancel = nullptr;
        ProgressMeter::Now now;  // default: the steady clock
    };

    ConsoleOutlets(Console& console, Options options);

    int ShowMessageBox(const std::string& text, int flags) override;
    void ShowLogOnRichEdit(const std::string& text, bool error) override;
    void StartProgress(const std::string& text, int maximum, int kind) override;
    void SetProgressMax(int maximum, int position) override;
    void SetProgressPosition(int value, int position) override;
    void ShowTransferStatus(const std::string& text, const std::string& detail, int position) override;
    void ResetProgress() override;
    void TraceOut(const std::string& text) override;

    // Reports something of the tool's own (not a box of a procedure): a line on
    // standard error, an event of the given kind with --json.
    void note(const std::string& text, const char* kind = "information");

    // What the boxes since the last resetTally() said.
    struct Tally {
        int errors = 0;
        int warnings = 0;
        int questions = 0;
        bool declined = false;   // a question was answered No by the user
        bool unanswered = false; // a question could not be asked and --yes was not given
        std::string lastError;   // the text of the last error or warning box
    };
    const Tally& tally() const { return m_tally; }
    void resetTally() { m_tally = {}; }

    const std::string& port() const { return m_options.port; }

private:
    std::string prefixed(const std::string& text) const;
    nlohmann::ordered_json eventOf(const char* name) const;
    void drawBar(bool force);
    bool barShown() const;

    Console& m_console;
    Options m_options;
    ProgressMeter m_meter;
    bool m_inProgress = false;
    int m_lastPercent = -1;
    double m_lastDrawMs = -1e9;
    Tally m_tally;
};

// The window's log and status lines in the command line's words ("stored CP437",
// "CP437 failed: CRC check error", "sending CP437 (3 of 77)").
std::string ConsoleLogLine(const std::string& text);
std::string ConsoleStatusLine(const std::string& text, const std::string& detail);

// The kind of a message box as its events and lines name it.
const char* BoxKind(int flags);

} // namespace tarsel::cli
