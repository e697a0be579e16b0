// The upload that acquisition does by itself, against the MariaDB test
// server: each new night reading, and up to five waiting ones per quiet tick.
#include "netdb_test_support.h"
#include "readingwindow.h"
#include "site_test_support.h"

using namespace sitetest;

namespace {

class AutoUpload : public SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        netSite = net.AddSite("AB12");
        std::filesystem::create_directories(dir.Path() / "crdfiles");
        WriteCredentialsFile(CredentialsFileName("AB12"), net.Credentials("AB12"));
    }
    std::vector<std::string> NetworkKeys() {
        const netdb::Result r = net.Admin("SELECT REA_KALOCODE, REA_STATE FROM READINGS ORDER BY REA_DATETIME");
        std::vector<std::string> keys;
        for (size_t i = 0; i < r.RowCount(); ++i) keys.push_back(r.Text(i, 0) + "/" + r.Text(i, 1));
        return keys;
    }
    nettest::NetworkDb net;
    int netSite = 0;
};

TEST_F(AutoUpload, EachNightReadingGoesOutAsItIsStoredWhenEverythingAllowsIt) {
    Settings(0, 0, 1, 0, 20);
    const int id = AddSite({.Interval = 1, .Code = "AB12"});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TSite s(*this, id);
    s.acq.StartOrStop();
    Run(s, 1);
    const auto rows = Stored(id);
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& r : rows) EXPECT_EQ(r.Uploaded, 1) << r.Code;
    EXPECT_EQ(NetworkKeys(), (std::vector<std::string>{rows[0].Code + "AB12/0", rows[1].Code + "AB12/0"}));
    EXPECT_TRUE(s.acq.LastTick().Uploaded);
    EXPECT_EQ(wait.pauses, 0);  // nothing waited: no pending upload ran
}

TEST_F(AutoUpload, NothingGoesOutWhenAnyOfTheSwitchesIsOff) {
    struct Case {
        int upload, mode, siteAuto;
        bool withFile;
    } cases[] = {{0, 0, 1, true}, {1, 1, 1, true}, {1, 0, 0, true}, {1, 0, 1, false}};
    int n = 0;
    for (const Case& c : cases) {
        Settings(0, 0, c.upload, c.mode, 20);
        if (!c.withFile) std::filesystem::remove(CredentialsFileName("AB12"));
        const int id = AddSite({.Name = "S" + std::to_string(++n), .Interval = 1, .Code = "AB12", .AutoUpload = c.siteAuto});
        clock.now = EncodeDateTime(2024, 1, 15, 22, n, 0);
        TSite s(*this, id);
        s.acq.StartOrStop();
        Run(s, 0.5);  // a quiet tick: no pending upload either
        ASSERT_EQ(Stored(id).size(), 1u);
        EXPECT_EQ(Stored(id).front().Uploaded, 0) << n;
        s.acq.Stop();
    }
    EXPECT_TRUE(NetworkKeys().empty());
    EXPECT_EQ(wait.pauses, 0);
}

TEST_F(AutoUpload, DaylightReadingsNeverReachTheNetwork) {
    Settings(0, 0, 1, 0, 20);
    const int id = AddSite({.Method = kTimed, .Interval = 1, .Start = "18.00", .Stop = "06.00", .DayReading = 1,
                            .DayInterval = "1", .Code = "AB12"});
    clock.now = EncodeDateTime(2024, 1, 15, 12, 0, 0);
    TSite s(*this, id);
    s.acq.StartOrStop();
    Run(s, 3);
    const auto rows = Stored(id);
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& r : rows) {
        EXPECT_EQ(r.State, -1);
        EXPECT_EQ(r.Uploaded, 0);
    }
    EXPECT_TRUE(NetworkKeys().empty());
}

