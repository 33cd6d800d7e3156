#include "Database.h"

namespace kelvora {

namespace {

constexpr int DefaultBusyMilliseconds = 5000;

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

bool IsPostgresLocation(std::string_view location)
{
    return StartsWith(location, "postgresql://") || StartsWith(location, "postgres://");
}

std::string ShownLocation(std::string_view location)
{
    if (!IsPostgresLocation(location))
        return SqliteFileOf(location);
    std::string shown(location);
    size_t scheme = shown.find("://") + 3;
    size_t at = shown.find('@', scheme);
    size_t colon = shown.find(':', scheme);
    if (at != std::string::npos && colon < at)
        shown.replace(colon + 1, at - colon - 1, "***");
    size_t password = shown.find("password=");
    if (password != std::string::npos) {
        size_t end = shown.find('&', password);
        shown.replace(password + 9, (end == std::string::npos ? shown.size() : end) - password - 9, "***");
    }
    return shown;
}

std::string SqliteFileOf(std::string_view location)
{
    if (StartsWith(location, "sqlite:"))
        location.remove_prefix(7);
    return std::string(location);
}

Statement& Statement::Bind(int index, std::string_view text)
{
    if (backend_)
        backend_->BindText(index, text);
    return *this;
}

Statement& Statement::Bind(int index, int64_t number)
{
    if (backend_)
        backend_->BindInt(index, number);
    return *this;
}

bool Statement::Step()
{
    if (!backend_)
        return false;
    int rc = backend_->Step();
    if (rc > 0)
        return true;
    done_ = rc == 0;
    return false;
}

bool Statement::Run()
{
    while (Step()) {
    }
    bool ok = done_;
    Reset();
    return ok;
}

void Statement::Reset()
{
    if (backend_)
        backend_->Reset();
    done_ = false;
}

std::string Statement::Text(int column) const
{
    return backend_ ? backend_->Text(column) : std::string();
}

int64_t Statement::Int(int column) const
{
    return backend_ ? backend_->Int(column) : 0;
}

Connection::~Connection()
{
    Close();
}

void Connection::Close()
{
    cache_.clear(); // statements first: a connection with live statements does not close
    backend_.reset();
}

bool Connection::Open(const std::string& location)
{
    Close();
    openError_.clear();
    backend_ = IsPostgresLocation(location) ? OpenPostgres(location, false, openError_)
                                            : OpenSqlite(SqliteFileOf(location), false, openError_);
    return backend_ != nullptr;
}

bool Connection::OpenExisting(const std::string& location, std::string& error)
{
    Close();
    backend_ = IsPostgresLocation(location) ? OpenPostgres(location, true, error)
                                            : OpenSqlite(SqliteFileOf(location), true, error);
    return backend_ != nullptr;
}

void Connection::SetBusyTimeout(int milliseconds)
{
    if (backend_)
        backend_->SetBusyTimeout(milliseconds > 0 ? milliseconds : 0);
}

bool Connection::Exec(std::string_view sql)
{
    return backend_ && backend_->Exec(sql);
}

Statement& Connection::Cached(const char* sql)
{
    auto found = cache_.find(sql);
    if (found != cache_.end() && found->second.Valid()) {
        found->second.Reset();
        return found->second;
    }
    // A statement that failed to prepare is empty: it binds and steps to
    // nothing, and the next use prepares it again (the failure may have been
    // a lock or statement time-out while the schema was being changed).
    Statement prepared(backend_ ? backend_->Prepare(sql) : nullptr);
    if (found != cache_.end())
        return found->second = std::move(prepared);
    return cache_.emplace(sql, std::move(prepared)).first->second;
}

void Connection::ResetStatements()
{
    for (auto& [sql, statement] : cache_)
        statement.Reset();
}

std::string Connection::Error() const
{
    if (backend_)
        return backend_->Error();
    return openError_.empty() ? "database not open" : openError_;
}

BusyWait::BusyWait(Connection& connection, int milliseconds) : connection_(connection)
{
    connection_.SetBusyTimeout(milliseconds);
}

BusyWait::~BusyWait()
{
    connection_.SetBusyTimeout(DefaultBusyMilliseconds);
}

Transaction::Transaction(Connection& connection) : connection_(connection)
{
    begun_ = connection_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (begun_ && !finished_)
        connection_.Exec("ROLLBACK");
}

bool Transaction::Commit()
{
    if (!begun_ || finished_)
        return false;
    finished_ = connection_.Exec("COMMIT");
    return finished_;
}

ReadSnapshot::ReadSnapshot(Connection& connection) : connection_(connection)
{
    // PostgreSQL reads each statement on a snapshot of its own without
    // locking anything, and a transaction would only add round trips.
    if (connection_.IsOpen() && !connection_.IsPostgres() && !connection_.InTransaction()) {
        begun_ = connection_.Exec("BEGIN");
    }
}

ReadSnapshot::~ReadSnapshot()
{
    if (begun_)
        connection_.Exec("COMMIT");
}

} // namespace kelvora
