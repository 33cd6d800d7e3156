#pragma once
// Reading question banks from CSV or JSON files and storing them. A CSV bank's
// header row names its columns; a JSON bank is an array of objects (or an
// object whose "questions" member is one) with the same names as keys.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Database.h"
#include "QuestionBank.h"

namespace kelvora {

struct BankFileEntry {
    size_t line = 0;  // CSV line, or 1-based position in a JSON array
    BankEntry entry;
};

struct BankFile {
    bool ok = false;
    std::string error;
    std::vector<BankFileEntry> entries;
};

enum class BankFormat { Csv, Json };

BankFile ReadBankText(std::string_view text, BankFormat format);
// The format follows the file's extension (".json"), else its first character.
BankFile ReadBankFile(const std::string& path);

// Why an entry cannot go into the bank, or empty when it can: texts that are
// not UTF-8, an empty question or answer, or a word that would make the tool
// show the answer as a service notice.
std::string CheckEntry(const BankEntry& entry);

struct ImportSummary {
    bool ok = false;
    std::string error;
    int64_t added = 0;
    int64_t updated = 0;
    int64_t unchanged = 0;
    int64_t skipped = 0;
    std::vector<std::string> warnings;
};

// Stores every usable entry (in transactions of a few thousand); a later
// entry with the same normalised question replaces an earlier one.
ImportSummary ImportBank(Connection& db, const BankFile& file, int64_t now);

}  // namespace kelvora
