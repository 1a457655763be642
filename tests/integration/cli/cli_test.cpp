// tarsel-cli run as a program against virtual displays paced like real lines: every
// command, the exit statuses, Ctrl-C during a transfer and provision on several
// displays at once. The displays run in this process and register in a private
// folder that the program finds through XDG_RUNTIME_DIR.
#include "cli_process.h"

#include "pictures/codecs.h"
#include "pictures/convert.h"
#include "pictures/slot_picture.h"
#include "pictures/slots.h"
#include "settings/tables.h"
#include "util/codepage.h"
#include "settings/settings_document.h"
#include "sim/virtual_display.h"
#include "support/sim_line.h"
#include "link/termios_port.h"
#include "transfer/catalogue.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"
#include "util/files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace tarsel::test {
namespace {

namespace fs = std::filesystem;

constexpr double kRunLimitMs = 90000; // only a hung program comes near it

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Bytes packImage(const fs::path& pack, const std::string& name) { return ReadFileBytes((pack / (name + ".bin")).string()); }
std::string hostToUtf8(const Bytes& bytes) { return Utf16ToUtf8(HostToWide(bytes)); }
Bytes utf8ToHost(const std::string& text) { return WideToHost(Utf8ToUtf16(text)); }

// A picture with a different colour in every pixel.
Image testPicture(int w, int h)
{
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 3),
                         static_cast<std::uint8_t>(x ^ y));
    return img;
}

struct CliTest : ::testing::Test {
    fs::path root;
    fs::path folder; // where the displays register
    std::vector<std::unique_ptr<sim::VirtualDisplay>> displays;