TEST_F(AutoUpload, QuietTicksSendAtMostFiveWaitingReadingsNewestFirst) {
    Settings(0, 0, 0, 0, 20);  // upload off while the readings pile up
    const int id = AddSite({.Interval = 10, .Code = "AB12"});
    clock.now = EncodeDateTime(2024, 1, 15, 20, 0, 0);
    TSite s(*this, id);
    s.acq.StartOrStop();
    Run(s, 60);  // seven readings, 20:00 to 21:00
    ASSERT_EQ(Stored(id).size(), 7u);
    EXPECT_TRUE(NetworkKeys().empty());

    Settings(0, 0, 1, 0, 20);
    clock.Advance(30);
    s.acq.Tick();  // 21:00:30: nothing due, the five newest go
    EXPECT_EQ(s.acq.LastTick().PendingSent, 5);
    EXPECT_EQ(wait.pauses, 5);  // 1500 ms after each
    const auto rows = Stored(id);
    std::vector<int> uploaded;
    for (const auto& r : rows) uploaded.push_back(r.Uploaded);
    EXPECT_EQ(uploaded, (std::vector<int>{0, 0, 1, 1, 1, 1, 1}));
    clock.Advance(30);
    s.acq.Tick();
    EXPECT_EQ(s.acq.LastTick().PendingSent, 2);
    EXPECT_EQ(NetworkKeys().size(), 7u);
}

// A waiting row that cannot make a reading (a null Sun altitude, say) is
// the newest: it must not hold back the older ones, and it is told once.
// An imported reading keeps its own mark on the network.
TEST_F(AutoUpload, AnUnloadableWaitingReadingHoldsNoneBackAndImportedOnesKeepTheirMark) {
    const int id = AddSite({.Interval = 1, .Code = "AB12"});
    // Keys as the store makes them: the time, then the site.
    auto key = [&](int hour) { return "20240115" + std::to_string(hour) + "0000" + std::to_string(id); };
    auto add = [&](int hour, const char* sunH, char origin) {
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SUNH, REA_MOONH, "
             "REA_MOONPH, REA_STATE, REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES ('" +
             key(hour) + "', " + std::to_string(id) + ", '2024-01-15 " + std::to_string(hour) + ":00:00', 20.5, 3, " +
             sunH + ", -10, 0.4, 0, 0, 0, 0, 0, '" + origin + "')");
    };
    add(20, "-30", 'K');
    add(21, "-35", 'I');
    add(22, "NULL", 'K');
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(UploadPendingReadings(Db(), id, 5, wait), pass == 0 ? 2 : 0);
        EXPECT_EQ(wait.pauses, pass == 0 ? 3 : 4);  // 1500 ms after each row, the bad one too
        const netdb::Result r = net.Admin("SELECT REA_KALOCODE, REA_ORIGIN FROM READINGS ORDER BY REA_DATETIME");
        ASSERT_EQ(r.RowCount(), 2u);
        EXPECT_EQ(r.Text(0, 0) + r.Text(0, 1), key(20) + "AB12K");
        EXPECT_EQ(r.Text(1, 0) + r.Text(1, 1), key(21) + "AB12I");
        std::vector<int> uploaded;
        for (const auto& row : Stored(id)) uploaded.push_back(row.Uploaded);
        EXPECT_EQ(uploaded, (std::vector<int>{1, 1, 0}));  // the bad one still waits
        const auto log = LogLines("NETWORK");
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find(" Lettura in attesa non inviabile, saltata: reading " + key(22) + ": Field REA_SUNH is null"),
                  std::string::npos)
            << log[0];
    }
}

TEST_F(AutoUpload, AnUnreachableNetworkDatabaseSkipsTheUploadSilently) {
    Settings(0, 0, 1, 0, 20);
    TCredentials c = net.Credentials("AB12");
    c.Port = ClosedPort();
    WriteCredentialsFile(CredentialsFileName("AB12"), c);
    const int id = AddSite({.Interval = 1, .Code = "AB12"});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TSite s(*this, id);
    s.acq.StartOrStop();
    ASSERT_EQ(Stored(id).size(), 1u);
    EXPECT_EQ(Stored(id).front().Uploaded, 0);
    EXPECT_EQ(s.light.Last(), 'G');
    EXPECT_TRUE(s.prompt.texts.empty());
    EXPECT_TRUE(LogLines("Roof").empty());
}

}  // namespace
