// The unattended run: a site marked for autostart is read as soon as the
// program is up, again at every start, and a stop request ends the program
// in order, acquiring windows and all, without a question.
#include "support/service_test_support.h"

#include "tools/sqmle-sim/sqmsim.h"

namespace {

using namespace servicetest;

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(KALOSQM_EXE, dir.Path() / "kalosqm");
        dbFile = testsupport::CopyPristineDb(dir.Path());
        sim.Start();
        // Internet time off: no server outside this machine is asked.
        ExecOn(dbFile, {"UPDATE SETTINGS SET SET_USEINTERTETTIME=0, SET_UPLOADDATA=0 WHERE SET_ID=1",
                        "INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_INTERVAL, "
                        "SIT_ACQUIREMODE, SIT_AUTOSTART, SIT_LATIT, SIT_LONG) VALUES (1, 'Roof', '127.0.0.1', " +
                            std::to_string(sim.Port()) + ", 2, 1, 0, 1, 45.5, 9.2)"});
    }
    void Start(const std::vector<std::string>& args = {}) {
        program.Start((dir.Path() / "kalosqm").string(), args, dir.Path() / "stderr.txt",
                      {"QT_QPA_PLATFORM=offscreen", "KALOSQM_MESSAGE_LOG=" + (dir.Path() / "messages.txt").string()});
    }
    // Only while the program is not running: the engine holds the file for one process.
    int Readings() {
        return std::stoi(ColumnOn(dbFile, "SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1 AND REA_STATE=0").at(0));
    }
    bool MeterAsked(int n) {
        return program.WaitFor([&](const TChild&) { return sim.Requests() >= n; }, 20s);
    }

    testsupport::TempDir dir;
    std::string dbFile;
    SqmSimulator sim;
    TChild program;
};

TEST_F(Program, NoautoplayKeepsTheSitesClosedAndOtherwiseAnAutostartSiteIsReadAtEveryStartUntilAStopRequest) {
    Start({"noautoplay"});
    std::this_thread::sleep_for(7s);  // past the welcome and the longest start delay
    EXPECT_EQ(sim.Requests(), 0);
    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitExit(10s), 0);

    for (int run = 1; run <= 2; ++run) {
        Start();
        // Welcome for 2 s, then the site window's own delay of 1 to 4 s.
        ASSERT_TRUE(MeterAsked(sim.Requests() + 1)) << "run " << run << ": the site never asked the meter";
        std::this_thread::sleep_for(1500ms);  // the reading is stored and the identity asked
        program.Signal(SIGTERM);
        EXPECT_EQ(program.WaitExit(10s), 0) << "run " << run;
        EXPECT_EQ(Readings(), run);
    }
    // A stop request is no user's close: nothing was asked.
    const std::string messages = testsupport::ReadFile(dir.Path() / "messages.txt");
    EXPECT_EQ(messages.find("confirm:"), std::string::npos) << messages;
    EXPECT_TRUE(fs::exists(dir.Path() / "WinSetup" / "SiteForm-1.ini"));
}

}  // namespace
