// The shared widgets (status light, button bar, field binder) and the two
// "Configuration" dialogs over a real copy of the delivered database. Only
// the ping is faked; message boxes go to a log file.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <tuple>
#include <QSignalSpy>
#include <QTableView>

#include "gui/buttonframe.h"
#include "core/station/dataset.h"
#include "gui/dialogs.h"
#include "gui/fieldbinding.h"
#include "programs/desktop/gui_test_support.h"
#include "gui/guiports.h"
#include "programs/desktop/ntpserversform.h"
#include "gui/semaforo.h"
#include "programs/desktop/settingsform.h"

namespace {

using guitest::Lines;
using guitest::WhenModal;

struct ScriptedPinger : IPinger {
    int reply = 8;
    std::string failure;  // thrown when not empty
    std::vector<std::pair<std::string, int>> calls;
    int Ping(const std::string& host, int timeoutMs) override {
        calls.emplace_back(host, timeoutMs);
        if (!failure.empty()) throw PingError(failure);
        return reply;
    }
};

void Activate(QWidget& w) {
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

class WidgetsTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        auto p = std::make_unique<ScriptedPinger>();
        pinger = p.get();
        data.SetTimeServices(std::move(p), nullptr);
    }
    Lines Servers() { return Committed("SELECT NTP_HOST, NTP_TIMEOUT, NTP_ORDER FROM NTPSERVERS ORDER BY NTP_HOST"); }
    std::string Settings() {
        return Scalar("SELECT SET_USEINTERTETTIME, SET_SYNCLOCK, SET_SYNCFREQ, SET_UPLOADDATA, SET_UPLOADMODE "
                      "FROM SETTINGS WHERE SET_ID=1");
    }

    ScriptedPinger* pinger = nullptr;
};

const Lines kPristineServers = {"time-a-g.nist.gov|3000|1", "time-b-g.nist.gov|3000|2",
                                                   "time-c-g.nist.gov|3000|3", "time-d-g.nist.gov|3000|4"};

// ---------------------------------------------------------------- error box

TEST_F(WidgetsTest, GuardedShowsAnErrorAfterItsPrefixEndsQuietlyOnAnAbortAndLetsOtherThrowsThrough) {
    int ran = 0;
    EXPECT_TRUE(dialogs::Guarded(nullptr, [&] { ++ran; }));
    EXPECT_FALSE(dialogs::Guarded(
        nullptr, [] { throw std::runtime_error("disk full"); }, QStringLiteral("An error occurred: ")));
    EXPECT_FALSE(dialogs::Guarded(nullptr, [] { throw std::runtime_error("no prefix"); }));
    // An abort's box was shown where it was raised.
    EXPECT_FALSE(dialogs::Guarded(nullptr, [] { throw TAbort(); }));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(Boxes(), (Lines{"error: An error occurred: disk full", "error: no prefix"}));
    EXPECT_THROW(dialogs::Guarded(nullptr, [] { throw 42; }), int);
}

// ---------------------------------------------------------------- status light

// What the light shows, top to bottom: 'o' a lamp on in its colour, '.' a dark one.
std::string Lamps(TSemaforo& light) {
    const QImage shot = light.grab().toImage();
    std::string lamps;
    for (int lamp = 0; lamp < 3; ++lamp) {
        const QColor c = shot.pixelColor(TSemaforo::LightCentre(lamp));
        lamps += c == TSemaforo::OnColour(lamp) ? 'o' : c == TSemaforo::OffColour(lamp) ? '.' : '?';
    }
    return lamps;
}

TEST(StatusLight, ShowsOneLampAtATimeAndBlinksGreenEvery500MsUntilAnotherShow) {
    testsupport::App();
    TSemaforo light;
    EXPECT_EQ(light.Current(), TSemaforo::State::Off);
    EXPECT_EQ(Lamps(light), "...");
    using S = TSemaforo::State;
    for (const auto& [show, state, lamps] : {std::tuple{&TSemaforo::ShowRed, S::Red, "o.."},
                                             std::tuple{&TSemaforo::ShowYellow, S::Yellow, ".o."},
                                             std::tuple{&TSemaforo::ShowGreen, S::Green, "..o"}}) {
        (light.*show)();
        EXPECT_EQ(light.Current(), state);
        EXPECT_EQ(Lamps(light), lamps) << int(state);
    }

    light.ShowYellow();
    light.ShowBlinking();
    EXPECT_EQ(light.Current(), S::Blinking);
    EXPECT_TRUE(light.Blinking());
    EXPECT_EQ(Lamps(light), "..o");
    QMetaObject::invokeMethod(&light.Timer(), "timeout");
    EXPECT_EQ(Lamps(light), "...");
    QMetaObject::invokeMethod(&light.Timer(), "timeout");
    EXPECT_EQ(Lamps(light), "..o");

    // On the real clock, from a fresh start: no change within 300 ms, one by 1300.
    light.ShowGreen();
    light.ShowBlinking();
    QSignalSpy ticks(&light.Timer(), &QTimer::timeout);
    QTest::qWait(300);
    EXPECT_EQ(ticks.count(), 0);
    EXPECT_TRUE(ticks.wait(1000));
    EXPECT_EQ(Lamps(light), "...");
    light.ShowBlinking();  // again while blinking: goes on as it was
    EXPECT_TRUE(light.Blinking());
    EXPECT_EQ(Lamps(light), "...");

    light.ShowRed();
    EXPECT_FALSE(light.Blinking());
    EXPECT_EQ(light.Current(), S::Red);
    QTest::qWait(700);
    EXPECT_EQ(Lamps(light), "o..");
}

