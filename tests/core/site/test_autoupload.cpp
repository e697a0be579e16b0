// The upload that acquisition does by itself, against the MariaDB test
// server: each new night reading, and up to five waiting ones per quiet tick.
#include <thread>

#include "support/netdb_test_support.h"
#include "core/site/jobrunner.h"
#include "core/site/readingwindow.h"
#include "core/site/waitingupload.h"
#include "support/site_test_support.h"

using namespace sitetest;

namespace {

class AutoUpload : public SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        net.AddSite("AB12");
        nettest::InstallCredentials(net.Credentials("AB12"));
    }
    // The site, started with the fake clock at that time.
    std::unique_ptr<TSite> Start(int id, double now) {
        clock.now = now;
        auto s = std::make_unique<TSite>(*this, id);
        s->acq.StartOrStop();
        return s;
    }
    std::vector<std::string> NetworkKeys() {
        const netdb::Result r = net.Admin("SELECT REA_KALOCODE, REA_STATE FROM READINGS ORDER BY REA_DATETIME");
        std::vector<std::string> keys;
        for (size_t i = 0; i < r.RowCount(); ++i) keys.push_back(r.Text(i, 0) + "/" + r.Text(i, 1));
        return keys;
    }
    std::vector<int> Uploaded(int id) {
        std::vector<int> flags;
        for (const auto& r : Stored(id)) flags.push_back(r.Uploaded);
        return flags;
    }
    nettest::NetworkDb net;

    // A site of the program, on the program's workers.
    struct TSiteOn {
        TSiteOn(AutoUpload& f, int id)
            : jobs(f.common.workers),
              source(f.Db(), id),
              acq(TSitePorts{f.clock, ticker, f.wait, prompt, view, light, f.data, source, f.stations, f.Db(), f.common,
                             &jobs}) {}
        TThreadJobs jobs;
        FakeTicker ticker;
        ScriptedPrompt prompt;
        RecordingView view;
        RecordingLight light;
        TDbSiteSource source;
        TAcquisition acq;
    };
};

TEST_F(AutoUpload, EachNightReadingGoesOutAsItIsStoredWhenEverythingAllowsItAndNoDaylightOne) {
    Settings(0, 0, 1, 0, 20);
    const int day = AddSite({.Name = "Day", .Method = kTimed, .Interval = 1, .Start = "18.00", .Stop = "06.00",
                             .DayReading = 1, .DayInterval = "1", .Code = "AB12"});
    Run(*Start(day, EncodeDateTime(2024, 1, 15, 12, 0, 0)), 3);
    const auto daylight = Stored(day);
    ASSERT_EQ(daylight.size(), 4u);
    for (const auto& r : daylight) EXPECT_EQ(std::make_pair(r.State, r.Uploaded), std::make_pair(-1, 0));

    const int id = AddSite({.Interval = 1, .Code = "AB12"});
    auto s = Start(id, EncodeDateTime(2024, 1, 15, 22, 0, 0));
    Run(*s, 1);
    const auto rows = Stored(id);
    ASSERT_EQ(Uploaded(id), (std::vector<int>{1, 1}));
    EXPECT_EQ(NetworkKeys(), (std::vector<std::string>{rows[0].Code + "AB12/0", rows[1].Code + "AB12/0"}));
    EXPECT_TRUE(s->acq.LastTick().Uploaded);
    EXPECT_EQ(wait.pauses, 0);  // nothing waited: no pending upload ran
}

