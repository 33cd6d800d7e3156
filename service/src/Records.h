#pragma once
// What the service remembers about its use: every report the tool sends, and
// the questions it could not answer, so the operator knows what to add.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Database.h"

namespace kelvora {

// Each writes one row: committed at once, or with the caller's transaction
// when there is one (the server's reports commit before their reply).
// A report's row id goes to id when given.
bool RecordReport(Connection& db, std::string_view question, std::string_view answer, std::string_view client,
                  int64_t now, int64_t* id = nullptr);
bool RecordMiss(Connection& db, std::string_view question, int64_t now);

struct UnansweredQuestion {
    std::string question; // the latest wording asked
    int64_t asked = 0;
    int64_t lastAskedAt = 0;
};

// Missed questions, most asked first (ties: most recent first).
std::vector<UnansweredQuestion> ListUnanswered(Connection& db, int64_t limit);

struct ServiceStats {
    int64_t questions = 0;
    int64_t reports = 0;
    int64_t reportsLastDay = 0;
    int64_t unansweredQuestions = 0;
    int64_t unansweredLookups = 0;
};

ServiceStats ReadStats(Connection& db, int64_t now);

// A record's time (seconds since the epoch) in strftime's format, in UTC or
// in the server's local time.
std::string TimeText(int64_t seconds, const char* format, bool local);

} // namespace kelvora
