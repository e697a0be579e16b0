// The site window as a user meets it: its site page, starting and reading,
// and the reading and query pages.
#include <QRegularExpression>
#include <tuple>

#include "programs/desktop/siteform_test_support.h"

namespace {

using namespace sitewindowtest;

TEST_F(SiteForm, ANewSiteStartsWithItsDefaultsIsSavedOrStartedAndACancelledOneLeavesAGapInTheNumbers) {
    TSiteForm* cancelled = Open(0);
    const int first = static_cast<int>(cancelled->SiteData().AsInteger("SIT_ID"));
    EXPECT_GT(first, 0);
    Bar(cancelled)->btnCancel->click();
    TSiteForm* f = Open(0);
    const int id = static_cast<int>(f->SiteData().AsInteger("SIT_ID"));
    EXPECT_EQ(id, first + 1);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM SQMSITES"), "0");
    EXPECT_EQ(f->windowTitle().toStdString(), "Inserting new SQM Site");
    EXPECT_EQ(Child<QTabWidget>(f, "PageControl1")->currentWidget()->objectName(), "tsSiteScroll");
    EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Insert);
    EXPECT_EQ(Child<QLineEdit>(f, "edPort")->text(), "10001");
    EXPECT_EQ(Child<QLineEdit>(f, "edInterval")->text(), "1");
    EXPECT_TRUE(Child<QRadioButton>(f, "rbMethod0")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(f, "cbAutoUpload")->isChecked());
    EXPECT_FALSE(Child<QLineEdit>(f, "edCode")->isEnabled());
    Type(f, "edName", "Roof");
    Type(f, "edHost", "127.0.0.1");
    ASSERT_TRUE(Bar(f)->Save());
    EXPECT_EQ(Stored("SIT_NAME, SIT_INTERVAL, SIT_SQMPORT, SIT_TIMEOUT, SIT_DAYINTERVAL, SIT_AUTOUPLOAD, SIT_AUTOSTART, "
                     "SIT_DAYREADING, SIT_ACQUIREMODE", id),
              "Roof|1|10001|10|10|1|0|0|0");
    // No coordinates: saved, then warned.
    EXPECT_EQ(Boxes(), Lines{"information: Warning, latitude / longitude, were not specified: "
                             "it is impossible to correctly calculate twilights"});
    EXPECT_EQ(f->SiteId(), 0);  // the window keeps the identity it was opened with
    EXPECT_EQ(f->windowTitle().toStdString(), "Roof");
    EXPECT_TRUE(f->SettingsFile().endsWith("WinSetup/SiteForm-0.ini"));

    // Filled in and started: saved, after asking, and read at once.
    TSiteForm* g = Open(0);
    Type(g, "edName", "Dome");
    Type(g, "edHost", "127.0.0.1");
    Type(g, "edPort", QString::number(sim.Port()));
    Type(g, "edLatit", "45.5");
    Type(g, "edLong", "9.2");
    Answer("yes");
    Click(g, "btnStartReading");
    EXPECT_EQ(Boxes(), Lines{"confirm: The configuration has not yet been saved: save now?"});
    EXPECT_TRUE(g->Acquiring());
    EXPECT_EQ(Stored("SIT_NAME", id + 1), "Dome");
    EXPECT_EQ(Readings(id + 1), 1);
    EXPECT_EQ(g->windowTitle().toStdString(), "Dome");
}

TEST_F(SiteForm, AnIntervalBelowOneMinuteIsRefusedAndTheRecordStaysInEdit) {
    const int id = AddSite("Roof", sim.Port());
    TSiteForm* f = Open(id);
    EXPECT_EQ(Child<QTabWidget>(f, "PageControl1")->currentWidget()->objectName(), "tsReadingsScroll");
    for (const QString& value : {QStringLiteral("0"), QString()}) {
        Type(f, "edInterval", value);
        EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Edit);
        EXPECT_FALSE(Bar(f)->Save());
        EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Edit);
        EXPECT_EQ(Boxes(), Lines{"error: Please note, you cannot specify a range of time less than 1 minute"});
        EXPECT_EQ(Stored("SIT_INTERVAL", id), "1");
    }
    Bar(f)->CancelUpdate();
    EXPECT_EQ(Child<QLineEdit>(f, "edInterval")->text(), "1");
}

TEST_F(SiteForm, AFieldOutOfItsRangeIsRefusedWithTheSiteRulesOwnWords) {
    const int id = AddSite("Roof", sim.Port());
    const std::string before = Stored("SIT_LATIT", id);
    TSiteForm* f = Open(id);
    Child<QTabWidget>(f, "PageControl1")->setCurrentIndex(0);
    Type(f, "edLatit", QStringLiteral("95"));
    EXPECT_FALSE(Bar(f)->Save());
    EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Edit);
    EXPECT_EQ(Boxes(), Lines{"error: " + TSiteRules::RangeRefusal(*TSiteRules::RangeOf("SIT_LATIT"), "95")});
    EXPECT_EQ(Stored("SIT_LATIT", id), before);
    Type(f, "edLatit", QStringLiteral("-90"));
    EXPECT_TRUE(Bar(f)->Save());
    EXPECT_EQ(Boxes(), Lines{});
    EXPECT_NE(Stored("SIT_LATIT", id), before);

    // An emptied port is refused on save, not stored to fail later as port 0.
    const std::string port = Stored("SIT_SQMPORT", id);
    Type(f, "edPort", QString());
    EXPECT_FALSE(Bar(f)->Save());
    EXPECT_EQ(Boxes(), Lines{"error: the port is required: a whole number from 1 to 65535"});
    EXPECT_EQ(Stored("SIT_SQMPORT", id), port);
}

