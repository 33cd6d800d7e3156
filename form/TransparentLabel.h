#pragma once
#include <windows.h>

#include "text/AnsiText.h"

// A see-through text label: paints its text in its own colour and nothing
// else, so the parent's background shows around it. The text is the label's
// own (set at creation and by WM_SETTEXT); an empty text paints nothing.

inline constexpr wchar_t TransparentLabelClassName[] = L"WTTransparentLabel";

// Passed as the creation parameter of a label window.
struct TransparentLabelStyle {
    COLORREF textColor = 0;
    UINT alignment = DT_LEFT; // DT_LEFT or DT_CENTER
};

void RegisterTransparentLabelClass();

// The stored text of a label window; the empty text for any other window.
AnsiText TransparentLabelText(HWND label);

// Replaces the text and repaints the parent's background under the label
// before the new text is drawn over it.
void SetTransparentLabelText(HWND label, const AnsiText& text);
