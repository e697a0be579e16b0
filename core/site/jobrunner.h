#pragma once
// TThreadJobs: the job runner of a program without an event loop of the
// site core's own: each job on a thread of its own, its completion kept
// until the owner delivers it on its thread.
#include <functional>
#include <memory>

#include "core/site/siteports.h"

class TThreadJobs : public IJobRunner {
public:
    // wake, when given, is called on the job's thread as a completion
    // arrives: it must make the owner call Deliver soon (a queued call, the
    // loop's next turn) and must not block.
    explicit TThreadJobs(std::function<void()> wake = {});
    // A job still running is abandoned: it ends on its own and its done is
    // never called. No wake comes after this.
    ~TThreadJobs() override;
    TThreadJobs(const TThreadJobs&) = delete;
    TThreadJobs& operator=(const TThreadJobs&) = delete;

    void Run(std::function<void()> work, std::function<void()> done) override;
    // Runs the completions that have arrived, on the caller's thread, in the
    // order they arrived; the number run.
    int Deliver();
    // Waits up to ms for a completion to arrive; true when one is waiting.
    bool WaitForCompletion(int ms);
    // Jobs whose done has not run yet.
    int Pending() const { return pending_; }

private:
    struct TState;
    std::shared_ptr<TState> state_;
    int pending_ = 0;
};