TEST_F(SiteForm, ABlankNameOrABlankInTheHostIsRefusedOnSaveWithTheCommandLinesWords) {
    TSiteForm* added = Open(0);
    Type(added, "edHost", "127.0.0.1");
    EXPECT_FALSE(Bar(added)->Save());
    EXPECT_EQ(Boxes(), Lines{"error: the name must not be empty"});
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM SQMSITES"), "0");
    Bar(added)->btnCancel->click();

    const int id = AddSite("Roof", sim.Port());
    TSiteForm* f = Open(id);
    Child<QTabWidget>(f, "PageControl1")->setCurrentIndex(0);
    for (const auto& [field, text, refusal] : std::vector<std::tuple<const char*, QString, std::string>>{
             {"edName", QStringLiteral("   "), "the name must not be empty"},
             {"edName", QString(), "the name must not be empty"},
             {"edHost", QStringLiteral("my meter"), "a host name has no blanks: 'my meter'"}}) {
        SCOPED_TRACE(refusal);
        Type(f, "edName", field == std::string("edName") ? text : QStringLiteral("Roof"));
        Type(f, "edHost", field == std::string("edHost") ? text : QStringLiteral("127.0.0.1"));
        EXPECT_FALSE(Bar(f)->Save());
        EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Edit);
        EXPECT_EQ(Boxes(), Lines{"error: " + refusal});
        EXPECT_EQ(Stored("SIT_NAME, SIT_SQMHOST", id), "Roof|127.0.0.1");
    }
    Type(f, "edName", QStringLiteral("Roof 2"));
    Type(f, "edHost", QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(Bar(f)->Save());
    EXPECT_EQ(Stored("SIT_NAME", id), "Roof 2");
}

TEST_F(SiteForm, StartingOffersUnsavedChangesReadsAtOnceLocksTheConfigurationAndClosingAsksFirst) {
    const int id = AddSite("Roof", sim.Port());
    TSiteForm* f = Open(id);
    auto* start = Child<QPushButton>(f, "btnStartReading");
    auto* light = Child<TSemaforo>(f, "Semaforo1");
    EXPECT_EQ(start->text().toStdString(), "Start SQM Readings");
    EXPECT_EQ(light->Current(), TSemaforo::State::Red);
    const Lines saveNow{"confirm: The configuration has not yet been saved: save now?"};
    Type(f, "edName", "Renamed");
    start->click();
    Settle(f);
    EXPECT_FALSE(f->Acquiring());
    EXPECT_EQ(Boxes(), saveNow);
    Answer("yes");
    start->click();
    Settle(f);
    EXPECT_EQ(Boxes(), saveNow);
    EXPECT_TRUE(f->Acquiring());
    EXPECT_EQ(Stored("SIT_NAME", id), "Renamed");
    EXPECT_EQ(start->text().toStdString(), "Stop SQM Readings");
    EXPECT_EQ(light->Current(), TSemaforo::State::Green);
    EXPECT_EQ(Readings(id), 1);
    EXPECT_EQ(Text(f, "lblReading"), QLocale().toString(19.29, 'f', 2));
    EXPECT_EQ(Text(f, "lblTemperature"), QLocale().toString(27.0, 'f', 1));
    EXPECT_FALSE(Text(f, "lblUtcTime").isEmpty());

    const Lines locked{"information: Can not change the configuration of the readings during data acquisition"};
    Type(f, "edName", "Other");  // the field takes no keys now
    EXPECT_TRUE(Boxes().empty());
    Bar(f)->btnEdit->click();
    EXPECT_EQ(Boxes(), locked);
    EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Browse);
    EXPECT_EQ(Child<QLineEdit>(f, "edName")->text(), "Renamed");
    // A connection test during acquisition asks the meter, then is refused the edit.
    Click(f, "btnTestSQM");
    EXPECT_EQ(Boxes(), locked);
    EXPECT_EQ(Stored("SIT_SQMSERIAL", id), "NULL");

    start->click();
    Settle(f);
    EXPECT_FALSE(f->Acquiring());
    EXPECT_EQ(light->Current(), TSemaforo::State::Red);
    EXPECT_EQ(start->text().toStdString(), "Start SQM Readings");

    // Closing while acquiring asks; No keeps it running.
    start->click();
    Settle(f);
    ASSERT_TRUE(f->Acquiring());
    Answer("no");
    EXPECT_FALSE(f->close());
    EXPECT_TRUE(f->Acquiring());
    EXPECT_EQ(Boxes(), Lines{"confirm: SQM reading in progress, closing the window will stop the operation: CLOSE?"});
    Answer("yes");
    EXPECT_TRUE(guitest::CloseWhenIdle(f));
    EXPECT_FALSE(f->Acquiring());
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "WinSetup" / ("SiteForm-" + std::to_string(id) + ".ini")));
}

TEST_F(SiteForm, ReadNowShowsAReadingUnstoredAndCheckConnectionStoresTheIdentityAskingTheStationsAddress) {
    const int id = AddSite("Roof", sim.Port());
    TSiteForm* f = Open(id);
    Type(f, "edAlt", "250");  // pending, saved together with the identity
    Click(f, "btnTestSQM");
    EXPECT_EQ(Boxes(), Lines{"information: SQM-LE correctly found"});
    EXPECT_EQ(Stored("SIT_SQMPROT, SIT_SQMMODEL, SIT_SQMFEATURE, SIT_SQMSERIAL, SIT_ALT", id), "4|3|57|3911|250");
    EXPECT_EQ(Text(f, "SIT_SQMSERIAL"), "3911");
    EXPECT_EQ(f->SiteData().GetState(), TDataSet::State::Browse);
    EXPECT_EQ(f->Acquisition().Station(), nullptr);  // the save discarded it

    Click(f, "btnReadNow");  // makes the station object
    EXPECT_TRUE(Boxes().empty());
    ASSERT_NE(f->Acquisition().Station(), nullptr);
    EXPECT_EQ(Text(f, "lblReading"), QLocale().toString(19.29, 'f', 2));
    EXPECT_EQ(Readings(id), 0);
    EXPECT_EQ(Child<TSemaforo>(f, "Semaforo1")->Current(), TSemaforo::State::Red);
    Type(f, "edPort", QString::number(ClosedPort()));  // not saved: the object keeps the simulator
    Click(f, "btnTestSQM");
    EXPECT_EQ(Boxes(), Lines{"information: SQM-LE correctly found"});
    // Now saved with the closed port: it is tried and fails, saying why.
    Click(f, "btnTestSQM");
    const int port = Stored("SIT_SQMPORT", id).empty() ? 0 : std::stoi(Stored("SIT_SQMPORT", id));
    EXPECT_EQ(Boxes(), (Lines{"error: SQM-LE not found", "SQM-LE at 127.0.0.1:" + std::to_string(port) +
                                                           ": cannot connect: Socket error: Connection refused"}));
    EXPECT_EQ(Stored("SIT_SQMSERIAL", id), "3911");

    const int closed = ClosedPort();
    TSiteForm* g = Open(AddSite("Dead", closed));
    Click(g, "btnReadNow");
    // The system's own words, then why, on a line of its own.
    EXPECT_EQ(Boxes(), (Lines{"information: SQM-LE not found", "SQM-LE at 127.0.0.1:" + std::to_string(closed) +
                                                                  ": cannot connect: Socket error: Connection refused"}));
    EXPECT_TRUE(Text(g, "lblReading").isEmpty());
    // Read now shows its box only; a failed due reading stays in sight with its cause
    // until a reading is stored.
    auto* failure = Child<QLabel>(g, "lblLastFailure");
    EXPECT_FALSE(failure->isVisibleTo(g));
    Click(g, "btnStartReading");
    ASSERT_TRUE(failure->isVisibleTo(g));
    EXPECT_TRUE(failure->text().startsWith("Last failed reading, ")) << failure->text().toStdString();
    EXPECT_TRUE(failure->text().endsWith("SQM-LE at 127.0.0.1:" + QString::number(closed) +
                                         ": cannot connect: Socket error: Connection refused"))
        << failure->text().toStdString();
    EXPECT_EQ(Child<TSemaforo>(g, "Semaforo1")->Current(), TSemaforo::State::Yellow);
    Click(g, "btnStartReading");  // stopped
    Exec("UPDATE SQMSITES SET SIT_SQMPORT=" + std::to_string(sim.Port()) + " WHERE SIT_NAME='Dead'");
    g->SiteData().Refresh();
    g->Acquisition().DiscardStation();
    Click(g, "btnStartReading");
    EXPECT_EQ(Child<TSemaforo>(g, "Semaforo1")->Current(), TSemaforo::State::Green);
    EXPECT_FALSE(failure->isVisibleTo(g));
}