// A site's state on the site window's light: the lamps it lights, and
// whether the green one blinks (every 500 ms, as above).
TEST(StatusLight, EachSiteStateLightsItsLamp) {
    testsupport::App();
    const struct {
        TSiteState state;
        const char* lamps;
        bool blinking;
    } cases[] = {
        {TSiteState::Stopped, "o..", false},      {TSiteState::OutsideWindow, "..o", true},
        {TSiteState::NightStored, "..o", false},  {TSiteState::DaylightStored, "..o", true},
        {TSiteState::Skipped, ".o.", false},      {TSiteState::Failed, ".o.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SiteStateName(c.state));
        TSemaforo light;
        TSemaforoLight port;
        port.light = &light;
        port.Show(TSiteState::Stopped);  // as a window opens
        port.Show(c.state);
        EXPECT_EQ(Lamps(light), c.lamps);
        EXPECT_EQ(light.Blinking(), c.blinking);
        if (c.blinking) {
            QMetaObject::invokeMethod(&light.Timer(), "timeout");
            EXPECT_EQ(Lamps(light), "...");
            EXPECT_EQ(light.Timer().interval(), 500);
        }
    }
}

// ---------------------------------------------------------------- button bar

class ButtonFrameTest : public WidgetsTest {
protected:
    struct Enabled {
        bool edit, save, cancel;
        bool operator==(const Enabled&) const = default;
    };
    static Enabled Buttons(const TButtonFrame& f) {
        return {f.btnEdit->isEnabled(), f.btnSave->isEnabled(), f.btnCancelUpdate->isEnabled()};
    }
    // A dataset of its own over the time servers, in the data module's transaction.
    TDataSet ds{data.trKALO, "select * from NTPSERVERS order by NTP_ORDER", "NTPSERVERS", "NTP_HOST"};
};

TEST_F(ButtonFrameTest, EnablesEditWhileBrowsingAndSaveCancelWhileEditingOrInserting) {
    int earlierHandler = 0;
    ds.OnStateChange = [&] { ++earlierHandler; };
    TButtonFrame frame;
    frame.SetDataSet(&ds);
    EXPECT_EQ(Buttons(frame), (Enabled{false, false, false}));  // closed
    ds.Open();
    EXPECT_EQ(Buttons(frame), (Enabled{true, false, false}));
    ds.SetField("NTP_TIMEOUT", int64_t{1500});  // a field change edits by itself
    EXPECT_EQ(Buttons(frame), (Enabled{false, true, true}));
    frame.btnCancelUpdate->click();
    EXPECT_EQ(ds.GetState(), TDataSet::State::Browse);
    EXPECT_EQ(Buttons(frame), (Enabled{true, false, false}));
    ds.Insert();
    EXPECT_EQ(Buttons(frame), (Enabled{false, true, true}));
    ds.Cancel();
    frame.btnEdit->click();
    EXPECT_EQ(ds.GetState(), TDataSet::State::Edit);
    EXPECT_EQ(Buttons(frame), (Enabled{false, true, true}));
    ds.Close();
    EXPECT_EQ(Buttons(frame), (Enabled{false, false, false}));
    EXPECT_EQ(earlierHandler, 7);  // the bar chained itself behind it
    EXPECT_EQ(Messages(), "");
}

TEST_F(ButtonFrameTest, OkAndSaveCommitUnlessRefusedAndCancelAndCancelUpdateRollBack) {
    ds.Open();
    TButtonFrame frame;
    frame.SetDataSet(&ds);
    QSignalSpy ok(&frame, &TButtonFrame::okClicked), cancel(&frame, &TButtonFrame::cancelClicked);
    frame.btnOK->click();  // nothing to save
    EXPECT_EQ(ok.count(), 1);
    ds.SetField("NTP_ORDER", int64_t{7});
    frame.btnOK->click();
    EXPECT_EQ(ok.count(), 2);
    EXPECT_EQ(Servers().at(0), "time-a-g.nist.gov|3000|7");
    ds.SetField("NTP_ORDER", int64_t{8});
    frame.btnCancel->click();
    EXPECT_EQ(cancel.count(), 1);
    EXPECT_EQ(ds.GetState(), TDataSet::State::Browse);
    EXPECT_EQ(ds.AsInteger("NTP_ORDER"), 7);
    EXPECT_EQ(Servers().at(0), "time-a-g.nist.gov|3000|7");

    // A refusal is shown (a TAbort silently: its handler has said what it had
    // to), keeps the row in edit and the window open.
    ds.BeforePost = [] { throw std::runtime_error("Please note, you cannot specify a range of time less than 1 minute"); };
    ds.SetField("NTP_TIMEOUT", int64_t{1234});
    frame.btnOK->click();
    EXPECT_EQ(ok.count(), 2);
    EXPECT_EQ(ds.GetState(), TDataSet::State::Edit);
    EXPECT_EQ(Buttons(frame), (Enabled{false, true, true}));
    EXPECT_EQ(Messages(), "error: Please note, you cannot specify a range of time less than 1 minute\n");
    ClearMessages();
    ds.BeforePost = [] { throw TAbort(); };
    EXPECT_FALSE(frame.Save());
    EXPECT_EQ(ds.GetState(), TDataSet::State::Edit);
    ds.BeforePost = nullptr;
    frame.btnSave->click();
    EXPECT_EQ(ds.GetState(), TDataSet::State::Browse);
    EXPECT_EQ(Servers().at(0), "time-a-g.nist.gov|1234|7");

    // Posted but not committed, then "Cancel update": the rollback takes it back too.
    ds.SetField("NTP_TIMEOUT", int64_t{999});
    ds.Post();
    ds.SetField("NTP_ORDER", int64_t{9});
    frame.btnCancelUpdate->click();
    EXPECT_EQ(ds.AsInteger("NTP_ORDER"), 7);
    EXPECT_EQ(Rows(data.trKALO, "SELECT NTP_TIMEOUT FROM NTPSERVERS WHERE NTP_HOST='time-a-g.nist.gov'"),
              std::vector<std::string>{"1234"});
    EXPECT_EQ(Servers().at(0), "time-a-g.nist.gov|1234|7");
    EXPECT_EQ(Messages(), "");
}

TEST_F(ButtonFrameTest, TheBarForgetsADatasetWhenItIsGoneOrReplaced) {
    ds.Open();
    TDataSet other(data.trKALO, "select * from SETTINGS where SET_ID=1", "SETTINGS", "SET_ID");
    other.Open();
    {
        TButtonFrame frame;
        frame.SetDataSet(&ds);
        frame.SetDataSet(&other);
        ds.Edit();  // no longer the bar's
        EXPECT_EQ(Buttons(frame), (Enabled{true, false, false}));
        ds.Cancel();
    }
    ds.Edit();  // the bar is gone: the chained handler must not reach it
    ds.Cancel();
    TButtonFrame again;
    again.SetDataSet(&ds);  // drops the dead link on top
    ds.Edit();
    EXPECT_EQ(Buttons(again), (Enabled{false, true, true}));
}

// ---------------------------------------------------------------- field binder

class FieldBinderTest : public WidgetsTest {
protected:
    void SetUp() override {
        WidgetsTest::SetUp();
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_CODE, SIT_SQMPORT, SIT_OFFSET, SIT_STARTTIME, "
             "SIT_LATIT, SIT_AUTOSTART, SIT_ACQUIREMODE, SIT_INTERVAL) VALUES "
             "(1, 'Monte Baldo', 'AB12', 10001, 0.5, '1899-12-30 18:30:00', 45.75, 1, 2, 5)");
        ds.SetParam("ID_SITO", int64_t{1});
        ds.Open();
        auto* row = new QHBoxLayout(&window);
        for (QWidget* w : std::initializer_list<QWidget*>{&name, &port, &offset, &latitude, &start, &autostart,
                                                          &continuous, &timed, &byNight, &code, &mode})
            row->addWidget(w);
        methods.addButton(&continuous, 0);
        methods.addButton(&timed, 1);
        methods.addButton(&byNight, 2);
        mode.addItems({"0", "1", "2", "3"});
        binder.BindLineEdit(&name, "SIT_NAME", TFieldBinder::Kind::Text, {.MaxLength = 255});
        binder.BindLineEdit(&port, "SIT_SQMPORT", TFieldBinder::Kind::Integer);
        binder.BindLineEdit(&offset, "SIT_OFFSET", TFieldBinder::Kind::Double, {.Decimals = 2});
        binder.BindLineEdit(&latitude, "SIT_LATIT", TFieldBinder::Kind::Double, {.Decimals = 4});
        binder.BindLineEdit(&start, "SIT_STARTTIME", TFieldBinder::Kind::TimeOfDay);
        binder.BindCheckBox(&autostart, "SIT_AUTOSTART");
        binder.BindRadioGroup(&methods, "SIT_ACQUIREMODE");
        binder.BindLabel(&code, "SIT_CODE");
        binder.BindComboBox(&mode, "SIT_ACQUIREMODE");
    }
    // Replaces the text as a user does: select all, then type.
    void Type(QLineEdit& e, const QString& text) {
        e.selectAll();
        if (text.isEmpty())
            QTest::keyClick(&e, Qt::Key_Delete);
        else
            QTest::keyClicks(&e, text);
    }
    std::string Stored(const std::string& columns) {
        return Committed("SELECT " + columns + " FROM SQMSITES WHERE SIT_ID=1").at(0);
    }
    // What the controls show: the texts, the box ticked, the radio and combo choices.
    std::string Shown() {
        return QStringList{name.text(), port.text(), offset.text(), latitude.text(), start.text(),
                           QString::number(autostart.isChecked()), QString::number(methods.checkedId()),
                           code.text().trimmed(), QString::number(mode.currentIndex())}
            .join('|')
            .toStdString();
    }
    static constexpr const char* kRow = "Monte Baldo|10001|0.50|45.7500|18.30|1|2|AB12|2";

    TDataSet ds{data.trKALO, "select * from SQMSITES where SIT_ID=:ID_SITO", "SQMSITES", "SIT_ID"};
    QWidget window;
    QLineEdit name, port, offset, latitude, start;
    QCheckBox autostart;
    QRadioButton continuous, timed, byNight;
    QButtonGroup methods;
    QLabel code;
    QComboBox mode;
    TFieldBinder binder{ds};
};

