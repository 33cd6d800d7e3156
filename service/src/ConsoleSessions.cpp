#include "ConsoleSessions.h"

#include "ConsoleSecrets.h"

namespace kelvora {

std::string ConsoleSessions::Start(const std::string& operatorName, const std::string& credential, int64_t now)
{
    std::string id = RandomToken();
    std::lock_guard<std::mutex> lock(mutex_);
    if (sessions_.size() >= MostSessions) {
        // The least recently used gives way.
        auto oldest = sessions_.begin();
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
            if (it->second.lastSeenAt < oldest->second.lastSeenAt)
                oldest = it;
        }
        sessions_.erase(oldest);
    }
    sessions_[id] = ConsoleSession{operatorName, RandomToken(), credential, now, now};
    return id;
}

std::optional<ConsoleSession> ConsoleSessions::Find(const std::string& id, int64_t now)
{
    if (id.empty())
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(id);
    if (found == sessions_.end())
        return std::nullopt;
    ConsoleSession& session = found->second;
    if (now - session.lastSeenAt > IdleSeconds || now - session.startedAt > LongestSeconds) {
        sessions_.erase(found);
        return std::nullopt;
    }
    session.lastSeenAt = now;
    return session;
}

void ConsoleSessions::End(const std::string& id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(id);
}

bool LoginThrottle::Under(const std::string& key, size_t most, int64_t now)
{
    auto found = failures_.find(key);
    if (found == failures_.end())
        return true;
    auto& times = found->second;
    while (!times.empty() && now - times.front() >= WindowSeconds)
        times.pop_front();
    if (times.empty()) {
        failures_.erase(found);
        return true;
    }
    return times.size() < most;
}

void LoginThrottle::Note(const std::string& key, int64_t now)
{
    if (failures_.size() >= MostTracked && !failures_.count(key)) {
        // Forget entries whose window has passed; when all are recent, the oldest key.
        std::erase_if(failures_, [&](const auto& item) {
            return item.second.empty() || now - item.second.back() >= WindowSeconds;
        });
        if (failures_.size() >= MostTracked)
            failures_.erase(failures_.begin());
    }
    auto& times = failures_[key];
    times.push_back(now);
    if (times.size() > MostPerAddress)
        times.pop_front();
}

bool LoginThrottle::Allowed(const std::string& address, const std::string& account, int64_t now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Under("a:" + address, MostPerAddress, now) && Under("u:" + account, MostPerAccount, now);
}

void LoginThrottle::Failed(const std::string& address, const std::string& account, int64_t now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Note("a:" + address, now);
    Note("u:" + account, now);
}

void LoginThrottle::Succeeded(const std::string& account)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.erase("u:" + account);
}

} // namespace kelvora
