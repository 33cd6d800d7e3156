// Matching quality: questions as students type them against the sample bank.
#include <gtest/gtest.h>

#include "BankCopy.h"
#include "BankImport.h"
#include "BuiltinData.h"
#include "ChineseScript.h"
#include "ContrastList.h"
#include "Database.h"
#include "MatchingEvaluation.h"
#include "QuestionBank.h"
#include "QuestionText.h"
#include "TestSupport.h"
#include "Utf8Text.h"

namespace kelvora {
namespace {

using test::TypedVariant;

// Held out: none of these wordings is in the bank. Missing or different
// punctuation, full-width characters, extra or missing spaces, a changed,
// missing or extra character.
constexpr TypedVariant Variants[] = {
    {"中国的首都是哪座城市", "中国的首都是哪座城市？"},
    {"水的化学式是什么 ?", "水的化学式是什么？"},
    {"一年有多少个月", "一年有多少个月？"},
    {"太阳系中离太阳最近的行星是", "太阳系中离太阳最近的行星是（  ）。"},
    {"地球上面积最大的大洋是哪个?", "地球上面积最大的大洋是哪个？"},
    {"红楼梦的作者是谁", "《红楼梦》的作者是谁？"},
    {"世界上最高的山峰是哪作？", "世界上最高的山峰是哪座？"},
    {"人体最大的器管是什么", "人体最大的器官是什么？"},
    {"长江是中国最长的河流", "长江是中国最长的河流。"},
    {"床前明月光的下一句是什么", "“床前明月光”的下一句是什么？"},
    {"一个标准大气压下 水的沸点是多少摄氏度", "一个标准大气压下，水的沸点是多少摄氏度？"},
    {"下列哪一项是可再生能源", "下列哪一项是可再生能源？"},
    {"中华人民共和国成立于那一年", "中华人民共和国成立于哪一年？"},
    {"ＤＮＡ的中文全称是什么", "DNA的中文全称是什么？"},
    {"植物进行光合作用主要需要哪种气体？？", "植物进行光合作用主要需要哪种气体？"},
    {"论语是记录哪位思想家言行的著作", "《论语》是记录哪位思想家言行的著作？"},
    {"秦始皇统一六国是在公元前哪一年", "秦始皇统一六国是在公元前哪一年？"},
    {"计算机中１字节等于多少位", "计算机中1字节等于多少位？"},
    {"世界上人口最多的大州是哪个", "世界上人口最多的大洲是哪个？"},
    {"四大发明包括造纸术 印刷术 火药和什么", "四大发明包括造纸术、印刷术、火药和什么？"},
    {"月球绕地球公转一周大约需要多少天", "月球绕地球公转一周大约需要多少天？"},
    {"  我国第一部诗歌总集是什么  ", "我国第一部诗歌总集是什么？"},
    {"下列属于哺乳动物的是", "下列属于哺乳动物的是（ ）"},
    {"http协议默认使用的端口号是多少", "HTTP协议默认使用的端口号是多少？"},
    {"牛顿第一定律又称为什么定理", "牛顿第一定律又称为什么定律？"},
    {"中国历史上第一个统一的中央集权国家是哪个朝代", "中国历史上第一个统一的中央集权国家是哪个朝代？"},
    {"声音在空气中的传播速度约为每秒多少米", "声音在空气中的传播速度约为每秒多少米？"},
    {"人体血液中负责运输氧气的是哪种细胞", "人体血液中负责运输氧气的是哪种细胞？"},
    {"中国古代丝绸之路的起点城市是那里", "中国古代“丝绸之路”的起点城市是哪里？"},
    {"下列哪些是中国的直辖市", "下列哪些是中国的直辖市？"},
    {"二进制数 1010 转换成十进制是多少", "二进制数1010转换成十进制是多少？"},
    {"西游记的作者是谁", "《西游记》的作者是谁？"},
    {"被誉为诗圣的唐代诗人是谁", "被誉为“诗圣”的唐代诗人是谁？"},
    {"被誉为“诗仙”的唐朝诗人是谁", "被誉为“诗仙”的唐代诗人是谁？"},
    {"细胞中进行有氧呼吸的主要场所是什么", "细胞中进行有氧呼吸的主要场所是什么？"},
    {"人生自古谁无死的下一句是什么", "“人生自古谁无死”的下一句是什么？"},
    {"黄河发源于哪个省", "黄河发源于哪个省份？"},
    {"ｐｙｔｈｏｎ中用于输出内容的函数是什么", "Python中用于输出内容的函数是什么？"},
    {"光年", "光年？"},
    {"万里长城东起于哪个关囗", "万里长城东起于哪个关口？"},
};

// Not in the bank: nothing may be offered for these.
constexpr const char* Unknown[] = {
    "澳大利亚的国宝动物是什么",
    "如何计算圆锥的体积",
    "化学反应速率受哪些因素影响",
    "量子力学的创始人有哪些",
    "秋天的树叶为什么会变黄",
    "甲",
    "hello world",
    "中国的国花是什么",
    // One word away from a bank question: another question, not a typo.
    "日本的首都是哪座城市",
    "一年有多少个星期",
    "世界上最高的建筑是哪座",
    "世界上最长的山脉是哪条",
    "光速",
};

class MatchingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::ImportSampleBank(dir.Database("bank.db")));
        ASSERT_TRUE(db.Open(dir.Database("bank.db")));
    }
    test::TempDir dir;
    Connection db;
};

