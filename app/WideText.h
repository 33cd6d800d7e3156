#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "text/AnsiText.h"

// The border between the program's code page 936 texts and the UTF-16 texts
// of the window APIs. The code page is named explicitly, so the result does
// not depend on the system's ANSI code page. Bytes that do not decode become
// the platform's replacement character; characters that have no code page 936
// form become "?".
std::wstring WideFromAnsi(std::string_view ansi);
AnsiText AnsiFromWide(std::wstring_view wide);

// A window's text, as the window reports it at the moment of the call.
std::wstring WindowTextWide(HWND window);
