#pragma once
#include <string>
#include <string_view>

// Text encodings at the engine's borders. Pages are kept as UTF-8 bytes.

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// The charset a page declares: the Content-Type header's charset parameter,
// else a <meta charset> or <meta http-equiv="Content-Type"> near the start of
// the body, else a byte order mark. Lower case; empty when nothing is declared.
std::string DeclaredCharset(std::string_view contentType, std::string_view body);

// What a page that declares no charset is read as, the way browsers on a
// Chinese system decide: "utf-8" when its bytes are UTF-8 (a stray bad byte
// among many good sequences too), else "gb18030" (GBK's superset) when they
// read as GBK, else "windows-1252".
std::string UndeclaredCharset(std::string_view body);

// The page's bytes as UTF-8; an empty charset means the page declares none
// (see UndeclaredCharset). UTF-8 pages and charsets this system cannot
// convert come back byte for byte as served.
std::string PageBytesToUtf8(std::string_view body, std::string_view charset);

// The text with every byte that is no part of a UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// ASCII lower case, leaving other bytes alone.
std::string AsciiLower(std::string_view text);
