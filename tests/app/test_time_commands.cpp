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
#include "qtsupport.h"
#include "testsupport.h"

namespace {

using timeserver::Reply;

struct AnsweringPinger : IPinger {
    int Ping(const std::string&, int) override { return 8; }
};
struct RecordingClock : IClockSetter {
    bool* allow;
    std::vector<double>* set;
    RecordingClock(bool* a, std::vector<double>* s) : allow(a), set(s) {}
    bool SetClockUtc(double utc) override {
        if (*allow) set->push_back(utc);
        return *allow;
    }
};

class TimeCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
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
    void UseServer(std::vector<Reply> script) {
        server.Start(std::move(script));
        data.TimePort = server.Port();
        data.SetTimeServices(std::make_unique<AnsweringPinger>(), std::make_unique<RecordingClock>(&clockAllowed, &clockSets));
    }
    std::string Messages() { return testsupport::ReadFile(log); }

    testsupport::TempDir dir;
    std::string savedTz, log;
    TData data;
    timeserver::Rfc868Server server;
    std::vector<double> clockSets;
    bool clockAllowed = true;
};

// An hour ahead of this machine's clock: a time that can be now.
const uint32_t kHourAhead = timeserver::CurrentSeconds() + 3600;

TEST_F(TimeCommandsTest, TheTableIsReadAgainOnEveryCallAndTheOffsetLeavesTheClockAlone) {
    UseServer({Reply{.seconds = kHourAhead}});
    double offset = 12345;
    EXPECT_FALSE(data.GetTimeOffset(offset));  // empty table: no traffic at all
    EXPECT_EQ(offset, 12345);
    EXPECT_EQ(server.Accepted(), 0);
    Servers({"127.0.0.1"});
    ASSERT_TRUE(data.GetTimeOffset(offset));
    // Internet time in the PC's zone minus the PC clock.
    const double expected = UtcToLocalTime(Rfc868ToUtc(kHourAhead, 0)) - NowLocal();
    EXPECT_NEAR(offset, expected, 2.0 / 86400);
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_TRUE(clockSets.empty());
}

TEST_F(TimeCommandsTest, ShowInternetTimeShowsTheServersTimeInLocalTimeOrNothingWhenNoServerAnswers) {
    Servers({"127.0.0.1"});
    UseServer({Reply{.seconds = kHourAhead}, Reply{.kind = Reply::Kind::Never}});
    TMainForm form(QStringList{"kalosqm", "noautoplay"});
    form.mnuShowInternetTimeClick();
    constexpr qint64 kSeconds1900To1970 = 2208988800;
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(kHourAhead - kSeconds1900To1970, QTimeZone::utc());
    const QDateTime local = utc.toTimeZone(QTimeZone("Europe/Rome"));
    const QLocale l = QLocale::system();
    const QString shown =
        l.toString(local.date(), QLocale::ShortFormat) + " " + l.toString(local.time(), QLocale::LongFormat);
    EXPECT_EQ(QString::fromStdString(Messages()), "information: " + shown + "\n");
    form.mnuShowInternetTimeClick();
    EXPECT_EQ(QString::fromStdString(Messages()), "information: " + shown + "\n");
    EXPECT_EQ(server.Accepted(), 2);
}

TEST_F(TimeCommandsTest, SyncronizeAsksFirstFailsWhenTheClockMayNotBeSetAndOtherwiseSetsItFromASecondRequest) {
    Servers({"127.0.0.1"});
    UseServer({Reply{.seconds = kHourAhead}, Reply{.seconds = kHourAhead + 5}, Reply{.seconds = kHourAhead},
               Reply{.seconds = kHourAhead + 5}});
    TMainForm form(QStringList{"kalosqm", "noautoplay"});
    setenv("KALOSQM_MESSAGE_ANSWER", "no", 1);
    form.mnuSyncClockClick();
    EXPECT_EQ(server.Accepted(), 0);
    setenv("KALOSQM_MESSAGE_ANSWER", "yes", 1);
    clockAllowed = false;
    form.mnuSyncClockClick();
    const std::string question =
        "confirm: Syncronize the PC clock with the Internet time?\nOn Linux it is necessary to start the software "
        "as administrator (root) or with the CAP_SYS_TIME capability\n";
    EXPECT_EQ(Messages(), question + question + "error: Impossible to perform the action\n");
    EXPECT_TRUE(clockSets.empty());

    clockAllowed = true;
    form.mnuSyncClockClick();
    EXPECT_EQ(Messages(), question + question + "error: Impossible to perform the action\n" + question +
                              "information: Done\n");
    ASSERT_EQ(clockSets.size(), 1u);
    EXPECT_EQ(FormatSqlDateTime(clockSets[0]), FormatSqlDateTime(Rfc868ToUtc(kHourAhead + 5, 0)));
    EXPECT_EQ(server.Accepted(), 4);
}

}  // namespace
