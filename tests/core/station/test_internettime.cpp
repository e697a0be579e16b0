// Internet time: the RFC 868 arithmetic, the time-server walk against an
// in-process time server on 127.0.0.1 with an injected pinger and clock
// setter, the server table, and the real ICMP pinger on the loopback address
// (the walk with the real pinger: tests/app/test_time_cli.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <tuple>

#include "core/station/fbdb.h"
#include "core/station/internettime.h"
#include "core/station/myutils.h"
#include "tools/timeserver/rfc868server.h"
#include "support/testsupport.h"
#include "support/time_test_support.h"
#include "core/station/version.h"

using timeserver::Reply;

namespace {

constexpr double kMs = 1.0 / 86400000.0;  // one millisecond in days
constexpr double kSecond = 1.0 / 86400.0;
constexpr uint32_t k2020 = 3800000000u;  // 2020-06-01 11:33:20 UTC
const char* const kCet = "CET-1CEST,M3.5.0,M10.5.0/3";
const char* const kEst = "EST5EDT,M3.2.0,M11.1.0";

double Utc2020() { return EncodeDateTime(2020, 6, 1, 11, 33, 20); }
Reply Answer(uint32_t seconds, int delayMs = 0) { return Reply{.seconds = seconds, .delayMs = delayMs}; }
Reply CloseEarly() { return Reply{Reply::Kind::CloseEarly, std::nullopt, 0}; }
Reply Never() { return Reply{Reply::Kind::Never, std::nullopt, 0}; }

// Each test that reads local times names its zone.
void UseZone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
}

using PingCalls = std::vector<std::pair<std::string, int>>;  // host, timeout

// Answers from a table (8 bytes for hosts not in it) or throws the host's
// error; hosts under "invalid" go to the real pinger, which refuses them.
class FakePinger : public IPinger {
public:
    std::map<std::string, int> replies;
    std::map<std::string, std::string> errors;
    PingCalls calls;

    int Ping(const std::string& host, int timeoutMs) override {
        calls.emplace_back(host, timeoutMs);
        if (auto e = errors.find(host); e != errors.end()) throw std::runtime_error(e->second);
        if (host.ends_with(".invalid")) return TIcmpPinger().Ping(host, timeoutMs);
        auto r = replies.find(host);
        return r == replies.end() ? 8 : r->second;
    }
};

class InternetTimeTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramDir(dir.Str()); }
    // A fresh server with this script, in place of any before.
    void Serve(std::vector<Reply> script) {
        server.Stop();
        server.Start(std::move(script));
        time.TimePort = server.Port();
    }
    std::filesystem::path Log() const { return dir.Path() / "LOGS" / "ERROR-LOG.txt"; }

    // The log's lines without their time stamps.
    std::vector<std::string> LogEntries() const {
        std::vector<std::string> entries;
        std::istringstream in(testsupport::ReadFile(Log()));
        for (std::string line; std::getline(in, line);) entries.push_back(line.substr(19, line.size() - 20));
        return entries;
    }

    testsupport::TempDir dir;
    FakePinger pinger;
    timetest::RecordingClock clock;
    TInternetTime time{pinger, clock};
    timeserver::Rfc868Server server;
    // Answers must be near this machine's clock to be believed.
    const uint32_t now = timeserver::CurrentSeconds();
};

double Utc(uint32_t seconds) { return Rfc868ToUtc(seconds, 0); }

// A refused answer of the test server in the log, without the line's time stamp.
std::string Refused(uint32_t seconds, const std::string& why) {
    return " - NTP Server Exception - HOST: 127.0.0.1 - Time " + FormatLogTime(Utc(seconds)) + " UTC refused: " + why;
}
std::string BeforeBuild() { return "earlier than this program's build (" + FormatLogTime(ProgramBuildTimeUtc()) + " UTC)"; }
const std::string kNoClock = "a count of 0, as servers without a clock send";

