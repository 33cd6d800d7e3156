#pragma once
// Reads a JSON bank as a stream of entries: an array of objects, or an object
// whose "questions" member is one. Memory stays bounded whatever the file
// holds: a text longer than the limit is cut short and its entry marked, and
// nesting deeper than a few dozen levels or an overlong number ends the read
// with a clear error instead of exhausting the stack or the memory.
#include <cstddef>
#include <functional>
#include <istream>
#include <string>

#include "QuestionBank.h"

namespace kelvora {

struct JsonBankItem {
    size_t position = 0; // 1-based place in the array
    BankEntry entry;
    std::string problem; // why the entry cannot be used, found while reading
};

struct JsonReadLimits {
    size_t maxTextBytes = 1024 * 1024;
    size_t maxDepth = 32;
};

// Calls take for every element of the array in turn (elements that are not
// objects come with empty texts); take returns false to stop. The reason the
// file cannot be read, or empty.
std::string ReadJsonBank(std::istream& in, const std::function<bool(JsonBankItem&&)>& take, JsonReadLimits limits = {});

} // namespace kelvora
