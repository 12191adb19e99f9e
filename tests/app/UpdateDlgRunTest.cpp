// The controller's run: the connect thread's retries, quitting, and exit during a transfer.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "app/AppTestSupport.h"
#include "app/DefaultServices.h"
#include "app/LauncherState.h"
#include "app/UpdateDlg.h"

namespace {

class UpdateDlgRunTest : public ::testing::Test, public ControllerFixture {};

std::vector<std::string> NonEmpty(const std::vector<std::string>& texts) {
    std::vector<std::string> out;
    for (const auto& text : texts)
        if (!text.empty()) out.push_back(text);
    return out;
}

TEST_F(UpdateDlgRunTest, FailedConnectsRetryWithAlternatingStatus) {
    std::vector<std::uint32_t> sleeps;
    std::mutex sleepsMutex;
    std::promise<void> connected;
    Clock->OnSleep = [&](std::uint32_t ms) {
        std::lock_guard<std::mutex> lock(sleepsMutex);
        sleeps.push_back(ms);
    };
    Connection->OnConnect = [&](const std::string& address, std::uint16_t port) {
        EXPECT_EQ(address, "203.0.113.9");
        EXPECT_EQ(port, 44405);
        if (++ConnectAttempts < 4) return false;
        connected.set_value();
        return true;
    };
    std::strcpy(g_State.ServerAddress, "203.0.113.9");
    g_State.ServerPort = 44405;

    CUpdateDlg& dialog = Dialog();
    dialog.OnInitDialog();
    connected.get_future().wait();
    Drain(Loop);
    EXPECT_EQ(Window.Closes, 0);
    dialog.OnClose();  // joins the connect thread

    EXPECT_EQ(ConnectAttempts.load(), 4);
    // Every failure: 107, then back to 102 before the next attempt, about a second apart.
    std::vector<std::string> expected{"T102", "T107", "T102", "T107", "T102", "T107", "T102"};
    EXPECT_EQ(NonEmpty(Window.DistinctStatusTexts()), expected);
    std::lock_guard<std::mutex> lock(sleepsMutex);
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>(6, 500)));
    EXPECT_EQ(dialog.ConnectRequest(), 0);
    EXPECT_EQ(Window.Boxes.size(), 0u);
}

TEST_F(UpdateDlgRunTest, NoConnectAttemptAfterTheGoAhead) {
    g_State.ServerListReceived = 1;
    CUpdateDlg& dialog = Dialog();
    dialog.OnInitDialog();
    dialog.OnClose();  // joins the thread
    EXPECT_EQ(ConnectAttempts.load(), 0);
    EXPECT_EQ(Window.Closes, 1);
}

TEST_F(UpdateDlgRunTest, ClosingAbandonsABlockedConnectAtOnce) {
    std::mutex mutex;
    std::condition_variable wake;
    bool abandoned = false;
    std::promise<void> entered;
    Connection->OnConnect = [&](const std::string&, std::uint16_t) {
        ++ConnectAttempts;
        entered.set_value();
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return abandoned; });
        return false;
    };
    Connection->OnAbandon = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        abandoned = true;
        wake.notify_all();
    };
    CUpdateDlg& dialog = Dialog();
    dialog.OnInitDialog();
    entered.get_future().wait();
    Drain(Loop);
    EXPECT_EQ(NonEmpty(Window.DistinctStatusTexts()), (std::vector<std::string>{"T102"}));

    dialog.OnCommand(2004);  // small close, no transfer running: quit
    EXPECT_EQ(Window.Closes, 1);
    EXPECT_FALSE(dialog.ConnectThreadRunning());
    EXPECT_EQ(ConnectAttempts.load(), 1);
}

TEST_F(UpdateDlgRunTest, ExitDuringATransferStopsItThenASecondExitQuits) {
    const std::atomic<int>& connectionCloses = Connection->Closes;
    const int& ftpCloses = FakeSessions().FtpCloses;
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.ShowStartButton();
    dialog.EnableStartButton();

    dialog.StopTransfer() = 0;  // a transfer runs
    dialog.OnCommand(2028);
    EXPECT_EQ(dialog.StopTransfer().load(), 1);
    EXPECT_EQ(Window.Closes, 0);
    EXPECT_EQ(connectionCloses.load(), 1);
    EXPECT_EQ(ftpCloses, 1);
    EXPECT_EQ(dialog.Connected(), 0);
    EXPECT_EQ(dialog.ConnectRequest(), 1);
    EXPECT_EQ(Window.LastPaint.StatusText, "T102");
    EXPECT_FALSE(Window.IsVisible(2001));
    EXPECT_FALSE(Window.IsEnabled(2001));

    dialog.OnCommand(2028);
    EXPECT_EQ(Window.Closes, 1);
    EXPECT_EQ(connectionCloses.load(), 2);
}

