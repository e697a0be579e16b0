#include "tools/timeserver/rfc868server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace timeserver {

namespace {

constexpr uint64_t kSeconds1900To1970 = 2208988800ULL;

std::runtime_error SysError(const std::string& what) { return std::runtime_error(what + ": " + std::strerror(errno)); }

void SendAll(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR) continue;
            return;  // the client has gone; nothing to tell anyone
        }
        p += k;
        n -= static_cast<size_t>(k);
    }
}

}  // namespace

uint32_t CurrentSeconds() {
    return static_cast<uint32_t>((static_cast<uint64_t>(std::time(nullptr)) + kSeconds1900To1970) & 0xffffffffULL);
}

Rfc868Server::~Rfc868Server() { Stop(); }

void Rfc868Server::Start(std::vector<Reply> script, int port) {
    if (thread_.joinable()) throw std::runtime_error("The time server is already running");
    if (script.empty()) script.push_back(Reply{});
    if (port < 0 || port > 65535) throw std::runtime_error("Invalid port " + std::to_string(port));
    script_ = std::move(script);
    accepted_ = 0;
    served_ = 0;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw SysError("socket");
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd_, 16) != 0) {
        const auto err = SysError("Cannot listen on 127.0.0.1:" + std::to_string(port));
        ::close(listenFd_);
        listenFd_ = -1;
        throw err;
    }
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        const auto err = SysError("pipe");
        ::close(listenFd_);
        listenFd_ = -1;
        throw err;
    }
    thread_ = std::thread([this] { Run(); });
}

void Rfc868Server::Stop() {
    if (thread_.joinable()) {
        const char c = 'x';
        while (::write(wakeFds_[1], &c, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int* fd : {&listenFd_, &wakeFds_[0], &wakeFds_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

bool Rfc868Server::WaitStop(int ms, int conn) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pollfd p[2] = {{wakeFds_[0], POLLIN, 0}, {conn, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int timeout = ms < 0 ? -1 : static_cast<int>(left > 0 ? left : 0);
        const int rc = ::poll(p, conn >= 0 ? 2 : 1, timeout);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return false;
        if (p[0].revents != 0) return true;
        return false;  // the connection became readable or was closed
    }
}

void Rfc868Server::Handle(int conn, const Reply& r) {
    switch (r.kind) {
        case Reply::Kind::Never:
            WaitStop(-1, conn);  // hold the connection until the client gives up
            return;
        case Reply::Kind::Answer:
        case Reply::Kind::CloseEarly: {
            if (r.delayMs > 0 && WaitStop(r.delayMs)) return;
            const uint32_t s = r.seconds ? *r.seconds : CurrentSeconds();
            const unsigned char b[4] = {static_cast<unsigned char>(s >> 24), static_cast<unsigned char>(s >> 16),
                                        static_cast<unsigned char>(s >> 8), static_cast<unsigned char>(s)};
            SendAll(conn, b, r.kind == Reply::Kind::Answer ? 4 : 2);
            return;
        }
    }
}

void Rfc868Server::Run() {
    for (;;) {
        pollfd p[2] = {{wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        const int rc = ::poll(p, 2, -1);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[0].revents != 0) return;
        const int conn = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) continue;
        const int index = accepted_++;
        const Reply& r = script_[std::min<size_t>(static_cast<size_t>(index), script_.size() - 1)];
        Handle(conn, r);
        ::close(conn);
        ++served_;
    }
}

}  // namespace timeserver