    void SetUp() override
    {
        root = fs::temp_directory_path() / ("tarsel-cli-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        folder = root / "run" / "tarsel";
        fs::create_directories(folder);
        ::chmod((root / "run").c_str(), 0700);
        ::chmod(folder.c_str(), 0700);
        std::string error;
        ASSERT_TRUE(WriteSyntheticResourcePack((root / "pack").string(), 64, error)) << error;
    }
    void TearDown() override
    {
        displays.clear();
        fs::remove_all(root);
    }

    sim::VirtualDisplay& start(const std::string& model, const std::string& name, int baud = 9600, int version = 12,
                               sim::Faults faults = {})
    {
        sim::Options o = simOptions(model, baud, true);
        o.registerLink = true;
        o.linkFolder = folder.string();
        o.linkName = name;
        o.version = version;
        o.faults = faults;
        auto display = startSim(o);
        if (!display)
            throw std::runtime_error("virtual display did not start");
        displays.push_back(std::move(display));
        return *displays.back();
    }

    std::vector<std::string> environment() const
    {
        return {"PATH=/usr/bin:/bin", "LANG=C", "XDG_RUNTIME_DIR=" + (root / "run").string(),
                "TARSEL_RESOURCE_DIR=" + (root / "pack").string(), "XDG_DATA_HOME=" + (root / "none").string(),
                "XDG_DATA_DIRS=" + (root / "none").string(), "XDG_STATE_HOME=" + (root / "state").string()};
    }

    bool launch(CliProcess& p, const std::vector<std::string>& args) const
    {
        return p.start(TARSEL_CLI_BINARY, args, environment());
    }

    struct Result {
        int exit;
        std::string out;
        std::string err;
    };
    Result run(const std::vector<std::string>& args) const
    {
        CliProcess p;
        if (!launch(p, args))
            return {-2, "", "could not start " TARSEL_CLI_BINARY};
        const int exit = p.wait(kRunLimitMs);
        return {exit, p.out, p.err};
    }

    std::string write(const std::string& name, const Bytes& content) const
    {
        const fs::path path = root / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    // The JSON objects of --json output, one per line.
    static std::vector<nlohmann::json> events(const std::string& out)
    {
        std::vector<nlohmann::json> list;
        std::size_t from = 0;
        while (from < out.size()) {
            const auto end = out.find('\n', from);
            const std::string line = out.substr(from, end == std::string::npos ? std::string::npos : end - from);
            if (!line.empty())
                list.push_back(nlohmann::json::parse(line));
            if (end == std::string::npos)
                break;
            from = end + 1;
        }
        return list;
    }
};

TEST_F(CliTest, PortsListsTheRegisteredDisplaysAndDetectFindsModelVersionAndSpeed)
{
    auto& a = start("KT310-IID", "disp-a", 38400, 11);
    start("KT310--IIB", "disp-b");

    const Result ports = run({"ports"});
    ASSERT_EQ(ports.exit, 0) << ports.err;
    EXPECT_TRUE(contains(ports.out, (folder / "disp-a").string() + "  virtual   virtual display")) << ports.out;
    EXPECT_TRUE(contains(ports.out, (folder / "disp-b").string())) << ports.out;
    const Result portsJson = run({"ports", "--json"});
    const auto list = events(portsJson.out);
    ASSERT_EQ(list.size(), 1u) << portsJson.out;
    int virtuals = 0;
    for (const auto& p : list[0]["ports"])
        virtuals += p["kind"] == "virtual" && p["description"] == "virtual display" ? 1 : 0;
    EXPECT_EQ(virtuals, 2);

    const Result detect = run({"detect", "--port", (folder / "disp-a").string()});
    ASSERT_EQ(detect.exit, 0) << detect.err;
    EXPECT_EQ(detect.out, "port: " + (folder / "disp-a").string() + "\nmodel: KT310-IID\nfirmware: V11\nspeed: 38400\n");
    // Finding the display does not clear it (a display in use keeps its screen).
    EXPECT_TRUE(a.recordsNamed("ClearDisplay").empty());
    // The speed it was found at is tried first the next time: one model query.
    a.clearRecords();
    ASSERT_EQ(run({"detect", "--port", (folder / "disp-a").string()}).exit, 0);
    EXPECT_EQ(a.recordsNamed("ModelQuery").size(), 1u);
    EXPECT_TRUE(a.recordsNamed("Noise").empty());

    // The port by its device as well; JSON events and the result.
    const Result json = run({"--json", "detect", "-p", a.slavePath()});
    ASSERT_EQ(json.exit, 0) << json.err;
    EXPECT_EQ(json.err, "");
    const auto e = events(json.out);
    ASSERT_EQ(e.size(), 1u) << json.out;
    EXPECT_EQ(e[0]["event"], "result");
    EXPECT_EQ(e[0]["model"], "KT310-IID");
    EXPECT_EQ(e[0]["version"], 11);
    EXPECT_EQ(e[0]["baud"], 38400);
    EXPECT_EQ(e[0]["exit"], 0);
    EXPECT_EQ(e[0]["outcome"], "ok");

    // A model without the version check: none reported.
    const Result b = run({"--json", "detect", "-p", (folder / "disp-b").string()});
    ASSERT_EQ(b.exit, 0) << b.err;
    EXPECT_TRUE(events(b.out).back()["version"].is_null());
}

TEST_F(CliTest, SettingsGetPutAndDiffAfterAChange)
{
    auto& d = start("KT310-II", "disp");
    const std::string port = (folder / "disp").string();

    // get: the settings file's bytes on standard output, or the file itself with -o.
    const Result got = run({"settings", "get", "-p", port});
    ASSERT_EQ(got.exit, 0) << got.err;
    const auto shown = nlohmann::json::parse(hostToUtf8(got.out));
    EXPECT_EQ(shown["main_str"], "*** TFT DISPLAY  ***  HAVE A NICE DAY!  *** TFT DISPLAY  ***  HAVE A NICE DAY!  ");
    const std::string saved = (root / "saved.ini").string();
    ASSERT_EQ(run({"settings", "get", "-p", port, "-o", saved}).exit, 0);
    const Bytes file = ReadFileBytes(saved);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(got.out, file);

    // A changed copy: play interval, header colour, first welcome line (non-ASCII in
    // the host code page).
    auto doc = nlohmann::ordered_json::parse(hostToUtf8(file));
    doc["lun_time"] = 7;
    doc["tp_font_rgb"] = 31;
    doc["pic_reg"] = 0x205;
    doc["wel_mess1"] = "Caf\u00e9 Tarsel";
    const std::string changed = write("changed.ini", utf8ToHost(doc.dump(4)));

    const Result before = run({"settings", "diff", changed, "-p", port});
    ASSERT_EQ(before.exit, 1) << before.err; // they differ, as diff says it
    EXPECT_TRUE(contains(before.out, "Header / Text Color (tp_font_rgb)")) << before.out;
    EXPECT_TRUE(contains(before.out, "#F8FCF8 -> #0000F8")) << before.out;
    EXPECT_TRUE(contains(before.out, "Play Setting / Play interval (lun_time)")) << before.out;
    EXPECT_TRUE(contains(before.out, "1 s -> 7 s")) << before.out;
    EXPECT_TRUE(contains(before.out, "Play Setting / Selected (pic_reg)")) << before.out;
    EXPECT_TRUE(contains(before.out, "none -> Picture 1, 3, 10")) << before.out;
    // The file's characters are host code page bytes; the window shows them in the
    // display's code page (CP437: E9 is a theta).
    EXPECT_TRUE(contains(before.out, "\"Caf\u0398 Tarsel         \"")) << before.out;
    EXPECT_TRUE(contains(before.out, "4 settings differ.")) << before.out;

    // Only two groups: the header colour and the play list reach the display.
    const Result put = run({"settings", "put", changed, "--only", "header", "--only", "play-list", "-p", port});
    ASSERT_EQ(put.exit, 0) << put.err;
    // The last frame may still be on its way when the program ends.
    ASSERT_TRUE(d.waitForRecord("SetPlayInterval", 5000));
    EXPECT_EQ(d.settings().number("tp_font_rgb"), 31);
    EXPECT_EQ(d.settings().number("lun_time"), 7);
    EXPECT_EQ(d.settings().number("pic_reg"), 0x205);
    EXPECT_EQ(d.settings().text("wel_mess1"), "*** TFT DISPLAY *** ");

    // What is left to differ is the welcome line, with its caption, also as JSON.
    const Result after = run({"--json", "settings", "diff", changed, "-p", port});
    ASSERT_EQ(after.exit, 1) << after.err;
    const auto differences = events(after.out).back()["differences"];
    ASSERT_EQ(differences.size(), 1u) << after.out;
    EXPECT_EQ(differences[0]["key"], "wel_mess1");
    EXPECT_EQ(differences[0]["caption"], "Welcome Message Set / Line 1");

    // The rest: the welcome group sends the line in the display's code page.
    ASSERT_EQ(run({"settings", "put", changed, "--only", "welcome", "-p", port}).exit, 0);
    ASSERT_TRUE(d.waitForRecord("SetLineFlags", 5000));
    EXPECT_EQ(d.settings().text("wel_mess1"), Bytes("Caf\xE9 Tarsel         "));
    const Result same = run({"settings", "diff", changed, "-p", port});
    EXPECT_EQ(same.exit, 0);
    EXPECT_TRUE(contains(same.out, "The display's settings match")) << same.out;

    // A new line speed: the frame is off the line before the port is opened again, and
    // the command follows the display to its new speed.
    const Result faster = run({"--json", "settings", "apply", write("fast.ini", R"({"Baud_Rate": 4})"), "-p", port});
    ASSERT_EQ(faster.exit, 0) << faster.out;
    EXPECT_EQ(d.speed(), 115200);
    EXPECT_EQ(events(faster.out).back()["verified"], true);

        // An unusable file is refused before any display is looked for.
    d.clearRecords();
    const Result bad = run({"settings", "put", write("bad.ini", "{ not json"), "-p", port});
    EXPECT_EQ(bad.exit, 2);
    EXPECT_TRUE(contains(bad.err, "Parsing failed!")) << bad.err;
    EXPECT_TRUE(d.records().empty());
}

TEST_F(CliTest, DisplayTestCommands)
{
    auto& text = start("KT310-IID", "text-model");
    auto& pic = start("KT310--IIA", "picture-model");
    const std::string t = (folder / "text-model").string();
    const std::string p = (folder / "picture-model").string();

    ASSERT_EQ(run({"text", "Hello", "-p", t}).exit, 0);
    ASSERT_EQ(run({"text", "\u00c4pfel", "--row", "2", "--column", "5", "--code-page", "CP850", "-p", t}).exit, 0);
    ASSERT_EQ(run({"clear", "-p", t}).exit, 0);
    ASSERT_EQ(run({"show-picture", "5", "-p", t}).exit, 0);
    ASSERT_EQ(run({"qr", "https://example.org", "--align", "right", "-p", t}).exit, 0);
    ASSERT_EQ(run({"qr", "ABC", "--at", "3", "-p", t}).exit, 0);
    ASSERT_EQ(run({"restart", "-p", t}).exit, 0);

    const auto texts = text.recordsNamed("Text");
    ASSERT_GE(texts.size(), 1u);
    EXPECT_EQ(texts.front().bytes, "Hello");
    const auto at = text.recordsNamed("SendTextAt");
    ASSERT_EQ(at.size(), 1u);
    EXPECT_EQ(at[0].bytes, Bytes("\x1F\x24\x05\x02\x8E" "pfel", 9)); // Ä in CP850 is 8E
    EXPECT_EQ(text.recordsNamed("ClearDisplay").size(), 1u); // only the command clears
    const auto show = text.recordsNamed("ShowPicture");
    ASSERT_EQ(show.size(), 1u);
    EXPECT_EQ(show[0].bytes, Bytes("\x02\x07\x1A\x05", 4));
    const auto qr = text.recordsNamed("ShowQrCode");
    ASSERT_EQ(qr.size(), 1u);
    EXPECT_EQ(qr[0].bytes, Bytes("\x02\x07\x1D\x03", 4) + Bytes(1, '\0') + "https://example.org" + Bytes(1, '\0'));
    const auto qrAt = text.recordsNamed("ShowQrCodeAt");
    ASSERT_EQ(qrAt.size(), 1u);
    EXPECT_EQ(qrAt[0].bytes, Bytes("\x02\x07\x1E\x02\x03", 5) + "ABC" + Bytes(1, '\0'));
    EXPECT_TRUE(text.waitForRecord("RestartDisplay", 5000));

    // The QR code as a picture: a black square in a white field, at the transfer speed
    // and back.
    Image code(96, 96);
    for (int y = 24; y < 72; ++y)
        for (int x = 24; x < 72; ++x)
            code.setPixel(x, y, 0, 0, 0);
    const std::string codeFile = write("code.png", EncodePng(code));
    const Result qrPicture = run({"qr", "--picture", codeFile, "--align", "left", "-p", p});
    ASSERT_EQ(qrPicture.exit, 0) << qrPicture.err;
    const auto pictures = pic.qrPictures();
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].align, 1);
    EXPECT_EQ(pictures[0].bytes, BitmapTo1bpp(code, 192, 192));
    EXPECT_EQ(pic.speed(), 9600);
    // That model makes no code from a text; the one model has no Show QrCode At.
    EXPECT_EQ(run({"qr", "ABC", "-p", p}).exit, 2);
    EXPECT_EQ(run({"qr", "ABC", "--at", "2", "-p", p}).exit, 2);
}