TEST_F(FieldBinderTest, ShowsTheRowInEachFieldsFormatFollowsTheDatasetsEventsAndPutsBackRefusedEdits) {
    EXPECT_EQ(Shown(), kRow);
    EXPECT_EQ(ds.GetState(), TDataSet::State::Browse);  // showing edits nothing
    ds.SetField("SIT_CODE", std::string("ZZ99"));  // as the credentials dialog does
    EXPECT_EQ(code.text(), "ZZ99");
    Type(name, "Changed");
    ds.Cancel();
    EXPECT_EQ(Shown(), kRow);
    ds.OnNewRecord = [this] { ds.SetField("SIT_SQMPORT", int64_t{10001}); };
    ds.Insert();
    EXPECT_EQ(Shown(), "|10001||||0|-1||-1");
    ds.Cancel();
    EXPECT_EQ(Shown(), kRow);

    // A refused edit or a read-only binding puts the stored value back; only real errors are shown.
    ds.BeforeEdit = [] { throw TAbort(); };  // as a site window refuses while it reads
    Type(name, "Other");
    autostart.click();
    continuous.click();
    EXPECT_EQ(Shown(), kRow);
    EXPECT_EQ(Messages(), "");
    ds.BeforeEdit = [] { throw std::runtime_error("Locked by another user"); };
    Type(port, "1");
    EXPECT_EQ(Shown(), kRow);
    EXPECT_EQ(Messages(), "error: Locked by another user\n");
    ds.BeforeEdit = nullptr;

    binder.SetReadOnly(&name, true);
    binder.SetReadOnly(&autostart, true);
    Type(name, "Other");
    autostart.click();  // even a click from code is put back
    EXPECT_EQ(Shown(), kRow);
    EXPECT_EQ(ds.GetState(), TDataSet::State::Browse);
    binder.SetReadOnly(&name, false);
    Type(name, "Other");
    EXPECT_EQ(ds.AsString("SIT_NAME"), "Other");
    ds.Cancel();

    // Another row (moves raise no event): Refresh; NULLs show empty.
    Exec("UPDATE SQMSITES SET SIT_OFFSET=NULL, SIT_STARTTIME=NULL, SIT_ACQUIREMODE=NULL, SIT_AUTOSTART=0 "
         "WHERE SIT_ID=1");
    ds.Refresh();
    EXPECT_EQ(Shown(), "Monte Baldo|10001||45.7500||0|-1|AB12|-1");
    EXPECT_EQ(ds.GetState(), TDataSet::State::Browse);
    ds.Close();
    EXPECT_EQ(name.text(), "");
}

