#pragma once
// kalosqm-station as a child process on a program folder of its own (a copy
// of the delivered database), its standard error kept in a file. The engine
// holds the database for one process: the test reads and writes it only
// while no station runs on it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "support/testsupport.h"

extern char** environ;

namespace servicetest {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Runs statements on a database file no one else holds.
inline void ExecOn(const std::string& file, const std::vector<std::string>& statements) {
    fb::Database db(file);
    db.Open();
    for (const auto& sql : statements) db.ExecuteImmediate(sql);
    db.Close();
}

// Each row of a select, handed to row while the query is open.
inline void ForEachRowOn(const std::string& file, const std::string& sql, const std::function<void(fb::Query&)>& row) {
    fb::Database db(file);
    db.Open();
    {
        fb::Transaction tr(db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL(sql);
        for (q.Open(); !q.Eof(); q.Next()) row(q);
        q.Close();
        tr.Commit();
    }
    db.Close();
}

// The first column of every row of a select, as text.
inline std::vector<std::string> ColumnOn(const std::string& file, const std::string& sql) {
    std::vector<std::string> out;
    ForEachRowOn(file, sql, [&](fb::Query& q) { out.push_back(q.Fields(0).IsNull() ? "NULL" : Trim(q.Fields(0).AsString())); });
    return out;
}

// Whether something listens on a port of 127.0.0.1.
inline bool Listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// A child process with its standard error (and output) in files.
class TChild {
public:
    ~TChild() { Kill(); }

    // env: "NAME=value" to set, "NAME" to remove.
    void Start(const std::string& exe, const std::vector<std::string>& args, const fs::path& errFile,
               const std::vector<std::string>& env = {}) {
        errFile_ = errFile;
        outFile_ = errFile.string() + ".out";
        std::vector<std::string> argStore{exe};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            const std::string name = v.substr(0, v.find('='));
            bool replaced = false;
            for (const auto& x : env) replaced = replaced || x.substr(0, x.find('=')) == name;
            if (!replaced) envStore.push_back(v);
        }
        for (const auto& x : env)
            if (x.find('=') != std::string::npos) envStore.push_back(x);
        std::vector<char*> argv, envp;
        for (auto& a : argStore) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int out = ::open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(err, 0);
        ASSERT_GE(out, 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        ::close(err);
        ::close(out);
    }

    pid_t Pid() const { return pid_; }
    void Signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    // The exit status (128 + signal when killed), or -1 while it still runs after limit.
    int WaitExit(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        do {
            int status = 0;
            if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (pid_ <= 0) return code_;
            std::this_thread::sleep_for(20ms);
        } while (std::chrono::steady_clock::now() < end);
        return -1;
    }
    void Kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    std::string Err() const { return testsupport::ReadFile(errFile_); }
    std::string Out() const { return testsupport::ReadFile(outFile_); }
    std::vector<std::string> ErrLines() const {
        std::vector<std::string> lines;
        std::istringstream in(Err());
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    int Count(const std::string& part) const {
        int n = 0;
        for (const auto& l : ErrLines()) n += l.find(part) != std::string::npos;
        return n;
    }
    // Waits until the condition holds on its standard error.
    bool WaitFor(const std::function<bool(const TChild&)>& condition, std::chrono::milliseconds limit) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (condition(*this)) return true;
            std::this_thread::sleep_for(50ms);
        }
        return condition(*this);
    }
    bool WaitForLine(const std::string& part, int count, std::chrono::milliseconds limit) const {
        return WaitFor([&](const TChild& c) { return c.Count(part) >= count; }, limit);
    }

private:
    pid_t pid_ = -1;
    int code_ = -1;
    fs::path errFile_;
    std::string outFile_;
};

// The times of the "reading ... at <time> UTC" lines.
inline std::set<std::string> PrintedReadingTimes(const TChild& c, const std::string& site) {
    const std::regex line("^site \"" + site + "\": reading [0-9.]+ mag/arcsec\u00b2 at (\\d\\d/\\d\\d/\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d) UTC.*$");
    std::set<std::string> out;
    std::smatch m;
    for (const auto& l : c.ErrLines())
        if (std::regex_match(l, m, line)) out.insert(m[1]);
    return out;
}

#ifdef KALOSQM_STATION_EXE
// A program folder with its own database, for kalosqm-station --dir.
class TStationFolder {
public:
    TStationFolder() {
        db = testsupport::CopyPristineDb(dir.Path());
        // Internet time and upload off: nothing leaves this machine.
        ExecOn(db, {"UPDATE SETTINGS SET SET_USEINTERTETTIME=0, SET_UPLOADDATA=0 WHERE SET_ID=1"});
    }
    // Interval 0: a reading at every tick.
    void AddSite(int id, const std::string& name, int port, bool autostart, int interval = 0) {
        ExecOn(db, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_INTERVAL, "
                    "SIT_ACQUIREMODE, SIT_AUTOSTART, SIT_AUTOUPLOAD, SIT_LATIT, SIT_LONG, SIT_TIMEZONE) VALUES (" +
                    std::to_string(id) + ", " + QuotedStr(name) + ", '127.0.0.1', " + std::to_string(port) + ", 1, " +
                    std::to_string(interval) + ", 0, " + (autostart ? "1" : "0") + ", 0, 45.8664, 11.5264, 0)"});
    }
    int Readings(int site) const {
        return std::stoi(ColumnOn(db, "SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(site)).at(0));
    }
    // The reading times of a site as the station prints them ("dd/mm/yyyy hh.mm.ss").
    std::set<std::string> ReadingTimes(int site) const {
        std::set<std::string> out;
        ForEachRowOn(db, "SELECT REA_DATETIME FROM READINGS WHERE REA_SITE=" + std::to_string(site),
                     [&](fb::Query& q) { out.insert(FormatLogTime(q.Fields(0).AsDateTime())); });
        return out;
    }
    // kalosqm-station --dir <folder> with the arguments, a fast tick unless
    // given; env as TChild::Start takes it.
    void Start(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), {"--dir", dir.Str()});
        if (std::find(args.begin(), args.end(), "--tick-ms") == args.end()) args.insert(args.end(), {"--tick-ms", "300"});
        station.Start(KALOSQM_STATION_EXE, args, dir.Path() / ("stderr-" + std::to_string(++runs) + ".txt"), env);
    }
    // Ends the station with SIGTERM or SIGINT: in order, status 0, the signal named last.
    void Stop(int sig) {
        station.Signal(sig);
        ASSERT_EQ(station.WaitExit(10s), 0) << station.Err();
        const auto lines = station.ErrLines();
        EXPECT_EQ(lines.empty() ? "" : lines.back(),
                  std::string("kalosqm-station: stopped by ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
    }
    // Every reading the station printed for the site is in the database, and nothing else.
    void ExpectPrintedStored(const std::string& name, int site) const {
        EXPECT_EQ(PrintedReadingTimes(station, name), ReadingTimes(site)) << station.Err();
    }

    testsupport::TempDir dir;
    std::string db;
    TChild station;
    int runs = 0;
};
#endif

}  // namespace servicetest
