// The main window with real site windows over a real database copy: the
// site commands, autostart, the invitation, the Window menu and quitting.
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableView>

#include <deque>
#include <filesystem>
#include <fstream>

#include "core/site/nightfile.h"
#include "core/station/errorlog.h"
#include "core/station/myutils.h"
#include "core/station/sqm.h"
#include "programs/desktop/gui_test_support.h"
#include "programs/desktop/mainform.h"
#include "programs/desktop/siteform.h"
#include "programs/desktop/sitelistform.h"

namespace {

using guitest::WhenModal;

QStringList Titles(const QList<QAction*>& actions) {
    QStringList t;
    for (QAction* a : actions)
        if (!a->isSeparator()) t << a->text();
    return t;
}

class MainFormTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        LocalTimeServerOnly();
    }
    void TearDown() override {
        forms.clear();  // the site windows go before the data module
        GuiTest::TearDown();
    }
    TMainForm& Main(QStringList args = {"kalosqm", "noautoplay"}) {
        forms.push_back(std::make_unique<TMainForm>(data, common, args));
        return *forms.back();
    }
    void AddSite(int id, const std::string& name, bool autostart = false) {
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_ACQUIREMODE, "
             "SIT_INTERVAL, SIT_TIMEZONE, SIT_LATIT, SIT_LONG, SIT_AUTOSTART, SIT_AUTOUPLOAD) VALUES (" +
             std::to_string(id) + ", " + QuotedStr(name) + ", '127.0.0.1', " + std::to_string(port) +
             ", 1, 0, 5, 1, 45.8, 11.5, " + (autostart ? "1" : "0") + ", 0)");
    }
    static std::vector<int> Ids(TMainForm& m) {
        std::vector<int> ids;
        for (TSiteForm* f : m.SiteWindows()) ids.push_back(f->SiteId());
        return ids;
    }
    // Shown, painted once, and the work queued by that paint done.
    static void ShowAndPaint(TMainForm& m) {
        m.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m));
        QTest::qWait(50);
    }

    int port = testsupport::ClosedPort();
    std::vector<std::unique_ptr<TMainForm>> forms;
};

TEST_F(MainFormTest, TheWindowMenuListsTheSiteWindowsAndActsOnTheActiveOne) {
    AddSite(1, "Asiago");
    TMainForm& m = Main();
    ShowAndPaint(m);
    QMenu* window = m.WindowMenu();
    auto entries = [window] { return window->actions(); };
    auto enabled = [&] { return std::pair(entries()[0]->isEnabled(), entries()[1]->isEnabled()); };
    const QStringList commands{"Close", "Tile vertically"};
    EXPECT_EQ(Titles(entries()), commands);
    EXPECT_EQ(enabled(), std::pair(false, false));

    TSiteForm* a = m.OpenSiteWindow(1, false);
    TSiteForm* b = m.OpenSiteWindow(0, false);
    QTest::qWait(20);
    EXPECT_EQ(enabled(), std::pair(true, true));
    emit a->CaptionChanged("Site Asiago");
    emit b->CaptionChanged("New & unsaved");
    ASSERT_EQ(Titles(entries()), commands + QStringList({"&1 Site Asiago", "&2 New && unsaved"}));
    EXPECT_TRUE(entries()[2]->isSeparator());
    EXPECT_EQ(m.FindSiteWindow(1)->windowTitle(), "Site Asiago");
    auto checked = [&] { return std::pair(entries()[3]->isChecked(), entries()[4]->isChecked()); };
    EXPECT_EQ(checked(), std::pair(false, true));  // the one opened last is active
    entries()[3]->trigger();
    EXPECT_EQ(m.Area()->currentSubWindow()->widget(), a);
    EXPECT_EQ(checked(), std::pair(true, false));

    // Side by side, each as high as the area.
    entries()[1]->trigger();
    const QRect area = m.Area()->viewport()->rect();
    EXPECT_EQ(a->parentWidget()->geometry(), QRect(0, 0, area.width() / 2, area.height()));
    EXPECT_EQ(b->parentWidget()->geometry(), QRect(area.width() / 2, 0, area.width() / 2, area.height()));

    // "Close" closes the active one.
    QPointer<TSiteForm> closed(a);
    entries()[0]->trigger();
    QTest::qWait(20);
    EXPECT_TRUE(closed.isNull());
    EXPECT_EQ(m.SiteWindows(), QList<TSiteForm*>({b}));
    EXPECT_EQ(Titles(entries()), commands + QStringList({"&1 New && unsaved"}));
    // A window that closes itself (its own OK or Cancel) takes its frame along.
    QPointer<QWidget> frame(b->parentWidget());
    b->close();
    QTest::qWait(20);
    EXPECT_TRUE(frame.isNull());
    EXPECT_TRUE(m.SiteWindows().isEmpty());
    EXPECT_EQ(Titles(entries()), commands);
    EXPECT_EQ(enabled(), std::pair(false, false));
    EXPECT_EQ(Messages(), "");
}

