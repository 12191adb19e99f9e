// Start-up: the command-line switches, the connect defaults, and the single instance.

#include <gtest/gtest.h>

#include <unistd.h>

#include "app/AppTestSupport.h"
#include "app/CommandLine.h"
#include "app/LauncherState.h"
#include "app/UpdateApp.h"
#include "platform/InstanceLock.h"
#include "text/MessageTableWriter.h"

namespace {

struct SwitchCase {
    const char* Line;
    int Mode;
    int Test;
    std::array<int, 3> Version;
};

TEST(CommandLineTest, SwitchTable) {
    const SwitchCase cases[] = {
        {"", 0, 0, {0, 0, 0}},
        {"   ", 0, 0, {0, 0, 0}},
        {"/t", 1, 1, {0, 0, 0}},
        {"  /t  /l 1.2.3", 1, 1, {0, 0, 0}},  // only the first token counts
        {"/r", 0, 0, {0, 0, 0}},
        {"/l 2.5.7", 2, 0, {2, 5, 7}},
        {"/l", 2, 0, {0, 0, 0}},
        {"/l 1.2", 2, 0, {1, 2, 0}},
        {"/l 300.2.3", 2, 0, {44, 2, 3}},
        {"/l ..4...5.6.9", 2, 0, {4, 5, 6}},  // separators run together
        {"/l 7a.8x.9", 2, 0, {7, 8, 9}},      // leading digits only
        {"/l a.b.c", 2, 0, {0, 0, 0}},
        {"/T", 0, 0, {0, 0, 0}},
        {"/tt", 0, 0, {0, 0, 0}},
        {"/test", 0, 0, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        ResetLauncherState();
        ApplyCommandLineSwitches(c.Line, g_State);
        EXPECT_EQ(g_State.LaunchMode, c.Mode) << c.Line;
        EXPECT_EQ(g_State.TestServer, c.Test) << c.Line;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(g_State.CommandLineVersion[i], c.Version[i]) << c.Line;
    }
}

TEST(CommandLineTest, RemovingTheTestFlagAndLeavingIt) {
    ResetLauncherState();
    g_State.TestServer = 1;
    g_State.LaunchMode = 1;
    ApplyCommandLineSwitches("/l 1.1.1", g_State);
    EXPECT_EQ(g_State.TestServer, 1);  // "/l" does not touch the test flag
    ApplyCommandLineSwitches("/r", g_State);
    EXPECT_EQ(g_State.TestServer, 0);
    EXPECT_EQ(g_State.LaunchMode, 0);
}

TEST(CommandLineTest, ConnectDefaultsAreBoundedAndFollowTheDeployment) {
    ResetLauncherState();
    DeploymentSettings settings;
    settings.ConnectAddress = std::string(60, 'h');
    ApplyConnectDefaults(settings);
    EXPECT_EQ(std::string(g_State.ServerAddress), std::string(49, 'h'));
    EXPECT_EQ(g_State.ServerPort, 44405);
}

TEST(StartupTest, SecondInstanceIsRefusedWithMessage127) {
    testsupport::TempDir dir;
    ResetLauncherState();
    const std::string product = "TorvaneTest" + std::to_string(getpid());
    InstanceLock first(dir.Path());
    ASSERT_FALSE(first.AlreadyExists());

    std::vector<RecordedBox> boxes;
    bool windowCreated = false;
    PollEventLoop loop;
    LauncherFrontEnd frontEnd;
    frontEnd.Loop = &loop;
    frontEnd.ShowMessageBox = [&](const std::string& text, const std::string& caption,
                                  MessageBoxIcon icon) {
        boxes.push_back({text, caption, icon});
    };
    frontEnd.CreateMainWindow = [&](CUpdateDlg&) {
        windowCreated = true;
        return std::unique_ptr<WindowAdapter>();
    };
    LauncherOptions options;
    options.Settings = DefaultDeploymentSettings(dir.Path());
    options.Settings.ProductName = product;
    options.GameDirectory = dir.Path();
    options.CommandLine = "/t";
    // A table with the refusal text.
    CMessageTableWriter writer;
    writer.Add(127, "already running");
    testsupport::WriteFile(dir / "message.wtf", writer.Serialize());
    CUpdateApp app(frontEnd, options);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.Result(), StartupResult::Refused);
    EXPECT_FALSE(windowCreated);
    ASSERT_EQ(boxes.size(), 1u);
    // The design's text, then the folder and the process that holds it.
    EXPECT_EQ(boxes[0].Text, "already running\n\nanother launcher (process " +
                                 std::to_string(getpid()) + ") is using the game folder " +
                                 dir.Path().string());
    EXPECT_EQ(boxes[0].Icon, MessageBoxIcon::Stop);
    EXPECT_EQ(g_State.LaunchMode, 0);  // nothing else ran
}

}  // namespace

