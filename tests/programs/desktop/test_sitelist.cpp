// The "Site list" dialog over a real copy of the delivered database: its
// two modes, picking a site, the bold current row and the two questions
// before a site and its readings are deleted.
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <deque>

#include "programs/desktop/gui_test_support.h"
#include "core/site/sitelist.h"
#include "programs/desktop/sitelistform.h"

namespace {

using guitest::BoxAnswerer;

class SiteListTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        RealBoxes();  // answered by BoxAnswerer
    }
    void AddSite(int id, const std::string& name, const std::string& code = "", const std::string& host = "10.0.0.9") {
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_CODE, SIT_SQMHOST) VALUES (" + std::to_string(id) + ", " +
             QuotedStr(name) + ", " + (code.empty() ? std::string("NULL") : QuotedStr(code)) + ", " +
             QuotedStr(host) + ")");
    }
    void AddReading(int site, int n) {
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('" + std::to_string(site) +
             "-" + std::to_string(n) + "', " + std::to_string(site) + ", '2024-01-15 22:00:00', 20.5)");
    }
    // Committed counts: what the next reader of the file finds.
    int Readings(int site) { return Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(site)); }
    int Sites(int site) { return Count("SELECT COUNT(*) FROM SQMSITES WHERE SIT_ID=" + std::to_string(site)); }
    static QString Cell(TZSiteForm& f, int row, int column) {
        return f.Model->data(f.Model->index(row, column), Qt::DisplayRole).toString();
    }
    static bool Bold(TZSiteForm& f, int row, int column) {
        return f.Model->data(f.Model->index(row, column), Qt::FontRole).value<QFont>().bold();
    }
    static void ClickRow(TZSiteForm& f, int row, int column = TSiteListModel::Code) {
        const QRect cell = f.RxDBGrid1->visualRect(f.Model->index(row, column));
        QTest::mouseClick(f.RxDBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
    }
    std::unique_ptr<TZSiteForm> Deleting() {
        auto f = std::make_unique<TZSiteForm>(data.dbKALO, nullptr, &data.trKALO);  // as the main window opens it
        f->SetMode(TZSiteForm::Mode::Delete);
        f->show();
        return f;
    }
};

TEST_F(SiteListTest, ListsAllSitesByNameWithTheButtonsOfEachModeAndTheCurrentRowAloneBold) {
    AddSite(3, "Rome", "RM01");
    AddSite(1, "Zagreb");
    AddSite(2, "Asiago", "AS7", "192.168.1.50");
    Exec("INSERT INTO SQMSITES (SIT_ID) VALUES (4)");  // nothing but the key

    TZSiteForm f(data.dbKALO);
    EXPECT_EQ(f.windowTitle(), "Site list");
    QStringList headers;
    for (int c = 0; c < f.Model->columnCount(); ++c) headers << f.Model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, QStringList({"Name", "Code", "Host"}));
    ASSERT_EQ(f.Model->rowCount(), 4);
    // The nameless site sorts first; the code comes without its blank padding.
    EXPECT_EQ(Cell(f, 0, TSiteListModel::Name), "");
    EXPECT_EQ(Cell(f, 1, TSiteListModel::Name), "Asiago");
    EXPECT_EQ(Cell(f, 1, TSiteListModel::Code), "AS7");
    EXPECT_EQ(Cell(f, 1, TSiteListModel::Host), "192.168.1.50");
    EXPECT_EQ(Cell(f, 2, TSiteListModel::Name), "Rome");
    EXPECT_EQ(Cell(f, 3, TSiteListModel::Code), "");

    EXPECT_EQ(f.btnOK->text(), "OK");
    EXPECT_EQ(f.BitBtn2->text(), "Delete station");
    EXPECT_EQ(f.btnCancel->text(), "Cancel");
    EXPECT_EQ(f.btnClose->text(), "Close");
    struct Case {
        TZSiteForm::Mode mode;
        bool ok, del, cancel, close;
    };
    for (const Case c : {Case{TZSiteForm::Mode::Delete, false, true, false, true},
                         Case{TZSiteForm::Mode::Choose, true, false, true, false}}) {
        f.SetMode(c.mode);
        f.show();
        EXPECT_EQ(f.btnOK->isVisible(), c.ok);
        EXPECT_EQ(f.BitBtn2->isVisible(), c.del);
        EXPECT_EQ(f.btnCancel->isVisible(), c.cancel);
        EXPECT_EQ(f.btnClose->isVisible(), c.close);
    }

    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    EXPECT_TRUE(Bold(f, 0, 0));
    EXPECT_FALSE(Bold(f, 1, 0));
    ClickRow(f, 2);
    EXPECT_EQ(f.CurrentRow(), 2);
    for (int c = 0; c < TSiteListModel::ColumnCount; ++c) {
        EXPECT_TRUE(Bold(f, 2, c));
        EXPECT_FALSE(Bold(f, 0, c));
        EXPECT_FALSE(Bold(f, 1, c));
    }
    EXPECT_EQ(f.RxDBGrid1->selectionModel()->selectedIndexes().size(), TSiteListModel::ColumnCount);
    for (const QModelIndex& i : f.RxDBGrid1->selectionModel()->selectedIndexes()) EXPECT_EQ(i.row(), 2);
}

