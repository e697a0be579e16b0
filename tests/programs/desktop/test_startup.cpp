// The desktop program as a user starts it, and its first windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>

#include "core/site/datamodule.h"
#include "programs/desktop/mainform.h"
#include "core/site/sitecommons.h"
#include "support/qtsupport.h"
#include "support/service_test_support.h"
#include "core/station/version.h"
#include "programs/desktop/welcomeform.h"

namespace {

using namespace servicetest;
using testsupport::App;

// The program laid out as installed: executable, Dati/ beside it.
struct Installed {
    testsupport::TempDir dir;
    int runs = 0;
    explicit Installed(bool withDatabase) {
        fs::copy_file(KALOSQM_EXE, dir.Path() / "kalosqm");
        if (withDatabase) testsupport::CopyPristineDb(dir.Path());
    }
    std::string Messages() const { return testsupport::ReadFile(dir.Path() / "messages.txt"); }
    void Start(TChild& c, const std::vector<std::string>& args = {}) {
        c.Start((dir.Path() / "kalosqm").string(), args, dir.Path() / ("stderr-" + std::to_string(++runs) + ".txt"),
                {"QT_QPA_PLATFORM=offscreen", "KALOSQM_MESSAGE_LOG=" + (dir.Path() / "messages.txt").string()});
    }
};

const char* const kRefusal = "error: Another software session is already active: impossible to continue\n";

TEST(Program, ASecondInstanceIsRefusedAndTheFirstGoesOn) {
    Installed program(true);
    TChild first, second;
    program.Start(first, {"noautoplay"});
    // The main window is made after the database is open; it creates WinSetup.
    // (Probing the file from here would load an engine into this process.)
    ASSERT_TRUE(first.WaitFor([&](const TChild&) { return fs::exists(program.dir.Path() / "WinSetup"); }, 30s))
        << "the first instance never got past its database";
    program.Start(second);
    EXPECT_EQ(second.WaitExit(30s), 1);
    EXPECT_EQ(program.Messages(), kRefusal);

    EXPECT_EQ(first.WaitExit(1s), -1) << "the first instance was disturbed";
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(30s), 0);
    EXPECT_NO_THROW(ColumnOn((program.dir.Path() / "Dati" / "KALOSQMDATA.FDB").string(), "SELECT 1 FROM RDB$DATABASE"))
        << "the database is still held";
    EXPECT_TRUE(fs::exists(program.dir.Path() / "WinSetup" / "MainForm.ini"));
}

TEST(Program, AMissingDatabaseShowsTheSameMessageAndEnds) {
    Installed program(false);
    TChild c;
    program.Start(c);
    EXPECT_EQ(c.WaitExit(30s), 1);
    // The station's words: the file is missing and where one comes from; nobody holds it.
    const std::string head =
        "error: There is no database at " + (program.dir.Path() / "Dati" / "KALOSQMDATA.FDB").string() + ".";
    EXPECT_EQ(program.Messages().substr(0, head.size()), head) << program.Messages();
    EXPECT_NE(program.Messages().find("or start the desktop program kalosqm once"), std::string::npos)
        << program.Messages();
    EXPECT_EQ(program.Messages().find("already active"), std::string::npos) << program.Messages();
}

TEST(Windows, WelcomeShowsTheVersionAndTheAboutModeItsCredits) {
    App();
    auto* w = new TWelcomeForm(false);
    EXPECT_EQ(w->lblVersion->text(), QString::fromStdString("KALO ver. " + GetVersionText(2)));
    EXPECT_EQ(w->lblBuild->text(), QString::fromStdString("Build " + GetVersionText(4)));
    EXPECT_FALSE(w->lblLoading->isHidden());
    EXPECT_TRUE(w->btnClose->isHidden());
    delete w;
    auto* about = new TWelcomeForm(true);
    EXPECT_TRUE(about->lblLoading->isHidden());
    EXPECT_FALSE(about->lblCredits->isHidden());
    EXPECT_FALSE(about->btnClose->isHidden());
    delete about;
}

TEST(Windows, MainWindowStatusAndAutostartArgument) {
    App();
    testsupport::TempDir dir;
    SetProgramDir(dir.Str());
    TData data;  // not opened: the window asks it nothing it needs an answer to
    TSiteCommons common;
    TMainForm plain(data, common, QStringList{"kalosqm"});
    EXPECT_EQ(plain.StatusPanel(0)->text(), QString::fromStdString("Ver. " + GetVersionText(2) + "        "));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "WinSetup"));
    EXPECT_TRUE(plain.AutoStartPending());
    EXPECT_FALSE(TMainForm(data, common, QStringList{"kalosqm", "noautoplay"}).AutoStartPending());
    EXPECT_TRUE(TMainForm(data, common, QStringList{"kalosqm", "NOAUTOPLAY"}).AutoStartPending());
    EXPECT_TRUE(TMainForm(data, common, QStringList{"kalosqm", "x", "noautoplay"}).AutoStartPending());
}

}  // namespace
