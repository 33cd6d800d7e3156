#include "Similarity.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kelvora {

namespace {

std::vector<uint64_t> SortedBigrams(std::u32string_view text) {
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

}  // namespace

double BigramDice(std::u32string_view a, std::u32string_view b) {
    if (a.empty() || b.empty()) return a.empty() && b.empty() ? 1.0 : 0.0;
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

size_t EditDistance(std::u32string_view a, std::u32string_view b) {
    // Two rows of the classic table are enough for the distance alone.
    std::vector<size_t> previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t substitute = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitute});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

size_t AllowedEdits(size_t length) {
    if (length < 5) return 0;
    return 1 + (length >= 16 ? (length - 8) / 8 : 0);
}

Closeness CompareQuestions(std::u32string_view typed, std::u32string_view bank) {
    Closeness closeness;
    size_t longer = std::max(typed.size(), bank.size());
    size_t shorter = std::min(typed.size(), bank.size());
    if (longer == 0) return closeness;
    size_t allowed = AllowedEdits(longer);
    // The length difference alone is a lower bound of the distance: most
    // candidates are ruled out before the quadratic part.
    if (longer - shorter > allowed) return closeness;
    size_t edits = EditDistance(typed, bank);
    if (edits > allowed) return closeness;
    closeness.acceptable = true;
    closeness.score = 1.0 - static_cast<double>(edits) / static_cast<double>(longer) +
                      BigramDice(typed, bank) / 1000.0;
    return closeness;
}

}  // namespace kelvora
