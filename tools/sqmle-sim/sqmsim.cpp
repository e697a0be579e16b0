#include "tools/sqmle-sim/sqmsim.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
// Zero-padded fixed notation, "." always: the meter knows nothing of locales
// and neither may its simulator, which often shares a test's process.
std::string Fixed(double v, int width, int decimals) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s(buf, res.ptr);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    return s;
}

std::string Signed(double v, int width, int decimals) {
    return std::string(v < 0 ? "-" : " ") + Fixed(std::fabs(v), width, decimals);
}
}  // namespace

std::string FormatReadingReply(const SqmSimConfig& c) {
    char freq[32], counts[32];
    std::snprintf(freq, sizeof freq, "%010dHz", c.Frequency);
    std::snprintf(counts, sizeof counts, "%010dc", c.Counts);
    return "r," + Signed(c.Value, 5, 2) + "m," + freq + "," + counts + "," + Fixed(c.Period, 11, 3) + "s," +
           Signed(c.Temperature, 5, 1) + "C";
}

std::string FormatInfoReply(const SqmSimConfig& c) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "i,%08d,%08d,%08d,%08d", c.Protocol, c.Model, c.Feature, c.Serial);
    return buf;
}

std::string FormatCalibrationReply(const SqmSimConfig& c) {
    return "c," + Fixed(c.CalLightOffset, 11, 2) + "m," + Fixed(c.CalDarkPeriod, 11, 3) + "s," +
           Signed(c.CalLightTemperature, 5, 1) + "C," + Fixed(c.CalSensorOffset, 11, 2) + "m," +
           Signed(c.CalDarkTemperature, 5, 1) + "C";
}

std::string FormatQueryReply(const SqmSimConfig& c) {
    std::string reply(30, '\0');
    reply[3] = static_cast<char>(0xF7);
    for (int i = 0; i < 6; ++i) reply[24 + i] = static_cast<char>(c.Mac[i]);
    return reply;
}

std::string FormatSetupReply(const SqmSimConfig&, uint32_t ip) {
    std::string record(120, '\0');
    record[3] = static_cast<char>(0xF9);
    std::memcpy(record.data() + 4, &ip, 4);
    return record;
}

SqmSimulator::SqmSimulator(SqmSimConfig config) : config_(std::move(config)) {}

SqmSimulator::~SqmSimulator() { Stop(); }

void SqmSimulator::SetConfig(const SqmSimConfig& c) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_ = c;
}

SqmSimConfig SqmSimulator::Config() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_;
}

void SqmSimulator::Start(int port, const std::string& bindAddress, int discoveryPort) {
    if (thread_.joinable()) throw std::logic_error("Simulator already running");
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, bindAddress.c_str(), &addr.sin_addr) != 1)
        throw std::runtime_error("Invalid bind address " + bindAddress);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || ::listen(listenFd_, 16) < 0) {
        const std::string err = std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        throw std::runtime_error("Cannot listen on " + bindAddress + ":" + std::to_string(port) + ": " + err);
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    bindIp_ = addr.sin_addr.s_addr;
    if (discoveryPort >= 0) {
        udpFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in u = addr;
        u.sin_port = htons(static_cast<uint16_t>(discoveryPort));
        if (udpFd_ < 0 || ::bind(udpFd_, reinterpret_cast<sockaddr*>(&u), sizeof u) < 0) {
            const std::string err = std::strerror(errno);
            if (udpFd_ >= 0) ::close(udpFd_);
            ::close(listenFd_);
            udpFd_ = listenFd_ = -1;
            throw std::runtime_error("Cannot answer discovery on " + bindAddress + ":" + std::to_string(discoveryPort) +
                                     " (UDP): " + err);
        }
        len = sizeof u;
        ::getsockname(udpFd_, reinterpret_cast<sockaddr*>(&u), &len);
        discoveryPort_ = ntohs(u.sin_port);
    }
    if (::pipe2(wakeFd_, O_CLOEXEC) < 0) throw std::runtime_error("pipe failed");
    stopping_ = false;
    thread_ = std::thread([this] { Serve(); });
}

void SqmSimulator::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    const char c = 'x';
    (void)!::write(wakeFd_[1], &c, 1);
    thread_.join();
    ::close(listenFd_);
    if (udpFd_ >= 0) ::close(udpFd_);
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
    listenFd_ = udpFd_ = -1;
    wakeFd_[0] = wakeFd_[1] = -1;
}

void SqmSimulator::Serve() {
    // One thread serves every connection: the meter answers one request at a time too.
    std::vector<int> clients;
    std::vector<std::string> buffers;
    while (!stopping_) {
        std::vector<pollfd> fds;
        fds.push_back({wakeFd_[0], POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        fds.push_back({udpFd_, POLLIN, 0});  // a negative fd is left out by poll
        for (int fd : clients) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) break;
        if (fds[0].revents) break;
        if (fds[2].revents & POLLIN) AnswerDiscovery();
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back(fd);
                buffers.emplace_back();
                ++open_;
            }
        }
        for (size_t i = 3; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            const size_t k = i - 3;
            char buf[512];
            const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
            bool drop = n <= 0;
            if (n > 0) buffers[k].append(buf, static_cast<size_t>(n));
            size_t nl;
            while (!drop && (nl = buffers[k].find('\n')) != std::string::npos) {
                std::string cmd = buffers[k].substr(0, nl);
                buffers[k].erase(0, nl + 1);
                if (!cmd.empty() && cmd.back() == '\r') cmd.pop_back();
                ++requests_;
                const SqmSimConfig c = Config();
                if (c.CloseOnRequest) {
                    drop = true;
                    break;
                }
                if (c.Silent || (c.SilentInfo && cmd == "ix")) continue;
                std::string reply;
                if (cmd == "rx")
                    reply = c.RawReading.empty() ? FormatReadingReply(c) : c.RawReading;
                else if (cmd == "ix")
                    reply = c.RawInfo.empty() ? FormatInfoReply(c) : c.RawInfo;
                else if (cmd == "cx" && c.AnswerCalibration)
                    reply = c.RawCalibration.empty() ? FormatCalibrationReply(c) : c.RawCalibration;
                else
                    continue;  // the meter ignores what it does not know
                if (c.DelayMs > 0) {
                    // Sleep in slices so that Stop() is not held up for long.
                    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(c.DelayMs);
                    while (!stopping_ && std::chrono::steady_clock::now() < until)
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                reply += "\r\n";
                (void)!::send(fds[i].fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            if (drop) {
                ::close(fds[i].fd);
                --open_;
                clients[k] = -1;
            }
        }
        for (size_t k = clients.size(); k-- > 0;) {
            if (clients[k] < 0) {
                clients.erase(clients.begin() + k);
                buffers.erase(buffers.begin() + k);
            }
        }
    }
    for (int fd : clients) ::close(fd);
    open_ = 0;
}

void SqmSimulator::AnswerDiscovery() {
    // The module answers a request of four bytes 00 00 00 F6 or F8 and keeps
    // quiet about anything else.
    for (int n = 0; n < 64; ++n) {
        unsigned char buf[64];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t got = ::recvfrom(udpFd_, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
        if (got < 0) return;
        if (got != 4 || buf[0] != 0 || buf[1] != 0 || buf[2] != 0) continue;
        ++discoveryRequests_;
        const SqmSimConfig c = Config();
        std::string reply;
        if (buf[3] == 0xF6 && c.AnswerQuery)
            reply = FormatQueryReply(c);
        else if (buf[3] == 0xF8 && c.AnswerSetup)
            reply = FormatSetupReply(c, bindIp_);
        else
            continue;
        (void)!::sendto(udpFd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}
