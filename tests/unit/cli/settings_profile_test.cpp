// Settings shown with the window's captions and compared key by key; provisioning
// profiles; which port a command takes; the provision table.
#include "cli/jobs.h"
#include "cli/profile.h"
#include "cli/provision.h"
#include "cli/settings_view.h"
#include "settings/tables.h"
#include "util/codepage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tarsel::cli {
namespace {

Bytes document(const nlohmann::ordered_json& doc) { return WideToHost(Utf8ToUtf16(doc.dump())); }

std::string shown(const SettingsState& state, const std::string& key)
{
    for (const auto& s : ShowSettings(state))
        if (s.key == key)
            return s.value;
    return "<missing>";
}

TEST(SettingsView, TheDefaultDocumentAsTheWindowShowsIt)
{
    const SettingsState state = DefaultSettingsState();
    const auto all = ShowSettings(state);
    ASSERT_EQ(all.size(), 21u);
    EXPECT_EQ(all[1].caption, "Baudrate Set / Baud Rate");
    EXPECT_EQ(shown(state, "Baud_Rate"), "9600");
    EXPECT_EQ(shown(state, "temp2"), "line 1 scrolls, line 2 scrolls");
    EXPECT_EQ(shown(state, "Char_No"), "USA");
    EXPECT_EQ(shown(state, "Expand_Char_No"), "CP437");
    EXPECT_EQ(shown(state, "Comm_No"), "AUTO");
    EXPECT_EQ(shown(state, "wel_mess1"), "\"*** TFT DISPLAY *** \"");
    EXPECT_EQ(shown(state, "back_light"), "40%");
    EXPECT_EQ(shown(state, "font_Foreground_color"), "#00FCF8");
    EXPECT_EQ(shown(state, "bm_back_rgb"), "#F8FCF8");
    EXPECT_EQ(shown(state, "tp_back_rgb"), "#0000F8");
    EXPECT_EQ(shown(state, "pic_reg"), "none");
    EXPECT_EQ(shown(state, "line_mode"), "Text Line 2");
    EXPECT_EQ(shown(state, "tp_mode"), "Show Text");
    EXPECT_EQ(shown(state, "into_lun_bo"), "0 s (Not Play)");
    EXPECT_EQ(shown(state, "lun_time"), "1 s");
}

TEST(SettingsView, DifferencesKeyByKeyOnlyForTheFilesKeys)
{
    auto doc = nlohmann::ordered_json::parse(DefaultSettingsJson);
    doc["back_light"] = 4;
    const Bytes displayDoc = document(doc);
    SettingsState display = DefaultSettingsState();
    std::string error;
    ASSERT_TRUE(ApplyDocument(displayDoc, display, error)) << error;

    // The file: other colours, a brightness the display reports the same way (3 and
    // 4 both show 60%), a command set with no row, and a key it lacks.
    nlohmann::ordered_json file;
    file["tp_font_rgb"] = 31;
    file["back_light"] = 3;
    file["Comm_No"] = 77;
    file["pic_reg"] = 1023;
    file[" lun_time "] = 1; // names are trimmed
    const Bytes fileDoc = document(file);
    SettingsState fromFile = DefaultSettingsState();
    ASSERT_TRUE(ApplyDocument(fileDoc, fromFile, error)) << error;
    const auto keys = DocumentKeys(fileDoc);
    EXPECT_EQ(keys, (std::set<std::string>{"tp_font_rgb", "back_light", "Comm_No", "pic_reg", "lun_time"}));

    const auto d = CompareSettings(display, fromFile, keys);
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0].key, "Comm_No");
    EXPECT_EQ(d[0].caption, "Command Set / Command Mode");
    EXPECT_EQ(d[0].display, "AUTO");
    EXPECT_EQ(d[0].file, "code 77 (no such choice)");
    EXPECT_EQ(d[1].key, "pic_reg");
    EXPECT_EQ(d[1].file, "Picture 1, 2, 3, 4, 5, 6, 7, 8, 9, 10");
    EXPECT_EQ(d[2].key, "tp_font_rgb");
    EXPECT_EQ(d[2].caption, "Header / Text Color");
    EXPECT_EQ(d[2].display, "#F8FCF8");
    EXPECT_EQ(d[2].file, "#0000F8");

    // A key of the file that differs but is absent from `keys` is not compared.
    EXPECT_TRUE(CompareSettings(display, fromFile, {"lun_time"}).empty());
}

TEST(SettingsView, DocumentsThatCannotBeApplied)
{
    SettingsState state = DefaultSettingsState();
    const SettingsState before = state;
    std::string error;
    EXPECT_FALSE(ApplyDocument({}, state, error));
    EXPECT_EQ(error, "Load Settings Error!");
    EXPECT_FALSE(ApplyDocument("{\"lun_time\": ", state, error));
    EXPECT_EQ(error, "Parsing failed!");
    EXPECT_FALSE(ApplyDocument("{\"lun_time\": \"x\"}", state, error));
    EXPECT_EQ(state.info, before.info);
    EXPECT_EQ(state.values, before.values);
    EXPECT_TRUE(DocumentKeys("[1, 2]").empty());
}

