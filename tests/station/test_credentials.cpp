// Credentials files: scrambling, the 648-byte record, the validity check,
// the operators' tool and the admission test's offline answers.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "credentials.h"
#include "myutils.h"
#include "testsupport.h"

namespace fs = std::filesystem;

namespace {

TCredentials Sample(const std::string& code = "AB12") {
    TCredentials c;
    c.SiteCode = code;
    c.User = "station";
    c.Password = "s3cret'\\";
    c.Host = "noctila.example.org";
    c.Port = 3306;
    c.Database = "noctila";
    c.Upload = true;
    c.Download = true;
    return c;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

unsigned char At(const std::string& rec, size_t offset) { return static_cast<unsigned char>(rec[offset]); }

// A program folder of its own for each test.
class CredentialsTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramDir(dir_.Str()); }
    std::string FileOf(const std::string& code) { return CredentialsFileName(code); }
    void Install(const std::string& code, const std::string& bytes) { WriteBytes(FileOf(code), bytes); }
    int Check(const std::string& code, std::string& text) {
        text = "stale";
        return CheckCredentialsFile(code, text);
    }
    testsupport::TempDir dir_;
};

}  // namespace

TEST(Scramble, ShiftsByPositionPlusTwoWithWrapAround) {
    EXPECT_EQ(ScrambleText("AAA"), std::string("DEF"));   // 65+1+2, 65+2+2, 65+3+2
    EXPECT_EQ(UnscrambleText("DEF"), std::string("AAA"));
    const std::string fifth250 = std::string(4, 'a') + static_cast<char>(250);
    EXPECT_EQ(At(ScrambleText(fifth250), 4), 1);          // 250+5+2 = 257 -> 1
    EXPECT_EQ(At(UnscrambleText(std::string(4, 'a') + '\x01'), 4), 250);
    const std::string fifth249 = std::string(4, 'a') + static_cast<char>(249);
    EXPECT_EQ(At(ScrambleText(fifth249), 4), 0);          // exactly 256 -> 0
    EXPECT_EQ(At(UnscrambleText(std::string(4, 'a') + std::string(1, '\0')), 4), 249);
    EXPECT_EQ(ScrambleText(""), "");
}

TEST(Scramble, UnscrambleUndoesScrambleForEveryByteAtEveryPosition) {
    for (int c = 0; c < 256; ++c) {
        const std::string text(255, static_cast<char>(c));
        ASSERT_EQ(UnscrambleText(ScrambleText(text)), text) << "code " << c;
        ASSERT_EQ(ScrambleText(UnscrambleText(text)), text) << "code " << c;
    }
}

TEST(CredentialsRecord, LaysOutEveryFieldAtItsOffset) {
    TCredentials c = Sample("AB12");
    c.Port = 0x01020304;
    c.Download = false;
    const std::string rec = EncodeCredentialsRecord(c);
    ASSERT_EQ(rec.size(), kCredentialsRecordSize);
    EXPECT_EQ(At(rec, 0), 4);
    EXPECT_EQ(rec.substr(1, 4), ScrambleText("AB12"));
    EXPECT_EQ(At(rec, 11), 7);
    EXPECT_EQ(rec.substr(12, 7), ScrambleText("station"));
    EXPECT_EQ(At(rec, 62), c.Password.size());
    EXPECT_EQ(rec.substr(63, c.Password.size()), ScrambleText(c.Password));
    EXPECT_EQ(At(rec, 113), c.Host.size());
    EXPECT_EQ(rec.substr(114, c.Host.size()), ScrambleText(c.Host));
    EXPECT_EQ(At(rec, 372), 0x04);
    EXPECT_EQ(At(rec, 373), 0x03);
    EXPECT_EQ(At(rec, 374), 0x02);
    EXPECT_EQ(At(rec, 375), 0x01);
    EXPECT_EQ(At(rec, 376), 7);
    EXPECT_EQ(rec.substr(377, 7), ScrambleText("noctila"));
    EXPECT_EQ(rec.substr(632, 2), std::string("\x01Y", 2));
    EXPECT_EQ(rec.substr(634, 2), std::string("\x01N", 2));
    EXPECT_EQ(At(rec, 636), 4);
    EXPECT_EQ(rec.substr(637, 4), UnscrambleText("AB12"));
}

