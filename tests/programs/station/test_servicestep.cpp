// The service's loop one turn at a time, on a clock the test sets: when a
// site starts, when it ticks, what a late turn does, and how SIGHUP and
// SIGTERM end a run. Only the meter's answer is waited for in real time.
#include "support/service_test_support.h"

#include <pthread.h>
#include <signal.h>

#include "core/site/datamodule.h"
#include "core/station/fbdb.h"
#include "programs/station/servicecore.h"
#include "tools/sqmle-sim/sqmsim.h"

namespace {

using namespace servicetest;
using Clock = TStationService::Clock;

// Standard error, where the service says everything, into a file meanwhile.
class TStderrFile {
public:
    explicit TStderrFile(fs::path file) : file_(std::move(file)) {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~TStderrFile() {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    std::string Text() const { return testsupport::ReadFile(file_); }
    int Count(const std::string& what) const {
        const std::string text = Text();
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

private:
    fs::path file_;
    int saved_ = -1;
};

// The signals main() blocks and the loop takes.
sigset_t LoopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, sig);
    return set;
}

// A station folder with one autostart site "Roof" on a simulated meter (a
// reading at every tick), the service on it in this process with a tick of
// 300 ms, and the signals blocked as main() blocks them.
class StationStep : public ::testing::Test {
protected:
    void SetUp() override {
        const sigset_t set = LoopSignals();
        pthread_sigmask(SIG_BLOCK, &set, &savedMask_);
        savedDir_ = ProgramDir();
        SetProgramDir(f.dir.Str());
        sim.Start();
        f.AddSite(1, "Roof", sim.Port(), true);
        err = std::make_unique<TStderrFile>(f.dir.Path() / "stderr.txt");
    }
    void TearDown() override {
        service.reset();
        data.DataModuleDestroy();
        err.reset();
        SetProgramDir(savedDir_);
        // A signal a failed test left pending must not reach the next one.
        const sigset_t set = LoopSignals();
        const timespec none{0, 0};
        while (sigtimedwait(&set, nullptr, &none) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
    }
    void Make(TServiceOptions options = {}) {
        options.TickMs = 300;
        service = std::make_unique<TStationService>(data, signals, options);
    }
    // Turns at the same instant while a conversation runs (the service asks
    // for a short wait then), until it asks for a longer one.
    std::optional<int> StepUntilIdle(Clock::time_point at) {
        const auto until = Clock::now() + 15s;
        std::optional<int> wait = service->Step(at);
        while (wait && *wait <= 20 && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(*wait));
            wait = service->Step(at);
        }
        return wait;
    }
    // A signal sent to this thread, taken as the loop's wait takes it.
    void Signal(int sig) {
        ASSERT_EQ(pthread_kill(pthread_self(), sig), 0);
        EXPECT_TRUE(signals.WaitFor(0));
    }
    int Readings() const { return err->Count("site \"Roof\": reading "); }

