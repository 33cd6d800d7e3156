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

double EditRatio(std::u32string_view a, std::u32string_view b) {
    size_t longer = std::max(a.size(), b.size());
    if (longer == 0) return 1.0;
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
    return 1.0 - static_cast<double>(previous[b.size()]) / static_cast<double>(longer);
}

double QuestionSimilarity(std::u32string_view a, std::u32string_view b) {
    double dice = BigramDice(a, b);
    // The edit distance costs length squared; texts far apart in length
    // cannot reach a high ratio anyway, so skip it for them.
    size_t shorter = std::min(a.size(), b.size());
    size_t longer = std::max(a.size(), b.size());
    if (longer == 0) return 1.0;
    if (static_cast<double>(shorter) / static_cast<double>(longer) < 0.5) return dice;
    return std::max(dice, EditRatio(a, b));
}

}  // namespace kelvora
