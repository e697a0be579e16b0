// "Find..." beside the site window's host: the search dialog against the
// simulated SQM-LE's discovery on 127.0.0.1 (the window's finder is pointed
// there; nothing is broadcast), and what choosing a row does to the record.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "gui/buttonframe.h"
#include "core/station/dataset.h"
#include "programs/desktop/gui_test_support.h"
#include "core/site/languages.h"
#include "programs/desktop/meterfinddialog.h"
#include "programs/desktop/siteform.h"
#include "tools/sqmle-sim/sqmsim.h"

namespace {

using guitest::Child;
using guitest::Lines;
using guitest::WaitFor;

class MeterFindDialogTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        LocalTimeServerOnly();
    }
    void TearDown() override {
        for (TSiteForm* f : forms) {
            f->StopForShutdown();
            delete f;
        }
        GuiTest::TearDown();
    }
    // A site whose meter is elsewhere: documentation address, default port.
    int AddSite() {
        const int id = std::stoi(Scalar("SELECT GEN_ID(GEN_SITE_ID, 1) FROM RDB$DATABASE"));
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_INTERVAL, "
             "SIT_ACQUIREMODE, SIT_LATIT, SIT_LONG) VALUES (" +
             std::to_string(id) + ", 'Roof', '192.0.2.7', 10001, 1, 1, 0, 45.5, 9.2)");
        return id;
    }
    TSiteForm* Open(int id, const TFinderOptions& finder) {
        auto* f = new TSiteForm(data, common, id, false);
        f->setAttribute(Qt::WA_DeleteOnClose, false);
        f->SetFinderOptions(finder);
        forms.push_back(f);
        f->show();
        return f;
    }
    static TFinderOptions Loopback(int discoveryPort, int meterPort, int listenMs = 1000) {
        TFinderOptions o;
        o.Target = "127.0.0.1";
        o.DiscoveryPort = discoveryPort;
        o.MeterPort = meterPort;
        o.ListenMs = listenMs;
        o.IdentifyTimeoutMs = 1000;
        return o;
    }
    // Presses "Find..." and hands the dialog to act once its search has ended
    // (act closes it); whether it was seen searching with the event loop running.
    bool FindWith(TSiteForm* f, const std::function<void(TMeterFindDialog*)>& act) {
        bool seenSearching = false;
        bool shown = false;
        guitest::WhenModal<TMeterFindDialog>([&](TMeterFindDialog* d) {
            shown = true;
            seenSearching = d->Searching() && !d->pbSearch->isHidden();
            EXPECT_TRUE(WaitFor([d] { return !d->Searching(); }, 10000));
            act(d);
            if (d->isVisible()) d->reject();  // an act that stopped at a failed assertion
        });
        Child<QPushButton>(f, "btnFindMeter")->click();
        EXPECT_TRUE(shown);
        return seenSearching;
    }
    static QString Cell(TMeterFindDialog* d, int row, int column) {
        const QTableWidgetItem* item = d->gridDevices->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }
    std::string Stored(int id) {
        return Scalar("SELECT SIT_SQMHOST, SIT_SQMPORT FROM SQMSITES WHERE SIT_ID=" + std::to_string(id));
    }

    std::vector<TSiteForm*> forms;
};

