#pragma once
// How a bank entry's answer is shown to the student.
#include <string>
#include <string_view>
#include <vector>

#include "QuestionBank.h"

namespace kelvora {

// An entry's options text cut at "|" and line breaks, each part as it stands.
std::vector<std::string_view> OptionParts(std::string_view options);

// The answer as the tool shows it: for a choice question whose answer is
// option letters, the letters followed by the options' texts.
std::string DisplayAnswer(const BankEntry& entry);

} // namespace kelvora
