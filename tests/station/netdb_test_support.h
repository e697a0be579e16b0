#pragma once
// The MariaDB test server that CTest starts for the network tests
// (db/network/start-server.sh): each test gets its own database with the
// network schema and its own accounts, so tests may run in parallel, and
// can read back from the server's general log exactly which statements
// their accounts sent.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "credentials.h"
#include "netdatabase.h"

#ifndef KALO_NETDB_DIR
#error "KALO_NETDB_DIR must name the folder of the test server"
#endif
#ifndef KALO_NETDB_SCHEMA
#error "KALO_NETDB_SCHEMA must name db/network/schema.sql"
#endif

namespace nettest {

inline const char* kAdminPassword = "kalo-admin";

inline std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline int ServerPort() {
    const std::string text = Slurp(std::filesystem::path(KALO_NETDB_DIR) / "port");
    if (text.empty()) throw std::runtime_error("the MariaDB test server is not running (no port file in " KALO_NETDB_DIR ")");
    return std::stoi(text);
}

inline netdb::ConnectParams AdminParams(const std::string& database = "") {
    netdb::ConnectParams p;
    p.Host = "127.0.0.1";
    p.Port = ServerPort();
    p.User = "root";
    p.Password = kAdminPassword;
    p.Database = database;
    p.ConnectTimeoutSeconds = 5;
    return p;
}

// A port on 127.0.0.1 where nothing listens.
inline int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A listener on 127.0.0.1 that accepts connections and never says a word.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0)
            throw std::runtime_error("cannot listen");
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// One statement the server received, as its general log shows it.
struct LoggedStatement {
    std::string user;
    std::string database;
    std::string text;
};

// Every "Query" entry of the general log, with the account and database of
// the connection that sent it.
inline std::vector<LoggedStatement> GeneralLog() {
    std::istringstream in(Slurp(std::filesystem::path(KALO_NETDB_DIR) / "general.log"));
    static const std::regex entry(R"(^(?:\d{6}\s+\d{1,2}:\d{2}:\d{2})?\s+(\d+) (\w[\w ]*?)\t(.*)$)");
    static const std::regex connect(R"(^([^@]*)@\S* (?:as \S+ )?on (\S*) using .*$)");
    std::map<std::string, std::pair<std::string, std::string>> sessions;
    std::vector<LoggedStatement> out;
    std::string line;
    bool lastWasQuery = false;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, entry)) {
            const std::string id = m[1], command = m[2], arg = m[3];
            lastWasQuery = false;
            if (command == "Connect") {
                std::smatch c;
                if (std::regex_match(arg, c, connect)) sessions[id] = {c[1], c[2]};
            } else if (command == "Query") {
                const auto& s = sessions[id];
                out.push_back({s.first, s.second, arg});
                lastWasQuery = true;
            }
        } else if (lastWasQuery && !out.empty()) {
            out.back().text += "\n" + line;  // a statement spanning lines
        }
    }
    return out;
}

// The statements sent by one account.
inline std::vector<std::string> StatementsOf(const std::string& user) {
    std::vector<std::string> out;
    for (const auto& s : GeneralLog())
        if (s.user == user) out.push_back(s.text);
    return out;
}

// A database of its own with the network schema, a full account ("w...")
// and a read-only one ("r..."), all dropped at the end.
class NetworkDb {
public:
    NetworkDb() {
        std::random_device rd;
        suffix_ = std::to_string(::getpid()) + "_" + std::to_string(rd() % 1000000);
        name_ = "t_" + suffix_;
        writer_ = "w" + suffix_;
        reader_ = "r" + suffix_;
        netdb::Connection c;
        if (!c.Connect(AdminParams())) throw std::runtime_error("admin connect: " + c.LastError());
        c.Query("CREATE DATABASE `" + name_ + "` CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
        c.Query("CREATE USER '" + writer_ + "'@'127.0.0.1' IDENTIFIED BY 'pw-" + writer_ + "'");
        c.Query("GRANT ALL PRIVILEGES ON `" + name_ + "`.* TO '" + writer_ + "'@'127.0.0.1'");
        c.Query("CREATE USER '" + reader_ + "'@'127.0.0.1' IDENTIFIED BY 'pw-" + reader_ + "'");
        c.Query("GRANT SELECT ON `" + name_ + "`.* TO '" + reader_ + "'@'127.0.0.1'");
        c.Close();
        if (!c.Connect(AdminParams(name_))) throw std::runtime_error("admin connect: " + c.LastError());
        // The schema file separates statements by a semicolon at a line end.
        std::string statement;
        std::istringstream schema(Slurp(KALO_NETDB_SCHEMA));
        std::string line;
        while (std::getline(schema, line)) {
            if (line.rfind("--", 0) == 0) continue;
            statement += line + "\n";
            if (!line.empty() && line.back() == ';') {
                statement.pop_back();
                statement.pop_back();
                c.Query(statement);
                statement.clear();
            }
        }
    }
    ~NetworkDb() {
        try {
            netdb::Connection c;
            if (c.Connect(AdminParams())) {
                c.Execute("DROP DATABASE IF EXISTS `" + name_ + "`");
                c.Execute("DROP USER IF EXISTS '" + writer_ + "'@'127.0.0.1'");
                c.Execute("DROP USER IF EXISTS '" + reader_ + "'@'127.0.0.1'");
            }
        } catch (...) {
        }
    }
    NetworkDb(const NetworkDb&) = delete;
    NetworkDb& operator=(const NetworkDb&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& Writer() const { return writer_; }
    const std::string& Reader() const { return reader_; }

    // Runs a statement as the administrator in this database.
    netdb::Result Admin(const std::string& sql) const {
        netdb::Connection c;
        if (!c.Connect(AdminParams(name_))) throw std::runtime_error("admin connect: " + c.LastError());
        return c.Query(sql);
    }
    // Adds a network site; returns its SIT_ID.
    int AddSite(const std::string& code) const {
        netdb::Connection c;
        if (!c.Connect(AdminParams(name_))) throw std::runtime_error("admin connect: " + c.LastError());
        c.Query("INSERT INTO SQMSITES (SIT_CODE) VALUES (" + c.Quote(code) + ")");
        return netdb::ParseInteger(c.Query("SELECT LAST_INSERT_ID()").FirstText());
    }

    // Plain credentials for this database and one of its accounts.
    TCredentials Credentials(const std::string& code, bool readOnly = false) const {
        TCredentials t;
        t.SiteCode = code;
        t.User = readOnly ? reader_ : writer_;
        t.Password = "pw-" + t.User;
        t.Host = "127.0.0.1";
        t.Port = ServerPort();
        t.Database = name_;
        t.Upload = true;
        t.Download = true;
        return t;
    }

private:
    std::string suffix_, name_, writer_, reader_;
};

}  // namespace nettest