TEST_F(CliTest, FontsAndOneItemStoreTheirBytes)
{
    auto& block = start("KT310--IIA", "block");
    auto& named = start("KT310-IID", "named");

    // Two named fonts on a model that stores at flash addresses.
    const Result fonts = run({"fonts", "cp437", "mini_CP850", "-p", (folder / "block").string()});
    ASSERT_EQ(fonts.exit, 0) << fonts.err;
    EXPECT_TRUE(contains(fonts.err, "Stored 2 items: CP437, mini_CP850.")) << fonts.err;
    const auto blocks = block.blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks.at(0x00000000), packImage(root / "pack", ResourceName(1, 0)));
    EXPECT_EQ(blocks.at(0x002B7000), packImage(root / "pack", ResourceName(31, 0)));

    // One item from a file, byte for byte, as a named file.
    Bytes content(3000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31 + 7);
    const Result item = run({"item", "WCP1252", write("item.bin", content), "-p", (folder / "named").string(), "--json"});
    ASSERT_EQ(item.exit, 0) << item.out;
    EXPECT_EQ(events(item.out).back()["succeeded"], 1);
    EXPECT_EQ(named.files().at("1252_80x40.bin"), content);
    // A file that is not there costs no scan.
    named.clearRecords();
    EXPECT_EQ(run({"item", "WCP1252", (root / "missing.bin").string(), "-p", (folder / "named").string()}).exit, 2);
    EXPECT_TRUE(named.records().empty());
}