TEST_F(MatchingTest, TypedVariantsFindTheirQuestion)
{
    int right = 0;
    for (const TypedVariant& variant : Variants) {
        BankMatch match = FindBestMatch(db, variant.typed);
        if (match.found && match.entry.question == variant.bankQuestion) {
            ++right;
            continue;
        }
        // A miss is tolerated; a different question is never acceptable.
        EXPECT_FALSE(match.found) << variant.typed << " matched " << match.entry.question << " (score " << match.score
                                  << ")";
        std::cout << "[ info     ] not matched: " << variant.typed << "\n";
    }
    std::cout << "[ info     ] matched " << right << " of " << std::size(Variants) << " typed variants\n";
    EXPECT_EQ(std::size(Variants), 40u);
    EXPECT_GE(right, 40);
}

TEST_F(MatchingTest, UnknownQuestionsMatchNothing)
{
    for (const char* question : Unknown) {
        BankMatch match = FindBestMatch(db, question);
        EXPECT_FALSE(match.found) << question << " matched " << match.entry.question << " (score " << match.score
                                  << ")";
    }
}

TEST_F(MatchingTest, ExactWordingScoresOneAndEmptyTextFindsNothing)
{
    BankMatch match = FindBestMatch(db, "钢琴有多少个琴键？");
    ASSERT_TRUE(match.found);
    EXPECT_EQ(match.score, 1.0);
    EXPECT_EQ(match.entry.answer, "88个");
    EXPECT_FALSE(FindBestMatch(db, "").found);
    EXPECT_FALSE(FindBestMatch(db, "？？ 。").found);
    EXPECT_FALSE(FindBestMatch(db, "\xE9\xA2").found);
}

TEST_F(MatchingTest, NearQuestionsPickTheCloserOne)
{
    // 诗圣 and 诗仙 differ in one character: each wording finds its own.
    EXPECT_EQ(FindBestMatch(db, "被誉为诗仙的唐代诗人是").entry.answer, "李白");
    EXPECT_EQ(FindBestMatch(db, "被誉为诗圣的唐代诗人是").entry.answer, "杜甫");
}

