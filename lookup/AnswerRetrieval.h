#pragma once
#include <cstdint>

#include "text/AnsiText.h"

// The LoadingFinished event of 浏览器; its arguments are not read.
void OnLookupPageLoaded(const AnsiText& url, int32_t loadingResult, const AnsiText& failureReason);
AnsiText LookupAnswer(const AnsiText& key);
void ReportLookup(const AnsiText& question, const AnsiText& answer);
