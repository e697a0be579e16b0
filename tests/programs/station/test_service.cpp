// kalosqm-station as the systemd unit runs it: a child process on a copied
// database, meters simulated in this process, a fast tick of its own.
#include "support/service_test_support.h"

#include <fstream>

#include "programs/station/servicecore.h"
#include "tools/sqmle-sim/sqmsim.h"

namespace {

using namespace servicetest;

const char* const kRefusal = "kalosqm-station: Another software session is already active: impossible to continue";
const char* const kWaiting = "kalosqm-station: waiting for SIGHUP";

// One autostart site "Roof" (id 1) on a simulated meter.
class RoofStation : public ::testing::Test {
protected:
    explicit RoofStation(SqmSimConfig meter = {}) : sim(meter) {
        sim.Start();
        f.AddSite(1, "Roof", sim.Port(), true);
    }
    // Started, and its first reading printed.
    void StartReading(const std::vector<std::string>& args = {}) {
        f.Start(args);
        ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 15s)) << f.station.Err();
    }
    int RoofReadings() const { return f.station.Count("site \"Roof\": reading"); }

    SqmSimulator sim;
    TStationFolder f;
};

TEST(Station, AutostartSitesRunUnlessSiteNamesOthersAndEveryPrintedReadingIsStored) {
    SqmSimulator a, b, c;
    for (SqmSimulator* s : {&a, &b, &c}) s->Start();
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
    f.Stop(SIGTERM);
    f.ExpectPrintedStored("Roof A", 1);
    f.ExpectPrintedStored("Roof B", 2);
    EXPECT_EQ(f.Readings(3), 0);
    EXPECT_EQ(c.Requests(), 0);
    EXPECT_EQ(f.station.Count("site \"Shed\""), 0) << f.station.Err();

    // --site: the named sites instead of the autostart ones; an unknown id is said.
    const int asked = a.Requests() + b.Requests(), stored = f.Readings(1) + f.Readings(2);
    f.Start({"--site", "3", "--site", "9"});
    EXPECT_TRUE(f.station.WaitForLine("site \"Shed\": reading", 1, 15s)) << f.station.Err();
    f.Stop(SIGINT);
    f.ExpectPrintedStored("Shed", 3);
    EXPECT_EQ(a.Requests() + b.Requests(), asked);
    EXPECT_EQ(f.Readings(1) + f.Readings(2), stored);
    EXPECT_EQ(f.station.Count("there is no site with id 9 in the database: not run"), 1) << f.station.Err();
}

TEST_F(RoofStation, AMeterThatFallsSilentOrGoesAwayIsLoggedAndReadAgainWhenBack) {
    StartReading();
    const fs::path log = f.dir.Path() / "LOGS" / "ERROR-LOG-SITE-Roof.TXT";
    const std::string meter = "site \"Roof\": no reading: SQM-LE at 127.0.0.1:" + std::to_string(sim.Port()) + ": ";
    // No answer: nothing stored, the cause said and logged.
    SqmSimConfig silent = sim.Config();
    silent.Silent = true;
    sim.SetConfig(silent);
    ASSERT_TRUE(f.station.WaitForLine(meter + "no answer within 1 s (logged in " + log.string() + ")", 1, 15s))
        << f.station.Err();

    // Gone: the connection is refused, said and logged the same way.
    const int port = sim.Port();
    sim.Stop();
    ASSERT_TRUE(f.station.WaitForLine(meter + "cannot connect: Socket error: Connection refused (logged in " +
                                          log.string() + ")",
                                      2, 15s))
        << f.station.Err();
    EXPECT_NE(testsupport::ReadFile(log).find(" - Timer Exception - "), std::string::npos);

    SqmSimulator back;
    back.Start(port);
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", RoofReadings() + 2, 15s)) << f.station.Err();
    f.Stop(SIGTERM);
    f.ExpectPrintedStored("Roof", 1);
}

// The log's lines, without their line ends.
std::vector<std::string> LogLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::ReadFile(file));
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(l);
    }
    return lines;
}

