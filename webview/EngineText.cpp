#include "webview/EngineText.h"

#include <windows.h>

#include "webview/EngineApi.h"

namespace {

constexpr UINT Cp936 = 936;

std::wstring MultiByteToWide(UINT codePage, std::string_view text)
{
    if (text.empty())
        return {};
    int cch = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (cch <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), cch);
    return wide;
}

} // namespace

AnsiText WideToCp936(std::wstring_view text)
{
    if (text.empty())
        return {};
    int cb = WideCharToMultiByte(Cp936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return {};
    AnsiText ansi(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(Cp936, 0, text.data(), static_cast<int>(text.size()), ansi.data(), cb, nullptr, nullptr);
    // An AnsiText holds no zero byte; an embedded zero ends the text.
    ansi.resize(ansi.find('\0') == AnsiText::npos ? ansi.size() : ansi.find('\0'));
    return ansi;
}

std::wstring Cp936ToWide(std::string_view text)
{
    return MultiByteToWide(Cp936, text);
}

AnsiText Utf8ToCp936(std::string_view text)
{
    return WideToCp936(MultiByteToWide(CP_UTF8, text));
}

AnsiText EngineStringToCp936(wkeString text)
{
    if (!text || !Engine().wkeGetStringW)
        return {};
    const wchar_t* wide = Engine().wkeGetStringW(text);
    return wide ? WideToCp936(wide) : AnsiText();
}
