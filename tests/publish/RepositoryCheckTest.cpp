// `check`: every repository `add` writes passes; each deliberately broken one is caught.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zip.h>

#include "PublishFixture.h"
#include "Publisher.h"
#include "RepositoryChecker.h"

namespace fs = std::filesystem;
using namespace publishtest;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

const Tree kV1 = {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                  {"main.exe", "game"},
                  {"Data/Player/hero.bmd", "hero"},
                  {"Data/Old/gone.att", "gone"}};
const Tree kV2 = {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                  {"main.exe", "game 2"},
                  {"Data/Player/hero.bmd", "hero"},
                  {"Data/Player/Mixed/Case.BMD", "new"}};

std::string AllProblems(const CheckReport& r) {
    std::string all;
    for (const auto& p : r.Problems) all += p + "\n";
    return all;
}

CheckReport Check(const fs::path& repo) {
    CheckOptions o;
    o.Repository = repo;
    return CheckRepository(o);
}

// Two versions published in `mode` into dir/repo.
void PublishTwo(const testsupport::TempDir& dir, PatchMode mode, bool absolute = false) {
    MakeTree(dir / "v1", kV1);
    MakeTree(dir / "v2", kV2);
    auto first = Options(dir / "repo", "1.00.01", dir / "v1", mode);
    first.AbsoluteDirectories = absolute;
    ASSERT_TRUE(PublishVersion(first).Published);
    auto second = Options(dir / "repo", "1.00.02", dir / "v2", mode);
    second.OldTree = dir / "v1";
    second.AbsoluteDirectories = absolute;
    second.TestServer = true;
    ASSERT_TRUE(PublishVersion(second).Published);
}

void WriteZip(const fs::path& target, const std::map<std::string, std::string>& members) {
    int code = 0;
    zip_t* za = zip_open(target.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    ASSERT_NE(za, nullptr);
    for (const auto& [name, data] : members) {
        zip_source_t* src = zip_source_buffer(za, data.data(), data.size(), 0);
        zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_RAW);
    }
    ASSERT_EQ(zip_close(za), 0);
}

}  // namespace

TEST(RepositoryCheck, PassesWhatAddWritesInEveryMode) {
    struct Mode {
        PatchMode mode;
        bool absolute;
    };
    for (Mode m : {Mode{PatchMode::Packed, false}, Mode{PatchMode::Files, false},
                   Mode{PatchMode::Files, true}, Mode{PatchMode::Compressed, false},
                   Mode{PatchMode::Compressed, true}}) {
        SCOPED_TRACE(static_cast<int>(m.mode) * 2 + m.absolute);
        testsupport::TempDir dir;
        PublishTwo(dir, m.mode, m.absolute);
        auto report = Check(dir / "repo");
        EXPECT_THAT(report.Problems, IsEmpty()) << AllProblems(report);
        EXPECT_EQ(report.VersionsChecked, 2u);
    }
}

TEST(RepositoryCheck, FindsMissingPieces) {
    {
        testsupport::TempDir dir;
        fs::create_directories(dir / "repo");
        EXPECT_THAT(AllProblems(Check(dir / "repo")), HasSubstr("version list is missing"));
    }
    {
        testsupport::TempDir dir;
        PublishTwo(dir, PatchMode::Packed);
        fs::remove_all(dir / "repo/1.00.01");
        fs::remove(dir / "repo/1.00.02/list.inf");
        auto all = AllProblems(Check(dir / "repo"));
        EXPECT_THAT(all, HasSubstr("\"1.00.01\": its directory is missing"));
        EXPECT_THAT(all, HasSubstr("\"1.00.02\": \"list.inf\" is missing"));
    }
    {
        testsupport::TempDir dir;
        PublishTwo(dir, PatchMode::Files, true);
        fs::remove(dir / "repo/1.00.02/Data/Player/Mixed/Case.BMD");
        fs::remove(dir / "repo/1.00.01/main.exe");
        testsupport::WriteFile(dir / "repo/1.00.01/Data/Player/hero.bmd", "");
        auto all = AllProblems(Check(dir / "repo"));
        EXPECT_THAT(
            all, HasSubstr("listed file \"Data\\Player\\Mixed\\Case.BMD\" is not on the server"));
        EXPECT_THAT(all, HasSubstr("listed file \"main.exe\" is not on the server"));
        EXPECT_THAT(all, HasSubstr("\"Data\\Player\\hero.bmd\" is empty on the server"));
    }
}

