#pragma once
// Whether the database the server opened can still keep what it is given.
// SQLite goes on writing into a file that was deleted or replaced under it,
// and every such write is lost at the close, so the file is checked by name:
// still there, still the same file, writable, with room left on its disk.
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "Database.h"

namespace kelvora {

class DatabaseHealth {
public:
    // For a PostgreSQL database there is no file to look at: its server
    // keeps its own disk, and a failing write or query says what is wrong.
    DatabaseHealth(std::string location, int64_t minimumFreeBytes)
        : path_(SqliteFileOf(location)), minimumFreeBytes_(minimumFreeBytes), file_(!IsPostgresLocation(location))
    {
    }

    // Notes which file the database is now; later checks compare against it.
    bool Remember(std::string& error);

    // Why a write now would be lost or fail, or empty when it would be kept:
    // the file gone or replaced, read-only, or its disk (nearly) full.
    std::string WriteProblem() const;

    // Only whether the file is still the one remembered; cheap enough for every write.
    std::string IdentityProblem() const;

private:
    std::string path_;
    int64_t minimumFreeBytes_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool remembered_ = false;
    bool file_;
};

} // namespace kelvora
