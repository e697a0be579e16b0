#include "core/station/meterfinder.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "core/station/myutils.h"

namespace {

// A flood must not keep one step busy: the rest waits for the next step.
constexpr int kDatagramsPerStep = 256;
// The longest datagram looked at; anything longer is too long anyway.
constexpr size_t kReceiveBuffer = 512;
// An identity reply is one short line.
constexpr size_t kMaxReplyLine = 256;
constexpr int kMaxInterfaces = 8;

std::string DottedQuad(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Seconds as the messages show them: "2 s", "1.5 s".
std::string Seconds(int ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

// The broadcast address of every IPv4 interface that is up; the limited
// broadcast when none has one (it then leaves by the default route only).
std::vector<uint32_t> BroadcastAddresses() {
    std::vector<uint32_t> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* i = list; i != nullptr && static_cast<int>(out.size()) < kMaxInterfaces; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_broadaddr) continue;
            if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_BROADCAST) || (i->ifa_flags & IFF_LOOPBACK)) continue;
            const uint32_t b = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr;
            bool known = false;
            for (uint32_t x : out) known = known || x == b;
            if (!known && b != 0) out.push_back(b);
        }
        ::freeifaddrs(list);
    }
    if (out.empty()) out.push_back(htonl(INADDR_BROADCAST));
    return out;
}

}  // namespace

// One "ix" conversation, every address at once.
struct TMeterFinder::Probe {
    size_t device = 0;
    int fd = -1;
    bool sent = false;
    std::string line;
};