TEST(NumberedBank, TypedVariantsFindTheQuestionWithTheirNumber)
{
    // Many questions alike but for their numbers and a few words.
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("numbers.db")));
    const char* topics[] = {"函数", "细胞", "王朝", "电流", "诗词", "市场", "恒星"};
    std::string csv = "question,answer\n";
    for (int i = 1; i <= 700; ++i) {
        csv += "关于" + std::string(topics[i % 7]) + "的第" + std::to_string(i) +
               "个命题，下列说法正确的是哪一项,答案" + std::to_string(i) + "\n";
    }
    ASSERT_TRUE(ImportBank(db, ReadBankText(csv, BankFormat::Csv), 1).ok);

    EXPECT_EQ(FindBestMatch(db, "关于细胞的第120个命题 下列说法正确的是哪一项？").entry.answer, "答案120");
    EXPECT_EQ(FindBestMatch(db, "关于细胞的第120个命题，下列说法正确的是那一项").entry.answer, "答案120");
    EXPECT_EQ(FindBestMatch(db, "关于函数的第7个命题，下列说法正确的是那一项").entry.answer, "答案7");
    EXPECT_EQ(FindBestMatch(db, "关于市场的第355个命题，下列说话正确的是哪一项").entry.answer, "答案355");
    // The right words with a number that is not in the bank, or another question's number.
    EXPECT_FALSE(FindBestMatch(db, "关于细胞的第1200个命题，下列说法正确的是哪一项").found);
    EXPECT_FALSE(FindBestMatch(db, "关于细胞的第12个命题，下列说法正确的是那一项").found);
}

TEST_F(MatchingTest, ShortQuestionsAreComparedDirectly)
{
    // A wrong middle character leaves no trigram of a five-character question intact.
    EXPECT_EQ(FindBestMatch(db, "地球得形状").entry.question, "地球的形状？");
    EXPECT_EQ(FindBestMatch(db, "光年?").entry.question, "光年？");
    EXPECT_FALSE(FindBestMatch(db, "光速").found); // below five characters only the exact form counts
}

// Each form below is typed as exam pages and students write it; every
// wording must find its own bank question.
void ExpectFinds(Connection& db, std::initializer_list<TypedVariant> variants)
{
    for (const TypedVariant& variant : variants) {
        BankMatch match = FindBestMatch(db, variant.typed);
        EXPECT_TRUE(match.found && match.entry.question == variant.bankQuestion)
            << variant.typed << " matched " << (match.found ? match.entry.question : "nothing");
    }
}

// Opens a new database and imports the CSV text into it.
bool OpenWithCsvBank(Connection& db, const std::string& location, const std::string& csv)
{
    return db.Open(location) && ImportBank(db, ReadBankText(csv, BankFormat::Csv), 1).ok;
}

void ExpectNothing(Connection& db, std::initializer_list<const char*> questions)
{
    for (const char* question : questions) {
        BankMatch match = FindBestMatch(db, question);
        EXPECT_FALSE(match.found) << question << " matched " << match.entry.question;
    }
}

TEST_F(MatchingTest, TypeAndScoreMarkersAreTakenOff)
{
    ExpectFinds(db, {
                        {"（单选题）太阳系中离太阳最近的行星是（  ）。", "太阳系中离太阳最近的行星是（  ）。"},
                        {"【多选题】下列哪些是中国的直辖市？", "下列哪些是中国的直辖市？"},
                        {"[判断题]长江是中国最长的河流。", "长江是中国最长的河流。"},
                        {"单选题：下列哪一项是可再生能源？", "下列哪一项是可再生能源？"},
                        {"水的化学式是什么？(2分)", "水的化学式是什么？"},
                        {"一年有多少个月？【填空题】", "一年有多少个月？"},
                        {"【单选题】（2.5分）下列属于哺乳动物的是（ ）", "下列属于哺乳动物的是（ ）"},
                        {"(单选题, 3分) 电流的国际单位是什么", "电流的国际单位是什么？"},
                        {"判断题 长江是中国最长的河流", "长江是中国最长的河流。"},
                    });
    // A bracket that is not a marker stays part of the question.
    EXPECT_EQ(NormalizeQuestionUtf8("(细胞)的主要场所"), NormalizeQuestionUtf8("细胞的主要场所"));
    EXPECT_EQ(EncodeUtf8(NormalizeQuestionUtf8("【单选题】")), "单选题"); // never the whole text
}

