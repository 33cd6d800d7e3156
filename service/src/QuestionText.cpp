#include "QuestionText.h"

#include "ChineseScript.h"
#include "QuestionForm.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

bool IsDropped(char32_t cp)
{
    if (IsFormulaSign(cp))
        return false;
    if (cp < 0x80) {
        bool alnum = IsDigit(cp) || (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
        return !alnum; // controls, space and ASCII punctuation
    }
    if (cp <= 0xBF)
        return true; // C1 controls, NBSP, Latin-1 signs
    if (cp >= 0x2000 && cp <= 0x206F)
        return true; // general punctuation, spaces, zero widths
    if (cp >= 0x3000 && cp <= 0x303F && cp != 0x3007)
        return true; // CJK punctuation (keep 〇)
    if (cp >= 0xFE10 && cp <= 0xFE1F)
        return true; // vertical forms
    if (cp >= 0xFE30 && cp <= 0xFE6F)
        return true; // compatibility and small forms
    if (cp >= 0xFF5F && cp <= 0xFF65)
        return true; // half-width CJK punctuation
    if (cp == 0xFEFF)
        return true; // byte order mark
    if (cp == 0x30FB)
        return true; // katakana middle dot, used as a separator
    return false;
}

char32_t FoldWidth(char32_t cp)
{
    if (cp >= 0xFF01 && cp <= 0xFF5E)
        cp -= 0xFEE0; // full-width ASCII
    if (cp == 0x3000)
        cp = ' ';
    if (cp == 0x2212)
        cp = '-'; // minus sign
    return cp;
}

char32_t FoldWidthAndCase(char32_t cp)
{
    cp = FoldWidth(cp);
    if (cp >= 'A' && cp <= 'Z')
        cp += 'a' - 'A';
    return cp;
}

} // namespace

std::u32string NormalizeQuestion(std::u32string_view question)
{
    std::u32string out;
    out.reserve(question.size());
    for (size_t i = 0; i < question.size(); ++i) {
        char32_t cp = FoldWidthAndCase(question[i]);
        // A decimal point: 27.3 is not 273.
        bool decimalPoint = cp == '.' && !out.empty() && IsDigit(out.back()) && i + 1 < question.size() &&
                            IsDigit(FoldWidth(question[i + 1]));
        if (decimalPoint || !IsDropped(cp))
            out.push_back(cp);
    }
    return out;
}

std::u32string WithoutQuestionWords(std::u32string_view norm)
{
    // Longest first; 哪 alone last, so that 哪一年 keeps its 年.
    static constexpr std::u32string_view words[] = {U"什么", U"多少", U"哪里", U"哪儿", U"哪一", U"哪个",
                                                    U"哪些", U"哪座", U"哪种", U"哪位", U"哪条", U"哪项",
                                                    U"哪部", U"哪本", U"哪家", U"哪",   U"几",   U"谁"};
    std::u32string out;
    out.reserve(norm.size());
    for (size_t i = 0; i < norm.size();) {
        char32_t c = norm[i];
        if (c != U'什' && c != U'多' && c != U'哪' && c != U'几' && c != U'谁') {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t skipped = 0;
        for (std::u32string_view word : words) {
            if (norm.compare(i, word.size(), word) == 0) {
                skipped = word.size();
                break;
            }
        }
        if (skipped) {
            i += skipped;
        } else {
            out.push_back(norm[i++]);
        }
    }
    return out;
}

NormalizedQuestion NormalizeQuestionParts(std::string_view question)
{
    NormalizedQuestion result;
    auto decoded = DecodeUtf8(question);
    if (!decoded)
        return result;
    if (HasTraditionalCharacters(*decoded))
        decoded = ToSimplified(*decoded);
    for (char32_t& cp : *decoded)
        cp = FoldWidth(cp);
    QuestionParts parts = SplitQuestion(*decoded);
    result.stem = NormalizeQuestion(parts.stem);
    result.blanks = parts.blanks;
    for (const std::u32string& option : parts.options)
        result.options.push_back(NormalizeQuestion(option));
    return result;
}

std::u32string NormalizeOption(std::string_view option)
{
    auto decoded = DecodeUtf8(option);
    if (!decoded)
        return {};
    if (HasTraditionalCharacters(*decoded))
        decoded = ToSimplified(*decoded);
    for (char32_t& cp : *decoded)
        cp = FoldWidth(cp);
    std::u32string_view text = *decoded;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.size() >= 2 && text[0] >= 'A' && text[0] <= 'H' &&
        std::u32string_view(U".、:) ").find(text[1]) != std::u32string_view::npos) {
        text.remove_prefix(2);
    }
    return NormalizeQuestion(text);
}

std::u32string NormalizeQuestionUtf8(std::string_view question)
{
    return NormalizeQuestionParts(question).stem;
}

std::string_view FindRejectedWord(std::string_view text)
{
    static constexpr std::string_view words[] = {"查无此", "还未收录", "维护", "授权", "群", "微信", "收费", "秘钥"};
    for (std::string_view word : words) {
        if (text.find(word) != std::string_view::npos)
            return word;
    }
    return {};
}

} // namespace kelvora
