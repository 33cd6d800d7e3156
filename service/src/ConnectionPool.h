#pragma once
// Connections that the server's worker threads borrow one request at a time:
// a SQLite connection is used by one thread at once, and keeps its prepared
// statements between requests.
#include <atomic>
#include <chrono>
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
            : pool_(&pool), connection_(std::move(connection)) {}
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

    explicit ConnectionPool(std::string path) : path_(std::move(path)) {}
    // A connection of its own for the caller until the lease ends; empty
    // when the database cannot be opened.
    Lease Acquire();

    // This process's turn to write, held until destroyed.
    class WriteTurn {
    public:
        WriteTurn() = default;
        WriteTurn(ConnectionPool& pool, std::unique_lock<std::timed_mutex> lock);
        ~WriteTurn();
        WriteTurn(WriteTurn&& other) noexcept = default;
        WriteTurn(const WriteTurn&) = delete;
        WriteTurn& operator=(const WriteTurn&) = delete;
        explicit operator bool() const { return lock_.owns_lock(); }

    private:
        ConnectionPool* pool_ = nullptr;
        std::unique_lock<std::timed_mutex> lock_;
    };

    // Writers of this process take turns here rather than in SQLite's busy
    // handler, which sleeps in steps of milliseconds.
    WriteTurn LockForWriting();

    // The write turn within wait, or none: when another writer holds it that
    // long, or when the turn has been held long (a writer elsewhere holds the
    // database) and more writers wait than allowed, so that waiting workers
    // never leave too few for lookups.
    WriteTurn TryLockForWriting(std::chrono::milliseconds wait);
    void SetMostWaitingWriters(int most) { mostWaitingWriters_ = most > 0 ? most : 1; }

private:
    void Release(std::unique_ptr<Connection> connection);

    std::string path_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
    std::timed_mutex writeMutex_;
    std::atomic<int> waitingWriters_{0};
    std::atomic<int64_t> turnTakenAt_{0};  // steady clock, nanoseconds; 0 while nobody writes
    int mostWaitingWriters_ = 16;
};

}  // namespace kelvora
