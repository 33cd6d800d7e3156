#pragma once
// What matching reads of the bank: entries by normal form and by id, and the
// fuzzy index (which questions hold a trigram of the normal form). SQLite
// answers from its FTS5 trigram index; a server on PostgreSQL answers from
// a copy of the bank in its memory (BankCopy). Either gives the same matches.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

struct BankEntry {
    std::string question; // as the bank words it; the tool shows it as the title
    std::string answer;
    std::string kind;    // question type, free text (单选, 判断, ...)
    std::string options; // choices separated by OptionSeparators, may be empty
};

inline constexpr std::string_view OptionSeparators = "|\n";

// The longest question, and answer with its options, an entry may have, in bytes.
inline constexpr size_t MaxQuestionBytes = 4000;
inline constexpr size_t MaxAnswerBytes = 20000;
// Questions of at most this many characters are matched by length, not by trigrams.
inline constexpr int64_t ShortQuestionLength = 6;

class BankSource {
public:
    virtual ~BankSource() = default;
    virtual bool ExactEntry(const std::string& norm, BankEntry& entry) = 0;
    virtual bool EntryById(int64_t id, BankEntry& entry) = 0;
    virtual bool NormById(int64_t id, std::string& norm) = 0;
    virtual std::string OptionsById(int64_t id) = 0;
    // How many questions hold the trigram (three characters, UTF-8).
    virtual int64_t TrigramDocs(const std::string& gram) = 0;
    // Appends the ids of the questions that hold it.
    virtual void ReadPostings(const std::string& gram, std::vector<int64_t>& ids) = 0;
    // Questions of low to high characters (at most ShortQuestionLength), by length, then id,
    // while take returns true.
    virtual void ShortQuestions(int64_t low, int64_t high,
                                const std::function<bool(int64_t, std::string_view)>& take) = 0;
    // The first most normal forms after from and before to, in byte order.
    virtual void Between(const std::string& from, const std::string& to, size_t most,
                         const std::function<void(int64_t, std::string_view)>& take) = 0;
};

} // namespace kelvora
