#include "lookup/QuestionSubmission.h"

void OnQueryButtonClick()
{
}

void NavigateToLookupPage(const AnsiText&)
{
}
