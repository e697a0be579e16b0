// The night files of the acquisition: real runs against the SQM-LE simulator
// on a fake clock, real database files, and the files read back with the
// community rules.
#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale>
#include <map>
#include <optional>
#include <regex>

#include "core/site/nightfile.h"
#include "core/site/readingwindow.h"
#include "support/site_test_support.h"

using namespace sitetest;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// The file split at CR LF, after checking the rules every line keeps.
Lines CommunityLines(const std::string& content) {
    Lines lines;
    size_t at = 0;
    while (at < content.size()) {
        const size_t lf = content.find('\n', at);
        EXPECT_NE(lf, std::string::npos) << "a last line without its line end";
        if (lf == std::string::npos) break;
        EXPECT_TRUE(lf > at && content[lf - 1] == '\r') << "line " << lines.size() + 1 << " does not end in CR LF";
        std::string l = content.substr(at, lf - at);
        if (!l.empty() && l.back() == '\r') l.pop_back();
        EXPECT_FALSE(l.empty()) << "blank line " << lines.size() + 1;
        EXPECT_LE(l.size(), 150u) << l;
        for (const char c : l) EXPECT_TRUE(c >= 32 && c < 127) << "not printable ASCII: " << l;
        lines.push_back(l);
        at = lf + 1;
    }
    return lines;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        const size_t at = s.find(sep, from);
        out.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return out;
        from = at + 1;
    }
}

class NightFileRun : public SiteFixture {
protected:
    std::string File(const std::string& site, int y, int m, int d) {
        char date[16];
        std::snprintf(date, sizeof date, "%04d%02d%02d", y, m, d);
        return (dir.Path() / "NightFiles" / NightFileSafeName(site) /
                (std::string(date) + "_120000_" + NightFileSafeName(site) + ".dat"))
            .string();
    }
    Lines FileLines(const std::string& path) {
        EXPECT_TRUE(fs::exists(path)) << path;
        return CommunityLines(testsupport::ReadFile(path));
    }
};