TEST_F(MeterFindDialogTest, ChoosingTheFoundMeterFillsHostAndPortAsAnEditThatIsSavedWithTheRest) {
    SqmSimConfig c;
    c.Mac = {0x00, 0x20, 0x4A, 0x0A, 0x0B, 0x0C};
    c.Serial = 2468;
    SqmSimulator sim(c);
    sim.Start(0, "127.0.0.1", 0);
    const int id = AddSite();
    TSiteForm* f = Open(id, Loopback(sim.DiscoveryPort(), sim.Port()));
    ASSERT_EQ(f->SiteData().GetState(), TDataSet::State::Browse);
    FindWith(f, [](TMeterFindDialog* d) {
        ASSERT_EQ(d->gridDevices->rowCount(), 1);
        EXPECT_EQ(Cell(d, 0, 0), "127.0.0.1");
        EXPECT_EQ(Cell(d, 0, 1), "00:20:4A:0A:0B:0C");
        EXPECT_EQ(Cell(d, 0, 2), "2468");
        EXPECT_EQ(Cell(d, 0, 3), "4");
        EXPECT_EQ(Cell(d, 0, 6), "");
        EXPECT_EQ(d->lblStatus->text(), "Devices that answered: 1; SQM-LE meters among them: 1.");
        // The meter is chosen already.
        EXPECT_TRUE(d->btnUse->isEnabled());
        d->btnUse->click();
    });
    EXPECT_EQ(Child<QLineEdit>(f, "edHost")->text(), "127.0.0.1");
    EXPECT_EQ(Child<QLineEdit>(f, "edPort")->text(), QString::number(sim.Port()));
    EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Edit);
    EXPECT_EQ(Stored(id), "192.0.2.7|10001");  // not before the user saves
    ASSERT_TRUE(Child<TButtonFrame>(f, "ButtonFrame1")->Save());
    EXPECT_EQ(Stored(id), "127.0.0.1|" + std::to_string(sim.Port()));
    EXPECT_EQ(Boxes(), Lines{});
}

// A module that answers only the setup request keeps the search going for its
// whole time: the window's event loop runs meanwhile, and Close ends it.
TEST_F(MeterFindDialogTest, TheSearchRunsWithTheEventLoopAndClosingLeavesTheRecordAlone) {
    SqmSimConfig c;
    c.AnswerQuery = false;
    SqmSimulator sim(c);
    sim.Start(0, "127.0.0.1", 0);
    const int id = AddSite();
    TSiteForm* f = Open(id, Loopback(sim.DiscoveryPort(), sim.Port(), 800));
    const bool searching = FindWith(f, [](TMeterFindDialog* d) {
        ASSERT_EQ(d->gridDevices->rowCount(), 1);
        EXPECT_EQ(Cell(d, 0, 1), "");  // no MAC without the query reply
        EXPECT_EQ(Cell(d, 0, 2), "3911");
        EXPECT_TRUE(d->pbSearch->isHidden());
        d->btnClose->click();
    });
    EXPECT_TRUE(searching);
    EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Browse);
    EXPECT_EQ(Child<QLineEdit>(f, "edHost")->text(), "192.0.2.7");

    // Closed in the middle of the search.
    bool shown = false;
    guitest::WhenModal<TMeterFindDialog>([&](TMeterFindDialog* d) {
        shown = true;
        EXPECT_TRUE(d->Searching());
        d->btnClose->click();
    });
    Child<QPushButton>(f, "btnFindMeter")->click();
    EXPECT_TRUE(shown);
    // The step under way ends on the workers after the dialog has gone: its
    // end must reach nobody.
    QTest::qWait(400);
    EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Browse);
    EXPECT_EQ(Stored(id), "192.0.2.7|10001");
}

TEST_F(MeterFindDialogTest, NothingFoundSaysWhatToCheckAndADeviceThatIsNoMeterSaysWhy) {
    // Nobody answers on this port.
    const int silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&a), len), 0);
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&a), &len);
    const int silentPort = ntohs(a.sin_port);
    const int id = AddSite();
    TSiteForm* f = Open(id, Loopback(silentPort, 10001, 300));
    FindWith(f, [silentPort](TMeterFindDialog* d) {
        EXPECT_EQ(d->gridDevices->rowCount(), 0);
        EXPECT_TRUE(d->lblStatus->text().contains("same local network (subnet)")) << d->lblStatus->text().toStdString();
        EXPECT_TRUE(d->lblStatus->text().endsWith(QStringLiteral("UDP port %1.").arg(silentPort)));
        EXPECT_FALSE(d->btnUse->isEnabled());
        EXPECT_TRUE(d->btnFind->isEnabled());
        d->btnClose->click();
    });
    ::close(silent);

    // Answers discovery, but nothing listens on its meter port.
    SqmSimulator sim;
    sim.Start(0, "127.0.0.1", 0);
    const int closed = testsupport::ClosedPort();
    f->SetFinderOptions(Loopback(sim.DiscoveryPort(), closed));
    FindWith(f, [closed](TMeterFindDialog* d) {
        ASSERT_EQ(d->gridDevices->rowCount(), 1);
        EXPECT_EQ(Cell(d, 0, 2), "");
        EXPECT_EQ(Cell(d, 0, 6),
                  QStringLiteral("Not an SQM-LE: no connection to TCP port %1: Connection refused").arg(closed));
        EXPECT_EQ(d->lblStatus->text(), "Devices that answered: 1; SQM-LE meters among them: 0.");
        EXPECT_FALSE(d->btnUse->isEnabled());  // nothing is chosen for the user
        d->btnClose->click();
    });
    EXPECT_EQ(Child<QLineEdit>(f, "edHost")->text(), "192.0.2.7");
}

