#pragma once
// Copies a SQLite database's bank, reports and unanswered questions into a
// PostgreSQL database. Running it again copies nothing twice: questions are
// stored under their normal form, reports past the last one copied (a mark
// kept in the target), unanswered questions merged by their normal form.
#include <cstdint>
#include <string>

#include "Database.h"

namespace kelvora {

struct MigrationSummary {
    bool ok = false;
    std::string error;
    int64_t added = 0;
    int64_t updated = 0;
    int64_t unchanged = 0;
    int64_t reports = 0;    // copied by this run
    int64_t unanswered = 0; // merged by this run
};

MigrationSummary MigrateDatabase(Connection& from, const std::string& fromName, Connection& to);

} // namespace kelvora
