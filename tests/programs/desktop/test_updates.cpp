// "Check for updates": the update file's rules, the download and the dialog
// against a small HTTP server of the test on 127.0.0.1, and the main window's
// menu entry. Screenshots of each result go to /tmp/kalo-updates-*.png.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "core/site/datamodule.h"
#include "programs/desktop/mainform.h"
#include "core/site/sitecommons.h"
#include "core/station/myutils.h"
#include "support/qtsupport.h"
#include "support/testsupport.h"
#include "core/site/updatecheck.h"
#include "programs/desktop/updateform.h"
#include "core/station/version.h"

namespace {

using testsupport::App;
using testsupport::ReadFile;
using testsupport::TempDir;

void WriteFile(const std::filesystem::path& p, const std::string& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

QByteArray Response(int status, const char* reason, const QByteArray& body, const QByteArray& extra = {},
                    qint64 declaredLength = -1) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n" + extra +
           "Content-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
           QByteArray::number(declaredLength < 0 ? body.size() : declaredLength) + "\r\n\r\n" + body;
}

QByteArray UpdateFile(const std::string& versionLine) {
    return QByteArray("[General]\r\nVersion=0.0.0.0\r\n\r\n[UPDATEInfo]\r\n") +
           QByteArray::fromStdString(versionLine) + "\r\nNotes=see the web site\r\n";
}

// Answers every request with what the handler makes of its path; an empty
// answer keeps the connection open and silent.
class THttpServer : public QObject {
public:
    using Handler = std::function<QByteArray(const QByteArray& path)>;
    explicit THttpServer(Handler handler) : handler_(std::move(handler)) {
        if (!server_.listen(QHostAddress::LocalHost, 0)) throw std::runtime_error("no port on 127.0.0.1");
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) Serve(s);
        });
    }
    QString Url(const char* path = "/SHARE/KALOUPD.ini") const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(QLatin1String(path));
    }
    QList<QByteArray> paths;

private:
    void Serve(QTcpSocket* s) {
        s->setParent(this);
        auto request = std::make_shared<QByteArray>();
        connect(s, &QTcpSocket::readyRead, this, [this, s, request] {
            request->append(s->readAll());
            if (!request->contains("\r\n\r\n")) return;
            const QByteArray path = request->left(request->indexOf("\r\n")).split(' ').value(1);
            request->clear();
            paths << path;
            const QByteArray answer = handler_(path);
            if (answer.isEmpty()) return;
            s->write(answer);
            s->disconnectFromHost();
        });
    }
    QTcpServer server_;
    Handler handler_;
};

// --- The rules without Qt ----------------------------------------------------

TEST(UpdateFileTest, TheVersionComesFromItsSectionAsWrittenAndIsEmptyWithoutIt) {
    TempDir dir;
    const auto f = dir.Path() / "KALOUPD.ini";
    const std::pair<std::string, std::string> cases[] = {
        {UpdateFile("Version= 4.0.0.27 ").toStdString(), " 4.0.0.27 "},
        {"\xEF\xBB\xBF[UPDATEInfo]\n ; a comment\n  Version =1.2.3.4\n", "1.2.3.4"},  // marked UTF-8, Unix lines
        {UpdateFile("Release=4.0.0.27").toStdString(), ""},
        {"[Other]\nVersion=4.0.0.27\n", ""},
    };
    for (const auto& [text, version] : cases) {
        WriteFile(f, text);
        EXPECT_EQ(ReadUpdateVersion(f.string()), version) << text;
    }
    EXPECT_EQ(ReadUpdateVersion((dir.Path() / "none.ini").string()), "");
    WriteFile(f, UpdateFile("Version=1").toStdString());
    EXPECT_EQ(ReadIniString(f.string(), "updateinfo", "NOTES"), "see the web site");
    EXPECT_EQ(ReadIniString(f.string(), "General", "Version"), "0.0.0.0");
}

TEST(UpdateResultTest, OnlyTheSameVersionIsUpToDate) {
    EXPECT_EQ(UpdateResult(true, "1.0.0.1", "1.0.0.1"), TUpdateResult::UpToDate);
    EXPECT_EQ(UpdateResult(true, " \t1.0.0.1 ", "1.0.0.1"), TUpdateResult::UpToDate);
    EXPECT_EQ(UpdateResult(true, "1.0.0.2", "1.0.0.1"), TUpdateResult::UpdateNeeded);
    EXPECT_EQ(UpdateResult(true, "0.9.0.1", "1.0.0.1"), TUpdateResult::UpdateNeeded);  // older: still different
    EXPECT_EQ(UpdateResult(true, "1.0.0", "1.0.0.1"), TUpdateResult::UpdateNeeded);
    EXPECT_EQ(UpdateResult(true, "1.0.0.01", "1.0.0.1"), TUpdateResult::UpdateNeeded);  // text, not numbers
    EXPECT_EQ(UpdateResult(true, "", "1.0.0.1"), TUpdateResult::UpdateNeeded);
    EXPECT_EQ(UpdateResult(false, "1.0.0.1", "1.0.0.1"), TUpdateResult::Failed);
}

