#pragma once
// Shared helpers for tests: temporary folders laid out like the program's
// own folder, with a fresh copy of the delivered database.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
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

}  // namespace testsupport
