// kalosqm-station --http under real use: long answers come in pages written
// as they are read, a client that keeps reading gets its answer whole, and
// the web library's own messages are summarised.
#include "programs/station/web_test_support.h"

#include <cstdio>
#include <fstream>
#include <future>

#include "tools/sqmle-sim/sqmsim.h"

namespace {

using namespace servicetest;
using namespace webtest;

constexpr int kYearSite = 5;

// The station's memory now (VmRSS) or at its peak since the last reset (VmHWM), in bytes.
long long MemoryOf(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1)) * 1024;
    return -1;
}

// A JSON string's text (\uXXXX of ASCII, \" \\ \/), as a client reads it.
std::string JsonText(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
        } else if (s[i + 1] == 'u' && i + 5 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 2, 4), nullptr, 16));
            i += 5;
        } else {
            out += s[++i];
        }
    }
    return out;
}

// The page's next link, empty on the last page.
std::string NextLink(const std::string& json) {
    const auto next = All(json, R"re("next":"((?:[^"\\]|\\.)*)")re");
    return next.empty() ? std::string() : JsonText(next[0]);
}

// The JSON's reading times, in order.
std::vector<std::string> Times(const std::string& json) { return All(json, R"re("time":"([^"]+)")re"); }

// Reads an answer through a receive buffer of a fixed size (no growing on
// its own), a piece at a time with a pause between, until the server closes
// or limit has passed.
TReply ReadSlowly(int port, const std::string& target, int buffer, size_t piece, std::chrono::milliseconds pause,
                  std::chrono::seconds limit) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return {};
    }
    const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string raw;
    std::vector<char> buf(piece);
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 15000) <= 0) break;
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0) break;
        raw.append(buf.data(), static_cast<size_t>(n));
        std::this_thread::sleep_for(pause);
    }
    ::close(fd);
    return Parse(raw);
}

class WebLimits : public ::testing::Test {
protected:
    WebLimits() {
        sim.Start();
        f.AddSite(1, "Roof", sim.Port(), true);
        f.AddSite(kYearSite, "Year", sim.Port(), false);
    }
    // count readings of the year site, one a minute from 2023-01-01 00:00,
    // each with its own value 10 + minute / 100000.
    void AddMinuteReadings(int count) {
        ExecOn(f.db, {"EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " + std::to_string(count) +
                      ") DO BEGIN INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, "
                      "REA_SQMOFFSET, REA_STATE, REA_UPLOADED) VALUES ('y' || :I, " + std::to_string(kYearSite) +
                      ", DATEADD(:I MINUTE TO CAST('2023-01-01 00:00:00' AS TIMESTAMP)), 10 + :I / 100000.0, 5, 0, 0, 1); "
                      "I = I + 1; END END"});
        readings += count;
    }
    void StartWeb() {
        f.Start({"--http", "127.0.0.1:0"});
        ASSERT_TRUE(f.station.WaitFor([](const TChild& c) { return WebPort(c) > 0; }, 20s)) << f.station.Err();
        port = WebPort(f.station);
        ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 20s)) << f.station.Err();
    }
    std::string YearReadings(const std::string& query) const {
        return "/api/v1/sites/" + std::to_string(kYearSite) + "/readings?" + query;
    }

    SqmSimulator sim;
    TStationFolder f;
    int port = 0;
    int readings = 0;
};

