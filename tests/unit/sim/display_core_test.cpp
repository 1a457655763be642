// The display's state machine without a pty: bytes in, answers out, time passed in.
#include "sim/display_core.h"
#include "sim/sim_protocol.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

using namespace tarsel;
using namespace tarsel::sim;

namespace {

DisplayCore makeCore(const std::string& model = "KT710-II", int baud = 9600)
{
    DisplayCore::Config c;
    c.model = model;
    c.baud = baud;
    return DisplayCore(c);
}

// Everything sent by a list of actions, joined.
Bytes sent(const std::vector<Action>& actions)
{
    Bytes out;
    for (const auto& a : actions)
        if (a.kind == Action::Kind::Send)
            out += a.bytes;
    return out;
}

Bytes be32(std::uint32_t v)
{
    return bytesOf({std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
}

Bytes withCrc(Bytes frame)
{
    const std::uint16_t crc = crc16(frame);
    frame.push_back(static_cast<char>(crc >> 8));
    frame.push_back(static_cast<char>(crc & 0xFF));
    return frame;
}

Bytes blockFrame(std::uint32_t n, const Bytes& file)
{
    Bytes data = n * 256 < file.size() ? file.substr(n * 256, 256) : Bytes();
    data.resize(256, '\0');
    return withCrc("ACT=0,L=100," + be32(n) + data);
}

Bytes pattern(std::size_t size)
{
    Bytes b(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return b;
}

std::vector<std::string> names(const DisplayCore& core)
{
    std::vector<std::string> out;
    for (const auto& r : core.records())
        out.push_back(r.name);
    return out;
}

Bytes request(std::uint32_t n) { return "ACT=0,L=100," + be32(n); }

} // namespace

TEST(SimProtocol, Crc16KnownAnswers)
{
    EXPECT_EQ(crc16(Bytes("123456789")), 0x29B1);
    EXPECT_EQ(crc16(Bytes()), 0xFFFF);
    EXPECT_EQ(crc16(bytesOf({0x00})), 0xE1F0);
}

TEST(SimProtocol, FactoryDocumentIsByteExact)
{
    SettingsDocument doc;
    EXPECT_EQ(doc.render(), kDefaultSettingsDocument);
    const Bytes text = kDefaultSettingsDocument;
    EXPECT_EQ(text.substr(0, 12), "{\"temp1\":0,\n");
    EXPECT_EQ(text.substr(text.size() - 14), "\"lun_time\":1\n}");
    EXPECT_NE(text.find("\"wel_mess1\":\"*** TFT DISPLAY *** \",\n"), Bytes::npos);
    EXPECT_EQ(doc.text("main_str").size(), 80u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
}

TEST(SimProtocol, DocumentKeepsOrderAndEscapesOnlyWhatJsonNeeds)
{
    SettingsDocument doc;
    doc.setText("wel_mess1", Bytes("a\"b\\c\x01\xE9", 7));
    doc.setNumber("temp1", 7);
    const Bytes text = doc.render();
    EXPECT_EQ(text.substr(0, 12), "{\"temp1\":7,\n");
    EXPECT_NE(text.find("\"wel_mess1\":\"a\\\"b\\\\c\\u0001\xE9\",\n"), Bytes::npos);
    doc.reset();
    EXPECT_EQ(doc.render(), kDefaultSettingsDocument);
}

TEST(SimProtocol, BrightnessLevelsComeBackAsTheSameLevel)
{
    // The program reads 1|2 as 100 % (level 4), 3|4 as 60 % (3), 5 as 40 % (2), 6 as 20 % (1).
    auto levelOf = [](int code) { return code <= 2 ? 4 : code <= 4 ? 3 : code == 5 ? 2 : 1; };
    for (int level = 1; level <= 4; ++level)
        EXPECT_EQ(levelOf(backLightCodeForLevel(level)), level) << level;
}

TEST(DisplayCoreTest, RefusesUnknownModelsAndSpeeds)
{
    EXPECT_THROW(makeCore("KT710-iI"), std::invalid_argument);
    EXPECT_THROW(makeCore("KT710-II", 12345), std::invalid_argument);
    for (const auto& m : models())
        EXPECT_NO_THROW(makeCore(m.name));
}

TEST(DisplayCoreTest, NamesItselfAndItsVersion)
{
    for (const auto& m : models()) {
        DisplayCore core = makeCore(m.name);
        EXPECT_EQ(sent(core.receive(bytesOf({0x02, 0x07, 0x16, 0x01}), 0)), Bytes(m.name) + '\0');
    }
    DisplayCore::Config c;
    c.version = 11;
    DisplayCore core(c);
    EXPECT_EQ(sent(core.receive(bytesOf({0x02, 0x07, 0x16, 0x02}), 0)), bytesOf({11}));
}

TEST(DisplayCoreTest, JoinsAFrameSplitOverSeveralReads)
{
    DisplayCore core = makeCore();
    EXPECT_TRUE(core.receive(bytesOf({0x02}), 0).empty());
    EXPECT_TRUE(core.receive(bytesOf({0x07, 0x16}), 1).empty());
    EXPECT_EQ(sent(core.receive(bytesOf({0x01}), 2)), Bytes("KT710-II") + '\0');
    // Half a frame followed by silence is kept as text and does not swallow the next one.
    core.receive(bytesOf({0x02, 0x07}), 10);
    EXPECT_TRUE(core.tick(40).empty());
    EXPECT_EQ(core.records().back().name, "Text");
    EXPECT_EQ(sent(core.receive(bytesOf({0x02, 0x07, 0x16, 0x01}), 50)), Bytes("KT710-II") + '\0');
}

TEST(DisplayCoreTest, SeparatesFramesWrittenBackToBack)
{
    DisplayCore core = makeCore();
    core.receive(bytesOf({0x02, 0x07, 0x28, 0x02, 0x03, 0x02, 0x07, 0x1C, 0x78, 0x02, 0x07, 0x1B, 0x0A}), 0);
    EXPECT_EQ(names(core), (std::vector<std::string>{"SetPlayList", "SetStandbyTime", "SetPlayInterval"}));
    EXPECT_EQ(core.settings().number("pic_reg"), 0x0203);
    EXPECT_EQ(core.settings().number("into_lun_bo"), 120);
    EXPECT_EQ(core.settings().number("lun_time"), 10);
}

TEST(DisplayCoreTest, KeepsEverySettingItIsSent)
{
    DisplayCore core = makeCore();
    struct Case { Bytes frame; const char* key; long value; bool echoed; };
    const std::vector<Case> cases = {
        {bytesOf({0x02, 0x07, 0x0B, 0x40, 0x80, 0xFF}), "tp_font_rgb", 17439, true},
        {bytesOf({0x02, 0x07, 0x0C, 0xFF, 0xFF, 0xFF}), "tp_back_rgb", 65535, true},
        {bytesOf({0x02, 0x07, 0x0E, 0x00, 0xFC, 0xF8}), "font_Foreground_color", 2047, true},
        {bytesOf({0x02, 0x07, 0x0F, 0x08, 0x04, 0x08}), "font_Background_color", 0x0821, true},
        {bytesOf({0x02, 0x07, 0x10, 0xFF, 0x00, 0x80}), "bm_font_rgb", 0xF810, true},
        {bytesOf({0x02, 0x07, 0x11, 0x00, 0x00, 0xF8}), "bm_back_rgb", 31, true},
        {bytesOf({0x02, 0x07, 0x09}), "tp_mode", 9, true},
        {bytesOf({0x02, 0x07, 0x14, 0x02}), "line_mode", 2, true},
        {bytesOf({0x02, 0x07, 0x16, 0x09, 0x07}), "temp2", 7, false},
        {bytesOf({0x02, 0x05, 0x11}), "Char_No", 17, false},
        {bytesOf({0x02, 0x06, 0x09}), "Expand_Char_No", 9, false},
        {bytesOf({0x1F, 0x58, 0x01}), "back_light", 6, false},
    };
    double t = 0;
    for (const auto& c : cases) {
        const Bytes answer = sent(core.receive(c.frame, t += 100));
        EXPECT_EQ(answer, c.echoed ? c.frame : Bytes()) << c.key;
        EXPECT_EQ(core.settings().number(c.key), c.value) << c.key;
    }
    core.receive(bytesOf({0x02, 0x07, 0x16, 0x06}) + "LINE ONE\x80" + '\0', t += 100);
    core.receive(bytesOf({0x02, 0x07, 0x16, 0x07}) + "line two" + '\0', t += 100);
    EXPECT_EQ(core.settings().text("wel_mess1"), "LINE ONE\x80");
    EXPECT_EQ(core.settings().text("wel_mess2"), "line two");

    // The report carries the held values, then a 00.
    const Bytes report = sent(core.receive(bytesOf({0x02, 0x07, 0x16, 0x05}), t += 100));
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.back(), '\0');
    EXPECT_EQ(report.substr(0, report.size() - 1), core.settings().render());
    EXPECT_NE(report.find("\"tp_font_rgb\":17439"), Bytes::npos);

    core.receive(bytesOf({0x02, 0x07, 0x15, 0x27, 0x27}), t += 100);
    EXPECT_EQ(core.settings().render(), kDefaultSettingsDocument);
}

TEST(DisplayCoreTest, OpenEndedFramesEndAtTheQuietGap)
{
    DisplayCore core = makeCore();
    const Bytes text(80, 'M');
    core.receive(bytesOf({0x02, 0x07, 0x18}) + text, 0);
    EXPECT_TRUE(core.records().empty());
    EXPECT_LE(core.nextDeadline(), 20.0);
    core.tick(25);
    ASSERT_EQ(names(core), std::vector<std::string>{"SetMainText"});
    EXPECT_EQ(core.settings().text("main_str"), text);

    // Command set: "1" may still become "14"; "14" means AUTO (255); "9" is complete.
    core.receive(bytesOf({0x02, 0x43, '1'}), 100);
    EXPECT_EQ(core.records().size(), 1u);
    core.receive(bytesOf({'4'}), 101);
    EXPECT_EQ(core.settings().number("Comm_No"), 255);
    core.receive(bytesOf({0x02, 0x43, '9'}), 200);
    EXPECT_EQ(core.settings().number("Comm_No"), 9);
    core.receive(bytesOf({0x02, 0x43, '1'}), 300);
    core.tick(330);
    EXPECT_EQ(core.settings().number("Comm_No"), 1);

    // Plain text and screen commands are recorded as they came.
    core.receive(bytesOf({0x0C, 0x1F, 0x24, 0x05, 0x02}) + "Hi there", 400);
    core.tick(430);
    const auto& r = core.records();
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(r[r.size() - 2].name, "ClearDisplay");
    EXPECT_EQ(r.back().name, "SendTextAt");
    EXPECT_EQ(r.back().bytes, bytesOf({0x1F, 0x24, 0x05, 0x02}) + "Hi there");
}

TEST(DisplayCoreTest, MainTextTakesEverythingUpToTheQuietGap)
{
    // Frames written right behind the main text are part of it, as on a real display.
    DisplayCore core = makeCore();
    const Bytes playList = bytesOf({0x02, 0x07, 0x28, 0x02, 0x03});
    const Bytes standby = bytesOf({0x02, 0x07, 0x1C, 0x78});
    core.receive(bytesOf({0x02, 0x07, 0x18}) + "Total 12.50", 0);
    core.receive(playList, 5);
    core.receive(standby, 19.9);
    EXPECT_TRUE(core.tick(39.8).empty());
    EXPECT_TRUE(core.records().empty());
    EXPECT_DOUBLE_EQ(core.nextDeadline(), 39.9);
    core.tick(39.9);
    EXPECT_EQ(names(core), std::vector<std::string>{"SetMainText"});
    EXPECT_EQ(core.settings().text("main_str"), "Total 12.50" + playList + standby);
    EXPECT_EQ(core.settings().number("pic_reg"), 0);
    EXPECT_EQ(core.settings().number("into_lun_bo"), SettingsDocument().number("into_lun_bo"));

    // After the gap the next frame is a frame of its own, even when the caller did not
    // tick in between.
    core.receive(bytesOf({0x02, 0x07, 0x18}) + "Thanks", 100);
    core.receive(playList, 120);
    EXPECT_EQ(names(core), (std::vector<std::string>{"SetMainText", "SetMainText", "SetPlayList"}));
    EXPECT_EQ(core.settings().text("main_str"), "Thanks");
    EXPECT_EQ(core.settings().number("pic_reg"), 0x0203);
}

TEST(DisplayCoreTest, SwitchesSpeedAfterTheSpeedFrames)
{
    DisplayCore core = makeCore("KT310--IIA", 9600);
    auto actions = core.receive(bytesOf({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}), 0);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, Action::Kind::SetSpeed);
    EXPECT_EQ(actions[0].baud, 115200);
    EXPECT_EQ(core.speed(), 115200);
    EXPECT_EQ(core.settings().number("Baud_Rate"), 0); // a transfer switch is not a setting
    // It is deaf while it switches: a frame right behind the switch is lost.
    EXPECT_TRUE(core.receive(bytesOf({0x02, 0x07, 0x16, 0x01}), 10).empty());
    EXPECT_EQ(core.records().back().name, "IgnoredWhileSwitching");
    // An unsupported rate is ignored.
    EXPECT_TRUE(core.receive(bytesOf({0x02, 0x07, 0x04, 0x00, 0x00, 0x30, 0x39}), 30).empty());
    EXPECT_EQ(core.speed(), 115200);

    core.receive(bytesOf({0x02, 0x42, '1'}), 40);
    EXPECT_EQ(core.speed(), 19200);
    EXPECT_EQ(core.settings().number("Baud_Rate"), 1);
    // A restart comes back at the configured speed, deaf for a while.
    core.receive(bytesOf({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}), 70);
    core.receive(bytesOf({0x02, 0x1D, 0xAA, 0x55}), 100);
    EXPECT_EQ(core.speed(), 19200);
    EXPECT_TRUE(core.receive(bytesOf({0x02, 0x07, 0x16, 0x01}), 360).empty());
    EXPECT_EQ(core.records().back().name, "IgnoredWhileRestarting");
    EXPECT_EQ(sent(core.receive(bytesOf({0x02, 0x07, 0x16, 0x01}), 421)), Bytes("KT310--IIA") + '\0');
}

TEST(DisplayCoreTest, PullsABlockFileAndChecksEveryBlock)
{
    DisplayCore core = makeCore("KT310--IIB");
    const Bytes file = pattern(600);
    const Bytes setup = bytesOf({0x02, 0x10}) + be32(0x0004B000) + be32(600);
    EXPECT_EQ(sent(core.receive(setup, 0)), setup);
    EXPECT_EQ(sent(core.receive(bytesOf({0x02, 0x07, 0x27, 0x27, 0x27}), 1)), request(0));

    // Block 0 arrives in two pieces.
    const Bytes b0 = blockFrame(0, file);
    EXPECT_TRUE(core.receive(b0.substr(0, 100), 2).empty());
    EXPECT_EQ(sent(core.receive(b0.substr(100), 3)), request(1));

    // A damaged block is asked for again.
    Bytes bad = blockFrame(1, file);
    bad[20] ^= 0x40;
    EXPECT_EQ(sent(core.receive(bad, 4)), request(1));
    // So is a block with the wrong number.
    EXPECT_EQ(sent(core.receive(blockFrame(2, file), 5)), request(1));
    EXPECT_EQ(sent(core.receive(blockFrame(1, file), 6)), request(2));

    const Bytes end = sent(core.receive(blockFrame(2, file), 7));
    const std::uint16_t crc = crc16(file);
    EXPECT_EQ(end, Bytes("ACT=9,L=000,") + '\0' + '\0' + char(crc >> 8) + char(crc & 0xFF));
    ASSERT_EQ(core.blocks().count(0x0004B000), 1u);
    EXPECT_EQ(core.blocks().at(0x0004B000), file);
    ASSERT_EQ(core.transfers().size(), 1u);
    EXPECT_TRUE(core.transfers()[0].complete);
    EXPECT_EQ(core.transfers()[0].badBlocks, 2);

    // Format forgets it.
    core.receive(bytesOf({0x02, 0x07, 0x05, 0x00}), 8);
    EXPECT_TRUE(core.blocks().empty());
}

TEST(DisplayCoreTest, GivesUpAfterRepeatedBadBlocks)
{
    DisplayCore core = makeCore("KT710--II");
    const Bytes file = pattern(300);
    core.receive(bytesOf({0x02, 0x10}) + be32(0x100) + be32(300), 0);
    core.receive(bytesOf({0x02, 0x07, 0x27, 0x27, 0x27}), 1);
    Bytes bad = blockFrame(0, file);
    bad.back() ^= 1;
    Bytes last;
    for (int i = 0; i <= DisplayCore::kMaxBlockRetries; ++i)
        last = sent(core.receive(bad, 2 + i));
    EXPECT_EQ(last.substr(0, 5), "ACT=9");
    EXPECT_EQ(static_cast<std::uint8_t>(last[14]) << 8 | static_cast<std::uint8_t>(last[15]), crc16(Bytes()));
    EXPECT_TRUE(core.blocks().empty());
    EXPECT_FALSE(core.transfers()[0].complete);
}

TEST(DisplayCoreTest, AsksAgainForAMissingBlockThenAbandonsTheTransfer)
{
    DisplayCore core = makeCore("KT310--IIB", 9600);
    const Bytes file = pattern(1000);
    const Bytes modelQuery = bytesOf({0x02, 0x07, 0x16, 0x01});
    core.receive(bytesOf({0x02, 0x07, 0x04, 0x00, 0x01, 0xC2, 0x00}), 0);
    ASSERT_EQ(core.speed(), 115200);
    // After the program's pause for the switch (the display is deaf while it switches).
    core.receive(bytesOf({0x02, 0x10}) + be32(0x4000) + be32(1000), 200);
    EXPECT_EQ(sent(core.receive(bytesOf({0x02, 0x07, 0x27, 0x27, 0x27}), 210)), request(0));
    EXPECT_EQ(sent(core.receive(blockFrame(0, file), 500)), request(1));

    // No block 1: the same request a second after each, three times.
    for (double t : {1500.0, 2500.0, 3500.0}) {
        EXPECT_DOUBLE_EQ(core.nextDeadline(), t);
        EXPECT_TRUE(core.tick(t - 0.001).empty()) << t;
        EXPECT_EQ(sent(core.tick(t)), request(1)) << t;
        // Waiting for the block it answers nothing else.
        EXPECT_TRUE(sent(core.receive(modelQuery, t + 10)).empty()) << t;
        EXPECT_TRUE(sent(core.tick(t + 30)).empty()) << t;
        EXPECT_EQ(core.records().back().name, "IgnoredDuringTransfer");
        EXPECT_EQ(core.records().back().bytes, modelQuery);
    }
    // A second after the third repeat it gives up: no end frame, nothing stored, and it
    // stays at the transfer speed.
    EXPECT_DOUBLE_EQ(core.nextDeadline(), 4500.0);
    EXPECT_TRUE(core.tick(4500).empty());
    EXPECT_EQ(core.records().back().name, "TransferAbandoned");
    ASSERT_EQ(core.transfers().size(), 1u);
    EXPECT_TRUE(core.transfers()[0].finished);
    EXPECT_FALSE(core.transfers()[0].complete);
    EXPECT_EQ(core.transfers()[0].receivedLength, 256u);
    EXPECT_DOUBLE_EQ(core.transfers()[0].endMs, 4500.0);
    EXPECT_TRUE(core.blocks().empty());
    EXPECT_EQ(core.speed(), 115200);
    EXPECT_EQ(core.nextDeadline(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(sent(core.receive(modelQuery, 4600)), Bytes("KT310--IIB") + '\0');
}

TEST(DisplayCoreTest, AGoodBlockRestartsTheRepeatsAndOtherBytesDoNotDisturbIt)
{
    DisplayCore core = makeCore("KT310--IIC");
    const Bytes image = pattern(600);
    const std::uint16_t crc = crc16(image);
    // The firmware entry pulls its blocks the same way.
    core.receive(withCrc("ACT=1,L=002," + be32(600) + bytesOf({std::uint8_t(crc >> 8), std::uint8_t(crc)})), 0);
    EXPECT_EQ(sent(core.tick(1000)), request(0));
    EXPECT_EQ(sent(core.tick(2000)), request(0));
    // A probe right in front of the block is heard and dropped; the block is taken.
    const Bytes probe = bytesOf({0x02, 0x07, 0x16, 0x01});
    EXPECT_EQ(sent(core.receive(probe + blockFrame(0, image), 2100)), request(1));
    EXPECT_EQ(core.records()[core.records().size() - 2].name, "IgnoredDuringTransfer");
    // The count starts again: three more repeats of block 1 before it would give up.
    for (double t : {3100.0, 4100.0, 5100.0})
        EXPECT_EQ(sent(core.tick(t)), request(1)) << t;
    // A refused block is asked for again at once, and the wait starts again from there.
    Bytes bad = blockFrame(1, image);
    bad[30] ^= 1;
    EXPECT_EQ(sent(core.receive(bad, 5500)), request(1));
    EXPECT_DOUBLE_EQ(core.nextDeadline(), 6500.0);
    EXPECT_EQ(sent(core.receive(blockFrame(1, image), 6000)), request(2));
    const Bytes end = sent(core.receive(blockFrame(2, image), 6001));
    EXPECT_EQ(end.substr(0, 5), "ACT=9");
    ASSERT_TRUE(core.firmware());
    EXPECT_EQ(*core.firmware(), image);
}

TEST(DisplayCoreTest, EmptyBlockFileEndsAtOnce)
{
    DisplayCore core = makeCore("KT310--IIA");
    core.receive(bytesOf({0x02, 0x10}) + be32(0x200) + be32(0), 0);
    const Bytes end = sent(core.receive(bytesOf({0x02, 0x07, 0x27, 0x27, 0x27}), 1));
    EXPECT_EQ(end, Bytes("ACT=9,L=000,") + '\0' + '\0' + '\xFF' + '\xFF');
    EXPECT_EQ(core.blocks().at(0x200), "");
}

TEST(DisplayCoreTest, EachModelUsesOnlyItsOwnStorage)
{
    DisplayCore named = makeCore("KT310-II");
    const Bytes setup = bytesOf({0x02, 0x10}) + be32(0) + be32(10);
    EXPECT_TRUE(named.receive(setup, 0).empty());
    EXPECT_TRUE(named.receive(bytesOf({0x07, 0x07, 0x07, 0x07}), 1).empty());

    DisplayCore block = makeCore("KT310--IIA");
    EXPECT_TRUE(block.receive(bytesOf({0x02, 0x07, 0x05, 0x01}) + "a.bin,1,2\n", 0).empty());
    EXPECT_TRUE(block.receive(bytesOf({0x07, 0x07, 0x07, 0x07}), 1).empty());

    DisplayCore loader = makeCore("KT310--IIC");
    EXPECT_EQ(sent(loader.receive(bytesOf({0x07, 0x07, 0x07, 0x07}), 0)), "A");
}

TEST(DisplayCoreTest, FirmwareLoaderChecksTheAnnounceFrame)
{
    DisplayCore core = makeCore("KT310--IIC");
    const Bytes image = pattern(513);
    const std::uint16_t crc = crc16(image);
    Bytes announce = withCrc("ACT=1,L=002," + be32(513) + bytesOf({std::uint8_t(crc >> 8), std::uint8_t(crc)}));
    Bytes damaged = announce;
    damaged[19] ^= 1;
    EXPECT_TRUE(core.receive(damaged, 0).empty());
    EXPECT_EQ(core.records().back().name, "AnnounceRefused");
    EXPECT_EQ(sent(core.receive(announce, 1)), request(0));
    EXPECT_EQ(sent(core.receive(blockFrame(0, image), 2)), request(1));
    EXPECT_EQ(sent(core.receive(blockFrame(1, image), 3)), request(2));
    const Bytes end = sent(core.receive(blockFrame(2, image), 4));
    EXPECT_EQ(end.substr(14), bytesOf({std::uint8_t(crc >> 8), std::uint8_t(crc)}));
    ASSERT_TRUE(core.firmware());
    EXPECT_EQ(*core.firmware(), image);
    EXPECT_EQ(core.transfers()[0].method, Transfer::Method::Firmware);
    EXPECT_EQ(core.transfers()[0].announcedCrc, crc);
}

TEST(DisplayCoreTest, StoresANamedFileStream)
{
    DisplayCore core = makeCore("KT310-IID");
    const Bytes file = pattern(512);
    const std::uint16_t crc = crc16(file);
    const Bytes make = bytesOf({0x02, 0x07, 0x05, 0x01}) + "a,b.bin,512," + std::to_string(crc) + "\n";
    EXPECT_EQ(sent(core.receive(make, 0)), "OK\r\n");
    EXPECT_TRUE(core.receive(file.substr(0, 256), 1).empty());
    // Bytes that look like commands are file data while the stream runs.
    Bytes rest = file.substr(256);
    rest.replace(0, 4, bytesOf({0x02, 0x07, 0x16, 0x01}));
    Bytes expected = file.substr(0, 256) + rest;
    const std::uint16_t crc2 = crc16(expected);
    EXPECT_EQ(sent(core.receive(rest, 2)), std::to_string(crc2) + "\n");
    EXPECT_EQ(core.files().at("a,b.bin"), expected);
    EXPECT_EQ(core.transfers()[0].announcedCrc, crc);
    EXPECT_EQ(core.records().back().name, "FileStream");
    EXPECT_EQ(core.records().back().length, 512u);

    // A zero-length file is answered at once with the CRC of nothing.
    const Bytes answer = sent(core.receive(bytesOf({0x02, 0x07, 0x05, 0x01}) + "e.bin,0,65535\n", 10));
    EXPECT_EQ(answer, "OK\r\n65535\n");
    // A make-file it cannot read is refused.
    EXPECT_EQ(sent(core.receive(bytesOf({0x02, 0x07, 0x05, 0x01}) + "x.bin,12a,5\n", 20)), "NO\r\n");
}

TEST(DisplayCoreTest, TransferFaults)
{
    const Bytes file = pattern(1024);
    const Bytes make = bytesOf({0x02, 0x07, 0x05, 0x01}) + "f.bin,1024," + std::to_string(crc16(file)) + "\n";
    {
        DisplayCore core = makeCore("KT710-II");
        Faults f;
        f.refuseMakeFile = true;
        core.setFaults(f);
        EXPECT_EQ(sent(core.receive(make, 0)), "NO\r\n");
    }
    {
        DisplayCore core = makeCore("KT710-II");
        Faults f;
        f.wrongCrc = true;
        core.setFaults(f);
        sent(core.receive(make, 0));
        const Bytes line = sent(core.receive(file, 1));
        EXPECT_NE(line, std::to_string(crc16(file)) + "\n");
        EXPECT_EQ(line.back(), '\n');
        EXPECT_EQ(core.files().at("f.bin"), file); // it stored the file; only its report is wrong
    }
    {
        DisplayCore core = makeCore("KT310--IIA");
        Faults f;
        f.stopAfterBlocks = 2;
        core.setFaults(f);
        core.receive(bytesOf({0x02, 0x10}) + be32(0) + be32(1024), 0);
        core.receive(bytesOf({0x02, 0x07, 0x27, 0x27, 0x27}), 1);
        EXPECT_EQ(sent(core.receive(blockFrame(0, file), 2)), request(1));
        EXPECT_TRUE(core.receive(blockFrame(1, file), 3).empty());
        // Silent from here on; it still gives the transfer up in the end.
        for (double t = 1003; t <= 4003; t += 1000)
            EXPECT_TRUE(core.tick(t).empty()) << t;
        EXPECT_TRUE(core.transfers()[0].finished);
        EXPECT_TRUE(core.receive(bytesOf({0x02, 0x07, 0x16, 0x01}), 4010).empty());
        core.setFaults({});
        EXPECT_FALSE(core.receive(bytesOf({0x02, 0x07, 0x16, 0x01}), 4020).empty());
    }
    {
        DisplayCore core = makeCore("KT710-II");
        Faults f;
        f.hangUpAfterBlocks = 3;
        core.setFaults(f);
        sent(core.receive(make, 0));
        auto actions = core.receive(file, 1);
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_EQ(actions[0].kind, Action::Kind::HangUp);
        EXPECT_TRUE(core.hungUp());
        EXPECT_EQ(core.transfers()[0].receivedLength, 768u);
        EXPECT_TRUE(core.files().empty());
    }
}

TEST(DisplayCoreTest, AnswerFaults)
{
    DisplayCore core = makeCore("KT310--IIB");
    Faults f;
    f.garbageBytes = 4;
    f.slowMs = 250;
    core.setFaults(f);
    auto actions = core.receive(bytesOf({0x02, 0x07, 0x14, 0x01}), 0);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].delayMs, 250);
    ASSERT_EQ(actions[0].bytes.size(), 8u);
    EXPECT_EQ(actions[0].bytes.substr(4), bytesOf({0x02, 0x07, 0x14, 0x01}));
    for (int i = 0; i < 4; ++i)
        EXPECT_GE(byteAt(actions[0].bytes, i), 0x80);

    f = {};
    f.silent = true;
    core.setFaults(f);
    EXPECT_TRUE(core.receive(bytesOf({0x02, 0x07, 0x16, 0x05}), 1).empty());
    EXPECT_EQ(core.records().back().name, "GetConfiguration");
}

TEST(DisplayCoreTest, StoresTheQrPicture)
{
    DisplayCore core = makeCore("KT310--IIA");
    const Bytes picture = pattern(DisplayCore::kQrPictureSize);
    core.receive(bytesOf({0x02, 0x07, 0x19, 0x02, 0x00}), 0);
    for (std::size_t at = 0; at < picture.size(); at += 256)
        core.receive(picture.substr(at, 256), 100);
    EXPECT_TRUE(core.qrPictures().empty());
    core.receive(bytesOf({0x02, 0x07, 0x19, 0x00}), 200);
    ASSERT_EQ(core.qrPictures().size(), 1u);
    EXPECT_EQ(core.qrPictures()[0].align, 2);
    EXPECT_EQ(core.qrPictures()[0].bytes, picture);
    // Back to commands afterwards.
    EXPECT_EQ(sent(core.receive(bytesOf({0x02, 0x07, 0x16, 0x01}), 300)), Bytes("KT310--IIA") + '\0');

    // A shorter picture ends with its trailer after a quiet gap.
    core.receive(bytesOf({0x02, 0x07, 0x19, 0x01, 0x00}), 400);
    core.receive(Bytes(100, '\x55') + bytesOf({0x02, 0x07, 0x19, 0x00}), 500);
    core.tick(530);
    ASSERT_EQ(core.qrPictures().size(), 2u);
    EXPECT_EQ(core.qrPictures()[1].bytes, Bytes(100, '\x55'));

    // However the line hands the bytes over: a whole picture, its trailer and the next
    // frame in one piece (the way back to the display's speed) are a picture and a frame.
    core.receive(bytesOf({0x02, 0x07, 0x19, 0x03, 0x00}), 600);
    core.receive(picture + bytesOf({0x02, 0x07, 0x19, 0x00}) + bytesOf({0x02, 0x07, 0x04, 0x00, 0x00, 0x4B, 0x00}), 700);
    ASSERT_EQ(core.qrPictures().size(), 3u);
    EXPECT_EQ(core.qrPictures()[2].bytes, picture);
    EXPECT_EQ(core.speed(), 19200);
}

TEST(DisplayCoreTest, UnknownBytesAreRecordedAsText)
{
    DisplayCore core = makeCore();
    core.receive(Bytes("hello") + bytesOf({0x02, 0x07, 0x16, 0x01}), 0);
    ASSERT_EQ(core.records().size(), 2u);
    EXPECT_EQ(core.records()[0].name, "Text");
    EXPECT_EQ(core.records()[0].bytes, "hello");
    core.receive(bytesOf({0x02, 0x99, 0x01}), 10);
    core.tick(40);
    EXPECT_EQ(core.records()[2].name, "Unknown");
    // The code page test pattern: 0B, then 40 bytes.
    Bytes test = bytesOf({0x0B});
    for (int i = 0xE0; i < 0xF0; ++i)
        test.push_back(char(i));
    test += "    ";
    core.receive(test, 100);
    core.tick(130);
    EXPECT_EQ(core.records().back().name, "HomeAndText");
    EXPECT_EQ(core.records().back().bytes, test);
}
