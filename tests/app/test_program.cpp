// The unattended run: a site marked for autostart is read as soon as the
// program is up, again at every start, and a stop request ends the program
// in order, acquiring windows and all, without a question.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "fbdb.h"
#include "myutils.h"
#include "sqmsim.h"
#include "testsupport.h"

namespace {

using namespace std::chrono_literals;

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        exe = (dir.Path() / "kalosqm").string();
        std::filesystem::copy_file(KALOSQM_EXE, exe);
        dbFile = testsupport::CopyPristineDb(dir.Path());
        sim.Start();
        // Internet time off: no server outside this machine is asked.
        Exec({"UPDATE SETTINGS SET SET_USEINTERTETTIME=0, SET_UPLOADDATA=0 WHERE SET_ID=1",
              "INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_INTERVAL, "
              "SIT_ACQUIREMODE, SIT_AUTOSTART, SIT_LATIT, SIT_LONG) VALUES (1, 'Roof', '127.0.0.1', " +
                  std::to_string(sim.Port()) + ", 2, 1, 0, 1, 45.5, 9.2)"});
    }
    void TearDown() override {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Only while the program is not running: the engine holds the file for one process.
    void Exec(const std::vector<std::string>& statements) {
        fb::Database db(dbFile);
        db.Open();
        for (const auto& sql : statements) db.ExecuteImmediate(sql);
        db.Close();
    }
    int Readings() {
        fb::Database db(dbFile);
        db.Open();
        int n = 0;
        {
            fb::Transaction tr(db);
            tr.Start();
            fb::Query q(tr);
            q.SetSQL("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1 AND REA_STATE=0");
            q.Open();
            n = static_cast<int>(q.Fields(0).AsInteger());
            q.Close();
            tr.Commit();
        }
        db.Close();
        return n;
    }
    void Start(const std::vector<std::string>& args = {}) {
        pid = fork();
        if (pid == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("KALOSQM_MESSAGE_LOG", (dir.Path() / "messages.txt").c_str(), 1);
            std::vector<char*> argv{exe.data()};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
    }
    // Exit code, or -1 when still running after the limit.
    int WaitExit(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        do {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        } while (std::chrono::steady_clock::now() < end);
        return -1;
    }
    // Waits until the meter has been asked for n readings.
    bool MeterRead(int n, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (sim.Requests() >= n) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    std::string Messages() { return testsupport::ReadFile(dir.Path() / "messages.txt"); }

    testsupport::TempDir dir;
    std::string exe, dbFile;
    SqmSimulator sim;
    pid_t pid = -1;
};

TEST_F(Program, AnAutostartSiteIsReadAtEveryStartAndAStopRequestEndsInOrder) {
    for (int run = 1; run <= 2; ++run) {
        const int before = sim.Requests();
        Start();
        // Welcome for 2 s, then the site window's own delay of 1 to 4 s.
        ASSERT_TRUE(MeterRead(before + 1, 20s)) << "run " << run << ": the site never asked the meter";
        std::this_thread::sleep_for(1500ms);  // the reading is stored and the identity asked
        kill(pid, SIGTERM);
        EXPECT_EQ(WaitExit(10s), 0) << "run " << run;
        EXPECT_EQ(Readings(), run);
    }
    // A stop request is no user's close: nothing was asked.
    EXPECT_EQ(Messages().find("confirm:"), std::string::npos) << Messages();
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "WinSetup" / "SiteForm-1.ini"));
}

TEST_F(Program, NoautoplayInLowerCaseOnlyKeepsTheSitesClosed) {
    Start({"noautoplay"});
    std::this_thread::sleep_for(7s);
    EXPECT_EQ(sim.Requests(), 0);
    kill(pid, SIGINT);
    EXPECT_EQ(WaitExit(10s), 0);

    Start({"NOAUTOPLAY"});
    EXPECT_TRUE(MeterRead(1, 20s));
    kill(pid, SIGINT);
    EXPECT_EQ(WaitExit(10s), 0);
    EXPECT_GE(Readings(), 1);
}

}  // namespace
