#pragma once
// Copies a SQLite database's bank, reports and unanswered questions into a
// PostgreSQL database. Running it again copies nothing twice: questions are
// stored under their normal form, reports past the last one copied (a mark
// kept in the target), unanswered questions merged by their normal form.
#include <cstdint>
#include <string>

#include "Database.h"
#include "QuestionBank.h"

namespace kelvora {

// The questions copied, counted as an import counts them, and what else was copied.
struct MigrationSummary : UpsertCounts {
    bool ok = false;
    std::string error;
    int64_t reports = 0;    // copied by this run
    int64_t unanswered = 0; // merged by this run
};

MigrationSummary MigrateDatabase(Connection& from, const std::string& fromName, Connection& to);

} // namespace kelvora
