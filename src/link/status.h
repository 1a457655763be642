// What an operation came to: one outcome type for every device command, transfer,
// download run, Connect's scan and settings procedure. The code says what happened;
// the text is what a person reads (the window's own texts: "Set TextColor Error!",
// " Error opening serial port!", ...). Callers decide from the code, never from the
// text: the window turns outcomes into its boxes, the command line into exit statuses.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>

namespace tarsel {

enum class Code {
    Ok,
    Refused,    // the display answered, but refused or answered wrongly (a wrong echo,
                // an unknown model name, a CRC that differs, a make-file "NO")
    TimedOut,   // no (complete) answer within the limit
    NoDisplay,  // no display answered at all
    PortError,  // the port could not be opened, set up or written
    HungUp,     // the line went away (adapter unplugged, far end closed)
    Cancelled,  // the job's cancel token
    Declined,   // the user answered No
    BadInput,   // the input cannot be used (a file that is no picture, a value out of range)
};

struct Status {
    Code code = Code::Ok;
    std::string text = "OK";

    bool ok() const { return code == Code::Ok; }
    explicit operator bool() const { return ok(); }
    bool cancelled() const { return code == Code::Cancelled; }

    static Status success(std::string text = "OK") { return {Code::Ok, std::move(text)}; }
    static Status failure(Code code, std::string text) { return {code, std::move(text)}; }

    bool operator==(const Status&) const = default;
};

// The code's name as the command line writes it in JSON: "ok", "refused",
// "timed-out", "no-display", "port-error", "hung-up", "cancelled", "declined",
// "unusable-input".
const char* CodeName(Code code);

// "timed-out: Get configuration: Time out !" (test output, logs).
std::ostream& operator<<(std::ostream& out, const Status& status);

// The first failure of two steps, or the second outcome when the first was fine.
inline Status FirstFailure(const Status& first, const Status& second) { return first.ok() ? second : first; }

} // namespace tarsel
