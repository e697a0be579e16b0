// The station's automatic upload against the MariaDB test server, and a stop
// request that arrives in the 1500 ms pause after a waiting reading went out.
#include "core/station/netdb_test_support.h"
#include "programs/station/service_test_support.h"
#include "tools/sqmle-sim/sqmsim.h"

#include <algorithm>
#include <thread>

#include "core/station/errorlog.h"

namespace {

using namespace servicetest;

TEST(StationUpload, AStopRequestInAnUploadPauseEndsAtOnceWithTheUploadFlagsCommitted) {
    SqmSimulator sim;
    sim.Start();
    TStationFolder f;
    nettest::NetworkDb net;
    net.AddSite("AB12");
    SetProgramDir(f.dir.Str());  // where the credentials file goes
    fs::create_directories(f.dir.Path() / "crdfiles");
    WriteCredentialsFile(CredentialsFileName("AB12"), net.Credentials("AB12"));
    f.AddSite(1, "Roof", sim.Port(), true);
    ExecOn(f.db, {"UPDATE SQMSITES SET SIT_CODE='AB12', SIT_AUTOUPLOAD=1 WHERE SIT_ID=1"});

    // Upload off while readings pile up.
    f.Start({});
    ASSERT_TRUE(f.station.WaitFor([](const TChild& s) { return PrintedReadingTimes(s, "Roof").size() >= 6; }, 30s))
        << f.station.Err();
    f.Stop(SIGTERM);
    const size_t waiting = f.ReadingTimes(1).size();

    // Upload on: the first tick stores and sends a new reading; the next, with
    // nothing due, sends the waiting ones, pausing 1500 ms after each.
    ExecOn(f.db, {"UPDATE SETTINGS SET SET_UPLOADDATA=1, SET_UPLOADMODE=0 WHERE SET_ID=1",
                  "UPDATE SQMSITES SET SIT_INTERVAL=60 WHERE SIT_ID=1"});
    auto networkCount = [&net] { return std::stoi(net.Admin("SELECT COUNT(*) FROM READINGS").FirstText()); };
    f.Start({});
    ASSERT_TRUE(f.station.WaitFor([&](const TChild&) { return networkCount() >= 2; }, 20s)) << f.station.Err();
    const auto t0 = std::chrono::steady_clock::now();
    f.Stop(SIGTERM);
    // Five pauses of 1500 ms were still ahead.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 4s);
    EXPECT_EQ(f.station.Count(", sent to the network database"), 1) << f.station.Err();

    const int uploaded = std::stoi(ColumnOn(f.db, "SELECT COUNT(*) FROM READINGS WHERE REA_UPLOADED=1").at(0));
    EXPECT_EQ(uploaded, networkCount());
    EXPECT_EQ(f.ReadingTimes(1).size(), waiting + 1);
}

// The station on the network database behind a relay that is down at the
// start: the journal says once that it cannot be reached, then, once it is
// back and the waiting reading has gone up, once that it is back.
TEST(StationUpload, AnOutageOfTheNetworkDatabaseIsSaidOnceWhenItBeginsAndOnceWhenItEnds) {
    SqmSimulator sim;
    sim.Start();
    TStationFolder f;
    nettest::NetworkDb net;
    net.AddSite("AB12");
    nettest::SwitchableRelay relay;
    SetProgramDir(f.dir.Str());
    fs::create_directories(f.dir.Path() / "crdfiles");
    TCredentials account = net.Credentials("AB12");
    account.Port = relay.Port();
    WriteCredentialsFile(CredentialsFileName("AB12"), account);
    f.AddSite(1, "Roof", sim.Port(), true);
    ExecOn(f.db, {"UPDATE SQMSITES SET SIT_CODE='AB12', SIT_AUTOUPLOAD=1, SIT_INTERVAL=60 WHERE SIT_ID=1",
                  "UPDATE SETTINGS SET SET_UPLOADDATA=1, SET_UPLOADMODE=0 WHERE SET_ID=1"});

    relay.Down();
    f.Start({});
    const std::string server = "127.0.0.1:" + std::to_string(relay.Port());
    const std::string begin = "kalosqm-station: network database unreachable: " + server + ": ";
    ASSERT_TRUE(f.station.WaitForLine(begin, 1, 20s)) << f.station.Err();
    // Quiet ticks every 300 ms meet the outage again and say nothing more.
    std::this_thread::sleep_for(1500ms);
    relay.Up();
    const std::string end = "kalosqm-station: network database " + server + " reachable again at ";
    ASSERT_TRUE(f.station.WaitForLine(end, 1, 20s)) << f.station.Err();
    f.Stop(SIGTERM);
    EXPECT_EQ(f.station.Count(begin), 1) << f.station.Err();
    EXPECT_EQ(f.station.Count(end), 1) << f.station.Err();
    EXPECT_EQ(f.station.Count("; 1 waiting reading went up since"), 1) << f.station.Err();
    EXPECT_EQ(std::stoi(net.Admin("SELECT COUNT(*) FROM READINGS").FirstText()), 1);
    // The log keeps the same two lines.
    const std::string log = testsupport::ReadFile(f.dir.Path() / "LOGS" / TErrorLog::FileNameFor("NETWORK"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

// What the station does over the Internet by itself is said at its start,
// each only when it is on; the time servers here are local.
TEST(StationUpload, AtItsStartTheStationSaysWhetherItAsksTimeServersAndUploadsByItself) {
    TStationFolder f;
    f.Start({});
    ASSERT_EQ(f.station.WaitExit(20s), 0) << f.station.Err();
    EXPECT_EQ(f.station.Count("Internet time is on"), 0) << f.station.Err();
    EXPECT_EQ(f.station.Count("automatic upload is on"), 0) << f.station.Err();

    ExecOn(f.db, {"DELETE FROM NTPSERVERS",
                  "INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('127.0.0.1', 1, 500)",
                  "INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('127.0.0.2', 2, 500)",
                  "UPDATE SETTINGS SET SET_USEINTERTETTIME=1, SET_SYNCLOCK=0, SET_UPLOADDATA=1, SET_UPLOADMODE=0"});
    f.Start({});
    ASSERT_EQ(f.station.WaitExit(20s), 0) << f.station.Err();
    EXPECT_EQ(f.station.Count("kalosqm-station: Internet time is on: servers 127.0.0.1, 127.0.0.2, which correct "
                              "the reading times; `kalosqm-cli settings` and `kalosqm-cli timeservers` change it"),
              1)
        << f.station.Err();
    EXPECT_EQ(f.station.Count("kalosqm-station: automatic upload is on: each night reading of a site with a "
                              "credentials file in crdfiles/ and its own automatic upload on goes to the network "
                              "database; `kalosqm-cli settings` changes it"),
              1)
        << f.station.Err();
}

}  // namespace