TEST_F(CliTest, PicturesInTheFormOfTheModel)
{
    auto& block = start("KT310--IIA", "block");
    auto& named = start("KT310-IID", "named");
    // A picture the size of its slot: RGB565 on the block model, JPEG on the named one.
    const Image logo = testPicture(120, 40);
    ASSERT_EQ(run({"picture", "74", write("logo.bmp", EncodeBmp(logo)), "-p", (folder / "block").string()}).exit, 0);
    EXPECT_EQ(block.blocks().at(0x00F43000), BitmapToRgb565Bytes(logo, 120, 40));
    const Image head = testPicture(240, 80);
    ASSERT_EQ(run({"picture", "logo_Head", write("head.png", EncodePng(head)), "-p", (folder / "named").string()}).exit, 0);
    EXPECT_EQ(named.files().at("logo_m0.jpg"), BitmapToJpegBytes(head, false));
    // The guest slot on a model without it, and a file that is not a picture: refused
    // once the model is known, nothing sent.
    const Result guest = run({"picture", "86", write("guest.png", EncodePng(logo)), "-p", (folder / "block").string()});
    EXPECT_EQ(guest.exit, 2);
    EXPECT_TRUE(contains(guest.err, "error: The KT310--IIA has no picture slot 86 (Guest).")) << guest.err;
    block.clearRecords();
    const Result bad = run({"picture", "74", write("bad.png", "not a picture"), "-p", (folder / "block").string()});
    EXPECT_EQ(bad.exit, 2);
    EXPECT_TRUE(contains(bad.err, "bad.png")) << bad.err;
    EXPECT_TRUE(block.recordsNamed("SwitchDeviceBaud").empty());
}

