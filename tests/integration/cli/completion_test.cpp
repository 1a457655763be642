// The completion scripts tarsel-cli prints, run in the shells themselves: bash by
// calling its completion function with COMP_WORDS set, zsh through its own completion
// system on a pseudo-terminal (complete.zsh), fish with complete --do-complete. The
// ports come from the program at completion time: a virtual display is registered
// where it looks.
#include "cli_process.h"
#include "support/sim_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <stdlib.h>
#include <sys/stat.h>

namespace tarsel::test {
namespace {

namespace fs = std::filesystem;

using Words = std::set<std::string>;

std::string shellPath(const std::string& name)
{
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
        const std::string path = folder + name;
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

struct Completion : ::testing::Test {
    fs::path root;
    std::unique_ptr<sim::VirtualDisplay> display;
    std::string shell;

    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "tarsel-completion-XXXXXX").string();
        root = ::mkdtemp(tmpl.data());
        fs::create_directories(root / "run" / "tarsel");
        fs::create_directories(root / "zsh");
        ::chmod((root / "run").c_str(), 0700);
        ::chmod((root / "run" / "tarsel").c_str(), 0700);
        sim::Options o = simOptions("KT310-II", 9600);
        o.registerLink = true;
        o.linkFolder = (root / "run" / "tarsel").string();
        o.linkName = "counter-1";
        display = startSim(o);
        ASSERT_TRUE(display);
    }
    void TearDown() override
    {
        display.reset();
        fs::remove_all(root);
    }

    std::vector<std::string> environment() const
    {
        const std::string bin = fs::path(TARSEL_CLI_BINARY).parent_path().string();
        return {"PATH=" + bin + ":/usr/bin:/bin", "LANG=C", "TERM=dumb", "HOME=" + root.string(),
                "XDG_RUNTIME_DIR=" + (root / "run").string(), "XDG_CONFIG_HOME=" + (root / "config").string(),
                "XDG_DATA_HOME=" + (root / "data").string(), "XDG_STATE_HOME=" + (root / "state").string()};
    }

    struct Output {
        int exit;
        std::string out;
        std::string err;
    };
    Output run(const std::string& program, const std::vector<std::string>& args) const
    {
        CliProcess p;
        if (!p.start(program, args, environment()))
            return {-2, "", "could not start " + program};
        const int exit = p.wait(60000);
        return {exit, p.out, p.err};
    }

    // The script for `name`, as the program prints it; empty (the test skipped) when
    // the shell is not installed.
    std::string script(const std::string& name, const fs::path& file)
    {
        shell = shellPath(name);
        if (shell.empty())
            return {};
        const Output printed = run(TARSEL_CLI_BINARY, {"completion", name});
        EXPECT_EQ(printed.exit, 0) << printed.err;
        std::ofstream(file) << printed.out;
        return file.string();
    }

    // What the shell offers at the end of `line`: each candidate's word.
    Words complete(const std::string& name, const std::string& scriptFile, const std::string& line) const
    {
        Output o;
        if (name == "bash") {
            std::vector<std::string> args = {"--norc", "--noprofile", "-c",
                                             "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                                             "_tarsel_cli; printf '%s\\n' \"${COMPREPLY[@]}\"",
                                             "bash", scriptFile};
            std::istringstream words(line);
            for (std::string w; words >> w;)
                args.push_back(w);
            o = run(shell, args);
        } else if (name == "zsh") {
            o = run(shell, {"-f", std::string(TARSEL_SOURCE_DIR) + "/tests/integration/cli/complete.zsh",
                            fs::path(scriptFile).parent_path().string(), line});
        } else {
            o = run(shell, {"--no-config", "-c", "source $argv[1]; complete --do-complete $argv[2]", scriptFile, line});
        }
        EXPECT_EQ(o.exit, 0) << name << " on \"" << line << "\": " << o.err;
        Words offered;
        std::istringstream lines(o.out);
        for (std::string l; std::getline(lines, l);)
            if (!l.empty())
                offered.insert(l.substr(0, l.find('\t'))); // fish: word<TAB>description
        return offered;
    }

    void expectCompletions(const std::string& name, const std::string& scriptFile)
    {
        const std::string display = (root / "run" / "tarsel" / "counter-1").string();
        const struct {
            std::string line;
            Words offered;
        } cases[] = {
            {"tarsel-cli sett", {"settings"}},
            {"tarsel-cli settings a", {"apply"}},
            {"tarsel-cli settings put x --only he", {"header"}},
            // Options and their values are stepped over; a list of items goes on.
            {"tarsel-cli -p /dev/null --baud 9600 fonts CP437 mini_CP85", {"mini_CP850", "mini_CP852", "mini_CP857",
                                                                             "mini_CP858"}},
            {"tarsel-cli text --code-page WCP125", {"WCP1250", "WCP1251", "WCP1252", "WCP1253", "WCP1255", "WCP1256",
                                                    "WCP1257", "WCP1258"}},
            {"tarsel-cli picture Picture_1", {"Picture_1", "Picture_10"}},
            // The ports are asked of the program when completing.
            {"tarsel-cli detect --port " + display.substr(0, display.size() - 2), {display}},
        };
        for (const auto& c : cases)
            EXPECT_EQ(complete(name, scriptFile, c.line), c.offered) << name << " on \"" << c.line << "\"";
    }
};

TEST_F(Completion, Bash)
{
    const std::string file = script("bash", root / "tarsel-cli");
    if (file.empty())
        GTEST_SKIP() << "bash is not installed";
    expectCompletions("bash", file);
}

TEST_F(Completion, Zsh)
{
    const std::string file = script("zsh", root / "zsh" / "_tarsel-cli");
    if (file.empty())
        GTEST_SKIP() << "zsh is not installed (scripts/install-deps installs it)";
    expectCompletions("zsh", file);
}

TEST_F(Completion, Fish)
{
    const std::string file = script("fish", root / "tarsel-cli.fish");
    if (file.empty())
        GTEST_SKIP() << "fish is not installed (scripts/install-deps installs it)";
    expectCompletions("fish", file);
}

} // namespace
} // namespace tarsel::test
