#include "settings_fixture.h"

#include "util/bits.h"

namespace tarsel::test {
namespace {

bool parse(const std::string& utf8, TDisplayInfo& info, WindowValues& values, std::string& error)
{
    return ParseSettingsJson(T(utf8), info, values, error);
}

TEST(SettingsDocument, DefaultDocumentShowsTheFactorySettings)
{
    DefaultState s;
    const auto& v = s.values;
    EXPECT_EQ(v.cbb_down_BaudRate, 0);  // "9600"
    EXPECT_EQ(v.rg_Down_InterChar, 0);  // "USA"
    EXPECT_EQ(v.rg_Down_CodePage, 0);   // "CP437"
    EXPECT_EQ(v.cbb_CodePage, 0);
    EXPECT_EQ(v.cbb_codepage_test, 0);
    EXPECT_EQ(v.cbb_codepage_maintext, 0);
    EXPECT_EQ(v.cbb_down_CommandMode, 14); // "AUTO"
    EXPECT_TRUE(v.chk_Scroll1);
    EXPECT_TRUE(v.chk_Scroll2);
    EXPECT_EQ(v.rg_brightness, 1); // "40%"
    EXPECT_TRUE(v.rbtnTextLine2);
    EXPECT_FALSE(v.rbtnTextLine4);
    EXPECT_FALSE(v.edtMianText3Visible);
    EXPECT_TRUE(v.rbtnHeaderText);
    EXPECT_EQ(v.pnlColorTextText, 0xF8FC00u); // cyan
    EXPECT_EQ(v.pnlColorBgText, 0u);
    EXPECT_EQ(v.pnlColorTextFooter, 0xF80000u); // blue
    EXPECT_EQ(v.pnlColorBgFooter, 0xF8FCF8u);   // white
    EXPECT_EQ(v.pnlColorBgHeader, 0xF80000u);
    EXPECT_EQ(v.pnlColorTextHeader, 0xF8FCF8u);
    EXPECT_EQ(v.ud_StandbyTime, 0);
    EXPECT_EQ(v.ud_PlayInterval, 1);
    EXPECT_EQ(v.edt_line1, u"*** TFT DISPLAY *** ");
    EXPECT_EQ(v.edt_line2, u"**HAVE A NICE DAY AND THANK YOU**");
    EXPECT_EQ(v.edtMianText[0], u"*** TFT DISPLAY  ***");
    EXPECT_EQ(v.edtMianText[1], u"  HAVE A NICE DAY!  ");
    EXPECT_EQ(v.edtMianText[3], u"  HAVE A NICE DAY!  ");
    EXPECT_EQ(s.info.Comm_No, 255);
    EXPECT_EQ(s.info.back_light_set, 2);
}

TEST(SettingsDocument, OnlyTheKeysGivenChange)
{
    DefaultState s;
    TDisplayInfo info = s.info;
    WindowValues values = s.values;
    std::string error;
    ASSERT_TRUE(parse("{\"Comm_No\":2}", info, values, error)) << error;
    TDisplayInfo expectedInfo = s.info;
    expectedInfo.Comm_No = 2;
    WindowValues expectedValues = s.values;
    expectedValues.cbb_down_CommandMode = 2; // "AEDEX"
    EXPECT_EQ(info, expectedInfo);
    EXPECT_EQ(values, expectedValues);
}

TEST(SettingsDocument, KeyMatching)
{
    DefaultState s;
    std::string error;
    // Unknown keys skipped, blanks around a name ignored, letter case matters.
    ASSERT_TRUE(parse("{\"nope\":1, \"  Char_No \\t\":17, \"TEMP1\":9, \"Temp1\":9}", s.info, s.values, error));
    EXPECT_EQ(s.info.Char_No, 17);
    EXPECT_EQ(s.info.temp1, 0);
    EXPECT_EQ(s.values.rg_Down_InterChar, 16); // "Turkey"

    // Members count in document order: the last of a repeated key wins, also when
    // the same name comes back after a blank-padded spelling of it.
    ASSERT_TRUE(parse("{\"temp1 \":2,\"temp1\":1}", s.info, s.values, error));
    EXPECT_EQ(s.info.temp1, 1);
    ASSERT_TRUE(parse("{\"temp1\":1,\"temp1 \":2,\"temp1\":3}", s.info, s.values, error));
    EXPECT_EQ(s.info.temp1, 3);
}

TEST(SettingsDocument, NumbersAreCutToTheFieldWidth)
{
    DefaultState s;
    std::string error;
    ASSERT_TRUE(parse("{\"Baud_Rate\":260,\"temp1\":-1,\"pic_reg\":65537,\"tp_font_rgb\":4294967295,"
                      "\"lun_time\":3.9,\"into_lun_bo\":1e2}",
                      s.info, s.values, error))
        << error;
    EXPECT_EQ(s.info.Baud_Rate, 4);
    EXPECT_EQ(s.values.cbb_down_BaudRate, 4);
    EXPECT_EQ(s.info.temp1, 255);
    EXPECT_EQ(s.info.pic_reg, 1);
    EXPECT_EQ(s.info.tp_font_rgb_565, -1);
    EXPECT_EQ(s.values.pnlColorTextHeader, 0xF8FCF8u); // low 16 bits give white
    EXPECT_EQ(s.info.lun_time, 3);
    EXPECT_EQ(s.info.into_lun_bo, 100);
}

TEST(SettingsDocument, NonNumberForNumericKeyKeepsEarlierFieldsAndLeavesWindow)
{
    DefaultState s;
    TDisplayInfo info = s.info;
    WindowValues values = s.values;
    std::string error;
    EXPECT_FALSE(parse("{\"temp1\":7,\"Baud_Rate\":\"x\",\"Char_No\":5}", info, values, error));
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error, kParsingFailed);
    EXPECT_EQ(info.temp1, 7);             // assigned before the bad member
    EXPECT_EQ(info.Char_No, s.info.Char_No); // not reached
    EXPECT_EQ(values, s.values);          // window not updated
}

TEST(SettingsDocument, TextKeyWithOtherValueStoresItsText)
{
    DefaultState s;
    std::string error;
    ASSERT_TRUE(parse("{\"wel_mess1\":12345,\"wel_mess2\":[1,\"a\"],\"main_str\":\"\"}", s.info, s.values, error));
    EXPECT_EQ(s.info.wel_mess1, "12345");
    EXPECT_EQ(s.info.wel_mess2, "[1,\"a\"]");
    EXPECT_EQ(s.info.main_str, "");
    EXPECT_EQ(s.values.edt_line1, u"12345");
    for (const auto& line : s.values.edtMianText)
        EXPECT_EQ(line, u"");
}

TEST(SettingsDocument, ErrorTexts)
{
    DefaultState s;
    std::string error;
    EXPECT_FALSE(ParseSettingsJson(Text(), s.info, s.values, error));
    EXPECT_EQ(error, kGetSettingsError);
    EXPECT_FALSE(ParseSettingsDocument(Bytes(), s.info, s.values, error));
    EXPECT_EQ(error, kGetSettingsError);
    // The display's reply of only its terminator trims to nothing.
    EXPECT_FALSE(ParseSettingsDocument(Bytes(1, '\0'), s.info, s.values, error));
    EXPECT_EQ(error, kParsingFailed);
    // A reply with its terminator parses: control characters are trimmed.
    EXPECT_TRUE(ParseSettingsDocument(Bytes("\r\n{\"temp1\":0}\n") + '\0', s.info, s.values, error)) << error;
}

// Malformed documents of every kind: one message each, nothing changed, no crash.
TEST(SettingsDocument, MalformedCorpusChangesNothing)
{
    std::vector<std::pair<std::string, Bytes>> corpus;
    corpus.push_back({"empty", Bytes()});
    corpus.push_back({"open brace", "{"});
    corpus.push_back({"array", "[1,2]"});
    corpus.push_back({"number", "42"});
    corpus.push_back({"string", "\"temp1\""});
    corpus.push_back({"truncated", Bytes(DefaultSettingsJson).substr(0, 200)});
    corpus.push_back({"trailing garbage", Bytes("{\"temp1\":1} x")});
    corpus.push_back({"10 MB of [", Bytes(10 * 1024 * 1024, '[')});
    corpus.push_back({"deep nesting in a value", "{\"wel_mess1\":" + Bytes(200, '[') + Bytes(200, ']') + "}"});
    corpus.push_back({"deep nesting unclosed", Bytes(100000, '{')});
    Bytes binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    corpus.push_back({"binary", binary});
    corpus.push_back({"embedded NUL", Bytes("{\"temp1\":1") + '\0' + "}"});
    corpus.push_back({"wrong type first", "{\"temp1\":\"1\",\"Baud_Rate\":3}"});
    corpus.push_back({"null number", "{\"pic_reg\":null}"});
    corpus.push_back({"bool number", "{\"line_mode\":true}"});
    corpus.push_back({"object number", "{\"tp_mode\":{\"a\":1}}"});
    Bytes huge = "{\"wel_mess1\":\"" + Bytes(5 * 1024 * 1024, 'A') + "\",\"temp1\":1}";
    corpus.push_back({"5 MB document", huge});

    for (const auto& [name, doc] : corpus) {
        DefaultState s;
        TDisplayInfo info = s.info;
        WindowValues values = s.values;
        std::string error;
        EXPECT_FALSE(ParseSettingsDocument(doc, info, values, error)) << name;
        EXPECT_FALSE(error.empty()) << name;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 0) << name;
        EXPECT_EQ(info, s.info) << name;
        EXPECT_EQ(values, s.values) << name;
    }
}