// The real pinger's outcome as text: the byte count, or "error: <message>".
std::string PingOutcome(const std::string& host, int timeoutMs) {
    try { return std::to_string(TIcmpPinger().Ping(host, timeoutMs)); }
    catch (const PingError& e) { return std::string("error: ") + e.what(); }
}

}  // namespace

TEST(Rfc868, SecondsSince1900WithWholeSecondDelayAndThe2036EraInTheZoneAndDaylightRuleOfThePc) {
    const struct { uint32_t seconds; int delayMs; double utc; } cases[] = {
        // Half of 1800 ms elapsed adds nothing, half of 2400 ms adds one second.
        {k2020, 0, Utc2020()}, {k2020, 900, Utc2020()}, {k2020, 999, Utc2020()},
        {k2020, 1200, Utc2020() + kSecond}, {k2020, 2500, Utc2020() + 2 * kSecond},
        {0x80000000u, 0, EncodeDateTime(1968, 1, 20, 3, 14, 8)},
        // 2^32 seconds after 1900 is 2036-02-07 06:28:16; the count then starts over.
        {0, 0, EncodeDateTime(2036, 2, 7, 6, 28, 16)}, {16, 0, EncodeDateTime(2036, 2, 7, 6, 28, 32)},
        {0xFFFFFFFFu, 0, EncodeDateTime(2036, 2, 7, 6, 28, 15)},
    };
    for (const auto& c : cases) EXPECT_NEAR(Rfc868ToUtc(c.seconds, c.delayMs), c.utc, kMs) << c.seconds << " +" << c.delayMs;

    // Local time follows the zone and its daylight rule.
    const double winter = EncodeDateTime(2020, 1, 15, 12, 0, 0);
    const struct { const char* tz; double utc, local; } zones[] = {
        {kCet, Utc2020(), EncodeDateTime(2020, 6, 1, 13, 33, 20)}, {kCet, winter, EncodeDateTime(2020, 1, 15, 13, 0, 0)},
        {kEst, Utc2020(), EncodeDateTime(2020, 6, 1, 7, 33, 20)}, {kEst, winter, EncodeDateTime(2020, 1, 15, 7, 0, 0)},
    };
    for (const auto& z : zones) {
        UseZone(z.tz);
        EXPECT_NEAR(UtcToLocalTime(z.utc), z.local, kMs) << z.tz;
    }
}

TEST_F(InternetTimeTest, ServersWithoutEchoAreSkippedSilentlyAndEachPingErrorWritesOneLine) {
    UseZone(kCet);
    Serve({Answer(now)});
    double offset = 7.0, t = 456.0;
    EXPECT_FALSE(time.GetTimeOffset({}, offset));  // no server: no traffic at all
    EXPECT_FALSE(time.GetInternetTime({}, t, false));
    EXPECT_FALSE(time.GetInternetTime({}, t, true));
    EXPECT_EQ(std::make_pair(offset, t), std::make_pair(7.0, 456.0));
    EXPECT_TRUE(pinger.calls.empty());
    EXPECT_EQ(server.Accepted(), 0);

    pinger.replies["no-echo.example"] = 0;
    pinger.errors["a.example"] = "Socket Error # 10065";
    const std::string before = FormatLogTime(NowLocal());
    // Hosts are trimmed, a missing timeout takes the default.
    constexpr int kDefault = TInternetTime::kDefaultTimeoutMs;
    ASSERT_TRUE(time.GetInternetTime(
        {{"no-echo.example", 1, 500}, {"nosuchhost.invalid", 2, 500}, {"a.example", 3, 500}, {" 127.0.0.1 ", 4, 0}}, t,
        false));
    const std::string after = FormatLogTime(NowLocal());
    EXPECT_NEAR(t, UtcToLocalTime(Utc(now)), kMs);  // in the PC's zone
    EXPECT_EQ(time.LastHost(), "127.0.0.1");
    const PingCalls walk{{"no-echo.example", 500}, {"nosuchhost.invalid", 500}, {"a.example", 500}, {"127.0.0.1", kDefault}};
    EXPECT_EQ(pinger.calls, walk);
    EXPECT_EQ(server.Accepted(), 1);
    const std::string line = "(\\d\\d/\\d\\d/\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d) - NTP Server Exception - HOST: ";
    const std::string log = testsupport::ReadFile(Log());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(log, m,
                                 std::regex(line + "nosuchhost\\.invalid - Cannot resolve host nosuchhost\\.invalid: [^\r\n]+\r\n" +
                                            line + "a\\.example - Socket Error # 10065\r\n")))
        << log;
    for (int i : {1, 2}) EXPECT_TRUE(m[i] == before || m[i] == after) << m[i];

    // No server answering the ping: no time request at all.
    pinger.replies["127.0.0.1"] = 0;
    EXPECT_FALSE(time.GetTimeOffset({{"127.0.0.1 ", 1, 300}, {"127.0.0.1", 2, -5}}, offset));
    EXPECT_EQ(offset, 7.0);
    PingCalls more = walk;
    more.insert(more.end(), {{"127.0.0.1", 300}, {"127.0.0.1", kDefault}});
    EXPECT_EQ(pinger.calls, more);
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_EQ(testsupport::ReadFile(Log()), log);
    EXPECT_TRUE(clock.set.empty());
}

