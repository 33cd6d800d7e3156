#include <gtest/gtest.h>

#include "text/TextOps.h"

namespace {

// 答案 in code page 936: B4 F0 B0 B8.
const std::string Answer = "\xB4\xF0\xB0\xB8";
// "#引号" in code page 936.
const std::string QuoteMarker = "#\xD2\xFD\xBA\xC5";

} // namespace

TEST(FindText, StepsOverTwoByteCharacters)
{
    EXPECT_EQ(3, FindText(Answer, "\xB0\xB8"));
    EXPECT_EQ(1, FindText(Answer, "\xB4\xF0"));
    // F0 B0 only exists across the two characters.
    EXPECT_EQ(-1, FindText(Answer, "\xF0\xB0"));
    // A second byte in the ASCII range is not a character of its own: 中 is D6 D0,
    // 丂 is 81 40 ("@" as its second byte).
    EXPECT_EQ(-1, FindText("\x81\x40", "@"));
    EXPECT_EQ(4, FindText("\x81\x40x@", "@"));
}

TEST(FindText, LeadByteBeforeTheEndStopsTheSearch)
{
    // The search would only fit after a dangling lead byte.
    EXPECT_EQ(-1, FindText("ab\xB4", "\xB4"
                                     "c"));
    EXPECT_EQ(3, FindText("ab\xB4", "\xB4"));
    EXPECT_EQ(-1, FindText("a\xB4", "z"));
    // A zero byte ends the text like a terminator.
    EXPECT_EQ(-1, FindText(std::string("a\xB4\0z", 4), "z"));
}

TEST(FindText, StartPositionsAndBounds)
{
    EXPECT_EQ(1, FindText("abcabc", "abc"));
    EXPECT_EQ(4, FindText("abcabc", "abc", 2));
    EXPECT_EQ(1, FindText("abcabc", "abc", 0));
    EXPECT_EQ(1, FindText("abcabc", "abc", -5));
    EXPECT_EQ(-1, FindText("abcabc", "abc", 5));
    EXPECT_EQ(-1, FindText("abc", "a", 4));
    EXPECT_EQ(-1, FindText("abc", "abcd"));
    EXPECT_EQ(-1, FindText("", "a"));
    EXPECT_EQ(-1, FindText("ABC", "abc"));
    EXPECT_EQ(-1, FindText("abc", "a", INT32_MAX));
}

TEST(ReplaceText, ReplacesLeftToRightWithoutRescanning)
{
    EXPECT_EQ("aa", ReplaceText("aaaa", "aa", "a"));
    EXPECT_EQ("xbxb", ReplaceText("abab", "a", "x"));
    EXPECT_EQ("a--b", ReplaceText("a,b", ",", "--"));
    EXPECT_EQ("ab", ReplaceText("a,b,", ",", ""));
    EXPECT_EQ("abc", ReplaceText("abc", "", "x"));
    EXPECT_EQ("", ReplaceText("", "a", "x"));
    EXPECT_EQ("a,b,", ReplaceText("a,toJSONString,b,", "toJSONString,", ""));
}

TEST(ReplaceText, NeverMatchesInsideACharacter)
{
    // B4 F0 B0 B8: replacing F0 B0 must leave both characters alone.
    EXPECT_EQ(Answer, ReplaceText(Answer, "\xF0\xB0", "x"));
    EXPECT_EQ("\xB4\xF0x", ReplaceText(Answer, "\xB0\xB8", "x"));
    EXPECT_EQ("\x81\x40", ReplaceText("\x81\x40", "@", "x"));
    // A dangling lead byte at the end is copied as it is.
    EXPECT_EQ("x\xB4", ReplaceText("a\xB4", "a", "x"));
}

