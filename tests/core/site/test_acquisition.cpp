// The acquisition of a site, night after simulated night: a fake clock,
// everything else real (database file, data module, SQM-LE simulator,
// RFC 868 time server).
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "tools/timeserver/rfc868server.h"
#include "core/site/readingwindow.h"
#include "support/site_test_support.h"
#include "core/astronomy/vsop.h"

using namespace sitetest;
using Strings = std::vector<std::string>;

namespace {

class Acquisition : public SiteFixture {
protected:
    // Date-times every `minutes` from a to b inclusive.
    static Strings Every(double minutes, double a, double b) {
        Strings out;
        for (double t = a; t <= b + kSecond / 2; t += minutes / 1440.0) out.push_back(FormatLogTime(t));
        return out;
    }
    // The site, started with the fake clock at that time.
    std::unique_ptr<TSite> Start(int id, double now) {
        clock.now = now;
        auto s = std::make_unique<TSite>(*this, id);
        s->acq.StartOrStop();
        return s;
    }
    Strings Times(int site) {
        Strings out;
        for (const auto& r : Stored(site)) out.push_back(FormatLogTime(r.Time));
        return out;
    }
    std::vector<int> States(int site) {
        std::vector<int> out;
        for (const auto& r : Stored(site)) out.push_back(r.State);
        return out;
    }
    const double k22h = EncodeDateTime(2024, 1, 15, 22, 0, 0);
};

TEST_F(Acquisition, ATimedNightStoresEveryIntervalInsideItsWindowOnly) {
    const int id = AddSite({.Method = kTimed, .Interval = 10, .Start = "18.00", .Stop = "06.00"});
    auto s = Start(id, EncodeDateTime(2024, 1, 15, 12, 0, 0));
    EXPECT_TRUE(s->ticker.enabled);
    EXPECT_EQ(s->ticker.period, 30000);
    EXPECT_EQ(s->light.Last(), TSiteState::OutsideWindow);
    EXPECT_TRUE(Stored(id).empty());
    Run(*s, 24 * 60);
    EXPECT_EQ(Times(id), Every(10, EncodeDateTime(2024, 1, 15, 18, 0, 0), EncodeDateTime(2024, 1, 16, 6, 0, 0)));
    EXPECT_EQ(States(id), std::vector<int>(73, 0));
    EXPECT_EQ(s->view.latest, 73);
    EXPECT_TRUE(s->prompt.texts.empty());
    EXPECT_TRUE(LogLines("Roof").empty());
    // The key is the reading's time and the site.
    EXPECT_EQ(Stored(id).front().Code, "20240115180000" + std::to_string(id));

    s->acq.StartOrStop();
    EXPECT_FALSE(s->ticker.enabled);
    EXPECT_EQ(s->light.Last(), TSiteState::Stopped);
    EXPECT_EQ(s->view.runStates, (std::vector<bool>{true, false}));
}

TEST_F(Acquisition, StartingInsideTheWindowReadsAtOnceAndTheLightTellsNightFromDay) {
    const int id = AddSite({.Method = kTimed, .Interval = 5, .Start = "20.00", .Stop = "20.10", .DayReading = 1,
                            .DayInterval = "30"});
    auto s = Start(id, EncodeDateTime(2024, 3, 1, 20, 0, 0));
    ASSERT_EQ(Stored(id).size(), 1u);
    EXPECT_EQ(s->light.Last(), TSiteState::NightStored);
    Run(*s, 10);  // 20:05 and 20:10 inside
    Run(*s, 0.5);  // 20:10:30: outside, the daylight interval has long passed
    EXPECT_EQ(States(id), (std::vector<int>{0, 0, 0, -1}));
    EXPECT_EQ(s->light.Last(), TSiteState::DaylightStored);
    Run(*s, 30);  // next daylight reading at 20:40:30
    EXPECT_EQ(States(id), (std::vector<int>{0, 0, 0, -1, -1}));
    EXPECT_EQ(Times(id).back(), "01/03/2024 20.40.30");
}

TEST_F(Acquisition, SunsetToSunriseAndDuskToDawnAtARealSite) {
    const double day = EncodeDate(2024, 1, 15);
    for (int method : {kDiscardByDay, kDiscardInTwilight}) {
        const int id = AddSite({.Name = "Milan" + std::to_string(method), .Method = method, .Interval = 15,
                                .Latitude = "45.46", .Longitude = "9.19"});
        auto s = Start(id, day + 0.5);
        Run(*s, 24 * 60);
        const double morning = method == kDiscardByDay ? SunRise(day + 1, -9.19L, 45.46L)
                                                       : AstronomicalDawn(day + 1, -9.19L, 45.46L);
        const double evening = method == kDiscardByDay ? SunSet(day, -9.19L, 45.46L)
                                                       : AstronomicalDusk(day, -9.19L, 45.46L);
        const auto rows = Stored(id);
        ASSERT_FALSE(rows.empty());
        // The first tick after the evening edge reads; then every 15 minutes until the morning edge.
        EXPECT_GT(rows.front().Time, evening);
        EXPECT_LE(rows.front().Time, evening + 30 * kSecond);
        for (const auto& r : rows) EXPECT_TRUE(r.Time > evening && r.Time < morning) << FormatLogTime(r.Time);
        EXPECT_GT(rows.back().Time, morning - 15 / 1440.0);
        const int expected = static_cast<int>(std::floor((rows.back().Time - rows.front().Time) * 96 + 0.5)) + 1;
        EXPECT_EQ(static_cast<int>(rows.size()), expected);
        s->acq.Stop();
    }
}

TEST_F(Acquisition, WithoutCoordinatesEveryInstantIsNightAndOtherMethodsTakeDaylightReadingsOnly) {
    const double noon = EncodeDateTime(2024, 1, 15, 12, 0, 0);
    const struct {
        TSiteFields site;
        double start, minutes;
        double every;  // the readings that follow, from the start
        size_t count;
        int state;
    } cases[] = {
        {{.Name = "Latitude only", .Method = kDiscardInTwilight, .Interval = 60, .Latitude = "45.0"}, noon, 3 * 60, 60, 4, 0},
        {{.Name = "Unknown", .Method = 7, .Interval = 1, .DayReading = 1, .DayInterval = "20", .PastTheRules = true}, k22h, 60, 20, 4, -1},
        {{.Name = "Unknown, no daylight readings", .Method = 7, .Interval = 1, .PastTheRules = true}, k22h, 60, 0, 0, 0},
        // A daylight interval of zero, or none, reads at every tick outside the window.
        {{.Name = "Zero", .Method = kTimed, .Start = "18.00", .Stop = "06.00", .DayReading = 1, .DayInterval = "0"},
         noon, 10, 0.5, 21, -1},
        {{.Name = "Empty", .Method = kTimed, .Start = "18.00", .Stop = "06.00", .DayReading = 1, .DayInterval = nullptr},
         noon, 10, 0.5, 21, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.site.Name);
        const int id = AddSite(c.site);
        auto s = Start(id, c.start);
        Run(*s, c.minutes);
        const auto times = c.count ? Every(c.every, c.start, c.start + (c.count - 1) * c.every / 1440) : Strings{};
        EXPECT_EQ(Times(id), times);
        EXPECT_EQ(States(id), std::vector<int>(c.count, c.state));
        EXPECT_TRUE(c.count || s->light.Last() == TSiteState::OutsideWindow);
        s->acq.Stop();
    }
}

// Internet time from a real RFC 868 server on 127.0.0.1.
class WithTimeServer : public Acquisition {
protected:
    void SetUp() override {
        Acquisition::SetUp();
        server.Start({timeserver::Reply{}});
        data.TimePort = server.Port();
        Exec("DELETE FROM NTPSERVERS");
        Exec("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('127.0.0.1', 1, 1000)");
    }
    timeserver::Rfc868Server server;
};

TEST_F(WithTimeServer, ASyncFrequencyOfZeroSynchronisesBeforeEveryDueReading) {
    Settings(1, 0, 0, 0, 0);
    const int id = AddSite({.Interval = 5});
    auto s = Start(id, k22h);
    EXPECT_EQ(server.Accepted(), 2);
    // The measured offset moves by the server's whole seconds, which may put
    // a due reading off by a tick: count what was read.
    Run(*s, 20);
    const int readings = static_cast<int>(Stored(id).size());
    EXPECT_GE(readings, 4);
    // One at the start, one before each reading.
    EXPECT_EQ(server.Accepted(), 1 + readings);
    for (const auto& r : Stored(id)) EXPECT_EQ(r.Syncro, 1);

    // Once the servers fail, the following readings say so.
    server.Stop();
    Run(*s, 5);
    EXPECT_EQ(Stored(id).back().Syncro, 0);
    EXPECT_FALSE(common.time.LastSyncSucceeded);
    EXPECT_TRUE(s->prompt.texts.empty());  // no box during acquisition
}

// Ticks as a repeating timer delivers them, a few milliseconds either side of
// their 30 s, and an Internet time that steps by a second either way at the
// synchronisation before each reading: every interval still gets its reading.
TEST_F(WithTimeServer, JitteredTicksAndAnInternetTimeSteppingBySecondsReadOncePerInterval) {
    Settings(1, 0, 0, 0, 0);  // the offset measured before every due reading
    std::mt19937 random(20);
    std::uniform_int_distribution<int> jitterMs(-5, 5);
    for (const int interval : {1, 2}) {
        SCOPED_TRACE(std::to_string(interval) + "-minute interval");
        // The server's clock: 0, +1, 0, -1 s against this machine's, in turn.
        const uint32_t base = timeserver::CurrentSeconds();
        const int steps[] = {0, 1, 0, -1};
        std::vector<timeserver::Reply> script;
        for (int i = 0; i < 200; ++i)
            script.push_back({timeserver::Reply::Kind::Answer, static_cast<uint32_t>(int64_t{base} + steps[i % 4]), 0});
        server.Stop();
        server.Start(script);
        data.TimePort = server.Port();

        const double start = k22h + interval * kMinute * 100;  // away from the other run's readings
        const std::string name = "Jitter" + std::to_string(interval);
        const int id = AddSite({.Name = name, .Interval = interval});
        auto s = Start(id, start);
        const int ticks = 2 * 120;  // two hours
        for (int k = 1; k <= ticks; ++k) {
            clock.now = start + (k * 30000 + jitterMs(random)) / 86400000.0;
            s->acq.Tick();
        }
        s->acq.Stop();

        const auto rows = Stored(id);
        ASSERT_EQ(rows.size(), static_cast<size_t>(120 / interval + 1));
        EXPECT_EQ(server.Accepted(), static_cast<int>(rows.size()) + 1);  // the start, and before each reading
        double shortest = 1e9, longest = 0;
        for (size_t i = 1; i < rows.size(); ++i) {
            const double spacing = (rows[i].Time - rows[i - 1].Time) * 86400;
            shortest = std::min(shortest, spacing);
            longest = std::max(longest, spacing);
            EXPECT_NEAR(spacing, interval * 60, 5) << FormatLogTime(rows[i].Time);
        }
        // The clock did step both ways between readings.
        EXPECT_LT(shortest, interval * 60 - 0.5);
        EXPECT_GT(longest, interval * 60 + 0.5);
        EXPECT_TRUE(LogLines(name).empty());
    }
}

TEST_F(WithTimeServer, TheOffsetOfASynchronisationCountsFromTheNextTick) {
    Settings(1, 0, 0, 0, 30);
    const int id = AddSite({.Interval = 10});
    // A server an hour ahead of this machine's clock.
    server.Stop();
    server.Start({timeserver::Reply{timeserver::Reply::Kind::Answer, timeserver::CurrentSeconds() + 3600u, 0}});
    data.TimePort = server.Port();
    auto s = Start(id, k22h);
    const double offset = common.time.Offset;
    EXPECT_NEAR(offset, 1.0 / 24, 5 * kSecond);
    ASSERT_EQ(Stored(id).size(), 1u);
    EXPECT_NEAR(Stored(id).front().Time, clock.now + offset, kSecond);
    // Stopping the server: the failed synchronisation keeps the offset it had.
    server.Stop();
    Run(*s, 30);
    EXPECT_EQ(common.time.Offset, offset);
    EXPECT_NEAR(Stored(id).back().Time, clock.now + offset, kSecond);
}

TEST_F(WithTimeServer, AClockSetBackBySynchronisingDelaysTheNextReadingByAsMuch) {
    Settings(1, 1, 0, 0, 20);
    // The second setting of the clock puts it back by an hour.
    setter->onSet = [n = 0](FakeClock& c, double) mutable {
        if (++n == 2) c.Advance(-3600);
    };
    const int id = AddSite({.Interval = 10});
    auto s = Start(id, k22h);
    Run(*s, 20);  // 22:00, 22:10; at 22:20 the clock goes back before the reading
    EXPECT_EQ(setter->calls, 2);
    EXPECT_EQ(common.time.Offset, 0);
    ASSERT_EQ(Stored(id).size(), 3u);
    EXPECT_EQ(Times(id).front(), "15/01/2024 21.20.00");  // the reading taken just after the step
    // From 21:20 on no reading is due until the clock is 10 minutes past 22:20 again.
    Run(*s, 69.5);
    EXPECT_EQ(Stored(id).size(), 3u);
    Run(*s, 0.5);
    EXPECT_EQ(Times(id).back(), "15/01/2024 22.30.00");
}

TEST_F(Acquisition, PolarDayLogsOneLinePerTickAndStaysYellowWhileRunning) {
    const int id = AddSite({.Name = "Svalbard", .Method = kDiscardByDay, .Interval = 1, .Latitude = "78.2",
                            .Longitude = "15.6"});
    auto s = Start(id, EncodeDateTime(2024, 6, 21, 12, 0, 0));
    Run(*s, 10);
    const auto lines = LogLines("Svalbard");
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines.front(), "21/06/2024 12.00.00 - Timer Exception - No rises or sets calculable");
    EXPECT_EQ(lines.back().substr(0, 19), "21/06/2024 12.10.00");
    EXPECT_EQ(s->light.Last(), TSiteState::Failed);
    EXPECT_EQ(s->acq.LastTick().What, TTickReport::Outcome::Exception);
    EXPECT_TRUE(s->acq.Running());
    EXPECT_FALSE(common.meters.Busy("127.0.0.1", sim.Port()));
    EXPECT_TRUE(Stored(id).empty());
}

