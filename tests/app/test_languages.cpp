// Languages: the saved choice, the "Languages" menu of the main window and
// switching at run time with site windows open, over real catalogues built
// here with msgfmt under a temporary program folder.
#include <gtest/gtest.h>

#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QChart>
#include <QChartView>
#include <QHeaderView>
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
#include <QTest>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <set>

#include "datamodule.h"
#include "fbdb.h"
#include "i18n.h"
#include "languages.h"
#include "mainform.h"
#include "myutils.h"
#include "qtsupport.h"
#include "siteform.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::App;
using testsupport::ReadFile;
using Messages = std::vector<std::pair<std::string, std::string>>;

const Messages kItalian = {
    {"Site manager", "Gestione siti"},
    {"Languages", "Lingue"},
    {"Default", "Predefinita"},
    {"Window", "Finestra"},
    {"Close", "Chiudi"},
    {"Ver. ", "Versione "},
    {"SQM Readings", "Letture SQM"},
    {"Start SQM Readings", "Avvia letture SQM"},
    {"Stop SQM Readings", "Ferma letture SQM"},
    {"Acquisition method", "Metodo di acquisizione"},
    {"Continuous", "Continuo"},
    {"Night to view", "Notte da visualizzare"},
    {"From date", "Dalla data"},
    {"Date", "Data"},
    {"Inserting new SQM Site", "Inserimento nuovo sito SQM"},
    {"Real time SQM graph of the night ", "Grafico SQM in tempo reale della notte "},
};
const Messages kGerman = {
    {"Site manager", "Standortverwaltung"},
    {"Languages", "Sprachen"},
    {"Default", "Standard"},
    {"Window", "Fenster"},
    {"Close", "Schließen"},
    {"SQM Readings", "SQM-Messungen"},
    {"Start SQM Readings", "SQM-Messungen starten"},
    {"Stop SQM Readings", "SQM-Messungen beenden"},
    {"Acquisition method", "Erfassungsmethode"},
    {"Night to view", "Anzuzeigende Nacht"},
    {"From date", "Ab Datum"},
    {"Date", "Datum"},
    {"Inserting new SQM Site", "Neuer SQM-Standort"},
    {"Real time SQM graph of the night ", "SQM-Echtzeitgrafik der Nacht "},
};

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

std::string Setting(const std::string& name) { return "[LangageInfo]\r\nLanguageName=" + name + "\r\n"; }

