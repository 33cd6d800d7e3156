#pragma once
// Records unanswered questions off the request path: misses are counted for
// the operator, so a reply need not wait for their write. They are written in
// batches, one transaction each, by a thread of their own.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvora {

class ConnectionPool;

class MissRecorder {
public:
    explicit MissRecorder(ConnectionPool& pool);
    // Writes what is still queued, then ends the thread.
    ~MissRecorder();
    MissRecorder(const MissRecorder&) = delete;
    MissRecorder& operator=(const MissRecorder&) = delete;

    void Add(std::string question, int64_t at);
    // Waits until everything added so far is written.
    void Flush();

private:
    struct Miss {
        std::string question;
        int64_t at;
    };
    void Run();

    ConnectionPool& pool_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::vector<Miss> queue_;
    uint64_t added_ = 0;
    uint64_t done_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kelvora
