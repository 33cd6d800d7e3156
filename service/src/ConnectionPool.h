#pragma once
// Connections that the server's worker threads borrow one request at a time:
// a SQLite connection is used by one thread at once, and keeps its prepared
// statements between requests.
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

    // Writers of this process take turns here rather than in SQLite's busy
    // handler, which sleeps in steps of milliseconds.
    std::unique_lock<std::mutex> LockForWriting() { return std::unique_lock<std::mutex>(writeMutex_); }

private:
    void Release(std::unique_ptr<Connection> connection);

    std::string path_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
    std::mutex writeMutex_;
};

}  // namespace kelvora
