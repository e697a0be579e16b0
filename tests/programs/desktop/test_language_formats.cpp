// What the windows write for a person in Italian and German, over the real
// catalogues of this build: one rule for numbers and dates in every window
// (grids, statistics, chart axes, coordinates, the nights, the latest
// reading), the causes of a failed reading in the language, and the words of
// the file dialogs, Qt's own included.
#include <QAbstractFileIconProvider>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>

#include "core/site/languages.h"
#include "core/station/i18n.h"
#include "gui/qtlanguage.h"
#include "gui/readingviews.h"
#include "programs/desktop/gui_test_support.h"
#include "programs/desktop/siteform.h"

namespace {

namespace fs = std::filesystem;
using guitest::Child;

class LanguageRule : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        LocalTimeServerOnly();
        UseBuiltCatalogues();
        // Continuous readings every minute from a port where nothing listens,
        // at 45.8 N 11.5 E, with two readings on the night of 11 March 2011.
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_ACQUIREMODE, "
             "SIT_INTERVAL, SIT_TIMEZONE, SIT_LATIT, SIT_LONG, SIT_AUTOSTART, SIT_AUTOUPLOAD) VALUES (1, 'Roof', "
             "'127.0.0.1', " + std::to_string(testsupport::ClosedPort()) + ", 1, 0, 1, 1, 45.8, 11.5, 0, 0)");
        for (const char* row : {"'k1', 1, '2011-03-11 20:00:00', 20.25", "'k2', 1, '2011-03-11 21:00:00', 21.50"})
            Exec(std::string("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, "
                             "REA_SQMTEMP, REA_STATE) VALUES (") + row + ", 0, 8.5, 0)");
    }
    void TearDown() override {
        SwitchLanguage("");
        SetLanguageListener(nullptr);
        unsetenv("LANGUAGE");
        GuiTest::TearDown();
    }
    static QString Cell(QTableView* g, int row, int col) { return g->model()->index(row, col).data().toString(); }
};

struct Case {
    const char* language;
    const char* dateTime;        // 11 March 2011, 21:00 UTC as the grids write it
    QString stampPattern;        // any date-time so written
    const char* cannotConnect;   // the translation of "cannot connect: %1" up to its argument
    const char* bitmaps;         // of "Bitmaps"
    const char* folder;          // Qt's word for a folder in the file dialog
};

const Case kCases[] = {
    {"it", "11/03/11 21:00:00", QStringLiteral("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d"), "impossibile connettersi: ",
     "Immagini bitmap", "Cartella"},
    {"de", "11.03.11 21:00:00", QStringLiteral("\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d"),
     "keine Verbindung möglich: ", "Bitmap-Bilder", "Verzeichnis"},
};