TEST_F(SiteForm, EachMethodShowsItsOwnGroupsAndTheSunMethodsWantCoordinates) {
    const int id = AddSite("Roof", sim.Port(), "NULL, NULL");
    TSiteForm* f = Open(id);
    struct Case {
        int method;
        bool labels, timed, daylight;
    } cases[] = {{0, false, false, false}, {1, false, true, true}, {2, true, false, true}, {3, true, false, true}};
    for (const Case& c : cases) {
        Child<QRadioButton>(f, ("rbMethod" + std::to_string(c.method)).c_str())->click();
        EXPECT_EQ(Child<QGroupBox>(f, "gbReadingTime")->isVisibleTo(f), c.labels) << c.method;
        EXPECT_EQ(Child<QGroupBox>(f, "gbTimedWindow")->isVisibleTo(f), c.timed) << c.method;
        EXPECT_EQ(Child<QGroupBox>(f, "gbDaylight")->isVisibleTo(f), c.daylight) << c.method;
        const auto boxes = Boxes();
        EXPECT_EQ(boxes.size(), c.labels ? 1u : 0u) << c.method;
    }
    // Cancelling the edit brings back the stored method and its groups.
    Bar(f)->CancelUpdate();
    EXPECT_TRUE(Child<QRadioButton>(f, "rbMethod0")->isChecked());
    EXPECT_FALSE(Child<QGroupBox>(f, "gbDaylight")->isVisibleTo(f));
}

TEST_F(SiteForm, TheReadingTimeLabelsShowTheSitesNightOnceItRuns) {
    const int id = AddSite("Roof", sim.Port(), "45.46, 9.19");
    Exec("UPDATE SQMSITES SET SIT_ACQUIREMODE=3 WHERE SIT_ID=" + std::to_string(id));
    TSiteForm* f = Open(id);
    EXPECT_EQ(Text(f, "lblWindowStart"), "--:--");
    const double day = EncodeDate(2024, 1, 15);
    f->SetDynamicLabels(false, day + 0.5);
    const auto hhmm = [](double t) { return QString::fromStdString(FormatTimeOfDay(t).substr(0, 5)); };
    EXPECT_EQ(Text(f, "lblWindowStart"), hhmm(AstronomicalDusk(day, -9.19L, 45.46L)));
    EXPECT_EQ(Text(f, "lblWindowStop"), hhmm(AstronomicalDawn(day, -9.19L, 45.46L)));
    // Winter in Milan: dusk a little before 18:00 UTC, dawn a little after 05:00.
    EXPECT_TRUE(Text(f, "lblWindowStart").startsWith("17:"));
    EXPECT_TRUE(Text(f, "lblWindowStop").startsWith("05:"));
}

TEST_F(SiteForm, AutostartStartsWithinOneToFourSeconds) {
    const int id = AddSite("Roof", sim.Port());
    TSiteForm* f = Open(id, true);
    EXPECT_FALSE(f->Acquiring());
    QTest::qWait(900);
    EXPECT_FALSE(f->Acquiring());
    EXPECT_TRUE(guitest::WaitFor([f] { return f->Acquiring(); }, 4000));
    Settle(f);  // its first reading comes back off the window's thread
    EXPECT_EQ(Readings(id), 1);
}

TEST_F(SiteForm, AWindowClosedWhileItsReadingWaitsInABoxClosesAfterwards) {
    const int id = AddSite("Roof", sim.Port(), "NULL, NULL");  // "Read now" warns about the coordinates
    TSiteForm* f = Open(id);
    bool closedInside = true, busyInside = false;
    QString shown;
    RealBoxes();  // for the user to act behind
    guitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
        shown = box->text();
        busyInside = f->Busy();
        closedInside = f->close();  // the user closes the window behind the box
        box->accept();
    });
    Click(f, "btnReadNow");
    LogBoxes();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Warning, latitude / longitude"))) << shown.toStdString();
    EXPECT_TRUE(busyInside);
    EXPECT_FALSE(closedInside);
    // Closed once the reading it waited for was over, not inside the box.
    QTest::qWait(50);
    EXPECT_FALSE(f->isVisible());
    EXPECT_FALSE(common.meters.Busy("127.0.0.1", sim.Port()));
}

