// Sunrise, sunset and astronomical twilight.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/astronomy/vsop.h"

namespace {

constexpr double k20200621 = 44003;
constexpr double k20201221 = 44186;
constexpr double k20200320 = 43910;

double HM(double day, int hour, int minute) { return day + (hour + minute / 60.0) / 24; }

// All worked times hold to within one minute.
constexpr double kMinute = 1.0 / 1440;

struct Case {
    const char* name;
    long double latitude, longitudeWest;
    double day;
    // Expected times as (hour, minute); hour -1 means E_NoRiseSet.
    int rise[2], set[2], dawn[2], dusk[2];
};

const Case kCases[] = {
    {"45N 9E midsummer", 45, -9, k20200621, {3, 37}, {19, 14}, {1, 4}, {21, 48}},
    {"60N 9E midsummer", 60, -9, k20200621, {2, 0}, {20, 52}, {-1, 0}, {-1, 0}},
    {"70N 9E midwinter", 70, -9, k20201221, {-1, 0}, {-1, 0}, {6, 10}, {16, 35}},
    {"34N 118W, UT day", 34, 118, k20200621, {12, 41}, {3, 6}, {10, 57}, {4, 51}},
    {"35S 150E, UT day", -35, -150, k20200621, {21, 8}, {6, 56}, {19, 37}, {8, 27}},
    {"equator equinox", 0, 0, k20200320, {6, 4}, {18, 11}, {-99, 0}, {-99, 0}},
};

void ExpectEvent(const Case& c, RiseSetKind kind, const int (&hm)[2], const char* what) {
    SCOPED_TRACE(std::string(c.name) + ", " + what);
    if (hm[0] == -99) return;  // not given
    if (hm[0] < 0) {
        EXPECT_THROW(RiseSetEvent(kind, c.day, c.longitudeWest, c.latitude), E_NoRiseSet);
        return;
    }
    EXPECT_NEAR(RiseSetEvent(kind, c.day, c.longitudeWest, c.latitude), HM(c.day, hm[0], hm[1]), kMinute);
}

TEST(AstronomyRiseSet, WorkedTimesForPlacesAndDates) {
    for (const Case& c : kCases) {
        ExpectEvent(c, RiseSetKind::Sunrise, c.rise, "sunrise");
        ExpectEvent(c, RiseSetKind::Sunset, c.set, "sunset");
        ExpectEvent(c, RiseSetKind::AstronomicalDawn, c.dawn, "dawn");
        ExpectEvent(c, RiseSetKind::AstronomicalDusk, c.dusk, "dusk");
    }
}

TEST(AstronomyRiseSet, EntryPointsAreTheFourEvents) {
    const double d = k20200621;
    EXPECT_EQ(SunRise(d, -9, 45), RiseSetEvent(RiseSetKind::Sunrise, d, -9, 45));
    EXPECT_EQ(SunSet(d, -9, 45), RiseSetEvent(RiseSetKind::Sunset, d, -9, 45));
    EXPECT_EQ(AstronomicalDawn(d, -9, 45), RiseSetEvent(RiseSetKind::AstronomicalDawn, d, -9, 45));
    EXPECT_EQ(AstronomicalDusk(d, -9, 45), RiseSetEvent(RiseSetKind::AstronomicalDusk, d, -9, 45));
}

TEST(AstronomyRiseSet, AstronomicalNightBoundaryNear48Point5North) {
    EXPECT_NEAR(AstronomicalDusk(k20200621, -9, 48.5), HM(k20200621, 23, 12), kMinute);
    EXPECT_THROW(AstronomicalDusk(k20200621, -9, 48.6), E_NoRiseSet);
    EXPECT_THROW(AstronomicalDawn(k20200621, -9, 48.6), E_NoRiseSet);
    // The same boundary mirrored in the south at the December solstice.
    EXPECT_NO_THROW(AstronomicalDusk(k20201221, -9, -48.4));
    EXPECT_THROW(AstronomicalDusk(k20201221, -9, -48.7), E_NoRiseSet);
}

TEST(AstronomyRiseSet, DawnFailsExactlyWhenDuskFails) {
    // Both test the Sun at 0h of the day, so they fail together.
    for (long double lat = 44; lat <= 90; lat += 0.25L) {
        for (double day : {k20200621, k20201221, 44050.0}) {
            bool duskFails = false, dawnFails = false;
            try {
                AstronomicalDusk(day, -9, lat);
            } catch (const E_NoRiseSet&) {
                duskFails = true;
            }
            try {
                AstronomicalDawn(day, -9, lat);
            } catch (const E_NoRiseSet&) {
                dawnFails = true;
            }
            EXPECT_EQ(duskFails, dawnFails) << static_cast<double>(lat) << " " << day;
        }
    }
}

TEST(AstronomyRiseSet, PolarDayAndNight) {
    // Near the poles the Sun neither rises nor sets for months.
    EXPECT_THROW(SunRise(k20200621, 0, 89), E_NoRiseSet);   // midnight sun
    EXPECT_THROW(SunSet(k20201221, 0, 89), E_NoRiseSet);    // polar night
    EXPECT_THROW(SunRise(k20201221, 0, -89), E_NoRiseSet);  // southern midnight sun
    EXPECT_THROW(SunRise(k20200621, 0, 90), E_NoRiseSet);
    EXPECT_THROW(SunSet(k20200621, 0, -90), E_NoRiseSet);
    EXPECT_THROW(AstronomicalDusk(k20200621, 0, 90), E_NoRiseSet);
}

TEST(AstronomyRiseSet, NoRiseSetIsARuntimeErrorWithItsMessage) {
    try {
        SunRise(k20201221, -9, 70);
        FAIL() << "polar night must raise";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "No rises or sets calculable");
        EXPECT_NE(dynamic_cast<const E_NoRiseSet*>(&e), nullptr);
    }
}

