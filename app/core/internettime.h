#pragma once
// Internet time: the time servers of NTPSERVERS are tried in order of
// preference; each must first answer an ICMP echo, then gives the time by
// the RFC 868 Time protocol over TCP. The data module calls this with the
// server list it reads on every call, so edits of the list count at once.
#include <cstdint>
#include <string>
#include <vector>

#include "clocksetter.h"
#include "ping.h"

namespace fb {
class Database;
class Transaction;
}  // namespace fb

struct TimeServerEntry {
    std::string Host;   // NTP_HOST
    int Order = 0;      // NTP_ORDER
    int TimeoutMs = 0;  // NTP_TIMEOUT: echo reply timeout and time request timeout
};

// "select * from NTPSERVERS order by NTP_ORDER". The first form runs in a
// transaction of its own ("read_committed", "rec_version", "nowait"); the
// second in the caller's, which then also sees its uncommitted edits.
// Null orders and timeouts read as 0. Throws fb::Error.
std::vector<TimeServerEntry> LoadTimeServers(fb::Database& db);
std::vector<TimeServerEntry> LoadTimeServers(fb::Transaction& tr);

// The UTC date-time of an RFC 868 answer: seconds since 1900-01-01 00:00 UTC
// plus the transit delay in whole seconds. Answers with the top bit clear
// belong to the era that starts 2036-02-07 06:28:16, when the 32-bit count
// wraps (the same rule NTP uses), so the program keeps working after it.
double Rfc868ToUtc(uint32_t seconds, int64_t transitDelayMs);
// A UTC date-time in the PC's zone, with the daylight rule in force then.
double UtcToLocalTime(double utc);

class TInternetTime {
public:
    // Used when a server row has no usable timeout (null or not positive).
    static constexpr int kDefaultTimeoutMs = 3000;

    TInternetTime(IPinger& pinger, IClockSetter& clock) : pinger_(pinger), clock_(clock) {}

    // The TCP port of the Time protocol; tests point it at their own server.
    int TimePort = 37;

    // Internet time minus the PC's local time, in days. Offset is written
    // only when a server gave the time.
    bool GetTimeOffset(const std::vector<TimeServerEntry>& servers, double& Offset);
    // Time: the last Internet time obtained, as local date-time. With
    // SetClock the server that answered is asked once more and the PC clock
    // set from that second answer; true only when the clock was set.
    bool GetInternetTime(const std::vector<TimeServerEntry>& servers, double& Time, bool SetClock);

    // One RFC 868 request to host:TimePort. False when the connection is
    // refused, the 4 bytes do not come within timeoutMs or the server closes
    // early. utc receives the time with the transit delay added.
    bool RequestTime(const std::string& host, int timeoutMs, double& utc);

    // Host of the server that gave the time in the last successful call.
    const std::string& LastHost() const { return lastHost_; }

private:
    // Pings the server; a ping error is logged and counts as no reply.
    bool Reachable(const std::string& host, int timeoutMs);

    IPinger& pinger_;
    IClockSetter& clock_;
    std::string lastHost_;
};
