// `add`: what a published version holds, read back with the launcher's own list reader.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PublishFixture.h"
#include "Publisher.h"
#include "archive/UnzipFile.h"
#include "patch/PatchList.h"
#include "platform/ProfileFile.h"

namespace fs = std::filesystem;
using namespace publishtest;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using Kind = PatchListItem::Kind;

namespace {
std::string JoinedWarnings(const PublishResult& result) {
    std::string all;
    for (const auto& w : result.Warnings) all += w + "\n";
    return all;
}

std::vector<std::pair<Kind, std::string>> Items(const PatchList& list) {
    std::vector<std::pair<Kind, std::string>> out;
    for (const auto& item : list.Items) out.emplace_back(item.What, item.Name);
    return out;
}

std::string ConfigVersion(const std::string& ini, const testsupport::TempDir& dir) {
    testsupport::WriteFile(dir / "probe.ini", ini);
    char value[32] = {};
    GetPrivateProfileStringA("LOGIN", "Version", "", value, sizeof value, dir / "probe.ini");
    return value;
}

const Tree kFirst = {
    {"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\nServer=1\r\n"},
    {"main.exe", "MZ game"},
    {"Data/Player/hero.bmd", "hero v1"},
    {"Data/Player/Old/gone.bmd", "old"},
    {"Data/world.att", "world"},
    {"2ndmap.att", "starts with a digit"},
};

const Tree kSecond = {
    {"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\nServer=1\r\n"},
    {"main.exe", "MZ game"},
    {"Data/Player/hero.bmd", "hero v2"},
    {"Data/world.att", "world"},
    {"Data/Sound/New/ring.wav", "riff"},
    {"2ndmap.att", "starts with a digit"},
};

}  // namespace

TEST(PublishAdd, FirstPackedVersionCarriesEverythingAndItsOwnConfig) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", kFirst);
    auto result = PublishVersion(Options(dir / "repo", "1.00.01", dir / "v1", PatchMode::Packed));
    ASSERT_TRUE(result.Published) << (result.Errors.empty() ? "" : result.Errors[0]);

    EXPECT_EQ(testsupport::ReadFile(dir / "repo/version.wvd"), "\"1.00.01\"\n");
    auto list = ReadPatchList(dir / "repo/1.00.01/list.inf");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->Flags.PackingVersion);
    EXPECT_FALSE(list->Flags.TestServer);
    // Root files first, parents before children, every name quoted (2ndmap.att included).
    EXPECT_THAT(
        Items(*list),
        ElementsAre(std::pair{Kind::File, "2ndmap.att"}, std::pair{Kind::File, "config.ini"},
                    std::pair{Kind::File, "main.exe"}, std::pair{Kind::File, "Data\\world.att"},
                    std::pair{Kind::File, "Data\\Player\\hero.bmd"},
                    std::pair{Kind::File, "Data\\Player\\Old\\gone.bmd"}));

    auto zip = ReadZip(dir / "repo/1.00.01/up_list.zip");
    EXPECT_EQ(zip.size(), 6u);
    EXPECT_EQ(zip["Data/Player/hero.bmd"], "hero v1");
    EXPECT_EQ(ConfigVersion(zip["config.ini"], dir), "1.00.01");
    EXPECT_THAT(zip["config.ini"], HasSubstr("Server=1"));  // the tree's other settings stay
    // Nothing else is left in the repository.
    EXPECT_THAT(Listing(dir / "repo"),
                ElementsAre("1.00.01/", "1.00.01/list.inf", "1.00.01/up_list.zip", "version.wvd"));
}

