#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "patch/PatchEngine.h"
#include "patch/RecordingPatchHost.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ListTree;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

class InstallTest : public ::testing::Test {
protected:
    TempDir sandbox;  // the game directory is one level down, so escapes are visible
    fs::path game = sandbox / "game";
    RecordingPatchHost host;
    PatchEngine engine{host, GamePath(game)};

    void SetUp() override { fs::create_directories(game / "Temp"); }

    // A downloaded file in Temp, logged the way the FTP session logs it.
    void Downloaded(const std::string& logged, const std::string& onDisk,
                    const std::string& contents) {
        WriteFile(game / "Temp" / onDisk, contents);
        ASSERT_TRUE(engine.AppendLogLine('F', logged));
    }
};

TEST_F(InstallTest, CopiesLoggedFilesWithSubstitutes) {
    engine.TargetVersion = 0x010002;
    ASSERT_TRUE(engine.AppendVersionLine());
    fs::create_directories(game / "Data" / "Player");
    Downloaded("Data\\Player\\x.bmd", "Data/Player/x.bmd", "new x");
    Downloaded("Data\\kamsg.dll", "Data/kamsg.dll", "new kamsg");
    Downloaded("TORVANE.EXE", "TORVANE.EXE", "new launcher");
    Downloaded("message.wtf", "message.wtf", "new texts");
    Downloaded("vk_zp.dll", "vk_zp.dll", "new zp");
    Downloaded("config.ini", "config.ini", "[LOGIN]\n");
    WriteFile(game / "Data" / "Player" / "x.bmd", "old x");
    WriteFile(game / "message.wtf", "old texts");

    ASSERT_TRUE(engine.InstallFromTemp());
    EXPECT_EQ(ReadFile(game / "Data" / "Player" / "x.bmd"), "new x");
    // Only the file-name part is compared, and substitutes land in the game directory root.
    EXPECT_EQ(ReadFile(game / "kamsg._ll"), "new kamsg");
    EXPECT_FALSE(fs::exists(game / "Data" / "kamsg.dll"));
    EXPECT_EQ(ReadFile(game / "Torvane._xe"), "new launcher");
    EXPECT_EQ(ReadFile(game / "message._tf"), "new texts");
    EXPECT_EQ(ReadFile(game / "message.wtf"), "old texts");
    EXPECT_EQ(ReadFile(game / "vk_zp._ll"), "new zp");
    EXPECT_EQ(ReadFile(game / "config.ini"), "[LOGIN]\n");  // not special for per-file patches
    EXPECT_EQ(engine.SelfUpdatePending, 1);
    EXPECT_TRUE(host.Boxes.empty());

    ASSERT_TRUE(engine.FinishPatchLog());
    EXPECT_FALSE(fs::exists(game / "patch.log"));
    EXPECT_TRUE(ListTree(game / "Temp").empty());
}

TEST_F(InstallTest, ReplacesReadOnlyFilesAndMatchesCaseOnDisk) {
    fs::create_directories(game / "DATA");
    WriteFile(game / "DATA" / "Item.BMD", "old");
    ::chmod((game / "DATA" / "Item.BMD").c_str(), 0444);
    Downloaded("data\\item.bmd", "data/item.bmd", "new");
    ASSERT_TRUE(engine.InstallFromTemp());
    EXPECT_EQ(ReadFile(game / "DATA" / "Item.BMD"), "new");
    EXPECT_FALSE(fs::exists(game / "data"));
}

// Each target is found as its turn comes: a new directory made for one file is the directory
// of the next one spelled in another case (the game's names ignore case), and a log that goes
// back to a directory it left installs there all the same.
TEST_F(InstallTest, NewDirectoriesAreOneDirectoryWhateverTheCase) {
    Downloaded("Data\\a.bmd", "Data/a.bmd", "a");
    Downloaded("DATA\\b.bmd", "DATA/b.bmd", "b");
    Downloaded("data\\Sub\\c.bmd", "data/Sub/c.bmd", "c");
    std::vector<std::string> expected = {"Data/Sub/c.bmd", "Data/a.bmd", "Data/b.bmd"};
    for (int i = 0; i < 300; ++i) {
        const std::string directory = "Dir" + std::to_string(i % 3);
        const std::string name = "f" + std::to_string(i) + ".bmd";
        Downloaded(directory + "\\" + name, directory + "/" + name, name);
        expected.push_back(directory + "/" + name);
    }
    ASSERT_TRUE(engine.InstallFromTemp());
    std::vector<std::string> installed;
    for (const std::string& path : ListTree(game))
        if (path.rfind("Temp/", 0) != 0 && path != "patch.log") installed.push_back(path);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(installed, expected);
    EXPECT_EQ(ReadFile(game / "Data" / "b.bmd"), "b");
    EXPECT_EQ(ReadFile(game / "Dir2" / "f299.bmd"), "f299.bmd");
}