TEST_F(InternetTimeTest, FailedTimeRequestsAreSkippedSilentlyAndTheTransitDelayCountsInWholeSeconds) {
    UseZone("UTC0");
    // Answers after about 1800 ms (delay 900 ms: nothing added) and 2400 ms
    // (delay 1200 ms: one second); then half an answer, one past the timeout, a good one.
    Serve({Answer(now, 1800), Answer(now, 2400), CloseEarly(), Answer(now + 99, 600), Answer(now)});
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 5000}}, t, false));
    EXPECT_NEAR(t, Utc(now), kMs);
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 5000}}, t, false));
    EXPECT_NEAR(t, Utc(now) + kSecond, kMs);
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 300}, {"127.0.0.1", 2, 300}, {"127.0.0.1", 3, 2000}}, t, false));
    EXPECT_NEAR(t, Utc(now), kMs);
    EXPECT_EQ(server.Accepted(), 5);

    // Nothing listens any more: the connection is refused.
    server.Stop();
    double offset = 5.0;
    EXPECT_FALSE(time.GetTimeOffset({{"127.0.0.1", 1, 500}}, offset));
    EXPECT_EQ(offset, 5.0);
    EXPECT_FALSE(std::filesystem::exists(Log()));
}

// Times that cannot be now: refused, logged, and the next server asked.
TEST(PlausibleInternetTime, NotBeforeTheBuildAndWithinADayOfThePcClock) {
    const double build = EncodeDateTime(2026, 3, 1, 12, 0, 0), pc = EncodeDateTime(2026, 6, 1, 12, 0, 0);
    using P = TimePlausibility;
    const std::pair<double, P> cases[] = {
        {pc, P::Plausible}, {pc + 1, P::Plausible}, {pc - 1, P::Plausible},
        {pc + 1 + kSecond, P::FarFromPcClock}, {pc - 1 - kSecond, P::FarFromPcClock}, {pc + 3650, P::FarFromPcClock},
        {build - kSecond, P::BeforeBuild}, {Utc(0x80000000u), P::BeforeBuild},  // 1968
        {Utc(0), P::FarFromPcClock},  // 2036 (the walk never asks about a count of 0)
    };
    for (const auto& [utc, expected] : cases) EXPECT_EQ(PlausibleInternetTime(utc, pc, build), expected) << FormatLogTime(utc);
    // A PC clock before the build is wrong for sure: only the build bounds the answer.
    EXPECT_EQ(PlausibleInternetTime(pc, EncodeDateTime(1970, 1, 1, 0, 0, 0), build), P::Plausible);
    EXPECT_EQ(PlausibleInternetTime(build, build - 30, build), P::Plausible);
    EXPECT_EQ(PlausibleInternetTime(build - kSecond, build - 30, build), P::BeforeBuild);
    EXPECT_EQ(PlausibleInternetTime(build, build, build), P::Plausible);

    // Agreement: each answer against the PC clock when it came, within 10 s.
    EXPECT_TRUE(InternetTimesAgree(pc + 2, pc, pc + 2 + 9.9 * kSecond, pc));
    EXPECT_TRUE(InternetTimesAgree(pc + 2, pc, pc + 2 - 9.9 * kSecond, pc));
    EXPECT_FALSE(InternetTimesAgree(pc + 2, pc, pc + 2 + 10.1 * kSecond, pc));
    EXPECT_TRUE(InternetTimesAgree(pc + 2, pc, pc + 2 + 60 * kSecond, pc + 60 * kSecond));  // a minute later
    EXPECT_FALSE(InternetTimesAgree(pc + 2, pc, pc + 2, pc + 60 * kSecond));
}

