// Languages: the saved choice, the "Languages" menu of the main window and
// switching at run time with site windows open, over real catalogues built
// here with msgfmt under a temporary program folder.
#include <QActionGroup>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <clocale>
#include <fstream>
#include <set>

#include "gui/readingviews.h"
#include "programs/desktop/gui_test_support.h"
#include "core/station/i18n.h"
#include "core/site/languages.h"
#include "programs/desktop/mainform.h"
#include "programs/desktop/siteform.h"

namespace {

namespace fs = std::filesystem;
using guitest::Child;
using testsupport::ReadFile;
using Catalogue = std::vector<std::pair<std::string, std::string>>;

const Catalogue kItalian = {
    {"Site manager", "Gestione siti"},
    {"Languages", "Lingue"},
    {"Default", "Predefinita"},
    {"Close", "Chiudi"},
    {"Ver. ", "Versione "},
    {"SQM Readings", "Letture SQM"},
    {"Start SQM Readings", "Avvia letture SQM"},
    {"Stop SQM Readings", "Ferma letture SQM"},
    {"Continuous", "Continuo"},
    {"Night to view", "Notte da visualizzare"},
    {"From date", "Dalla data"},
    {"Date", "Data"},
    {"Inserting new SQM Site", "Inserimento nuovo sito SQM"},
};
const Catalogue kGerman = {
    {"Site manager", "Standortverwaltung"},
    {"Languages", "Sprachen"},
    {"Default", "Standard"},
    {"Window", "Fenster"},
    {"Close", "Schließen"},
    {"SQM Readings", "SQM-Messungen"},
    {"Start SQM Readings", "SQM-Messungen starten"},
    {"Stop SQM Readings", "SQM-Messungen beenden"},
    {"Date", "Datum"},
    {"Inserting new SQM Site", "Neuer SQM-Standort"},
};

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

std::string Setting(const std::string& name) { return "[LangageInfo]\r\nLanguageName=" + name + "\r\n"; }

// Locale/<code> with its LangName.ini and a catalogue made by msgfmt.
void Install(const fs::path& locale, const std::string& code, const std::string& name, const Catalogue& messages) {
    const fs::path dir = locale / code / "LC_MESSAGES";
    fs::create_directories(dir);
    WriteFile(locale / code / "LangName.ini", Setting(name));
    std::string po = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";
    for (const auto& [id, text] : messages) po += "msgid \"" + id + "\"\nmsgstr \"" + text + "\"\n\n";
    const fs::path source = locale.parent_path() / (code + ".po");
    WriteFile(source, po);
    const std::string command = "msgfmt -o '" + (dir / "default.mo").string() + "' '" + source.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string Text(const QString& s) { return s.toStdString(); }

// The folders of a folder as the file system lists them.
std::vector<std::string> ListedFolders(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_directory()) names.push_back(e.path().filename().string());
    return names;
}

class LanguageTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        LocalTimeServerOnly();
        locale = dir.Path() / "Locale";
        fs::create_directories(locale);
        unsetenv("LANGUAGE");
        numeric = std::setlocale(LC_NUMERIC, nullptr);
    }
    void TearDown() override {
        forms.clear();  // the site windows go before the data module
        GuiTest::TearDown();
        SwitchLanguage("");
        unsetenv("LANGUAGE");
        unsetenv("LC_ALL");
        std::setlocale(LC_MESSAGES, "");
    }
    void InstallBoth() {
        Install(locale, "it", "Italiano", kItalian);
        Install(locale, "de", "Deutsch", kGerman);
    }
    // Site 1 on a port where nothing answers; method 0 reads at once.
    void AddAsiago(int method, const std::string& code) {
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_ACQUIREMODE, "
             "SIT_INTERVAL, SIT_TIMEZONE, SIT_LATIT, SIT_LONG, SIT_AUTOSTART, SIT_AUTOUPLOAD, SIT_CODE) VALUES (1, "
             "'Asiago', '127.0.0.1', " + std::to_string(testsupport::ClosedPort()) + ", 1, " + std::to_string(method) +
             ", 5, 1, 45.8, 11.5, 0, 0, " + (code.empty() ? std::string("NULL") : "'" + code + "'") + ")");
    }
    TMainForm& Main() {
        forms.push_back(std::make_unique<TMainForm>(data, common, QStringList{"kalosqm", "noautoplay"}));
        return *forms.back();
    }
    QAction* Entry(TMainForm& m, const char* name) { return m.LanguageMenu()->findChild<QAction*>(name); }
    std::string Checked(TMainForm& m) {
        std::string names;
        for (QAction* a : m.LanguageEntries())
            if (a->isChecked()) names += Text(a->objectName()) + " ";
        return names;
    }
    std::string TopMenu(TMainForm& m, int i) { return Text(m.menuBar()->actions().value(i)->text()); }
    static void Save(QWidget* w, const std::string& name) {
        const std::string file = "/tmp/kalo-l10n-" + name + ".png";
        EXPECT_TRUE(w->grab().save(QString::fromStdString(file))) << file;
    }

    fs::path locale;
    std::string numeric;
    std::vector<std::unique_ptr<TMainForm>> forms;
};

