#include "ConnectionPool.h"

namespace kelvora {

ConnectionPool::Lease::~Lease() {
    if (pool_ && connection_) pool_->Release(std::move(connection_));
}

ConnectionPool::Lease ConnectionPool::Acquire() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!idle_.empty()) {
            std::unique_ptr<Connection> connection = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(connection));
        }
    }
    auto connection = std::make_unique<Connection>();
    if (!connection->Open(path_)) return Lease(*this, nullptr);
    return Lease(*this, std::move(connection));
}

void ConnectionPool::Release(std::unique_ptr<Connection> connection) {
    connection->ResetStatements();
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(connection));
}

}  // namespace kelvora