TEST(CredentialsRecord, RoundTripsThroughTheReader) {
    TCredentials c = Sample("ABCDEFGHIJ");  // the longest code a record holds
    c.User = std::string(50, 'u');
    c.Password = std::string(50, '\xF0');
    c.Host = std::string(255, 'h');
    c.Database = std::string(255, 'd');
    c.Port = -2;
    c.Upload = false;
    const TCredentialsRecord r = DecodeCredentialsRecord(EncodeCredentialsRecord(c));
    EXPECT_TRUE(r.Consistent());
    const TCredentials p = r.Plain();
    EXPECT_EQ(p.SiteCode, c.SiteCode);
    EXPECT_EQ(p.User, c.User);
    EXPECT_EQ(p.Password, c.Password);
    EXPECT_EQ(p.Host, c.Host);
    EXPECT_EQ(p.Database, c.Database);
    EXPECT_EQ(p.Port, -2);
    EXPECT_FALSE(p.Upload);
    EXPECT_TRUE(p.Download);
}

TEST(CredentialsRecord, IgnoresBytesAfterTheStatedLengthAndAfterTheRecord) {
    std::string rec = EncodeCredentialsRecord(Sample());
    for (size_t i = 12 + 7; i < 62; ++i) rec[i] = 'X';  // rest of the user field
    rec += std::string(100, '\x7F');                     // a second, garbage record
    const TCredentials p = DecodeCredentialsRecord(rec).Plain();
    EXPECT_EQ(p.User, "station");
    EXPECT_EQ(p.Database, "noctila");
}

TEST(CredentialsRecord, RefusesShortRecordsAndTextsLongerThanTheirField) {
    const std::string rec = EncodeCredentialsRecord(Sample());
    EXPECT_THROW(DecodeCredentialsRecord(rec.substr(0, 647)), CredentialsFileError);
    EXPECT_THROW(DecodeCredentialsRecord(""), CredentialsFileError);
    // Field offset and the most characters it holds (host and name hold 255, any length byte).
    for (auto [offset, capacity] : {std::pair<size_t, int>{0, 10}, {11, 50}, {62, 50}, {636, 11}}) {
        std::string bad = rec;
        bad[offset] = static_cast<char>(capacity);
        EXPECT_NO_THROW(DecodeCredentialsRecord(bad)) << "offset " << offset;
        bad[offset] = static_cast<char>(capacity + 1);
        EXPECT_THROW(DecodeCredentialsRecord(bad), CredentialsFileError) << "offset " << offset;
    }
}

TEST(CredentialsRecord, WriterRefusesTextsThatDoNotFit) {
    TCredentials c = Sample("ABCDEFGHIJK");
    EXPECT_THROW(EncodeCredentialsRecord(c), std::invalid_argument);
    c = Sample();
    c.User = std::string(51, 'u');
    EXPECT_THROW(EncodeCredentialsRecord(c), std::invalid_argument);
    c = Sample();
    c.Host = std::string(256, 'h');
    EXPECT_THROW(EncodeCredentialsRecord(c), std::invalid_argument);
}

TEST_F(CredentialsTest, FileNameLiesInCrdfilesBesideTheProgram) {
    EXPECT_EQ(CredentialsFileName("AB12"), (dir_.Path() / "crdfiles" / "Cred_AB12.crd").string());
}

TEST_F(CredentialsTest, NoFileGivesZeroAndNoText) {
    std::string text;
    EXPECT_EQ(Check("AB12", text), 0);
    EXPECT_EQ(text, "");
    // A code that would lead out of crdfiles names no file at all.
    WriteBytes((dir_.Path() / "Cred_X.crd").string(), EncodeCredentialsRecord(Sample("../X")));
    EXPECT_EQ(Check("../X", text), 0);
    EXPECT_THROW(ReadSiteCredentials("../X"), CredentialsFileError);
}