TEST_F(InstallTest, MissingTempCopyStopsWithInstallError) {
    Downloaded("a.txt", "a.txt", "a");
    ASSERT_TRUE(engine.AppendLogLine('F', "missing.txt"));
    EXPECT_FALSE(engine.InstallFromTemp());
    ASSERT_EQ(host.Boxes.size(), 1u);
    EXPECT_EQ(host.Boxes[0].Text.rfind("Patch Install Error, File : ", 0), 0u);
    EXPECT_NE(host.Boxes[0].Text.find("missing.txt ("), std::string::npos);
    // The log and the Temp copies stay for the next run.
    EXPECT_TRUE(fs::exists(game / "patch.log"));
    EXPECT_TRUE(fs::exists(game / "Temp" / "a.txt"));
}

TEST_F(InstallTest, HostileLoggedNamesInstallNothing) {
    for (const std::string hostile :
         {"..\\..\\evil.txt", "/tmp/evil.txt", "C:\\evil.txt", "Data\\..\\..\\evil.txt"}) {
        SCOPED_TRACE(hostile);
        fs::remove(game / "patch.log");
        host.Boxes.clear();
        Downloaded("good.txt", "good.txt", "good");
        ASSERT_TRUE(engine.AppendLogLine('F', hostile));
        EXPECT_FALSE(engine.InstallFromTemp());
        EXPECT_EQ(host.Boxes.size(), 1u);
        EXPECT_FALSE(fs::exists(game / "good.txt"));  // checked before the first copy
        EXPECT_EQ(ListTree(sandbox.Path()),
                  (std::vector<std::string>{"game/Temp/good.txt", "game/patch.log"}));
    }
}

TEST_F(InstallTest, NoLogFailsBothSteps) {
    EXPECT_FALSE(engine.InstallFromTemp());
    EXPECT_FALSE(engine.FinishPatchLog());
}

TEST_F(InstallTest, UndeletableTempCopyKeepsTheLog) {
    Downloaded("a.txt", "a.txt", "a");
    ASSERT_TRUE(engine.AppendLogLine('F', "gone.txt"));
    ASSERT_TRUE(engine.FinishPatchLog());
    EXPECT_TRUE(fs::exists(game / "patch.log"));
    EXPECT_FALSE(fs::exists(game / "Temp" / "a.txt"));
}

TEST_F(InstallTest, DeleteEntriesOfAPackedList) {
    fs::create_directories(game / "Data" / "Empty");
    fs::create_directories(game / "Data" / "Full");
    WriteFile(game / "Data" / "Full" / "keep.bmd", "k");
    WriteFile(game / "Data" / "Old.BMD", "o");
    ::chmod((game / "Data" / "Old.BMD").c_str(), 0444);
    WriteFile(game / "Data" / "notadir", "n");
    const PatchList list = ParsePatchList(
        "#PACKINGVERSION# \"torvane.exe\" @ \"data\\old.bmd\" @ 1 \"Data\\Empty\" @ 1 "
        "\"Data\\Full\" "
        "@ 1 \"Data\\notadir\" @ \"Data\\Full\" @ \"absent.txt\"");
    ASSERT_TRUE(engine.ApplyDeleteEntries(list));
    EXPECT_FALSE(fs::exists(game / "Data" / "Old.BMD"));
    EXPECT_FALSE(fs::exists(game / "Data" / "Empty"));
    EXPECT_TRUE(fs::exists(game / "Data" / "Full" / "keep.bmd"));  // not empty: stays
    EXPECT_TRUE(fs::exists(game / "Data" / "notadir"));            // not a directory
    EXPECT_EQ(engine.SelfUpdatePending, 1);
    EXPECT_GT(host.Pumps, 0);
}

TEST_F(InstallTest, DeleteEntriesDoNotNeedThePackingKey) {
    // HTTP patches are packed whatever their list says.
    WriteFile(game / "old.txt", "o");
    ASSERT_TRUE(engine.ApplyDeleteEntries(ParsePatchList("\"Torvane.exe\" @ \"old.txt\"")));
    EXPECT_FALSE(fs::exists(game / "old.txt"));
    EXPECT_EQ(engine.SelfUpdatePending, 1);
}

TEST_F(InstallTest, HostileDeleteEntriesDeleteNothing) {
    WriteFile(sandbox / "victim.txt", "v");
    WriteFile(game / "a.txt", "a");
    const PatchList list =
        ParsePatchList("#PACKINGVERSION# @ \"a.txt\" @ \"..\\victim.txt\" @ 1 \"..\"");
    EXPECT_FALSE(engine.ApplyDeleteEntries(list));
    EXPECT_EQ(host.StatusMessages, (std::vector<int>{119}));
    EXPECT_TRUE(fs::exists(sandbox / "victim.txt"));
    EXPECT_TRUE(fs::exists(game / "a.txt"));
}