TEST_F(LanguageTest, TheSavedCodeIsReadAndWrittenInItsSectionAndSubfoldersComeInTheFileSystemsOrder) {
    EXPECT_EQ(ReadSavedLanguage(), "") << "no file: the system's language";
    WriteFile(locale / "LangSettings.ini", "[Other]\r\nLanguageName=xx\r\n\r\n[LangageInfo]\r\nLanguageName= it \r\n");
    EXPECT_EQ(ReadSavedLanguage(), "it");
    SaveLanguage("de");
    EXPECT_EQ(ReadFile(locale / "LangSettings.ini"),
              "[Other]\r\nLanguageName=xx\r\n\r\n[LangageInfo]\r\nLanguageName=de\r\n");
    SaveLanguage("");
    EXPECT_EQ(ReadSavedLanguage(), "");
    WriteFile(locale / "LangSettings.ini", "[LanguageInfo]\r\nLanguageName=it\r\n");
    EXPECT_EQ(ReadSavedLanguage(), "") << "only the section of that spelling counts";

    for (const char* name : {"pt_BR", "it", "zz", "de", "fr"}) fs::create_directories(locale / name);
    const std::vector<std::string> listed = ListSubfolders(locale.string());
    EXPECT_EQ(listed, ListedFolders(locale));  // and without the settings file
    EXPECT_EQ(listed.size(), 5u);
    EXPECT_TRUE(ListSubfolders((locale / "it").string()).empty());
    EXPECT_TRUE(ListSubfolders((dir.Path() / "missing").string()).empty());

    fs::remove_all(locale);
    EXPECT_FALSE(LanguageFolderExists(""));
    SaveLanguage("it");  // the folder comes back for the file
    EXPECT_EQ(ReadFile(locale / "LangSettings.ini"), "[LangageInfo]\r\nLanguageName=it\r\n");
    EXPECT_TRUE(LanguageFolderExists(""));
    EXPECT_FALSE(LanguageFolderExists("it"));
}

TEST_F(LanguageTest, SwitchingAndTheSavedLanguageAtStartTakeEffectAtOnceEvenUnderTheCLocale) {
    InstallBoth();
    setenv("LC_ALL", "C", 1);
    std::setlocale(LC_ALL, "");
    const std::string numericBefore = std::setlocale(LC_NUMERIC, nullptr);
    SwitchLanguage("it");
    EXPECT_EQ(CurrentLanguage(), "it");
    EXPECT_EQ(Tr("Site manager"), "Gestione siti");
    EXPECT_EQ(Tr("Not in any catalogue"), "Not in any catalogue");
    SwitchLanguage("de");
    EXPECT_EQ(Tr("Close"), "Schließen");
    SwitchLanguage("en");  // no folder: the English texts
    EXPECT_EQ(Tr("Close"), "Close");
    SwitchLanguage("it");
    EXPECT_EQ(Tr("Close"), "Chiudi");
    SwitchLanguage("");
    EXPECT_EQ(CurrentLanguage(), "");
    EXPECT_EQ(Tr("Close"), "Close") << "the environment's language, C";

    // At start: the saved language, English when its folder is missing.
    WriteFile(locale / "LangSettings.ini", Setting("de"));
    ApplySavedLanguage();
    EXPECT_EQ(CurrentLanguage(), "de");
    EXPECT_EQ(Tr("Window"), "Fenster");
    WriteFile(locale / "LangSettings.ini", Setting("fr"));
    ApplySavedLanguage();
    EXPECT_EQ(CurrentLanguage(), "en");
    EXPECT_EQ(Tr("Window"), "Window");
    WriteFile(locale / "LangSettings.ini", Setting(""));
    ApplySavedLanguage();
    EXPECT_EQ(CurrentLanguage(), "") << "the system's language while Locale exists";
    fs::remove_all(locale);
    ApplySavedLanguage();
    EXPECT_EQ(CurrentLanguage(), "en");
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numericBefore);
}