    SqmSimulator sim;
    TStationFolder f;
    std::unique_ptr<TStderrFile> err;
    TData data;
    TSignals signals;
    std::unique_ptr<TStationService> service;

private:
    sigset_t savedMask_{};
    std::string savedDir_;
};

TEST_F(StationStep, ASiteStartsAfterItsDelayThenTicksOnItsPeriodEvenAfterALateTurn) {
    Make();
    const Clock::time_point t0{};  // any origin: the service reads no clock of its own for its turns
    ASSERT_EQ(service->Begin(t0), std::nullopt) << err->Text();

    // Before its start (1 to 4 s after the site list is read) nothing is asked.
    const std::optional<int> first = service->Step(t0);
    ASSERT_TRUE(first);
    EXPECT_GE(*first, 1001);
    EXPECT_LE(*first, 4000);
    EXPECT_EQ(*service->Step(t0 + std::chrono::milliseconds(*first - 501)), 501);
    EXPECT_EQ(sim.Requests(), 0);

    // At its start the reading is asked for at once; once it is stored the
    // next turn is a period later.
    const Clock::time_point start = t0 + std::chrono::milliseconds(*first - 1);
    EXPECT_EQ(StepUntilIdle(start), 301) << err->Text();
    EXPECT_EQ(Readings(), 1) << err->Text();
    const int asked = sim.Requests();
    EXPECT_GT(asked, 0);

    // A turn before the tick does nothing but tell the rest of the wait.
    EXPECT_EQ(*service->Step(start + 100ms), 201);
    EXPECT_EQ(sim.Requests(), asked);
    EXPECT_EQ(Readings(), 1);

    // A turn three and a half periods late ticks once, and the next tick
    // stays on the period's grid: 1200 ms after the start.
    EXPECT_EQ(StepUntilIdle(start + 1050ms), 151) << err->Text();
    EXPECT_EQ(Readings(), 2) << err->Text();
    EXPECT_EQ(StepUntilIdle(start + 1200ms), 301) << err->Text();
    EXPECT_EQ(Readings(), 3) << err->Text();

    // SIGTERM: the next turn ends the run, and Finish says why.
    Signal(SIGTERM);
    EXPECT_EQ(service->Step(start + 1300ms), std::nullopt);
    service->Finish();
    EXPECT_EQ(err->Count("kalosqm-station: stopped by SIGTERM\n"), 1) << err->Text();
    EXPECT_FALSE(data.dbKALO.Connected());
}

TEST_F(StationStep, SighupReadsTheSiteListAgainAndARunWithNothingLeftEndsWithoutAStopLine) {
    Make();
    const Clock::time_point t0 = Clock::now();
    ASSERT_EQ(service->Begin(t0), std::nullopt) << err->Text();
    ASSERT_TRUE(StepUntilIdle(t0 + 4s));
    EXPECT_EQ(Readings(), 1) << err->Text();

    // The site no longer starts automatically: SIGHUP stops it, and with no
    // site left and no --wait the run is over.
    {
        fb::Query q(data.trKALO);
        q.SetSQL("UPDATE SQMSITES SET SIT_AUTOSTART = 0");
        q.ExecSQL();
        data.trKALO.CommitRetaining();
    }
    Signal(SIGHUP);
    EXPECT_EQ(service->Step(t0 + 5s), std::nullopt);
    EXPECT_EQ(err->Count("kalosqm-station: SIGHUP: reading the site list again\n"), 1) << err->Text();
    EXPECT_EQ(err->Count("site \"Roof\": acquisition stopped: no longer marked for autostart\n"), 1) << err->Text();
    EXPECT_EQ(err->Count("kalosqm-station: nothing to do: ending"), 1) << err->Text();
    EXPECT_EQ(service->Step(t0 + 6s), std::nullopt);  // over stays over
    service->Finish();
    EXPECT_EQ(err->Count("stopped by"), 0) << err->Text();
    EXPECT_EQ(Readings(), 1);
}

TEST_F(StationStep, WithWaitAndNoSiteItWaitsUntilASighupBringsOneAndSigtermEndsIt) {
    {
        fb::Database db(f.db);
        db.Open();
        db.ExecuteImmediate("UPDATE SQMSITES SET SIT_AUTOSTART = 0");
        db.Close();
    }
    TServiceOptions o;
    o.Wait = true;
    Make(o);
    const Clock::time_point t0{};
    ASSERT_EQ(service->Begin(t0), std::nullopt) << err->Text();
    EXPECT_EQ(err->Count("kalosqm-station: waiting for SIGHUP"), 1) << err->Text();
    EXPECT_FALSE(data.dbKALO.Connected());  // left free meanwhile
    EXPECT_EQ(service->Step(t0), 60000);    // nothing due: the longest wait

    // The site is marked again meanwhile (as kalosqm-cli would): SIGHUP opens
    // the database, the site starts after its delay.
    ExecOn(f.db, {"UPDATE SQMSITES SET SIT_AUTOSTART = 1"});
    Signal(SIGHUP);
    EXPECT_EQ(service->Step(t0 + 1s), 0);  // the next turn at once
    EXPECT_TRUE(data.dbKALO.Connected());
    const std::optional<int> delay = service->Step(t0 + 1s);
    ASSERT_TRUE(delay);
    EXPECT_GE(*delay, 1001);
    EXPECT_LE(*delay, 4000);
    EXPECT_EQ(StepUntilIdle(t0 + 1s + std::chrono::milliseconds(*delay)), 301) << err->Text();
    EXPECT_EQ(Readings(), 1) << err->Text();

    Signal(SIGTERM);
    EXPECT_EQ(service->Step(t0 + 10s), std::nullopt);
    service->Finish();
    EXPECT_EQ(err->Count("kalosqm-station: stopped by SIGTERM\n"), 1) << err->Text();
}

}  // namespace
