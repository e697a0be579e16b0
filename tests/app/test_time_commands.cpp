// The data module's Internet-time operations over its time-server table, and
// the main window's two "Utilities" commands, against a real RFC 868 server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include "datamodule.h"
#include "mainform.h"
#include "myutils.h"
#include "rfc868server.h"
#include "testsupport.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "app_time_command_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

struct AnsweringPinger : IPinger {
    int Ping(const std::string&, int) override { return 8; }
};
struct RecordingClock : IClockSetter {
    bool allow = false;
    std::vector<double>* set;
    explicit RecordingClock(bool a, std::vector<double>* s) : allow(a), set(s) {}
    bool SetClockUtc(double utc) override {
        if (!allow) return false;
        set->push_back(utc);
        return true;
    }
};

class TimeCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        savedTz = std::getenv("TZ") ? std::getenv("TZ") : "";
        setenv("TZ", "Europe/Rome", 1);
        tzset();
        SetProgramDir(dir.Str());
        testsupport::CopyPristineDb(dir.Path());
        log = (dir.Path() / "messages.txt").string();
        setenv("KALOSQM_MESSAGE_LOG", log.c_str(), 1);
        ASSERT_TRUE(data.DataModuleCreate());
        Data = &data;
        Servers({});
    }
    void TearDown() override {
        Data = nullptr;
        unsetenv("KALOSQM_MESSAGE_LOG");
        unsetenv("KALOSQM_MESSAGE_ANSWER");
        if (savedTz.empty()) unsetenv("TZ"); else setenv("TZ", savedTz.c_str(), 1);
        tzset();
    }
    void Servers(const std::vector<std::string>& hosts) {
        fb::Query q(data.trKALO);
        q.SetSQL("DELETE FROM NTPSERVERS");
        q.ExecSQL();
        int order = 0;
        for (const auto& h : hosts) {
            q.SetSQL("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES (:H, :O, 1000)");
            q.SetString("H", h);
            q.SetInteger("O", ++order);
            q.ExecSQL();
        }
        data.trKALO.CommitRetaining();
    }
    void UseServer(std::vector<timeserver::Reply> script, bool allowClock) {
        server.Start(std::move(script));
        data.TimePort = server.Port();
        data.SetTimeServices(std::make_unique<AnsweringPinger>(), std::make_unique<RecordingClock>(allowClock, &clockSets));
    }
    std::string Messages() { return testsupport::ReadFile(log); }

    testsupport::TempDir dir;
    std::string savedTz, log;
    TData data;
    timeserver::Rfc868Server server;
    std::vector<double> clockSets;
};

constexpr uint32_t k20200601_113320 = 3800000000u;

TEST_F(TimeCommandsTest, TheTableIsReadAgainOnEveryCall) {
    UseServer({timeserver::Reply{timeserver::Reply::Kind::Answer, k20200601_113320, 0}}, false);
    double offset = 12345;
    EXPECT_FALSE(data.GetTimeOffset(offset));  // empty table: no traffic at all
    EXPECT_EQ(offset, 12345);
    EXPECT_EQ(server.Accepted(), 0);
    Servers({"127.0.0.1"});
    ASSERT_TRUE(data.GetTimeOffset(offset));
    const double expected = UtcToLocalTime(EncodeDateTime(2020, 6, 1, 11, 33, 20)) - NowLocal();
    EXPECT_NEAR(offset, expected, 2.0 / 86400);
    EXPECT_EQ(server.Accepted(), 1);
}

TEST_F(TimeCommandsTest, ShowInternetTimeShowsTheServersTimeInLocalTime) {
    Servers({"127.0.0.1"});
    UseServer({timeserver::Reply{timeserver::Reply::Kind::Answer, k20200601_113320, 0}}, false);
    TMainForm form(QStringList{"kalosqm", "noautoplay"});
    form.mnuShowInternetTimeClick();
    const QDateTime utc(QDate(2020, 6, 1), QTime(11, 33, 20), QTimeZone::utc());
    const QDateTime local = utc.toTimeZone(QTimeZone("Europe/Rome"));
    ASSERT_EQ(local.time(), QTime(13, 33, 20));
    const QLocale l = QLocale::system();
    const QString shown =
        l.toString(local.date(), QLocale::ShortFormat) + " " + l.toString(QTime(13, 33, 20), QLocale::LongFormat);
    EXPECT_EQ(QString::fromStdString(Messages()), "information: " + shown + "\n");
}

TEST_F(TimeCommandsTest, ShowInternetTimeShowsNothingWhenNoServerAnswers) {
    Servers({"127.0.0.1"});
    UseServer({timeserver::Reply{timeserver::Reply::Kind::Never, std::nullopt, 0}}, false);
    TMainForm form(QStringList{"kalosqm"});
    form.mnuShowInternetTimeClick();
    EXPECT_EQ(Messages(), "");
}

TEST_F(TimeCommandsTest, SyncronizeAsksFirstAndFailsWhenTheClockMayNotBeSet) {
    Servers({"127.0.0.1"});
    UseServer({timeserver::Reply{}}, false);
    TMainForm form(QStringList{"kalosqm"});
    setenv("KALOSQM_MESSAGE_ANSWER", "no", 1);
    form.mnuSyncClockClick();
    EXPECT_EQ(server.Accepted(), 0);
    setenv("KALOSQM_MESSAGE_ANSWER", "yes", 1);
    form.mnuSyncClockClick();
    const std::string question =
        "confirm: Syncronize the PC clock with the Internet time?\nOn Linux it is necessary to start the software "
        "as administrator (root) or with the CAP_SYS_TIME capability\n";
    EXPECT_EQ(Messages(), question + question + "error: Impossible to perform the action\n");
    EXPECT_TRUE(clockSets.empty());
}

TEST_F(TimeCommandsTest, SyncronizeSetsTheClockFromASecondRequest) {
    Servers({"127.0.0.1"});
    UseServer({timeserver::Reply{timeserver::Reply::Kind::Answer, k20200601_113320, 0},
               timeserver::Reply{timeserver::Reply::Kind::Answer, k20200601_113320 + 5, 0}},
              true);
    TMainForm form(QStringList{"kalosqm"});
    setenv("KALOSQM_MESSAGE_ANSWER", "yes", 1);
    form.mnuSyncClockClick();
    EXPECT_NE(Messages().find("information: Done\n"), std::string::npos) << Messages();
    ASSERT_EQ(clockSets.size(), 1u);
    EXPECT_EQ(FormatSqlDateTime(clockSets[0]), "2020-06-01 11:33:25");
    EXPECT_EQ(server.Accepted(), 2);
}

}  // namespace