TEST_F(FieldBinderTest, TypingWritesTheFieldAndStartsTheEditAndThePostStoresIt) {
    Activate(window);
    offset.setFocus();
    Type(offset, "1,25");  // the comma of some keyboards is a decimal point too
    EXPECT_EQ(ds.GetState(), TDataSet::State::Edit);
    EXPECT_DOUBLE_EQ(ds.AsDouble("SIT_OFFSET"), 1.25);
    port.setFocus();  // leaving the field shows the stored value in its format
    EXPECT_EQ(offset.text(), "1.25");
    Type(port, "x");  // not a digit: the field refuses the key
    EXPECT_EQ(port.text(), "10001");
    Type(port, "10002");
    EXPECT_EQ(ds.AsInteger("SIT_SQMPORT"), 10002);
    latitude.setFocus();
    Type(latitude, "");
    EXPECT_TRUE(ds.IsNull("SIT_LATIT"));
    Type(latitude, "-");  // not a value yet: the row keeps NULL, leaving shows it
    EXPECT_TRUE(ds.IsNull("SIT_LATIT"));
    name.setFocus();
    EXPECT_EQ(latitude.text(), "");
    Type(name, "Monte Baldo 2");
    autostart.click();
    timed.click();
    EXPECT_EQ(mode.currentIndex(), 1);  // the other control of the same field follows

    // A time of day is edited as hh:mm in a mask, shown as hh.mm.
    start.setFocus();
    EXPECT_EQ(start.text(), "18:30");
    start.setCursorPosition(0);
    QTest::keyClicks(&start, "0615");
    EXPECT_EQ(start.displayText(), "06:15");
    EXPECT_NEAR(ds.AsDouble("SIT_STARTTIME"), EncodeTime(6, 15, 0), 1e-9);
    EXPECT_TRUE(std::holds_alternative<fb::DateTime>(ds.FieldValue("SIT_STARTTIME")));
    start.setCursorPosition(0);
    QTest::keyClicks(&start, "25");  // no hour 25: the row keeps 06:15
    EXPECT_NEAR(ds.AsDouble("SIT_STARTTIME"), EncodeTime(6, 15, 0), 1e-9);
    name.setFocus();
    EXPECT_EQ(start.text(), "06.15");

    ds.Post();
    data.trKALO.CommitRetaining();
    EXPECT_EQ(Stored("SIT_NAME, SIT_SQMPORT, SIT_OFFSET, SIT_LATIT, SIT_AUTOSTART, SIT_ACQUIREMODE"),
              "Monte Baldo 2|10002|1.25|NULL|0|1");
    EXPECT_NEAR(std::stod(Stored("SIT_STARTTIME")), EncodeTime(6, 15, 0), 1e-9);
    EXPECT_EQ(Messages(), "");
    EXPECT_EQ(TFieldBinder::Format(fb::DateTime{EncodeDateTime(2024, 1, 15, 23, 59, 0)},
                                   TFieldBinder::Kind::TimeOfDay, 0, false),
              "23.59");  // a stray date part is not a time
    EXPECT_FALSE(TFieldBinder::Parse("24:00", TFieldBinder::Kind::TimeOfDay));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(*TFieldBinder::Parse("__:__", TFieldBinder::Kind::TimeOfDay)));
}

