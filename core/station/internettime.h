#pragma once
// Internet time: the time servers of NTPSERVERS are tried in order of
// preference; each must first answer an ICMP echo, then gives the time by
// the RFC 868 Time protocol over TCP. The data module calls this with the
// server list it reads on every call, so edits of the list count at once.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/station/clocksetter.h"
#include "core/station/ping.h"

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

// Whether a server's answer can be the time now. A time earlier than this
// program's build cannot (a server answering 0x80000000 says 1968). One more
// than a day away from the PC clock may still be right, the PC clock being
// the wrong one, so the walk believes it only when the next server that
// answers agrees with it within 10 seconds, and then uses the first one's
// value; with a PC clock earlier than the build, which is wrong for sure,
// the day is not asked. (A count of 0, 2036, never gets this far: see
// RequestTime.)
enum class TimePlausibility { Plausible, BeforeBuild, FarFromPcClock };
TimePlausibility PlausibleInternetTime(double utc, double pcUtc, double buildUtc);
// Whether two answers tell the same time within 10 seconds, each taken
// against the PC clock at the moment it came.
bool InternetTimesAgree(double utc1, double pcUtc1, double utc2, double pcUtc2);

class TInternetTime {
public:
    // Used when a server row has no usable timeout (null or not positive).
    static constexpr int kDefaultTimeoutMs = 3000;

    TInternetTime(IPinger& pinger, IClockSetter& clock) : pinger_(pinger), clock_(clock) {}

    // The TCP port of the Time protocol; tests point it at their own server.
    int TimePort = 37;

    // Internet time minus the PC's local time, in days. Offset is written
    // only when a server gave a time PlausibleInternetTime believes; every
    // time refused is logged in the general error log.
    bool GetTimeOffset(const std::vector<TimeServerEntry>& servers, double& Offset);
    // Time: the last Internet time obtained, as local date-time. With
    // SetClock the server that answered is asked once more and the PC clock
    // set from that second answer, when it is plausible by itself or agrees
    // with the first; true only when the clock was set.
    bool GetInternetTime(const std::vector<TimeServerEntry>& servers, double& Time, bool SetClock);

    // One RFC 868 request to host:TimePort. False when the connection is
    // refused, the 4 bytes do not come within timeoutMs or the server closes
    // early; also, logged, when they count 0, which is what a server without
    // a clock sends (and several such servers would agree on). utc receives
    // the time with the transit delay added.
    bool RequestTime(const std::string& host, int timeoutMs, double& utc);

    // Host of the server that gave the time in the last successful call.
    const std::string& LastHost() const { return lastHost_; }
    // After a call that found no time: each server asked and what it did
    // ("127.0.0.1: Socket error: Connection refused; ..."), or that none is listed.
    std::string FailureText() const;

private:
    struct Answer {
        std::string host;
        int timeoutMs = 0;
        double utc = 0;      // the server's time
        double pcUtc = 0;    // the PC clock when it came, as UTC
        double pcLocal = 0;  // and as local time
    };
    // Pings the server; a ping error is logged and counts as no reply.
    bool Reachable(const std::string& host, int timeoutMs);
    // Asks servers[next], servers[next + 1], ... until one gives a time the
    // rule believes; next ends past the last server asked.
    std::optional<Answer> NextBelievedAnswer(const std::vector<TimeServerEntry>& servers, size_t& next);
    static void LogRefused(const std::string& host, double utc, const std::string& why);

    void Failed(const std::string& host, const std::string& what) { failures_.push_back(host + ": " + what); }

    IPinger& pinger_;
    IClockSetter& clock_;
    std::string lastHost_;
    std::string requestFailure_;          // why the last RequestTime gave no time
    std::vector<std::string> failures_;  // of the current call
};
