#include "integration_patch/CliRun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "RepositoryMetadata.h"

namespace patchtest {

using testsupport::ChildProcess;
using testsupport::ProgramPath;
using testsupport::WriteFile;

testsupport::RunResult RunCliLauncher(const std::filesystem::path& top,
                                      const std::filesystem::path& game,
                                      const std::string& patchSettings,
                                      const std::string& extraSettings,
                                      const std::vector<std::string>& extraArguments,
                                      const ChildProcess::Options& launcherOptions) {
    const int connectPort = testsupport::FreeLoopbackPort();
    WriteFile(top / "connectd.conf", patchSettings +
                                         "server.0.name = World1\n"
                                         "server.0.address = 10.0.0.1\n"
                                         "server.0.port = 55901\n");
    ChildProcess::Options options;
    options.StderrFile = top / "connectd.log";
    ChildProcess connectd({ProgramPath("torvane-connectd").string(), "--config",
                           (top / "connectd.conf").string(), "--port", std::to_string(connectPort)},
                          options);
    EXPECT_TRUE(testsupport::WaitForPort(connectPort));
    WriteFile(top / "torvane.conf",
              "connect_address = 127.0.0.1\nconnect_port = " + std::to_string(connectPort) +
                  "\nregistry_dir = " + (top / "registry").string() +
                  "\ndesktop_dir = " + (top / "desktop").string() +
                  "\nproduct_name = TorvanePatchE2E" + std::to_string(getpid()) +
                  "\ntransfer_stall_seconds = 20\ngame_client = game.sh\n" + extraSettings);
    std::vector<std::string> argv = {ProgramPath("torvane-cli").string(), "--config",
                                     (top / "torvane.conf").string()};
    if (!game.empty()) argv.insert(argv.end(), {"--game-dir", game.string()});
    argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
    return testsupport::Run(argv, launcherOptions, 300000);
}

void SignedCliTest::SetUp() {
    for (const char* program : {"torvane-cli", "torvane-connectd"}) {
        if (!std::filesystem::exists(ProgramPath(program)))
            GTEST_SKIP() << program << " is not built";
    }
    std::string error;
    ASSERT_TRUE(GenerateKeyFiles(top_ / "key.pub", top_ / "key.sec", error)) << error;
}

std::string SignedCliTest::TrustedKeySetting() const {
    const std::string publicKey = testsupport::ReadFile(top_ / "key.pub");
    return "trusted_key = " + publicKey.substr(publicKey.find('\n') + 1);
}

}  // namespace patchtest
