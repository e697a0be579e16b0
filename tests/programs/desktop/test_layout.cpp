// The windows as a user sees them in English, Italian and German: nothing
// clipped when two site windows are tiled side by side, windows that open
// inside the visible area, a first start that uses the screen, and Qt's own
// texts (the boxes' buttons) and the grids' dates in the chosen language.
#include <QAbstractButton>
#include <QDateEdit>
#include <QDialog>
#include <QFileDialog>
#include <QRadioButton>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>

#include <cmath>

#include "core/site/languages.h"
#include "core/site/siterules.h"
#include "core/station/credentials.h"
#include "gui/buttonframe.h"
#include "gui/dialogs.h"
#include "gui/qtlanguage.h"
#include "programs/desktop/gui_test_support.h"
#include "programs/desktop/mainform.h"
#include "programs/desktop/settingsform.h"
#include "programs/desktop/siteform.h"

namespace {

namespace fs = std::filesystem;
using guitest::Child;

const char* const kLanguages[] = {"en", "it", "de"};

class Layout : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        LocalTimeServerOnly();
        UseBuiltCatalogues();
    }
    void TearDown() override {
        forms.clear();  // the site windows go before the data module
        SwitchLanguage("");
        SetLanguageListener(nullptr);
        unsetenv("LANGUAGE");
        GuiTest::TearDown();
    }
    // A site with a reading on the night of 11 March 2011, on a port where nothing answers.
    void AddSite(int id, const std::string& name) {
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_ACQUIREMODE, "
             "SIT_INTERVAL, SIT_TIMEZONE, SIT_LATIT, SIT_LONG, SIT_AUTOSTART, SIT_AUTOUPLOAD) VALUES (" +
             std::to_string(id) + ", '" + name + "', '127.0.0.1', " + std::to_string(testsupport::ClosedPort()) +
             ", 1, 2, 5, 1, 45.8, 11.5, 0, 0)");
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_STATE) VALUES "
             "('k" + std::to_string(id) + "', " + std::to_string(id) + ", '2011-03-11 20:00:00', 20, 0, 0)");
    }
    TMainForm& Main(QSize size = QSize(1600, 960)) {
        forms.push_back(std::make_unique<TMainForm>(data, common, QStringList{"kalosqm", "noautoplay"}));
        TMainForm& m = *forms.back();
        if (size.isValid()) m.resize(size);
        m.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&m));
        return m;
    }
    QAction* Entry(TMainForm& m, const std::string& code) {
        return m.LanguageMenu()->findChild<QAction*>(QString::fromStdString(code == "en" ? "miDefault" : "mi_" + code));
    }

    std::vector<std::unique_ptr<TMainForm>> forms;
};

// The widgets of a page that show less than their text needs.
std::vector<std::string> Clipped(QWidget* page) {
    std::vector<std::string> clipped;
    auto name = [](QWidget* w, const QString& text) {
        return w->objectName().toStdString() + " \"" + text.toStdString() + "\" " + std::to_string(w->width()) +
               " < " + std::to_string(w->sizeHint().width());
    };
    for (auto* b : page->findChildren<QAbstractButton*>())
        if (b->isVisibleTo(page) && !b->text().isEmpty() && b->width() < b->sizeHint().width())
            clipped.push_back(name(b, b->text()));
    for (auto* l : page->findChildren<QLabel*>())
        if (l->isVisibleTo(page) && !l->text().isEmpty() && !l->wordWrap() && l->width() < l->sizeHint().width())
            clipped.push_back(name(l, l->text()));
    for (auto* s : page->findChildren<QScrollArea*>())
        if (s->horizontalScrollBar()->isVisible()) clipped.push_back(s->objectName().toStdString() + " scrolls sideways");
    if (auto* s = qobject_cast<QScrollArea*>(page); s && s->horizontalScrollBar()->isVisible())
        clipped.push_back(s->objectName().toStdString() + " scrolls sideways");
    return clipped;
}

// Every page of every tiled window, in each language, on a 1600-pixel-wide
// main window, maximised or at its first-start size (85% of the screen).
class TiledLayout : public Layout, public ::testing::WithParamInterface<int> {};

