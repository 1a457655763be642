// How procedures running on the device worker reach the window: message boxes,
// status bar and progress, log view and trace. The Qt window marshals each call to
// the GUI thread; tests use a recording fake that answers boxes from a script.
#pragma once

#include <string>

namespace tarsel {

// Message box flags and answers (the window's standard boxes).
enum BoxFlags : int { kBoxError = 16, kBoxWarning = 48, kBoxInfo = 64, kBoxQuestion = 36 };
enum BoxAnswer : int { kAnswerOk = 1, kAnswerYes = 6, kAnswerNo = 7 };

class Outlets {
public:
    virtual ~Outlets() = default;

    // Shows a modal box titled "Tarsel"; blocks the caller until the user answers.
    virtual int ShowMessageBox(const std::string& text, int flags) = 0;
    // Appends one line to the log view; error lines are red.
    virtual void ShowLogOnRichEdit(const std::string& text, bool error) = 0;
    // Panel 1 := text, panels 2 and 3 emptied, elapsed seconds restart, bar 1 shown
    // with `maximum`; kind 1 also empties the log, kind 2 also resets the slot bar.
    virtual void StartProgress(const std::string& text, int maximum, int kind) = 0;
    // Bar 1 maximum; for queue positions 77..90 also the slot bar.
    virtual void SetProgressMax(int maximum, int position) = 0;
    // Bar 1 position; for positions 77..90 also the slot bar (hidden once full).
    virtual void SetProgressPosition(int value, int position) = 0;
    // Panels 1 and 2; positions 77..90 lay the slot bar over slot position - 4.
    virtual void ShowTransferStatus(const std::string& text, const std::string& detail, int position) = 0;
    // Timer stopped, panels 1..3 emptied, both bars at 0 and hidden.
    virtual void ResetProgress() = 0;
    // Stops the elapsed-seconds counter without touching the panels (the run's
    // final tally is shown with the time it took).
    virtual void StopElapsedTimer() {}
    // One frame trace line; an empty text writes nothing.
    virtual void TraceOut(const std::string& text) = 0;
};

} // namespace tarsel
