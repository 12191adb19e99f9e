#include "patch/PatchList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

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

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

// The items the streaming reader gives for `text`, described like Describe does, and whether
// it stopped as too large.
std::string Walk(const std::string& text, bool* tooLarge = nullptr) {
    CTokenReader reader;
    reader.OpenTokenText(text);
    PerFileListReader items(reader);
    PatchList walked;
    for (PatchListItem item; items.Next(item);) walked.Items.push_back(item);
    if (tooLarge) *tooLarge = items.TooLarge();
    return Describe(walked);
}

// The per-file session walks the list from its file item by item instead of holding it: both
// readings must agree item for item, limits and cut names included, and a scan must judge a
// list exactly as the whole reading does.
TEST(PatchListTest, WalkingAndScanningAgreeWithTheWholeReading) {
    std::string full;
    for (int i = 0; i < 999; ++i) full += "\"f" + std::to_string(i) + "\"\n";
    const std::vector<std::string> lists = {
        "#COMPRESSED#\n\"main.exe.VKC\"\n1 \"Data\\Player\"\n\"x.bmd.VKC\", \"2nd.att.VKC\"\n"
        "@ y.bmd.VKC\n2 \"Data\"\nz.txt.VKC\n",
        "a.txt 1",                                     // a number at the end switches to nothing
        "1 \"\" a.txt 3 \"Data\" b.txt 4 \"\" c.txt",  // back to the game directory
        "\"" + std::string(400, 'n') + "\" 1 Data",    // a cut name
        "1 \"" + std::string(300, 'd') + "\" x",       // a cut subdirectory
        full,
        full + "1 Data\n" + full,
        full + "\"one more\"",  // a directory of 1000 files
        "#PACKINGVERSION# a @ b @ 1 c",
    };
    TempDir dir;
    for (const std::string& text : lists) {
        const PatchList whole = ParsePatchList(text);
        bool tooLarge = false;
        const std::string walked = Walk(text, &tooLarge);
        if (!whole.Flags.PackingVersion) {
            EXPECT_EQ(tooLarge, whole.TooLarge) << text.substr(0, 60);
            if (!tooLarge) {
                EXPECT_EQ(walked, Describe(whole)) << text.substr(0, 60);
            }
        }
        WriteFile(dir / "list.inf", text);
        const auto scanned = ScanPatchList(dir / "list.inf");
        ASSERT_TRUE(scanned.has_value());
        EXPECT_TRUE(scanned->Items.empty() && scanned->PackedItems.empty());
        EXPECT_EQ(scanned->TooLarge, whole.TooLarge) << text.substr(0, 60);
        EXPECT_EQ(scanned->HasTruncatedName(), whole.HasTruncatedName()) << text.substr(0, 60);
        EXPECT_EQ(scanned->IsUsable(), whole.IsUsable()) << text.substr(0, 60);
        EXPECT_EQ(scanned->Flags.Compressed, whole.Flags.Compressed);
        EXPECT_EQ(scanned->Flags.PackingVersion, whole.Flags.PackingVersion);
    }
    EXPECT_FALSE(ScanPatchList(dir / "missing.inf").has_value());
}

// 65535 items in all, whichever directories they fall in: one more is refused by both.
TEST(PatchListTest, WalkStopsAtTheItemLimit) {
    std::string list;
    for (int d = 0; d < 66; ++d) {
        list += "1 D" + std::to_string(d) + "\n";
        for (int i = 0; i < 992; ++i) list += "f" + std::to_string(i) + "\n";
    }
    bool tooLarge = false;
    Walk(list, &tooLarge);
    EXPECT_TRUE(tooLarge);
    EXPECT_TRUE(ParsePatchList(list).TooLarge);
}

}  // namespace
