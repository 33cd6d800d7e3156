#pragma once
// Operators' console sessions, kept in this process's memory: a restart ends
// them all, and each instance of the service has sessions of its own (behind a
// balancer, an operator must stay on one instance). Sessions end after 30
// minutes unused or 12 hours in all, and on logout. Failed logins are counted
// per client address and per account.
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace kelvora {

struct ConsoleSession {
    std::string operatorName;
    std::string csrfToken;
    std::string credential; // the password hash it was opened with: a removed or re-made account ends it
    int64_t startedAt = 0;
    int64_t lastSeenAt = 0;
};

class ConsoleSessions {
public:
    static constexpr int64_t IdleSeconds = 30 * 60;
    static constexpr int64_t LongestSeconds = 12 * 3600;
    static constexpr size_t MostSessions = 1000;

    // The new session's id.
    std::string Start(const std::string& operatorName, const std::string& credential, int64_t now);
    // The session under id when it is still valid (its use is noted).
    std::optional<ConsoleSession> Find(const std::string& id, int64_t now);
    void End(const std::string& id);

private:
    std::mutex mutex_;
    std::map<std::string, ConsoleSession> sessions_;
};

class LoginThrottle {
public:
    static constexpr int64_t WindowSeconds = 15 * 60;
    static constexpr size_t MostPerAccount = 5;
    static constexpr size_t MostPerAddress = 20;
    static constexpr size_t MostTracked = 10000;

    // Whether another attempt may be made now.
    bool Allowed(const std::string& address, const std::string& account, int64_t now);
    void Failed(const std::string& address, const std::string& account, int64_t now);
    void Succeeded(const std::string& account);

private:
    bool Under(const std::string& key, size_t most, int64_t now);
    void Note(const std::string& key, int64_t now);

    std::mutex mutex_;
    std::map<std::string, std::deque<int64_t>> failures_;
};

} // namespace kelvora