// Locale/<code> with its LangName.ini and a catalogue made by msgfmt.
void Install(const fs::path& locale, const std::string& code, const std::string& name, const Messages& messages) {
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

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        SetProgramDir(dir.Str());
        locale = dir.Path() / "Locale";
        fs::create_directories(locale);
        unsetenv("LANGUAGE");
        numeric = std::setlocale(LC_NUMERIC, nullptr);
    }
    void TearDown() override {
        forms.clear();  // the site windows go before the data module
        Data = nullptr;
        SwitchLanguage("");
        unsetenv("LANGUAGE");
        unsetenv("LC_ALL");
        std::setlocale(LC_MESSAGES, "");
        unsetenv("KALOSQM_MESSAGE_LOG");
    }
    void InstallBoth() {
        Install(locale, "it", "Italiano", kItalian);
        Install(locale, "de", "Deutsch", kGerman);
    }
    void OpenData() {
        testsupport::CopyPristineDb(dir.Path());
        const std::string log = (dir.Path() / "messages.txt").string();
        setenv("KALOSQM_MESSAGE_LOG", log.c_str(), 1);  // boxes go to the file, nothing waits
        ASSERT_TRUE(data.DataModuleCreate());
        Data = &data;
        Exec("UPDATE SETTINGS SET SET_USEINTERTETTIME=0, SET_UPLOADDATA=0 WHERE SET_ID=1");
        Exec("DELETE FROM NTPSERVERS");
    }
    void Exec(const std::string& sql) {
        fb::Query q(data.trKALO);
        q.SetSQL(sql);
        q.ExecSQL();
        data.trKALO.CommitRetaining();
    }
    // Site 1 on a port where nothing answers; method 0 reads at once.
    void AddAsiago(int method, const std::string& code) {
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEOUT, SIT_ACQUIREMODE, "
             "SIT_INTERVAL, SIT_TIMEZONE, SIT_LATIT, SIT_LONG, SIT_AUTOSTART, SIT_AUTOUPLOAD, SIT_CODE) VALUES (1, "
             "'Asiago', '127.0.0.1', " + std::to_string(testsupport::ClosedPort()) + ", 1, " + std::to_string(method) +
             ", 5, 1, 45.8, 11.5, 0, 0, " + (code.empty() ? std::string("NULL") : "'" + code + "'") + ")");
    }
    TMainForm& Main() {
        forms.push_back(std::make_unique<TMainForm>(QStringList{"kalosqm", "noautoplay"}));
        return *forms.back();
    }
    QAction* Entry(TMainForm& m, const char* name) { return m.LanguageMenu()->findChild<QAction*>(name); }
    std::string Checked(TMainForm& m) {
        std::string names;
        for (QAction* a : m.LanguageEntries())
            if (a->isChecked()) names += Text(a->objectName()) + " ";
        return names;
    }
    std::vector<std::string> TopMenus(TMainForm& m) {
        std::vector<std::string> titles;
        for (QAction* a : m.menuBar()->actions()) titles.push_back(Text(a->text()));
        return titles;
    }
    static void Save(QWidget* w, const std::string& name) {
        const std::string file = "/tmp/kalo-l10n-" + name + ".png";
        EXPECT_TRUE(w->grab().save(QString::fromStdString(file))) << file;
    }

    testsupport::TempDir dir;
    fs::path locale;
    std::string numeric;
    TData data;
    std::vector<std::unique_ptr<TMainForm>> forms;
};

TEST_F(LanguageTest, TheSavedCodeIsReadAndWrittenInItsSection) {
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

    fs::remove_all(locale);
    EXPECT_FALSE(LanguageFolderExists(""));
    SaveLanguage("it");  // the folder comes back for the file
    EXPECT_EQ(ReadFile(locale / "LangSettings.ini"), "[LangageInfo]\r\nLanguageName=it\r\n");
    EXPECT_TRUE(LanguageFolderExists(""));
    EXPECT_FALSE(LanguageFolderExists("it"));
}

TEST_F(LanguageTest, SubfoldersComeInTheFileSystemsOrderWithoutFiles) {
    for (const char* name : {"pt_BR", "it", "zz", "de", "fr"}) fs::create_directories(locale / name);
    WriteFile(locale / "LangSettings.ini", Setting("it"));
    const std::vector<std::string> listed = ListSubfolders(locale.string());
    EXPECT_EQ(listed, ListedFolders(locale));
    EXPECT_EQ(listed.size(), 5u);
    EXPECT_TRUE(ListSubfolders((locale / "it").string()).empty());
    EXPECT_TRUE(ListSubfolders((dir.Path() / "missing").string()).empty());
}

TEST_F(LanguageTest, SwitchingTakesEffectAtOnceEvenUnderTheCLocale) {
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
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numericBefore);
}

TEST_F(LanguageTest, AtStartTheSavedLanguageOrEnglishWhenItsFolderIsMissing) {
    InstallBoth();
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
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numeric);
}

