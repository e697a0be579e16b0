// The data module's Internet-time operations over its time-server table, and
// the main window's two "Utilities" commands, against a real RFC 868 server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QTest>
#include <QLocale>
#include <QTimeZone>

#include <memory>

#include "core/site/datamodule.h"
#include "core/site/sitecommons.h"
#include "programs/desktop/mainform.h"
#include "core/station/myutils.h"
#include "gui/dialogs.h"
#include "tools/timeserver/rfc868server.h"
#include "support/qtsupport.h"
#include "support/testsupport.h"
#include "support/time_test_support.h"

namespace {

using timeserver::Reply;

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
        boxes = std::make_unique<dialogs::TLoggedBoxes>(QString::fromStdString(log));
        dialogs::SetMessageBoxes(boxes.get());
        ASSERT_TRUE(data.DataModuleCreate());
        Servers({});
    }
    void TearDown() override {
        dialogs::SetMessageBoxes(nullptr);
        if (savedTz.empty()) unsetenv("TZ"); else setenv("TZ", savedTz.c_str(), 1);
        tzset();
    }
    void Servers(const std::vector<std::string>& rows) {
        fb::Query q(data.trKALO);
        for (const auto& sql : timetest::TimeServerRows(rows)) {
            q.SetSQL(sql);
            q.ExecSQL();
        }
        data.trKALO.CommitRetaining();
    }
    void UseServer(std::vector<Reply> script) {
        server.Start(std::move(script));
        data.TimePort = server.Port();
        auto recording = std::make_unique<timetest::RecordingClock>();
        clock = recording.get();
        data.SetTimeServices(std::make_unique<timetest::AnsweringPinger>(), std::move(recording));
    }
    std::string Messages() { return testsupport::ReadFile(log); }
    // The boxes once they have grown past what they were: the answer comes off the window's thread.
    std::string MessagesAfter(const std::string& before) {
        for (int waited = 0; waited < 30000 && Messages() == before; waited += 20) QTest::qWait(20);
        return Messages();
    }
    // Once they read as expected, or have stopped changing for a while.
    std::string MessagesWhen(const std::string& expected) {
        for (int waited = 0; waited < 30000 && Messages() != expected; waited += 20) QTest::qWait(20);
        return Messages();
    }

    testsupport::TempDir dir;
    std::string savedTz, log;
    std::unique_ptr<dialogs::TLoggedBoxes> boxes;
    TData data;
    TSiteCommons common;  // the program's: what its site windows share
    timeserver::Rfc868Server server;
    timetest::RecordingClock* clock = nullptr;
};

const std::string kServer = "('127.0.0.1', 1, 1000)";

// An hour ahead of this machine's clock: a time that can be now.
const uint32_t kHourAhead = timeserver::CurrentSeconds() + 3600;

TEST_F(TimeCommandsTest, TheTableIsReadAgainOnEveryCallAndTheOffsetLeavesTheClockAlone) {
    UseServer({Reply{.seconds = kHourAhead}});
    double offset = 12345;
    EXPECT_FALSE(data.GetTimeOffset(offset));  // empty table: no traffic at all
    EXPECT_EQ(offset, 12345);
    EXPECT_EQ(server.Accepted(), 0);
    Servers({kServer});
    ASSERT_TRUE(data.GetTimeOffset(offset));
    // Internet time in the PC's zone minus the PC clock.
    const double expected = UtcToLocalTime(Rfc868ToUtc(kHourAhead, 0)) - NowLocal();
    EXPECT_NEAR(offset, expected, 2.0 / 86400);
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_TRUE(clock->set.empty());
}

TEST_F(TimeCommandsTest, ShowInternetTimeShowsItInLocalTimeAndSyncronizeAsksFirstThenSetsTheClockFromASecondRequest) {
    Servers({kServer});
    const Reply ahead{.seconds = kHourAhead}, later{.seconds = kHourAhead + 5};
    UseServer({ahead, Reply{Reply::Kind::Never, std::nullopt, 0}, ahead, later, ahead, later});
    TMainForm form(data, common, QStringList{"kalosqm", "noautoplay"});
    form.mnuShowInternetTimeClick();
    MessagesAfter("");
    constexpr qint64 kSeconds1900To1970 = 2208988800;
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(kHourAhead - kSeconds1900To1970, QTimeZone::utc());
    const QDateTime local = utc.toTimeZone(QTimeZone("Europe/Rome"));
    const QLocale l = QLocale::system();
    const std::string shown = "information: " + l.toString(local.date(), QLocale::ShortFormat).toStdString() + " " +
                              l.toString(local.time(), QLocale::LongFormat).toStdString() + "\n";
    EXPECT_EQ(Messages(), shown);
    // No server answers: an error box says what each server did.
    const std::string failed = "error: Impossible to get the Internet time\n127.0.0.1: ";
    form.mnuShowInternetTimeClick();
    const std::string silent = MessagesAfter(shown);
    EXPECT_EQ(silent.substr(0, shown.size() + failed.size()), shown + failed) << silent;
    EXPECT_EQ(server.Accepted(), 2);
    data.TimePort = testsupport::ClosedPort();
    form.mnuShowInternetTimeClick();
    const std::string closed = MessagesAfter(silent);
    EXPECT_EQ(closed.substr(0, silent.size() + failed.size()), silent + failed) << closed;
    EXPECT_NE(closed.substr(silent.size()), silent.substr(shown.size()));  // a refusal is no silence
    data.TimePort = server.Port();
    EXPECT_EQ(server.Accepted(), 2);

    boxes->SetAnswer(false);
    form.mnuSyncClockClick();
    EXPECT_EQ(server.Accepted(), 2);
    boxes->SetAnswer(true);
    clock->allow = false;
    form.mnuSyncClockClick();
    const std::string question =
        "confirm: Syncronize the PC clock with the Internet time?\nOn Linux it is necessary to start the software "
        "as administrator (root) or with the CAP_SYS_TIME capability\n";
    const std::string refused = closed + question + question + "error: Impossible to perform the action\n";
    EXPECT_EQ(MessagesWhen(refused), refused);
    EXPECT_EQ(clock->set.size(), 1u);

    clock->allow = true;
    form.mnuSyncClockClick();
    EXPECT_EQ(MessagesWhen(refused + question + "information: Done\n"), refused + question + "information: Done\n");
    ASSERT_EQ(clock->set.size(), 2u);
    EXPECT_EQ(FormatSqlDateTime(clock->set[1]), FormatSqlDateTime(Rfc868ToUtc(kHourAhead + 5, 0)));
    EXPECT_EQ(server.Accepted(), 6);
}

}  // namespace