// The connect thread ends with its first connection; a patch session stopped by the exit
// button leaves the start button, and pressing it must really connect again (not while the
// session is still unwinding), so that the patch can resume.
TEST_F(UpdateDlgRunTest, StartAfterAStoppedPatchSessionConnectsAgain) {
    CUpdateDlg* running = nullptr;
    int attemptsSeenInside = -1;
    FakeSessions().OnRunFtp = [&](PatchEngine&) {
        running->StopTransfer() = 0;  // a transfer runs
        running->OnCommand(2001);     // start, inside the session: nothing may connect yet
        running->OnCommand(2028);     // exit: stop the transfer, back to connecting
        attemptsSeenInside = ConnectAttempts.load();
        return false;
    };
    CUpdateDlg& dialog = InitialisedDialog();
    running = &dialog;
    EXPECT_EQ(ConnectAttempts.load(), 1);

    EXPECT_FALSE(dialog.RunFtpPatch(PatchServerInfo{}));
    EXPECT_EQ(attemptsSeenInside, 1);
    EXPECT_EQ(dialog.ConnectRequest(), 1);
    EXPECT_EQ(dialog.StopTransfer().load(), 1);

    dialog.ShowStartButton();  // what the failed session's caller does
    dialog.OnCommand(2001);
    EXPECT_FALSE(Window.IsVisible(2001));
    // A generous bound only turns a hang into a failure.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((ConnectAttempts.load() < 2 || dialog.ConnectRequest() != 0) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(ConnectAttempts.load(), 2);
    EXPECT_EQ(dialog.ConnectRequest(), 0);
    Drain(Loop);
    EXPECT_EQ(Window.LastPaint.StatusText, "T102");
    EXPECT_EQ(Window.Closes, 0);
}

TEST_F(UpdateDlgRunTest, CloseStopsThePatchSessions) {
    const int& ftpCloses = FakeSessions().FtpCloses;
    const int& httpStops = FakeSessions().HttpStops;
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.OnClose();
    dialog.OnClose();  // a second close request changes nothing
    EXPECT_EQ(ftpCloses, 1);
    EXPECT_EQ(httpStops, 1);
    EXPECT_EQ(Window.Closes, 1);
}

TEST_F(UpdateDlgRunTest, DesktopEntryWrittenAtEveryStart) {
    const std::vector<std::filesystem::path>& entries = GameStart->DesktopEntries;
    InitialisedDialog();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], Environment.ProgramPath);
}

// The entry itself is written only when the deployment asks for it (desktop_entry = yes, which
// --create-shortcut also sets), and starts the launcher in the game folder it patched.
TEST_F(UpdateDlgRunTest, DesktopEntryOnlyWhenAskedForAndInTheGameFolder) {
    testsupport::TempDir desktop;
    DeploymentSettings settings = Environment.Settings;
    settings.DesktopDirectory = desktop.Path();
    settings.ProductName = "EntryTest";
    const std::filesystem::path entry = desktop / "EntryTest.desktop";
    SystemGameStart(settings, Environment.GameDirectory).CreateDesktopEntry("/usr/bin/torvane");
    EXPECT_FALSE(std::filesystem::exists(entry));
    settings.DesktopEntry = true;
    SystemGameStart(settings, Environment.GameDirectory).CreateDesktopEntry("/usr/bin/torvane");
    EXPECT_NE(
        testsupport::ReadFile(entry).find("\nPath=" + Environment.GameDirectory.string() + "\n"),
        std::string::npos);
}

}  // namespace

