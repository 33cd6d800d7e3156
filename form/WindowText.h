#pragma once
#include <windows.h>

#include <string>

#include "text/WideText.h"

// A window's text, as the window reports it at the moment of the call.
std::wstring WindowTextWide(HWND window);
