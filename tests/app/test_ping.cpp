// The real ICMP echo pinger, against the loopback address only.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/wait.h>

#include "ping.h"
#include "time_test_support.h"

namespace {

// The pinger's outcome as text: the byte count, or "error: <message>".
std::string PingOutcome(const std::string& host, int timeoutMs) {
    try {
        return std::to_string(TIcmpPinger().Ping(host, timeoutMs));
    } catch (const PingError& e) {
        return std::string("error: ") + e.what();
    }
}

}  // namespace

TEST(IcmpPinger, LoopbackAnswersWithTheEchoHeader) {
    if (timetest::IcmpPermitted()) {
        // Empty payload: the reply is the 8-byte ICMP echo header alone.
        EXPECT_EQ(PingOutcome("127.0.0.1", 2000), "8");
        EXPECT_EQ(PingOutcome("localhost", 2000), "8");
        // Back to back: each call matches its own reply.
        for (int i = 0; i < 5; ++i) EXPECT_EQ(PingOutcome("127.0.0.1", 2000), "8");
    } else {
        EXPECT_EQ(PingOutcome("127.0.0.1", 2000).rfind("error: No permission to send ICMP echo requests", 0), 0u);
    }
}

TEST(IcmpPinger, UnresolvableHostsAreErrorsNamingTheHost) {
    for (const std::string host : {"nosuchhost.invalid", "A.B.INVALID", "x.invalid."}) {
        const std::string outcome = PingOutcome(host, 500);
        EXPECT_EQ(outcome.rfind("error: Cannot resolve host " + host + ": ", 0), 0u) << outcome;
    }
    EXPECT_EQ(PingOutcome("", 500), "error: Host name is empty");
}

TEST(IcmpPinger, WithoutRawSocketRightsOnlyThePingGroupRangeHelps) {
    // In a child that has given up CAP_NET_RAW: it may still ping when its
    // group may open ICMP datagram sockets, otherwise it gets a ping error.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct d[2]{};
        std::string out;
        if (::syscall(SYS_capget, &h, d) != 0) {
            out = "capget failed";
        } else {
            d[0].effective &= ~(1u << CAP_NET_RAW);
            d[0].permitted &= ~(1u << CAP_NET_RAW);
            out = ::syscall(SYS_capset, &h, d) != 0 ? "capset failed" : PingOutcome("127.0.0.1", 2000);
        }
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (timetest::PingSocketAllowed()) {
        EXPECT_EQ(out, "8");
    } else {
        EXPECT_EQ(out,
                  "error: No permission to send ICMP echo requests (the group is outside "
                  "net.ipv4.ping_group_range and raw sockets need CAP_NET_RAW)");
    }
}
