// kalosqm-station --demo without a display, as ./run.sh demo starts it: a
// temporary tree laid out like the build (bin/ with the programs and the
// user's own Dati/, db/ with the delivered database).
#include "support/service_test_support.h"
#include "core/site/siterow.h"
#include "core/site/siterules.h"

namespace {

using namespace servicetest;

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY"};

class StationDemo : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root.Path() / "bin");
        fs::create_directories(root.Path() / "db");
        fs::copy_file(KALOSQM_STATION_EXE, Exe());
        fs::copy_file(SQMLE_SIM_EXE, root.Path() / "bin" / "sqmle-sim");
        fs::copy_file(KALO_PRISTINE_DB, root.Path() / "db" / "KALOSQMDATA.FDB");
        userDb = testsupport::CopyPristineDb(root.Path() / "bin");
        ExecOn(userDb, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_AUTOSTART) VALUES (1, 'Mine', 1)"});
        userBytes = testsupport::ReadFile(userDb);
    }
    std::string Exe() const { return (root.Path() / "bin" / "kalosqm-station").string(); }
    void Start(TChild& c, const std::vector<std::string>& args, const std::string& name) {
        std::vector<std::string> all{"--demo"};
        all.insert(all.end(), args.begin(), args.end());
        c.Start(Exe(), all, root.Path() / name, kNoDisplay);
    }
    // The simulator's port, from the demo's own words.
    static int SimPort(const TChild& c) {
        static const std::regex line(R"(listens on 127\.0\.0\.1:(\d+);)");
        std::smatch m;
        const std::string err = c.Err();
        return std::regex_search(err, m, line) ? std::stoi(m[1]) : 0;
    }

    testsupport::TempDir root;
    std::string userDb, userBytes;
};

TEST_F(StationDemo, WithoutADisplayTheServiceStoresAReadingOfDemoRoofWithinTenSeconds) {
    TChild demo;
    const auto t0 = std::chrono::steady_clock::now();
    Start(demo, {}, "demo.txt");
    ASSERT_TRUE(demo.WaitForLine("site \"Demo roof\": reading 19.29 mag/arcsec\u00b2 at ", 1, 10s)) << demo.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s);
    EXPECT_EQ(demo.Count("kalosqm-station: no display: the station service runs the demo here"), 1) << demo.Err();
    const int port = SimPort(demo);
    ASSERT_GT(port, 0) << demo.Err();
    EXPECT_TRUE(Listening(port));

    demo.Signal(SIGINT);  // Ctrl+C
    ASSERT_EQ(demo.WaitExit(10s), 0) << demo.Err();
    // The simulator went with it.
    EXPECT_TRUE(demo.WaitFor([&](const TChild&) { return !Listening(port); }, 5s));

    const std::string demoDb = (root.Path() / "demo" / "Dati" / "KALOSQMDATA.FDB").string();
    EXPECT_EQ(ColumnOn(demoDb, "SELECT SIT_NAME || '/' || SIT_SQMHOST || ':' || SIT_SQMPORT || '/' || SIT_ACQUIREMODE || "
                               "'/' || SIT_INTERVAL || '/' || SIT_AUTOSTART FROM SQMSITES"),
              std::vector<std::string>{"Demo roof/127.0.0.1:" + std::to_string(port) + "/0/1/1"});
    {
        // The demo's site keeps the rules of every site.
        fb::Database db(demoDb);
        db.Open();
        EXPECT_NO_THROW(TSiteRules::CheckPost(ReadSiteRow(db, std::stoi(ColumnOn(demoDb, "SELECT SIT_ID FROM SQMSITES").at(0)))));
        db.Close();
    }
    EXPECT_EQ(ColumnOn(demoDb, "SELECT SET_USEINTERTETTIME FROM SETTINGS"), std::vector<std::string>{"0"});
    EXPECT_GE(std::stoi(ColumnOn(demoDb, "SELECT COUNT(*) FROM READINGS").at(0)), 1);
    EXPECT_EQ(testsupport::ReadFile(userDb), userBytes) << "the demo touched the program's own database";
}

TEST_F(StationDemo, ADemoFolderGivenByDemoDirAndASecondDemoThatWouldReplaceItsDatabase) {
    const fs::path folder = root.Path() / "elsewhere" / "my demo";
    TChild first, second;
    Start(first, {"--demo-dir", folder.string()}, "first.txt");
    ASSERT_TRUE(first.WaitForLine("site \"Demo roof\": reading", 1, 10s)) << first.Err();
    EXPECT_TRUE(fs::exists(folder / "Dati" / "KALOSQMDATA.FDB"));

    Start(second, {"--demo-dir", folder.string()}, "second.txt");
    EXPECT_EQ(second.WaitExit(10s), 1);
    EXPECT_EQ(second.Count("is in use (is another demo running?)"), 1) << second.Err();
    first.Signal(SIGTERM);
    ASSERT_EQ(first.WaitExit(10s), 0) << first.Err();

    // Run again: a fresh copy of the delivered database each time.
    TChild again;
    Start(again, {"--demo-dir", folder.string()}, "again.txt");
    ASSERT_TRUE(again.WaitForLine("site \"Demo roof\": reading", 1, 10s)) << again.Err();
    again.Signal(SIGTERM);
    ASSERT_EQ(again.WaitExit(10s), 0);
    EXPECT_EQ(PrintedReadingTimes(again, "Demo roof").size(),
              static_cast<size_t>(std::stoi(
                  ColumnOn((folder / "Dati" / "KALOSQMDATA.FDB").string(), "SELECT COUNT(*) FROM READINGS").at(0))));
}

TEST_F(StationDemo, AFolderWithADatabaseTheDemoDidNotMakeIsNeverReplaced) {
    for (const fs::path& folder : {root.Path() / "bin", root.Path() / "station"}) {
        if (!fs::exists(folder / "Dati")) testsupport::CopyPristineDb(folder);
        const std::string before = testsupport::ReadFile(folder / "Dati" / "KALOSQMDATA.FDB");
        TChild demo;
        Start(demo, {"--demo-dir", folder.string()}, "refused.txt");
        EXPECT_EQ(demo.WaitExit(10s), 1) << folder;
        EXPECT_EQ(demo.Count("choose another"), 1) << demo.Err();
        EXPECT_EQ(testsupport::ReadFile(folder / "Dati" / "KALOSQMDATA.FDB"), before);
    }
}

}  // namespace