TEST_F(MainFormTest, OpenFollowsTheNumberOfSites) {
    TMainForm& m = Main();
    ShowAndPaint(m);
    m.mnuOpenClick();
    EXPECT_EQ(Messages(), "error: No Sites existing: please create a new one\n");
    EXPECT_TRUE(m.SiteWindows().isEmpty());

    // One site opens at once; again, its window comes up, no second one.
    AddSite(4, "Asiago");
    m.mnuOpenClick();
    m.mnuOpenClick();
    EXPECT_EQ(Ids(m), std::vector<int>({4}));
    EXPECT_FALSE(m.SiteWindows()[0]->Acquiring());

    // Two: the list in choose mode; an open window of the chosen site comes to the front.
    AddSite(6, "Rome");
    bool chooseMode = false;
    auto choose = [&chooseMode](const QString& name) {
        WhenModal<TZSiteForm>([&chooseMode, name](TZSiteForm* list) {
            chooseMode = list->btnOK->isVisible();  // the buttons of each mode: tests/site/test_sitelist.cpp
            for (int r = 0; r < list->Model->rowCount(); ++r)
                if (list->Model->data(list->Model->index(r, 0), Qt::DisplayRole).toString() == name)
                    list->RxDBGrid1->setCurrentIndex(list->Model->index(r, 0));
            list->btnOK->click();
        });
    };
    choose("Rome");
    m.mnuOpenClick();
    EXPECT_TRUE(chooseMode);
    EXPECT_EQ(Ids(m), std::vector<int>({4, 6}));
    QMdiSubWindow* rome = m.FindSiteWindow(6);
    EXPECT_EQ(m.Area()->currentSubWindow(), rome);

    QMdiSubWindow* asiago = m.FindSiteWindow(4);
    asiago->showMinimized();
    choose("Asiago");
    m.mnuOpenClick();
    EXPECT_EQ(Ids(m), std::vector<int>({4, 6}));
    EXPECT_EQ(m.Area()->currentSubWindow(), asiago);
    EXPECT_FALSE(asiago->isMinimized());

    WhenModal<TZSiteForm>([](TZSiteForm* list) { list->btnCancel->click(); });
    m.mnuOpenClick();
    EXPECT_EQ(Ids(m), std::vector<int>({4, 6}));

    // "Open all" opens only the sites with no window; "Create new" opens site 0.
    AddSite(8, "Padua");
    m.mnuOpenAllClick();
    EXPECT_EQ(Ids(m), std::vector<int>({4, 6, 8}));
    m.mnuOpenAllClick();
    EXPECT_EQ(Ids(m), std::vector<int>({4, 6, 8}));
    m.mnuCreateNewClick();
    EXPECT_EQ(m.SiteWindows().last()->SiteId(), 0);
    EXPECT_FALSE(m.SiteWindows().last()->Acquiring());
    EXPECT_EQ(Messages(), "error: No Sites existing: please create a new one\n");
}

