#pragma once
#include <string>
#include <string_view>
#include <vector>

// A code page 936 text: one byte per ASCII character, two bytes for any other
// character (the first with its high bit set). Holds no zero byte; the empty
// text and a missing text are the same.
using AnsiText = std::string;

// Counted bytes that may hold zero bytes: HTTP bodies, the engine image.
using ByteBuffer = std::vector<unsigned char>;

// The text before the first zero byte, where a C caller's text ends.
inline std::string_view UpToZero(std::string_view text)
{
    return text.substr(0, text.find('\0'));
}