TEST_F(CredentialsTest, ShortOrUnreadableFilesAreNotInTheExpectedFormat) {
    std::string text;
    Install("AB12", EncodeCredentialsRecord(Sample()).substr(0, 647));
    EXPECT_EQ(Check("AB12", text), 1);
    EXPECT_EQ(text, "The credentials file is not in the expected format");
    EXPECT_THROW(ReadSiteCredentials("AB12"), CredentialsFileError);

    Install("AB12", "");
    EXPECT_EQ(Check("AB12", text), 1);
    EXPECT_EQ(text, "The credentials file is not in the expected format");

    fs::remove(FileOf("AB12"));
    fs::create_directories(FileOf("AB12"));  // a folder where the file should be
    EXPECT_EQ(Check("AB12", text), 1);
    EXPECT_EQ(text, "The credentials file is not in the expected format");

    fs::remove(FileOf("AB12"));
    std::string rec = EncodeCredentialsRecord(Sample());
    rec[113] = static_cast<char>(200);  // fits the field
    rec[11] = static_cast<char>(51);    // does not
    Install("AB12", rec);
    EXPECT_EQ(Check("AB12", text), 1);
    EXPECT_EQ(text, "The credentials file is not in the expected format");
}

TEST_F(CredentialsTest, SiteCodeIsTrimmedButCaseSensitive) {
    std::string text;
    Install("AB12", EncodeCredentialsRecord(Sample("AB12")));
    EXPECT_EQ(Check("AB12    ", text), 12);
    EXPECT_EQ(text, "");
    EXPECT_EQ(Check("  AB12", text), 12);
    EXPECT_EQ(ReadSiteCredentials("AB12  ").Plain().SiteCode, "AB12");

    // Codes of 9 and 10 characters are what a record holds at most.
    Install("ABCDEFGHIJ", EncodeCredentialsRecord(Sample("ABCDEFGHIJ")));
    EXPECT_EQ(Check("ABCDEFGHIJ", text), 12);

    Install("ab12", EncodeCredentialsRecord(Sample("AB12")));
    EXPECT_EQ(Check("ab12", text), 1);
    EXPECT_EQ(text, "The Site code does not match with the credential file");

    Install("XY34", EncodeCredentialsRecord(Sample("AB12")));  // a file copied under another code
    EXPECT_EQ(Check("XY34", text), 1);
    EXPECT_EQ(text, "The Site code does not match with the credential file");
}

TEST_F(CredentialsTest, PermissionsAddUpAndOnlyAnUpperCaseYGrants) {
    std::string text;
    const auto withPermissions = [](const std::string& up, const std::string& down) {
        std::string rec = EncodeCredentialsRecord(Sample());
        for (auto [offset, value] : {std::pair<size_t, std::string>{632, up}, {634, down}}) {
            rec[offset] = static_cast<char>(value.size());  // "YES" states 3 characters in a 1-character field
            rec[offset + 1] = value.empty() ? '\0' : value[0];
        }
        return rec;
    };
    const struct {
        const char* up;
        const char* down;
        int expected;
    } cases[] = {{"Y", "N", 4}, {"N", "Y", 8}, {"Y", "Y", 12}, {"N", "N", 2}, {"y", "Y", 8},
                 {"YES", "Y", 8}, {"Y", "YES", 4}, {"", "", 2}, {"y", "y", 2}};
    for (const auto& c : cases) {
        Install("AB12", withPermissions(c.up, c.down));
        EXPECT_EQ(Check("AB12", text), c.expected) << c.up << "/" << c.down;
        EXPECT_EQ(text, "") << c.up << "/" << c.down;
    }
}

TEST_F(CredentialsTest, CorruptedCheckTextIsReportedBeforeTheCodeComparison) {
    std::string text;
    std::string rec = EncodeCredentialsRecord(Sample("AB12"));
    rec[638] = static_cast<char>(rec[638] + 1);
    Install("AB12", rec);
    EXPECT_EQ(Check("AB12", text), 1);
    EXPECT_EQ(text, "Credentials file seems to be corrupted");

    rec = EncodeCredentialsRecord(Sample("AB12"));
    rec[636] = 3;  // check text one character short, in a file copied under another code
    Install("ZZ99", rec);
    EXPECT_EQ(Check("ZZ99", text), 1);
    EXPECT_EQ(text, "Credentials file seems to be corrupted");
}

