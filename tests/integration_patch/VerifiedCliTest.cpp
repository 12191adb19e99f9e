// The terminal launcher of a deployment that names a trusted key, told by the development
// connect server where the patches lie: a signed repository installs, and a connect server
// that names another patch server (a spoofed message, a poisoned name) gets nothing installed.

#include <gtest/gtest.h>

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

class VerifiedCliTest : public SignedCliTest {
protected:
    void SetUp() override {
        SignedCliTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string error;
        ASSERT_TRUE(GenerateKeyFiles(top_ / "evil.pub", top_ / "evil.sec", error)) << error;
        fs::create_directories(Game());
        WriteTree(top_ / "v1", {{"config.ini", "[LOGIN]\r\nVersion=0.0.0\r\n"},
                                {"Data/map.att", Content("map")},
                                {"game.sh", "#!/bin/sh\n"}});
    }
    fs::path Game() const { return top_ / "game"; }

    void Publish(const fs::path& repo, const fs::path& key) {
        PublishOptions o;
        o.Repository = repo;
        o.Label = "1.00.01";
        o.NewTree = top_ / "v1";
        o.Mode = PatchMode::Files;
        o.SigningKey = key;
        auto result = PublishVersion(o);
        ASSERT_TRUE(result.Published) << (result.Errors.empty() ? "" : result.Errors[0]);
    }

    testsupport::RunResult RunLauncher(const std::string& patchSettings) {
        return RunCliLauncher(top_.Path(), Game(), patchSettings, TrustedKeySetting());
    }
};

TEST_F(VerifiedCliTest, ASignedRepositoryInstallsThroughTheTerminalLauncher) {
    Publish(top_ / "good", top_ / "key.sec");
    testsupport::PyFtpServer ftp(top_ / "good");
    ASSERT_TRUE(ftp.Ready());
    const auto result = RunLauncher(ftp.ConnectdPatchLines());
    ASSERT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    EXPECT_EQ(ReadFile(Game() / "Data/map.att"), Content("map"));
    EXPECT_EQ(ReadFile(Game() / "repository.serial"), "1\n");
}

TEST_F(VerifiedCliTest, APatchServerNamedByASpoofedMessageGetsNothingInstalled) {
    // The server the connect server names holds a well-formed repository signed by a key the
    // deployment does not trust.
    Publish(top_ / "evil", top_ / "evil.sec");
    testsupport::PyFtpServer ftp(top_ / "evil");
    ASSERT_TRUE(ftp.Ready());
    const auto result = RunLauncher(ftp.ConnectdPatchLines());
    EXPECT_EQ(result.ExitCode, 1) << result.Stdout << result.Stderr;
    EXPECT_NE(result.Stderr.find("refused: repository.index: signed by key"), std::string::npos)
        << result.Stderr;
    EXPECT_NE(result.Stdout.find("status: "), std::string::npos);
    EXPECT_FALSE(fs::exists(Game() / "Data/map.att"));
    EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
    EXPECT_EQ(ftp.RetrievalCount("version.wvd"), 0);
}

}  // namespace
