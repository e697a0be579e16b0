// Community standard skyglow data files: the parser on hand-written files
// of each header style, and their import into a real database file, checked
// against what the station computes for a reading from the meter.
#include <cmath>
#include <map>
#include <optional>
#include <tuple>

#include "core/site/communityfile.h"
#include "core/station/fbdb.h"
#include "core/site/nightfile.h"
#include "support/readings_test_support.h"
#include "core/site/readingwindow.h"
#include "support/site_test_support.h"
#include "core/site/siterow.h"
#include "core/station/sqm.h"
#include "core/astronomy/vsop.h"

namespace {

namespace fs = std::filesystem;
using namespace sitetest;

// A DATE column keeps ten-thousandths of a second.
constexpr double kDateTick = 1.0 / 864000000.0;

// A row as one value: line, UTC, local, temperature, counts, frequency, MSAS.
using TFields = std::tuple<size_t, double, std::optional<double>, std::optional<double>, std::optional<double>,
                           std::optional<double>, double>;
TFields Fields(const TCommunityRow& r) {
    return {r.Line, r.Utc, r.Local, r.Temperature, r.Counts, r.Frequency, r.Msas};
}

// The instant a text of IsoMs(t) names.
double Named(double t) {
    const DateTimeParts p = DecodeDateTime(t);
    return EncodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec);
}

