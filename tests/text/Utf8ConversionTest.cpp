#include <gtest/gtest.h>

#include "text/PercentEncode.h"
#include "text/Utf8Conversion.h"
#include "text/UrlEncode.h"

namespace {

ByteBuffer Bytes(std::string_view text)
{
    return ByteBuffer(text.begin(), text.end());
}

// 题 in code page 936 and in UTF-8.
const std::string TiGbk = "\xCC\xE2";
const std::string TiUtf8 = "\xE9\xA2\x98";

} // namespace

TEST(UrlEncode, EncodesEveryUtf8Byte)
{
    EXPECT_EQ("", UrlEncode(""));
    EXPECT_EQ("%61%20%31", UrlEncode("a 1"));
    EXPECT_EQ("%E9%A2%98", UrlEncode(TiGbk));
    EXPECT_EQ("%0A", UrlEncode("\n"));
    EXPECT_EQ("%2D%2E%5F%7E%2B%25", UrlEncode("-._~+%"));
    // 答案 (B4 F0 B0 B8) is E7 AD 94 E6 A1 88 in UTF-8.
    EXPECT_EQ("%E7%AD%94%E6%A1%88", UrlEncode("\xB4\xF0\xB0\xB8"));
}

TEST(UrlEncode, BrokenCodePage936StillEncodes)
{
    // A lone lead byte at the end, and bytes that lead no character: the
    // good characters around them survive and the result stays well formed.
    const AnsiText loneLead = UrlEncode("a\x81");
    EXPECT_EQ(0u, loneLead.find("%61")) << loneLead;
    const AnsiText badBytes = UrlEncode("\xFF\xFFz");
    EXPECT_EQ(badBytes.size() - 3, badBytes.rfind("%7A")) << badBytes;
    for (const AnsiText& encoded : {loneLead, badBytes}) {
        EXPECT_GT(encoded.size(), 3u) << encoded;
        EXPECT_EQ(0u, encoded.size() % 3) << encoded;
        EXPECT_EQ(std::string::npos, encoded.find_first_not_of("%0123456789ABCDEF")) << encoded;
    }
}

TEST(UrlEncode, PercentEncodesAnyByte)
{
    EXPECT_EQ("%00%0F%10%7F%80%FF", PercentEncodeBytes(std::string("\0\x0F\x10\x7F\x80\xFF", 6)));
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    const std::string encoded = PercentEncodeBytes(all);
    ASSERT_EQ(768u, encoded.size());
    EXPECT_EQ(std::string::npos, encoded.find_first_not_of("%0123456789ABCDEF"));
}

TEST(AnsiToUtf8, ConvertsThroughUtf16)
{
    EXPECT_EQ("", AnsiToUtf8(""));
    EXPECT_EQ("plain ascii", AnsiToUtf8("plain ascii"));
    EXPECT_EQ(TiUtf8, AnsiToUtf8(TiGbk));

    const ByteBuffer utf16 = AnsiToUtf16(TiGbk, CodePageGbk);
    ASSERT_EQ(4u, utf16.size());
    EXPECT_EQ(0x98, utf16[0]); // U+9898, then the terminating zero unit
    EXPECT_EQ(0x98, utf16[1]);
    EXPECT_EQ(0, utf16[2]);
    EXPECT_EQ(0, utf16[3]);
    EXPECT_EQ(TiGbk, Utf16ToMultiByte(utf16, CodePageGbk));
    EXPECT_EQ(2u, AnsiToUtf16("", CodePageGbk).size());
}

TEST(AnsiToUtf8, LongTextOfThreeByteCharactersComesBackWhole)
{
    // 1000 characters of 2 bytes each need 3000 bytes of UTF-8.
    std::string gbk, expected;
    for (int i = 0; i < 1000; ++i) {
        gbk += TiGbk;
        expected += TiUtf8;
    }
    const std::string utf8 = AnsiToUtf8(gbk);
    EXPECT_EQ(expected.size(), utf8.size());
    EXPECT_EQ(expected, utf8);
    EXPECT_EQ(gbk, Utf8ToAnsi(Bytes(utf8)));
}

TEST(Utf8ToAnsi, ConvertsReplyBodies)
{
    EXPECT_EQ("", Utf8ToAnsi({}));
    EXPECT_EQ("{\"answer\":\"B\"}", Utf8ToAnsi(Bytes("{\"answer\":\"B\"}")));
    EXPECT_EQ("\xB4\xF0\xB0\xB8", Utf8ToAnsi(Bytes("\xE7\xAD\x94\xE6\xA1\x88")));
}

TEST(Utf8ToAnsi, CutsAtTheFirstZeroByte)
{
    EXPECT_EQ("ab", Utf8ToAnsi(Bytes(std::string("ab\0cd", 5))));
    EXPECT_EQ("", Utf8ToAnsi(Bytes(std::string("\0cd", 3))));
}

TEST(Utf8ToAnsi, InvalidInputBecomesDefaultCharacters)
{
    // A lone continuation byte and a truncated sequence: the text around
    // them survives and the conversion goes on to the end.
    const AnsiText lone = Utf8ToAnsi(Bytes("a\x80z"));
    ASSERT_GE(lone.size(), 3u);
    EXPECT_EQ('a', lone.front());
    EXPECT_EQ('z', lone.back());
    const AnsiText truncated = Utf8ToAnsi(Bytes("ok\xE7\xAD"));
    ASSERT_GE(truncated.size(), 3u);
    EXPECT_EQ("ok", truncated.substr(0, 2));
    // A character code page 936 lacks (U+1F600) becomes a default character.
    const AnsiText emoji = Utf8ToAnsi(Bytes("x\xF0\x9F\x98\x80y"));
    ASSERT_GE(emoji.size(), 3u);
    EXPECT_EQ('x', emoji.front());
    EXPECT_EQ('y', emoji.back());
    EXPECT_EQ(std::string::npos, emoji.find('\0'));
}
