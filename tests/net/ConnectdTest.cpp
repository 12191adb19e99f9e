// The launcher's connection and messages against the development connect server.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "ConnectdProcess.h"
#include "RecordingEvents.h"
#include "net/ConnectMessages.h"
#include "platform/PollEventLoop.h"
#include "support/TestSupport.h"

namespace {

using connectdtest::Connectd;
using testsupport::ReadFile;
using testsupport::TempDir;

const char* const kServers =
    "server.0.name = Alpha\n"
    "server.0.address = 127.0.0.1\n"
    "server.0.port = 55901\n"
    "server.3.name = Delta\n"
    "server.3.address = 10.20.30.40\n"
    "server.3.port = 55904\n";

// The launcher's side: state record, messages, a poll() loop, recording events.
struct Launcher {
    std::unique_ptr<ConnectState> state = std::make_unique<ConnectState>();
    RecordingEvents events{state.get()};
    ConnectMessages messages{*state, events};
    PollEventLoop loop;

    bool Connect(int port) {
        state->Connection.Initialize();
        return state->Connection.CreateSocket(loop, [this] { messages.DispatchPackets(); }) &&
               state->Connection.Connect("127.0.0.1", static_cast<std::uint16_t>(port));
    }
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            loop.RunFor(10);
        }
        return true;
    }
    void PumpIdle() {
        while (loop.RunFor(100) != 0) {
        }
    }
    bool Called(const std::string& call) const {
        return std::find(events.Calls.begin(), events.Calls.end(), call) != events.Calls.end();
    }
};

TEST(Connectd, GoAheadWithServerListAndAddressList) {
    for (const char* mode : {"none", "split", "coalesce"}) {
        SCOPED_TRACE(mode);
        Connectd server(std::string(kServers) + "address_list = 10.0.0.7\n",
                        {"--misbehave", mode, "--max-clients", "1"});
        ASSERT_NE(server.Port(), 0);
        Launcher launcher;
        ASSERT_TRUE(launcher.Connect(server.Port()));
        ASSERT_TRUE(launcher.PumpUntil([&] { return launcher.Called("ready"); })) << server.Log();
        EXPECT_EQ(launcher.events.Calls, (std::vector<std::string>{"ready"}));
        EXPECT_EQ(launcher.events.NamesAtReady, "Alpha");
        const ServerEntry& delta = launcher.state->ServerEntries[3];
        EXPECT_EQ(ServerEntryName(delta), "Delta");
        EXPECT_EQ(ServerEntryAddress(delta), "10.20.30.40");
        EXPECT_EQ(delta.Port, 55904);
        EXPECT_EQ(launcher.state->AltServerValid, 1);
        EXPECT_STREQ(launcher.state->AltServerAddress, "10.0.0.7");

        launcher.state->Connection.Close();
        EXPECT_EQ(server.Process().Wait(20000), 0);
        const std::string log = server.Log();
        EXPECT_NE(log.find("send C1 04 00 01\n"), std::string::npos);
        EXPECT_NE(log.find("recv C1 03 09\n"), std::string::npos);
        EXPECT_NE(log.find("recv C1 06 04 01 02 03\n"), std::string::npos);
    }
}

TEST(Connectd, PatchServersFollowTheClientVersion) {
    const std::string patch =
        "patch_host = ftp.patch.test\npatch_port = 2121\npatch_user = up\n"
        "patch_password = pw\npatch_version_file = ver.txt\ncurrent_version = 1.2.4\n";
    {
        Connectd server(std::string(kServers) + "patch = ftp\n" + patch);
        Launcher launcher;
        ASSERT_TRUE(launcher.Connect(server.Port()));
        ASSERT_TRUE(launcher.PumpUntil([&] { return launcher.Called("ftp"); })) << server.Log();
        EXPECT_EQ(launcher.events.Ftp.HostText(), "ftp.patch.test");
        EXPECT_EQ(launcher.events.Ftp.Port, 2121);
        EXPECT_EQ(launcher.events.Ftp.UserText(), "up");
        EXPECT_EQ(launcher.events.Ftp.PasswordText(), "pw");
        EXPECT_EQ(launcher.events.Ftp.VersionFileText(), "ver.txt");
    }
    {
        Connectd server(std::string(kServers) + "patch = http\n" + patch);
        Launcher launcher;
        ASSERT_TRUE(launcher.Connect(server.Port()));
        ASSERT_TRUE(launcher.PumpUntil([&] { return launcher.Called("http start"); }));
        PatchServerInfo info = launcher.events.Http;
        info.Decode();
        EXPECT_EQ(info.HostText(), "ftp.patch.test");
    }
    {
        // A client at the current version goes ahead.
        Connectd server(std::string(kServers) + "patch = ftp\n" + patch);
        Launcher launcher;
        launcher.events.Version = {1, 2, 4};
        ASSERT_TRUE(launcher.Connect(server.Port()));
        ASSERT_TRUE(launcher.PumpUntil([&] { return launcher.Called("ready"); }));
        EXPECT_FALSE(launcher.Called("ftp"));
    }
}

TEST(Connectd, BrokenStreamsDispatchNothingFromTheBrokenPart) {
    {
        Connectd server(kServers, {"--misbehave", "short_packet"});
        Launcher launcher;
        ASSERT_TRUE(launcher.Connect(server.Port()));
        ASSERT_TRUE(launcher.PumpUntil([&] { return launcher.Called("ready"); }));
        EXPECT_EQ(launcher.state->ServerEntries[0].Port, 0) << "a cut list must not be stored";
    }
    for (const char* mode : {"bad_head", "zero_length"}) {
        SCOPED_TRACE(mode);
        Connectd server(kServers, {"--misbehave", mode});
        Launcher launcher;
        ASSERT_TRUE(launcher.Connect(server.Port()));
        ASSERT_TRUE(launcher.PumpUntil([&] {
            return server.Log().find("send C2 01 F8") != std::string::npos ||
                   server.Log().find("send C3 01 F8") != std::string::npos;
        }));
        launcher.PumpIdle();
        EXPECT_TRUE(launcher.events.Calls.empty());
        EXPECT_EQ(launcher.state->ServerEntries[0].Port, 0);
    }
}

}  // namespace

namespace {

TEST(Connectd, ServesClientsOneAfterAnother) {
    Connectd server(kServers, {"--max-clients", "2"});
    for (int client = 0; client < 2; ++client) {
        Launcher launcher;
        ASSERT_TRUE(launcher.Connect(server.Port()));
        ASSERT_TRUE(launcher.PumpUntil([&] { return launcher.Called("ready"); }));
        launcher.state->Connection.Close();
    }
    EXPECT_EQ(server.Process().Wait(20000), 0);
}

TEST(Connectd, BadSettingsStopTheServerWithTheLineNamed) {
    TempDir dir;
    testsupport::WriteFile(dir / "bad.conf", "patch = ftp\nserver.10.name = Eleven\n");
    const auto result = testsupport::Run({testsupport::ProgramPath("torvane-connectd").string(),
                                          "--config", (dir / "bad.conf").string()},
                                         {}, 20000);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Stderr.find("bad.conf:2"), std::string::npos) << result.Stderr;
}

}  // namespace
