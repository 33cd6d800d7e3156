#pragma once
// The columns of a bank file, named alike in a CSV header and in a JSON
// entry's members: question, answer, type and options, in English or Chinese.
#include <string>
#include <string_view>

#include "BankSource.h"

namespace kelvora {

enum class BankColumn { Question, Answer, Kind, Options, Other };

// The column a header or member name stands for; Other for any name we do not keep.
BankColumn BankColumnNamed(std::string_view name);

// Stores value, without surrounding white space, in the entry's field for column.
void AssignColumn(BankEntry& entry, BankColumn column, std::string_view value);

} // namespace kelvora
