#pragma once
// The server's housekeeping thread: deletes reports and unanswered questions
// past their age or number limit, a small batch per transaction so reports get the
// write lock in between, and rebuilds the fuzzy index's counts when an
// import stopped before it could.
#include <boost/noncopyable.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "Retention.h"

namespace kelvora {

class ConnectionPool;
class DatabaseHealth;

class Maintenance : boost::noncopyable {
public:
    Maintenance(ConnectionPool& pool, const DatabaseHealth& health, RecordLimits limits)
        : pool_(pool), health_(health), limits_(limits)
    {
    }
    ~Maintenance();

    // A first pass at once, then one a minute until destroyed.
    void Start();

    // One pass; what it could not finish waits for the next.
    void RunPass(int64_t now);

    static constexpr int64_t Batch = 500;

private:
    void Loop();
    int64_t PruneBatches(int64_t (*prune)(Connection&, int64_t, int64_t), int64_t limit);

    ConnectionPool& pool_;
    const DatabaseHealth& health_;
    RecordLimits limits_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace kelvora