TEST_F(MatchingTest, BlanksInAnyFormFindTheQuestion)
{
    ExpectFinds(db, {
                        {"太阳系中离太阳最近的行星是（　）", "太阳系中离太阳最近的行星是（  ）。"},
                        {"太阳系中离太阳最近的行星是( )", "太阳系中离太阳最近的行星是（  ）。"},
                        {"太阳系中离太阳最近的行星是____", "太阳系中离太阳最近的行星是（  ）。"},
                        {"太阳系中离太阳最近的行星是", "太阳系中离太阳最近的行星是（  ）。"},
                        // A blank where the bank asks with a question word.
                        {"我国第一部诗歌总集是____", "我国第一部诗歌总集是什么？"},
                        {"一个标准大气压下，水的沸点是（ ）摄氏度", "一个标准大气压下，水的沸点是多少摄氏度？"},
                        {"中华人民共和国成立于____年", "中华人民共和国成立于哪一年？"},
                        {"钢琴有（　）个琴键", "钢琴有多少个琴键？"},
                        {"五四运动发生在（ ）年", "五四运动发生在哪一年？"},
                    });
    ExpectNothing(db, {"甲午战争结束于（ ）年", "钢琴有（ ）个黑键", "我国第一部诗歌总集叫（ ）"});
}

TEST_F(MatchingTest, QuestionsCutShortFindTheOneTheyBegin)
{
    ExpectFinds(db, {
                        {"月球绕地球公转一周大约需要", "月球绕地球公转一周大约需要多少天？"},
                        {"人体血液中负责运输氧气的是", "人体血液中负责运输氧气的是哪种细胞？"},
                        {"绿色植物的叶片呈绿色是因为含", "绿色植物的叶片呈绿色是因为含有什么？"},
                        {"中国历史上第一个统一的中央集权国家是哪个", "中国历史上第一个统一的中央集权国家是哪个朝代？"},
                    });
    // Too short a beginning, one that more than one question begins with, or
    // one that ends in another word.
    ExpectNothing(db, {"地球自转", "植物进行光合作", "中国历史上第一个", "唐朝的都城是哪座山"});
}

TEST(BlankBank, ABlankMayStandForACharacterMore)
{
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(
        OpenWithCsvBank(db, dir.Database("blank.db"), "question,answer\n紫色石蕊溶液遇酸变成什么颜色？,红色\n"));
    EXPECT_EQ(FindBestMatch(db, "紫色石蕊溶液遇酸变成（ ）色").entry.answer, "红色");
    EXPECT_FALSE(FindBestMatch(db, "紫色石蕊溶液遇碱变成（ ）色").found);
    EXPECT_FALSE(FindBestMatch(db, "紫色石蕊溶液遇酸变成色").found); // without a blank, a character is missing
}

TEST(CutShortBank, ABeginningSharedByTwoQuestionsFindsNeither)
{
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(OpenWithCsvBank(
        db, dir.Database("prefix.db"),
        "question,answer\n等比数列的通项公式是什么？,an=a1*q^(n-1)\n等比数列的通项公式如何推导？,错位相减\n"
        "电解水时，正极产生的气体是什么？,氧气\n电解水时，负极产生的气体是什么？,氢气\n"));
    EXPECT_FALSE(FindBestMatch(db, "等比数列的通项公式").found);
    EXPECT_EQ(FindBestMatch(db, "等比数列的通项公式是").entry.answer, "an=a1*q^(n-1)");
    EXPECT_EQ(FindBestMatch(db, "电解水时负极产生的气体是").entry.answer, "氢气");
    EXPECT_EQ(FindBestMatch(db, "电解水时，正极产生的").entry.answer, "氧气");
}

