// kalosqm-station as the systemd unit runs it: a child process on a copied
// database, meters simulated in this process, a fast tick of its own.
#include "service_test_support.h"

#include "sqmsim.h"

namespace {

using namespace servicetest;

const char* const kRefusal = "kalosqm-station: Another software session is already active: impossible to continue";

TEST(Station, TwoAutostartSitesStoreReadingsAndASiteWithoutAutostartIsLeftAlone) {
    SqmSimulator a, b, c;
    a.Start();
    b.Start();
    c.Start();
    TStationFolder f;
    f.AddSite(1, "Roof A", a.Port(), true);
    f.AddSite(2, "Roof B", b.Port(), true);
    f.AddSite(3, "Shed", c.Port(), false);
    f.Start({});
    EXPECT_TRUE(f.station.WaitFor(
        [](const TChild& s) {
            return s.Count("site \"Roof A\": reading 19.29 mag/arcsec\u00b2") >= 2 &&
                   s.Count("site \"Roof B\": reading 19.29 mag/arcsec\u00b2") >= 2;
        },
        15s))
        << f.station.Err();
    f.station.Signal(SIGTERM);
    ASSERT_EQ(f.station.WaitExit(10s), 0) << f.station.Err();
    EXPECT_GE(f.Readings(1), 1);
    EXPECT_GE(f.Readings(2), 1);
    EXPECT_EQ(f.Readings(3), 0);
    EXPECT_EQ(c.Requests(), 0);
    EXPECT_EQ(f.station.Count("site \"Shed\""), 0) << f.station.Err();
    EXPECT_EQ(f.station.ErrLines().back(), "kalosqm-station: stopped by SIGTERM");
    // Every reading printed is in the database, and nothing else.
    EXPECT_EQ(PrintedReadingTimes(f.station, "Roof A"), f.ReadingTimes(1));
    EXPECT_EQ(PrintedReadingTimes(f.station, "Roof B"), f.ReadingTimes(2));
}

TEST(Station, SitesNamedWithSiteRunInsteadOfTheAutostartOnes) {
    SqmSimulator a, c;
    a.Start();
    c.Start();
    TStationFolder f;
    f.AddSite(1, "Roof A", a.Port(), true);
    f.AddSite(3, "Shed", c.Port(), false);
    f.Start({"--site", "3", "--site", "9"});
    EXPECT_TRUE(f.station.WaitForLine("site \"Shed\": reading", 1, 15s)) << f.station.Err();
    f.station.Signal(SIGINT);
    ASSERT_EQ(f.station.WaitExit(10s), 0) << f.station.Err();
    EXPECT_EQ(f.Readings(1), 0);
    EXPECT_EQ(a.Requests(), 0);
    EXPECT_GE(f.Readings(3), 1);
    EXPECT_EQ(f.station.Count("there is no site with id 9 in the database: not run"), 1) << f.station.Err();
    EXPECT_EQ(f.station.ErrLines().back(), "kalosqm-station: stopped by SIGINT");
}

TEST(Station, AMeterThatFallsSilentOrGoesAwayIsLoggedAndReadAgainWhenBack) {
    SqmSimulator sim;
    sim.Start();
    const int port = sim.Port();
    TStationFolder f;
    f.AddSite(1, "Roof", port, true);
    f.Start({});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 15s)) << f.station.Err();

    // No answer: no complete reading, nothing stored, no exception.
    SqmSimConfig silent = sim.Config();
    silent.Silent = true;
    sim.SetConfig(silent);
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": no reading: SQM-LE not found (no complete answer from 127.0.0.1:" +
                                          std::to_string(port) + ")",
                                      1, 15s))
        << f.station.Err();

    // Gone: the connection is refused, and each tick logs its exception.
    sim.Stop();
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": tick failed: ", 2, 15s)) << f.station.Err();
    const fs::path log = f.dir.Path() / "LOGS" / "ERROR-LOG-SITE-Roof.TXT";
    EXPECT_NE(testsupport::ReadFile(log).find(" - Timer Exception - "), std::string::npos);
    EXPECT_GE(f.station.Count("(logged in " + (f.dir.Path() / "LOGS").string() + "/ERROR-LOG-SITE-Roof.TXT)"), 2);

    SqmSimulator back;
    back.Start(port);
    const int readingsBefore = f.station.Count("site \"Roof\": reading");
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", readingsBefore + 2, 15s)) << f.station.Err();
    f.station.Signal(SIGTERM);
    ASSERT_EQ(f.station.WaitExit(10s), 0) << f.station.Err();
    EXPECT_EQ(PrintedReadingTimes(f.station, "Roof"), f.ReadingTimes(1));
}

