#pragma once
// The parts of a question as students paste it: exam pages put a type or
// score marker before or after it (（单选题）, 【多选题】, (2分)), number it
// (1., 第3题), and follow a choice question with its options. None of that
// is the question; the stem is what the bank is searched for.
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

struct QuestionParts {
    std::u32string stem;                 // the question without markers, numbering and options
    std::vector<std::u32string> options; // the texts of a trailing options list, labels dropped
    size_t blanks = 0;                   // blanks in the stem: （ ）, ( ), ____
};

// text is expected with full-width forms folded to ASCII (see NormalizeQuestion).
// A text that would lose everything keeps its whole wording as the stem.
QuestionParts SplitQuestion(std::u32string_view text);

} // namespace kelvora