TEST_F(Acquisition, AMeterThatStopsAnsweringLogsEachDueReadingAndIsReadAgainWhenBack) {
    const int id = AddSite({.Name = "Flaky", .Interval = 2});
    auto s = Start(id, k22h);
    Run(*s, 4);  // 22:00, 22:02, 22:04
    ASSERT_EQ(Stored(id).size(), 3u);
    const int port = sim.Port();
    sim.Stop();
    Run(*s, 6);  // 22:06, 22:08, 22:10 due: refused
    const auto lines = LogLines("Flaky");
    ASSERT_EQ(lines.size(), 3u);
    const std::string refused =
        "SQM-LE at 127.0.0.1:" + std::to_string(port) + ": cannot connect: Socket error: Connection refused";
    EXPECT_EQ(lines[0], "15/01/2024 22.06.00 - Timer Exception - " + refused);
    EXPECT_EQ(s->acq.LastTick().What, TTickReport::Outcome::Failed);
    EXPECT_EQ(s->acq.LastTick().Error, refused);
    EXPECT_EQ(s->light.Last(), TSiteState::Failed);
    EXPECT_FALSE(common.meters.Busy("127.0.0.1", port));
    sim.Start(port);
    Run(*s, 4);
    EXPECT_EQ(Stored(id).size(), 5u);
    EXPECT_EQ(Times(id).back(), "15/01/2024 22.14.00");
    EXPECT_EQ(s->light.Last(), TSiteState::NightStored);
    EXPECT_EQ(LogLines("Flaky").size(), 3u);
}

