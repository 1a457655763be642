// tarsel-cli's commands run in this process against the display core on a virtual
// line: what the display holds afterwards and what the program said about it (exit
// status, messages, JSON), with every time limit of the protocol kept exactly.
#include "cli/arguments.h"
#include "cli/jobs.h"
#include "pictures/codecs.h"
#include "pictures/image.h"
#include "settings/settings_document.h"
#include "settings/tables.h"
#include "support/virtual_link.h"
#include "util/codepage.h"
#include "util/files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

namespace tarsel::test {
namespace {

namespace fs = std::filesystem;
using cli::Console;
using cli::Environment;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct CliRun {
    int exit = -1;
    std::string out;
    std::string err;
    nlohmann::json result; // the final object with --json
};

class CliOnVirtualLine : public ::testing::Test {
protected:
    explicit CliOnVirtualLine(sim::DisplayCore::Config config = displayConfig("KT310-II", 9600))
        : line(std::move(config))
    {
        root = fs::temp_directory_path() / ("tarsel-cli-vl-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
        env.portFactory = [this] { return line.makePort(ports++ % 2 == 0 ? "cmd" : "text"); };
        env.clock = &line.clock();
        env.listPorts = [this](std::vector<PortInfo>& list, std::string&) {
            PortInfo p;
            p.kind = PortInfo::Kind::Virtual;
            p.path = p.device = p.stableName = line.portName();
            p.description = "virtual display";
            list = {p};
            return true;
        };
        env.speedMemoryFile = (root / "ports.json").string();
    }
    ~CliOnVirtualLine() override { fs::remove_all(root); }

    // Runs tarsel-cli with `args` (the port added) to its end.
    CliRun cli(std::vector<std::string> args, const CancelToken* cancel = nullptr)
    {
        args.insert(args.begin(), "tarsel-cli");
        args.emplace_back("--port");
        args.push_back(line.portName());
        const cli::ParseResult parsed = cli::ParseArguments(args);
        CliRun r;
        if (parsed.action != cli::ParseResult::Action::Run) {
            r.exit = parsed.exitCode;
            r.out = parsed.out;
            r.err = parsed.err;
            return r;
        }
        std::ostringstream out, err;
        Console::Options options;
        options.json = parsed.invocation.json;
        Console console(out, err, options);
        CancelToken none;
        r.exit = cli::RunInvocation(parsed.invocation, console, cancel ? *cancel : none, env);
        // The program has ended; its last bytes reach the display meanwhile.
        line.runFor(200);
        r.out = out.str();
        r.err = err.str();
        if (options.json) {
            const auto last = r.out.rfind('\n', r.out.size() - 2);
            r.result = nlohmann::json::parse(r.out.substr(last == std::string::npos ? 0 : last + 1), nullptr, false);
        }
        return r;
    }

    std::string file(const std::string& name, const Bytes& content)
    {
        const fs::path path = root / name;
        std::string error;
        EXPECT_TRUE(WriteFileAtomic(path.string(), content, error)) << error;
        return path.string();
    }
    // A settings file of `keys` (a JSON object in UTF-8), in the host code page.
    std::string settingsFile(const std::string& name, const nlohmann::ordered_json& keys)
    {
        return file(name, WideToHost(Utf8ToUtf16(keys.dump(1))));
    }

    sim::SettingsDocument held() { return line.withDisplay([](sim::DisplayCore& d) { return d.settings(); }); }

    VirtualLine line;
    Environment env;
    int ports = 0;
    fs::path root;
};

// ---------------------------------------------------------------------------
// What the display holds after settings put

TEST_F(CliOnVirtualLine, FramesAfterTheMainTextAreNotSwallowedIntoIt)
{
    auto doc = nlohmann::ordered_json::parse(DefaultSettingsJson);
    doc["main_str"] = "FIRST LINE          SECOND LINE         ";
    doc["pic_reg"] = 0x205;
    doc["into_lun_bo"] = 30;
    doc["lun_time"] = 4;
    doc["Comm_No"] = 7;
    const std::string f = settingsFile("s.ini", doc);
    const CliRun r = cli({"settings", "put", f, "--only", "text", "--only", "play-list", "--only", "command-set"});
    ASSERT_EQ(r.exit, 0) << r.err;
    line.runFor(1000);
    const sim::SettingsDocument d = held();
    // The main text alone, padded as the window pads it; the next frames were heard as frames.
    EXPECT_EQ(d.text("main_str"), Bytes("FIRST LINE          SECOND LINE         ") + Bytes(40, ' '));
    EXPECT_EQ(d.number("pic_reg"), 0x205);
    EXPECT_EQ(d.number("into_lun_bo"), 30);
    EXPECT_EQ(d.number("lun_time"), 4);
    EXPECT_EQ(d.number("Comm_No"), 7);
    // And the document the display reports reads back.
    const CliRun back = cli({"settings", "diff", f});
    EXPECT_EQ(back.exit, 0) << back.out << back.err;

    // A profile with the same groups does the same, and says so.
    line.withDisplay([](sim::DisplayCore& d) { d.receive(Bytes("\x02\x07\x15''", 5), 0); }); // factory reset
    ASSERT_NE(held().number("Comm_No"), 7);
    const std::string profile = file("p.json", R"({"settings": "s.ini", "only": ["text", "play-list", "command-set"]})");
    const CliRun provisioned = cli({"--json", "provision", profile});
    ASSERT_EQ(provisioned.exit, 0) << provisioned.out;
    EXPECT_EQ(provisioned.result["displays"][0]["settings"], "ok");
    EXPECT_EQ(held().text("main_str"), Bytes("FIRST LINE          SECOND LINE         ") + Bytes(40, ' '));
    EXPECT_EQ(held().number("Comm_No"), 7);
}

TEST_F(CliOnVirtualLine, APartialFileChangesOnlyItsKeys)
{
    // The display holds settings of its own (not the factory's).
    auto full = nlohmann::ordered_json::parse(DefaultSettingsJson);
    full["wel_mess1"] = "SHOP 42";
    full["tp_back_rgb"] = 0x07E0;
    full["bm_font_rgb"] = 0xF800;
    full["back_light"] = 6;
    const std::string fullFile = settingsFile("full.ini", full);
    ASSERT_EQ(cli({"settings", "put", fullFile}).exit, 0);
    const sim::SettingsDocument before = held();
    ASSERT_EQ(before.number("tp_back_rgb"), 0x07E0);

    const CliRun r = cli({"--json", "settings", "put", settingsFile("partial.ini", {{"Comm_No", 2}})});
    ASSERT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.result["file-keys"], nlohmann::json::array({"Comm_No"}));
    EXPECT_EQ(r.result["outcome"], "ok");
    const sim::SettingsDocument after = held();
    EXPECT_EQ(after.number("Comm_No"), 2); // sent after All Download
    for (const char* key : {"tp_back_rgb", "bm_font_rgb", "tp_font_rgb", "font_Foreground_color", "temp2"})
        EXPECT_EQ(after.number(key), before.number(key)) << key;
    EXPECT_EQ(after.text("wel_mess1"), before.text("wel_mess1"));
    EXPECT_EQ(after.text("wel_mess2"), before.text("wel_mess2"));
}

TEST_F(CliOnVirtualLine, PutWithoutOnlyLeavesTheDisplayHoldingEveryKeyOfTheFile)
{
    auto doc = nlohmann::ordered_json::parse(DefaultSettingsJson);
    doc["main_str"] = "ABCDEFGHIJKLMNOPQRSTabcdefghijklmnopqrst0123456789012345678901234567890123456789";
    doc["Comm_No"] = 3;
    doc["pic_reg"] = 5;
    doc["into_lun_bo"] = 20;
    doc["lun_time"] = 9;
    doc["Baud_Rate"] = 2; // 38400
    doc["tp_mode"] = 9;
    const std::string f = settingsFile("all.ini", doc);
    const CliRun r = cli({"--json", "settings", "put", f});
    ASSERT_EQ(r.exit, 0) << r.out;
    const auto groups = nlohmann::json::parse(
        R"({"all-download":"ok","text":"ok","command-set":"ok","play-list":"ok","baud-rate":"ok"})");
    EXPECT_EQ(r.result["groups"], groups);
    const sim::SettingsDocument d = held();
    EXPECT_EQ(d.text("main_str"), Bytes(doc["main_str"].get<std::string>()));
    EXPECT_EQ(d.number("Comm_No"), 3);
    EXPECT_EQ(d.number("pic_reg"), 5);
    EXPECT_EQ(d.number("lun_time"), 9);
    EXPECT_EQ(d.number("tp_mode"), 9);
    // The baud rate last, and the line followed the display to its new speed.
    EXPECT_EQ(d.number("Baud_Rate"), 2);
    EXPECT_EQ(line.displaySpeed(), 38400);
    const CliRun diff = cli({"settings", "diff", f});
    EXPECT_EQ(diff.exit, 0) << diff.out;
    EXPECT_TRUE(contains(diff.out, "match")) << diff.out;
    // The next command finds it at once at that speed.
    const auto queries = line.recordsNamed("ModelQuery").size();
    ASSERT_EQ(cli({"detect"}).exit, 0);
    EXPECT_EQ(line.recordsNamed("ModelQuery").size(), queries + 1);
}

TEST_F(CliOnVirtualLine, AMisspeltKeyIsNamedNotSilentlyDropped)
{
    const CliRun r = cli({"--json", "settings", "apply", settingsFile("typo.ini", {{"lun_tme", 5}, {"lun_time", 4}})});
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.result["ignored-keys"], nlohmann::json::array({"lun_tme"}));
    EXPECT_EQ(held().number("lun_time"), 4);
}

TEST_F(CliOnVirtualLine, DiffExitsOneWhenTheSettingsDiffer)
{
    const std::string same = settingsFile("same.ini", {{"Comm_No", 255}});
    const std::string other = settingsFile("other.ini", {{"Comm_No", 1}, {"lun_time", 3}});
    EXPECT_EQ(cli({"settings", "diff", same}).exit, 0);
    const CliRun differ = cli({"--json", "settings", "diff", other});
    EXPECT_EQ(differ.exit, 1);
    EXPECT_EQ(differ.result["differences"].size(), 2u);
    EXPECT_EQ(differ.result["differ"], true);
}

// ---------------------------------------------------------------------------
// settings apply

// The setting frames the display has heard (everything but finding it and reading it).
std::size_t settingFrames(VirtualLine& line)
{
    std::size_t n = 0;
    for (const auto& rec : line.records())
        n += rec.name != "ModelQuery" && rec.name != "GetConfiguration" && rec.name != "ReadVersion";
    return n;
}

TEST_F(CliOnVirtualLine, ApplySendsOnlyWhatDiffersVerifiesAndIsIdempotent)
{
    auto doc = nlohmann::ordered_json::parse(DefaultSettingsJson);
    doc["tp_font_rgb"] = 31;  // header text blue
    doc["lun_time"] = 6;      // play interval
    doc["main_str"] = "NEW MAIN TEXT       SECOND              ";
    const std::string f = settingsFile("shop.ini", doc);

    // --check: what would change, nothing sent.
    const CliRun check = cli({"--json", "settings", "apply", f, "--check"});
    ASSERT_EQ(check.exit, 0) << check.out;
    EXPECT_EQ(check.result["changed"], true);
    EXPECT_EQ(check.result["verified"], false);
    EXPECT_EQ(check.result["differences"].size(), 3u);
    EXPECT_EQ(check.result["groups"], nlohmann::json::array({"header", "text", "play-list"}));
    EXPECT_EQ(settingFrames(line), 0u);

    // The first apply changes and verifies; only the three groups went out.
    const CliRun first = cli({"--json", "settings", "apply", f});
    ASSERT_EQ(first.exit, 0) << first.out;
    EXPECT_EQ(first.result["changed"], true);
    EXPECT_EQ(first.result["verified"], true);
    EXPECT_EQ(held().number("tp_font_rgb"), 31);
    EXPECT_EQ(held().number("lun_time"), 6);
    EXPECT_TRUE(line.recordsNamed("SetLine1Text").empty()); // the welcome group was the same
    EXPECT_TRUE(line.recordsNamed("SetBrightness").empty());

    // The second sends no setting frame at all.
    const std::size_t frames = settingFrames(line);
    const CliRun second = cli({"--json", "settings", "apply", f});
    ASSERT_EQ(second.exit, 0) << second.out;
    EXPECT_EQ(second.result["changed"], false);
    EXPECT_EQ(second.result["verified"], true);
    EXPECT_TRUE(second.result["differences"].empty());
    EXPECT_EQ(settingFrames(line), frames);
}

TEST_F(CliOnVirtualLine, ApplyOfAPartialFileAndOfANewSpeed)
{
    // Only the file's keys count: the rest of the display is left alone.
    const std::string partial = settingsFile("partial.ini", {{"Comm_No", 4}, {"Baud_Rate", 3}});
    const CliRun r = cli({"--json", "settings", "apply", partial});
    ASSERT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.result["groups"], nlohmann::json::array({"command-set", "baud-rate"}));
    EXPECT_EQ(held().number("Comm_No"), 4);
    // The baud rate went last; the read-back came at the display's new speed.
    EXPECT_EQ(line.displaySpeed(), 57600);
    EXPECT_EQ(r.result["baud-after"], 57600);
    EXPECT_EQ(r.result["verified"], true);
    EXPECT_EQ(line.recordsNamed("SetBrightness").size(), 0u);
    const CliRun again = cli({"--json", "settings", "apply", partial});
    EXPECT_EQ(again.exit, 0);
    EXPECT_EQ(again.result["changed"], false);
    EXPECT_EQ(again.result["baud"], 57600); // found at once at the speed it was left at
}