TEST_F(FieldBinderTest, ControlsAndBinderMayGoInEitherOrder) {
    {
        auto edit = std::make_unique<QLineEdit>();
        TFieldBinder second(ds);
        second.BindLineEdit(edit.get(), "SIT_NAME");
        edit.reset();
        ds.SetField("SIT_NAME", std::string("x"));  // the binder skips the control that is gone
    }
    ds.SetField("SIT_NAME", std::string("y"));  // and the dataset skips the binder that is gone
    EXPECT_EQ(name.text(), "y");
}

// ---------------------------------------------------------------- settings dialog

class SettingsTest : public WidgetsTest {
protected:
    std::unique_ptr<TSettingsForm> Open() {
        data.tbSettings.Close();
        data.tbSettings.Open();
        return std::make_unique<TSettingsForm>(data);
    }
};

TEST_F(SettingsTest, InternetTimeAndUploadDecideWhatCanBeUsedAtOpenAndAtOnceOnClick) {
    Exec("UPDATE SETTINGS SET SET_USEINTERTETTIME=0, SET_UPLOADDATA=0, SET_DBVERSION='7.3'");
    auto form = Open();
    // The clock's three controls enabled or not, then the upload mode shown (+) or hidden (-).
    auto usable = [&f = *form] {
        return std::to_string(f.cbSyncClock->isEnabled()) + std::to_string(f.edSyncFreq->isEnabled()) +
               std::to_string(f.lblSyncFreq->isEnabled()) + (f.rgUploadMode->isHidden() ? "-" : "+");
    };
    EXPECT_EQ(form->txtDBVersion->text(), "7.3");
    EXPECT_EQ(usable(), "000-");
    form->cbUseInternetTime->click();
    EXPECT_EQ(usable(), "111-");
    EXPECT_EQ(data.tbSettings.GetState(), TDataSet::State::Edit);
    EXPECT_TRUE(form->ButtonFrame->btnSave->isEnabled());
    form->cbUploadData->click();
    EXPECT_EQ(usable(), "111+");

    // "Cancel update" puts the row and with it the rules back.
    form->ButtonFrame->btnCancelUpdate->click();
    EXPECT_FALSE(form->cbUseInternetTime->isChecked());
    EXPECT_EQ(usable(), "000-");
    EXPECT_EQ(Settings(), "0|0|60|0|0");
}

