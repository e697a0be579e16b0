// The site window's "Nights" page under QTest over a real database copy:
// the nights' table and the clear nights' chart, in the window's language.
#include <gtest/gtest.h>

#include <QTableWidget>

#include "core/site/nightquality.h"
#include "programs/desktop/siteform_test_support.h"

namespace {

using namespace sitewindowtest;

class SiteNights : public SiteReadings {
protected:
    // A clear night (a steady 21.30 with a meter's wobble, Sun and Moon
    // down) and a cloudy one, two nights apart, every five minutes.
    int AddNights() {
        const int id = AddSite("Roof", sim.Port());
        for (int m = 0; m < 4 * 60; m += 5) {
            AddReading(id, EncodeDateTime(2024, 3, 10, 21, 0, 0) + m / 1440.0, 21.3 + (m % 10 ? 0.01 : -0.01), 0);
            AddReading(id, EncodeDateTime(2024, 3, 12, 21, 0, 0) + m / 1440.0, 20 + (m % 15) * 0.1, 0);
        }
        return id;
    }
    static QString Cell(QTableWidget* t, int row, int col) { return t->item(row, col)->text(); }
};

TEST_F(SiteNights, ThePageShowsEachNightNewestFirstWithItsClassAndTheChart) {
    const int id = AddNights();
    TSiteForm* f = Open(id);
    Child<QDateEdit>(f, "dtNightsFrom")->setDate(QDate(2024, 3, 10));
    Child<QDateEdit>(f, "dtNightsTo")->setDate(QDate(2024, 3, 13));
    ShowPage(f, "tsNights");
    Click(f, "btnShowNights");
    auto* table = Child<QTableWidget>(f, "gridNights");
    ASSERT_EQ(table->rowCount(), 4);
    EXPECT_EQ(table->horizontalHeaderItem(5)->text(), "Sky brightness");
    EXPECT_EQ(Cell(table, 3, 0).toStdString(), FormatDateText(EncodeDate(2024, 3, 10), LanguageFormats()));
    EXPECT_EQ(Cell(table, 3, 1), "48");
    EXPECT_EQ(Cell(table, 3, 3), "48");
    EXPECT_EQ(Cell(table, 3, 5), "21.30");
    EXPECT_EQ(Cell(table, 3, 7), "clear");
    EXPECT_EQ(Cell(table, 2, 7), "no data");
    EXPECT_EQ(Cell(table, 1, 7), "cloudy");
    EXPECT_EQ(Cell(table, 1, 5), "");
    EXPECT_EQ(Cell(table, 0, 0).toStdString(), FormatDateText(EncodeDate(2024, 3, 13), LanguageFormats()));
    EXPECT_EQ(Text(f, "lblNightsTrend").toStdString(), "A trend needs at least 30 clear nights; there are 1.");
    // The same figures as every other program: kept in the database.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NIGHTSUMMARIES WHERE NSU_SITE=" + std::to_string(id)), 3);
    // The chart draws the clear night: something besides the white page.
    const QImage chart = Child<QWidget>(f, "ChartNights")->grab().toImage();
    ASSERT_FALSE(chart.isNull());
    EXPECT_GT(chart.width(), 100);
}

TEST_F(SiteNights, NightsBeforeTheirDatesAreNoneAndTheTableSaysSo) {
    const int id = AddNights();
    TSiteForm* f = Open(id);
    Child<QDateEdit>(f, "dtNightsFrom")->setDate(QDate(2024, 3, 13));
    Child<QDateEdit>(f, "dtNightsTo")->setDate(QDate(2024, 3, 10));
    ShowPage(f, "tsNights");
    Click(f, "btnShowNights");
    EXPECT_EQ(Child<QTableWidget>(f, "gridNights")->rowCount(), 0);
}

// Pictures of the page in each language, for looking at (KALO_SCREENSHOTS=folder).
TEST_F(SiteNights, ThePageRendersInEachLanguageForScreenshots) {
    const char* folder = getenv("KALO_SCREENSHOTS");
    if (!folder) GTEST_SKIP() << "KALO_SCREENSHOTS not set";
    std::filesystem::copy(KALO_LOCALE_DIR, dir.Path() / "Locale", std::filesystem::copy_options::recursive);
    const int id = AddNights();
    TSiteForm* f = Open(id);
    f->resize(1000, 700);
    Child<QDateEdit>(f, "dtNightsFrom")->setDate(QDate(2024, 3, 1));
    Child<QDateEdit>(f, "dtNightsTo")->setDate(QDate(2024, 3, 20));
    ShowPage(f, "tsNights");
    Click(f, "btnShowNights");
    for (const char* lang : {"en", "it", "de"}) {
        SwitchLanguage(lang);
        f->Retranslate();
        QTest::qWait(20);
        f->grab().save(QString::fromLatin1(folder) + QStringLiteral("/nights-%1.png").arg(QLatin1String(lang)));
    }
    SwitchLanguage("");
}

}  // namespace
