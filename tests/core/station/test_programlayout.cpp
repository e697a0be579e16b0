// Which folder the program keeps its files in: beside the executable for a
// build tree or a portable copy, the user's data folder for an installed one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/station/programlayout.h"
#include "support/testsupport.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Touch(const fs::path& file, const std::string& text = "x") {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// A prefix in a temporary folder: <root>/usr/bin, and optionally Dati/ beside
// the executable and the delivered database under usr/share/kalosqm.
struct TTree {
    testsupport::TempDir root;
    fs::path Bin() const { return root.Path() / "usr" / "bin"; }
    fs::path Share() const { return root.Path() / "usr" / "share" / "kalosqm"; }
    TTree(bool datiBeside, bool delivered, bool shareFolder = true) {
        fs::create_directories(Bin());
        if (datiBeside) fs::create_directories(Bin() / "Dati");
        if (shareFolder) fs::create_directories(Share() / "Locale");
        if (delivered) fs::copy_file(KALO_PRISTINE_DB, Share() / "KALOSQMDATA.FDB");
    }
};

struct TLayoutCase {
    const char* name;
    bool datiBeside, delivered, shareFolder;
    std::optional<std::string> xdg;  // nullopt: unset
    bool installed;
    // The expected program folder: "bin" (the executable's), or a path.
    std::string programDir;
};

TEST(ProgramLayout, TheFolderFollowsTheMarkersNotTheWritability) {
    const TLayoutCase cases[] = {
        {"build tree or portable copy", true, false, false, std::nullopt, false, "bin"},
        {"a copy with Dati inside a prefix stays portable", true, true, true, "/x/data", false, "bin"},
        {"installed, XDG_DATA_HOME set", false, true, true, "/x/data", true, "/x/data/kalosqm"},
        {"installed, XDG_DATA_HOME unset", false, true, true, std::nullopt, true, "/home/obs/.local/share/kalosqm"},
        {"installed, XDG_DATA_HOME relative is ignored", false, true, true, "rel/data", true,
         "/home/obs/.local/share/kalosqm"},
        {"installed, XDG_DATA_HOME empty is ignored", false, true, true, "", true, "/home/obs/.local/share/kalosqm"},
        {"a share folder without the delivered database", false, false, true, "/x/data", false, "bin"},
        {"a bare folder", false, false, false, "/x/data", false, "bin"},
    };
    for (const TLayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Every tree here is writable (root may even write /usr): that decides nothing.
        const TTree tree(c.datiBeside, c.delivered, c.shareFolder);
        const TProgramLayout l =
            FindProgramLayout(tree.Bin().string(), c.xdg ? c.xdg->c_str() : nullptr, "/home/obs");
        EXPECT_EQ(l.ExeDir, tree.Bin().string());
        EXPECT_EQ(l.Installed(), c.installed);
        EXPECT_EQ(l.ProgramDir, c.programDir == "bin" ? tree.Bin().string() : c.programDir);
        if (c.installed) {
            EXPECT_EQ(l.ShareDir, tree.Share().string());
            EXPECT_EQ(l.CataloguesDir(), (tree.Share() / "Locale").string());
            EXPECT_EQ(l.DeliveredDatabase(), (tree.Share() / "KALOSQMDATA.FDB").string());
        } else {
            EXPECT_EQ(l.ShareDir, "");
            EXPECT_EQ(l.CataloguesDir(), (tree.Bin() / "Locale").string());
            EXPECT_EQ(l.DeliveredDatabase(), (tree.root.Path() / "usr" / "db" / "KALOSQMDATA.FDB").string());
        }
    }
}

TEST(ProgramLayout, AnUnsetOrEmptyHomeFallsBackToThePasswordDatabase) {
    const TTree tree(false, true);
    const TProgramLayout unset = FindProgramLayout(tree.Bin().string(), nullptr, nullptr);
    const TProgramLayout empty = FindProgramLayout(tree.Bin().string(), nullptr, "");
    EXPECT_TRUE(fs::path(unset.ProgramDir).is_absolute()) << unset.ProgramDir;
    EXPECT_EQ(fs::path(unset.ProgramDir).filename(), "kalosqm");
    EXPECT_EQ(fs::path(unset.ProgramDir).parent_path().filename(), "share");
    EXPECT_EQ(empty.ProgramDir, unset.ProgramDir);
}

TEST(ProgramLayout, TheFirstStartMakesTheHomeDatabaseAndNoLaterStartReplacesIt) {
    const TTree tree(false, true);
    testsupport::TempDir data;
    const TProgramLayout l = FindProgramLayout(tree.Bin().string(), data.Str().c_str(), nullptr);
    ASSERT_TRUE(l.Installed());
    const fs::path db = data.Path() / "kalosqm" / "Dati" / "KALOSQMDATA.FDB";

    EXPECT_EQ(MakeHomeDatabase(l), "");
    ASSERT_TRUE(fs::exists(db));
    EXPECT_EQ(Slurp(db), Slurp(KALO_PRISTINE_DB));
    EXPECT_FALSE(fs::exists(db.string() + ".new"));

    // The user's readings: a later start leaves the file as it is.
    Touch(db, "the observer's readings");
    EXPECT_EQ(MakeHomeDatabase(l), "");
    EXPECT_EQ(Slurp(db), "the observer's readings");
}

TEST(ProgramLayout, APortableCopyGetsNoHomeDatabase) {
    const TTree tree(true, true);
    testsupport::TempDir data;
    const TProgramLayout l = FindProgramLayout(tree.Bin().string(), data.Str().c_str(), nullptr);
    EXPECT_EQ(MakeHomeDatabase(l), "");
    EXPECT_TRUE(fs::is_empty(data.Path()));
    EXPECT_TRUE(fs::is_empty(tree.Bin() / "Dati"));
}

TEST(ProgramLayout, AFolderThatCannotBeMadeIsSaidAndLeavesNoHalfFile) {
    const TTree tree(false, true);
    testsupport::TempDir data;
    Touch(data.Path() / "kalosqm", "a file where the folder should be");
    const TProgramLayout l = FindProgramLayout(tree.Bin().string(), data.Str().c_str(), nullptr);
    const std::string why = MakeHomeDatabase(l);
    EXPECT_NE(why.find("cannot make " + (data.Path() / "kalosqm" / "Dati").string()), std::string::npos) << why;

    // The delivered database gone (a broken install): said, nothing left behind.
    testsupport::TempDir other;
    const TProgramLayout broken = FindProgramLayout(tree.Bin().string(), other.Str().c_str(), nullptr);
    fs::remove(tree.Share() / "KALOSQMDATA.FDB");
    const std::string gone = MakeHomeDatabase(broken);
    EXPECT_NE(gone.find("cannot copy " + (tree.Share() / "KALOSQMDATA.FDB").string()), std::string::npos) << gone;
    EXPECT_TRUE(fs::is_empty(other.Path() / "kalosqm" / "Dati"));
}

}  // namespace