namespace {

// The engine keeps the launch settings it was started with; the connect server's reply to a
// given-version run (normal from then on) must still reach it before the FTP session.
TEST_F(UpdateDlgRunTest, EngineSeesTheLaunchModeTheConnectServerLeft) {
    ResetLauncherState();
    g_State.LaunchMode = kLaunchGivenVersion;
    g_State.CommandLineVersion[0] = 4;
    LaunchModeValue modeInSession = kLaunchGivenVersion;
    FakeSessions().OnRunFtp = [&](PatchEngine& engine) {
        modeInSession = engine.Launch.Mode;
        return true;
    };
    CUpdateDlg& dialog = Dialog();
    EXPECT_EQ(dialog.Engine().CurrentVersion, (VersionNumber{4, 0, 0}));
    g_State.LaunchMode = kLaunchNormal;  // what the FTP patch-server reply does
    EXPECT_TRUE(dialog.RunFtpPatch(PatchServerInfo{}));
    EXPECT_EQ(modeInSession, kLaunchNormal);
}

// A peer that accepts but never greets is no connect server: after the greeting timeout the
// connection is dropped and the window tries again, for as long as it lives; a greeting ends
// the retries.
TEST_F(UpdateDlgRunTest, ASilentPeerIsDroppedAfterTheGreetingTimeoutAndTriedAgain) {
    Environment.GreetingTimeoutMs = 20;
    const std::atomic<int>& closes = Connection->Closes;
    std::promise<void> thirdAttempt;
    Connection->OnConnect = [&](const std::string&, std::uint16_t) {
        if (++ConnectAttempts == 3) thirdAttempt.set_value();
        return ConnectAttempts <= 3;
    };
    CUpdateDlg& dialog = Dialog();
    dialog.OnInitDialog();
    thirdAttempt.get_future().wait();
    Drain(Loop);
    dialog.OnClose();
    EXPECT_GE(ConnectAttempts.load(), 3);
    EXPECT_GE(closes.load(), 2);  // the silent connections, dropped before the next attempt
    EXPECT_FALSE(dialog.Greeted());
    const auto statuses = NonEmpty(Window.DistinctStatusTexts());
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses[1], "T107");
    EXPECT_EQ(Window.Boxes.size(), 0u);
}

TEST_F(UpdateDlgRunTest, AGreetingEndsTheConnectThread) {
    Environment.GreetingTimeoutMs = 60000;
    std::promise<void> connected;
    Connection->OnConnect = [&](const std::string&, std::uint16_t) {
        ++ConnectAttempts;
        connected.set_value();
        return true;
    };
    CUpdateDlg& dialog = Dialog();
    dialog.OnInitDialog();
    connected.get_future().wait();
    dialog.OnGreeting();
    for (int i = 0; i < 2000 && dialog.ConnectThreadRunning() && !dialog.Greeted(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(dialog.Greeted());
    dialog.OnClose();
    EXPECT_EQ(ConnectAttempts.load(), 1);
    EXPECT_EQ(dialog.ConnectRequest(), 0);
}

}  // namespace

namespace {

// The HTTP session's end reaches the front end through the GUI thread's loop: a session that
// ended without the go-ahead is a failed patch, one after the go-ahead is not, and one stopped
// by closing the window says nothing.
TEST_F(UpdateDlgRunTest, TheEndOfAnHttpSessionIsPostedToTheGuiThread) {
    FakePatchSessions& sessions = FakeSessions();
    int failures = 0;
    CUpdateDlg& dialog = InitialisedDialog();
    ControllerObserver observer;
    observer.PatchFailed = [&] { ++failures; };
    dialog.SetObserver(observer);

    ASSERT_TRUE(dialog.StartHttpPatch());
    ASSERT_TRUE(sessions.HttpEnded);
    std::thread(sessions.HttpEnded).join();  // the worker's end, on a thread of its own
    EXPECT_EQ(failures, 0);                  // nothing runs before the loop does
    Drain(Loop);
    EXPECT_EQ(failures, 1);

    ASSERT_TRUE(dialog.StartHttpPatch());
    dialog.OnConnectReady();
    Drain(Loop);
    std::thread(sessions.HttpEnded).join();
    Drain(Loop);
    EXPECT_EQ(failures, 1);

    dialog.OnClose();
    std::thread(sessions.HttpEnded).join();
    Drain(Loop);
    EXPECT_EQ(failures, 1);
}

// A pause of the connect thread ends when the window closes, however long it was meant to be,
// also when the close came first.
TEST(SystemClockTest, WakeEndsPausesNowAndLater) {
    SystemClock clock;
    std::thread sleeper([&] { clock.Sleep(3600 * 1000); });
    clock.Wake();
    sleeper.join();
    clock.Sleep(3600 * 1000);  // returns at once: a hang here fails the test by its timeout
    SUCCEED();
}

}  // namespace
