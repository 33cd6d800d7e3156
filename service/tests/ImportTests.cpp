// Importing banks: formats, validation, and importing again.
#include <gtest/gtest.h>

#include "AnswerDisplay.h"
#include "BankImport.h"
#include "Database.h"
#include "QuestionBank.h"
#include "TestSupport.h"

namespace kelvora {
namespace {

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(db.Open(dir.Database("bank.db"))); }

    ImportSummary Import(std::string_view text, BankFormat format = BankFormat::Csv)
    {
        return ImportBank(db, ReadBankText(text, format), 1000);
    }

    std::string AnswerFor(std::string_view question)
    {
        BankMatch match = FindBestMatch(db, question);
        return match.found ? DisplayAnswer(match.entry) : "<none>";
    }

    test::TempDir dir;
    Connection db;
};

TEST_F(ImportTest, SampleBankImportsCleanlyAndTwiceChangesNothing)
{
    ImportSummary first = ImportBank(db, ReadBankFile(KELVORA_SAMPLE_BANK), 1000);
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_GE(first.added, 60);
    EXPECT_EQ(first.skipped, 0) << (first.warnings.empty() ? "" : first.warnings.front());
    ImportSummary second = ImportBank(db, ReadBankFile(KELVORA_SAMPLE_BANK), 2000);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.added, 0);
    EXPECT_EQ(second.updated, 0);
    EXPECT_EQ(second.unchanged, first.added);
    EXPECT_EQ(CountQuestions(db), first.added);
}

TEST_F(ImportTest, ReimportUpdatesTheAnswerOfTheSameNormalisedQuestion)
{
    ASSERT_TRUE(Import("question,answer\n中国的首都是哪座城市？,南京\n").ok);
    ImportSummary summary = Import("question,answer\n中国的首都是哪座城市,北京\n");
    ASSERT_TRUE(summary.ok);
    EXPECT_EQ(summary.updated, 1);
    EXPECT_EQ(CountQuestions(db), 1);
    EXPECT_EQ(AnswerFor("中国的首都是哪座城市？"), "北京");
    // The trigram index follows the update: a fuzzy lookup finds the new wording.
    EXPECT_EQ(FindBestMatch(db, "中国的首都是那座城市").entry.question, "中国的首都是哪座城市");
}

TEST_F(ImportTest, SkipsEntriesTheToolWouldRejectAndSaysWhy)
{
    ImportSummary summary =
        Import("题目,答案\n"
               "好问题一,加微信领取\n"
               "群论的创始人是谁,伽罗瓦\n"
               "答案在题目后,微\n" // the answer's last character and the title's first make no word here
               "空答案,\n"
               ",没有题目\n"
               "好问题二,好答案\n");
    ASSERT_TRUE(summary.ok);
    EXPECT_EQ(summary.added, 2);
    EXPECT_EQ(summary.skipped, 4);
    ASSERT_EQ(summary.warnings.size(), 4u);
    EXPECT_NE(summary.warnings[0].find("line 2"), std::string::npos);
    EXPECT_NE(summary.warnings[0].find("微信"), std::string::npos);
    EXPECT_NE(summary.warnings[1].find("群"), std::string::npos);
}

TEST_F(ImportTest, RejectsAWordAcrossTheJoinOfAnswerAndQuestion)
{
    // The tool searches the answer followed directly by the title.
    ImportSummary summary = Import("question,answer\n信号灯有几种颜色,见微\n");
    EXPECT_EQ(summary.skipped, 1);
}

TEST_F(ImportTest, LaterDuplicateWinsWithAWarning)
{
    ImportSummary summary = Import("question,answer\n一天有多少个小时,23\n一天有多少个小时？,24\n");
    ASSERT_TRUE(summary.ok);
    EXPECT_EQ(summary.added, 1);
    ASSERT_EQ(summary.warnings.size(), 1u);
    EXPECT_EQ(AnswerFor("一天有多少个小时"), "24");
    EXPECT_EQ(Import("question,answer\n一天有多少个小时,23\n一天有多少个小时？,24\n").unchanged, 1);
}