TEST(AstronomyRiseSet, TimeOfDayOfTheDateIsIgnored) {
    for (auto f : {&SunRise, &SunSet, &AstronomicalDawn, &AstronomicalDusk}) {
        const double a = f(k20200621, -9, 45);
        EXPECT_EQ(f(k20200621 + 23.99 / 24, -9, 45), a);
        EXPECT_EQ(f(k20200621 + 0.5, -9, 45), a);
    }
}

TEST(AstronomyRiseSet, DaysBefore1899AreFloored) {
    // Date-times count days linearly, so -0.5 is noon of 1899-12-29: its
    // events are those of day -1, not of day 0.
    EXPECT_EQ(SunRise(-0.5, -9, 45), SunRise(-1, -9, 45));
    EXPECT_GT(SunRise(-1, -9, 45), -1);
    EXPECT_LT(SunRise(-1, -9, 45), 0);
}

TEST(AstronomyRiseSet, TheSunStandsAtTheEventsAltitude) {
    // Independent check of the one correction step: at the instant returned
    // the Sun's centre is at h0, within what a minute of motion amounts to.
    const struct {
        long double lat, lonWest;
    } sites[] = {{45, -9}, {-35, -150}, {34, 118}, {0, 0}, {52.5, -13.4}, {-20, 60}};
    for (const auto& s : sites) {
        for (double day = 43831; day < 43831 + 366; day += 17) {
            const long double rise = SunHorizontalPosition(SunRise(day, s.lonWest, s.lat), s.lonWest, s.lat).Altitude;
            const long double set = SunHorizontalPosition(SunSet(day, s.lonWest, s.lat), s.lonWest, s.lat).Altitude;
            EXPECT_NEAR(rise, -0.8333, 0.05) << static_cast<double>(s.lat) << " " << day;
            EXPECT_NEAR(set, -0.8333, 0.05) << static_cast<double>(s.lat) << " " << day;
            try {
                const double dawn = AstronomicalDawn(day, s.lonWest, s.lat);
                const double dusk = AstronomicalDusk(day, s.lonWest, s.lat);
                EXPECT_NEAR(SunHorizontalPosition(dawn, s.lonWest, s.lat).Altitude, -18, 0.05);
                EXPECT_NEAR(SunHorizontalPosition(dusk, s.lonWest, s.lat).Altitude, -18, 0.05);
                // Rising events see the Sun climb, setting ones see it sink
                // (where it crosses steeply enough for a minute to tell).
                if (std::fabs(s.lat) <= 45) {
                    EXPECT_GT(SunHorizontalPosition(dawn + kMinute, s.lonWest, s.lat).Altitude, -18);
                    EXPECT_LT(SunHorizontalPosition(dusk + kMinute, s.lonWest, s.lat).Altitude, -18);
                }
            } catch (const E_NoRiseSet&) {
                EXPECT_GT(std::fabs(s.lat), 48) << "only high latitudes lack astronomical night";
            }
        }
    }
}

