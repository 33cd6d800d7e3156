#include "lookup/AnswerRetrieval.h"

void OnLookupPageLoaded(const AnsiText&, int32_t, const AnsiText&)
{
}

AnsiText LookupAnswer(const AnsiText&)
{
    return {};
}

void ReportLookup(const AnsiText&, const AnsiText&)
{
}
