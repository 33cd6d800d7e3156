#include "ContrastList.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "BuiltinData.h"
#include "ChineseScript.h"
#include "QuestionText.h"
#include "TextPieces.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

// Words separated by spaces, tabs, commas or slashes, normalised as questions are.
std::vector<std::u32string> ReadWords(std::string_view list)
{
    std::vector<std::u32string> words;
    auto decoded = DecodeUtf8(ToSimplified(list));
    if (!decoded)
        return words;
    std::u32string current;
    auto flush = [&] {
        std::u32string word = NormalizeQuestion(current);
        if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end())
            words.push_back(word);
        current.clear();
    };
    for (char32_t c : *decoded) {
        if (c == ' ' || c == '\t' || c == ',' || c == U'，' || c == '/' || c == U'、' || c == 0x3000) {
            flush();
        } else {
            current.push_back(c);
        }
    }
    flush();
    return words;
}

} // namespace

void ContrastList::AddGroup(const std::vector<std::u32string>& members, bool negation)
{
    uint32_t group = static_cast<uint32_t>(groupIsNegation_.size());
    groupIsNegation_.push_back(negation);
    for (const std::u32string& member : members) {
        byFirstCharacter_[member.front()].push_back(static_cast<uint32_t>(words_.size()));
        words_.push_back({member, group});
        longestWord_ = std::max(longestWord_, member.size());
    }
}

ContrastList ContrastList::Parse(std::string_view text, std::vector<std::string>* warnings)
{
    ContrastList list;
    size_t lineNumber = 0;
    auto warn = [&](const std::string& message) {
        if (warnings)
            warnings->push_back("line " + std::to_string(lineNumber) + ": " + message);
    };
    text = WithoutByteOrderMark(text);
    while (!text.empty()) {
        ++lineNumber;
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = Trimmed(line, " \t\r");
        if (line.empty())
            continue;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            warn("no \"pair:\", \"negation:\" or \"class NAME:\" before the words");
            continue;
        }
        std::string_view head = Trimmed(line.substr(0, colon), " \t\r");
        std::vector<std::u32string> words = ReadWords(line.substr(colon + 1));
        if (head == "negation") {
            if (words.empty())
                warn("a negation line without a word");
            for (const std::u32string& word : words)
                list.AddGroup({word}, true);
        } else if (head == "pair" || head.substr(0, 6) == "class ") {
            if (words.size() < 2) {
                warn("a pair or class needs at least two words");
                continue;
            }
            list.AddGroup(words, false);
        } else {
            warn("unknown entry \"" + std::string(head) + "\"");
        }
    }
    return list;
}

void ContrastList::CountWords(std::u32string_view text, int sign, std::vector<std::pair<uint32_t, int>>& counts) const
{
    for (size_t i = 0; i < text.size(); ++i) {
        auto found = byFirstCharacter_.find(text[i]);
        if (found == byFirstCharacter_.end())
            continue;
        for (uint32_t index : found->second) {
            if (text.compare(i, words_[index].text.size(), words_[index].text) != 0)
                continue;
            auto counted = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == index; });
            if (counted == counts.end()) {
                counts.emplace_back(index, sign);
            } else {
                counted->second += sign;
            }
        }
    }
}

bool ContrastList::ChangesMeaning(std::u32string_view typed, std::u32string_view bank) const
{
    if (words_.empty())
        return false;
    // Only the part that differs, widened by a word's length on either side,
    // can hold a word that one text has and the other has not.
    size_t shorter = std::min(typed.size(), bank.size());
    size_t prefix = 0;
    while (prefix < shorter && typed[prefix] == bank[prefix])
        ++prefix;
    size_t suffix = 0;
    while (suffix < shorter - prefix && typed[typed.size() - 1 - suffix] == bank[bank.size() - 1 - suffix])
        ++suffix;
    if (prefix == typed.size() && prefix == bank.size())
        return false;
    size_t margin = longestWord_ > 0 ? longestWord_ - 1 : 0;
    size_t from = prefix > margin ? prefix - margin : 0;
    size_t keep = suffix > margin ? suffix - margin : 0;
    std::vector<std::pair<uint32_t, int>> counts;
    CountWords(typed.substr(from, typed.size() - keep - from), +1, counts);
    CountWords(bank.substr(from, bank.size() - keep - from), -1, counts);

    // Per group: a negation counts when it was added or removed, a pair or
    // class when one member gained and another lost.
    std::vector<std::pair<uint32_t, int>> groups; // group, bit 1: a member gained, bit 2: a member lost
    for (const auto& [index, difference] : counts) {
        if (difference == 0)
            continue;
        uint32_t group = words_[index].group;
        if (groupIsNegation_[group])
            return true;
        auto seen = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == group; });
        if (seen == groups.end())
            seen = groups.insert(groups.end(), {group, 0});
        seen->second |= difference > 0 ? 1 : 2;
        if (seen->second == 3)
            return true;
    }
    return false;
}

const ContrastList& Contrasts()
{
    static const ContrastList list = [] {
        std::string text(BuiltinContrasts());
        std::string source = "the built-in contrast list";
        if (const char* path = std::getenv("KELVORA_CONTRASTS_FILE"); path && *path) {
            std::ifstream in(path, std::ios::binary);
            if (in) {
                std::ostringstream content;
                content << in.rdbuf();
                text = content.str();
                source = path;
            } else {
                std::cerr << "kelvora-service: cannot read " << path << ", using the built-in contrast list\n";
            }
        }
        std::vector<std::string> warnings;
        ContrastList parsed = ContrastList::Parse(text, &warnings);
        for (const std::string& warning : warnings)
            std::cerr << source << ": " << warning << "\n";
        return parsed;
    }();
    return list;
}

} // namespace kelvora
