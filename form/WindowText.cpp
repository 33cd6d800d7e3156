#include "form/WindowText.h"

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
