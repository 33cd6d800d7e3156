#include "json/LiteralNumber.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "json/JsonLiteral.h"

namespace {

// Digits beyond this many cannot change how a decimal rounds to a double
// (767 at most matter); the rest only count as "something nonzero follows".
constexpr std::size_t KeptDigits = 780;
// Exponents saturate here: far beyond any double's, and beyond any count of
// fraction digits a text can hold, so the sum below keeps its sign.
constexpr int64_t ExponentCap = 100000000000000000;

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

std::u16string Widen(std::string_view ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

std::u16string Signed(bool negative, std::string_view magnitude)
{
    return (negative ? u"-" : u"") + Widen(magnitude);
}

} // namespace

std::optional<std::u16string> CanonicalNumber(std::u16string_view token)
{
    std::size_t at = 0;
    bool negative = false;
    if (at < token.size() && (token[at] == u'-' || token[at] == u'+'))
        negative = token[at++] == u'-';

    // The significant digits, without leading zeros, and the power of ten of
    // the last kept digit: value = digits * 10^scale.
    std::string digits;
    bool droppedNonzero = false;
    std::size_t dropped = 0;
    int64_t fractionDigits = 0;
    bool inFraction = false;
    for (; at < token.size(); ++at) {
        const char16_t c = token[at];
        if (c == u'.') {
            inFraction = true;
            continue;
        }
        if (!IsDigit(c))
            break;
        if (inFraction)
            ++fractionDigits;
        if (digits.empty() && c == u'0')
            continue;
        if (digits.size() < KeptDigits) {
            digits.push_back(static_cast<char>(c));
        } else {
            ++dropped;
            droppedNonzero = droppedNonzero || c != u'0';
        }
    }
    int64_t exponent = 0;
    if (at < token.size() && (token[at] == u'e' || token[at] == u'E')) {
        ++at;
        bool exponentNegative = false;
        if (at < token.size() && (token[at] == u'-' || token[at] == u'+'))
            exponentNegative = token[at++] == u'-';
        for (; at < token.size() && IsDigit(token[at]); ++at)
            exponent = std::min(ExponentCap, exponent * 10 + (token[at] - u'0'));
        if (exponentNegative)
            exponent = -exponent;
    }
    // Zero has no sign here: engines lose the sign of -0 on the way out.
    if (digits.empty())
        return u"0";

    // A digit that was dropped and not zero keeps a tie from rounding down.
    if (droppedNonzero)
        digits.push_back('1'), --dropped;
    const int64_t scale = exponent - fractionDigits + static_cast<int64_t>(dropped);
    // The power of ten of the first digit decides the far cases at once.
    const int64_t magnitude = scale + static_cast<int64_t>(digits.size()) - 1;
    if (magnitude > 400)
        return Signed(negative, "1e999");
    if (magnitude < -400)
        return u"0";

    const std::string text = digits + "e" + std::to_string(scale);
    double value = 0;
    const std::from_chars_result read = std::from_chars(text.data(), text.data() + text.size(), value);
    if (read.ec == std::errc::result_out_of_range)
        return magnitude > 0 ? Signed(negative, "1e999") : u"0";
    if (read.ec != std::errc() || read.ptr != text.data() + text.size())
        return std::nullopt;
    if (std::isinf(value))
        return Signed(negative, "1e999");
    if (value == 0)
        return u"0";
    if (value < SmallestEvaluableMagnitude)
        return std::nullopt;
    char shortest[32];
    const std::to_chars_result written = std::to_chars(shortest, shortest + sizeof shortest, value);
    if (written.ec != std::errc())
        return std::nullopt;
    return Signed(negative, std::string_view(shortest, static_cast<std::size_t>(written.ptr - shortest)));
}
