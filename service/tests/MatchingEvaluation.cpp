#include "MatchingEvaluation.h"

#include <fstream>

#include "QuestionBank.h"
#include "QuestionText.h"

namespace kelvora::test {

std::vector<LabelledQuestion> ReadLabelledQuestions(const std::string& path)
{
    std::vector<LabelledQuestion> rows;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        size_t first = line.find('\t');
        if (first == std::string::npos)
            continue;
        size_t second = line.find('\t', first + 1);
        LabelledQuestion row;
        row.line = number;
        row.typed = line.substr(0, first);
        row.bankQuestion = line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        if (second != std::string::npos)
            row.label = line.substr(second + 1);
        if (rows.empty() && row.typed == "typed")
            continue; // a header row
        rows.push_back(std::move(row));
    }
    return rows;
}

Evaluation Evaluate(Connection& db, const std::vector<LabelledQuestion>& variants,
                    const std::vector<LabelledQuestion>& nearMisses)
{
    Evaluation result;
    for (const LabelledQuestion& variant : variants) {
        BankMatch match = FindBestMatch(db, variant.typed);
        Tally& form = result.byForm[variant.label];
        ++result.variants.total, ++form.total;
        if (match.found && match.entry.question == variant.bankQuestion) {
            ++result.variants.right, ++form.right;
        } else if (match.found) {
            ++result.variants.wrong, ++form.wrong;
            result.failures.push_back("variant " + variant.label + " WRONG: " + variant.typed + " -> " +
                                      match.entry.question + " (expected " + variant.bankQuestion + ")");
        } else {
            ++result.variants.missed, ++form.missed;
            result.failures.push_back("variant " + variant.label + " missed: " + variant.typed + " (expected " +
                                      variant.bankQuestion + ")");
        }
    }
    for (const LabelledQuestion& nearMiss : nearMisses) {
        BankMatch match = FindBestMatch(db, nearMiss.typed);
        Tally& kind = result.byForm["near-miss " + nearMiss.label];
        ++result.nearMisses.total, ++kind.total;
        bool itself =
            match.found && NormalizeQuestionUtf8(match.entry.question) == NormalizeQuestionUtf8(nearMiss.typed);
        if (match.found && !itself) {
            ++result.nearMisses.wrong, ++kind.wrong;
            result.failures.push_back("near-miss " + nearMiss.label + " ANSWERED: " + nearMiss.typed + " -> " +
                                      match.entry.question);
        } else {
            ++result.nearMisses.missed, ++kind.missed;
        }
    }
    return result;
}

double Percent(size_t part, size_t whole)
{
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

} // namespace kelvora::test
