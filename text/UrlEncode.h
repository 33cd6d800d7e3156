#pragma once
#include <string_view>

#include "text/AnsiText.h"

// Every byte of the text's UTF-8 form as %XX: letters and digits included.
AnsiText UrlEncode(std::string_view text);
