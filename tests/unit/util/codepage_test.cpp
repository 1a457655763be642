#include "util/codepage.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace tarsel;

TEST(CodePage, EmptyTextAndEmptyBytesKeepTheirQuirks)
{
    EXPECT_EQ(WideToCodePage(u"", 437), Bytes(1, '\0'));
    EXPECT_EQ(WideToCodePage(u"", 936), Bytes(1, '\0'));
    EXPECT_EQ(CodePageToWide({}, 866), Text(1, u'\0'));
    EXPECT_EQ(WideToHost(u""), Bytes());
    EXPECT_EQ(HostToWide({}), Text());
}

TEST(CodePage, KnownTextsConvertToTheirBytes)
{
    struct Case { int cp; Text text; Bytes bytes; };
    const std::vector<Case> cases = {
        {437, u"A\u00E9\u2592", bytesOf({0x41, 0x82, 0xB1})},
        {850, u"\u00C7\u00FC", bytesOf({0x80, 0x81})},
        {858, u"\u20AC", bytesOf({0xD5})},
        {866, u"\u041F\u0440\u0438\u0432\u0435\u0442", bytesOf({0x8F, 0xE0, 0xA8, 0xA2, 0xA5, 0xE2})},
        {1251, u"\u0416", bytesOf({0xC6})},
        {28597, u"\u0391\u03C9", bytesOf({0xC1, 0xF9})},
        {1253, u"\u0391", bytesOf({0xC1})},
        {936, u"\u4E2D\u6587", bytesOf({0xD6, 0xD0, 0xCE, 0xC4})},
        {950, u"\u4E2D", bytesOf({0xA4, 0xA4})},
        {932, u"\u65E5\u672C", bytesOf({0x93, 0xFA, 0x96, 0x7B})},
        {1252, u"\u20AC\u00FF", bytesOf({0x80, 0xFF})},
        {874, u"\u0E01", bytesOf({0xA1})},
        {1250, u"\u0141", bytesOf({0xA3})},
        {1255, u"\u05D0", bytesOf({0xE0})},
        {1256, u"\u0627", bytesOf({0xC7})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WideToCodePage(c.text, c.cp), c.bytes) << "cp " << c.cp;
        EXPECT_EQ(CodePageToWide(c.bytes, c.cp), c.text) << "cp " << c.cp;
    }
}

TEST(CodePage, EveryCodePageOfTheSelectorHasAConverter)
{
    for (int cp : {437, 737, 850, 852, 857, 858, 860, 863, 864, 865, 866, 874, 932, 936, 950, 1250, 1251,
                   1252, 1253, 1254, 1255, 1256, 1257, 1258, 28597}) {
        EXPECT_TRUE(IsKnownCodePage(cp)) << cp;
        // "A?" proves the converter opened; a missing one would fall back silently.
        EXPECT_EQ(WideToCodePage(u"A?z", cp), "A?z") << cp;
        EXPECT_EQ(CodePageToWide("Az", cp), u"Az") << cp;
    }
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarksAndConversionGoesOn)
{
    EXPECT_EQ(WideToCodePage(u"A\u4E2DB", 437), "A?B");
    EXPECT_EQ(WideToCodePage(u"\u0416\u0416x", 28597), "??x");
    EXPECT_EQ(WideToCodePage(u"a\U0001F600b", 936), "a?b") << "a surrogate pair is one character";
    EXPECT_EQ(WideToCodePage(u"a\xD800" u"b", 866), "a?b") << "an unpaired surrogate";
    EXPECT_EQ(WideToCodePage(u"\u4E2D", 1252), "?");
    EXPECT_EQ(WideToCodePage(Text(5000, u'\u4E2D') + u"!", 437), Bytes(5000, '?') + "!");
}

TEST(CodePage, InvalidBytesBecomeReplacementCharactersAndConversionGoesOn)
{
    // 0x80 is not a lead byte in Shift-JIS-like 932 at all; FF is invalid in GBK.
    EXPECT_EQ(CodePageToWide(bytesOf({'a', 0xFF, 'b'}), 936), u"a\uFFFDb");
    // A lead byte cut off by the end of the input.
    EXPECT_EQ(CodePageToWide(bytesOf({'a', 0xD6}), 936), u"a\uFFFD");
    // Undefined in ISO-8859-7.
    EXPECT_EQ(CodePageToWide(bytesOf({0xAE, 'x'}), 28597), u"\uFFFDx");
}

TEST(CodePage, UnknownNumbersConvertAsWindows1252)
{
    EXPECT_FALSE(IsKnownCodePage(12345));
    EXPECT_EQ(WideToCodePage(u"\u20AC\u00E9", 12345), bytesOf({0x80, 0xE9}));
    EXPECT_EQ(CodePageToWide(bytesOf({0x80, 0xE9}), 0), u"\u20AC\u00E9");
}

TEST(CodePage, RoundTripsThroughGreekCyrillicAndChinese)
{
    const Text greek = u"\u039A\u03B1\u03BB\u03B7\u03BC\u03AD\u03C1\u03B1";
    const Text cyrillic = u"\u0414\u043E\u0431\u0440\u044B\u0439 \u0434\u0435\u043D\u044C";
    const Text chinese = u"\u6B22\u8FCE\u5149\u4E34";
    EXPECT_EQ(CodePageToWide(WideToCodePage(greek, 28597), 28597), greek);
    EXPECT_EQ(CodePageToWide(WideToCodePage(cyrillic, 866), 866), cyrillic);
    EXPECT_EQ(CodePageToWide(WideToCodePage(chinese, 936), 936), chinese);
    EXPECT_EQ(WideToCodePage(chinese, 936).size(), 8u);
}

TEST(HostCodePage, AllBytesRoundTrip)
{
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    const Text text = HostToWide(all);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(WideToHost(text), all);
    EXPECT_EQ(text[0x80], u'\u20AC');
    EXPECT_EQ(text[0x81], u'\u0081');
    EXPECT_EQ(text[0x8D], u'\u008D');
    EXPECT_EQ(text[0x8F], u'\u008F');
    EXPECT_EQ(text[0x90], u'\u0090');
    EXPECT_EQ(text[0x9D], u'\u009D');
    EXPECT_EQ(text[0x9F], u'\u0178');
    EXPECT_EQ(text[0xE9], u'\u00E9');
    // The same table serves code page 1252, so the display sees the same bytes.
    EXPECT_EQ(CodePageToWide(all, 1252), text);
    EXPECT_EQ(WideToCodePage(text, 1252), all);
    EXPECT_EQ(WideToHost(u"\u4E2D\u0080x"), "??x");
}

TEST(Utf, Utf8AndUtf16ConvertBothWays)
{
    const Text text = u"A\u00E9\u4E2D\U0001F600";
    const std::string utf8 = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";
    EXPECT_EQ(Utf16ToUtf8(text), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), text);
    EXPECT_EQ(Utf16ToUtf8(u"a\xDC00"), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD") << "overlong form";
    EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD\uFFFD") << "cut off";
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD") << "encoded surrogate";
}

TEST(CodePage, ConversionsAreSafeFromSeveralThreads)
{
    const Text chinese = u"\u6B22\u8FCE\u5149\u4E34";
    const Bytes expected = WideToCodePage(chinese, 936);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i)
                if (WideToCodePage(chinese, 936) != expected || CodePageToWide(expected, 936) != chinese)
                    ++failures[t];
        });
    for (auto& th : threads)
        th.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);
}