TEST_F(SettingsTest, OkWithoutAChangeStoresNothingAfterOneTickStoresTheRowAndCancelOrEscapeDiscard) {
    using F = TSettingsForm&;
    const struct { std::function<void(F)> act; int result; const char* stored; } cases[] = {
        {[this](F f) {
             Exec("UPDATE SETTINGS SET SET_SYNCFREQ=77");  // someone else, after the dialog read the row
             f.ButtonFrame->btnOK->click();
         }, QDialog::Accepted, "1|0|77|1|0"},  // the dialog wrote nothing over it
        {[](F f) { f.cbSyncClock->click(); f.ButtonFrame->btnOK->click(); }, QDialog::Accepted, "1|1|77|1|0"},
        {[](F f) {
             f.edSyncFreq->selectAll(); QTest::keyClicks(f.edSyncFreq, "15"); f.rbManual->click();
             f.ButtonFrame->btnCancel->click();
         }, QDialog::Rejected, "1|1|77|1|0"},
        // Escape or the close button: the same as Cancel.
        {[](F f) { f.rbManual->click(); f.reject(); }, QDialog::Rejected, "1|1|77|1|0"},
    };
    for (const auto& c : cases) {
        auto form = Open();
        c.act(*form);
        EXPECT_EQ(form->result(), c.result) << c.stored;
        EXPECT_EQ(data.tbSettings.GetState(), TDataSet::State::Browse);
        EXPECT_EQ(Settings(), c.stored);
    }
    EXPECT_EQ(Messages(), "");
}

TEST_F(SettingsTest, ANegativeFrequencyIsRefusedOnOkWithTheSettingsRulesWordsAndTheDialogStays) {
    auto form = Open();
    form->show();
    form->edSyncFreq->selectAll();
    QTest::keyClicks(form->edSyncFreq, "-5");
    form->ButtonFrame->btnOK->click();
    EXPECT_EQ(Messages(), "error: During the readings synchronizes every (minutes) must be a whole number from 0 to "
                          "999999999, not -5\n");
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(data.tbSettings.GetState(), TDataSet::State::Edit);
    EXPECT_EQ(Settings(), "1|0|60|1|0");
    ClearMessages();
    form->edSyncFreq->selectAll();
    QTest::keyClicks(form->edSyncFreq, "5");
    form->ButtonFrame->btnOK->click();
    EXPECT_EQ(Messages(), "");
    EXPECT_EQ(Settings(), "1|0|5|1|0");
}

TEST_F(SettingsTest, TheSettingsCommandReadsTheRowAfreshAndLeavesItOpen) {
    data.tbSettings.Open();
    Exec("UPDATE SETTINGS SET SET_SYNCFREQ=33");
    QString shown;
    WhenModal<TSettingsForm>([&shown](TSettingsForm* f) {
        shown = f->edSyncFreq->text();
        f->edSyncFreq->selectAll();
        QTest::keyClicks(f->edSyncFreq, "45");
        f->ButtonFrame->btnOK->click();
    });
    TSettingsForm::ShowSettings(data, nullptr);
    EXPECT_EQ(shown, "33");
    EXPECT_TRUE(data.tbSettings.Active());
    EXPECT_EQ(Settings(), "1|0|45|1|0");
    EXPECT_EQ(data.tbSettings.AsInteger("SET_SYNCFREQ"), 45);
}

// ---------------------------------------------------------------- time-server dialog

class NTPServersTest : public WidgetsTest {
protected:
    TNTPServersModel& M(TNTPServersForm& f) { return *f.Model(); }
    void Set(TNTPServersForm& f, int row, int column, const QString& text) {
        ASSERT_TRUE(M(f).setData(M(f).index(row, column), text)) << Messages();
    }
    void AddServer(TNTPServersForm& f, const QString& host, const QString& timeout, const QString& order) {
        f.btnAdd->click();
        const int row = M(f).rowCount() - 1;
        Set(f, row, TNTPServersModel::Host, host);
        Set(f, row, TNTPServersModel::Timeout, timeout);
        Set(f, row, TNTPServersModel::Order, order);
    }
    // The grid's rows as Servers() gives the table's.
    Lines Shown(TNTPServersForm& f) {
        Lines rows;
        for (int r = 0; r < M(f).rowCount(); ++r)
            rows.push_back((M(f).index(r, 0).data().toString() + "|" + M(f).index(r, 1).data().toString() + "|" +
                            M(f).index(r, 2).data().toString())
                               .toStdString());
        return rows;
    }
};

TEST_F(NTPServersTest, CancelAsksFirstNoKeepsTheDialogWithTheNewRowAndYesLeavesTheTableAsItWas) {
    TNTPServersForm f(data);
    f.show();
    AddServer(f, "time.example.org", "2000", "5");
    f.Grid->setCurrentIndex(M(f).index(0, 0));  // leaving the new row posts it
    EXPECT_EQ(data.tbNTPServers.RecordCount(), 5);
    Answer("no");
    f.btnCancel->click();
    f.close();  // the window's close button asks the same
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(Shown(f).at(4), "time.example.org|2000|5");
    Answer("yes");
    f.btnCancel->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.result(), QDialog::Rejected);
    EXPECT_EQ(Messages(), "confirm: Cancel any changes?\nconfirm: Cancel any changes?\nconfirm: Cancel any changes?\n");
    EXPECT_EQ(Servers(), kPristineServers);
    // The shared dataset holds the table as it is, for the next time fetch.
    EXPECT_EQ(data.tbNTPServers.RecordCount(), 4);
    TNTPServersForm again(data);
    EXPECT_EQ(M(again).rowCount(), 4);
}

