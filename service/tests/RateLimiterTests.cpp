// Requests per client address: the burst, the steady rate, and the bounded table.
#include <gtest/gtest.h>

#include "RateLimiter.h"

namespace kelvora {
namespace {

using namespace std::chrono_literals;

TEST(RateLimiter, AllowsTheBurstThenTheSteadyRatePerAddress)
{
    RateLimiter limiter(10, 50);
    auto start = RateLimiter::Clock::now();
    int allowed = 0;
    for (int i = 0; i < 80; ++i)
        allowed += limiter.Allow("192.0.2.1", start);
    EXPECT_EQ(allowed, 50);
    // Another address has a bucket of its own.
    EXPECT_TRUE(limiter.Allow("192.0.2.2", start));
    // One second later ten more, not eleven.
    allowed = 0;
    for (int i = 0; i < 20; ++i)
        allowed += limiter.Allow("192.0.2.1", start + 1s);
    EXPECT_EQ(allowed, 10);
    // A long pause refills to the burst, not beyond.
    allowed = 0;
    for (int i = 0; i < 80; ++i)
        allowed += limiter.Allow("192.0.2.1", start + 1h);
    EXPECT_EQ(allowed, 50);
}

TEST(RateLimiter, ZeroRateMeansNoLimit)
{
    RateLimiter limiter(0, 0);
    auto now = RateLimiter::Clock::now();
    for (int i = 0; i < 10000; ++i)
        ASSERT_TRUE(limiter.Allow("192.0.2.1", now));
    EXPECT_EQ(limiter.TrackedAddresses(), 0u);
}

TEST(RateLimiter, TableOfAddressesStaysBounded)
{
    RateLimiter limiter(1, 5, 100);
    auto start = RateLimiter::Clock::now();
    for (int i = 0; i < 1000; ++i)
        limiter.Allow("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250), start);
    EXPECT_LE(limiter.TrackedAddresses(), 100u);
    // Once their buckets are full again, idle addresses make room for new ones.
    EXPECT_TRUE(limiter.Allow("198.51.100.7", start + 10s));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(limiter.Allow("198.51.100.7", start + 10s));
    EXPECT_FALSE(limiter.Allow("198.51.100.7", start + 10s));
}

TEST(RateLimiter, KeysIpv6ByNetworkAndMappedIpv4AsIpv4)
{
    EXPECT_EQ(RateKey("203.0.113.9"), "203.0.113.9");
    EXPECT_EQ(RateKey("::ffff:203.0.113.9"), "203.0.113.9");
    EXPECT_EQ(RateKey("2001:db8:1:2:aaaa::1"), RateKey("2001:db8:1:2:bbbb::2"));
    EXPECT_NE(RateKey("2001:db8:1:2::1"), RateKey("2001:db8:1:3::1"));
    EXPECT_EQ(RateKey("not an address"), "not an address");
    EXPECT_EQ(RateKey(std::string(500, 'x')).size(), 64u);
}

} // namespace
} // namespace kelvora