TEST_F(Acquisition, AMalformedReadingFailsUnstoredAndAMalformedIdentityReachesTheLogEscaped) {
    const int id = AddSite({.Interval = 1});
    SqmSimConfig bad = sim.Config();
    bad.RawReading = "r, 19.2x,0000005915Hz";
    sim.SetConfig(bad);
    auto s = Start(id, k22h);
    EXPECT_EQ(s->acq.LastTick().What, TTickReport::Outcome::Failed);
    EXPECT_EQ(s->light.Last(), TSiteState::Failed);
    EXPECT_TRUE(Stored(id).empty());
    const std::string malformed = "SQM-LE at 127.0.0.1:" + std::to_string(sim.Port()) +
                                  ": malformed reply \"r, 19.2x,0000005915Hz\": Reading reply with too few items";
    EXPECT_EQ(LogLines("Roof"), Strings{"15/01/2024 22.00.00 - Timer Exception - " + malformed});

    // A title change, a bell, a screen clear, a C1 CSI and bytes that are no UTF-8, in an identity reply.
    bad.RawReading.clear();
    bad.RawInfo = "i,\x1B]0;owned\x07\x1B[2J\r\xC2\x9B" "31m\x7F\xFF";
    sim.SetConfig(bad);
    auto hostile = Start(AddSite({.Name = "Hostile", .Interval = 1}), k22h);
    const std::string escaped = "Identity reply with too few items: i,\\x1B]0;owned\\x07\\x1B[2J\\r\\xC2\\x9B31m\\x7F\\xFF";
    EXPECT_EQ(hostile->acq.LastTick().What, TTickReport::Outcome::Exception);
    EXPECT_EQ(hostile->acq.LastTick().Error, escaped);
    EXPECT_EQ(testsupport::ReadFile(TErrorLog::Folder() + "/" + TErrorLog::FileNameFor("Hostile")),
              "15/01/2024 22.00.00 - Timer Exception - " + escaped + "\r\n");
}

