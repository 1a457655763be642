// How procedures running on the device worker reach the window: message boxes,
// status bar and progress, log view and trace. The Qt window marshals each call to
// the GUI thread; tests use a recording fake that answers boxes from a script.
#pragma once

#include <cstdint>
#include <string>

namespace tarsel {

// Message box flags and answers (the window's standard boxes).
enum BoxFlags : int { kBoxError = 16, kBoxWarning = 48, kBoxInfo = 64, kBoxQuestion = 36 };
enum BoxAnswer : int { kAnswerOk = 1, kAnswerYes = 6, kAnswerNo = 7 };

// How far a download run has got, in bytes of the files it stores. A run reports it
// once when an item's data is about to go out (itemDone 0), then after every block
// the display asked for has been answered (block and firmware methods) and after
// every piece of a streamed file has been written (named-file method).
struct ByteProgress {
    int position = 0;            // catalogue position of the item being sent (1..93)
    std::uint64_t itemDone = 0;  // bytes of the item handed to the port so far
    std::uint64_t itemTotal = 0; // the item's size
    // The run's bytes: every earlier item counts whole (sent, or failed), the current
    // one with itemDone. runTotal is the sum of the sizes of everything the run will
    // send, fixed when the run starts (an item whose file changed size meanwhile
    // corrects it when it is sent); runDone never exceeds it.
    std::uint64_t runDone = 0;
    std::uint64_t runTotal = 0;
    // This item's number among the items the run sends (1..itemCount); every item
    // also costs fixed pauses and waits besides its bytes. 0 when not known.
    int item = 0;
    int itemCount = 0;
    // The most bytes per second the line carries (its speed / 10 bits); 0 if unknown.
    // Writes return once the bytes are in the port's buffers (a pseudo-terminal takes
    // about 20 KB, a USB adapter several), so at an item's start itemDone runs ahead
    // of what has reached the display; this lets a meter account for it.
    int lineBytesPerSecond = 0;
};

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
    // Byte-level progress of a download run (see ByteProgress), for a speed and
    // time-left display (transfer/transfer_meter.h computes both). Called on the
    // run's thread up to about 50 times a second: implementations must return at
    // once. It comes besides, never instead of, the bar's SetProgressPosition.
    virtual void ShowByteProgress(const ByteProgress& progress) { (void)progress; }
};

} // namespace tarsel