TEST(SettingsDocument, NestingUpToTheLimitIsRead)
{
    DefaultState s;
    std::string error;
    const std::string nested = std::string(60, '[') + std::string(60, ']');
    ASSERT_TRUE(parse("{\"main_str\":" + nested + "}", s.info, s.values, error)) << error;
    EXPECT_EQ(s.info.main_str, nested);
    // Brackets inside strings do not count.
    ASSERT_TRUE(parse("{\"wel_mess1\":\"" + std::string(100, '[') + "\"}", s.info, s.values, error)) << error;
}

TEST(SettingsDocument, BuiltDocumentRoundTrips)
{
    DefaultState s;
    s.info.wel_mess1 = Bytes("Caf\xE9 \x81\"\\ end");
    s.info.tp_font_rgb_565 = -5;
    s.info.pic_reg = 0x0201;
    ApplySettings(s.info, s.values); // the window-only fields follow
    const Text doc = BuildSettingsJson(s.info);
    // Keys in the display's order, non-ASCII as characters.
    const std::string utf8 = Utf16ToUtf8(doc);
    EXPECT_LT(utf8.find("\"temp1\""), utf8.find("\"Baud_Rate\""));
    EXPECT_LT(utf8.find("\"tp_mode\""), utf8.find("\"main_str\""));
    EXPECT_LT(utf8.find("\"into_lun_bo\""), utf8.find("\"lun_time\""));
    EXPECT_NE(utf8.find("Caf\xC3\xA9"), std::string::npos);
    EXPECT_EQ(utf8.find("\\u00e9"), std::string::npos);
    // The file's bytes carry the message bytes unchanged.
    const Bytes file = BuildSettingsDocument(s.info);
    EXPECT_NE(file.find("Caf\xE9 \x81"), std::string::npos);
    EXPECT_NE(file.substr(0, 3), "\xEF\xBB\xBF");

    TDisplayInfo back;
    WindowValues values;
    std::string error;
    ASSERT_TRUE(ParseSettingsDocument(file, back, values, error)) << error;
    EXPECT_EQ(back.wel_mess1, s.info.wel_mess1);
    EXPECT_EQ(back.tp_font_rgb_565, -5);
    EXPECT_EQ(back, s.info);

    // A control byte is written escaped and read back as a plain "?", named.
    s.info.main_str = Bytes("x\x01y");
    std::vector<std::string> cleaned;
    ASSERT_TRUE(ParseSettingsDocument(BuildSettingsDocument(s.info), back, values, error, &cleaned)) << error;
    EXPECT_EQ(back.main_str, "x?y");
    EXPECT_EQ(cleaned, std::vector<std::string>{"main_str"});
}

TEST(SettingsDocument, SettingsFileName)
{
    EXPECT_EQ(SettingsFileName("/home/u/mine.txt"), "/home/u/mine.ini");
    EXPECT_EQ(SettingsFileName("/home/u/mine"), "/home/u/mine.ini");
    EXPECT_EQ(SettingsFileName("/home/u/mine.ini"), "/home/u/mine.ini");
    EXPECT_EQ(SettingsFileName("/home/u.v/mine"), "/home/u.v/mine.ini");
    EXPECT_EQ(SettingsFileName("/home/u/a.b.c"), "/home/u/a.b.ini");
    EXPECT_EQ(SettingsFileName("/home/u/.hidden"), "/home/u/.hidden.ini");
}

} // namespace
} // namespace tarsel::test
