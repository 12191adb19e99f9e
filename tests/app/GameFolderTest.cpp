// Which folder a launcher patches.

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/GameFolder.h"
#include "support/TestSupport.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

TEST(GameFolderTest, GivenThenCurrentThenProgramThenThePlayersOwn) {
    TempDir dir;
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    DeploymentSettings settings;
    settings.ProductName = "My Game";
    settings.GameClient = "game.exe";
    const auto here = dir / "here";
    const auto program = dir / "bin";
    std::filesystem::create_directories(here);
    std::filesystem::create_directories(program);
    std::string error;

    // Neither the current folder nor the program's is a game: the player's own, created.
    auto choice = ChooseGameFolder({}, here, program, settings, &error);
    ASSERT_TRUE(choice) << error;
    EXPECT_EQ(choice->Folder, dir / "data" / "my_game" / "game");
    EXPECT_TRUE(choice->Created);
    EXPECT_TRUE(std::filesystem::is_directory(choice->Folder));

    // A game carried with its launcher.
    WriteFile(program / "GAME.EXE", "client");  // names are compared without case
    choice = ChooseGameFolder({}, here, program, settings, &error);
    ASSERT_TRUE(choice) << error;
    EXPECT_EQ(choice->Folder, program);

    // Started from the game folder (its desktop entry) patches that folder.
    WriteFile(here / "config.ini", "[LOGIN]\r\n");
    choice = ChooseGameFolder({}, here, program, settings, &error);
    ASSERT_TRUE(choice) << error;
    EXPECT_EQ(choice->Folder, here);

    // A given folder wins, is made when missing and comes back absolute.
    choice = ChooseGameFolder(dir / "new" / "game", here, program, settings, &error);
    ASSERT_TRUE(choice) << error;
    EXPECT_EQ(choice->Folder, dir / "new" / "game");
    EXPECT_TRUE(choice->Created);
    ::unsetenv("XDG_DATA_HOME");
}

TEST(GameFolderTest, AFolderThatCannotBeUsedIsNamedWithItsCause) {
    TempDir dir;
    DeploymentSettings settings;
    WriteFile(dir / "file", "x");
    std::string error;
    EXPECT_FALSE(ChooseGameFolder(dir / "file", dir.Path(), {}, settings, &error));
    EXPECT_NE(error.find((dir / "file").string()), std::string::npos) << error;
    EXPECT_FALSE(ChooseGameFolder(dir / "file" / "below", dir.Path(), {}, settings, &error));
    EXPECT_NE(error.find("cannot create game folder"), std::string::npos) << error;
}

}  // namespace
