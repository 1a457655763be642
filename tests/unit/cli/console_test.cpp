// The console outlets: what a message box, a question, a log line, progress and a
// trace line look like on standard error, and as JSON events on standard output.
#include "cli/console.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace tarsel::cli {
namespace {

struct Screen {
    std::ostringstream out;
    std::ostringstream err;
    double now = 1000;
    std::vector<std::string> prompts;
    Reply reply = Reply::No;
    Console console;

    explicit Screen(Console::Options options)
        : console(out, err, options, [this](const CancelToken*) { return reply; })
    {
    }
    ConsoleOutlets outlets(ConsoleOutlets::Options o = {})
    {
        o.now = [this] { return now; };
        return ConsoleOutlets(console, o);
    }
    std::vector<nlohmann::json> events() const
    {
        std::vector<nlohmann::json> list;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);)
            list.push_back(nlohmann::json::parse(line));
        return list;
    }
};

Console::Options plain() { return {}; }

ConsoleOutlets::Options outletOptions(const std::string& port, bool yes = false, bool trace = false, bool bar = true)
{
    ConsoleOutlets::Options o;
    o.port = port;
    o.assumeYes = yes;
    o.trace = trace;
    o.progressBar = bar;
    return o;
}
Console::Options json()
{
    Console::Options o;
    o.json = true;
    return o;
}
Console::Options terminal()
{
    Console::Options o;
    o.errIsTerminal = true;
    o.canAsk = true;
    o.width = 100;
    return o;
}

TEST(ConsoleOutlets, BoxesAreLinesOnStandardErrorWithTheirKind)
{
    Screen s(plain());
    ConsoleOutlets o = s.outlets(outletOptions("/dev/ttyUSB1"));
    EXPECT_EQ(o.ShowMessageBox("Connected to KT310-IID!", kBoxInfo), kAnswerOk);
    o.ShowMessageBox("Download: \r\n\r\nHeader TextColor :            Failed \r\n", kBoxWarning);
    o.ShowMessageBox("Not found Device : Time out !", kBoxError);
    EXPECT_EQ(s.err.str(), "[/dev/ttyUSB1] Connected to KT310-IID!\n"
                           "[/dev/ttyUSB1] warning: Download:\n"
                           "[/dev/ttyUSB1] \n"
                           "[/dev/ttyUSB1] Header TextColor :            Failed\n"
                           "[/dev/ttyUSB1] error: Not found Device : Time out !\n");
    EXPECT_EQ(s.out.str(), "");
    EXPECT_EQ(o.tally().errors, 1);
    EXPECT_EQ(o.tally().warnings, 1);
    EXPECT_EQ(o.tally().lastError, "Not found Device : Time out !");
    o.resetTally();
    EXPECT_EQ(o.tally().errors, 0);
}

TEST(ConsoleOutlets, QuestionsAreAnsweredByYesByTheTerminalOrNotAtAll)
{
    {
        Screen s(plain());
        ConsoleOutlets o = s.outlets(outletOptions("", true));
        EXPECT_EQ(o.ShowMessageBox("Do you want to upgrade the firmware?", kBoxQuestion), kAnswerYes);
        EXPECT_EQ(s.err.str(), "Do you want to upgrade the firmware? [y/N] yes (--yes)\n");
        EXPECT_FALSE(o.tally().unanswered);
    }
    {
        // No terminal and no --yes: No, and the user is told how to answer.
        Screen s(plain());
        ConsoleOutlets o = s.outlets();
        EXPECT_EQ(o.ShowMessageBox("Are you sure you want to format the storage?", kBoxQuestion), kAnswerNo);
        EXPECT_TRUE(o.tally().unanswered);
        EXPECT_FALSE(o.tally().declined);
        EXPECT_NE(s.err.str().find("question: Are you sure you want to format the storage?\n"), std::string::npos);
        EXPECT_NE(s.err.str().find("give --yes"), std::string::npos);
    }
    {
        Screen s(terminal());
        ConsoleOutlets o = s.outlets();
        s.reply = Reply::Yes;
        EXPECT_EQ(o.ShowMessageBox("Restore?", kBoxQuestion), kAnswerYes);
        EXPECT_EQ(s.err.str(), "Restore? [y/N] ");
        s.reply = Reply::No;
        EXPECT_EQ(o.ShowMessageBox("Restore?", kBoxQuestion), kAnswerNo);
        EXPECT_TRUE(o.tally().declined);
        s.reply = Reply::Cancelled;
        EXPECT_EQ(o.ShowMessageBox("Restore?", kBoxQuestion), kAnswerNo);
    }
}

