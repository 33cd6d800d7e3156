#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A deliberately plain restatement of the two-byte walk the text operations
// use, written without sharing any code with them.
namespace reference {

inline std::string_view UpToZero(std::string_view text)
{
    std::size_t n = 0;
    while (n < text.size() && text[n] != '\0')
        ++n;
    return text.substr(0, n);
}

inline bool IsLead(char c)
{
    return static_cast<unsigned char>(c) >= 0x80;
}

// The offsets the walk visits when it begins at `from`: one byte for an
// ASCII character, two for a two-byte one. A lead byte in the last place is
// visited, and nothing after it.
inline std::vector<std::size_t> WalkStops(std::string_view text, std::size_t from)
{
    std::vector<std::size_t> stops;
    std::size_t at = from;
    while (at < text.size()) {
        stops.push_back(at);
        if (!IsLead(text[at]))
            at += 1;
        else if (at + 1 < text.size())
            at += 2;
        else
            break;
    }
    return stops;
}

inline char Fold(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Whether `search` stands at `at`. Ignoring case folds ASCII letters only,
// never the second byte of a two-byte character of the search text.
inline bool MatchAt(std::string_view text, std::size_t at, std::string_view search, bool ignoreCase)
{
    if (text.size() - at < search.size())
        return false;
    bool second = false;
    for (std::size_t i = 0; i < search.size(); ++i) {
        char a = text[at + i];
        char b = search[i];
        bool exact = !ignoreCase || second;
        if (exact ? a != b : Fold(a) != Fold(b))
            return false;
        second = !second && IsLead(b);
    }
    return true;
}

// 0-based offset of the first match at a walk stop from `from`, or -1.
inline long long Find(std::string_view text, std::string_view search, std::size_t from, bool ignoreCase = false)
{
    for (std::size_t stop : WalkStops(text, from)) {
        if (text.size() - stop < search.size())
            return -1;
        if (MatchAt(text, stop, search, ignoreCase))
            return static_cast<long long>(stop);
    }
    return -1;
}

// Every match at a walk stop replaced, left to right; the rest copied a
// character at a time.
inline std::string Replace(std::string_view text, std::string_view search, std::string_view replacement)
{
    std::string out;
    std::size_t at = 0;
    while (!search.empty() && text.size() - at >= search.size()) {
        if (MatchAt(text, at, search, false)) {
            out.append(replacement);
            at += search.size();
        } else {
            std::size_t step = IsLead(text[at]) && at + 1 < text.size() ? 2 : 1;
            out.append(text.substr(at, step));
            at += step;
        }
    }
    out.append(text.substr(at));
    return out;
}

} // namespace reference
