// The evaluation guard on arbitrary text: it agrees with a separate
// recogniser of the data literal grammar, and whatever it lets through has
// balanced brackets within the depth limit and nothing outside strings that
// could run: no calls, operators, comments or identifiers as values.
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "ReferenceLiteral.h"
#include "Utf16Input.h"
#include "json/JsonLiteral.h"

namespace {

bool IsWordChar(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'$';
}

// Steps over a string literal starting at `at` (a quote); false if it never ends.
bool SkipString(std::u16string_view text, std::size_t& at)
{
    const char16_t quote = text[at++];
    while (at < text.size()) {
        char16_t c = text[at++];
        if (c == u'\\')
            ++at;
        else if (c == quote)
            return true;
    }
    return false;
}

// What any accepted text must look like, whatever the exact grammar.
void CheckHarmless(std::u16string_view text)
{
    std::u16string brackets;
    std::size_t deepest = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const char16_t c = text[at];
        if (c == u'"' || c == u'\'') {
            FUZZ_CHECK(SkipString(text, at));
            continue;
        }
        if (c == u'{' || c == u'[') {
            brackets.push_back(c);
            deepest = std::max(deepest, brackets.size());
        } else if (c == u'}' || c == u']') {
            FUZZ_CHECK(!brackets.empty() && brackets.back() == (c == u'}' ? u'{' : u'['));
            brackets.pop_back();
        } else if (IsWordChar(c) && !(c >= u'0' && c <= u'9')) {
            // A word is a constant or a member name; "e" inside a number is
            // neither but follows a digit or a dot, never a space or bracket.
            std::size_t end = at;
            while (end < text.size() && IsWordChar(text[end]))
                ++end;
            const std::u16string_view word = text.substr(at, end - at);
            std::size_t after = end;
            while (after < text.size() &&
                   (text[after] == u' ' || text[after] == u'\t' || text[after] == u'\n' || text[after] == u'\r'))
                ++after;
            const bool constant = word == u"true" || word == u"false" || word == u"null";
            const bool memberName = after < text.size() && text[after] == u':';
            const bool exponent = at > 0 && ((text[at - 1] >= u'0' && text[at - 1] <= u'9') || text[at - 1] == u'.');
            FUZZ_CHECK(constant || memberName || exponent);
            at = end;
            continue;
        } else {
            const std::u16string_view allowed = u" \t\r\n,:+-.0123456789";
            FUZZ_CHECK(allowed.find(c) != std::u16string_view::npos);
        }
        ++at;
    }
    FUZZ_CHECK(brackets.empty());
    FUZZ_CHECK(deepest <= MaxLiteralDepth);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::u16string text = Utf16FromFuzzBytes(data, size);
    const std::optional<std::u16string> evaluable = EvaluableLiteral(text);
    FUZZ_CHECK(evaluable.has_value() == reference::IsDataLiteral(text, MaxLiteralDepth));
    if (evaluable) {
        CheckHarmless(text);
        // What the engine gets in its place is harmless data as well.
        CheckHarmless(*evaluable);
        FUZZ_CHECK(reference::IsDataLiteral(*evaluable, MaxLiteralDepth));
    }
    return 0;
}
