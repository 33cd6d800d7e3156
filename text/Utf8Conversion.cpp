#include "text/Utf8Conversion.h"

#include <windows.h>

#include <climits>

namespace {

// Converts code units to the code page: asks for the size first, then fills
// a buffer of exactly that size.
std::string WideToMultiByte(const wchar_t* units, int count, unsigned codePage)
{
    if (count <= 0)
        return {};
    int size = WideCharToMultiByte(codePage, 0, units, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    size = WideCharToMultiByte(codePage, 0, units, count, bytes.data(), size, nullptr, nullptr);
    bytes.resize(size > 0 ? static_cast<size_t>(size) : 0);
    return bytes.substr(0, bytes.find('\0'));
}

} // namespace

ByteBuffer AnsiToUtf16(std::string_view text, unsigned codePage)
{
    text = UpToZero(text);
    ByteBuffer utf16(sizeof(wchar_t), 0);
    if (text.empty() || text.size() > INT_MAX / 2)
        return utf16;
    const int cb = static_cast<int>(text.size());
    int count = MultiByteToWideChar(codePage, 0, text.data(), cb, nullptr, 0);
    if (count <= 0)
        return utf16;
    // One more code unit, left zero, terminates the text.
    utf16.assign((static_cast<size_t>(count) + 1) * sizeof(wchar_t), 0);
    count = MultiByteToWideChar(codePage, 0, text.data(), cb, reinterpret_cast<wchar_t*>(utf16.data()), count);
    utf16.resize((static_cast<size_t>(count > 0 ? count : 0) + 1) * sizeof(wchar_t));
    return utf16;
}

std::string Utf16ToMultiByte(const ByteBuffer& utf16, unsigned codePage)
{
    const size_t units = utf16.size() / sizeof(wchar_t);
    if (units == 0 || units > INT_MAX / 4)
        return {};
    return WideToMultiByte(reinterpret_cast<const wchar_t*>(utf16.data()), static_cast<int>(units), codePage);
}

std::string AnsiToUtf8(std::string_view text)
{
    return Utf16ToMultiByte(AnsiToUtf16(text, CodePageGbk), CodePageUtf8);
}

AnsiText Utf8ToAnsi(const ByteBuffer& utf8)
{
    if (utf8.empty() || utf8.size() > INT_MAX / 2)
        return {};
    const char* bytes = reinterpret_cast<const char*>(utf8.data());
    const int cb = static_cast<int>(utf8.size());
    const int count = MultiByteToWideChar(CodePageUtf8, 0, bytes, cb, nullptr, 0);
    if (count <= 0)
        return {};
    // Zero-filled with one spare code unit: the converted text ends in a zero.
    std::wstring wide(static_cast<size_t>(count) + 1, L'\0');
    if (MultiByteToWideChar(CodePageUtf8, 0, bytes, cb, wide.data(), count) <= 0)
        return {};
    return WideToMultiByte(wide.data(), count + 1, CodePageGbk);
}