TEST(MidText, CutsByBytes)
{
    EXPECT_EQ("bc", MidText("abcd", 2, 2));
    EXPECT_EQ("cd", MidText("abcd", 3, 100));
    EXPECT_EQ("", MidText("abcd", 5, 1));
    EXPECT_EQ("", MidText("abcd", 0, 2));
    EXPECT_EQ("", MidText("abcd", 1, 0));
    EXPECT_EQ("", MidText("abcd", 1, -1));
    EXPECT_EQ("", MidText("abcd", INT32_MIN, 2));
    EXPECT_EQ("abcd", MidText("abcd", 1, INT32_MAX));
}

TEST(CompareText, OrdersUnsignedBytes)
{
    EXPECT_EQ(0, CompareText("", ""));
    EXPECT_EQ(0, CompareText(std::string_view(), ""));
    EXPECT_EQ(0, CompareText("abc", "abc"));
    EXPECT_EQ(-1, CompareText("abc", "abd"));
    EXPECT_EQ(1, CompareText("abd", "abc"));
    EXPECT_EQ(-1, CompareText("ab", "abc"));
    EXPECT_EQ(1, CompareText("a", ""));
    // High-bit bytes sort after ASCII.
    EXPECT_EQ(1, CompareText(Answer, "z"));
    EXPECT_EQ(0, CompareText(std::string("a\0b", 3), "a"));
}

namespace {

// The text between a page's first body tags.
std::string BodyOf(const std::string& page)
{
    return TextBetween(page, "<body>", "</body>");
}

} // namespace

TEST(TextBetween, FirstLeftThenFirstRightAfterIt)
{
    EXPECT_EQ("abc", BodyOf("<html><body>abc</body></html>"));
    EXPECT_EQ("a", BodyOf("<body>a</body><body>b</body>"));
    // A right delimiter before the left one is ignored.
    EXPECT_EQ("x", BodyOf("</body><body>x</body>"));
    EXPECT_EQ("", BodyOf("</body><body>x"));
    EXPECT_EQ("", BodyOf("<body></body>"));
    EXPECT_EQ("", BodyOf("<body>abc"));
    EXPECT_EQ("", BodyOf("abc</body>"));
    EXPECT_EQ("", BodyOf(""));
    EXPECT_EQ(Answer, BodyOf("<body>" + Answer + "</body>"));
}

TEST(TextBetween, DelimitersAreCaseSensitive)
{
    EXPECT_EQ("", BodyOf("<BODY>abc</BODY>"));
    EXPECT_EQ("", BodyOf("<body>abc</BODY>"));
}

TEST(TextBetween, MarkerStandsForADoubleQuote)
{
    const std::string text = R"(<input name="key" value="k123">)";
    EXPECT_EQ("k123", TextBetween(text, "value=" + QuoteMarker, QuoteMarker));
    EXPECT_EQ("key", TextBetween(text, "name=" + QuoteMarker, QuoteMarker + " "));
    // The marker's own bytes in the text are not a quote.
    EXPECT_EQ("", TextBetween("value=" + QuoteMarker + "v" + QuoteMarker, "value=\"", "\""));
}

TEST(TextBefore, CutsBeforeTheDelimiter)
{
    EXPECT_EQ("list", TextBefore("list[2]", "["));
    EXPECT_EQ("a.b", TextBefore("a.b[1].c[2]", "["));
    EXPECT_EQ("", TextBefore("list", "["));
    EXPECT_EQ("a[1]", TextBefore("a[1][2]", "[", 3));
    EXPECT_EQ("x", TextBefore("x[", "[", -3));
    EXPECT_EQ("", TextBefore("abc", "B"));
    EXPECT_EQ("a", TextBefore("abc", "B", 1, true));
    // Case folding leaves the second byte of a character alone: 81 41 and
    // 81 61 are different characters although 41 is "A" and 61 is "a".
    EXPECT_EQ("", TextBefore("x\x81\x41", "\x81\x61", 1, true));
    EXPECT_EQ("x", TextBefore("x\x81\x41", "\x81\x41", 1, true));
}