TEST(PublishAdd, PackedChangesBecomeFilesAndDeleteEntriesChildrenFirst) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", kFirst);
    MakeTree(dir / "v2", kSecond);
    ASSERT_TRUE(
        PublishVersion(Options(dir / "repo", "1.00.01", dir / "v1", PatchMode::Packed)).Published);
    auto o = Options(dir / "repo", "1.00.02", dir / "v2", PatchMode::Packed);
    o.OldTree = dir / "v1";
    o.TestServer = true;
    auto result = PublishVersion(o);
    ASSERT_TRUE(result.Published);
    EXPECT_EQ(result.DeleteCount, 2u);

    EXPECT_EQ(testsupport::ReadFile(dir / "repo/version.wvd"), "\"1.00.01\"\n\"1.00.02\"\n");
    auto list = ReadPatchList(dir / "repo/1.00.02/list.inf");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->Flags.TestServer);
    EXPECT_THAT(Items(*list),
                ElementsAre(std::pair{Kind::File, "config.ini"},
                            std::pair{Kind::File, "Data\\Player\\hero.bmd"},
                            std::pair{Kind::File, "Data\\Sound\\New\\ring.wav"},
                            std::pair{Kind::DeleteFile, "Data\\Player\\Old\\gone.bmd"},
                            std::pair{Kind::DeleteDirectory, "Data\\Player\\Old"}));
    auto zip = ReadZip(dir / "repo/1.00.02/up_list.zip");
    EXPECT_EQ(zip.size(), 3u);  // unchanged files stay out; config.ini always goes
    EXPECT_EQ(ConfigVersion(zip["config.ini"], dir), "1.00.02");
}

TEST(PublishAdd, ConfigIsAddedWhenTheTreeHasNone) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", {{"a.txt", "a"}});
    ASSERT_TRUE(
        PublishVersion(Options(dir / "repo", "2.1.3", dir / "v1", PatchMode::Packed)).Published);
    auto zip = ReadZip(dir / "repo/2.1.3/up_list.zip");
    ASSERT_EQ(zip.count("config.ini"), 1u);
    EXPECT_EQ(ConfigVersion(zip["config.ini"], dir), "2.1.3");
}

TEST(PublishAdd, PerFileListSwitchesOneLevelAtATimeWithFilesSideBySide) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", {{"root.txt", "r"}, {"Data/Player/Deep/x.bmd", "x"}, {"Empty/", ""}});
    auto result = PublishVersion(Options(dir / "repo", "1.0.1", dir / "v1", PatchMode::Files));
    ASSERT_TRUE(result.Published);
    auto list = ReadPatchList(dir / "repo/1.0.1/list.inf");
    ASSERT_TRUE(list);
    EXPECT_FALSE(list->Flags.PackingVersion);
    EXPECT_FALSE(list->Flags.NewToolVersion);
    EXPECT_THAT(
        Items(*list),
        ElementsAre(std::pair{Kind::File, "root.txt"}, std::pair{Kind::Subdirectory, "Data"},
                    std::pair{Kind::Subdirectory, "Data\\Player"},
                    std::pair{Kind::Subdirectory, "Data\\Player\\Deep"},
                    std::pair{Kind::File, "x.bmd"}, std::pair{Kind::Subdirectory, "Empty"}));
    // Without absolute directories every file lies in the patch directory itself.
    EXPECT_THAT(Listing(dir / "repo/1.0.1"), ElementsAre("list.inf", "root.txt", "x.bmd"));
}

TEST(PublishAdd, CompressedAbsoluteFilesAreSingleBzip2StreamsInTheirDirectories) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1",
             {{"a.txt", std::string(100000, 'a')}, {"Data/a.txt", ""}, {"Data/Sub/b.att", "b"}});
    auto o = Options(dir / "repo", "1.0.1", dir / "v1", PatchMode::Compressed);
    o.AbsoluteDirectories = true;
    ASSERT_TRUE(PublishVersion(o).Published);
    auto list = ReadPatchList(dir / "repo/1.0.1/list.inf");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->Flags.Compressed);
    EXPECT_TRUE(list->Flags.NewToolVersion);
    EXPECT_THAT(
        Items(*list),
        ElementsAre(std::pair{Kind::File, "a.txt.VKC"}, std::pair{Kind::Subdirectory, "Data"},
                    std::pair{Kind::File, "a.txt.VKC"}, std::pair{Kind::Subdirectory, "Data\\Sub"},
                    std::pair{Kind::File, "b.att.VKC"}));
    EXPECT_EQ(Bunzip(dir / "repo/1.0.1/a.txt.VKC"), std::string(100000, 'a'));
    EXPECT_EQ(Bunzip(dir / "repo/1.0.1/Data/a.txt.VKC"), "");  // empty files survive compression
    EXPECT_EQ(Bunzip(dir / "repo/1.0.1/Data/Sub/b.att.VKC"), "b");
}

