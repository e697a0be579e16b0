#pragma once
// The MariaDB test server that CTest starts for the network tests
// (db/network/start-server.sh): each test gets its own database with the
// network schema and its own accounts, so tests may run in parallel, and
// reads back from the server's general log which statements they sent.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "core/station/credentials.h"
#include "core/station/myutils.h"
#include "core/station/netdatabase.h"
#include "support/testsupport.h"

namespace nettest {

namespace fs = std::filesystem;

inline int ServerPort() {
    const std::string text = testsupport::ReadFile(fs::path(KALO_NETDB_DIR) / "port");
    if (text.empty()) throw std::runtime_error("the MariaDB test server is not running (no port file in " KALO_NETDB_DIR ")");
    return std::stoi(text);
}

inline double SecondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// A socket on a free port of 127.0.0.1; a listening one accepts
// connections and never says a word.
class LoopbackSocket {
public:
    explicit LoopbackSocket(bool listening) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a = Loopback(0);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || (listening && ::listen(fd_, 8) != 0) ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("cannot bind a socket on 127.0.0.1");
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackSocket() { ::close(fd_); }
    int Port() const { return port_; }
    int Fd() const { return fd_; }

private:
    int fd_;
    int port_ = 0;
};

using testsupport::ClosedPort;

// The statements ("Query" entries of the general log) that one account sent.
inline std::vector<std::string> StatementsOf(const std::string& user) {
    static const std::regex entry(R"(^(?:\d{6}\s+\d{1,2}:\d{2}:\d{2})?\s+(\d+) (\w[\w ]*?)\t(.*)$)");
    static const std::regex connect(R"(^([^@]*)@\S* (?:as \S+ )?on \S* using .*$)");
    std::istringstream in(testsupport::ReadFile(fs::path(KALO_NETDB_DIR) / "general.log"));
    std::map<std::string, std::string> userOf;  // by connection id
    std::vector<std::string> out;
    bool continued = false;  // a statement of this account spanning lines
    for (std::string line; std::getline(in, line);) {
        std::smatch m, c;
        if (!std::regex_match(line, m, entry)) {
            if (continued) out.back() += "\n" + line;
            continue;
        }
        const std::string id = m[1], command = m[2], arg = m[3];
        if (command == "Connect" && std::regex_match(arg, c, connect)) userOf[id] = c[1];
        continued = command == "Query" && userOf[id] == user;
        if (continued) out.push_back(arg);
    }
    return out;
}

// A TCP relay on 127.0.0.1 to the test server that can be told to go
// silent: it then keeps every connection open and passes nothing on, as a
// server does that stops answering.
class SilentRelay {
public:
    SilentRelay() : thread_([this] { Run(); }) {}
    ~SilentRelay() {
        stop_ = true;
        thread_.join();
        for (int fd : fds_) ::close(fd);
    }
    int Port() const { return listener_.Port(); }
    void GoSilent() { silent_ = true; }

private:
    void Run() {
        std::vector<std::pair<int, int>> pairs;  // client, server
        while (!stop_) {
            std::vector<pollfd> p{{listener_.Fd(), POLLIN, 0}};
            std::vector<size_t> of;  // the pair of each polled socket
            if (!silent_)
                for (size_t k = 0; k < pairs.size(); ++k) {
                    if (pairs[k].first < 0) continue;
                    p.push_back({pairs[k].first, POLLIN, 0});
                    p.push_back({pairs[k].second, POLLIN, 0});
                    of.push_back(k);
                    of.push_back(k);
                }
            if (::poll(p.data(), p.size(), 20) <= 0) continue;
            if (p[0].revents & POLLIN) {
                const int c = ::accept(listener_.Fd(), nullptr, nullptr);
                const int s = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in a = Loopback(ServerPort());
                if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) pairs.emplace_back(c, s);
                fds_.push_back(c);
                fds_.push_back(s);
            }
            for (size_t i = 1; i < p.size(); ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
                auto& pair = pairs[of[i - 1]];
                if (pair.first < 0) continue;
                const int to = p[i].fd == pair.first ? pair.second : pair.first;
                char buf[16384];
                const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                if (n > 0) {
                    (void)!::write(to, buf, static_cast<size_t>(n));
                } else {  // one side left: so does the other
                    ::shutdown(pair.first, SHUT_RDWR);
                    ::shutdown(pair.second, SHUT_RDWR);
                    pair = {-1, -1};
                }
            }
        }
    }
    LoopbackSocket listener_{true};
    std::atomic<bool> stop_{false}, silent_{false};
    std::vector<int> fds_;
    std::thread thread_;  // last: it runs on the members above
};

// A TCP relay on 127.0.0.1 to the test server that can be taken down, so
// that its port refuses connections as a stopped server's does, and brought
// back on the same port: an outage of the network database without
// stopping the server the other tests share.
class SwitchableRelay {
public:
    SwitchableRelay() { Up(); }
    ~SwitchableRelay() { Down(); }
    int Port() const { return port_; }
    void Up() {
        if (thread_.joinable()) return;
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = Loopback(port_);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port_));
        port_ = ntohs(a.sin_port);
        stop_ = false;
        thread_ = std::thread([this] { Run(); });
    }
    // Every connection is closed with the listener.
    void Down() {
        if (!thread_.joinable()) return;
        stop_ = true;
        thread_.join();
        ::close(listener_);
        for (const auto& [c, s] : pairs_) {
            ::close(c);
            ::close(s);
        }
        pairs_.clear();
    }