TEST_P(TiledLayout, TwoWindowsTiledSideBySideClipNothingOnAnyPageInAnyLanguage) {
    AddSite(1, "Roof of the observatory");
    TMainForm& m = Main(QSize(GetParam(), GetParam() * 6 / 10));
    std::vector<TSiteForm*> sites{m.OpenSiteWindow(1, false), m.OpenSiteWindow(0, false)};
    m.mnuTileVerticallyClick();
    QTest::qWait(50);
    for (const char* language : kLanguages) {
        Entry(m, language)->trigger();
        for (TSiteForm* f : sites) {
            ASSERT_LE(f->parentWidget()->width(), 800) << "tiled";
            auto* tabs = Child<QTabWidget>(f, "PageControl1");
            EXPECT_LE(tabs->tabBar()->sizeHint().width(), tabs->width()) << language << ": the tabs scroll";
            for (int i = 0; i < tabs->count(); ++i) {
                if (!tabs->isTabVisible(i)) continue;
                tabs->setCurrentIndex(i);
                QTest::qWait(20);
                EXPECT_EQ(Clipped(tabs->widget(i)), std::vector<std::string>())
                    << language << ", " << f->windowTitle().toStdString() << ", page " << i;
            }
            EXPECT_EQ(Clipped(Child<QWidget>(f, "ButtonFrame1")), std::vector<std::string>()) << language;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(MainWindowWidths, TiledLayout, ::testing::Values(1600, 1360));

// Three windows tiled on the screens users have: every page's tab can be
// reached (it fits, or the tab bar scrolls to it), no control of a page or of
// the edit bar is cut, and the site and network pages need no sideways
// scrolling, in every language.
class ThreeTiled : public Layout, public ::testing::WithParamInterface<QSize> {};

TEST_P(ThreeTiled, EveryPageIsReachableAndNoButtonIsCutInAnyLanguage) {
    AddSite(1, "Roof of the observatory");
    AddSite(2, "Garden");
    AddSite(3, "Mountain hut");
    TMainForm& m = Main(GetParam());
    std::vector<TSiteForm*> sites{m.OpenSiteWindow(1, false), m.OpenSiteWindow(2, false), m.OpenSiteWindow(3, false)};
    m.mnuTileVerticallyClick();
    QTest::qWait(50);
    for (const char* language : kLanguages) {
        Entry(m, language)->trigger();
        QTest::qWait(20);
        for (TSiteForm* f : sites) {
            auto* tabs = Child<QTabWidget>(f, "PageControl1");
            QTabBar* bar = tabs->tabBar();
            ASSERT_LE(f->parentWidget()->width(), GetParam().width() / 3 + 20) << "tiled";
            for (int i = 0; i < tabs->count(); ++i) {
                if (!tabs->isTabVisible(i)) continue;
                bar->setCurrentIndex(i);
                QTest::qWait(10);
                // The current tab is scrolled into the bar's sight, as a click on an arrow would.
                const QRect shown = bar->tabRect(i).intersected(bar->rect());
                EXPECT_GE(shown.width(), bar->tabRect(i).width() * 9 / 10)
                    << language << ", " << f->windowTitle().toStdString() << ": tab " << i << " out of sight";
                EXPECT_LE(bar->mapTo(f, bar->rect().topRight()).x(), f->width())
                    << language << ": the tab bar runs past the window";
                // A page may scroll sideways here (every control reachable), but none is cut;
                // the site's and the network's pages wrap and never scroll sideways.
                std::vector<std::string> cut = Clipped(tabs->widget(i));
                std::erase_if(cut, [](const std::string& c) {
                    return c.ends_with("scrolls sideways") && !c.starts_with("tsSite") && !c.starts_with("tsNetwork");
                });
                EXPECT_EQ(cut, std::vector<std::string>())
                    << language << ", " << f->windowTitle().toStdString() << ", page " << i;
            }
            EXPECT_EQ(Clipped(Child<QWidget>(f, "ButtonFrame1")), std::vector<std::string>()) << language;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, ThreeTiled, ::testing::Values(QSize(1600, 1000), QSize(1366, 768)));

TEST_F(Layout, AFirstStartUsesMostOfTheScreenAndEveryNewSiteWindowOpensInsideTheArea) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    TMainForm& first = Main(QSize());
    EXPECT_TRUE(screen.contains(first.frameGeometry())) << "on the screen";
    EXPECT_GE(first.width(), screen.width() * 3 / 4);
    EXPECT_GE(first.height(), screen.height() * 3 / 4);
    forms.clear();

    AddSite(1, "Asiago");
    AddSite(2, "Padova");
    TMainForm& m = Main(QSize(1000, 700));
    const QRect area = m.Area()->viewport()->rect();
    // A placement saved in a larger main window, far to the right and below.
    {
        QMdiSubWindow probe;
        probe.setGeometry(900, 500, 700, 500);
        QSettings ini(QString::fromStdString(TSiteRules::SettingsFile(2)), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Placement/Geometry"), probe.saveGeometry());
    }
    for (int id : {1, 2, 0, 0, 0, 0, 0}) {
        TSiteForm* f = m.OpenSiteWindow(id, false);
        QTest::qWait(20);
        const QRect frame = f->parentWidget()->geometry();
        EXPECT_TRUE(area.contains(frame)) << "site " << id << ": " << frame.x() << "," << frame.y() << " "
                                          << frame.width() << "x" << frame.height();
    }
}

// A main or site window saved on a larger screen (1600x1000 on a 1366x768 one)
// reopens with its frame, title bar and status bar inside this screen.
TEST_F(Layout, AWindowSavedOnALargerScreenReopensInsideThisOne) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QString file = QString::fromStdString(dir.Str() + "/WinSetup/MainForm.ini");
    const auto saveAt = [&](const QRect& where) {
        QWidget probe;
        probe.setGeometry(where);
        probe.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
        QSettings ini(file, QSettings::IniFormat);
        ini.setValue(QStringLiteral("Placement/Geometry"), probe.saveGeometry());
    };
    const auto opened = [&]() -> TMainForm& {
        forms.push_back(std::make_unique<TMainForm>(data, common, QStringList{"kalosqm", "noautoplay"}));
        TMainForm& m = *forms.back();
        m.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&m));
        QTest::qWait(20);
        return m;
    };
    const QSize larger = screen.size() * 1.3;
    for (const QRect& saved : {QRect(screen.topLeft() + QPoint(200, 150), larger),  // larger, right and below
                               QRect(screen.right() - 100, screen.bottom() - 80, 600, 400),  // its corner out of sight
                               QRect(screen.left() - 300, screen.top() - 200, 600, 400)}) {
        saveAt(saved);
        TMainForm& m = opened();
        const QRect frame = m.frameGeometry();
        EXPECT_TRUE(screen.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                            << frame.height() << " saved " << saved.width() << "x" << saved.height();
        const QRect status(m.statusBar()->mapToGlobal(QPoint(0, 0)), m.statusBar()->size());
        EXPECT_TRUE(screen.contains(status)) << "the status bar in sight";
        forms.clear();
    }
    // A placement that fits is kept as it was.
    const QRect fits(screen.topLeft() + QPoint(40, 60), screen.size() / 2);
    saveAt(fits);
    TMainForm& m = opened();
    EXPECT_EQ(m.geometry(), fits);
    forms.clear();

    // A site window of its own (no main window around it) likewise.
    AddSite(1, "Asiago");
    {
        QWidget probe;
        probe.setGeometry(QRect(screen.topLeft() + QPoint(300, 250), larger));
        probe.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
        QSettings ini(QString::fromStdString(TSiteRules::SettingsFile(1)), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Placement/Geometry"), probe.saveGeometry());
    }
    TSiteForm site(data, common, 1, false);
    site.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&site));
    QTest::qWait(20);
    EXPECT_TRUE(screen.contains(site.frameGeometry()))
        << site.frameGeometry().x() << "," << site.frameGeometry().y() << " " << site.frameGeometry().width() << "x"
        << site.frameGeometry().height();
}

TEST_F(Layout, CreateNewWhileAWindowIsMaximisedOpensMaximisedCoveringTheOther) {
    AddSite(1, "Asiago");
    TMainForm& m = Main(QSize(1000, 700));
    TSiteForm* site = m.OpenSiteWindow(1, false);
    site->parentWidget()->showMaximized();
    QTest::qWait(20);
    m.mnuCreateNewClick();
    QTest::qWait(50);
    auto* fresh = qobject_cast<QMdiSubWindow*>(m.Area()->activeSubWindow());
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh->widget(), site);
    EXPECT_TRUE(fresh->isMaximized());
    EXPECT_EQ(fresh->geometry(), m.Area()->viewport()->rect()) << "the maximised window below stays hidden";
}

TEST_F(Layout, TheBoxesButtonsAndTheGridsDatesFollowTheChosenLanguage) {
    AddSite(1, "Asiago");
    TMainForm& m = Main(QSize(1000, 700));
    TSiteForm* f = m.OpenSiteWindow(1, false);
    auto* grid = Child<QTableView>(f, "gridLatest");
    ASSERT_EQ(grid->model()->rowCount(), 1);
    struct Case {
        const char* language;
        const char* yes;
        const char* no;
        const char* date;  // how 11 March 2011 starts; English: the system's format
    };
    for (const Case& c : {Case{"de", "Ja", "Nein", "11.03.11"}, Case{"it", "Sì", "No", "11/03/11"},
                          Case{"en", "Yes", "No", nullptr}}) {
        Entry(m, c.language)->trigger();
        RealBoxes();
        QStringList buttons;
        guitest::WhenModal<QMessageBox>([&buttons](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons()) buttons.append(b->text().remove(QLatin1Char('&')));
            box->button(QMessageBox::No)->click();
        });
        EXPECT_FALSE(dialogs::Confirm(QStringLiteral("?"), &m));
        buttons.sort();
        QStringList expected{QString::fromUtf8(c.yes), QString::fromUtf8(c.no)};
        expected.sort();
        EXPECT_EQ(buttons, expected) << c.language;
        const QString date = grid->model()->index(0, 0).data().toString();
        if (c.date) EXPECT_TRUE(date.startsWith(QLatin1String(c.date))) << c.language << ": " << date.toStdString();
    }
    LogBoxes();
}

