#include "patch/PatchList.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Kind = PatchListItem::Kind;

std::string Describe(const PatchList& list) {
    std::string out;
    for (const PatchListItem& item : list.Items) {
        switch (item.What) {
            case Kind::Subdirectory:
                out += "dir:" + item.Name;
                break;
            case Kind::File:
                out += "file:" + item.Subdirectory + "|" + item.Name;
                break;
            case Kind::DeleteFile:
                out += "del:" + item.Name;
                break;
            case Kind::DeleteDirectory:
                out += "rmdir:" + item.Name;
                break;
        }
        out += ";";
    }
    return out;
}

TEST(PatchList, PerFileListSwitchesSubdirectories) {
    const PatchList list = ParsePatchList(
        "#COMPRESSED#\n\"main.exe.VKC\"\n1 \"Data\\Player\"\n\"x.bmd.VKC\", \"2ndmap.att.VKC\"\n"
        "@ y.bmd.VKC\n2 \"Data\"\nz.txt.VKC\n");
    EXPECT_TRUE(list.Flags.Compressed);
    EXPECT_FALSE(list.Flags.PackingVersion);
    EXPECT_EQ(Describe(list),
              "file:|main.exe.VKC;dir:Data\\Player;file:Data\\Player|x.bmd.VKC;"
              "file:Data\\Player|2ndmap.att.VKC;file:Data\\Player|y.bmd.VKC;dir:Data;"
              "file:Data|z.txt.VKC;");
    EXPECT_FALSE(list.HasTruncatedName());
}

TEST(PatchList, PackedListNamesArchiveFilesAndDeletions) {
    // The key may come last and still decides how everything before it reads.
    const PatchList list = ParsePatchList(
        "\"Torvane.exe\" \"Data\\a.bmd\" @ \"Data\\old.bmd\" @ 1 \"Data\\Old\" 3 \"c.txt\" @ , "
        "\"d.txt\" #TEST_SERVER# #PackingVersion#");
    EXPECT_TRUE(list.Flags.PackingVersion);
    EXPECT_TRUE(list.Flags.TestServer);
    EXPECT_EQ(Describe(list),
              "file:|Torvane.exe;file:|Data\\a.bmd;del:Data\\old.bmd;rmdir:Data\\Old;file:|c.txt;"
              "file:|d.txt;");
}

TEST(PatchList, OverlongNamesAreMarked) {
    const PatchList list = ParsePatchList("#PACKINGVERSION# @ \"" + std::string(1000, 'a') + "\"");
    ASSERT_EQ(list.Items.size(), 1u);
    EXPECT_TRUE(list.Items[0].Truncated);
    EXPECT_TRUE(list.HasTruncatedName());
}

TEST(PatchList, MissingFileIsNoList) {
    EXPECT_FALSE(ReadPatchList("/nonexistent/list.inf").has_value());
}

}  // namespace

namespace {

// A directory lists at most 999 files and a zip archive holds at most 65535 entries: a list
// asking for more is refused, and reading it stops there instead of holding every item.
TEST(PatchListTest, ListsBeyondWhatAPatchCanCarryAreRefused) {
    std::string names;
    for (int i = 0; i < 999; ++i) names += "\"f" + std::to_string(i) + "\"\n";
    EXPECT_TRUE(ParsePatchList(names).IsUsable());
    EXPECT_TRUE(ParsePatchList(names + "1 \"Data\"\n" + names).IsUsable());
    const PatchList perFile = ParsePatchList(names + "\"one more\"\n");
    EXPECT_TRUE(perFile.TooLarge);
    EXPECT_FALSE(perFile.IsUsable());
    EXPECT_TRUE(perFile.Items.empty());

    std::string packed = "#PACKINGVERSION#\n";
    for (int i = 0; i < 65535; ++i) packed += "a ";
    EXPECT_TRUE(ParsePatchList(packed).IsUsable());
    const PatchList huge = ParsePatchList(packed + "@ a a");
    EXPECT_FALSE(huge.IsUsable());
    EXPECT_LE(huge.PackedItems.size(), PatchList::kMaxItems);
}

}  // namespace
