#pragma once
// Matching measured against a labelled set: typed variants of bank questions
// (each must find its own question) and near-misses (questions one
// meaning-bearing word away from a bank question, which must find nothing).
#include <map>
#include <string>
#include <vector>

#include "Database.h"

namespace kelvora::test {

struct LabelledQuestion {
    size_t line = 0;
    std::string typed;
    std::string bankQuestion; // the variant's own question, or the question the near-miss is close to
    std::string label;        // the variant's form, or the near-miss's kind
};

// Rows of a tab-separated file "typed<TAB>bank question<TAB>label"; lines
// starting with # and empty lines are skipped. Empty when unreadable.
std::vector<LabelledQuestion> ReadLabelledQuestions(const std::string& path);

struct Tally {
    size_t total = 0;
    size_t right = 0;  // variants: found their own question
    size_t wrong = 0;  // variants: found another question; near-misses: found any other question
    size_t missed = 0; // found nothing
};

struct Evaluation {
    Tally variants;
    Tally nearMisses;
    std::map<std::string, Tally> byForm; // variants by form, near-misses by kind ("near-miss " + kind)
    std::vector<std::string> failures;   // one line per variant not answered right and near-miss answered
};

// Runs every question through FindBestMatch on db. A near-miss that is itself
// a bank question (the bank holds both twins) counts as answered only when a
// different question is found.
Evaluation Evaluate(Connection& db, const std::vector<LabelledQuestion>& variants,
                    const std::vector<LabelledQuestion>& nearMisses);

double Percent(size_t part, size_t whole);

} // namespace kelvora::test
