#pragma once
// Shared by the Internet-time tests: the rows of the time-server table, a
// pinger and a clock setter that stand in for the machine's, and whether
// this process may send ICMP echoes, which decides what the tests of the
// real pinger expect.
#include <algorithm>
#include <fstream>
#include <linux/capability.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "core/station/internettime.h"

namespace timetest {

// The statements that leave only these rows, "('host', order, timeout)", in NTPSERVERS.
inline std::vector<std::string> TimeServerRows(const std::vector<std::string>& rows) {
    std::vector<std::string> sql{"DELETE FROM NTPSERVERS"};
    for (const auto& r : rows) sql.push_back("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES " + r);
    return sql;
}

// Every host answers the echo.
struct AnsweringPinger : IPinger {
    int Ping(const std::string&, int) override { return 8; }
};

// Keeps every time it is asked to set; succeeds when allowed.
struct RecordingClock : IClockSetter {
    bool allow = true;
    std::vector<double> set;
    bool SetClockUtc(double utc) override {
        set.push_back(utc);
        return allow;
    }
};

// Linux grants ICMP datagram sockets when the effective group or any
// supplementary group is in this range.
inline bool PingSocketAllowed() {
    std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
    long long lo = 1, hi = 0;
    if (!(in >> lo >> hi)) return false;
    const auto inRange = [&](gid_t g) { return g >= lo && g <= hi; };
    std::vector<gid_t> groups(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<size_t>(std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    return inRange(::getegid()) || std::any_of(groups.begin(), groups.end(), inRange);
}

// Otherwise a raw socket, which needs CAP_NET_RAW.
inline bool IcmpPermitted() {
    __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct d[2]{};
    return PingSocketAllowed() ||
           (::syscall(SYS_capget, &h, d) == 0 && (d[0].effective & (1u << CAP_NET_RAW)) != 0);
}

}  // namespace timetest
