#include "core/site/jobrunner.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/station/lastresort.h"

namespace {

struct TJob {
    std::function<void()> work, done;
};

}  // namespace

// One owner: its completions wait here for Deliver.
struct TThreadJobs::TOwner {
    long id = 0;
    bool alive = true;
    std::deque<std::function<void()>> ready;
    std::function<void()> wake;
};

struct TWorkers::TState {
    struct TLane {
        std::deque<std::pair<TJob, std::shared_ptr<TThreadJobs::TOwner>>> queue;
        bool running = false;
        bool closed = false;  // its owner has gone: the thread ends once idle
        bool exited = false;
        std::thread thread;
    };
    std::mutex lock;
    std::condition_variable changed;
    bool stopping = false;  // pauses end at once
    bool ending = false;    // the workers go: what has not begun never will
    long nextOwner = 1;
    // By owner and lane; the program's Internet time is owner 0's.
    std::map<std::pair<long, int>, std::unique_ptr<TLane>> lanes;
    std::vector<std::unique_ptr<TLane>> closedLanes;  // threads still to join

    void Loop(TLane& lane);
    void ReapExited();  // with lock held
};

void TWorkers::TState::Loop(TLane& lane) {
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        changed.wait(hold, [&] { return ending || lane.closed || !lane.queue.empty(); });
        if (ending || lane.queue.empty()) break;
        auto [job, owner] = std::move(lane.queue.front());
        lane.queue.pop_front();
        lane.running = true;
        hold.unlock();
        try {
            job.work();
        } catch (...) {
            // The work keeps its own failures; one that escaped it may not escape the thread.
            LastResortLine("a job of the workers");
        }
        hold.lock();
        lane.running = false;
        if (owner->alive) {
            owner->ready.push_back(std::move(job.done));
            if (owner->wake) owner->wake();
        }
        changed.notify_all();
        if (lane.closed && lane.queue.empty()) break;
    }
    lane.queue.clear();
    lane.exited = true;
    changed.notify_all();
}

void TWorkers::TState::ReapExited() {
    for (auto it = closedLanes.begin(); it != closedLanes.end();) {
        if ((*it)->exited) {
            if ((*it)->thread.joinable()) (*it)->thread.join();  // it has returned: no wait
            it = closedLanes.erase(it);
        } else {
            ++it;
        }
    }
}

TWorkers::TWorkers() : state_(std::make_shared<TState>()) {}

TWorkers::~TWorkers() {
    {
        const std::lock_guard<std::mutex> hold(state_->lock);
        state_->stopping = true;
        state_->ending = true;
        state_->changed.notify_all();
    }
    std::vector<std::unique_ptr<TState::TLane>> all;
    {
        const std::lock_guard<std::mutex> hold(state_->lock);
        for (auto& [key, lane] : state_->lanes) all.push_back(std::move(lane));
        state_->lanes.clear();
        for (auto& lane : state_->closedLanes) all.push_back(std::move(lane));
        state_->closedLanes.clear();
    }
    for (auto& lane : all)
        if (lane->thread.joinable()) lane->thread.join();
}

void TWorkers::Stop() {
    const std::lock_guard<std::mutex> hold(state_->lock);
    state_->stopping = true;
    state_->changed.notify_all();
}

bool TWorkers::Stopping() const {
    const std::lock_guard<std::mutex> hold(state_->lock);
    return state_->stopping;
}

bool TWorkers::WaitIdle(int ms) {
    std::unique_lock<std::mutex> hold(state_->lock);
    auto idle = [this] {
        for (const auto& [key, lane] : state_->lanes)
            if (lane->running || !lane->queue.empty()) return false;
        for (const auto& lane : state_->closedLanes)
            if (!lane->exited) return false;
        return true;
    };
    return state_->changed.wait_for(hold, std::chrono::milliseconds(ms), idle);
}

int TWorkers::Threads() const {
    const std::lock_guard<std::mutex> hold(state_->lock);
    int n = 0;
    for (const auto& [key, lane] : state_->lanes) n += !lane->exited;
    for (const auto& lane : state_->closedLanes) n += !lane->exited;
    return n;
}

TThreadJobs::TThreadJobs(TWorkers& workers, std::function<void()> wake)
    : workers_(workers.state_), owner_(std::make_shared<TOwner>()) {
    const std::lock_guard<std::mutex> hold(workers_->lock);
    owner_->id = workers_->nextOwner++;
    owner_->wake = std::move(wake);
}

TThreadJobs::TThreadJobs(std::function<void()> wake)
    : own_(std::make_unique<TWorkers>()), workers_(own_->state_), owner_(std::make_shared<TOwner>()) {
    const std::lock_guard<std::mutex> hold(workers_->lock);
    owner_->id = workers_->nextOwner++;
    owner_->wake = std::move(wake);
}

TThreadJobs::~TThreadJobs() {
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard<std::mutex> hold(workers_->lock);
        owner_->alive = false;
        owner_->wake = nullptr;
        dropped.swap(owner_->ready);
        // Its lanes end once idle; their threads are joined by the workers.
        for (auto it = workers_->lanes.begin(); it != workers_->lanes.end();) {
            if (it->first.first == owner_->id) {
                it->second->closed = true;
                it->second->queue.clear();
                workers_->closedLanes.push_back(std::move(it->second));
                it = workers_->lanes.erase(it);
            } else {
                ++it;
            }
        }
        workers_->changed.notify_all();
    }
    // Dropped here, on the owner's thread, never called.
    dropped.clear();
    own_.reset();  // its own workers: joined now
}

void TThreadJobs::Run(TJobLane lane, std::function<void()> work, std::function<void()> done) {
    const std::lock_guard<std::mutex> hold(workers_->lock);
    if (workers_->ending) return;
    ++pending_;
    workers_->ReapExited();
    const bool programs = lane == TJobLane::Time || lane == TJobLane::Night;
    const long ownerKey = programs ? 0 : owner_->id;
    auto& slot = workers_->lanes[{ownerKey, static_cast<int>(lane)}];
    if (!slot) {
        slot = std::make_unique<TWorkers::TState::TLane>();
        TWorkers::TState::TLane* l = slot.get();
        TWorkers::TState* state = workers_.get();
        l->thread = std::thread([state, l] { state->Loop(*l); });
    }
    slot->queue.push_back({TJob{std::move(work), std::move(done)}, owner_});
    workers_->changed.notify_all();
}

bool TThreadJobs::Pause(int ms) {
    std::unique_lock<std::mutex> hold(workers_->lock);
    workers_->changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return workers_->stopping; });
    return !workers_->stopping;
}

int TThreadJobs::Deliver() {
    std::deque<std::function<void()>> ready;
    {
        const std::lock_guard<std::mutex> hold(workers_->lock);
        ready.swap(owner_->ready);
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
    std::unique_lock<std::mutex> hold(workers_->lock);
    return workers_->changed.wait_for(hold, std::chrono::milliseconds(ms), [this] { return !owner_->ready.empty(); });
}

// Called by a job on its worker thread, never by the owner's.
bool IJobRunner::Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
}
