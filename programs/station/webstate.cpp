#include "programs/station/webstate.h"

const char* FailureCauseLabel(TFailureCause cause) {
    switch (cause) {
        case TFailureCause::Meter: return "meter";
        case TFailureCause::Tick: return "tick";
        case TFailureCause::Skipped: return "skipped";
    }
    return "?";
}

TStationActivity::TStationActivity() : start_(std::chrono::steady_clock::now()) {}

void TStationActivity::SiteStarted(int id, const std::string& name) {
    std::lock_guard lock(mutex_);
    TSiteActivity& s = sites_[id];
    s.Id = id;
    s.Name = name;
    s.Acquiring = true;
}

void TStationActivity::SiteStopped(int id) {
    std::lock_guard lock(mutex_);
    if (auto it = sites_.find(id); it != sites_.end()) {
        it->second.Acquiring = false;
        it->second.State = TSiteState::Stopped;
    }
}

void TStationActivity::ShowState(int id, TSiteState state) {
    std::lock_guard lock(mutex_);
    if (auto it = sites_.find(id); it != sites_.end()) it->second.State = state;
}

void TStationActivity::Tick(int id, const TTickReport& r, const TInternetTimeState& time) {
    std::lock_guard lock(mutex_);
    time_ = time;
    auto it = sites_.find(id);
    if (it == sites_.end()) return;
    TSiteActivity& s = it->second;
    s.LastTickUtc = r.Utc;
    std::optional<TFailureCause> cause;
    switch (r.What) {
        case TTickReport::Outcome::NotDue: break;
        case TTickReport::Outcome::Stored: ++s.Stored; break;
        case TTickReport::Outcome::Skipped: cause = TFailureCause::Skipped; break;
        case TTickReport::Outcome::Failed: cause = TFailureCause::Meter; break;
        case TTickReport::Outcome::Exception: cause = TFailureCause::Tick; break;
    }
    if (cause) {
        ++s.Failed[*cause];
        s.LastFailure = r.What == TTickReport::Outcome::Skipped ? "due reading skipped: another reading was in progress"
                                                                 : r.Error;
        s.LastFailureUtc = r.Utc;
    }
}

void TStationActivity::SetDatabaseOpen(bool open) {
    std::lock_guard lock(mutex_);
    databaseOpen_ = open;
}

TActivitySnapshot TStationActivity::Snapshot() const {
    std::lock_guard lock(mutex_);
    TActivitySnapshot s;
    for (const auto& [id, site] : sites_) s.Sites.push_back(site);
    s.Time = time_;
    s.DatabaseOpen = databaseOpen_;
    s.UptimeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    return s;
}