TEST_F(MatchingTest, TrailingOptionsAreSeparatedFromTheQuestion)
{
    ExpectFinds(
        db,
        {
            {"太阳系中离太阳最近的行星是（ ） A. 金星 B. 水星 C. 地球 D. 火星", "太阳系中离太阳最近的行星是（  ）。"},
            {"太阳系中离太阳最近的行星是（ ）\nA、金星\nB、水星\nC、地球\nD、火星",
             "太阳系中离太阳最近的行星是（  ）。"},
            {"太阳系中离太阳最近的行星是 A.火星 B.地球 C.水星 D.金星", "太阳系中离太阳最近的行星是（  ）。"},
            {"下列属于哺乳动物的是（ ） A鲸 B鲨鱼 C企鹅 D鳄鱼", "下列属于哺乳动物的是（ ）"},
            {"下列哪一项是可再生能源？ Ａ．煤炭 Ｂ．石油 Ｃ．太阳能 Ｄ．天然气", "下列哪一项是可再生能源？"},
            {"长江是中国最长的河流。 A. 正确 B. 错误", "长江是中国最长的河流。"},
        });
    NormalizedQuestion typed = NormalizeQuestionParts("下列哪些是中国的直辖市？A. 北京 B、上海 C:广州 D) 重庆（2分）");
    EXPECT_EQ(EncodeUtf8(typed.stem), "下列哪些是中国的直辖市");
    ASSERT_EQ(typed.options.size(), 4u);
    EXPECT_EQ(EncodeUtf8(typed.options[0]), "北京");
    EXPECT_EQ(EncodeUtf8(typed.options[3]), "重庆");
    // Letters inside the question are not options.
    EXPECT_TRUE(NormalizeQuestionParts("维生素A、维生素B和维生素C都属于哪类物质").options.empty());
    EXPECT_TRUE(NormalizeQuestionParts("DNA和RNA的区别是什么 A B").options.empty());
    EXPECT_TRUE(NormalizeQuestionParts("如图所示 A 点和 B 点之间的距离是多少").options.empty());
    NormalizedQuestion unmarked = NormalizeQuestionParts("下列属于哺乳动物的是 A鲸 B鲨鱼 C企鹅");
    ASSERT_EQ(unmarked.options.size(), 3u);
    EXPECT_EQ(EncodeUtf8(unmarked.options[0]), "鲸");
    EXPECT_EQ(EncodeUtf8(unmarked.options[2]), "企鹅");
}

TEST_F(MatchingTest, NumberingInFrontIsTakenOff)
{
    ExpectFinds(db, {
                        {"1. 中国的首都是哪座城市？", "中国的首都是哪座城市？"},
                        {"3、一年有多少个月", "一年有多少个月？"},
                        {"第3题 水的化学式是什么", "水的化学式是什么？"},
                        {"第十二题：地球上面积最大的大洋是哪个", "地球上面积最大的大洋是哪个？"},
                        {"(2) 人体最大的器官是什么", "人体最大的器官是什么？"},
                        {"12) 【单选题】下列属于哺乳动物的是（ ）", "下列属于哺乳动物的是（ ）"},
                    });
    // A number that begins the question is part of it.
    EXPECT_EQ(EncodeUtf8(NormalizeQuestionUtf8("3.14是圆周率的近似值吗")), "3.14是圆周率的近似值吗");
    EXPECT_EQ(EncodeUtf8(NormalizeQuestionUtf8("1949年成立的是什么")), "1949年成立的是什么");
}

TEST_F(MatchingTest, TraditionalCharactersFindTheSimplifiedQuestion)
{
    ASSERT_TRUE(SimplifiedConversionAvailable());
    ExpectFinds(db, {
                        {"中國的首都是哪座城市？", "中国的首都是哪座城市？"},
                        {"《紅樓夢》的作者是誰？", "《红楼梦》的作者是谁？"},
                        {"人體最大的器官是什麼", "人体最大的器官是什么？"},
                        {"【單選題】太陽系中離太陽最近的行星是（ ）", "太阳系中离太阳最近的行星是（  ）。"},
                        {"萬里長城東起於哪個關口", "万里长城东起于哪个关口？"},
                    });
    EXPECT_FALSE(HasTraditionalCharacters(U"中国的首都是哪座城市"));
    EXPECT_TRUE(HasTraditionalCharacters(U"中國"));
}

