#pragma once
// How alike two normalised questions are, from 0 (nothing shared) to 1 (equal).
#include <string_view>

namespace kelvora {

// Dice coefficient over character bigrams (single characters for texts of
// one character), counting repeated bigrams as often as they occur.
double BigramDice(std::u32string_view a, std::u32string_view b);

// 1 - edit distance / length of the longer text.
double EditRatio(std::u32string_view a, std::u32string_view b);

// The score the bank ranks candidates by: the better of the two, so that a
// single changed character in a short question still scores high.
double QuestionSimilarity(std::u32string_view a, std::u32string_view b);

}  // namespace kelvora
