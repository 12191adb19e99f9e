// `add --sign`, `keygen`, `sign` and `check --key`: the manifests say where every file of each
// version comes from, the index signs them, and every kind of tampering is caught by `check`.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "PublishFixture.h"
#include "Publisher.h"
#include "RepositoryChecker.h"
#include "RepositoryMetadata.h"
#include "trust/Manifest.h"
#include "trust/RepositoryIndex.h"

namespace fs = std::filesystem;
using namespace publishtest;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

const Tree kFirst = {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                     {"main.exe", "MZ game"},
                     {"Data/Player/hero.bmd", "hero v1"}};
const Tree kSecond = {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                      {"main.exe", "MZ game"},
                      {"Data/Player/hero.bmd", "hero v2"},
                      {"Data/ring.wav", "riff"}};
const Tree kThird = {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                     {"main.exe", "MZ game 3"},
                     {"Data/Player/hero.bmd", "hero v2"},
                     {"Data/ring.wav", "riff"}};

class SignedRepository : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(GenerateKeyFiles(dir_ / "key.pub", dir_ / "key.sec", error)) << error;
        MakeTree(dir_ / "v1", kFirst);
        MakeTree(dir_ / "v2", kSecond);
        MakeTree(dir_ / "v3", kThird);
    }

    void Publish(const std::string& label, const char* from, const char* to, PatchMode mode) {
        PublishOptions o = Options(Repo(), label, dir_ / to, mode);
        if (from) o.OldTree = dir_ / from;
        o.SigningKey = dir_ / "key.sec";
        auto result = PublishVersion(o);
        ASSERT_TRUE(result.Published) << (result.Errors.empty() ? "" : result.Errors[0]);
    }

    void PublishAll() {
        Publish("1.00.01", nullptr, "v1", PatchMode::Files);
        Publish("1.00.02", "v1", "v2", PatchMode::Compressed);
        Publish("1.00.03", "v2", "v3", PatchMode::Packed);
    }

    Manifest ManifestOf(const std::string& label) {
        std::string error;
        auto m = ParseManifest(testsupport::ReadFile(Repo() / label / kManifestName), error);
        EXPECT_TRUE(m) << error;
        return m.value_or(Manifest{});
    }

    CheckReport Check(bool withKey = true) {
        CheckOptions o;
        o.Repository = Repo();
        if (withKey) o.PublicKey = dir_ / "key.pub";
        return CheckRepository(o);
    }

    fs::path Repo() const { return dir_ / "repo"; }
    testsupport::TempDir dir_;
};

TEST_F(SignedRepository, ManifestsDescribeWholeTreesAndCarryUnchangedSources) {
    PublishAll();
    Manifest third = ManifestOf("1.00.03");
    ASSERT_EQ(third.Files.size(), 4u);
    const ManifestFile* exe = third.Find("MAIN.EXE");
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(exe->Kind, FileSourceKind::Packed);
    EXPECT_EQ(exe->Location, "1.00.03/up_list.zip");
    EXPECT_EQ(exe->Digest, Sha256Of("MZ game 3"));
    // Unchanged since 1.00.02, which carried it compressed.
    const ManifestFile* hero = third.Find("Data\\Player\\hero.bmd");
    ASSERT_NE(hero, nullptr);
    EXPECT_EQ(hero->Kind, FileSourceKind::Compressed);
    EXPECT_EQ(hero->Location, "1.00.02/hero.bmd.VKC");
    EXPECT_EQ(hero->Size, 7u);
    EXPECT_EQ(hero->StoredSize, fs::file_size(Repo() / "1.00.02/hero.bmd.VKC"));
    // The archive's own config.ini (its version set to the label) is what it installs.
    const ManifestFile* config = third.Find("config.ini");
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->Kind, FileSourceKind::Packed);
    EXPECT_EQ(config->Digest, Sha256Of(ReadZip(Repo() / "1.00.03/up_list.zip")["config.ini"]));
    ASSERT_TRUE(third.Archive);
    EXPECT_EQ(third.Archive->Digest, Sha256OfFile(Repo() / "1.00.03/up_list.zip")->Digest);
    EXPECT_EQ(ManifestOf("1.00.02").Find("main.exe")->Location, "1.00.01/main.exe");

    std::string error;
    auto index = ParseRepositoryIndex(testsupport::ReadFile(Repo() / kRepositoryIndexName), error);
    ASSERT_TRUE(index) << error;
    EXPECT_EQ(index->Serial, 3u);
    EXPECT_EQ(index->Versions.size(), 3u);
    EXPECT_EQ(*index->FindVersion("1.00.02")->Manifest,
              Sha256OfFile(Repo() / "1.00.02" / kManifestName)->Digest);
    EXPECT_GT(index->Expires, std::time(nullptr) + 29 * 86400);
    EXPECT_LT(index->Expires, std::time(nullptr) + 31 * 86400);

    CheckReport report = Check();
    EXPECT_THAT(report.Problems, IsEmpty());
}

