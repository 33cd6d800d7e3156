#include "app/WideText.h"

namespace {

constexpr UINT ChineseCodePage = 936;

} // namespace

std::wstring WideFromAnsi(std::string_view ansi)
{
    if (ansi.empty())
        return {};
    int cbAnsi = static_cast<int>(ansi.size());
    int cchWide = MultiByteToWideChar(ChineseCodePage, 0, ansi.data(), cbAnsi, nullptr, 0);
    if (cchWide <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(cchWide), L'\0');
    MultiByteToWideChar(ChineseCodePage, 0, ansi.data(), cbAnsi, wide.data(), cchWide);
    return wide;
}

AnsiText AnsiFromWide(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    int cchWide = static_cast<int>(wide.size());
    int cbAnsi = WideCharToMultiByte(ChineseCodePage, 0, wide.data(), cchWide, nullptr, 0, nullptr, nullptr);
    if (cbAnsi <= 0)
        return {};
    AnsiText ansi(static_cast<size_t>(cbAnsi), '\0');
    WideCharToMultiByte(ChineseCodePage, 0, wide.data(), cchWide, ansi.data(), cbAnsi, nullptr, nullptr);
    // A text never holds a zero byte: cut at the first one a window may have held.
    ansi.resize(ansi.find('\0') == AnsiText::npos ? ansi.size() : ansi.find('\0'));
    return ansi;
}

std::wstring WindowTextWide(HWND window)
{
    int cchText = GetWindowTextLengthW(window);
    if (cchText <= 0)
        return {};
    std::wstring text(static_cast<size_t>(cchText) + 1, L'\0');
    int cchCopied = GetWindowTextW(window, text.data(), cchText + 1);
    text.resize(cchCopied > 0 ? static_cast<size_t>(cchCopied) : 0);
    return text;
}