class CliForgetfulDisplay : public CliOnVirtualLine {
protected:
    static sim::DisplayCore::Config config()
    {
        auto c = displayConfig("KT310-II", 9600);
        c.faults.unkeptKeys = {"lun_time"};
        return c;
    }
    CliForgetfulDisplay() : CliOnVirtualLine(config()) {}
};

TEST_F(CliForgetfulDisplay, ApplyFailsWhenTheReadBackDiffers)
{
    const std::string f = settingsFile("s.ini", {{"lun_time", 8}, {"into_lun_bo", 40}});
    const CliRun r = cli({"--json", "settings", "apply", f});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.result["outcome"], "refused");
    EXPECT_EQ(r.result["changed"], true);
    EXPECT_EQ(r.result["verified"], false);
    ASSERT_EQ(r.result["remaining"].size(), 1u);
    EXPECT_EQ(r.result["remaining"][0]["key"], "lun_time");
    EXPECT_EQ(held().number("into_lun_bo"), 40);
}

TEST_F(CliOnVirtualLine, ProvisionReportsEachDisplayAsJsonAndCsv)
{
    const std::string settings = settingsFile("shop.ini", {{"wel_mess1", "SHOP 7"}, {"Comm_No", 5}});
    const std::string profile = file("profile.json", R"({"settings": "shop.ini"})");
    const std::string json = (root / "report.json").string();
    const CliRun r = cli({"provision", profile, "--report", json});
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto report = nlohmann::json::parse(ReadFileBytes(json));
    ASSERT_EQ(report.size(), 1u);
    const auto& rec = report[0];
    EXPECT_EQ(rec["port"], line.portName());
    EXPECT_EQ(rec["model"], "KT310-II");
    EXPECT_EQ(rec["firmware"], 12);
    EXPECT_EQ(rec["baud"], 9600);
    EXPECT_EQ(rec["outcome"], "ok");
    EXPECT_EQ(rec["steps"][0]["step"], "settings");
    EXPECT_EQ(rec["steps"][0]["outcome"], "ok");
    EXPECT_EQ(rec["settings"]["changed"], true);
    EXPECT_EQ(rec["settings"]["verified"], true);
    EXPECT_GT(rec["duration_s"].get<double>(), 0.5);
    EXPECT_EQ(held().number("Comm_No"), 5);

    // Again, as CSV: nothing to change this time.
    const std::string csv = (root / "report.csv").string();
    ASSERT_EQ(cli({"provision", profile, "--report", csv}).exit, 0);
    const std::string table = ReadFileBytes(csv);
    EXPECT_EQ(table.substr(0, table.find("\r\n")),
              "port,stable_name,serial,model,firmware,baud,outcome,message,firmware,fonts,pictures,settings,"
              "settings_changed,settings_verified,items,start,duration_s");
    EXPECT_NE(table.find("," + std::string("KT310-II,12,9600,ok,,-,-,-,ok,false,true,,")), std::string::npos) << table;
}