// Whatever keeps a due reading from being stored, the site's log has one
// line per due reading naming it, and the tick and the view carry it.
TEST_F(Acquisition, EveryFailedDueReadingLeavesOneLogLineNamingItsCause) {
    const std::string meter = "SQM-LE at 127.0.0.1:" + std::to_string(sim.Port()) + ": ";
    const std::string impossible = "r, 19.29m,0000005915Hz,0000000000c,0000000.000s, 227.0C";
    const auto meterThat = [](const std::function<void(SqmSimConfig&)>& change) {
        SqmSimConfig c;
        change(c);
        return c;
    };
    const struct {
        std::string name;
        SqmSimConfig meter;
        std::string cause;
        int beeps;  // the bell rings for a conversation that went wrong, not for silence
    } cases[] = {
        {"Silent", meterThat([](SqmSimConfig& c) { c.Silent = true; }), meter + "no answer within 1 s", 0},
        {"Hangs up", meterThat([](SqmSimConfig& c) { c.CloseOnRequest = true; }),
         meter + "connection lost: Connection closed gracefully.", 3},
        {"Garbled", meterThat([](SqmSimConfig& c) { c.RawReading = "r, 19.29m,\x1B[2J"; }),
         meter + "malformed reply \"r, 19.29m,\\x1B[2J\": Reading reply with too few items", 3},
        {"Impossible", meterThat([&](SqmSimConfig& c) { c.RawReading = impossible; }),
         meter + "malformed reply \"" + impossible + "\": Temperature '227.0C' out of range (-100 to 100 \u00b0C)", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.SetConfig(c.meter);
        const int asked = sim.Requests();
        const int id = AddSite({.Name = c.name, .Interval = 1});
        auto s = Start(id, k22h);
        Run(*s, 2);  // due at 22:00, 22:01 and 22:02
        s->acq.Stop();
        const std::string line = " - Timer Exception - " + c.cause;
        EXPECT_EQ(LogLines(c.name), (Strings{"15/01/2024 22.00.00" + line, "15/01/2024 22.01.00" + line,
                                             "15/01/2024 22.02.00" + line}));
        EXPECT_EQ(s->acq.LastTick().What, TTickReport::Outcome::Failed);
        EXPECT_EQ(s->acq.LastTick().Error, c.cause);
        EXPECT_EQ(s->view.failures, Strings(3, c.cause));
        // Only "rx": after a failed reading the identity is not asked as well.
        EXPECT_EQ(sim.Requests() - asked, 3);
        EXPECT_TRUE(Stored(id).empty());
        EXPECT_EQ(s->light.history, (std::vector<TSiteState>{TSiteState::Failed, TSiteState::Failed,
                                                             TSiteState::Failed, TSiteState::Stopped}));
        EXPECT_EQ(s->view.beeps, c.beeps);
        EXPECT_TRUE(s->prompt.texts.empty());
        EXPECT_FALSE(common.meters.Busy("127.0.0.1", sim.Port()));
    }
}

// A box stands open in a nested event loop: the ticks of every other site
// run inside it, as a window's timers do.
class BoxOpenFor : public IPrompt {
public:
    explicit BoxOpenFor(std::function<void()> meanwhile) : meanwhile_(std::move(meanwhile)) {}
    std::vector<std::string> texts;
    void Inform(const std::string& t) override { Show("information: " + t); }
    void Error(const std::string& t) override { Show("error: " + t); }
    bool Confirm(const std::string& t) override {
        Show("confirm: " + t);
        return false;
    }

private:
    void Show(const std::string& text) {
        texts.push_back(text);
        meanwhile_();
    }
    std::function<void()> meanwhile_;
};

TEST_F(Acquisition, ReadNowsWarningLeftOpenForTwoIntervalsCostsTheOtherSitesNoReading) {
    SqmSimulator other;
    other.Start();
    const int a = AddSite({.Name = "A", .Interval = 1, .Latitude = "45", .Longitude = "9"});
    const int b = AddSite({.Name = "B", .Interval = 1, .Latitude = "45", .Longitude = "9"}, other.Port());
    const int c = AddSite({.Name = "C", .Interval = 1});  // A's meter, no coordinates: "Read now" warns
    auto sa = Start(a, k22h);
    auto sb = Start(b, k22h);
    std::vector<TTickReport::Outcome> outcomes;
    BoxOpenFor box([&] {
        for (int tick = 0; tick < 4; ++tick) {  // two minutes: two intervals of each site
            clock.Advance(30);
            for (TSite* s : {sa.get(), sb.get()}) {
                s->acq.Tick();
                outcomes.push_back(s->acq.LastTick().What);
            }
        }
    });
    FakeTicker ticker;
    RecordingView view;
    RecordingLight light;
    TDbSiteSource source(Db(), c);
    TSitePorts ports{clock, ticker, wait, box, view, light, data, source, stations, Db(), common};
    TAcquisition sc(ports);
    sc.ReadNow();

    ASSERT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(box.texts[0], "information: Warning, latitude / longitude, were not specified: it is impossible to "
                            "correctly calculate twilights");
    const Strings every{"15/01/2024 22.00.00", "15/01/2024 22.01.00", "15/01/2024 22.02.00"};
    EXPECT_EQ(Times(a), every);
    EXPECT_EQ(Times(b), every);
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), TTickReport::Outcome::Skipped), 0);
    EXPECT_EQ(sa->light.Last(), TSiteState::NightStored);
    EXPECT_EQ(sb->light.Last(), TSiteState::NightStored);
    // "Read now" shows its reading after the box, stores nothing and leaves the light alone.
    EXPECT_EQ(view.latest, 1);
    EXPECT_TRUE(Stored(c).empty());
    EXPECT_TRUE(light.history.empty());
    EXPECT_FALSE(common.meters.Busy("127.0.0.1", sim.Port()));
    EXPECT_TRUE(LogLines("A").empty());
    EXPECT_TRUE(LogLines("B").empty());
}

