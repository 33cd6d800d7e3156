#pragma once
// Connections that the server's worker threads borrow one request at a time:
// a connection is used by one thread at once, and keeps its prepared
// statements between requests. At most a given number are open at once (for
// PostgreSQL, whose max_connections is shared by every server instance); a
// borrower waits for one a short while, then goes without.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Database.h"

namespace kelvora {

class ConnectionPool {
public:
    class Lease {
    public:
        Lease(ConnectionPool& pool, std::unique_ptr<Connection> connection)
            : pool_(&pool), connection_(std::move(connection))
        {
        }
        ~Lease();
        Lease(Lease&&) = default;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Connection* operator->() const { return connection_.get(); }
        Connection& operator*() const { return *connection_; }
        explicit operator bool() const { return connection_ != nullptr; }

    private:
        ConnectionPool* pool_;
        std::unique_ptr<Connection> connection_;
    };

    // most: connections open at once, 0 for no limit.
    explicit ConnectionPool(std::string path, int most = 0)
        : path_(std::move(path)), postgres_(IsPostgresLocation(path_)), most_(most)
    {
    }
    // A connection of its own for the caller until the lease ends; empty
    // when the database cannot be opened.
    Lease Acquire();
    // Why the last connection could not be opened.
    std::string LastOpenError();

    // This process's turn to write, held until destroyed.
    class WriteTurn {
    public:
        WriteTurn() = default;
        WriteTurn(ConnectionPool& pool, std::unique_lock<std::timed_mutex> lock);
        ~WriteTurn();
        WriteTurn(WriteTurn&& other) noexcept = default;
        WriteTurn(const WriteTurn&) = delete;
        WriteTurn& operator=(const WriteTurn&) = delete;
        explicit operator bool() const { return granted_ || lock_.owns_lock(); }

    private:
        friend class ConnectionPool;
        ConnectionPool* pool_ = nullptr;
        std::unique_lock<std::timed_mutex> lock_;
        bool granted_ = false; // without a lock: PostgreSQL lets writers run side by side
    };

    // Writers of this process take turns here rather than in SQLite's busy
    // handler, which sleeps in steps of milliseconds.
    // The write turn within wait, or none: when another writer holds it that
    // long, or when the turn has been held long (a writer elsewhere holds the
    // database) and more writers wait than allowed, so that waiting workers
    // never leave too few for lookups.
    WriteTurn TryLockForWriting(std::chrono::milliseconds wait);
    void SetMostWaitingWriters(int most) { mostWaitingWriters_ = most > 0 ? most : 1; }

private:
    void Release(std::unique_ptr<Connection> connection);

    std::string path_;
    bool postgres_;
    int most_;
    int open_ = 0; // lent and idle
    std::string lastOpenError_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<Connection>> idle_;
    std::timed_mutex writeMutex_;
    std::atomic<int> waitingWriters_{0};
    std::atomic<int64_t> turnTakenAt_{0}; // steady clock, nanoseconds; 0 while nobody writes
    int mostWaitingWriters_ = 16;
};

} // namespace kelvora
