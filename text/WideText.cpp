#include "text/WideText.h"

#include <windows.h>

#include "text/Utf8Conversion.h"

std::wstring WideFromAnsi(std::string_view ansi)
{
    ansi = UpToZero(ansi);
    if (ansi.empty())
        return {};
    int cbAnsi = static_cast<int>(ansi.size());
    int cchWide = MultiByteToWideChar(CodePageGbk, 0, ansi.data(), cbAnsi, nullptr, 0);
    if (cchWide <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(cchWide), L'\0');
    MultiByteToWideChar(CodePageGbk, 0, ansi.data(), cbAnsi, wide.data(), cchWide);
    return wide;
}

AnsiText AnsiFromWide(std::wstring_view wide)
{
    wide = wide.substr(0, wide.find(L'\0'));
    if (wide.empty())
        return {};
    int cchWide = static_cast<int>(wide.size());
    int cbAnsi = WideCharToMultiByte(CodePageGbk, 0, wide.data(), cchWide, nullptr, 0, nullptr, nullptr);
    if (cbAnsi <= 0)
        return {};
    AnsiText ansi(static_cast<size_t>(cbAnsi), '\0');
    WideCharToMultiByte(CodePageGbk, 0, wide.data(), cchWide, ansi.data(), cbAnsi, nullptr, nullptr);
    return ansi;
}
