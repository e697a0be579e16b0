// kalosqm-cli import: the real program as a child process on a copy of the
// delivered database, with hand-written community standard files.
#include <sys/stat.h>

#include "programs/cli/cli_test_support.h"
#include "core/site/communityfile.h"
#include "support/site_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace sitetest;
using servicetest::ColumnOn;

// The minute-th reading after 2020-01-15 22:00 UTC.
std::string Line(int minute, double msas = 21.0) {
    return SixFields(EncodeDateTime(2020, 1, 15, 22, 0, 0) + minute * kMinute, 4.5, msas);
}
std::vector<std::string> Lines(int from, int to) {
    std::vector<std::string> out;
    for (int m = from; m < to; ++m) out.push_back(Line(m));
    return out;
}

class ImportCli : public clitest::CliDbTest {
protected:
    void SetUp() override {
        servicetest::ExecOn(file, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT, SIT_LONG) VALUES "
                                   "(4, 'Roof', 45.8664, 11.5264)"});
    }
    clitest::CliResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), "import");
        return cli.Run(args);
    }
    std::string Write(const std::string& name, const std::string& content) {
        return WriteFile(dir.Path() / name, content);
    }
    int Readings() { return Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=4"); }
};

TEST_F(ImportCli, FilesOfEitherLineEndAndHeaderLengthAreImportedAndAgainUpdated) {
    // Line counts declared wrong on purpose.
    const std::string fileA = Write("a.dat", CommunityText(Lines(0, 3), "\n", kTitle10, 35, "99"));
    const std::string fileB = Write("b.dat", CommunityText(Lines(10, 14), "\r\n", kTitle10, 38, "99"));

    const clitest::CliResult first = Run({fileA, fileB, "--site", "4", "--db", file});
    EXPECT_EQ(first.code, 0) << first.err;
    EXPECT_EQ(first.out, fileA + ": 3 lines read, 3 imported new, 0 updated, 0 already stored, 0 skipped\n" + fileB +
                             ": 4 lines read, 4 imported new, 0 updated, 0 already stored, 0 skipped\n");
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(Readings(), 7);
    EXPECT_EQ(ColumnOn(file, "SELECT DISTINCT REA_ORIGIN FROM READINGS"), std::vector<std::string>{"I"});

    const clitest::CliResult again = Run({"--db", file, "--site", "4", fileB});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.out, fileB + ": 4 lines read, 0 imported new, 4 updated, 0 already stored, 0 skipped\n");
    EXPECT_EQ(Readings(), 7);
}

TEST_F(ImportCli, ABrokenLineIsNamedAndSkippedAndAFileThatCannotBeReadImportsNothingWhileTheOthersGoOn) {
    const std::string fileBroken = Write(
        "broken.dat", CommunityText({Line(0), "2020-01-15T22:01:00.000;2020-01-15T23:01:00.000;4.5;100;200",  // line 37
                                     Line(2, 21.5)},
                                    "\r\n"));
    const std::string fileNoEnd =
        Write("noend.dat", "# Light Pollution Monitoring Data Format 1.0\n# Comment: no end\n" + Line(30) + "\n");
    const std::string fileOther = Write("other.csv", "UTC;MSAS\n" + Line(40) + "\n");
    const std::string fileMissing = (dir.Path() / "missing.dat").string();

    const clitest::CliResult r = Run({"--site", "4", "--db", file, fileNoEnd, fileBroken, fileOther, fileMissing});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, fileBroken + ": 3 lines read, 2 imported new, 0 updated, 0 already stored, 1 skipped\n");
    EXPECT_EQ(r.err, "import: " + fileNoEnd +
                         ": not imported: the header has no end: line 3 is no comment and no \"# END OF HEADER\" "
                         "came before it\n" +
                         fileBroken + ":37: 5 fields, the header names 6 (line skipped)\n" + "import: " + fileOther +
                         ": not imported: not a community standard skyglow data file: line 1 is \"UTC;MSAS\"\n" +
                         "import: " + fileMissing +
                         ": not imported: cannot open the file: No such file or directory\n");
    std::vector<double> values;
    servicetest::ForEachRowOn(file, "SELECT REA_SQMVALUE FROM READINGS ORDER BY REA_DATETIME",
                              [&](fb::Query& q) { values.push_back(q.Fields(0).AsDouble()); });
    EXPECT_EQ(values, (std::vector<double>{21.0, 21.5}));
}

