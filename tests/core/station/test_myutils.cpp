#include <gtest/gtest.h>

#include "core/station/myutils.h"

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

TEST(Printable, KeepsPrintableAsciiAndValidUtf8) {
    std::string ascii;
    for (int c = 0x20; c < 0x7F; ++c) ascii += static_cast<char>(c);
    EXPECT_EQ(Printable(ascii), ascii);
    EXPECT_EQ(Printable(""), "");
    // U+00A0 (first after the C1 range), è, U+07FF, U+0800, U+D7FF, U+E000, €, U+FFFD, U+10000, 😀, U+10FFFF.
    const std::string utf8 = "\xC2\xA0 \xC3\xA8 \xDF\xBF \xE0\xA0\x80 \xED\x9F\xBF \xEE\x80\x80 \xE2\x82\xAC "
                             "\xEF\xBF\xBD \xF0\x90\x80\x80 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF";
    EXPECT_EQ(Printable(utf8), utf8);
    EXPECT_EQ(Printable("Più di un record a 19°C"), "Più di un record a 19°C");
}

TEST(Printable, EscapesEveryControlCharacter) {
    EXPECT_EQ(Printable("a\rb\nc\td"), "a\\rb\\nc\\td");
    EXPECT_EQ(Printable(std::string("\0\x01\x07\x1B[2J\x1F\x7F", 9)), "\\x00\\x01\\x07\\x1B[2J\\x1F\\x7F");
    // C1 controls in UTF-8 (U+0080, U+009B CSI, U+009F) are obeyed by terminals too.
    EXPECT_EQ(Printable("\xC2\x80\xC2\x9B" "31m\xC2\x9F"), "\\xC2\\x80\\xC2\\x9B31m\\xC2\\x9F");
    for (int c = 0; c < 0x20; ++c) {
        const std::string out = Printable(std::string(1, static_cast<char>(c)));
        EXPECT_EQ(out[0], '\\') << c;
        EXPECT_TRUE(out.size() == 2 || out.size() == 4) << c;
    }
}

TEST(Printable, EscapesBytesThatAreNotValidUtf8OneByOne) {
    const std::pair<std::string, std::string> cases[] = {
        {"\x80", "\\x80"},                        // continuation byte alone
        {"\xFF\xFE junk", "\\xFF\\xFE junk"},     // never in UTF-8
        {"\xC3", "\\xC3"},                        // sequence cut at the end
        {"\xC3(", "\\xC3("},                      // lead byte without its continuation
        {"\xE2\x82", "\\xE2\\x82"},               // three-byte sequence cut short
        {"\xC0\xAF", "\\xC0\\xAF"},               // overlong '/'
        {"\xC1\xBF", "\\xC1\\xBF"},               // overlong
        {"\xE0\x80\xAF", "\\xE0\\x80\\xAF"},      // overlong '/' in three bytes
        {"\xF0\x80\x80\xAF", "\\xF0\\x80\\x80\\xAF"},  // overlong in four bytes
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},      // surrogate U+D800
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // past U+10FFFF
        {"\xF5\x80\x80\x80", "\\xF5\\x80\\x80\\x80"},
        {"\xE2\x82\xAC\xAC", "\xE2\x82\xAC\\xAC"},  // a valid euro sign, then a stray continuation
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(Printable(in), out) << out;
}

TEST(Printable, IsOneLineAndEscapingTwiceChangesNothing) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    all += "\xC3\xA8\xE2\x82\xAC";
    const std::string once = Printable(all);
    // Every byte alone escaped, as printable ASCII; only the valid "è€" at the end stays.
    ASSERT_TRUE(once.ends_with("\\xFF\xC3\xA8\xE2\x82\xAC")) << once;
    for (const char c : once.substr(0, once.size() - 5)) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(c);
    EXPECT_EQ(Printable(once), once);
}

}  // namespace