// ---------------------------------------------------------------------------
// settings get

TEST_F(CliOnVirtualLine, GetPrintsTheFilesBytesAndJsonCarriesTextsWithoutLoss)
{
    // Code-page bytes the display holds (CP437: 0x8E is an A with dots, 0xE9 a theta).
    auto doc = nlohmann::ordered_json::parse(DefaultSettingsJson);
    doc["wel_mess1"] = Utf16ToUtf8(HostToWide(Bytes("\x8E" "pfel \xE9\x81\x9D")));
    ASSERT_EQ(cli({"settings", "put", settingsFile("s.ini", doc), "--only", "welcome"}).exit, 0);
    ASSERT_EQ(held().text("wel_mess1").substr(0, 9), Bytes("\x8E" "pfel \xE9\x81\x9D"));

    const CliRun printed = cli({"settings", "get"});
    ASSERT_EQ(printed.exit, 0) << printed.err;
    const std::string saved = (root / "saved.ini").string();
    ASSERT_EQ(cli({"settings", "get", "-o", saved}).exit, 0);
    EXPECT_EQ(printed.out, ReadFileBytes(saved)); // the same document either way

    // JSON: the texts as the file's characters; written back as a file, they are the same bytes.
    const CliRun json = cli({"--json", "settings", "get"});
    ASSERT_EQ(json.exit, 0);
    const std::string back = settingsFile("back.ini", json.result["settings"]);
    ASSERT_EQ(cli({"settings", "put", back, "--only", "welcome"}).exit, 0);
    EXPECT_EQ(held().text("wel_mess1").substr(0, 9), Bytes("\x8E" "pfel \xE9\x81\x9D"));
}

