#include <gtest/gtest.h>

#include "http/ReadSize.h"

namespace {

struct ReadSizeCase {
    std::string_view contentLength;
    uint32_t expected;
};

void ExpectReadSizes(std::initializer_list<ReadSizeCase> cases)
{
    for (const ReadSizeCase& c : cases)
        EXPECT_EQ(c.expected, ReadSizeForContentLength(c.contentLength))
            << "Content-Length \"" << c.contentLength << "\"";
}

} // namespace

TEST(ReadSize, FollowsTheAnnouncedLength)
{
    ExpectReadSizes({{"1", 2},
                     {"500", 501},
                     {"102399", 102400},
                     {"102400", 102400},
                     {"500000", 102400},
                     {"99999999999999999999999999999", 102400}});
}

TEST(ReadSize, FallsBackWithoutAPositiveLength)
{
    EXPECT_EQ(10240u, ReadSizeForContentLength(std::nullopt));
    ExpectReadSizes({{"", 10240}, {"0", 10240}, {"-5", 10240}, {"abc", 10240}, {"   ", 10240}});
}

TEST(ReadSize, ReadsLeadingDigitsAfterBlanks)
{
    ExpectReadSizes({{"  42", 43},
                     {"42abc", 43},
                     {"12 34", 13},
                     {"+7", 8},
                     {std::string_view("7\0"
                                       "99",
                                       4),
                      8}});
}

TEST(ReadSize, AnnouncedBodyLengthIsThePositiveLeadingNumber)
{
    EXPECT_EQ(std::nullopt, AnnouncedBodyLength(std::nullopt));
    for (std::string_view none : {"", "0", "-5", "abc", "   "})
        EXPECT_EQ(std::nullopt, AnnouncedBodyLength(none)) << "Content-Length \"" << none << "\"";
    EXPECT_EQ(10u, AnnouncedBodyLength("10"));
    EXPECT_EQ(42u, AnnouncedBodyLength("  42abc"));
    EXPECT_EQ(500000u, AnnouncedBodyLength("500000"));
    // Larger than any reply that fits the limits, but never wrapped round.
    EXPECT_LT(uint64_t{1} << 40, *AnnouncedBodyLength("99999999999999999999999999999"));
}
