// Decoding what arrives from the network and from bank files.
#include <gtest/gtest.h>

#include "CsvReader.h"
#include "QueryString.h"
#include "QuestionText.h"
#include "Similarity.h"
#include "Utf8Text.h"

namespace kelvora {
namespace {

TEST(Utf8Text, RefusesMalformedSequences)
{
    EXPECT_TRUE(IsValidUtf8("题目 abc"));
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_FALSE(IsValidUtf8("\xE9\xA2"));         // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));         // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xFF"));
    EXPECT_FALSE(IsValidUtf8("a\x80"
                             "b"));
}

TEST(Utf8Text, RoundTripsEveryLength)
{
    std::string text = "a\xC3\xA9\xE9\xA2\x98\xF0\x9F\x98\x80"; // 1, 2, 3 and 4 bytes
    auto decoded = DecodeUtf8(text);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), 4u);
    EXPECT_EQ(EncodeUtf8(*decoded), text);
}

TEST(QuestionText, FoldsWidthCaseSpacesAndPunctuation)
{
    EXPECT_EQ(NormalizeQuestionUtf8("ＤＮＡ的 中文全称 是什么？"), NormalizeQuestionUtf8("dna的中文全称是什么"));
    EXPECT_EQ(NormalizeQuestionUtf8("《红楼梦》的作者是谁?"), NormalizeQuestionUtf8("红楼梦的作者是谁"));
    EXPECT_EQ(NormalizeQuestionUtf8("“床前明月光”，下一句……"), NormalizeQuestionUtf8("床前明月光下一句"));
    EXPECT_EQ(NormalizeQuestionUtf8("计算机中１字节\t等于多少位\r\n"),
              NormalizeQuestionUtf8("计算机中1字节等于多少位"));
    EXPECT_EQ(NormalizeQuestionUtf8("行星是（  ）。"), NormalizeQuestionUtf8("行星是"));
    EXPECT_EQ(EncodeUtf8(NormalizeQuestionUtf8("A. 〇和π")), "a〇和π");
}

TEST(QuestionText, PunctuationOnlyAndInvalidTextNormaliseToNothing)
{
    EXPECT_TRUE(NormalizeQuestionUtf8("  ？！。，、 ").empty());
    EXPECT_TRUE(NormalizeQuestionUtf8("\xE9\xA2").empty());
}

TEST(QuestionText, FindsTheWordsTheToolRejects)
{
    EXPECT_EQ(FindRejectedWord("加群获取答案"), "群");
    EXPECT_EQ(FindRejectedWord("查无此题"), "查无此");
    EXPECT_EQ(FindRejectedWord("秘钥无效"), "秘钥");
    EXPECT_EQ(FindRejectedWord("北京"), "");
    EXPECT_EQ(FindRejectedWord("密钥"), ""); // the template's placeholder is a different word
}

TEST(Similarity, AcceptsAFewTypingMistakesOnly)
{
    std::u32string water = U"水的化学式是什么";
    EXPECT_TRUE(CompareQuestions(water, water).acceptable);
    EXPECT_GT(CompareQuestions(water, water).score, 1.0 - 1e-9);
    EXPECT_TRUE(CompareQuestions(U"水的化学试是什么", water).acceptable); // changed
    EXPECT_TRUE(CompareQuestions(U"水的化学式是什", water).acceptable);   // missing
    EXPECT_FALSE(CompareQuestions(U"日本的首都是哪座城市", U"中国的首都是哪座城市").acceptable);
    EXPECT_FALSE(CompareQuestions(U"光速", U"光年").acceptable); // too short to guess
    EXPECT_FALSE(CompareQuestions(U"世界上最长的河流是哪条", water).acceptable);
    // Longer questions tolerate more: two edits from 16 characters on.
    EXPECT_TRUE(CompareQuestions(U"中国历史上第一个统一的中央集全国家是那个朝代",
                                 U"中国历史上第一个统一的中央集权国家是哪个朝代")
                    .acceptable);
    // Numbers carry the meaning: a different number is a different question.
    EXPECT_FALSE(CompareQuestions(U"一年有13个月是否正确", U"一年有12个月是否正确").acceptable);
    EXPECT_FALSE(CompareQuestions(U"第100200题的内容是什么呢", U"第200题的内容是什么呢").acceptable);
    EXPECT_TRUE(CompareQuestions(U"一年有12个月是否正却", U"一年有12个月是否正确").acceptable);
    // Closer candidates score higher.
    EXPECT_GT(CompareQuestions(U"abcdefgh", U"abcdefgx").score, CompareQuestions(U"abcdefgh", U"abcdefxy").score);
}

