// kalosqm-cli meter find against the sqmle-sim program answering discovery
// on a port of its own, all on 127.0.0.1 (--to: never a broadcast).
#include <gtest/gtest.h>

#include <atomic>
#include <regex>

#include "programs/cli/cli_test_support.h"

namespace {

using namespace clitest;

// sqmle-sim as a child process; its ports are read from what it prints.
class TSimProcess {
public:
    TSimProcess(const fs::path& folder, std::vector<std::string> args) {
        args.insert(args.end(), {"--port", "0", "--discovery-port", "0"});
        child_.Start(SQMLE_SIM_EXE, args, folder / ("sim-" + std::to_string(++count_) + ".txt"));
        const std::regex tcp("listening on 127\\.0\\.0\\.1:(\\d+)\n");
        const std::regex udp("discovery on 127\\.0\\.0\\.1:(\\d+) \\(UDP\\)\n");
        std::smatch m;
        for (int i = 0; i < 200 && (port_ == 0 || discoveryPort_ == 0); ++i) {
            const std::string out = child_.Out();
            if (std::regex_search(out, m, tcp)) port_ = std::stoi(m[1]);
            if (std::regex_search(out, m, udp)) discoveryPort_ = std::stoi(m[1]);
            if (port_ == 0 || discoveryPort_ == 0) std::this_thread::sleep_for(20ms);
        }
        EXPECT_GT(port_, 0) << child_.Out() << child_.Err();
        EXPECT_GT(discoveryPort_, 0) << child_.Out() << child_.Err();
    }
    int Port() const { return port_; }
    int DiscoveryPort() const { return discoveryPort_; }

private:
    TChild child_;
    int port_ = 0, discoveryPort_ = 0;
    static inline int count_ = 0;
};

class MeterFind : public ::testing::Test {
protected:
    CliResult Find(std::vector<std::string> args) {
        args.insert(args.begin(), {"meter", "find"});
        return cli.Run(args, {}, 30s);
    }
    testsupport::TempDir dir;
    TCli cli{dir.Path()};
};

TEST_F(MeterFind, ListsTheSimulatedMeterWithTheMacAndSerialItWasGiven) {
    TSimProcess sim(dir.Path(), {"--mac", "00:20:4a:65:43:21", "--serial", "8765", "--feature", "61"});
    const CliResult r = Find({"--to", "127.0.0.1", "--port", std::to_string(sim.DiscoveryPort()), "--meter-port",
                              std::to_string(sim.Port())});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "Address    MAC                  Serial  Protocol/Model/Feature\n"
              "127.0.0.1  00:20:4A:65:43:21 *  8765    4/3/61\n"
              "* the maker of the SQM-LE's network module (00-20-4A)\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(MeterFind, ADeviceThatIsNotAMeterIsListedAsSuch) {
    TSimProcess sim(dir.Path(), {"--mac", "02-00-00-00-00-07"});
    const int closed = testsupport::ClosedPort();
    const CliResult r = Find({"--to", "127.0.0.1", "--port", std::to_string(sim.DiscoveryPort()), "--meter-port",
                              std::to_string(closed), "--timeout", "1"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Address    MAC                Serial  Protocol/Model/Feature\n"
                     "127.0.0.1  02:00:00:00:00:07  -       not an SQM-LE: no connection to TCP port " +
                         std::to_string(closed) + ": Connection refused\n");
}

// Nobody there, or only garbage coming back: exit 1 and what to check.
TEST_F(MeterFind, NothingFoundSaysSoAndHowToCheckWithExitOne) {
    for (bool garbage : {false, true}) {
        SCOPED_TRACE(garbage ? "garbage" : "silence");
        const int peer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ASSERT_EQ(::bind(peer, reinterpret_cast<sockaddr*>(&a), len), 0);
        ::getsockname(peer, reinterpret_cast<sockaddr*>(&a), &len);
        const std::string port = std::to_string(ntohs(a.sin_port));
        std::atomic<bool> done{false};
        std::thread device([&] {
            while (!done) {
                pollfd p{peer, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                char buf[64];
                sockaddr_in from{};
                socklen_t fromLen = sizeof from;
                if (::recvfrom(peer, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen) < 0) continue;
                const char shortReply[2] = {0, 0};
                if (garbage)
                    ::sendto(peer, shortReply, sizeof shortReply, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
            }
        });
        const CliResult r = Find({"--to", "127.0.0.1", "--port", port, "--timeout", "0.5"});
        done = true;
        device.join();
        ::close(peer);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "");
        const std::string expected = std::string(garbage ? "meter find: ignored 2 datagram(s): 2 too short\n" : "") +
                                     "meter find: no device answered on UDP port " + port +
                                     " within 0.5 s at 127.0.0.1.\n"
                                     "Check that this computer is on the same local network (subnet) as the meter, "
                                     "that the meter\nis on and cabled, and that no firewall here blocks UDP port " +
                                     port + " (the replies come back to it).\n";
        EXPECT_EQ(r.err, expected);
    }
}

TEST_F(MeterFind, UsageErrorsExitTwo) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--to", "1.2.3"}, "--to"},
        {{"--to", "meter.local"}, "--to"},
        {{"--timeout", "0"}, "--timeout"},
        {{"--timeout", "nan"}, "--timeout"},
        {{"--port", "0"}, "--port"},
        {{"--port", "70000"}, "--port"},
        {{"--meter-port", "0"}, "--meter-port"},
        {{"127.0.0.1"}, "127.0.0.1"},
    };
    for (const auto& [args, named] : cases) {
        const CliResult r = Find(args);
        EXPECT_EQ(r.code, 2) << args.front() << ": " << r.all();
        EXPECT_TRUE(Has(r.err, named)) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(MeterFind, TheSimulatorRefusesABadMacOrDiscoveryPort) {
    for (const auto& args : {std::vector<std::string>{"--mac", "00:20:4A:12:34"},
                             {"--mac", "00:20:4A:12:34:5G"},
                             {"--mac", "00:20-4A:12:34:56"},
                             {"--discovery-port", "70000"},
                             {"--discovery-port", "-2"}}) {
        TChild sim;
        sim.Start(SQMLE_SIM_EXE, args, dir.Path() / "sim-usage.txt");
        EXPECT_EQ(sim.WaitExit(10s), 2) << args[1];
        EXPECT_TRUE(Has(sim.Err(), "bad value for " + args[0])) << sim.Err();
    }
}

}  // namespace