TEST(Profile, PathsAreTakenFromTheProfilesFolder)
{
    Profile p;
    std::string error;
    ASSERT_TRUE(ParseProfile(R"({"settings": "shop.ini", "only": ["welcome", "code-page"],
                                 "pictures": {"Picture_2": "p/b.png", "73": "/abs/a.jpg"},
                                 "fonts": ["CP437", "mini_cp850", 92], "firmware": "fw/KT.bin"})",
                             "/srv/shop", p, error))
        << error;
    EXPECT_EQ(p.settingsFile, "/srv/shop/shop.ini");
    EXPECT_EQ(p.only, (std::vector<std::string>{"welcome", "code-page"}));
    EXPECT_EQ(p.pictures, (std::vector<std::pair<int, std::string>>{{73, "/abs/a.jpg"}, {77, "/srv/shop/p/b.png"}}));
    EXPECT_TRUE(p.fonts);
    EXPECT_EQ(p.fontPositions, (std::vector<int>{1, 31, 92}));
    EXPECT_TRUE(p.firmware);
    EXPECT_EQ(p.firmwareFile, "/srv/shop/fw/KT.bin");

    Profile all;
    ASSERT_TRUE(ParseProfile(R"({"fonts": "all", "firmware": true})", "/x", all, error)) << error;
    EXPECT_TRUE(all.fonts);
    EXPECT_TRUE(all.fontPositions.empty());
    EXPECT_TRUE(all.firmware);
    EXPECT_TRUE(all.firmwareFile.empty());
}

