#include "Similarity.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "QuestionText.h"

namespace kelvora {

namespace {

std::vector<uint64_t> SortedBigrams(std::u32string_view text)
{
    std::vector<uint64_t> grams;
    if (text.size() == 1) {
        grams.push_back(text[0]);
        return grams;
    }
    grams.reserve(text.size());
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        grams.push_back((static_cast<uint64_t>(text[i]) << 32) | text[i + 1]);
    }
    std::sort(grams.begin(), grams.end());
    return grams;
}

bool IsLatinLetter(char32_t c)
{
    return c >= 'a' && c <= 'z';
}

bool HoldsChinese(std::u32string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char32_t c) { return c >= 0x2E80; });
}

// The numbers (with their decimal points), formula signs and, in a Chinese
// question, Latin words in a text, in order: questions that differ in a
// number, a sign, a variable or an English word asked about (go, do; letter
// A, letter B) are different questions, however close the rest.
std::vector<std::u32string_view> NumbersIn(std::u32string_view text, bool latinWords)
{
    std::vector<std::u32string_view> numbers;
    size_t i = 0;
    while (i < text.size()) {
        if (IsFormulaSign(text[i])) {
            numbers.push_back(text.substr(i++, 1));
            continue;
        }
        if (latinWords && IsLatinLetter(text[i])) {
            size_t start = i;
            while (i < text.size() && IsLatinLetter(text[i]))
                ++i;
            numbers.push_back(text.substr(start, i - start));
            continue;
        }
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && (IsDigit(text[i]) || (text[i] == '.' && i + 1 < text.size() && IsDigit(text[i + 1]))))
            ++i;
        numbers.push_back(text.substr(start, i - start));
    }
    return numbers;
}

} // namespace

double BigramDice(std::u32string_view a, std::u32string_view b)
{
    if (a.empty() || b.empty())
        return a.empty() && b.empty() ? 1.0 : 0.0;
    std::vector<uint64_t> ga = SortedBigrams(a);
    std::vector<uint64_t> gb = SortedBigrams(b);
    size_t common = 0;
    for (size_t i = 0, j = 0; i < ga.size() && j < gb.size();) {
        if (ga[i] == gb[j]) {
            ++common, ++i, ++j;
        } else if (ga[i] < gb[j]) {
            ++i;
        } else {
            ++j;
        }
    }
    return 2.0 * static_cast<double>(common) / static_cast<double>(ga.size() + gb.size());
}

size_t EditDistance(std::u32string_view a, std::u32string_view b, size_t limit)
{
    if (a.size() < b.size())
        std::swap(a, b);
    if (a.size() - b.size() > limit)
        return limit + 1;
    // Only cells within limit of the diagonal can stay within limit; two rows
    // of the table are enough for the distance alone.
    const size_t beyond = limit + 1;
    std::vector<size_t> previous(b.size() + 1, beyond), current(b.size() + 1, beyond);
    for (size_t j = 0; j <= std::min(b.size(), limit); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t low = i > limit ? i - limit : 0;
        size_t high = std::min(b.size(), i + limit);
        // The cells just outside the band are read by this row and the next;
        // they hold beyond, whatever an earlier row left there.
        if (low > 0)
            current[low - 1] = beyond;
        if (high < b.size())
            current[high + 1] = beyond;
        size_t rowBest = beyond;
        if (low == 0)
            rowBest = current[0] = i <= limit ? i : beyond;
        for (size_t j = std::max<size_t>(low, 1); j <= high; ++j) {
            size_t substitute = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitute, beyond});
            rowBest = std::min(rowBest, current[j]);
        }
        if (rowBest > limit)
            return beyond;
        std::swap(previous, current);
    }
    return std::min(previous[b.size()], beyond);
}

size_t AllowedEdits(size_t length)
{
    if (length < 5)
        return 0;
    return 1 + (length >= 16 ? (length - 8) / 8 : 0);
}

Closeness CompareQuestions(std::u32string_view typed, std::u32string_view bank)
{
    Closeness closeness;
    size_t longer = std::max(typed.size(), bank.size());
    size_t shorter = std::min(typed.size(), bank.size());
    if (longer == 0)
        return closeness;
    size_t allowed = AllowedEdits(longer);
    // The length difference alone is a lower bound of the distance: most
    // candidates are ruled out before the quadratic part.
    if (longer - shorter > allowed)
        return closeness;
    bool latinWords = HoldsChinese(typed) || HoldsChinese(bank);
    if (NumbersIn(typed, latinWords) != NumbersIn(bank, latinWords))
        return closeness;
    size_t edits = EditDistance(typed, bank, allowed);
    if (edits > allowed)
        return closeness;
    closeness.acceptable = true;
    closeness.edits = edits;
    closeness.score = 1.0 - static_cast<double>(edits) / static_cast<double>(longer) + BigramDice(typed, bank) / 1000.0;
    return closeness;
}

} // namespace kelvora