// Counts a widget's paint events while a condition holds.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(std::function<bool()> when) : when_(std::move(when)) {}
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && when_()) ++paints;
        return false;
    }

private:
    std::function<bool()> when_;
};

// The fault this catches: a meter conversation on the window's thread. While
// one window's meter never answers, the event loop goes on: that window
// repaints and the other window's ticks store their readings; the silent
// one's failure comes once, when its wait is over.
TEST_F(SiteForm, WhileAMeterNeverAnswersTheWindowRepaintsAndAnotherSiteReadsAtItsTicks) {
    SqmSimulator mute(SqmSimConfig{.Silent = true});
    mute.Start();
    const int a = AddSite("Mute", mute.Port());
    Exec("UPDATE SQMSITES SET SIT_TIMEOUT=3 WHERE SIT_ID=" + std::to_string(a));
    const int b = AddSite("Roof", sim.Port(), "45.5, 9.2", 0);  // interval 0: a reading at every tick
    TSiteForm* fa = Open(a);
    TSiteForm* fb = Open(b);
    Click(fb, "btnStartReading");
    ASSERT_EQ(Readings(b), 1);

    auto* light = Child<QWidget>(fa, "Semaforo1");
    PaintCounter counter([fa] { return fa->Busy(); });
    light->installEventFilter(&counter);
    struct TDuring {
        int ticks = 0;
    } during;
    const int before = Readings(b);
    QTimer other;  // the other window's timer, faster than its 30 s
    QObject::connect(&other, &QTimer::timeout, [&] {
        if (!fa->Busy() || fb->Busy()) return;  // each tick once the last one's reading is in
        fb->Acquisition().Tick();
        ++during.ticks;
        light->update();
    });
    other.start(200);
    Click(fa, "btnStartReading");  // ends when the silent meter's wait is over
    other.stop();
    light->removeEventFilter(&counter);
    Settle(fb);

    EXPECT_TRUE(fa->Acquiring());
    EXPECT_FALSE(fa->Busy());
    EXPECT_GE(during.ticks, 3);
    // Every tick of the other site read its meter: a reading a second at most, its key being the second.
    EXPECT_GE(Readings(b) - before, 2);
    EXPECT_EQ(fb->Acquisition().LastTick().What, TTickReport::Outcome::Stored);
    EXPECT_GE(counter.paints, 1);  // painted while its own meter kept it waiting
    EXPECT_EQ(mute.Requests(), 1);
    EXPECT_EQ(Child<TSemaforo>(fa, "Semaforo1")->Current(), TSemaforo::State::Yellow);
    auto* failure = Child<QLabel>(fa, "lblLastFailure");
    EXPECT_TRUE(failure->text().endsWith("SQM-LE at 127.0.0.1:" + QString::number(mute.Port()) +
                                         ": no answer within 3 s"))
        << failure->text().toStdString();
    EXPECT_EQ(Child<TSemaforo>(fb, "Semaforo1")->Current(), TSemaforo::State::Green);
    EXPECT_FALSE(common.meters.Busy("127.0.0.1", mute.Port()));
}

// The fault this catches: "Send waiting records" and "Check connection" on
// the window's thread. While one window sends its backlog (a pause of
// 1.5 s after each reading) and then checks a meter that never answers,
// another window reads at each of its ticks and the first one repaints.
TEST_F(SiteNetwork, SendingWaitingRecordsAndCheckingADeadMeterLeaveAnotherWindowReadingAtItsTicks) {
    SqmSimulator mute(SqmSimConfig{.Silent = true});
    mute.Start();
    const int a = AddCodedSite("AB12");
    Exec("UPDATE SQMSITES SET SIT_SQMPORT=" + std::to_string(mute.Port()) + ", SIT_TIMEOUT=3 WHERE SIT_ID=" +
         std::to_string(a));
    Install("AB12", true, false);
    for (int i = 0; i < 4; ++i) AddReading(a, EncodeDateTime(2024, 1, 1, 22, i, 0), 20, 0);
    const int b = AddSite("Other", sim.Port(), "45.5, 9.2", 0);  // interval 0: a reading at every tick
    TSiteForm* fa = Open(a);
    TSiteForm* fb = Open(b);
    Click(fb, "btnStartReading");
    ASSERT_TRUE(fb->Acquiring());

    auto* light = Child<QWidget>(fa, "Semaforo1");
    PaintCounter counter([fa] { return fa->Busy(); });
    light->installEventFilter(&counter);
    int ticks = 0;
    QTimer other;  // the other window's timer, faster than its 30 s
    QObject::connect(&other, &QTimer::timeout, [&] {
        if (!fa->Busy() || fb->Busy()) return;
        fb->Acquisition().Tick();
        ++ticks;
        light->update();
    });
    other.start(200);

    int before = Readings(b);
    Answer("yes");
    fa->SendWaitingRecords();
    EXPECT_EQ(BoxesOnceThere(2), (Lines{"confirm: Upload the records on hold? the operation could take several minutes",
                                     "information: Operation completed"}));
    Settle(fa);
    EXPECT_EQ(net.Admin("SELECT COUNT(*) FROM READINGS").FirstText(), "4");
    EXPECT_GE(ticks, 10) << "four pauses of 1.5 s, a tick each 200 ms";
    EXPECT_GE(Readings(b) - before, 3);  // a reading a second at most, its key being the second
    EXPECT_GE(counter.paints, 1);

    ticks = 0;
    counter.paints = 0;
    before = Readings(b);
    Click(fa, "btnTestSQM");  // ends when the silent meter's wait is over
    other.stop();
    light->removeEventFilter(&counter);
    Settle(fb);
    EXPECT_EQ(mute.Requests(), 1);
    EXPECT_GE(ticks, 5);
    EXPECT_GE(Readings(b) - before, 2);
    EXPECT_GE(counter.paints, 1);
    EXPECT_EQ(fb->Acquisition().LastTick().What, TTickReport::Outcome::Stored);
    EXPECT_EQ(Boxes(), (Lines{"error: SQM-LE not found",
                              "SQM-LE at 127.0.0.1:" + std::to_string(mute.Port()) + ": no answer within 3 s"}));
    fb->StopForShutdown();
}

