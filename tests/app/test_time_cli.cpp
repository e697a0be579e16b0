// kalosqm-cli time against the kalosqm-timeserver program on 127.0.0.1.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "fbdb.h"
#include "time_test_support.h"

extern char** environ;

namespace {

// kalosqm-timeserver as a child; its first output line is the port.
class TimeServerProcess {
public:
    explicit TimeServerProcess(std::vector<std::string> options) {
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args{KALO_TIMESERVER_EXE};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, KALO_TIMESERVER_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            throw std::runtime_error("cannot start the time server");
        }
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        port_ = std::atoi(line.c_str());
    }
    ~TimeServerProcess() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    int Port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

struct CliResult {
    int exitCode;
    std::string output;
};

CliResult RunCli(const std::string& args) {
    const std::string cmd = std::string(KALO_CLI_EXE) + " " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return {-1, ""};
    std::string out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class TimeCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        file = (dir.path() / "KALOSQMDATA.FDB").string();
        std::filesystem::copy_file(KALO_PRISTINE_DB, file);
    }
    void UseServers(const std::vector<std::string>& rows) {
        fb::Database db(file);
        db.Open();
        db.ExecuteImmediate("delete from NTPSERVERS");
        for (const auto& r : rows) db.ExecuteImmediate("insert into NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) values " + r);
        db.Close();
    }

    timetest::TempDir dir;
    std::string file;
};

}  // namespace

TEST_F(TimeCliTest, PrintsTheOffsetAgainstALocalServer) {
    UseServers({"('127.0.0.1', 1, 2000)"});
    TimeServerProcess server({"--count", "1"});
    ASSERT_GT(server.Port(), 0);
    const CliResult r = RunCli("time --db " + file + " --port " + std::to_string(server.Port()));
    if (!timetest::IcmpPermitted()) {
        EXPECT_EQ(r.exitCode, 1) << r.output;
        return;
    }
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.output, m, std::regex("Offset: ([-+][0-9]+\\.[0-9]{3}) s"))) << r.output;
    // The server tells the PC's own time in whole seconds.
    EXPECT_NEAR(std::stod(m[1]), 0.0, 2.0);
    EXPECT_NE(r.output.find("Server: 127.0.0.1"), std::string::npos) << r.output;
}

TEST_F(TimeCliTest, SaysSoWhenNoServerAnswers) {
    UseServers({"('127.0.0.1', 1, 300)"});
    TimeServerProcess server({"--never"});
    const CliResult r = RunCli("time --db " + file + " --port " + std::to_string(server.Port()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("none of the 1 time servers answered"), std::string::npos) << r.output;
}

TEST_F(TimeCliTest, RefusesBadArguments) {
    EXPECT_EQ(RunCli("time --db " + file + " --port 0").exitCode, 2);
    EXPECT_EQ(RunCli("time --db " + file + " --port 70000").exitCode, 2);
    EXPECT_EQ(RunCli("time --db " + file + " extra").exitCode, 2);
    const CliResult missing = RunCli("time --db " + (dir.path() / "none.fdb").string());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("database not found"), std::string::npos) << missing.output;
}

TEST_F(TimeCliTest, EmptyServerTableIsReported) {
    UseServers({});
    const CliResult r = RunCli("time --db " + file);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("no time servers are configured"), std::string::npos) << r.output;
}