TEST_F(NightFileRun, AShortRunWritesAFileThatFollowsTheCommunityRulesAndAgreesWithTheStoredReadings) {
    SqmSimConfig c = sim.Config();
    c.Temperature = -3.4;
    c.Counts = 42;
    c.Value = 21.07;
    sim.SetConfig(c);
    common.nightFiles.Program = "KALO-SQM 9.8.7.6";  // the program tells every site's writer
    // Daylight readings until 18:00 UTC, night readings after; local time is UTC+1.
    const int id = AddSite({.Method = kTimed,
                            .Interval = 10,
                            .Start = "18.00",
                            .Stop = "06.00",
                            .Latitude = "45.46",
                            .Longitude = "9.19",
                            .DayReading = 1,
                            .DayInterval = "10",
                            .Code = "ROOF1",
                            .Offset = 0.35});
    Exec("UPDATE SQMSITES SET SIT_ALT=1045 WHERE SIT_ID=" + std::to_string(id));
    clock.zone = {.BiasMinutes = -60, .Daylight = false};
    clock.now = EncodeDateTime(2024, 1, 15, 18, 40, 0);  // local: 17:40 UTC
    TSite s(*this, id);
    s.acq.StartOrStop();
    Run(s, 40);
    s.acq.Stop();

    const auto stored = Stored(id);
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored.front().State, -1);
    EXPECT_EQ(stored.back().State, 0);
    const Lines lines = FileLines(File("Roof", 2024, 1, 15));
    // The header up to the line that ends it; the data lines after it.
    const auto end = std::find(lines.begin(), lines.end(), "# END OF HEADER");
    ASSERT_NE(end, lines.end());
    const struct {
        Lines header, data;
    } f{Lines(lines.begin(), end + 1), Lines(end + 1, lines.end())};

    // The header: 35 lines, as many as it says, in the community order.
    ASSERT_EQ(f.header.size(), 35u);
    EXPECT_EQ(Lines(f.header.begin(), f.header.begin() + 9),
              (Lines{"# Community Standard Skyglow Data Format 1.0",
                     "# URL: https://www.darksky.org/wp-content/uploads/bsk-pdf-manager/47_SKYGLOW_DEFINITIONS.PDF",
                     "# Number of header lines: 35",
                     "# This data is released under the following license: ODbL 1.0 "
                     "http://opendatacommons.org/licenses/odbl/summary/",
                     "# Device type: SQM-LE", "# Instrument ID: ROOF1", "# Data supplier: ", "# Location name: Roof",
                     "# Position (lat, lon, elev(m)): 45.46, 9.19, 1045"}));
    EXPECT_EQ(f.header[9].rfind("# Local timezone: ", 0), 0u);
    EXPECT_GT(f.header[9].size(), std::string("# Local timezone: ").size());
    EXPECT_EQ(Lines(f.header.begin() + 10, f.header.begin() + 24),
              (Lines{"# Time Synchronization: PC clock", "# Moving / Stationary position: STATIONARY",
                     "# Moving / Fixed look direction: FIXED", "# Number of channels: 1",
                     "# Filters per channel: HOYA CM-500", "# Measurement direction per channel: 0., 0.",
                     "# Field of view (degrees): 20", "# Number of fields per line: 6", "# SQM serial number: 3911",
                     "# SQM firmware version: 4-3-57", "# SQM cover offset value: 0.35",
                     "# SQM readout test ix: i,00000004,00000003,00000057,00003911",
                     "# SQM readout test rx: " + FormatReadingReply(c),
                     "# SQM readout test cx: c,00000019.84m,0000151.517s, 039.4C,00000008.71m, 029.5C"}));
    for (int i = 24; i < 29; ++i) EXPECT_EQ(f.header[i].rfind("# Comment: ", 0), 0u) << f.header[i];
    EXPECT_NE(f.header[28].find("KALO-SQM 9.8.7.6"), std::string::npos) << f.header[28];
    EXPECT_EQ(Lines(f.header.begin() + 29, f.header.end()),
              (Lines{"# blank line 30", "# blank line 31", "# blank line 32",
                     "# UTC Date & Time, Local Date & Time, Temperature, Counts, Frequency, MSAS",
                     "# YYYY-MM-DDTHH:mm:ss.fff;YYYY-MM-DDTHH:mm:ss.fff;Celsius;number;Hz;mag/arcsec^2",
                     "# END OF HEADER"}));

    // One line per stored reading, night and daylight, in the field forms;
    // the meter's value: the offset is the header's business.
    ASSERT_EQ(f.data.size(), stored.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(f.data[i], IsoMs(stored[i].Time) + ";" + IsoMs(stored[i].Time + 1 / 24.0) + ";-3.4;42;5915;21.07");
        EXPECT_DOUBLE_EQ(stored[i].Temperature, -3.4);
        EXPECT_DOUBLE_EQ(stored[i].Value, 21.07);
        EXPECT_DOUBLE_EQ(stored[i].Offset, 0.35);
    }
    EXPECT_EQ(f.data.front().substr(0, 23), "2024-01-15T17:40:00.000");

    // The reader agrees.
    const TNightFileContents back = ReadNightFile(File("Roof", 2024, 1, 15));
    EXPECT_EQ(back.Header, f.header);
    ASSERT_EQ(back.Rows.size(), stored.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(std::llround(back.Rows[i].Utc * 86400000.0), std::llround(stored[i].Time * 86400000.0));
        EXPECT_EQ(std::llround((back.Rows[i].Local - back.Rows[i].Utc) * 24), 1);
        EXPECT_DOUBLE_EQ(back.Rows[i].Msas, stored[i].Value);
        EXPECT_DOUBLE_EQ(back.Rows[i].Temperature, -3.4);
        EXPECT_EQ(back.Rows[i].Counts, 42);
        EXPECT_EQ(back.Rows[i].Frequency, 5915);
    }
    EXPECT_TRUE(LogLines("Roof").empty());
    const auto* writer = dynamic_cast<TNightFileWriter*>(s.acq.NightFile());
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->LastPath(), File("Roof", 2024, 1, 15));
}