// A meter that is not there and one that accepts and never answers: each due
// reading (one per tick here) says why on standard error and leaves exactly
// one line in the site's log.
TEST(Station, EveryFailedReadingNamesItsCauseOnStandardErrorAndOnceInTheSiteLog) {
    SqmSimulator mute;
    SqmSimConfig silent;
    silent.Silent = true;
    mute.SetConfig(silent);
    mute.Start();
    const int closed = testsupport::ClosedPort();
    TStationFolder f;
    f.AddSite(1, "Gone", closed, true);
    f.AddSite(2, "Mute", mute.Port(), true);
    f.Start({"--tick-ms", "200"});
    const struct {
        std::string name, cause;
    } sites[] = {
        {"Gone", "SQM-LE at 127.0.0.1:" + std::to_string(closed) + ": cannot connect: Socket error: Connection refused"},
        {"Mute", "SQM-LE at 127.0.0.1:" + std::to_string(mute.Port()) + ": no answer within 1 s"},
    };
    for (const auto& s : sites)
        ASSERT_TRUE(f.station.WaitForLine("site \"" + s.name + "\": no reading: ", 3, 30s)) << f.station.Err();
    f.Stop(SIGTERM);
    const std::regex stamp(R"(\d\d/\d\d/\d{4} \d\d\.\d\d\.\d\d)");
    for (const auto& s : sites) {
        SCOPED_TRACE(s.name);
        const fs::path log = f.dir.Path() / "LOGS" / ("ERROR-LOG-SITE-" + s.name + ".TXT");
        const int said = f.station.Count("site \"" + s.name + "\": no reading: ");
        EXPECT_EQ(f.station.Count("site \"" + s.name + "\": no reading: " + s.cause + " (logged in " + log.string() + ")"),
                  said)
            << f.station.Err();
        const auto lines = LogLines(log);
        EXPECT_EQ(static_cast<int>(lines.size()), said);
        for (const auto& line : lines) {
            EXPECT_TRUE(std::regex_match(line.substr(0, 19), stamp)) << line;
            EXPECT_EQ(line.substr(19), " - Timer Exception - " + s.cause);
        }
        EXPECT_EQ(f.Readings(s.name == "Gone" ? 1 : 2), 0);
    }
    // One request per due reading: a failed reading asks no identity.
    EXPECT_EQ(mute.Requests(), f.station.Count("site \"Mute\": no reading: "));
    EXPECT_EQ(f.station.Count("tick failed"), 0) << f.station.Err();
}

TEST_F(RoofStation, ANightFileWhoseLinesWaitWhileItsLogCannotSaySoIsSaidOnceAndOnceWhenWrittenAgain) {
    // Plain files where the folders of the logs and of the night files should be.
    std::ofstream(f.dir.Path() / "LOGS").put('x');
    std::ofstream(f.dir.Path() / "NightFiles").put('x');
    StartReading();
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 3, 20s)) << f.station.Err();
    const std::string file = "kalosqm-station: the night file " + (f.dir.Path() / "NightFiles" / "Roof").string() + "/";
    EXPECT_EQ(f.station.Count(file), 1) << f.station.Err();
    EXPECT_EQ(f.station.Count(": its lines wait until it can"), 1) << f.station.Err();
    EXPECT_EQ(f.station.Count("cannot be written (cannot make the folder "), 1) << f.station.Err();

    fs::remove(f.dir.Path() / "LOGS");
    fs::remove(f.dir.Path() / "NightFiles");
    const int before = RoofReadings();
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", before + 2, 20s)) << f.station.Err();
    EXPECT_EQ(f.station.Count(file), 2) << f.station.Err();
    EXPECT_EQ(f.station.Count(" is written again, with the "), 1) << f.station.Err();
    EXPECT_EQ(f.station.Count(": its lines wait until it can"), 1) << f.station.Err();
    f.Stop(SIGTERM);
}