TEST(ConsoleOutlets, JsonEventsOnePerLine)
{
    Screen s(json());
    ConsoleOutlets o = s.outlets(outletOptions("P", true, true));
    o.ShowMessageBox("Done!", kBoxInfo);
    o.ShowMessageBox("Do it?", kBoxQuestion);
    o.ShowLogOnRichEdit("CP437 [Succeed]", false);
    o.ShowLogOnRichEdit("CP437_40x40 [Failed]:not suport", true);
    o.StartProgress("", 100, 1);
    o.SetProgressMax(8, 5);
    o.ShowTransferStatus("Download CP437", "1 of  74", 5);
    for (int i = 1; i <= 8; ++i)
        o.SetProgressPosition(i, 5);
    o.SetProgressPosition(8, 5); // the same percentage again: no event
    o.ResetProgress();
    o.ResetProgress(); // nothing in progress: no event
    o.TraceOut("----> 02 07 16 01");
    o.note("\"x.png\" is not a picture", "error");
    EXPECT_EQ(s.err.str(), "");
    const auto e = s.events();
    ASSERT_EQ(e.size(), 17u) << s.out.str();
    EXPECT_EQ(e[0], nlohmann::json::parse(R"({"event":"message","port":"P","kind":"information","text":"Done!"})"));
    EXPECT_EQ(e[1]["kind"], "question");
    EXPECT_EQ(e[1]["answer"], "yes");
    EXPECT_EQ(e[1]["answered-by"], "--yes");
    EXPECT_EQ(e[2], nlohmann::json::parse(R"({"event":"log","port":"P","text":"stored CP437","error":false})"));
    EXPECT_EQ(e[3]["error"], true);
    EXPECT_EQ(e[4]["event"], "progress-start");
    EXPECT_EQ(e[5], nlohmann::json::parse(
                        R"j({"event":"status","port":"P","text":"sending CP437 (1 of 74)"})j"));
    EXPECT_EQ(e[6], nlohmann::json::parse(R"({"event":"progress","port":"P","position":1,"maximum":8,
                                              "percent":12,"bytes":256,"total-bytes":2048})"));
    EXPECT_EQ(e[13]["percent"], 100);
    EXPECT_EQ(e[14]["event"], "progress-end");
    EXPECT_EQ(e[15]["event"], "trace");
    EXPECT_EQ(e[16]["event"], "message");
    EXPECT_EQ(e[16]["kind"], "error");
}

TEST(ConsoleOutlets, WithoutATerminalProgressIsStatusLinesAndNoBar)
{
    Screen s(plain());
    ConsoleOutlets o = s.outlets();
    o.StartProgress("All Settings Downloading......", 100, 0);
    o.ShowTransferStatus("Header Settings ...", "", 0);
    o.SetProgressPosition(30, 0);
    o.SetProgressMax(4, 80);
    o.ShowTransferStatus("Download Picture_1", "1 of  1", 80);
    o.SetProgressPosition(4, 80);
    o.TraceOut("----> 02 07 16 01"); // no --trace: nothing
    o.ResetProgress();
    EXPECT_EQ(s.err.str(), "All Settings Downloading\nHeader Settings\nsending Picture_1 (1 of 1)\n");
    EXPECT_EQ(s.err.str().find('\r'), std::string::npos);
}

TEST(ConsoleOutlets, OnATerminalABarWithBytesSpeedAndTimeLeft)
{
    Screen s(terminal());
    ConsoleOutlets o = s.outlets(outletOptions("", false, false, true));
    o.StartProgress("", 100, 1);
    o.SetProgressMax(40, 5); // 40 blocks: 10 KiB
    o.ShowTransferStatus("Download CP437", "1 of  74", 5);
    s.now += 1000;
    o.SetProgressPosition(10, 5); // 2.5 KiB in a second
    const std::string err = s.err.str();
    const std::string last = err.substr(err.rfind('\r'));
    EXPECT_EQ(last, "\r\033[K 25% [#####...............] 2.5 KiB / 10.0 KiB  2.5 KiB/s  0:03 left  sending CP437 (1 of 74)");
    // A log line takes the bar away, is written, and the bar comes back.
    o.ShowLogOnRichEdit("CP437 [Succeed]", false);
    EXPECT_NE(s.err.str().find("\r\033[Kstored CP437\n\r\033[K 25% ["), std::string::npos) << s.err.str();
    o.ResetProgress();
    EXPECT_EQ(s.err.str().substr(s.err.str().size() - 4), "\r\033[K");
}

TEST(ProgressMeter, TextsOfSizesAndTimes)
{
    EXPECT_EQ(ProgressMeter::formatBytes(512), "512 B");
    EXPECT_EQ(ProgressMeter::formatBytes(10240), "10.0 KiB");
    EXPECT_EQ(ProgressMeter::formatBytes(3 * 1024 * 1024), "3.00 MiB");
    EXPECT_EQ(ProgressMeter::formatDuration(0), "0:00");
    EXPECT_EQ(ProgressMeter::formatDuration(75.4), "1:15");
    EXPECT_EQ(ProgressMeter::formatDuration(3725), "1:02:05");

    double now = 0;
    ProgressMeter m([&] { return now; });
    m.start(100);
    m.setPosition(50);
    // A settings run counts percent, not bytes.
    EXPECT_EQ(m.render(80), " 50% [##########..........]");
    m.setMaximum(4);
    m.setPosition(9); // past the end: held at the maximum
    EXPECT_EQ(m.position(), 4);
    EXPECT_EQ(m.render(80), "100% [####################] 1.0 KiB / 1.0 KiB  --/s");
    m.setStatus("Download a very long item name", "12 of  74");
    EXPECT_EQ(m.render(40).size(), 39u);
}

} // namespace
} // namespace tarsel::cli