TEST(Station, AStopRequestInTheMiddleOfAReadingEndsInOrderWithEveryCommittedReading) {
    SqmSimConfig slow;
    slow.DelayMs = 700;  // the station spends most of its time inside a meter conversation
    SqmSimulator sim(slow);
    sim.Start();
    TStationFolder f;
    f.AddSite(1, "Roof", sim.Port(), true, 0, 3);
    f.Start({"--tick-ms", "200"});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 3, 20s)) << f.station.Err();
    // Right after the meter was asked again: the tick is under way.
    const int asked = sim.Requests();
    ASSERT_TRUE(f.station.WaitFor([&](const TChild&) { return sim.Requests() > asked; }, 10s));
    const auto t0 = std::chrono::steady_clock::now();
    f.station.Signal(SIGTERM);
    ASSERT_EQ(f.station.WaitExit(10s), 0) << f.station.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 8s);
    const auto stored = f.ReadingTimes(1);  // the database opens
    EXPECT_GE(stored.size(), 3u);
    EXPECT_EQ(PrintedReadingTimes(f.station, "Roof"), stored) << f.station.Err();
}

TEST(Station, SighupPicksUpASiteAddedWhileItWaited) {
    SqmSimulator sim;
    sim.Start();
    TStationFolder f;
    f.Start({"--wait"});
    ASSERT_TRUE(f.station.WaitForLine("kalosqm-station: waiting for SIGHUP", 1, 10s)) << f.station.Err();
    // Waiting with nothing to run, it leaves the database free: kalosqm-cli adds the site.
    f.AddSite(1, "Roof", sim.Port(), true);
    f.station.Signal(SIGHUP);
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 10s)) << f.station.Err();

    // Another SIGHUP while it runs: the same site goes on, not a second acquisition.
    f.station.Signal(SIGHUP);
    ASSERT_TRUE(f.station.WaitForLine("kalosqm-station: SIGHUP: reading the site list again", 2, 10s));
    const int readings = f.station.Count("site \"Roof\": reading");
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", readings + 1, 10s)) << f.station.Err();
    EXPECT_EQ(f.station.Count("site \"Roof\" (id 1, SQM-LE at 127.0.0.1:" + std::to_string(sim.Port()) +
                              ", Continuous, every 0 min): acquisition starts in "),
              1)
        << f.station.Err();
    f.station.Signal(SIGTERM);
    ASSERT_EQ(f.station.WaitExit(10s), 0) << f.station.Err();
    EXPECT_EQ(PrintedReadingTimes(f.station, "Roof"), f.ReadingTimes(1));
}

TEST(Station, ASecondStationOnTheSameFolderIsRefusedAndTheFirstGoesOn) {
    SqmSimulator sim;
    sim.Start();
    TStationFolder f;
    f.AddSite(1, "Roof", sim.Port(), true);
    f.Start({});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 15s)) << f.station.Err();

    TChild second;
    second.Start(KALOSQM_STATION_EXE, {"--dir", f.dir.Str(), "--wait"}, f.dir.Path() / "second.txt");
    EXPECT_EQ(second.WaitExit(10s), 1);
    EXPECT_EQ(second.Count(kRefusal), 1) << second.Err();
    EXPECT_EQ(second.Count("site \""), 0);

    const int readings = f.station.Count("site \"Roof\": reading");
    EXPECT_TRUE(f.station.WaitForLine("site \"Roof\": reading", readings + 1, 10s)) << "the first was disturbed";
    f.station.Signal(SIGTERM);
    EXPECT_EQ(f.station.WaitExit(10s), 0) << f.station.Err();
}

#ifdef KALOSQM_EXE
// The desktop program finds its folder beside its executable.
void StartDesktop(TChild& c, const TStationFolder& f) {
    const fs::path exe = f.dir.Path() / "kalosqm";
    if (!fs::exists(exe)) fs::copy_file(KALOSQM_EXE, exe);
    c.Start(exe.string(), {"noautoplay"}, f.dir.Path() / "desktop.txt",
            {"QT_QPA_PLATFORM=offscreen", "KALOSQM_MESSAGE_LOG=" + (f.dir.Path() / "messages.txt").string()});
}

