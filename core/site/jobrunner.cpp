#include "core/site/jobrunner.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

struct TThreadJobs::TState {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<std::function<void()>> ready;
    std::function<void()> wake;
    bool closed = false;
};

TThreadJobs::TThreadJobs(std::function<void()> wake) : state_(std::make_shared<TState>()) {
    state_->wake = std::move(wake);
}

TThreadJobs::~TThreadJobs() {
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard<std::mutex> hold(state_->lock);
        state_->closed = true;
        state_->wake = nullptr;
        dropped.swap(state_->ready);
    }
    // Dropped here, on the owner's thread, never called.
}

void TThreadJobs::Run(std::function<void()> work, std::function<void()> done) {
    ++pending_;
    // Detached: a meter that never answers must not hold up a closing
    // window or a stopping service; the thread owns all it touches.
    std::thread([state = state_, work = std::move(work), done = std::move(done)]() mutable {
        try {
            work();
        } catch (...) {
            // The work keeps its own failures; nothing may escape a thread.
        }
        const std::lock_guard<std::mutex> hold(state->lock);
        if (state->closed) return;
        state->ready.push_back(std::move(done));
        state->arrived.notify_all();
        if (state->wake) state->wake();
    }).detach();
}

int TThreadJobs::Deliver() {
    std::deque<std::function<void()>> ready;
    {
        const std::lock_guard<std::mutex> hold(state_->lock);
        ready.swap(state_->ready);
    }
    int n = 0;
    for (auto& done : ready) {
        --pending_;
        ++n;
        if (done) done();
    }
    return n;
}

bool TThreadJobs::WaitForCompletion(int ms) {
    std::unique_lock<std::mutex> hold(state_->lock);
    return state_->arrived.wait_for(hold, std::chrono::milliseconds(ms), [this] { return !state_->ready.empty(); });
}
