// The desktop program as a user starts it, and its first windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "fbdb.h"
#include "mainform.h"
#include "myutils.h"
#include "testsupport.h"
#include "version.h"
#include "welcomeform.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "app_gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// The program laid out as installed: executable, Dati/ beside it.
struct Installed {
    testsupport::TempDir dir;
    std::string exe;
    explicit Installed(bool withDatabase) {
        exe = (dir.Path() / "kalosqm").string();
        std::filesystem::copy_file(KALOSQM_EXE, exe);
        if (withDatabase) testsupport::CopyPristineDb(dir.Path());
    }
    std::string MessageLog() const { return (dir.Path() / "messages.txt").string(); }
    pid_t Start(const std::vector<std::string>& args = {}) const {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("KALOSQM_MESSAGE_LOG", MessageLog().c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(exe.c_str())};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }
};

// Waits for a child to end; -1 when it is still running after the limit.
int WaitExit(pid_t pid, int seconds) {
    for (int i = 0; i <= seconds * 50; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

bool DatabaseHeldByAnother(const std::string& file) {
    fb::Database db(file);
    try {
        db.Open();
        db.Close();
        return false;
    } catch (const fb::Error&) {
        return true;
    }
}

TEST(Program, ASecondInstanceIsRefusedAndTheFirstGoesOn) {
    Installed program(true);
    const std::string dbFile = (program.dir.Path() / "Dati" / "KALOSQMDATA.FDB").string();
    const pid_t first = program.Start({"noautoplay"});
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (WaitExit(pid, 0) == -1) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } reaper{first};
    // The main window is made after the database is open; it creates WinSetup.
    // (Probing the file from here would load an engine into this process.)
    const auto winSetup = program.dir.Path() / "WinSetup";
    for (int i = 0; i < 1500 && !std::filesystem::exists(winSetup); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(std::filesystem::exists(winSetup)) << "the first instance never got past its database";

    const pid_t second = program.Start();
    EXPECT_EQ(WaitExit(second, 30), 1);
    EXPECT_EQ(testsupport::ReadFile(program.MessageLog()),
              "error: Another software session is already active: impossible to continue\n");

    EXPECT_EQ(WaitExit(first, 1), -1) << "the first instance was disturbed";
    kill(first, SIGTERM);
    EXPECT_EQ(WaitExit(first, 30), 0);
    EXPECT_FALSE(DatabaseHeldByAnother(dbFile));
    EXPECT_TRUE(std::filesystem::exists(program.dir.Path() / "WinSetup" / "MainForm.ini"));
}

TEST(Program, AMissingDatabaseShowsTheSameMessageAndEnds) {
    Installed program(false);
    const pid_t pid = program.Start();
    EXPECT_EQ(WaitExit(pid, 30), 1);
    EXPECT_EQ(testsupport::ReadFile(program.MessageLog()),
              "error: Another software session is already active: impossible to continue\n");
}

TEST(Windows, WelcomeShowsTheVersionAndTheAboutModeItsCredits) {
    App();
    auto* w = new TWelcomeForm(false);
    EXPECT_EQ(w->lblVersion->text(), QString::fromStdString("KALO ver. " + GetVersionText(2)));
    EXPECT_EQ(w->lblBuild->text(), QString::fromStdString("Build " + GetVersionText(4)));
    EXPECT_EQ(w->lblLoading->text(), "Loading ... Please wait");
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(w->lblLoading->isHidden());
    EXPECT_TRUE(w->btnClose->isHidden());
    EXPECT_EQ(w->palette().color(QPalette::Window), QColor(Qt::white));
    delete w;
    auto* about = new TWelcomeForm(true);
    EXPECT_TRUE(about->lblLoading->isHidden());
    EXPECT_FALSE(about->lblCredits->isHidden());
    EXPECT_FALSE(about->btnClose->isHidden());
    delete about;
}

TEST(Windows, MainWindowCaptionStatusAndAutostartArgument) {
    App();
    testsupport::TempDir dir;
    SetProgramDir(dir.Str());
    TMainForm plain(QStringList{"kalosqm"});
    EXPECT_EQ(plain.windowTitle(), "KALO-SQM");
    EXPECT_EQ(plain.size(), QSize(977, 621));
    EXPECT_EQ(plain.StatusPanel(0)->text(), QString::fromStdString("Ver. " + GetVersionText(2) + "        "));
    EXPECT_EQ(plain.StatusPanel(0)->width(), 400);
    EXPECT_EQ(plain.StatusPanel(1)->width(), 50);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "WinSetup"));
    EXPECT_TRUE(plain.AutoStartPending());
    EXPECT_FALSE(TMainForm(QStringList{"kalosqm", "noautoplay"}).AutoStartPending());
    EXPECT_TRUE(TMainForm(QStringList{"kalosqm", "NOAUTOPLAY"}).AutoStartPending());
    EXPECT_TRUE(TMainForm(QStringList{"kalosqm", "x", "noautoplay"}).AutoStartPending());
}

}  // namespace
