// Outages as the acquisition meets them: one line when each begins, one when
// it ends with how long it lasted (and, for the network database, how many
// waiting readings then went up), never one per tick. A fake clock; the
// MariaDB server (behind a relay that is taken down), the time server, the
// meter simulator and the database file are real.
#include <algorithm>

#include "support/netdb_test_support.h"
#include "core/site/outages.h"
#include "tools/timeserver/rfc868server.h"
#include "support/site_test_support.h"

using namespace sitetest;
using Strings = std::vector<std::string>;

namespace {

// The text of each line after its time stamp ("dd/mm/yyyy hh.mm.ss - ").
Strings Texts(const Strings& lines) {
    Strings out;
    for (const auto& l : lines) out.push_back(l.size() > 22 ? l.substr(22) : l);
    return out;
}

class NetworkOutage : public SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        net.AddSite("AB12");
        TCredentials account = net.Credentials("AB12");
        account.Port = relay.Port();
        nettest::InstallCredentials(account);
        Settings(0, 0, 1, 0, 20);
    }
    std::vector<int> Uploaded(int id) {
        std::vector<int> flags;
        for (const auto& r : Stored(id)) flags.push_back(r.Uploaded);
        return flags;
    }
    nettest::NetworkDb net;
    nettest::SwitchableRelay relay;
};

TEST_F(NetworkOutage, FiveMinutesWithoutTheServerWriteOneLineAtItsBeginAndOneWhenTheWaitingReadingsHaveGoneUp) {
    const int id = AddSite({.Name = "Roof", .Interval = 1, .Code = "AB12"});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TSite s(*this, id);
    s.acq.StartOrStop();  // 22:00: stored and sent
    ASSERT_EQ(Uploaded(id), std::vector<int>{1});

    relay.Down();
    Run(s, 6);  // 22:00:30 to 22:06:00: six readings stored, none sent
    const Strings during = LogLines("NETWORK");
    ASSERT_EQ(during.size(), 1u) << ::testing::PrintToString(during);
    const std::string server = "127.0.0.1:" + std::to_string(relay.Port());
    const std::string begin = "15/01/2024 22.01.00 - network database unreachable: " + server + ": ";
    EXPECT_EQ(during[0].rfind(begin, 0), 0u) << during[0];
    EXPECT_GT(during[0].size(), begin.size()) << "the client's words follow";
    EXPECT_TRUE(data.Outages().NetworkDown(server));
    EXPECT_EQ(Uploaded(id), (std::vector<int>{1, 0, 0, 0, 0, 0, 0}));

    relay.Up();
    Run(s, 3);
    EXPECT_EQ(Uploaded(id), std::vector<int>(Stored(id).size(), 1));
    const Strings after = LogLines("NETWORK");
    ASSERT_EQ(after.size(), 2u) << ::testing::PrintToString(after);
    // Back at the first quiet tick; the six waiting readings went up in two passes.
    EXPECT_EQ(Texts(after)[1],
              "network database " + server + " reachable again at 15/01/2024 22.06.30 after 5 min 30 s; "
              "6 waiting readings went up since");
    EXPECT_FALSE(data.Outages().NetworkDown(server));
    EXPECT_TRUE(LogLines("Roof").empty());
    EXPECT_TRUE(s.prompt.texts.empty());

    // A second outage is a new pair of lines.
    relay.Down();
    Run(s, 2);
    relay.Up();
    Run(s, 3);
    const Strings again = Texts(LogLines("NETWORK"));
    ASSERT_EQ(again.size(), 4u) << ::testing::PrintToString(again);
    EXPECT_EQ(again[2].substr(0, 29), "network database unreachable:");
    EXPECT_NE(again[3].find(" reachable again at "), std::string::npos) << again[3];
}

TEST_F(NetworkOutage, ASiteCodeTheNetworkDatabaseDoesNotKnowIsSaidOnceAndItsReadingsGoUpWhenItIsAdded) {
    TCredentials account = net.Credentials("QQ77");
    account.Port = relay.Port();
    nettest::InstallCredentials(account);
    const int id = AddSite({.Name = "Shed", .Interval = 1, .Code = "QQ77"});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TSite s(*this, id);
    s.acq.StartOrStop();
    Run(s, 3);
    const std::string server = "127.0.0.1:" + std::to_string(relay.Port());
    EXPECT_EQ(Texts(LogLines("NETWORK")),
              Strings{"site code QQ77 is not known to the network database " + server + ": its readings wait"});
    EXPECT_FALSE(data.Outages().NetworkDown(server)) << "the server answered";

    net.AddSite("QQ77");
    Run(s, 3);
    const Strings lines = Texts(LogLines("NETWORK"));
    ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1].rfind("site code QQ77 is known to the network database again at 15/01/2024 22.03.30 after "
                             "3 min 30 s; ",
                             0),
              0u)
        << lines[1];
    EXPECT_NE(lines[1].find("; 4 waiting readings went up since"), std::string::npos) << lines[1];
}

