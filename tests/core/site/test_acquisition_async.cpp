// The acquisition with its meter conversations on threads of their own: a
// silent meter holds up no other site, and a site closed or stopped in the
// middle of a conversation is left safely. Real simulators, a real database
// file; the fake clock moves only between the ticks.
#include <chrono>
#include <thread>

#include "core/site/jobrunner.h"
#include "core/site/readingwindow.h"
#include "support/site_test_support.h"

using namespace sitetest;
using Strings = std::vector<std::string>;

namespace {

class AsyncAcquisition : public SiteFixture {
protected:
    // One site's ports with a job runner of its own.
    struct TThreadedSite {
        TThreadedSite(AsyncAcquisition& f, int id, IJobRunner* runner)
            : source(f.Db(), id),
              ports{f.clock, ticker, f.wait, prompt, view, light, f.data, source, f.stations, f.Db(), f.common, runner},
              acq(std::make_unique<TAcquisition>(ports)) {}
        FakeTicker ticker;
        ScriptedPrompt prompt;
        RecordingView view;
        RecordingLight light;
        TDbSiteSource source;
        TSitePorts ports;
        std::unique_ptr<TAcquisition> acq;
    };

    // Delivers the runner's completions until the site's work is over; false
    // when it is not within the deadline (a hang, not a timing).
    static bool Settle(TThreadJobs& jobs, TAcquisition& acq, int deadlineMs = 30000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (acq.Busy()) {
            if (std::chrono::steady_clock::now() > until) return false;
            jobs.WaitForCompletion(50);
            jobs.Deliver();
        }
        return true;
    }

    Strings Times(int site) {
        Strings out;
        for (const auto& r : Stored(site)) out.push_back(FormatLogTime(r.Time));
        return out;
    }

    const double k22h = EncodeDateTime(2024, 1, 15, 22, 0, 0);
};

// The fault this catches: a conversation on the owner's thread. The silent
// meter's first conversation is still open after the other site has stored
// a reading every minute, and it is the only one it was asked for.
TEST_F(AsyncAcquisition, ASilentMeterCostsAnotherSiteNoReadingAndIsAskedOncePerConversation) {
    SqmSimulator silent(SqmSimConfig{.Silent = true});
    silent.Start();
    const int a = AddSite({.Name = "Silent", .Interval = 1, .Timeout = 5}, silent.Port());
    const int b = AddSite({.Name = "Live", .Interval = 1});
    TThreadJobs jobsA, jobsB;
    clock.now = k22h;
    TThreadedSite sa(*this, a, &jobsA), sb(*this, b, &jobsB);
    sa.acq->Start();
    sb.acq->Start();
    EXPECT_TRUE(sa.acq->Busy());  // its conversation runs elsewhere: Start came back at once
    ASSERT_TRUE(Settle(jobsB, *sb.acq));
    std::vector<bool> silentBusy;
    for (int tick = 0; tick < 8; ++tick) {  // four minutes
        clock.Advance(30);
        jobsA.Deliver();
        sa.acq->Tick();
        sb.acq->Tick();
        ASSERT_TRUE(Settle(jobsB, *sb.acq));
        silentBusy.push_back(sa.acq->Busy());
    }
    EXPECT_EQ(Times(b), (Strings{"15/01/2024 22.00.00", "15/01/2024 22.01.00", "15/01/2024 22.02.00",
                                 "15/01/2024 22.03.00", "15/01/2024 22.04.00"}));
    EXPECT_EQ(sb.light.Last(), TSiteState::NightStored);
    EXPECT_EQ(silentBusy, std::vector<bool>(8, true));
    // While it waited, its own ticks started nothing: one request, one meter held.
    EXPECT_EQ(silent.Requests(), 1);
    EXPECT_TRUE(common.meters.Busy("127.0.0.1", silent.Port()));
    EXPECT_TRUE(LogLines("Silent").empty());

    // Its answer never comes: the failure is told as before, once.
    ASSERT_TRUE(Settle(jobsA, *sa.acq));
    const std::string cause = "SQM-LE at 127.0.0.1:" + std::to_string(silent.Port()) + ": no answer within 5 s";
    EXPECT_EQ(sa.acq->LastTick().What, TTickReport::Outcome::Failed);
    EXPECT_EQ(sa.acq->LastTick().Error, cause);
    EXPECT_EQ(sa.view.failures, Strings{cause});
    EXPECT_EQ(sa.light.Last(), TSiteState::Failed);
    const Strings lines = LogLines("Silent");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "15/01/2024 22.04.00 - Timer Exception - " + cause);
    EXPECT_FALSE(common.meters.Busy("127.0.0.1", silent.Port()));
    EXPECT_TRUE(Stored(a).empty());

