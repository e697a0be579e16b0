#include "core/site/outages.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/station/credentials.h"
#include "core/station/errorlog.h"
#include "core/station/myutils.h"

TNetworkContact CheckNetworkContact(const std::string& siteCode) {
    TNetworkContact c;
    c.SiteCode = Trim(siteCode);
    std::string why, client;
    const bool ok = TestNetworkConnection(siteCode, why, &client) && why.empty();
    // Read after the check, which has just read the same file.
    try {
        const netdb::ConnectParams p = CredentialsConnectParams(ReadSiteCredentials(siteCode), 0);
        c.Server = p.Host + ":" + std::to_string(p.Port);
    } catch (const std::exception&) {
        c.Server = "?";
    }
    if (ok) return c;
    if (!client.empty()) {
        c.What = TNetworkContact::Result::Unreachable;
        c.Why = client;
    } else {
        std::string fileWhy;
        c.What = CheckCredentialsFile(siteCode, fileWhy) < kCredentialsNoPermission
                     ? TNetworkContact::Result::NoCredentials
                     : TNetworkContact::Result::SiteUnknown;
        c.Why = why;
    }
    return c;
}

std::string OutageDuration(double days) {
    long long s = std::llround(std::max(days, 0.0) * 86400.0);
    const long long d = s / 86400, h = s / 3600 % 24, m = s / 60 % 60;
    s %= 60;
    auto part = [](long long n, const char* unit) { return std::to_string(n) + " " + unit; };
    if (d > 0) return part(d, "d") + " " + part(h, "h");
    if (h > 0) return part(h, "h") + " " + part(m, "min");
    if (m > 0) return part(m, "min") + " " + part(s, "s");
    return part(s, "s");
}

void TOutages::Write(double now, const std::string& text, const char* log) {
    WriteErrorLog(FormatLogTime(now) + " - " + text, log);
    if (echo_) echo_(text);
}

void TOutages::Fail(double now, const std::string& key, TOutage o, int siteId, const std::string& beginText) {
    auto it = network_.find(key);
    // Lost again before every waiting reading went up: the last outage ends
    // with what went up meanwhile, and a new one begins.
    if (it != network_.end() && it->second.Back != 0) {
        Finish(now, key);
        it = network_.end();
    }
    if (it == network_.end()) {
        o.Since = now;
        it = network_.emplace(key, std::move(o)).first;
        Write(now, beginText, kNetworkLog);
    }
    if (siteId != 0) it->second.Waiting.insert(siteId);
}

void TOutages::Reached(double now, const std::string& key) {
    const auto it = network_.find(key);
    if (it == network_.end() || it->second.Back != 0) return;
    it->second.Back = now;
    if (it->second.Waiting.empty()) Finish(now, key);
}

void TOutages::Finish(double now, const std::string& key) {
    const auto it = network_.find(key);
    if (it == network_.end()) return;
    const TOutage& o = it->second;
    const std::string count = std::to_string(o.Sent) + " waiting reading" + (o.Sent == 1 ? "" : "s") + " went up since";
    const std::string when = " at " + FormatLogTime(o.Back) + " after " + OutageDuration(o.Back - o.Since) + "; ";
    if (o.UnknownCode)
        Write(now, o.Subject + " is known to the network database again" + when + count, kNetworkLog);
    else
        Write(now, "network database " + o.Subject + " reachable again" + when + count, kNetworkLog);
    network_.erase(it);
}

void TOutages::Contact(double now, int siteId, const TNetworkContact& c) {
    const std::string codeKey = "code:" + c.SiteCode;
    switch (c.What) {
        case TNetworkContact::Result::Unreachable:
            Fail(now, c.Server, Outage(c.Server, false), siteId,
                 "network database unreachable: " + c.Server + ": " + Printable(c.Why));
            break;
        case TNetworkContact::Result::SiteUnknown: {
            Reached(now, c.Server);
            const std::string subject = "site code " + Printable(c.SiteCode);
            Fail(now, codeKey, Outage(subject, true), siteId,
                 subject + " is not known to the network database " + c.Server + ": its readings wait");
            break;
        }
        case TNetworkContact::Result::Reached:
            Reached(now, c.Server);
            Reached(now, codeKey);
            break;
        case TNetworkContact::Result::NoCredentials:
            break;
    }
}

void TOutages::WaitingPass(double now, int siteId, int sent, bool drained) {
    std::vector<std::string> done;
    for (auto& [key, o] : network_) {
        if (o.Back == 0 || o.Waiting.count(siteId) == 0) continue;
        o.Sent += sent;
        if (drained) o.Waiting.erase(siteId);
        if (o.Waiting.empty()) done.push_back(key);
    }
    for (const std::string& key : done) Finish(now, key);
}

bool TOutages::NetworkDown(const std::string& server) const {
    const auto it = network_.find(server);
    return it != network_.end() && it->second.Back == 0;
}

void TOutages::TimeFailed(double now, const std::string& why) {
    if (timeDownSince_ != 0) return;
    timeDownSince_ = now;
    Write(now, "no time server answered: " + Printable(why), kTimeLog);
}

void TOutages::TimeAnswered(double now) {
    if (timeDownSince_ == 0) return;
    Write(now, "a time server answered again after " + OutageDuration(now - timeDownSince_), kTimeLog);
    timeDownSince_ = 0;
}
