#pragma once
// The road of every conversation with a meter, a network database or a time
// server: TWorkers owns the program's threads, one per lane of an owner (a
// site's meter, its uploads) and one for the program's Internet time;
// TThreadJobs is one owner's handle on them. A job's completion waits until
// its owner delivers it on its own thread; an owner that has gone never
// hears of it. No thread outlives the TWorkers that made it.
#include <functional>
#include <memory>

#include "core/site/siteports.h"

class TWorkers {
public:
    TWorkers();
    // Joins every thread: jobs not begun never run, a conversation under
    // way ends within its own timeout, a pause ends at once.
    ~TWorkers();
    TWorkers(const TWorkers&) = delete;
    TWorkers& operator=(const TWorkers&) = delete;

    // The program is stopping: from now on every pause in a job ends at
    // once, so that what is under way or queued ends soon.
    void Stop();
    bool Stopping() const;
    // Waits up to ms for every job under way to end; true when none runs.
    bool WaitIdle(int ms);
    // Threads alive now (for tests and the soak's figures).
    int Threads() const;

    struct TState;

private:
    friend class TThreadJobs;
    std::shared_ptr<TState> state_;
};

class TThreadJobs : public IJobRunner {
public:
    // wake, when given, is called on a worker thread as a completion of
    // this owner arrives: it must make the owner call Deliver soon (a
    // queued call, the loop's next turn) and must not block.
    explicit TThreadJobs(TWorkers& workers, std::function<void()> wake = {});
    // With workers of its own, which it stops and joins when it goes.
    explicit TThreadJobs(std::function<void()> wake = {});
    // Completions not delivered are dropped, and jobs not begun never run;
    // a job under way ends on its own, unheard.
    ~TThreadJobs() override;
    TThreadJobs(const TThreadJobs&) = delete;
    TThreadJobs& operator=(const TThreadJobs&) = delete;

    void Run(TJobLane lane, std::function<void()> work, std::function<void()> done) override;
    using IJobRunner::Run;
    bool Pause(int ms) override;
    // Runs the completions that have arrived, on the caller's thread, in the
    // order they arrived; the number run.
    int Deliver();
    // Waits up to ms for a completion to arrive; true when one is waiting.
    bool WaitForCompletion(int ms);
    // Jobs whose done has not run yet.
    int Pending() const { return pending_; }

    struct TOwner;

private:
    std::unique_ptr<TWorkers> own_;
    std::shared_ptr<TWorkers::TState> workers_;
    std::shared_ptr<TOwner> owner_;
    int pending_ = 0;
};
