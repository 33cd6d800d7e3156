#include "AnswerDisplay.h"

#include <string_view>
#include <vector>

#include "TextPieces.h"

namespace kelvora {

namespace {

std::vector<std::string> SplitOptions(std::string_view options)
{
    std::vector<std::string> parts;
    for (std::string_view part : SplitAt(options, OptionSeparators)) {
        part = Trimmed(part, " \t\r");
        if (!part.empty())
            parts.emplace_back(part);
    }
    return parts;
}

// "A. 北京", "A、北京", "A．北京" and "A 北京" all label option A; the label is
// dropped so the answer can write its own.
std::string OptionText(const std::string& option, char letter)
{
    if (option.size() < 2 || (option[0] != letter && option[0] != letter + ('a' - 'A')))
        return option;
    static constexpr std::string_view separators[] = {".", ":", ")", " ", "、", "．", "：", "）"};
    for (std::string_view separator : separators) {
        if (std::string_view(option).substr(1, separator.size()) == separator) {
            std::string rest = option.substr(1 + separator.size());
            size_t first = rest.find_first_not_of(' ');
            return first == std::string::npos ? std::string() : rest.substr(first);
        }
    }
    return option;
}

} // namespace

std::string DisplayAnswer(const BankEntry& entry)
{
    std::vector<std::string> options = SplitOptions(entry.options);
    if (options.empty() || entry.answer.empty())
        return entry.answer;
    std::vector<size_t> chosen;
    for (char c : entry.answer) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - ('a' - 'A'));
        if (c >= 'A' && c <= 'Z') {
            size_t index = static_cast<size_t>(c - 'A');
            if (index >= options.size())
                return entry.answer;
            chosen.push_back(index);
        } else if (c != ' ' && c != ',') {
            return entry.answer; // not a list of option letters: shown as written
        }
    }
    std::string shown;
    for (size_t index : chosen) {
        char letter = static_cast<char>('A' + index);
        if (!shown.empty())
            shown += "；";
        shown += std::string(1, letter) + ". " + OptionText(options[index], letter);
    }
    return shown;
}

} // namespace kelvora