TEST_F(LanguageTest, TheMenuFollowsSiteManagerWithDefaultThenEachFolderInListedOrder) {
    InstallBoth();
    fs::create_directories(locale / "xx");  // no LangName.ini: an empty caption
    WriteFile(locale / "LangSettings.ini", Setting(""));
    OpenData();
    TMainForm& m = Main();
    const std::vector<std::string> top = TopMenus(m);
    ASSERT_GE(top.size(), 3u);
    EXPECT_EQ(top[0], "Site manager");
    EXPECT_EQ(top[1], "Languages");
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

TEST_F(LanguageTest, ASavedItalianStartsInItalianWithItsEntryMarked) {
    InstallBoth();
    WriteFile(locale / "LangSettings.ini", Setting("it"));
    OpenData();
    ApplySavedLanguage();
    TMainForm& m = Main();
    const std::vector<std::string> top = TopMenus(m);
    EXPECT_EQ(top[0], "Gestione siti");
    EXPECT_EQ(top[1], "Lingue");
    EXPECT_EQ(Text(Entry(m, "miDefault")->text()), "Predefinita");
    EXPECT_EQ(Text(Entry(m, "mi_it")->text()), "Italiano") << "a language's own name stays";
    EXPECT_EQ(Checked(m), "mi_it ");
    EXPECT_EQ(Text(m.StatusPanel(0)->text()).rfind("Versione ", 0), 0u);

    // Only the exact code marks an entry.
    WriteFile(locale / "LangSettings.ini", Setting("It"));
    m.BuildLanguageMenu(QString::fromStdString(ReadSavedLanguage()));
    EXPECT_EQ(Checked(m), "miDefault ");
}

TEST_F(LanguageTest, ChoosingDefaultSavesAnEmptyCodeAndGoesBackToTheSystemsLanguage) {
    InstallBoth();
    WriteFile(locale / "LangSettings.ini", Setting("it"));
    OpenData();
    ApplySavedLanguage();
    TMainForm& m = Main();
    ASSERT_EQ(TopMenus(m)[0], "Gestione siti");
    Entry(m, "miDefault")->trigger();
    EXPECT_EQ(ReadSavedLanguage(), "");
    EXPECT_EQ(ReadFile(locale / "LangSettings.ini"), Setting(""));
    EXPECT_EQ(CurrentLanguage(), "");
    EXPECT_EQ(TopMenus(m)[0], "Site manager");
    EXPECT_EQ(Text(Entry(m, "miDefault")->text()), "Default");
    EXPECT_EQ(Checked(m), "miDefault ");
    EXPECT_EQ(Text(m.StatusPanel(0)->text()).rfind("Ver. ", 0), 0u);

    Entry(m, "mi_de")->trigger();
    EXPECT_EQ(ReadSavedLanguage(), "de");
    EXPECT_EQ(TopMenus(m)[0], "Standortverwaltung");
    EXPECT_EQ(Text(m.WindowMenu()->actions()[0]->text()), "Schließen");
    EXPECT_EQ(Checked(m), "mi_de ");
}

TEST_F(LanguageTest, AnEntryWhoseFolderWasDeletedSwitchesToEnglishButIsSaved) {
    InstallBoth();
    WriteFile(locale / "LangSettings.ini", Setting("it"));
    OpenData();
    ApplySavedLanguage();
    TMainForm& m = Main();
    fs::remove_all(locale / "de");
    Entry(m, "mi_de")->trigger();
    EXPECT_EQ(CurrentLanguage(), "en");
    EXPECT_EQ(TopMenus(m)[0], "Site manager");
    EXPECT_EQ(Text(m.WindowMenu()->title()), "Window");
    EXPECT_EQ(ReadSavedLanguage(), "de");
    EXPECT_EQ(Checked(m), "mi_de ");
}

TEST_F(LanguageTest, SwitchingRetranslatesEveryOpenSiteWindowAtOnce) {
    InstallBoth();
    OpenData();
    AddAsiago(0, "");
    TMainForm& m = Main();
    m.resize(1300, 800);
    m.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m));
    TSiteForm* acquiring = m.OpenSiteWindow(1, false);
    TSiteForm* fresh = m.OpenSiteWindow(0, false);
    QTest::qWait(50);
    acquiring->btnStartReadingClick();  // the meter does not answer: it still runs
    ASSERT_TRUE(acquiring->Acquiring());

    // The second window shows the real-time graph of the current night and the query page by date interval.
    auto* pages = fresh->findChild<QTabWidget*>("PageControl1");
    pages->setCurrentWidget(fresh->findChild<QWidget*>("tsGrafico"));
    fresh->findChild<QRadioButton*>("rbShow0")->click();
    auto* nightChart = fresh->findChild<QChartView*>("ChartRealTime")->chart();
    ASSERT_EQ(Text(nightChart->title()).rfind("Real time SQM graph of the night ", 0), 0u);
    auto* kind = acquiring->findChild<QRadioButton*>("RadioGroup1_1");
    kind->click();
    QTest::qWait(20);

    auto tabTitle = [](TSiteForm* f) {
        auto* tabs = f->findChild<QTabWidget*>("PageControl1");
        return Text(tabs->tabText(tabs->indexOf(f->findChild<QWidget*>("tsReadingsScroll"))));
    };
    auto button = [](TSiteForm* f) { return Text(f->findChild<QPushButton*>("btnStartReading")->text()); };
    auto group = [](TSiteForm* f) { return Text(f->findChild<QGroupBox*>("DBRadioGroup1")->title()); };
    auto dateCaption = [](TSiteForm* f) { return Text(f->findChild<QLabel*>("DateStartLabel")->text()); };
    auto header = [](TSiteForm* f) {
        auto* grid = f->findChild<QTableView*>("gridLatest");
        return Text(grid->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString());
    };
    auto frameTitle = [](TSiteForm* f) { return Text(f->parentWidget()->windowTitle()); };
    EXPECT_EQ(button(acquiring), "Stop SQM Readings");
    EXPECT_EQ(dateCaption(acquiring), "From date");
    EXPECT_EQ(dateCaption(fresh), "Night to view");
    EXPECT_EQ(frameTitle(fresh), "Inserting new SQM Site");

    QSignalSpy headers(acquiring->findChild<QTableView*>("gridLatest")->model(),
                       &QAbstractItemModel::headerDataChanged);
    Entry(m, "mi_it")->trigger();
    EXPECT_EQ(headers.count(), 1) << "the grid asks for its titles again";
    for (TSiteForm* f : {acquiring, fresh}) {
        EXPECT_EQ(tabTitle(f), "Letture SQM");
        EXPECT_EQ(group(f), "Metodo di acquisizione");
        EXPECT_EQ(Text(f->findChild<QRadioButton*>("rbMethod0")->text()), "Continuo");
        EXPECT_EQ(header(f), "Data");
    }
    EXPECT_EQ(button(acquiring), "Ferma letture SQM");
    EXPECT_EQ(button(fresh), "Avvia letture SQM");
    EXPECT_EQ(dateCaption(acquiring), "Dalla data");
    EXPECT_EQ(dateCaption(fresh), "Notte da visualizzare");
    EXPECT_EQ(Text(nightChart->title()).rfind("Grafico SQM in tempo reale della notte ", 0), 0u);
    EXPECT_EQ(Text(fresh->windowTitle()), "Inserimento nuovo sito SQM");
    EXPECT_EQ(frameTitle(fresh), "Inserimento nuovo sito SQM");
    EXPECT_EQ(frameTitle(acquiring), "Asiago") << "a title from data stays";
    m.Area()->tileSubWindows();
    QTest::qWait(50);
    Save(&m, "main-it");
    Save(fresh, "site-it");

    // A caption that changes later keeps to the language.
    acquiring->btnStartReadingClick();
    EXPECT_EQ(button(acquiring), "Avvia letture SQM");
    acquiring->findChild<QRadioButton*>("RadioGroup1_0")->click();
    EXPECT_EQ(dateCaption(acquiring), "Notte da visualizzare");
    acquiring->btnStartReadingClick();
    ASSERT_TRUE(acquiring->Acquiring());

    Entry(m, "mi_de")->trigger();
    for (TSiteForm* f : {acquiring, fresh}) {
        EXPECT_EQ(tabTitle(f), "SQM-Messungen");
        EXPECT_EQ(header(f), "Datum");
        EXPECT_EQ(Text(f->findChild<QRadioButton*>("rbMethod0")->text()), "Continuous") << "no German for it";
    }
    EXPECT_EQ(button(acquiring), "SQM-Messungen beenden");
    EXPECT_EQ(Text(nightChart->title()).rfind("SQM-Echtzeitgrafik der Nacht ", 0), 0u);
    EXPECT_EQ(frameTitle(fresh), "Neuer SQM-Standort");
    Save(&m, "main-de");
    Save(acquiring, "site-de");

    // A window opened after the switch comes up in the new language.
    TSiteForm* later = m.OpenSiteWindow(1, false);
    EXPECT_EQ(tabTitle(later), "SQM-Messungen");
    EXPECT_EQ(button(later), "SQM-Messungen starten");
    acquiring->btnStartReadingClick();
    EXPECT_FALSE(acquiring->Acquiring());
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numeric);
}

