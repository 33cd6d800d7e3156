#pragma once
#include <string>

#include "wke.h"

// What a wkeString points at: UTF-16 text that lives on the caller's stack
// for the duration of one callback.
struct wkeStringImpl {
    std::wstring text;
};