// The time servers, asked before every due reading; the PC clock is set
// from them (a fake setter), so the log's times are those of the fake clock.
class TimeOutage : public SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        server.Start({timeserver::Reply{}});
        data.TimePort = server.Port();
        Exec("DELETE FROM NTPSERVERS");
        Exec("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('127.0.0.1', 1, 1000)");
        Settings(1, 1, 0, 0, 0);
    }
    timeserver::Rfc868Server server;
};

TEST_F(TimeOutage, FiveMinutesWithoutAnAnswerWriteOneLineAtTheBeginAndOneWithTheDurationAtTheEnd) {
    const int id = AddSite({.Name = "Roof", .Interval = 1});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TSite s(*this, id);
    s.acq.StartOrStop();
    const int port = server.Port();
    server.Stop();
    Run(s, 5);  // the synchronisations before 22:01 ... 22:05 fail
    EXPECT_TRUE(data.Outages().TimeDown());
    EXPECT_EQ(LogLines(""), Strings{"15/01/2024 22.01.00 - no time server answered: 127.0.0.1: Socket error: "
                                    "Connection refused"});
    server.Start({timeserver::Reply{}}, port);
    Run(s, 1);  // 22:06 synchronises again
    EXPECT_FALSE(data.Outages().TimeDown());
    EXPECT_EQ(LogLines(""), (Strings{"15/01/2024 22.01.00 - no time server answered: 127.0.0.1: Socket error: "
                                     "Connection refused",
                                     "15/01/2024 22.06.00 - a time server answered again after 5 min 0 s"}));
    EXPECT_EQ(Stored(id).size(), 7u) << "readings go on without the time";
    EXPECT_TRUE(s.prompt.texts.empty());
}

size_t LinesIn(const std::string& log) {
    const std::string text = testsupport::ReadFile(TErrorLog::Folder() + "/" + TErrorLog::FileNameFor(log));
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The record by itself: what counts as an outage and how it is told.
TEST(Outages, LinesGoToTheirLogsAndTheEchoAndASpanReadsInItsLargestUnits) {
    testsupport::TempDir dir;
    SetProgramDir(dir.Str());
    TOutages o;
    Strings echoed;
    o.SetEcho([&](const std::string& line) { echoed.push_back(line); });
    const double t0 = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TNetworkContact down{TNetworkContact::Result::Unreachable, "AB12", "h:3306", "refused"};
    TNetworkContact up{TNetworkContact::Result::Reached, "AB12", "h:3306", ""};
    o.Contact(t0, 1, down);
    o.Contact(t0 + kMinute, 1, down);
    o.Contact(t0 + kMinute, 2, down);
    o.TimeFailed(t0, "none");
    o.TimeFailed(t0 + kMinute, "none");
    o.Contact(t0 + 2 * kMinute, 1, up);
    o.WaitingPass(t0 + 2 * kMinute, 1, 5, false);  // more wait
    o.WaitingPass(t0 + 3 * kMinute, 1, 2, true);
    o.WaitingPass(t0 + 3 * kMinute, 3, 9, true);   // a site that met no outage
    EXPECT_FALSE(o.NetworkDown("h:3306")) << "it answers again";
    EXPECT_EQ(echoed.size(), 2u) << "site 2 has not caught up yet";
    o.WaitingPass(t0 + 4 * kMinute, 2, 1, true);
    o.TimeAnswered(t0 + 3.0);
    EXPECT_EQ(echoed, (Strings{"network database unreachable: h:3306: refused", "no time server answered: none",
                               "network database h:3306 reachable again at 15/01/2024 22.02.00 after 2 min 0 s; "
                               "8 waiting readings went up since",
                               "a time server answered again after 3 d 0 h"}));
    EXPECT_EQ(LinesIn("NETWORK"), 2u);
    EXPECT_EQ(LinesIn(""), 2u);

    const struct {
        double seconds;
        const char* text;
    } spans[] = {{0, "0 s"}, {59.4, "59 s"}, {60, "1 min 0 s"}, {3599, "59 min 59 s"}, {3600, "1 h 0 min"},
                 {86399, "23 h 59 min"}, {90061, "1 d 1 h"}, {-5, "0 s"}};
    for (const auto& sp : spans) EXPECT_EQ(OutageDuration(sp.seconds * kSecond), sp.text) << sp.seconds;
}

}  // namespace