TEST_F(ImportCli, ALineWithAValueNoMeterCanReportIsSkippedAndNamedWithTheBound) {
    const std::string t = "2020-01-15T22:0";
    const std::string bad = Write(
        "bad.dat", CommunityText({Line(0),
                                  t + "1:00.000;" + t + "1:00.000;4.5;1234;56;1e308",     // line 37
                                  t + "2:00.000;" + t + "2:00.000;-1e308;1234;56;21.00",  // line 38
                                  t + "3:00.000;" + t + "3:00.000;4.5;1234;56;-15.01",    // line 39
                                  t + "4:00.000;" + t + "4:00.000;100.1;1234;56;21.00",   // line 40
                                  t + "5:00.000;" + t + "5:00.000;4.5;1234;1e300;21.00",  // line 41
                                  t + "6:00.000;" + t + "6:00.000;4.5;-1;56;21.00",       // line 42
                                  t + "7:00.000;" + t + "7:00.000;-100;0;0;35"},          // line 43: at the bounds
                                 "\n"));
    const clitest::CliResult r = Run({"--site", "4", "--db", file, bad});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, bad + ": 8 lines read, 2 imported new, 0 updated, 0 already stored, 6 skipped\n");
    const std::string meter = " is outside what a meter can report (";
    EXPECT_EQ(r.err, bad + ":37: MSAS \"1e308\"" + meter + "-15 to 35 mag/arcsec\u00b2) (line skipped)\n" +  //
                         bad + ":38: the temperature \"-1e308\"" + meter + "-100 to 100 \u00b0C) (line skipped)\n" +
                         bad + ":39: MSAS \"-15.01\"" + meter + "-15 to 35 mag/arcsec\u00b2) (line skipped)\n" +
                         bad + ":40: the temperature \"100.1\"" + meter + "-100 to 100 \u00b0C) (line skipped)\n" +
                         bad + ":41: the frequency \"1e300\"" + meter + "0 to 100000000 Hz) (line skipped)\n" +
                         bad + ":42: the counts \"-1\"" + meter + "0 to 2000000000) (line skipped)\n");
    EXPECT_EQ(Readings(), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SQMVALUE > 35 OR REA_SQMTEMP < -100"), 0);
}

TEST_F(ImportCli, AnythingButABoundedRegularFileIsRefusedAtOnceWithItsReasonAndImportsNothing) {
    const fs::path fifo = dir.Path() / "pipe.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The good line before the long one goes too: the file is refused as a whole.
    const std::string longLine =
        Write("long.dat", CommunityText({Line(0), Line(1) + std::string(kCommunityMaxLineBytes, '0')}, "\r\n"));
    // Sparse: the size costs no disk and no time to write.
    const std::string huge = Write("huge.dat", CommunityText({Line(0)}, "\n"));
    fs::resize_file(huge, kCommunityMaxFileBytes + 1);
    const struct {
        std::string file, why;
    } cases[] = {
        {fifo.string(), "it is not a regular file (a pipe, a device or a socket)"},
        {"/dev/zero", "it is not a regular file (a pipe, a device or a socket)"},
        {dir.Str(), "it is a folder, not a file"},
        {longLine, "line 37 is longer than 1024 characters: no community standard file has such lines"},
        {huge, "it is larger than 128 MB, more than three years of one-minute readings: split it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        // A reader that waited for the pipe's writer or read /dev/zero to its end would be killed here.
        const clitest::CliResult r = cli.Run({"import", c.file, "--site", "4", "--db", file}, {}, 30s);
        EXPECT_EQ(r.code, 1) << r.all();
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "import: " + c.file + ": not imported: " + c.why + "\n");
    }
    EXPECT_EQ(Readings(), 0);
    // The database was let go: the next command has it at once.
    const clitest::CliResult next = Run({Write("good.dat", CommunityText({Line(0)}, "\n")), "--site", "4", "--db", file});
    EXPECT_EQ(next.code, 0) << next.all();
    EXPECT_EQ(Readings(), 1);
}

TEST_F(ImportCli, ALargeFileShowsItsProgress) {
    const std::string big = Write("big.dat", CommunityText(Lines(0, 12000), "\n", kTitleDefinition, 36));
    const clitest::CliResult r = Run({big, "--site", "4", "--db", file});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, big + ": 12000 lines read, 12000 imported new, 0 updated, 0 already stored, 0 skipped\n");
    EXPECT_NE(r.err.find("import: " + big + ": 2048 of 12000 lines (17%)\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("12000 of 12000"), std::string::npos) << r.err;
    EXPECT_EQ(Readings(), 12000);
}

TEST_F(ImportCli, HelpUsageErrorsAndMissingDataAreTold) {
    const std::string good = Write("good.dat", CommunityText({Line(0)}, "\n"));
    const clitest::CliResult help = Run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("FILE:LINE"), std::string::npos) << help.out;

    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        {{"--site", "4", "--db", file}, 2, "files is required"},
        {{good, "--db", file}, 2, "--site is required"},
        {{good, "--site", "0", "--db", file}, 2, "--site"},
        {{good, "--site", "four", "--db", file}, 2, "--site"},
        {{good, "--site", "4", "--db", file, "--bogus"}, 2, "--bogus"},
        {{good, "--site", "4", "--db", (dir.Path() / "none.fdb").string()}, 1, "there is no local database at"},
        {{good, "--site", "5", "--db", file}, 1, "there is no site with ID 5 in"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const clitest::CliResult r = Run(c.args);
        EXPECT_EQ(r.code, c.exitCode) << r.out << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(Readings(), 0);
}

}  // namespace
