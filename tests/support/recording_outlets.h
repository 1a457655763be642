// An Outlets fake for tests: records every call in order and answers message
// boxes from a script.
#pragma once

#include "link/outlets.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tarsel::test {

class RecordingOutlets : public Outlets {
public:
    struct Box {
        std::string text;
        int flags;
    };
    // One recorded call: its name ("box", "log", "start", "max", "position",
    // "status", "reset", "trace") and its arguments.
    struct Call {
        std::string name;
        std::string text;
        std::string detail;
        int a = 0;
        int b = 0;
    };

    // Answers for the next boxes, in order. When the script runs out, a question
    // box (flags 36) is answered with `defaultQuestionAnswer`, any other with OK.
    std::deque<int> answers;
    int defaultQuestionAnswer = kAnswerYes;

    std::vector<Box> boxes;
    std::vector<Call> calls;
    std::vector<std::string> traces;
    // Every ShowByteProgress, in order (kept apart from `calls`).
    std::vector<ByteProgress> bytes;

    int ShowMessageBox(const std::string& text, int flags) override;
    void ShowLogOnRichEdit(const std::string& text, bool error) override;
    void StartProgress(const std::string& text, int maximum, int kind) override;
    void SetProgressMax(int maximum, int position) override;
    void SetProgressPosition(int value, int position) override;
    void ShowTransferStatus(const std::string& text, const std::string& detail, int position) override;
    void ResetProgress() override;
    void TraceOut(const std::string& text) override;
    void ShowByteProgress(const ByteProgress& progress) override;

    // Queues answers: answer(kAnswerNo) ...
    void answer(int value) { std::lock_guard lock(m_mutex); answers.push_back(value); }
    // The boxes' texts only, in order.
    std::vector<std::string> boxTexts() const;
    // The last box, or an empty one (flags 0) when none was shown.
    Box lastBox() const;
    // The calls with this name, in order.
    std::vector<Call> callsNamed(const std::string& name) const;
    void clear();

private:
    mutable std::mutex m_mutex; // a worker thread may report while a test reads
};

} // namespace tarsel::test
