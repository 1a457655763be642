#include "util/text.h"

#include <gtest/gtest.h>

using namespace tarsel;

TEST(TextHelpers, RemoveCharDropsEveryOccurrence)
{
    EXPECT_EQ(RemoveChar(u"KT-710-II", u'-'), u"KT710II");
    EXPECT_EQ(RemoveChar(u"---", u'-'), u"");
    EXPECT_EQ(RemoveChar(u"ABC", u'-'), u"ABC");
}

TEST(TextHelpers, PadRightFillsToWidthAndNeverCuts)
{
    EXPECT_EQ(PadRight(u"AB", 5, u' '), u"AB   ");
    const Text long25(25, u'x');
    EXPECT_EQ(PadRight(long25, 20, u' '), long25);
    EXPECT_EQ(PadRight(u"AB", 2, u'.'), u"AB");
    EXPECT_EQ(PadRight(u"AB", -1, u'.'), u"AB");
    EXPECT_EQ(PadRight(u"\u4E2D", 3, u'0'), u"\u4E2D00");

    EXPECT_EQ(PadRightBytes(bytesOf({1, 2}), 5, '\0'), bytesOf({1, 2, 0, 0, 0}));
    EXPECT_EQ(PadRightBytes(Bytes(300, 'a'), 256, '\0').size(), 300u);
    EXPECT_EQ(PadRightBytes({}, 3, '\xFF'), bytesOf({0xFF, 0xFF, 0xFF}));
}

TEST(TextHelpers, PrependCharsAddsCountCopiesWhateverTheLength)
{
    EXPECT_EQ(PrependChars(u"AB", 3, u' '), u"   AB");
    EXPECT_EQ(PrependChars(u"AB", 0, u' '), u"AB");
    EXPECT_EQ(PrependChars(u"AB", -2, u' '), u"AB");
    EXPECT_EQ(PrependChars(Text(40, u'y'), 1, u'0').size(), 41u);
}

TEST(TextHelpers, VarDefaultReplacesMissingEmptyAndBlankValues)
{
    EXPECT_EQ(VarDefault(std::optional<Text>{}, u"0"), u"0");
    EXPECT_EQ(VarDefault(std::optional<Text>{u""}, u"0"), u"0");
    EXPECT_EQ(VarDefault(Text(u"   "), u"0"), u"0");
    EXPECT_EQ(VarDefault(Text(u" \t"), u"0"), u"0");
    EXPECT_EQ(VarDefault(Text(u" 9600 "), u"0"), u" 9600 ");
    EXPECT_EQ(VarDefault(std::optional<Text>{u"9600"}, u"0"), u"9600");
    EXPECT_EQ(VarDefault(Text(u"\u3000"), u"0"), u"\u3000") << "only blanks up to U+0020 count";
    EXPECT_EQ(VarDefault(std::string("  "), std::string("0")), "0");
    EXPECT_EQ(VarDefault(std::string("\xC2\xA0"), std::string("0")), "\xC2\xA0");
}

TEST(TextHelpers, IndexOfTextComparesByteForByte)
{
    const std::vector<Bytes> list = {"KT310II", "KT710II", Bytes("A\0B", 3), "kt710ii", "KT710II"};
    EXPECT_EQ(IndexOfText(list, "KT710II"), 1);
    EXPECT_EQ(IndexOfText(list, "kt710ii"), 3);
    EXPECT_EQ(IndexOfText(list, Bytes("A\0B", 3)), 2);
    EXPECT_EQ(IndexOfText(list, "A"), -1);
    EXPECT_EQ(IndexOfText(list, "KT710II "), -1);
    EXPECT_EQ(IndexOfText({}, ""), -1);
}

TEST(TextHelpers, PlainDisplayTextEndsAtZeroAndShowsControlBytesAsQuestionMarks)
{
    struct Case {
        Bytes in;
        Bytes out;
    };
    const Case cases[] = {
        {"", ""},
        {"Welcome", "Welcome"},
        {Bytes("A\0\x02\x07\x15''", 7), "A"},          // factory reset after the 00
        {Bytes("A\0\x02\x07\x05\0", 6), "A"},         // format after the 00
        {Bytes("\0tail", 5), ""},
        {"\x01\x02\x0A\x0D\x1B\x1F", "??????"},
        {"\x20\x7F\x80\xFF", "\x20\x7F\x80\xFF"},        // blank, DEL and code page bytes stay
        {"\xB0\xA1\xC4\xE3", "\xB0\xA1\xC4\xE3"},        // double-byte characters stay
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlainDisplayText(c.in), c.out) << c.in;
        EXPECT_TRUE(IsPlainDisplayText(PlainDisplayText(c.in)));
        EXPECT_EQ(IsPlainDisplayText(c.in), c.in == c.out) << c.in;
    }
    // Every control byte but 00 keeps its place: columns do not move.
    Bytes all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const Bytes plain = PlainDisplayText(all);
    ASSERT_EQ(plain.size(), all.size());
    EXPECT_EQ(plain.substr(0, 31), Bytes(31, '?'));
    EXPECT_EQ(plain.substr(31), all.substr(31));
}
