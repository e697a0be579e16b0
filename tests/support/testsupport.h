#pragma once
// Shared helpers for tests: temporary folders laid out like the program's
// own folder, with a fresh copy of the delivered database.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#ifndef KALO_PRISTINE_DB
#error "KALO_PRISTINE_DB must name the pristine database built from db/schema.sql"
#endif

namespace testsupport {

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto p = std::filesystem::temp_directory_path() /
                     ("kalo-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
            if (std::filesystem::create_directory(p)) {
                path_ = p;
                return;
            }
        }
        throw std::runtime_error("cannot create a temporary folder");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Copies the pristine database to <dir>/Dati/KALOSQMDATA.FDB and returns its path.
inline std::string CopyPristineDb(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / "Dati");
    const auto target = dir / "Dati" / "KALOSQMDATA.FDB";
    std::filesystem::copy_file(KALO_PRISTINE_DB, target, std::filesystem::copy_options::overwrite_existing);
    return target.string();
}

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A port of 127.0.0.1 where nothing listens.
inline int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A port of 127.0.0.1 that listens but whose queue of connections waiting to
// be accepted is full: the system drops every further attempt unanswered, as
// a host that has gone away does, so a connect only ends with its timeout.
class TFullBacklog {
public:
    TFullBacklog() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), len);
        ::listen(listen_, 0);
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        // Connect until an attempt stays unanswered: the queue is then full.
        for (int i = 0; i < 16 && !full_; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            fillers_.push_back(fd);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0) continue;
            pollfd p{fd, POLLOUT, 0};
            full_ = ::poll(&p, 1, 500) == 0;
        }
    }
    ~TFullBacklog() {
        for (const int fd : fillers_) ::close(fd);
        ::close(listen_);
    }
    TFullBacklog(const TFullBacklog&) = delete;
    TFullBacklog& operator=(const TFullBacklog&) = delete;
    int Port() const { return port_; }
    // False where the system refuses instead of dropping: no test can be made.
    bool Full() const { return full_; }

private:
    int listen_ = -1;
    int port_ = 0;
    bool full_ = false;
    std::vector<int> fillers_;
};

}  // namespace testsupport
