#pragma once
// Writes the tool's reports for the server, each committed before it is
// acknowledged. A report waits for the write lock about 2 s at most, and only
// a few wait at once, so that a long writer elsewhere (an import, a backup)
// costs reports a 503 rather than holding every worker from lookups.
#include <chrono>
#include <cstdint>
#include <string_view>

#include "Retention.h"

namespace kelvora {

class ConnectionPool;
class DatabaseHealth;

enum class ReportOutcome {
    Recorded, // committed to the database file the server opened
    Busy,     // another writer kept the lock too long
    Failed,   // the database refused the write (full disk, read-only, gone)
    Lost,     // committed, but to a file deleted or replaced meanwhile
};

class ReportWriter {
public:
    ReportWriter(ConnectionPool& pool, const DatabaseHealth& health, RecordLimits limits)
        : pool_(pool), health_(health), limits_(limits)
    {
    }

    ReportOutcome Record(std::string_view question, std::string_view answer, std::string_view client, int64_t now);

    static constexpr std::chrono::milliseconds LockWait{2000};

private:
    ConnectionPool& pool_;
    const DatabaseHealth& health_;
    RecordLimits limits_;
};

} // namespace kelvora