// Pictures of every page, tiled and maximised, in each language, for looking
// at (KALO_SCREENSHOTS=folder; tools/screenshots.sh runs it under a real X
// server with a window manager, where the whole screen is taken too).
TEST_F(Layout, PagesInEveryLanguageRenderForScreenshots) {
    const char* folder = getenv("KALO_SCREENSHOTS");
    if (!folder) GTEST_SKIP() << "KALO_SCREENSHOTS not set";
    AddSite(1, "Roof of the observatory");
    AddSite(2, "Garden");
    AddSite(3, "Mountain hut");
    Exec("UPDATE SQMSITES SET SIT_ACQUIREMODE=0, SIT_INTERVAL=1 WHERE SIT_ID=3");  // continuous
    for (int m = 0; m < 10 * 60; m += 5) {
        const double v = 19.0 + 2.0 * std::sin(m / 600.0 * 3.14159);
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
             "REA_STATE, REA_UPLOADED) VALUES ('s" + std::to_string(m) + "', 1, DATEADD(" + std::to_string(m) +
             " MINUTE TO TIMESTAMP '2011-03-11 19:00:00'), " + std::to_string(v) + ", 0, 8.5, 0, 1)");
    }
    Exec("UPDATE SQMSITES SET SIT_CODE='GARDEN1' WHERE SIT_ID=2");  // a code with no credentials file
    TMainForm& m = Main(QSize());
    m.showMaximized();  // the tiled width of a user's screen
    std::vector<TSiteForm*> sites{m.OpenSiteWindow(1, false), m.OpenSiteWindow(2, false)};
    const QString out = QString::fromLatin1(folder) + QLatin1Char('/');
    auto shoot = [&](const QString& name) {
        QTest::qWait(150);
        m.grab().save(out + name + QStringLiteral(".png"));
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            QGuiApplication::primaryScreen()->grabWindow(0).save(out + name + QStringLiteral("-screen.png"));
    };
    for (const char* language : kLanguages) {
        Entry(m, language)->trigger();
        const QString lang = QString::fromLatin1(language);
        for (TSiteForm* f : sites) {
            Child<QDateEdit>(f, "DateStart")->setDate(QDate(2011, 3, 11));
            auto* tabs = Child<QTabWidget>(f, "PageControl1");
            tabs->setCurrentWidget(Child<QWidget>(f, "tsDB"));
            f->RunLocalQuery();
        }
        for (bool maximised : {false, true}) {
            if (maximised)
                sites[0]->parentWidget()->showMaximized();
            else
                m.mnuTileVerticallyClick();
            auto* tabs = Child<QTabWidget>(sites[0], "PageControl1");
            for (int i = 0; i < tabs->count(); ++i) {
                if (!tabs->isTabVisible(i)) continue;
                tabs->setCurrentIndex(i);
                if (!maximised) Child<QTabWidget>(sites[1], "PageControl1")->setCurrentIndex(i);
                shoot(QStringLiteral("%1-%2-page%3").arg(lang, maximised ? QStringLiteral("max") : QStringLiteral("tiled")).arg(i));
            }
            sites[0]->parentWidget()->showNormal();
        }
        // A night without readings says so.
        m.mnuTileVerticallyClick();
        for (TSiteForm* f : sites) Child<QTabWidget>(f, "PageControl1")->setCurrentWidget(Child<QWidget>(f, "tsDB"));
        Child<QDateEdit>(sites[1], "DateStart")->setDate(QDate(2011, 3, 12));
        sites[1]->RunLocalQuery();
        shoot(lang + QStringLiteral("-empty-night"));

        // Three windows tiled, page by page; the third reads every minute
        // from a port where nothing answers, so its failed reading is in sight.
        TSiteForm* third = m.OpenSiteWindow(3, false);
        m.mnuTileVerticallyClick();
        third->StartOrStopReadings();
        guitest::WaitFor([third] { return Child<QLabel>(third, "lblLastFailure")->isVisibleTo(third); }, 10000);
        third->StartOrStopReadings();
        for (int i = 0; i < Child<QTabWidget>(third, "PageControl1")->count(); ++i) {
            for (TSiteForm* f : {sites[0], sites[1], third}) Child<QTabWidget>(f, "PageControl1")->setCurrentIndex(i);
            shoot(lang + QStringLiteral("-three-page%1").arg(i));
        }
        // "Save graph": its file types and Qt's own dialog, folders by type.
        guitest::WhenModal<QFileDialog>([&](QFileDialog* d) {
            d->setViewMode(QFileDialog::Detail);
            d->setDirectory(QString::fromStdString(dir.Str()));
            QTest::qWait(400);
            d->grab().save(out + lang + QStringLiteral("-save-graph.png"));
            d->reject();
        });
        sites[0]->SaveChart(TSiteForm::TChart::Query);
        third->parentWidget()->close();
        QTest::qWait(50);

        // A night's chart beside its statistics, in the language's numbers.
        m.mnuTileVerticallyClick();
        Child<QDateEdit>(sites[1], "DateStart")->setDate(QDate(2011, 3, 11));
        Child<QTabWidget>(sites[1], "PageControl1")->setCurrentWidget(Child<QWidget>(sites[1], "tsDB"));
        Child<QTabWidget>(sites[0], "PageControl1")->setCurrentWidget(Child<QWidget>(sites[0], "tsDB"));
        Child<QDateEdit>(sites[0], "DateStart")->setDate(QDate(2011, 3, 11));
        sites[0]->RunLocalQuery();
        Child<QTabWidget>(sites[0], "PageControl2")->setCurrentIndex(1);
        Child<QTabWidget>(sites[1], "PageControl2")->setCurrentIndex(2);
        sites[1]->RunLocalQuery();
        shoot(lang + QStringLiteral("-query-chart-statistics"));
        for (TSiteForm* f : sites) Child<QTabWidget>(f, "PageControl2")->setCurrentIndex(0);
        guitest::WhenModal<TSettingsForm>([&](TSettingsForm* d) {
            QTest::qWait(150);
            d->grab().save(out + lang + QStringLiteral("-settings.png"));
            d->reject();
        });
        m.mnuSettingsClick();

        // The boxes of a second start of an acquiring site and of a check
        // without a credentials file, as the user gets them.
        RealBoxes();
        const auto shootBox = [&](const QString& name, const std::function<void()>& act) {
            bool shot = false;
            guitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
                QTest::qWait(150);
                box->grab().save(out + lang + QLatin1Char('-') + name + QStringLiteral(".png"));
                box->accept();
                shot = true;
            });
            act();
            guitest::WaitFor([&shot] { return shot; }, 20000);
        };
        sites[0]->StartOrStopReadings();
        {
            TSiteForm second(data, common, 1, false);
            shootBox(QStringLiteral("second-start"), [&] { second.StartOrStopReadings(); });
        }
        sites[0]->StartOrStopReadings();
        shootBox(QStringLiteral("no-credentials"), [&] { sites[1]->CheckNetworkConnection(); });
        fs::create_directories(dir.Path() / "crdfiles");
        WriteCredentialsFile(CredentialsFileName("GARDEN1"),
                             {.SiteCode = "GARDEN1", .User = "u", .Password = "p", .Host = "127.0.0.1",
                              .Port = testsupport::ClosedPort(), .Database = "noctila", .Upload = true});
        shootBox(QStringLiteral("refused"), [&] { sites[1]->CheckNetworkConnection(); });
        fs::remove(CredentialsFileName("GARDEN1"));
        LogBoxes();
    }

    // The main window reopened from a placement saved on a larger screen,
    // drawn where it lies on this one (offscreen windows have no frame).
    forms.clear();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        QWidget probe;
        probe.setGeometry(QRect(screen.topLeft() + QPoint(200, 150), screen.size() * 1.3));
        probe.show();
        QTest::qWaitForWindowExposed(&probe);
        QSettings ini(QString::fromStdString(dir.Str() + "/WinSetup/MainForm.ini"), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Placement/Geometry"), probe.saveGeometry());
    }
    TMainForm& again = Main(QSize());
    QTest::qWait(150);
    QImage picture(QGuiApplication::primaryScreen()->geometry().size(), QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    {
        QPainter painter(&picture);
        painter.drawPixmap(again.geometry().topLeft(), again.grab());
        painter.setPen(QPen(Qt::red, 1));
        painter.drawRect(again.frameGeometry().adjusted(0, 0, -1, -1));
    }
    picture.save(out + QStringLiteral("reopened-screen.png"));
}

}  // namespace
