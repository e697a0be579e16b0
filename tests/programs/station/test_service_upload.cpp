// The station's automatic upload against the MariaDB test server, and a stop
// request that arrives in the 1500 ms pause after a waiting reading went out.
#include "support/netdb_test_support.h"
#include "support/service_test_support.h"
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

// Two sites with a backlog beside one that reads at every tick: the old
// loop sent each backlog's five readings, with their pauses, between the
// live site's ticks, so its readings came seconds apart and late. Each site
// drains on its own lane now: the live one keeps its pace, stamped as its
// meter answered, while both backlogs go up.
TEST(StationUpload, BacklogsOfOtherSitesCostTheLiveSiteNoTickAndMoveNoStamp) {
    SqmSimulator live, first, second;
    for (SqmSimulator* s : {&live, &first, &second}) s->Start();
    TStationFolder f;
    nettest::NetworkDb net;
    SetProgramDir(f.dir.Str());
    fs::create_directories(f.dir.Path() / "crdfiles");
    for (const char* code : {"LV01", "BK01", "BK02"}) {
        net.AddSite(code);
        WriteCredentialsFile(CredentialsFileName(code), net.Credentials(code));
    }
    f.AddSite(1, "Live", live.Port(), true, 0);
    f.AddSite(2, "First", first.Port(), true, 60);
    f.AddSite(3, "Second", second.Port(), true, 60);
    std::vector<std::string> sql = {"UPDATE SQMSITES SET SIT_AUTOUPLOAD=1",
                                    "UPDATE SQMSITES SET SIT_CODE='LV01' WHERE SIT_ID=1",
                                    "UPDATE SQMSITES SET SIT_CODE='BK01' WHERE SIT_ID=2",
                                    "UPDATE SQMSITES SET SIT_CODE='BK02' WHERE SIT_ID=3",
                                    "UPDATE SETTINGS SET SET_UPLOADDATA=1, SET_UPLOADMODE=0 WHERE SET_ID=1"};
    for (int site = 2; site <= 3; ++site)
        for (int i = 0; i < 20; ++i)
            sql.push_back("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SUNH, "
                          "REA_MOONH, REA_MOONPH, REA_STATE, REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, "
                          "REA_ORIGIN) VALUES ('B" + std::to_string(site * 100 + i) + "', " + std::to_string(site) +
                          ", '2024-01-15 22:" + std::to_string(10 + i) + ":00', 20.5, 3, -30, -10, 0.4, 0, 0, 0, 0, 0, 'K')");
    ExecOn(f.db, sql);

    f.Start({"--tick-ms", "1000"});
    // A reading's key is its second: with ticks a second apart, a late tick's
    // reading and the next one's can share it, the later replacing the
    // earlier. Counted by the seconds said, not by the lines.
    ASSERT_TRUE(f.station.WaitFor([](const TChild& c) { return PrintedReadingTimes(c, "Live").size() >= 14; }, 60s))
        << f.station.Err();
    f.Stop(SIGTERM);
    // The live site's stamps a tick apart, as its ticks came, not bunched behind the backlogs.
    std::vector<double> stamps;
    ForEachRowOn(f.db, "SELECT REA_DATETIME FROM READINGS WHERE REA_SITE=1 ORDER BY REA_DATETIME",
                 [&](fb::Query& q) { stamps.push_back(q.Fields(0).AsDateTime()); });
    ASSERT_GE(stamps.size(), 14u);
    double widest = 0;
    for (size_t i = 1; i < stamps.size(); ++i) widest = std::max(widest, (stamps[i] - stamps[i - 1]) * 86400.0);
    EXPECT_LT(widest, 2.5) << f.station.Err();
    // Meanwhile both backlogs went up side by side, five a quiet tick with their pauses.
    EXPECT_GE(f.station.Count("site \"First\": sent 5 waiting readings"), 1) << f.station.Err();
    EXPECT_GE(f.station.Count("site \"Second\": sent 5 waiting readings"), 1) << f.station.Err();
    EXPECT_GE(std::stoi(net.Admin("SELECT COUNT(*) FROM READINGS r JOIN SQMSITES s ON r.REA_SITE=s.SIT_ID "
                                  "WHERE s.SIT_CODE IN ('BK01', 'BK02')")
                            .FirstText()),
              10);
}

}  // namespace