TEST_F(InternetTimeTest, TimesBeforeTheBuildAreRefusedAndOneMoreThanADayAwayIsBelievedOnlyWhenTheNextServerAgrees) {
    UseZone("UTC0");
    const uint32_t build = static_cast<uint32_t>(std::llround((ProgramBuildTimeUtc() - EncodeDate(1900, 1, 1)) * 86400));
    constexpr uint32_t kDay = 86400;
    const uint32_t far = now + 2 * kDay;
    const auto says = [](uint32_t first, uint32_t next) {
        return Refused(first, "more than a day away from the PC clock, and 127.0.0.1 says " + FormatLogTime(Utc(next)) + " UTC");
    };
    const auto unconfirmed = [](uint32_t first) {
        return Refused(first, "more than a day away from the PC clock, and no other server confirms it");
    };
    const std::string noClock = Refused(0, kNoClock);
    ASSERT_EQ(FormatLogTime(Utc(0)), "07/02/2036 06.28.16");
    ASSERT_EQ(FormatLogTime(Utc(0x80000000u)), "20/01/1968 03.14.08");
    const std::string early = Refused(0x80000000u, BeforeBuild());
    struct Case {
        const char* what;
        std::vector<Reply> script;
        size_t servers;
        std::optional<uint32_t> used;  // the answer whose time is taken
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"before the build, then one near the PC clock", {Answer(0x80000000u), Answer(build - 60), Answer(now)}, 3, now,
         {early, Refused(build - 60, BeforeBuild())}},
        {"nothing but times before the build", {Answer(0x80000000u)}, 3, std::nullopt, {early, early, early}},
        {"alone", {Answer(far)}, 1, std::nullopt, {unconfirmed(far)}},
        {"alone, the next server silent", {Answer(far), Never()}, 2, std::nullopt, {unconfirmed(far)}},
        {"then one near the PC clock", {Answer(far), Answer(now)}, 2, now, {says(far, now)}},
        {"0, which is 2036, then one near the PC clock", {Answer(0), Answer(now)}, 2, now, {noClock}},
        {"two that agree on 0", {Answer(0), Answer(0)}, 2, std::nullopt, {noClock, noClock}},
        {"two that agree", {Answer(far), Answer(far + 9)}, 2, far, {}},
        {"then one that answers nothing first", {Answer(far), CloseEarly(), Answer(far - 5)}, 3, far, {}},
        {"then one that disagrees", {Answer(far), Answer(far + 11)}, 2, std::nullopt, {says(far, far + 11), unconfirmed(far + 11)}},
        {"then one that disagrees and one that agrees with it", {Answer(far), Answer(now + 3 * kDay), Answer(now + 3 * kDay)},
         3, now + 3 * kDay, {says(far, now + 3 * kDay)}},
        {"then one before the build", {Answer(far), Answer(0x80000000u)}, 2, std::nullopt,
         {says(far, 0x80000000u), early}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(Log());
        Serve(c.script);
        std::vector<TimeServerEntry> servers;
        for (size_t i = 0; i < c.servers; ++i) servers.push_back({"127.0.0.1", static_cast<int>(i + 1), 500});
        double offset = 7.0, t = 456.0;
        EXPECT_EQ(time.GetTimeOffset(servers, offset), c.used.has_value());
        EXPECT_EQ(LogEntries(), c.log);
        Serve(c.script);
        EXPECT_EQ(time.GetInternetTime(servers, t, false), c.used.has_value());
        if (c.used) {
            EXPECT_NEAR(offset, Utc(*c.used) - NowLocal(), 2 * kSecond);
            EXPECT_NEAR(t, Utc(*c.used), kMs);
        } else {
            EXPECT_EQ(std::make_pair(offset, t), std::make_pair(7.0, 456.0));
        }
    }
    EXPECT_TRUE(clock.set.empty());
}

