#include "settings_fixture.h"

#include "util/bits.h"

namespace tarsel::test {
namespace {

TEST(GatherSettings, ReadsTheWindowAndPadsTheTexts)
{
    DefaultState s;
    WindowValues v = s.values;
    TDisplayInfo info = s.info;
    info.temp1 = 9;
    info.temp2 = 0xF3;
    v.chk_Scroll1 = true;
    v.chk_Scroll2 = false;
    v.cbb_down_BaudRate = 3;
    v.rg_Down_InterChar = 16; // Turkey
    v.rg_Down_CodePage = 6;   // CP857
    v.cbb_down_CommandMode = 1;
    v.edt_line1 = u"ABC";
    v.edt_line2 = Text(70, u'x');
    v.rg_brightness = 3; // "100%"
    v.CheckBox = {true, false, false, false, false, false, false, false, false, true};
    v.rbtnTextLine2 = false;
    v.rbtnTextLine4 = true;
    v.rbtnHeaderText = false;
    v.rbtnHeaderPicture = true;
    v.edtMianText = {u"a", u"", u"c", Text(21, u'd')};
    v.ud_StandbyTime = 120;
    v.ud_PlayInterval = 10;
    v.pnlColorTextHeader = 0xFF8040; // R 40, G 80, B FF

    GatherSettings(v, info);

    EXPECT_EQ(info.temp1, 0);
    EXPECT_EQ(info.Baud_Rate, 3);
    // Bit 0 clear (line 1 scrolls), bit 1 set, bit 2 set, bit 3 clear, 4..7 kept.
    EXPECT_EQ(info.temp2, 0xF6);
    EXPECT_EQ(info.Char_No, 17);
    EXPECT_EQ(info.Expand_Char_No, 9);
    EXPECT_EQ(info.Comm_No, 1);
    EXPECT_EQ(v.edt_line1, u"ABC                 ");
    EXPECT_EQ(info.wel_mess1, "ABC                 ");
    EXPECT_EQ(v.edt_line2.size(), 70u);
    EXPECT_EQ(info.back_light_set, 4);
    EXPECT_EQ(info.back_light, 1);
    EXPECT_EQ(info.pic_reg, 0x0201);
    EXPECT_EQ(v.lbl_selected_nums, u"2");
    EXPECT_EQ(info.line_mode, 2);
    EXPECT_TRUE(v.edtMianText3Visible);
    EXPECT_EQ(info.tp_mode, 9);
    EXPECT_EQ(v.edtMianText[1], Text(20, u' '));
    EXPECT_EQ(v.edtMianText[3], Text(21, u'd'));
    EXPECT_EQ(info.main_str, "a" + Bytes(19, ' ') + Bytes(20, ' ') + "c" + Bytes(19, ' ') + Bytes(21, 'd'));
    EXPECT_EQ(info.into_lun_bo, 120);
    EXPECT_EQ(info.lun_time, 10);
    EXPECT_EQ(info.tp_font_rgb_565, 0x441F);
    EXPECT_EQ(info.tp_font_rgb_888, 0xFF8040u);
    EXPECT_EQ(info.bm_back_rgb_888, v.pnlColorBgFooter);

    // Shown again from its document, the colour loses its low bits.
    std::string error;
    TDisplayInfo shown;
    WindowValues back;
    ASSERT_TRUE(ParseSettingsDocument(BuildSettingsDocument(info), shown, back, error)) << error;
    EXPECT_EQ(back.pnlColorTextHeader, 0xF88040u);
    EXPECT_EQ(back.rg_brightness, 3); // "100%" comes back as "100%"
}

TEST(GatherSettings, TextsUseTheirCodePageSelectors)
{
    DefaultState s;
    s.values.cbb_CodePage = 12;          // CP866 for the welcome message
    s.values.cbb_codepage_maintext = 20; // WCP1252 for the main text
    s.values.edt_line1 = u"\u0416";      // Cyrillic Zhe: 0x86 in CP866
    s.values.edtMianText[0] = u"\u00E9"; // e acute: 0xE9 in 1252
    GatherSettings(s.values, s.info);
    EXPECT_EQ(s.info.wel_mess1[0], '\x86');
    EXPECT_EQ(s.info.main_str[0], '\xE9');
}

TEST(GatherSettings, WithoutSelectionsKeepsFields)
{
    DefaultState s;
    WindowValues v = s.values;
    TDisplayInfo info = s.info;
    info.back_light = 5;
    v.rg_brightness = -1;
    v.rg_Down_InterChar = -1;
    v.rg_Down_CodePage = -1;
    v.cbb_down_CommandMode = -1;
    v.rbtnTextLine2 = v.rbtnTextLine4 = false;
    v.rbtnHeaderText = v.rbtnHeaderPicture = false;
    info.line_mode = 7;
    info.tp_mode = 3;
    GatherSettings(v, info);
    EXPECT_EQ(info.back_light_set, 0);
    EXPECT_EQ(info.back_light, 5);
    EXPECT_EQ(info.Char_No, s.info.Char_No);
    EXPECT_EQ(info.Comm_No, s.info.Comm_No);
    EXPECT_EQ(info.line_mode, 7);
    EXPECT_EQ(info.tp_mode, 3);
}

TEST(ApplySettings, PlayBoxesBrightnessAndMainText)
{
    DefaultState s;
    s.info.pic_reg = 1023;
    ApplySettings(s.info, s.values);
    for (bool b : s.values.CheckBox)
        EXPECT_TRUE(b);
    EXPECT_EQ(s.values.lbl_selected_nums, u"10");
    s.info.pic_reg = 1024;
    ApplySettings(s.info, s.values);
    for (bool b : s.values.CheckBox)
        EXPECT_FALSE(b);
    EXPECT_EQ(s.values.lbl_selected_nums, u"0");
    EXPECT_EQ(s.info.pic_reg_hi, 4);

    s.info.back_light = 1;
    ApplySettings(s.info, s.values);
    EXPECT_EQ(s.values.rg_brightness, 3); // "100%"

    s.info.main_str = Bytes(30, 'M');
    ApplySettings(s.info, s.values);
    EXPECT_EQ(s.values.edtMianText[0], Text(20, u'M'));
    EXPECT_EQ(s.values.edtMianText[1], Text(10, u'M'));
    EXPECT_EQ(s.values.edtMianText[2], u"");
    EXPECT_EQ(s.values.edtMianText[3], u"");

    // A code page number without a row leaves the code page selectors empty.
    s.info.Expand_Char_No = 7;
    s.info.line_mode = 2;
    s.info.tp_mode = 9;
    ApplySettings(s.info, s.values);
    EXPECT_EQ(s.values.rg_Down_CodePage, -1);
    EXPECT_EQ(s.values.cbb_codepage_test, -1);
    EXPECT_TRUE(s.values.rbtnTextLine4);
    EXPECT_TRUE(s.values.edtMianText4Visible);
    EXPECT_TRUE(s.values.rbtnHeaderPicture);
    EXPECT_FALSE(s.values.rbtnHeaderText);
}

TEST(ApplySettings, TextsDecodeWithTheCodePageOfTheRecord)
{
    DefaultState s;
    s.info.Expand_Char_No = 17; // CP866
    s.info.wel_mess1 = bytesOf({0x86});
    s.info.main_str = bytesOf({0x86});
    ApplySettings(s.info, s.values);
    EXPECT_EQ(s.values.rg_Down_CodePage, 12);
    EXPECT_EQ(s.values.cbb_CodePage, 12);
    EXPECT_EQ(s.values.edt_line1, u"\u0416");
    EXPECT_EQ(s.values.edtMianText[0], u"\u0416");
}

TEST(SelectorSync, CodePageSelectorsMoveTogether)
{
    WindowValues v;
    auto all = [&](int row) {
        EXPECT_EQ(v.rg_Down_CodePage, row);
        EXPECT_EQ(v.cbb_CodePage, row);
        EXPECT_EQ(v.cbb_codepage_test, row);
        EXPECT_EQ(v.cbb_codepage_maintext, row);
    };
    v.rg_Down_InterChar = 10; // Denmark II
    SyncFromInterChar(v);
    all(4); // CP850
    v.rg_Down_InterChar = 18; // Thailand
    SyncFromInterChar(v);
    all(14); // CP874
    v.rg_Down_InterChar = 8; // Japan
    SyncFromInterChar(v);
    all(17); // Katakana
    v.rg_Down_InterChar = 11; // Russia
    SyncFromInterChar(v);
    all(12); // CP866
    v.rg_Down_InterChar = 1; // France
    SyncFromInterChar(v);
    all(7); // CP858

    v.cbb_codepage_test = 20; // WCP1252
    SyncFromTestCodePage(v);
    all(20);
    v.cbb_CodePage = 5;
    SyncFromCodePageCombo(v);
    all(5);
    v.rg_Down_CodePage = 9;
    SyncFromCodePageGroup(v);
    all(9);
}

} // namespace
} // namespace tarsel::test