TEST_F(NTPServersTest, DeletedAndNewRowsWaitForOkWhichStoresThemAllAndDropsAnUntouchedNewRow) {
    TNTPServersForm f(data);
    f.show();
    EXPECT_EQ(Shown(f), kPristineServers);
    EXPECT_EQ(f.Grid->currentIndex().row(), 0);
    f.Grid->setCurrentIndex(M(f).index(2, 0));
    Answer("no");
    f.btnDelete->click();
    EXPECT_EQ(M(f).rowCount(), 4);
    Answer("yes");
    f.btnDelete->click();
    EXPECT_EQ(Messages(), "confirm: Delete record?\nconfirm: Delete record?\n");
    const Lines kept{kPristineServers[0], kPristineServers[1], kPristineServers[3]};
    EXPECT_EQ(Shown(f), kept);
    AddServer(f, "time.example.org", "2000", "5");
    f.btnAdd->click();  // left untouched, as a data grid drops it
    EXPECT_EQ(M(f).headerData(4, Qt::Vertical, Qt::DisplayRole).toString(), "*");
    Lines shown = kept;
    shown.push_back("time.example.org|2000|5");
    shown.push_back("||");
    EXPECT_EQ(Shown(f), shown);  // the rows above keep showing while the new one is open
    EXPECT_EQ(Servers(), kPristineServers);  // still in the open transaction
    f.btnOK->click();
    EXPECT_EQ(f.result(), QDialog::Accepted);
    shown.pop_back();
    EXPECT_EQ(Servers(), shown);
}

TEST_F(NTPServersTest, TheGridIsEditedWithTheKeyboardAndLeavingARowPostsIt) {
    TNTPServersForm f(data);
    Activate(f);
    f.Grid->setFocus();
    f.Grid->setCurrentIndex(M(f).index(1, TNTPServersModel::Timeout));
    QTest::keyClick(f.Grid, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "25x00");  // digits only
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();  // the view hands the text over in a queued call
    EXPECT_EQ(data.tbNTPServers.GetState(), TDataSet::State::Edit);
    EXPECT_EQ(M(f).headerData(1, Qt::Vertical, Qt::DisplayRole).toString(), "\u270E");
    QTest::keyClick(f.Grid, Qt::Key_Down);
    EXPECT_EQ(data.tbNTPServers.GetState(), TDataSet::State::Browse);
    EXPECT_EQ(data.tbNTPServers.RecNo(), 2);
    EXPECT_EQ(M(f).index(1, TNTPServersModel::Timeout).data().toString(), "2500");

    QTest::keyClick(f.Grid, Qt::Key_Insert);  // a new row, its host cell open for typing
    editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "time.example.org");
    QTest::keyClick(editor, Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(data.tbNTPServers.GetState(), TDataSet::State::Insert);
    f.btnOK->click();
    EXPECT_EQ(f.result(), QDialog::Accepted);
    EXPECT_EQ(Servers(), (Lines{"time-a-g.nist.gov|3000|1", "time-b-g.nist.gov|2500|2",
                                                   "time-c-g.nist.gov|3000|3", "time-d-g.nist.gov|3000|4",
                                                   "time.example.org|NULL|NULL"}));
    EXPECT_EQ(Messages(), "");
}

TEST_F(NTPServersTest, CheckConnectionPingsTheCurrentRowAndTellsWhatCameBack) {
    TNTPServersForm f(data);
    f.show();
    Set(f, 2, TNTPServersModel::Timeout, "750");
    using Call = std::pair<std::string, int>;
    const struct { int row, reply; const char* failure; Call call; const char* message; } cases[] = {
        {2, 0, "", {"time-c-g.nist.gov", 750}, "error: Host time-c-g.nist.gov  unreachable\n"},
        {0, 8, "", {"time-a-g.nist.gov", 3000}, "information: Connection with the server time-a-g.nist.gov done\n"},
        {0, 8, "Host not found: time-a-g.nist.gov", {"time-a-g.nist.gov", 3000}, "error: Host not found: time-a-g.nist.gov\n"},
    };
    for (const auto& c : cases) {
        f.Grid->setCurrentIndex(M(f).index(c.row, 1));
        pinger->reply = c.reply;
        pinger->failure = c.failure;
        ClearMessages();
        f.btnCheckConnection->click();
        // The echo comes back off the dialog's thread.
        for (int waited = 0; waited < 10000 && f.Pinging(); waited += 10) QTest::qWait(10);
        EXPECT_EQ(pinger->calls.back(), c.call);
        EXPECT_EQ(Messages(), c.message);
    }
    EXPECT_EQ(pinger->calls.size(), 3u);
    EXPECT_TRUE(f.isVisible());
}