private:
    void Run() {
        while (!stop_) {
            std::vector<pollfd> p{{listener_, POLLIN, 0}};
            for (const auto& [c, s] : pairs_) {
                p.push_back({c, POLLIN, 0});
                p.push_back({s, POLLIN, 0});
            }
            if (::poll(p.data(), p.size(), 20) <= 0) continue;
            std::vector<bool> gone(pairs_.size(), false);
            for (size_t i = 1; i < p.size(); ++i) {
                const size_t k = (i - 1) / 2;
                if (gone[k] || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const auto [c, s] = pairs_[k];
                char buf[16384];
                const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                if (n > 0)
                    (void)!::write(p[i].fd == c ? s : c, buf, static_cast<size_t>(n));
                else  // one side left: so does the other
                    gone[k] = true;
            }
            for (size_t k = pairs_.size(); k-- > 0;)
                if (gone[k]) {
                    ::close(pairs_[k].first);
                    ::close(pairs_[k].second);
                    pairs_.erase(pairs_.begin() + static_cast<long>(k));
                }
            if (p[0].revents & POLLIN) {
                const int c = ::accept(listener_, nullptr, nullptr);
                const int s = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in a = Loopback(ServerPort());
                if (c >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                    pairs_.emplace_back(c, s);
                } else {
                    if (c >= 0) ::close(c);
                    ::close(s);
                }
            }
        }
    }
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<std::pair<int, int>> pairs_;  // client, server
    std::thread thread_;
};

// A database of its own with the network schema, a full account ("w...")
// and a read-only one ("r..."), all dropped at the end.
class NetworkDb {
public:
    NetworkDb() {
        std::random_device rd;
        const std::string suffix = std::to_string(::getpid()) + "_" + std::to_string(rd() % 1000000);
        name_ = "t_" + suffix;
        writer_ = "w" + suffix;
        reader_ = "r" + suffix;
        for (const std::string& sql :
             {"CREATE DATABASE `" + name_ + "` CHARACTER SET utf8mb4 COLLATE utf8mb4_bin",
              "CREATE USER '" + writer_ + "'@'127.0.0.1' IDENTIFIED BY 'pw-" + writer_ + "'",
              "GRANT ALL PRIVILEGES ON `" + name_ + "`.* TO '" + writer_ + "'@'127.0.0.1'",
              "CREATE USER '" + reader_ + "'@'127.0.0.1' IDENTIFIED BY 'pw-" + reader_ + "'",
              "GRANT SELECT ON `" + name_ + "`.* TO '" + reader_ + "'@'127.0.0.1'"})
            AdminIn("", sql);
        // The schema file ends each statement with a semicolon at a line end.
        std::istringstream schema(testsupport::ReadFile(KALO_NETDB_SCHEMA));
        std::string statement;
        for (std::string line; std::getline(schema, line);) {
            if (line.rfind("--", 0) == 0) continue;
            statement += line + "\n";
            if (!line.empty() && line.back() == ';') {
                Admin(statement.substr(0, statement.size() - 2));
                statement.clear();
            }
        }
    }
    ~NetworkDb() {
        try {
            AdminIn("", "DROP DATABASE IF EXISTS `" + name_ + "`");
            AdminIn("", "DROP USER IF EXISTS '" + writer_ + "'@'127.0.0.1', '" + reader_ + "'@'127.0.0.1'");
        } catch (...) {
        }
    }
    NetworkDb(const NetworkDb&) = delete;
    NetworkDb& operator=(const NetworkDb&) = delete;

    // The statements the full account sent.
    std::vector<std::string> Sent() const { return StatementsOf(writer_); }

    // Runs a statement as the administrator in this database.
    netdb::Result Admin(const std::string& sql) const { return AdminIn(name_, sql); }
    // Adds a network site; returns its SIT_ID.
    int AddSite(const std::string& code) const {
        netdb::Connection c;
        Open(c, name_);
        c.Query("INSERT INTO SQMSITES (SIT_CODE) VALUES (" + c.Quote(code) + ")");
        return netdb::ParseInteger(c.Query("SELECT LAST_INSERT_ID()").FirstText());
    }
    // Plain credentials for this database and one of its accounts.
    TCredentials Credentials(const std::string& code, bool readOnly = false) const {
        const std::string& user = readOnly ? reader_ : writer_;
        return {code, user, "pw-" + user, "127.0.0.1", ServerPort(), name_, true, true};
    }

private:
    static void Open(netdb::Connection& c, const std::string& database) {
        if (!c.Connect({"127.0.0.1", ServerPort(), "root", "kalo-admin", database, 5})) throw std::runtime_error("admin connect: " + c.LastError());
    }
    static netdb::Result AdminIn(const std::string& database, const std::string& sql) {
        netdb::Connection c;
        Open(c, database);
        return c.Query(sql);
    }
    std::string name_, writer_, reader_;
};

// Writes the credentials file of the site into the program folder.
inline void InstallCredentials(const TCredentials& c) {
    fs::create_directories(fs::path(CredentialsFileName(c.SiteCode)).parent_path());
    WriteCredentialsFile(CredentialsFileName(c.SiteCode), c);
}

// A program folder of its own, where the credentials files are installed.
class ProgramDirTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramDir(dir_.Str()); }
    static void Install(const TCredentials& c) { InstallCredentials(c); }
    testsupport::TempDir dir_;
};

}  // namespace nettest