// With the conversation and the upload on threads, the reading goes out the
// same, flagged in the same row, and the tick ends only once it has.
TEST_F(AutoUpload, ANightReadingReadAndSentOnThreadsIsFlaggedUploadedWhenItsTickEnds) {
    Settings(0, 0, 1, 0, 20);
    const int id = AddSite({.Interval = 1, .Code = "AB12"});
    struct TEnds : RecordingView {
        std::vector<bool> uploaded;
        void TickEnded(const TTickReport& r) override { uploaded.push_back(r.Uploaded); }
    } view;
    TThreadJobs jobs;
    FakeTicker ticker;
    ScriptedPrompt prompt;
    RecordingLight light;
    TDbSiteSource source(Db(), id);
    TAcquisition acq(TSitePorts{clock, ticker, wait, prompt, view, light, data, source, stations, Db(), common, &jobs});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    acq.Start();
    for (int tick = 0; tick < 3; ++tick) {
        if (tick > 0) {
            clock.Advance(30);
            acq.Tick();
        }
        EXPECT_EQ(acq.Busy(), tick != 1) << tick;  // the due ones go on elsewhere
        for (int waits = 0; acq.Busy() && waits < 600; ++waits) {
            jobs.WaitForCompletion(50);
            jobs.Deliver();
        }
        ASSERT_FALSE(acq.Busy());
    }
    const auto rows = Stored(id);
    ASSERT_EQ(Uploaded(id), (std::vector<int>{1, 1}));
    EXPECT_EQ(NetworkKeys(), (std::vector<std::string>{rows[0].Code + "AB12/0", rows[1].Code + "AB12/0"}));
    // 22:00 and 22:01 sent; the quiet tick between had nothing waiting.
    EXPECT_EQ(view.uploaded, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(light.Last(), TSiteState::NightStored);
    EXPECT_TRUE(prompt.texts.empty());
    EXPECT_EQ(jobs.Pending(), 0);
    acq.Stop();
}

// A network database that accepts and never answers: its check waits
// elsewhere, after the reading was stored, and again on the quiet tick that
// would send the waiting readings; nothing is marked sent.
TEST_F(AutoUpload, ANetworkDatabaseThatNeverAnswersIsWaitedForOffTheOwnersThread) {
    Settings(0, 0, 1, 0, 20);
    SqmSimulator mute(SqmSimConfig{.Silent = true});  // a server that takes the connection and says nothing
    mute.Start();
    TCredentials account = net.Credentials("AB12");
    account.Port = mute.Port();
    nettest::InstallCredentials(account);
    const int id = AddSite({.Interval = 10, .Code = "AB12"});
    TThreadJobs jobs;
    FakeTicker ticker;
    ScriptedPrompt prompt;
    RecordingLight light;
    RecordingView view;
    TDbSiteSource source(Db(), id);
    TAcquisition acq(TSitePorts{clock, ticker, wait, prompt, view, light, data, source, stations, Db(), common, &jobs});
    const auto settle = [&] {
        for (int waits = 0; acq.Busy() && waits < 600; ++waits) {
            jobs.WaitForCompletion(50);
            jobs.Deliver();
        }
        return !acq.Busy();
    };
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    acq.Start();
    // The reading comes back first and is stored; the check of the server is still waiting.
    for (int waits = 0; Stored(id).empty() && waits < 600; ++waits) {
        jobs.WaitForCompletion(50);
        jobs.Deliver();
    }
    ASSERT_EQ(Stored(id).size(), 1u);
    EXPECT_TRUE(acq.Busy());
    ASSERT_TRUE(settle());
    EXPECT_EQ(acq.LastTick().What, TTickReport::Outcome::Stored);
    EXPECT_FALSE(acq.LastTick().Uploaded);
    EXPECT_EQ(light.Last(), TSiteState::NightStored);

    clock.Advance(30);
    acq.Tick();  // quiet: the waiting reading's check goes elsewhere
    EXPECT_TRUE(acq.Busy());
    ASSERT_TRUE(settle());
    EXPECT_EQ(acq.LastTick().What, TTickReport::Outcome::NotDue);
    EXPECT_EQ(acq.LastTick().PendingSent, 0);
    EXPECT_EQ(Uploaded(id), std::vector<int>{0});
    EXPECT_EQ(wait.pauses, 0);  // nothing was sent, so nothing paused
    EXPECT_TRUE(NetworkKeys().empty());
    EXPECT_TRUE(prompt.texts.empty());
    acq.Stop();
}

TEST_F(AutoUpload, NothingGoesOutWhenAnyOfTheSwitchesIsOffAndAnUnreachableServerIsSkippedSilently) {
    enum class File { Good, Missing, Unreachable };
    const struct {
        int upload, mode, siteAuto;
        File file;
    } cases[] = {{0, 0, 1, File::Good}, {1, 1, 1, File::Good}, {1, 0, 0, File::Good}, {1, 0, 1, File::Missing},
                 {1, 0, 1, File::Unreachable}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(++n);
        Settings(0, 0, c.upload, c.mode, 20);
        TCredentials account = net.Credentials("AB12");
        account.Port = c.file == File::Unreachable ? ClosedPort() : account.Port;
        nettest::InstallCredentials(account);
        if (c.file == File::Missing) std::filesystem::remove(CredentialsFileName("AB12"));
        const std::string name = "S" + std::to_string(n);
        const int id = AddSite({.Name = name, .Interval = 1, .Code = "AB12", .AutoUpload = c.siteAuto});
        auto s = Start(id, EncodeDateTime(2024, 1, 15, 22, n, 0));
        Run(*s, 0.5);  // a quiet tick: no pending upload either
        EXPECT_EQ(Uploaded(id), std::vector<int>{0});
        EXPECT_EQ(s->light.Last(), TSiteState::NightStored);
        EXPECT_TRUE(s->prompt.texts.empty());
        EXPECT_TRUE(LogLines(name).empty());
        s->acq.Stop();
    }
    EXPECT_TRUE(NetworkKeys().empty());
    EXPECT_EQ(wait.pauses, 0);
}

TEST_F(AutoUpload, QuietTicksSendAtMostFiveWaitingReadingsNewestFirst) {
    Settings(0, 0, 0, 0, 20);  // upload off while the readings pile up
    const int id = AddSite({.Interval = 10, .Code = "AB12"});
    auto s = Start(id, EncodeDateTime(2024, 1, 15, 20, 0, 0));
    Run(*s, 60);  // seven readings, 20:00 to 21:00
    ASSERT_EQ(Stored(id).size(), 7u);
    EXPECT_TRUE(NetworkKeys().empty());

    Settings(0, 0, 1, 0, 20);
    clock.Advance(30);
    s->acq.Tick();  // 21:00:30: nothing due, the five newest go
    EXPECT_EQ(s->acq.LastTick().PendingSent, 5);
    EXPECT_EQ(wait.pauses, 5);  // 1500 ms after each
    EXPECT_EQ(Uploaded(id), (std::vector<int>{0, 0, 1, 1, 1, 1, 1}));
    clock.Advance(30);
    s->acq.Tick();
    EXPECT_EQ(s->acq.LastTick().PendingSent, 2);
    EXPECT_EQ(NetworkKeys().size(), 7u);
}

// A waiting row that cannot make a reading (a null Sun altitude, say) is
// the newest: it must not hold back the older ones, and it is told once.
// An imported reading keeps its own mark on the network.
TEST_F(AutoUpload, AnUnloadableWaitingReadingHoldsNoneBackAndImportedOnesKeepTheirMark) {
    const int id = AddSite({.Interval = 1, .Code = "AB12"});
    // Keys as the store makes them: the time, then the site.
    auto key = [&](int hour) { return "20240115" + std::to_string(hour) + "0000" + std::to_string(id); };
    auto add = [&](int hour, const char* sunH, char origin) {
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SUNH, REA_MOONH, "
             "REA_MOONPH, REA_STATE, REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES ('" +
             key(hour) + "', " + std::to_string(id) + ", '2024-01-15 " + std::to_string(hour) + ":00:00', 20.5, 3, " +
             sunH + ", -10, 0.4, 0, 0, 0, 0, 0, '" + origin + "')");
    };
    add(20, "-30", 'K');
    add(21, "-35", 'I');
    add(22, "NULL", 'K');
    TToldOnce told;  // the program's, kept from pass to pass
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        TUploadPass upload;
        upload.Unloadable = &told;
        EXPECT_EQ(UploadPendingReadings(Db(), id, 5, wait, nullptr, &upload), pass == 0 ? 2 : 0);
        EXPECT_EQ(wait.pauses, pass == 0 ? 3 : 4);  // 1500 ms after each row, the bad one too
        const netdb::Result r = net.Admin("SELECT REA_KALOCODE, REA_ORIGIN FROM READINGS ORDER BY REA_DATETIME");
        ASSERT_EQ(r.RowCount(), 2u);
        EXPECT_EQ(r.Text(0, 0) + r.Text(0, 1), key(20) + "AB12K");
        EXPECT_EQ(r.Text(1, 0) + r.Text(1, 1), key(21) + "AB12I");
        EXPECT_EQ(Uploaded(id), (std::vector<int>{1, 1, 0}));  // the bad one still waits
        const auto log = LogLines("NETWORK");
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find(" Lettura in attesa non inviabile, saltata: reading " + key(22) + ": Field REA_SUNH is null"),
                  std::string::npos)
            << log[0];
    }
}

