// Withdrawing the newest version: only the newest, the list keeps every other byte, and the
// launcher's view of the repository is as before that version was added.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PublishFixture.h"
#include "VersionRemoval.h"

namespace {

using namespace publishtest;
using testing::HasSubstr;

TEST(PublishRemove, WithdrawsOnlyTheNewestVersion) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", {{"a.txt", "1"}});
    MakeTree(dir / "v2", {{"a.txt", "2"}});
    ASSERT_TRUE(
        PublishVersion(Options(dir / "repo", "1.0.1", dir / "v1", PatchMode::Packed)).Published);
    // Hand-edited list: a comment-free CRLF line the launcher reads too must survive.
    testsupport::WriteFile(dir / "repo/version.wvd", "\"1.0.1\"\r\n");
    auto second = Options(dir / "repo", "1.0.2", dir / "v2", PatchMode::Packed);
    second.OldTree = dir / "v1";
    ASSERT_TRUE(PublishVersion(second).Published);

    auto older = RemoveNewestVersion(dir / "repo", "1.0.1", "version.wvd");
    EXPECT_FALSE(older.Removed);
    EXPECT_THAT(older.Error, HasSubstr("\"1.0.1\" is not the newest version (\"1.0.2\" is)"));
    auto unknown = RemoveNewestVersion(dir / "repo", "1.0.9", "version.wvd");
    EXPECT_FALSE(unknown.Removed);
    EXPECT_THAT(unknown.Error, HasSubstr("is not listed"));
    EXPECT_TRUE(std::filesystem::exists(dir / "repo/1.0.2/up_list.zip"));

    auto newest = RemoveNewestVersion(dir / "repo", "1.0.2", "version.wvd");
    ASSERT_TRUE(newest.Removed) << newest.Error;
    EXPECT_EQ(testsupport::ReadFile(dir / "repo/version.wvd"), "\"1.0.1\"\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "repo/1.0.2"));
    EXPECT_TRUE(std::filesystem::exists(dir / "repo/1.0.1/up_list.zip"));

    // The same label can be published again, from a corrected tree.
    ASSERT_TRUE(PublishVersion(second).Published);
    EXPECT_EQ(testsupport::ReadFile(dir / "repo/version.wvd"), "\"1.0.1\"\r\n\"1.0.2\"\n");
}

TEST(PublishRemove, RefusesAListItCannotRead) {
    testsupport::TempDir dir;
    auto missing = RemoveNewestVersion(dir / "repo", "1.0.1", "version.wvd");
    EXPECT_FALSE(missing.Removed);
    EXPECT_THAT(missing.Error, HasSubstr("version.wvd"));
}

}  // namespace