TEST_F(Acquisition, AMeterIsHeldByOneConversationAtATimeAndOnlyItsHolderLetsItGo) {
    TMeterGates meters;
    {
        const TMeterGates::THold roof = meters.TryHold("127.0.0.1", 10001);
        ASSERT_TRUE(roof);
        EXPECT_TRUE(meters.Busy("127.0.0.1", 10001));
        EXPECT_FALSE(meters.TryHold("127.0.0.1", 10001));  // a second conversation waits its turn
        // Another meter, even on the same host, is free.
        TMeterGates::THold garden = meters.TryHold("127.0.0.1", 10002);
        EXPECT_TRUE(garden);
        const TMeterGates::THold moved(std::move(garden));  // one holder still
        EXPECT_TRUE(moved);
        EXPECT_TRUE(meters.Busy("127.0.0.1", 10002));
    }
    EXPECT_FALSE(meters.Busy("127.0.0.1", 10001));
    EXPECT_FALSE(meters.Busy("127.0.0.1", 10002));
    // A site that starts or stops, or a new window, has no way to clear it:
    // the one acquisition running holds nothing between its ticks.
    const int id = AddSite({.Interval = 1});
    {
        const TMeterGates::THold held = common.meters.TryHold("127.0.0.1", sim.Port());
        auto s = Start(id, k22h);  // due at once, but its meter is in a conversation
        EXPECT_EQ(s->acq.LastTick().What, TTickReport::Outcome::Skipped);
        EXPECT_EQ(s->light.Last(), TSiteState::Skipped);
        TSite other(*this, AddSite({.Name = "Other", .Interval = 1}));
        other.acq.StartOrStop();
        other.acq.StartOrStop();
        EXPECT_TRUE(common.meters.Busy("127.0.0.1", sim.Port()));
        // The skipped interval counts as used.
        clock.Advance(30);
        s->acq.Tick();
        EXPECT_EQ(s->acq.LastTick().What, TTickReport::Outcome::NotDue);
    }
    clock.Advance(30);
    auto s = Start(id, clock.now);
    EXPECT_EQ(Stored(id).size(), 1u);
}