TEST_F(SignedRepository, CheckCatchesEveryKindOfTampering) {
    PublishAll();
    // Each change is made, checked and undone.
    struct Change {
        const char* What;
        fs::path File;
        std::string Contents;
        const char* Expected;
    };
    std::string manifest = testsupport::ReadFile(Repo() / "1.00.02" / kManifestName);
    std::string forged = manifest;
    forged.replace(forged.find(ToHex(Sha256Of("riff"))), 64, ToHex(Sha256Of("evil")));
    const Change changes[] = {
        {"stored file", Repo() / "1.00.01/main.exe", "MZ evil", "differs from its manifest"},
        {"archive", Repo() / "1.00.03/up_list.zip", "PK junk", "differs from its manifest"},
        {"list", Repo() / "1.00.02/list.inf", "#COMPRESSED#\n", "differs from its manifest"},
        {"manifest", Repo() / "1.00.02" / kManifestName, forged, "differs from the hash"},
        {"version list", Repo() / "version.wvd", "\"1.00.01\"\n", "differs from what the index"},
    };
    for (const auto& c : changes) {
        std::string before = testsupport::ReadFile(c.File);
        testsupport::WriteFile(c.File, c.Contents);
        CheckReport report = Check();
        EXPECT_THAT(testing::PrintToString(report.Problems), HasSubstr(c.Expected)) << c.What;
        testsupport::WriteFile(c.File, before);
    }
    EXPECT_THAT(Check().Problems, IsEmpty());

    // Another key's signature.
    std::string error;
    ASSERT_TRUE(GenerateKeyFiles(dir_ / "other.pub", dir_ / "other.sec", error));
    auto other = LoadSecretKey(dir_ / "other.sec", error);
    ASSERT_TRUE(WriteSignedIndex(Repo(), "version.wvd", *other, 30, error)) << error;
    EXPECT_THAT(testing::PrintToString(Check().Problems), HasSubstr("not by the trusted key"));
    // An unsigned check still reads the metadata, and says the signature went unchecked.
    CheckReport unsignedCheck = Check(false);
    EXPECT_THAT(unsignedCheck.Problems, IsEmpty());
    EXPECT_THAT(testing::PrintToString(unsignedCheck.Notes), HasSubstr("was not checked"));
}

TEST_F(SignedRepository, SigningAgainRaisesTheSerialAndExpiredIndexesAreReported) {
    PublishAll();
    std::string error;
    auto key = LoadSecretKey(dir_ / "key.sec", error);
    ASSERT_TRUE(key) << error;
    ASSERT_TRUE(WriteSignedIndex(Repo(), "version.wvd", *key, 1, error)) << error;
    auto index = ParseRepositoryIndex(testsupport::ReadFile(Repo() / kRepositoryIndexName), error);
    EXPECT_EQ(index->Serial, 4u);
    EXPECT_LT(index->Expires, std::time(nullptr) + 86401);

    // An index that ran out, signed properly.
    index->Expires = std::time(nullptr) - 60;
    std::string text = FormatRepositoryIndex(*index);
    testsupport::WriteFile(Repo() / kRepositoryIndexName, text);
    testsupport::WriteFile(Repo() / kRepositoryIndexSignatureName,
                           FormatSignatureFile(SignMessage(*key, text, "u", "t")));
    EXPECT_THAT(testing::PrintToString(Check().Problems), HasSubstr("expired"));
}