TEST_F(SiteListTest, PickingReturnsTheSiteOnlyWithOK) {
    AddSite(7, "Asiago");
    AddSite(9, "Rome");
    {
        // A double click on a row closes the dialog with OK and that site:
        // what it delivers is a click, then the double click.
        TZSiteForm f(data.dbKALO);
        f.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
        ClickRow(f, 1, TSiteListModel::Name);
        const QRect cell = f.RxDBGrid1->visualRect(f.Model->index(1, TSiteListModel::Name));
        QTest::mouseDClick(f.RxDBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
        EXPECT_EQ(f.result(), QDialog::Accepted);
        EXPECT_FALSE(f.isVisible());
        EXPECT_EQ(f.SelectedSiteId(), 9);
    }
    {
        TZSiteForm f(data.dbKALO);
        QTimer::singleShot(0, &f, [&f] { f.btnOK->click(); });  // on the first row
        EXPECT_EQ(f.exec(), QDialog::Accepted);
        EXPECT_EQ(f.SelectedSiteId(), 7);
    }
    // Cancel, the frame's close and Delete mode's "Close" pick nothing.
    for (const int way : {0, 1, 2}) {
        TZSiteForm f(data.dbKALO);
        if (way == 2) f.SetMode(TZSiteForm::Mode::Delete);
        QTimer::singleShot(0, &f, [&f, way] {
            ClickRow(f, 1);
            if (way == 0) f.btnCancel->click();
            if (way == 1) f.close();
            if (way == 2) f.btnClose->click();
        });
        EXPECT_EQ(f.exec(), QDialog::Rejected);
        EXPECT_EQ(f.SelectedSiteId(), 0) << way;
    }
}

TEST_F(SiteListTest, OnlyNoToTheSecondQuestionDeletesTheSiteAndItsReadingsEvenThoseStoredMeanwhile) {
    AddSite(1, "Asiago");
    AddSite(2, "Rome");
    for (int n = 0; n < 3; ++n) AddReading(1, n);
    AddReading(2, 0);
    auto f = Deleting();
    ASSERT_EQ(Cell(*f, 0, TSiteListModel::Name), "Asiago");
    AddReading(1, 3);  // a running site window stores one meanwhile
    {
        BoxAnswerer user({QMessageBox::No});
        f->BitBtn2->click();
        EXPECT_EQ(user.texts, std::vector<std::string>{"Delete the selected site?"});
    }
    {
        BoxAnswerer user({QMessageBox::Yes, QMessageBox::Yes});  // yes, cancel it
        f->BitBtn2->click();
        // The box shows each carriage return as a line break.
        EXPECT_EQ(user.texts, (std::vector<std::string>{"Delete the selected site?",
                                                        "By clicking NO Site \"Asiago\" and all its readings will be "
                                                        "deleted!\nPlease note this can not be undone!\nCancel the "
                                                        "operation?"}));
    }
    EXPECT_EQ(Sites(1), 1);
    EXPECT_EQ(Readings(1), 4);
    EXPECT_EQ(f->Model->rowCount(), 2);
    {
        BoxAnswerer user({QMessageBox::Yes, QMessageBox::No});
        f->BitBtn2->click();
        EXPECT_EQ(user.texts.size(), 2u) << "an error box came too: " << user.texts.back();
    }
    EXPECT_EQ(Sites(1), 0);
    EXPECT_EQ(Readings(1), 0);
    EXPECT_EQ(Readings(2), 1);
    ASSERT_EQ(f->Model->rowCount(), 1);
    EXPECT_EQ(Cell(*f, 0, TSiteListModel::Name), "Rome");
    EXPECT_TRUE(Bold(*f, 0, 0));

    // The transaction goes on: a second deletion in the same showing works.
    {
        BoxAnswerer user({QMessageBox::Yes, QMessageBox::No});
        f->BitBtn2->click();
    }
    EXPECT_EQ(Sites(2), 0);
    EXPECT_EQ(f->Model->rowCount(), 0);
    {
        BoxAnswerer user({});
        f->BitBtn2->click();  // nothing left to delete: no question
        EXPECT_TRUE(user.texts.empty());
    }
}

TEST_F(SiteListTest, ASiteWithManyReadingsGoesInSlicesAndItsPagesAreClearedAtOnce) {
    AddSite(1, "Asiago");
    AddSite(2, "Rome");
    {
        // Readings of both sites, made inside the engine.
        fb::Transaction tr(data.dbKALO);
        tr.Start();
        const std::string block =
            "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 30000) DO BEGIN "
            "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_STATE) VALUES "
            "('k' || :I || '-' || MOD(:I, 2), 1 + MOD(:I, 2), DATEADD(:I MINUTE TO CAST('2020-01-01' AS DATE)), 20, 0); "
            "I = I + 1; END END";
        ISC_STATUS_ARRAY status;
        isc_dsql_execute_immediate(status, data.dbKALO.Handle(), tr.Handle(), 0, block.c_str(), 1, nullptr);
        fb::Check(status);
        tr.Commit();
    }
    // Records the engine removed for good, read through an attachment of its own.
    auto expunges = [this] {
        fb::Database other(data.DatabaseFile());
        other.Open();
        fb::Transaction tr(other);
        fb::Query q(tr);
        q.SetSQL("SELECT SUM(R.MON$RECORD_EXPUNGES) FROM MON$RECORD_STATS R "
                 "JOIN MON$DATABASE D ON D.MON$STAT_ID = R.MON$STAT_ID");
        q.Open();
        const int64_t n = q.Fields(0).IsNull() ? 0 : q.Fields(0).AsInteger();
        q.Close();
        return n;
    };
    ASSERT_TRUE(data.trKALO.Active());  // the data module's, open since the start
    auto f = Deleting();
    const int64_t before = expunges();
    {
        BoxAnswerer user({QMessageBox::Yes, QMessageBox::No});
        f->BitBtn2->click();
        EXPECT_EQ(user.texts.size(), 2u) << "an error box came too: " << user.texts.back();
    }
    EXPECT_EQ(Sites(1), 0);
    EXPECT_EQ(Readings(1), 0);
    EXPECT_EQ(Readings(2), 15000);
    // The engine removed the deleted readings for good before the dialog went on.
    EXPECT_GE(expunges() - before, 14000);
    EXPECT_TRUE(data.trKALO.Active());
    EXPECT_GT(data.tbNTPServers.RecordCount(), 0);
}

TEST_F(SiteListTest, ANameWithPercentSignsIsShownUnchanged) {
    LogBoxes();
    Answer("yes");  // yes to both: the site stays
    AddSite(5, "100% dark %s %d %%");
    TZSiteForm f(data.dbKALO);
    f.SetMode(TZSiteForm::Mode::Delete);
    f.BitBtn2Click();
    EXPECT_EQ(Messages(), "confirm: Delete the selected site?\n"
                          "confirm: By clicking NO Site \"100% dark %s %d %%\" and all its readings will be deleted!\r"
                          "Please note this can not be undone!\rCancel the operation?\n");
    EXPECT_EQ(Sites(5), 1);
}

}  // namespace
