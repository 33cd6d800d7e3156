// Matching benchmark: quality over the labelled evaluation set, and the CPU
// time of one lookup (exact, fuzzy, unknown and a crafted question) on a
// generated bank of 100,000 questions.
//
// kelvora-matching-bench [--bank CSV] [--variants TSV] [--near-misses TSV]
//                        [--failures] [--no-timing] [--questions N]
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <opencc.h>

#include "BankImport.h"
#include "Database.h"
#include "MatchingEvaluation.h"
#include "QuestionBank.h"
#include "Utf8Text.h"

namespace {

using namespace kelvora;

struct ScratchFolder {
    std::string path;
    ScratchFolder()
    {
        char pattern[] = "/tmp/kelvora-matching-XXXXXX";
        if (mkdtemp(pattern))
            path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
};

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void PrintTally(const std::string& name, const test::Tally& tally)
{
    if (name.rfind("near-miss", 0) == 0) {
        std::printf("  %-22s %4zu: %3zu answered, %3zu not answered\n", name.c_str(), tally.total, tally.wrong,
                    tally.missed);
        return;
    }
    std::printf("  %-22s %4zu: %4zu right, %3zu wrong, %3zu not answered\n", name.c_str(), tally.total, tally.right,
                tally.wrong, tally.missed);
}

int RunEvaluation(const std::string& bank, const std::string& variantsPath, const std::string& nearMissesPath,
                  bool showFailures)
{
    ScratchFolder scratch;
    Connection db;
    if (scratch.path.empty() || !db.Open(scratch.path + "/eval.db")) {
        std::cerr << "cannot create a scratch database\n";
        return 1;
    }
    ImportSummary summary = ImportBank(db, ReadBankFile(bank), 1);
    if (!summary.ok) {
        std::cerr << bank << ": " << summary.error << "\n";
        return 1;
    }
    auto variants = test::ReadLabelledQuestions(variantsPath);
    auto nearMisses = test::ReadLabelledQuestions(nearMissesPath);
    if (variants.empty() || nearMisses.empty()) {
        std::cerr << "cannot read " << (variants.empty() ? variantsPath : nearMissesPath) << "\n";
        return 1;
    }
    test::Evaluation result = test::Evaluate(db, variants, nearMisses);
    std::printf("bank %s: %lld questions\n", bank.c_str(), static_cast<long long>(CountQuestions(db)));
    std::printf("typed variants: %zu, recall %.1f %% (%zu right), %zu wrong answers, %zu not answered\n",
                result.variants.total, test::Percent(result.variants.right, result.variants.total),
                result.variants.right, result.variants.wrong, result.variants.missed);
    std::printf("near-misses: %zu, answered %zu (%.1f %%)\n", result.nearMisses.total, result.nearMisses.wrong,
                test::Percent(result.nearMisses.wrong, result.nearMisses.total));
    for (const auto& [form, tally] : result.byForm)
        PrintTally(form, tally);
    if (showFailures) {
        for (const std::string& line : result.failures)
            std::printf("  %s\n", line.c_str());
    }
    return 0;
}

// The bank of service/bench.sh: shared phrasing, content words from about
// 400 common characters and a serial number that keeps the questions apart.
struct GeneratedBank {
    std::string csv = "question,answer\n";
    std::vector<std::string> exact, fuzzy, unknown;
};

GeneratedBank GenerateBank(int count)
{
    static const std::u32string pool =
        U"的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处府研质感商交类准济思领";
    static const char* templates[] = {
        "在%s中，%s与%s之间的关系是什么",         "%s课程里%s对%s有什么影响",    "关于%s，下列说法中%s和%s哪个正确",
        "%s学科中%s的定义与%s有何区别",           "请简述%s领域%s如何作用于%s",  "%s里%s和%s共同遵循的规律是什么",
        "下列关于%s的叙述，%s与%s哪一项是错误的", "%s的%s通常用什么方法来衡量%s"};
    std::mt19937 random(7);
    auto word = [&] {
        int length = 2 + static_cast<int>(random() % 3);
        std::u32string text;
        for (int k = 0; k < length; ++k)
            text.push_back(pool[random() % pool.size()]);
        return EncodeUtf8(text);
    };
    auto format = [](const char* pattern, const std::string& a, const std::string& b, const std::string& c) {
        std::string out;
        const std::string* parts[] = {&a, &b, &c};
        int next = 0;
        for (const char* p = pattern; *p; ++p) {
            if (p[0] == '%' && p[1] == 's') {
                out += *parts[next++];
                ++p;
            } else {
                out += *p;
            }
        }
        return out;
    };
    GeneratedBank bank;
    for (int i = 1; i <= count; ++i) {
        std::string s = word(), a = word(), b = word();
        const char* pattern = templates[random() % std::size(templates)];
        std::string question = format(pattern, s, a, b) + "（第" + std::to_string(i) + "题）";
        bank.csv += question + ",答案" + std::to_string(i) + "\n";
        if (i % 200 == 0) {
            bank.exact.push_back(question);
            bank.fuzzy.push_back(format(pattern, s + " ", a + "了", b) + " （第" + std::to_string(i) + "题）？");
            bank.unknown.push_back(format(pattern, s, b, a) + "（第" + std::to_string(i + count) + "题）");
        }
    }
    return bank;
}

// A question of about 500 characters made of the bank's most common phrases:
// every trigram of it is in thousands of questions.
std::vector<std::string> CraftedQuestions()
{
    static const char* phrases[] = {"之间的关系是什么",
                                    "下列说法中",
                                    "哪个正确",
                                    "有什么影响",
                                    "的定义与",
                                    "有何区别",
                                    "请简述",
                                    "领域",
                                    "如何作用于",
                                    "共同遵循的规律是什么",
                                    "下列关于",
                                    "的叙述",
                                    "哪一项是错误的",
                                    "通常用什么方法来衡量",
                                    "课程里",
                                    "学科中",
                                    "第",
                                    "题"};
    std::vector<std::string> questions;
    for (size_t start = 0; start < std::size(phrases); ++start) {
        std::string question;
        size_t characters = 0;
        for (size_t k = start; characters < 500; ++k) {
            std::string_view phrase = phrases[k % std::size(phrases)];
            question += phrase;
            characters += phrase.size() / 3;
        }
        questions.push_back(question);
    }
    return questions;
}

// The same in traditional characters: each one must be converted.
std::vector<std::string> InTraditionalCharacters(const std::vector<std::string>& questions)
{
    std::vector<std::string> converted;
    try {
        opencc::SimpleConverter toTraditional(OPENCC_DEFAULT_CONFIG_SIMP_TO_TRAD);
        for (const std::string& question : questions)
            converted.push_back(toTraditional.Convert(question));
    } catch (...) {
        converted.clear();
    }
    return converted;
}

double MicrosecondsPerLookup(Connection& db, const std::vector<std::string>& questions, int rounds, size_t& found)
{
    found = 0;
    for (const std::string& question : questions)
        found += FindBestMatch(db, question).found; // warm the cache
    double start = ThreadCpuSeconds();
    for (int round = 0; round < rounds; ++round) {
        for (const std::string& question : questions)
            FindBestMatch(db, question);
    }
    double seconds = ThreadCpuSeconds() - start;
    return seconds * 1e6 / static_cast<double>(rounds * questions.size());
}

int RunTiming(int count)
{
    ScratchFolder scratch;
    Connection db;
    if (scratch.path.empty() || !db.Open(scratch.path + "/timing.db")) {
        std::cerr << "cannot create a scratch database\n";
        return 1;
    }
    GeneratedBank bank = GenerateBank(count);
    ImportSummary summary = ImportBank(db, ReadBankText(bank.csv, BankFormat::Csv), 1);
    if (!summary.ok) {
        std::cerr << "generated bank: " << summary.error << "\n";
        return 1;
    }
    std::printf("CPU time per lookup, generated bank of %d questions (one thread):\n", count);
    std::vector<std::string> traditionalFuzzy = InTraditionalCharacters(bank.fuzzy);
    size_t found = 0;
    double exact = MicrosecondsPerLookup(db, bank.exact, 20, found);
    std::printf("  %-30s %8.1f us            (%zu of %zu found)\n", "exact wording", exact, found, bank.exact.size());
    // Bank questions strung together to about 500 characters: rare trigrams,
    // each leading to a real question.
    std::vector<std::string> strung;
    for (size_t start = 0; start + 20 <= bank.exact.size(); start += 20) {
        std::string question;
        for (size_t k = start; k < start + 20 && question.size() < 1500; ++k)
            question += bank.exact[k];
        strung.push_back(question);
    }
    struct Case {
        const char* name;
        std::vector<std::string> questions;
        int rounds;
    } cases[] = {{"typed variant (fuzzy)", bank.fuzzy, 5},
                 {"typed variant, traditional", traditionalFuzzy, 5},
                 {"unknown question", bank.unknown, 5},
                 {"crafted: common phrases, 500", CraftedQuestions(), 20},
                 {"crafted: the same, traditional", InTraditionalCharacters(CraftedQuestions()), 20},
                 {"crafted: questions strung, 500", strung, 20}};
    for (const Case& item : cases) {
        if (item.questions.empty())
            continue;
        double cost = MicrosecondsPerLookup(db, item.questions, item.rounds, found);
        std::printf("  %-30s %8.1f us %6.1fx exact (%zu of %zu found)\n", item.name, cost, cost / exact, found,
                    item.questions.size());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string bank = KELVORA_DATA_DIR "/bank.csv";
    std::string variants = KELVORA_DATA_DIR "/eval-variants.tsv";
    std::string nearMisses = KELVORA_DATA_DIR "/eval-near-misses.tsv";
    bool failures = false, timing = true;
    int questions = 100000;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--bank" && hasValue)
            bank = argv[++i];
        else if (arg == "--variants" && hasValue)
            variants = argv[++i];
        else if (arg == "--near-misses" && hasValue)
            nearMisses = argv[++i];
        else if (arg == "--questions" && hasValue)
            questions = std::max(1000, std::atoi(argv[++i]));
        else if (arg == "--failures")
            failures = true;
        else if (arg == "--no-timing")
            timing = false;
        else {
            std::cerr << "usage: kelvora-matching-bench [--bank CSV] [--variants TSV] [--near-misses TSV] "
                         "[--failures] [--no-timing] [--questions N]\n";
            return 2;
        }
    }
    int status = RunEvaluation(bank, variants, nearMisses, failures);
    if (status == 0 && timing)
        status = RunTiming(questions);
    return status;
}
