#include "core/site/sitecommons.h"

void TMeterGates::THold::Release() {
    if (!gates_) return;
    {
        const std::lock_guard<std::mutex> hold(gates_->lock);
        gates_->held.erase(meter_);
    }
    gates_.reset();
}

std::string TMeterGates::Key(const std::string& host, int port) { return host + ":" + std::to_string(port); }

TMeterGates::THold TMeterGates::TryHold(const std::string& host, int port) {
    std::string key = Key(host, port);
    const std::lock_guard<std::mutex> hold(state_->lock);
    if (!state_->held.insert(key).second) return {};
    return THold(state_, std::move(key));
}

bool TMeterGates::Busy(const std::string& host, int port) const {
    const std::lock_guard<std::mutex> hold(state_->lock);
    return state_->held.count(Key(host, port)) != 0;
}

bool TAcquiringSites::Claim(int siteId, const void* owner) {
    const std::lock_guard<std::mutex> hold(lock_);
    const auto [at, fresh] = owners_.emplace(siteId, owner);
    return fresh || at->second == owner;
}

void TAcquiringSites::Release(int siteId, const void* owner) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (const auto at = owners_.find(siteId); at != owners_.end() && at->second == owner) owners_.erase(at);
}

bool TAcquiringSites::Acquiring(int siteId) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return owners_.count(siteId) != 0;
}