TEST_F(CliTest, FirmwareFromAFileAfterTheQuestion)
{
    auto& loader = start("KT310--IIC", "loader");
    Bytes image(5000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 13);
    const std::string imageFile = write("fw.bin", image);
    const std::string l = (folder / "loader").string();
    // Without --yes and without a terminal the question stays unanswered: nothing sent.
    const Result asked = run({"firmware", imageFile, "-p", l});
    EXPECT_EQ(asked.exit, 2);
    EXPECT_TRUE(contains(asked.err, "Do you want to upgrade the firmware?")) << asked.err;
    EXPECT_FALSE(loader.firmware());
    EXPECT_TRUE(loader.recordsNamed("RestartDisplay").empty());
    const Result fw = run({"firmware", imageFile, "--yes", "-p", l});
    ASSERT_EQ(fw.exit, 0) << fw.err;
    ASSERT_TRUE(loader.firmware());
    EXPECT_EQ(*loader.firmware(), image);
    EXPECT_EQ(loader.speed(), 9600);
}

TEST_F(CliTest, DestructiveCommandsNeedYesWithoutATerminal)
{
    auto& d = start("KT710-II", "disp");
    const std::string port = (folder / "disp").string();
    for (const char* command : {"reset", "format"}) {
        const Result r = run({command, "-p", port});
        EXPECT_EQ(r.exit, 2) << command;
        EXPECT_TRUE(contains(r.err, "give --yes")) << r.err;
    }
    EXPECT_TRUE(d.recordsNamed("FactoryReset").empty());
    EXPECT_TRUE(d.recordsNamed("FormatStorage").empty());
    EXPECT_EQ(run({"reset", "--yes", "-p", port}).exit, 0);
    EXPECT_TRUE(d.waitForRecord("FactoryReset", 5000));
    EXPECT_EQ(run({"format", "-y", "-p", port}).exit, 0);
    EXPECT_TRUE(d.waitForRecord("FormatStorage", 5000));
    EXPECT_EQ(d.recordsNamed("FactoryReset").size(), 1u);
}