TEST_F(CredentialsTest, ReaderNeverWritesTheFile) {
    Install("AB12", EncodeCredentialsRecord(Sample()));
    fs::permissions(FileOf("AB12"), fs::perms::owner_read | fs::perms::group_read);
    std::string text;
    EXPECT_EQ(Check("AB12", text), 12);
    EXPECT_EQ(ReadSiteCredentials("AB12").Plain().Host, "noctila.example.org");
}

TEST_F(CredentialsTest, AdmissionTestNeedsAValidFileFirst) {
    std::string text = "stale";
    EXPECT_FALSE(TestNetworkConnection("AB12", text));
    EXPECT_EQ(text, "Credential file is invalid");
    std::string rec = EncodeCredentialsRecord(Sample());
    rec[638] ^= 0x40;
    Install("AB12", rec);
    EXPECT_FALSE(TestNetworkConnection("AB12", text));
    EXPECT_EQ(text, "Credential file is invalid");
}

// The operators' tool.
namespace {

struct CliRun {
    int exitCode;
    std::string out;
};

CliRun RunCli(const std::string& args) {
    const std::string cmd = std::string(KALO_CLI) + " " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    CliRun r{-1, ""};
    if (p == nullptr) return r;
    std::array<char, 512> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace

TEST_F(CredentialsTest, CliMakesFilesTheReaderAccepts) {
    const std::string file = (dir_.Path() / "AB12.crd").string();
    const CliRun made = RunCli("cred make --code AB12 --host 127.0.0.1 --port 3307 --user station --password 'p w' "
                            "--database noctila --upload -o " + file);
    ASSERT_EQ(made.exitCode, 0) << made.out;
    const TCredentialsRecord rec = ReadCredentialsRecord(file);
    EXPECT_TRUE(rec.Consistent());
    const TCredentials p = rec.Plain();
    EXPECT_EQ(p.SiteCode, "AB12");
    EXPECT_EQ(p.Host, "127.0.0.1");
    EXPECT_EQ(p.Port, 3307);
    EXPECT_EQ(p.User, "station");
    EXPECT_EQ(p.Password, "p w");
    EXPECT_EQ(p.Database, "noctila");
    EXPECT_TRUE(p.Upload);
    EXPECT_FALSE(p.Download);

    CliRun checked = RunCli("cred check " + file + " AB12");
    EXPECT_EQ(checked.exitCode, 0);
    EXPECT_EQ(checked.out, "result: 4\n");
    checked = RunCli("cred check " + file + " XY34");
    EXPECT_NE(checked.exitCode, 0);
    EXPECT_EQ(checked.out, "result: 1\nmessage: The Site code does not match with the credential file\n");
    checked = RunCli("cred check " + (dir_.Path() / "none.crd").string() + " AB12");
    EXPECT_NE(checked.exitCode, 0);
    EXPECT_EQ(checked.out, "result: 0\n");
}

TEST_F(CredentialsTest, CliWarnsAboutCodesLongerThanASiteHoldsAndRefusesBadInput) {
    const std::string file = (dir_.Path() / "long.crd").string();
    CliRun r = RunCli("cred make --code ABCDEFGHI --host h --port 3306 --user u --password p --database d "
                   "--upload --download -o " + file);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("warning"), std::string::npos) << r.out;
    EXPECT_EQ(RunCli("cred check " + file + " ABCDEFGHI").out, "result: 12\n");

    r = RunCli("cred make --code ABCDEFGHIJK --host h --port 3306 --user u --password p --database d -o " + file);
    EXPECT_NE(r.exitCode, 0);
    r = RunCli("cred make --code AB12 --host h --port 33x6 --user u --password p --database d -o " + file);
    EXPECT_NE(r.exitCode, 0);
    r = RunCli("cred make --code AB12 --host h --port 70000 --user u --password p --database d -o " + file);
    EXPECT_NE(r.exitCode, 0);
    r = RunCli("cred make --code AB12 --host h --port 3306 --user u --password p --database d");
    EXPECT_NE(r.exitCode, 0);  // no output file
    r = RunCli("cred check " + file);
    EXPECT_NE(r.exitCode, 0);
}
