// torvane-cli --verify and --repair against the development connect server and real patch
// servers: a game with a deleted file, a truncated file and a flipped byte is reported file by
// file and repaired to the published tree, byte for byte; over HTTP a packed version's entry
// comes by byte ranges (nginx's access log shows the parts, not the archive); over FTP a
// compressed per-file copy is fetched and restored.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Publisher.h"
#include "RepositoryMetadata.h"
#include "integration_patch/CliRun.h"
#include "integration_patch/PatchRepo.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::ReadFile;

namespace {

const std::string kConfig = "[LOGIN]\r\nVersion=0.0.0\r\n";

// Large, hardly compressible entries around the small ones, so that fetching the archive
// instead of one entry would show in the byte counts.
std::string Noise(unsigned seed, std::size_t size) {
    std::string out(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return out;
}

class VerifyRepairCliTest : public SignedCliTest {
protected:
    void SetUp() override {
        SignedCliTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        first_ = {{"config.ini", kConfig},
                  {"a.txt", Content("a1")},
                  {"Data/big1.bmd", Noise(1, 400000)},
                  {"Data/x.bmd", Content("x1", 20000)},
                  {"game.sh", "#!/bin/sh\nexit 0\n"}};
        second_ = first_;
        second_["Data/x.bmd"] = Content("x2", 30000);
        second_["Data/y.bmd"] = Content("y2", 5000);
        second_["Data/big2.bmd"] = Noise(2, 400000);
        second_["Data/big3.bmd"] = Noise(3, 400000);
        WriteTree(top_ / "v1", first_);
        WriteTree(top_ / "v2", second_);
    }
    fs::path Repo() const { return top_ / "repo"; }
    fs::path Game() const { return top_ / "game"; }

    void Publish(PatchMode mode) {
        for (int v = 1; v <= 2; ++v) {
            PublishOptions o;
            o.Repository = Repo();
            o.Label = v == 1 ? "1.00.01" : "1.00.02";
            if (v == 2) o.OldTree = top_ / "v1";
            o.NewTree = top_ / (v == 1 ? "v1" : "v2");
            o.Mode = mode;
            o.SigningKey = top_ / "key.sec";
            auto result = PublishVersion(o);
            ASSERT_TRUE(result.Published) << (result.Errors.empty() ? "" : result.Errors[0]);
        }
        testsupport::MakeWorldReadable(Repo());
    }

    // The game as version 1.00.02 installed it.
    void Install() {
        Tree tree = second_;
        tree["config.ini"] = "[LOGIN]\r\nVersion=1.00.02\r\n";
        WriteTree(Game(), tree);
    }
    void Damage() {
        fs::remove(Game() / "Data/y.bmd");
        fs::resize_file(Game() / "Data/big2.bmd", 1000);
        std::fstream flip(Game() / "Data/x.bmd", std::ios::in | std::ios::out | std::ios::binary);
        flip.seekp(100);
        flip.put('\xff');
    }
    Tree Installed() {
        Tree tree = ReadTree(Game());
        tree.erase("config.ini");
        tree.erase("repository.serial");
        return tree;
    }
    Tree Expected() {
        Tree tree = second_;
        tree.erase("config.ini");
        return tree;
    }

    testsupport::RunResult Run(const std::string& patchSettings, const std::string& mode,
                               bool trusted = true) {
        return RunCliLauncher(top_.Path(), Game(), patchSettings,
                              trusted ? TrustedKeySetting() : "", {mode});
    }

    Tree first_;
    Tree second_;
};

std::string HttpSettings(const testsupport::NginxServer& nginx) {
    return "patch = http\npatch_host = " + nginx.Host() + "\npatch_version_file = version.wvd\n";
}

const std::string kDamagedLines =
    "damaged: Data/big2.bmd\ndamaged: Data/x.bmd\nmissing: Data/y.bmd\n";

TEST_F(VerifyRepairCliTest, PackedVersionOverHttpIsReportedAndRepairedByByteRanges) {
    const std::string skip = testsupport::NginxServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    Publish(PatchMode::Packed);
    testsupport::NginxServer nginx(Repo());
    ASSERT_TRUE(nginx.Ready());
    Install();

    auto whole = Run(HttpSettings(nginx), "--verify");
    EXPECT_EQ(whole.ExitCode, 0) << whole.Stdout << whole.Stderr;
    EXPECT_EQ(whole.Stdout, "");

    Damage();
    auto verify = Run(HttpSettings(nginx), "--verify");
    EXPECT_EQ(verify.ExitCode, 1) << verify.Stderr;
    EXPECT_EQ(verify.Stdout, kDamagedLines);
    EXPECT_NE(verify.Stderr.find("Data/big2.bmd: 1000 bytes; expected 400000 bytes"),
              std::string::npos)
        << verify.Stderr;

    const std::string logBefore = ReadFile(nginx.AccessLog());
    auto repair = Run(HttpSettings(nginx), "--repair");
    EXPECT_EQ(repair.ExitCode, 0) << repair.Stdout << repair.Stderr;
    EXPECT_NE(repair.Stdout.find("repaired: Data/y.bmd"), std::string::npos) << repair.Stdout;
    EXPECT_EQ(Installed(), Expected());
    EXPECT_FALSE(fs::exists(Game() / "Temp"));

    // Every byte of an archive came by a Range request answered with its part, and all of
    // them together are the end records, the directory and the three entries: far less than
    // the archives (each over 400 kB of noise).
    const std::string log = ReadFile(nginx.AccessLog()).substr(logBefore.size());
    std::istringstream lines(log);
    std::string line;
    std::uint64_t archiveBytes = 0;
    int archiveRequests = 0;
    while (std::getline(lines, line)) {
        if (line.find("up_list.zip") == std::string::npos) continue;
        ++archiveRequests;
        std::istringstream fields(line);
        std::string method, uri, status, bytes, range;
        fields >> method >> uri >> status >> bytes >> range;
        EXPECT_EQ(status, "206") << line;
        EXPECT_NE(range, "\"-\"") << line;
        archiveBytes += std::stoull(bytes);
    }
    EXPECT_GT(archiveRequests, 0) << log;
    // The damaged entries hold 30000 + 5000 + 400000 bytes before compression; the noise does
    // not compress, the rest a little. The other entries of 1.00.02's archive (big3.bmd,
    // 400 kB of noise) never travel.
    EXPECT_LT(archiveBytes, 400000u + 35000u + 4000u) << log;
    EXPECT_GT(fs::file_size(Repo() / "1.00.02/up_list.zip"), 800000u);

    auto again = Run(HttpSettings(nginx), "--verify");
    EXPECT_EQ(again.ExitCode, 0) << again.Stdout << again.Stderr;
}

TEST_F(VerifyRepairCliTest, AServerWithoutByteRangesGivesTheWholeCheckedArchive) {
    // Python's static server answers a Range request with the whole file (200).
    Publish(PatchMode::Packed);
    testsupport::LyingHttpServer plain(Repo(), {}, {});
    ASSERT_TRUE(plain.Ready());
    Install();
    Damage();
    const std::string settings =
        "patch = http\npatch_host = " + plain.Host() + "\npatch_version_file = version.wvd\n";
    auto repair = Run(settings, "--repair");
    EXPECT_EQ(repair.ExitCode, 0) << repair.Stdout << repair.Stderr;
    EXPECT_EQ(Installed(), Expected());
}

TEST_F(VerifyRepairCliTest, CompressedPerFileVersionOverFtpIsRepaired) {
    Publish(PatchMode::Compressed);
    testsupport::PyFtpServer ftp(Repo());
    ASSERT_TRUE(ftp.Ready());
    Install();
    Damage();
    auto repair = Run(ftp.ConnectdPatchLines(), "--repair");
    EXPECT_EQ(repair.ExitCode, 0) << repair.Stdout << repair.Stderr;
    EXPECT_EQ(repair.Stdout, kDamagedLines + "repaired: Data/big2.bmd\nrepaired: Data/x.bmd\n" +
                                 "repaired: Data/y.bmd\n");
    EXPECT_EQ(Installed(), Expected());
    // Only what was damaged travelled: nothing of the whole files that were left alone.
    EXPECT_EQ(ftp.RetrievalCount("a.txt.VKC"), 0);
    EXPECT_EQ(ftp.RetrievalCount("big1.bmd.VKC"), 0);
}

TEST_F(VerifyRepairCliTest, RefusesWithoutATrustedKeyOrAgainstAnotherKey) {
    Publish(PatchMode::Files);
    testsupport::PyFtpServer ftp(Repo());
    ASSERT_TRUE(ftp.Ready());
    Install();
    Damage();

    auto unkeyed = Run(ftp.ConnectdPatchLines(), "--repair", false);
    EXPECT_EQ(unkeyed.ExitCode, 1);
    EXPECT_NE(unkeyed.Stderr.find("needs the deployment's trusted_key"), std::string::npos)
        << unkeyed.Stderr;

    // The repository re-signed by someone else's key: nothing is fetched or changed.
    std::string error;
    ASSERT_TRUE(GenerateKeyFiles(top_ / "evil.pub", top_ / "evil.sec", error)) << error;
    const auto evil = LoadSecretKey(top_ / "evil.sec", error);
    ASSERT_TRUE(evil) << error;
    ASSERT_TRUE(WriteSignedIndex(Repo(), "version.wvd", *evil, 30, error)) << error;
    const Tree before = Installed();
    auto refused = Run(ftp.ConnectdPatchLines(), "--repair");
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.Stderr.find("which is not trusted"), std::string::npos) << refused.Stderr;
    EXPECT_EQ(refused.Stdout, "");
    EXPECT_EQ(Installed(), before);
}

}  // namespace
