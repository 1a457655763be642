#include "util/bits.h"
#include "util/hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace tarsel;

TEST(HexToUInt, ReadsDigitsOfEitherCaseAndWrapsPast32Bits)
{
    EXPECT_EQ(HexToUInt(""), 0u);
    EXPECT_EQ(HexToUInt("0"), 0u);
    EXPECT_EQ(HexToUInt("aBcD"), 0xABCDu);
    EXPECT_EQ(HexToUInt("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(HexToUInt("123456789"), 0x23456789u); // the leading digit falls off
    EXPECT_EQ(HexToUInt("100000000"), 0u);
}

TEST(HexToUInt, RejectsAnyOtherCharacterWithTheSystemMessage)
{
    for (const char* bad : {"0G", " 1", "1 ", "-1", "0x10", "$10", "1.0"}) {
        try {
            HexToUInt(bad);
            ADD_FAILURE() << "no error for \"" << bad << "\"";
        } catch (const HexError& e) {
            EXPECT_STREQ(e.what(), "Error: not a Hex String") << bad;
        }
    }
    EXPECT_THROW(HexToUInt(std::string("1\0" "2", 3)), HexError);
}

TEST(HexToBytes, SplitsIntoPairsFromTheStart)
{
    struct Case { const char* text; Bytes bytes; };
    const std::vector<Case> cases = {
        {"", {}},
        {"7", bytesOf({0x07})},
        {"0B2021", bytesOf({0x0B, 0x20, 0x21})},
        {"ABC", bytesOf({0xAB, 0x0C})},
        {"ff00", bytesOf({0xFF, 0x00})},
        {"00000", bytesOf({0x00, 0x00, 0x00})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexToBytes(c.text), c.bytes) << c.text;
    EXPECT_THROW(HexToBytes("0G"), HexError);
    EXPECT_THROW(HexToBytes("0102Z"), HexError);
}

TEST(FrameHex, WritesUpperCasePairsWithoutSeparator)
{
    EXPECT_EQ(FrameHex({}), "");
    EXPECT_EQ(FrameHex(bytesOf({0x00, 0xFF})), "00FF");
    EXPECT_EQ(FrameHex(bytesOf({0x02, 0x0A, 0xab, 0x80})), "020AAB80");
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    EXPECT_EQ(HexToBytes(FrameHex(all)), all);
}

TEST(HexToInt, ReadsA32BitNumberAndRejectsTheRest)
{
    EXPECT_EQ(HexToInt("1C200"), 115200);
    EXPECT_EQ(HexToInt("ff"), 255);
    EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
    EXPECT_EQ(HexToInt("80000000"), INT32_MIN);
    EXPECT_EQ(HexToInt("000000000001"), 1);
    for (const char* bad : {"", "100000000", "12G", " 12", "-1"})
        EXPECT_THROW(HexToInt(bad), ConvertError) << bad;
}

TEST(IntToHexDigits, PadsToTheMinimumButNeverCuts)
{
    struct Case { std::uint32_t value; int min; const char* text; };
    const std::vector<Case> cases = {
        {255, 3, "0FF"}, {0, 0, "0"}, {0, 2, "00"}, {0x1234, 2, "1234"},
        {0x1234, 12, "00001234"}, {0xDEADBEEF, 0, "DEADBEEF"}, {10, -5, "A"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IntToHexDigits(c.value, c.min), c.text) << c.value << "/" << c.min;
}

TEST(IntToHexBytes, GivesBigEndianBytesThroughHexToBytes)
{
    struct Case { std::int32_t value; int n; const char* text; };
    const std::vector<Case> cases = {
        {115200, 4, "0001C200"}, {3, 2, "0003"}, {500, 1, "1F4"}, {0, 1, "00"},
        {255, 1, "FF"}, {256, 1, "100"}, {-1, 1, "FFFFFFFF"}, {-2, 2, "FFFFFFFE"},
        {-1, 6, "0000FFFFFFFF"}, {0x7FFFFFFF, 4, "7FFFFFFF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IntToHexBytes(c.value, c.n), c.text) << c.value << "/" << c.n;
    EXPECT_EQ(HexToBytes(IntToHexBytes(115200, 4)), bytesOf({0x00, 0x01, 0xC2, 0x00}));
    // An odd digit count is split from the start, as the display expects it.
    EXPECT_EQ(HexToBytes(IntToHexBytes(500, 1)), bytesOf({0x1F, 0x04}));
}

TEST(Bits, FlagsAreNumberedFromTheLeastSignificantBit)
{
    EXPECT_TRUE(IntToBool(-1));
    EXPECT_TRUE(IntToBool(INT32_MIN));
    EXPECT_FALSE(IntToBool(0));

    std::uint8_t flags = 0x00;
    SetBit(flags, 4, true);
    EXPECT_EQ(flags, 0x08);
    EXPECT_EQ(BitIsSet(0x08, 4), 1);
    EXPECT_EQ(BitIsSet(0x08, 3), 0);
    EXPECT_EQ(BitIsSet(0x80, 8), 1);
    EXPECT_EQ(BitIsSet(0x01, 1), 1);

    flags = 0xFF;
    SetBit(flags, 1, false);
    EXPECT_EQ(flags, 0xFE);
    SetBit(flags, 8, false);
    EXPECT_EQ(flags, 0x7E);
    SetBit(flags, 8, true);
    EXPECT_EQ(flags, 0xFE);
    SetBit(flags, 0, false); // out of range: untouched
    SetBit(flags, 9, false);
    EXPECT_EQ(flags, 0xFE);
    EXPECT_EQ(BitIsSet(0xFF, 0), 0);
    EXPECT_EQ(BitIsSet(0xFF, 9), 0);
}

TEST(Colors, Rgb565DropsAndRestoresTheLowBits)
{
    struct Case { Color color; std::uint16_t rgb; };
    const std::vector<Case> cases = {
        {0x0000FF, 0xF800}, {0x00FF00, 0x07E0}, {0xFF0000, 0x001F}, {0xFFFFFF, 0xFFFF},
        {0x000000, 0x0000}, {0x070307, 0x0000}, {0x102030, 0x3102},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ColorToRGB565(c.color), c.rgb) << std::hex << c.color;
    EXPECT_EQ(ColorToRGB565(0xAB0000FF), 0xF800) << "the top byte is ignored";
    EXPECT_EQ(RGB565ToColor(0xF800), 0x0000F8u);
    EXPECT_EQ(RGB565ToColor(0x07E0), 0x00FC00u);
    EXPECT_EQ(RGB565ToColor(0x001F), 0xF80000u);
    EXPECT_EQ(RGB565ToColor(0xFFFF), 0xF8FCF8u);
    for (int v = 0; v <= 0xFFFF; v += 7)
        EXPECT_EQ(ColorToRGB565(RGB565ToColor(static_cast<std::uint16_t>(v))), v);
}
