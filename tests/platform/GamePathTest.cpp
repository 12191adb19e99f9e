#include "platform/GamePath.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteFile;

TEST(GamePathTest, RefusesEveryUnsafeSpelling) {
    const char* unsafe[] = {"",     "..",    "a\\..\\b", "../x",      "a/../../x", "\\abs",
                            "/abs", "C:\\x", "c:x",      "Data\\C:x", "a\\\\b",    "a//b",
                            "a\\",  "a/",    ".",        "a\\.\\b",   "\\\\srv\\s"};
    for (const char* path : unsafe) {
        EXPECT_FALSE(GamePath::IsSafe(path)) << path;
        EXPECT_FALSE(GamePath("/tmp").Resolve(path)) << path;
    }
    const std::string withNul("a\0b", 3);
    EXPECT_FALSE(GamePath::IsSafe(withNul));

    for (const char* path : {"a", "Data\\Player\\x.bmd", "Data/Player/x.bmd", "..a", "a..", ".x"}) {
        EXPECT_TRUE(GamePath::IsSafe(path)) << path;
    }
}

TEST(GamePathTest, MatchesExistingComponentsIgnoringCaseAndKeepsNewSpelling) {
    TempDir dir;
    WriteFile(dir / "Data" / "Player" / "Hero.bmd", "x");
    const GamePath game(dir.Path());

    EXPECT_EQ(*game.Resolve("data\\PLAYER\\hero.BMD"), dir / "Data" / "Player" / "Hero.bmd");
    EXPECT_EQ(*game.Resolve("DATA/player/New.bmd"), dir / "Data" / "Player" / "New.bmd");
    // Past the first missing component nothing is looked up; spelling stays as given.
    EXPECT_EQ(*game.Resolve("data\\Fresh\\Sub\\f.txt"), dir / "Data" / "Fresh" / "Sub" / "f.txt");
    // An exact match wins over other spellings.
    WriteFile(dir / "data" / "z", "y");
    EXPECT_EQ(*game.Resolve("data\\z"), dir / "data" / "z");
}

// Names read from a directory are kept, yet lookups see what others add later and what the
// writer notes it created.
TEST(GamePathTest, LookupsFollowTheDirectoryAsItChanges) {
    TempDir dir;
    WriteFile(dir / "Data" / "a.bmd", "x");
    const GamePath game(dir.Path());
    EXPECT_EQ(*game.Resolve("DATA\\A.BMD"), dir / "Data" / "a.bmd");
    std::filesystem::create_directory(dir / "Maps");
    WriteFile(dir / "Data" / "B.bmd", "y");
    EXPECT_EQ(*game.Resolve("maps\\x.att"), dir / "Maps" / "x.att");
    EXPECT_EQ(*game.Resolve("data\\b.BMD"), dir / "Data" / "B.bmd");

    // A writer filling one directory: every new name is found in any spelling.
    const GamePath copy = game;  // copies share what they have read
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "New" + std::to_string(i) + ".bmd";
        const auto target = copy.Resolve("data\\" + name);
        ASSERT_EQ(*target, dir / "Data" / name);
        WriteFile(*target, "z");
        copy.NoteCreated(*target);
        ASSERT_EQ(*game.Resolve("DATA\\new" + std::to_string(i) + ".BMD"), *target);
    }
}

// A directory whose names were let go is read again when next asked about, changes made
// meanwhile included; forgetting one never unsettles another.
TEST(GamePathTest, ForgottenDirectoriesAreReadAgain) {
    TempDir dir;
    WriteFile(dir / "Data" / "Item.bmd", "x");
    WriteFile(dir / "Maps" / "World.att", "y");
    const GamePath game(dir.Path());
    EXPECT_EQ(*game.Resolve("data\\item.BMD"), dir / "Data" / "Item.bmd");
    EXPECT_EQ(*game.Resolve("maps\\world.ATT"), dir / "Maps" / "World.att");
    game.ForgetListing(dir / "Data");
    game.ForgetListing(dir / "Data");  // twice, or never read: nothing to let go
    game.ForgetListing(dir / "Nowhere");
    WriteFile(dir / "Data" / "Later.bmd", "z");
    EXPECT_EQ(*game.Resolve("DATA\\LATER.bmd"), dir / "Data" / "Later.bmd");
    EXPECT_EQ(*game.Resolve("Data\\ITEM.bmd"), dir / "Data" / "Item.bmd");
    EXPECT_EQ(*game.Resolve("MAPS\\WORLD.att"), dir / "Maps" / "World.att");
}

// A writer that notes what it removes is answered as if the directory had been read again:
// the removed spelling is no longer offered, and where the same name is there in another
// case, that one is.
TEST(GamePathTest, NotedRemovalsAreAnsweredAsAReadingWould) {
    TempDir dir;
    WriteFile(dir / "Temp" / "Keep.bmd", "k");
    const GamePath game(dir.Path());
    for (int i = 0; i < 50; ++i) {
        const std::string name = "F" + std::to_string(i) + ".VKC";
        const auto packed = game.Resolve("temp\\" + name);
        WriteFile(*packed, "p");
        game.NoteCreated(*packed);
        const auto restored = *game.Resolve("TEMP\\f" + std::to_string(i));
        WriteFile(restored, "r");
        game.NoteCreated(restored);
        std::filesystem::remove(*packed);
        game.NoteRemoved(*packed);
        ASSERT_EQ(*game.Resolve("temp\\f" + std::to_string(i) + ".vkc"),
                  dir / "Temp" / ("f" + std::to_string(i) + ".vkc"));
        ASSERT_EQ(*game.Resolve("Temp\\F" + std::to_string(i)), restored);
    }
    EXPECT_EQ(*game.Resolve("TEMP\\KEEP.BMD"), dir / "Temp" / "Keep.bmd");

    WriteFile(dir / "Data" / "Item.bmd", "1");
    WriteFile(dir / "Data" / "ITEM.BMD", "2");
    EXPECT_EQ(*game.Resolve("data\\item.bmd"), dir / "Data" / "ITEM.BMD");
    std::filesystem::remove(dir / "Data" / "ITEM.BMD");
    game.NoteRemoved(dir / "Data" / "ITEM.BMD");
    EXPECT_EQ(*game.Resolve("data\\item.bmd"), dir / "Data" / "Item.bmd");
}