TEST_F(LanguageTest, TheMenuFollowsSiteManagerWithDefaultThenEachFolderInListedOrder) {
    InstallBoth();
    fs::create_directories(locale / "xx");  // no LangName.ini: an empty caption
    WriteFile(locale / "LangSettings.ini", Setting(""));
    TMainForm& m = Main();
    ASSERT_GE(m.menuBar()->actions().size(), 3);
    EXPECT_EQ(TopMenu(m, 0), "Site manager");
    EXPECT_EQ(TopMenu(m, 1), "Languages");
    EXPECT_EQ(m.menuBar()->actions()[1]->menu(), m.LanguageMenu());

    std::vector<std::string> names{"miDefault"}, captions{"Default"}, codes{""};
    const std::map<std::string, std::string> display{{"it", "Italiano"}, {"de", "Deutsch"}, {"xx", ""}};
    for (const std::string& folder : ListedFolders(locale)) {
        names.push_back("mi_" + folder);
        captions.push_back(display.at(folder));
        codes.push_back(folder);
    }
    std::vector<std::string> gotNames, gotCaptions, gotCodes;
    for (QAction* a : m.LanguageMenu()->actions()) {
        gotNames.push_back(Text(a->objectName()));
        gotCaptions.push_back(Text(a->text()));
        gotCodes.push_back(Text(a->data().toString()));
        EXPECT_TRUE(a->isCheckable());
        EXPECT_EQ(a->actionGroup(), m.LanguageEntries().front()->actionGroup());
    }
    EXPECT_EQ(gotNames, names);
    EXPECT_EQ(gotCaptions, captions);
    EXPECT_EQ(gotCodes, codes);
    EXPECT_TRUE(m.LanguageEntries().front()->actionGroup()->isExclusive());
    EXPECT_EQ(Checked(m), "miDefault ");

    // No folder under Locale: "Default" alone.
    fs::remove_all(locale);
    fs::create_directories(locale);
    m.BuildLanguageMenu(QString());
    ASSERT_EQ(m.LanguageMenu()->actions().size(), 1);
    EXPECT_EQ(Text(m.LanguageMenu()->actions()[0]->text()), "Default");
    EXPECT_EQ(Checked(m), "miDefault ");
}

