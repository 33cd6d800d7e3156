#pragma once
// The comparable form of a question: what students type differs from the bank
// in width, case, spacing and punctuation, none of which changes the question.
#include <string>
#include <string_view>

namespace kelvora {

// Full-width forms folded to ASCII, ASCII letters lower-cased, white space,
// control characters and punctuation (ASCII and CJK) dropped.
std::u32string NormalizeQuestion(std::u32string_view question);

// The same for UTF-8 text; empty when text is not valid UTF-8.
std::u32string NormalizeQuestionUtf8(std::string_view question);

// Words that make the desktop tool treat an answer as a service notice; the
// first one found in text, or empty. Bank texts must not hold any of them.
std::string_view FindRejectedWord(std::string_view text);

}  // namespace kelvora
