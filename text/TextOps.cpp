#include "text/TextOps.h"

namespace {

// "#引号" ("#quote") in code page 936: the marker that stands for a
// double-quote character in a delimiter.
constexpr std::string_view QuoteMarker = "#\xD2\xFD\xBA\xC5";

bool IsLeadByte(char c)
{
    return (static_cast<unsigned char>(c) & 0x80) != 0;
}

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares a candidate with the search text character by character, so that
// case folding never touches the second byte of a two-byte character.
bool MatchesAt(std::string_view candidate, std::string_view search, bool caseInsensitive)
{
    if (!caseInsensitive)
        return candidate == search;
    for (size_t i = 0; i < search.size(); ++i) {
        if (IsLeadByte(search[i]) && i + 1 < search.size()) {
            if (candidate[i] != search[i] || candidate[i + 1] != search[i + 1])
                return false;
            ++i;
        } else if (FoldAscii(candidate[i]) != FoldAscii(search[i])) {
            return false;
        }
    }
    return true;
}

// The byte offset of the first match at or after `offset`, or -1.
int64_t FindFrom(std::string_view text, std::string_view search, int64_t offset, bool caseInsensitive)
{
    const int64_t length = static_cast<int64_t>(text.size());
    if (offset >= length)
        return -1;
    const int64_t searchLength = static_cast<int64_t>(search.size());
    while (length - offset >= searchLength) {
        if (MatchesAt(text.substr(static_cast<size_t>(offset), search.size()), search, caseInsensitive))
            return offset;
        if (IsLeadByte(text[static_cast<size_t>(offset)])) {
            // A lead byte right before the end has no second byte to step over.
            if (offset + 1 >= length)
                return -1;
            offset += 2;
        } else {
            offset += 1;
        }
    }
    return -1;
}

int64_t StartOffset(int32_t start)
{
    return start <= 1 ? 0 : static_cast<int64_t>(start) - 1;
}

} // namespace

int32_t FindText(std::string_view text, std::string_view search, int32_t start)
{
    int64_t found = FindFrom(UpToZero(text), UpToZero(search), StartOffset(start), false);
    return found < 0 ? -1 : static_cast<int32_t>(found + 1);
}

AnsiText ReplaceText(std::string_view text, std::string_view search, std::string_view replacement)
{
    text = UpToZero(text);
    search = UpToZero(search);
    replacement = UpToZero(replacement);
    if (text.empty() || search.empty())
        return AnsiText(text);

    AnsiText result;
    result.reserve(text.size());
    size_t offset = 0;
    while (text.size() - offset >= search.size()) {
        if (text.compare(offset, search.size(), search) == 0) {
            result += replacement;
            offset += search.size();
        } else {
            size_t step = (IsLeadByte(text[offset]) && offset + 1 < text.size()) ? 2 : 1;
            result += text.substr(offset, step);
            offset += step;
        }
    }
    result += text.substr(offset);
    return result;
}

AnsiText MidText(std::string_view text, int32_t start, int32_t count)
{
    text = UpToZero(text);
    const int64_t offset = static_cast<int64_t>(start) - 1;
    if (offset < 0 || offset >= static_cast<int64_t>(text.size()) || count <= 0)
        return {};
    return AnsiText(text.substr(static_cast<size_t>(offset), static_cast<size_t>(count)));
}

int32_t CompareText(std::string_view a, std::string_view b)
{
    int compared = UpToZero(a).compare(UpToZero(b));
    return compared < 0 ? -1 : (compared > 0 ? 1 : 0);
}

AnsiText TextBetween(std::string_view text, std::string_view left, std::string_view right)
{
    text = UpToZero(text);
    const AnsiText left2 = ReplaceText(left, QuoteMarker, "\"");
    const AnsiText right2 = ReplaceText(right, QuoteMarker, "\"");
    const int32_t p = FindText(text, left2);
    if (p == -1)
        return {};
    const int64_t q = static_cast<int64_t>(p) + static_cast<int64_t>(left2.size());
    if (q > INT32_MAX)
        return {};
    const int32_t e = FindText(text, right2, static_cast<int32_t>(q));
    if (e == -1)
        return {};
    return MidText(text, static_cast<int32_t>(q), e - static_cast<int32_t>(q));
}

AnsiText TextBefore(std::string_view text, std::string_view delimiter, int32_t start, bool caseInsensitive)
{
    text = UpToZero(text);
    const int64_t found = FindFrom(text, UpToZero(delimiter), StartOffset(start), caseInsensitive);
    if (found < 0)
        return {};
    return AnsiText(text.substr(0, static_cast<size_t>(found)));
}
