#pragma once
// The comparable form of a question: what students type differs from the bank
// in width, case, spacing and punctuation, none of which changes the question.
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

// Signs of a formula, kept in the normal form: 2x+3=7 and 2x-3=7 are different questions.
inline bool IsFormulaSign(char32_t c)
{
    return c == '+' || c == '-' || c == '*' || c == '/' || c == '=' || c == '<' || c == '>' || c == '^' || c == '%' ||
           c == 0xD7 || c == 0xF7;
}

inline bool IsDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}

// Full-width forms folded to ASCII, ASCII letters lower-cased, white space,
// control characters and punctuation (ASCII and CJK) dropped. Signs of
// formulas (+ - * / = < > ^ % × ÷) and decimal points are kept: they change
// what is asked.
std::u32string NormalizeQuestion(std::u32string_view question);

// A normalised question without its question words (什么, 多少, 哪个, 几, 谁,
// ...): the words a blank stands for, so that "湖北省的简称是（ ）" and
// "湖北省的简称是什么" compare alike.
std::u32string WithoutQuestionWords(std::u32string_view norm);

// The form the bank is searched by, for UTF-8 text: traditional characters
// folded to simplified ones, type and score markers, numbering and a
// trailing options list taken off (see SplitQuestion), then normalised as
// above. Empty when text is not valid UTF-8.
std::u32string NormalizeQuestionUtf8(std::string_view question);

struct NormalizedQuestion {
    std::u32string stem;
    std::vector<std::u32string> options; // each normalised; empty when none were typed
    size_t blanks = 0;                   // blanks to fill in: （ ）, ____
};

// One option as a bank stores it ("A. 金星", "B、水星"): its label dropped, normalised.
std::u32string NormalizeOption(std::string_view option);

// The same with the options that followed the question, each normalised.
NormalizedQuestion NormalizeQuestionParts(std::string_view question);

// Words that make the desktop tool treat an answer as a service notice; the
// first one found in text, or empty. Bank texts must not hold any of them.
std::string_view FindRejectedWord(std::string_view text);

} // namespace kelvora
