#include <gtest/gtest.h>

#include "http/ReadSize.h"

TEST(ReadSize, FollowsTheAnnouncedLength)
{
    EXPECT_EQ(2u, ReadSizeForContentLength("1"));
    EXPECT_EQ(501u, ReadSizeForContentLength("500"));
    EXPECT_EQ(102400u, ReadSizeForContentLength("102399"));
    EXPECT_EQ(102400u, ReadSizeForContentLength("102400"));
    EXPECT_EQ(102400u, ReadSizeForContentLength("500000"));
    EXPECT_EQ(102400u, ReadSizeForContentLength("99999999999999999999999999999"));
}

TEST(ReadSize, FallsBackWithoutAPositiveLength)
{
    EXPECT_EQ(10240u, ReadSizeForContentLength(std::nullopt));
    EXPECT_EQ(10240u, ReadSizeForContentLength(""));
    EXPECT_EQ(10240u, ReadSizeForContentLength("0"));
    EXPECT_EQ(10240u, ReadSizeForContentLength("-5"));
    EXPECT_EQ(10240u, ReadSizeForContentLength("abc"));
    EXPECT_EQ(10240u, ReadSizeForContentLength("   "));
}

TEST(ReadSize, ReadsLeadingDigitsAfterBlanks)
{
    EXPECT_EQ(43u, ReadSizeForContentLength("  42"));
    EXPECT_EQ(43u, ReadSizeForContentLength("42abc"));
    EXPECT_EQ(13u, ReadSizeForContentLength("12 34"));
    EXPECT_EQ(8u, ReadSizeForContentLength("+7"));
    EXPECT_EQ(8u, ReadSizeForContentLength(std::string_view("7\0" "99", 4)));
}