TEST_F(NightFileRun, ACommaDecimalLocaleChangesNothing) {
    // Two sites alike but for the name, read at the same fake instants, one
    // under the C locale and one under a comma-decimal one.
    // The sites are made first: the fixture's statements are no part of this.
    std::map<std::string, int> ids;
    for (const char* name : {"Plain", "Comma"})
        ids[name] = AddSite({.Name = name, .Interval = 5, .Latitude = "45.46", .Longitude = "9.19", .Code = "ROOF1",
                             .Offset = -0.25});
    auto run = [&](const std::string& name) {
        clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
        RunSite(ids.at(name), 15);
        return FileLines(File(name, 2024, 1, 15));
    };
    SqmSimConfig c = sim.Config();
    c.Temperature = 12.3;
    sim.SetConfig(c);
    const Lines plain = run("Plain");
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    struct Restore {
        std::string c;
        ~Restore() {
            std::setlocale(LC_ALL, c.c_str());
            std::locale::global(std::locale::classic());
        }
    } restore{saved};
    std::locale::global(std::locale("it_IT.UTF-8"));
    ASSERT_NE(std::setlocale(LC_ALL, "it_IT.UTF-8"), nullptr) << "the it_IT.UTF-8 locale is missing";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    const Lines comma = run("Comma");
    const TNightFileContents back = ReadNightFile(File("Comma", 2024, 1, 15));
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");  // left as it was

    ASSERT_EQ(plain.size(), comma.size());
    ASSERT_EQ(plain.size(), 35u + 4);
    for (size_t i = 0; i < plain.size(); ++i) {
        if (i == 7) continue;  // the location name
        EXPECT_EQ(comma[i], plain[i]);
    }
    EXPECT_EQ(comma[7], "# Location name: Comma");
    EXPECT_EQ(comma[8], "# Position (lat, lon, elev(m)): 45.46, 9.19, ");
    EXPECT_EQ(comma[20], "# SQM cover offset value: -0.25");
    EXPECT_EQ(Split(comma.back(), ';')[2], "12.3");
    EXPECT_EQ(Split(comma.back(), ';')[5], "19.29");
    ASSERT_EQ(back.Rows.size(), 4u);
    EXPECT_DOUBLE_EQ(back.Rows.back().Temperature, 12.3);
    EXPECT_DOUBLE_EQ(back.Rows.back().Msas, 19.29);
}

TEST_F(NightFileRun, ARestartDuringTheNightAppendsWithoutASecondHeaderAndAnEmptyFileGetsOne) {
    const int id = AddSite({.Interval = 10});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    RunSite(id, 20);
    // The meter changes meanwhile: a header asked again would show it.
    SqmSimConfig c = sim.Config();
    c.CalLightOffset = 18.5;
    sim.SetConfig(c);
    clock.Advance(3600);
    RunSite(id, 20);
    const std::string path = File("Roof", 2024, 1, 15);
    const Lines lines = FileLines(path);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "# END OF HEADER"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "# Community Standard Skyglow Data Format 1.0"), 1);
    const TNightFileContents back = ReadNightFile(path);
    EXPECT_EQ(back.Header.at(23), "# SQM readout test cx: c,00000019.84m,0000151.517s, 039.4C,00000008.71m, 029.5C");
    const auto stored = Stored(id);
    ASSERT_EQ(stored.size(), 6u);
    ASSERT_EQ(back.Rows.size(), 6u);
    for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(back.Fields[i][0], IsoMs(stored[i].Time));

    // A file left empty (a crash before its first line) is begun again.
    const std::string next = File("Roof", 2024, 1, 16);
    std::ofstream(next, std::ios::binary).close();
    ASSERT_TRUE(fs::exists(next));
    clock.now = EncodeDateTime(2024, 1, 16, 22, 0, 0);
    RunSite(id, 0);
    const TNightFileContents begun = ReadNightFile(next);
    EXPECT_EQ(begun.Header.size(), 35u);
    EXPECT_EQ(begun.Header.at(23), "# SQM readout test cx: c,00000018.50m,0000151.517s, 039.4C,00000008.71m, 029.5C");
    EXPECT_EQ(begun.Rows.size(), 1u);
    EXPECT_TRUE(LogLines("Roof").empty());
}

