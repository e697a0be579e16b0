#include "core/site/sitecommons.h"

TMeterGates::THold::~THold() {
    if (gates_) gates_->held_.erase(meter_);
}

std::string TMeterGates::Key(const std::string& host, int port) { return host + ":" + std::to_string(port); }

TMeterGates::THold TMeterGates::TryHold(const std::string& host, int port) {
    std::string key = Key(host, port);
    if (!held_.insert(key).second) return {};
    return THold(this, std::move(key));
}

bool TMeterGates::Busy(const std::string& host, int port) const { return held_.count(Key(host, port)) != 0; }