TEST_F(MatchingTest, MeaningChangingSubstitutionsAreNotAnswered)
{
    ExpectNothing(db, {
                          // Opposites.
                          "地球上面积最小的大洋是哪个？",
                          "世界上人口最少的大洲是哪个？",
                          "世界上最短的河流是哪条？",
                          "“人生自古谁无死”的上一句是什么？",
                          "万里长城西起于哪个关口？",
                          // A negation added or taken away.
                          "长江不是中国最长的河流。",
                          "下列哪一项不是可再生能源？",
                          "下列属于非哺乳动物的是（ ）",
                          // Another name of the same kind: country, dynasty, person, number.
                          "法国的首都是哪座城市？",
                          "被誉为“诗圣”的宋代诗人是谁？",
                          "宋朝的都城是哪座城市？",
                          "秦始皇统一七国是在公元前哪一年？",
                          "一天有多少个分钟？",
                      });
    // The typos next to them still find their questions.
    ExpectFinds(db, {
                        {"地球上面积最大的大洋是那个", "地球上面积最大的大洋是哪个？"},
                        {"下列哪一项是可再生能原", "下列哪一项是可再生能源？"},
                        {"被誉为诗圣的唐代诗人是谁啊", "被誉为“诗圣”的唐代诗人是谁？"},
                    });
}

TEST(TwinBank, ATypoInTheWordThatTellsTwoQuestionsApartFindsNeither)
{
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(OpenWithCsvBank(db, dir.Database("twins.db"),
                                "question,answer\n中国最大的淡水湖是哪个？,鄱阳湖\n中国最大的咸水湖是哪个？,青海湖\n"
                                "河北省的省会是哪座城市？,石家庄\n河南省的省会是哪座城市？,郑州\n"));
    // As close to either twin: a guess would be wrong half the time.
    ExpectNothing(db,
                  {"中国最大的水湖是哪个", "中国最大的谈水湖是哪个", "河省的省会是哪座城市", "河明省的省会是哪座城市"});
    ExpectFinds(db, {
                        {"中国最大的淡水湖是那个", "中国最大的淡水湖是哪个？"},
                        {"河南省的省会是哪做城市", "河南省的省会是哪座城市？"},
                    });
}

TEST(TwinBank, TypedOptionsSettleWhatTheWordsCannot)
{
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(OpenWithCsvBank(db, dir.Database("options.db"),
                                "question,answer,type,options\n"
                                "中国最大的淡水湖是（ ）,A,单选,A. 鄱阳湖|B. 洞庭湖|C. 太湖|D. 洪泽湖\n"
                                "中国最大的咸水湖是（ ）,A,单选,A. 青海湖|B. 纳木错|C. 色林错|D. 羊卓雍错\n"));
    ExpectFinds(db, {
                        {"中国最大的水湖是（ ） A. 青海湖 B. 纳木错 C. 色林错 D. 羊卓雍错", "中国最大的咸水湖是（ ）"},
                        {"中国最大的水湖是 A、太湖 B、鄱阳湖 C、洪泽湖 D、洞庭湖", "中国最大的淡水湖是（ ）"},
                        {"【单选题】中国最大的谈水湖是（ ）A.洞庭湖 B.鄱阳湖", "中国最大的淡水湖是（ ）"},
                    });
    // Without options, with options of neither, or of both.
    ExpectNothing(
        db, {"中国最大的水湖是（ ）", "中国最大的水湖是 A. 太平洋 B. 大西洋", "中国最大的水湖是 A. 青海湖 B. 鄱阳湖"});
}