// A site whose record the user is editing.
class EditedSite : public ISiteSource {
public:
    EditedSite(fb::Database& db, int id) : inner(db, id) {}
    TDbSiteSource inner;
    bool unsaved = true, saves = true;
    int saveCalls = 0;
    TSiteRow Site() override { return inner.Site(); }
    bool HasUnsavedChanges() override { return unsaved; }
    bool SaveChanges() override {
        ++saveCalls;
        unsaved = !saves;
        return saves;
    }
};

// "Read now" against no meter and closing while running: tests/site/test_siteform.cpp, through the window.
TEST_F(Acquisition, StartingWithUnsavedChangesStartsOnlyOnceTheyAreSavedAndAStoppedSiteClosesWithoutAQuestion) {
    const int id = AddSite({.Interval = 1});
    clock.now = k22h;
    EditedSite edited(Db(), id);
    FakeTicker ticker;
    ScriptedPrompt prompt;
    RecordingView view;
    RecordingLight light;
    TAcquisition acq({clock, ticker, wait, prompt, view, light, data, edited, stations, Db(), common});
    EXPECT_TRUE(acq.MayClose());
    const Strings saveNow{"confirm: The configuration has not yet been saved: save now?"};
    prompt.answers = {false};
    acq.StartOrStop();
    EXPECT_FALSE(acq.Running());
    EXPECT_EQ(edited.saveCalls, 0);
    EXPECT_EQ(prompt.texts, saveNow);
    edited.saves = false;  // the save is refused (an interval below a minute, say)
    prompt.answers = {true};
    acq.StartOrStop();
    EXPECT_FALSE(acq.Running());
    edited.saves = true;
    prompt.answers = {true};
    acq.StartOrStop();
    EXPECT_TRUE(acq.Running());
    EXPECT_EQ(Stored(id).size(), 1u);
}

