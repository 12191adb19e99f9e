// The terminal launcher of a deployment that names a trusted key, told by the development
// connect server where the patches lie: a signed repository installs, and a connect server
// that names another patch server (a spoofed message, a poisoned name) gets nothing installed.

#include <gtest/gtest.h>
#include <unistd.h>

#include "Publisher.h"
#include "RepositoryMetadata.h"
#include "integration_patch/PatchRepo.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::ChildProcess;
using testsupport::ProgramPath;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class VerifiedCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"torvane-cli", "torvane-connectd"}) {
            if (!fs::exists(ProgramPath(program))) GTEST_SKIP() << program << " is not built";
        }
        std::string error;
        ASSERT_TRUE(GenerateKeyFiles(top_ / "key.pub", top_ / "key.sec", error)) << error;
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
        const int connectPort = testsupport::FreeLoopbackPort();
        WriteFile(top_ / "connectd.conf", patchSettings +
                                              "server.0.name = World1\n"
                                              "server.0.address = 10.0.0.1\n"
                                              "server.0.port = 55901\n");
        ChildProcess::Options options;
        options.StderrFile = top_ / "connectd.log";
        ChildProcess connectd(
            {ProgramPath("torvane-connectd").string(), "--config",
             (top_ / "connectd.conf").string(), "--port", std::to_string(connectPort)},
            options);
        EXPECT_TRUE(testsupport::WaitForPort(connectPort));
        const std::string publicKey = ReadFile(top_ / "key.pub");
        const std::string keyLine = publicKey.substr(publicKey.find('\n') + 1);
        WriteFile(top_ / "torvane.conf",
                  "connect_address = 127.0.0.1\nconnect_port = " + std::to_string(connectPort) +
                      "\nregistry_dir = " + (top_ / "registry").string() +
                      "\ndesktop_dir = " + (top_ / "desktop").string() +
                      "\nproduct_name = TorvaneTrustE2E" + std::to_string(getpid()) +
                      "\ntransfer_stall_seconds = 20\ngame_client = game.sh\n" +
                      "trusted_key = " + keyLine);
        return testsupport::Run({ProgramPath("torvane-cli").string(), "--config",
                                 (top_ / "torvane.conf").string(), "--game-dir", Game().string()},
                                {}, 300000);
    }

    testsupport::TempDir top_;
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