// One site, one window: "Open all" and "Open" bring up the window of a site
// that is acquiring, never a second (stopped) one that could start it twice.
TEST_F(MainFormTest, OpenAllAndOpenBringUpTheWindowOfASiteAlreadyAcquiring) {
    AddSite(1, "Asiago", true);
    AddSite(2, "Rome");
    TMainForm& m = Main({"kalosqm"});
    ShowAndPaint(m);
    QPointer<TSiteForm> asiago = m.SiteWindows().value(0);
    ASSERT_TRUE(guitest::WaitFor([&asiago] { return asiago && asiago->Acquiring(); }, 6000));
    QMdiSubWindow* frame = m.FindSiteWindow(1);
    ASSERT_NE(frame, nullptr);
    frame->showMinimized();

    m.mnuOpenAllClick();
    EXPECT_EQ(Ids(m), std::vector<int>({1, 2}));
    EXPECT_TRUE(asiago->Acquiring());
    EXPECT_EQ(m.FindSiteWindow(1), frame);

    // "Open" of the acquiring site: its own window comes to the front, restored.
    frame->showMinimized();
    m.mnuCreateNewClick();
    WhenModal<TZSiteForm>([](TZSiteForm* list) {
        for (int r = 0; r < list->Model->rowCount(); ++r)
            if (list->Model->data(list->Model->index(r, 0), Qt::DisplayRole).toString() == "Asiago")
                list->RxDBGrid1->setCurrentIndex(list->Model->index(r, 0));
        list->btnOK->click();
    });
    m.mnuOpenClick();
    EXPECT_EQ(Ids(m), std::vector<int>({1, 2, 0}));
    EXPECT_EQ(m.Area()->currentSubWindow(), frame);
    EXPECT_FALSE(frame->isMinimized());
    EXPECT_TRUE(asiago->Acquiring());
    EXPECT_EQ(Messages(), "");
}

// Should a second window of a site exist all the same, its start is refused
// by the core and says why; the first goes on alone.
TEST_F(MainFormTest, ASecondWindowOfAnAcquiringSiteCannotStartIt) {
    AddSite(1, "Asiago");
    TMainForm& m = Main();
    ShowAndPaint(m);
    TSiteForm* first = m.OpenSiteWindow(1, false);
    first->StartOrStopReadings();
    ASSERT_TRUE(guitest::WaitFor([first] { return first->Acquiring(); }, 6000));
    TSiteForm* second = m.OpenSiteWindow(1, false);
    second->StartOrStopReadings();
    QTest::qWait(50);
    EXPECT_FALSE(second->Acquiring());
    EXPECT_TRUE(first->Acquiring());
    EXPECT_EQ(Messages(),
              "error: The SQM readings of this site are already running in another window: "
              "one site has one acquisition at a time\n");
}

TEST_F(MainFormTest, AutostartSitesOpenOnceOnTheFirstPaintInDatabaseOrder) {
    AddSite(5, "e", true);
    AddSite(2, "b", true);
    AddSite(3, "c", false);
    AddSite(9, "i", true);
    std::vector<int> expected;
    for (const std::string& id : Committed("SELECT SIT_ID FROM SQMSITES WHERE SIT_AUTOSTART=1"))
        expected.push_back(std::stoi(id));
    ASSERT_EQ(expected.size(), 3u);

    TMainForm& m = Main({"kalosqm"});
    EXPECT_TRUE(m.AutoStartPending());
    QTest::qWait(20);
    EXPECT_TRUE(m.SiteWindows().isEmpty()) << "nothing before the window is painted";
    ShowAndPaint(m);
    EXPECT_FALSE(m.AutoStartPending());
    EXPECT_EQ(Ids(m), expected);  // each starts by itself: tests/app/test_program.cpp

    for (int i = 0; i < 3; ++i) {
        m.Area()->viewport()->repaint();
        m.repaint();
        QTest::qWait(20);
    }
    m.FormPaint();
    EXPECT_EQ(Ids(m), expected);
    EXPECT_EQ(Messages(), "");
}

