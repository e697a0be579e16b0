// The program's workers: lanes side by side, completions only to an owner
// that is still there, and no thread left running once the workers go.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/site/jobrunner.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Delivers until cond holds; false when it does not within the deadline (a hang, not a timing).
template <class F>
bool DeliverUntil(TThreadJobs& jobs, F cond, std::chrono::milliseconds deadline = 10s) {
    const auto until = Clock::now() + deadline;
    while (!cond()) {
        if (Clock::now() > until) return false;
        jobs.WaitForCompletion(20);
        jobs.Deliver();
    }
    return true;
}

TEST(Workers, AJobStillRunningWhenItsOwnerGoesEndsBeforeTheWorkersAreGoneAndIsNeverHeard) {
    std::atomic<bool> started{false}, finished{false};
    bool heard = false;
    {
        TWorkers workers;
        {
            TThreadJobs site(workers);
            site.Run([&] {
                started = true;
                std::this_thread::sleep_for(300ms);
                finished = true;
            },
                     [&] { heard = true; });
            while (!started) std::this_thread::sleep_for(1ms);
        }  // the window closes while its conversation runs
        EXPECT_FALSE(finished);
    }  // the program ends: its threads are joined, none is left behind
    EXPECT_TRUE(finished);
    EXPECT_FALSE(heard);
}

TEST(Workers, AJobThatThrowsIsStillHeardAndItsCauseIsSaidOnStderr) {
    TThreadJobs jobs;
    bool heard = false;
    testing::internal::CaptureStderr();
    jobs.Run([] { throw std::runtime_error("the disk is full"); }, [&] { heard = true; });
    const bool delivered = DeliverUntil(jobs, [&] { return heard; });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(err, "kalosqm: a job of the workers: the disk is full\n");
}

TEST(Workers, ASitesUploadsNeverHoldUpItsMeterAndNoSiteHoldsUpAnother) {
    TWorkers workers;
    TThreadJobs a(workers), b(workers);
    std::atomic<bool> release{false};
    std::vector<std::string> order;
    // a's network lane is stuck (a dead server) until released.
    a.Run(TJobLane::Network, [&] {
        while (!release) std::this_thread::sleep_for(5ms);
    },
          [&] { order.push_back("a upload"); });
    a.Run(TJobLane::Meter, [] {}, [&] { order.push_back("a meter"); });
    b.Run(TJobLane::Network, [] {}, [&] { order.push_back("b upload"); });
    ASSERT_TRUE(DeliverUntil(a, [&] { return a.Pending() == 1; }));
    ASSERT_TRUE(DeliverUntil(b, [&] { return b.Pending() == 0; }));
    EXPECT_EQ(order, (std::vector<std::string>{"a meter", "b upload"}));
    release = true;
    ASSERT_TRUE(DeliverUntil(a, [&] { return a.Pending() == 0; }));
    EXPECT_EQ(order.back(), "a upload");
    // One lane runs its jobs in turn: a second upload waits for the first.
    std::vector<int> done;
    for (int i = 0; i < 3; ++i)
        a.Run(TJobLane::Network, [i] { std::this_thread::sleep_for(std::chrono::milliseconds(30 - 10 * i)); },
              [&done, i] { done.push_back(i); });
    ASSERT_TRUE(DeliverUntil(a, [&] { return a.Pending() == 0; }));
    EXPECT_EQ(done, (std::vector<int>{0, 1, 2}));
}

TEST(Workers, AStopEndsEveryPauseAtOnceAndTheWorkersHoldAtMostALaneThreadEach) {
    TWorkers workers;
    TThreadJobs a(workers), b(workers);
    std::atomic<int> cut{0};
    const auto t0 = Clock::now();
    for (TThreadJobs* j : {&a, &b})
        j->Run(TJobLane::Network, [j, &cut] { cut += j->Pause(60000) ? 0 : 1; }, [] {});
    a.Run(TJobLane::Meter, [] {}, [] {});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(workers.Threads(), 3);  // a's meter and network lanes, b's network lane
    workers.Stop();
    ASSERT_TRUE(workers.WaitIdle(5000));
    EXPECT_EQ(cut, 2);
    EXPECT_LT(Clock::now() - t0, 5s);
    // A pause after the stop does not wait either.
    EXPECT_FALSE(a.Pause(60000));
}

TEST(Workers, TheInternetTimeHasOneLaneForTheWholeProgram) {
    TWorkers workers;
    TThreadJobs a(workers), b(workers);
    std::atomic<int> inside{0}, most{0};
    auto sync = [&] {
        most = std::max(most.load(), ++inside);
        std::this_thread::sleep_for(50ms);
        --inside;
    };
    for (int i = 0; i < 3; ++i) {
        a.Run(TJobLane::Time, sync, [] {});
        b.Run(TJobLane::Time, sync, [] {});
    }
    ASSERT_TRUE(DeliverUntil(a, [&] { return a.Pending() == 0; }));
    ASSERT_TRUE(DeliverUntil(b, [&] { return b.Pending() == 0; }));
    EXPECT_EQ(most, 1);  // never two synchronisations at once
}

}  // namespace
