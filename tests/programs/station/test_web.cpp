// kalosqm-station --http: the read-only page, JSON and metrics served from
// inside the running service, against a simulated meter and a real database.
#include "programs/station/web_test_support.h"

#include <fstream>

#include <cstdio>
#include <future>

#include "programs/station/servicecore.h"
#include "tools/sqmle-sim/sqmsim.h"

namespace {

using namespace servicetest;
using namespace webtest;

const std::string kHostile = "<script>alert(1)</script>";
const std::string kQuoted = "Quote \"and\" back\\slash";

// The night of 2024-01-15 at site 2, worked by hand: six readings inside the
// noon-to-noon window, one the next afternoon outside it.
const char* const kArchive[][3] = {
    {"2024-01-15 19:00:00", "21.10", "3.5"}, {"2024-01-15 21:00:00", "21.35", "2.0"},
    {"2024-01-15 23:00:00", "21.52", "1.5"}, {"2024-01-16 01:00:00", "21.48", "0.5"},
    {"2024-01-16 03:00:00", "20.90", "-0.5"}, {"2024-01-16 05:00:00", "20.05", "-1.0"},
    {"2024-01-16 13:00:00", "18.00", "6.0"},
};

std::string RunOut(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    return out;
}

std::string TwoDecimals(const std::string& number) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", std::stod(number));
    return buf;
}

class WebStation : public ::testing::Test {
protected:
    WebStation() {
        sim.Start();
        f.AddSite(1, "Roof", sim.Port(), true);
        f.AddSite(2, "Archive", sim.Port(), false);
        f.AddSite(3, kHostile, sim.Port(), false);
        f.AddSite(4, kQuoted, sim.Port(), false);
        std::vector<std::string> rows;
        int n = 0;
        for (const auto& r : kArchive)
            rows.push_back(std::string("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, "
                                       "REA_SQMTEMP, REA_SQMOFFSET, REA_STATE, REA_UPLOADED) VALUES ('a") +
                           std::to_string(++n) + "', 2, '" + r[0] + "', " + r[1] + ", " + r[2] + ", 0, 0, 0)");
        rows.push_back("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, "
                       "REA_SQMOFFSET, REA_STATE, REA_UPLOADED) VALUES ('h1', 3, '2024-01-15 22:00:00', 20.5, 1, 0, 0, 0)");
        ExecOn(f.db, rows);
    }
    void StartWeb(std::vector<std::string> args = {}, const std::vector<std::string>& env = {}) {
        args.insert(args.end(), {"--http", "127.0.0.1:0"});
        f.Start(args, env);
        ASSERT_TRUE(f.station.WaitFor([](const TChild& c) { return WebPort(c) > 0; }, 20s)) << f.station.Err();
        port = WebPort(f.station);
        ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 20s)) << f.station.Err();
    }
    int Stored() const { return f.station.Count("site \"Roof\": reading"); }

    SqmSimulator sim;
    TStationFolder f;
    int port = 0;
};

