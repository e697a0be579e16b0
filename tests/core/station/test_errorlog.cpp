#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "core/station/errorlog.h"
#include "core/station/lastresort.h"
#include "core/station/myutils.h"
#include "support/testsupport.h"

namespace {

class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramDir(dir.Str()); }
    std::string Log(const std::string& file) { return testsupport::ReadFile(dir.Path() / "LOGS" / file); }
    testsupport::TempDir dir;
};

TEST_F(ErrorLogTest, FirstErrorCreatesFolderAndTheThreeKindsOfFile) {
    ASSERT_FALSE(std::filesystem::exists(dir.Path() / "LOGS"));
    WriteErrorLog("general", "");
    WriteErrorLog("site line", "Roof");
    WriteErrorLog("upload", "NETWORK");
    EXPECT_EQ(Log("ERROR-LOG.txt"), "general\r\n");
    EXPECT_EQ(Log("ERROR-LOG-SITE-Roof.TXT"), "site line\r\n");
    EXPECT_EQ(Log("ERROR-LOG-SITE-NETWORK.TXT"), "upload\r\n");
}

TEST_F(ErrorLogTest, AppendsInOrderAndKeepsEarlierLines) {
    WriteErrorLog("one", "Roof");
    WriteErrorLog("two", "Roof");
    EXPECT_EQ(Log("ERROR-LOG-SITE-Roof.TXT"), "one\r\ntwo\r\n");
}

TEST_F(ErrorLogTest, ControlBytesAndInvalidUtf8InALineAreWrittenEscapedOnOneLine) {
    using namespace std::string_literals;
    WriteErrorLog("reply \x1B]0;owned\x07\r\nfake line\0\x7F\xFF end, 19.3 \xC2\xB0" "C"s, "Roof");
    EXPECT_EQ(Log("ERROR-LOG-SITE-Roof.TXT"),
              "reply \\x1B]0;owned\\x07\\r\\nfake line\\x00\\x7F\\xFF end, 19.3 \xC2\xB0" "C\r\n");
}

TEST_F(ErrorLogTest, ANameThatCannotBeAFileNameLosesTheLineSilently) {
    EXPECT_NO_THROW(WriteErrorLog("lost", "North/South"));
    EXPECT_NO_THROW(WriteErrorLog("lost", "../escape"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "escape.TXT"));
    SetProgramDir("/proc/no-such-folder");
    EXPECT_NO_THROW(WriteErrorLog("lost", ""));
}

// A log that cannot be written is told once, with why, and once when it can be again.
TEST_F(ErrorLogTest, ALogThatLosesLinesIsToldOncePerOutageWithTheReasonAndOnceWhenWrittenAgain) {
    std::vector<TErrorLogNews> news;
    TErrorLogWatch watch([&news](const TErrorLogNews& n) { news.push_back(n); });
    const std::string roof = dir.Str() + "/LOGS/ERROR-LOG-SITE-Roof.TXT";
    WriteErrorLog("before", "Roof");
    EXPECT_TRUE(news.empty());

    // A plain file where the folder should be: every log fails, for real.
    std::filesystem::rename(dir.Path() / "LOGS", dir.Path() / "LOGS.saved");
    std::ofstream(dir.Path() / "LOGS").put('x');
    EXPECT_FALSE(TErrorLog().WriteError("lost 1", "Roof"));
    WriteErrorLog("lost 2", "Roof");
    WriteErrorLog("lost 3", "Roof");
    ASSERT_EQ(news.size(), 1u);
    EXPECT_TRUE(news[0].Failing);
    EXPECT_EQ(news[0].Path, roof);
    EXPECT_EQ(news[0].Reason, std::strerror(ENOTDIR));
    EXPECT_EQ(TErrorLog::Failing("Roof"), std::strerror(ENOTDIR));
    EXPECT_EQ(DescribeErrorLogNews(news[0]),
              "the error log " + roof + " cannot be written (Not a directory): its lines are lost until it can");
    // Another log is an outage of its own; the general log is one too.
    WriteErrorLog("lost", "NETWORK");
    WriteErrorLog("lost", "");
    WriteErrorLog("lost 4", "Roof");
    ASSERT_EQ(news.size(), 3u);
    EXPECT_EQ(news[1].Path, dir.Str() + "/LOGS/ERROR-LOG-SITE-NETWORK.TXT");
    EXPECT_EQ(news[2].Path, dir.Str() + "/LOGS/ERROR-LOG.txt");

    // Room again: one word per log when it takes a line, then silence.
    std::filesystem::remove(dir.Path() / "LOGS");
    std::filesystem::rename(dir.Path() / "LOGS.saved", dir.Path() / "LOGS");
    EXPECT_TRUE(TErrorLog().WriteError("after", "Roof"));
    WriteErrorLog("after again", "Roof");
    ASSERT_EQ(news.size(), 4u);
    EXPECT_FALSE(news[3].Failing);
    EXPECT_EQ(news[3].Path, roof);
    EXPECT_EQ(news[3].Reason, "");
    EXPECT_EQ(DescribeErrorLogNews(news[3]), "the error log " + roof + " is written again");
    EXPECT_EQ(TErrorLog::Failing("Roof"), "");
    EXPECT_EQ(TErrorLog::Failing("NETWORK"), std::strerror(ENOTDIR));
    EXPECT_EQ(Log("ERROR-LOG-SITE-Roof.TXT"), "before\r\nafter\r\nafter again\r\n");

    // A watcher put in place for a while hands back to the one before.
    std::vector<TErrorLogNews> inner;
    {
        TErrorLogWatch nested([&inner](const TErrorLogNews& n) { inner.push_back(n); });
        WriteErrorLog("back", "NETWORK");
    }
    WriteErrorLog("back", "");
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0].Path, dir.Str() + "/LOGS/ERROR-LOG-SITE-NETWORK.TXT");
    ASSERT_EQ(news.size(), 5u);
    EXPECT_EQ(news[4].Path, dir.Str() + "/LOGS/ERROR-LOG.txt");
    EXPECT_FALSE(news[4].Failing);

    // Two windows that go in the order they came: the one left alive hears, never one gone.
    std::vector<std::string> heard;
    auto first = std::make_unique<TErrorLogWatch>([&heard](const TErrorLogNews&) { heard.push_back("first"); });
    auto second = std::make_unique<TErrorLogWatch>([&heard](const TErrorLogNews&) { heard.push_back("second"); });
    first.reset();
    WriteErrorLog("lost", "Nowhere/North");  // refused before any file: no news
    std::filesystem::create_directory(dir.Path() / "LOGS" / "ERROR-LOG-SITE-Barn.TXT");  // a folder, even for root
    WriteErrorLog("lost", "Barn");
    second.reset();
    std::filesystem::remove(dir.Path() / "LOGS" / "ERROR-LOG-SITE-Barn.TXT");
    WriteErrorLog("kept", "Barn");
    EXPECT_EQ(heard, std::vector<std::string>{"second"});
    ASSERT_EQ(news.size(), 6u);
    EXPECT_EQ(news[5].Path, dir.Str() + "/LOGS/ERROR-LOG-SITE-Barn.TXT");
    EXPECT_FALSE(news[5].Failing);
}

