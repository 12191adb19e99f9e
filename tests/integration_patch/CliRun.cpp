#include "integration_patch/CliRun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "RepositoryMetadata.h"

namespace patchtest {

using testsupport::ChildProcess;
using testsupport::ProgramPath;
using testsupport::WriteFile;

std::unique_ptr<testsupport::ConnectdServer> StartConnectServer(const std::filesystem::path& top,
                                                                const std::string& patchSettings) {
    return std::make_unique<testsupport::ConnectdServer>(top, patchSettings +
                                                                  "server.0.name = World1\n"
                                                                  "server.0.address = 10.0.0.1\n"
                                                                  "server.0.port = 55901\n");
}

void WriteLauncherSettings(const std::filesystem::path& top, int connectPort,
                           const std::string& extraSettings) {
    WriteFile(top / "torvane.conf",
              "connect_address = 127.0.0.1\nconnect_port = " + std::to_string(connectPort) +
                  "\nregistry_dir = " + (top / "registry").string() +
                  "\ndesktop_dir = " + (top / "desktop").string() +
                  "\ntransfer_stall_seconds = 20\ngame_client = game.sh\n" + extraSettings);
}

void RequireCliPrograms() {
    for (const char* program : {"torvane-cli", "torvane-connectd"}) {
        if (!std::filesystem::exists(ProgramPath(program)))
            GTEST_SKIP() << program << " is not built";
    }
}

testsupport::RunResult RunCliLauncher(const std::filesystem::path& top,
                                      const std::filesystem::path& game,
                                      const std::string& patchSettings,
                                      const std::string& extraSettings,
                                      const std::vector<std::string>& extraArguments,
                                      const ChildProcess::Options& launcherOptions) {
    const auto connectd = StartConnectServer(top, patchSettings);
    EXPECT_TRUE(connectd->Ready()) << connectd->Failure();
    WriteLauncherSettings(
        top, connectd->Port(),
        "product_name = TorvanePatchE2E" + std::to_string(getpid()) + "\n" + extraSettings);
    std::vector<std::string> argv = {ProgramPath("torvane-cli").string(), "--config",
                                     (top / "torvane.conf").string()};
    if (!game.empty()) argv.insert(argv.end(), {"--game-dir", game.string()});
    argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
    return testsupport::Run(argv, launcherOptions, 300000);
}

void SignedCliTest::SetUp() {
    RequireCliPrograms();
    if (IsSkipped()) return;
    std::string error;
    ASSERT_TRUE(GenerateKeyFiles(top_ / "key.pub", top_ / "key.sec", error)) << error;
}

std::string SignedCliTest::TrustedKeySetting() const {
    const std::string publicKey = testsupport::ReadFile(top_ / "key.pub");
    return "trusted_key = " + publicKey.substr(publicKey.find('\n') + 1);
}

}  // namespace patchtest
