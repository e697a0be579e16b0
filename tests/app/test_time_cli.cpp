// kalosqm-cli time against the kalosqm-timeserver program on 127.0.0.1.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <regex>
#include <string>
#include <sys/wait.h>

#include "fbdb.h"
#include "testsupport.h"
#include "time_test_support.h"

namespace {

// kalosqm-timeserver as a child: the shell prints its own pid, which exec
// hands on to the server, and the server prints its port.
class TimeServerProcess {
public:
    explicit TimeServerProcess(const std::string& options)
        : out_(::popen(("echo $$; exec " KALO_TIMESERVER_EXE " " + options).c_str(), "r")) {
        if (out_ && std::fscanf(out_, "%d %d", &pid_, &port_) != 2) pid_ = port_ = 0;
    }
    ~TimeServerProcess() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        if (out_) ::pclose(out_);
    }
    int Port() const { return port_; }

private:
    FILE* out_;
    int pid_ = 0, port_ = 0;
};

struct CliResult {
    int exitCode;
    std::string output;
};

CliResult RunCli(const std::string& args) {
    FILE* p = ::popen((KALO_CLI_EXE " " + args + " 2>&1").c_str(), "r");
    if (p == nullptr) return {-1, ""};
    std::string out;
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class TimeCliTest : public ::testing::Test {
protected:
    void UseServers(const std::vector<std::string>& rows) {
        fb::Database db(file);
        db.Open();
        db.ExecuteImmediate("delete from NTPSERVERS");
        for (const auto& r : rows) db.ExecuteImmediate("insert into NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) values " + r);
        db.Close();
    }
    CliResult Time(int port) { return RunCli("time --db " + file + " --port " + std::to_string(port)); }

    testsupport::TempDir dir;
    std::string file = testsupport::CopyPristineDb(dir.Path());
};

}  // namespace

TEST_F(TimeCliTest, PrintsTheOffsetAgainstALocalServer) {
    UseServers({"('127.0.0.1', 1, 2000)"});
    TimeServerProcess server("--count 1");
    ASSERT_GT(server.Port(), 0);
    const CliResult r = Time(server.Port());
    if (!timetest::IcmpPermitted()) {
        // The server is a ping error, said on the command line; nothing else may fail.
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_NE(r.output.find("time: 127.0.0.1: No permission to send ICMP echo requests"), std::string::npos)
            << r.output;
        GTEST_SKIP() << "no right to send ICMP echo requests (net.ipv4.ping_group_range, CAP_NET_RAW): "
                        "the offset cannot be measured";
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
    TimeServerProcess server("--never");
    ASSERT_GT(server.Port(), 0);
    const CliResult r = Time(server.Port());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("none of the 1 time servers answered"), std::string::npos) << r.output;
}

TEST_F(TimeCliTest, BadArgumentsAndMissingDataAreRefused) {
    // An empty table: arguments are refused before any server is looked at.
    UseServers({});
    const struct { std::string args; int exitCode; const char* message; } cases[] = {
        {"time --db " + file + " --port 0", 2, ""},
        {"time --db " + file + " --port 70000", 2, ""},
        {"time --db " + file + " extra", 2, ""},
        {"time --db " + (dir.Path() / "none.fdb").string(), 1, "database not found"},
        {"time --db " + file, 1, "no time servers are configured"},
    };
    for (const auto& c : cases) {
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
    }
}