TEST(CommunityFileParser, EachTitleInUseAndEitherLineEndIsReadAndTheHeaderEndsAtItsEndLineWhateverItsCountSays) {
    const double t0 = EncodeDateTime(2020, 1, 15, 22, 0, 0, 250);
    const struct {
        const char* title;
        size_t lines;
        const char* declared;
        const char* eol;
        bool lastLineEnd;
    } cases[] = {{kTitle10, 35, "37", "\r\n", true},
                 {kTitleDefinition, 38, "35", "\n", true},
                 {kTitleMonitoring, 36, "not a number", "\n", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::string text = CommunityText({SixFields(t0, 4.5, 21.34)}, c.eol, c.title, c.lines, c.declared);
        if (!c.lastLineEnd) text.pop_back();
        const TCommunityFile f = ParseCommunityFile(text);
        EXPECT_EQ(f.Header.Title, c.title);
        EXPECT_EQ(f.Header.Lines.size(), c.lines);
        EXPECT_EQ(f.Header.Lines.back(), "# END OF HEADER");
        if (std::string(c.declared) == "not a number")
            EXPECT_FALSE(f.Header.DeclaredLines);
        else
            EXPECT_EQ(f.Header.DeclaredLines, std::stoi(c.declared));
        ASSERT_EQ(f.Rows.size(), 1u);
        EXPECT_TRUE(f.Errors.empty());
        EXPECT_EQ(Fields(f.Rows[0]), TFields(c.lines + 1, t0, Named(t0 + 1.0 / 24), 4.5, 1234, 56, 21.34));
        EXPECT_EQ(f.Header.Value("position (LAT, lon, elev(m))"), "45.8664, 11.5264, 1000");
        EXPECT_FALSE(f.Header.Value("Device type"));
    }
}

TEST(CommunityFileParser, AnyOtherFileIsRefusedWhole) {
    const std::vector<std::string> data = {SixFields(EncodeDateTime(2020, 1, 15, 22, 0, 0), 4.5, 21.34)};
    auto refusal = [](const std::string& content) {
        try {
            ParseCommunityFile(content);
        } catch (const ECommunityFile& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    std::vector<std::string> otherTitle = CommunityHeader(kTitle10, 35, "35");
    otherTitle[0] = "# Community Standard Skyglow Data Format 2.0";
    EXPECT_EQ(refusal(JoinLines(otherTitle, data, "\n")),
              "not a community standard skyglow data file: line 1 is \"# Community Standard Skyglow Data Format 2.0\"");
    EXPECT_EQ(refusal(""), "not a community standard skyglow data file: line 1 is missing");
    EXPECT_EQ(refusal("UTC;MSAS\n2020-01-01T00:00:00;21.0\n"),
              "not a community standard skyglow data file: line 1 is \"UTC;MSAS\"");

    std::vector<std::string> noEnd = CommunityHeader(kTitle10, 35, "35");
    noEnd.pop_back();
    EXPECT_EQ(refusal(JoinLines(noEnd, data, "\r\n")),
              "the header has no end: line 35 is no comment and no \"# END OF HEADER\" came before it");
    EXPECT_EQ(refusal(JoinLines(noEnd, {}, "\r\n")), "the header has no end: no line \"# END OF HEADER\"");

    EXPECT_EQ(refusal(JoinLines(CommunityHeader(kTitle10, 35, "35", "Date, Brightness, Temperature, Counts, Frequency"),
                                data, "\n")),
              "no header line lists the columns with the UTC date & time and MSAS");
    EXPECT_EQ(refusal(JoinLines(CommunityHeader(kTitle10, 35, "35", "UTC Date & Time, MSAS"), data, "\n")),
              "the column list on line 33 names 2 columns, not 5 to 9");
}

TEST(CommunityFileParser, TheColumnListDecidesWhichFieldIsWhichWhateverTheOrderAndTheCaseOfTheNames) {
    // Five fields, MSAS before the temperature; units separated by commas too.
    const TCommunityFile five = ParseCommunityFile(JoinLines(
        CommunityHeader(kTitle10, 35, "35", "utc date & time, msas, TEMPERATURE, Local Date & Time, Frequency", "-0.11",
                        "YYYY-MM-DDTHH:mm:ss.fff,mag/arcsec^2,Celsius,YYYY-MM-DDTHH:mm:ss.fff,Hz"),
        {"2021-03-04T05:06:07.089;19.87;-3.5;2021-03-04T06:06:07.089;1500", "2021-03-04T05:07:07;19.88;-3.6;;"}, "\n"));
    EXPECT_EQ(five.Header.Columns.Names,
              (std::vector<std::string>{"utc date & time", "msas", "TEMPERATURE", "Local Date & Time", "Frequency"}));
    const TCommunityColumns& c = five.Header.Columns;
    EXPECT_EQ((std::vector<int>{c.Utc, c.Msas, c.Temperature, c.Local, c.Counts, c.Frequency}),
              (std::vector<int>{0, 1, 2, 3, -1, 4}));
    EXPECT_EQ(five.Header.CoverOffset, -0.11);
    ASSERT_EQ(five.Rows.size(), 2u) << (five.Errors.empty() ? "" : five.Errors[0].Message);
    EXPECT_EQ(Fields(five.Rows[0]), TFields(36, EncodeDateTime(2021, 3, 4, 5, 6, 7, 89),
                                            EncodeDateTime(2021, 3, 4, 6, 6, 7, 89), -3.5, std::nullopt, 1500, 19.87));
    // Empty fields the import does not need are only absent.
    EXPECT_EQ(Fields(five.Rows[1]),
              TFields(37, EncodeDateTime(2021, 3, 4, 5, 7, 7), std::nullopt, -3.6, std::nullopt, std::nullopt, 19.88));

    // Nine fields, local time first, a position per line and a plain MSAS
    // beside another brightness column.
    const TCommunityFile nine = ParseCommunityFile(JoinLines(
        CommunityHeader(
            kTitleMonitoring, 37, "35",
            "Local Date & Time, UTC Date & Time, Temperature, Counts, Frequency, MSAS corrected, MSAS, Latitude, "
            "Longitude",
            "N/A"),
        {"2021-03-04T06:06:07.000;2021-03-04T05:06:07.000;12.0;77;3.5;19.50;19.61;45.0;11.5;"}, "\r\n"));
    EXPECT_EQ(nine.Header.Columns.Names.size(), 9u);
    EXPECT_EQ((std::vector<int>{nine.Header.Columns.Local, nine.Header.Columns.Utc, nine.Header.Columns.Msas}),
              (std::vector<int>{0, 1, 6}));
    EXPECT_FALSE(nine.Header.CoverOffset);
    ASSERT_EQ(nine.Rows.size(), 1u) << (nine.Errors.empty() ? "" : nine.Errors[0].Message);
    EXPECT_EQ(Fields(nine.Rows[0]), TFields(38, EncodeDateTime(2021, 3, 4, 5, 6, 7),
                                            EncodeDateTime(2021, 3, 4, 6, 6, 7), 12.0, 77, 3.5, 19.61));
}

TEST(CommunityFileParser, AMalformedLineIsNamedByItsLineAndTheOthersAreRead) {
    const std::vector<std::string> data = {
        "2020-01-15T22:00:00.000;2020-01-15T23:00:00.000;4.5;0;100;21.34",   // 36
        "2020-01-15T22:01:00.000;2020-01-15T23:01:00.000;4.5;0;100",         // 37: a field short
        "2020-01-15 22:02:00.000;2020-01-15T23:02:00.000;4.5;0;100;21.36",   // 38: no T
        "2020-01-15T22:03:00.000;2020-01-15T23:03:00.000;4.5;0;100;21,37",   // 39: decimal comma
        "2020-01-15T22:04:00.000;2020-01-15T23:04:00.000;;0;100;21.38",      // 40: no temperature
        "2020-04-31T22:05:00.000;2020-04-31T23:05:00.000;4.5;0;100;21.39",   // 41: no such day
        "",                                                                  // 42: blank, no data
        "2020-01-15T22:06:00.000;2020-01-15T23:06:00.000;4.5;0;100;21.40;7", // 43: a field too many
        "2020-01-15T22:07:00.000;2020-01-15T23:07:00.000;4.5;0;100;nan",     // 44: no number
        "2020-01-15T22:08:00.00x;2020-01-15T23:08:00.000;4.5;0;100;21.42",   // 45: a bad fraction
        "2020-01-15T24:09:00;2020-01-15T23:09:00.000;4.5;0;100;21.43",       // 46: hour 24
        "2020-01-15T22:10:00;2020-01-15T23:10:00.000;4.5;0;100;21.44;",      // 47: a trailing ';' is fine
    };
    const TCommunityFile f = ParseCommunityFile(CommunityText(data, "\r\n"));
    ASSERT_EQ(f.Rows.size(), 2u);
    EXPECT_EQ(f.Rows[0].Line, 36u);
    EXPECT_EQ(f.Rows[1].Line, 47u);
    EXPECT_EQ(f.Rows[1].Msas, 21.44);
    std::map<size_t, std::string> errors;
    for (const auto& e : f.Errors) errors[e.Line] = e.Message;
    const std::map<size_t, std::string> expected = {
        {37, "5 fields, the header names 6"},
        {38, "the UTC date & time \"2020-01-15 22:02:00.000\" is not YYYY-MM-DDTHH:mm:ss.fff"},
        {39, "MSAS \"21,37\" is not a number"},
        {40, "the temperature \"\" is not a number"},
        {41, "the UTC date & time \"2020-04-31T22:05:00.000\" is not YYYY-MM-DDTHH:mm:ss.fff"},
        {43, "7 fields, the header names 6"},
        {44, "MSAS \"nan\" is not a number"},
        {45, "the UTC date & time \"2020-01-15T22:08:00.00x\" is not YYYY-MM-DDTHH:mm:ss.fff"},
        {46, "the UTC date & time \"2020-01-15T24:09:00\" is not YYYY-MM-DDTHH:mm:ss.fff"},
    };
    EXPECT_EQ(errors, expected);
    EXPECT_EQ(f.DataLines(), 11u);
}

TEST(CommunityFileParser, TimesKeepTheirMillisecondsAndDropFurtherDigits) {
    double t = 0;
    ASSERT_TRUE(ParseCommunityTime("2009-10-15T21:30:05", t));
    EXPECT_EQ(t, EncodeDateTime(2009, 10, 15, 21, 30, 5));
    ASSERT_TRUE(ParseCommunityTime("2009-10-15T21:30:05.5", t));
    EXPECT_EQ(t, EncodeDateTime(2009, 10, 15, 21, 30, 5, 500));
    ASSERT_TRUE(ParseCommunityTime("2009-10-15T21:30:05.123987", t));
    EXPECT_EQ(t, EncodeDateTime(2009, 10, 15, 21, 30, 5, 123));
    ASSERT_TRUE(ParseCommunityTime("2024-02-29T00:00:00.000", t));
    for (const char* bad : {"2009-10-15T21:30:05.", "2009-10-15T21:30", "2023-02-29T00:00:00", "2009-13-15T21:30:05",
                            "2009-10-15T21:60:05", "2009-10-15T21:30:05Z", "x009-10-15T21:30:05"})
        EXPECT_FALSE(ParseCommunityTime(bad, t)) << bad;
}

// The import into a copy of the delivered database.
class CommunityImportTest : public readingstest::ReadingsFixture {
protected:
    TSiteRow AddSite(int id, double latitude, double longitude, int method) {
        char sql[400];
        std::snprintf(sql, sizeof sql,
                      "INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT, SIT_LONG, SIT_ACQUIREMODE, SIT_OFFSET) "
                      "VALUES (%d, 'Site %d', %.6f, %.6f, %d, 0.25)",
                      id, id, latitude, longitude, method);
        Exec(sql);
        return ReadSiteRow(db, id);
    }
    std::string Write(const std::string& name, const std::string& content) {
        return WriteFile(dir.Path() / name, content);
    }
    int64_t CountAll() { return Count("SELECT COUNT(*) FROM READINGS"); }
    struct TStored {
        std::string Code, Origin;
        int64_t Site = 0, State = 0, Uploaded = 0, Syncro = 0, Modified = 0;
        double DateTime = 0, Value = 0, Temperature = 0, SunH = 0, MoonH = 0, MoonPh = 0, Offset = 0;
        double MoonAge = 0, MoonIllum = 0, Downing = 0, Twilight = 0;
    };
    std::vector<TStored> Stored(int site) {
        std::vector<TStored> out;
        fb::Transaction tr(db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("SELECT * FROM READINGS WHERE REA_SITE=:S ORDER BY REA_DATETIME");
        q.SetInteger("S", site);
        for (q.Open(); !q.Eof(); q.Next()) {
            const auto d = [&](const char* name) { return q.FieldByName(std::string("REA_") + name).AsDouble(); };
            const auto i = [&](const char* name) { return q.FieldByName(std::string("REA_") + name).AsInteger(); };
            const auto t = [&](const char* name) { return q.FieldByName(std::string("REA_") + name).AsDateTime(); };
            out.push_back({Trim(q.FieldByName("REA_CODE").AsString()), q.FieldByName("REA_ORIGIN").AsString(),
                           i("SITE"), i("STATE"), i("UPLOADED"), i("SYNCRO"), i("MODIFIED"), t("DATETIME"),
                           d("SQMVALUE"), d("SQMTEMP"), d("SUNH"), d("MOONH"), d("MOONPH"), d("SQMOFFSET"),
                           d("MOONAGE"), d("MOONILLUM"), t("ASTRO_DOWNING"), t("ASTRO_TWILIGHT")});
        }
        q.Close();
        tr.Commit();
        return out;
    }
    // Each stored reading has the astronomy the station computes for a meter
    // reading of that instant at the site, the twilights of a day without
    // astronomical night carried on from the reading before, as a station
    // object carries them.
    void ExpectAstronomyOfTheMeterPath(const TSiteRow& site, const std::vector<double>& instants) {
        const std::vector<TStored> rows = Stored(site.Id);
        ASSERT_EQ(rows.size(), instants.size());
        double twilight = 0, downing = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(IsoMs(instants[i]));
            const ReadingCompletion c =
                CompleteReading(true, *site.Latitude, *site.Longitude, instants[i], twilight, downing);
            twilight = c.AstroTwilight;
            downing = c.AstroDowning;
            EXPECT_NEAR(rows[i].DateTime, instants[i], kDateTick);
            EXPECT_EQ(rows[i].SunH, c.SunH);
            EXPECT_EQ(rows[i].MoonH, c.MoonH);
            EXPECT_EQ(rows[i].MoonAge, c.MoonAgeDays);
            EXPECT_EQ(rows[i].MoonPh, c.MoonPh);
            EXPECT_EQ(rows[i].MoonIllum, c.MoonIllum);
            EXPECT_NEAR(rows[i].Twilight, c.AstroTwilight, kDateTick);
            EXPECT_NEAR(rows[i].Downing, c.AstroDowning, kDateTick);
        }
    }
};

TEST_F(CommunityImportTest,
       EachReadingIsStoredAsTheMeterPathStoresOneAndAgainUpdatesItsRowTheLastLineOfASecondWinning) {
    const TSiteRow site = AddSite(12, 45.8664, 11.5264, kContinuous);
    const double t0 = EncodeDateTime(2009, 10, 15, 21, 30, 5, 678);
    const std::string path =
        Write("night.dat", JoinLines(CommunityHeader(kTitle10, 35, "35", kSixColumns, "-0.11"),
                                     {SixFields(t0, 7.5, 21.34), SixFields(t0 + kMinute, -2.5, 21.35)}, "\r\n"));
    const TCommunityImport r = ImportCommunityFile(db, site, path);
    EXPECT_EQ(r.Read, 2u);
    EXPECT_EQ(r.Inserted, 2u);
    EXPECT_EQ(r.Updated, 0u);
    EXPECT_EQ(r.Skipped(), 0u);
    const std::vector<TStored> rows = Stored(12);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Code, "2009101521300512");
    EXPECT_EQ(rows[1].Code, "2009101521310512");
    EXPECT_EQ(rows[0].Site, 12);
    EXPECT_EQ(rows[0].Value, 21.34);
    EXPECT_EQ(rows[1].Value, 21.35);
    EXPECT_EQ(rows[0].Temperature, 7.5);
    EXPECT_EQ(rows[1].Temperature, -2.5);
    for (const TStored& s : rows) {
        // The file's offset, not the site's 0.25: the value is the meter's.
        EXPECT_EQ(s.Offset, -0.11);
        EXPECT_EQ(s.Origin, std::string(1, kImportedOrigin));
        EXPECT_EQ(s.Uploaded, 0);
        EXPECT_EQ(s.Syncro, 0);
        EXPECT_EQ(s.Modified, 0);
        EXPECT_EQ(s.State, 0);  // a continuous site reads at any hour
    }
    ExpectAstronomyOfTheMeterPath(site, {Named(t0), Named(t0 + kMinute)});

    // A key the station stores in the meantime is the same reading.
    TSQM station(TSQMOptions{.Port = 0, .TimeoutSeconds = 0, .Offset = 0.25, .SiteId = 12});
    ASSERT_TRUE(station.LoadReading(&db, "2009101521300512"));
    EXPECT_EQ(station.Origin, kImportedOrigin);
    EXPECT_EQ(station.ReadingCode(), "2009101521300512");

    // Again, in another header style and line end: the second minute changed,
    // a new third one, and a later line of the second minute's second.
    const std::string again = Write(
        "again.dat", JoinLines(CommunityHeader(kTitleDefinition, 36, "35"),
                          {SixFields(t0, 7.5, 21.34), SixFields(t0 + kMinute, 9.0, 18.5),
                           SixFields(t0 + 2 * kMinute, 1.0, 20.0), SixFields(t0 + kMinute + 0.2 / 86400, 9.5, 18.75)},
                          "\n"));
    const TCommunityImport b = ImportCommunityFile(db, site, again);
    EXPECT_EQ(b.Read, 4u);
    EXPECT_EQ(b.Inserted, 1u);
    EXPECT_EQ(b.Updated, 3u);
    const std::vector<TStored> after = Stored(12);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(CountAll(), 3);
    EXPECT_EQ(after[0].Value, 21.34);
    EXPECT_EQ(after[1].Code, "2009101521310512");
    EXPECT_EQ(after[1].Value, 18.75);
    EXPECT_EQ(after[1].Temperature, 9.5);
    // The key keeps the time it was first stored with.
    EXPECT_NEAR(after[1].DateTime, t0 + kMinute, kDateTick);
}

TEST_F(CommunityImportTest, TheStateFollowsTheSiteReadingWindowOfEachUtDay) {
    // Asiago, 2020-01-15 and 16 UT: sunrise 06:51, sunset 15:54, dawn 05:05, dusk 17:41.
    const TSiteRow continuous = AddSite(1, 45.8664, 11.5264, kContinuous);
    const TSiteRow byDay = AddSite(2, 45.8664, 11.5264, kDiscardByDay);
    const TSiteRow inTwilight = AddSite(3, 45.8664, 11.5264, kDiscardInTwilight);
    const std::vector<double> instants = {
        EncodeDateTime(2020, 1, 15, 10, 0, 0),  // before local noon: day
        EncodeDateTime(2020, 1, 15, 14, 0, 0),  // after it: day
        EncodeDateTime(2020, 1, 15, 16, 30, 0), // after sunset, before dusk
        EncodeDateTime(2020, 1, 15, 22, 30, 0), // night
        EncodeDateTime(2020, 1, 16, 1, 0, 0),   // the same night, the next UT day
        EncodeDateTime(2020, 1, 16, 6, 0, 0),   // after dawn, before sunrise
    };
    std::vector<std::string> data;
    for (double t : instants) data.push_back(SixFields(t, 0.5, 20.0));
    const std::string path = Write("day.dat", CommunityText(data, "\n"));
    for (const TSiteRow* s : {&continuous, &byDay, &inTwilight}) ImportCommunityFile(db, *s, path);

    auto states = [&](int site) {
        std::vector<int64_t> out;
        for (const TStored& r : Stored(site)) out.push_back(r.State);
        return out;
    };
    EXPECT_EQ(states(1), (std::vector<int64_t>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(states(2), (std::vector<int64_t>{-1, -1, 0, 0, 0, 0}));
    EXPECT_EQ(states(3), (std::vector<int64_t>{-1, -1, -1, 0, 0, -1}));
    // As the scheduler decides for a live reading at those instants.
    for (const TSiteRow* s : {&continuous, &byDay, &inTwilight}) {
        const std::vector<TStored> rows = Stored(s->Id);
        for (size_t i = 0; i < instants.size(); ++i)
            EXPECT_EQ(rows[i].State, IsInReadingWindow(*s, instants[i]) ? 0 : -1) << s->Id << " " << IsoMs(instants[i]);
    }
    // The twilights are those of each reading's UT day, not of its night.
    ExpectAstronomyOfTheMeterPath(inTwilight, instants);
    const std::vector<TStored> rows = Stored(3);
    EXPECT_EQ(rows[0].Twilight, rows[3].Twilight);
    EXPECT_NE(rows[3].Twilight, rows[4].Twilight);
    EXPECT_NEAR(rows[3].Twilight, EncodeTime(17, 41, 0), 1.5 * kMinute);
    EXPECT_NEAR(rows[4].Downing, EncodeTime(5, 5, 0), 1.5 * kMinute);
}

TEST_F(CommunityImportTest, ADayWithoutTheWindowsEdgesDecidesByTheSunAndKeepsTheLastTwilights) {
    // 60 N: astronomical night in April, none at midsummer; 70 N: no sunrise in December.
    const TSiteRow north = AddSite(5, 60, 9, kDiscardInTwilight);
    const TSiteRow northByDay = AddSite(6, 60, 9, kDiscardByDay);
    const TSiteRow polar = AddSite(7, 70, 9, kDiscardByDay);
    const std::vector<double> instants = {EncodeDateTime(2020, 4, 10, 23, 0, 0), EncodeDateTime(2020, 6, 21, 23, 0, 0),
                                          EncodeDateTime(2020, 6, 22, 11, 0, 0)};
    std::vector<std::string> data;
    for (double t : instants) data.push_back(SixFields(t, 10.0, 18.0));
    const std::string path = Write("north.dat", CommunityText(data, "\r\n"));
    ASSERT_THROW(AstronomicalDusk(std::floor(instants[1]), -9, 60), E_NoRiseSet);
    ImportCommunityFile(db, north, path);
    ImportCommunityFile(db, northByDay, path);

    const std::vector<TStored> rows = Stored(5);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].State, 0);
    // The Sun stays above -18 degrees: twilight all night, as by day.
    EXPECT_GT(rows[1].SunH, -18);
    EXPECT_EQ(rows[1].State, -1);
    EXPECT_EQ(rows[2].State, -1);
    // The April night's twilights stay, as a station object keeps them.
    EXPECT_EQ(rows[1].Twilight, rows[0].Twilight);
    EXPECT_EQ(rows[2].Downing, rows[0].Downing);
    ExpectAstronomyOfTheMeterPath(north, instants);
    // Sunset and sunrise exist there: the window decides.
    const std::vector<TStored> byDay = Stored(6);
    EXPECT_EQ(byDay[1].State, 0);
    EXPECT_EQ(byDay[2].State, -1);

    const double polarNoon = EncodeDateTime(2020, 12, 21, 11, 0, 0);
    ASSERT_THROW(SunRise(std::floor(polarNoon), -9, 70), E_NoRiseSet);
    ImportCommunityFile(db, polar,
                        Write("polar.dat", CommunityText({SixFields(polarNoon, -20, 21.5)}, "\n")));
    const std::vector<TStored> polarRows = Stored(7);
    ASSERT_EQ(polarRows.size(), 1u);
    EXPECT_LT(polarRows[0].SunH, -0.8333);
    EXPECT_EQ(polarRows[0].State, 0);  // the polar night is night at noon
}

TEST_F(CommunityImportTest, ManyReadingsOverSeveralDaysGetTheAstronomyOfTheMeterPathWithAnyNumberOfWorkers) {
    const TSiteRow site = AddSite(4, -35, 150, kContinuous);
    const TSiteRow other = AddSite(8, -35, 150, kContinuous);
    const double t0 = EncodeDateTime(2020, 6, 20, 18, 0, 0, 500);
    std::vector<std::string> data;
    std::vector<double> instants;
    for (int i = 0; i < 2500; ++i) {
        const double t = t0 + i * kMinute;
        data.push_back(SixFields(t, 3.0, 19.0 + (i % 300) / 100.0));
        instants.push_back(Named(t));
    }
    const TCommunityFile parsed = ParseCommunityFile(CommunityText(data, "\n"));
    size_t calls = 0, last = 0;
    for (const auto& [s, workers] : {std::pair{&site, 1u}, std::pair{&other, 3u}}) {
        fb::Transaction tr(db);
        tr.Start();
        const TCommunityImport r = ImportCommunityRows(
            tr, *s, parsed,
            [&](size_t done, size_t total) {
                ++calls;
                EXPECT_GT(done, last);
                EXPECT_EQ(total, 2500u);
                last = done;
            },
            workers);
        tr.Commit();
        EXPECT_EQ(r.Inserted, 2500u);
        EXPECT_EQ(last, 2500u);
        last = 0;
    }
    EXPECT_GE(calls, 2u * 2);
    ExpectAstronomyOfTheMeterPath(site, instants);
    ExpectAstronomyOfTheMeterPath(other, instants);
}

TEST_F(CommunityImportTest, AFileThatCannotBeReadOrStoredLeavesNothingOfItself) {
    const TSiteRow site = AddSite(9, 45.8664, 11.5264, kContinuous);
    const double t0 = EncodeDateTime(2020, 1, 15, 22, 0, 0);
    std::vector<std::string> data;
    for (int i = 0; i < 5; ++i) data.push_back(SixFields(t0 + i * kMinute, 1.0, 21.0));

    std::vector<std::string> noEnd = CommunityHeader(kTitle10, 35, "35");
    noEnd.pop_back();
    EXPECT_THROW(ImportCommunityFile(db, site, Write("noend.dat", JoinLines(noEnd, data, "\r\n"))), ECommunityFile);
    try {
        ImportCommunityFile(db, site, (dir.Path() / "missing.dat").string());
        ADD_FAILURE() << "a missing file was imported";
    } catch (const ECommunityFile& e) {
        EXPECT_STREQ(e.what(), "cannot open the file: No such file or directory");
    }
    EXPECT_EQ(CountAll(), 0);

    // The fourth line's key is being stored elsewhere: the file fails there
    // and its first three readings go too.
    fb::Transaction other(db);
    other.Start();
    {
        fb::Query q(other);
        q.SetSQL("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_STATE, REA_UPLOADED, "
                 "REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES ('202001152203009', 9, "
                 "'2020-01-15 22:03:00', 20, 0, 0, 0, 0, 0, 'K')");
        q.ExecSQL();
    }
    EXPECT_THROW(ImportCommunityFile(db, site, Write("good.dat", CommunityText(data, "\n"))),
                 fb::Error);
    other.Rollback();
    EXPECT_EQ(CountAll(), 0);

    // A site that is not in the database stores nothing either.
    TSiteRow gone = site;
    gone.Id = 99;
    EXPECT_THROW(ImportCommunityFile(db, gone, Write("gone.dat", CommunityText(data, "\n"))),
                 fb::Error);
    EXPECT_EQ(CountAll(), 0);

    // Malformed lines alone do not stop a file.
    data[2] = "2020-01-15T22:02:00.000;broken";
    const TCommunityImport r =
        ImportCommunityFile(db, site, Write("broken.dat", CommunityText(data, "\n")));
    EXPECT_EQ(r.Read, 5u);
    EXPECT_EQ(r.Inserted, 4u);
    ASSERT_EQ(r.Skipped(), 1u);
    EXPECT_EQ(r.Errors[0].Line, 38u);
    EXPECT_EQ(CountAll(), 4);
}

TEST_F(CommunityImportTest, ANightFileOfOurOwnReadsBackEqualAndImportsAsTheReadingsItWasWrittenFrom) {
    const TSiteRow site = AddSite(11, 45.8664, 11.5264, kDiscardInTwilight);
    SetProgramDir(dir.Str());
    TNightFileWriter writer(db, TNightFileOptions{"Test supplier", "KALO-SQM test"});
    TSQM station(TSQMOptions{.Host = "127.0.0.1", .Port = testsupport::ClosedPort(), .TimeoutSeconds = 1,
        .Offset = -0.17, .SiteId = site.Id});
    const double zoneOffset = -1.0 / 24;  // local = UTC + 1 h
    const double t0 = EncodeDateTime(2020, 1, 15, 21, 0, 3, 456);
    struct TWritten {
        double utc, temperature, msas;
        int counts, frequency;
    };
    std::vector<TWritten> written;
    for (int i = 0; i < 4; ++i) {
        station.DateTime = t0 + i * 10 * kMinute;
        station.Temperature = -1.5 + i * 0.1;
        station.Counts = 100 + i;
        station.Frequency = 2000 - i;
        station.SQMValue = 21.3 + i * 0.01;
        writer.Append(site, station, zoneOffset, NowLocal());
        written.push_back({station.DateTime, station.Temperature, station.SQMValue, station.Counts, station.Frequency});
    }
    const std::string path = writer.LastPath();
    ASSERT_TRUE(fs::exists(path)) << path;

    const TCommunityFile ours = ReadCommunityFile(path);
    const TNightFileContents theirs = ReadNightFile(path);
    EXPECT_EQ(ours.Header.Lines, theirs.Header);
    EXPECT_EQ(ours.Header.Lines.size(), static_cast<size_t>(kNightFileHeaderLines));
    EXPECT_EQ(ours.Header.DeclaredLines, kNightFileHeaderLines);
    EXPECT_EQ(ours.Header.CoverOffset, -0.17);
    EXPECT_TRUE(ours.Errors.empty());
    ASSERT_EQ(ours.Rows.size(), written.size());
    ASSERT_EQ(theirs.Rows.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(ours.Rows[i].Line, kNightFileHeaderLines + 1 + i);
        EXPECT_EQ(ours.Rows[i].Utc, theirs.Rows[i].Utc);
        EXPECT_EQ(ours.Rows[i].Utc, Named(written[i].utc));
        EXPECT_EQ(ours.Rows[i].Local, theirs.Rows[i].Local);
        EXPECT_EQ(ours.Rows[i].Temperature, theirs.Rows[i].Temperature);
        EXPECT_NEAR(*ours.Rows[i].Temperature, written[i].temperature, 0.05);
        EXPECT_EQ(ours.Rows[i].Counts, written[i].counts);
        EXPECT_EQ(ours.Rows[i].Frequency, written[i].frequency);
        EXPECT_EQ(ours.Rows[i].Msas, theirs.Rows[i].Msas);
        EXPECT_NEAR(ours.Rows[i].Msas, written[i].msas, 0.005);
    }

    // Imported into a new site, the readings come back with the meter's
    // value and the offset beside it, so the corrected value is the same.
    const TSiteRow copy = AddSite(13, 45.8664, 11.5264, kDiscardInTwilight);
    const TCommunityImport r = ImportCommunityFile(db, copy, path);
    EXPECT_EQ(r.Inserted, written.size());
    const std::vector<TStored> rows = Stored(13);
    ASSERT_EQ(rows.size(), written.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].Value, theirs.Rows[i].Msas);
        EXPECT_EQ(rows[i].Offset, -0.17);
        EXPECT_EQ(rows[i].State, IsInReadingWindow(copy, ours.Rows[i].Utc) ? 0 : -1);
    }
}

}  // namespace
