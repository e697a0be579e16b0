#pragma once
// What the sites of one program share. The program (window, service, test)
// owns one TSiteCommons and hands it to every site through the ports, so
// nothing of it is process-wide and no site or window can reset another's.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/site/jobrunner.h"
#include "core/site/nightfile.h"

// The Internet time of the program: every site's tick corrects the PC clock
// by the same offset, and stores the last synchronisation's success with its
// readings (REA_SYNCRO).
struct TInternetTimeState {
    double Offset = 0;  // days: Internet time minus PC time
    bool LastSyncSucceeded = false;
    // A synchronisation is under way: the sites that want one meanwhile wait
    // for its end instead of asking the servers again (each while alive).
    bool Syncing = false;
    std::vector<std::pair<std::weak_ptr<bool>, std::function<void()>>> AfterSync;
};

// One conversation with a meter at a time: an SQM-LE serves one client, and
// a pause inside a conversation (none today, but a nested event loop runs
// every site's ticks) must not let a second one start on the same meter.
// Different meters share nothing, so they are never held up by each other.
// Only the holder releases its meter: nothing else can clear it. A hold
// may end on the thread that held the conversation, and may outlive the
// gates (a conversation abandoned by a closed window ends on its own).
class TMeterGates {
    struct TState {
        std::mutex lock;
        std::set<std::string> held;
    };

public:
    class THold {
    public:
        THold() = default;
        THold(THold&& o) noexcept : gates_(std::move(o.gates_)), meter_(std::move(o.meter_)) {}
        // Takes over the other's meter, letting its own go first.
        THold& operator=(THold&& o) noexcept {
            if (this != &o) {
                Release();
                gates_ = std::move(o.gates_);
                meter_ = std::move(o.meter_);
            }
            return *this;
        }
        THold(const THold&) = delete;
        ~THold() { Release(); }
        explicit operator bool() const { return gates_ != nullptr; }
        // Lets the meter go before the hold itself ends.
        void Release();

    private:
        friend class TMeterGates;
        THold(std::shared_ptr<TState> gates, std::string meter) : gates_(std::move(gates)), meter_(std::move(meter)) {}
        std::shared_ptr<TState> gates_;
        std::string meter_;
    };

    // The meter at host:port for as long as the hold lives; an empty hold
    // when a conversation with it is under way.
    [[nodiscard]] THold TryHold(const std::string& host, int port);
    bool Busy(const std::string& host, int port) const;

private:
    static std::string Key(const std::string& host, int port);
    std::shared_ptr<TState> state_ = std::make_shared<TState>();
};

// The sites acquiring in this program. Two acquisitions of one site would
// store every reading twice, so a second start is refused; another program
// on the same database is kept out by the database's own lock.
class TAcquiringSites {
public:
    // True when the site was free or already the owner's: it is the owner's now.
    [[nodiscard]] bool Claim(int siteId, const void* owner);
    // Only the owner lets its site go.
    void Release(int siteId, const void* owner);
    bool Acquiring(int siteId) const;

private:
    mutable std::mutex lock_;
    std::map<int, const void*> owners_;
};

// What has been said once and is not said again while the program runs.
class TToldOnce {
public:
    // True the first time a key is given.
    bool First(const std::string& key) { return told_.insert(key).second; }

private:
    std::set<std::string> told_;
};

struct TSiteCommons {
    TInternetTimeState time;
    TMeterGates meters;
    TAcquiringSites acquiring;
    TNightFileOptions nightFiles;  // what every site's night files say of the program
    TToldOnce unloadableReadings;  // waiting readings whose row cannot be sent, told in the log
    // The threads of every site's conversations; last, so that they are
    // joined before anything else here goes.
    TWorkers workers;
};