TEST_F(LanguageTest, ASavedItalianStartsMarkedAndEachEntrySwitchesAndIsSavedEvenWhenItsFolderIsGone) {
    InstallBoth();
    WriteFile(locale / "LangSettings.ini", Setting("it"));
    ApplySavedLanguage();
    TMainForm& m = Main();
    EXPECT_EQ(TopMenu(m, 0), "Gestione siti");
    EXPECT_EQ(TopMenu(m, 1), "Lingue");
    EXPECT_EQ(Text(Entry(m, "miDefault")->text()), "Predefinita");
    EXPECT_EQ(Text(Entry(m, "mi_it")->text()), "Italiano") << "a language's own name stays";
    EXPECT_EQ(Checked(m), "mi_it ");
    EXPECT_EQ(Text(m.StatusPanel(0)->text()).rfind("Versione ", 0), 0u);

    // "Default": an empty code saved, the system's language.
    Entry(m, "miDefault")->trigger();
    EXPECT_EQ(ReadFile(locale / "LangSettings.ini"), Setting(""));
    EXPECT_EQ(CurrentLanguage(), "");
    EXPECT_EQ(TopMenu(m, 0), "Site manager");
    EXPECT_EQ(Text(Entry(m, "miDefault")->text()), "Default");
    EXPECT_EQ(Checked(m), "miDefault ");
    EXPECT_EQ(Text(m.StatusPanel(0)->text()).rfind("Ver. ", 0), 0u);

    Entry(m, "mi_de")->trigger();
    EXPECT_EQ(ReadSavedLanguage(), "de");
    EXPECT_EQ(TopMenu(m, 0), "Standortverwaltung");
    EXPECT_EQ(Text(m.WindowMenu()->actions()[0]->text()), "Schließen");
    EXPECT_EQ(Checked(m), "mi_de ");

    // Its folder deleted since the menu was built: English, the choice kept.
    Entry(m, "mi_it")->trigger();
    fs::remove_all(locale / "de");
    Entry(m, "mi_de")->trigger();
    EXPECT_EQ(CurrentLanguage(), "en");
    EXPECT_EQ(TopMenu(m, 0), "Site manager");
    EXPECT_EQ(Text(m.WindowMenu()->title()), "Window");
    EXPECT_EQ(ReadSavedLanguage(), "de");
    EXPECT_EQ(Checked(m), "mi_de ");

    // Only the exact code marks an entry.
    WriteFile(locale / "LangSettings.ini", Setting("It"));
    m.BuildLanguageMenu(QString::fromStdString(ReadSavedLanguage()));
    EXPECT_EQ(Checked(m), "miDefault ");
}

TEST_F(LanguageTest, SwitchingBetweenLanguagesRetranslatesEveryOpenSiteWindowLeavingNoStaleText) {
    InstallBoth();
    AddAsiago(0, "");
    TMainForm& m = Main();
    m.resize(1300, 800);
    m.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m));
    TSiteForm* acquiring = m.OpenSiteWindow(1, false);
    TSiteForm* fresh = m.OpenSiteWindow(0, false);
    QTest::qWait(50);
    acquiring->StartOrStopReadings();  // the meter does not answer: it still runs
    ASSERT_TRUE(acquiring->Acquiring());

    auto tabTitle = [](TSiteForm* f) {
        auto* tabs = Child<QTabWidget>(f, "PageControl1");
        return Text(tabs->tabText(tabs->indexOf(Child<QWidget>(f, "tsReadingsScroll"))));
    };
    auto button = [](TSiteForm* f) { return Text(Child<QPushButton>(f, "btnStartReading")->text()); };
    auto method = [](TSiteForm* f) { return Text(Child<QRadioButton>(f, "rbMethod0")->text()); };
    auto header = [](TSiteForm* f) {
        return Text(Child<QTableView>(f, "gridLatest")->model()->headerData(0, Qt::Horizontal).toString());
    };
    auto frameTitle = [](TSiteForm* f) { return Text(f->parentWidget()->windowTitle()); };
    auto dateCaption = [](TSiteForm* f) { return Text(Child<QLabel>(f, "DateStartLabel")->text()); };
    Child<QRadioButton>(acquiring, "RadioGroup1_1")->click();  // a query by interval: its own caption
    Entry(m, "mi_it")->trigger();
    EXPECT_EQ(dateCaption(acquiring), "Dalla data");
    EXPECT_EQ(dateCaption(fresh), "Notte da visualizzare");
    for (TSiteForm* f : {acquiring, fresh}) {
        EXPECT_EQ(tabTitle(f), "Letture SQM");
        EXPECT_EQ(method(f), "Continuo");
        EXPECT_EQ(header(f), "Data");
    }
    EXPECT_EQ(button(acquiring), "Ferma letture SQM");
    EXPECT_EQ(button(fresh), "Avvia letture SQM");
    EXPECT_EQ(frameTitle(fresh), "Inserimento nuovo sito SQM");
    m.Area()->tileSubWindows();
    QTest::qWait(50);
    Save(&m, "main-it");
    Save(fresh, "site-it");

    // From one language to another: a text the second lacks goes back to English.
    Entry(m, "mi_de")->trigger();
    for (TSiteForm* f : {acquiring, fresh}) {
        EXPECT_EQ(tabTitle(f), "SQM-Messungen");
        EXPECT_EQ(header(f), "Datum");
        EXPECT_EQ(method(f), "Continuous") << "no German for it";
    }
    EXPECT_EQ(button(acquiring), "SQM-Messungen beenden");
    EXPECT_EQ(button(fresh), "SQM-Messungen starten");
    EXPECT_EQ(frameTitle(fresh), "Neuer SQM-Standort");
    Save(&m, "main-de");
    Save(acquiring, "site-de");
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numeric);
}

