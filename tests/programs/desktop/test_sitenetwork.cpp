// The site window's network pages against the MariaDB test server: credentials,
// waiting records, the network query and a server that falls silent.
#include "programs/desktop/siteform_test_support.h"

namespace {

using namespace sitewindowtest;

TEST_F(SiteNetwork, TheCredentialsAndCountsShowOnThePageAndSettingThemStoresTheCodeAndMayOpenTheQueryPage) {
    const int id = AddCodedSite("AB12");
    AddReading(id, EncodeDateTime(2024, 1, 1, 22, 0, 0), 20, 0, 0, 0);
    AddReading(id, EncodeDateTime(2024, 1, 1, 22, 1, 0), 20, 0, 0, 1);
    AddReading(id, EncodeDateTime(2024, 1, 1, 12, 0, 0), 9, 0, -1, 0);  // daylight: never counted
    TSiteForm* f = Open(id);
    ShowPage(f, "tsNetworkScroll");
    EXPECT_TRUE(Child<QGroupBox>(f, "gbCredentials")->isVisible());
    EXPECT_EQ(Text(f, "lblCrdStatus"), "File missing");
    EXPECT_EQ(Child<TSemaforo>(f, "Semaforo2")->Current(), TSemaforo::State::Red);
    EXPECT_EQ(Text(f, "lblNumReadings"), "2");
    EXPECT_EQ(Text(f, "lblNewReadings"), "1");
    EXPECT_EQ(Text(f, "lblModReadings"), "0");
    f->CheckNetworkConnection();  // no file at all is said as such
    EXPECT_EQ(BoxesOnceThere(1), Lines{"error: There is no credentials file for the site code \"AB12\""});
    Install("AB12", true, false);
    f->ShowCredentials();
    EXPECT_EQ(Text(f, "lblCrdStatus"), "Regular");
    EXPECT_EQ(Text(f, "lblUploading"), "Enabled");
    EXPECT_EQ(Text(f, "lblDownloading"), "Disabled");
    EXPECT_EQ(Child<TSemaforo>(f, "Semaforo2")->Current(), TSemaforo::State::Green);
    EXPECT_FALSE(TabShown(f, "tsNetQuery"));
    f->CheckNetworkConnection();
    EXPECT_EQ(BoxesOnceThere(1), Lines{"information: Connection successfully estabilished"});
    // Nothing listens on the port: the box keeps its text and adds the client's reason below it.
    TCredentials closed = net.Credentials("AB12");
    closed.Port = testsupport::ClosedPort();
    WriteCredentialsFile(CredentialsFileName("AB12"), closed);
    f->CheckNetworkConnection();
    const Lines refused = BoxesOnceThere(2);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0], "error: Unable to connect to the database");
    EXPECT_NE(refused[1].find("127.0.0.1"), std::string::npos) << refused[1];
    EXPECT_TRUE(refused[1].ends_with(" (Connection refused)")) << refused[1];
    Install("AB12", true, false);

    // A site without a code: no credentials shown until they are set.
    const int bare = AddCodedSite(nullptr);
    TSiteForm* g = Open(bare);
    ShowPage(g, "tsNetworkScroll");
    EXPECT_FALSE(Child<QGroupBox>(g, "gbCredentials")->isVisible());
    g->SetCodeDialog([](const std::string&) { return std::nullopt; });
    g->SetCredentials();
    EXPECT_EQ(Boxes(), Lines{"information: Credentials file activation canceled"});
    Install("AB12", true, true);
    std::string offered = "?";
    g->SetCodeDialog([&](const std::string& current) {
        offered = current;
        return std::optional<std::string>("AB12 ");
    });
    g->SetCredentials();
    EXPECT_EQ(offered, "");
    EXPECT_EQ(Boxes(), Lines{"information: Credentials file activated"});
    EXPECT_EQ(Stored("SIT_CODE", bare), "AB12");
    EXPECT_TRUE(TabShown(g, "tsNetQuery"));
    // While acquiring the code cannot change.
    Click(g, "btnStartReading");
    ASSERT_TRUE(g->Acquiring());
    g->SetCodeDialog([](const std::string&) { return std::optional<std::string>("CD34"); });
    Boxes();
    g->SetCredentials();
    EXPECT_EQ(Boxes(), (Lines{"information: Credentials file activated",
                              "information: Can not change the configuration of the readings during data acquisition"}));
    EXPECT_EQ(Stored("SIT_CODE", bare), "AB12");
}

