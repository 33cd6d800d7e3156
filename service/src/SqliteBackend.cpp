// The SQLite store: one file, WAL mode, an FTS5 trigram index for fuzzy candidates.
#include <sqlite3.h>

#include "Database.h"

namespace kelvora {

namespace {

// Questions are looked up by their normalised form; the trigram index over
// that form gives fuzzy candidates. How many questions hold each trigram is
// copied from the index's vocabulary after every import, since counting it
// there costs as much as reading the trigram's whole posting list.
constexpr const char* Schema = R"sql(
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

constexpr int DefaultBusyMilliseconds = 5000;

class SqliteStatement : public StatementBackend {
public:
    explicit SqliteStatement(sqlite3_stmt* statement) : statement_(statement) {}
    ~SqliteStatement() override { sqlite3_finalize(statement_); }

    void BindText(int index, std::string_view text) override
    {
        sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    void BindInt(int index, int64_t number) override { sqlite3_bind_int64(statement_, index, number); }
    int Step() override
    {
        int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW)
            return 1;
        return rc == SQLITE_DONE ? 0 : -1;
    }
    void Reset() override
    {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    std::string Text(int column) const override
    {
        const unsigned char* text = sqlite3_column_text(statement_, column);
        if (!text)
            return {};
        return std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement_, column));
    }
    int64_t Int(int column) const override { return sqlite3_column_int64(statement_, column); }

private:
    sqlite3_stmt* statement_;
};

class SqliteConnection : public ConnectionBackend {
public:
    explicit SqliteConnection(sqlite3* db) : db_(db) {}
    ~SqliteConnection() override { sqlite3_close(db_); }

    bool Exec(std::string_view sql) override
    {
        std::string text(sql);
        return sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    std::unique_ptr<StatementBackend> Prepare(const char* sql) override
    {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK || !raw) {
            sqlite3_finalize(raw);
            return nullptr;
        }
        return std::make_unique<SqliteStatement>(raw);
    }
    void SetBusyTimeout(int milliseconds) override { sqlite3_busy_timeout(db_, milliseconds); }
    std::string Error() const override { return sqlite3_errmsg(db_); }
    int64_t Changes() const override { return sqlite3_changes(db_); }
    bool InTransaction() const override { return !sqlite3_get_autocommit(db_); }
    bool LastFailureWasBusy() const override
    {
        int code = sqlite3_errcode(db_);
        return code == SQLITE_BUSY || code == SQLITE_LOCKED;
    }
    bool Broken() const override { return false; }
    bool IsPostgres() const override { return false; }

private:
    sqlite3* db_;
};

} // namespace

std::unique_ptr<ConnectionBackend> OpenSqlite(const std::string& path, bool readOnly, std::string& error)
{
    sqlite3* raw = nullptr;
    // Read-only, without SQLITE_OPEN_CREATE: a missing file stays missing and
    // the schema is not brought up either, so a stray file is left as it was.
    int flags = readOnly ? SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX
                         : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &raw, flags, nullptr) != SQLITE_OK) {
        error = readOnly ? "no database at " + path : "cannot open the database " + path;
        sqlite3_close(raw);
        return nullptr;
    }
    auto connection = std::make_unique<SqliteConnection>(raw);
    sqlite3_busy_timeout(raw, DefaultBusyMilliseconds);
    if (readOnly) {
        sqlite3_stmt* probe = nullptr;
        int rc = sqlite3_prepare_v2(raw, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'questions'", -1,
                                    &probe, nullptr);
        int stepped = rc == SQLITE_OK ? sqlite3_step(probe) : rc;
        sqlite3_finalize(probe);
        if (stepped != SQLITE_ROW) {
            error = stepped == SQLITE_DONE ? path + " is not a kelvora-service database"
                                           : path + ": " + sqlite3_errmsg(raw);
            return nullptr;
        }
        return connection;
    }
    // Reading the bank through a mapping spares a copy of every page per
    // lookup. The mapped pages are the page cache, shared by all connections
    // (though RSS counts them once per connection).
    connection->Exec("PRAGMA mmap_size=268435456");
    // WAL lets readers run beside the writer; NORMAL sync keeps every commit
    // through a crash of the process (the case a kill -9 tests), fsyncing at checkpoints.
    if (!(connection->Exec("PRAGMA journal_mode=WAL") && connection->Exec("PRAGMA synchronous=NORMAL") &&
          connection->Exec("PRAGMA foreign_keys=ON") && connection->Exec(Schema))) {
        error = "cannot open the database " + path + ": " + connection->Error();
        return nullptr;
    }
    return connection;
}

} // namespace kelvora
