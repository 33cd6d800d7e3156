#pragma once
#include <string>
#include <string_view>

#include "text/AnsiText.h"

// The border between the tool's code page 936 texts and the UTF-8 of the
// wire. Code pages are always named, never the system's current one.
inline constexpr unsigned CodePageGbk = 936;
inline constexpr unsigned CodePageUtf8 = 65001;

// A multibyte text (up to its first zero byte) as UTF-16 little-endian code
// units, two bytes each, ending with one zero code unit.
ByteBuffer AnsiToUtf16(std::string_view text, unsigned codePage);

// UTF-16 code units (as AnsiToUtf16 makes them) as a multibyte text in the
// code page, up to its first zero byte.
std::string Utf16ToMultiByte(const ByteBuffer& utf16, unsigned codePage);

// A code page 936 text in UTF-8.
std::string AnsiToUtf8(std::string_view text);

// A UTF-8 reply body as a code page 936 text, cut at the first zero byte.
// Invalid bytes and characters that code page 936 lacks come out as the
// platform's replacement and default characters; nothing fails.
AnsiText Utf8ToAnsi(const ByteBuffer& utf8);
