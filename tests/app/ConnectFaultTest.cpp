// The controller against connect servers whose timing goes wrong: a go-ahead landing in the
// connect thread's retry pause, a connection left open by a failed FTP login, a patch-server
// message arriving while an HTTP session runs.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "app/AppTestSupport.h"
#include "app/LauncherPatchSessions.h"
#include "app/LauncherState.h"
#include "app/UpdateDlg.h"
#include "support/ConnectPackets.h"

namespace {

class ConnectFaultTest : public ::testing::Test, public ControllerFixture {
protected:
    ~ConnectFaultTest() override {
        for (int fd : fds_) ::close(fd);
    }
    // A listening socket on 127.0.0.1; its port in *port.
    int Listen(std::uint16_t* port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(::listen(fd, 8), 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        *port = ntohs(address.sin_port);
        fds_.push_back(fd);
        return fd;
    }
    // The next connection to `listener`; -1 when none comes within 30 s.
    int Accept(int listener) {
        pollfd ready{listener, POLLIN, 0};
        if (::poll(&ready, 1, 30000) != 1) return -1;
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd >= 0) fds_.push_back(fd);
        return fd;
    }
    // A real connect-server connection to `port` (the shared one is spent by earlier tests'
    // shutdowns), refusing a new socket while one stands exactly as the launcher's does.
    void UseRealConnection(std::uint16_t port) {
        // Shared with the services: the controller may close it after this fixture's end.
        auto socket = std::make_shared<CClientSocket>();
        Connection->OnConnect = [this, socket](const std::string& address, std::uint16_t to) {
            ++ConnectAttempts;
            return socket->CreateSocket(Loop, [] {}) && socket->Connect(address.c_str(), to);
        };
        Connection->OnClose = [socket] { socket->Close(); };
        Connection->OnAbandon = [socket] { socket->AbandonConnects(); };
        Clock->OnSleep = [](std::uint32_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        };
        std::strcpy(g_State.ServerAddress, "127.0.0.1");
        g_State.ServerPort = port;
    }
    // Runs the loop until `done` holds; a generous bound only turns a hang into a failure.
    template <typename Condition>
    bool PumpUntil(Condition done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            Loop.RunFor(10);
        }
        return true;
    }

private:
    std::vector<int> fds_;
};

TEST_F(ConnectFaultTest, GoAheadDuringTheRetryPauseIsNotUndone) {
    std::promise<void> inPause;
    std::promise<void> goAheadHandled;
    std::shared_future<void> handled = goAheadHandled.get_future().share();
    std::atomic<bool> first{true};
    Connection->OnConnect = [&](const std::string&, std::uint16_t) {
        ++ConnectAttempts;
        return false;
    };
    Clock->OnSleep = [&](std::uint32_t) {
        if (!first.exchange(false)) return;
        inPause.set_value();
        handled.wait();
    };
    SetServerEntry(0, "One", "127.0.0.1", 55901);
    CUpdateDlg& dialog = Dialog();
    dialog.OnInitDialog();
    inPause.get_future().wait();
    Drain(Loop);
    // The go-ahead, over a connection that stood before this attempt failed.
    dialog.OnConnectReady();
    goAheadHandled.set_value();
    ASSERT_TRUE(PumpUntil([&] { return !dialog.ConnectThreadRunning(); }));
    Drain(Loop);

    EXPECT_EQ(dialog.Connected(), 1);
    EXPECT_EQ(dialog.ConnectRequest(), 0);
    EXPECT_EQ(Window.LastPaint.StatusText, "T126");
    EXPECT_EQ(ConnectAttempts.load(), 1);
    // The server view is up, and the game really starts from it.
    dialog.OnCommand(6501);  // the first server's button
    dialog.OnCommand(2001);  // start
    EXPECT_EQ(StartedArguments.size(), 1u);
}

TEST_F(ConnectFaultTest, StartAfterAFailedFtpLoginReallyConnectsAgain) {
    std::uint16_t port = 0;
    const int listener = Listen(&port);
    UseRealConnection(port);
    // The connect server named an FTP patch server whose login failed: the session ends
    // before it closes the connect-server connection.
    FakeSessions().OnRunFtp = [](PatchEngine&) { return false; };
    CUpdateDlg& dialog = Dialog();
    dialog.OnInitDialog();
    ASSERT_GE(Accept(listener), 0);
    ASSERT_TRUE(PumpUntil([&] { return !dialog.ConnectThreadRunning(); }));
    EXPECT_FALSE(dialog.RunFtpPatch(PatchServerInfo{}));

    dialog.ShowStartButton();  // what the failed session's caller does
    dialog.OnCommand(2001);
    // A real second connection reaches the server (not an attempt refused at once).
    ASSERT_GE(Accept(listener), 0);
    ASSERT_TRUE(PumpUntil([&] { return !dialog.ConnectThreadRunning(); }));
    EXPECT_EQ(dialog.ConnectRequest(), 0);
    Drain(Loop);
    EXPECT_EQ(Window.LastPaint.StatusText, "T102");
}

TEST_F(ConnectFaultTest, FtpPatchServerMessageDuringAnHttpSessionIsDropped) {
    std::uint16_t httpPort = 0;
    Listen(&httpPort);  // an HTTP patch server that accepts and never answers
    std::atomic<int> ftpSessions{0};
    // The real sessions, with an FTP session that only counts.
    class CountingFtp : public LauncherPatchSessions {
    public:
        CountingFtp(PatchEngine& engine, const DeploymentSettings& settings,
                    std::atomic<int>& sessions)
            : LauncherPatchSessions(engine, settings), sessions_(sessions) {}
        bool RunFtp(const PatchServerAddress&) override {
            ++sessions_;
            return true;
        }

    private:
        std::atomic<int>& sessions_;
    };
    MakePatchSessions = [&](PatchEngine& engine) {
        return std::make_shared<CountingFtp>(engine, Environment.Settings, ftpSessions);
    };
    CUpdateDlg& dialog = InitialisedDialog();
    // The connect server's messages as they come off the connection, in order.
    ConnectMessages messages(g_State, dialog);
    const auto receive = [&](const testsupport::PacketBytes& packet) {
        messages.HandlePacket(packet.data(), packet.size());
    };
    testsupport::PatchServerFields http;
    http.Host = "127.0.0.1:" + std::to_string(httpPort);
    receive(testsupport::PatchServerPacket(4, http));
    ASSERT_TRUE(dialog.PatchSessionActive());

    receive(testsupport::PatchServerPacket(5));
    receive(testsupport::PatchServerPacket(4));
    EXPECT_EQ(ftpSessions.load(), 0);
    EXPECT_TRUE(dialog.PatchSessionActive());
    EXPECT_EQ(dialog.Engine().ServerHost, http.Host);
    dialog.OnClose();  // stops the HTTP worker in its silent download
    EXPECT_FALSE(dialog.PatchSessionActive());
}

}  // namespace