// ---------------------------------------------------------------------------
// Finding the display

TEST_F(CliOnVirtualLine, FindingTheDisplayNeitherClearsItNorScansTwice)
{
    // Two texts build one screen: nothing clears between them.
    ASSERT_EQ(cli({"text", "HELLO"}).exit, 0);
    ASSERT_EQ(cli({"text", "WORLD", "--row", "2", "--column", "1"}).exit, 0);
    EXPECT_TRUE(line.recordsNamed("ClearDisplay").empty());
    // The second command tried the speed it had found first: one model query, no noise.
    std::size_t queries = 0, noise = 0;
    for (const auto& rec : line.records()) {
        queries += rec.name == "ModelQuery";
        noise += rec.name == "Noise";
    }
    std::string names;
    for (const auto& rec : line.records())
        names += rec.name + " ";
    EXPECT_EQ(queries, 2u) << names;
    EXPECT_EQ(noise, 0u);
    // Only clear and detect --clear clear it.
    ASSERT_EQ(cli({"detect", "--clear"}).exit, 0);
    EXPECT_EQ(line.recordsNamed("ClearDisplay").size(), 1u);
    ASSERT_EQ(cli({"clear"}).exit, 0);
    EXPECT_EQ(line.recordsNamed("ClearDisplay").size(), 2u);
}

