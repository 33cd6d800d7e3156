#pragma once
#include "text/AnsiText.h"

// The click of 按钮1.
void OnQueryButtonClick();
void NavigateToLookupPage(const AnsiText& question);
