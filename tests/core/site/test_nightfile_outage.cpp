// Night files through a full disk, a restart and a lost tail, and sites whose
// names are too long for a file name: real runs against the SQM-LE simulator
// on a fake clock and real database files.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "core/station/errorlog.h"
#include "core/site/nightfile.h"
#include "support/site_test_support.h"

using namespace sitetest;
namespace fs = std::filesystem;

namespace {

class NightFileOutage : public SiteFixture {
protected:
    std::string Path(const std::string& site, double local) { return NightFilePath(site, local); }
    static TNightFileWriter& Writer(TSite& s) { return dynamic_cast<TNightFileWriter&>(*s.acq.NightFile()); }

    // Every stored reading of the site is a line of the file, once, in order.
    void ExpectEveryReadingOnce(int id, const TNightFileContents& f) {
        const auto stored = Stored(id);
        ASSERT_EQ(f.Rows.size(), stored.size());
        for (size_t i = 0; i < stored.size(); ++i) {
            EXPECT_EQ(f.Fields[i][0], IsoMs(stored[i].Time)) << "line " << i;
            EXPECT_DOUBLE_EQ(f.Rows[i].Msas, stored[i].Value) << "line " << i;
            EXPECT_DOUBLE_EQ(f.Rows[i].Temperature, stored[i].Temperature) << "line " << i;
        }
    }
};

// A small file system of its own, full at will; gone at the end.
class TSmallDisk {
public:
    explicit TSmallDisk(const fs::path& at) : at_(at) {
        fs::create_directories(at_);
        mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, "size=64k") == 0;
        why_ = mounted_ ? "" : std::strerror(errno);
    }
    ~TSmallDisk() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    const std::string& Why() const { return why_; }
    // Takes every free block.
    void Fill() {
        std::ofstream filler(at_ / "filler", std::ios::binary | std::ios::app);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
    void Free() { fs::remove(at_ / "filler"); }

private:
    fs::path at_;
    bool mounted_ = false;
    std::string why_;
};

TEST_F(NightFileOutage, LinesAFullDiskRefusedAreWrittenOnceInOrderWhenSpaceReturnsAndTheLogSaysSoOnce) {
    TSmallDisk disk(dir.Path() / "disk");
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here: " << disk.Why();
    // The night files and the logs on the small disk; the database is not.
    fs::create_directories(dir.Path() / "disk" / "NightFiles");
    fs::create_directories(dir.Path() / "disk" / "LOGS");
    fs::create_directory_symlink(dir.Path() / "disk" / "NightFiles", dir.Path() / "NightFiles");
    fs::create_directory_symlink(dir.Path() / "disk" / "LOGS", dir.Path() / "LOGS");
    std::vector<TErrorLogNews> news;
    TErrorLogWatch watch([&news](const TErrorLogNews& n) { news.push_back(n); });

    const int id = AddSite({.Interval = 1});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    const std::string path = Path("Roof", clock.now);
    disk.Fill();
    auto s = std::make_unique<TSite>(*this, id);
    s->acq.StartOrStop();
    Run(*s, 5);
    const size_t during = Stored(id).size();
    ASSERT_GE(during, 5u);
    EXPECT_EQ(s->acq.LastTick().What, TTickReport::Outcome::Stored);
    EXPECT_EQ(Writer(*s).Waiting(), during);
    EXPECT_FALSE(fs::exists(path) && fs::file_size(path) > 0);
    // The site's log could not take the night file's failure: said once, with why.
    ASSERT_EQ(news.size(), 1u);
    EXPECT_TRUE(news[0].Failing);
    EXPECT_EQ(news[0].Path, TErrorLog::Folder() + "/" + TErrorLog::FileNameFor("Roof"));
    EXPECT_EQ(news[0].Reason, std::strerror(ENOSPC));

    disk.Free();
    Run(*s, 1);
    EXPECT_EQ(Writer(*s).Waiting(), 0u);
    const TNightFileContents f = ReadNightFile(path);
    EXPECT_EQ(f.Header.size(), 35u);
    ExpectEveryReadingOnce(id, f);
    EXPECT_GT(f.Rows.back().Frequency, 0);  // the meter's own lines, counts and frequency and all
    ASSERT_EQ(news.size(), 2u);
    EXPECT_FALSE(news[1].Failing);
    EXPECT_EQ(news[1].Path, news[0].Path);
    const auto log = LogLines("Roof");
    ASSERT_EQ(log.size(), 1u);  // the failure's line was lost with the room
    EXPECT_NE(log[0].find(" - Night File - " + path + ": written again, with the " + std::to_string(during) +
                          " lines that waited"),
              std::string::npos)
        << log[0];

    // Full again, now in the middle of the file: a write cut short is taken
    // back whole, and the file reads right at every step.
    disk.Fill();
    for (int i = 0; i < 80 && Writer(*s).Waiting() == 0; ++i) {
        Run(*s, 1);
        EXPECT_NO_THROW(ReadNightFile(path));
    }
    ASSERT_GT(Writer(*s).Waiting(), 0u);
    Run(*s, 3);
    EXPECT_NO_THROW(ReadNightFile(path));
    const size_t lost = Writer(*s).Waiting();
    // A restart while the lines wait: they are gone from memory, not from the database.
    s.reset();
    disk.Free();
    clock.Advance(30);  // not the instant of the last reading
    s = std::make_unique<TSite>(*this, id);
    s->acq.StartOrStop();
    Run(*s, 1);
    s->acq.Stop();
    const TNightFileContents after = ReadNightFile(path);
    ExpectEveryReadingOnce(id, after);
    // The database keeps no counts and no frequency: those lines say 0.
    size_t fromDatabase = 0;
    for (const auto& fields : after.Fields) fromDatabase += fields[3] == "0" && fields[4] == "0";
    EXPECT_EQ(fromDatabase, lost);
}

TEST_F(NightFileOutage, WaitingLinesTheFullLogCannotSayAreToldToTheWatcherOnceAndOnceWhenWritten) {
    TSmallDisk disk(dir.Path() / "disk");
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here: " << disk.Why();
    fs::create_directories(dir.Path() / "disk" / "NightFiles");
    fs::create_directories(dir.Path() / "disk" / "LOGS");
    fs::create_directory_symlink(dir.Path() / "disk" / "NightFiles", dir.Path() / "NightFiles");
    fs::create_directory_symlink(dir.Path() / "disk" / "LOGS", dir.Path() / "LOGS");
    std::vector<TNightFileNews> news;
    TNightFileWatch watch([&news](const TNightFileNews& n) { news.push_back(n); });

    const int id = AddSite({.Interval = 1});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    const std::string path = Path("Roof", clock.now);
    disk.Fill();
    auto s = std::make_unique<TSite>(*this, id);
    s->acq.StartOrStop();
    Run(*s, 5);
    const size_t during = Writer(*s).Waiting();
    ASSERT_GE(during, 5u);
    ASSERT_EQ(news.size(), 1u) << "once, not at every reading that waits";
    EXPECT_TRUE(news[0].Waiting);
    EXPECT_EQ(news[0].Path, path);
    EXPECT_NE(news[0].Reason.find(std::strerror(ENOSPC)), std::string::npos) << news[0].Reason;
    EXPECT_EQ(DescribeNightFileNews(news[0]),
              "the night file " + path + " cannot be written (" + news[0].Reason + "): its lines wait until it can");

    disk.Free();
    Run(*s, 1);
    EXPECT_EQ(Writer(*s).Waiting(), 0u);
    ASSERT_EQ(news.size(), 2u);
    EXPECT_FALSE(news[1].Waiting);
    EXPECT_EQ(news[1].Path, path);
    EXPECT_EQ(news[1].Lines, during);
    EXPECT_EQ(DescribeNightFileNews(news[1]),
              "the night file " + path + " is written again, with the " + std::to_string(during) + " lines that waited");
    s.reset();

    // A failure the log can take is the log's alone.
    fs::remove(dir.Path() / "NightFiles");
    std::ofstream(dir.Path() / "NightFiles").put('x');
    s = std::make_unique<TSite>(*this, id);
    s->acq.StartOrStop();
    Run(*s, 2);
    ASSERT_GT(Writer(*s).Waiting(), 0u);
    EXPECT_EQ(news.size(), 2u);
    const auto log = LogLines("Roof");
    EXPECT_NE(log.back().find(" - Night File Exception - "), std::string::npos) << log.back();
}

TEST_F(NightFileOutage, ARestartFillsInWhatTheFileLostFromTheDatabaseOnceAndCutsATornLine) {
    const int id = AddSite({.Interval = 10});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    const std::string path = Path("Roof", clock.now);
    RunSite(id, 40);
    const auto before = Stored(id);
    ASSERT_GE(before.size(), 4u);
    // The last two lines never reached the disk, and half of a third did.
    std::string content = testsupport::ReadFile(path);
    for (int i = 0; i < 2; ++i) content.erase(content.rfind("\r\n", content.size() - 3) + 2);
    content += "2024-01-15T22:3";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    // The site's other readings, imported ones and another night stay out.
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_STATE, "
         "REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES "
         "('imported', " + std::to_string(id) + ", '2024-01-15 22:35:00', 20.5, 3, 0, 0, 0, 0, 0, 'I')");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_STATE, "
         "REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES "
         "('yesterday', " + std::to_string(id) + ", '2024-01-15 11:00:00', 20.5, 3, 0, 0, 0, 0, 0, 'K')");

    clock.Advance(300);
    RunSite(id, 10);  // 22:45 and 22:55
    const TNightFileContents f = ReadNightFile(path);
    auto stored = Stored(id);
    std::erase_if(stored, [](const TStored& r) { return r.Code == "imported" || r.Code == "yesterday"; });
    ASSERT_EQ(f.Rows.size(), stored.size());
    ASSERT_EQ(stored.size(), before.size() + 2);
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(f.Fields[i][0], IsoMs(stored[i].Time)) << i;
        EXPECT_DOUBLE_EQ(f.Rows[i].Msas, stored[i].Value) << i;
        // The two from the database have no counts and no frequency.
        const bool filled = i == before.size() - 2 || i == before.size() - 1;
        EXPECT_EQ(f.Fields[i][4] == "0", filled) << i << ": " << f.Fields[i][4];
    }
    EXPECT_TRUE(LogLines("Roof").empty());

    // A run that finds the file complete adds its own lines only.
    clock.Advance(300);
    RunSite(id, 0);
    EXPECT_EQ(ReadNightFile(path).Rows.size(), stored.size() + 1);
}

