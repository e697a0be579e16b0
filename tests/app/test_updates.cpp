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

#include "mainform.h"
#include "myutils.h"
#include "qtsupport.h"
#include "testsupport.h"
#include "updatecheck.h"
#include "updateform.h"
#include "version.h"

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

TEST(UpdateFileTest, TheVersionComesFromItsSectionAsWritten) {
    TempDir dir;
    const auto f = dir.Path() / "KALOUPD.ini";
    WriteFile(f, UpdateFile("Version= 4.0.0.27 ").toStdString());
    EXPECT_EQ(ReadUpdateVersion(f.string()), " 4.0.0.27 ");
    EXPECT_EQ(ReadIniString(f.string(), "updateinfo", "NOTES"), "see the web site");
    EXPECT_EQ(ReadIniString(f.string(), "General", "Version"), "0.0.0.0");
}

TEST(UpdateFileTest, AMissingKeySectionOrFileGivesAnEmptyVersion) {
    TempDir dir;
    const auto f = dir.Path() / "KALOUPD.ini";
    WriteFile(f, UpdateFile("Release=4.0.0.27").toStdString());
    EXPECT_EQ(ReadUpdateVersion(f.string()), "");
    WriteFile(f, "[Other]\nVersion=4.0.0.27\n");
    EXPECT_EQ(ReadUpdateVersion(f.string()), "");
    EXPECT_EQ(ReadUpdateVersion((dir.Path() / "none.ini").string()), "");
}