// --- Download and dialog ------------------------------------------------------

class UpdateFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        SetProgramDir(dir.Str());
        // 127.0.0.1 is asked directly, whatever proxy the machine names.
        for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
    }
    std::filesystem::path LocalCopy() const { return dir.Path() / "UpdInfo" / "KALOUPD.ini"; }

    static QLabel* Shown(TUpdateForm& f) {
        QLabel* shown = nullptr;
        for (QLabel* l : {f.UpdateLabel(), f.UpToDateLabel(), f.FailedLabel()}) {
            if (l->isVisible()) {
                EXPECT_EQ(shown, nullptr) << "two results at once";
                shown = l;
            }
        }
        return shown;
    }
    // The result stands whole inside the dialog, and the picture is kept.
    static void ExpectUnclipped(TUpdateForm& f, const char* name) {
        QLabel* l = Shown(f);
        ASSERT_NE(l, nullptr);
        EXPECT_GE(l->width(), l->sizeHint().width()) << l->text().toStdString();
        EXPECT_GE(l->height(), l->sizeHint().height());
        EXPECT_TRUE(f.rect().contains(QRect(l->mapTo(&f, QPoint(0, 0)), l->size())));
        EXPECT_TRUE(f.grab().save(QStringLiteral("/tmp/kalo-updates-%1.png").arg(QLatin1String(name))));
    }

    TempDir dir;
    const std::string installed = GetVersionText(4);
};

TEST_F(UpdateFormTest, OpensWithTheInstalledVersionAndNoResult) {
    TUpdateForm form;
    form.show();
    EXPECT_EQ(form.windowTitle(), "Check for updates");
    EXPECT_EQ(form.InstalledVersion()->text().toStdString(), installed);
    EXPECT_TRUE(form.CurrentVersion()->text().isEmpty());
    EXPECT_EQ(Shown(form), nullptr);
    EXPECT_EQ(form.minimumSize(), form.maximumSize());  // fixed size
    EXPECT_EQ(form.UpdateUrl(), QStringLiteral(KALO_UPDATE_URL));
    EXPECT_TRUE(form.UpdateUrl().endsWith("/SHARE/KALOUPD.ini"));
    EXPECT_EQ(form.CheckButton()->text(), "Check for updates");
    EXPECT_EQ(form.CloseButton()->text(), "Close");
    EXPECT_EQ(form.UpdateLabel()->text(),
              "Your installed version is different from the curren one: update the software");
    EXPECT_EQ(form.UpToDateLabel()->text(), "The software is up to date");
    EXPECT_EQ(form.FailedLabel()->text(), "Check for updates failed: try later");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "UpdInfo"));  // nothing fetched before the button
}

