// Night quality on nights made by a model whose clouds are known: each dark
// reading classified as the model made it, twilight and a setting Moon on a
// clear night never cloudy, the night's figures, months and years, the
// trend, and what the programs print of them.
#include <gtest/gtest.h>

#include <limits>

#include "core/site/nightmodel.h"
#include "core/site/nightquality.h"

namespace {

using namespace nightmodel;

// Nights of a winter at Asiago, every third with a Moon that sets in the
// evening, three of every four with three cloud stretches of the three
// kinds, an hour or more apart, starting off the readings' minute.
std::vector<TModelNight> Winter(double interval, double noise) {
    std::vector<TModelNight> out;
    const TCloud kinds[] = {TCloud::Thick, TCloud::Thin, TCloud::Broken};
    for (int k = 0; k < 24; ++k) {
        TModelNight n;
        n.Night = EncodeDate(2025, 1, 5) + k * 3;
        n.IntervalMinutes = interval;
        n.Noise = noise;
        n.Seed = 100 + k;
        if (k % 3 == 0) n.MoonSet = At(n, -3 + k % 5);
        if (k % 4 != 3) {
            n.Clouds.push_back({At(n, -4.13 + k % 3), At(n, -2.55 + k % 3), kinds[k % 3]});
            n.Clouds.push_back({At(n, 0.57 + k % 2), At(n, 1.81 + k % 2), kinds[(k + 1) % 3]});
            n.Clouds.push_back({At(n, 3.44), At(n, 4.32), kinds[(k + 2) % 3]});
        }
        out.push_back(n);
    }
    return out;
}

struct TScore {
    int Dark = 0, Right = 0;
    int Cloudy[3] = {}, CloudyFound[3] = {};
    double Share() const { return static_cast<double>(Right) / Dark; }
};

TScore Score(const std::vector<TModelNight>& nights, const TStabilityRule& rule = {}) {
    TScore s;
    for (const TModelNight& n : nights) {
        const auto made = MakeNight(n);
        const auto q = ClassifyReadings(ReadingsOf(made), rule);
        for (size_t i = 0; i < made.size(); ++i) {
            if (!q[i].Dark) continue;
            ++s.Dark;
            const bool cloudy = q[i].Sky == TSky::Cloudy;
            s.Right += made[i].Cloudy ? cloudy : q[i].Sky == TSky::Clear;
            if (made[i].Cloudy)
                for (const TCloudStretch& c : n.Clouds)
                    if (made[i].Reading.Time >= c.From && made[i].Reading.Time <= c.To) {
                        ++s.Cloudy[static_cast<int>(c.Kind)];
                        s.CloudyFound[static_cast<int>(c.Kind)] += cloudy;
                    }
        }
    }
    return s;
}


TEST(NightModel, ItsSunIsTheEnginesWithinTwoHundredthsOfADegree) {
    // The model's twilight stands on the Sun of a short formula; it must be
    // the Sun the station stores, at both sites the tests use, all the year.
    for (const auto& [lat, lon] : {std::pair{45.87, 11.53}, std::pair{52.2533, -8.3605}}) {
        TModelNight n;
        n.Latitude = lat;
        n.Longitude = lon;
        for (double t = EncodeDate(2024, 12, 1); t < EncodeDate(2026, 3, 1); t += 13.37) {
            const double engine = static_cast<double>(SunHorizontalPosition(t, -lon, lat).Altitude);
            EXPECT_NEAR(SunHeight(n, t), engine, 0.02) << FormatSqlDateTime(t) << " " << lat;
        }
    }
}

class ModelNights : public ::testing::TestWithParam<double> {};

TEST_P(ModelNights, NinetyFivePerCentOfTheDarkReadingsAreClassifiedAsTheModelMadeThem) {
    for (double noise : {0.02, 0.03}) {
        SCOPED_TRACE("noise " + std::to_string(noise));
        const TScore s = Score(Winter(GetParam(), noise));
        ASSERT_GT(s.Dark, 24 * 8 * 60 / GetParam() * 0.8);
        EXPECT_GE(s.Share(), 0.95) << s.Right << " of " << s.Dark;
        // Each kind of cloud is mostly found: none is left to the others.
        for (int kind = 0; kind < 3; ++kind) {
            ASSERT_GT(s.Cloudy[kind], 0);
            EXPECT_GE(static_cast<double>(s.CloudyFound[kind]) / s.Cloudy[kind], 0.75) << "kind " << kind;
        }
    }
}

TEST_P(ModelNights, TwilightAndASettingMoonOnAClearNightAreNeverCloudy) {
    // Dusk, dawn and the Moon are never taken for cloud, even by a noisy
    // meter's; the dark sky between is clear on a quiet meter, and on a noisy
    // one (0.05 mag) a reading's scatter now and then passes the threshold,
    // the more often the fewer readings a window holds: over many seeds at
    // most 0.2 in a hundred at one a minute, 3 at one every 5 and 7 every 10.
    for (double noise : {0.02, 0.05}) {
        int dark = 0, darkCloudy = 0;
        for (double moonSet : {-4.0, -1.5, 2.0}) {
            for (unsigned seed : {7u, 1007u}) {
                TModelNight n;
                n.Night = EncodeDate(2025, 2, 10);
                n.IntervalMinutes = GetParam();
                n.Noise = noise;
                n.MoonSet = At(n, moonSet);
                n.MoonZenith = 17.5;
                n.Seed = seed + static_cast<unsigned>(moonSet * 10 + 100);
                const auto made = MakeNight(n);
                const auto q = ClassifyReadings(ReadingsOf(made));
                int twilight = 0, moon = 0;
                for (size_t i = 0; i < made.size(); ++i) {
                    const TNightReading& r = made[i].Reading;
                    SCOPED_TRACE(FormatSqlDateTime(r.Time) + " sun " + std::to_string(*r.SunHeight) + " moon " +
                                 std::to_string(*r.MoonHeight) + " noise " + std::to_string(noise));
                    const bool lit = *r.SunHeight > -18 || *r.MoonHeight > 0;
                    if (lit || noise < 0.03) EXPECT_NE(q[i].Sky, TSky::Cloudy) << "index " << q[i].Index.value_or(-1);
                    twilight += *r.SunHeight > -18;
                    moon += *r.MoonHeight > 0 && *r.SunHeight < -18;
                    dark += !lit;
                    darkCloudy += !lit && q[i].Sky == TSky::Cloudy;
                }
                // The nights do have what they test: dusk, dawn and a Moon up in the dark.
                EXPECT_GT(twilight, 2 * 60 / GetParam());
                if (moonSet > -3) EXPECT_GT(moon, 30 / GetParam());
            }
        }
        EXPECT_LE(darkCloudy, dark * 0.01 * GetParam()) << darkCloudy << " of " << dark << " dark readings, noise " << noise;
    }
}

TEST_P(ModelNights, AClearNightIsClearWithTheSkyOfTheModelAndACloudyOneCloudy) {
    TModelNight clear;
    clear.Night = EncodeDate(2025, 3, 1);
    clear.IntervalMinutes = GetParam();
    clear.Zenith = 21.4;
    const TNightSummary s = SummariseReadings(clear.Night, ReadingsOf(MakeNight(clear)));
    EXPECT_EQ(s.Class(), TNightClass::Clear);
    EXPECT_GT(s.DarkReadings, 8 * 60 / GetParam());
    ASSERT_TRUE(s.SkyBrightness);
    // The model dims by 0.15 mag either side of midnight.
    EXPECT_NEAR(*s.SkyBrightness, 21.4, 0.1);
    ASSERT_TRUE(s.Darkest);
    EXPECT_GE(*s.Darkest, *s.SkyBrightness);
    EXPECT_LE(*s.Darkest, 21.4 + 0.15 + 0.15);

    TModelNight overcast = clear;
    overcast.Clouds = {{At(clear, -8), At(clear, 8), TCloud::Thick}};
    EXPECT_EQ(SummariseReadings(overcast.Night, ReadingsOf(MakeNight(overcast))).Class(), TNightClass::Cloudy);

    TModelNight half = clear;
    half.Clouds = {{At(clear, -1.03), At(clear, 3.1), TCloud::Broken}};
    const auto made = MakeNight(half);
    const TNightSummary p = SummariseReadings(half.Night, ReadingsOf(made));
    EXPECT_EQ(p.Class(), TNightClass::Partly);
    int dark = 0, cloudyDark = 0;
    for (const TModelReading& r : made)
        if (IsDark(r.Reading)) {
            ++dark;
            cloudyDark += r.Cloudy;
        }
    EXPECT_EQ(p.DarkReadings, dark);
    ASSERT_TRUE(p.ClearFraction());
    EXPECT_NEAR(*p.ClearFraction(), 1 - static_cast<double>(cloudyDark) / dark, 0.05);
}

INSTANTIATE_TEST_SUITE_P(OneFiveAndTenMinutes, ModelNights, ::testing::Values(1.0, 5.0, 10.0));

TEST(NightQuality, ALateMayNightAtFiftyTwoNorthHasNoDarkTime) {
    TModelNight may;
    may.Night = EncodeDate(2019, 5, 28);
    may.Latitude = 52.2533;
    may.Longitude = -8.3605;
    may.IntervalMinutes = 5;
    const auto made = MakeNight(may);
    ASSERT_GT(made.size(), 40u);
    const TNightSummary s = SummariseReadings(may.Night, ReadingsOf(made));
    EXPECT_EQ(s.Class(), TNightClass::NoDarkTime);
    EXPECT_EQ(s.Readings, static_cast<int>(made.size()));
    EXPECT_EQ(s.DarkReadings, 0);
    EXPECT_FALSE(s.ClearFraction());
    EXPECT_FALSE(s.SkyBrightness);
    EXPECT_FALSE(s.Darkest);
    // Mid-April the same place has a dark night.
    may.Night = EncodeDate(2019, 4, 10);
    EXPECT_EQ(SummariseReadings(may.Night, ReadingsOf(MakeNight(may))).Class(), TNightClass::Clear);
}

TEST(NightQuality, DarkNeedsTheSunBelowEighteenAndTheMoonBelowTheHorizonBothKnown) {
    auto r = [](std::optional<double> sun, std::optional<double> moon) {
        TNightReading x;
        x.SunHeight = sun;
        x.MoonHeight = moon;
        return x;
    };
    EXPECT_TRUE(IsDark(r(-18.01, -0.01)));
    EXPECT_FALSE(IsDark(r(-18, -5)));
    EXPECT_FALSE(IsDark(r(-30, 0)));
    EXPECT_FALSE(IsDark(r(std::nullopt, -5)));
    EXPECT_FALSE(IsDark(r(-30, std::nullopt)));
}

TEST(NightQuality, TheWindowWidensForSparseReadingsAndSaysSoAndAReadingAloneIsUnknown) {
    for (const auto& [interval, half] : {std::pair{1.0, 5.0}, {2.0, 5.0}, {5.0, 10.0}, {10.0, 15.0}, {15.0, 30.0}}) {
        TModelNight n;
        n.Night = EncodeDate(2025, 1, 20);
        n.IntervalMinutes = interval;
        const auto q = ClassifyReadings(ReadingsOf(MakeNight(n)));
        ASSERT_GT(q.size(), 40u);
        // The first and last readings have neighbours on one side only.
        for (size_t i = 0; i < q.size(); ++i) {
            if (i >= 4 && i + 4 < q.size()) {
                EXPECT_EQ(q[i].HalfWindow, half) << interval;
                EXPECT_EQ(q[i].Sky, TSky::Clear) << interval;
            } else if (q[i].Index) {
                EXPECT_GE(q[i].HalfWindow, half) << interval;
            }
        }
    }
    // Readings every 25 minutes, or one alone after a gap, cannot be judged.
    TModelNight sparse;
    sparse.Night = EncodeDate(2025, 1, 20);
    sparse.IntervalMinutes = 25;
    for (const TReadingQuality& r : ClassifyReadings(ReadingsOf(MakeNight(sparse)))) {
        EXPECT_EQ(r.Sky, TSky::Unknown);
        EXPECT_FALSE(r.Index);
        EXPECT_EQ(r.HalfWindow, 0);
    }
    TModelNight dense;
    dense.Night = sparse.Night;
    auto rows = ReadingsOf(MakeNight(dense));
    std::vector<TNightReading> gap(rows.begin(), rows.begin() + 100);
    gap.push_back(rows[200]);
    const auto q = ClassifyReadings(gap);
    EXPECT_EQ(q.back().Sky, TSky::Unknown);
    EXPECT_EQ(q[50].Sky, TSky::Clear);
}

TEST(NightQuality, AValueNoMeterGivesIsLeftOutAndNeverStopsTheNight) {
    TModelNight n;
    n.Night = EncodeDate(2025, 1, 20);
    auto rows = ReadingsOf(MakeNight(n));
    const TNightSummary clean = SummariseReadings(n.Night, rows);
    const double bad[] = {1e308, std::numeric_limits<double>::infinity(), std::nan(""), -1, 0, 31};
    for (size_t k = 0; k < std::size(bad); ++k) {
        TNightReading r = rows[300 + k * 20];
        r.Value = bad[k];
        rows.insert(rows.begin() + 300 + k * 20, r);
    }
    TNightReading lost;
    lost.Time = std::nan("");
    lost.Value = 21;
    rows.push_back(lost);
    EXPECT_EQ(SummariseReadings(n.Night, rows), clean);
    EXPECT_TRUE(IsMeterValue(21.5));
    EXPECT_FALSE(IsMeterValue(1e308));
}

TEST(NightQuality, TheNightsFiguresFollowFromItsClearDarkReadings) {
    // Four dark readings, three clear (a smooth run), then a jump.
    std::vector<TNightReading> rows;
    const double t0 = EncodeDateTime(2025, 1, 20, 22, 0, 0);
    const double values[] = {21.00, 21.02, 21.01, 21.03, 21.02, 21.04, 21.03, 21.05, 21.04, 21.06};
    for (int i = 0; i < 10; ++i) rows.push_back({t0 + i / 1440.0, values[i], -40.0, -10.0});
    TNightSummary s = SummariseReadings(EncodeDate(2025, 1, 20), rows);
    EXPECT_EQ(s.Readings, 10);
    EXPECT_EQ(s.DarkReadings, 10);
    EXPECT_EQ(s.ClearDarkReadings, 10);
    EXPECT_DOUBLE_EQ(*s.SkyBrightness, (21.03 + 21.03) / 2);
    EXPECT_DOUBLE_EQ(*s.Darkest, 21.06);
    EXPECT_EQ(s.Class(), TNightClass::Clear);
    // The Moon up for the first four: they are no longer dark.
    for (int i = 0; i < 4; ++i) rows[i].MoonHeight = 3;
    s = SummariseReadings(EncodeDate(2025, 1, 20), rows);
    EXPECT_EQ(s.DarkReadings, 6);
    EXPECT_DOUBLE_EQ(*s.SkyBrightness, (21.04 + 21.04) / 2);
    EXPECT_DOUBLE_EQ(*s.ClearFraction(), 1.0);
}

TEST(NightQuality, ClassesFollowTheClearFraction) {
    auto of = [](int readings, int dark, int clear) {
        TNightSummary s;
        s.Readings = readings;
        s.DarkReadings = dark;
        s.ClearDarkReadings = clear;
        return s.Class();
    };
    EXPECT_EQ(of(0, 0, 0), TNightClass::NoData);
    EXPECT_EQ(of(5, 0, 0), TNightClass::NoDarkTime);
    EXPECT_EQ(of(100, 100, 90), TNightClass::Clear);
    EXPECT_EQ(of(100, 100, 89), TNightClass::Partly);
    EXPECT_EQ(of(100, 100, 10), TNightClass::Partly);
    EXPECT_EQ(of(100, 100, 9), TNightClass::Cloudy);
    EXPECT_EQ(of(100, 100, 0), TNightClass::Cloudy);
    EXPECT_STREQ(NightClassName(TNightClass::NoDarkTime), "no-dark-time");
    EXPECT_STREQ(NightClassName(TNightClass::NoData), "no-data");
    EXPECT_STREQ(NightClassName(TNightClass::Partly), "partly");
}

TNightSummary Night(int y, int m, int d, std::optional<double> sky, int readings = 100, int dark = 50,
                    int clear = 50, std::optional<double> darkest = std::nullopt) {
    TNightSummary s;
    s.Night = EncodeDate(y, m, d);
    s.Readings = readings;
    s.DarkReadings = dark;
    s.ClearDarkReadings = clear;
    s.SkyBrightness = sky;
    s.Darkest = darkest ? darkest : sky;
    return s;
}

TEST(NightQuality, MonthsAndYearsCountNightsWithReadingsAndTakeTheClearNightsMedian) {
    const std::vector<TNightSummary> nights = {
        Night(2024, 12, 30, 21.0), Night(2024, 12, 31, 20.0, 100, 50, 20, 21.7),  // partly: its darkest counts
        Night(2025, 1, 1, std::nullopt, 0, 0, 0), Night(2025, 1, 2, 21.2), Night(2025, 1, 3, 21.4),
        Night(2025, 1, 4, 21.3), Night(2025, 2, 1, std::nullopt, 80, 0, 0)};
    const auto months = AggregateNights(nights, TNightGrouping::Month);
    ASSERT_EQ(months.size(), 3u);
    EXPECT_EQ(months[0].Period, "2024-12");
    EXPECT_EQ(months[0].Nights, 2);
    EXPECT_EQ(months[0].ClearNights, 1);
    EXPECT_DOUBLE_EQ(*months[0].SkyBrightness, 21.0);
    EXPECT_DOUBLE_EQ(*months[0].Darkest, 21.7);
    EXPECT_EQ(months[1].Period, "2025-01");
    EXPECT_EQ(months[1].Nights, 3);
    EXPECT_EQ(months[1].ClearNights, 3);
    EXPECT_DOUBLE_EQ(*months[1].SkyBrightness, 21.3);
    EXPECT_DOUBLE_EQ(*months[1].Darkest, 21.4);
    EXPECT_EQ(months[2].Nights, 1);
    EXPECT_EQ(months[2].ClearNights, 0);
    EXPECT_FALSE(months[2].SkyBrightness);
    const auto years = AggregateNights(nights, TNightGrouping::Year);
    ASSERT_EQ(years.size(), 2u);
    EXPECT_EQ(years[1].Period, "2025");
    EXPECT_EQ(years[1].Nights, 4);
    EXPECT_DOUBLE_EQ(*years[1].SkyBrightness, 21.3);
}

// Clear nights every fourth day over `years`, brightening by `slope` a year
// with a scatter of `scatter` mag from night to night.
std::vector<TNightSummary> Brightening(double slope, double years, double scatter, unsigned seed = 3) {
    std::mt19937 g(seed);
    std::normal_distribution<double> noise(0, scatter);
    std::vector<TNightSummary> out;
    const double start = EncodeDate(2015, 1, 1);
    for (double d = 0; d < years * 365.25; d += 4) {
        TNightSummary s = Night(2015, 1, 1, 21.5 + slope * d / 365.25 + noise(g));
        s.Night = start + d;
        out.push_back(s);
        TNightSummary cloudy = s;  // cloudy nights between: left out of the fit
        cloudy.Night += 1;
        cloudy.ClearDarkReadings = 2;
        cloudy.SkyBrightness = 15;
        out.push_back(cloudy);
    }
    return out;
}

TEST(NightQuality, TheTrendFindsAKnownSlopeWithinItsIntervalInMagnitudesAndPerCent) {
    const TNightTrend t = FitTrend(Brightening(-0.05, 6, 0.15));
    ASSERT_TRUE(t.Fitted()) << t.Refusal;
    EXPECT_NEAR(t.Slope, -0.05, 0.01);
    EXPECT_LT(t.Low, -0.05);
    EXPECT_GT(t.High, -0.05);
    EXPECT_LT(t.Low, t.Slope);
    EXPECT_GT(t.High, t.Slope);
    EXPECT_LT(t.High - t.Low, 0.03);
    // 0.05 mag/arcsec^2 brighter a year is 4.7 % more light a year.
    EXPECT_DOUBLE_EQ(t.PercentPerYear, BrightnessPercent(t.Slope));
    EXPECT_NEAR(t.PercentPerYear, 4.7, 1.0);
    EXPECT_NEAR(BrightnessPercent(-0.05), 4.71, 0.01);
    EXPECT_NEAR(BrightnessPercent(0.1), -8.80, 0.01);
    EXPECT_EQ(t.Nights, static_cast<int>(Brightening(-0.05, 6, 0.15).size() / 2));
    EXPECT_EQ(NightName(t.From), "2015-01-01");
    // A steady sky: the interval holds 0.
    const TNightTrend flat = FitTrend(Brightening(0, 3, 0.1, 9));
    ASSERT_TRUE(flat.Fitted());
    EXPECT_LT(flat.Low, 0);
    EXPECT_GT(flat.High, 0);
}

TEST(NightQuality, ATrendIsRefusedUnderThirtyClearNightsOrUnderAYearAndSaysWhy) {
    auto few = Brightening(-0.05, 6, 0.1);
    few.resize(58);  // 29 clear nights
    TNightTrend t = FitTrend(few);
    EXPECT_FALSE(t.Fitted());
    EXPECT_EQ(t.Refusal, "A trend needs at least 30 clear nights; there are 29.");
    EXPECT_EQ(TrendJson(t), "null\n");
    auto shortSpan = Brightening(-0.05, 0.9, 0.1);
    t = FitTrend(shortSpan);
    EXPECT_FALSE(t.Fitted());
    EXPECT_GE(t.Nights, 30);
    EXPECT_EQ(t.Refusal, "A trend needs clear nights over at least one year; these span 328 days.");
    EXPECT_TRUE(FitTrend(Brightening(-0.05, 1.01, 0.1)).Fitted());
}

TEST(NightQuality, ManyYearsOfClearNightsAreFittedFromASampleOfPairsWithTheSameAnswer) {
    auto many = Brightening(0.03, 40, 0.1, 5);
    const TNightTrend t = FitTrend(many);
    ASSERT_TRUE(t.Fitted());
    EXPECT_GT(t.Nights, 3000);
    EXPECT_NEAR(t.Slope, 0.03, 0.002);
    EXPECT_LT(t.Low, t.Slope);
    EXPECT_GT(t.High, t.Slope);
}

TEST(NightQuality, TheJsonAndCsvCarryTheFieldNamesScriptsRead) {
    std::vector<TNightSummary> nights = {Night(2019, 4, 30, 21.125, 101, 47, 47, 21.59),
                                         Night(2019, 5, 10, std::nullopt, 95, 0, 0), Night(2019, 5, 13, std::nullopt, 0, 0, 0)};
    EXPECT_EQ(NightsJson(nights),
              "[\n"
              "{\"night\":\"2019-04-30\",\"readings\":101,\"dark_readings\":47,\"clear_dark_readings\":47,"
              "\"clear_fraction\":1.000,\"sky_brightness\":21.125,\"darkest\":21.59,\"class\":\"clear\"},\n"
              "{\"night\":\"2019-05-10\",\"readings\":95,\"dark_readings\":0,\"clear_dark_readings\":0,"
              "\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-dark-time\"},\n"
              "{\"night\":\"2019-05-13\",\"readings\":0,\"dark_readings\":0,\"clear_dark_readings\":0,"
              "\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-data\"}\n"
              "]\n");
    EXPECT_EQ(NightsJson({}), "[]\n");
    EXPECT_EQ(NightsCsv(nights),
              "night,readings,dark_readings,clear_dark_readings,clear_fraction,sky_brightness,darkest,class\n"
              "2019-04-30,101,47,47,1.000,21.125,21.59,clear\n"
              "2019-05-10,95,0,0,,,,no-dark-time\n"
              "2019-05-13,0,0,0,,,,no-data\n");
    EXPECT_EQ(PeriodsJson(AggregateNights(nights, TNightGrouping::Year), TNightGrouping::Year),
              "[\n{\"year\":\"2019\",\"nights\":2,\"clear_nights\":1,\"sky_brightness\":21.125,\"darkest\":21.59}\n]\n");
    EXPECT_EQ(PeriodsCsv(AggregateNights(nights, TNightGrouping::Month), TNightGrouping::Month),
              "month,nights,clear_nights,sky_brightness,darkest\n2019-04,1,1,21.125,21.59\n2019-05,1,0,,\n");
    TNightTrend t;
    t.Slope = 0.0213;
    t.Low = -0.004;
    t.High = 0.05;
    t.PercentPerYear = BrightnessPercent(0.0213);
    t.Nights = 120;
    t.From = EncodeDate(2015, 1, 3);
    t.To = EncodeDate(2024, 12, 28);
    EXPECT_EQ(TrendJson(t), "{\"slope_mag_per_year\":0.0213,\"low\":-0.0040,\"high\":0.0500,\"percent_per_year\":-1.94,"
                            "\"nights\":120,\"from\":\"2015-01-03\",\"to\":\"2024-12-28\"}\n");
    EXPECT_EQ(TrendText(t, TFormatSettings{",", ".", "/", "UTF-8"}),
              "Trend of the clear nights' sky brightness: +0,021 mag/arcsec² per year (95 %: -0,004 to +0,050), "
              "brightness -1,9 % per year, from 120 clear nights between 2015-01-03 and 2024-12-28.");
}

}  // namespace