TEST(ContrastListTest, ReadsPairsNegationsAndClasses)
{
    std::vector<std::string> warnings;
    ContrastList list = ContrastList::Parse(
        "# comment\n\npair: 最大 最小\nnegation: 不\nnegation: 没有  # trailing comment\n"
        "class dynasty: 秦 汉 唐 宋\nclass country: 中國 日本\npair: 孤单\nnonsense\nweird: 甲 乙\n",
        &warnings);
    EXPECT_EQ(list.GroupCount(), 5u);
    EXPECT_EQ(warnings.size(), 3u);
    // Pairs and classes: one member for another.
    EXPECT_TRUE(list.ChangesMeaning(U"面积最小的是", U"面积最大的是"));
    EXPECT_TRUE(list.ChangesMeaning(U"宋代诗人", U"唐代诗人"));
    EXPECT_TRUE(list.ChangesMeaning(U"中国的首都", U"日本的首都")); // listed in traditional script
    // Negations: added or taken away.
    EXPECT_TRUE(list.ChangesMeaning(U"下列说法不正确的是", U"下列说法正确的是"));
    EXPECT_TRUE(list.ChangesMeaning(U"他有钱", U"他没有钱"));
    // Typos, a member lost without another gained, the same words on both sides.
    EXPECT_FALSE(list.ChangesMeaning(U"面积最大的是那个", U"面积最大的是哪个"));
    EXPECT_FALSE(list.ChangesMeaning(U"唐朝诗人", U"唐代诗人"));
    EXPECT_FALSE(list.ChangesMeaning(U"不同的最大值", U"不同的最大直"));
    EXPECT_FALSE(list.ChangesMeaning(U"一样", U"一样"));
    EXPECT_EQ(ContrastList::Parse("").WordCount(), 0u);
}

TEST(ContrastListTest, TheBuiltInListIsReadWithoutWarnings)
{
    std::vector<std::string> warnings;
    ContrastList list = ContrastList::Parse(BuiltinContrasts(), &warnings);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_GT(list.GroupCount(), 100u);
}

TEST(FormulaBank, QuestionsThatDifferInASignAreDifferentQuestions)
{
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("formula.db")));
    std::string csv = "question,answer\n方程2x+3=7的解是（ ）,x=2\n方程2x-3=7的解是（ ）,x=5\n"
                      "月球绕地球一周约27.3天，对吗,对\n";
    ImportSummary summary = ImportBank(db, ReadBankText(csv, BankFormat::Csv), 1);
    ASSERT_TRUE(summary.ok);
    EXPECT_EQ(summary.added, 3); // once stored as one question, the later replacing the earlier
    EXPECT_EQ(FindBestMatch(db, "方程2x + 3 = 7的解是____").entry.answer, "x=2");
    EXPECT_EQ(FindBestMatch(db, "方程２ｘ－３＝７的解是").entry.answer, "x=5");
    EXPECT_FALSE(FindBestMatch(db, "方程2x*3=7的解是").found);
    EXPECT_FALSE(FindBestMatch(db, "方程-2x+3=7的解是").found);
    EXPECT_FALSE(FindBestMatch(db, "月球绕地球一周约273天，对吗").found);
}

TEST(NormalFormUpdate, QuestionsStoredByAnEarlierVersionAreFoundAgain)
{
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("old.db")));
    // Rows as an earlier version stored them: the marker in the normal form,
    // and two questions that now read alike.
    ASSERT_TRUE(db.Exec("INSERT INTO questions(question, norm, norm_length, answer, updated_at) VALUES "
                        "('（单选题）水的化学式是什么？', '单选题水的化学式是什么', 11, 'H2O', 1),"
                        "('水的化学式是什麼', '水的化学式是什麼', 8, 'old', 1),"
                        "('1. 水的化学式是什么', '1水的化学式是什么', 9, 'newer', 2),"
                        "('地球的形状？', '地球的形状', 5, '近似球体', 1)"));
    ASSERT_TRUE(RefreshTrigramCounts(db));
    ASSERT_TRUE(UpdateNormalForms(db));
    EXPECT_EQ(CountQuestions(db), 4); // the older of two alike is kept, not deleted
    BankMatch match = FindBestMatch(db, "水的化学式是什么");
    EXPECT_TRUE(match.found);
    EXPECT_EQ(match.score, 1.0);
    EXPECT_EQ(match.entry.answer, "newer");
    EXPECT_EQ(FindBestMatch(db, "地球得形状").entry.answer, "近似球体"); // the trigram counts were refreshed
    // Done once: a second run changes nothing, and importing again adds nothing.
    ASSERT_TRUE(UpdateNormalForms(db));
    std::string csv = "question,answer\n1. 水的化学式是什么,newer\n";
    ImportSummary summary = ImportBank(db, ReadBankText(csv, BankFormat::Csv), 3);
    EXPECT_EQ(summary.unchanged, 1);
    EXPECT_EQ(CountQuestions(db), 4);
}

