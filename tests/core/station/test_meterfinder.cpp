// The meter finder against the simulated SQM-LE's discovery and against a
// scripted UDP peer that answers what a broken or hostile device might. All
// on the loopback: the finder is always given a target, never broadcasts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/station/meterfinder.h"
#include "tools/sqmle-sim/sqmsim.h"
#include "support/testsupport.h"

namespace {

using Bytes = std::string;

Bytes Reply(uint8_t function, size_t size) {
    Bytes b(size, '\0');
    if (size > 3) b[3] = static_cast<char>(function);
    return b;
}

Bytes QueryReply(const uint8_t mac[6], size_t size = 30) {
    Bytes b = Reply(0xF7, size);
    for (int i = 0; i < 6; ++i) b[24 + i] = static_cast<char>(mac[i]);
    return b;
}

Bytes SetupRecord(const char* ip) {
    Bytes b = Reply(0xF9, 120);
    in_addr a{};
    ::inet_pton(AF_INET, ip, &a);
    std::memcpy(b.data() + 4, &a.s_addr, 4);
    return b;
}

// A UDP socket on a loopback address, for playing a device.
class TUdpPeer {
public:
    explicit TUdpPeer(const char* address = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &a.sin_addr);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << address;
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~TUdpPeer() { ::close(fd_); }
    int Port() const { return port_; }
    // The next datagram and where it came from; false after timeoutMs.
    bool Receive(Bytes& data, sockaddr_in& from, int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[2048];
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return false;
        data.assign(buf, static_cast<size_t>(n));
        return true;
    }
    void Send(const Bytes& data, const sockaddr_in& to) {
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Runs a search asking 127.0.0.1 while act plays the devices on another thread.
class MeterFinderTest : public ::testing::Test {
protected:
    TFinderOptions Options(int discoveryPort, int meterPort, int listenMs = 1500) {
        TFinderOptions o;
        o.Target = "127.0.0.1";
        o.DiscoveryPort = discoveryPort;
        o.MeterPort = meterPort;
        o.ListenMs = listenMs;
        o.IdentifyTimeoutMs = 1000;
        return o;
    }
    // The finder's search with a device thread beside it; the thread is told
    // to stop once the search has ended.
    void Search(TMeterFinder& finder, const std::function<void(const std::atomic<bool>& done)>& device) {
        std::atomic<bool> done{false};
        std::thread t([&] { device(done); });
        try {
            finder.Run();
        } catch (...) {
            done = true;
            t.join();
            throw;
        }
        done = true;
        t.join();
    }
    static const TFoundDevice& Only(const TMeterFinder& f) {
        EXPECT_EQ(f.Devices().size(), 1u);
        static const TFoundDevice none;
        return f.Devices().empty() ? none : f.Devices().front();
    }
};

const uint8_t kModuleMac[6] = {0x00, 0x20, 0x4A, 0x12, 0x34, 0x56};

TEST_F(MeterFinderTest, FindsTheSimulatedMeterWithItsMacAndSerial) {
    SqmSimConfig c;
    c.Mac = {0x00, 0x20, 0x4A, 0x12, 0x34, 0x56};
    c.Serial = 4242;
    c.Protocol = 5;
    c.Model = 6;
    c.Feature = 61;
    SqmSimulator sim(c);
    sim.Start(0, "127.0.0.1", 0);
    TMeterFinder finder(Options(sim.DiscoveryPort(), sim.Port()));
    finder.Run();
    const TFoundDevice& d = Only(finder);
    EXPECT_EQ(d.Address, "127.0.0.1");
    EXPECT_EQ(d.Mac, "00:20:4A:12:34:56");
    EXPECT_TRUE(d.VendorPrefix);
    EXPECT_TRUE(d.IsMeter) << d.NotMeter;
    EXPECT_EQ(d.NotMeter, "");
    EXPECT_EQ(d.Identity.Serial, 4242);
    EXPECT_EQ(d.Identity.Protocol, 5);
    EXPECT_EQ(d.Identity.Model, 6);
    EXPECT_EQ(d.Identity.Feature, 61);
    EXPECT_EQ(finder.Counts().Ignored(), 0);
    EXPECT_EQ(finder.Counts().Sent, 2);
    EXPECT_TRUE(finder.Finished());
}

// Modules differ: another maker's MAC, or only one of the two requests answered.
TEST_F(MeterFinderTest, AnyModuleThatAnswersEitherRequestIsFound) {
    struct Case {
        const char* what;
        std::array<uint8_t, 6> mac;
        bool query, setup;
        const char* expectedMac;
        bool vendor;
    } cases[] = {
        {"the module's maker", {0x00, 0x20, 0x4A, 0xAB, 0xCD, 0xEF}, true, true, "00:20:4A:AB:CD:EF", true},
        {"another maker", {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, true, true, "02:11:22:33:44:55", false},
        {"a near miss of the prefix", {0x00, 0x20, 0x4B, 0x00, 0x00, 0x01}, true, true, "00:20:4B:00:00:01", false},
        {"the query only", {0x00, 0x20, 0x4A, 0x00, 0x00, 0x02}, true, false, "00:20:4A:00:00:02", true},
        {"the setup record only", {0x00, 0x20, 0x4A, 0x00, 0x00, 0x03}, false, true, "", false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SqmSimConfig c;
        c.Mac = k.mac;
        c.AnswerQuery = k.query;
        c.AnswerSetup = k.setup;
        SqmSimulator sim(c);
        sim.Start(0, "127.0.0.1", 0);
        TMeterFinder finder(Options(sim.DiscoveryPort(), sim.Port(), 800));
        finder.Run();
        const TFoundDevice& d = Only(finder);
        EXPECT_EQ(d.Mac, k.expectedMac);
        EXPECT_EQ(d.VendorPrefix, k.vendor);
        EXPECT_TRUE(d.IsMeter) << d.NotMeter;
        EXPECT_EQ(d.Identity.Serial, 3911);
        // Both replies of one module make one device.
        EXPECT_EQ(finder.Counts().Duplicates, finder.Counts().Received - 1);
        EXPECT_EQ(finder.Counts().Ignored(), 0);
    }
}

TEST_F(MeterFinderTest, SendsOneQueryAndOneSetupRequestOfFourBytesAndEndsByItsDeadline) {
    TUdpPeer silent;
    TMeterFinder finder(Options(silent.Port(), testsupport::ClosedPort(), 700));
    std::vector<Bytes> requests;
    Search(finder, [&](const std::atomic<bool>& done) {
        Bytes b;
        sockaddr_in from{};
        while (!done)
            if (silent.Receive(b, from, 50)) requests.push_back(b);
        while (silent.Receive(b, from, 100)) requests.push_back(b);
    });
    EXPECT_EQ(requests, (std::vector<Bytes>{Bytes("\0\0\0\xF6", 4), Bytes("\0\0\0\xF8", 4)}));
    EXPECT_EQ(finder.Counts().Sent, 2);
    EXPECT_TRUE(finder.Devices().empty());
    EXPECT_EQ(finder.Counts().Received, 0);
}

TEST_F(MeterFinderTest, BadRepliesAreIgnoredAndCountedOneByOne) {
    using Counter = int TFinderCounts::*;
    struct Case {
        const char* what;
        Bytes reply;
        Counter counter;
    };
    Bytes notZero = QueryReply(kModuleMac);
    notZero[1] = 1;
    const Case cases[] = {
        {"three bytes", Bytes(3, '\0'), &TFinderCounts::TooShort},
        {"empty", Bytes(), &TFinderCounts::TooShort},
        {"a query reply without the whole MAC", QueryReply(kModuleMac, 30).substr(0, 29), &TFinderCounts::TooShort},
        {"a query reply of 65 bytes", QueryReply(kModuleMac, 65), &TFinderCounts::TooLong},
        {"a query reply larger than any buffer", QueryReply(kModuleMac, 1400), &TFinderCounts::TooLong},
        {"a setup record of 119 bytes", SetupRecord("127.0.0.1").substr(0, 119), &TFinderCounts::TooShort},
        {"a setup record of 121 bytes", SetupRecord("127.0.0.1") + Bytes(1, '\0'), &TFinderCounts::TooLong},
        {"our own request", Bytes("\0\0\0\xF6", 4), &TFinderCounts::WrongFunction},
        {"function F5", Reply(0xF5, 30), &TFinderCounts::WrongFunction},
        {"a non-zero header byte", notZero, &TFinderCounts::WrongFunction},
        {"a setup record naming another address", SetupRecord("10.9.8.7"), &TFinderCounts::OtherAddress},
    };
    TUdpPeer device;
    // A good reply, but from another address than the one asked.
    TUdpPeer stranger("127.0.0.2");
    TMeterFinder finder(Options(device.Port(), testsupport::ClosedPort(), 1500));
    Search(finder, [&](const std::atomic<bool>& done) {
        Bytes b;
        sockaddr_in from{};
        if (!device.Receive(b, from, 1500)) return;
        for (const Case& k : cases) device.Send(k.reply, from);
        stranger.Send(QueryReply(kModuleMac), from);
        while (!done) device.Receive(b, from, 50);
    });
    TFinderCounts expected;
    for (const Case& k : cases) ++(expected.*(k.counter));
    ++expected.OtherSender;
    const TFinderCounts& got = finder.Counts();
    EXPECT_EQ(got.TooShort, expected.TooShort);
    EXPECT_EQ(got.TooLong, expected.TooLong);
    EXPECT_EQ(got.WrongFunction, expected.WrongFunction);
    EXPECT_EQ(got.OtherAddress, expected.OtherAddress);
    EXPECT_EQ(got.OtherSender, expected.OtherSender);
    EXPECT_EQ(got.Received, static_cast<int>(std::size(cases)) + 1);
    EXPECT_EQ(got.Ignored(), got.Received);
    EXPECT_TRUE(finder.Devices().empty());
}

// A device that never stops sending: the search still ends, having trusted
// nothing of it; amid the flood, the one good reply still counts.
TEST_F(MeterFinderTest, AFloodOfDatagramsNeverHangsTheSearch) {
    SqmSimulator meter;
    meter.Start();
    for (bool goodReply : {false, true}) {
        SCOPED_TRACE(goodReply ? "with a good reply" : "nothing but the flood");
        TUdpPeer device;
        TMeterFinder finder(Options(device.Port(), meter.Port(), 1000));
        int sent = 0;
        Search(finder, [&](const std::atomic<bool>& done) {
            Bytes b;
            sockaddr_in from{};
            if (!device.Receive(b, from, 1500)) return;
            const Bytes junk[] = {Bytes(2, '\0'), Reply(0xF7, 80), Reply(0x42, 30)};
            while (!done) {
                for (int i = 0; i < 1000 && !done; ++i, ++sent) device.Send(junk[i % 3], from);
                if (goodReply) device.Send(QueryReply(kModuleMac), from);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        const TFinderCounts& c = finder.Counts();
        EXPECT_GT(c.Ignored(), 0);
        EXPECT_LE(c.Ignored(), sent);
        EXPECT_EQ(c.TooShort + c.TooLong + c.WrongFunction, c.Ignored());
        EXPECT_EQ(c.Received, c.Ignored() + c.Duplicates + static_cast<int>(finder.Devices().size()));
        if (goodReply) {
            const TFoundDevice& d = Only(finder);
            EXPECT_EQ(d.Mac, "00:20:4A:12:34:56");
            EXPECT_TRUE(d.IsMeter) << d.NotMeter;
        } else {
            EXPECT_TRUE(finder.Devices().empty());
        }
    }
}

TEST_F(MeterFinderTest, ADeviceThatAnswersDiscoveryButNotAsAMeterIsListedWithTheReason) {
    struct Case {
        const char* what;
        std::function<void(SqmSimConfig&)> misbehave;
        bool closedPort;
        const char* why;
    } cases[] = {
        {"nothing listens", [](SqmSimConfig&) {}, true, "no connection to TCP port "},
        {"silent", [](SqmSimConfig& c) { c.Silent = true; }, false, "no answer to \"ix\" within 1 s"},
        {"hangs up", [](SqmSimConfig& c) { c.CloseOnRequest = true; }, false,
         "closed the connection without answering \"ix\""},
        {"another protocol", [](SqmSimConfig& c) { c.RawInfo = "HTTP/1.0 400 Bad\x1B"; }, false,
         "answered \"ix\" with \"HTTP/1.0 400 Bad\\x1B\""},
        {"a broken identity", [](SqmSimConfig& c) { c.RawInfo = "i,00000004,x,57,1"; }, false,
         "is not a valid integer value"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SqmSimConfig c;
        k.misbehave(c);
        SqmSimulator sim(c);
        sim.Start(0, "127.0.0.1", 0);
        const int closed = testsupport::ClosedPort();
        TMeterFinder finder(Options(sim.DiscoveryPort(), k.closedPort ? closed : sim.Port(), 800));
        finder.Run();
        const TFoundDevice& d = Only(finder);
        EXPECT_EQ(d.Mac, "00:20:4A:00:0F:47");
        EXPECT_FALSE(d.IsMeter);
        EXPECT_NE(d.NotMeter.find(k.why), std::string::npos) << d.NotMeter;
        if (k.closedPort) {
            EXPECT_NE(d.NotMeter.find("Connection refused"), std::string::npos) << d.NotMeter;
        }
        EXPECT_EQ(d.NotMeter.find('\x1B'), std::string::npos);
    }
}

TEST_F(MeterFinderTest, AWrongTargetOrPortIsRefusedBeforeAnythingIsSent) {
    const std::pair<TFinderOptions, const char*> cases[] = {
        {{.Target = "1.2.3"}, "'1.2.3' is not an IPv4 address"},
        {{.Target = "meter.local"}, "'meter.local' is not an IPv4 address"},
        {{.Target = "::1"}, "'::1' is not an IPv4 address"},
        {{.Target = "127.0.0.1", .DiscoveryPort = 0}, "Invalid discovery port 0"},
        {{.Target = "127.0.0.1", .MeterPort = 70000}, "Invalid meter port 70000"},
    };
    for (const auto& [options, message] : cases) {
        TMeterFinder finder(options);
        try {
            finder.Start();
            ADD_FAILURE() << "accepted: " << message;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
        EXPECT_EQ(finder.Counts().Sent, 0);
    }
}

}  // namespace
