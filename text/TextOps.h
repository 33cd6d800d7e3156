#pragma once
#include <cstdint>
#include <string_view>

#include "text/AnsiText.h"

// Byte-wise operations on code page 936 texts. Searches step over two-byte
// characters (a byte with its high bit set and the byte after it), so a
// match only ever begins where a character begins. Positions are 1-based
// byte positions; a search that finds nothing gives -1. Every input ends at
// its first zero byte, as a zero-terminated text would. Free of platform
// headers on purpose: these build natively for fuzzing.

// Position of the first occurrence of `search` at or after `start`, or -1.
// A start of 1 or less searches from the beginning; case-sensitive.
int32_t FindText(std::string_view text, std::string_view search, int32_t start = 1);

// Every occurrence replaced, left to right; replaced text is not searched
// again (aa by a in aaaa gives aa). An empty text or search gives the text.
AnsiText ReplaceText(std::string_view text, std::string_view search, std::string_view replacement);

// `count` bytes from the 1-based `start`, cut at the end of the text; empty
// when start or count is out of range. May split a two-byte character.
AnsiText MidText(std::string_view text, int32_t start, int32_t count);

// -1, 0 or 1 as the texts' unsigned bytes compare; a missing text is empty.
int32_t CompareText(std::string_view a, std::string_view b);

// The text between the first `left` and the first `right` after it, or the
// empty text. "#引号" in a delimiter stands for a double-quote character.
AnsiText TextBetween(std::string_view text, std::string_view left, std::string_view right);

// The text before the first `delimiter` found from `start` (below 1 counts
// as 1), or the empty text when there is none. `caseInsensitive` ignores the
// case of ASCII letters.
AnsiText TextBefore(std::string_view text, std::string_view delimiter, int32_t start = 1, bool caseInsensitive = false);