TEST_F(RoofStation, ALogThatCannotBeWrittenIsSaidOnceWithWhyAndOnceWhenItIsWrittenAgain) {
    // A plain file where the folder of the logs should be: every log line fails.
    std::ofstream(f.dir.Path() / "LOGS").put('x');
    StartReading();
    const int port = sim.Port();
    sim.Stop();
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": no reading: ", 3, 15s)) << f.station.Err();
    const std::string log = (f.dir.Path() / "LOGS" / "ERROR-LOG-SITE-Roof.TXT").string();
    const std::string lost = "kalosqm-station: the error log " + log + " cannot be written (Not a directory)";
    EXPECT_EQ(f.station.Count(lost), 1) << f.station.Err();
    EXPECT_GE(f.station.Count("(not logged: " + log + " cannot be written: Not a directory)"), 3) << f.station.Err();
    EXPECT_EQ(f.station.Count("(logged in "), 0) << f.station.Err();

    // Room for the logs again: said once, and the lines say where they went.
    fs::remove(f.dir.Path() / "LOGS");
    const int failed = f.station.Count("site \"Roof\": no reading: ");
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": no reading: ", failed + 3, 15s)) << f.station.Err();
    EXPECT_EQ(f.station.Count("kalosqm-station: the error log " + log + " is written again"), 1) << f.station.Err();
    EXPECT_EQ(f.station.Count(lost), 1) << f.station.Err();
    EXPECT_GE(f.station.Count("(logged in " + log + ")"), 2) << f.station.Err();
    EXPECT_NE(testsupport::ReadFile(log).find(" - Timer Exception - "), std::string::npos);
    SqmSimulator back;
    back.Start(port);
    f.Stop(SIGTERM);
}

class SlowRoofStation : public RoofStation {
protected:
    // The station spends most of its time inside a meter conversation.
    SlowRoofStation() : RoofStation([] {
        SqmSimConfig slow;
        slow.DelayMs = 700;
        return slow;
    }()) {
        ExecOn(f.db, {"UPDATE SQMSITES SET SIT_TIMEOUT=3 WHERE SIT_ID=1"});
    }
};

TEST_F(SlowRoofStation, AStopRequestInTheMiddleOfAReadingEndsInOrderWithEveryCommittedReading) {
    f.Start({"--tick-ms", "200"});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 3, 20s)) << f.station.Err();
    // Right after the meter was asked again: the tick is under way.
    const int asked = sim.Requests();
    ASSERT_TRUE(f.station.WaitFor([&](const TChild&) { return sim.Requests() > asked; }, 10s));
    const auto t0 = std::chrono::steady_clock::now();
    f.Stop(SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 8s);
    f.ExpectPrintedStored("Roof", 1);  // the database opens
}

// The fault this catches: the loop held in one site's conversation. While a
// meter that never answers keeps its site's conversation open, the other
// site is read at its ticks; every reading it prints is stored, and the
// silent one is asked once per conversation, each failure said once.
TEST(Station, AMeterThatNeverAnswersHoldsUpNoOtherSite) {
    SqmSimulator live, mute(SqmSimConfig{.Silent = true});
    live.Start();
    mute.Start();
    TStationFolder f;
    f.AddSite(1, "Live", live.Port(), true);
    f.AddSite(2, "Mute", mute.Port(), true);
    ExecOn(f.db, {"UPDATE SQMSITES SET SIT_TIMEOUT=4 WHERE SIT_ID=2"});
    f.Start({"--tick-ms", "300"});
    const auto printed = [&f] { return f.station.Count("site \"Live\": reading"); };
    // From the silent meter's first request to its failure: one conversation.
    ASSERT_TRUE(f.station.WaitFor([&](const TChild&) { return mute.Requests() >= 1; }, 30s)) << f.station.Err();
    const int before = printed();
    ASSERT_TRUE(f.station.WaitForLine("site \"Mute\": no reading: ", 1, 30s)) << f.station.Err();
    const int during = printed() - before;
    EXPECT_GE(during, 3) << f.station.Err();
    EXPECT_EQ(mute.Requests(), 1);
    ASSERT_TRUE(f.station.WaitForLine("site \"Mute\": no reading: ", 2, 30s)) << f.station.Err();
    f.Stop(SIGTERM);
    f.ExpectPrintedStored("Live", 1);
    EXPECT_EQ(f.Readings(2), 0);
    // The stop let the conversation under way end and say so: one line per request.
    EXPECT_EQ(f.station.Count("site \"Mute\": no reading: SQM-LE at 127.0.0.1:" + std::to_string(mute.Port()) +
                              ": no answer within 4 s"),
              mute.Requests())
        << f.station.Err();
    EXPECT_EQ(f.station.Count("due reading skipped"), 0) << f.station.Err();
    EXPECT_EQ(f.station.Count("tick failed"), 0) << f.station.Err();
}

