#include "MissRecorder.h"

#include <chrono>

#include "ConnectionPool.h"
#include "Database.h"
#include "Records.h"

namespace kelvora {

namespace {

// A queue this long is written at once; a shorter one after a short pause,
// so that a burst of misses becomes one transaction.
constexpr size_t kBatchSize = 256;
constexpr std::chrono::milliseconds kBatchPause{100};
// Beyond this the oldest waiting misses are dropped rather than memory grown.
constexpr size_t kMostQueued = 100000;

}  // namespace

MissRecorder::MissRecorder(ConnectionPool& pool) : pool_(pool), thread_([this] { Run(); }) {}

MissRecorder::~MissRecorder() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void MissRecorder::Add(std::string question, int64_t at) {
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= kMostQueued) {
            queue_.erase(queue_.begin());
            ++done_;
        }
        queue_.push_back({std::move(question), at});
        ++added_;
        full = queue_.size() >= kBatchSize;
    }
    if (full) wake_.notify_one();
}

void MissRecorder::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t target = added_;
    wake_.notify_one();
    written_.wait(lock, [&] { return done_ >= target || stopping_; });
}

void MissRecorder::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kBatchPause, [&] { return stopping_ || queue_.size() >= kBatchSize; });
        if (queue_.empty()) {
            written_.notify_all();
            if (stopping_) return;
            continue;
        }
        std::vector<Miss> batch;
        batch.swap(queue_);
        lock.unlock();
        {
            ConnectionPool::Lease db = pool_.Acquire();
            if (db) {
                auto writing = pool_.LockForWriting();
                Transaction transaction(*db);
                for (const Miss& miss : batch) RecordMiss(*db, miss.question, miss.at);
                transaction.Commit();
            }
        }
        lock.lock();
        done_ += batch.size();
        written_.notify_all();
    }
}

}  // namespace kelvora