TEST_F(CliTest, ExitStatuses)
{
    auto& silent = start("KT310-II", "silent", 9600, 12, sim::Faults{.silent = true});
    auto& wrongEcho = start("KT310-II", "wrong-echo", 9600, 12, sim::Faults{.wrongEcho = true});
    (void)silent;
    (void)wrongEcho;

    // 4: nobody answers at any speed.
    const Result none = run({"detect", "-p", (folder / "silent").string()});
    EXPECT_EQ(none.exit, 4);
    EXPECT_TRUE(contains(none.err, "error: No display answered on " + (folder / "silent").string())) << none.err;

    // 1: the display refused (its echo is wrong).
    const std::string settings = write("s.ini", DefaultSettingsJson);
    const Result refused = run({"settings", "put", settings, "--only", "header", "-p", (folder / "wrong-echo").string()});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_TRUE(contains(refused.err, "error: header: Header TextColor: Set TextColor Error!")) << refused.err;

    // 3: a port that does not exist, and one that is busy.
    const Result missing = run({"detect", "-p", (root / "no-such-port").string()});
    EXPECT_EQ(missing.exit, 3);
    EXPECT_TRUE(contains(missing.err, "error: cannot open " + (root / "no-such-port").string() +
                                          ": No such file or directory"))
        << missing.err;
    EXPECT_TRUE(contains(missing.err, (folder / "silent").string())) << "the ports are listed: " << missing.err;
    {
        TermiosPort holder;
        ASSERT_TRUE(holder.open(wrongEcho.devicePath(), 9600).ok());
        const Result busy = run({"detect", "-p", (folder / "wrong-echo").string()});
        EXPECT_EQ(busy.exit, 3);
    }

    // 2: the command line, and no port when no USB adapter is the only one.
    EXPECT_EQ(run({"detect", "--baud", "1234"}).exit, 2);
    EXPECT_EQ(run({"fonts", "no-such-font"}).exit, 2);
    std::error_code ec;
    if (fs::exists("/dev/serial/by-id", ec))
        GTEST_SKIP() << "this machine has USB serial adapters";
    const Result noPort = run({"detect"});
    EXPECT_EQ(noPort.exit, 2);
    EXPECT_TRUE(contains(noPort.err, "choose a port with --port")) << noPort.err;
    EXPECT_TRUE(contains(noPort.err, (folder / "wrong-echo").string())) << noPort.err;
}

TEST_F(CliTest, CtrlCDuringAFontDownloadPutsTheDisplayBackAndExits130)
{
    auto& d = start("KT310--IIA", "disp");
    CliProcess p;
    ASSERT_TRUE(launch(p, {"fonts", "-p", (folder / "disp").string()}));
    // Wait until blocks flow at the transfer speed.
    bool transferring = false;
    for (int i = 0; i < 3000 && !transferring; ++i) {
        p.pump(10);
        transferring = d.speed() == 115200 && !d.recordsNamed("Block").empty();
    }
    ASSERT_TRUE(transferring) << p.err;
    ASSERT_EQ(::kill(p.pid(), SIGINT), 0);
    EXPECT_EQ(p.wait(kRunLimitMs), 130) << p.err;
    EXPECT_TRUE(contains(p.err, "cancelled after ")) << p.err;
    EXPECT_TRUE(contains(p.err, "The display is back at 9600 bit/s.")) << p.err;
    EXPECT_TRUE(contains(p.err, "tarsel-cli: cancelled")) << p.err;
    // Back at its own speed, and the port is free again.
    EXPECT_EQ(d.speed(), 9600);
    TermiosPort port;
    EXPECT_TRUE(port.open(d.devicePath(), 9600).ok());
}

