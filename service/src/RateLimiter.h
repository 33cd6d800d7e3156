#pragma once
// Requests per client address: a token bucket per address that refills at a
// steady rate up to a burst. The table of addresses is bounded; when it is
// full of recently active addresses, newcomers are let through untracked
// rather than refused.
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kelvora {

class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // perSecond 0: no limit.
    RateLimiter(double perSecond, double burst, size_t maxAddresses = 65536);

    // Takes one request from the address's bucket; false when it is empty.
    bool Allow(std::string_view address, Clock::time_point now = Clock::now());
    size_t TrackedAddresses();

private:
    struct Bucket {
        double tokens;
        Clock::time_point at;
    };
    void Sweep(Clock::time_point now);

    double perSecond_;
    double burst_;
    size_t maxAddresses_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    Clock::time_point lastSweep_{};
};

// The key an address is limited under: IPv4 addresses as they are, IPv6
// addresses by their /64 network (one host usually holds all of it);
// anything that does not read as an address, as given (at most 64 bytes).
std::string RateKey(std::string_view address);

} // namespace kelvora
