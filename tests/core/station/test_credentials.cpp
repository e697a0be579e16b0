// Credentials files: scrambling, the 648-byte record, the validity check,
// the operators' tool and the admission test's offline answer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <tuple>

#include "core/station/credentials.h"
#include "core/station/myutils.h"
#include "support/testsupport.h"

namespace fs = std::filesystem;

namespace {

TCredentials Sample(const std::string& code = "AB12") {
    return {code, "station", "s3cret'\\", "noctila.example.org", 3306, "noctila", true, true};
}

auto Fields(const TCredentials& c) {
    return std::tie(c.SiteCode, c.User, c.Password, c.Host, c.Port, c.Database, c.Upload, c.Download);
}

unsigned char At(const std::string& rec, size_t offset) { return static_cast<unsigned char>(rec[offset]); }

// A program folder of its own for each test.
class CredentialsTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramDir(dir_.Str()); }
    static void WriteBytes(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static void Install(const std::string& code, const std::string& bytes) { WriteBytes(CredentialsFileName(code), bytes); }
    testsupport::TempDir dir_;
};

// The operators' tool: its exit code and all it prints.
struct CliRun {
    int exitCode = -1;
    std::string out;
};

CliRun RunCli(const std::string& args) {
    CliRun r;
    FILE* p = ::popen((std::string(KALO_CLI) + " " + args + " 2>&1").c_str(), "r");
    if (p == nullptr) return r;
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace

TEST(Scramble, ShiftsByPositionPlusTwoWithWrapAroundAndUnscrambleUndoesIt) {
    EXPECT_EQ(ScrambleText("AAA"), "DEF");  // 65+1+2, 65+2+2, 65+3+2
    EXPECT_EQ(ScrambleText(""), "");
    EXPECT_EQ(ScrambleText("aaaa\xFA"), "defg\x01");                  // 250+5+2 = 257 -> 1
    EXPECT_EQ(ScrambleText("aaaa\xF9"), std::string("defg\0", 5));  // exactly 256 -> 0
    for (int c = 0; c < 256; ++c) {
        const std::string text(255, static_cast<char>(c));
        ASSERT_EQ(UnscrambleText(ScrambleText(text)), text) << "code " << c;
    }
}

TEST(CredentialsRecord, LaysOutEveryFieldAtItsOffsetAndRoundTripsThroughTheReader) {
    TCredentials c = Sample();
    c.Port = 0x01020304;
    c.Download = false;
    const std::string rec = EncodeCredentialsRecord(c);
    ASSERT_EQ(rec.size(), kCredentialsRecordSize);
    // Offset of the length byte, and the text after it.
    for (const auto& [offset, text] : {std::pair<size_t, std::string>{0, ScrambleText("AB12")},
                                       {11, ScrambleText("station")}, {62, ScrambleText(c.Password)},
                                       {113, ScrambleText(c.Host)}, {376, ScrambleText("noctila")},
                                       {632, "Y"}, {634, "N"}, {636, UnscrambleText("AB12")}}) {
        EXPECT_EQ(At(rec, offset), text.size()) << offset;
        EXPECT_EQ(rec.substr(offset + 1, text.size()), text) << offset;
    }
    EXPECT_EQ(rec.substr(372, 4), "\x04\x03\x02\x01");  // little-endian port

    // The longest texts, a negative port; bytes after a stated length or after the record are ignored.
    const TCredentials longest{"ABCDEFGHIJ", std::string(50, 'u'), std::string(50, '\xF0'), std::string(255, 'h'), -2,
                               std::string(255, 'd'), false, true};
    const TCredentialsRecord r = DecodeCredentialsRecord(EncodeCredentialsRecord(longest));
    EXPECT_TRUE(r.Consistent());
    EXPECT_EQ(Fields(r.Plain()), Fields(longest));
    std::string padded = EncodeCredentialsRecord(Sample());
    for (size_t i = 12 + 7; i < 62; ++i) padded[i] = 'X';  // rest of the user field
    padded += std::string(100, '\x7F');                     // a second, garbage record
    EXPECT_EQ(Fields(DecodeCredentialsRecord(padded).Plain()), Fields(Sample()));
}

TEST(CredentialsRecord, RefusesShortRecordsAndTextsLongerThanTheirField) {
    const std::string rec = EncodeCredentialsRecord(Sample());
    EXPECT_THROW(DecodeCredentialsRecord(rec.substr(0, 647)), CredentialsFileError);
    // Field offset and the most characters it holds (host and name hold 255, any length byte).
    for (auto [offset, capacity] : {std::pair<size_t, int>{0, 10}, {11, 50}, {62, 50}, {636, 11}}) {
        std::string bad = rec;
        bad[offset] = static_cast<char>(capacity);
        EXPECT_NO_THROW(DecodeCredentialsRecord(bad)) << "offset " << offset;
        bad[offset] = static_cast<char>(capacity + 1);
        EXPECT_THROW(DecodeCredentialsRecord(bad), CredentialsFileError) << "offset " << offset;
    }
    TCredentials longUser = Sample(), longHost = Sample();
    longUser.User = std::string(51, 'u');
    longHost.Host = std::string(256, 'h');
    for (const TCredentials& c : {Sample("ABCDEFGHIJK"), longUser, longHost})
        EXPECT_THROW(EncodeCredentialsRecord(c), std::invalid_argument);
}

TEST_F(CredentialsTest, CheckGivesTheResultAndTextOfEveryCase) {
    EXPECT_EQ(CredentialsFileName("AB12"), (dir_.Path() / "crdfiles" / "Cred_AB12.crd").string());
    const std::string rec = EncodeCredentialsRecord(Sample());
    const auto changed = [&rec](std::initializer_list<std::pair<size_t, int>> bytes) {
        std::string r = rec;
        for (auto [offset, value] : bytes) r[offset] = static_cast<char>(value);
        return r;
    };
    const auto permissions = [&rec](const std::string& up, const std::string& down) {
        std::string r = rec;
        for (auto [offset, value] : {std::pair<size_t, std::string>{632, up}, {634, down}}) {
            r[offset] = static_cast<char>(value.size());  // "YES" states 3 characters in a 1-character field
            r[offset + 1] = value.empty() ? '\0' : value[0];
        }
        return r;
    };
    const std::string format = "The credentials file is not in the expected format";
    const std::string mismatch = "The Site code does not match with the credential file";
    const std::string corrupted = "Credentials file seems to be corrupted";
    // File (none, or installed under the trimmed code), code checked, result, text.
    const std::tuple<std::optional<std::string>, std::string, int, std::string> cases[] = {
        {std::nullopt, "AB12", 0, ""}, {rec.substr(0, 647), "AB12", 1, format}, {"", "AB12", 1, format},
        {changed({{113, 200}, {11, 51}}), "AB12", 1, format},  // the host fits its field, the user does not
        {rec, "AB12    ", 12, ""}, {rec, "  AB12", 12, ""},
        {EncodeCredentialsRecord(Sample("ABCDEFGHIJ")), "ABCDEFGHIJ", 12, ""},  // the longest code a record holds
        {rec, "ab12", 1, mismatch}, {rec, "XY34", 1, mismatch},                 // a file copied under another code
        {changed({{638, At(rec, 638) + 1}}), "AB12", 1, corrupted},
        {changed({{636, 3}}), "ZZ99", 1, corrupted},  // reported before the code comparison
        {permissions("Y", "N"), "AB12", 4, ""}, {permissions("N", "Y"), "AB12", 8, ""},
        {permissions("Y", "Y"), "AB12", 12, ""}, {permissions("N", "N"), "AB12", 2, ""},
        {permissions("y", "Y"), "AB12", 8, ""}, {permissions("YES", "Y"), "AB12", 8, ""},
        {permissions("Y", "YES"), "AB12", 4, ""}, {permissions("", ""), "AB12", 2, ""},
        {permissions("y", "y"), "AB12", 2, ""}};
    int i = 0;
    for (const auto& [file, code, result, message] : cases) {
        fs::remove_all(dir_.Path() / "crdfiles");
        if (file) Install(Trim(code), *file);
        std::string text = "stale";
        EXPECT_EQ(CheckCredentialsFile(code, text), result) << "case " << i;
        EXPECT_EQ(text, message) << "case " << i++;
    }

    std::string text = "stale";
    // A code that would lead out of crdfiles names no file at all.
    WriteBytes(dir_.Path() / "Cred_X.crd", EncodeCredentialsRecord(Sample("../X")));
    EXPECT_EQ(CheckCredentialsFile("../X", text), 0);
    EXPECT_EQ(text, "");
    EXPECT_THROW(ReadSiteCredentials("../X"), CredentialsFileError);
}

TEST_F(CredentialsTest, WhatIsNoRegularFileIsRefusedAtOnce) {
    const std::string format = "The credentials file is not in the expected format";
    const fs::path crd = CredentialsFileName("AB12");
    fs::create_directories(crd.parent_path());
    // Each check on its own thread: a reader that waited for a FIFO's writer would hold the test.
    const auto check = [](const std::string& path, const std::string& code) {
        auto run = std::async(std::launch::async, [path, code] {
            std::string text;
            const int result = path.empty() ? CheckCredentialsFile(code, text) : CheckCredentialsFileAt(path, code, text);
            return std::make_pair(result, text);
        });
        if (run.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "the check of " << (path.empty() ? code : path) << " waits";
            const int fd = ::open((path.empty() ? CredentialsFileName(code) : path).c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);  // a writer that comes and goes lets it end
        }
        return run.get();
    };
    const std::pair<int, std::string> refused{kCredentialsInvalid, format};

    ASSERT_EQ(::mkfifo(crd.c_str(), 0644), 0);
    EXPECT_EQ(check("", "AB12"), refused);
    EXPECT_EQ(check(crd.string(), "AB12"), refused);
    // A FIFO with a writer that offers good records is no file either.
    const int writer = ::open(crd.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const std::string rec = EncodeCredentialsRecord(Sample()), two = rec + rec;
    ASSERT_EQ(::write(writer, two.data(), two.size()), static_cast<ssize_t>(two.size()));
    EXPECT_THROW(ReadSiteCredentials("AB12"), CredentialsFileError);
    EXPECT_EQ(check("", "AB12"), refused);
    ::close(writer);

    fs::remove(crd);
    fs::create_symlink("/dev/zero", crd);  // endless zeros, which would read as an empty record
    EXPECT_EQ(check("", "AB12"), refused);
    EXPECT_EQ(check("/dev/zero", ""), refused);
    EXPECT_EQ(check("/dev/null", "AB12"), refused);
    fs::remove(crd);
    fs::create_directory(crd);
    EXPECT_EQ(check("", "AB12"), refused);
    EXPECT_THROW(ReadCredentialsRecord(crd.string()), CredentialsFileError);
    fs::remove(crd);

    // A regular file is read as far as its first record only, however long it is.
    {
        std::ofstream(crd, std::ios::binary) << rec;
    }
    fs::resize_file(crd, std::uintmax_t{1} << 36);  // sparse: 64 GiB that take no room
    EXPECT_EQ(check("", "AB12"), std::make_pair(kCredentialsUpload + kCredentialsDownload, std::string()));
    fs::create_symlink(crd, dir_.Path() / "link.crd");
    EXPECT_EQ(check((dir_.Path() / "link.crd").string(), "AB12"), std::make_pair(12, std::string()));
}

TEST_F(CredentialsTest, ReaderTrimsTheCodeNeverWritesTheFileAndTheAdmissionTestNeedsAValidOne) {
    Install("AB12", EncodeCredentialsRecord(Sample()));
    fs::permissions(CredentialsFileName("AB12"), fs::perms::owner_read | fs::perms::group_read);
    std::string text;
    EXPECT_EQ(CheckCredentialsFile("AB12", text), 12);
    EXPECT_EQ(Fields(ReadSiteCredentials("AB12  ").Plain()), Fields(Sample()));
    Install("CD34", EncodeCredentialsRecord(Sample("CD34")).substr(0, 647));
    EXPECT_THROW(ReadSiteCredentials("CD34"), CredentialsFileError);

    std::string corrupted = EncodeCredentialsRecord(Sample("EF56"));
    corrupted[638] ^= 0x40;
    Install("EF56", corrupted);
    for (const char* code : {"CD34", "EF56"}) {  // short, corrupted
        text = "stale";
        EXPECT_FALSE(TestNetworkConnection(code, text)) << code;
        EXPECT_EQ(text, "Credential file is invalid") << code;
    }
    // No file is no invalid file: the check names the code that has none.
    text = "stale";
    EXPECT_FALSE(TestNetworkConnection("GH78 ", text));
    EXPECT_EQ(text, "There is no credentials file for the site code \"GH78\"");
    EXPECT_FALSE(TestNetworkConnection("  ", text));
    EXPECT_EQ(text, "First insert the Site code");
    EXPECT_FALSE(TestNetworkConnection("A/B", text));
    EXPECT_EQ(text, "The Site code cannot name a credentials file");
}

TEST_F(CredentialsTest, CliMakesAndChecksFilesAndRefusesBadInput) {
    const std::string file = (dir_.Path() / "AB12.crd").string(), longFile = (dir_.Path() / "long.crd").string();
    CliRun r = RunCli("cred make --code AB12 --host 127.0.0.1 --port 3307 --user station --password 'p w' "
                      "--database noctila --upload -o " + file);
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const TCredentialsRecord rec = ReadCredentialsRecord(file);
    EXPECT_TRUE(rec.Consistent());
    const TCredentials made = rec.Plain(), want{"AB12", "station", "p w", "127.0.0.1", 3307, "noctila", true, false};
    EXPECT_EQ(Fields(made), Fields(want));
    // A code longer than a site's 8 characters is made, with a warning.
    const std::string account = " --host h --port 3306 --user u --password p --database d";
    r = RunCli("cred make --code ABCDEFGHI" + account + " --upload --download -o " + longFile);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("warning"), std::string::npos) << r.out;

    // Arguments, exit code 0 or not, output.
    const std::tuple<std::string, bool, std::string> checks[] = {
        {file + " AB12", true, "result: 4\n"},
        {longFile + " ABCDEFGHI", true, "result: 12\n"},
        {file + " XY34", false, "result: 1\nmessage: The Site code does not match with the credential file\n"},
        {(dir_.Path() / "none.crd").string() + " AB12", false, "result: 0\n"}};
    for (const auto& [args, ok, out] : checks) {
        r = RunCli("cred check " + args);
        EXPECT_EQ(r.exitCode == 0, ok) << args;
        EXPECT_EQ(r.out, out) << args;
    }
    for (const std::string& bad : {"make --code ABCDEFGHIJK" + account + " -o " + file,
                                   "make --code AB12 --host h --port 33x6 --user u --password p --database d -o " + file,
                                   "make --code AB12 --host h --port 70000 --user u --password p --database d -o " + file,
                                   "make --code AB12" + account,  // no output file
                                   "check " + file})
        EXPECT_EQ(RunCli("cred " + bad).exitCode, 2) << bad;
}