TEST_F(MeterFindDialogTest, WhileAcquiringTheEditIsRefusedBeforeAnySearch) {
    SqmSimulator sim;
    sim.Start(0, "127.0.0.1", 0);
    const int id = AddSite();
    Exec("UPDATE SQMSITES SET SIT_SQMHOST='127.0.0.1', SIT_SQMPORT=" + std::to_string(sim.Port()) +
         " WHERE SIT_ID=" + std::to_string(id));
    TSiteForm* f = Open(id, Loopback(sim.DiscoveryPort(), sim.Port()));
    Child<QPushButton>(f, "btnStartReading")->click();
    ASSERT_TRUE(f->Acquiring());
    ClearMessages();
    // Would close a dialog that opened; stopped once the click has returned.
    bool shown = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&shown] {
        if (auto* d = qobject_cast<TMeterFindDialog*>(QApplication::activeModalWidget())) {
            shown = true;
            d->reject();
        }
    });
    watcher.start(20);
    const int requests = sim.DiscoveryRequests();
    Child<QPushButton>(f, "btnFindMeter")->click();
    watcher.stop();
    EXPECT_FALSE(shown);
    EXPECT_EQ(sim.DiscoveryRequests(), requests);
    EXPECT_EQ(Boxes(), Lines{"information: Can not change the configuration of the readings during data acquisition"});
    f->StopForShutdown();
}

// Pictures of the site page with its "Find..." and of the dialog, for looking
// at (KALO_SCREENSHOTS=folder, KALO_SCREENSHOT_LANG=it or de).
TEST_F(MeterFindDialogTest, RendersForScreenshots) {
    const char* folder = getenv("KALO_SCREENSHOTS");
    if (!folder) GTEST_SKIP() << "KALO_SCREENSHOTS not set";
    if (const char* lang = getenv("KALO_SCREENSHOT_LANG")) {
        std::filesystem::copy(KALO_LOCALE_DIR, dir.Path() / "Locale", std::filesystem::copy_options::recursive);
        SwitchLanguage(lang);
    }
    SqmSimulator sim;
    sim.Start(0, "127.0.0.1", 0);
    const int id = AddSite();
    TSiteForm* f = Open(id, Loopback(sim.DiscoveryPort(), sim.Port()));
    f->resize(960, 640);
    Child<QTabWidget>(f, "PageControl1")->setCurrentWidget(Child<QWidget>(f, "tsSiteScroll"));
    QTest::qWait(20);
    f->grab().save(QString::fromLatin1(folder) + "/site-find-button.png");
    FindWith(f, [folder](TMeterFindDialog* d) {
        QTest::qWait(20);
        d->grab().save(QString::fromLatin1(folder) + "/meter-find.png");
        d->btnClose->click();
    });
    f->SetFinderOptions(Loopback(sim.DiscoveryPort(), testsupport::ClosedPort()));
    FindWith(f, [folder](TMeterFindDialog* d) {
        QTest::qWait(20);
        d->grab().save(QString::fromLatin1(folder) + "/meter-find-no-meter.png");
        d->btnClose->click();
    });
    SwitchLanguage("");
}

}  // namespace