TEST_F(WebStation, JsonAndStatisticsAreTheCommandLinesAndMetricsFollowTheStoredReadings) {
    // What kalosqm-cli says of the worked night, before the station holds the file.
    const std::string cli = RunOut(std::string(KALO_CLI_EXE) + " readings --site 2 --night 2024-01-15 --stats --db '" +
                                   f.db + "'");
    const auto cliTimes = All(cli, R"((?:^|\n)(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\t)");
    const auto cliValues = All(cli, R"(\d\d:\d\d:\d\d\t([0-9.]+)\t)");
    ASSERT_EQ(cliTimes.size(), 6u) << cli;
    // The night file the acquisition would have written for that night.
    const fs::path nightFile = f.dir.Path() / "NightFiles" / "Archive" / "20240115_120000_Archive.dat";
    fs::create_directories(nightFile.parent_path());
    std::ofstream(nightFile) << "# Community Standard Skyglow Data Format 1.0\n# worked night\n";
    StartWeb({"--tick-ms", "1500"});

    // The site's page links the night's file and plot; both are served.
    const TReply page = Request(port, "/site/2?night=2024-01-15");
    ASSERT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("href=\"/site/2/night/2024-01-15.dat\""), std::string::npos);
    EXPECT_NE(page.Body.find("href=\"/site/2/night/2024-01-15.png\""), std::string::npos);
    EXPECT_EQ(Request(port, "/site/2/night/2024-01-15.dat").Body, testsupport::ReadFile(nightFile));
    EXPECT_EQ(Request(port, "/site/2/night/2024-01-14.dat").Status, 404);
    EXPECT_EQ(Request(port, "/site/2?night=2024-01-14").Body.find("2024-01-14.dat"), std::string::npos);

    const TReply readings = Request(port, "/api/v1/sites/2/readings?night=2024-01-15");
    ASSERT_EQ(readings.Status, 200) << readings.Body;
    EXPECT_NE(readings.Headers.find("application/json"), std::string::npos);
    auto times = All(readings.Body, R"re("time":"([^"]+)")re");
    for (auto& t : times) t = t.substr(0, 10) + " " + t.substr(11, 8);
    EXPECT_EQ(times, cliTimes);
    auto values = All(readings.Body, R"("sqm":([0-9.]+))");
    for (auto& v : values) v = TwoDecimals(v);
    EXPECT_EQ(values, cliValues);
    EXPECT_NE(readings.Body.find("\"temperature\":-0.5,"), std::string::npos) << readings.Body;

    // The statistics: the same numbers the command line prints with two decimals.
    const TReply stats = Request(port, "/api/v1/sites/2/stats?night=2024-01-15");
    ASSERT_EQ(stats.Status, 200) << stats.Body;
    const std::pair<const char*, const char*> pairs[] = {{"Average", "average"}, {"Standard deviation", "deviation"},
                                                         {"Median", "median"},   {"Maximim", "maximum"},
                                                         {"Minimum", "minimum"}};
    EXPECT_EQ(All(cli, R"(Number of readings: (\d+))"), All(stats.Body, R"("count":(\d+))"));
    for (const auto& [caption, key] : pairs) {
        const auto want = All(cli, std::string(caption) + R"(: ([0-9.]+))");
        const auto got = All(stats.Body, "\"" + std::string(key) + R"(":([0-9.eE+-]+))");
        ASSERT_EQ(want.size(), 1u) << caption << "\n" << cli;
        ASSERT_EQ(got.size(), 1u) << key << "\n" << stats.Body;
        EXPECT_EQ(TwoDecimals(got[0]), want[0]) << caption;
    }
    // An interval picks the same rows as the night it spans.
    const TReply interval = Request(port, "/api/v1/sites/2/readings?from=2024-01-15T12:00:00Z&to=2024-01-16T12:00:00Z");
    EXPECT_EQ(All(interval.Body, R"re("time":"([^"]+)")re").size(), 6u) << interval.Body;

    // /metrics at a moment when no reading is being stored: its counter is the
    // number of readings said, its waiting count the archive's seven.
    std::string metrics;
    int stored = -1;
    for (int attempt = 0; attempt < 40 && stored < 0; ++attempt) {
        const int before = Stored();
        const TReply m = Request(port, "/metrics");
        ASSERT_EQ(m.Status, 200);
        const auto counted = All(m.Body, R"(kalosqm_readings_stored_total\{site_id="1",site="Roof"\} (\d+))");
        ASSERT_EQ(counted.size(), 1u) << m.Body;
        if (std::stoi(counted[0]) == before && Stored() == before) {
            stored = before;
            metrics = m.Body;
        }
    }
    ASSERT_GT(stored, 0) << "no quiet moment between readings";
    EXPECT_NE(metrics.find("kalosqm_sky_brightness_mag_per_arcsec2{site_id=\"1\",site=\"Roof\"} 19.29\n"),
              std::string::npos) << metrics;
    EXPECT_NE(metrics.find("kalosqm_readings_waiting_upload{site_id=\"2\",site=\"Archive\"} 7\n"), std::string::npos);
    EXPECT_NE(metrics.find("kalosqm_readings_failed_total{site_id=\"1\",site=\"Roof\",cause=\"meter\"} 0\n"),
              std::string::npos);
    EXPECT_NE(metrics.find("kalosqm_acquiring{site_id=\"2\",site=\"Archive\"} 0\n"), std::string::npos);
    EXPECT_NE(metrics.find("site=\"Quote \\\"and\\\" back\\\\slash\""), std::string::npos) << metrics;
    const auto stamp = All(metrics, R"(kalosqm_last_reading_timestamp_seconds\{site_id="1",site="Roof"\} ([0-9.e+]+))");
    ASSERT_EQ(stamp.size(), 1u) << metrics;

    // A real scraper's parser accepts the text.
    if (std::system("command -v promtool >/dev/null 2>&1") == 0) {
        const fs::path file = f.dir.Path() / "metrics.txt";
        std::ofstream(file) << metrics;
        EXPECT_EQ(std::system(("promtool check metrics < '" + file.string() + "'").c_str()), 0) << metrics;
    } else {
        ADD_FAILURE() << "promtool is missing (tools/install-deps.sh installs the package prometheus)";
    }

    f.Stop(SIGTERM);
    // The stored-th reading in time order is the one /metrics called the newest.
    std::vector<double> unix;
    ForEachRowOn(f.db, "SELECT REA_DATETIME FROM READINGS WHERE REA_SITE=1 ORDER BY REA_DATETIME",
                 [&](fb::Query& q) { unix.push_back(DateTimeToUnix(q.Fields(0).AsDateTime())); });
    ASSERT_GE(unix.size(), static_cast<size_t>(stored));
    EXPECT_NEAR(unix[stored - 1], std::stod(stamp[0]), 0.01);
}

TEST_F(WebStation, AValueNoMeterCanGiveIsLeftOutOfTheDataTheStatisticsThePagesAndThePicture) {
    // Stored by an older version, a network import or a hand edit, in the worked night.
    ExecOn(f.db, {"INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SQMOFFSET, "
                  "REA_STATE, REA_UPLOADED) VALUES ('huge', 2, '2024-01-15 22:00:00', 1E308, -1E308, 0, 0, 0)"});
    StartWeb({"--tick-ms", "1500"});

    const TReply readings = Request(port, "/api/v1/sites/2/readings?night=2024-01-15");
    ASSERT_EQ(readings.Status, 200) << readings.Body;
    EXPECT_EQ(All(readings.Body, R"re("time":"([^"]+)")re").size(), 7u) << readings.Body;
    EXPECT_NE(readings.Body.find("\"sqm\":null,\"nelm\":null,\"temperature\":null"), std::string::npos)
        << readings.Body;
    EXPECT_EQ(readings.Body.find("e+30"), std::string::npos) << readings.Body;
    EXPECT_EQ(readings.Body.find("99999"), std::string::npos) << readings.Body;

    const TReply stats = Request(port, "/api/v1/sites/2/stats?night=2024-01-15");
    ASSERT_EQ(stats.Status, 200) << stats.Body;
    EXPECT_EQ(All(stats.Body, R"("count":(\d+))"), std::vector<std::string>{"6"}) << stats.Body;
    EXPECT_EQ(All(stats.Body, R"("maximum":([0-9.]+))"), std::vector<std::string>{"21.52"}) << stats.Body;
    EXPECT_EQ(All(stats.Body, R"("left_out":(\d+))"), std::vector<std::string>{"1"}) << stats.Body;

    // The pages and the picture draw the night without it, and say so.
    const TReply page = Request(port, "/site/2?night=2024-01-15");
    ASSERT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("1 left out: a value no meter can give"), std::string::npos);
    EXPECT_EQ(page.Body.find("e+30"), std::string::npos);
    EXPECT_EQ(Request(port, "/site/2/night/2024-01-15.png").Status, 200);
    EXPECT_EQ(Request(port, "/").Status, 200);
    f.Stop(SIGTERM);
}

TEST_F(WebStation, TheNightsAreTheCommandLinesAndMetricsTellTheLastCompleteNight) {
    // The worked night becomes a clear one: four dark hours of a steady sky.
    std::vector<std::string> rows;
    for (int m = 0; m < 240; m += 5)
        rows.push_back("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, "
                       "REA_MOONH, REA_STATE) VALUES ('d" + std::to_string(m) + "', 2, DATEADD(" + std::to_string(m) +
                       " MINUTE TO CAST('2024-01-15 22:00:00' AS DATE)), " + (m % 10 ? "21.41" : "21.39") +
                       ", 0, -40, -20, 0)");
    // The next afternoon's reading goes: the worked night is the site's last.
    rows.push_back("DELETE FROM READINGS WHERE REA_CODE = 'a7'");
    ExecOn(f.db, rows);
    const std::string cli = RunOut(std::string(KALO_CLI_EXE) + " nights --site 2 --from 2024-01-10 --to 2024-01-20 "
                                   "--json --db '" + f.db + "'");
    ASSERT_NE(cli.find("\"night\":\"2024-01-15\",\"readings\":54,\"dark_readings\":48,\"clear_dark_readings\":48"),
              std::string::npos) << cli;
    StartWeb({"--tick-ms", "1500"});

    const TReply nights = Request(port, "/api/v1/sites/2/nights?from=2024-01-10&to=2024-01-20");
    ASSERT_EQ(nights.Status, 200) << nights.Body;
    EXPECT_NE(nights.Headers.find("application/json"), std::string::npos);
    EXPECT_EQ(nights.Body, cli);
    EXPECT_EQ(Request(port, "/api/v1/sites/2/nights?from=2024-01-10").Status, 400);
    EXPECT_EQ(Request(port, "/api/v1/sites/2/nights?from=2024-01-20&to=2024-01-10").Status, 400);
    EXPECT_EQ(Request(port, "/api/v1/sites/2/nights?night=2024-01-10").Status, 400);
    EXPECT_EQ(Request(port, "/api/v1/sites/9/nights").Status, 404);

    // The site's page: the last 30 nights, the worked one clear, and the chart.
    const TReply page = Request(port, "/site/2?night=2024-01-20");
    ASSERT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("<tr><td>2024-01-15</td><td>clear</td><td>1.00</td><td>21.40</td></tr>"),
              std::string::npos) << page.Body;
    const auto dates = All(page.Body, R"(<tr><td>(\d{4}-\d\d-\d\d)</td>)");
    ASSERT_EQ(dates.size(), 30u);
    EXPECT_EQ(dates.front(), "2024-01-20");
    EXPECT_EQ(dates.back(), "2023-12-22");
    EXPECT_NE(page.Body.find("Sky brightness of the clear nights"), std::string::npos);

    // /metrics: the site's last complete night, the worked one.
    const TReply metrics = Request(port, "/metrics");
    ASSERT_EQ(metrics.Status, 200);
    EXPECT_EQ(All(metrics.Body, R"(\nkalosqm_night_sky_brightness_mag_per_arcsec2\{[^}]*site_id="2"[^}]*\} ([0-9.]+))"),
              std::vector<std::string>{"21.4"}) << metrics.Body;
    EXPECT_EQ(All(metrics.Body, R"(\nkalosqm_night_clear_fraction\{[^}]*site_id="2"[^}]*\} ([0-9.]+))"),
              std::vector<std::string>{"1"}) << metrics.Body;
}

TEST_F(WebStation, EveryTextIsEscapedAndBadRequestsAreRefusedWithAShortText) {
    StartWeb();
    for (const std::string path : {"/", "/site/3?night=2024-01-15", "/api/v1/sites", "/api/v1/sites/3/stats"}) {
        const TReply r = Request(port, path);
        ASSERT_EQ(r.Status, 200) << path << "\n" << r.Body;
        const auto raw = r.Body.find("<script");
        EXPECT_EQ(raw, std::string::npos) << path << ": " << r.Body.substr(raw == std::string::npos ? 0 : raw - std::min<size_t>(raw, 300), 400);
        const bool json = path.rfind("/api", 0) == 0;
        EXPECT_NE(r.Body.find(json ? "\\u003cscript\\u003ealert(1)\\u003c/script\\u003e" : "&lt;script&gt;alert(1)&lt;/script&gt;"),
                  std::string::npos)
            << path << "\n" << r.Body;
        if (path == "/api/v1/sites") EXPECT_NE(r.Body.find("\"Quote \\\"and\\\" back\\\\slash\""), std::string::npos);
        if (path == "/") EXPECT_NE(r.Body.find("Quote &quot;and&quot; back\\slash"), std::string::npos);
    }
    struct Case {
        const char* method;
        const char* target;
        int status;
    };
    const Case cases[] = {
        {"GET", "/nope", 404},
        {"GET", "/etc/passwd", 404},
        {"GET", "/site/999", 404},
        {"GET", "/api/v1/sites/999/readings?night=2024-01-15", 404},
        {"GET", "/site/abc", 400},
        {"GET", "/site/01", 400},
        {"GET", "/site/1?night=2024-13-01", 400},
        {"GET", "/site/1?night=2024-02-30", 400},
        {"GET", "/site/1?night=2024-01-15&night=2024-01-16", 400},
        {"GET", "/site/1?colour=red", 400},
        {"GET", "/api/v1/sites/1/readings?from=2024-01-01", 400},
        {"GET", "/api/v1/sites/1/readings?from=2024-01-02&to=2024-01-01", 400},
        {"GET", "/api/v1/sites/1/readings?night=2024-01-15&from=2024-01-01&to=2024-01-02", 400},
        {"GET", "/api/v1/sites/1/stats?night=yesterday", 400},
        {"GET", "/site/../../etc/passwd", 400},
        {"GET", "/site/%2e%2e/%2e%2e/etc/passwd", 400},
        {"GET", "/%2E%2E/%2E%2E/etc/passwd", 400},
        {"GET", "/site/1/night/..%2f..%2f..%2fetc%2fpasswd", 400},
        {"GET", "/site/1/night/2024-01-15.dat/..%5c..%5cx", 400},
        {"GET", "/site/1/night/2024-01-15.txt", 404},
        {"POST", "/", 405},
        {"DELETE", "/api/v1/sites/1", 405},
        {"GET", "/api/v1/sites/2/readings?night=2024-01-15", 200},
        {"GET", "/site/2/night/2024-01-15.png", 200},
        {"HEAD", "/metrics", 200},
    };
    for (const Case& c : cases) {
        const TReply r = Request(port, c.target, c.method);
        EXPECT_EQ(r.Status, c.status) << c.method << " " << c.target << "\n" << r.Body;
        EXPECT_EQ(r.Body.find("root:"), std::string::npos) << c.target;
        if (c.status >= 400 && std::string(c.method) == "GET") {
            EXPECT_LT(r.Body.size(), 300u) << c.target;
            EXPECT_EQ(r.Body.rfind(std::to_string(c.status) + " ", 0), 0u) << c.target << "\n" << r.Body;
        }
    }
    EXPECT_EQ(Request(port, "/site/2/night/2024-01-15.png").Body.substr(1, 3), "PNG");
    f.Stop(SIGTERM);
}

TEST_F(WebStation, FiftyClientsAndATricklingOneNeitherHoldTheReadingsNorEachOther) {
    StartWeb({"--tick-ms", "1000"});
    // One byte a second: dropped once its request is not whole after the limit.
    auto trickle = std::async(std::launch::async, [this] {
        const int fd = Connect(port);
        const std::string req = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(40, 'a') + "\r\n\r\n";
        size_t sent = 0;
        for (; sent < req.size(); ++sent) {
            if (::send(fd, &req[sent], 1, MSG_NOSIGNAL) != 1) break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) > 0) {
                char c;
                if (::recv(fd, &c, 1, MSG_DONTWAIT) <= 0) break;  // closed by the server
            }
        }
        ::close(fd);
        return sent;
    });
    std::vector<std::future<std::vector<int>>> clients;
    for (int i = 0; i < 50; ++i)
        clients.push_back(std::async(std::launch::async, [this, i] {
            std::vector<int> statuses;
            for (int k = 0; k < 3; ++k)
                statuses.push_back(Request(port, (i + k) % 3 == 0 ? "/" : (i + k) % 3 == 1 ? "/metrics" : "/api/v1/sites").Status);
            return statuses;
        }));
    for (auto& c : clients)
        for (const int status : c.get()) EXPECT_EQ(status, 200);
    const size_t trickled = trickle.get();
    EXPECT_LT(trickled, 25u) << "the trickling client was not dropped";
    EXPECT_GT(trickled, 5u);
    f.Stop(SIGTERM);

    // A reading every tick all along: no gap beyond the tick and a second
    // (plus a second for the times' whole seconds).
    std::vector<double> times;
    ForEachRowOn(f.db, "SELECT REA_DATETIME FROM READINGS WHERE REA_SITE=1 ORDER BY REA_DATETIME",
                 [&](fb::Query& q) { times.push_back(q.Fields(0).AsDateTime() * 86400.0); });
    ASSERT_GE(times.size(), 10u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_LE(times[i] - times[i - 1], 3.0) << "readings " << i - 1 << " and " << i;
    f.ExpectPrintedStored("Roof", 1);
}

TEST_F(WebStation, AHeadlessBrowserShowsTheChartAndTheLastReading) {
    const char* find = "command -v chromium >/dev/null 2>&1";
    if (std::system(find) != 0) GTEST_SKIP() << "chromium is missing (tools/install-deps.sh installs it)";
    // Tonight's readings on the overview; the archive's night on its page.
    StartWeb();
    const fs::path profile = f.dir.Path() / "chromium";
    for (const std::string path : {"/", "/site/1", "/site/2?night=2024-01-15"}) {
        const std::string dom =
            RunOut("chromium --headless --no-sandbox --disable-gpu --user-data-dir='" + profile.string() +
                   "' --dump-dom 'http://127.0.0.1:" + std::to_string(port) + path + "' 2>/dev/null");
        EXPECT_NE(dom.find("<svg"), std::string::npos) << path << "\n" << dom.substr(0, 2000);
        EXPECT_NE(dom.find(path == "/site/2?night=2024-01-15" ? "18.00" : "19.29"), std::string::npos) << path;
        EXPECT_NE(dom.find("mag/arcsec"), std::string::npos) << path;
    }
    f.Stop(SIGTERM);
}

TEST_F(WebStation, ThePageSpeaksTheLanguageTheProgramIsSetTo) {
    // The Italian catalogue in the program folder, and the choice saved as the desktop program saves it.
    fs::create_directories(f.dir.Path() / "Locale");
    fs::copy(fs::path(KALO_CATALOGUES_DIR) / "it", f.dir.Path() / "Locale" / "it", fs::copy_options::recursive);
    std::ofstream(f.dir.Path() / "Locale" / "LangSettings.ini") << "[LangageInfo]\nLanguageName=it\n";
    // As a unit starts it: no locale in the environment, so the C locale
    // (which Qt sets again as the page's pictures start) until the program chooses.
    StartWeb({}, {"LANG", "LC_ALL", "LC_MESSAGES", "LANGUAGE"});
    const TReply home = Request(port, "/");
    ASSERT_EQ(home.Status, 200);
    EXPECT_NE(home.Body.find("<html lang=\"it\">"), std::string::npos) << home.Body.substr(0, 300);
    for (const char* italian : {"Stazione KALO-SQM", "Ultima lettura", "In attesa di invio", "Fermo"})
        EXPECT_NE(home.Body.find(italian), std::string::npos) << italian;
    const TReply site = Request(port, "/site/2?night=2024-01-15");
    for (const char* italian : {"notte precedente", "Le ultime 30 notti", "Numero di letture"})
        EXPECT_NE(site.Body.find(italian), std::string::npos) << italian;
    f.Stop(SIGTERM);
}

TEST_F(WebStation, TheUnitTurnsThePageOnThroughItsEnvironmentAndABadValueIsAUsageError) {
    const fs::path err = f.dir.Path() / "env.txt";
    f.station.Start(KALOSQM_STATION_EXE, {"--dir", f.dir.Str(), "--tick-ms", "300"}, err, {"KALOSQM_HTTP=127.0.0.1:0"});
    ASSERT_TRUE(f.station.WaitFor([](const TChild& c) { return WebPort(c) > 0; }, 20s)) << f.station.Err();
    EXPECT_EQ(Request(WebPort(f.station), "/api/v1/sites").Status, 200);
    f.Stop(SIGTERM);

    f.station.Start(KALOSQM_STATION_EXE, {"--dir", f.dir.Str()}, err, {"KALOSQM_HTTP=localhost:80"});
    EXPECT_EQ(f.station.WaitExit(10s), 2);
    EXPECT_NE(f.station.Err().find("KALOSQM_HTTP=localhost:80"), std::string::npos) << f.station.Err();
    // Without it, and without --http, nothing listens.
    f.station.Start(KALOSQM_STATION_EXE, {"--dir", f.dir.Str(), "--tick-ms", "300"}, err, {"KALOSQM_HTTP"});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 20s)) << f.station.Err();
    EXPECT_EQ(f.station.Count("web page at"), 0);
    f.Stop(SIGTERM);

    // A port another program holds: said with the address, status 1, no reading taken.
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    socklen_t len = sizeof a;
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string at = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    const int before = f.Readings(1);
    f.station.Start(KALOSQM_STATION_EXE, {"--dir", f.dir.Str(), "--http", at}, err);
    EXPECT_EQ(f.station.WaitExit(10s), 1);
    EXPECT_NE(f.station.Err().find("--http: cannot listen on " + at), std::string::npos) << f.station.Err();
    EXPECT_EQ(f.Readings(1), before);
    ::close(taken);
}

// promtool's verdict on a metrics text; a missing promtool fails the test.
void ExpectPromtoolAccepts(const fs::path& folder, const std::string& metrics) {
    if (std::system("command -v promtool >/dev/null 2>&1") != 0) {
        ADD_FAILURE() << "promtool is missing (tools/install-deps.sh installs the package prometheus)";
        return;
    }
    const fs::path file = folder / "metrics-check.txt";
    std::ofstream(file) << metrics;
    EXPECT_EQ(std::system(("promtool check metrics < '" + file.string() + "'").c_str()), 0) << metrics;
}

TEST_F(WebStation, EverySiteHasASeriesFromTheStartAndInternetTimeOffIsNoFailedSynchronisation) {
    StartWeb();
    const TReply m = Request(port, "/metrics");
    ASSERT_EQ(m.Status, 200);
    // Site 4 has never stored a reading; it is there all the same, with its meter.
    EXPECT_NE(m.Body.find("kalosqm_site_info{site_id=\"4\",site=\"Quote \\\"and\\\" back\\\\slash\",code=\"\",meter=\"127.0.0.1:" +
                          std::to_string(sim.Port()) + "\"} 1\n"),
              std::string::npos)
        << m.Body;
    for (const char* id : {"1", "2", "3"})
        EXPECT_NE(m.Body.find(std::string("kalosqm_site_info{site_id=\"") + id + "\""), std::string::npos) << id;
    // Internet time is off in this folder: said so, and no synchronisation reads as failed.
    EXPECT_NE(m.Body.find("\nkalosqm_internet_time_enabled 0\n"), std::string::npos) << m.Body;
    EXPECT_EQ(m.Body.find("kalosqm_internet_time_sync_success 0"), std::string::npos) << m.Body;
    EXPECT_NE(m.Body.find("\nkalosqm_database_open 1\n"), std::string::npos) << m.Body;
    ExpectPromtoolAccepts(f.dir.Path(), m.Body);
    f.Stop(SIGTERM);
}

TEST_F(WebStation, WhileTheServiceWaitsForASiteMetricsAnswerAndThePagesSayWhy) {
    ExecOn(f.db, {"UPDATE SQMSITES SET SIT_AUTOSTART=0"});
    f.Start({"--wait", "--http", "127.0.0.1:0"});
    ASSERT_TRUE(f.station.WaitForLine("waiting for SIGHUP", 1, 20s)) << f.station.Err();
    ASSERT_TRUE(f.station.WaitFor([](const TChild& c) { return WebPort(c) > 0; }, 5s)) << f.station.Err();
    port = WebPort(f.station);
    const TReply m = Request(port, "/metrics");
    ASSERT_EQ(m.Status, 200) << m.Body;
    EXPECT_NE(m.Body.find("\nkalosqm_database_open 0\n"), std::string::npos) << m.Body;
    EXPECT_NE(m.Body.find("kalosqm_site_info{site_id=\"2\",site=\"Archive\""), std::string::npos) << m.Body;
    EXPECT_NE(m.Body.find("kalosqm_acquiring{site_id=\"1\",site=\"Roof\"} 0\n"), std::string::npos) << m.Body;
    EXPECT_NE(m.Body.find("\nkalosqm_uptime_seconds "), std::string::npos) << m.Body;
    ExpectPromtoolAccepts(f.dir.Path(), m.Body);
    const TReply home = Request(port, "/");
    EXPECT_EQ(home.Status, 503);
    EXPECT_NE(home.Body.find("leaves its database free"), std::string::npos) << home.Body;
    f.Stop(SIGTERM);
}

TEST_F(WebStation, OnAPhoneTheChartsWordsAreAsLargeAsThePagesSmallText) {
    StartWeb();
    // On a 390 px phone a card's content is 390 - 2 * 12 (the body's padding)
    // - 2 * 12.8 (the card's) = 340.4 px wide, and the page's small text is
    // 0.9 * 16 = 14.4 px; an inline SVG is scaled to the card's width.
    const double cardPx = 340.4, smallTextPx = 14.4;
    for (const std::string path : {"/", "/site/2?night=2024-01-15"}) {
        const TReply page = Request(port, path);
        ASSERT_EQ(page.Status, 200) << path;
        const auto charts = All(page.Body, R"re(<div class="chart-narrow">(<svg[\s\S]*?</svg>))re");
        ASSERT_FALSE(charts.empty()) << path << ": no chart drawn for a phone";
        for (const std::string& svg : charts) {
            const auto box = All(svg, R"re(viewBox="0 0 ([0-9.]+) [0-9.]+")re");
            ASSERT_EQ(box.size(), 1u) << svg.substr(0, 300);
            double smallest = 1e9;
            for (const auto& size : All(svg, R"re(<text [^>]*font-size="([0-9.]+)")re"))
                smallest = std::min(smallest, std::stod(size));
            ASSERT_LT(smallest, 1e9) << "no text in " << svg.substr(0, 300);
            EXPECT_GE(smallest * cardPx / std::stod(box[0]), smallTextPx)
                << path << ": the smallest text is " << smallest << " in a picture " << box[0] << " wide";
        }
    }
    f.Stop(SIGTERM);
}

TEST(WebOptions, TheAddressIsParsedStrictlyAndLoopbackByDefault) {
    struct Case {
        std::vector<std::string> args;
        std::string address;
        int port;
    };
    const Case good[] = {
        {{"--http", "9000"}, "127.0.0.1", 9000},
        {{"--http", ":0"}, "127.0.0.1", 0},
        {{"--http"}, "127.0.0.1", 8080},
        {{"--http", "--wait"}, "127.0.0.1", 8080},
        {{"--http=0.0.0.0:80"}, "0.0.0.0", 80},
        {{"--http", "[::1]:8081"}, "::1", 8081},
        {{"--demo", "--http", "0"}, "127.0.0.1", 0},
    };
    for (const Case& c : good) {
        const TServiceOptions o = ParseServiceArgs(c.args);
        ASSERT_TRUE(o.Http.has_value());
        EXPECT_EQ(o.Http->Address, c.address);
        EXPECT_EQ(o.Http->Port, c.port);
    }
    EXPECT_FALSE(ParseServiceArgs({}).Http.has_value());
    for (const std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"--http", "65536"}, {"--http", "host.example:80"}, {"--http", "1.2.3:80"}, {"--http", "[::1]80"},
             {"--http", "80x"}, {"--http", ""}, {"--http", "1", "--http", "2"}})
        EXPECT_THROW(ParseServiceArgs(bad), TUsageError) << bad.back();
}

}  // namespace
