#pragma once
#include <string>
#include <string_view>

// GB18030 to UTF-16 without the platform's code page 54936, which not every
// system has: one- and two-byte characters go through code page 936 (the same
// characters but for a few dozen that GB18030 defines where 936 has private-use
// ones), four-byte ones through the standard's algorithmic mapping.
// Bytes that form no character become U+FFFD.
std::wstring Gb18030ToWide(std::string_view bytes);

// The code point of a four-byte sequence (b1 0x81-0xFE, b2 0x30-0x39, b3
// 0x81-0xFE, b4 0x30-0x39); 0 for one that maps to nothing.
char32_t Gb18030FourByteCodePoint(unsigned char b1, unsigned char b2, unsigned char b3, unsigned char b4);