// Long names keep within the 255 bytes of a file name, readable, apart, and
// whole characters; names that fit are as they always were.
TEST_F(ErrorLogTest, ALongSiteNameIsCutWithAHashAndItsLogIsWritten) {
    const std::string ascii(255, 'n');
    std::string utf8 = "Osservatorio di ";  // an even length: the cut falls inside a character
    while (utf8.size() + 2 <= 255) utf8 += "\xc3\xa0";  // a with grave
    const struct {
        std::string name;
        std::string file;  // expected; empty: cut
    } cases[] = {
        {"Roof", "ERROR-LOG-SITE-Roof.TXT"},
        {std::string(236, 'x'), "ERROR-LOG-SITE-" + std::string(236, 'x') + ".TXT"},
        {std::string(237, 'x'), ""},
        {ascii, ""},
        {ascii.substr(0, 254) + "m", ""},
        {utf8, ""},
        {utf8 + "b", ""},
    };
    std::set<std::string> files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.size());
        const std::string file = TErrorLog::FileNameFor(c.name);
        EXPECT_LE(file.size(), 255u);
        EXPECT_TRUE(files.insert(file).second) << "two names share " << file;
        if (!c.file.empty()) {
            EXPECT_EQ(file, c.file);
        } else {
            EXPECT_EQ(file.size(), 255u - (c.name == utf8 || c.name == utf8 + "b" ? 1 : 0));
            EXPECT_EQ(file.rfind("ERROR-LOG-SITE-" + c.name.substr(0, 200), 0), 0u) << file;
            EXPECT_TRUE(std::regex_search(file, std::regex("~[0-9a-f]{8}\\.TXT$"))) << file;
            EXPECT_EQ(Printable(file), file) << "a character cut in two";
        }
        EXPECT_EQ(TErrorLog::FileNameFor(c.name), file);  // the same every time
        EXPECT_TRUE(TErrorLog().WriteError("line of " + std::to_string(c.name.size()), c.name));
        EXPECT_EQ(Log(file), "line of " + std::to_string(c.name.size()) + "\r\n");
    }
}

TEST_F(ErrorLogTest, LinesFromTwoProcessesNeverInterleave) {
    const std::string a(3000, 'a'), b(3000, 'b');
    const pid_t child = fork();
    if (child == 0) {
        for (int i = 0; i < 200; ++i) WriteErrorLog(a, "Shared");
        _exit(0);
    }
    for (int i = 0; i < 200; ++i) WriteErrorLog(b, "Shared");
    int status = 0;
    waitpid(child, &status, 0);
    const std::string all = Log("ERROR-LOG-SITE-Shared.TXT");
    size_t pos = 0, lines = 0;
    while (pos < all.size()) {
        const size_t end = all.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = all.substr(pos, end - pos);
        ASSERT_TRUE(line == a || line == b) << "torn line at " << pos;
        pos = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, 400u);
}

TEST(LastResort, SaysWhereAndTheCauseOrThatThereIsNoText) {
    testing::internal::CaptureStderr();
    try {
        throw std::runtime_error("Permission denied");
    } catch (...) {
        LastResortLine("the site log");
    }
    try {
        throw 42;
    } catch (...) {
        LastResortLine("a box");
    }
    LastResortLine("nowhere", nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kalosqm: the site log: Permission denied\n"
              "kalosqm: a box: a failure without a message\n"
              "kalosqm: nowhere: a failure without a message\n");
}

}  // namespace
