#pragma once
// Reachability of time servers: one ICMP echo request with a reply timeout.
#include <stdexcept>
#include <string>

// Sends one echo and waits for its reply.
class IPinger {
public:
    virtual ~IPinger() = default;
    // Bytes of the echo reply (its ICMP header and payload), 0 when no reply
    // came within timeoutMs. Throws std::exception with a readable message when
    // the echo cannot be sent at all (unknown host, no right to send ICMP, ...).
    virtual int Ping(const std::string& host, int timeoutMs) = 0;
};

class PingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The real pinger. It prefers the unprivileged ICMP datagram socket, which
// Linux grants to the groups in net.ipv4.ping_group_range, and falls back to
// a raw socket (CAP_NET_RAW). When neither is permitted Ping throws PingError.
// The echo carries no payload, so an answering host gives 8.
class TIcmpPinger : public IPinger {
public:
    int Ping(const std::string& host, int timeoutMs) override;
};