TEST_F(NightFileRun, TheNightBeginsAtLocalNoonInThePcDaylightRuleAndTheSiteNameIsMadeSafeForTheFileName) {
    // Local time is UTC+1: local noon is 11:00 UTC.
    clock.zone = {.BiasMinutes = -60, .Daylight = false};
    const int id = AddSite({.Name = "Roof/East: \"main\"", .Interval = 10});
    clock.now = EncodeDateTime(2024, 1, 16, 11, 40, 0);
    RunSite(id, 30);  // local 11:40, 11:50, 12:00, 12:10
    const std::string safe = "Roof_East_ _main_";
    ASSERT_TRUE(fs::is_directory(dir.Path() / "NightFiles" / safe));
    const TNightFileContents before = ReadNightFile(File(safe, 2024, 1, 15));
    const TNightFileContents after = ReadNightFile(File(safe, 2024, 1, 16));
    ASSERT_EQ(before.Rows.size(), 2u);
    ASSERT_EQ(after.Rows.size(), 2u);
    EXPECT_EQ(before.Fields[1][1], "2024-01-16T11:50:00.000");
    EXPECT_EQ(after.Fields[0][0], "2024-01-16T11:00:00.000");
    EXPECT_EQ(after.Fields[0][1], "2024-01-16T12:00:00.000");
    EXPECT_EQ(after.Header.at(7), "# Location name: Roof/East: \"main\"");
    EXPECT_EQ(after.Header.at(5), "# Instrument ID: Roof/East: \"main\"");  // no code: the name

    // Each reading's local time by the PC's daylight rule: UTC+2 in summer.
    clock.zone = {.BiasMinutes = -60, .Daylight = true};
    clock.now = EncodeDateTime(2024, 7, 1, 23, 0, 0);
    RunSite(AddSite({.Interval = 10}), 10);
    const TNightFileContents summer = ReadNightFile(File("Roof", 2024, 7, 1));
    ASSERT_EQ(summer.Rows.size(), 2u);
    EXPECT_EQ(summer.Fields[0][0], "2024-07-01T21:00:00.000");
    EXPECT_EQ(summer.Fields[0][1], "2024-07-01T23:00:00.000");

    // By the local date-time alone.
    EXPECT_EQ(NightFileName("Roof", EncodeDateTime(2024, 7, 2, 11, 59, 59, 999)), "20240701_120000_Roof.dat");
    EXPECT_EQ(NightFileName("Roof", EncodeDateTime(2024, 7, 2, 12, 0, 0)), "20240702_120000_Roof.dat");
    EXPECT_EQ(NightFileName("Roof", EncodeDateTime(2024, 3, 1, 0, 30, 0)), "20240229_120000_Roof.dat");
    EXPECT_EQ(NightFileName("Roof", EncodeDateTime(2025, 1, 1, 9, 0, 0)), "20241231_120000_Roof.dat");
    EXPECT_EQ(NightFileSafeName("a/b\\c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(NightFileSafeName(".hidden"), "_hidden");
    EXPECT_EQ(NightFileSafeName(".."), "_.");
    EXPECT_EQ(NightFileSafeName(std::string("tab\there\x7f\x01", 10)), "tab_here__");
    EXPECT_EQ(NightFileSafeName(""), "_");
    EXPECT_EQ(NightFileSafeName("Città"), "Città");  // a file name may be UTF-8
    EXPECT_EQ(NightFilePath("a.b", EncodeDateTime(2024, 1, 16, 12, 0, 0)),
              (dir.Path() / "NightFiles" / "a.b" / "20240116_120000_a.b.dat").string());
}

TEST_F(NightFileRun, WithoutANightFileOrWithAnUnwritableFolderForItTheReadingsAreStillStored) {
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    const int plainId = AddSite({.Name = "Plain", .Interval = 10});
    {
        TSite plain(*this, plainId);
        plain.acq.SetNightFile(nullptr);
        plain.acq.StartOrStop();
        Run(plain, 10);
        plain.acq.Stop();
    }
    EXPECT_EQ(Stored(plainId).size(), 2u);
    EXPECT_FALSE(fs::exists(dir.Path() / "NightFiles"));

    // A plain file where the folder should be: no permission bits help root here.
    std::ofstream(dir.Path() / "NightFiles").put('x');
    const int id = AddSite({.Interval = 10});
    TSite s(*this, id);
    s.acq.StartOrStop();
    Run(s, 10);
    EXPECT_TRUE(s.acq.Running());
    EXPECT_EQ(s.acq.LastTick().What, TTickReport::Outcome::Stored);
    EXPECT_EQ(s.light.Last(), TSiteState::NightStored);
    ASSERT_EQ(Stored(id).size(), 2u);
    // One line for the outage, not one per reading.
    const auto log = LogLines("Roof");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(std::regex_match(log[0], std::regex(R"(\d\d/\d\d/\d{4} \d\d\.\d\d\.\d\d - Night File Exception - .*)")))
        << log[0];
    EXPECT_NE(log[0].find("20240115_120000_Roof.dat"), std::string::npos) << log[0];
    EXPECT_EQ(log.front().substr(0, 19), "15/01/2024 22.10.00");

    // Once the folder can be made, the next reading begins the file, after
    // the two that waited for it.
    fs::remove(dir.Path() / "NightFiles");
    Run(s, 10);
    s.acq.Stop();
    const auto stored = Stored(id);
    ASSERT_EQ(stored.size(), 3u);
    const TNightFileContents f = ReadNightFile(File("Roof", 2024, 1, 15));
    EXPECT_EQ(f.Header.size(), 35u);
    ASSERT_EQ(f.Rows.size(), 3u);
    for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(f.Fields[i][0], IsoMs(stored[i].Time));
    const auto after = LogLines("Roof");
    ASSERT_EQ(after.size(), 2u);
    EXPECT_NE(after[1].find(" - Night File - " + File("Roof", 2024, 1, 15) + ": written again, with the 2 lines that waited"),
              std::string::npos)
        << after[1];
}

TEST_F(NightFileRun, TheHeaderNamesTheTimeServersTheZoneTheSupplierAndTheMetersRepliesEscapedAndStaysAscii) {
    // A meter that does not answer cx, and raw replies with control characters.
    SqmSimConfig c = sim.Config();
    c.AnswerCalibration = false;
    c.RawInfo = "i,00000004,00000003,00000057,00003911\x01\\";
    sim.SetConfig(c);
    // Internet time on, with servers that do not answer: readings go on.
    Settings(1, 0, 0, 0, 20);
    Exec("DELETE FROM NTPSERVERS");
    Exec("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('localhost', 2, 500)");
    Exec("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('127.0.0.1', 1, 500)");
    data.TimePort = ClosedPort();
    const char* oldTz = std::getenv("TZ");
    struct RestoreTz {
        std::optional<std::string> tz;
        ~RestoreTz() {
            tz ? ::setenv("TZ", tz->c_str(), 1) : ::unsetenv("TZ");
            ::tzset();
        }
    } restoreTz{oldTz ? std::optional<std::string>(oldTz) : std::nullopt};
    ::setenv("TZ", ":Europe/Rome", 1);

    const std::string name = "Citt\xc3\xa0 di Castello \xe2\x98\xbe " + std::string(150, 'x');
    const int id = AddSite({.Name = name, .Interval = 10});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TSite s(*this, id);
    s.acq.SetNightFile(std::make_unique<TNightFileWriter>(
        Db(), TNightFileOptions{.DataSupplier = "Gruppo Astrofili \xe2\x80\x9cM\xc3\xb6"
                                                "bius\xe2\x80\x9d",
                                .Program = "KALO-SQM test"}));
    s.acq.StartOrStop();
    Run(s, 10);
    s.acq.Stop();
    EXPECT_EQ(Stored(id).size(), 2u);
    const std::string path = (dir.Path() / "NightFiles" / name / ("20240115_120000_" + name + ".dat")).string();
    const Lines lines = FileLines(path);
    ASSERT_GE(lines.size(), 35u);
    EXPECT_EQ(lines[6], "# Data supplier: Gruppo Astrofili ?M?bius?");
    EXPECT_EQ(lines[7], ("# Location name: Citt? di Castello ? " + std::string(150, 'x')).substr(0, 150));
    EXPECT_EQ(lines[9], "# Local timezone: Europe/Rome");
    EXPECT_EQ(lines[10], "# Time Synchronization: 127.0.0.1, localhost");
    EXPECT_EQ(lines[21], "# SQM readout test ix: i,00000004,00000003,00000057,00003911\\x01\\\\");
    EXPECT_EQ(lines[22], "# SQM readout test rx: " + FormatReadingReply(c));
    EXPECT_EQ(lines[23], "# SQM readout test cx: ");
    EXPECT_NE(lines[28].find("KALO-SQM test"), std::string::npos);
    EXPECT_EQ(ReadNightFile(path).Rows.size(), 2u);
    EXPECT_EQ(EscapeControl(std::string("a\r\n\0\t\x7f\xc3\xa0z", 9)), "a\\x0D\\x0A\\x00\\x09\\x7F\\xC3\\xA0z");
    // The simulator answers cx again, in its own form or a raw one.
    c.AnswerCalibration = true;
    c.CalLightTemperature = -4.3;
    c.CalDarkPeriod = 2.5;
    EXPECT_EQ(FormatCalibrationReply(c), "c,00000019.84m,0000002.500s,-004.3C,00000008.71m, 029.5C");

    // The zone's name from a path form, and the site's hours when nothing else tells.
    ::setenv("TZ", "/usr/share/zoneinfo/Asia/Tokyo", 1);
    EXPECT_EQ(LocalTimeZoneName(9), "Asia/Tokyo");
    ::unsetenv("TZ");
    const std::string pc = LocalTimeZoneName(1);
    EXPECT_FALSE(pc.empty());
    EXPECT_EQ(AsciiOnly(pc), pc);
    std::error_code ec;
    if (!fs::exists("/etc/timezone") && !fs::is_symlink("/etc/localtime", ec)) {
        EXPECT_EQ(pc, "UTC+01");
    }

    // Internet time off again: the PC clock.
    Settings(0, 0, 0, 0, 20);
    EXPECT_EQ(TimeSynchronizationText(Db()), "PC clock");
}

// The rows' texts on their own, under any locale.
TEST(NightFileText, RowsKeepTheirDecimalsAndTimesTheirMilliseconds) {
    TNightRow r;
    r.Utc = EncodeDateTime(2024, 2, 29, 23, 59, 59, 999);
    r.Local = EncodeDateTime(2024, 3, 1, 0, 59, 59, 999);
    r.Temperature = -0.04;
    r.Counts = 0;
    r.Frequency = 123456;
    r.Msas = 8.006;
    EXPECT_EQ(FormatNightRow(r), "2024-02-29T23:59:59.999;2024-03-01T00:59:59.999;0.0;0;123456;8.01");
    r.Temperature = 35;
    r.Msas = 22;
    EXPECT_EQ(Split(FormatNightRow(r), ';')[2], "35.0");
    EXPECT_EQ(Split(FormatNightRow(r), ';')[5], "22.00");
    double back = 0;
    ASSERT_TRUE(ParseNightTime("2024-02-29T23:59:59.999", back));
    EXPECT_EQ(std::llround(back * 86400000.0), std::llround(r.Utc * 86400000.0));
    EXPECT_FALSE(ParseNightTime("2024-02-30T00:00:00.000", back));
    EXPECT_FALSE(ParseNightTime("2024-02-29 23:59:59.999", back));
    EXPECT_FALSE(ParseNightTime("2024-02-29T23:59:59", back));
}

// Every number of a line in plain decimals of its column, the line whole and
// within 150 characters, or no line at all; our reader takes back what was
// written. The values range from what a meter gives to what none could.
TEST(NightFileText, ExtremeValuesAreWrittenAsPlainDecimalsWithinTheLineOrRefusedByName) {
    TNightFileHeader h;
    std::string header;
    for (const auto& l : NightFileHeaderLines(h)) header += l + "\r\n";
    enum Column { Temperature = 2, Counts, Frequency, Msas };
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        Column column;
        double value;
        const char* text;  // nullptr: refused
    } cases[] = {
        {Temperature, 90, "90.0"},
        {Temperature, -60, "-60.0"},
        {Temperature, -0.0, "0.0"},
        {Temperature, -0.04, "0.0"},
        {Temperature, 999999999999999.9, "999999999999999.9"},
        {Temperature, -999999999999999.9, "-999999999999999.9"},
        {Temperature, 1e15, nullptr},
        {Temperature, 1e30, nullptr},
        {Temperature, 2e65, nullptr},
        {Temperature, -2e65, nullptr},
        {Temperature, nan, nullptr},
        {Temperature, inf, nullptr},
        {Counts, 2000000, "2000000"},
        {Counts, 1e9, "1000000000"},
        {Counts, 2147483647, "2147483647"},
        {Counts, -0.0, "0"},
        {Counts, 1e30, nullptr},
        {Counts, -inf, nullptr},
        {Frequency, 100000, "100000"},
        {Frequency, 1e9, "1000000000"},
        {Frequency, 999999999999999, "999999999999999"},
        {Frequency, 2e65, nullptr},
        {Frequency, nan, nullptr},
        {Msas, -5, "-5.00"},
        {Msas, 30, "30.00"},
        {Msas, -0.0, "0.00"},
        {Msas, 21.004999, "21.00"},
        {Msas, 1e30, nullptr},
        {Msas, inf, nullptr},
    };
    const char* names[] = {"", "", "temperature", "counts", "frequency", "sky brightness"};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(names[c.column]) + " " + std::to_string(c.value));
        TNightRow r;
        r.Utc = EncodeDateTime(2024, 1, 15, 21, 0, 0);
        r.Local = r.Utc + 1 / 24.0;
        r.Temperature = 4.5;
        r.Counts = 10;
        r.Frequency = 5915;
        r.Msas = 21.34;
        double* field[] = {nullptr, nullptr, &r.Temperature, &r.Counts, &r.Frequency, &r.Msas};
        *field[c.column] = c.value;
        if (!c.text) {
            try {
                FormatNightRow(r);
                ADD_FAILURE() << "written";
            } catch (const std::out_of_range& e) {
                EXPECT_EQ(std::string(e.what()).rfind(names[c.column], 0), 0u) << e.what();
            }
            continue;
        }
        const std::string line = FormatNightRow(r);
        EXPECT_LE(line.size(), kNightFileMaxLine);
        EXPECT_EQ(line.find_first_not_of("0123456789-.:;T"), std::string::npos) << line;
        EXPECT_EQ(Split(line, ';')[c.column], c.text);
        const TNightFileContents back = ParseNightFile(header + line + "\r\n");
        ASSERT_EQ(back.Rows.size(), 1u);
        const double read[] = {0, 0, back.Rows[0].Temperature, back.Rows[0].Counts, back.Rows[0].Frequency,
                               back.Rows[0].Msas};
        EXPECT_EQ(read[c.column], std::strtod(c.text, nullptr));
    }

    // The widest line there can be: every number at its largest size at once.
    TNightRow wide;
    wide.Utc = EncodeDateTime(9999, 12, 29, 23, 59, 59, 999);
    wide.Local = EncodeDateTime(1, 1, 1, 0, 0, 0);
    wide.Temperature = wide.Counts = wide.Frequency = wide.Msas = -999999999999999.9;
    const std::string line = FormatNightRow(wide);
    EXPECT_LE(line.size(), kNightFileMaxLine) << line;
    EXPECT_EQ(ParseNightFile(header + line + "\r\n").Rows.size(), 1u);
    // Times beyond four-digit years, or none at all.
    for (const double t : {nan, inf, -1e300, 1e300, EncodeDateTime(9999, 12, 31, 12, 0, 0) + 1}) {
        wide = TNightRow{};
        wide.Utc = t;
        wide.Local = EncodeDateTime(2024, 1, 15, 22, 0, 0);
        EXPECT_THROW(FormatNightRow(wide), std::out_of_range) << t;
        std::swap(wide.Utc, wide.Local);
        EXPECT_THROW(FormatNightRow(wide), std::out_of_range) << t;
    }

    // The header's numbers too: plain decimals, and nothing for what cannot be one.
    h.Latitude = 0.00001;
    h.Longitude = -1e30;
    h.Elevation = nan;
    h.CoverOffset = 2e65;
    const auto lines = NightFileHeaderLines(h);
    EXPECT_EQ(lines[8], "# Position (lat, lon, elev(m)): 0.00001, , ");
    EXPECT_EQ(lines[20], "# SQM cover offset value: ");
}

