// Outlets for the benchmarks: every question answered "Yes", every box "OK", nothing
// shown; the last box's text kept for a failure's line.
#pragma once

#include "link/outlets.h"

#include <string>

namespace tarsel::bench {

class QuietOutlets : public Outlets {
public:
    std::string lastBox;
    int ShowMessageBox(const std::string& text, int flags) override
    {
        lastBox = text;
        return flags == kBoxQuestion ? kAnswerYes : kAnswerOk;
    }
    void ShowLogOnRichEdit(const std::string&, bool) override {}
    void StartProgress(const std::string&, int, int) override {}
    void SetProgressMax(int, int) override {}
    void SetProgressPosition(int, int) override {}
    void ShowTransferStatus(const std::string&, const std::string&, int) override {}
    void ResetProgress() override {}
    void TraceOut(const std::string&) override {}
};

} // namespace tarsel::bench
