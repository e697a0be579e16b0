#include "core/station/tcpclient.h"

#include "core/station/i18n.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string SysError(const std::string& what, int err) { return what + ": " + std::strerror(err); }

}  // namespace

std::string WaitText(int ms) { return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms"; }

TcpClient::~TcpClient() { Disconnect(); }

void TcpClient::Disconnect() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    pending_.clear();
}

void TcpClient::Connect(int connectTimeoutMs) {
    Disconnect();
    if (Host.empty()) throw TcpError(Tr("Host name is empty"));
    if (Port <= 0 || Port > 65535) throw TcpError(Filled(Tr("Invalid port %1"), {std::to_string(Port)}));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const std::string port = std::to_string(Port);
    const int gai = ::getaddrinfo(Host.c_str(), port.c_str(), &hints, &res);
    if (gai != 0) throw TcpError(Filled(Tr("Cannot resolve host %1: %2"), {Host, ::gai_strerror(gai)}));
    const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs);
    std::string lastError = Tr("Connection failed");
    for (addrinfo* ai = res; ai != nullptr; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) {
            lastError = SysError(Tr("Socket error"), errno);
            continue;
        }
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc < 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int prc;
            do {
                prc = ::poll(&p, 1, RemainingMs(deadline));
            } while (prc < 0 && errno == EINTR);
            if (prc == 0) {
                ::close(fd);
                lastError = Filled(Tr("Connection timed out after %1"), {WaitText(connectTimeoutMs)});
                break;
            }
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            rc = err == 0 ? 0 : -1;
            errno = err;
        }
        if (rc == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fd_ = fd;
            ::freeaddrinfo(res);
            return;
        }
        lastError = SysError(Tr("Socket error"), errno);
        ::close(fd);
    }
    ::freeaddrinfo(res);
    throw TcpError(lastError);
}

void TcpClient::Write(const std::string& data) {
    if (fd_ < 0) throw TcpError(Tr("Not connected"));
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd p{fd_, POLLOUT, 0};
                if (::poll(&p, 1, ReadTimeoutMs) <= 0) throw TcpError(Tr("Write timed out"));
                continue;
            }
            const int err = errno;
            Disconnect();
            throw TcpError(SysError(Tr("Socket error"), err));
        }
        done += static_cast<size_t>(n);
    }
}

bool TcpClient::ReceiveMore(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int rc = ::poll(&p, 1, RemainingMs(deadline));
        if (rc < 0) {
            if (errno == EINTR) continue;
            throw TcpError(SysError(Tr("Socket error"), errno));
        }
        if (rc == 0) return false;
        char buf[1024];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n == 0) {
            Disconnect();
            throw TcpError(Tr("Connection closed gracefully."));
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            const int err = errno;
            Disconnect();
            throw TcpError(SysError(Tr("Socket error"), err));
        }
        pending_.append(buf, static_cast<size_t>(n));
        return true;
    }
}

std::string TcpClient::ReadLn() {
    timedOut_ = false;
    if (fd_ < 0) throw TcpError(Tr("Not connected"));
    const auto deadline = Clock::now() + std::chrono::milliseconds(ReadTimeoutMs);
    for (;;) {
        const size_t lf = pending_.find('\n');
        if (lf != std::string::npos) {
            if (lf > MaxLineLength) {
                pending_.clear();
                throw TcpError(Tr("Reply line too long"));
            }
            std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (pending_.size() > MaxLineLength) {
            pending_.clear();
            throw TcpError(Tr("Reply line too long"));
        }
        if (!ReceiveMore(deadline)) {
            timedOut_ = true;
            return std::string();
        }
    }
}

bool TcpClient::ReadBytes(void* out, size_t n, int timeoutMs) {
    if (fd_ < 0) throw TcpError(Tr("Not connected"));
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pending_.size() < n)
        if (!ReceiveMore(deadline)) return false;
    std::memcpy(out, pending_.data(), n);
    pending_.erase(0, n);
    return true;
}

void TcpClient::DiscardPending() {
    pending_.clear();
    if (fd_ < 0) return;
    char buf[1024];
    for (;;) {
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n == 0) {
            Disconnect();  // the peer has gone; the next exchange reconnects
        }
        return;
    }
}
