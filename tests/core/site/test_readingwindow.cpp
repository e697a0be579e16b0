// The pure rules of the schedule, with worked values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/station/myutils.h"
#include "core/site/readingwindow.h"
#include "core/astronomy/vsop.h"

namespace {

double At(int h, int m, int s = 0) { return EncodeDateTime(2024, 1, 15, h, m, s); }

TSiteRow Timed(int h1, int m1, int h2, int m2) {
    TSiteRow r;
    r.AcquireMode = kTimed;
    r.StartTime = EncodeTime(h1, m1, 0);
    r.StopTime = EncodeTime(h2, m2, 0);
    return r;
}

TEST(ReadingWindow, TimedWindowsIncludeBothEndsAndMayCrossMidnight) {
    const TSiteRow night = Timed(18, 0, 6, 0);
    const TSiteRow evening = Timed(20, 0, 23, 0);
    const TSiteRow instant = Timed(21, 0, 21, 0);
    struct Case {
        const TSiteRow* site;
        double t;
        bool inside;
    } cases[] = {
        {&night, At(23, 30), true},   {&night, At(3, 0), true},     {&night, At(12, 0), false},
        {&night, At(18, 0), true},    {&night, At(6, 0), true},     {&night, At(6, 0, 1), false},
        {&night, At(17, 59, 59), false}, {&night, At(0, 0), true},
        {&evening, At(19, 59, 59), false}, {&evening, At(20, 0), true}, {&evening, At(23, 0), true},
        {&evening, At(23, 0, 30), false},  {&evening, At(2, 0), false},
        {&instant, At(21, 0), true},  {&instant, At(21, 0, 30), false}, {&instant, At(20, 59, 30), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsInReadingWindow(*c.site, c.t), c.inside) << FormatLogTime(c.t);
}

TEST(ReadingWindow, ContinuousIsAlwaysOpenAndUnknownMethodsNever) {
    TSiteRow r;
    r.AcquireMode = kContinuous;
    EXPECT_TRUE(IsInReadingWindow(r, At(12, 0)));
    for (int method : {4, 7, -1, 255}) {
        r.AcquireMode = method;
        EXPECT_FALSE(IsInReadingWindow(r, At(0, 0))) << method;
        EXPECT_FALSE(IsInReadingWindow(r, At(12, 0))) << method;
    }
}

TEST(ReadingWindow, SunAndTwilightMethodsFollowTheSunAtTheSite) {
    TSiteRow r;
    r.Latitude = 45.46;
    r.Longitude = 9.19;  // Milan, east positive
    const double day = EncodeDate(2024, 1, 15);
    const double rise = SunRise(day, -9.19L, 45.46L), set = SunSet(day, -9.19L, 45.46L);
    const double dawn = AstronomicalDawn(day, -9.19L, 45.46L), dusk = AstronomicalDusk(day, -9.19L, 45.46L);
    // Milan in January: sunrise near 07:00 UTC, sunset near 16:00 UTC.
    ASSERT_NEAR((rise - day) * 24, 6.9, 0.3);
    ASSERT_NEAR((set - day) * 24, 16.0, 0.3);
    const double s = 1.0 / 86400;

    r.AcquireMode = kDiscardByDay;
    EXPECT_TRUE(IsInReadingWindow(r, rise - s));
    EXPECT_FALSE(IsInReadingWindow(r, rise));  // the edges are outside
    EXPECT_FALSE(IsInReadingWindow(r, day + 0.5));
    EXPECT_FALSE(IsInReadingWindow(r, set));
    EXPECT_TRUE(IsInReadingWindow(r, set + s));

    r.AcquireMode = kDiscardInTwilight;
    EXPECT_FALSE(IsInReadingWindow(r, rise - s));  // twilight: neither day nor night
    EXPECT_TRUE(IsInReadingWindow(r, dawn - s));
    EXPECT_FALSE(IsInReadingWindow(r, dawn + s));
    EXPECT_FALSE(IsInReadingWindow(r, dusk - s));
    EXPECT_TRUE(IsInReadingWindow(r, dusk + s));

    const auto times = ReadingWindowTimes(r, day + 0.5);
    ASSERT_TRUE(times);
    EXPECT_EQ(times->Start, FormatTimeOfDay(dusk).substr(0, 5));
    EXPECT_EQ(times->Stop, FormatTimeOfDay(dawn).substr(0, 5));
}

TEST(ReadingWindow, MissingCoordinatesOpenTheWindowAndLabelForZero) {
    TSiteRow r;
    r.AcquireMode = kDiscardByDay;
    r.Latitude = 45.0;  // longitude empty
    EXPECT_TRUE(IsInReadingWindow(r, At(12, 0)));
    r.Latitude.reset();
    r.Longitude = 9.0;
    EXPECT_TRUE(IsInReadingWindow(r, At(12, 0)));
    r.Longitude.reset();
    const auto times = ReadingWindowTimes(r, At(12, 0));
    ASSERT_TRUE(times);
    const double day = EncodeDate(2024, 1, 15);
    EXPECT_EQ(times->Start, FormatTimeOfDay(SunSet(day, 0, 0)).substr(0, 5));
    EXPECT_FALSE(ReadingWindowTimes(Timed(18, 0, 6, 0), At(12, 0)));
}

TEST(ReadingWindow, PolarDayHasNoWindowToCompute) {
    TSiteRow r;
    r.AcquireMode = kDiscardByDay;
    r.Latitude = 78.2;
    r.Longitude = 15.6;  // Svalbard in June
    EXPECT_THROW(IsInReadingWindow(r, EncodeDateTime(2024, 6, 21, 0, 0, 0)), E_NoRiseSet);
    EXPECT_THROW(ReadingWindowTimes(r, EncodeDateTime(2024, 6, 21, 0, 0, 0)), E_NoRiseSet);
}

TEST(ReadingWindow, DueRuleCountsWholeIntervalsOfThirtySecondTicks) {
    const double last = At(20, 0);
    EXPECT_TRUE(ReadingDue(At(20, 10), last, 10));
    EXPECT_FALSE(ReadingDue(At(20, 9, 30), last, 10));
    // Ten minutes built from twenty additions of 30 s are still ten minutes.
    double t = last;
    for (int i = 0; i < 20; ++i) t += 30.0 / 86400.0;
    EXPECT_TRUE(ReadingDue(t, last, 10));
    EXPECT_TRUE(ReadingDue(At(20, 0), last, 0));
    EXPECT_FALSE(ReadingDue(At(19, 0), last, 10));  // a clock set back
    EXPECT_TRUE(ReadingDue(At(20, 0), 0, 1440));    // the first tick after a start
}

TEST(ReadingWindow, DueRuleForgivesAFewSecondsOfTickJitterAndClockSteps) {
    const double last = At(20, 0);
    const double ms = 1.0 / 86400000.0;
    struct Case {
        double elapsedMs;
        int interval;
        bool due;
    } cases[] = {
        {60000, 1, true},
        {59999, 1, true},    // the second tick landing a millisecond early
        {58000, 1, true},    // a synchronisation that moved the clock back by 2 s
        {55000, 1, true},    // the limit: five seconds short
        {54999, 1, false},
        {30005, 1, false},   // one tick late by 5 ms is still one tick
        {31000, 1, false},   // ... and after the clock moved forward by a second
        {119995, 2, true},   // the fourth tick of a 2-minute interval
        {90010, 2, false},   // the third is not
        {115000, 2, true},
        {114999, 2, false},
        {599995, 10, true},
        {570000, 10, false},
        {-5000, 0, true},    // interval 0: every tick
        {-5001, 0, false},   // ... but not after the clock went back further
        {-60000, 1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadingDue(last + c.elapsedMs * ms, last, c.interval), c.due)
            << c.elapsedMs << " ms, interval " << c.interval;
}

TEST(ReadingWindow, UtcOffsetUsesTheStandardBiasAndOneHourOfDaylightSaving) {
    const double h = 1.0 / 24;
    struct Case {
        int bias;
        bool dst;
        int siteZone;
        double offset;
    } cases[] = {
        {-60, false, 1, -h},       // Rome in winter: UTC = local - 1 h
        {-60, true, 1, -2 * h},    // Rome in summer
        {300, true, -5, 4 * h},    // New York in summer
        {-330, false, 5, -5 * h},  // India: only whole hours count
        {-60, true, 12, -h},       // zone 12 ignores the bias: daylight part only
        {-60, false, -13, 0},
        {-60, false, -12, -h},
        {-630, true, 10, -11 * h}, // Lord Howe: whatever the zone's own daylight bias, one hour
    };
    for (const Case& c : cases)
        EXPECT_NEAR(LocalToUtcOffset(c.siteZone, {c.bias, c.dst}), c.offset, 1e-12) << c.bias << " " << c.siteZone;
    EXPECT_EQ(DefaultTimeZone({-60, false}), 1);
    EXPECT_EQ(DefaultTimeZone({-60, true}), 1);
    EXPECT_EQ(DefaultTimeZone({300, false}), -5);
    EXPECT_EQ(DefaultTimeZone({-330, false}), 5);
    EXPECT_EQ(DefaultTimeZone({210, false}), -3);  // Newfoundland, toward zero
}

// The real zone, named through TZ.
class PcZone : public ::testing::Test {
protected:
    void TearDown() override {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    void Use(const char* tz) {
        if (!saved_) saved_ = getenv("TZ") ? std::string(getenv("TZ")) : std::string();
        setenv("TZ", tz, 1);
        tzset();
    }
    std::optional<std::string> saved_;
};

TEST_F(PcZone, StandardBiasIsKeptApartFromDaylightSaving) {
    // POSIX rules that make daylight saving always or never in force now.
    Use("CET-1CEST,J1/0,J365/25");  // summer time all year long
    TZoneInfo z = PcZoneInfo();
    EXPECT_TRUE(z.Daylight);
    EXPECT_EQ(z.BiasMinutes, -60);
    Use("EST5");
    z = PcZoneInfo();
    EXPECT_FALSE(z.Daylight);
    EXPECT_EQ(z.BiasMinutes, 300);
    Use("UTC0");
    z = PcZoneInfo();
    EXPECT_EQ(z.BiasMinutes, 0);
    EXPECT_FALSE(z.Daylight);
}

}  // namespace