// The texts marked in the sources, as the catalogues are extracted (single
// lines without escapes or formats: enough to recognise a text on screen).
std::set<std::string> MarkedTexts(const fs::path& work) {
    const fs::path pot = work / "all.pot";
    const std::string command = "cd '" KALO_SOURCE_DIR "' && xgettext --keyword=Tr --keyword=T --keyword=N_ "
                                "--from-code=UTF-8 -o '" + pot.string() +
                                "' programs/desktop/*.cpp gui/*.cpp core/site/*.cpp core/station/*.cpp";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::set<std::string> texts;
    std::ifstream in(pot);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("msgid \"", 0) != 0 || line.size() < 9 || line.back() != '"') continue;
        const std::string id = line.substr(7, line.size() - 8);
        if (!id.empty() && id.find('\\') == std::string::npos && id.find('%') == std::string::npos) texts.insert(id);
    }
    return texts;
}

// Every text a window shows in its widgets, grids, tabs, menus and charts.
std::vector<std::string> ShownTexts(QWidget* root) {
    std::vector<std::string> t;
    auto add = [&t](const QString& s) { t.push_back(s.toStdString()); };
    for (QObject* o : root->findChildren<QObject*>()) {
        if (auto* l = qobject_cast<QLabel*>(o)) add(l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(o)) add(b->text());
        if (auto* g = qobject_cast<QGroupBox*>(o)) add(g->title());
        if (auto* a = qobject_cast<QAction*>(o)) add(a->text());
        if (auto* w = qobject_cast<QWidget*>(o)) add(w->windowTitle());
        if (auto* tabs = qobject_cast<QTabWidget*>(o))
            for (int i = 0; i < tabs->count(); ++i) add(tabs->tabText(i));
        if (auto* grid = qobject_cast<QTableView*>(o))
            for (int c = 0; c < grid->model()->columnCount(); ++c)
                add(grid->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
        if (auto* chart = qobject_cast<TReadingChart*>(o)) {
            const TPlotTexts texts = chart->Texts();
            for (const std::string& s : {*texts.TimeAxis, texts.ValueAxis, texts.Dark, texts.MoonUp, texts.Twilight,
                                         texts.NoReadings, texts.Dusk, texts.Dawn, texts.ReadingsMany})
                t.push_back(s);
            add(chart->Title());
        }
    }
    return t;
}

const char* const kOpen = "\xE2\x9F\xA6";  // the marks of the made-up language
const char* const kClose = "\xE2\x9F\xA7";

}  // namespace