TEST(RepositoryCheck, FindsSymbolicLinks) {
    testsupport::TempDir dir;
    PublishTwo(dir, PatchMode::Files);
    EXPECT_THAT(Check(dir / "repo").Problems, IsEmpty());
    // A file replaced by a link to a copy elsewhere, and a linked directory.
    fs::rename(dir / "repo/1.00.01/main.exe", dir / "main.exe");
    fs::create_symlink(dir / "main.exe", dir / "repo/1.00.01/main.exe");
    fs::create_directory_symlink(dir / "v1", dir / "repo/linked");
    const std::string all = AllProblems(Check(dir / "repo"));
    EXPECT_THAT(all, HasSubstr("\"1.00.01/main.exe\": a symbolic link"));
    EXPECT_THAT(all, HasSubstr("\"linked\": a symbolic link"));
}

TEST(RepositoryCheck, FindsBrokenArchivesAndCompressedFiles) {
    testsupport::TempDir dir;
    PublishTwo(dir, PatchMode::Packed);
    testsupport::WriteFile(dir / "repo/1.00.01/up_list.zip", "PK this is no archive");
    WriteZip(dir / "repo/1.00.02/up_list.zip", {{"main.exe", "game 2"}});
    auto all = AllProblems(Check(dir / "repo"));
    EXPECT_THAT(all, HasSubstr("\"1.00.01\": \"up_list.zip\" is damaged"));
    EXPECT_THAT(all, HasSubstr("\"1.00.02\": \"up_list.zip\" lacks \"config.ini\""));

    // An archive whose config.ini names another version, and one with a CRC that lies.
    WriteZip(dir / "repo/1.00.01/up_list.zip", {{"config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n"}});
    all = AllProblems(Check(dir / "repo"));
    EXPECT_THAT(all, HasSubstr("config.ini says version 1.0.0"));
    std::string zip = testsupport::ReadFile(dir / "repo/1.00.01/up_list.zip");
    auto at = zip.find("[LOGIN]");
    ASSERT_NE(at, std::string::npos);  // stored: libzip keeps tiny members uncompressed
    zip[at + 1] = 'l';
    testsupport::WriteFile(dir / "repo/1.00.01/up_list.zip", zip);
    EXPECT_THAT(AllProblems(Check(dir / "repo")),
                HasSubstr("\"1.00.01\": \"up_list.zip\" is damaged"));

    testsupport::TempDir other;
    PublishTwo(other, PatchMode::Compressed);
    std::string vkc = testsupport::ReadFile(other / "repo/1.00.01/hero.bmd.VKC");
    testsupport::WriteFile(other / "repo/1.00.01/hero.bmd.VKC", vkc.substr(0, vkc.size() - 3));
    testsupport::WriteFile(other / "repo/1.00.02/main.exe.VKC",
                           testsupport::ReadFile(other / "repo/1.00.02/main.exe.VKC") + "x");
    all = AllProblems(Check(other / "repo"));
    EXPECT_THAT(all, HasSubstr("hero.bmd.VKC\" is not one complete bzip2 stream"));
    EXPECT_THAT(all, HasSubstr("\"main.exe.VKC\" is not one complete bzip2 stream"));
}

TEST(RepositoryCheck, FindsVersionListFaults) {
    testsupport::TempDir dir;
    PublishTwo(dir, PatchMode::Packed);
    testsupport::WriteFile(dir / "repo/version.wvd",
                           "\"1.00.02\"\n\"1.00.01\"\n\"1.0.300\"\n\"1.000.0003\"\n");
    auto all = AllProblems(Check(dir / "repo"));
    EXPECT_THAT(all, HasSubstr("out of order: \"1.00.01\" (1.0.1) follows \"1.00.02\" (1.0.2)"));
    EXPECT_THAT(all, HasSubstr("\"1.0.300\": a number above 255"));
    EXPECT_THAT(all, HasSubstr("\"1.000.0003\" is longer than 8 characters"));
}

