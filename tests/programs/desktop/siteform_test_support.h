#pragma once
// The site window's test fixtures: a real database copy, the SQM-LE simulator,
// message boxes read back from the program's message log, and for the network
// pages the MariaDB test server.
#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>

#include "core/site/acquisition.h"
#include "gui/buttonframe.h"
#include "programs/desktop/gui_test_support.h"
#include "core/site/languages.h"
#include "core/site/localquery.h"
#include "support/netdb_test_support.h"
#include "gui/qtlanguage.h"
#include "gui/readingviews.h"
#include "gui/semaforo.h"
#include "programs/desktop/siteform.h"
#include "core/site/siterules.h"
#include "core/station/sqm.h"
#include "tools/sqmle-sim/sqmsim.h"
#include "core/astronomy/vsop.h"

namespace sitewindowtest {

using guitest::Child;
using guitest::Lines;
using testsupport::ClosedPort;

class SiteForm : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        sim.Start();
        LocalTimeServerOnly();
    }
    void TearDown() override {
        for (TSiteForm* f : forms) {
            f->StopForShutdown();
            delete f;
        }
        GuiTest::TearDown();
    }
    int AddSite(const std::string& name, int port, const char* latLong = "45.5, 9.2", int interval = 1) {
        const int id = std::stoi(Scalar("SELECT GEN_ID(GEN_SITE_ID, 1) FROM RDB$DATABASE"));
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_INTERVAL, "
             "SIT_ACQUIREMODE, SIT_LATIT, SIT_LONG) VALUES (" +
             std::to_string(id) + ", " + QuotedStr(name) + ", '127.0.0.1', " + std::to_string(port) + ", 1, " +
             std::to_string(interval) + ", 0, " + latLong + ")");
        return id;
    }
    std::string Stored(const std::string& columns, int id) {
        return Scalar("SELECT " + columns + " FROM SQMSITES WHERE SIT_ID=" + std::to_string(id));
    }
    TSiteForm* Open(int id, bool autostart = false) {
        auto* f = new TSiteForm(data, common, id, autostart);
        f->setAttribute(Qt::WA_DeleteOnClose, false);
        forms.push_back(f);
        f->show();
        return f;
    }
    // Types into a line edit as a user would, then leaves it.
    static void Type(QWidget* f, const char* name, const QString& text) {
        QLineEdit* e = Child<QLineEdit>(f, name);
        e->setFocus();
        e->selectAll();
        if (text.isEmpty())
            QTest::keyClick(e, Qt::Key_Delete);
        else
            QTest::keyClicks(e, text);
        QTest::keyClick(e, Qt::Key_Tab);
    }
    static TButtonFrame* Bar(QWidget* f) { return Child<TButtonFrame>(f, "ButtonFrame1"); }
    // A click, then what it began off the window's thread, answered.
    static void Click(QWidget* f, const char* button) {
        Child<QAbstractButton>(f, button)->click();
        Settle(f);
    }
    // Until the window's conversations under way have answered.
    static void Settle(QWidget* f) {
        if (auto* form = dynamic_cast<TSiteForm*>(f)) {
            EXPECT_TRUE(guitest::WaitFor([form] { return !form->Busy(); }, 60000));
        }
    }
    static QString Text(QWidget* f, const char* label) { return Child<QLabel>(f, label)->text(); }
    int Readings(int site) { return Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(site)); }

    SqmSimulator sim;
    std::vector<TSiteForm*> forms;
};

class SiteReadings : public SiteForm {
protected:
    void AddReading(int site, double when, double value, double offset, int state = 0, int uploaded = 0) {
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
             "REA_STATE, REA_UPLOADED, REA_SUNH, REA_MOONH, REA_MOONPH, REA_MOONAGE, REA_MOONILLUM, "
             "REA_ASTRO_TWILIGHT, REA_ASTRO_DOWNING, REA_ORIGIN) VALUES ('" + FormatKeyTime(when) + std::to_string(site) + "', " +
             std::to_string(site) + ", '" + FormatSqlDateTime(when) + "', " + std::to_string(value) + ", " +
             std::to_string(offset) + ", 12.5, " + std::to_string(state) + ", " + std::to_string(uploaded) +
             ", -30, -10, 0.5, 10, 50, '" + FormatSqlDateTime(std::floor(when) + 0.8) + "', '" +
             FormatSqlDateTime(std::floor(when) + 1.2) + "', 'K')");
    }
    static QString Cell(QTableView* g, int row, int col) { return g->model()->index(row, col).data().toString(); }
    static QString Header(QTableView* g, int col) { return g->model()->headerData(col, Qt::Horizontal).toString(); }
    static int Points(TReadingChart* v) { return static_cast<int>(v->Data().Readings.size()); }
    void ShowPage(TSiteForm* f, const char* name) {
        auto* tabs = Child<QTabWidget>(f, "PageControl1");
        tabs->setCurrentWidget(Child<QWidget>(f, name));
    }
    // The next file the window asks for.
    void NextFile(TSiteForm* f, const QString& name) {
        f->SetFileChooser([this, name](const QString& filters, const QString& suffix) {
            chooserFilters = filters;
            chooserSuffix = suffix;
            return name;
        });
    }
    QString chooserFilters, chooserSuffix;
};

class SiteNetwork : public SiteReadings {
protected:
    void SetUp() override {
        SiteReadings::SetUp();
        netSite = net.AddSite("AB12");
        std::filesystem::create_directories(dir.Path() / "crdfiles");
    }
    void Install(const std::string& code, bool upload, bool download) {
        TCredentials c = net.Credentials(code);
        c.Upload = upload;
        c.Download = download;
        WriteCredentialsFile(CredentialsFileName(code), c);
    }
    int AddCodedSite(const char* code) {
        const int id = AddSite("Roof", sim.Port());
        if (code) Exec("UPDATE SQMSITES SET SIT_CODE='" + std::string(code) + "' WHERE SIT_ID=" + std::to_string(id));
        return id;
    }
    static bool TabShown(TSiteForm* f, const char* page) {
        auto* tabs = f->findChild<QTabWidget*>("PageControl1");
        return tabs->isTabVisible(tabs->indexOf(f->findChild<QWidget*>(page)));
    }
    nettest::NetworkDb net;
    int netSite = 0;
};

}  // namespace sitewindowtest