TEST_F(NightFileOutage, AReadingBetweenTwoMillisecondsIsWrittenOnceWhateverTheRestarts) {
    const int id = AddSite({.Interval = 1});
    // A real clock's times fall between milliseconds; the database keeps them
    // to 0.1 ms, the file to 1 ms, and at .46 ms each half of the readings
    // come back from the database rounded to the other millisecond.
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0) + 0.46 / 86400000.0;
    const std::string path = Path("Roof", clock.now);
    // Each run its reading at start, then a restart half a minute on that
    // reads the file's end and fills in from the database what it lacks.
    for (int i = 0; i < 24; ++i) RunSite(id, 0.5);
    const TNightFileContents f = ReadNightFile(path);
    const auto stored = Stored(id);
    ASSERT_GE(stored.size(), 12u);
    ASSERT_EQ(f.Rows.size(), stored.size()) << testsupport::ReadFile(path);
    for (size_t i = 0; i < f.Rows.size(); ++i) {
        EXPECT_NEAR(f.Rows[i].Utc, stored[i].Time, 1.01 / 86400000.0) << i;
        EXPECT_NE(f.Fields[i][4], "0") << i << ": every line as the meter gave it, none again from the database";
    }
    EXPECT_TRUE(LogLines("Roof").empty());
}

