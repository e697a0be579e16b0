#pragma once
// The world of a window test: a program folder with its own copy of the
// delivered database and a data module over it; message boxes go to a
// log file (dialogs::TLoggedBoxes) and are answered as Answer says (No by default).
#include <algorithm>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/site/datamodule.h"
#include "core/site/sitecommons.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "gui/dialogs.h"
#include "gui/qtlanguage.h"
#include "support/qtsupport.h"
#include "support/testsupport.h"

namespace guitest {

using Lines = std::vector<std::string>;

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

inline bool WaitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms && !done(); waited += 20) QTest::qWait(20);
    return done();
}

// Closes w as the user's close button does. A window with a conversation
// under way closes once it ends (within its timeout), so a refused close
// counts only if the window is still there after that.
inline bool CloseWhenIdle(QWidget* w, int ms = 20000) {
    if (w->close()) return true;
    QPointer<QWidget> alive(w);
    return WaitFor([&alive] { return !alive || !alive->isVisible(); }, ms);
}

// Answers real message boxes as a user would, in the order they come, and
// keeps their texts. A box beyond the script is answered No.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::deque<QMessageBox::StandardButton> answers) : answers_(std::move(answers)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // Boxes come and go at the same address: mark the one answered.
            if (!box || box->property("answered").toBool()) return;
            box->setProperty("answered", true);
            texts.push_back(box->text().toStdString());
            QMessageBox::StandardButton answer = QMessageBox::No;
            if (!answers_.empty()) {
                answer = answers_.front();
                answers_.pop_front();
            }
            QAbstractButton* b = box->button(answer);
            if (!b) b = box->buttons().value(0);  // an error box: its only button
            b->click();
        });
        timer_.start(20);
    }
    std::vector<std::string> texts;

private:
    std::deque<QMessageBox::StandardButton> answers_;
    QTimer timer_;
};

// A named child that must be there.
template <typename W>
W* Child(const QObject* parent, const char* name) {
    W* w = parent->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class GuiTest : public ::testing::Test {
protected:
    GuiTest() { testsupport::App(); }  // before the widgets of derived fixtures
    void SetUp() override {
        SetProgramDir(dir.Str());
        testsupport::CopyPristineDb(dir.Path());
        log = (dir.Path() / "messages.txt").string();
        boxes = std::make_unique<dialogs::TLoggedBoxes>(QString::fromStdString(log));
        dialogs::SetMessageBoxes(boxes.get());
        ASSERT_TRUE(data.DataModuleCreate());
    }
    void TearDown() override {
        dialogs::SetMessageBoxes(nullptr);
    }
    // The answer to the questions logged from now on.
    void Answer(const char* yesNo) { boxes->SetAnswer(std::string(yesNo) == "yes"); }
    // Real boxes, for a user (or a BoxAnswerer) to answer, until LogBoxes.
    static void RealBoxes() { dialogs::SetMessageBoxes(nullptr); }
    void LogBoxes() { dialogs::SetMessageBoxes(boxes.get()); }
    std::string Messages() { return testsupport::ReadFile(log); }
    void ClearMessages() { std::filesystem::remove(log); }
    // The boxes once at least that many lines of them have come: a window's
    // answer comes off its thread.
    Lines BoxesOnceThere(size_t lines, int ms = 60000) {
        WaitFor(
            [&] {
                const std::string m = Messages();
                return static_cast<size_t>(std::count(m.begin(), m.end(), '\n')) >= lines;
            },
            ms);
        return Boxes();
    }
    // The boxes shown since the last call, one a line.
    Lines Boxes() {
        Lines out;
        std::istringstream in(Messages());
        for (std::string l; std::getline(in, l);) out.push_back(l);
        ClearMessages();
        return out;
    }

    // Committed work only: what another user of the file would see.
    void Exec(const std::string& sql) {
        fb::Transaction tr(data.dbKALO);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL(sql);
        q.ExecSQL();
        tr.Commit();
    }
    // Each row of a select in tr, its columns joined by "|".
    static Lines Rows(fb::Transaction& tr, const std::string& sql) {
        fb::Query q(tr);
        q.SetSQL(sql);
        Lines rows;
        for (q.Open(); !q.Eof(); q.Next()) {
            std::string row;
            for (int i = 0; i < q.FieldCount(); ++i)
                row += (i ? "|" : "") + (q.Fields(i).IsNull() ? std::string("NULL") : Trim(q.Fields(i).AsString()));
            rows.push_back(row);
        }
        q.Close();
        return rows;
    }
    Lines Committed(const std::string& sql) {
        fb::Transaction tr(data.dbKALO);
        tr.Start();
        auto rows = Rows(tr, sql);
        tr.Commit();
        return rows;
    }
    // The first row, or "NULL" when there is none.
    std::string Scalar(const std::string& sql) {
        const Lines rows = Committed(sql);
        return rows.empty() ? "NULL" : rows[0];
    }
    int Count(const std::string& sql) { return std::stoi(Scalar(sql)); }
    // Acquiring windows ask no time server outside this machine.
    void LocalTimeServerOnly() {
        Exec("UPDATE SETTINGS SET SET_USEINTERTETTIME=0, SET_UPLOADDATA=0 WHERE SET_ID=1");
        Exec("DELETE FROM NTPSERVERS");
        Exec("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES ('127.0.0.1', 1, 500)");
    }
#ifdef KALO_LOCALE_DIR
    // The built catalogues beside the program, and Qt in the language chosen there.
    void UseBuiltCatalogues() {
        std::filesystem::copy(KALO_LOCALE_DIR, dir.Path() / "Locale", std::filesystem::copy_options::recursive);
        unsetenv("LANGUAGE");
        FollowLanguageInQt("");
    }
#endif

    testsupport::TempDir dir;
    std::string log;
    std::unique_ptr<dialogs::TLoggedBoxes> boxes;
    TData data;
    TSiteCommons common;  // the program's: what its site windows share
};

}  // namespace guitest
