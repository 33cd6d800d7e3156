#include "json/ScriptText.h"

#include <cstring>

#include "text/Utf8Conversion.h"

// Thin adapters from the shared code page conversions (UTF-16 held in byte
// buffers) to the wide strings that BSTRs are made from.

std::wstring WideFromAnsi(std::string_view text)
{
    ByteBuffer utf16 = AnsiToUtf16(text, CodePageGbk);
    size_t units = utf16.size() / sizeof(wchar_t);
    std::wstring wide(units, L'\0');
    if (units)
        std::memcpy(wide.data(), utf16.data(), units * sizeof(wchar_t));
    return wide.substr(0, wide.find(L'\0'));
}

AnsiText AnsiFromWide(std::wstring_view text)
{
    ByteBuffer utf16(text.size() * sizeof(wchar_t));
    if (!text.empty())
        std::memcpy(utf16.data(), text.data(), utf16.size());
    return Utf16ToMultiByte(utf16, CodePageGbk);
}
