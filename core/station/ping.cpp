#include "core/station/ping.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kEchoRequest4 = 8, kEchoReply4 = 0;
constexpr uint8_t kEchoRequest6 = 128, kEchoReply6 = 129;

std::atomic<uint16_t> g_sequence{static_cast<uint16_t>(::getpid())};

struct Target {
    sockaddr_storage addr{};
    socklen_t len = 0;
    int family = AF_UNSPEC;
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Names under the reserved "invalid" domain never exist; they are refused
// here without bothering the name servers.
bool IsReservedInvalidName(const std::string& host) {
    std::string h = Lower(host);
    if (!h.empty() && h.back() == '.') h.pop_back();
    return h == "invalid" || (h.size() > 8 && h.compare(h.size() - 8, 8, ".invalid") == 0);
}

Target Resolve(const std::string& host) {
    if (host.empty()) throw PingError("Host name is empty");
    const std::string notFound = "Cannot resolve host " + host + ": ";
    if (IsReservedInvalidName(host)) throw PingError(notFound + ::gai_strerror(EAI_NONAME));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &res);
    if (rc != 0) throw PingError(notFound + ::gai_strerror(rc));
    Target t;
    for (addrinfo* ai = res; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        std::memcpy(&t.addr, ai->ai_addr, ai->ai_addrlen);
        t.len = ai->ai_addrlen;
        t.family = ai->ai_family;
        break;
    }
    ::freeaddrinfo(res);
    if (t.family == AF_UNSPEC) throw PingError(notFound + "no IPv4 or IPv6 address");
    return t;
}

bool SameHost(const Target& t, const sockaddr_storage& from) {
    if (from.ss_family != t.family) return false;
    if (t.family == AF_INET) {
        return reinterpret_cast<const sockaddr_in&>(from).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(t.addr).sin_addr.s_addr;
    }
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(from).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(t.addr).sin6_addr, sizeof(in6_addr)) == 0;
}

uint16_t Checksum(const uint8_t* data, size_t len) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < len; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (len % 2) sum += static_cast<uint32_t>(data[len - 1] << 8);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

bool IsPermissionError(int err) {
    return err == EACCES || err == EPERM || err == EPROTONOSUPPORT || err == ESOCKTNOSUPPORT;
}

// The datagram kind first: it needs no privilege where the system grants it.
int OpenIcmpSocket(int family, bool& raw) {
    const int proto = family == AF_INET ? static_cast<int>(IPPROTO_ICMP) : static_cast<int>(IPPROTO_ICMPV6);
    int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, proto);
    if (fd >= 0) {
        raw = false;
        return fd;
    }
    const int dgramErr = errno;
    if (!IsPermissionError(dgramErr)) throw PingError(std::string("Cannot open an ICMP socket: ") + std::strerror(dgramErr));
    fd = ::socket(family, SOCK_RAW | SOCK_CLOEXEC, proto);
    if (fd >= 0) {
        raw = true;
        return fd;
    }
    const int rawErr = errno;
    if (IsPermissionError(rawErr))
        throw PingError("No permission to send ICMP echo requests (the group is outside net.ipv4.ping_group_range "
                        "and raw sockets need CAP_NET_RAW)");
    throw PingError(std::string("Cannot open an ICMP socket: ") + std::strerror(rawErr));
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

int TIcmpPinger::Ping(const std::string& host, int timeoutMs) {
    const Target target = Resolve(host);
    bool raw = false;
    Socket sock(OpenIcmpSocket(target.family, raw));
    const bool v4 = target.family == AF_INET;

    // On datagram sockets the kernel puts its own identifier in and hands us
    // only the replies that carry it; on raw sockets we see every reply.
    const uint16_t id = static_cast<uint16_t>(::getpid());
    const uint16_t seq = g_sequence.fetch_add(1);
    uint8_t request[8] = {v4 ? kEchoRequest4 : kEchoRequest6, 0, 0, 0,
                          static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id),
                          static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
    if (v4) {  // ICMPv6 checksums involve the addresses; the kernel fills them in
        const uint16_t sum = Checksum(request, sizeof request);
        request[2] = static_cast<uint8_t>(sum >> 8);
        request[3] = static_cast<uint8_t>(sum);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        const ssize_t n = ::sendto(sock.fd(), request, sizeof request, 0,
                                   reinterpret_cast<const sockaddr*>(&target.addr), target.len);
        if (n >= 0) break;
        if (errno == EINTR) continue;
        const int err = errno;
        if (err == EHOSTUNREACH || err == ENETUNREACH) return 0;
        throw PingError("Cannot send the echo request to " + host + ": " + std::strerror(err));
    }

    uint8_t buf[2048];
    for (;;) {
        pollfd p{sock.fd(), POLLIN, 0};
        const int prc = ::poll(&p, 1, RemainingMs(deadline));
        if (prc < 0) {
            if (errno == EINTR) continue;
            throw PingError(std::string("Error while waiting for the echo reply: ") + std::strerror(errno));
        }
        if (prc == 0) return 0;
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        const ssize_t got = ::recvfrom(sock.fd(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            // An ICMP error reported on the socket: the host did not answer.
            if (errno == EHOSTUNREACH || errno == ENETUNREACH || errno == ECONNREFUSED) return 0;
            throw PingError(std::string("Error while receiving the echo reply: ") + std::strerror(errno));
        }
        size_t offset = 0;
        if (raw && v4) {  // raw IPv4 sockets deliver the IP header too
            if (got < 1) continue;
            offset = static_cast<size_t>(buf[0] & 0x0f) * 4;
        }
        if (static_cast<size_t>(got) < offset + 8) continue;
        const uint8_t* icmp = buf + offset;
        const size_t icmpLen = static_cast<size_t>(got) - offset;
        if (!SameHost(target, from)) continue;
        if (icmp[0] != (v4 ? kEchoReply4 : kEchoReply6) || icmp[1] != 0) continue;
        const uint16_t replyId = static_cast<uint16_t>(icmp[4] << 8 | icmp[5]);
        const uint16_t replySeq = static_cast<uint16_t>(icmp[6] << 8 | icmp[7]);
        if (replySeq != seq || (raw && replyId != id)) continue;
        return static_cast<int>(icmpLen);
    }
}
