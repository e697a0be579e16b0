#pragma once
// Whether this process may send ICMP echoes, which decides what the tests of
// the real pinger expect.
#include <algorithm>
#include <fstream>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace timetest {

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