// Two acquisitions of one site would store each reading twice: the program
// runs one per site, and a second start is refused with a box saying why.
TEST_F(Acquisition, ASiteAcquiringAlreadyRefusesASecondStartUntilTheFirstStops) {
    const int id = AddSite({.Interval = 1});
    const int other = AddSite({.Name = "Other roof", .Interval = 1});
    auto first = Start(id, k22h);
    ASSERT_TRUE(first->acq.Running());
    ASSERT_EQ(Stored(id).size(), 1u);

    TSite second(*this, id);
    second.acq.StartOrStop();
    EXPECT_FALSE(second.acq.Running());
    EXPECT_FALSE(second.ticker.enabled);
    EXPECT_EQ(second.prompt.texts,
              Strings{"error: The SQM readings of this site are already running in another window: "
                      "one site has one acquisition at a time"});
    EXPECT_TRUE(second.view.runStates.empty());
    second.acq.Tick();  // a tick of the refused one stores nothing
    EXPECT_EQ(Stored(id).size(), 1u);

    // Another site starts beside it.
    TSite third(*this, other);
    third.acq.StartOrStop();
    EXPECT_TRUE(third.acq.Running());
    EXPECT_TRUE(third.prompt.texts.empty());

    // Once the first stops (or goes), the site may start again, once.
    first->acq.Stop();
    second.prompt.texts.clear();
    second.acq.StartOrStop();
    EXPECT_TRUE(second.acq.Running());
    EXPECT_TRUE(second.prompt.texts.empty());
    first->acq.StartOrStop();
    EXPECT_FALSE(first->acq.Running());
    EXPECT_EQ(first->prompt.texts.size(), 1u);
    {
        TSite gone(*this, other);
        gone.acq.StartOrStop();
        EXPECT_FALSE(gone.acq.Running());
    }
    third.acq.Stop();
    TSite after(*this, other);
    after.acq.StartOrStop();
    EXPECT_TRUE(after.acq.Running());
    // A stopped one that goes lets nothing go that it does not hold.
    first.reset();
    TSite fourth(*this, id);
    fourth.acq.StartOrStop();
    EXPECT_FALSE(fourth.acq.Running());
}