// An event as a thread that never computed another gives it.
double Afresh(double (*event)(double, long double, long double), double day, long double lon, long double lat) {
    double r = NAN;
    std::thread([&] {
        try {
            r = event(day, lon, lat);
        } catch (const E_NoRiseSet&) {
            r = INFINITY;
        }
    }).join();
    return r;
}

TEST(AstronomyRiseSet, AnEventIsTheSameToTheBitWhateverWasAskedBefore) {
    // Days in and out of order, repeated, neighbours and far apart, at sites
    // of both hemispheres and one without a night: what a station asks tick
    // after tick and an import day after day.
    const double days[] = {44003, 44004, 44003, 44002, 44010.75, 44004.2, 36526, 44003, 44005, 44001, -3.5, 44003};
    const struct {
        long double lonWest, lat;
    } sites[] = {{-9, 45}, {-150, -35}, {0, 70}};
    for (auto f : {&SunRise, &SunSet, &AstronomicalDawn, &AstronomicalDusk}) {
        for (const double day : days) {
            for (const auto& s : sites) {
                double now = INFINITY;
                try {
                    now = f(day, s.lonWest, s.lat);
                } catch (const E_NoRiseSet&) {
                }
                EXPECT_EQ(now, Afresh(f, day, s.lonWest, s.lat)) << day << " " << static_cast<double>(s.lat);
            }
        }
    }
}

TEST(AstronomyRiseSet, ResultsStayNearTheirUTDay) {
    for (long double lonWest = -180; lonWest <= 180; lonWest += 15) {
        const double r = SunRise(k20200320, lonWest, 10);
        EXPECT_GT(r, k20200320 - 0.01);
        EXPECT_LT(r, k20200320 + 1.01);
    }
}

TEST(AstronomyRiseSet, RejectsBadArguments) {
    EXPECT_THROW(SunRise(k20200621, -9, 91), std::invalid_argument);
    EXPECT_THROW(SunSet(k20200621, NAN, 45), std::invalid_argument);
    EXPECT_THROW(AstronomicalDawn(NAN, -9, 45), std::invalid_argument);
    EXPECT_THROW(AstronomicalDusk(INFINITY, -9, 45), std::invalid_argument);
}

TEST(AstronomyInterpolate3, BridgesTheWrapOfRightAscension) {
    EXPECT_NEAR(Interpolate3(350, 359, 8, 0.5), 363.5, 1e-15);
    EXPECT_NEAR(Interpolate3(10, 1, -8 + 360, 0.5), -3.5, 1e-15);
    // Exact for a quadratic.
    auto q = [](long double x) { return 3 + 2 * x - 0.5L * x * x; };
    for (long double n : {-0.4L, 0.0L, 0.3L, 1.0L}) EXPECT_NEAR(Interpolate3(q(-1), q(0), q(1), n), q(n), 1e-15);
    EXPECT_EQ(Interpolate3(1, 2, 4, 0), 2);
}

TEST(AstronomyRiseSetCorrection, VanishesAtTheEvent) {
    RiseSetWork w;
    w.h0 = -0.8333L;
    w.Latitude = 45;
    w.Longitude = -9;
    w.Theta0 = ApparentSiderealTime(k20200621);
    for (int i = 0; i < 3; ++i) w.Sun[i] = SunPosition(k20200621 - 1 + i);
    const double rise = SunRise(k20200621, -9, 45);
    const long double m = rise - k20200621;
    // Already corrected once: a second step moves it by under a second.
    EXPECT_LT(std::fabs(RiseSetCorrection(m, w)), 1.0L / 86400);
    // Ten minutes early, the step points forward by about that much.
    EXPECT_NEAR(RiseSetCorrection(m - 10.0L / 1440, w), 10.0L / 1440, 20.0L / 86400);
    EXPECT_NEAR(RiseSetCorrection(m + 10.0L / 1440, w), -10.0L / 1440, 20.0L / 86400);
}

}  // namespace
