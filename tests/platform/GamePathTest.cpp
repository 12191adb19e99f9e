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
