// The terminal launcher against the development connect server, starting the game stub:
// the whole hand-off from the server list to the game client's command line and registry.

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <thread>

#include "support/PatchServers.h"
#include "support/TestSupport.h"
#include "text/MessageTableWriter.h"

namespace {

using testsupport::ChildProcess;
using testsupport::ProgramPath;
using testsupport::ReadFile;
using testsupport::WriteFile;

class CliEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"torvane-cli", "torvane-connectd", "torvane-game-stub"}) {
            if (!std::filesystem::exists(ProgramPath(program)))
                GTEST_SKIP() << program << " is not built";
        }
        game = dir / "game";
        std::filesystem::create_directories(game);
        WriteFile(game / "config.ini", "[LOGIN]\r\nVersion=1.00.00\r\n");

        CMessageTableWriter texts;
        texts.Add(102, "Connecting to the server");
        texts.Add(107, "Connection failed, retrying");
        texts.Add(126, "Choose a server");
        texts.Add(138, "Patch failed");
        texts.Add(151, "Hand-off failed");
        WriteFile(game / "message.wtf", texts.Serialize());

        // The game client: a script that runs the stub and keeps what it printed.
        stubOutput = dir / "stub.out";
        WriteFile(game / "game.sh", "#!/bin/sh\nexec '" +
                                        ProgramPath("torvane-game-stub").string() + "' --config '" +
                                        (dir / "torvane.conf").string() + "' \"$@\" > '" +
                                        stubOutput.string() + ".part' 2>&1\n");
        std::filesystem::permissions(game / "game.sh", std::filesystem::perms::owner_all);
    }

    void WriteLauncherConfig(int connectPort) {
        WriteFile(dir / "torvane.conf",
                  "connect_address = 127.0.0.1\n"
                  "connect_port = " +
                      std::to_string(connectPort) +
                      "\n"
                      "game_client = game.sh\n"
                      "scramble_key = 21 43 65 07\n"
                      "registry_dir = " +
                      (dir / "registry").string() +
                      "\n"
                      "desktop_dir = " +
                      (dir / "desktop").string() +
                      "\n"
                      "product_name = TorvaneE2E" +
                      std::to_string(getpid()) +
                      "\n"
                      "code_page = CP949\n");
    }

    // Starts the connect server with ten entries (the fifth disabled) and the go-ahead.
    std::unique_ptr<testsupport::ConnectdServer> StartConnectServer(
        int port, const std::string& patch = "patch = none\n") {
        std::string config = patch;
        for (int i = 0; i < 10; ++i) {
            config +=
                "server." + std::to_string(i) + ".name = World" + std::to_string(i + 1) + "\n";
            config +=
                "server." + std::to_string(i) + ".address = 10.0.0." + std::to_string(i + 1) + "\n";
            config += "server." + std::to_string(i) +
                      ".port = " + std::to_string(i == 4 ? 0 : 55901 + i) + "\n";
        }
        auto server = std::make_unique<testsupport::ConnectdServer>(dir.Path(), config, port);
        EXPECT_TRUE(server->Ready()) << server->Failure();
        return server;
    }

    testsupport::RunResult RunCli(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         {ProgramPath("torvane-cli").string(), "--config",
                          (dir / "torvane.conf").string(), "--game-dir", game.string()});
        return testsupport::Run(arguments, {}, 120000);
    }

    testsupport::TempDir dir;
    std::filesystem::path game;
    std::filesystem::path stubOutput;
};

// The stub finishes after the launcher has exited; its output is complete once it ends.
std::string WaitForStub(const std::filesystem::path& part) {
    for (int i = 0; i < 3000; ++i) {
        const std::string text = std::filesystem::exists(part) ? ReadFile(part) : "";
        if (text.find("stamp:") != std::string::npos) return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::filesystem::exists(part) ? ReadFile(part) : "";
}

TEST_F(CliEndToEndTest, PickAndStartHandsTheServerToTheGame) {
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartConnectServer(port);
    WriteLauncherConfig(port);

    const auto result = RunCli({"--pick", "3", "--start"});
    EXPECT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    EXPECT_NE(result.Stdout.find("status: Connecting to the server\n"), std::string::npos)
        << result.Stdout;
    EXPECT_NE(result.Stdout.find("status: Choose a server\n"), std::string::npos);
    EXPECT_NE(result.Stdout.find("server 3: World3 10.0.0.3:55903\n"), std::string::npos);
    EXPECT_NE(result.Stdout.find("server 5: World5 10.0.0.5:0 (disabled)\n"), std::string::npos);

    const std::string stub = WaitForStub(stubOutput.string() + ".part");
    EXPECT_NE(stub.find("address: 10.0.0.3\n"), std::string::npos) << stub;
    EXPECT_NE(stub.find("port: 55903\n"), std::string::npos) << stub;
    EXPECT_NE(stub.find("registry address: 10.0.0.3\n"), std::string::npos) << stub;
    EXPECT_NE(stub.find("registry port: 55903\n"), std::string::npos) << stub;
    EXPECT_NE(stub.find("stamp: ok\n"), std::string::npos) << stub;
}

TEST_F(CliEndToEndTest, WithoutStartItEndsOnceTheListIsShown) {
    const int port = testsupport::FreeLoopbackPort();
    auto server = StartConnectServer(port);
    WriteLauncherConfig(port);

    const auto listed = RunCli({});
    EXPECT_EQ(listed.ExitCode, 0) << listed.Stdout << listed.Stderr;
    EXPECT_NE(listed.Stdout.find("server 10: World10 10.0.0.10:55910\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "registry" / "HKEY_LOCAL_MACHINE.reg"));

    // A disabled server cannot be started.
    const auto disabled = RunCli({"--pick", "5", "--start"});
    EXPECT_EQ(disabled.ExitCode, 1) << disabled.Stdout << disabled.Stderr;
    EXPECT_FALSE(std::filesystem::exists(stubOutput.string() + ".part"));
}

TEST_F(CliEndToEndTest, UnreachablePatchServersFailTheSession) {
    const int closedPort = testsupport::FreeLoopbackPort();
    for (const std::string& patch :
         {"patch = ftp\npatch_host = 127.0.0.1\npatch_port = " + std::to_string(closedPort) +
              "\npatch_user = u\npatch_password = p\npatch_version_file = version.wvd\n",
          "patch = http\npatch_host = 127.0.0.1:" + std::to_string(closedPort) +
              "\npatch_version_file = version.wvd\n"}) {
        const int port = testsupport::FreeLoopbackPort();
        auto server = StartConnectServer(port, patch);
        WriteLauncherConfig(port);
        const auto result = RunCli({"--pick", "1", "--start"});
        EXPECT_EQ(result.ExitCode, 1) << patch << result.Stdout << result.Stderr;
        EXPECT_EQ(result.Stdout.find("server 1:"), std::string::npos) << result.Stdout;
        EXPECT_FALSE(std::filesystem::exists(stubOutput.string() + ".part"));
    }
}

TEST_F(CliEndToEndTest, BadUsage) {
    WriteLauncherConfig(1);
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--pick", "11"},
                                                      {"--start"},
                                                      {"--bogus"},
                                                      {"--pick", "1", "--start", "--no-start"},
                                                      {"--connect"}}) {
        const auto result = RunCli(arguments);
        EXPECT_EQ(result.ExitCode, 2) << arguments[0];
        EXPECT_NE(result.Stderr.find("Try 'torvane-cli --help'"), std::string::npos);
    }
}

}  // namespace