TEST_F(SiteReadings, TheLatestReadingsGridShowsCorrectedValuesFlagsAndTheCountKeptInTheSettings) {
    const int id = AddSite("Roof", sim.Port());
    for (int i = 0; i < 12; ++i) AddReading(id, EncodeDateTime(2020, 5, 1, 21, i, 0), 21.0, 0.1, 0, i % 2);
    AddReading(id, EncodeDateTime(2020, 5, 2, 8, 0, 0), 15.0, 0.1, -1, 0);
    AddReading(id, EncodeDateTime(2020, 5, 2, 2, 0, 0), 21.50, -0.20, 0, 1);
    TSiteForm* f = Open(id);
    auto* grid = Child<QTableView>(f, "gridLatest");
    ASSERT_EQ(grid->model()->rowCount(), 10);
    Lines headers;
    for (int c = 0; c < grid->model()->columnCount(); ++c) headers.push_back(Header(grid, c).toStdString());
    EXPECT_EQ(headers, (Lines{"Date", "SQM Value", "NELM", "Sensor temp.", "Uploaded", "State"}));
    // Newest first: the daylight reading, then the one of 02:00.
    EXPECT_EQ(Cell(grid, 0, 5), "Daytime");
    EXPECT_EQ(Cell(grid, 0, 4), "No");
    EXPECT_EQ(Cell(grid, 1, 1), QLocale().toString(21.30, 'f', 2));
    EXPECT_EQ(Cell(grid, 1, 2), QLocale().toString(6.28, 'f', 2));
    EXPECT_EQ(Cell(grid, 1, 3), QLocale().toString(12.5, 'f', 1));
    EXPECT_EQ(Cell(grid, 1, 4), "Yes");
    EXPECT_EQ(Cell(grid, 1, 5), "");

    auto* count = Child<QSpinBox>(f, "edNumLatest");
    EXPECT_EQ(count->maximum(), 1000);
    count->setValue(0);
    EXPECT_EQ(grid->model()->rowCount(), 0);
    ShowPage(f, "tsGrafico");  // "Recent recorded readings" is the first choice
    EXPECT_EQ(Points(Child<TReadingChart>(f, "ChartRealTime")), 0);
    count->setValue(1000);
    EXPECT_EQ(grid->model()->rowCount(), 14);
    EXPECT_EQ(Points(Child<TReadingChart>(f, "ChartRealTime")), 14);
    EXPECT_EQ(Child<TReadingChart>(f, "ChartRealTime")->Title(),
              "Real time SQM graph of the recent recorde readings");
    count->setValue(3);
    f->close();
    QSettings ini(f->SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(ini.value("Controls/edNumLatest.Text").toString(), "3");
    EXPECT_EQ(ini.value("Controls/UpDown1.Position").toInt(), 3);
    EXPECT_EQ(ini.value("Controls/RadioGroup3.ItemIndex").toInt(), 1);
    TSiteForm* again = Open(id);
    EXPECT_EQ(Child<QTableView>(again, "gridLatest")->model()->rowCount(), 3);
}

// Each page keeps its own controls in the window's settings file.
TEST_F(SiteReadings, EveryPageGetsBackItsControlsAndColumnsWhenTheWindowOpensAgain) {
    const int id = AddSite("Roof", sim.Port());
    TSiteForm* f = Open(id);
    Child<QSpinBox>(f, "edNumLatest")->setValue(7);
    ShowPage(f, "tsGrafico");
    Child<QRadioButton>(f, "rbShow0")->click();
    ShowPage(f, "tsDB");
    Child<QRadioButton>(f, "RadioGroup1_1")->click();
    Child<QDateEdit>(f, "DateStart")->setDate(QDate(2019, 2, 3));
    Child<QDateEdit>(f, "DateEnd")->setDate(QDate(2019, 2, 9));
    Child<QRadioButton>(f, "RadioGroup2_0")->click();
    Child<QTableView>(f, "gridQuery")->horizontalHeader()->resizeSection(1, 171);
    Child<QTableView>(f, "gridLatest")->horizontalHeader()->resizeSection(0, 233);
    Child<QTableView>(f, "gridNet")->horizontalHeader()->resizeSection(1, 97);
    Child<QDateEdit>(f, "DateStartNet")->setDate(QDate(2018, 7, 8));
    f->close();

    TSiteForm* g = Open(id);
    EXPECT_EQ(Child<QSpinBox>(g, "edNumLatest")->value(), 7);
    EXPECT_TRUE(Child<QRadioButton>(g, "rbShow0")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>(g, "RadioGroup1_1")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>(g, "RadioGroup2_0")->isChecked());
    EXPECT_EQ(Child<QDateEdit>(g, "DateStart")->date(), QDate(2019, 2, 3));
    EXPECT_EQ(Child<QDateEdit>(g, "DateEnd")->date(), QDate(2019, 2, 9));
    EXPECT_EQ(Child<QDateEdit>(g, "DateStartNet")->date(), QDate(2018, 7, 8));
    EXPECT_EQ(Child<QTableView>(g, "gridQuery")->horizontalHeader()->sectionSize(1), 171);
    EXPECT_EQ(Child<QTableView>(g, "gridLatest")->horizontalHeader()->sectionSize(0), 233);
    EXPECT_EQ(Child<QTableView>(g, "gridNet")->horizontalHeader()->sectionSize(1), 97);
    // The columns a page hides stay hidden whatever the file says.
    EXPECT_TRUE(Child<QTableView>(g, "gridQuery")->isColumnHidden(4));
    EXPECT_TRUE(Child<QTableView>(g, "gridNet")->isColumnHidden(4));
}

TEST_F(SiteReadings, TheCurrentNightIsThatOfTheLastReadingOrOfTheSynchronisedPcTime) {
    const int id = AddSite("Roof", sim.Port());
    // Before any reading: the time is synchronised first (its failure is
    // shown) and the night of the PC's UTC time is plotted.
    Exec("UPDATE SETTINGS SET SET_USEINTERTETTIME=1, SET_SYNCLOCK=0 WHERE SET_ID=1");
    Exec("UPDATE NTPSERVERS SET NTP_TIMEOUT=300, NTP_HOST='127.0.0.1'");
    data.TimePort = ClosedPort();
    const double night = NightDateOf(NowUtc());
    AddReading(id, night + 0.5, 20.0, 0);              // noon that opens the night
    AddReading(id, night + 0.9, 21.0, 0);
    AddReading(id, night + 0.5 - 1.0 / 86400, 19, 0);  // the night before
    TSiteForm* f = Open(id);
    Boxes();
    ShowPage(f, "tsGrafico");
    Child<QRadioButton>(f, "rbShow0")->click();
    EXPECT_EQ(BoxesOnceThere(1), Lines{"error: Impossible to get the Internet time"});
    auto* chart = Child<TReadingChart>(f, "ChartRealTime");
    EXPECT_EQ(chart->Title().toStdString(), RealTimeNightTitle(night, LanguageFormats()));
    EXPECT_EQ(Points(chart), 2);

    // With a reading taken, its time names the night: no synchronisation.
    Exec("UPDATE SETTINGS SET SET_USEINTERTETTIME=0 WHERE SET_ID=1");
    Click(f, "btnStartReading");
    ASSERT_TRUE(f->Acquiring());
    const double taken = f->Acquisition().Station()->DateTime;
    f->ShowChosenGraph();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(chart->Title().toStdString(), RealTimeNightTitle(NightDateOf(taken), LanguageFormats()));
    EXPECT_EQ(Points(chart), NightDateOf(taken) == night ? 3 : 1);
    // Leaving the page closes the night; the next refresh does not reopen it.
    ShowPage(f, "tsSiteScroll");
    f->RefreshLatestReadings();
    EXPECT_TRUE(Boxes().empty());
}

// "Database query" opens on the night that holds the present moment (noon
// to noon UTC of the reading times), never on one not begun, and a query
// that finds nothing says so. The PC is put twelve hours east of UTC, where
// the calendar date is always the day after the night's.
TEST_F(SiteReadings, TheQueryOpensOnTheNightUnderWayAndAnEmptyNightSaysSo) {
    const std::optional<std::string> zone =
        getenv("TZ") ? std::optional<std::string>(getenv("TZ")) : std::nullopt;
    setenv("TZ", "EAST-12", 1);
    tzset();
    struct Restore {
        std::optional<std::string> zone;
        ~Restore() {
            if (zone)
                setenv("TZ", zone->c_str(), 1);
            else
                unsetenv("TZ");
            tzset();
        }
    } restore{zone};

    const int id = AddSite("Roof", sim.Port());
    const double night = NightDateOf(NowUtc());
    AddReading(id, night + 0.5 + 1.0 / 24, 20.5, 0);  // 13:00 UTC opens it
    TSiteForm* f = Open(id);
    ShowPage(f, "tsDB");
    EXPECT_EQ(Child<QDateEdit>(f, "DateStart")->date(), ToQDateTime(night).date());
    auto* note = Child<QLabel>(f, "lblNoReadings");
    EXPECT_TRUE(note->isHidden()) << "nothing to say before a query";
    f->RunLocalQuery();
    EXPECT_EQ(Child<QTableView>(f, "gridQuery")->model()->rowCount(), 1);
    EXPECT_TRUE(note->isHidden());

    Click(f, "btnNext");  // the night to come has no readings yet
    EXPECT_EQ(Child<QTableView>(f, "gridQuery")->model()->rowCount(), 0);
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(), "No readings in this night");
    Click(f, "btnPrev");
    EXPECT_TRUE(note->isHidden());

    // An interval without readings says it as such; deleting the last one too.
    Child<QRadioButton>(f, "RadioGroup1_1")->click();
    Child<QDateEdit>(f, "DateStart")->setDate(QDate(2001, 1, 1));
    Child<QDateEdit>(f, "DateEnd")->setDate(QDate(2001, 1, 2));
    f->RunLocalQuery();
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(), "No readings in this interval");
    Child<QRadioButton>(f, "RadioGroup1_0")->click();
    Child<QDateEdit>(f, "DateStart")->setDate(ToQDateTime(night).date());
    f->RunLocalQuery();
    EXPECT_TRUE(note->isHidden());
    Answer("yes");
    f->DeleteSelectedReading();
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(), "No readings in this night");

    // A window that reopens on an interval keeps its dates.
    Child<QRadioButton>(f, "RadioGroup1_1")->click();
    Child<QDateEdit>(f, "DateStart")->setDate(QDate(2019, 2, 3));
    f->close();
    TSiteForm* g = Open(id);
    EXPECT_EQ(Child<QDateEdit>(g, "DateStart")->date(), QDate(2019, 2, 3));
}