TEST(Station, WithNoSiteItSaysWhatToDoAndEndsOrWaitsForTheSighupThatPicksUpANewSite) {
    TStationFolder f;
    f.AddSite(2, "Shed", 1, false);
    f.Start({});
    EXPECT_EQ(f.station.WaitExit(10s), 0);
    const std::string err = f.station.Err();
    EXPECT_NE(err.find("kalosqm-station: no site to run: no site in " + f.db + " is marked for autostart."),
              std::string::npos)
        << err;
    for (const char* hint : {"the desktop program kalosqm", "kalosqm-cli site add", "./run.sh demo"})
        EXPECT_NE(err.find(hint), std::string::npos) << hint;
    ASSERT_FALSE(f.station.ErrLines().empty());
    EXPECT_EQ(f.station.ErrLines().back(), "kalosqm-station: nothing to do: ending (with --wait it would wait for SIGHUP)");

    f.Start({"--wait"});
    ASSERT_TRUE(f.station.WaitForLine(kWaiting, 1, 10s)) << f.station.Err();
    EXPECT_EQ(f.station.WaitExit(1s), -1) << "it should wait";
    f.station.Signal(SIGHUP);  // still nothing: it says so again and goes on waiting
    ASSERT_TRUE(f.station.WaitForLine(kWaiting, 2, 10s)) << f.station.Err();

    // Waiting, it leaves the database free: kalosqm-cli adds the site. Timed
    // with a window of one instant and daylight readings at every tick: a
    // reading at each of the station's ticks.
    SqmSimulator sim;
    sim.Start();
    TChild cli;
    cli.Start(KALO_CLI_EXE,
              {"site", "add", "--db", f.db, "--name", "Roof", "--host", "127.0.0.1", "--port", std::to_string(sim.Port()),
               "--timeout", "1", "--lat", "45.8664", "--lon", "11.5264", "--method", "Timed", "--start", "00:00",
               "--stop", "00:00", "--day-readings", "on", "--day-interval", "0", "--autostart", "on", "--auto-upload",
               "off"},
              f.dir.Path() / "cli.txt");
    ASSERT_EQ(cli.WaitExit(30s), 0) << cli.Err();
    const int id = std::atoi(cli.Out().c_str());
    ASSERT_GT(id, 0) << cli.Out();
    f.station.Signal(SIGHUP);
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 10s)) << f.station.Err();
    // Another SIGHUP while it runs: the same site goes on, not a second acquisition.
    f.station.Signal(SIGHUP);
    ASSERT_TRUE(f.station.WaitForLine("kalosqm-station: SIGHUP: reading the site list again", 3, 10s));
    const int readings = f.station.Count("site \"Roof\": reading");
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", readings + 1, 10s)) << f.station.Err();
    EXPECT_EQ(f.station.Count("site \"Roof\" (id " + std::to_string(id) + ", SQM-LE at 127.0.0.1:" +
                              std::to_string(sim.Port()) + ", Timed, every 1 min): acquisition starts in "),
              1)
        << f.station.Err();
    f.Stop(SIGTERM);
    f.ExpectPrintedStored("Roof", id);
}

