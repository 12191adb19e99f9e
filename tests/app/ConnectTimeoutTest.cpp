// torvane-cli's bounded wait for scripts: no connect server within --timeout ends the run with
// exit status 3 and says which server and why; a peer that accepts and never greets counts as
// a failed connect.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace {

using testsupport::ProgramPath;

class ConnectTimeoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(ProgramPath("torvane-cli")))
            GTEST_SKIP() << "torvane-cli is not built";
        std::filesystem::create_directories(dir / "game");
    }
    testsupport::RunResult RunCli(const std::string& connect) {
        return testsupport::Run(
            {ProgramPath("torvane-cli").string(), "--game-dir", (dir / "game").string(),
             "--connect", connect, "--timeout", "3", "--log-file", (dir / "torvane.log").string()},
            {}, 120000);
    }
    testsupport::TempDir dir;
};

TEST_F(ConnectTimeoutTest, AClosedPortEndsWithStatus3NamingTheServerAndTheCause) {
    const int port = testsupport::FreeLoopbackPort();  // nothing listens there
    const auto result = RunCli("127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(result.ExitCode, 3) << result.Stderr;
    const std::string server = "127.0.0.1:" + std::to_string(port);
    EXPECT_NE(result.Stderr.find("no connection to the connect server " + server + " within 3 s"),
              std::string::npos)
        << result.Stderr;
    EXPECT_NE(result.Stderr.find("refused"), std::string::npos) << result.Stderr;
    const std::string log = testsupport::ReadFile(dir / "torvane.log");
    EXPECT_NE(log.find("connecting to the connect server " + server), std::string::npos) << log;
    EXPECT_NE(log.find("end, exit status 3"), std::string::npos) << log;
}

TEST_F(ConnectTimeoutTest, AnUnknownHostNameIsNamedAsSuch) {
    const auto result = RunCli("no-such-host.invalid:44405");
    EXPECT_EQ(result.ExitCode, 3) << result.Stderr;
    EXPECT_NE(result.Stderr.find("no-such-host.invalid:44405"), std::string::npos) << result.Stderr;
    EXPECT_NE(result.Stderr.find("host name not found"), std::string::npos) << result.Stderr;
}

TEST_F(ConnectTimeoutTest, APeerThatNeverGreetsIsAFailedConnect) {
    // Accepts (the kernel completes the handshake for the backlog) and never says a word.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 16), 0);
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const int port = ntohs(address.sin_port);

    const auto result = RunCli("127.0.0.1:" + std::to_string(port));
    ::close(listener);
    EXPECT_EQ(result.ExitCode, 3) << result.Stderr;
    EXPECT_NE(result.Stderr.find("127.0.0.1:" + std::to_string(port)), std::string::npos)
        << result.Stderr;
    EXPECT_NE(result.Stderr.find("no greeting"), std::string::npos) << result.Stderr;
}

}  // namespace
