#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "errorlog.h"
#include "myutils.h"
#include "testsupport.h"

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

}  // namespace