class CliUnknownName : public CliOnVirtualLine {
protected:
    static sim::DisplayCore::Config config()
    {
        auto c = displayConfig("KT310-II", 38400);
        c.answerName = "KT999-X";
        return c;
    }
    CliUnknownName() : CliOnVirtualLine(config()) {}
};

TEST_F(CliUnknownName, ADisplayWithANameTarselDoesNotKnowIsNamedWithItsSpeed)
{
    const CliRun r = cli({"--json", "detect"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.result["outcome"], "refused");
    EXPECT_EQ(r.result["error"], "A display answered at 38400 bit/s as \"KT999-X\", a model Tarsel does not know.");
}

// ---------------------------------------------------------------------------
// Texts, pictures, the command line's language

TEST_F(CliOnVirtualLine, ATextThatCannotBeShownAsGivenIsSentAsTheWindowSendsItWithAWarning)
{
    const CliRun euro = cli({"text", "5 \u20AC"}); // CP437 has no euro sign
    EXPECT_EQ(euro.exit, 0);
    EXPECT_TRUE(contains(euro.err, "warning: the text was not sent as given: 1 character that CP437 does not have "
                                   "went out as \"?\"."))
        << euro.err;
    EXPECT_EQ(line.recordsNamed("Text").back().bytes, "5 ?");

    const CliRun longText = cli({"--json", "text", std::string(50, 'x')});
    EXPECT_EQ(longText.exit, 0);
    EXPECT_EQ(longText.result["cut-bytes"], 10);
    EXPECT_EQ(line.recordsNamed("Text").back().bytes, Bytes(40, 'x'));

    const CliRun plain = cli({"text", "plain"});
    EXPECT_FALSE(contains(plain.err, "warning")) << plain.err;
}

TEST_F(CliOnVirtualLine, UnusableInputIsRefusedBeforeTheDisplayIsTouched)
{
    const std::string noPicture = file("code.png", "this is no picture");
    const CliRun qr = cli({"qr", "--picture", noPicture});
    EXPECT_EQ(qr.exit, 2);
    EXPECT_TRUE(contains(qr.err, "is not a PNG, JPEG or BMP picture")) << qr.err;
    EXPECT_TRUE(line.writes().empty());
    EXPECT_EQ(line.displaySpeed(), 9600);

    const CliRun settings = cli({"settings", "put", "/dev/null"});
    EXPECT_EQ(settings.exit, 2);
    EXPECT_EQ(settings.err, "error: /dev/null: not a regular file (a character device)\n");
    EXPECT_TRUE(line.writes().empty());
}

TEST_F(CliOnVirtualLine, DeviceCommandsSayWhatTheyDid)
{
    const CliRun reset = cli({"reset", "--yes"});
    EXPECT_EQ(reset.exit, 0);
    EXPECT_TRUE(contains(reset.err, "The display was told to restore its factory settings.")) << reset.err;
    const CliRun restart = cli({"restart"});
    EXPECT_EQ(restart.exit, 0);
    EXPECT_TRUE(contains(restart.err, "The display was told to restart.")) << restart.err;
    line.runFor(1000);
    const CliRun unanswered = cli({"--json", "format"});
    EXPECT_EQ(unanswered.exit, 2);
    EXPECT_EQ(unanswered.result["outcome"], "unusable-input");
    EXPECT_TRUE(line.recordsNamed("FormatStorage").empty());
}

// ---------------------------------------------------------------------------
// preview

TEST_F(CliOnVirtualLine, PreviewWritesTheScreenAsAPngWithoutADisplay)
{
    const std::string settings = settingsFile("p.ini", {{"tp_back_rgb", 0x07E0}, {"tp_mode", 9}});
    Image head(560, 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 560; ++x)
            head.setPixel(x, y, 248, 0, 0);
    const std::string picture = file("head.png", EncodePng(head));
    const std::string out = (root / "screen.png").string();
    const CliRun r = cli({"--json", "preview", settings, "--picture", "Pic_Head=" + picture, "-o", out});
    ASSERT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.result["width"], 800);
    Image screen;
    std::string error;
    ASSERT_TRUE(DecodePng(ReadFileBytes(out), screen, error)) << error;
    ASSERT_EQ(screen.height, 480);
    EXPECT_EQ(screen.at(520, 40)[2], 248);   // the head picture in the header area (red)
    EXPECT_EQ(screen.at(120, 40)[1], 0xFC);  // the title logo's slot holds nothing: the header's green
    EXPECT_TRUE(line.writes().empty());      // no display was looked for

    const CliRun small = cli({"--json", "preview", settings, "--model", "KT310--IIB", "-o", out});
    EXPECT_EQ(small.result["width"], 480);
    EXPECT_EQ(small.result["height"], 272);
    EXPECT_EQ(cli({"preview", settings, "--picture", "99=x.png", "-o", out}).exit, 2);
}