TEST_F(SiteNetwork, SendingWaitingRecordsAsksThenUploadsWithProgress) {
    const int id = AddCodedSite("AB12");
    Install("AB12", false, false);
    AddReading(id, EncodeDateTime(2024, 1, 1, 22, 0, 0), 20, 0);
    AddReading(id, EncodeDateTime(2024, 1, 1, 23, 0, 0), 21, 0);
    TSiteForm* f = Open(id);
    f->SendWaitingRecords();
    EXPECT_EQ(Boxes(), Lines{"error: This site is not enabled for data uploading"});
    Install("AB12", true, false);
    Answer("no");
    f->SendWaitingRecords();
    EXPECT_EQ(Boxes(), Lines{"confirm: Upload the records on hold? the operation could take several minutes"});
    EXPECT_EQ(net.Admin("SELECT COUNT(*) FROM READINGS").FirstText(), "0");
    Answer("yes");
    int maxSeen = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!Child<QWidget>(f, "pnlProgress")->isHidden()) maxSeen = std::max(maxSeen, Child<QProgressBar>(f, "pbUpload")->maximum());
    });
    watch.start(50);
    f->SendWaitingRecords();
    EXPECT_EQ(BoxesOnceThere(2), (Lines{"confirm: Upload the records on hold? the operation could take several minutes",
                                     "information: Operation completed"}));
    watch.stop();
    EXPECT_EQ(maxSeen, 2);
    EXPECT_TRUE(Child<QWidget>(f, "pnlProgress")->isHidden());
    EXPECT_EQ(net.Admin("SELECT COUNT(*) FROM READINGS").FirstText(), "2");
    EXPECT_EQ(Text(f, "lblNewReadings"), "0");
    f->SendWaitingRecords();  // nothing waits: it still asks and ends the same way
    EXPECT_EQ(BoxesOnceThere(2), (Lines{"confirm: Upload the records on hold? the operation could take several minutes",
                           "information: Operation completed"}));
    Click(f, "btnStartReading");
    Boxes();
    f->SendWaitingRecords();
    EXPECT_EQ(Boxes(), Lines{"error: Can not perform the operation during data acquisition"});
}

