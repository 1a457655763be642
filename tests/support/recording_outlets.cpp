#include "support/recording_outlets.h"

namespace tarsel::test {

int RecordingOutlets::ShowMessageBox(const std::string& text, int flags)
{
    std::lock_guard lock(m_mutex);
    boxes.push_back({text, flags});
    calls.push_back({"box", text, {}, flags, 0});
    if (!answers.empty()) {
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    return flags == kBoxQuestion ? defaultQuestionAnswer : kAnswerOk;
}

void RecordingOutlets::ShowLogOnRichEdit(const std::string& text, bool error)
{
    std::lock_guard lock(m_mutex);
    calls.push_back({"log", text, {}, error ? 1 : 0, 0});
}

void RecordingOutlets::StartProgress(const std::string& text, int maximum, int kind)
{
    std::lock_guard lock(m_mutex);
    calls.push_back({"start", text, {}, maximum, kind});
}

void RecordingOutlets::SetProgressMax(int maximum, int position)
{
    std::lock_guard lock(m_mutex);
    calls.push_back({"max", {}, {}, maximum, position});
}

void RecordingOutlets::SetProgressPosition(int value, int position)
{
    std::lock_guard lock(m_mutex);
    calls.push_back({"position", {}, {}, value, position});
}

void RecordingOutlets::ShowTransferStatus(const std::string& text, const std::string& detail, int position)
{
    std::lock_guard lock(m_mutex);
    calls.push_back({"status", text, detail, position, 0});
}

void RecordingOutlets::ResetProgress()
{
    std::lock_guard lock(m_mutex);
    calls.push_back({"reset", {}, {}, 0, 0});
}

void RecordingOutlets::ShowByteProgress(const ByteProgress& progress)
{
    std::lock_guard lock(m_mutex);
    bytes.push_back(progress);
}

void RecordingOutlets::TraceOut(const std::string& text)
{
    if (text.empty())
        return;
    std::lock_guard lock(m_mutex);
    traces.push_back(text);
    calls.push_back({"trace", text, {}, 0, 0});
}

std::vector<std::string> RecordingOutlets::boxTexts() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const auto& b : boxes)
        out.push_back(b.text);
    return out;
}

RecordingOutlets::Box RecordingOutlets::lastBox() const
{
    std::lock_guard lock(m_mutex);
    return boxes.empty() ? Box{{}, 0} : boxes.back();
}

std::vector<RecordingOutlets::Call> RecordingOutlets::callsNamed(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    std::vector<Call> out;
    for (const auto& c : calls)
        if (c.name == name)
            out.push_back(c);
    return out;
}

void RecordingOutlets::clear()
{
    std::lock_guard lock(m_mutex);
    answers.clear();
    boxes.clear();
    calls.clear();
    traces.clear();
    bytes.clear();
}

} // namespace tarsel::test
