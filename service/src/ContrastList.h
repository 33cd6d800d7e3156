#pragma once
// Words whose exchange changes what a question asks: opposites (最大/最小),
// negations (不, 没有) and names of one kind (dynasties, countries, people).
// A typed question that differs from a bank question only by a typo is the
// same question; one that differs by such a word is another question, and
// answering it with the bank's answer would be wrong. The list is data
// (service/data/contrasts.txt), built into the program.
//
// Format, one entry a line, # starts a comment:
//   pair: 最大 最小            two words of opposite meaning
//   negation: 不               a word whose presence or absence inverts a question
//   class dynasty: 秦 汉 唐    names of one kind: one in place of another is another question
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kelvora {

class ContrastList {
public:
    // Reads the list's text; lines it cannot use are named in warnings.
    static ContrastList Parse(std::string_view text, std::vector<std::string>* warnings = nullptr);

    // Whether two normalised questions differ by a contrast: one word of a
    // pair or class given for another, or a negation added or taken away.
    bool ChangesMeaning(std::u32string_view typed, std::u32string_view bank) const;

    size_t WordCount() const { return words_.size(); }
    size_t GroupCount() const { return groupIsNegation_.size(); }

private:
    struct Word {
        std::u32string text;
        uint32_t group;
    };
    void AddGroup(const std::vector<std::u32string>& members, bool negation);
    // Adds sign (+1 or -1) for each listed word that occurs in text.
    void CountWords(std::u32string_view text, int sign, std::vector<std::pair<uint32_t, int>>& counts) const;

    std::vector<Word> words_;
    std::vector<bool> groupIsNegation_;
    std::unordered_map<char32_t, std::vector<uint32_t>> byFirstCharacter_;
    size_t longestWord_ = 0;
};

// The list the service matches with: the file named by the environment
// variable KELVORA_CONTRASTS_FILE when it is set and readable, otherwise the
// list built into the program. Loaded once.
const ContrastList& Contrasts();

} // namespace kelvora