TEST(RepositoryCheck, FindsPathsTheLauncherRefuses) {
    testsupport::TempDir dir;
    PublishTwo(dir, PatchMode::Packed);
    testsupport::WriteFile(dir / "repo/1.00.02/list.inf",
                           "#PACKINGVERSION#\n\"main.exe\"\n@ \"..\\..\\etc\\passwd\"\n"
                           "@ 1 \"C:\\Windows\"\n");
    WriteZip(dir / "repo/1.00.01/up_list.zip",
             {{"config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n"}, {"../escape.txt", "x"}});
    auto all = AllProblems(Check(dir / "repo"));
    EXPECT_THAT(all,
                HasSubstr("delete entry \"..\\..\\etc\\passwd\" is a path the launcher refuses"));
    EXPECT_THAT(all, HasSubstr("directory delete entry \"C:\\Windows\""));
    EXPECT_THAT(all, HasSubstr("archive member \"..\\escape.txt\""));

    testsupport::TempDir flat;
    PublishTwo(flat, PatchMode::Files);
    testsupport::WriteFile(flat / "repo/1.00.02/list.inf",
                           "1 \"Data\\New\\Deep\"\n\"Case.BMD\"\n1 \"..\\Up\"\n\"main.exe\"\n");
    all = AllProblems(Check(flat / "repo"));
    EXPECT_THAT(all, HasSubstr("\"Data\\New\\Deep\" comes before its parent"));
    EXPECT_THAT(all, HasSubstr("directory \"..\\Up\" is a path the launcher refuses"));
}

TEST(RepositoryCheck, ProgramReportsAndExitsByResult) {
    testsupport::TempDir dir;
    PublishTwo(dir, PatchMode::Packed);
    const std::string program = testsupport::ProgramPath("torvane-publish").string();
    auto good = testsupport::Run({program, "check", (dir / "repo").string()});
    EXPECT_EQ(good.ExitCode, 0) << good.Stdout;
    EXPECT_THAT(good.Stdout, HasSubstr("2 versions checked, 0 problems"));
    fs::remove(dir / "repo/1.00.02/up_list.zip");
    auto bad = testsupport::Run({program, "check", (dir / "repo").string()});
    EXPECT_EQ(bad.ExitCode, 1);
    EXPECT_THAT(bad.Stdout, HasSubstr("problem: version \"1.00.02\": \"up_list.zip\" is missing"));

    auto usage = testsupport::Run({program, "add", (dir / "repo").string(), "--label", "1.0.3"});
    EXPECT_EQ(usage.ExitCode, 2);
    MakeTree(dir / "v3", {{"a b.txt", "x"}});
    auto refused =
        testsupport::Run({program, "add", (dir / "repo").string(), "--label", "1.0.3", "--from",
                          (dir / "v2").string(), "--to", (dir / "v3").string(), "--packed"});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_THAT(refused.Stderr, HasSubstr("contains a blank"));
    EXPECT_THAT(refused.Stderr, HasSubstr("nothing written"));
}

TEST(RepositoryCheck, PerFileVersionsAreProblemsOverHttp) {
    for (PatchMode mode : {PatchMode::Packed, PatchMode::Compressed}) {
        SCOPED_TRACE(static_cast<int>(mode));
        testsupport::TempDir dir;
        PublishTwo(dir, mode);
        CheckOptions o;
        o.Repository = dir / "repo";
        o.Http = true;
        const CheckReport http = CheckRepository(o);
        if (mode == PatchMode::Packed) {
            EXPECT_TRUE(http.Problems.empty()) << AllProblems(http);
            continue;
        }
        ASSERT_EQ(http.Problems.size(), 2u) << AllProblems(http);
        EXPECT_THAT(http.Problems[0],
                    testing::HasSubstr("version \"1.00.01\" is a per-file patch: "
                                       "HTTP launchers apply packed versions only"));
        // Over FTP the same repository is fine.
        EXPECT_TRUE(Check(dir / "repo").Problems.empty()) << AllProblems(Check(dir / "repo"));
    }
}