TEST(UpdateFileTest, AMarkedUtf8FileWithUnixLinesReads) {
    TempDir dir;
    const auto f = dir.Path() / "KALOUPD.ini";
    WriteFile(f, "\xEF\xBB\xBF[UPDATEInfo]\n ; a comment\n  Version =1.2.3.4\n");
    EXPECT_EQ(ReadUpdateVersion(f.string()), "1.2.3.4");
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

    // A shown dialog pointed at the server, after one press of its button.
    std::unique_ptr<TUpdateForm> Checked(const QString& url, int timeoutMs = 5000) {
        auto form = std::make_unique<TUpdateForm>();
        form->SetUpdateUrl(url);
        form->SetTimeoutMs(timeoutMs);
        form->show();
        QTest::mouseClick(form->CheckButton(), Qt::LeftButton);
        return form;
    }
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

TEST_F(UpdateFormTest, TheSameVersionIsUpToDateAndTheCopyStays) {
    const QByteArray body = UpdateFile("Version=" + installed);
    THttpServer server([&](const QByteArray&) { return Response(200, "OK", body); });
    auto form = Checked(server.Url());
    EXPECT_EQ(form->CurrentVersion()->text().toStdString(), installed);
    EXPECT_EQ(Shown(*form), form->UpToDateLabel());
    ASSERT_EQ(server.paths.size(), 1);
    EXPECT_EQ(server.paths.at(0), "/SHARE/KALOUPD.ini");
    EXPECT_EQ(ReadFile(LocalCopy()), body.toStdString());  // UpdInfo made, the copy kept
    ExpectUnclipped(*form, "uptodate");
}

TEST_F(UpdateFormTest, BlanksAroundTheVersionStillMeanUpToDate) {
    const std::string written = "  " + installed + "\t ";
    THttpServer server([&](const QByteArray&) { return Response(200, "OK", UpdateFile("Version=" + written)); });
    auto form = Checked(server.Url());
    EXPECT_EQ(form->CurrentVersion()->text().toStdString(), written);  // shown as read
    EXPECT_EQ(Shown(*form), form->UpToDateLabel());
}

TEST_F(UpdateFormTest, AnOlderVersionAsksForAnUpdate) {
    ASSERT_NE(installed, "3.9.0.1");
    THttpServer server([&](const QByteArray&) { return Response(200, "OK", UpdateFile("Version=3.9.0.1")); });
    auto form = Checked(server.Url());
    EXPECT_EQ(form->CurrentVersion()->text(), "3.9.0.1");
    EXPECT_EQ(Shown(*form), form->UpdateLabel());
    ExpectUnclipped(*form, "update");
}

TEST_F(UpdateFormTest, AMissingKeyGivesAnEmptyVersionAndAnUpdate) {
    THttpServer server([&](const QByteArray&) { return Response(200, "OK", UpdateFile("Build=" + installed)); });
    auto form = Checked(server.Url());
    EXPECT_TRUE(form->CurrentVersion()->text().isEmpty());
    EXPECT_EQ(Shown(*form), form->UpdateLabel());
}

TEST_F(UpdateFormTest, NoServerFailsAndThePreviousCopyIsNotRead) {
    const std::string previous = UpdateFile("Version=" + installed).toStdString();
    WriteFile(LocalCopy(), previous);
    auto form = Checked(QStringLiteral("http://127.0.0.1:%1/SHARE/KALOUPD.ini").arg(testsupport::ClosedPort()));
    EXPECT_TRUE(form->CurrentVersion()->text().isEmpty());
    EXPECT_EQ(Shown(*form), form->FailedLabel());
    EXPECT_EQ(ReadFile(LocalCopy()), previous);
    ExpectUnclipped(*form, "failed");
}

TEST_F(UpdateFormTest, ASilentServerFailsWithinTheTimeout) {
    WriteFile(LocalCopy(), UpdateFile("Version=" + installed).toStdString());
    THttpServer server([](const QByteArray&) { return QByteArray(); });
    QElapsedTimer clock;
    clock.start();
    auto form = Checked(server.Url(), 1500);
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_EQ(server.paths.size(), 1);  // it did ask
    EXPECT_EQ(Shown(*form), form->FailedLabel());
    EXPECT_TRUE(form->CurrentVersion()->text().isEmpty());
    EXPECT_TRUE(form->CheckButton()->isEnabled());
}

TEST_F(UpdateFormTest, AnHttpErrorFailsEvenWithAnUpdateFileAsItsBody) {
    THttpServer server([&](const QByteArray&) {
        return Response(404, "Not Found", UpdateFile("Version=" + installed));
    });
    auto form = Checked(server.Url());
    EXPECT_EQ(Shown(*form), form->FailedLabel());
    EXPECT_TRUE(form->CurrentVersion()->text().isEmpty());
    EXPECT_FALSE(std::filesystem::exists(LocalCopy()));
}

TEST_F(UpdateFormTest, AnAnswerOutsideTwoHundredsFailsThoughQtSeesNoError) {
    // "Multiple Choices" is no transfer error to Qt, nor the file.
    THttpServer server([&](const QByteArray&) {
        return Response(300, "Multiple Choices", UpdateFile("Version=" + installed));
    });
    auto form = Checked(server.Url());
    EXPECT_EQ(Shown(*form), form->FailedLabel());
    EXPECT_FALSE(std::filesystem::exists(LocalCopy()));
}

TEST_F(UpdateFormTest, ACutTransferFailsAndKeepsThePreviousCopy) {
    const std::string previous = UpdateFile("Version=0.0.0.9").toStdString();
    WriteFile(LocalCopy(), previous);
    const QByteArray body = UpdateFile("Version=" + installed);
    THttpServer server([&](const QByteArray&) { return Response(200, "OK", body, {}, body.size() + 100); });
    auto form = Checked(server.Url());
    EXPECT_EQ(Shown(*form), form->FailedLabel());
    EXPECT_EQ(ReadFile(LocalCopy()), previous);
}

TEST_F(UpdateFormTest, ARedirectIsFollowedButNotForever) {
    THttpServer server([&](const QByteArray& path) {
        if (path == "/SHARE/KALOUPD.ini") return Response(302, "Found", "moved", "Location: /mirror/KALOUPD.ini\r\n");
        if (path == "/mirror/KALOUPD.ini") return Response(200, "OK", UpdateFile("Version=" + installed));
        return Response(302, "Found", "again", "Location: " + path + "x\r\n");  // an endless chain
    });
    auto form = Checked(server.Url());
    EXPECT_EQ(Shown(*form), form->UpToDateLabel());
    EXPECT_EQ(ReadFile(LocalCopy()), UpdateFile("Version=" + installed).toStdString());

    server.paths.clear();
    auto loop = Checked(server.Url("/loop"));
    EXPECT_EQ(Shown(*loop), loop->FailedLabel());
    EXPECT_GE(server.paths.size(), 2);
    EXPECT_LE(server.paths.size(), 10);
}

TEST_F(UpdateFormTest, EachCheckReplacesTheCopyAndTheLastResult) {
    QByteArray body = UpdateFile("Version=3.9.0.1");
    bool up = true;
    THttpServer server([&](const QByteArray&) { return up ? Response(200, "OK", body) : QByteArray(); });
    auto form = Checked(server.Url());
    EXPECT_EQ(Shown(*form), form->UpdateLabel());

    body = UpdateFile("Version=" + installed);
    QTest::mouseClick(form->CheckButton(), Qt::LeftButton);
    EXPECT_EQ(Shown(*form), form->UpToDateLabel());
    EXPECT_EQ(ReadFile(LocalCopy()), body.toStdString());

    up = false;
    form->SetTimeoutMs(800);
    QTest::mouseClick(form->CheckButton(), Qt::LeftButton);
    EXPECT_EQ(Shown(*form), form->FailedLabel());
    EXPECT_TRUE(form->CurrentVersion()->text().isEmpty());
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
    TMainForm main({"kalosqm", "noautoplay"});
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