TEST(PublishAdd, SameTreesGiveByteIdenticalRepositories) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", kFirst);
    MakeTree(dir / "v2", kSecond);
    for (const char* repo : {"r1", "r2"}) {
        ASSERT_TRUE(PublishVersion(Options(dir / repo, "1.00.01", dir / "v1", PatchMode::Packed))
                        .Published);
        auto o = Options(dir / repo, "1.00.02", dir / "v2", PatchMode::Compressed);
        o.OldTree = dir / "v1";
        ASSERT_TRUE(PublishVersion(o).Published);
    }
    auto files = testsupport::ListTree(dir / "r1");
    EXPECT_EQ(files, testsupport::ListTree(dir / "r2"));
    for (const auto& f : files)
        EXPECT_EQ(testsupport::ReadFile(dir / "r1" / f), testsupport::ReadFile(dir / "r2" / f))
            << f;
}

TEST(PublishAdd, RefusesBadNamesAndLabelsWritingNothing) {
    struct Case {
        const char* what;
        Tree tree;
        std::string label;
        PatchMode mode;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"blank", {{"Data/my file.bmd", "x"}}, "1.0.2", PatchMode::Packed, "blank"},
        {"quote", {{"a\"b.txt", "x"}}, "1.0.2", PatchMode::Packed, "double quote"},
        {"back-slash", {{"..\\evil.txt", "x"}}, "1.0.2", PatchMode::Packed, "back-slash"},
        {"case twins",
         {{"Data/A.bmd", "1"}, {"Data/a.bmd", "2"}},
         "1.0.2",
         PatchMode::Packed,
         "letter case"},
        {"case twin dirs",
         {{"Data/x", "1"}, {"DATA/y", "2"}},
         "1.0.2",
         PatchMode::Packed,
         "letter case"},
        {"not newer", {{"a.txt", "x"}}, "1.0.1", PatchMode::Packed, "not newer"},
        {"older", {{"a.txt", "x"}}, "0.9.9", PatchMode::Packed, "not newer"},
        {"too long", {{"a.txt", "x"}}, "1.000.002", PatchMode::Packed, "8 characters"},
        {"byte overflow", {{"a.txt", "x"}}, "1.0.300", PatchMode::Packed, "255"},
        {"not a version", {{"a.txt", "x"}}, "v1.0.2", PatchMode::Packed, "three numbers"},
        {"flat collision",
         {{"a/x.bmd", "1"}, {"b/X.bmd", "2"}},
         "1.0.2",
         PatchMode::Files,
         "share a file name"},
        {"empty over ftp", {{"a.txt", ""}}, "1.0.2", PatchMode::Files, "empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        MakeTree(dir / "v0", {{"a.txt", "0"}});
        ASSERT_TRUE(PublishVersion(Options(dir / "repo", "1.0.1", dir / "v0", PatchMode::Packed))
                        .Published);
        auto before = Listing(dir / "repo");
        std::string versions = testsupport::ReadFile(dir / "repo/version.wvd");
        MakeTree(dir / "v1", c.tree);
        auto result = PublishVersion(Options(dir / "repo", c.label, dir / "v1", c.mode));
        EXPECT_FALSE(result.Published);
        ASSERT_FALSE(result.Errors.empty());
        EXPECT_THAT(result.Errors[0], HasSubstr(c.message));
        EXPECT_EQ(Listing(dir / "repo"), before);
        EXPECT_EQ(testsupport::ReadFile(dir / "repo/version.wvd"), versions);
    }
}

TEST(PublishAdd, LinksOutOfTheTreeAreRefused) {
    testsupport::TempDir dir;
    MakeTree(dir / "outside", {{"secret.txt", "s"}});
    MakeTree(dir / "v1", {{"a.txt", "a"}});
    fs::create_symlink(dir / "outside/secret.txt", dir / "v1/link.txt");
    auto result = PublishVersion(Options(dir / "repo", "1.0.1", dir / "v1", PatchMode::Packed));
    EXPECT_FALSE(result.Published);
    ASSERT_EQ(result.Errors.size(), 1u);
    EXPECT_THAT(result.Errors[0], HasSubstr("leads out of the tree"));
    EXPECT_FALSE(fs::exists(dir / "repo/version.wvd"));
}

