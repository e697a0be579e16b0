#include <gtest/gtest.h>

#include "myutils.h"

namespace {

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> items;
    SplitDelimited(',', s, &items);
    return items;
}

TEST(SplitDelimited, BlanksAfterCommasNeverReachAnItem) {
    EXPECT_EQ(Split("r, 19.29m,0000005915Hz"), Split("r,19.29m,0000005915Hz"));
    EXPECT_EQ(Split("  a,\tb ,c"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(SplitDelimited, BlankInsideAnItemSplitsIt) {
    EXPECT_EQ(Split("a b,c"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(SplitDelimited, QuotedItemsAndTrailingComma) {
    EXPECT_EQ(Split("\"x, \"\"y\"\"\",z,"), (std::vector<std::string>{"x, \"y\"", "z", ""}));
    EXPECT_TRUE(Split("").empty());
    EXPECT_THROW(SplitDelimited(',', "a", nullptr), std::logic_error);
}

TEST(DateTimeScale, EncodeDecodeAndFixedFormats) {
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), 25569.0);
    const double t = EncodeDateTime(2010, 1, 2, 3, 4, 5, 600);
    EXPECT_EQ(FormatKeyTime(t), "20100102030405");  // milliseconds dropped
    EXPECT_EQ(FormatLogTime(t), "02/01/2010 03.04.05");
    EXPECT_EQ(FormatSqlDateTime(t), "2010-01-02 03:04:05");
    EXPECT_EQ(FormatTimeOfDay(EncodeTime(21, 0, 59)), "21:00:59");
    const DateTimeParts p = DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999));
    EXPECT_EQ(p.month, 2);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.msec, 999);
    EXPECT_THROW(EncodeDate(2020, 13, 1), std::invalid_argument);
}

TEST(DateTimeScale, LocalTimeFollowsTheZoneAndItsDaylightRule) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    EXPECT_EQ(LocalTimeZoneBiasMinutes(EncodeDateTime(2020, 1, 15, 12, 0, 0)), -60);
    EXPECT_EQ(LocalTimeZoneBiasMinutes(EncodeDateTime(2020, 7, 15, 12, 0, 0)), -120);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(Text, TrimAndQuote) {
    EXPECT_EQ(Trim("  AB12   "), "AB12");
    EXPECT_EQ(QuotedStr("O'Brien"), "'O''Brien'");
}

}  // namespace