    // The meter answers again: the next tick reads it at once (its interval has passed).
    silent.SetConfig(SqmSimConfig{});
    clock.Advance(30);
    sa.acq->Tick();
    ASSERT_TRUE(Settle(jobsA, *sa.acq));
    EXPECT_EQ(Times(a), Strings{"15/01/2024 22.04.30"});
    EXPECT_EQ(sa.acq->LastTick().What, TTickReport::Outcome::Stored);
    sa.acq->Stop();
    sb.acq->Stop();
}

// Across a night the threaded conversations store exactly what the inline
// ones store: the same instants, states and identity.
TEST_F(AsyncAcquisition, ANightReadOnThreadsStoresTheSameReadingsAsOneReadInline) {
    const int inlineSite = AddSite({.Name = "Inline", .Method = kTimed, .Interval = 5, .Start = "21.00", .Stop = "23.00",
                                    .DayReading = 1, .DayInterval = "30"});
    const int threaded = AddSite({.Name = "Threaded", .Method = kTimed, .Interval = 5, .Start = "21.00",
                                  .Stop = "23.00", .DayReading = 1, .DayInterval = "30"});
    TThreadJobs jobs;
    clock.now = EncodeDateTime(2024, 1, 15, 20, 0, 0);
    TThreadedSite si(*this, inlineSite, nullptr), st(*this, threaded, &jobs);
    si.acq->Start();
    st.acq->Start();
    ASSERT_TRUE(Settle(jobs, *st.acq));
    std::vector<TTickReport::Outcome> ended;
    for (int tick = 0; tick < 4 * 60 * 2; ++tick) {
        clock.Advance(30);
        si.acq->Tick();
        EXPECT_FALSE(si.acq->Busy());
        st.acq->Tick();
        ASSERT_TRUE(Settle(jobs, *st.acq));
        ended.push_back(st.acq->LastTick().What);
    }
    const auto a = Stored(inlineSite), b = Stored(threaded);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a.size(), 25u + 4u);  // 21:00 to 23:00 every 5 min, daylight at 20:00, 20:30, 23:00:30, 23:30:30
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(FormatLogTime(a[i].Time), FormatLogTime(b[i].Time)) << i;
        EXPECT_EQ(a[i].State, b[i].State) << i;
        EXPECT_EQ(a[i].Value, b[i].Value) << i;
    }
    EXPECT_EQ(std::count(ended.begin(), ended.end(), TTickReport::Outcome::Stored), 28);
    ASSERT_NE(st.acq->Station(), nullptr);
    EXPECT_EQ(st.acq->Station()->Serial, 3911);  // the identity came with the reading
    EXPECT_EQ(st.view.latest, si.view.latest);
    EXPECT_EQ(jobs.Pending(), 0);
}

// "Read now" shows its reading when the answer comes; meanwhile neither a
// second "Read now" nor a tick starts another conversation.
TEST_F(AsyncAcquisition, ReadNowRunsElsewhereAndNothingElseOfTheSiteStartsMeanwhile) {
    SqmSimConfig slow;
    slow.DelayMs = 300;
    sim.SetConfig(slow);
    const int id = AddSite({.Interval = 1, .Latitude = "45", .Longitude = "9"});
    TThreadJobs jobs;
    clock.now = k22h;
    TThreadedSite s(*this, id, &jobs);
    s.acq->ReadNow();
    EXPECT_TRUE(s.acq->Busy());
    EXPECT_TRUE(common.meters.Busy("127.0.0.1", sim.Port()));
    s.acq->ReadNow();
    s.acq->StartOrStop();  // running, but its first tick waits for the reading under way
    EXPECT_TRUE(s.acq->Running());
    ASSERT_TRUE(Settle(jobs, *s.acq));
    EXPECT_EQ(sim.Requests(), 1);
    EXPECT_EQ(s.view.latest, 1);
    EXPECT_TRUE(s.prompt.texts.empty());
    EXPECT_TRUE(Stored(id).empty());
    EXPECT_FALSE(common.meters.Busy("127.0.0.1", sim.Port()));
    // The next tick takes the due reading.
    clock.Advance(30);
    s.acq->Tick();
    ASSERT_TRUE(Settle(jobs, *s.acq));
    EXPECT_EQ(Times(id), Strings{"15/01/2024 22.00.30"});

    // A silent meter: the box comes with the cause once the wait is over.
    sim.SetConfig(SqmSimConfig{.Silent = true});
    s.acq->Stop();
    s.acq->DiscardStation();
    s.acq->ReadNow();
    ASSERT_TRUE(Settle(jobs, *s.acq));
    EXPECT_EQ(s.prompt.texts, Strings{"information: SQM-LE not found\nSQM-LE at 127.0.0.1:" +
                                      std::to_string(sim.Port()) + ": no answer within 1 s"});
}