namespace {

TEST(StartupTest, RunsTheMainWindowWithSwitchesAndDefaults) {
    testsupport::TempDir dir;
    ResetLauncherState();
    CMessageTableWriter writer;
    writer.Add(102, "connecting");
    testsupport::WriteFile(dir / "message.wtf", writer.Serialize());

    PollEventLoop loop;
    int closes = 0;
    bool created = false;
    std::vector<std::string> connectedTo;
    LauncherFrontEnd frontEnd;
    frontEnd.Loop = &loop;
    frontEnd.CreateMainWindow = [&](CUpdateDlg&) {
        auto window = std::make_unique<RecordingWindow>(&loop);
        window->ClosesOutside = &closes;
        created = true;
        return std::unique_ptr<WindowAdapter>(std::move(window));
    };
    frontEnd.BeforeRun = [&](CUpdateDlg& dialog) {
        loop.Post([&dialog] { dialog.OnCommand(2004); });  // quit at once
    };
    LauncherOptions options;
    options.Settings = DefaultDeploymentSettings(dir.Path());
    options.Settings.ProductName = "TorvaneRun" + std::to_string(getpid());
    options.Settings.ConnectAddress = "connect.example";
    options.Settings.RegistryDirectory = dir / "registry";
    options.Settings.DesktopDirectory = dir / "desktop";
    options.GameDirectory = dir.Path();
    options.CommandLine = "/l 2.5.7";
    auto connection = std::make_shared<FakeConnection>();
    connection->OnConnect = [&](const std::string& address, std::uint16_t port) {
        connectedTo.push_back(address + ":" + std::to_string(port));
        return true;
    };
    options.Services.Connection = connection;
    options.Services.GameStart = std::make_shared<FakeGameStart>();

    CUpdateApp app(frontEnd, options);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.Result(), StartupResult::WindowEnded);
    EXPECT_EQ(g_State.LaunchMode, 2);
    EXPECT_EQ(g_State.TestServer, 0);
    EXPECT_EQ(std::string(g_State.ServerAddress), "connect.example");
    EXPECT_EQ(g_State.ServerPort, 44405);
    EXPECT_TRUE(created);
    EXPECT_EQ(closes, 1);
    // The connect thread may or may not have tried before the quit; if it did, it used the
    // defaults.
    for (const auto& target : connectedTo) EXPECT_EQ(target, "connect.example:44405");
}

TEST(StartupTest, TextTableFromTheGameElseTheDeploymentDefault) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir / "game");
    std::filesystem::create_directories(dir / "data");
    DeploymentSettings settings;
    settings.DataDirectory = dir / "data";
    EXPECT_EQ(MessageTablePath(dir / "game", settings), dir / "game" / "message.wtf");
    testsupport::WriteFile(dir / "data" / "message.wtf", "x");
    EXPECT_EQ(MessageTablePath(dir / "game", settings), dir / "data" / "message.wtf");
    testsupport::WriteFile(dir / "game" / "MESSAGE.WTF", "x");
    EXPECT_EQ(MessageTablePath(dir / "game", settings), dir / "game" / "MESSAGE.WTF");
}

}  // namespace