// The labelled evaluation set (service/data): typed variants of the bank's
// questions in every form above, and near-misses that must find nothing.
TEST(EvaluationSet, MeetsTheMatchingGoals)
{
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(db.Open(dir.Database("eval.db")));
    ImportSummary summary = ImportBank(db, ReadBankFile(KELVORA_DATA_DIR "/bank.csv"), 1);
    ASSERT_TRUE(summary.ok) << summary.error;
    EXPECT_GE(CountQuestions(db), 300);
    auto variants = test::ReadLabelledQuestions(KELVORA_DATA_DIR "/eval-variants.tsv");
    auto nearMisses = test::ReadLabelledQuestions(KELVORA_DATA_DIR "/eval-near-misses.tsv");
    ASSERT_GE(variants.size(), 400u);
    ASSERT_GE(nearMisses.size(), 150u);
    test::Evaluation result = test::Evaluate(db, variants, nearMisses);
    for (const std::string& failure : result.failures)
        std::cout << "[ info     ] " << failure << "\n";
    std::cout << "[ info     ] recall " << test::Percent(result.variants.right, result.variants.total) << " %, "
              << result.variants.wrong << " wrong, near-misses answered " << result.nearMisses.wrong << " of "
              << result.nearMisses.total << "\n";
    EXPECT_GE(test::Percent(result.variants.right, result.variants.total), 97.0);
    EXPECT_EQ(result.variants.wrong, 0u);
    EXPECT_LE(test::Percent(result.nearMisses.wrong, result.nearMisses.total), 1.0);
}

// A server on PostgreSQL matches on a copy of the bank in its memory: it must
// answer every typed question exactly as the SQLite trigram index does,
// including the misses and the questions it declines.
TEST(BankCopy, MatchesWhatTheDatabaseIndexMatches)
{
    if (test::OnPostgres())
        GTEST_SKIP() << "compares with SQLite's trigram index";
    test::TempDir dir;
    Connection db;
    ASSERT_TRUE(db.Open(dir.Path("eval.db")));
    ASSERT_TRUE(ImportBank(db, ReadBankFile(KELVORA_DATA_DIR "/bank.csv"), 1).ok);
    ASSERT_TRUE(test::ImportSampleBank(dir.Path("eval.db")));
    BankCopy copy;
    std::string error;
    ASSERT_TRUE(copy.Load(db, error)) << error;
    EXPECT_EQ(static_cast<int64_t>(copy.Size()), CountQuestions(db));
    std::vector<std::string> typed;
    for (const auto& item : test::ReadLabelledQuestions(KELVORA_DATA_DIR "/eval-variants.tsv"))
        typed.push_back(item.typed);
    for (const auto& item : test::ReadLabelledQuestions(KELVORA_DATA_DIR "/eval-near-misses.tsv"))
        typed.push_back(item.typed);
    for (const TypedVariant& variant : Variants)
        typed.push_back(variant.typed);
    for (const char* unknown : Unknown)
        typed.push_back(unknown);
    size_t found = 0;
    for (const std::string& question : typed) {
        BankMatch fromIndex = FindBestMatch(db, question);
        BankMatch fromCopy = FindBestMatch(copy, question);
        EXPECT_EQ(fromCopy.found, fromIndex.found) << question;
        EXPECT_EQ(fromCopy.entry.question, fromIndex.entry.question) << question;
        EXPECT_EQ(fromCopy.entry.answer, fromIndex.entry.answer) << question;
        EXPECT_EQ(fromCopy.score, fromIndex.score) << question;
        found += fromIndex.found;
    }
    EXPECT_GT(found, typed.size() / 2);
}

TEST_F(MatchingTest, VeryLongQuestionsAreHandled)
{
    std::string question;
    for (int i = 0; i < 300; ++i)
        question += "水的化学式是什么";
    EXPECT_FALSE(FindBestMatch(db, question).found);
}

} // namespace
} // namespace kelvora
