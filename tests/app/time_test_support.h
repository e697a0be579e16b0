#pragma once
// Whether this process may send ICMP echoes, which decides what the tests of
// the real pinger expect.
#include <fstream>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace timetest {

// Linux grants ICMP datagram sockets to the groups in this range.
inline bool PingSocketAllowed() {
    std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
    long long lo = 1, hi = 0;
    return (in >> lo >> hi) && ::getegid() >= lo && ::getegid() <= hi;
}

// Otherwise a raw socket, which needs CAP_NET_RAW.
inline bool IcmpPermitted() {
    __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct d[2]{};
    return PingSocketAllowed() ||
           (::syscall(SYS_capget, &h, d) == 0 && (d[0].effective & (1u << CAP_NET_RAW)) != 0);
}

}  // namespace timetest
