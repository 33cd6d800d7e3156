#include "RateLimiter.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>

namespace kelvora {

RateLimiter::RateLimiter(double perSecond, double burst, size_t maxAddresses)
    : perSecond_(perSecond), burst_(std::max(burst, 1.0)), maxAddresses_(maxAddresses)
{
}

bool RateLimiter::Allow(std::string_view address, Clock::time_point now)
{
    if (perSecond_ <= 0)
        return true;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = buckets_.find(std::string(address));
    if (found == buckets_.end()) {
        if (buckets_.size() >= maxAddresses_)
            Sweep(now);
        if (buckets_.size() >= maxAddresses_)
            return true;
        buckets_.emplace(std::string(address), Bucket{burst_ - 1, now});
        return true;
    }
    Bucket& bucket = found->second;
    double elapsed = std::chrono::duration<double>(now - bucket.at).count();
    bucket.tokens = std::min(burst_, bucket.tokens + std::max(elapsed, 0.0) * perSecond_);
    bucket.at = now;
    if (bucket.tokens < 1)
        return false;
    bucket.tokens -= 1;
    return true;
}

size_t RateLimiter::TrackedAddresses()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return buckets_.size();
}

void RateLimiter::Sweep(Clock::time_point now)
{
    // At most once a second, so a full table does not make every newcomer pay for a scan.
    if (now - lastSweep_ < std::chrono::seconds(1))
        return;
    lastSweep_ = now;
    std::erase_if(buckets_, [&](const auto& entry) {
        double elapsed = std::chrono::duration<double>(now - entry.second.at).count();
        return entry.second.tokens + elapsed * perSecond_ >= burst_;
    });
}

std::string RateKey(std::string_view address)
{
    boost::system::error_code ec;
    auto parsed = boost::asio::ip::make_address(std::string(address.substr(0, 64)), ec);
    if (ec)
        return std::string(address.substr(0, 64));
    if (parsed.is_v6() && parsed.to_v6().is_v4_mapped()) {
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, parsed.to_v6()).to_string();
    }
    if (parsed.is_v4())
        return parsed.to_string();
    auto bytes = parsed.to_v6().to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

} // namespace kelvora