TEST_F(LanguageTest, EveryTextOfTheWindowsFollowsASwitchThereAndBackAndCaptionsThatChangeLaterKeepToIt) {
    // A made-up language "xx" that brackets every marked text.
    const std::set<std::string> marked = MarkedTexts(dir.Path());
    ASSERT_GT(marked.size(), 150u);
    Catalogue pseudo;
    for (const std::string& id : marked) pseudo.emplace_back(id, kOpen + id + kClose);
    Install(locale, "xx", "Pseudo", pseudo);
    auto xx = [](const std::string& id) { return kOpen + id + kClose; };
    AddAsiago(1, "AB12");
    for (int h = 20; h <= 21; ++h)
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_STATE) VALUES "
             "('k" + std::to_string(h) + "', 1, '2011-03-11 " + std::to_string(h) + ":00:00', 20, 0, 0)");
    TMainForm& m = Main();
    m.resize(1000, 760);
    m.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m));
    TSiteForm* site = m.OpenSiteWindow(1, false);
    TSiteForm* fresh = m.OpenSiteWindow(0, false);
    auto* pages = Child<QTabWidget>(site, "PageControl1");
    for (int i = 0; i < pages->count(); ++i) pages->setCurrentIndex(i);  // each page as it shows itself
    // A night's query run: its chart title, statistics and rows too.
    pages->setCurrentWidget(Child<QWidget>(site, "tsDB"));
    Child<QDateEdit>(site, "DateStart")->setDate(QDate(2011, 3, 11));
    site->RunLocalQuery();
    auto* grid = Child<QTableView>(site, "gridQuery");
    ASSERT_EQ(grid->model()->rowCount(), 2);
    auto* chart = Child<TReadingChart>(site, "ChartQuery");
    const std::string night = Text(chart->Title()).substr(std::string("SQM Graph of the night: ").size());
    ASSERT_EQ(Text(chart->Title()), "SQM Graph of the night: " + night);
    // The other window acquiring, its real-time graph of the night shown.
    Child<QTabWidget>(fresh, "PageControl1")->setCurrentWidget(Child<QWidget>(fresh, "tsGrafico"));
    Child<QRadioButton>(fresh, "rbShow0")->click();
    auto* nightChart = Child<TReadingChart>(fresh, "ChartRealTime");
    ASSERT_EQ(Text(nightChart->Title()).rfind("Real time SQM graph of the night ", 0), 0u);
    site->StartOrStopReadings();  // the meter does not answer: it still runs
    ASSERT_TRUE(site->Acquiring());
    QTest::qWait(20);
    auto englishLeft = [&] {
        std::vector<std::string> english;
        for (const std::string& t : ShownTexts(&m))
            if (marked.count(t)) english.push_back(t);
        return english;
    };

    QSignalSpy headers(Child<QTableView>(site, "gridLatest")->model(), &QAbstractItemModel::headerDataChanged);
    Entry(m, "mi_xx")->trigger();
    QTest::qWait(20);  // the Window menu's old entries go
    EXPECT_EQ(englishLeft(), std::vector<std::string>()) << "left in English after the switch";
    EXPECT_EQ(headers.count(), 1) << "the grid asks for its titles again";
    EXPECT_EQ(Text(chart->Title()), xx("SQM Graph of the night: ") + night);
    EXPECT_EQ(Text(nightChart->Title()).rfind(xx("Real time SQM graph of the night "), 0), 0u);
    EXPECT_EQ(Text(Child<QLabel>(site, "lblStat0")->text()), "2") << "values stay";
    EXPECT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(Text(site->parentWidget()->windowTitle()), "Asiago") << "a title from data stays";

    // A caption that changes later keeps to the language, and so does a window opened later.
    site->StartOrStopReadings();
    EXPECT_EQ(Text(Child<QPushButton>(site, "btnStartReading")->text()), xx("Start SQM Readings"));
    Child<QRadioButton>(site, "RadioGroup1_1")->click();
    EXPECT_EQ(Text(Child<QLabel>(site, "DateStartLabel")->text()), xx("From date"));
    m.OpenSiteWindow(1, false);
    QTest::qWait(20);
    EXPECT_EQ(englishLeft(), std::vector<std::string>()) << "left in English in a window opened later";
    site->parentWidget()->showMaximized();
    pages->setCurrentWidget(Child<QWidget>(site, "tsDB"));
    QTest::qWait(20);
    Save(&m, "main-pseudo");

    Entry(m, "miDefault")->trigger();
    QTest::qWait(20);
    std::vector<std::string> left;
    for (const std::string& t : ShownTexts(&m))
        if (t.find(kOpen) != std::string::npos) left.push_back(t);
    EXPECT_EQ(left, std::vector<std::string>()) << "left in the made-up language after switching back";
    EXPECT_EQ(Text(chart->Title()), "SQM Graph of the night: " + night);
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numeric);
}
