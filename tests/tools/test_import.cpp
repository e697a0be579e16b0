// kalosqm-cli import: the real program as a child process on a copy of the
// delivered database, with hand-written community standard files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "service_test_support.h"

namespace {

using namespace servicetest;

struct CliResult {
    int exitCode;
    std::string out, err;
};

// A header of the given length; its line count is written wrong on purpose.
std::string Header(size_t lines, const char* eol, const std::string& title = "Community Standard Skyglow Data Format 1.0") {
    std::string h = "# " + title + eol + "# Number of header lines: 99" + eol;
    for (size_t i = 3; i <= lines - 3; ++i) h += "# Comment: line " + std::to_string(i) + eol;
    return h + "# UTC Date & Time, Local Date & Time, Temperature, Counts, Frequency, MSAS" + eol +
           "# YYYY-MM-DDTHH:mm:ss.fff;YYYY-MM-DDTHH:mm:ss.fff;Celsius;number;Hz;mag/arcsec^2" + eol +
           "# END OF HEADER" + eol;
}

// The minute-th reading after 2020-01-15 22:00 UTC.
std::string Line(int minute, const char* eol, double msas = 21.0) {
    const double t = EncodeDateTime(2020, 1, 15, 22, 0, 0) + minute / 1440.0;
    const DateTimeParts p = DecodeDateTime(t);
    char b[160];
    std::snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d.000;%04d-%02d-%02dT%02d:%02d:%02d.000;4.5;100;200;%.2f%s",
                  p.year, p.month, p.day, p.hour, p.minute, p.second, p.year, p.month, p.day, p.hour, p.minute,
                  p.second, msas, eol);
    return b;
}

class ImportCli : public ::testing::Test {
protected:
    void SetUp() override { ExecOn(db, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT, SIT_LONG) VALUES (4, 'Roof', 45.8664, 11.5264)"}); }
    std::string Write(const std::string& name, const std::string& content) {
        const fs::path p = dir.Path() / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    CliResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), "import");
        TChild cli;
        cli.Start(KALO_CLI_EXE, args, dir.Path() / ("cli-" + std::to_string(++runs) + ".txt"));
        const int code = cli.WaitExit(120s);
        return {code, cli.Out(), cli.Err()};
    }
    int Readings() { return std::stoi(ColumnOn(db, "SELECT COUNT(*) FROM READINGS WHERE REA_SITE=4").at(0)); }

    testsupport::TempDir dir;
    std::string db = testsupport::CopyPristineDb(dir.Path());
    int runs = 0;
};

TEST_F(ImportCli, FilesOfEitherLineEndAndHeaderLengthAreImportedAndAgainUpdated) {
    std::string a = Header(35, "\n"), b = Header(38, "\r\n");
    for (int m = 0; m < 3; ++m) a += Line(m, "\n");
    for (int m = 10; m < 14; ++m) b += Line(m, "\r\n");
    const std::string fileA = Write("a.dat", a), fileB = Write("b.dat", b);

    const CliResult first = Run({fileA, fileB, "--site", "4", "--db", db});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, fileA + ": 3 lines read, 3 imported new, 0 updated, 0 skipped\n" + fileB +
                             ": 4 lines read, 4 imported new, 0 updated, 0 skipped\n");
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(Readings(), 7);
    EXPECT_EQ(ColumnOn(db, "SELECT DISTINCT REA_ORIGIN FROM READINGS"), std::vector<std::string>{"I"});

    const CliResult again = Run({"--db", db, "--site", "4", fileB});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, fileB + ": 4 lines read, 0 imported new, 4 updated, 0 skipped\n");
    EXPECT_EQ(Readings(), 7);
}

TEST_F(ImportCli, ABrokenLineIsNamedAndSkippedAndAFileThatCannotBeReadImportsNothingWhileTheOthersGoOn) {
    std::string broken = Header(35, "\r\n");
    broken += Line(0, "\r\n");
    broken += "2020-01-15T22:01:00.000;2020-01-15T23:01:00.000;4.5;100;200\r\n";  // line 37
    broken += Line(2, "\r\n", 21.5);
    std::string noEnd = "# Light Pollution Monitoring Data Format 1.0\n# Comment: no end\n" + Line(30, "\n");
    const std::string fileBroken = Write("broken.dat", broken);
    const std::string fileNoEnd = Write("noend.dat", noEnd);
    const std::string fileOther = Write("other.csv", "UTC;MSAS\n" + Line(40, "\n"));
    const std::string fileMissing = (dir.Path() / "missing.dat").string();

    const CliResult r = Run({"--site", "4", "--db", db, fileNoEnd, fileBroken, fileOther, fileMissing});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, fileBroken + ": 3 lines read, 2 imported new, 0 updated, 1 skipped\n");
    EXPECT_EQ(r.err, "import: " + fileNoEnd +
                         ": not imported: the header has no end: line 3 is no comment and no \"# END OF HEADER\" "
                         "came before it\n" +
                         fileBroken + ":37: 5 fields, the header names 6 (line skipped)\n" + "import: " + fileOther +
                         ": not imported: not a community standard skyglow data file: line 1 is \"UTC;MSAS\"\n" +
                         "import: " + fileMissing + ": not imported: cannot open the file: No such file or directory\n");
    EXPECT_EQ(Readings(), 2);
    std::vector<double> values;
    ForEachRowOn(db, "SELECT REA_SQMVALUE FROM READINGS ORDER BY REA_DATETIME",
                 [&](fb::Query& q) { values.push_back(q.Fields(0).AsDouble()); });
    EXPECT_EQ(values, (std::vector<double>{21.0, 21.5}));
}

TEST_F(ImportCli, ALargeFileShowsItsProgress) {
    std::string big = Header(36, "\n", "Definition of the community standard for skyglow observations 1.0");
    for (int m = 0; m < 12000; ++m) big += Line(m, "\n");
    const std::string file = Write("big.dat", big);
    const CliResult r = Run({file, "--site", "4", "--db", db});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, file + ": 12000 lines read, 12000 imported new, 0 updated, 0 skipped\n");
    EXPECT_NE(r.err.find("import: " + file + ": 2048 of 12000 lines (17%)\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("12000 of 12000"), std::string::npos) << r.err;
    EXPECT_EQ(Readings(), 12000);
}

TEST_F(ImportCli, HelpUsageErrorsAndMissingDataAreTold) {
    const std::string good = Write("good.dat", Header(35, "\n") + Line(0, "\n"));
    const CliResult help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* part : {"Usage: kalosqm-cli import [OPTIONS] files...", "--site ID", "--db FILE", "FILE:LINE"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part << "\n" << help.out;

    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        {{"--site", "4", "--db", db}, 2, "files is required"},
        {{good, "--db", db}, 2, "--site is required"},
        {{good, "--site", "0", "--db", db}, 2, "--site"},
        {{good, "--site", "four", "--db", db}, 2, "--site"},
        {{good, "--site", "4", "--db", db, "--bogus"}, 2, "--bogus"},
        {{good, "--site", "4", "--db", (dir.Path() / "none.fdb").string()}, 1, "there is no local database at"},
        {{good, "--site", "5", "--db", db}, 1, "there is no site with ID 5 in"},
    };
    for (const auto& c : cases) {
        const CliResult r = Run(c.args);
        std::string all;
        for (const auto& a : c.args) all += a + " ";
        EXPECT_EQ(r.exitCode, c.exitCode) << all << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << all << "\n" << r.err;
    }
    EXPECT_EQ(Readings(), 0);
}

}  // namespace
