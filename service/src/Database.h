#pragma once
// Owners of database connections and prepared statements, over either of the
// two stores the service runs on: a SQLite file (the default, one machine) or
// a PostgreSQL database shared by several server instances. SQL is written
// once, with ?N parameters; the PostgreSQL side sends them as $N.
#include <boost/noncopyable.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace kelvora {

// Where the data lives: "sqlite:FILE", a plain file name (SQLite), or a
// PostgreSQL connection URI ("postgresql://..." or "postgres://...").
bool IsPostgresLocation(std::string_view location);
// The location as it may be shown: a URI without its password.
std::string ShownLocation(std::string_view location);
// The SQLite file a location names (without a "sqlite:" prefix).
std::string SqliteFileOf(std::string_view location);

class StatementBackend {
public:
    virtual ~StatementBackend() = default;
    virtual void BindText(int index, std::string_view text) = 0;
    virtual void BindInt(int index, int64_t number) = 0;
    // 1 while a row is ready, 0 at the end, -1 on an error.
    virtual int Step() = 0;
    virtual void Reset() = 0;
    virtual std::string Text(int column) const = 0;
    virtual int64_t Int(int column) const = 0;
};

class Statement {
public:
    Statement() = default;
    explicit Statement(std::unique_ptr<StatementBackend> backend) : backend_(std::move(backend)) {}
    Statement(Statement&& other) noexcept = default;
    Statement& operator=(Statement&& other) noexcept = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Valid() const { return backend_ != nullptr; }
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
    std::unique_ptr<StatementBackend> backend_;
    bool done_ = false;
};

class ConnectionBackend {
public:
    virtual ~ConnectionBackend() = default;
    virtual bool Exec(std::string_view sql) = 0;
    virtual std::unique_ptr<StatementBackend> Prepare(const char* sql) = 0;
    virtual void SetBusyTimeout(int milliseconds) = 0;
    virtual std::string Error() const = 0;
    // Rows the last statement changed.
    virtual int64_t Changes() const = 0;
    virtual bool InTransaction() const = 0;
    // The last failure was a wait for another writer's lock that ran out.
    virtual bool LastFailureWasBusy() const = 0;
    // The connection itself is lost (server gone, restarted): not worth keeping.
    virtual bool Broken() const = 0;
    virtual bool IsPostgres() const = 0;
};

class Connection : boost::noncopyable {
public:
    Connection() = default;
    ~Connection();

    // Opens (creating when missing) the database and brings its schema up.
    bool Open(const std::string& location);
    // Opens an existing database for reading only: creates nothing, changes
    // nothing. False with a reason when it is missing or not this service's database.
    bool OpenExisting(const std::string& location, std::string& error);
    // How long a statement waits for another writer's lock before it fails busy.
    void SetBusyTimeout(int milliseconds);
    bool Exec(std::string_view sql);
    // A prepared statement kept for the connection's life, reset for reuse.
    Statement& Cached(const char* sql);
    // Ends every cached statement's read, so an idle connection holds no snapshot.
    void ResetStatements();
    std::string Error() const;
    bool IsOpen() const { return backend_ != nullptr; }
    bool IsPostgres() const { return backend_ && backend_->IsPostgres(); }
    int64_t Changes() const { return backend_ ? backend_->Changes() : 0; }
    bool InTransaction() const { return backend_ && backend_->InTransaction(); }
    bool LastFailureWasBusy() const { return backend_ && backend_->LastFailureWasBusy(); }
    bool Broken() const { return !backend_ || backend_->Broken(); }

private:
    void Close();

    std::unique_ptr<ConnectionBackend> backend_;
    std::map<const char*, Statement> cache_;
    std::string openError_;
};

// A connection's lock wait changed for one write, and set back after it.
class BusyWait : boost::noncopyable {
public:
    BusyWait(Connection& connection, int milliseconds);
    ~BusyWait();

private:
    Connection& connection_;
};

// Groups statements into one transaction, rolled back unless committed.
// On SQLite it takes the write lock at once (BEGIN IMMEDIATE).
class Transaction : boost::noncopyable {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    bool Begun() const { return begun_; }
    bool Commit();

private:
    Connection& connection_;
    bool begun_ = false;
    bool finished_ = false;
};

// Runs a series of reads on one snapshot: one lock and one look at the
// write-ahead log instead of one per statement. Nested in a transaction it does nothing.
class ReadSnapshot : boost::noncopyable {
public:
    explicit ReadSnapshot(Connection& connection);
    ~ReadSnapshot();

private:
    Connection& connection_;
    bool begun_ = false;
};

// The backends; Connection::Open picks one by the location.
std::unique_ptr<ConnectionBackend> OpenSqlite(const std::string& path, bool readOnly, std::string& error);
std::unique_ptr<ConnectionBackend> OpenPostgres(const std::string& uri, bool readOnly, std::string& error);

} // namespace kelvora
