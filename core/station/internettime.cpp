#include "core/station/internettime.h"

#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/station/tcpclient.h"
#include "core/station/version.h"

#include <chrono>
#include <cmath>

namespace {

constexpr double kDay1900 = 2.0;  // 1900-01-01 00:00 on the date-time scale
constexpr double kEraSeconds = 4294967296.0;
// PlausibleInternetTime's limits, in days.
constexpr double kFarFromPcClock = 1.0;
constexpr double kAgreement = 10.0 / 86400.0;

int EffectiveTimeout(int timeoutMs) { return timeoutMs > 0 ? timeoutMs : TInternetTime::kDefaultTimeoutMs; }

std::string BeforeBuildText(double build) {
    return "earlier than this program's build (" + FormatLogTime(build) + " UTC)";
}

const char* const kSelectServers = "select * from NTPSERVERS order by NTP_ORDER";

int IntOrZero(const fb::Field& f) { return f.IsNull() ? 0 : static_cast<int>(f.AsInteger()); }

}  // namespace

std::vector<TimeServerEntry> LoadTimeServers(fb::Transaction& tr) {
    std::vector<TimeServerEntry> servers;
    fb::Query q(tr);
    q.SetSQL(kSelectServers);
    q.Open();
    while (!q.Eof()) {
        TimeServerEntry e;
        e.Host = q.FieldByName("NTP_HOST").AsString();
        e.Order = IntOrZero(q.FieldByName("NTP_ORDER"));
        e.TimeoutMs = IntOrZero(q.FieldByName("NTP_TIMEOUT"));
        servers.push_back(std::move(e));
        q.Next();
    }
    q.Close();
    return servers;
}

std::vector<TimeServerEntry> LoadTimeServers(fb::Database& db) {
    fb::Transaction tr(db, fb::Isolation::ReadCommitted);
    tr.Start();
    std::vector<TimeServerEntry> servers = LoadTimeServers(tr);
    tr.Commit();
    return servers;
}

double Rfc868ToUtc(uint32_t seconds, int64_t transitDelayMs) {
    double s = static_cast<double>(seconds);
    if ((seconds & 0x80000000u) == 0) s += kEraSeconds;
    // The delay counts in whole seconds only.
    const int64_t delaySeconds = transitDelayMs > 0 ? transitDelayMs / 1000 : 0;
    return kDay1900 + (s + static_cast<double>(delaySeconds)) / 86400.0;
}

double UtcToLocalTime(double utc) { return utc - LocalTimeZoneBiasMinutes(utc) / 1440.0; }

TimePlausibility PlausibleInternetTime(double utc, double pcUtc, double buildUtc) {
    if (utc < buildUtc) return TimePlausibility::BeforeBuild;
    // A PC clock before the build is known wrong (a board without a clock
    // battery): measuring against it would refuse every right answer of a
    // station with a single time server.
    if (pcUtc < buildUtc) return TimePlausibility::Plausible;
    if (std::fabs(utc - pcUtc) > kFarFromPcClock) return TimePlausibility::FarFromPcClock;
    return TimePlausibility::Plausible;
}

bool InternetTimesAgree(double utc1, double pcUtc1, double utc2, double pcUtc2) {
    return std::fabs((utc2 - pcUtc2) - (utc1 - pcUtc1)) <= kAgreement;
}

bool TInternetTime::RequestTime(const std::string& host, int timeoutMs, double& utc) {
    using Clock = std::chrono::steady_clock;
    requestFailure_.clear();
    try {
        TcpClient client;
        client.Host = host;
        client.Port = TimePort;
        // A server that answered the echo but drops the connection attempt
        // must not hold the window for the system's two-minute connect timeout.
        client.Connect(timeoutMs);
        const auto start = Clock::now();
        unsigned char b[4];
        if (!client.ReadBytes(b, sizeof b, timeoutMs)) {
            requestFailure_ = "no time within " + std::to_string(timeoutMs) + " ms";
            return false;
        }
        const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        client.Disconnect();
        const uint32_t seconds = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                                 static_cast<uint32_t>(b[2]) << 8 | static_cast<uint32_t>(b[3]);
        if (seconds == 0) {
            requestFailure_ = "a count of 0";
            LogRefused(host, Rfc868ToUtc(0, 0), "a count of 0, as servers without a clock send");
            return false;
        }
        utc = Rfc868ToUtc(seconds, elapsedMs / 2);
        return true;
    } catch (const std::exception& e) {
        requestFailure_ = e.what();
        return false;  // refused, closed early, unresolvable: just the next server
    }
}

