// The connect server in production: clients that dawdle or say nothing do not hold up the
// others, SIGHUP re-reads the settings without dropping anyone, the connection caps hold,
// IPv6 listening, and clients that are not launchers are cut off.

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "ConnectdProcess.h"

namespace {

using connectdtest::Connectd;
using Bytes = std::vector<std::uint8_t>;
using testing::HasSubstr;

const Bytes kGreeting{0xC1, 0x04, 0x00, 0x01};
const Bytes kRequests{0xC1, 0x03, 0x09, 0xC1, 0x06, 0x04, 0x01, 0x00, 0x00};
constexpr std::size_t kListSize = 504;
constexpr std::size_t kGoAheadSize = 3;
constexpr std::size_t kFtpPatchServerSize = 168;

const char* const kNoPatch =
    "server.0.name = Alpha\nserver.0.address = 127.0.0.1\n"
    "server.0.port = 55901\npatch = none\n";
const char* const kFtpPatch =
    "server.0.name = Alpha\nserver.0.address = 127.0.0.1\n"
    "server.0.port = 55901\npatch = ftp\npatch_port = 2121\n";

// A plain TCP client that speaks the launcher's bytes.
class RawClient {
public:
    // `from`: the local address to connect from (any loopback address works as one).
    RawClient(const std::string& host, int port, const std::string& from = {}) {
        sockaddr_storage address{};
        socklen_t size = 0;
        auto& in = reinterpret_cast<sockaddr_in&>(address);
        auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
        if (::inet_pton(AF_INET, host.c_str(), &in.sin_addr) == 1) {
            in.sin_family = AF_INET;
            in.sin_port = htons(static_cast<std::uint16_t>(port));
            size = sizeof in;
        } else {
            ::inet_pton(AF_INET6, host.c_str(), &in6.sin6_addr);
            in6.sin6_family = AF_INET6;
            in6.sin6_port = htons(static_cast<std::uint16_t>(port));
            size = sizeof in6;
        }
        fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (!from.empty()) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0;
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return connected_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool Send(const Bytes& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Reads until `count` bytes came, the server closed, or 20 seconds passed.
    Bytes Read(std::size_t count) {
        Bytes bytes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd poll{fd_, POLLIN, 0};
            if (::poll(&poll, 1, 100) <= 0) continue;
            std::uint8_t chunk[1024];
            const ssize_t n = ::recv(fd_, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
            if (n <= 0) {
                closedByServer_ = true;
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }
    // True once the server has closed the connection (within 20 seconds).
    bool ClosedByServer() {
        while (!closedByServer_ && !Read(1).empty()) {
        }
        return closedByServer_;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closedByServer_ = false;
};

int Code(const Bytes& packet) {
    if (packet.size() < 3) return -1;
    return packet[0] == 0xC2 ? packet.at(3) : packet[2];
}

// Greeting (unless already read), requests, and the two replies: the list, then the
// go-ahead or the patch server.
void Converse(RawClient& client, std::size_t secondReplySize, int secondReplyCode,
              bool greeted = false) {
    if (!greeted) {
        ASSERT_EQ(client.Read(kGreeting.size()), kGreeting);
    }
    ASSERT_TRUE(client.Send(kRequests));
    const Bytes list = client.Read(kListSize);
    ASSERT_EQ(list.size(), kListSize);
    EXPECT_EQ(Code(list), 9);
    const Bytes second = client.Read(secondReplySize);
    ASSERT_EQ(second.size(), secondReplySize);
    EXPECT_EQ(Code(second), secondReplyCode);
}

TEST(ConnectdServer, SilentAndSlowClientsDoNotHoldUpOthers) {
    Connectd server(kFtpPatch, {"--greeting-timeout", "3"});
    ASSERT_NE(server.Port(), 0);
    RawClient silent("127.0.0.1", server.Port());
    ASSERT_EQ(silent.Read(kGreeting.size()), kGreeting);

    // A client trickling its requests a byte at a time is still answered in full...
    RawClient slow("127.0.0.1", server.Port());
    ASSERT_EQ(slow.Read(kGreeting.size()), kGreeting);
    for (std::size_t i = 0; i + 1 < kRequests.size(); ++i) {
        ASSERT_TRUE(slow.Send({kRequests[i]}));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    // ...and while it is half-way, and the silent one waits, a third is served at once.
    RawClient prompt("127.0.0.1", server.Port());
    Converse(prompt, kFtpPatchServerSize, 5);
    ASSERT_TRUE(slow.Send({kRequests.back()}));
    EXPECT_EQ(slow.Read(kListSize).size(), kListSize);
    EXPECT_EQ(Code(slow.Read(kFtpPatchServerSize)), 5);

    // The silent one is let go after the greeting time-out, with its reason in the log.
    EXPECT_TRUE(silent.ClosedByServer());
    EXPECT_TRUE(server.WaitForLog("greeting not answered within 3 s")) << server.Log();
    prompt.Close();
    slow.Close();
    ASSERT_TRUE(server.WaitForLog("session 127.0.0.1:", 3)) << server.Log();
    EXPECT_EQ(server.CountInLog("version 1.0.0, list sent, ftp patch server"), 2) << server.Log();
}

TEST(ConnectdServer, IdleAnsweredClientsAreLetGo) {
    Connectd server(kNoPatch, {"--idle-timeout", "1"});
    RawClient client("127.0.0.1", server.Port());
    Converse(client, kGoAheadSize, 2);
    EXPECT_TRUE(client.ClosedByServer());
    EXPECT_TRUE(server.WaitForLog("go-ahead; ")) << server.Log();
    EXPECT_THAT(server.Log(), HasSubstr("idle for 1 s"));
}

TEST(ConnectdServer, SighupRereadsSettingsWithoutDroppingAnyone) {
    Connectd server(kNoPatch);
    RawClient before("127.0.0.1", server.Port());
    ASSERT_EQ(before.Read(kGreeting.size()), kGreeting);

    testsupport::WriteFile(server.Dir() / "connectd.conf", kFtpPatch);
    server.Process().Signal(SIGHUP);
    ASSERT_TRUE(server.WaitForLog("SIGHUP: re-read")) << server.Log();
    EXPECT_THAT(server.Log(), HasSubstr("1 open ones keep theirs"));

    // The conversation under way goes on with the settings it started with...
    ASSERT_NO_FATAL_FAILURE(Converse(before, kGoAheadSize, 2, true));
    // ...and a new one gets the new settings.
    RawClient after("127.0.0.1", server.Port());
    ASSERT_NO_FATAL_FAILURE(Converse(after, kFtpPatchServerSize, 5));

    // A broken file on the next reload leaves the last good settings in force.
    testsupport::WriteFile(server.Dir() / "connectd.conf", "patch = sometimes\n");
    server.Process().Signal(SIGHUP);
    ASSERT_TRUE(server.WaitForLog("the settings in force stay")) << server.Log();
    EXPECT_THAT(server.Log(), HasSubstr("connectd.conf:1: bad value for patch"));
    RawClient later("127.0.0.1", server.Port());
    ASSERT_NO_FATAL_FAILURE(Converse(later, kFtpPatchServerSize, 5));
    EXPECT_TRUE(server.Process().Running());
}

TEST(ConnectdServer, CapsConnectionsPerAddressAndInAll) {
    {
        Connectd server(kNoPatch, {"--max-per-address", "2"});
        auto first = std::make_unique<RawClient>("127.0.0.1", server.Port());
        RawClient second("127.0.0.1", server.Port());
        ASSERT_EQ(first->Read(kGreeting.size()), kGreeting);
        ASSERT_EQ(second.Read(kGreeting.size()), kGreeting);
        RawClient third("127.0.0.1", server.Port());
        EXPECT_TRUE(third.Read(kGreeting.size()).empty());
        EXPECT_TRUE(third.ClosedByServer());
        EXPECT_TRUE(server.WaitForLog("connections from this address already")) << server.Log();

        // Another address is not held to this address's count.
        RawClient elsewhere("127.0.0.1", server.Port(), "127.0.0.2");
        EXPECT_EQ(elsewhere.Read(kGreeting.size()), kGreeting);

        // A place comes free when a client leaves.
        first.reset();
        ASSERT_TRUE(server.WaitForLog("client closed")) << server.Log();
        RawClient fourth("127.0.0.1", server.Port());
        EXPECT_EQ(fourth.Read(kGreeting.size()), kGreeting);
    }
    {
        Connectd server(kNoPatch, {"--max-connections", "1"});
        RawClient first("127.0.0.1", server.Port());
        ASSERT_EQ(first.Read(kGreeting.size()), kGreeting);
        RawClient second("127.0.0.1", server.Port(), "127.0.0.2");
        EXPECT_TRUE(second.ClosedByServer());
        EXPECT_TRUE(server.WaitForLog("the server holds 1 connections, its cap")) << server.Log();
        ASSERT_NO_FATAL_FAILURE(Converse(first, kGoAheadSize, 2, true));
    }
}

TEST(ConnectdServer, CutsOffClientsThatAreNoLauncher) {
    Connectd server(kNoPatch);
    RawClient client("127.0.0.1", server.Port());
    ASSERT_EQ(client.Read(kGreeting.size()), kGreeting);
    // A C2 packet announcing 60000 bytes would have to be buffered whole.
    ASSERT_TRUE(client.Send({0xC2, 0xEA, 0x60, 0x04}));
    EXPECT_TRUE(client.ClosedByServer());
    EXPECT_TRUE(server.WaitForLog("sent a packet longer than 512 bytes")) << server.Log();
}

TEST(ConnectdServer, ListensOnIpv6) {
    const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    const bool haveIpv6 =
        probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0;
    if (probe >= 0) ::close(probe);
    if (!haveIpv6) GTEST_SKIP() << "no IPv6 loopback address on this machine";

    Connectd server(kFtpPatch, {"--listen", "::1"});
    ASSERT_NE(server.Port(), 0) << server.Log();
    RawClient client("::1", server.Port());
    ASSERT_TRUE(client.Connected());
    ASSERT_NO_FATAL_FAILURE(Converse(client, kFtpPatchServerSize, 5));
    client.Close();
    EXPECT_TRUE(server.WaitForLog("session [::1]:")) << server.Log();

    const auto bad = testsupport::Run({testsupport::ProgramPath("torvane-connectd").string(),
                                       "--listen", "localhost", "--port", "0"},
                                      {}, 20000);
    EXPECT_EQ(bad.ExitCode, 1);
    EXPECT_THAT(bad.Stderr, HasSubstr("--listen localhost: not an IPv4 or IPv6 address"));
}

}  // namespace