TEST_F(RoofStation, ASecondStationOrTheDesktopProgramIsRefusedAndTheFirstGoesOn) {
    StartReading();
    TChild second;
    second.Start(KALOSQM_STATION_EXE, {"--dir", f.dir.Str(), "--wait"}, f.dir.Path() / "second.txt");
    EXPECT_EQ(second.WaitExit(10s), 1);
    EXPECT_EQ(second.Count(kRefusal), 1) << second.Err();
    EXPECT_EQ(second.Count("site \""), 0);
#ifdef KALOSQM_EXE
    // The desktop program finds its folder beside its executable.
    fs::copy_file(KALOSQM_EXE, f.dir.Path() / "kalosqm");
    TChild desktop;
    auto startDesktop = [&] {
        desktop.Start((f.dir.Path() / "kalosqm").string(), {"noautoplay"}, f.dir.Path() / "desktop.txt",
                      {"QT_QPA_PLATFORM=offscreen", "KALOSQM_MESSAGE_LOG=" + (f.dir.Path() / "messages.txt").string()});
    };
    startDesktop();
    EXPECT_EQ(desktop.WaitExit(30s), 1);
    EXPECT_EQ(testsupport::ReadFile(f.dir.Path() / "messages.txt"),
              "error: Another software session is already active: impossible to continue\n");
#endif
    EXPECT_TRUE(f.station.WaitForLine("site \"Roof\": reading", RoofReadings() + 1, 10s)) << "the first was disturbed";
    f.Stop(SIGTERM);
#ifdef KALOSQM_EXE
    // The other way round: the desktop program holds the database.
    startDesktop();
    // The main window is made after the database is open; it creates WinSetup.
    ASSERT_TRUE(f.station.WaitFor([&](const TChild&) { return fs::exists(f.dir.Path() / "WinSetup"); }, 30s));
    f.Start({});
    EXPECT_EQ(f.station.WaitExit(10s), 1);
    EXPECT_EQ(f.station.Count(kRefusal), 1) << f.station.Err();
    desktop.Signal(SIGTERM);
    EXPECT_EQ(desktop.WaitExit(30s), 0);
#endif
}

