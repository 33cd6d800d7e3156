#pragma once
// How a bank entry's answer is shown to the student.
#include <string>

#include "QuestionBank.h"

namespace kelvora {

// The answer as the tool shows it: for a choice question whose answer is
// option letters, the letters followed by the options' texts.
std::string DisplayAnswer(const BankEntry& entry);

} // namespace kelvora
