#pragma once
// How alike two normalised questions are. A typed question is taken for a
// bank question only when a few characters were mistyped: one edit in
// questions of 5 to 15 characters, one more per further 8; shorter questions
// must match exactly. Beyond that it is more likely another question
// ("日本的首都" is not "中国的首都"). A single changed character that changes
// the meaning cannot be told from a typo; the reply names the bank question,
// so the student sees what was answered. Numbers, formula signs and Latin
// words must agree exactly.
#include <cstddef>
#include <string_view>

namespace kelvora {

// Dice coefficient over character bigrams (single characters for texts of
// one character), counting repeated bigrams as often as they occur.
double BigramDice(std::u32string_view a, std::u32string_view b);

// Insertions, deletions and substitutions that turn a into b; limit + 1 for
// anything above limit.
size_t EditDistance(std::u32string_view a, std::u32string_view b, size_t limit);

size_t AllowedEdits(size_t length);

struct Closeness {
    bool acceptable = false; // within AllowedEdits of the longer text
    size_t edits = 0;
    double score = 0.0; // 1 - edits / longer length, bigram Dice breaking ties
};

Closeness CompareQuestions(std::u32string_view typed, std::u32string_view bank);

} // namespace kelvora