std::string FormatMac(const uint8_t mac[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

TMeterFinder::TMeterFinder(TFinderOptions options) : options_(std::move(options)) {}

TMeterFinder::~TMeterFinder() { CloseAll(); }

void TMeterFinder::CloseAll() {
    if (udp_ >= 0) ::close(udp_);
    udp_ = -1;
    for (Probe& p : probes_) {
        if (p.fd >= 0) ::close(p.fd);
        p.fd = -1;
    }
}

void TMeterFinder::Start() {
    if (phase_ != Phase::Idle) throw std::logic_error("The search has already started");
    if (options_.DiscoveryPort <= 0 || options_.DiscoveryPort > 65535)
        throw std::invalid_argument("Invalid discovery port " + std::to_string(options_.DiscoveryPort));
    if (options_.MeterPort <= 0 || options_.MeterPort > 65535)
        throw std::invalid_argument("Invalid meter port " + std::to_string(options_.MeterPort));
    std::vector<uint32_t> destinations;
    if (!options_.Target.empty()) {
        in_addr a{};
        if (::inet_pton(AF_INET, options_.Target.c_str(), &a) != 1)
            throw std::invalid_argument("'" + Printable(options_.Target) + "' is not an IPv4 address");
        target_ = a.s_addr;
        destinations.push_back(target_);
    } else {
        destinations = BroadcastAddresses();
    }
    udp_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (udp_ < 0) throw std::runtime_error(std::string("Cannot open a UDP socket: ") + std::strerror(errno));
    if (target_ == 0) {
        const int one = 1;
        ::setsockopt(udp_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }
    std::string lastError;
    for (uint32_t to : destinations) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(options_.DiscoveryPort));
        addr.sin_addr.s_addr = to;
        for (uint8_t function : {kQuery, kSetup}) {
            const uint8_t request[4] = {0, 0, 0, function};
            if (::sendto(udp_, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) ==
                static_cast<ssize_t>(sizeof request))
                ++counts_.Sent;
            else
                lastError = "Cannot send to " + DottedQuad(to) + ":" + std::to_string(options_.DiscoveryPort) + ": " +
                            std::strerror(errno);
        }
    }
    if (counts_.Sent == 0) {
        CloseAll();
        phase_ = Phase::Done;
        throw std::runtime_error(lastError);
    }
    phase_ = Phase::Listening;
    deadline_ = Clock::now() + std::chrono::milliseconds(std::max(0, options_.ListenMs));
}

void TMeterFinder::Run() {
    Start();
    while (Step(200)) {
    }
}

bool TMeterFinder::Step(int waitMs) {
    if (phase_ == Phase::Listening) {
        Listen(waitMs);
        if (Clock::now() >= deadline_) StartIdentifying();
    } else if (phase_ == Phase::Identifying) {
        Identify(waitMs);
    }
    return phase_ != Phase::Done;
}

void TMeterFinder::Listen(int waitMs) {
    pollfd p{udp_, POLLIN, 0};
    const int wait = std::max(0, std::min(waitMs, RemainingMs(deadline_)));
    if (::poll(&p, 1, wait) <= 0) return;
    for (int n = 0; n < kDatagramsPerStep && Clock::now() < deadline_; ++n) {
        uint8_t buf[kReceiveBuffer];
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        // MSG_TRUNC: the datagram's real length, however little of it fits.
        const ssize_t got = ::recvfrom(udp_, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got < 0) return;  // nothing more now (or an ICMP error of an earlier send)
        ++counts_.Received;
        const size_t full = static_cast<size_t>(got);
        Accept(buf, std::min(full, sizeof buf), full, from.sin_addr.s_addr);
        // The one address asked has said who it is: nothing more to wait for.
        if (target_ != 0 && !devices_.empty() && !devices_.front().Mac.empty()) {
            deadline_ = Clock::now();
            return;
        }
    }
}

TFoundDevice* TMeterFinder::Device(uint32_t address) {
    for (size_t i = 0; i < deviceAddresses_.size(); ++i)
        if (deviceAddresses_[i] == address) return &devices_[i];
    return nullptr;
}

void TMeterFinder::Accept(const uint8_t* data, size_t size, size_t fullSize, uint32_t sender) {
    if (fullSize < 4) {
        ++counts_.TooShort;
        return;
    }
    if (data[0] != 0 || data[1] != 0 || data[2] != 0 || (data[3] != kQueryReply && data[3] != kSetupReply)) {
        ++counts_.WrongFunction;
        return;
    }
    const bool query = data[3] == kQueryReply;
    const size_t min = query ? kQueryReplyMin : kSetupRecordSize;
    const size_t max = query ? kQueryReplyMax : kSetupRecordSize;
    if (fullSize < min) {
        ++counts_.TooShort;
        return;
    }
    if (fullSize > max || size < fullSize) {
        ++counts_.TooLong;
        return;
    }
    if (target_ != 0 && sender != target_) {
        ++counts_.OtherSender;
        return;
    }
    if (!query) {
        // A module without a fixed address (DHCP) keeps 0.0.0.0 in its record.
        uint32_t recorded;
        std::memcpy(&recorded, data + 4, 4);
        if (recorded != 0 && recorded != sender) {
            ++counts_.OtherAddress;
            return;
        }
    }
    TFoundDevice* device = Device(sender);
    if (device) {
        ++counts_.Duplicates;
    } else if (devices_.size() >= kMaxDevices) {
        ++counts_.TooMany;
        return;
    } else {
        devices_.emplace_back();
        deviceAddresses_.push_back(sender);
        device = &devices_.back();
        device->Address = DottedQuad(sender);
    }
    if (query && device->Mac.empty()) {
        const uint8_t* mac = data + 24;
        device->Mac = FormatMac(mac);
        device->VendorPrefix = mac[0] == 0x00 && mac[1] == 0x20 && mac[2] == 0x4A;
    }
}

void TMeterFinder::StartIdentifying() {
    ::close(udp_);
    udp_ = -1;
    phase_ = Phase::Identifying;
    deadline_ = Clock::now() + std::chrono::milliseconds(std::max(0, options_.IdentifyTimeoutMs));
    for (size_t i = 0; i < devices_.size(); ++i) {
        Probe& p = probes_.emplace_back();
        p.device = i;
        p.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (p.fd < 0) {
            Finish(p, std::string("cannot open a socket: ") + std::strerror(errno));
            continue;
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(options_.MeterPort));
        addr.sin_addr.s_addr = deviceAddresses_[i];
        if (::connect(p.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0 && errno != EINPROGRESS)
            Finish(p, "no connection to TCP port " + std::to_string(options_.MeterPort) + ": " + std::strerror(errno));
    }
    if (devices_.empty()) phase_ = Phase::Done;
}

void TMeterFinder::Finish(Probe& p, std::string notMeter) {
    if (p.fd >= 0) ::close(p.fd);
    p.fd = -1;
    TFoundDevice& d = devices_[p.device];
    d.NotMeter = std::move(notMeter);
    d.IsMeter = d.NotMeter.empty();
}

void TMeterFinder::Identify(int waitMs) {
    std::vector<pollfd> fds;
    std::vector<Probe*> open;
    for (Probe& p : probes_) {
        if (p.fd < 0) continue;
        fds.push_back({p.fd, static_cast<short>(p.sent ? POLLIN : POLLOUT), 0});
        open.push_back(&p);
    }
    if (!fds.empty()) {
        const int wait = std::max(0, std::min(waitMs, RemainingMs(deadline_)));
        if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) fds.clear();
    }
    const std::string port = std::to_string(options_.MeterPort);
    for (size_t i = 0; i < fds.size(); ++i) {
        Probe& p = *open[i];
        if (fds[i].revents == 0) continue;
        if (!p.sent) {
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0) {
                Finish(p, "no connection to TCP port " + port + ": " + std::strerror(err));
                continue;
            }
            static const char request[] = "ix\r\n";
            if (::send(p.fd, request, sizeof request - 1, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request - 1)) {
                Finish(p, std::string("the connection failed: ") + std::strerror(errno));
                continue;
            }
            p.sent = true;
            continue;
        }
        char buf[128];
        const ssize_t n = ::recv(p.fd, buf, sizeof buf, 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            Finish(p, std::string("the connection failed: ") + std::strerror(errno));
            continue;
        }
        if (n == 0) {
            Finish(p, "closed the connection without answering \"ix\"");
            continue;
        }
        p.line.append(buf, static_cast<size_t>(n));
        const size_t lf = p.line.find('\n');
        if (lf == std::string::npos) {
            if (p.line.size() > kMaxReplyLine) Finish(p, "answered \"ix\" with a line too long for a meter");
            continue;
        }
        std::string line = p.line.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        TFoundDevice& d = devices_[p.device];
        try {
            if (ParseInfoReply(line, d.Identity)) {
                Finish(p, {});
            } else {
                Finish(p, "answered \"ix\" with \"" + Printable(line) + "\"");
            }
        } catch (const std::exception& e) {
            Finish(p, "answered \"ix\" with \"" + Printable(line) + "\": " + e.what());
        }
    }
    bool waiting = false;
    for (const Probe& p : probes_) waiting = waiting || p.fd >= 0;
    if (waiting && Clock::now() >= deadline_) {
        for (Probe& p : probes_) {
            if (p.fd < 0) continue;
            Finish(p, p.sent ? "no answer to \"ix\" within " + Seconds(options_.IdentifyTimeoutMs)
                             : "no connection to TCP port " + port + " within " + Seconds(options_.IdentifyTimeoutMs));
        }
        waiting = false;
    }
    if (!waiting) phase_ = Phase::Done;
}
