// Lookup keys bind one question and an expiry under the server's secret.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "LookupKey.h"
#include "SecretFile.h"
#include "TestSupport.h"

namespace kelvora {
namespace {

constexpr std::string_view Secret = "0123456789abcdef0123456789abcdef";

TEST(LookupKey, OpensOnlyItsOwnQuestion)
{
    std::string key = IssueLookupKey(Secret, "水的化学式是什么？", 2000);
    EXPECT_EQ(CheckLookupKey(Secret, "水的化学式是什么？", key, 1000), KeyCheck::Valid);
    EXPECT_EQ(CheckLookupKey(Secret, "水的化学式是什么", key, 1000), KeyCheck::Invalid);
    EXPECT_EQ(CheckLookupKey(Secret, "中国的首都是哪座城市？", key, 1000), KeyCheck::Invalid);
    EXPECT_EQ(CheckLookupKey("another secret of enough length", "水的化学式是什么？", key, 1000), KeyCheck::Invalid);
}

TEST(LookupKey, ExpiresAfterItsTime)
{
    std::string key = IssueLookupKey(Secret, "q", 2000);
    EXPECT_EQ(CheckLookupKey(Secret, "q", key, 2000), KeyCheck::Valid);
    EXPECT_EQ(CheckLookupKey(Secret, "q", key, 2001), KeyCheck::Expired);
}

TEST(LookupKey, IsUrlSafeAsciiAndRefusesTampering)
{
    std::string key = IssueLookupKey(Secret, "题", 1796770091);
    EXPECT_EQ(key.find_first_not_of("0123456789.ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_"),
              std::string::npos);
    std::string later = key;
    later[0] = '9'; // extending the expiry breaks the MAC
    EXPECT_EQ(CheckLookupKey(Secret, "题", later, 0), KeyCheck::Invalid);
    std::string flipped = key;
    flipped.back() = flipped.back() == 'A' ? 'B' : 'A';
    EXPECT_EQ(CheckLookupKey(Secret, "题", flipped, 0), KeyCheck::Invalid);
    for (std::string_view bad : {"", ".", "123", "123.", ".abc", "12a.abc", "99999999999999999999.abc"}) {
        EXPECT_EQ(CheckLookupKey(Secret, "题", bad, 0), KeyCheck::Invalid) << bad;
    }
}

TEST(SecretFile, IsCreatedOwnerOnlyAndReadBackUnchanged)
{
    test::TempDir dir;
    std::string path = dir.Path("server.secret");
    SecretResult first = LoadOrCreateSecret(path);
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.secret.size(), 32u);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    SecretResult second = LoadOrCreateSecret(path);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.secret, first.secret);
}

TEST(SecretFile, RefusesAShortOrWorldReadableSecret)
{
    test::TempDir dir;
    std::string path = dir.Path("short.secret");
    std::ofstream(path) << "short";
    chmod(path.c_str(), 0600);
    EXPECT_FALSE(LoadOrCreateSecret(path).ok);
    std::string open = dir.Path("open.secret");
    std::ofstream(open) << "a secret that is long enough to use";
    chmod(open.c_str(), 0644);
    SecretResult result = LoadOrCreateSecret(open);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("0600"), std::string::npos);
    EXPECT_FALSE(LoadOrCreateSecret(dir.Path("missing-folder/x.secret")).ok);
}

} // namespace
} // namespace kelvora