TEST_F(SiteNetwork, ANetworkNightIsShownAndSavedIntoTheLocalDatabase) {
    const int id = AddCodedSite("AB12");
    Install("AB12", true, true);
    for (int h = 20; h <= 21; ++h)
        net.Admin("INSERT INTO READINGS (REA_KALOCODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_ORIGIN, "
                  "REA_STATE, REA_SUNH) VALUES ('20240311" + std::to_string(h) + "0000" + std::to_string(id) + "AB12', " +
                  std::to_string(netSite) + ", '2024-03-11 " + std::to_string(h) + ":00:00', " + std::to_string(h) +
                  ", 0, 'K', 0, -30)");
    TSiteForm* f = Open(id);
    ASSERT_TRUE(TabShown(f, "tsNetQuery"));
    ShowPage(f, "tsNetQuery");
    EXPECT_TRUE(Child<QRadioButton>(f, "RadioGroup5_0")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>(f, "RadioGroup4_0")->isChecked());
    f->SaveNetworkReadings();
    EXPECT_EQ(Boxes(), Lines{"information: There are no rows to save"});
    Child<QDateEdit>(f, "DateStartNet")->setDate(QDate(2024, 3, 12));
    Child<QPushButton>(f, "BtnPrevNet")->click();  // moves the date only
    auto* grid = Child<QTableView>(f, "gridNet");
    EXPECT_EQ(grid->model()->rowCount(), 0);
    Click(f, "BitBtn7");
    EXPECT_EQ(Boxes(), Lines{"information: 2 readings where selected "});
    ASSERT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(Cell(grid, 0, 3), QLocale().toString(-1.0, 'f', 1));  // no temperature
    EXPECT_TRUE(grid->isColumnHidden(4));
    EXPECT_EQ(Header(grid, 8), "illuminated %");
    EXPECT_EQ(Text(f, "lblNetStat2").toStdString(), FormatNumber(0.7071, 2, LanguageFormats()));
    EXPECT_EQ(Points(Child<TReadingChart>(f, "ChartNet")), 2);
    f->SaveNetworkReadings();
    EXPECT_EQ(Boxes(), Lines{"information: Import completed successfully"});
    EXPECT_EQ(Readings(id), 2);
    f->SaveNetworkReadings();
    EXPECT_EQ(Readings(id), 2);
    ShowPage(f, "tsSiteScroll");  // leaving empties it
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_EQ(Text(f, "lblNetStat0"), "---");
    f->close();
    QSettings ini(f->SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(ini.value("Controls/DateStartNet.Date").toString(), "2024-03-11");
    EXPECT_EQ(ini.value("Controls/RadioGroup5.ItemIndex").toInt(), 0);
    EXPECT_EQ(ini.value("Controls/RadioGroup4.ItemIndex").toInt(), 0);
}

TEST_F(SiteNetwork, AServerThatFallsSilentDuringAnUploadMarksNothingMoreAndFreesTheWindow) {
    const int id = AddCodedSite("AB12");
    nettest::SilentRelay relay;
    TCredentials c = net.Credentials("AB12");
    c.Port = relay.Port();
    WriteCredentialsFile(CredentialsFileName("AB12"), c);
    for (int h = 20; h <= 22; ++h) AddReading(id, EncodeDateTime(2024, 1, 1, h, 0, 0), 20, 0);
    TSiteForm* f = Open(id);
    Answer("yes");
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (Text(f, "lblProgress2") == "Successfully uploaded: 1") relay.GoSilent();
    });
    watch.start(20);
    f->SendWaitingRecords();
    EXPECT_EQ(BoxesOnceThere(2, 120000), (Lines{"confirm: Upload the records on hold? the operation could take several minutes",
                           "information: Operation completed"}));
    watch.stop();
    EXPECT_TRUE(Child<QWidget>(f, "pnlProgress")->isHidden());
    // Exactly what reached the server is marked, and the rest still waits.
    const int arrived = std::stoi(net.Admin("SELECT COUNT(*) FROM READINGS").FirstText());
    EXPECT_GE(arrived, 1);
    EXPECT_LT(arrived, 3);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM READINGS WHERE REA_UPLOADED=1"), std::to_string(arrived));
    EXPECT_EQ(Text(f, "lblNewReadings").toInt(), 3 - arrived);
    // The window goes on working: its query runs.
    ShowPage(f, "tsDB");
    Child<QDateEdit>(f, "DateStart")->setDate(QDate(2024, 1, 1));
    f->RunLocalQuery();
    EXPECT_EQ(Child<QTableView>(f, "gridQuery")->model()->rowCount(), 3);
}

TEST_F(SiteNetwork, NetworkPagesRenderForScreenshots) {
    const char* folder = getenv("KALO_SCREENSHOTS");
    if (!folder) GTEST_SKIP() << "KALO_SCREENSHOTS not set";
    const int id = AddCodedSite("AB12");
    Install("AB12", true, true);
    for (int m = 0; m < 600; m += 10)
        net.Admin("INSERT INTO READINGS (REA_KALOCODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_ORIGIN, "
                  "REA_STATE, REA_SUNH, REA_MOONILLUM, REA_ASTRO_TWILIGHT, REA_ASTRO_DOWNING) VALUES ('k" +
                  std::to_string(m) + "', " + std::to_string(netSite) + ", DATE_ADD('2024-03-11 19:00:00', INTERVAL " +
                  std::to_string(m) + " MINUTE), " + std::to_string(20 + std::sin(m / 100.0)) +
                  ", -0.1, 'K', 0, -30, 12.5, '19:02:11', '04:31:40')");
    AddReading(id, EncodeDateTime(2024, 3, 11, 22, 0, 0), 20, 0);
    TSiteForm* f = Open(id);
    f->resize(960, 640);
    ShowPage(f, "tsNetworkScroll");
    QTest::qWait(20);
    f->grab().save(QString::fromLatin1(folder) + "/site-network.png");
    ShowPage(f, "tsNetQuery");
    Child<QDateEdit>(f, "DateStartNet")->setDate(QDate(2024, 3, 11));
    f->RunNetworkQuery();
    Settle(f);
    QTest::qWait(20);
    f->grab().save(QString::fromLatin1(folder) + "/site-netquery.png");
    Child<QTabWidget>(f, "PageControl3")->setCurrentIndex(1);  // its chart
    QTest::qWait(20);
    f->grab().save(QString::fromLatin1(folder) + "/site-netquery-graph.png");
}

}  // namespace