TEST(Profile, MistakesAreNamed)
{
    const std::vector<std::pair<std::string, std::string>> wrong = {
        {"[]", "not a JSON object"},
        {"{", "not a JSON object"},
        {"{}", "asks for nothing"},
        {R"({"settings": "a.ini", "picture": {}})", "unknown key \"picture\""},
        {R"({"settings": 5})", "\"settings\" must be a file name"},
        {R"({"settings": "a.ini", "only": ["colours"]})", "no settings group \"colours\""},
        {R"({"only": ["welcome"], "fonts": "all"})", "\"only\" needs \"settings\""},
        {R"({"pictures": {"90": "a.png"}})", "no picture slot \"90\""},
        {R"({"pictures": {"74": "a.png", "logo_Head": "b.png"}})", "slot 74 is given twice"},
        {R"({"fonts": ["Logo_Start"]})", "is not a font item"},
        {R"({"fonts": "some"})", "\"fonts\" must be \"all\""},
        {R"({"firmware": 3})", "\"firmware\" must be a file name"},
    };
    for (const auto& [text, message] : wrong) {
        Profile p;
        p.settingsFile = "kept";
        std::string error;
        EXPECT_FALSE(ParseProfile(text, "/x", p, error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << text << " -> " << error;
        EXPECT_EQ(p.settingsFile, "kept");
    }
}

TEST(PortChoice, ByNameByEnvironmentOrTheOnlyAdapter)
{
    const std::vector<PortInfo> ports = {
        {PortInfo::Kind::UsbAdapter, "/dev/serial/by-id/usb-A", "/dev/ttyUSB0", "/dev/serial/by-id/usb-A", "FTDI"},
        {PortInfo::Kind::Virtual, "/run/tarsel/virtual-x", "/dev/pts/4", "/run/tarsel/virtual-x", "virtual display"},
        {PortInfo::Kind::BuiltIn, "/dev/ttyS0", "/dev/ttyS0", "/dev/ttyS0", "built-in serial port"},
    };
    // By its device: the stable name is used.
    PortChoice c = ChoosePort("/dev/ttyUSB0", "", ports);
    EXPECT_TRUE(c.chosen);
    EXPECT_TRUE(c.listed);
    EXPECT_EQ(c.path, "/dev/serial/by-id/usb-A");
    // A path the list does not have is tried as given.
    c = ChoosePort("/dev/pts/9", "/dev/ttyS0", ports);
    EXPECT_TRUE(c.chosen);
    EXPECT_FALSE(c.listed);
    EXPECT_EQ(c.path, "/dev/pts/9");
    // $TARSEL_PORT when --port is not given.
    EXPECT_EQ(ChoosePort("", "/dev/ttyS0", ports).path, "/dev/ttyS0");
    // The only USB adapter.
    EXPECT_EQ(ChoosePort("", "", ports).path, "/dev/serial/by-id/usb-A");
    // Two adapters, or none: the list, and a usage error.
    auto two = ports;
    two.push_back({PortInfo::Kind::UsbAdapter, "/dev/serial/by-id/usb-B", "/dev/ttyUSB1", "/dev/serial/by-id/usb-B", ""});
    c = ChoosePort("", "", two);
    EXPECT_FALSE(c.chosen);
    EXPECT_EQ(c.exitCode, kExitUsage);
    EXPECT_NE(c.message.find("Several USB serial adapters"), std::string::npos);
    EXPECT_NE(c.message.find("/dev/serial/by-id/usb-B  usb       -"), std::string::npos) << c.message;
    c = ChoosePort("", "", {ports[1], ports[2]});
    EXPECT_FALSE(c.chosen);
    EXPECT_EQ(c.message, "No USB serial adapter is connected; choose a port with --port:\n"
                         "/run/tarsel/virtual-x  virtual   virtual display (/dev/pts/4)\n"
                         "/dev/ttyS0             built-in  built-in serial port\n");
}

ProvisionRow row(const std::string& port, const std::string& model, std::vector<std::string> steps, int exit,
                 const std::string& message)
{
    ProvisionRow r;
    r.port = port;
    r.model = model;
    r.steps = std::move(steps);
    r.exit = exit;
    r.message = message;
    return r;
}

TEST(Provision, TableAndExitStatus)
{
    const ProvisionRow good = row("/dev/a", "KT310-IID", {"-", "ok", "ok", "ok"}, 0, "");
    const ProvisionRow bad = row("/dev/longer-name", "KT710--II", {"-", "ok", "failed", "skipped"}, 1, "Time Out!");
    const ProvisionRow none =
        row("/dev/c", "", {"skipped", "skipped", "skipped", "skipped"}, 4, "Not found Device : Time out !");
    EXPECT_EQ(ProvisionTable({good, bad, none}),
              "PORT              MODEL      FIRMWARE  FONTS    PICTURES  SETTINGS  RESULT\n"
              "/dev/a            KT310-IID  -         ok       ok        ok        ok\n"
              "/dev/longer-name  KT710--II  -         ok       failed    skipped   failed (exit 1)\n"
              "/dev/c            -          skipped   skipped  skipped   skipped   failed (exit 4)\n"
              "/dev/longer-name: Time Out!\n"
              "/dev/c: Not found Device : Time out !\n");
    EXPECT_EQ(ProvisionExitCode({good, good}, false), 0);
    EXPECT_EQ(ProvisionExitCode({good, bad}, false), 1);
    EXPECT_EQ(ProvisionExitCode({none, none}, false), 4);
    EXPECT_EQ(ProvisionExitCode({none, bad}, false), 1);
    EXPECT_EQ(ProvisionExitCode({good, good}, true), 130);
}

TEST(Provision, ReportRecordsAsJsonAndCsv)
{
    ProvisionRow r = row("/dev/ttyUSB0", "KT310--IIA", {"-", "ok", "-", "ok"}, 0, "");
    r.stableName = "/dev/serial/by-id/usb-X_Y_A1B2C3-if00-port0";
    r.serial = SerialNumberOf("FTDI FT232R USB UART, serial A1B2C3");
    r.baud = 38400;
    r.outcomes = {std::nullopt, Status::success(), std::nullopt, Status::success()};
    r.settingsChanged = true;
    r.settingsVerified = true;
    r.items = {{1, "CP437", Status::success(), 4864, 0x1A2B}, {6, "CP850", Status::failure(Code::Refused, "x"), 10, 7}};
    r.start = "2026-12-09T10:00:00Z";
    r.durationS = 12.5;
    ProvisionRow lost = row("/dev/ttyUSB1", "", {"skipped", "skipped", "skipped", "skipped"}, 4, "No display answered, \"really\"");
    lost.status = Status::failure(Code::NoDisplay, lost.message);

    EXPECT_EQ(r.serial, "A1B2C3");
    const auto json = ProvisionReportJson({r, lost});
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[0]["serial"], "A1B2C3");
    EXPECT_EQ(json[0]["firmware"], nullptr); // this model reports no version
    EXPECT_EQ(json[0]["outcome"], "ok");
    EXPECT_EQ(json[0]["steps"].size(), 2u); // only the steps the profile has
    EXPECT_EQ(json[0]["steps"][0]["step"], "fonts");
    EXPECT_EQ(json[0]["items"][0]["crc"], "1A2B");
    EXPECT_EQ(json[0]["items"][1]["stored"], false);
    EXPECT_EQ(json[0]["settings"]["verified"], true);
    EXPECT_EQ(json[1]["outcome"], "no-display");
    EXPECT_EQ(json[1]["model"], nullptr);

    const std::string csv = ProvisionReportCsv({r, lost});
    const auto firstLine = csv.substr(0, csv.find("\r\n"));
    EXPECT_EQ(firstLine, "port,stable_name,serial,model,firmware,baud,outcome,message,firmware,fonts,pictures,settings,"
                         "settings_changed,settings_verified,items,start,duration_s");
    EXPECT_NE(csv.find("\r\n/dev/ttyUSB0,/dev/serial/by-id/usb-X_Y_A1B2C3-if00-port0,A1B2C3,KT310--IIA,,38400,ok,,-,"
                       "ok,-,ok,true,true,CP437:1A2B;CP850:0007:failed,2026-12-09T10:00:00Z,12.500\r\n"),
              std::string::npos)
        << csv;
    // A message with a comma and quotes stays one field.
    EXPECT_NE(csv.find(",no-display,\"No display answered, \"\"really\"\"\","), std::string::npos) << csv;
}

} // namespace
} // namespace tarsel::cli