TEST_F(WebLimits, AllTheReadingsOfASiteComeInBoundedPagesEachLinkingTheNext) {
    AddMinuteReadings(25000);
    // Three readings of one moment, told apart by their values, where small pages part them.
    ExecOn(f.db, {"INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_UPLOADED) "
                  "VALUES ('t2', 5, '2022-12-31 23:00:00', 21.5, 0, 1)",
                  "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_UPLOADED) "
                  "VALUES ('t1', 5, '2022-12-31 23:00:00', 21.25, 0, 1)",
                  "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_UPLOADED) "
                  "VALUES ('t3', 5, '2022-12-31 23:00:00', 21.75, 0, 1)",
                  "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_UPLOADED) "
                  "VALUES ('t0', 5, '2022-12-31 22:00:00', 21.0, 0, 1)"});
    StartWeb();

    // Everything asked: the first 10000, and a link to the rest.
    std::string target = YearReadings("from=1900-01-01&to=9999-12-31");
    std::vector<std::string> times;
    int pages = 0;
    while (!target.empty()) {
        const TReply r = Request(port, target);
        ASSERT_EQ(r.Status, 200) << target << "\n" << r.Body.substr(0, 300);
        ASSERT_TRUE(r.Whole) << target;
        ASSERT_EQ(r.Body.substr(r.Body.size() - 2), "}\n") << target;
        const auto page = Times(r.Body);
        EXPECT_NE(r.Body.find("\"limit\":10000,"), std::string::npos) << r.Body.substr(0, 300);
        const std::string next = NextLink(r.Body);
        if (next.empty()) {
            EXPECT_NE(r.Body.find("\"next\":null}"), std::string::npos);
            EXPECT_EQ(page.size(), 25004u - 20000u);
        } else {
            EXPECT_EQ(page.size(), 10000u) << target;
            EXPECT_EQ(next.rfind(YearReadings("from=1900-01-01&to=9999-12-31&after="), 0), 0u) << next;
        }
        target = next;
        times.insert(times.end(), page.begin(), page.end());
        ASSERT_LT(++pages, 5);
    }
    EXPECT_EQ(pages, 3);
    ASSERT_EQ(times.size(), 25004u);
    EXPECT_EQ(times.front(), "2022-12-31T22:00:00Z");
    EXPECT_EQ(times[4], "2023-01-01T00:00:00Z");
    EXPECT_EQ(times.back(), "2023-01-18T08:39:00Z");  // minute 24999
    for (size_t i = 5; i < times.size(); ++i) ASSERT_LT(times[i - 1], times[i]) << i;

    // Pages of two part the readings of one moment; each comes once.
    std::vector<std::string> values;
    target = YearReadings("from=2022-12-31T22:00:00Z&to=2023-01-01T00:00:00Z&limit=2");
    for (int n = 0; !target.empty() && n < 10; ++n) {
        const TReply r = Request(port, target);
        ASSERT_EQ(r.Status, 200) << target << "\n" << r.Body;
        EXPECT_LE(Times(r.Body).size(), 2u);
        for (const auto& v : All(r.Body, R"("sqm":([0-9.]+))")) values.push_back(v);
        target = NextLink(r.Body);
    }
    EXPECT_EQ(values, (std::vector<std::string>{"21", "21.25", "21.5", "21.75", "10"}));

    // A night is one page as before; limits outside 1 to 10000 and a made-up cursor are refused.
    EXPECT_EQ(Times(Request(port, YearReadings("night=2023-01-01")).Body).size(), 1441u);
    for (const std::string bad : {"limit=0", "limit=10001", "limit=-1", "limit=ten", "after=yesterday", "after=12"}) {
        const TReply r = Request(port, YearReadings("night=2023-01-01&" + bad));
        EXPECT_EQ(r.Status, 400) << bad << "\n" << r.Body;
    }
    // Statistics read no rows into the answer, and their interval is bounded.
    EXPECT_EQ(Request(port, "/api/v1/sites/5/stats?from=2023-01-01&to=2024-01-03").Status, 400);
    const TReply stats = Request(port, "/api/v1/sites/5/stats?from=2023-01-01&to=2023-12-31");
    EXPECT_NE(stats.Body.find("\"count\":25000,"), std::string::npos) << stats.Body;
    f.Stop(SIGTERM);
}

