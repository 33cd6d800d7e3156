#pragma once
// Thin owners of SQLite handles and the database's schema.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace kelvora {

class Statement {
public:
    Statement() = default;
    explicit Statement(sqlite3_stmt* statement) : statement_(statement) {}
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Valid() const { return statement_ != nullptr; }
    Statement& Bind(int index, std::string_view text);
    Statement& Bind(int index, int64_t number);
    // True while a row is ready; false at the end or on an error (see Done).
    bool Step();
    // Runs the statement to its end; true when it finished without an error.
    bool Run();
    bool Done() const { return done_; }
    void Reset();

    std::string Text(int column) const;
    int64_t Int(int column) const;

private:
    sqlite3_stmt* statement_ = nullptr;
    bool done_ = false;
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens (creating when missing) the database and brings its schema up.
    bool Open(const std::string& path);
    // Opens an existing database for reading only: creates nothing, changes
    // nothing. False with a reason when path is missing or not this service's database.
    bool OpenExisting(const std::string& path, std::string& error);
    // How long a statement waits for another writer's lock before it fails busy.
    void SetBusyTimeout(int milliseconds);
    bool Exec(std::string_view sql);
    // A prepared statement kept for the connection's life, reset for reuse.
    Statement& Cached(const char* sql);
    // Ends every cached statement's read, so an idle connection holds no snapshot.
    void ResetStatements();
    std::string Error() const;
    sqlite3* Handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
    std::map<const char*, Statement> cache_;
};

// A connection's lock wait changed for one write, and set back after it.
class BusyWait {
public:
    BusyWait(Connection& connection, int milliseconds);
    ~BusyWait();
    BusyWait(const BusyWait&) = delete;
    BusyWait& operator=(const BusyWait&) = delete;

private:
    Connection& connection_;
};

// Groups statements into one transaction, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Begun() const { return begun_; }
    bool Commit();

private:
    Connection& connection_;
    bool begun_ = false;
    bool finished_ = false;
};

// Runs a series of reads on one snapshot: one lock and one look at the
// write-ahead log instead of one per statement. Nested in a transaction it does nothing.
class ReadSnapshot {
public:
    explicit ReadSnapshot(Connection& connection);
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

private:
    Connection& connection_;
    bool begun_ = false;
};

}  // namespace kelvora