// The reader refuses what the community rules do not allow.
TEST(NightFileReader, EveryBrokenRuleIsRefusedWithItsLine) {
    TNightFileHeader h;
    h.LocationName = "Roof";
    std::string header;
    for (const auto& l : NightFileHeaderLines(h)) header += l + "\r\n";
    const std::string good = "2024-01-15T21:00:00.000;2024-01-15T22:00:00.000;4.5;10;5915;21.34\r\n";
    const TNightFileContents ok = ParseNightFile(header + good);
    ASSERT_EQ(ok.Rows.size(), 1u);
    EXPECT_DOUBLE_EQ(ok.Rows[0].Msas, 21.34);
    EXPECT_EQ(ok.Header.size(), 35u);
    EXPECT_EQ(ParseNightFile(header).Rows.size(), 0u);

    auto refused = [&](const std::string& content, const std::string& why) {
        try {
            ParseNightFile(content);
            ADD_FAILURE() << "accepted: " << why;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
        }
    };
    refused(header + "2024-01-15T21:00:00.000;2024-01-15T22:00:00.000;4.5;10;5915;21.34\n",
            "line 36 does not end in CR LF");
    refused(header + "2024-01-15T21:00:00.000;2024-01-15T22:00:00.000;4.5;10;5915;21.34", "line 36 has no line end");
    refused(header + good + "\r\n", "line 37 is blank");
    refused(header + "2024-01-15T21:00:00.000;2024-01-15T22:00:00.000;4,5;10;5915;21,34\r\n", "line 36: field 3");
    refused(header + "2024-01-15T21:00:00.000;2024-01-15T22:00:00.000;4.5;10;5915\r\n", "line 36 has 5 fields");
    refused(header + "2024-01-15T21:00:00.000;2024-01-15T22:00:00.000;4.5;10;\t5915;21.34\r\n", "line 36 holds a tab");
    refused(header + "2024-01-15 21:00:00;2024-01-15T22:00:00.000;4.5;10;5915;21.34\r\n", "line 36: no UTC time");
    refused(header + good + std::string(151, '1') + "\r\n", "line 37 is longer than 150");
    std::string shortHeader = header;
    shortHeader.erase(shortHeader.find("# blank line 30\r\n"), 17);
    refused(shortHeader + good, "the header has 34 lines");
    std::string noEnd = header;
    noEnd.erase(noEnd.find("# END OF HEADER"));
    refused(noEnd, "no \"# END OF HEADER\"");
}

}  // namespace
