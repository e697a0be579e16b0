#include "internettime.h"

#include "errorlog.h"
#include "fbdb.h"
#include "myutils.h"
#include "tcpclient.h"

#include <chrono>

namespace {

constexpr double kDay1900 = 2.0;  // 1900-01-01 00:00 on the date-time scale
constexpr double kEraSeconds = 4294967296.0;

int EffectiveTimeout(int timeoutMs) { return timeoutMs > 0 ? timeoutMs : TInternetTime::kDefaultTimeoutMs; }

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

bool TInternetTime::RequestTime(const std::string& host, int timeoutMs, double& utc) {
    using Clock = std::chrono::steady_clock;
    try {
        TcpClient client;
        client.Host = host;
        client.Port = TimePort;
        // A server that answered the echo but drops the connection attempt
        // must not hold the window for the system's two-minute connect timeout.
        client.Connect(timeoutMs);
        const auto start = Clock::now();
        unsigned char b[4];
        if (!client.ReadBytes(b, sizeof b, timeoutMs)) return false;
        const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        client.Disconnect();
        const uint32_t seconds = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                                 static_cast<uint32_t>(b[2]) << 8 | static_cast<uint32_t>(b[3]);
        utc = Rfc868ToUtc(seconds, elapsedMs / 2);
        return true;
    } catch (const std::exception&) {
        return false;  // refused, closed early, unresolvable: just the next server
    }
}

bool TInternetTime::Reachable(const std::string& host, int timeoutMs) {
    try {
        return pinger_.Ping(host, timeoutMs) > 0;
    } catch (const std::exception& e) {
        WriteErrorLog(FormatLogTime(NowLocal()) + " - NTP Server Exception - HOST: " + host + " - " + e.what(), "");
    } catch (...) {
        WriteErrorLog(FormatLogTime(NowLocal()) + " - NTP Server Exception - HOST: " + host + " - Unknown error", "");
    }
    return false;
}

bool TInternetTime::GetTimeOffset(const std::vector<TimeServerEntry>& servers, double& Offset) {
    for (const TimeServerEntry& s : servers) {
        const std::string host = Trim(s.Host);
        const int timeout = EffectiveTimeout(s.TimeoutMs);
        if (!Reachable(host, timeout)) continue;
        double utc = 0;
        if (!RequestTime(host, timeout, utc)) continue;
        Offset = UtcToLocalTime(utc) - NowLocal();
        lastHost_ = host;
        return true;
    }
    return false;
}

bool TInternetTime::GetInternetTime(const std::vector<TimeServerEntry>& servers, double& Time, bool SetClock) {
    for (const TimeServerEntry& s : servers) {
        const std::string host = Trim(s.Host);
        const int timeout = EffectiveTimeout(s.TimeoutMs);
        if (!Reachable(host, timeout)) continue;
        double utc = 0;
        if (!RequestTime(host, timeout, utc)) continue;
        Time = UtcToLocalTime(utc);
        if (!SetClock) {
            lastHost_ = host;
            return true;
        }
        // The clock is set from a fresh answer, the first one having aged
        // by the time it took to get it.
        if (!RequestTime(host, timeout, utc)) continue;
        Time = UtcToLocalTime(utc);
        if (clock_.SetClockUtc(utc)) {
            lastHost_ = host;
            return true;
        }
    }
    return false;
}