TEST_F(ImportTest, ReadsJsonBanksWithOptionArrays)
{
    ImportSummary summary =
        Import(R"({"questions":[{"题目":"下列哪个是偶数","答案":"B","题型":"单选","选项":["A. 1","B. 2","C. 3"]},)"
               R"({"question":"圆周率的前三位","answer":3.14},"not an object"]})",
               BankFormat::Json);
    ASSERT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.added, 2);
    EXPECT_EQ(summary.skipped, 1);
    EXPECT_EQ(AnswerFor("下列哪个是偶数"), "B. 2");
    EXPECT_EQ(AnswerFor("圆周率的前三位"), "3.14");
}

TEST_F(ImportTest, ChoiceAnswersNameTheirOptions)
{
    ASSERT_TRUE(Import("question,answer,options\n"
                       "哪些是直辖市,\"A, D\",A、北京|B. 广州|C 杭州|D．重庆\n"
                       "字母题,X,A. 一|B. 二\n"
                       "判断题,对,\n")
                    .ok);
    EXPECT_EQ(AnswerFor("哪些是直辖市"), "A. 北京；D. 重庆");
    EXPECT_EQ(AnswerFor("字母题"), "X"); // a letter without an option stays as written
    EXPECT_EQ(AnswerFor("判断题"), "对");
}

TEST_F(ImportTest, BrokenFilesFailWithAReasonAndChangeNothing)
{
    ASSERT_TRUE(Import("question,answer\n水的化学式是什么,H2O\n").ok);
    for (auto [text, format] : {std::pair<std::string_view, BankFormat>{"", BankFormat::Csv},
                                {"name,value\nx,y\n", BankFormat::Csv},
                                {"question,answer\n\"open,x\n", BankFormat::Csv},
                                {"[{\"question\": ", BankFormat::Json},
                                {"{\"question\":\"x\"}", BankFormat::Json}}) {
        ImportSummary summary = Import(text, format);
        EXPECT_FALSE(summary.ok) << text;
        EXPECT_FALSE(summary.error.empty()) << text;
    }
    EXPECT_EQ(CountQuestions(db), 1);
    EXPECT_FALSE(ReadBankFile(dir.Path("missing.csv")).ok);
}

TEST_F(ImportTest, OverlongJsonTextsAreRefusedWhereverTheLimitFalls)
{
    // The limit falls at every place of a character, an escape and an
    // escaped surrogate pair; each entry is refused alone, the file still reads.
    std::string json = "[";
    for (size_t shift = 0; shift < 12; ++shift) {
        json += "{\"question\":\"长" + std::to_string(shift) + "\",\"answer\":\"" +
                std::string(LongestBankRow - shift, 'a') + "题\\u00e9\\ud83d\\ude00\\ud83d\\ude00\"},";
    }
    json += "{\"question\":\"好问题\",\"answer\":\"\\ud83d\\ude00\"}]";
    ImportSummary summary = Import(json, BankFormat::Json);
    ASSERT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.skipped, 12);
    EXPECT_EQ(summary.added, 1);
    ASSERT_FALSE(summary.warnings.empty());
    EXPECT_NE(summary.warnings[0].find("line 1: skipped, a text is longer than 1048576 bytes"), std::string::npos)
        << summary.warnings[0];
    EXPECT_EQ(AnswerFor("好问题"), "\xF0\x9F\x98\x80");
}

TEST_F(ImportTest, OverlongCsvRowsAreSkippedByLine)
{
    // One row too long in bytes (inside quotes, across lines), one with too many fields.
    std::string csv = "question,answer\n好问题一,一\n\"长\n" + std::string(LongestBankRow, 'a') + "\",x\n" + "多字段," +
                      std::string(5000, ',') + "\n好问题二,二\n";
    ImportSummary summary = Import(csv);
    ASSERT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.added, 2);
    EXPECT_EQ(summary.skipped, 2);
    ASSERT_EQ(summary.warnings.size(), 2u);
    EXPECT_NE(summary.warnings[0].find("line 3: skipped, the row is longer than"), std::string::npos);
    EXPECT_NE(summary.warnings[1].find("line 5: skipped"), std::string::npos) << summary.warnings[1];
    EXPECT_EQ(AnswerFor("好问题二"), "二");
}

TEST_F(ImportTest, InvalidUtf8IsSkipped)
{
    ImportSummary summary = Import("question,answer\nbad \xE9\xA2,x\ngood question,y\n");
    ASSERT_TRUE(summary.ok);
    EXPECT_EQ(summary.added, 1);
    EXPECT_EQ(summary.skipped, 1);
}

} // namespace
} // namespace kelvora
