// The station's automatic upload against the MariaDB test server, and a stop
// request that arrives in the 1500 ms pause after a waiting reading went out.
#include "netdb_test_support.h"
#include "service_test_support.h"
#include "sqmsim.h"

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

}  // namespace
