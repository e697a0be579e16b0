#include <gtest/gtest.h>

#include <fstream>

#include "build_version.h"
#include "core/site/startup.h"
#include "support/testsupport.h"
#include "core/station/version.h"

namespace {

TEST(Version, TextTakesTheFirstPartsOfTheFileVersion) {
    EXPECT_EQ(VersionPrefix("4.0.0.27", 2), "4.0");
    EXPECT_EQ(VersionPrefix("4.0.0.27", 4), "4.0.0.27");
    EXPECT_EQ(VersionPrefix("4.0.0.27", 9), "4.0.0.27");
    EXPECT_EQ(VersionPrefix("4.0.0.27", 1), "4");
    EXPECT_EQ(GetVersionText(4), KALO_FILE_VERSION);
    EXPECT_EQ(GetVersionText(2), "1.0");
}

TEST(Version, ResourceIsReadBackFromTheExecutableFile) {
    // This test binary links the resource too.
    EXPECT_EQ(GetVersionInfoString(ProgramFileName(), "fileversion"), KALO_FILE_VERSION);
    EXPECT_EQ(GetVersionInfoString(ProgramFileName(), "nokey"), "");
    EXPECT_EQ(GetVersionInfoString("/no/such/file", "fileversion"), "");
    testsupport::TempDir dir;
    std::ofstream(dir.Path() / "plain.bin") << "KALO-VERSION-RESOURCE";
    EXPECT_EQ(GetVersionInfoString((dir.Path() / "plain.bin").string(), "fileversion"), "");
}

TEST(Startup, WelcomeWaitCountsFromStartAndSurvivesACounterWrap) {
    EXPECT_FALSE(WelcomeWaitOver(1000, 1300));
    EXPECT_TRUE(WelcomeWaitOver(1000, 3000));
    EXPECT_TRUE(WelcomeWaitOver(1000, 3500));  // a slow start waits no more
    EXPECT_FALSE(WelcomeWaitOver(0xFFFFFF00u, 0x00000100u));  // 512 ms across the wrap
    EXPECT_TRUE(WelcomeWaitOver(0xFFFFFF00u, 0x00000800u));
}

}  // namespace
