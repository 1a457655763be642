// The command line of tarsel-cli: what each form of it means, and what it refuses.
#include "cli/arguments.h"
#include "util/version.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tarsel::cli {
namespace {

ParseResult parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "tarsel-cli");
    return ParseArguments(args);
}

Invocation ok(const std::vector<std::string>& args)
{
    const ParseResult r = parse(args);
    EXPECT_EQ(r.action, ParseResult::Action::Run) << r.err;
    return r.invocation;
}

TEST(Arguments, CommonOptionsBeforeOrAfterTheCommand)
{
    Invocation a = ok({"--port", "/dev/ttyUSB0", "--json", "detect"});
    EXPECT_EQ(a.command, Command::Detect);
    EXPECT_EQ(a.name, "detect");
    EXPECT_EQ(a.ports, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_TRUE(a.json);
    EXPECT_FALSE(a.yes);

    Invocation b = ok({"settings", "put", "shop.ini", "-p", "/dev/ttyS0", "--yes", "--baud", "38400", "--trace"});
    EXPECT_EQ(b.command, Command::SettingsPut);
    EXPECT_EQ(b.name, "settings put");
    EXPECT_EQ(b.file, "shop.ini");
    EXPECT_EQ(b.ports, std::vector<std::string>{"/dev/ttyS0"});
    EXPECT_TRUE(b.yes);
    EXPECT_TRUE(b.trace);
    EXPECT_EQ(b.baud, 38400);
    EXPECT_TRUE(b.groups.empty());

    // provision takes one --port per display; each --port takes one port.
    Invocation c = ok({"provision", "p.json", "--port", "/dev/a", "-p", "/dev/b", "--port", "/dev/c"});
    EXPECT_EQ(c.command, Command::Provision);
    EXPECT_EQ(c.ports, (std::vector<std::string>{"/dev/a", "/dev/b", "/dev/c"}));
    EXPECT_EQ(c.file, "p.json");
}

TEST(Arguments, ItemsSlotsGroupsAndCodePagesByName)
{
    EXPECT_EQ(ok({"fonts", "cp437", "6", "MINI_cp850", "big52gbk"}).fontPositions, (std::vector<int>{1, 6, 31, 92}));
    EXPECT_TRUE(ok({"fonts"}).fontPositions.empty());
    EXPECT_EQ(ok({"item", "Picture_1", "f.bin"}).position, 80);
    EXPECT_EQ(ok({"item", "93", "f.bin"}).position, 93);
    EXPECT_EQ(ok({"picture", "picture_3", "x.png"}).slot, 78);
    EXPECT_EQ(ok({"picture", "86", "x.png"}).slot, 86);
    EXPECT_EQ(ok({"picture", "Logo_Start", "x.png"}).slot, 73);
    EXPECT_EQ(ok({"settings", "put", "f", "--only", "welcome", "--only", "play-list"}).groups,
              (std::vector<std::string>{"welcome", "play-list"}));
    EXPECT_EQ(ok({"text", "hi", "--code-page", "wcp1252"}).codePageRow, 20);
    EXPECT_EQ(ok({"text", "hi"}).codePageRow, 0);
    const Invocation t = ok({"text", "hi", "--row", "2", "--column", "20"});
    EXPECT_EQ(t.row, 2);
    EXPECT_EQ(t.column, 20);
    EXPECT_EQ(ok({"qr", "x", "--align", "left"}).alignIndex, 0);
    EXPECT_EQ(ok({"qr", "x"}).alignIndex, 1);
    EXPECT_EQ(ok({"qr", "--picture", "code.png", "--align", "right"}).alignIndex, 2);
    EXPECT_EQ(ok({"qr", "x", "--at", "10"}).atPicture, 10);
    EXPECT_EQ(ok({"show-picture", "7"}).pictureNumber, 7);
    EXPECT_EQ(ok({"firmware"}).file, "");
    EXPECT_EQ(ok({"firmware", "fw.bin"}).file, "fw.bin");
    EXPECT_EQ(ok({"settings", "get", "-o", "out.ini"}).file, "out.ini");
}

TEST(Arguments, UsageErrorsExitWithTwoAndSayWhy)
{
    const std::vector<std::vector<std::string>> wrong = {
        {},                                    // no command
        {"bogus"},                             // no such command
        {"settings"},                          // settings needs get, put or diff
        {"settings", "put"},                   // no file
        {"settings", "put", "f", "--only", "colours"},
        {"fonts", "Logo_Start"},               // not a font item
        {"fonts", "CP999"},
        {"item", "0", "f"},
        {"item", "94", "f"},
        {"picture", "90", "x.png"},            // a queue position is not a slot
        {"picture", "Picture_11", "x.png"},
        {"text", "hi", "--row", "2"},          // a row needs a column
        {"text", "hi", "--row", "3", "--column", "1"},
        {"text", "hi", "--column", "21", "--row", "1"},
        {"text", "hi", "--code-page", "CP123"},
        {"show-picture", "11"},
        {"qr"},                                // neither text nor picture
        {"qr", "--at", "2"},                   // --at needs a text
        {"qr", "x", "--align", "middle"},
        {"detect", "--baud", "1200"},
        {"detect", "-p", "/dev/a", "-p", "/dev/b"}, // several ports only for provision
        {"provision", "p.json"},               // provision needs ports
    };
    for (const auto& args : wrong) {
        const ParseResult r = parse(args);
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_EQ(r.action, ParseResult::Action::Exit) << joined;
        EXPECT_EQ(r.exitCode, kExitUsage) << joined;
        EXPECT_FALSE(r.err.empty()) << joined;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << joined << r.err;
        EXPECT_TRUE(r.out.empty()) << joined;
    }
    EXPECT_NE(parse({"fonts", "Logo_Start"}).err.find("not a font item"), std::string::npos);
}

TEST(Arguments, HelpOnEveryCommandAndTheVersion)
{
    const ParseResult version = parse({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "tarsel-cli " TARSEL_VERSION "\n");

    const ParseResult help = parse({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.action, ParseResult::Action::Exit);
    for (const char* part : {"Usage: tarsel-cli", "provision", "show-picture", "Exit status", "130  cancelled",
                             "4    no display found", "3    the port cannot be opened", "--yes", "--json"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"settings", "put", "--help"}, {"fonts", "--help"}, {"provision", "-h"}, {"qr", "--help"}}) {
        const ParseResult r = parse(args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("Usage: tarsel-cli " + args[0]), std::string::npos) << r.out;
    }
    EXPECT_NE(parse({"settings", "put", "--help"}).out.find("play-list: play pictures"), std::string::npos);
}

TEST(Arguments, UsageErrorsNameTheCommandAndGiveJsonWithJson)
{
    // An unknown command is named as such, with the commands there are.
    const ParseResult unknown = parse({"frobnicate"});
    EXPECT_EQ(unknown.exitCode, kExitUsage);
    EXPECT_NE(unknown.err.find("unknown command \"frobnicate\""), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("detect"), std::string::npos);
    EXPECT_TRUE(unknown.out.empty());

    // With --json the result object says so too, on standard output.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"frobnicate", "--json"}, {"--json", "text"}, {"--json", "show-picture", "11"}}) {
        const ParseResult r = parse(args);
        EXPECT_EQ(r.exitCode, kExitUsage);
        const auto json = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_TRUE(json.is_object()) << r.out;
        EXPECT_EQ(json["event"], "result");
        EXPECT_EQ(json["exit"], kExitUsage);
        EXPECT_EQ(json["outcome"], "unusable-input");
        EXPECT_FALSE(json["error"].get<std::string>().empty());
    }
}

} // namespace
} // namespace tarsel::cli