// ---------------------------------------------------------------------------
// Ctrl-C during a block transfer

class CliCancelOnBlocks : public CliOnVirtualLine {
protected:
    CliCancelOnBlocks() : CliOnVirtualLine(displayConfig("KT310--IIA", 9600))
    {
        Bytes font(60000, '\0');
        for (std::size_t i = 0; i < font.size(); ++i)
            font[i] = static_cast<char>(i * 7 + (i >> 9));
        fontFile = file("font.bin", font);
    }
    std::string fontFile;
};

// Interrupted at any moment of the run, the display ends up at its own speed and
// the next command finds it there at once.
TEST_F(CliCancelOnBlocks, CtrlCAtAnyMomentPutsTheDisplayBackToItsSpeed)
{
    // 60 000 bytes are some 240 blocks: about six seconds of blocks at 115200 bit/s.
    for (double after : {300.0, 1000.0, 1500.0, 2000.0, 2500.0, 3000.0, 4200.0, 6500.0}) {
        SCOPED_TRACE("cancelled " + std::to_string(after) + " ms after the start");
        CancelToken cancel;
        line.at(line.nowMs() + after, [&cancel] { cancel.cancel(); });
        const CliRun r = cli({"--json", "item", "CP437", fontFile}, &cancel);
        EXPECT_EQ(r.exit, 130) << r.out;
        EXPECT_EQ(r.result["outcome"], "cancelled");
        // Whatever the display still did with the cut transfer is over ...
        line.runFor(10000);
        EXPECT_EQ(line.displaySpeed(), 9600);
        // ... and the next command finds it at its speed with one query.
        const auto queries = line.recordsNamed("ModelQuery").size();
        const CliRun next = cli({"--json", "detect"});
        EXPECT_EQ(next.exit, 0);
        EXPECT_EQ(next.result["baud"], 9600);
        EXPECT_EQ(line.recordsNamed("ModelQuery").size(), queries + 1);
        // The cancel is said once.
        std::size_t said = 0;
        for (std::size_t at = r.out.find("cancelled after"); at != std::string::npos;
             at = r.out.find("cancelled after", at + 1))
            ++said;
        EXPECT_EQ(said, 1u) << r.out;
    }
}

} // namespace
} // namespace tarsel::test
