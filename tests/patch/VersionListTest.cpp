#include <gtest/gtest.h>

#include <string>

#include "patch/PatchEngine.h"
#include "patch/RecordingPatchHost.h"
#include "support/TestSupport.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

class VersionListTest : public ::testing::Test {
protected:
    TempDir dir;
    RecordingPatchHost host;
    PatchEngine engine{host, GamePath(dir.Path())};

    std::string Labels() const {
        std::string labels;
        for (const VersionEntry& entry : engine.VersionList)
            labels += std::string(entry.Label) + ";";
        return labels;
    }
};

TEST_F(VersionListTest, NamesAreEntriesAndEverythingElseIsIgnored) {
    WriteFile(dir / "version.wvd", "\"1.00.01\"\n7\n\"1.00.02\", #KEY# @ v1.2 // \"9.9.9\"\n");
    ASSERT_TRUE(engine.LoadVersionList("version.wvd"));
    EXPECT_EQ(Labels(), "1.00.01;1.00.02;v1.2;");
    const VersionEntry& second = engine.VersionList[1];
    EXPECT_EQ(second.Major, 1);
    EXPECT_EQ(second.Minor, 0);
    EXPECT_EQ(second.Build, 2);
    EXPECT_EQ(second.Packed, 0x010002);
    EXPECT_EQ(engine.VersionList[2].Packed, 0x000200);  // "v1.2": atoi of "v1" is 0
    EXPECT_EQ(host.StatusMessages, (std::vector<int>{112}));
}

TEST_F(VersionListTest, NineHundredNinetyNineEntriesLoadAThousandFail) {
    std::string text;
    for (int i = 0; i < 999; ++i) text += "\"1.0." + std::to_string(i % 256) + "\"\n";
    WriteFile(dir / "version.wvd", text);
    ASSERT_TRUE(engine.LoadVersionList("version.wvd"));
    EXPECT_EQ(engine.VersionList.size(), 999u);

    WriteFile(dir / "version.wvd", text + "\"2.0.0\"\n");
    EXPECT_FALSE(engine.LoadVersionList("version.wvd"));
    EXPECT_EQ(host.StatusMessages.back(), 114);
}

TEST_F(VersionListTest, LabelsLongerThanEightCharactersArePassedOver) {
    WriteFile(dir / "version.wvd", "\"1.00.001\" \"1.000.002\" \"" + std::string(3000, '9') + "\"");
    ASSERT_TRUE(engine.LoadVersionList("version.wvd"));
    EXPECT_EQ(Labels(), "1.00.001;");
    EXPECT_EQ(engine.VersionList[0].Build, 1);
}

TEST_F(VersionListTest, MissingOrUnsafeFileFailsWithMessage113) {
    EXPECT_FALSE(engine.LoadVersionList("version.wvd"));
    EXPECT_EQ(host.StatusMessages, (std::vector<int>{112, 113}));
    WriteFile(dir.Path().parent_path() / "outside.wvd", "\"1.0.0\"");
    EXPECT_FALSE(engine.LoadVersionList("..\\outside.wvd"));
    EXPECT_FALSE(engine.LoadVersionList("/etc/passwd"));
    EXPECT_TRUE(engine.VersionList.empty());
    std::filesystem::remove(dir.Path().parent_path() / "outside.wvd");
}

TEST_F(VersionListTest, FileNameIsMatchedWithoutRegardToCase) {
    WriteFile(dir / "Version.WVD", "\"1.0.1\"");
    ASSERT_TRUE(engine.LoadVersionList("version.wvd"));
    EXPECT_EQ(engine.VersionList.size(), 1u);
}

TEST_F(VersionListTest, PatchListFlags) {
    EXPECT_FALSE(engine.ReadPatchListFlag("COMPRESSED"));
    EXPECT_EQ(host.StatusMessages, (std::vector<int>{113}));

    WriteFile(dir / "list.inf", "#packingversion# # COMPRESSED# \"TEST_SERVER\" 1 #NEWTOOLVERSION");
    EXPECT_TRUE(engine.ReadPatchListFlag("PACKINGVERSION"));
    EXPECT_FALSE(engine.ReadPatchListFlag("COMPRESSED"));     // the key keeps its blank
    EXPECT_FALSE(engine.ReadPatchListFlag("TEST_SERVER"));    // a name, not a key
    EXPECT_TRUE(engine.ReadPatchListFlag("newtoolversion"));  // unterminated key runs to the end
    engine.ReadPatchListFlags();
    EXPECT_TRUE(engine.ListFlags.PackingVersion);
    EXPECT_TRUE(engine.ListFlags.NewToolVersion);
    EXPECT_FALSE(engine.ListFlags.Compressed);
    EXPECT_FALSE(engine.ListFlags.TestServer);
}

}  // namespace