TEST_F(InternetTimeTest, SettingTheClockWantsASecondAnswerOfTheSameServerThatCanBeNowAndItsSetterToAgree) {
    UseZone(kCet);
    const std::vector<TimeServerEntry> two{{"127.0.0.1", 1, 2000}, {"127.0.0.1", 2, 2000}};
    // Refused setter: each server asked twice, the walk fails. Then the first
    // server fails its second request; the next one answers twice.
    Serve({Answer(now), Answer(now), Answer(now), Answer(now), Answer(now), CloseEarly(), Answer(now + 10),
           Answer(now + 60)});
    double t = 0;
    clock.allow = false;
    EXPECT_FALSE(time.GetInternetTime(two, t, true));
    EXPECT_EQ(server.Accepted(), 4);
    EXPECT_EQ(clock.set.size(), 2u);
    clock.allow = true;
    clock.set.clear();
    ASSERT_TRUE(time.GetInternetTime(two, t, true));
    EXPECT_EQ(server.Accepted(), 8);
    ASSERT_EQ(clock.set.size(), 1u);
    EXPECT_NEAR(clock.set[0], Utc(now + 60), kMs);
    EXPECT_NEAR(t, UtcToLocalTime(Utc(now + 60)), kMs);
    EXPECT_FALSE(std::filesystem::exists(Log()));

    // Servers that answer nothing but 0 (2036) or 0x80000000 (1968) never set it, however many agree.
    clock.set.clear();
    for (uint32_t never : {0u, 0x80000000u}) {
        Serve({Answer(never)});
        EXPECT_FALSE(time.GetInternetTime(two, t, true));
        EXPECT_EQ(server.Accepted(), 2) << never;
    }
    EXPECT_TRUE(clock.set.empty());
    // A server whose second answer is such a time sets nothing; the next one does.
    std::filesystem::remove(Log());
    Serve({Answer(now), Answer(0), Answer(now), Answer(0x80000000u), Answer(now + 1), Answer(now + 2)});
    EXPECT_FALSE(time.GetInternetTime({{"127.0.0.1", 1, 1000}}, t, true));
    ASSERT_TRUE(time.GetInternetTime(two, t, true));
    ASSERT_EQ(clock.set.size(), 1u);
    EXPECT_NEAR(clock.set[0], Utc(now + 2), kMs);
    EXPECT_NEAR(t, UtcToLocalTime(Utc(now + 2)), kMs);
    EXPECT_EQ(LogEntries(), (std::vector<std::string>{Refused(0, kNoClock), Refused(0x80000000u, BeforeBuild())}));

    // Two servers agree on a time two days away: the first one's fresh answer sets the clock, if it still agrees.
    const uint32_t far = now + 2 * 86400;
    Serve({Answer(far), Answer(far + 3), Answer(far + 1)});
    clock.set.clear();
    ASSERT_TRUE(time.GetInternetTime(two, t, true));
    ASSERT_EQ(clock.set.size(), 1u);
    EXPECT_NEAR(clock.set[0], Utc(far + 1), kMs);
    Serve({Answer(far), Answer(far + 3), Answer(far + 60)});
    clock.set.clear();
    EXPECT_FALSE(time.GetInternetTime(two, t, true));
    EXPECT_TRUE(clock.set.empty());
    EXPECT_EQ(LogEntries().back(), Refused(far + 60, "more than a day away from the PC clock, and the server said " +
                                                         FormatLogTime(Utc(far)) + " UTC just before"));
}