// The texts marked in the sources, as the catalogues are extracted (single
// lines without escapes or formats: enough to recognise a text on screen).
std::set<std::string> MarkedTexts(const fs::path& work) {
    const fs::path pot = work / "all.pot";
    const std::string command = "cd '" KALO_SOURCE_DIR "' && xgettext --keyword=Tr --keyword=T --keyword=N_ "
                                "--from-code=UTF-8 -o '" + pot.string() +
                                "' app/gui/*.cpp site/gui/*.cpp site/core/*.cpp station/*.cpp app/core/*.cpp";
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
        if (auto* chart = qobject_cast<QChartView*>(o)) add(chart->chart()->title());
    }
    return t;
}

const char* const kOpen = "\xE2\x9F\xA6";  // the marks of the made-up language
const char* const kClose = "\xE2\x9F\xA7";

}  // namespace

TEST_F(LanguageTest, EveryTextOfTheWindowsFollowsASwitchThereAndBack) {
    // A made-up language "xx" that brackets every marked text.
    const std::set<std::string> marked = MarkedTexts(dir.Path());
    ASSERT_GT(marked.size(), 150u);
    Messages pseudo;
    for (const std::string& id : marked) pseudo.emplace_back(id, kOpen + id + kClose);
    Install(locale, "xx", "Pseudo", pseudo);
    OpenData();
    AddAsiago(1, "AB12");
    TMainForm& m = Main();
    m.resize(1000, 760);
    m.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m));
    TSiteForm* site = m.OpenSiteWindow(1, false);
    m.OpenSiteWindow(0, false);
    auto* pages = site->findChild<QTabWidget*>("PageControl1");
    for (int i = 0; i < pages->count(); ++i) pages->setCurrentIndex(i);  // each page as it shows itself
    QTest::qWait(20);

    Entry(m, "mi_xx")->trigger();
    QTest::qWait(20);  // the Window menu's old entries go
    std::vector<std::string> english;
    for (const std::string& t : ShownTexts(&m))
        if (marked.count(t)) english.push_back(t);
    EXPECT_EQ(english, std::vector<std::string>()) << "left in English after the switch";
    site->parentWidget()->showMaximized();
    pages->setCurrentWidget(site->findChild<QWidget*>("tsDB"));
    QTest::qWait(20);
    Save(&m, "main-pseudo");

    Entry(m, "miDefault")->trigger();
    QTest::qWait(20);
    std::vector<std::string> left;
    for (const std::string& t : ShownTexts(&m))
        if (t.find(kOpen) != std::string::npos) left.push_back(t);
    EXPECT_EQ(left, std::vector<std::string>()) << "left in the made-up language after switching back";
}