TEST(Similarity, MeasuresDistanceAndBigrams)
{
    EXPECT_EQ(EditDistance(U"", U"abc", 5), 3u);
    EXPECT_EQ(EditDistance(U"kitten", U"sitting", 3), 3u);
    EXPECT_EQ(EditDistance(U"sitting", U"kitten", 3), 3u);
    EXPECT_EQ(EditDistance(U"kitten", U"sitting", 2), 3u); // above the limit: limit + 1
    EXPECT_EQ(EditDistance(U"abcdefgh", U"abcdefgh", 0), 0u);
    EXPECT_EQ(EditDistance(U"abcdefgh", U"xbcdefgh", 0), 1u);
    EXPECT_EQ(EditDistance(U"abcdefgh", U"bcdefghx", 2), 2u);
    EXPECT_EQ(EditDistance(U"abcdefgh", U"hgfedcba", 20), 8u);
    EXPECT_DOUBLE_EQ(BigramDice(U"abcd", U"abcd"), 1.0);
    EXPECT_DOUBLE_EQ(BigramDice(U"abcd", U"abxd"), 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(BigramDice(U"a", U"b"), 0.0);
}

TEST(QueryString, DecodesStrictly)
{
    EXPECT_EQ(PercentDecode("%E9%A2%98a+b%2b"), std::optional<std::string>("题a b+"));
    EXPECT_FALSE(PercentDecode("%E9%A"));
    EXPECT_FALSE(PercentDecode("%"));
    EXPECT_FALSE(PercentDecode("%zz"));
    EXPECT_EQ(PercentDecode("%00"), std::optional<std::string>(std::string(1, '\0')));
}

TEST(QueryString, SplitsTargetIntoParameters)
{
    QueryParams query = ParseQuery("/api/answer?q=%61%20%31&k=123.abc&&empty=&flag#frag");
    ASSERT_TRUE(query.ok);
    EXPECT_EQ(query.values["q"], "a 1");
    EXPECT_EQ(query.values["k"], "123.abc");
    EXPECT_EQ(query.values["empty"], "");
    EXPECT_EQ(query.values.count("flag"), 1u);

    EXPECT_FALSE(ParseQuery("/get_cha_url.php?t=%E9%A2%9").ok);
    EXPECT_TRUE(ParseQuery("/healthz").ok);
}

TEST(CsvReader, ReadsQuotedFieldsAndLineEnds)
{
    CsvTable table = ReadCsv("question,answer\r\n\"a, \"\"b\"\"\",\"line1\nline2\"\r\n\r\nplain,x\n");
    ASSERT_TRUE(table.ok) << table.error;
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[1].fields[0], "a, \"b\"");
    EXPECT_EQ(table.rows[1].fields[1], "line1\nline2");
    EXPECT_EQ(table.rows[2].fields[0], "plain");
    EXPECT_EQ(table.rows[2].line, 5u); // blank line skipped, numbering kept
}

TEST(CsvReader, TabsSeparateWhenTheHeaderHasNoCommas)
{
    CsvTable table = ReadCsv("题目\t答案\n中国的首都,是哪里\t北京\n");
    ASSERT_TRUE(table.ok);
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(table.rows[1].fields[0], "中国的首都,是哪里");
}

TEST(CsvReader, ReportsAnUnclosedQuote)
{
    CsvTable table = ReadCsv("question,answer\n\"never closed,x\n");
    EXPECT_FALSE(table.ok);
    EXPECT_NE(table.error.find("line 2"), std::string::npos);
}

} // namespace
} // namespace kelvora
