#pragma once
// The bank of questions and answers: storing entries and finding the entry a
// typed question means.
#include <cstdint>
#include <string>
#include <string_view>

#include "Database.h"

namespace kelvora {

struct BankEntry {
    std::string question;  // as the bank words it; the tool shows it as the title
    std::string answer;
    std::string kind;      // question type, free text (单选, 判断, ...)
    std::string options;   // choices separated by "|" or line breaks, may be empty
};

enum class UpsertOutcome { Added, Updated, Unchanged, Failed };

// Stores entry under its normalised question: an entry already there is
// updated, so importing the same bank twice changes nothing.
UpsertOutcome UpsertQuestion(Connection& db, const BankEntry& entry, int64_t now);

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
BankMatch FindBestMatch(Connection& db, std::string_view question);

int64_t CountQuestions(Connection& db);

}  // namespace kelvora
