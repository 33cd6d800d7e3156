#pragma once
// Records unanswered questions off the request path: misses are counted for
// the operator, so a reply need not wait for their write. They are written in
// batches, one transaction each, by a thread of their own.
#include <boost/noncopyable.hpp>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Retention.h"

namespace kelvora {

class ConnectionPool;
class DatabaseHealth;

class MissRecorder : boost::noncopyable {
public:
    // With health, nothing is written while the database cannot keep it.
    explicit MissRecorder(ConnectionPool& pool, RecordLimits limits = {}, const DatabaseHealth* health = nullptr);
    // Writes what is still queued, then ends the thread.
    ~MissRecorder();

    void Add(std::string question, int64_t at);
    // Waits until everything added so far is written.
    void Flush();

private:
    struct Miss {
        std::string question;
        int64_t at;
    };
    void Run();
    void Write(const std::vector<Miss>& batch);

    ConnectionPool& pool_;
    RecordLimits limits_;
    const DatabaseHealth* health_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::vector<Miss> queue_;
    uint64_t added_ = 0;
    uint64_t done_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace kelvora