TEST(Station, AMissingDatabaseGivesTheDesktopProgramsMessageAndExitOne) {
    TStationFolder f;
    fs::remove(f.db);
    f.Start({"--wait"});
    EXPECT_EQ(f.station.WaitExit(10s), 1);
    // Its first words say what is true and where a database comes from; nobody holds a missing file.
    const auto lines = f.station.ErrLines();
    ASSERT_GE(lines.size(), 2u) << f.station.Err();
    EXPECT_EQ(lines[0], "kalosqm-station: There is no database at " + f.db + ".");
    EXPECT_EQ(lines[1].rfind("kalosqm-station: Copy the delivered one, ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("KALOSQMDATA.FDB, there, or start the desktop program kalosqm once"), std::string::npos)
        << lines[1];
    EXPECT_EQ(f.station.Count(kRefusal), 0) << f.station.Err();
}

TEST(Station, ADatabaseItsUserMayNotReadIsSaidInTheEnginesWordsNotAsAnotherSession) {
    TStationFolder f;
    std::vector<std::string> args{KALOSQM_STATION_EXE, "--dir", f.dir.Str()};
    std::string exe = KALOSQM_STATION_EXE;
    const fs::path lock = f.dir.Path() / "lock";
    fs::create_directories(lock);
    fs::permissions(lock, fs::perms::all);
    if (::geteuid() == 0) {
        // Root reads every file: the station runs as nobody on a file only root may read.
        fs::permissions(f.dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
        fs::permissions(f.db, fs::perms::owner_read | fs::perms::owner_write);
        exe = "/usr/bin/setpriv";
        args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    } else {
        fs::permissions(f.db, fs::perms::none);
        args.erase(args.begin());
    }
    f.station.Start(exe, args, f.dir.Path() / "unreadable.txt", {"FIREBIRD_LOCK=" + lock.string()});
    EXPECT_EQ(f.station.WaitExit(20s), 1);
    const auto lines = f.station.ErrLines();
    ASSERT_GE(lines.size(), 2u) << f.station.Err();
    EXPECT_EQ(lines[0], "kalosqm-station: The database " + f.db + " cannot be opened:") << f.station.Err();
    EXPECT_NE(f.station.Err().find("Permission denied"), std::string::npos) << f.station.Err();
    EXPECT_EQ(f.station.Count(kRefusal), 0) << f.station.Err();
    EXPECT_EQ(f.station.Count("in use by another"), 0) << f.station.Err();
}

TEST(Station, AMissingLockFolderIsNamedAsSuch) {
    TStationFolder f;
    const fs::path lock = f.dir.Path() / "run" / "kalosqm";  // as /run/kalosqm before anything made it
    f.station.Start(KALOSQM_STATION_EXE, {"--dir", f.dir.Str()}, f.dir.Path() / "nolock.txt",
                    {"FIREBIRD_LOCK=" + lock.string()});
    EXPECT_EQ(f.station.WaitExit(20s), 1);
    const auto lines = f.station.ErrLines();
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0], "kalosqm-station: The database engine's lock folder " + lock.string() +
                            " (FIREBIRD_LOCK) does not exist.")
        << f.station.Err();
    EXPECT_EQ(f.station.Count(kRefusal), 0) << f.station.Err();
}

TEST(Station, AnInstalledStationWithNoSitePointsAtItsOwnDemo) {
    // Laid out as a package installs it: bin/ beside share/kalosqm/ with the delivered database.
    testsupport::TempDir prefix;
    fs::create_directories(prefix.Path() / "bin");
    fs::create_directories(prefix.Path() / "share" / "kalosqm");
    fs::copy_file(KALOSQM_STATION_EXE, prefix.Path() / "bin" / "kalosqm-station");
    fs::copy_file(KALO_PRISTINE_DB, prefix.Path() / "share" / "kalosqm" / "KALOSQMDATA.FDB");
    TStationFolder f;
    f.station.Start((prefix.Path() / "bin" / "kalosqm-station").string(), {"--dir", f.dir.Str()},
                    f.dir.Path() / "installed.txt");
    EXPECT_EQ(f.station.WaitExit(20s), 0);
    const std::string err = f.station.Err();
    EXPECT_NE(err.find("; kalosqm-station --demo shows one reading a simulated meter."), std::string::npos) << err;
    EXPECT_EQ(err.find("run.sh"), std::string::npos) << err;
}

TEST(Station, AUsageErrorEndsWithTwoAndHelpWithZero) {
    testsupport::TempDir dir;
    TChild bad, help;
    bad.Start(KALOSQM_STATION_EXE, {"--site", "0"}, dir.Path() / "bad.txt");
    EXPECT_EQ(bad.WaitExit(10s), 2);
    EXPECT_EQ(bad.Err(), "kalosqm-station: --site wants a site id (a whole number from 1), not '0'\n\n" +
                             std::string(ServiceUsage()));
    help.Start(KALOSQM_STATION_EXE, {"--help"}, dir.Path() / "help.txt");
    EXPECT_EQ(help.WaitExit(10s), 0);
    EXPECT_EQ(help.Out(), ServiceUsage());
    EXPECT_EQ(help.Err(), "");
}

// Each kind of usage error ends the program before it touches a database:
// status 2, a first line naming the argument, then the usage text.
TEST(Station, EachUsageErrorNamesItsArgumentAndEndsWithTwo) {
    testsupport::TempDir dir;
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"--wait", "--bogus", "3"}, "unknown option '--bogus'"},
        {{"noautoplay"}, "unknown option 'noautoplay'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--wait", "--tick-ms"}, "--tick-ms wants a value"},
        {{"--dir"}, "--dir wants a value"},
        {{"--tick-ms", "abc"}, "--tick-ms wants milliseconds from 10 to 3600000, not 'abc'"},
        {{"--site", "1", "--site", "x"}, "--site wants a site id (a whole number from 1), not 'x'"},
        {{"--http", "host.example:80"},
         "--http wants ADDR:PORT, :PORT or PORT: 'host.example' is not a numeric IPv4 or IPv6 address"},
        {{"--wait=yes"}, "--wait takes no value"},
        {{"--wait", "--wait"}, "--wait given twice"},
    };
    int n = 0;
    for (const auto& c : cases) {
        TChild child;
        child.Start(KALOSQM_STATION_EXE, c.args, dir.Path() / ("usage" + std::to_string(++n) + ".txt"));
        EXPECT_EQ(child.WaitExit(10s), 2) << c.line;
        EXPECT_EQ(child.Err(), "kalosqm-station: " + c.line + "\n\n" + ServiceUsage());
        EXPECT_EQ(child.Out(), "") << c.line;
    }
}

}  // namespace
