#include <gtest/gtest.h>

#include <string>

#include "patch/PatchEngine.h"
#include "patch/RecordingPatchHost.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

class LocalVersionTest : public ::testing::Test {
protected:
    TempDir dir;
    RecordingPatchHost host;
    PatchEngine engine{host, GamePath(dir.Path())};
};

TEST_F(LocalVersionTest, TestClientTakesTheGreaterVersion) {
    WriteFile(dir / "config.ini", "[LOGIN]\nVersion=1.04.05\nTestVersion=1.04.07\n");
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{1, 4, 5}));
    engine.Launch.Mode = kLaunchTestClient;
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{1, 4, 7}));

    WriteFile(dir / "config.ini", "[login]\nversion=2.0.0\ntestversion=1.99.99\n");
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{2, 0, 0}));
}

TEST_F(LocalVersionTest, ValuesAreCutToNineCharactersAndDefaultToZero) {
    WriteFile(dir / "Config.INI", "[LOGIN]\nVersion=255.255.255\n");
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{255, 255, 2}));
    WriteFile(dir / "Config.INI", "[OTHER]\nVersion=3.0.0\n");
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{0, 0, 0}));
}

TEST_F(LocalVersionTest, CommandLineVersionSkipsConfig) {
    WriteFile(dir / "config.ini", "[LOGIN]\nVersion=1.04.05\n");
    engine.Launch.Mode = kLaunchGivenVersion;
    engine.Launch.CommandLineVersion[0] = 3;
    engine.Launch.CommandLineVersion[1] = 2;
    engine.Launch.CommandLineVersion[2] = 1;
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{3, 2, 1}));
}

TEST_F(LocalVersionTest, SavingFollowsLaunchModeAndTestServer) {
    WriteFile(dir / "config.ini", "; kept\n[LOGIN]\nID=player\nVersion=1.00.00\n");
    engine.CurrentVersion = VersionNumber{1, 4, 5};
    engine.SaveLocalVersion();
    const std::string saved = ReadFile(dir / "config.ini");
    EXPECT_NE(saved.find("Version=1.04.05"), std::string::npos) << saved;
    EXPECT_NE(saved.find("; kept"), std::string::npos);
    EXPECT_NE(saved.find("ID=player"), std::string::npos);
    EXPECT_EQ(saved.find("TestVersion"), std::string::npos);

    // A test-server patch on a normal client writes nothing.
    engine.Launch.TestServer = true;
    engine.CurrentVersion = VersionNumber{1, 4, 6};
    engine.SaveLocalVersion();
    EXPECT_EQ(ReadFile(dir / "config.ini"), saved);

    // The test client always writes TestVersion, and Version only for normal patches.
    engine.Launch.Mode = kLaunchTestClient;
    engine.SaveLocalVersion();
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{1, 4, 6}));
    engine.Launch.Mode = kLaunchNormal;
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{1, 4, 5}));

    engine.Launch.Mode = kLaunchTestClient;
    engine.Launch.TestServer = false;
    engine.CurrentVersion = VersionNumber{1, 5, 0};
    engine.SaveLocalVersion();
    engine.Launch.Mode = kLaunchNormal;
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{1, 5, 0}));
}

TEST_F(LocalVersionTest, MissingConfigIsCreatedOnSave) {
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{0, 0, 0}));
    engine.CurrentVersion = VersionNumber{1, 0, 2};
    engine.SaveLocalVersion();
    engine.CurrentVersion = VersionNumber{};
    engine.LoadLocalVersion();
    EXPECT_EQ(engine.CurrentVersion, (VersionNumber{1, 0, 2}));
}

}  // namespace
