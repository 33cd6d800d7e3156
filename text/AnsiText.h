#pragma once
#include <string>
#include <vector>

// A code page 936 text: one byte per ASCII character, two bytes for any other
// character (the first with its high bit set). Holds no zero byte; the empty
// text and a missing text are the same.
using AnsiText = std::string;

// Counted bytes that may hold zero bytes: HTTP bodies, the engine image.
using ByteBuffer = std::vector<unsigned char>;