// Runs each job at once and lets the fake clock run as long as it took.
class ClockRunningJobs : public IJobRunner {
public:
    explicit ClockRunningJobs(FakeClock& c) : clock(c) {}
    FakeClock& clock;
    void Run(TJobLane, std::function<void()> work, std::function<void()> done) override {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        clock.Advance(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        done();
    }
};

// A meter that answers the reading but not its identity: the reading is
// stamped when its answer came, not once the identity's wait is over.
TEST_F(AsyncAcquisition, AReadingIsStampedWhenItsAnswerCameNotAfterTheIdentitysWait) {
    SqmSimConfig mute;
    mute.SilentInfo = true;
    sim.SetConfig(mute);
    const int id = AddSite({.Interval = 1, .Timeout = 3});
    ClockRunningJobs jobs(clock);
    clock.now = k22h;
    TThreadedSite s(*this, id, &jobs);
    s.acq->Start();
    EXPECT_EQ(s.acq->LastTick().What, TTickReport::Outcome::Stored);
    EXPECT_GE(clock.now, k22h + 2 * kSecond);  // the identity's wait passed on the clock
    // Stamped after the wait, the reading would be 22.00.02 or later.
    const auto stored = Stored(id);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_NEAR(stored[0].Time, k22h, 0.2 * kSecond) << FormatLogTime(stored[0].Time);
    EXPECT_EQ(s.acq->Station()->Serial, 0);  // no identity came
    s.acq->Stop();
}

// Closed, stopped or saved in the middle of a conversation: the site's
// objects may go at once; the conversation ends on its own, lets its meter
// go and changes nothing.
TEST_F(AsyncAcquisition, ASiteGoneOrChangedDuringItsConversationIsLeftSafely) {
    SqmSimConfig slow;
    slow.DelayMs = 400;
    sim.SetConfig(slow);
    const int id = AddSite({.Interval = 1});
    clock.now = k22h;
    {
        // The window closes: the acquisition goes, the runner stays.
        TThreadJobs jobs;
        {
            TThreadedSite s(*this, id, &jobs);
            s.acq->Start();
            ASSERT_TRUE(s.acq->Busy());
            s.acq->Stop();
            s.acq.reset();
        }
        EXPECT_TRUE(jobs.WaitForCompletion(30000));
        EXPECT_EQ(jobs.Deliver(), 1);  // heard by nobody
        EXPECT_FALSE(common.meters.Busy("127.0.0.1", sim.Port()));
        EXPECT_TRUE(Stored(id).empty());
    }
    {
        // Both go: the conversation still ends and lets the meter go.
        auto jobs = std::make_unique<TThreadJobs>();
        auto s = std::make_unique<TThreadedSite>(*this, id, jobs.get());
        s->acq->Start();
        ASSERT_TRUE(s->acq->Busy());
        s.reset();
        jobs.reset();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (common.meters.Busy("127.0.0.1", sim.Port()) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(common.meters.Busy("127.0.0.1", sim.Port()));
        EXPECT_TRUE(Stored(id).empty());
    }
    {
        // Saved meanwhile: the reading under way is stored with the station it began with.
        TThreadJobs jobs;
        TThreadedSite s(*this, id, &jobs);
        s.acq->Start();
        ASSERT_TRUE(s.acq->Busy());
        s.acq->DiscardStation();
        EXPECT_EQ(s.acq->Station(), nullptr);
        ASSERT_TRUE(Settle(jobs, *s.acq));
        EXPECT_EQ(s.acq->LastTick().What, TTickReport::Outcome::Stored);
        EXPECT_EQ(Times(id), Strings{"15/01/2024 22.00.00"});
        EXPECT_EQ(s.acq->Station(), nullptr);
        s.acq->Stop();
    }
}

}  // namespace