TEST_F(NightFileOutage, ValuesNoLineCanHoldLeaveNoLineAndSayWhich) {
    const int id = AddSite({.Interval = 10});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TSite s(*this, id);
    TSQM& station = s.acq.EnsureStation(0);
    const TSiteRow site = s.source.Site();
    TNightFileWriter writer(Db());
    station.DateTime = EncodeDateTime(2024, 1, 15, 21, 0, 0);
    station.SQMValue = 21.3;
    station.Temperature = 2e65;
    writer.Append(site, station, -1 / 24.0, clock.now);
    const std::string path = Path("Roof", EncodeDateTime(2024, 1, 15, 22, 0, 0));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(writer.Waiting(), 0u);  // nothing to wait for: it will never fit
    const auto log = LogLines("Roof");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("the reading is not written: temperature 2e+65 cannot be written in a night file"),
              std::string::npos)
        << log[0];
    station.Temperature = 4.5;
    station.DateTime += 10 / 1440.0;
    writer.Append(site, station, -1 / 24.0, clock.now);
    const TNightFileContents f = ReadNightFile(path);
    ASSERT_EQ(f.Rows.size(), 1u);
    EXPECT_EQ(f.Fields[0][2], "4.5");
}

// Names of 236 to 255 bytes made file names the system refuses: the night
// file and the log were lost without a word.
TEST_F(NightFileOutage, ASiteWithA255ByteNameGetsItsNightFileAndItsErrorLog) {
    std::string utf8 = "Osservatorio di ";
    while (utf8.size() + 2 <= 255) utf8 += "\xc3\xa0";
    const std::string names[] = {std::string(255, 'n'), utf8};
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const int id = AddSite({.Name = name, .Interval = 10});
        // The first reading finds no folder for night files: its failure is logged.
        if (fs::exists(dir.Path() / "NightFiles")) fs::rename(dir.Path() / "NightFiles", dir.Path() / "NightFiles.kept");
        std::ofstream(dir.Path() / "NightFiles").put('x');
        TSite s(*this, id);
        s.acq.StartOrStop();
        Run(s, 10);
        ASSERT_EQ(Stored(id).size(), 2u);
        const auto log = LogLines(name);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find(" - Night File Exception - "), std::string::npos) << log[0];
        fs::remove(dir.Path() / "NightFiles");
        if (fs::exists(dir.Path() / "NightFiles.kept")) fs::rename(dir.Path() / "NightFiles.kept", dir.Path() / "NightFiles");
        Run(s, 10);
        s.acq.Stop();
        const std::string path = Path(name, clock.now);
        const fs::path p(path);
        EXPECT_LE(p.filename().string().size(), 255u);
        EXPECT_LE(p.parent_path().filename().string().size(), 255u);
        EXPECT_EQ(p.parent_path().filename().string(), NightFileSafeName(name));
        EXPECT_EQ(p.filename().string(), "20240115_120000_" + NightFileSafeName(name) + ".dat");
        EXPECT_EQ(p.filename().string().rfind("20240115_120000_" + name.substr(0, 200), 0), 0u);
        const TNightFileContents f = ReadNightFile(path);
        ExpectEveryReadingOnce(id, f);
        EXPECT_EQ(f.Header.at(7), ("# Location name: " + AsciiOnly(name)).substr(0, kNightFileMaxLine));
        EXPECT_EQ(LogLines(name).size(), 2u);  // and the recovery
        clock.Advance(3600);
    }
    // Names that fit are as they always were; one byte more is cut and marked.
    EXPECT_EQ(NightFileSafeName(std::string(235, 'x')), std::string(235, 'x'));
    const std::string cut = NightFileSafeName(std::string(236, 'x'));
    EXPECT_EQ(cut.size(), 235u);
    EXPECT_TRUE(std::regex_match(cut, std::regex("x{226}~[0-9a-f]{8}"))) << cut;
    EXPECT_NE(NightFileSafeName(std::string(236, 'x')), NightFileSafeName(std::string(235, 'x') + "y"));
    EXPECT_EQ(NightFileSafeName(std::string(300, '/')), NightFileSafeName(std::string(300, '/')));
}

}  // namespace