// The query's chart as the user sees it: a lone reading is a marker, a gap
// of hours a break, and the site's night shaded.
TEST_F(SiteReadings, TheQueryChartShowsALoneReadingBreaksAtAGapAndShadesTheSitesNight) {
    const int id = AddSite("Roof", sim.Port());
    AddReading(id, EncodeDateTime(2011, 3, 11, 21, 0, 0), 21.0, -0.2);
    TSiteForm* f = Open(id);
    ShowPage(f, "tsDB");
    Child<QDateEdit>(f, "DateStart")->setDate(QDate(2011, 3, 11));
    auto* chart = Child<TReadingChart>(f, "ChartQuery");
    const auto redNear = [&](double utc, double value) {
        chart->resize(760, 360);
        const QImage image = chart->grab().toImage();
        const TNightPlotLayout L = chart->Layout();
        int red = 0;
        for (int dy = -6; dy <= 6; ++dy)
            for (int dx = -6; dx <= 6; ++dx) {
                const QRgb c = image.pixel(static_cast<int>(L.X(utc)) + dx, static_cast<int>(L.Y(value)) + dy);
                red += qRed(c) > 200 && qGreen(c) < 90 && qBlue(c) < 90;
            }
        return red;
    };
    f->RunLocalQuery();
    ASSERT_EQ(Points(chart), 1);
    EXPECT_GE(redNear(EncodeDateTime(2011, 3, 11, 21, 0, 0), 20.8), 25) << "the lone reading is seen";
    ASSERT_TRUE(chart->Data().Astronomy) << "the site has coordinates";
    EXPECT_EQ(chart->Data().Astronomy->Dark.size(), 1u);

    for (int m = 0; m <= 120; m += 5) {
        AddReading(id, EncodeDateTime(2011, 3, 11, 22, 0, 0) + m / 1440.0, 21.0, -0.2);
        AddReading(id, EncodeDateTime(2011, 3, 12, 3, 0, 0) + m / 1440.0, 21.0, -0.2);
    }
    f->RunLocalQuery();
    EXPECT_EQ(Points(chart), 51);
    EXPECT_GT(redNear(EncodeDateTime(2011, 3, 11, 23, 0, 0), 20.8), 0);
    EXPECT_EQ(redNear(EncodeDateTime(2011, 3, 12, 1, 0, 0), 20.8), 0) << "the hours without readings are joined";
    EXPECT_GT(redNear(EncodeDateTime(2011, 3, 12, 4, 0, 0), 20.8), 0);
}