TEST_F(MainFormTest, QuittingAsksEachRunningSiteThenTheMainQuestion) {
    const std::string mainQuestion =
        "confirm: There are open SQM windows: Stop all the sites an close the application?\n";
    {
        // No site window: no question at all.
        TMainForm& m = Main();
        ShowAndPaint(m);
        EXPECT_TRUE(m.close());
        EXPECT_EQ(Messages(), "");
    }
    AddSite(1, "idle");
    AddSite(2, "running", true);
    TMainForm& m = Main();
    ShowAndPaint(m);
    QPointer<TSiteForm> idle = m.OpenSiteWindow(1, false);
    Answer("no");
    EXPECT_FALSE(m.close());
    EXPECT_EQ(Messages(), mainQuestion) << "an idle window asks nothing";
    EXPECT_TRUE(m.isVisible());
    ASSERT_FALSE(idle.isNull());

    QPointer<TSiteForm> running = m.OpenSiteWindow(2, true);
    ASSERT_TRUE(guitest::WaitFor([&running] { return running && running->Acquiring(); }, 6000));
    ClearMessages();
    EXPECT_FALSE(m.close());
    const std::string siteQuestion =
        "confirm: Site \"running\":\rSQM reading in progress, closing the window will stop the operation: CLOSE?\n";
    EXPECT_EQ(Messages(), siteQuestion) << "No to the site keeps the program open without the main question";
    EXPECT_TRUE(m.isVisible());
    ASSERT_FALSE(running.isNull());
    EXPECT_TRUE(running->Acquiring());
    EXPECT_EQ(m.SiteWindows().size(), 2);

    Answer("yes");
    ClearMessages();
    EXPECT_TRUE(guitest::CloseWhenIdle(&m));
    EXPECT_EQ(Messages(), siteQuestion + mainQuestion) << "a close put off by a reading asks nothing again";
    EXPECT_FALSE(m.isVisible());
    EXPECT_TRUE(idle.isNull());  // closing destroys the site windows
    EXPECT_TRUE(running.isNull());
}

// Two sites acquiring: a quit asks each by its name, then the program's
// question, and stops none of them unless every answer allows it.
TEST_F(MainFormTest, ACancelledQuitLeavesEverySiteAcquiringWhateverTheAnswersAndAConfirmedOneStopsThemAll) {
    RealBoxes();  // answered as a user would
    AddSite(1, "Asiago");
    AddSite(2, "Rome");
    TMainForm& m = Main();
    ShowAndPaint(m);
    QPointer<TSiteForm> asiago = m.OpenSiteWindow(1, false);
    QPointer<TSiteForm> rome = m.OpenSiteWindow(2, false);
    asiago->StartOrStopReadings();
    rome->StartOrStopReadings();
    ASSERT_TRUE(asiago->Acquiring() && rome->Acquiring());
    auto siteQuestion = [](const std::string& name) {
        return "Site \"" + name + "\":\nSQM reading in progress, closing the window will stop the operation: CLOSE?";
    };
    const std::string programQuestion = "There are open SQM windows: Stop all the sites an close the application?";
    using B = QMessageBox::StandardButton;
    const struct {
        const char* what;
        std::deque<B> answers;
        std::vector<std::string> asked;
    } cancelled[] = {
        {"No to the first site", {B::No}, {siteQuestion("Asiago")}},
        {"Yes to the first site, No to the second", {B::Yes, B::No}, {siteQuestion("Asiago"), siteQuestion("Rome")}},
        {"Yes to both sites, No to the program",
         {B::Yes, B::Yes, B::No},
         {siteQuestion("Asiago"), siteQuestion("Rome"), programQuestion}},
    };
    for (const auto& c : cancelled) {
        SCOPED_TRACE(c.what);
        guitest::BoxAnswerer boxes(c.answers);
        EXPECT_FALSE(m.close());
        EXPECT_EQ(boxes.texts, c.asked);
        EXPECT_TRUE(m.isVisible());
        ASSERT_FALSE(asiago.isNull() || rome.isNull());
        EXPECT_TRUE(asiago->Acquiring());
        EXPECT_TRUE(rome->Acquiring());
    }

    guitest::BoxAnswerer boxes({B::Yes, B::Yes, B::Yes});
    // Each window is stopped before it goes: none closes on a running acquisition.
    std::vector<bool> stoppedBeforeClosing;
    struct TWatch : QObject {
        std::vector<bool>* seen;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::Close) seen->push_back(!static_cast<TSiteForm*>(o)->Acquiring());
            return false;
        }
    } watch;
    watch.seen = &stoppedBeforeClosing;
    asiago->installEventFilter(&watch);
    rome->installEventFilter(&watch);
    EXPECT_TRUE(guitest::CloseWhenIdle(&m));
    EXPECT_EQ(boxes.texts, (std::vector<std::string>{siteQuestion("Asiago"), siteQuestion("Rome"), programQuestion}));
    EXPECT_FALSE(m.isVisible());
    EXPECT_EQ(stoppedBeforeClosing, (std::vector<bool>{true, true}));
    EXPECT_TRUE(asiago.isNull());
    EXPECT_TRUE(rome.isNull());
}