TEST(PublishAdd, WarnsAboutSubstituteNamesStaleDataAndPerFileRemovals) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", {{"old.txt", "o"}, {"a.txt", "a"}});
    MakeTree(dir / "v2", {{"a.txt", "a"},
                          {"Torvane.exe", "launcher"},
                          {"Data/kamsg.dll", "k"},
                          {"ring.OZJ", "marker"},
                          {"loose.bmd", "doomed"}});
    auto o = Options(dir / "repo", "1.0.1", dir / "v2", PatchMode::Files);
    o.OldTree = dir / "v1";
    auto result = PublishVersion(o);
    ASSERT_TRUE(result.Published);
    const std::string all = JoinedWarnings(result);
    EXPECT_THAT(all, HasSubstr("\"Torvane._xe\""));
    EXPECT_THAT(all, HasSubstr("starts the game"));
    // Per-file installers compare the bare file name, so Data/kamsg.dll is substituted too.
    EXPECT_THAT(all, HasSubstr("\"Data/kamsg.dll\" is installed as \"kamsg._ll\""));
    EXPECT_THAT(all, HasSubstr("loose.bmd"));
    EXPECT_THAT(all, HasSubstr("1 removed file and 0 removed directories stay on players' disks"));
    EXPECT_THAT(all, HasSubstr("(\"old.txt\")"));

    // Packed patches compare whole paths: Data/kamsg.dll keeps its place.
    auto packed = Options(dir / "repo2", "1.0.1", dir / "v2", PatchMode::Packed);
    auto packedResult = PublishVersion(packed);
    ASSERT_TRUE(packedResult.Published);
    for (const auto& w : packedResult.Warnings) EXPECT_THAT(w, testing::Not(HasSubstr("kamsg")));
}

TEST(PublishAdd, PackedArchivesKeepExecuteBitsForTheLauncherToRestore) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", {{"bin/start.sh", "#!/bin/sh\n"}, {"data.bmd", "d"}});
    fs::permissions(dir / "v1/bin/start.sh", fs::perms::owner_exec | fs::perms::group_exec,
                    fs::perm_options::add);
    ASSERT_TRUE(
        PublishVersion(Options(dir / "repo", "1.0.1", dir / "v1", PatchMode::Packed)).Published);

    // Read back with the launcher's reader, stamped as its installer stamps each file.
    CUnzipFile zip((dir / "repo/1.0.1/up_list.zip").string());
    std::map<std::string, mode_t> modes;
    for (bool more = true; more; more = zip.MoveNext()) {
        EntryInfo info;
        char name[260] = {};
        zip.GetEntryInfo(&info, name, sizeof name);
        const fs::path installed = dir / "installed" / std::to_string(modes.size());
        fs::create_directories(installed.parent_path());
        testsupport::WriteFile(installed, "x");
        fs::permissions(installed, fs::perms(0644));
        CUnzipFile::ApplyEntryStatus(installed.string(), info);
        modes[name] = static_cast<mode_t>(fs::status(installed).permissions()) & 0777;
    }
    EXPECT_EQ(modes["bin/start.sh"], 0754u);
    EXPECT_EQ(modes["data.bmd"], 0644u);
    EXPECT_EQ(modes["config.ini"], 0644u);
}

TEST(PublishAdd, DryRunListsWhatWouldBeWrittenAndWritesNothing) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", {{"a.txt", "1"}, {"gone.txt", "g"}});
    MakeTree(dir / "v2", {{"a.txt", "2"}, {"Data/b.bmd", "b"}});
    ASSERT_TRUE(
        PublishVersion(Options(dir / "repo", "1.0.1", dir / "v1", PatchMode::Packed)).Published);
    const auto before = testsupport::ListTree(dir / "repo");
    const std::string list = testsupport::ReadFile(dir / "repo/version.wvd");

    auto packed = Options(dir / "repo", "1.0.2", dir / "v2", PatchMode::Packed);
    packed.OldTree = dir / "v1";
    packed.DryRun = true;
    auto result = PublishVersion(packed);
    EXPECT_FALSE(result.Published);
    EXPECT_THAT(result.Errors, IsEmpty());
    const std::string repo = (dir / "repo").string();
    EXPECT_THAT(result.Planned,
                testing::UnorderedElementsAre(
                    repo + "/1.0.2/up_list.zip: 3 members (config.ini made with "
                           "Version=1.0.2)",
                    "  Data/b.bmd", "  a.txt", "  delete gone.txt", repo + "/1.0.2/list.inf",
                    repo + "/version.wvd: \"1.0.2\" listed last"));
    EXPECT_EQ(result.FileCount, 3u);
    EXPECT_EQ(result.DeleteCount, 1u);

    auto compressed = Options(dir / "repo", "1.0.2", dir / "v2", PatchMode::Compressed);
    compressed.OldTree = dir / "v1";
    compressed.AbsoluteDirectories = true;
    compressed.DryRun = true;
    result = PublishVersion(compressed);
    EXPECT_THAT(result.Planned,
                testing::Contains(repo + "/1.0.2/Data/b.bmd.VKC: Data/b.bmd compressed"));

    // A dry run stops at the same errors as a real one.
    auto clash = Options(dir / "repo", "1.0.1", dir / "v2", PatchMode::Packed);
    clash.DryRun = true;
    EXPECT_THAT(PublishVersion(clash).Errors, testing::Not(IsEmpty()));

    EXPECT_EQ(testsupport::ListTree(dir / "repo"), before);
    EXPECT_EQ(testsupport::ReadFile(dir / "repo/version.wvd"), list);
}

