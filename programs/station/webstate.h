#pragma once
// What the acquisition has done since the service started, for the web page
// and /metrics: the loop updates it after each tick, the server's threads
// read copies. Nothing here touches the database.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/site/acquisition.h"
#include "core/site/sitecommons.h"
#include "core/site/siteports.h"

// Why a due reading was not stored: a bounded set, so a metrics label
// cannot grow without end whatever the meters answer.
enum class TFailureCause { Meter, Tick, Skipped };
inline constexpr TFailureCause kFailureCauses[] = {TFailureCause::Meter, TFailureCause::Tick, TFailureCause::Skipped};
// "meter", "tick", "skipped".
const char* FailureCauseLabel(TFailureCause cause);

struct TSiteActivity {
    int Id = 0;
    std::string Name;
    bool Acquiring = false;
    TSiteState State = TSiteState::Stopped;
    int64_t Stored = 0;
    std::map<TFailureCause, int64_t> Failed;
    std::string LastFailure;  // the cause's text as the journal says it
    double LastFailureUtc = 0;  // 0: none since the start
    double LastTickUtc = 0;
};

struct TActivitySnapshot {
    std::vector<TSiteActivity> Sites;  // by id
    TInternetTimeState Time;
    double UptimeSeconds = 0;
    bool DatabaseOpen = false;
};

class TStationActivity {
public:
    TStationActivity();

    void SiteStarted(int id, const std::string& name);
    void SiteStopped(int id);
    void ShowState(int id, TSiteState state);
    // After every tick of a site.
    void Tick(int id, const TTickReport& report, const TInternetTimeState& time);
    void SetDatabaseOpen(bool open);

    TActivitySnapshot Snapshot() const;

private:
    mutable std::mutex mutex_;
    std::map<int, TSiteActivity> sites_;
    TInternetTimeState time_;
    bool databaseOpen_ = false;
    std::chrono::steady_clock::time_point start_;
};

// A status light that tells the activity what it shows.
class TActivityLight : public IStatusLight {
public:
    TActivityLight(TStationActivity& activity, int siteId) : activity_(activity), siteId_(siteId) {}
    void Show(TSiteState state) override { activity_.ShowState(siteId_, state); }

private:
    TStationActivity& activity_;
    int siteId_;
};
