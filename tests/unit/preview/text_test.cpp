// Texts as the display reads them: bytes in the display's code page, one glyph for
// the two bytes of a double-byte character, "?" where the code page had nothing,
// and welcome lines that scroll as the record says.
#include "preview_fixture.h"

#include "preview/display_text.h"
#include "preview/font_set.h"
#include "settings/tables.h"
#include "util/codepage.h"

#include <cstdlib>
#include <cstdio>
#include <fstream>

namespace tarsel::preview::test {
namespace {

constexpr int kCp437 = 0, kCp866 = 17, kWcp1251 = 14, kGbk = 25, kBig5 = 146;

Bytes inCodePage(const char* utf8, int codePageNoNew, std::size_t padTo = 40)
{
    Bytes b = WideToCodePage(Utf8ToUtf16(utf8), CodePageOfRow(FindCodePage(codePageNoNew)));
    if (b.size() < padTo)
        b.append(padTo - b.size(), ' ');
    return b;
}

Image mainText(const Bytes& bytes, int codePageNoNew)
{
    Input in;
    in.info = blankRecord();
    in.info.Expand_Char_No = static_cast<std::uint8_t>(codePageNoNew);
    in.info.main_str = bytes;
    RenderNotes notes;
    Image img = RenderScreen(in, &notes);
    EXPECT_EQ(notes.fontError, "");
    EXPECT_EQ(notes.missingGlyphs, 0);
    return img;
}

// Cell `k` of the first main-text line on the 800 × 480 screen.
PixelRect cell(int k, int span = 1)
{
    const TextGrid g = MainTextGrid(LayoutFor(6), 2);
    return {g.area.left + k * g.cellWidth, g.area.top, span * g.cellWidth, g.lineHeight};
}

TEST(PreviewText, BytesAreReadInTheDisplaysCodePage)
{
    // "ПРИВЕТ" in CP866 is 8F 90 88 82 85 92; in CP437 the same bytes are Latin
    // letters (Å É ê é à Æ).
    const Bytes cp866 = inCodePage("ПРИВЕТ", kCp866);
    ASSERT_EQ(cp866.substr(0, 6), bytesOf({0x8F, 0x90, 0x88, 0x82, 0x85, 0x92}));
    const Image asCyrillic = mainText(cp866, kCp866);
    // The same letters from other bytes in another code page draw the same glyphs.
    const Image viaWcp1251 = mainText(inCodePage("ПРИВЕТ", kWcp1251), kWcp1251);
    const Image asLatin = mainText(cp866, kCp437);
    const Image latinLetters = mainText(inCodePage("ÅÉêéàÆ", kCp437), kCp437);
    EXPECT_TRUE(samePixels(asCyrillic, viaWcp1251, LayoutFor(6).main));
    EXPECT_TRUE(samePixels(asLatin, latinLetters, LayoutFor(6).main));
    for (int k = 0; k < 6; ++k)
        EXPECT_FALSE(samePixels(asCyrillic, asLatin, cell(k))) << k;

    // A character the code page lacks was made "?" when the record was gathered and
    // shows as "?", not as a blank.
    const Bytes withEuro = inCodePage("Ж€", kCp866);
    ASSERT_EQ(byteAt(withEuro, 1), '?');
    const Image euro = mainText(withEuro, kCp866);
    const Image question = mainText(inCodePage(" ?", kCp437), kCp437);
    EXPECT_TRUE(samePixels(euro, question, cell(1)));
    EXPECT_FALSE(allPixels(euro, cell(1), shown565(kMainBack)));
    // Two bytes a code page does not read as one character (a lead byte at the end)
    // show as "?" too.
    EXPECT_TRUE(samePixels(mainText(Bytes(" \xD6", 2), kGbk), question, cell(1)));
}

TEST(PreviewText, DoubleByteCharactersAreOneGlyphOverTwoCells)
{
    // 中文 is D6 D0 CE C4 in GBK and A4 A4 A4 E5 in Big5.
    const Bytes gbk = inCodePage("中文A", kGbk);
    const Bytes big5 = inCodePage("中文A", kBig5);
    ASSERT_EQ(gbk.substr(0, 5), bytesOf({0xD6, 0xD0, 0xCE, 0xC4, 'A'}));
    ASSERT_EQ(big5.substr(0, 5), bytesOf({0xA4, 0xA4, 0xA4, 0xE5, 'A'}));
    const Image a = mainText(gbk, kGbk);
    EXPECT_TRUE(samePixels(a, mainText(big5, kBig5), LayoutFor(6).main));
    // The letter after two double-byte characters sits in the fifth cell.
    EXPECT_TRUE(samePixels(a, mainText(inCodePage("    A", kCp437), kCp437), cell(4)));
    // Each character is drawn once, across its two cells: not as two glyphs of
    // single bytes, which Windows-1252 would give.
    EXPECT_FALSE(samePixels(a, mainText(gbk, 16), cell(0, 2)));

    // A double-byte character that would straddle the end of a line starts the next.
    CellLine cells = DecodeDisplayText(Bytes(19, 'x') + "\xD6\xD0" + "y", 936);
    ASSERT_EQ(cells.size(), 21u);
    EXPECT_EQ(cells[19], (TextCell{U'中', 2}));
    const auto lines = SplitLines(cells, 20, 4);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(CellCount(lines[0]), 19);
    EXPECT_EQ(lines[1], (CellLine{{U'中', 2}, {U'y', 1}}));
}

TEST(PreviewText, MainTextHasTwoOrFourLinesOf20Bytes)
{
    Input in;
    in.info = blankRecord();
    in.info.main_str = blanks(60) + "X" + blanks(19);
    const TextGrid four = MainTextGrid(LayoutFor(6), 4);
    const PixelRect line4{four.area.left, four.area.top + 3 * four.lineHeight, four.area.width, four.lineHeight};
    // Line mode 1: lines 3 and 4 of the record are not shown.
    EXPECT_TRUE(allPixels(RenderScreen(in), LayoutFor(6).main, shown565(kMainBack)));
    in.info.line_mode = 2;
    const Image img = RenderScreen(in);
    EXPECT_FALSE(allPixels(img, {line4.left, line4.top, four.cellWidth, line4.height}, shown565(kMainBack)));
    EXPECT_TRUE(allPixels(img, {line4.left + four.cellWidth, line4.top, line4.width - four.cellWidth, line4.height},
                          shown565(kMainBack)));
}

TEST(PreviewText, WelcomeLinesScrollLeftAndComeRoundUnlessTheRecordStopsThem)
{
    Input in;
    in.info = blankRecord();
    in.info.wel_mess1 = "*** TFT DISPLAY *** ";
    in.info.wel_mess2 = "**HAVE A NICE DAY AND THANK YOU**" + blanks(27);
    const Layout l = LayoutFor(6);
    const TextGrid footer = FooterTextGrid(l), header = HeaderTextGrid(l);
    // 60 cells wider than the screen: the line comes round after its own width.
    const double footerPeriod = 60.0 * footer.cellWidth / (kScrollCellsPerSecond * footer.cellWidth);
    // 20 cells fill the header exactly.
    const double headerPeriod = 20.0 / kScrollCellsPerSecond;
    const double quarter = 0.25; // one cell at 4 cells a second

    const Image at0 = RenderScreen(in);
    in.atSeconds = quarter;
    const Image later = RenderScreen(in);
    auto movedLeftBy = [&](const PixelRect& area, int dx) {
        for (int y = area.top; y < area.bottom(); ++y)
            for (int x = area.left; x + dx < area.right(); ++x)
                if (!(pixelAt(later, x, y) == pixelAt(at0, x + dx, y)))
                    return false;
        return true;
    };
    EXPECT_TRUE(movedLeftBy(l.footer, footer.cellWidth));
    EXPECT_TRUE(movedLeftBy(l.header, header.cellWidth));
    EXPECT_FALSE(samePixels(at0, later, l.footer));
    // The header line is back where it started after its 20 cells.
    in.atSeconds = headerPeriod;
    EXPECT_TRUE(samePixels(at0, RenderScreen(in), l.header));
    in.atSeconds = footerPeriod;
    EXPECT_TRUE(samePixels(at0, RenderScreen(in), l.footer));

    // Bits 0 and 1 of temp2 stop line 1 and line 2.
    in.atSeconds = quarter;
    in.info.temp2 = 0x04 | 0x02;
    Image img = RenderScreen(in);
    EXPECT_TRUE(samePixels(at0, img, l.footer));
    EXPECT_FALSE(samePixels(at0, img, l.header));
    in.info.temp2 = 0x04 | 0x01;
    img = RenderScreen(in);
    EXPECT_TRUE(samePixels(at0, img, l.header));
    EXPECT_FALSE(samePixels(at0, img, l.footer));
}

TEST(PreviewFonts, NoFontsMeansEmptyGlyphsAndAReasonNotACrash)
{
    // A fontconfig configuration that lists no font folder.
    const std::string conf = ::testing::TempDir() + "tarsel-no-fonts.conf";
    std::ofstream(conf) << "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n";
    const char* before = std::getenv("FONTCONFIG_FILE");
    const std::string saved = before ? before : "";
    setenv("FONTCONFIG_FILE", conf.c_str(), 1);
    FontSet none({"WenQuanYi Micro Hei Mono"});
    if (before)
        setenv("FONTCONFIG_FILE", saved.c_str(), 1);
    else
        unsetenv("FONTCONFIG_FILE");
    std::remove(conf.c_str());

    EXPECT_FALSE(none.ok());
    EXPECT_NE(none.error(), "");
    const auto g = none.glyph(U'A', 40);
    EXPECT_TRUE(g->missing);
    EXPECT_TRUE(g->coverage.empty());
    EXPECT_GT(none.metrics(40).ascent, 0);

    // The installed set has the glyphs of the scripts the code pages carry.
    FontSet& fonts = FontSet::shared();
    ASSERT_TRUE(fonts.ok()) << fonts.error();
    for (char32_t c : {U'A', U'Ж', U'Ω', U'中', U'ア', U'€'})
        EXPECT_FALSE(fonts.glyph(c, 40)->missing) << static_cast<unsigned>(c);
}

} // namespace
} // namespace tarsel::preview::test