TEST_F(UpdateFormTest, EachCheckShowsTheFileJustFetchedAndOnlyAGoodOneReplacesTheCopy) {
    using Handler = THttpServer::Handler;
    Handler answer;
    THttpServer server([&](const QByteArray& path) { return answer(path); });
    const auto ok = [](const QByteArray& body) -> Handler { return [body](auto&) { return Response(200, "OK", body); }; };
    const QByteArray same = UpdateFile("Version=" + installed), older = UpdateFile("Version=3.9.0.1");
    const QByteArray noKey = UpdateFile("Build=" + installed), blanks = UpdateFile("Version=  " + installed + "\t ");
    ASSERT_NE(installed, "3.9.0.1");
    // Before each failure: a copy that would be up to date, were it read.
    const std::string previous = same.toStdString() + "; from before\r\n";
    struct Case {
        const char* what;
        Handler answer;  // none: nothing listens
        std::string version;  // shown
        QLabel* (TUpdateForm::*result)() const;
        QByteArray copy;  // empty for a failure, which keeps the previous copy
        std::pair<int, int> requests{1, 1};  // at least, at most
        const char* picture = nullptr;
        int timeoutMs = 5000;
        const char* path = "/SHARE/KALOUPD.ini";
    };
    const auto failed = &TUpdateForm::FailedLabel, upToDate = &TUpdateForm::UpToDateLabel;
    const Case cases[] = {
        {"the same version", ok(same), installed, upToDate, same, {1, 1}, "uptodate"},
        {"blanks around it, shown as read", ok(blanks), "  " + installed + "\t ", upToDate, blanks},
        {"an older version", ok(older), "3.9.0.1", &TUpdateForm::UpdateLabel, older, {1, 1}, "update"},
        {"no version key", ok(noKey), "", &TUpdateForm::UpdateLabel, noKey},
        {"a redirect", [&](const QByteArray& path) {
             return path == "/mirror/KALOUPD.ini" ? Response(200, "OK", same)
                                                  : Response(302, "Found", "moved", "Location: /mirror/KALOUPD.ini\r\n");
         }, installed, upToDate, same, {2, 2}},
        {"no server", nullptr, "", failed, {}, {0, 0}, "failed"},
        {"a silent server, within the timeout", [](auto&) { return QByteArray(); }, "", failed, {}, {1, 1}, nullptr, 1500},
        {"an HTTP error with an update file as its body", [&](auto&) { return Response(404, "Not Found", same); }, "",
         failed, {}},
        // "Multiple Choices" is no transfer error to Qt.
        {"an answer outside the 200s", [&](auto&) { return Response(300, "Multiple Choices", same); }, "", failed, {}},
        {"a cut transfer", [&](auto&) { return Response(200, "OK", same, {}, same.size() + 100); }, "", failed, {}},
        {"an endless chain of redirects",
         [](const QByteArray& path) { return Response(302, "Found", "again", "Location: " + path + "x\r\n"); }, "",
         failed, {}, {2, 10}, nullptr, 5000, "/loop"},
    };
    TUpdateForm form;
    form.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.copy.isEmpty()) WriteFile(LocalCopy(), previous);
        answer = c.answer;
        server.paths.clear();
        form.SetUpdateUrl(c.answer ? server.Url(c.path)
                                   : QStringLiteral("http://127.0.0.1:%1/SHARE/KALOUPD.ini").arg(testsupport::ClosedPort()));
        form.SetTimeoutMs(c.timeoutMs);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(form.CheckButton(), Qt::LeftButton);
        EXPECT_LT(clock.elapsed(), 30000);
        EXPECT_EQ(form.CurrentVersion()->text().toStdString(), c.version);
        EXPECT_EQ(Shown(form), (form.*c.result)());
        EXPECT_EQ(ReadFile(LocalCopy()), c.copy.isEmpty() ? previous : c.copy.toStdString());
        EXPECT_TRUE(form.CheckButton()->isEnabled());
        EXPECT_GE(server.paths.size(), c.requests.first);
        EXPECT_LE(server.paths.size(), c.requests.second);
        if (c.requests.first > 0) {
            EXPECT_EQ(server.paths.value(0), c.path);
        }
        if (c.picture) ExpectUnclipped(form, c.picture);
    }
}

TEST_F(UpdateFormTest, DownloadFileRefusesAFileItCannotWrite) {
    THttpServer server([&](const QByteArray&) { return Response(200, "OK", "[UPDATEInfo]\nVersion=1\n"); });
    EXPECT_FALSE(DownloadFile(server.Url(), QString::fromStdString((dir.Path() / "no" / "such" / "x.ini").string())));
    const QString ok = QString::fromStdString((dir.Path() / "x.ini").string());
    EXPECT_TRUE(DownloadFile(server.Url(), ok));
    EXPECT_EQ(ReadFile(dir.Path() / "x.ini"), "[UPDATEInfo]\nVersion=1\n");
    EXPECT_FALSE(DownloadFile(QStringLiteral("not a url"), ok));
    EXPECT_EQ(ReadFile(dir.Path() / "x.ini"), "[UPDATEInfo]\nVersion=1\n");
}

// --- The main window ------------------------------------------------------------

TEST_F(UpdateFormTest, TheMainWindowOpensItModallyFromItsMenuBeforeTheHelp) {
    TData data;  // not opened: the menus need nothing of it
    TSiteCommons common;
    TMainForm main(data, common, {"kalosqm", "noautoplay"});
    const QList<QAction*> top = main.menuBar()->actions();
    int check = -1, help = -1;
    for (int i = 0; i < top.size(); ++i) {
        if (top[i]->text() == "Check for updates") check = i;
        if (top[i]->text() == "?") help = i;
    }
    ASSERT_GE(check, 0);
    EXPECT_EQ(help, check + 1);
    EXPECT_EQ(top[check]->menu(), nullptr);  // a command of its own, not a menu

    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<TUpdateForm*>(QApplication::activeModalWidget());
        if (!form) return;
        seen = form->isModal() && form->parentWidget() == &main &&
               form->InstalledVersion()->text().toStdString() == installed;
        form->CloseButton()->click();
    });
    QTimer guard;  // a dialog that did not open must not hang the test
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    guard.start(3000);
    top[check]->trigger();
    EXPECT_TRUE(seen);
}

}  // namespace