TEST_F(WebLimits, AllTheReadingsOfASiteAskedAtOnceCostTheStationLittleMemory) {
    AddMinuteReadings(100000);  // about 15 MB of JSON if it were one answer
    StartWeb();
    ASSERT_EQ(Request(port, YearReadings("night=2023-01-01")).Status, 200);  // the first request's own costs
    const pid_t pid = f.station.Pid();
    std::ofstream(("/proc/" + std::to_string(pid) + "/clear_refs").c_str()) << "5";  // the peak starts from now
    const long long before = MemoryOf(pid, "VmRSS");
    const TReply r = Request(port, YearReadings("from=1900-01-01&to=9999-12-31"));
    const long long peak = MemoryOf(pid, "VmHWM");
    ASSERT_EQ(r.Status, 200);
    ASSERT_TRUE(r.Whole);
    EXPECT_EQ(Times(r.Body).size(), 10000u);
    ASSERT_GT(before, 0);
    EXPECT_LT(peak - before, 20LL * 1024 * 1024) << "before " << before << ", peak " << peak;
    std::printf("station memory: %lld kB before, %lld kB at the peak of the request (%zu bytes of answer)\n",
                before / 1024, peak / 1024, r.Body.size());
    f.Stop(SIGTERM);
}

TEST_F(WebLimits, AClientThatKeepsReadingALongAnswerGetsItWhole) {
    AddMinuteReadings(25000);
    StartWeb();
    // About 1.5 MB at about 100 KB/s: longer than the request time limit.
    const auto begun = std::chrono::steady_clock::now();
    const TReply r = ReadSlowly(port, YearReadings("from=2023-01-01&to=2024-01-01"), 4096, 8192, 80ms, 60s);
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_GT(took, 12s) << "the answer was not read slowly";
    ASSERT_EQ(r.Status, 200);
    EXPECT_TRUE(r.Whole) << r.Body.size() << " bytes";
    EXPECT_EQ(Times(r.Body).size(), 10000u);
    EXPECT_EQ(r.Body.substr(r.Body.size() - 2), "}\n");
    f.Stop(SIGTERM);
}

TEST_F(WebLimits, AClientThatKeepsReadingANightFileFarLargerThanTheSocketBuffersGetsItWhole) {
    // 24 MB: more than the kernel holds for a client, so the station is still
    // sending when the request time limit has long passed.
    const fs::path file = f.dir.Path() / "NightFiles" / "Year" / "20230101_120000_Year.dat";
    fs::create_directories(file.parent_path());
    {
        std::ofstream out(file, std::ios::binary);
        out << "# Community Standard Skyglow Data Format 1.0\r\n";
        for (int i = 0; out.tellp() < 24 * 1024 * 1024; ++i)
            out << "2023-01-01T12:00:00.000;2023-01-01T12:00:00.000;5.0;100;" << i << ";21.00\r\n";
    }
    StartWeb();
    const auto begun = std::chrono::steady_clock::now();
    const TReply r = ReadSlowly(port, "/site/5/night/2023-01-01.dat", 256 * 1024, 65536, 50ms, 90s);
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_GT(took, 12s) << "the answer was not read slowly";
    ASSERT_EQ(r.Status, 200);
    EXPECT_TRUE(r.Whole) << r.Body.size() << " bytes";
    const std::string whole = testsupport::ReadFile(file);
    EXPECT_TRUE(r.Body == whole) << r.Body.size() << " bytes of " << whole.size();
    f.Stop(SIGTERM);
}

TEST_F(WebLimits, TheWebLibrarysOwnMessagesAreSaidOncePerKindWithACount) {
    StartWeb();
    // 200 connections at once from one address: 64 are allowed, the library refuses the rest, each with a message.
    std::vector<int> fds;
    for (int i = 0; i < 200; ++i) fds.push_back(Connect(port));
    std::this_thread::sleep_for(2s);
    for (const int fd : fds)
        if (fd >= 0) ::close(fd);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Request(port, "/metrics").Status, 200);
    f.Stop(SIGTERM);
    std::vector<std::string> lines;
    for (const auto& l : f.station.ErrLines())
        if (l.rfind("kalosqm-station: http: ", 0) == 0) lines.push_back(l);
    ASSERT_FALSE(lines.empty()) << f.station.Err();
    EXPECT_LE(lines.size(), 4u) << f.station.Err();
    // The count of those not said reaches the journal before the end.
    long long counted = 0;
    for (const auto& l : lines) {
        const auto more = All(l, R"(^kalosqm-station: http: (\d+) more like this)");
        counted += more.empty() ? 1 : std::stoll(more[0]);
    }
    EXPECT_GE(counted, 136) << f.station.Err();
}

}  // namespace