TEST_F(SignedRepository, UnsignedAdditionsToASignedRepositoryAreRefused) {
    Publish("1.00.01", nullptr, "v1", PatchMode::Packed);
    auto before = Listing(Repo());
    auto result = PublishVersion(Options(Repo(), "1.00.02", dir_ / "v2", PatchMode::Packed));
    EXPECT_FALSE(result.Published);
    EXPECT_THAT(testing::PrintToString(result.Errors), HasSubstr("--sign"));
    EXPECT_EQ(Listing(Repo()), before);
}

TEST_F(SignedRepository, PerFileVersionsKeepTheManifestNameFree) {
    MakeTree(dir_ / "odd", {{"manifest.txt", "a game file"}});
    PublishOptions o = Options(Repo(), "1.00.01", dir_ / "odd", PatchMode::Files);
    o.SigningKey = dir_ / "key.sec";
    auto result = PublishVersion(o);
    EXPECT_FALSE(result.Published);
    o.Mode = PatchMode::Packed;
    result = PublishVersion(o);
    EXPECT_TRUE(result.Published);
}

TEST_F(SignedRepository, KeyFilesAreNeverOverwrittenAndTheSecretStaysPrivate) {
    struct stat st;
    ASSERT_EQ(::stat((dir_ / "key.sec").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string before = testsupport::ReadFile(dir_ / "key.sec");
    std::string error;
    EXPECT_FALSE(GenerateKeyFiles(dir_ / "new.pub", dir_ / "key.sec", error));
    EXPECT_THAT(error, HasSubstr("already exists"));
    EXPECT_EQ(testsupport::ReadFile(dir_ / "key.sec"), before);
    EXPECT_FALSE(fs::exists(dir_ / "new.pub"));
}

TEST_F(SignedRepository, MinisignSignsAndChecksTheSameIndex) {
    if (!fs::exists("/usr/bin/minisign")) GTEST_SKIP() << "/usr/bin/minisign is not installed";
    PublishAll();
    const std::string publish = testsupport::ProgramPath("torvane-publish").string();
    auto r = testsupport::Run({"/usr/bin/minisign", "-V", "-p", (dir_ / "key.pub").string(), "-m",
                               (Repo() / kRepositoryIndexName).string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;

    // An operator re-signs with minisign's own key; the tool checks it with that key.
    testsupport::ChildProcess::Options quiet;
    quiet.StdinText = "";
    r = testsupport::Run({"/usr/bin/minisign", "-G", "-W", "-p", (dir_ / "m.pub").string(), "-s",
                          (dir_ / "m.sec").string()},
                         quiet);
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    r = testsupport::Run({"/usr/bin/minisign", "-S", "-s", (dir_ / "m.sec").string(), "-m",
                          (Repo() / kRepositoryIndexName).string()},
                         quiet);
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    r = testsupport::Run({publish, "check", Repo().string(), "--key", (dir_ / "m.pub").string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
    r = testsupport::Run({publish, "check", Repo().string(), "--key", (dir_ / "key.pub").string()});
    EXPECT_EQ(r.ExitCode, 1) << r.Stdout;

    // `sign` with minisign's secret key, then `minisign -V` with its public key.
    r = testsupport::Run({publish, "sign", Repo().string(), (dir_ / "m.sec").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Stderr;
    r = testsupport::Run({"/usr/bin/minisign", "-V", "-p", (dir_ / "m.pub").string(), "-m",
                          (Repo() / kRepositoryIndexName).string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Stdout << r.Stderr;
    EXPECT_THAT(r.Stdout, HasSubstr("serial:4"));
}

}  // namespace
