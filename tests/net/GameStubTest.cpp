#include <gtest/gtest.h>

#include <array>
#include <string>

#include "platform/Clock.h"
#include "platform/FileRegistry.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ProgramPath;
using testsupport::Run;
using testsupport::TempDir;

constexpr const char* kConnectionKey = "SOFTWARE\\Varnok\\Ka\\Connection";
const std::array<std::uint8_t, 4> kKey{0x17, 0x2B, 0x3D, 0x4F};

std::string Scramble(const std::string& text) {
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char>(static_cast<std::uint8_t>(out[i]) + kKey[i % 4]);
    }
    return out;
}

struct StubRun {
    TempDir dir;
    FileRegistry registry{dir / "registry"};

    StubRun() {
        testsupport::WriteFile(dir / "torvane.conf",
                               "registry_dir = registry\nscramble_key = 17 2B 3D 4F\n");
    }

    void WriteConnection(const std::string& address, std::uint32_t port, std::uint32_t stamp) {
        ASSERT_EQ(registry.SetString(RegistryRoot::LocalMachine, kConnectionKey, "ParameterA",
                                     Scramble(address)),
                  Registry::Status::Ok);
        ASSERT_EQ(registry.SetDword(RegistryRoot::LocalMachine, kConnectionKey, "ParameterB",
                                    kKey[address.size() % 4] ^ port),
                  Registry::Status::Ok);
        ASSERT_EQ(registry.SetDword(RegistryRoot::LocalMachine, kConnectionKey, "Key", stamp),
                  Registry::Status::Ok);
    }

    std::string Start(const std::string& address, const std::string& port) {
        // The launcher's text, split into arguments as the game client is started.
        const std::string line = "connect /y" + Scramble(address) + " /z" + Scramble(port) + " ";
        std::vector<std::string> argv{ProgramPath("torvane-game-stub").string()};
        for (const std::string& word : SplitCommandLine(line)) argv.push_back(word);
        testsupport::ChildProcess::Options options;
        options.WorkingDirectory = dir.Path();
        const auto result = Run(argv, options, 60000);
        EXPECT_EQ(result.ExitCode, 0) << result.Stderr;
        return result.Stdout;
    }
};

TEST(GameStub, ReportsTheHandOffFromCommandLineAndRegistry) {
    StubRun run;
    run.WriteConnection("192.168.100.201", 55901, TickCount());
    EXPECT_EQ(run.Start("192.168.100.201", "55901"),
              "address: 192.168.100.201\nport: 55901\nregistry address: 192.168.100.201\n"
              "registry port: 55901\nstamp: ok\n");
}

TEST(GameStub, StaleOrMissingStampsAreReported) {
    StubRun run;
    run.WriteConnection("10.1.1.1", 44405, TickCount() - 60000);
    EXPECT_NE(run.Start("10.1.1.1", "44405").find("stamp: stale\n"), std::string::npos);

    ASSERT_EQ(run.registry.DeleteKey(RegistryRoot::LocalMachine, kConnectionKey),
              Registry::Status::Ok);
    const std::string output = run.Start("10.1.1.1", "44405");
    EXPECT_NE(output.find("address: 10.1.1.1\n"), std::string::npos);
    EXPECT_NE(output.find("registry address: missing\n"), std::string::npos);
    EXPECT_NE(output.find("stamp: missing\n"), std::string::npos);
}

}  // namespace