// While its site is being deleted a site is held: nothing is read, nothing
// it shows changes, and a release goes on as before.
TEST_F(Acquisition, AHeldSiteReadsNothingAndOnceReleasedTakesTheReadingDueMeanwhile) {
    const int id = AddSite({.Interval = 1});
    auto s = Start(id, k22h);
    ASSERT_EQ(Stored(id).size(), 1u);
    const std::optional<TSiteState> shown = s->light.Last();
    s->acq.Hold();
    EXPECT_FALSE(s->ticker.enabled);
    EXPECT_TRUE(s->acq.Running());
    clock.Advance(120);
    s->acq.Tick();  // a tick already on its way when the hold came
    EXPECT_EQ(Stored(id).size(), 1u);
    EXPECT_EQ(s->light.Last(), shown);
    EXPECT_EQ(s->view.runStates, std::vector<bool>{true});
    s->acq.Release();
    EXPECT_TRUE(s->ticker.enabled);
    EXPECT_EQ(s->ticker.period, 30000);
    Run(*s, 0.5);
    EXPECT_EQ(Times(id), (Strings{FormatLogTime(k22h), FormatLogTime(k22h + 150 * kSecond)}));

    // Stopped while held (its site is gone): a release starts nothing.
    s->acq.Hold();
    s->acq.Stop();
    s->acq.Release();
    EXPECT_FALSE(s->ticker.enabled);
    EXPECT_FALSE(s->acq.Running());
    // A stopped site held and released stays stopped.
    s->acq.Hold();
    s->acq.Release();
    EXPECT_FALSE(s->ticker.enabled);
    EXPECT_TRUE(s->prompt.texts.empty());
}

// Quitting asks every running site by its name and leaves the stopping to
// the program, which stops them only once all have agreed.
TEST_F(Acquisition, AQuitAsksARunningSiteByItsNameAndStopsNothingWhateverTheAnswer) {
    const int id = AddSite({.Name = "Asiago 50%", .Interval = 1});
    TSite s(*this, id);
    EXPECT_TRUE(s.acq.MayStopForQuit());
    EXPECT_TRUE(s.prompt.texts.empty()) << "a stopped site asks nothing";
    clock.now = k22h;
    s.acq.StartOrStop();
    ASSERT_TRUE(s.acq.Running());
    const std::string question =
        "confirm: Site \"Asiago 50%\":\rSQM reading in progress, closing the window will stop the operation: CLOSE?";
    for (const bool answer : {false, true}) {
        SCOPED_TRACE(answer);
        s.prompt.texts.clear();
        s.prompt.answers = {answer};
        EXPECT_EQ(s.acq.MayStopForQuit(), answer);
        EXPECT_EQ(s.prompt.texts, Strings{question});
        EXPECT_TRUE(s.acq.Running());
        EXPECT_TRUE(s.ticker.enabled);
    }
    // Closing the window alone asks as it always has, and Yes stops.
    s.prompt.texts.clear();
    s.prompt.answers = {true};
    EXPECT_TRUE(s.acq.MayClose());
    EXPECT_EQ(s.prompt.texts,
              Strings{"confirm: SQM reading in progress, closing the window will stop the operation: CLOSE?"});
    EXPECT_FALSE(s.acq.Running());
}

}  // namespace
