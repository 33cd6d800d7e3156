#pragma once
// The bank of questions and answers: storing entries and finding the entry a
// typed question means.
#include <cstdint>
#include <string>
#include <string_view>

#include "BankSource.h"
#include "Database.h"

namespace kelvora {

enum class UpsertOutcome { Added, Updated, Unchanged, Failed };

// Stores entry under its normalised question: an entry already there is
// updated, so importing the same bank twice changes nothing.
UpsertOutcome UpsertQuestion(Connection& db, const BankEntry& entry, int64_t now);

// How many entries a run of upserts stored new, changed, or found as they were.
struct UpsertCounts {
    int64_t added = 0;
    int64_t updated = 0;
    int64_t unchanged = 0;
    void Count(UpsertOutcome outcome); // a failure is not counted
};

// Compacts the trigram index and recounts how many questions hold each
// trigram; run after changing questions.
bool RefreshTrigramCounts(Connection& db);

struct BankMatch {
    bool found = false;
    BankEntry entry;
    double score = 0.0;
};

// Brings questions stored under an earlier version of the normal form
// (NormalizeQuestionUtf8) to the current one; does nothing when they are
// current. Run before importing and when the server starts.
bool UpdateNormalForms(Connection& db);

// The best entry for question (UTF-8): the exact normalised form first, then
// trigram candidates within a few typing mistakes (see CompareQuestions),
// the closest first, leaving out any that differs by a contrast word
// (ContrastList); then the one bank question that the typed one begins.
// Each lookup's work is bounded, whatever the question.
BankMatch FindBestMatch(BankSource& bank, std::string_view question);
// The same over the database's own index, on one read snapshot.
BankMatch FindBestMatch(Connection& db, std::string_view question);

int64_t CountQuestions(Connection& db);

} // namespace kelvora
