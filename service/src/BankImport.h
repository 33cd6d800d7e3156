#pragma once
// Reading question banks from CSV or JSON files and storing them. A CSV bank's
// header row names its columns; a JSON bank is an array of objects (or an
// object whose "questions" member is one) with the same names as keys.
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "Database.h"
#include "QuestionBank.h"

namespace kelvora {

// A CSV row or JSON text longer than this is refused, entry by entry.
inline constexpr size_t LongestBankRow = 1024 * 1024;

struct BankFileEntry {
    size_t line = 0; // CSV line, or 1-based position in a JSON array
    BankEntry entry;
    std::string problem; // why the entry was refused while reading (too long), or empty
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

// Reads a bank from in one entry at a time, calling take for each (take
// returns false to stop). Memory stays bounded by the longest row kept. The
// reason the bank cannot be read, or empty.
std::string ReadBankStream(std::istream& in, BankFormat format, const std::function<bool(BankFileEntry&&)>& take);

// Why an entry cannot go into the bank, or empty when it can: texts that are
// not UTF-8, an empty question or answer, or a word that would make the tool
// show the answer as a service notice.
std::string CheckEntry(const BankEntry& entry);

struct ImportSummary : UpsertCounts {
    bool ok = false;
    std::string error;
    int64_t skipped = 0;
    std::vector<std::string> warnings; // unless given to a callback instead
};

// Stores every usable entry (in transactions of a few thousand); a later
// entry with the same normalised question replaces an earlier one.
ImportSummary ImportBank(Connection& db, const BankFile& file, int64_t now);

// How far an import of a file has come: first every row is read and
// checked, then the rows are stored (total known by then).
struct ImportProgress {
    bool storing = false;
    int64_t rows = 0;  // rows read in this pass
    int64_t total = 0; // rows in the file, once storing
};

// The same for a bank file, read twice as a stream: first to check every
// entry and find each question's last version, then to store them, so a
// file that cannot be read changes nothing and memory does not grow with the
// file. Warnings go to warn as they are found. An import that was stopped
// half-way is completed by importing again.
// progress, when given, is told every few hundred rows.
ImportSummary ImportBankFile(Connection& db, const std::string& path, int64_t now,
                             const std::function<void(const std::string&)>& warn,
                             const std::function<void(const ImportProgress&)>& progress = nullptr);

} // namespace kelvora