TEST_F(CliTest, ProvisionThreeModelsAtOnce)
{
    auto& a = start("KT310--IIA", "a");
    auto& b = start("KT710--II", "b", 19200);
    auto& c = start("KT310-IID", "c", 38400);

    auto settings = nlohmann::ordered_json::parse(DefaultSettingsJson);
    settings["wel_mess1"] = "PROVISIONED";
    settings["back_light"] = 6;
    settings["pic_reg"] = 3;
    settings["into_lun_bo"] = 30;
    fs::create_directories(root / "shop" / "pictures");
    std::ofstream(root / "shop" / "shop.ini") << settings.dump(4);
    const Image logo = testPicture(300, 100);
    std::ofstream(root / "shop" / "pictures" / "logo.png", std::ios::binary) << EncodePng(logo);
    const Image guest = testPicture(400, 180);
    std::ofstream(root / "shop" / "pictures" / "guest.bmp", std::ios::binary) << EncodeBmp(guest);
    std::ofstream(root / "shop" / "profile.json") << R"({
        "settings": "shop.ini",
        "only": ["welcome", "brightness", "play-list"],
        "pictures": {"logo_Head": "pictures/logo.png", "86": "pictures/guest.bmp"}
    })";

    const Result r = run({"provision", (root / "shop" / "profile.json").string(), "-p", (folder / "a").string(), "-p",
                          (folder / "b").string(), "--port", (folder / "c").string()});
    ASSERT_EQ(r.exit, 0) << r.err << r.out;
    // The table: one line per display, every step done.
    EXPECT_TRUE(contains(r.out, "PORT")) << r.out;
    for (const char* name : {"a", "b", "c"}) {
        const std::string port = (folder / name).string();
        const auto line = r.out.substr(r.out.find(port));
        EXPECT_EQ(line.substr(0, line.find('\n')).find("failed"), std::string::npos) << line;
    }
    EXPECT_TRUE(contains(r.out, "KT310--IIA")) << r.out;
    // Lines of the displays are told apart by their port.
    EXPECT_TRUE(contains(r.err, "[" + (folder / "b").string() + "] sending logo_Head")) << r.err;

    // Each display has the settings and its own form of the pictures.
    for (auto* d : {&a, &b, &c}) {
        ASSERT_TRUE(d->waitForRecord("SetPlayInterval", 5000));
        EXPECT_EQ(d->settings().text("wel_mess1"), "PROVISIONED         ");
        EXPECT_EQ(d->settings().number("back_light"), 6); // 20%
        EXPECT_EQ(d->settings().number("pic_reg"), 3);
        EXPECT_EQ(d->settings().number("into_lun_bo"), 30);
    }
    EXPECT_EQ(a.speed(), 9600);
    EXPECT_EQ(b.speed(), 19200);
    EXPECT_EQ(c.speed(), 38400);
    auto expected = [&](const Image& picture, int slot, int model) {
        const auto size = SlotTargetSize(slot, model);
        return SlotPictureBytes(ProposedCrop(picture, {picture.width, picture.height}, *size), slot, model);
    };
    EXPECT_EQ(a.blocks().at(0x00F43000), expected(logo, 74, 0));
    EXPECT_EQ(a.blocks().at(0x00F43000).size(), 120u * 40u * 2u);
    EXPECT_EQ(b.blocks().at(0x00F43000), expected(logo, 74, 4));
    EXPECT_EQ(b.blocks().at(0x00F43000).size(), 240u * 80u * 2u);
    EXPECT_EQ(c.files().at("logo_m0.jpg"), expected(logo, 74, 3));
    // The guest slot exists on the named-file model only; the others are told.
    EXPECT_EQ(c.files().at("Guest.jpg"), expected(guest, 86, 3));
    EXPECT_EQ(a.blocks().size(), 1u);
    EXPECT_TRUE(contains(r.err, "[" + (folder / "a").string() + "] warning: The KT310--IIA has no picture slot 86"))
        << r.err;
}

TEST_F(CliTest, ProvisionReportsWhatFailedWhere)
{
    start("KT310-II", "good");
    start("KT310-II", "silent", 9600, 12, sim::Faults{.silent = true});
    std::ofstream(root / "profile.json") << R"({"settings": "s.ini", "only": ["play-list"]})";
    write("s.ini", DefaultSettingsJson);
    const Result r = run({"--json", "provision", (root / "profile.json").string(), "-p", (folder / "good").string(),
                          "-p", (folder / "silent").string()});
    EXPECT_EQ(r.exit, 1);
    const auto result = events(r.out).back();
    ASSERT_EQ(result["displays"].size(), 2u) << r.out;
    EXPECT_EQ(result["displays"][0]["settings"], "ok");
    EXPECT_EQ(result["displays"][0]["exit"], 0);
    EXPECT_EQ(result["displays"][1]["settings"], "skipped");
    EXPECT_EQ(result["displays"][1]["exit"], 4);
    EXPECT_EQ(result["displays"][1]["message"], "No display answered on " + (folder / "silent").string() +
                                                    " (tried 9600, 19200, 38400, 57600, 115200 bit/s).");
}

} // namespace
} // namespace tarsel::test