// A site whose window is open: the first question says the window will stop
// and close; only a deletion closes it, an answer that keeps the site leaves
// it acquiring, and the other sites' windows go on.
TEST_F(MainFormTest, DeletingASiteWhoseWindowIsOpenStopsAndClosesThatWindowOnlyOnceTheSiteIsGone) {
    RealBoxes();  // answered as a user would
    AddSite(1, "Asiago");
    AddSite(2, "Rome");
    AddSite(3, "Turin");
    TMainForm& m = Main();
    ShowAndPaint(m);
    QPointer<TSiteForm> asiago = m.OpenSiteWindow(1, false);
    QPointer<TSiteForm> rome = m.OpenSiteWindow(2, false);
    asiago->StartOrStopReadings();
    rome->StartOrStopReadings();
    ASSERT_TRUE(asiago->Acquiring() && rome->Acquiring());
    using B = QMessageBox::StandardButton;
    // Deletes the named site through the list, the boxes answered in turn.
    auto remove = [&m](const QString& name, std::deque<B> answers) {
        guitest::BoxAnswerer boxes(std::move(answers));
        WhenModal<TZSiteForm>([name](TZSiteForm* list) {
            for (int r = 0; r < list->Model->rowCount(); ++r)
                if (list->Model->data(list->Model->index(r, 0), Qt::DisplayRole).toString() == name)
                    list->RxDBGrid1->setCurrentIndex(list->Model->index(r, 0));
            list->BitBtn2->click();
            list->btnClose->click();
        });
        m.mnuDeleteClick();
        QTest::qWait(50);  // a closed window's frame goes at the next turn
        return boxes.texts;
    };
    const std::string plain = "Delete the selected site?";
    const std::string withWindow =
        plain + "\nThe window of this site is open: its readings will stop and it will close.";
    const std::string second =
        "By clicking NO Site \"Asiago\" and all its readings will be deleted!\nPlease note this can not be "
        "undone!\nCancel the operation?";
    auto sites = [this] { return data.CountSites(false); };

    EXPECT_EQ(remove("Asiago", {B::No}), std::vector<std::string>{withWindow});
    EXPECT_EQ(remove("Asiago", {B::Yes, B::Yes}), (std::vector<std::string>{withWindow, second}));
    EXPECT_EQ(sites(), 3);
    ASSERT_FALSE(asiago.isNull());
    EXPECT_TRUE(asiago->Acquiring()) << "a site kept keeps its window acquiring";
    EXPECT_EQ(remove("Turin", {B::No}), std::vector<std::string>{plain}) << "no window, nothing said of one";

    EXPECT_EQ(remove("Asiago", {B::Yes, B::No}), (std::vector<std::string>{withWindow, second}));
    EXPECT_EQ(sites(), 2);
    EXPECT_TRUE(asiago.isNull()) << "no window left to acquire into a deleted site";
    EXPECT_EQ(m.SiteWindows(), QList<TSiteForm*>({rome.data()}));
    ASSERT_FALSE(rome.isNull());
    EXPECT_TRUE(rome->Acquiring());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1"), 0);
}