TEST_F(NTPServersTest, ARefusedRowOnOkIsShownEndsTheDialogAndIsNotStoredWhileTheEditBeforeItWaits) {
    {
        TNTPServersForm f(data);
        f.show();
        Set(f, 0, TNTPServersModel::Timeout, "1000");  // posted when the new row is added
        AddServer(f, "time-b-g.nist.gov", "2000", "5");
        f.btnOK->click();
        EXPECT_FALSE(f.isVisible());
        EXPECT_EQ(f.result(), QDialog::Rejected);
        const std::string m = Messages();
        EXPECT_EQ(m.rfind("error: An error occurred: ", 0), 0u) << m;
        EXPECT_NE(m.find("PK_NTPSERVERS"), std::string::npos) << m;
        EXPECT_EQ(Servers(), kPristineServers);
        EXPECT_EQ(data.tbNTPServers.GetState(), TDataSet::State::Browse);
        EXPECT_EQ(data.tbNTPServers.RecordCount(), 4);
    }
    TNTPServersForm f(data);  // the edit before it waits uncommitted, and a later OK commits it
    EXPECT_EQ(M(f).index(0, TNTPServersModel::Timeout).data().toString(), "1000");
    f.btnOK->click();
    EXPECT_EQ(Servers().at(0), "time-a-g.nist.gov|1000|1");
}

TEST_F(NTPServersTest, AHostWithABlankOrATimeoutOutOfRangeIsRefusedOnOkWithTheTimeServerRulesWords) {
    for (const auto& [host, timeout, refusal] : std::vector<std::tuple<QString, QString, std::string>>{
             {"my ntp", "2000", "a host name has no blanks: 'my ntp'"},
             {"ntp.example", "0", "Connection timeout ms must be a whole number from 1 to 60000, not 0"}}) {
        TNTPServersForm f(data);
        f.show();
        AddServer(f, host, timeout, "5");
        f.btnOK->click();
        EXPECT_EQ(f.result(), QDialog::Rejected);
        EXPECT_EQ(Messages(), "error: An error occurred: " + refusal + "\n");
        ClearMessages();
        EXPECT_EQ(Servers(), kPristineServers);
    }
}

TEST_F(NTPServersTest, TheCommandShowsTheDialogModallyItFreesItselfAndItsPlacementComesBackNextTime) {
    QPointer<TNTPServersForm> shown;
    WhenModal<TNTPServersForm>([&shown](TNTPServersForm* f) {
        shown = f;
        f->resize(700, 420);
        f->Grid->setColumnWidth(0, 301);
        f->btnOK->click();
    });
    TNTPServersForm::ShowNTPServers(data, nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(shown.isNull());
    const QString ini = QString::fromStdString(dir.Str() + "/WinSetup/NTPServers.ini");
    ASSERT_TRUE(QFileInfo::exists(ini));
    TNTPServersForm again(data);
    EXPECT_EQ(again.PlacementFile(), ini);
    EXPECT_EQ(again.size(), QSize(700, 420));
    EXPECT_EQ(again.Grid->columnWidth(0), 301);
}

// ---------------------------------------------------------------- looks

// Every caption gets the room it asks for (the button bar's inside the
// settings dialog); with KALO_SHOT_DIR set the windows are also saved as
// pictures to look at.
void ExpectNothingClipped(QWidget& w, const char* shot) {
    w.show();
    QTest::qWait(50);
    for (QWidget* c : w.findChildren<QWidget*>()) {
        if (!c->isVisible()) continue;
        if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLabel*>(c)) {
            EXPECT_GE(c->width(), c->sizeHint().width()) << shot << ": " << c->objectName().toStdString() << " \""
                                                         << c->property("text").toString().toStdString() << "\"";
        }
        EXPECT_TRUE(w.rect().contains(c->mapTo(&w, c->rect().bottomRight()))) << shot << ": "
                                                                               << c->objectName().toStdString();
    }
    if (const char* dir = std::getenv("KALO_SHOT_DIR"))
        w.grab().save(QString::fromLocal8Bit(dir) + "/shot-" + shot + ".png");
}

TEST_F(WidgetsTest, TheWindowsShowEveryCaptionInFull) {
    data.tbSettings.Open();
    TSettingsForm settings(data);
    ExpectNothingClipped(settings, "settings");
    settings.cbUseInternetTime->click();
    settings.cbUploadData->click();
    ExpectNothingClipped(settings, "settings-changed");
    EXPECT_EQ(settings.size(), settings.sizeHint());  // fixed: no jump when the choice hides
    settings.ButtonFrame->CancelUpdate();

    TNTPServersForm ntp(data);
    ExpectNothingClipped(ntp, "ntpservers");
    ntp.Model()->setData(ntp.Model()->index(1, TNTPServersModel::Timeout), "2500");
    ExpectNothingClipped(ntp, "ntpservers-edit");
    ntp.btnAdd->click();
    ExpectNothingClipped(ntp, "ntpservers-new");
    ntp.Model()->CancelPending();
}

}  // namespace