TEST_F(InstallTest, StaleDataRuleDeletesExactlyTheLooseDataFiles) {
    const std::vector<std::string> doomed = {"ring.OZJ", "a.dat", "B.BMD", "c.txt", "d.ozt",
                                             "e.wav",    "f.att", "g.obj", "h.Map", "x.y.txt"};
    const std::vector<std::string> kept = {"config.ini", "patch.log",      "a.data",
                                           "dat",        "readme.txt.bak", "Torvane._xe"};
    for (const auto& name : doomed) WriteFile(game / name, "x");
    for (const auto& name : kept) WriteFile(game / name, "x");
    ::chmod((game / "a.dat").c_str(), 0444);
    fs::create_directories(game / "Data" / "sub.dat");
    WriteFile(game / "Data" / "z.bmd", "x");
    WriteFile(game / "Temp" / "t.txt", "x");

    engine.RemoveStaleGameData();
    for (const auto& name : doomed) EXPECT_FALSE(fs::exists(game / name)) << name;
    for (const auto& name : kept) EXPECT_TRUE(fs::exists(game / name)) << name;
    EXPECT_TRUE(fs::exists(game / "Data" / "z.bmd"));
    EXPECT_TRUE(fs::exists(game / "Data" / "sub.dat"));
    EXPECT_TRUE(fs::exists(game / "Temp" / "t.txt"));
}

TEST_F(InstallTest, StaleDataRuleNeedsAMarker) {
    WriteFile(game / "a.dat", "x");
    WriteFile(game / "Data" / "Dec2.dat", "x");  // only the game directory itself counts
    engine.RemoveStaleGameData();
    EXPECT_TRUE(fs::exists(game / "a.dat"));
    WriteFile(game / "ANTIDOTE01.BMD", "x");  // names match without regard to case
    engine.RemoveStaleGameData();
    EXPECT_FALSE(fs::exists(game / "a.dat"));
    EXPECT_FALSE(fs::exists(game / "ANTIDOTE01.BMD"));
}

}  // namespace

namespace {

TEST(PatchEngine, RemoveGameFileStaysInsideTheGameDirectory) {
    testsupport::TempDir sandbox;
    const std::filesystem::path game = sandbox / "game";
    testsupport::WriteFile(game / "LIST.INF", "x");
    testsupport::WriteFile(sandbox / "victim", "v");
    RecordingPatchHost host;
    PatchEngine engine(host, GamePath(game));
    EXPECT_TRUE(engine.RemoveGameFile("list.inf"));
    EXPECT_FALSE(std::filesystem::exists(game / "LIST.INF"));
    EXPECT_TRUE(engine.RemoveGameFile("list.inf"));  // already gone
    EXPECT_FALSE(engine.RemoveGameFile("..\\victim"));
    EXPECT_TRUE(std::filesystem::exists(sandbox / "victim"));
}

}  // namespace

namespace {

TEST_F(InstallTest, StaleTemporariesOfInterruptedRunsAreRemovedAndNothingElse) {
    engine.VersionFileName = "patch.lst";
    const std::vector<std::string> stale = {"list.inf.a1B2c3",      "version.wvd.Zz9Yy8",
                                            "patch.lst.QWErty",     "Temp/up_list.zip.x0x0x0",
                                            ".patch.log.tmp4242.0", ".config.ini.tmp17.3"};
    const std::vector<std::string> kept = {
        "list.inf",  "list.inf.bak",     "list.inf.a1B2c3d",    "version.wvd.a-b_c!",
        "notes.txt", ".config.ini.tmpx", "Data/list.inf.a1B2c3"};
    for (const auto& name : stale) WriteFile(game / name, "x");
    for (const auto& name : kept) WriteFile(game / name, "x");
    engine.RemoveStaleTemporaries();
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListTree(game), expected);
}

TEST_F(InstallTest, LogOfAnotherVersionIsDroppedWithItsCopies) {
    WriteFile(game / "patch.log", "V 1.0.2\nF Data\\a.bmd\nF ..\\outside.bmd\n");
    WriteFile(game / "Temp" / "Data" / "a.bmd", "abandoned");
    WriteFile(sandbox / "outside.bmd", "not ours");
    engine.TargetVersion = 0x010002;
    EXPECT_TRUE(engine.DropLogOfOtherVersion());  // same version: kept
    EXPECT_TRUE(fs::exists(game / "patch.log"));

    engine.TargetVersion = 0x010003;
    EXPECT_TRUE(engine.DropLogOfOtherVersion());
    EXPECT_FALSE(fs::exists(game / "patch.log"));
    EXPECT_FALSE(fs::exists(game / "Temp" / "Data" / "a.bmd"));
    EXPECT_EQ(ReadFile(sandbox / "outside.bmd"), "not ours");
}

}  // namespace
