#pragma once
// What the operators' console reads and changes in the database, each behind
// one small function: operator accounts, the overview's figures, unanswered
// questions, the bank and the recent lookups.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Database.h"
#include "QuestionBank.h"

namespace kelvora {

// The console's own table (operator accounts); with the rest of the schema.
bool EnsureConsoleTables(Connection& db);

struct OperatorAccount {
    std::string name;
    int64_t createdAt = 0;
};

enum class OperatorChange { Done, Exists, Missing, Failed };

OperatorChange AddOperator(Connection& db, const std::string& name, const std::string& passwordHash, int64_t now);
OperatorChange RemoveOperator(Connection& db, const std::string& name);
std::vector<OperatorAccount> ListOperators(Connection& db);
// The stored hash, or nothing when there is no such operator.
std::optional<std::string> OperatorPasswordHash(Connection& db, const std::string& name);

// A lookup as the tool reports it counts as answered unless the answer it
// received was a service notice (no such question, a bad key, a refusal).
bool IsAnsweredLookup(const std::string& answer);

struct ConsoleOverview {
    int64_t questions = 0;
    int64_t lookupsToday = 0;   // since todayStart
    int64_t lookupsLastDay = 0; // the last 24 h
    int64_t answeredLastDay = 0;
    int64_t firstHour = 0;                // Unix time of the first hourly bucket
    std::vector<int64_t> answeredPerHour; // 168 hours, the last ending with the current hour
    std::vector<int64_t> unansweredPerHour;
};

ConsoleOverview ReadOverview(Connection& db, int64_t now, int64_t todayStart);

struct UnansweredItem {
    std::string key;      // the normalised form that groups its wordings
    std::string question; // the latest wording
    int64_t asked = 0;
    int64_t lastAskedAt = 0;
};

// Most asked first; questions the bank has since learnt are left out.
std::vector<UnansweredItem> ListUnansweredItems(Connection& db, int64_t limit, int64_t offset);
int64_t CountUnansweredItems(Connection& db);
std::optional<UnansweredItem> FindUnansweredItem(Connection& db, const std::string& key);
bool DismissUnanswered(Connection& db, const std::string& key);
// Rows the connection's last statement changed.
int64_t ChangedRows(Connection& db);

struct BankRow {
    int64_t id = 0;
    BankEntry entry;
    int64_t updatedAt = 0;
    double similarity = 0.0; // to the searched text
};

std::vector<BankRow> ListBank(Connection& db, int64_t limit, int64_t offset);
int64_t CountBank(Connection& db);
std::optional<BankRow> FindBankRow(Connection& db, int64_t id);

struct BankSearch {
    std::optional<BankRow> lookupAnswer; // what a lookup of the text would answer, with its score
    std::vector<BankRow> rows;           // questions holding the text, the most similar first
};

BankSearch SearchBank(Connection& db, BankSource* bank, const std::string& text, int64_t limit);

struct BankChange {
    bool ok = false;
    int64_t id = 0;         // the row changed or added
    int64_t conflictId = 0; // another row already holds the same question
    bool missing = false;   // the row is gone
    std::string error;      // the database's complaint
};

// Each runs in one transaction, so nothing is stored half; the fuzzy index's
// counts are brought up to date after it.
BankChange AddBankEntry(Connection& db, const BankEntry& entry, int64_t now);
BankChange EditBankEntry(Connection& db, int64_t id, const BankEntry& entry, int64_t now);
BankChange DeleteBankEntry(Connection& db, int64_t id);
// Stores the answer (adding the question or updating the one already there)
// and takes the unanswered question under key off the list.
BankChange AnswerUnanswered(Connection& db, const std::string& key, const BankEntry& entry, int64_t now);

void ForEachBankEntry(Connection& db, const std::function<void(const BankEntry&)>& take);

struct LookupRow {
    int64_t id = 0;
    int64_t askedAt = 0;
    std::string client;
    std::string question;
    std::string answer;
};

// The newest first; text (in the question or the answer) and client filter
// when not empty.
std::vector<LookupRow> ListLookups(Connection& db, const std::string& text, const std::string& client, int64_t limit,
                                   int64_t offset);

} // namespace kelvora