TEST_F(LanguageRule, EveryWindowWritesNumbersAndDatesByTheLanguagesOneRule) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.language);
        SwitchLanguage(c.language);
        TSiteForm f(data, common, 1, false);
        f.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));

        auto* latest = Child<QTableView>(&f, "gridLatest");
        ASSERT_EQ(latest->model()->rowCount(), 2);
        EXPECT_EQ(Cell(latest, 0, 0).toStdString(), c.dateTime);
        EXPECT_EQ(Cell(latest, 0, 1).toStdString(), "21,50");

        // The query's grid, statistics, chart title and axis.
        Child<QTabWidget>(&f, "PageControl1")->setCurrentWidget(Child<QWidget>(&f, "tsDB"));
        Child<QDateEdit>(&f, "DateStart")->setDate(QDate(2011, 3, 11));
        f.RunLocalQuery();
        auto* grid = Child<QTableView>(&f, "gridQuery");
        ASSERT_EQ(grid->model()->rowCount(), 2);
        EXPECT_EQ(Cell(grid, 0, 0).toStdString(), c.dateTime);
        EXPECT_EQ(Cell(grid, 0, 1).toStdString(), "21,50");
        EXPECT_EQ(Child<QLabel>(&f, "lblStat1")->text().toStdString(), "20,88") << "the average";
        EXPECT_EQ(Child<QLabel>(&f, "lblStat4")->text().toStdString(), "21,50") << "the maximum";
        auto* chart = Child<TReadingChart>(&f, "ChartQuery");
        const std::string date = std::string(c.dateTime).substr(0, 8);
        EXPECT_NE(chart->Title().toStdString().find(date), std::string::npos) << chart->Title().toStdString();
        EXPECT_EQ(chart->Texts().DecimalSeparator, ",") << "the sky brightness axis";

        // The nights' table.
        Child<QDateEdit>(&f, "dtNightsFrom")->setDate(QDate(2011, 3, 11));
        Child<QDateEdit>(&f, "dtNightsTo")->setDate(QDate(2011, 3, 11));
        Child<QTabWidget>(&f, "PageControl1")->setCurrentWidget(Child<QWidget>(&f, "tsNights"));
        Child<QPushButton>(&f, "btnShowNights")->click();
        auto* nights = Child<QTableWidget>(&f, "gridNights");
        ASSERT_EQ(nights->rowCount(), 1);
        EXPECT_EQ(nights->item(0, 0)->text().toStdString(), date);

        // The coordinates as the site page shows them.
        const QString latitude = Child<QLineEdit>(&f, "edLatit")->text();
        EXPECT_TRUE(latitude.startsWith(QStringLiteral("45,8"))) << latitude.toStdString();

        // A failed reading: its time and its cause in the language, and the
        // system's own words after them.
        auto* failure = Child<QLabel>(&f, "lblLastFailure");
        f.StartOrStopReadings();
        guitest::WaitFor([failure, &f] { return failure->isVisibleTo(&f); }, 10000);
        f.StartOrStopReadings();
        const QString text = failure->text();
        EXPECT_TRUE(text.contains(QRegularExpression(c.stampPattern))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.cannotConnect))) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("cannot connect"))) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("Socket error"))) << text.toStdString();

        // A window open across a switch writes its fields the new way.
        SwitchLanguage("en");
        f.Retranslate();
        EXPECT_TRUE(Child<QLineEdit>(&f, "edLatit")->text().startsWith(QStringLiteral("45.8")));
        EXPECT_EQ(Cell(grid, 0, 1).toStdString(), "21.50");
        f.close();
    }
}

TEST_F(LanguageRule, TheFileDialogsOfferTheirTypesAndQtsWordsInTheLanguage) {
    SwitchLanguage("en");
    {
        TSiteForm f(data, common, 1, false);
        QString filters;
        f.SetFileChooser([&filters](const QString& offered, const QString&) {
            filters = offered;
            return QString();
        });
        Child<QDateEdit>(&f, "DateStart")->setDate(QDate(2011, 3, 11));
        f.RunLocalQuery();
        f.ExportQuery();
        EXPECT_EQ(filters.toStdString(), "Text files (*.txt);;CSV files (*.csv)");
    }
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.language);
        SwitchLanguage(c.language);
        TSiteForm f(data, common, 1, false);
        QString filters;
        f.SetFileChooser([&filters](const QString& offered, const QString&) {
            filters = offered;
            return QString();
        });
        f.SaveChart(TSiteForm::TChart::Query);
        EXPECT_TRUE(filters.startsWith(QString::fromUtf8(c.bitmaps) + QStringLiteral(" (*.bmp);;")))
            << filters.toStdString();
        EXPECT_FALSE(filters.contains(QStringLiteral("Metafiles"))) << filters.toStdString();
        // The type column of Qt's own file dialog.
        EXPECT_EQ(QAbstractFileIconProvider().type(QFileInfo(QDir::tempPath())).toStdString(), c.folder);
    }
    SwitchLanguage("en");
    EXPECT_EQ(QAbstractFileIconProvider().type(QFileInfo(QDir::tempPath())).toStdString(), "Folder");
}

}  // namespace
