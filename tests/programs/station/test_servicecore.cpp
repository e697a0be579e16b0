// The service's pieces in-process: its options, and the sleep that a stop
// request ends at once while SIGHUP only takes note.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "core/station/myutils.h"
#include "programs/station/servicecore.h"

namespace {

using namespace std::chrono_literals;

TEST(StationOptions, WhatTheUnitAndTheTestsPass) {
    const TServiceOptions o =
        ParseServiceArgs({"--site", "3", "--site=7", "--wait", "--dir", "/var/lib/kalosqm", "--tick-ms", "300"});
    EXPECT_EQ(o.Sites, (std::vector<int>{3, 7}));
    EXPECT_TRUE(o.Wait);
    EXPECT_EQ(o.Dir, "/var/lib/kalosqm");
    EXPECT_EQ(o.TickMs, 300);
    EXPECT_EQ(ParseServiceArgs({}).TickMs, 30000);
    const TServiceOptions demo = ParseServiceArgs({"--demo", "--demo-dir", "x"});
    EXPECT_TRUE(demo.Demo);
    EXPECT_EQ(demo.DemoDir, "x");
    EXPECT_TRUE(ParseServiceArgs({"--help"}).Help);
    EXPECT_EQ(ParseServiceArgs({"--data-supplier", "Dark Sky Veneto, A. Rossi"}).DataSupplier,
              "Dark Sky Veneto, A. Rossi");
}

TEST(StationOptions, UsageErrorsSayWhat) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--site"}, "--site wants a value"},
        {{"--site", "-1"}, "--site wants a site id (a whole number from 1), not '-1'"},
        {{"--site", "0"}, "--site wants a site id (a whole number from 1), not '0'"},
        {{"--site", "2x"}, "--site wants a site id (a whole number from 1), not '2x'"},
        {{"--tick-ms", "5"}, "--tick-ms wants milliseconds from 10 to 3600000, not '5'"},
        {{"--wait=yes"}, "--wait takes no value"},
        {{"--dir", "a", "--dir", "b"}, "--dir given twice"},
        {{"--dir", ""}, "--dir wants a folder"},
        {{"--demo", "--dir", "a"}, "--demo makes its own folder and site: it takes neither --site nor --dir"},
        {{"--demo", "--site", "1"}, "--demo makes its own folder and site: it takes neither --site nor --dir"},
        {{"--demo-dir", "a"}, "--demo-dir goes with --demo"},
        {{"noautoplay"}, "unknown option 'noautoplay'"},
        {{"--bad\x1b[31m"}, "unknown option '--bad\\x1B[31m'"},
    };
    for (const Case& c : cases) {
        try {
            ParseServiceArgs(c.args);
            ADD_FAILURE() << "accepted: " << c.args.front();
        } catch (const TUsageError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

// A value is the next argument whatever it looks like; a flag is bare; the
// first wrong argument is the one said.
TEST(StationOptions, ValuesFlagsAndTheFirstErrorSaid) {
    EXPECT_EQ(ParseServiceArgs({"--data-supplier", "--wait"}).DataSupplier, "--wait");
    EXPECT_FALSE(ParseServiceArgs({"--data-supplier", "--wait"}).Wait);
    EXPECT_EQ(ParseServiceArgs({"--dir=/srv/sqm"}).Dir, "/srv/sqm");
    EXPECT_EQ(ParseServiceArgs({"--demo", "--demo-dir=-d"}).DemoDir, "-d");
    EXPECT_TRUE(ParseServiceArgs({"-h"}).Help);
    const TServiceOptions both = ParseServiceArgs({"--wait", "--http", "--site", "2"});
    EXPECT_TRUE(both.Wait);
    EXPECT_EQ(both.Sites, (std::vector<int>{2}));
    ASSERT_TRUE(both.Http.has_value());
    EXPECT_EQ(both.Http->Port, 8080);

    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--site", "--wait"}, "--site wants a site id (a whole number from 1), not '--wait'"},
        {{"--wait", "--site"}, "--site wants a value"},
        {{"--data-supplier"}, "--data-supplier wants a value"},
        {{"--demo-dir", ""}, "--demo-dir wants a folder"},
        {{"--help=1"}, "--help takes no value"},
        {{"--demo", "--demo"}, "--demo given twice"},
        {{"--tick-ms", "10", "--tick-ms", "20"}, "--tick-ms given twice"},
        {{"--http", "--http"}, "--http given twice"},
        {{"--"}, "unknown option '--'"},
        {{"--Wait"}, "unknown option '--Wait'"},
        {{"--wai"}, "unknown option '--wai'"},
        {{"--site", "0", "--dir", "a", "--dir", "b"}, "--site wants a site id (a whole number from 1), not '0'"},
        {{"--dir", "a", "--dir", "b", "--site", "0"}, "--dir given twice"},
        {{"noautoplay", "--site", "0"}, "unknown option 'noautoplay'"},
        {{"--bogus", "--site"}, "unknown option '--bogus'"},
        {{"--site", "0", "--bogus"}, "--site wants a site id (a whole number from 1), not '0'"},
    };
    for (const Case& c : cases) {
        try {
            ParseServiceArgs(c.args);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const TUsageError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(StationTexts, NumbersWithADotAndControlBytesEscaped) {
    EXPECT_EQ(FixedText(21.3449, 2), "21.34");
    EXPECT_EQ(FixedText(27.0, 1), "27.0");
    EXPECT_EQ(Printable("Roof\r\n\x07 \xc3\xa8"), "Roof\\r\\n\\x07 \xc3\xa8");
}

// The process's signals blocked for the test, as main() does.
class StationSignals : public ::testing::Test {
protected:
    void SetUp() override {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    void TearDown() override { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    static void SendLater(int sig, std::chrono::milliseconds after) {
        std::thread([sig, after] {
            std::this_thread::sleep_for(after);
            ::kill(::getpid(), sig);
        }).detach();
    }
    static double Seconds(std::chrono::steady_clock::time_point t0) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    sigset_t saved_;
};

TEST_F(StationSignals, SighupDuringAPauseIsKeptAndAStopRequestEndsThatPauseAndEveryOneAfterIt) {
    TSignals signals;
    TSignalWait wait(signals);
    SendLater(SIGHUP, 100ms);
    auto t0 = std::chrono::steady_clock::now();
    wait.Pause(800);
    EXPECT_GE(Seconds(t0), 0.75);
    EXPECT_FALSE(signals.QuitRequested());
    EXPECT_TRUE(signals.TakeReload());
    EXPECT_FALSE(signals.TakeReload());

    SendLater(SIGTERM, 200ms);
    t0 = std::chrono::steady_clock::now();
    wait.Pause(20000);  // an upload pause
    EXPECT_LT(Seconds(t0), 5.0);
    EXPECT_TRUE(signals.QuitRequested());
    EXPECT_EQ(signals.QuitSignal(), SIGTERM);
    t0 = std::chrono::steady_clock::now();
    wait.Pause(1500);  // the next reading's pause of an upload loop
    EXPECT_LT(Seconds(t0), 0.5);
}

}  // namespace