bool TInternetTime::Reachable(const std::string& host, int timeoutMs) {
    try {
        if (pinger_.Ping(host, timeoutMs) > 0) return true;
        Failed(host, "no echo reply within " + std::to_string(timeoutMs) + " ms");
        return false;
    } catch (const std::exception& e) {
        Failed(host, e.what());
        WriteErrorLog(FormatLogTime(NowLocal()) + " - NTP Server Exception - HOST: " + host + " - " + e.what(), "");
    } catch (...) {
        Failed(host, "Unknown error");
        WriteErrorLog(FormatLogTime(NowLocal()) + " - NTP Server Exception - HOST: " + host + " - Unknown error", "");
    }
    return false;
}

void TInternetTime::LogRefused(const std::string& host, double utc, const std::string& why) {
    WriteErrorLog(FormatLogTime(NowLocal()) + " - NTP Server Exception - HOST: " + host + " - Time " +
                      FormatLogTime(utc) + " UTC refused: " + why,
                  "");
}

std::optional<TInternetTime::Answer> TInternetTime::NextBelievedAnswer(const std::vector<TimeServerEntry>& servers,
                                                                       size_t& next) {
    const double build = ProgramBuildTimeUtc();
    std::optional<Answer> far;  // waiting for the next answer to confirm it
    while (next < servers.size()) {
        const TimeServerEntry& s = servers[next++];
        Answer a{Trim(s.Host), EffectiveTimeout(s.TimeoutMs)};
        if (!Reachable(a.host, a.timeoutMs)) continue;
        if (!RequestTime(a.host, a.timeoutMs, a.utc)) {
            Failed(a.host, requestFailure_);
            continue;
        }
        a.pcUtc = NowUtc();
        a.pcLocal = NowLocal();
        if (far) {
            if (InternetTimesAgree(far->utc, far->pcUtc, a.utc, a.pcUtc)) return far;
            LogRefused(far->host, far->utc, "more than a day away from the PC clock, and " + a.host + " says " +
                                                FormatLogTime(a.utc) + " UTC");
            Failed(far->host, "time refused, more than a day away from the PC clock");
            far.reset();
        }
        switch (PlausibleInternetTime(a.utc, a.pcUtc, build)) {
            case TimePlausibility::Plausible:
                return a;
            case TimePlausibility::BeforeBuild:
                LogRefused(a.host, a.utc, BeforeBuildText(build));
                Failed(a.host, "time refused, " + BeforeBuildText(build));
                break;
            case TimePlausibility::FarFromPcClock:
                far = a;
                break;
        }
    }
    if (far) {
        LogRefused(far->host, far->utc, "more than a day away from the PC clock, and no other server confirms it");
        Failed(far->host, "time refused, more than a day away from the PC clock");
    }
    return std::nullopt;
}

std::string TInternetTime::FailureText() const {
    if (failures_.empty()) return "no time server is listed";
    std::string text;
    for (const std::string& f : failures_) text += (text.empty() ? "" : "; ") + f;
    return text;
}

bool TInternetTime::GetTimeOffset(const std::vector<TimeServerEntry>& servers, double& Offset) {
    failures_.clear();
    size_t next = 0;
    const std::optional<Answer> a = NextBelievedAnswer(servers, next);
    if (!a) return false;
    Offset = UtcToLocalTime(a->utc) - a->pcLocal;
    lastHost_ = a->host;
    return true;
}

bool TInternetTime::GetInternetTime(const std::vector<TimeServerEntry>& servers, double& Time, bool SetClock) {
    failures_.clear();
    size_t next = 0;
    while (const std::optional<Answer> a = NextBelievedAnswer(servers, next)) {
        Time = UtcToLocalTime(a->utc);
        if (!SetClock) {
            lastHost_ = a->host;
            return true;
        }
        // The clock is set from a fresh answer, the first one having aged
        // by the time it took to get it. That one must hold by itself or
        // agree with the first: a server may answer 0 the second time.
        double utc = 0;
        if (!RequestTime(a->host, a->timeoutMs, utc)) {
            Failed(a->host, "second request: " + requestFailure_);
            continue;
        }
        const double pcUtc = NowUtc(), build = ProgramBuildTimeUtc();
        const TimePlausibility p = PlausibleInternetTime(utc, pcUtc, build);
        if (p == TimePlausibility::BeforeBuild) {
            LogRefused(a->host, utc, BeforeBuildText(build));
            Failed(a->host, "time refused, " + BeforeBuildText(build));
            continue;
        }
        if (p == TimePlausibility::FarFromPcClock && !InternetTimesAgree(a->utc, a->pcUtc, utc, pcUtc)) {
            LogRefused(a->host, utc, "more than a day away from the PC clock, and the server said " +
                                         FormatLogTime(a->utc) + " UTC just before");
            Failed(a->host, "second time refused, more than a day away from the PC clock");
            continue;
        }
        Time = UtcToLocalTime(utc);
        if (clock_.SetClockUtc(utc)) {
            lastHost_ = a->host;
            return true;
        }
        Failed(a->host, "the PC clock could not be set");
    }
    return false;
}