// Two sites of one program on its workers, one with a long backlog: the
// other reads every minute, each reading stamped as its meter answered,
// whatever order the loop hears them in, while the backlog goes up five at
// a time on a thread of its own. The old road ran the backlog's pauses on the
// owner's thread: a reading heard after them carried their seconds.
TEST_F(AutoUpload, ABacklogOfAnotherSiteCostsNoMinuteAndMovesNoStamp) {
    Settings(0, 0, 1, 0, 20);
    const int live = AddSite({.Name = "Live", .Interval = 1, .Code = "AB12"});
    const int backlog = AddSite({.Name = "Backlog", .Interval = 600, .Code = "AB12"});
    for (int i = 0; i < 30; ++i) {
        const std::string at = "2024-01-15 2" + std::to_string(i / 15) + ":" + std::to_string(10 + i % 15 * 3) + ":00";
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SUNH, REA_MOONH, "
             "REA_MOONPH, REA_STATE, REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES ('W" +
             std::to_string(100 + i) + "', " + std::to_string(backlog) + ", '" + at +
             "', 20.5, 3, -30, -10, 0.4, 0, 0, 0, 0, 0, 'K')");
    }
    const double start = EncodeDateTime(2024, 1, 15, 23, 0, 0);
    clock.now = start;
    TSiteOn a(*this, live), b(*this, backlog);
    const auto settle = [](TSiteOn& s, auto busy) {
        for (int waits = 0; busy() && waits < 600; ++waits) {
            s.jobs.WaitForCompletion(50);
            s.jobs.Deliver();
        }
        return !busy();
    };
    // One meter for both: b starts once a's first conversation has let it go,
    // or its reading would rightly be skipped.
    a.acq.Start();
    ASSERT_TRUE(settle(a, [&] { return a.acq.Busy(); }));
    b.acq.Start();
    ASSERT_TRUE(settle(b, [&] { return b.acq.Reading(); }));  // its own reading of 23:00 only
    std::vector<double> ticks;
    bool passSeen = false;
    for (int tick = 1; tick <= 8; ++tick) {
        clock.Advance(30);
        if (tick % 2 == 0) ticks.push_back(clock.now);
        a.acq.Tick();
        b.acq.Tick();
        passSeen = passSeen || b.acq.Busy();
        // The backlog's news first, then the reading: whatever comes, comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        b.jobs.Deliver();
        ASSERT_TRUE(settle(a, [&] { return a.acq.Busy(); }));
    }
    EXPECT_TRUE(passSeen);
    const auto rows = Stored(live);
    ASSERT_EQ(rows.size(), 5u);  // 23:00 and each minute to 23:04
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_NEAR(rows[i].Time, ticks[i - 1], 0.5 * kSecond) << FormatLogTime(rows[i].Time) << " at tick " << i;
    EXPECT_EQ(Uploaded(live), std::vector<int>(5, 1));
    EXPECT_EQ(wait.pauses, 0);  // nothing paused on the owner's thread
    // The backlog goes up five a quiet tick, newest first, on its own.
    ASSERT_TRUE(settle(b, [&] { return b.acq.Busy(); }));
    const auto waiting = Stored(backlog);
    ASSERT_FALSE(waiting.empty());
    ASSERT_NEAR(waiting.back().Time, start, 0.5 * kSecond);
    EXPECT_EQ(waiting.back().Uploaded, 1) << "its own reading of 23:00 went out as it was stored";
    int sent = 0;
    std::string flags;
    for (size_t i = 0; i + 1 < waiting.size(); ++i) {
        sent += waiting[i].Uploaded;
        flags += std::to_string(waiting[i].Uploaded);
    }
    EXPECT_GE(sent, 5) << flags;
    EXPECT_EQ(sent % 5, 0) << "whole passes of five: " << flags;
    EXPECT_EQ(flags.find("10"), std::string::npos) << "newest first: " << flags;
    a.acq.Stop();
    b.acq.Stop();
}

}  // namespace
