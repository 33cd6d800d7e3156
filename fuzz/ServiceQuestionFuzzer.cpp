// The answer service's handling of a question: UTF-8 validation against the
// table of well-formed byte sequences, normalisation, and the closeness
// measure that decides whether a typed question is taken for a bank one.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "QuestionText.h"
#include "Similarity.h"
#include "Utf8Text.h"

namespace {

// Well-formed UTF-8 by the ranges of each byte after the first.
std::optional<std::u32string> ReferenceDecode(std::string_view text)
{
    std::u32string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned b0 = static_cast<unsigned char>(text[i]);
        unsigned length, low = 0x80, high = 0xBF;
        if (b0 <= 0x7F) {
            out += b0;
            ++i;
            continue;
        }
        if (b0 >= 0xC2 && b0 <= 0xDF)
            length = 2;
        else if (b0 >= 0xE0 && b0 <= 0xEF)
            length = 3, low = b0 == 0xE0 ? 0xA0 : 0x80, high = b0 == 0xED ? 0x9F : 0xBF;
        else if (b0 >= 0xF0 && b0 <= 0xF4)
            length = 4, low = b0 == 0xF0 ? 0x90 : 0x80, high = b0 == 0xF4 ? 0x8F : 0xBF;
        else
            return std::nullopt;
        if (text.size() - i < length)
            return std::nullopt;
        char32_t cp = b0 & (0xFF >> (length + 1));
        for (unsigned k = 1; k < length; ++k) {
            const unsigned b = static_cast<unsigned char>(text[i + k]);
            if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF))
                return std::nullopt;
            cp = (cp << 6) | (b & 0x3F);
        }
        out += cp;
        i += length;
    }
    return out;
}

std::size_t ReferenceDistance(std::u32string_view a, std::u32string_view b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        for (std::size_t j = 0; j <= b.size(); ++j)
            d[i][j] = i == 0   ? j
                      : j == 0 ? i
                               : std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
    return d[a.size()][b.size()];
}

void CheckNormalized(std::u32string_view question)
{
    const std::u32string normal = kelvora::NormalizeQuestion(question);
    FUZZ_CHECK(normal.size() <= question.size());
    FUZZ_CHECK(kelvora::NormalizeQuestion(normal) == normal);
    for (char32_t c : normal) {
        FUZZ_CHECK(!(c >= U'A' && c <= U'Z'));
        FUZZ_CHECK(!(c >= 0xFF01 && c <= 0xFF5E));
        // Signs of a formula and decimal points are all the ASCII punctuation kept.
        FUZZ_CHECK(c >= 0x80 || (c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9') ||
                   std::u32string_view(U"+-*/=<>^%.").find(c) != std::u32string_view::npos);
    }
}

// What must agree for two questions to be taken for the same one, in order:
// each number (a decimal point between digits belongs to it), each formula
// sign alone and, when either question holds Chinese, each run of Latin letters.
std::vector<std::u32string> ReferenceNumbers(std::u32string_view text, bool latinWords)
{
    enum class Kind { None, Number, Word };
    const auto isDigit = [](char32_t c) { return c >= U'0' && c <= U'9'; };
    const auto isSign = [](char32_t c) {
        return std::u32string_view(U"+-*/=<>^%\u00d7\u00f7").find(c) != std::u32string_view::npos;
    };
    std::vector<std::u32string> tokens;
    std::u32string current;
    Kind kind = Kind::None;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        const bool point = c == U'.' && kind == Kind::Number && i + 1 < text.size() && isDigit(text[i + 1]);
        Kind next = isDigit(c) || point ? Kind::Number : latinWords && c >= U'a' && c <= U'z' ? Kind::Word : Kind::None;
        if (next != kind && !current.empty()) {
            tokens.push_back(current);
            current.clear();
        }
        kind = next;
        if (next != Kind::None)
            current += c;
        else if (isSign(c))
            tokens.push_back(std::u32string(1, c));
    }
    if (!current.empty())
        tokens.push_back(current);
    return tokens;
}

void CheckCloseness(std::u32string_view a, std::u32string_view b, std::size_t limit)
{
    const std::size_t edits = ReferenceDistance(a, b);
    const std::size_t capped = std::min(edits, limit + 1);
    FUZZ_CHECK(kelvora::EditDistance(a, b, limit) == capped);
    FUZZ_CHECK(kelvora::EditDistance(b, a, limit) == capped);

    const double dice = kelvora::BigramDice(a, b);
    FUZZ_CHECK(dice >= 0.0 && dice <= 1.0);
    FUZZ_CHECK(dice == kelvora::BigramDice(b, a));
    FUZZ_CHECK(kelvora::BigramDice(a, a) == 1.0);

    // Taken for the same question: within the allowed edits, numbers alike.
    const std::size_t longer = std::max(a.size(), b.size());
    const auto holdsChinese = [](std::u32string_view t) {
        return std::any_of(t.begin(), t.end(), [](char32_t c) { return c >= 0x2E80; });
    };
    const bool latin = holdsChinese(a) || holdsChinese(b);
    const kelvora::Closeness close = kelvora::CompareQuestions(a, b);
    const bool expected = longer > 0 && edits <= kelvora::AllowedEdits(longer) &&
                          ReferenceNumbers(a, latin) == ReferenceNumbers(b, latin);
    FUZZ_CHECK(close.acceptable == expected);
    FUZZ_CHECK(close.acceptable == kelvora::CompareQuestions(b, a).acceptable);
    if (close.acceptable)
        FUZZ_CHECK(close.score > 0.0 && close.score <= 1.001);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string typed = input.ConsumeRandomLengthString(256);
    const std::size_t limit = input.ConsumeIntegralInRange<std::size_t>(0, 12);
    const std::string bank = input.ConsumeRemainingBytesAsString();

    for (const std::string& text : {typed, bank}) {
        const std::optional<std::u32string> decoded = kelvora::DecodeUtf8(text);
        FUZZ_CHECK(decoded == ReferenceDecode(text));
        FUZZ_CHECK(kelvora::IsValidUtf8(text) == decoded.has_value());
        if (!decoded) {
            FUZZ_CHECK(kelvora::NormalizeQuestionUtf8(text).empty());
            continue;
        }
        FUZZ_CHECK(kelvora::EncodeUtf8(*decoded) == text);
        // The searched form (script folded, markers and options taken off) is itself normal.
        const std::u32string searched = kelvora::NormalizeQuestionUtf8(text);
        FUZZ_CHECK(kelvora::NormalizeQuestion(searched) == searched);
        CheckNormalized(*decoded);
    }

    // Few distinct characters, digits among them, so that near matches are
    // common; capped so the quadratic reference stays quick.
    const auto asCodePoints = [](std::string_view bytes) {
        static constexpr char32_t Alphabet[] = U"\u4e2d\u56fd\u9996\u90fd12ab";
        std::u32string points;
        for (std::size_t i = 0; i < bytes.size() && points.size() < 48; ++i)
            points += Alphabet[static_cast<unsigned char>(bytes[i]) % (std::size(Alphabet) - 1)];
        return points;
    };
    CheckCloseness(asCodePoints(typed), asCodePoints(bank), limit);
    CheckCloseness(kelvora::NormalizeQuestionUtf8(typed.substr(0, 96)),
                   kelvora::NormalizeQuestionUtf8(bank.substr(0, 96)), limit);
    return 0;
}