TEST(PublishAdd, WarnsWhenANormalVersionFollowsTestOnlyOnes) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", {{"a.txt", "1"}});
    MakeTree(dir / "v2", {{"a.txt", "2"}});
    MakeTree(dir / "v3", {{"a.txt", "3"}});
    ASSERT_TRUE(
        PublishVersion(Options(dir / "repo", "1.0.1", dir / "v1", PatchMode::Packed)).Published);
    auto test = Options(dir / "repo", "1.0.2", dir / "v2", PatchMode::Packed);
    test.OldTree = dir / "v1";
    test.TestServer = true;
    ASSERT_TRUE(PublishVersion(test).Published);

    // Another test version after it: no warning, test clients get both.
    auto moreTest = Options(dir / "repo", "1.0.3", dir / "v3", PatchMode::Packed);
    moreTest.OldTree = dir / "v2";
    moreTest.TestServer = true;
    auto quiet = PublishVersion(moreTest);
    ASSERT_TRUE(quiet.Published);
    for (const auto& w : quiet.Warnings) EXPECT_THAT(w, testing::Not(HasSubstr("test clients")));

    auto normal = Options(dir / "repo", "1.0.4", dir / "v3", PatchMode::Packed);
    normal.OldTree = dir / "v2";
    auto result = PublishVersion(normal);
    ASSERT_TRUE(result.Published);
    const std::string all = JoinedWarnings(result);
    EXPECT_THAT(all, HasSubstr("the newest versions \"1.0.2\", \"1.0.3\" are for test clients "
                               "only: normal clients skip them, so \"1.0.4\" must carry"));
}

TEST(PublishAdd, RemovalWarningNamesTheFirstTwentyThenCounts) {
    testsupport::TempDir dir;
    Tree old{{"keep.txt", "k"}};
    for (int i = 0; i < 23; ++i) old["Gone/f" + std::to_string(100 + i)] = "x";
    MakeTree(dir / "v1", old);
    MakeTree(dir / "v2", {{"keep.txt", "k2"}});
    auto o = Options(dir / "repo", "1.0.1", dir / "v2", PatchMode::Files);
    o.OldTree = dir / "v1";
    auto result = PublishVersion(o);
    ASSERT_TRUE(result.Published);
    const std::string all = JoinedWarnings(result);
    EXPECT_THAT(all, HasSubstr("23 removed files and 1 removed directory stay"));
    EXPECT_THAT(all, HasSubstr("\"Gone/f100\", \"Gone/f101\""));
    EXPECT_THAT(all, HasSubstr("\"Gone/f119\" and 4 more)"));
    EXPECT_THAT(all, testing::Not(HasSubstr("Gone/f120")));
}

TEST(PublishAdd, AppendsToAnExistingListKeepingItsBytes) {
    testsupport::TempDir dir;
    MakeTree(dir / "v1", {{"a.txt", "a"}});
    fs::create_directories(dir / "repo");
    testsupport::WriteFile(dir / "repo/version.wvd", "// history\r\n\"1.00.01\"\r\n\"1.00.02\"");
    ASSERT_TRUE(
        PublishVersion(Options(dir / "repo", "1.00.03", dir / "v1", PatchMode::Packed)).Published);
    EXPECT_EQ(testsupport::ReadFile(dir / "repo/version.wvd"),
              "// history\r\n\"1.00.01\"\r\n\"1.00.02\"\n\"1.00.03\"\n");
}
