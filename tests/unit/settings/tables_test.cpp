#include "settings_fixture.h"

#include "util/bits.h"

namespace tarsel::test {
namespace {

TEST(SettingsTables, RowsAndSearches)
{
    EXPECT_EQ(FindBaudRate(4), 4);
    EXPECT_EQ(FindBaudRate(5), -1);
    EXPECT_EQ(FindCommandMode(255), 14);
    EXPECT_STREQ(CommandModeTable[14].CommandName, "AUTO");
    EXPECT_EQ(FindCommandMode(14), -1);
    // InterCharNo 11 does not occur; 12 is row 11 ("Russia").
    EXPECT_EQ(FindInterChar(11), -1);
    EXPECT_EQ(FindInterChar(12), 11);
    EXPECT_EQ(FindInterChar(255), 19);
    EXPECT_STREQ(InterCharTable[16].DisplayNameEn, "Turkey");
    EXPECT_STREQ(InterCharTable[17].DisplayNameZh, "波罗的海国家");
    EXPECT_EQ(FindCodePage(146), 16);
    EXPECT_EQ(FindCodePage(19), 7); // CP858
    EXPECT_EQ(FindCodePage(7), -1);
    for (const auto& row : InterCharTable) {
        EXPECT_EQ(row.SetCodePageNo, row.DownCodePageNo);
        EXPECT_GE(FindCodePage(row.SetCodePageNo), 0) << row.DisplayNameEn;
    }
}

TEST(SettingsTables, GreekPageConvertsWithIso8859_7)
{
    // No row may fall back to the host code page for want of a converter.
    for (const auto& row : CodePageTable)
        EXPECT_TRUE(IsKnownCodePage(row.CodePageName)) << row.DisplayName;

    EXPECT_STREQ(CodePageTable[3].DisplayName, "CP737_S1");
    EXPECT_EQ(CodePageTable[3].CodePageName, 28597);
    // Greek small alpha is E1 in ISO-8859-7.
    EXPECT_EQ(EncodeForRow(u"\u03B1", 3), bytesOf({0xE1}));
    EXPECT_EQ(DecodeForRow(bytesOf({0xE1}), 3), u"\u03B1");
}

TEST(SettingsTables, BrightnessMappings)
{
    EXPECT_EQ(BacklightFromLevel(1), 6);
    EXPECT_EQ(BacklightFromLevel(2), 5);
    EXPECT_EQ(BacklightFromLevel(3), 4);
    EXPECT_EQ(BacklightFromLevel(4), 1);
    // Every level comes back as itself.
    for (int level = 1; level <= 4; ++level)
        EXPECT_EQ(LevelFromBacklight(BacklightFromLevel(level)), level);
    const int expected[] = {3, 4, 4, 3, 3, 2, 1, 3, 3};
    for (int code = 0; code <= 8; ++code)
        EXPECT_EQ(LevelFromBacklight(code), expected[code]) << code;
    EXPECT_EQ(LevelFromBacklight(255), 3);
}

TEST(SettingsTables, DefaultDocumentText)
{
    const std::string doc = DefaultSettingsJson;
    EXPECT_EQ(std::count(doc.begin(), doc.end(), '\n'), 21);
    EXPECT_EQ(doc.find('\r'), std::string::npos);
    EXPECT_EQ(doc.substr(0, 12), "{\"temp1\":0,\n");
    EXPECT_EQ(doc.substr(doc.size() - 14), "\"lun_time\":1\n}");
    EXPECT_NE(doc.find("\"wel_mess1\":\"*** TFT DISPLAY *** \",\n"), std::string::npos);
}

} // namespace
} // namespace tarsel::test
