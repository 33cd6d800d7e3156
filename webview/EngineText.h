#pragma once
#include "engine/include/wke.h"
#include "text/AnsiText.h"

// Texts coming back from the engine, as code page 936 texts. A null string
// or pointer gives the empty text.
AnsiText EngineStringToCp936(wkeString text);
AnsiText EngineUtf8ToCp936(const char* utf8);
