#include "ConnectionPool.h"

#include <algorithm>

namespace kelvora {

ConnectionPool::Lease::~Lease()
{
    if (pool_ && connection_)
        pool_->Release(std::move(connection_));
}

namespace {

// How long a borrower waits for a connection when all are lent.
constexpr std::chrono::milliseconds BorrowWait{2000};

} // namespace

ConnectionPool::Lease ConnectionPool::Acquire()
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        bool available =
            returned_.wait_for(lock, BorrowWait, [this] { return !idle_.empty() || most_ <= 0 || open_ < most_; });
        if (!available)
            return Lease(*this, nullptr);
        if (!idle_.empty()) {
            std::unique_ptr<Connection> connection = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(connection));
        }
        ++open_;
    }
    auto connection = std::make_unique<Connection>();
    if (!connection->Open(path_)) {
        std::lock_guard<std::mutex> lock(mutex_);
        lastOpenError_ = connection->Error();
        --open_;
        returned_.notify_one();
        return Lease(*this, nullptr);
    }
    return Lease(*this, std::move(connection));
}

namespace {

// Under this, a held turn is ordinary contention, and any number may queue for it.
constexpr std::chrono::milliseconds LongHold{200};
constexpr std::chrono::milliseconds Slice{50};

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

ConnectionPool::WriteTurn::WriteTurn(ConnectionPool& pool, std::unique_lock<std::timed_mutex> lock)
    : pool_(&pool), lock_(std::move(lock))
{
    if (lock_.owns_lock())
        pool_->turnTakenAt_ = SteadyNanoseconds();
}

ConnectionPool::WriteTurn::~WriteTurn()
{
    if (pool_ && lock_.owns_lock())
        pool_->turnTakenAt_ = 0;
}

ConnectionPool::WriteTurn ConnectionPool::TryLockForWriting(std::chrono::milliseconds wait)
{
    // PostgreSQL locks rows, not the database: writers need no turn here, and
    // its lock_timeout bounds their wait.
    if (postgres_) {
        WriteTurn turn;
        turn.granted_ = true;
        return turn;
    }
    std::unique_lock<std::timed_mutex> lock(writeMutex_, std::try_to_lock);
    if (lock.owns_lock())
        return WriteTurn(*this, std::move(lock));
    const auto deadline = std::chrono::steady_clock::now() + wait;
    ++waitingWriters_;
    // Waited for in slices: once the turn has been held long, the writers
    // beyond the allowed number give up and free their workers.
    for (;;) {
        int64_t takenAt = turnTakenAt_.load();
        bool heldLong = takenAt != 0 && SteadyNanoseconds() - takenAt > std::chrono::nanoseconds(LongHold).count();
        if (heldLong && waitingWriters_.load() > mostWaitingWriters_)
            break;
        auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        if (lock.try_lock_for(std::min<std::chrono::steady_clock::duration>(left, Slice)))
            break;
    }
    --waitingWriters_;
    return WriteTurn(*this, std::move(lock));
}

std::string ConnectionPool::LastOpenError()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastOpenError_;
}

void ConnectionPool::Release(std::unique_ptr<Connection> connection)
{
    connection->ResetStatements();
    if (connection->InTransaction())
        connection->Exec("ROLLBACK");
    // A connection whose server went away is closed; the next borrower opens a new one.
    if (connection->Broken()) {
        connection.reset();
        std::lock_guard<std::mutex> lock(mutex_);
        --open_;
        returned_.notify_one();
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(connection));
    returned_.notify_one();
}

} // namespace kelvora
