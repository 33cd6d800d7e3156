#include "Database.h"

#include <sqlite3.h>

namespace kelvora {

namespace {

// Questions are looked up by their normalised form; the trigram index over
// that form gives fuzzy candidates. How many questions hold each trigram is
// copied from the index's vocabulary after every import, since counting it
// there costs as much as reading the trigram's whole posting list.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS questions(
    id INTEGER PRIMARY KEY,
    question TEXT NOT NULL,
    norm TEXT NOT NULL UNIQUE,
    norm_length INTEGER NOT NULL,
    answer TEXT NOT NULL,
    kind TEXT NOT NULL DEFAULT '',
    options TEXT NOT NULL DEFAULT '',
    updated_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS questions_short ON questions(norm_length) WHERE norm_length <= 6;
CREATE VIRTUAL TABLE IF NOT EXISTS questions_fts USING fts5(
    norm, content='questions', content_rowid='id', tokenize='trigram case_sensitive 1');
CREATE VIRTUAL TABLE IF NOT EXISTS questions_terms USING fts5vocab(questions_fts, 'row');
CREATE TABLE IF NOT EXISTS trigram_counts(term TEXT PRIMARY KEY, docs INTEGER NOT NULL) WITHOUT ROWID;
CREATE TRIGGER IF NOT EXISTS questions_fts_insert AFTER INSERT ON questions BEGIN
    INSERT INTO questions_fts(rowid, norm) VALUES (new.id, new.norm);
END;
CREATE TRIGGER IF NOT EXISTS questions_fts_delete AFTER DELETE ON questions BEGIN
    INSERT INTO questions_fts(questions_fts, rowid, norm) VALUES ('delete', old.id, old.norm);
END;
CREATE TRIGGER IF NOT EXISTS questions_fts_update AFTER UPDATE OF norm ON questions BEGIN
    INSERT INTO questions_fts(questions_fts, rowid, norm) VALUES ('delete', old.id, old.norm);
    INSERT INTO questions_fts(rowid, norm) VALUES (new.id, new.norm);
END;
CREATE TABLE IF NOT EXISTS reports(
    id INTEGER PRIMARY KEY,
    asked_at INTEGER NOT NULL,
    client TEXT NOT NULL,
    question TEXT NOT NULL,
    answer TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS misses(
    norm TEXT PRIMARY KEY,
    question TEXT NOT NULL,
    asked INTEGER NOT NULL,
    first_at INTEGER NOT NULL,
    last_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS misses_by_count ON misses(asked DESC, last_at DESC);
CREATE TABLE IF NOT EXISTS bank_state(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
)sql";

constexpr int kDefaultBusyMilliseconds = 5000;

}  // namespace

Statement::~Statement() {
    if (statement_) sqlite3_finalize(statement_);
}

Statement::Statement(Statement&& other) noexcept : statement_(other.statement_), done_(other.done_) {
    other.statement_ = nullptr;
}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        if (statement_) sqlite3_finalize(statement_);
        statement_ = other.statement_;
        done_ = other.done_;
        other.statement_ = nullptr;
    }
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    if (statement_) {
        sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    return *this;
}

Statement& Statement::Bind(int index, int64_t number) {
    if (statement_) sqlite3_bind_int64(statement_, index, number);
    return *this;
}

bool Statement::Step() {
    if (!statement_) return false;
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    done_ = rc == SQLITE_DONE;
    return false;
}

bool Statement::Run() {
    while (Step()) {
    }
    bool ok = done_;
    Reset();
    return ok;
}

void Statement::Reset() {
    if (!statement_) return;
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    done_ = false;
}

std::string Statement::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    if (!text) return {};
    return std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement_, column));
}

int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

Connection::~Connection() {
    cache_.clear();  // statements first: a connection with live statements does not close
    if (db_) sqlite3_close(db_);
}

bool Connection::Open(const std::string& path) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) return false;
    sqlite3_busy_timeout(db_, kDefaultBusyMilliseconds);
    // Reading the bank through a mapping spares a copy of every page per
    // lookup. The mapped pages are the page cache, shared by all connections
    // (though RSS counts them once per connection).
    Exec("PRAGMA mmap_size=268435456");
    // WAL lets readers run beside the writer; NORMAL sync keeps every commit
    // through a crash of the process (the case a kill -9 tests), fsyncing at checkpoints.
    return Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=NORMAL") &&
           Exec("PRAGMA foreign_keys=ON") && Exec(kSchema);
}

bool Connection::OpenExisting(const std::string& path, std::string& error) {
    // Without SQLITE_OPEN_CREATE a missing file stays missing; read-only, the
    // schema is not brought up either, so a stray file is left as it was.
    int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        error = "no database at " + path;
        if (db_) {
            sqlite3_close(db_);
            db_ = nullptr;
        }
        return false;
    }
    sqlite3_busy_timeout(db_, kDefaultBusyMilliseconds);
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'questions'", -1,
                                &raw, nullptr);
    Statement probe(raw);
    bool found = rc == SQLITE_OK && probe.Step();
    if (!found) {
        error = probe.Done() ? path + " is not a kelvora-service database" : path + ": " + sqlite3_errmsg(db_);
        probe = Statement();
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

void Connection::SetBusyTimeout(int milliseconds) {
    if (db_) sqlite3_busy_timeout(db_, milliseconds > 0 ? milliseconds : 0);
}

bool Connection::Exec(std::string_view sql) {
    if (!db_) return false;
    std::string text(sql);
    return sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

Statement& Connection::Cached(const char* sql) {
    auto found = cache_.find(sql);
    if (found != cache_.end()) {
        found->second.Reset();
        return found->second;
    }
    sqlite3_stmt* raw = nullptr;
    if (db_) sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    // A statement that failed to prepare stays empty: it binds and steps to nothing.
    return cache_.emplace(sql, Statement(raw)).first->second;
}

void Connection::ResetStatements() {
    for (auto& [sql, statement] : cache_) statement.Reset();
}

std::string Connection::Error() const {
    return db_ ? sqlite3_errmsg(db_) : "database not open";
}

BusyWait::BusyWait(Connection& connection, int milliseconds) : connection_(connection) {
    connection_.SetBusyTimeout(milliseconds);
}

BusyWait::~BusyWait() {
    connection_.SetBusyTimeout(kDefaultBusyMilliseconds);
}

Transaction::Transaction(Connection& connection) : connection_(connection) {
    begun_ = connection_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (begun_ && !finished_) connection_.Exec("ROLLBACK");
}

bool Transaction::Commit() {
    if (!begun_ || finished_) return false;
    finished_ = connection_.Exec("COMMIT");
    return finished_;
}

ReadSnapshot::ReadSnapshot(Connection& connection) : connection_(connection) {
    if (connection_.Handle() && sqlite3_get_autocommit(connection_.Handle())) begun_ = connection_.Exec("BEGIN");
}

ReadSnapshot::~ReadSnapshot() {
    if (begun_) connection_.Exec("COMMIT");
}

}  // namespace kelvora
