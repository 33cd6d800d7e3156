#pragma once
#include <string>
#include <string_view>

#include "text/AnsiText.h"

// The script engine's border: its strings are UTF-16, ours code page 936.
// A character that code page 936 cannot hold comes back as its default
// character; a zero character ends the text, since AnsiText holds no zero byte.
std::wstring WideFromAnsi(std::string_view text);
AnsiText AnsiFromWide(std::wstring_view text);