// The server list as the data module reads it, from a copy of the delivered database.
TEST(TimeServerTable, RowsComeInOrderOfPreferenceNullsAsZeroAndTheCallersEditsIncluded) {
    testsupport::TempDir dir;
    fb::Database db(testsupport::CopyPristineDb(dir.Path()));
    db.Open();
    using Rows = std::vector<std::tuple<std::string, int, int>>;
    const auto loaded = [](auto& from) {
        Rows rows;
        for (const auto& s : LoadTimeServers(from)) rows.emplace_back(s.Host, s.Order, s.TimeoutMs);
        return rows;
    };
    for (const auto& sql : timetest::TimeServerRows({})) db.ExecuteImmediate(sql);
    EXPECT_TRUE(loaded(db).empty());
    for (const auto& sql : timetest::TimeServerRows({"('c.example', 30, 1500)", "('a.example', 10, null)", "('b.example', 20, 700)"}))
        db.ExecuteImmediate(sql);
    const Rows committed{{"a.example", 10, 0}, {"b.example", 20, 700}, {"c.example", 30, 1500}};
    EXPECT_EQ(loaded(db), committed);
    // A transaction sees its own uncommitted rows; others neither see them nor wait for them.
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('first.example', 0, 200)");
    q.ExecSQL();
    Rows own = committed;
    own.insert(own.begin(), {"first.example", 0, 200});
    EXPECT_EQ(loaded(tr), own);
    EXPECT_EQ(loaded(db), committed);
    tr.Rollback();
}

TEST(IcmpPinger, LoopbackAnswersWithTheEchoHeaderAndUnresolvableHostsAreErrorsNamingThem) {
    if (!timetest::IcmpPermitted())
        EXPECT_EQ(PingOutcome("127.0.0.1", 2000).rfind("error: No permission to send ICMP echo requests", 0), 0u);
    else  // Empty payload: the 8-byte echo header alone. Back to back, each call matches its own reply.
        for (const char* host : {"127.0.0.1", "localhost", "127.0.0.1", "127.0.0.1", "127.0.0.1"})
            EXPECT_EQ(PingOutcome(host, 2000), "8") << host;
    for (const std::string host : {"nosuchhost.invalid", "A.B.INVALID", "x.invalid."})
        EXPECT_EQ(PingOutcome(host, 500).rfind("error: Cannot resolve host " + host + ": ", 0), 0u) << PingOutcome(host, 500);
    EXPECT_EQ(PingOutcome("", 500), "error: Host name is empty");
}

TEST(IcmpPinger, WithoutRawSocketRightsOnlyThePingGroupRangeHelps) {
    // A child that has given up CAP_NET_RAW may still ping when its group may
    // open ICMP datagram sockets; otherwise it gets a ping error.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct d[2]{};
        std::string out = "capget failed";
        if (::syscall(SYS_capget, &h, d) == 0) {
            d[0].effective &= ~(1u << CAP_NET_RAW);
            d[0].permitted &= ~(1u << CAP_NET_RAW);
            out = ::syscall(SYS_capset, &h, d) != 0 ? "capset failed" : PingOutcome("127.0.0.1", 2000);
        }
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(out, timetest::PingSocketAllowed() ? "8"
                                                 : "error: No permission to send ICMP echo requests (the group is outside "
                                                   "net.ipv4.ping_group_range and raw sockets need CAP_NET_RAW)");
}