TEST(Station, TheDesktopProgramAndTheStationRefuseEachOther) {
    SqmSimulator sim;
    sim.Start();
    TStationFolder f;
    f.AddSite(1, "Roof", sim.Port(), true);
    f.Start({});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 15s)) << f.station.Err();
    TChild desktop;
    StartDesktop(desktop, f);
    EXPECT_EQ(desktop.WaitExit(30s), 1);
    EXPECT_EQ(testsupport::ReadFile(f.dir.Path() / "messages.txt"),
              "error: Another software session is already active: impossible to continue\n");
    f.station.Signal(SIGTERM);
    ASSERT_EQ(f.station.WaitExit(10s), 0);

    StartDesktop(desktop, f);
    // The main window is made after the database is open; it creates WinSetup.
    ASSERT_TRUE(f.station.WaitFor([&](const TChild&) { return fs::exists(f.dir.Path() / "WinSetup"); }, 30s));
    f.Start({});
    EXPECT_EQ(f.station.WaitExit(10s), 1);
    EXPECT_EQ(f.station.Count(kRefusal), 1) << f.station.Err();
    desktop.Signal(SIGTERM);
    EXPECT_EQ(desktop.WaitExit(30s), 0);
}
#endif

TEST(Station, WithNoSiteItSaysWhatToDoAndEndsOrWaits) {
    TStationFolder f;
    f.AddSite(1, "Roof", 1, false);
    f.Start({});
    EXPECT_EQ(f.station.WaitExit(10s), 0);
    const std::string err = f.station.Err();
    EXPECT_NE(err.find("kalosqm-station: no site to run: no site in " + f.db + " is marked for autostart."),
              std::string::npos)
        << err;
    for (const char* hint : {"the desktop program kalosqm", "kalosqm-cli site add", "./run.sh demo"})
        EXPECT_NE(err.find(hint), std::string::npos) << hint;
    EXPECT_EQ(f.station.ErrLines().back(), "kalosqm-station: nothing to do: ending (with --wait it would wait for SIGHUP)");

    f.Start({"--wait"});
    ASSERT_TRUE(f.station.WaitForLine("kalosqm-station: waiting for SIGHUP", 1, 10s)) << f.station.Err();
    EXPECT_EQ(f.station.WaitExit(1s), -1) << "it should wait";
    f.station.Signal(SIGHUP);  // still nothing: it says so again and goes on waiting
    ASSERT_TRUE(f.station.WaitForLine("kalosqm-station: waiting for SIGHUP", 2, 10s)) << f.station.Err();
    f.station.Signal(SIGTERM);
    EXPECT_EQ(f.station.WaitExit(10s), 0);
}

TEST(Station, AMissingDatabaseGivesTheDesktopProgramsMessageAndExitOne) {
    TStationFolder f;
    fs::remove(f.db);
    f.Start({"--wait"});
    EXPECT_EQ(f.station.WaitExit(10s), 1);
    EXPECT_EQ(f.station.Count(kRefusal), 1) << f.station.Err();
    EXPECT_EQ(f.station.Count("kalosqm-station: there is no database at " + f.db), 1) << f.station.Err();
}

TEST(Station, UsageErrorsEndWithTwoAndHelpWithZero) {
    testsupport::TempDir dir;
    const std::vector<std::vector<std::string>> bad = {
        {"--site"}, {"--site", "x"}, {"--site", "0"}, {"--tick-ms", "0"}, {"--bogus"}, {"noautoplay"},
        {"--demo", "--site", "1"}, {"--demo-dir", dir.Str()}, {"--wait", "--wait"}, {"--wait=1"}};
    for (const auto& args : bad) {
        TChild c;
        c.Start(KALOSQM_STATION_EXE, args, dir.Path() / "err.txt");
        EXPECT_EQ(c.WaitExit(10s), 2) << args.front();
        EXPECT_EQ(c.Err().rfind("kalosqm-station: ", 0), 0u) << c.Err();
        EXPECT_NE(c.Err().find("usage: kalosqm-station"), std::string::npos);
    }
    TChild help;
    help.Start(KALOSQM_STATION_EXE, {"--help"}, dir.Path() / "err.txt");
    EXPECT_EQ(help.WaitExit(10s), 0);
    EXPECT_EQ(help.Out().rfind("usage: kalosqm-station", 0), 0u) << help.Out();
    EXPECT_EQ(help.Err(), "");
}

}  // namespace