TEST_F(SiteReadings, ANightsQueryShowsItsRowsStatisticsAndChartExportsAndSavesThemAndDeletesOnlyAfterAsking) {
    const int id = AddSite("Roof", sim.Port());
    const double values[] = {20.0, 21.5, 20.5, 21.0};
    for (int i = 0; i < 4; ++i) AddReading(id, EncodeDateTime(2011, 3, 11, 20 + i, 0, 0), values[i], 0);
    AddReading(id, EncodeDateTime(2011, 3, 12, 12, 0, 1), 18, 0);
    TSiteForm* f = Open(id);
    ShowPage(f, "tsDB");
    // First showing: one night, newest first, no statistics yet.
    EXPECT_TRUE(Child<QRadioButton>(f, "RadioGroup1_0")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>(f, "RadioGroup2_1")->isChecked());
    EXPECT_TRUE(Child<QPushButton>(f, "btnPrev")->isVisible());
    EXPECT_FALSE(Child<QDateEdit>(f, "DateEnd")->isVisible());
    EXPECT_EQ(Text(f, "lblStat0"), "---");

    NextFile(f, QString::fromStdString((dir.Path() / "never.txt").string()));
    f->ExportQuery();
    f->DeleteSelectedReading();
    EXPECT_EQ(Boxes(), (Lines{"error: The query is not yet started",
                              "error: Cannot perform this operation on a closed dataset"}));

    Child<QDateEdit>(f, "DateStart")->setDate(QDate(2011, 3, 12));
    Child<QPushButton>(f, "btnPrev")->click();
    EXPECT_EQ(Child<QDateEdit>(f, "DateStart")->date(), QDate(2011, 3, 11));
    auto* grid = Child<QTableView>(f, "gridQuery");
    ASSERT_EQ(grid->model()->rowCount(), 4);
    EXPECT_TRUE(grid->isColumnHidden(4));
    EXPECT_EQ(Header(grid, 4), "State");
    EXPECT_EQ(Header(grid, 6), "Syncronized");
    EXPECT_EQ(Cell(grid, 0, 1), QLocale().toString(21.0, 'f', 2));  // 23:00 first
    const std::string stats[] = {"4", "20.75", "0.65", "20.75", "21.50", "20.00"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Text(f, ("lblStat" + std::to_string(i)).c_str()).toStdString(),
                  i == 0 ? stats[i] : FormatNumber(std::stod(stats[i]), 2, LanguageFormats()));
    auto* chart = Child<TReadingChart>(f, "ChartQuery");
    EXPECT_EQ(Points(chart), 4);
    EXPECT_EQ(chart->Title().toStdString(),
              "SQM Graph of the night: " + FormatDateText(EncodeDate(2011, 3, 11), LanguageFormats()));

    const QString file = QString::fromStdString((dir.Path() / "night.txt").string());
    NextFile(f, file);
    f->ExportQuery();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(chooserSuffix, "txt");
    EXPECT_EQ(chooserFilters, "Text files (*.txt);;CSV files (*.csv)");
    const std::string text = testsupport::ReadFile(file.toStdString());
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "Reading date;SQM Value;SQM Offset;NELM;Sensor Temp");
    EXPECT_NE(text.find("\r\n" + FormatDateTimeText(EncodeDateTime(2011, 3, 11, 23, 0, 0), UserFormatSettings())),
              std::string::npos);
    EXPECT_LT(text.find(" 23.00.00;"), text.find(" 20.00.00;"));  // the grid's order

    // A chart is saved as the type chosen, bitmap or enhanced metafile.
    const QString png = QString::fromStdString((dir.Path() / "chart.png").string());
    NextFile(f, png);
    f->SaveChart(TSiteForm::TChart::Query);
    EXPECT_EQ(Boxes(), Lines{"error: Unsupported file type"});
    EXPECT_FALSE(std::filesystem::exists(png.toStdString()));
    EXPECT_EQ(chooserFilters, "Bitmaps (*.bmp);;Metafiles (*.wmf);;Enhanced Metafiles (*.emf)");
    EXPECT_EQ(chooserSuffix, "bmp");
    const QString bmp = QString::fromStdString((dir.Path() / "chart.BMP").string());
    NextFile(f, bmp);
    f->SaveChart(TSiteForm::TChart::Query);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_FALSE(QImage(bmp, "BMP").isNull());
    const QString emf = QString::fromStdString((dir.Path() / "realtime.emf").string());
    NextFile(f, emf);
    f->SaveChart(TSiteForm::TChart::RealTime);
    EXPECT_TRUE(Boxes().empty());
    const std::string bytes = testsupport::ReadFile(emf.toStdString());
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(40, 4), " EMF");  // the header's signature

    // "Ascending" runs the query again, oldest first.
    Child<QRadioButton>(f, "RadioGroup2_0")->click();
    EXPECT_EQ(Cell(grid, 0, 1), QLocale().toString(20.0, 'f', 2));
    // An interval shows its own controls and hides Previous / Next.
    Child<QRadioButton>(f, "RadioGroup1_1")->click();
    EXPECT_FALSE(Child<QPushButton>(f, "btnPrev")->isVisible());
    EXPECT_TRUE(Child<QDateEdit>(f, "DateEnd")->isVisible());
    EXPECT_EQ(grid->model()->rowCount(), 4);  // clicking a kind does not run it

    // Deleting during acquisition asks first and leaves the statistics as they were.
    Click(f, "RadioGroup1_0");
    Click(f, "btnStartReading");
    ASSERT_TRUE(f->Acquiring());
    f->RunLocalQuery();
    ASSERT_EQ(grid->model()->rowCount(), 4);
    grid->selectRow(1);  // 21:00, oldest first
    f->DeleteSelectedReading();
    EXPECT_EQ(Boxes(), Lines{"confirm: Delete the reading?\rATTENTION: Deletion can not be undone!"});
    EXPECT_EQ(Readings(id), 6);  // five and the one just taken
    Answer("yes");
    f->DeleteSelectedReading();
    EXPECT_EQ(Readings(id), 5);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM READINGS WHERE REA_SQMVALUE=21.5"), "0");  // the selected one
    EXPECT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(Points(chart), 3);
    EXPECT_EQ(Text(f, "lblStat0"), "4");
    Boxes();
    f->DeleteQueriedReadings();
    EXPECT_EQ(Boxes(), Lines{"confirm: Were selected 3 readings.\rDeletion can not be undone!\rProceed?"});
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_EQ(Readings(id), 2);
    EXPECT_TRUE(f->Acquiring());
    f->ExportQuery();
    EXPECT_EQ(Boxes(), Lines{"error: The query is empty: nothing to export"});
}

