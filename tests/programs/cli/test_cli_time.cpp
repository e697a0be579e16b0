// kalosqm-cli time against the kalosqm-timeserver program on 127.0.0.1.
#include <gtest/gtest.h>

#include "support/service_test_support.h"
#include "support/time_test_support.h"

namespace {

using namespace servicetest;

struct CliResult {
    int exitCode;
    std::string output;
};

class TimeCliTest : public ::testing::Test {
protected:
    void UseServers(const std::vector<std::string>& rows) { ExecOn(file, timetest::TimeServerRows(rows)); }
    // kalosqm-timeserver as a child; it prints its port.
    int StartServer(const std::vector<std::string>& options) {
        server.Start(KALO_TIMESERVER_EXE, options, dir.Path() / "server.txt");
        server.WaitFor([](const TChild& c) { return !c.Out().empty(); }, 10s);
        return std::atoi(server.Out().c_str());
    }
    CliResult RunCli(const std::vector<std::string>& args) {
        TChild cli;
        cli.Start(KALO_CLI_EXE, args, dir.Path() / ("cli-" + std::to_string(++runs) + ".txt"));
        const int code = cli.WaitExit(60s);
        return {code, cli.Out() + cli.Err()};
    }
    CliResult Time(int port) { return RunCli({"time", "--db", file, "--port", std::to_string(port)}); }

    testsupport::TempDir dir;
    std::string file = testsupport::CopyPristineDb(dir.Path());
    TChild server;
    int runs = 0;
};

}  // namespace

TEST_F(TimeCliTest, PrintsTheOffsetAgainstALocalServer) {
    UseServers({"('127.0.0.1', 1, 2000)"});
    const int port = StartServer({"--count", "1"});
    ASSERT_GT(port, 0);
    const CliResult r = Time(port);
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

TEST_F(TimeCliTest, BadArgumentsMissingDataAndSilentServersAreRefused) {
    // An empty table: arguments are refused before any server is looked at.
    UseServers({});
    const struct { std::vector<std::string> args; int exitCode; const char* message; } cases[] = {
        {{"time", "--db", file, "--port", "0"}, 2, ""},
        {{"time", "--db", file, "--port", "70000"}, 2, ""},
        {{"time", "--db", file, "extra"}, 2, ""},
        {{"time", "--db", (dir.Path() / "none.fdb").string()}, 1, "there is no local database at"},
        {{"time", "--db", file}, 1, "no time servers are configured"},
    };
    for (const auto& c : cases) {
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back() << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args.back() << "\n" << r.output;
    }
    UseServers({"('127.0.0.1', 1, 300)"});
    const CliResult r = Time(StartServer({"--never"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("none of the 1 time servers answered"), std::string::npos) << r.output;
}
