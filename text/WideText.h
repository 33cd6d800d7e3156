#pragma once
#include <string>
#include <string_view>

#include "text/AnsiText.h"

// The border between the program's code page 936 texts and UTF-16 (window
// APIs, the script engine, the web engine's strings). The code page is named
// explicitly, so the result does not depend on the system's ANSI code page.
// Bytes that do not decode become the platform's replacement character;
// characters without a code page 936 form become its default character. A
// zero character ends a text, since an AnsiText holds no zero byte.
std::wstring WideFromAnsi(std::string_view ansi);
AnsiText AnsiFromWide(std::wstring_view wide);