// The acquisition stores when the night starts and ends as times of day: the
// query grid shows them as times, wide enough to read, never as a date of 1899.
TEST_F(SiteReadings, AQueriedReadingShowsWhenItsNightStartsAndEndsAsTimesOfDay) {
    const int id = AddSite("Roof", sim.Port());
    TSiteForm* f = Open(id);
    Click(f, "btnStartReading");
    ASSERT_TRUE(f->Acquiring());
    ASSERT_EQ(Readings(id), 1);
    const TSQM& taken = *f->Acquisition().Station();
    ASSERT_LT(taken.AstroTwilight, 1.0) << "stored as a time of day";
    ShowPage(f, "tsDB");
    const DateTimeParts night = DecodeDateTime(NightDateOf(taken.DateTime));
    Child<QDateEdit>(f, "DateStart")->setDate(QDate(night.year, night.month, night.day));
    f->RunLocalQuery();
    auto* grid = Child<QTableView>(f, "gridQuery");
    ASSERT_EQ(grid->model()->rowCount(), 1);
    const struct {
        int column;
        const char* header;
        double stored;
    } columns[] = {{7, "Night starts", taken.AstroTwilight}, {8, "Night ends", taken.AstroDowning}};
    for (const auto& c : columns) {
        SCOPED_TRACE(c.header);
        EXPECT_EQ(Header(grid, c.column), c.header);
        const QString shown = Cell(grid, 0, c.column);
        const DateTimeParts t = DecodeDateTime(c.stored);
        // The hour (of 24 or of 12), minutes and seconds, whatever the locale puts around them.
        const QRegularExpression time(QStringLiteral("^(0?%1|0?%2)\\D%3\\D%4\\b")
                                          .arg(t.hour)
                                          .arg(t.hour % 12 == 0 ? 12 : t.hour % 12)
                                          .arg(t.minute, 2, 10, QLatin1Char('0'))
                                          .arg(t.second, 2, 10, QLatin1Char('0')));
        EXPECT_TRUE(time.match(shown).hasMatch()) << shown.toStdString();
        EXPECT_FALSE(shown.contains(QStringLiteral("1899"))) << shown.toStdString();
        EXPECT_GE(grid->columnWidth(c.column), grid->fontMetrics().horizontalAdvance(shown) + 8);
        EXPECT_GE(grid->columnWidth(c.column), grid->horizontalHeader()->fontMetrics().horizontalAdvance(c.header) + 8);
    }
}

// Pictures of each page, for looking at (KALO_SCREENSHOTS=folder).
TEST_F(SiteForm, PagesRenderForScreenshots) {
    const char* folder = getenv("KALO_SCREENSHOTS");
    if (!folder) GTEST_SKIP() << "KALO_SCREENSHOTS not set";
    // KALO_SCREENSHOT_LANG=it (or de): the pictures in that language.
    const char* lang = getenv("KALO_SCREENSHOT_LANG");
    if (lang) {
        std::filesystem::copy(KALO_LOCALE_DIR, dir.Path() / "Locale", std::filesystem::copy_options::recursive);
        SwitchLanguage(lang);
    }
    const int id = AddSite("Roof of the observatory", sim.Port());
    Exec("UPDATE SQMSITES SET SIT_ACQUIREMODE=2 WHERE SIT_ID=" + std::to_string(id));
    // A clear night's curve: dark sky rising to 21.4 and falling at dawn.
    const double night = NightDateOf(NowUtc());
    for (int m = 0; m < 24 * 60; m += 5) {
        const double t = night + 0.5 + m / 1440.0;
        const double h = m / 60.0 - 12;  // hours from midnight
        const double v = std::max(8.0, 21.4 - 0.04 * h * h * h * h / 10);
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
             "REA_STATE, REA_UPLOADED) VALUES ('" + FormatKeyTime(t) + std::to_string(id) + "', " + std::to_string(id) +
             ", '" + FormatSqlDateTime(t) + "', " + std::to_string(v) + ", -0.1, 8.5, " + (v < 12 ? "-1" : "0") +
             ", 1)");
    }
    TSiteForm* f = Open(id);
    f->resize(960, 640);
    Click(f, "btnStartReading");
    auto* tabs = Child<QTabWidget>(f, "PageControl1");
    Child<QDateEdit>(f, "DateStart")->setDate(ToQDateTime(night).date());
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        if (tabs->currentWidget()->objectName() == "tsGrafico") Child<QRadioButton>(f, "rbShow0")->click();
        if (tabs->currentWidget()->objectName() == "tsDB") f->RunLocalQuery();
        QTest::qWait(20);
        f->grab().save(QString::fromLatin1(folder) + QStringLiteral("/site-page%1.png").arg(i));
    }
    if (lang) SwitchLanguage("");
    tabs->setCurrentWidget(Child<QWidget>(f, "tsDB"));
    auto* sub = Child<QTabWidget>(f, "PageControl2");
    for (int i = 1; i < sub->count(); ++i) {
        sub->setCurrentIndex(i);
        QTest::qWait(20);
        f->grab().save(QString::fromLatin1(folder) + QStringLiteral("/site-query%1.png").arg(i));
    }
}
}  // namespace
