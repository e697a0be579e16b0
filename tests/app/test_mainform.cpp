// The main window with real site windows over a real database copy: the
// site commands, autostart, the invitation, the Window menu and quitting.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "datamodule.h"
#include "fbdb.h"
#include "mainform.h"
#include "myutils.h"
#include "siteform.h"
#include "sitelistform.h"
#include "qtsupport.h"
#include "testsupport.h"

namespace {

using testsupport::App;
using testsupport::ClosedPort;

// Runs act on the next modal window of type W, as a user facing it would.
template <typename W, typename F>
void WhenModal(F act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start(20);
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms && !done(); waited += 20) QTest::qWait(20);
    return done();
}

QStringList Titles(const QList<QAction*>& actions) {
    QStringList t;
    for (QAction* a : actions)
        if (!a->isSeparator()) t << a->text();
    return t;
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        SetProgramDir(dir.Str());
        testsupport::CopyPristineDb(dir.Path());
        log = (dir.Path() / "messages.txt").string();
        setenv("KALOSQM_MESSAGE_LOG", log.c_str(), 1);
        unsetenv("KALOSQM_MESSAGE_ANSWER");
        ASSERT_TRUE(data.DataModuleCreate());
        Data = &data;
        // Acquiring windows ask no time server outside this machine.
        Exec("UPDATE SETTINGS SET SET_USEINTERTETTIME=0, SET_UPLOADDATA=0 WHERE SET_ID=1");
        Exec("DELETE FROM NTPSERVERS");
        Exec("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('127.0.0.1', 1, 500)");
    }
    void TearDown() override {
        forms.clear();  // the site windows go before the data module
        Data = nullptr;
        unsetenv("KALOSQM_MESSAGE_LOG");
        unsetenv("KALOSQM_MESSAGE_ANSWER");
    }
    TMainForm& Main(QStringList args = {"kalosqm", "noautoplay"}) {
        forms.push_back(std::make_unique<TMainForm>(args));
        return *forms.back();
    }
    void Exec(const std::string& sql) {
        fb::Query q(data.trKALO);
        q.SetSQL(sql);
        q.ExecSQL();
        data.trKALO.CommitRetaining();
    }
    void AddSite(int id, const std::string& name, bool autostart = false) {
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_ACQUIREMODE, "
             "SIT_INTERVAL, SIT_TIMEZONE, SIT_LATIT, SIT_LONG, SIT_AUTOSTART, SIT_AUTOUPLOAD) VALUES (" +
             std::to_string(id) + ", " + QuotedStr(name) + ", '127.0.0.1', " + std::to_string(port) +
             ", 1, 0, 5, 1, 45.8, 11.5, " + (autostart ? "1" : "0") + ", 0)");
    }
    std::string Log() { return testsupport::ReadFile(log); }
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

    testsupport::TempDir dir;
    TData data;
    std::string log;
    int port = ClosedPort();
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
    EXPECT_EQ(Log(), "");
}

TEST_F(MainFormTest, OpenFollowsTheNumberOfSites) {
    TMainForm& m = Main();
    ShowAndPaint(m);
    m.mnuOpenClick();
    EXPECT_EQ(Log(), "error: No Sites existing: please create a new one\n");
    EXPECT_TRUE(m.SiteWindows().isEmpty());

    // One site opens at once, again and again.
    AddSite(4, "Asiago");
    m.mnuOpenClick();
    m.mnuOpenClick();
    EXPECT_EQ(Ids(m), std::vector<int>({4, 4}));
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
    EXPECT_EQ(Ids(m), std::vector<int>({4, 4, 6}));
    QMdiSubWindow* rome = m.FindSiteWindow(6);
    EXPECT_EQ(m.Area()->currentSubWindow(), rome);

    QMdiSubWindow* asiago = m.FindSiteWindow(4);
    asiago->showMinimized();
    choose("Asiago");
    m.mnuOpenClick();
    EXPECT_EQ(Ids(m), std::vector<int>({4, 4, 6}));
    EXPECT_EQ(m.Area()->currentSubWindow(), asiago);
    EXPECT_FALSE(asiago->isMinimized());

    WhenModal<TZSiteForm>([](TZSiteForm* list) { list->btnCancel->click(); });
    m.mnuOpenClick();
    EXPECT_EQ(Ids(m), std::vector<int>({4, 4, 6}));

    // "Open all" looks for nothing already open; "Create new" opens site 0.
    m.mnuOpenAllClick();
    EXPECT_EQ(m.SiteWindows().size(), 5);
    m.mnuCreateNewClick();
    EXPECT_EQ(m.SiteWindows().last()->SiteId(), 0);
    EXPECT_FALSE(m.SiteWindows().last()->Acquiring());
    EXPECT_EQ(Log(), "error: No Sites existing: please create a new one\n");
}

TEST_F(MainFormTest, AutostartSitesOpenOnceOnTheFirstPaintInDatabaseOrder) {
    AddSite(5, "e", true);
    AddSite(2, "b", true);
    AddSite(3, "c", false);
    AddSite(9, "i", true);
    std::vector<int> expected;
    {
        fb::Query q(data.trKALO);
        q.SetSQL("SELECT SIT_ID FROM SQMSITES WHERE SIT_AUTOSTART=1");
        for (q.Open(); !q.Eof(); q.Next()) expected.push_back(static_cast<int>(q.Fields(0).AsInteger()));
    }
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
    EXPECT_EQ(Log(), "");
}

TEST_F(MainFormTest, QuittingAsksEachRunningSiteThenTheMainQuestion) {
    const std::string mainQuestion =
        "confirm: There are open SQM windows: Stop all the sites an close the application?\n";
    {
        // No site window: no question at all.
        TMainForm& m = Main();
        ShowAndPaint(m);
        EXPECT_TRUE(m.close());
        EXPECT_EQ(Log(), "");
    }
    AddSite(1, "idle");
    AddSite(2, "running", true);
    TMainForm& m = Main();
    ShowAndPaint(m);
    QPointer<TSiteForm> idle = m.OpenSiteWindow(1, false);
    setenv("KALOSQM_MESSAGE_ANSWER", "no", 1);
    EXPECT_FALSE(m.close());
    EXPECT_EQ(Log(), mainQuestion) << "an idle window asks nothing";
    EXPECT_TRUE(m.isVisible());
    ASSERT_FALSE(idle.isNull());

    QPointer<TSiteForm> running = m.OpenSiteWindow(2, true);
    ASSERT_TRUE(WaitFor([&running] { return running && running->Acquiring(); }, 6000));
    std::filesystem::remove(log);
    EXPECT_FALSE(m.close());
    const std::string siteQuestion =
        "confirm: SQM reading in progress, closing the window will stop the operation: CLOSE?\n";
    EXPECT_EQ(Log(), siteQuestion) << "No to the site keeps the program open without the main question";
    EXPECT_TRUE(m.isVisible());
    ASSERT_FALSE(running.isNull());
    EXPECT_TRUE(running->Acquiring());
    EXPECT_EQ(m.SiteWindows().size(), 2);

    setenv("KALOSQM_MESSAGE_ANSWER", "yes", 1);
    std::filesystem::remove(log);
    EXPECT_TRUE(m.close());
    EXPECT_EQ(Log(), siteQuestion + mainQuestion);
    EXPECT_FALSE(m.isVisible());
    EXPECT_TRUE(idle.isNull());  // closing destroys the site windows
    EXPECT_TRUE(running.isNull());
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
    unsetenv("KALOSQM_MESSAGE_LOG");
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

}  // namespace
