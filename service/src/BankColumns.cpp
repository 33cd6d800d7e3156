#include "BankColumns.h"

#include "TextPieces.h"

namespace kelvora {

BankColumn BankColumnNamed(std::string_view name)
{
    std::string key(Trimmed(name));
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    if (key == "question" || key == "题目" || key == "问题" || key == "title")
        return BankColumn::Question;
    if (key == "answer" || key == "答案")
        return BankColumn::Answer;
    if (key == "type" || key == "kind" || key == "题型" || key == "类型")
        return BankColumn::Kind;
    if (key == "options" || key == "选项")
        return BankColumn::Options;
    return BankColumn::Other;
}

void AssignColumn(BankEntry& entry, BankColumn column, std::string_view value)
{
    switch (column) {
    case BankColumn::Question: entry.question = Trimmed(value); break;
    case BankColumn::Answer: entry.answer = Trimmed(value); break;
    case BankColumn::Kind: entry.kind = Trimmed(value); break;
    case BankColumn::Options: entry.options = Trimmed(value); break;
    case BankColumn::Other: break;
    }
}

} // namespace kelvora