TEST_F(MainFormTest, TheInvitationShowsWhileNoSiteHasACode) {
    {
        TMainForm& m = Main();
        ShowAndPaint(m);
        ASSERT_NE(m.Invitation(), nullptr);
        EXPECT_TRUE(m.Invitation()->isVisible()) << "no site at all";
        // Behind the site windows.
        AddSite(1, "no code");
        TSiteForm* f = m.OpenSiteWindow(1, false);
        const QObjectList stack = m.Area()->viewport()->children();
        EXPECT_LT(stack.indexOf(m.Invitation()), stack.indexOf(f->parentWidget()));
        m.RefreshInvitation();
        EXPECT_TRUE(m.Invitation()->isVisible()) << "sites without a code";

        Exec("UPDATE SQMSITES SET SIT_CODE='AB12' WHERE SIT_ID=1");
        m.RefreshInvitation();
        EXPECT_FALSE(m.Invitation()->isVisible());
    }
    {
        TMainForm& coded = Main();
        EXPECT_FALSE(coded.Invitation()->isVisibleTo(&coded)) << "a site with a code";
    }

    // Deleting the coded site through the list brings it back.
    RealBoxes();
    TMainForm& m = Main();
    ShowAndPaint(m);
    bool deleteMode = false;
    WhenModal<TZSiteForm>([&deleteMode](TZSiteForm* list) {
        deleteMode = list->BitBtn2->isVisible();
        WhenModal<QMessageBox>([](QMessageBox* first) {
            WhenModal<QMessageBox>([](QMessageBox* second) { second->button(QMessageBox::No)->click(); });
            first->button(QMessageBox::Yes)->click();
        });
        list->BitBtn2->click();
        list->btnClose->click();
    });
    m.mnuDeleteClick();
    EXPECT_TRUE(deleteMode);
    EXPECT_EQ(data.CountSites(false), 0);
    EXPECT_TRUE(m.Invitation()->isVisible());

    // Without a database (count -1) it stays hidden.
    forms.erase(forms.begin(), forms.end() - 1);  // their site windows go first
    data.dbKALO.Close();
    m.RefreshInvitation();
    EXPECT_FALSE(m.Invitation()->isVisible());
}

// A log that loses lines, whoever writes it, is shown in the status bar with
// why, and again once it is written; a window gone hears nothing more.
TEST_F(MainFormTest, AnErrorLogThatCannotBeWrittenIsShownInTheStatusBarAndSoIsItsReturn) {
    TMainForm& first = Main();
    TMainForm& m = Main();
    QLabel* panel = m.StatusPanel(2);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->text().isEmpty());
    const std::string logs = TErrorLog::Folder();
    const std::string file = logs + "/" + TErrorLog::FileNameFor("Roof");
    std::filesystem::remove_all(logs);
    std::ofstream(logs).put('x');
    WriteErrorLog("lost", "Roof");
    WriteErrorLog("lost again", "Roof");
    QTest::qWait(20);
    EXPECT_EQ(panel->text().toStdString(),
              "The error log " + file + " cannot be written (Not a directory): its lines are lost until it can");
    EXPECT_TRUE(first.StatusPanel(2)->text().isEmpty());

    forms.front().reset();  // the first window goes first
    std::filesystem::remove(logs);
    WriteErrorLog("kept", "Roof");
    QTest::qWait(20);
    EXPECT_EQ(panel->text().toStdString(), "The error log " + file + " is written again");
}

// A night file whose lines wait while its log cannot say so is shown there
// too, with why, and once its lines are written.
TEST_F(MainFormTest, ANightFileWhoseLinesWaitWhileItsLogCannotSaySoIsShownInTheStatusBar) {
    TMainForm& m = Main();
    QLabel* panel = m.StatusPanel(2);
    ASSERT_NE(panel, nullptr);
    const std::string logs = TErrorLog::Folder(), nights = ProgramPath("NightFiles");
    std::filesystem::remove_all(logs);
    std::filesystem::remove_all(nights);
    std::ofstream(logs).put('x');
    std::ofstream(nights).put('x');
    TSiteRow site;
    site.Id = 1;
    site.Name = "Roof";
    site.Host = "127.0.0.1";
    site.Port = testsupport::ClosedPort();
    site.TimeoutSeconds = 1;
    TSQM station(TSQMOptions{.Host = site.Host, .Port = site.Port, .TimeoutSeconds = 1, .SiteId = site.Id});
    station.DateTime = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    station.SQMValue = 21.0;
    TNightFileWriter writer(data.dbKALO);
    writer.Append(site, station, 0, station.DateTime);
    station.DateTime += 1.0 / 1440;
    writer.Append(site, station, 0, station.DateTime);
    QTest::qWait(20);
    const std::string file = nights + "/Roof/20240115_120000_Roof.dat";
    EXPECT_EQ(panel->text().toStdString(), "The night file " + file + " cannot be written (cannot make the folder " +
                                               nights + "/Roof: Not a directory): its lines wait until it can");

    std::filesystem::remove(logs);
    std::filesystem::remove(nights);
    station.DateTime += 1.0 / 1440;
    writer.Append(site, station, 0, station.DateTime);
    QTest::qWait(20);
    EXPECT_EQ(panel->text().toStdString(), "The night file " + file + " is written again, with the 2 lines that waited");
}

}  // namespace
