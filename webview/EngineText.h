#pragma once
#include <string>
#include <string_view>

#include "engine/include/wke.h"
#include "text/AnsiText.h"

// Conversions at the border with the engine. Code page 936 is named
// explicitly, whatever the system's ANSI code page.
AnsiText WideToCp936(std::wstring_view text);
std::wstring Cp936ToWide(std::string_view text);
AnsiText Utf8ToCp936(std::string_view text);

// An engine string as code page 936 text; a null string gives the empty text.
AnsiText EngineStringToCp936(wkeString text);
