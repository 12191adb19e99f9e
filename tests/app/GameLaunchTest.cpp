// Scrambling, the Connection registry hand-off and the start button's path.

#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "app/GameLaunch.h"
#include "app/LauncherState.h"
#include "app/UpdateDlg.h"
#include "platform/FileRegistry.h"

namespace {

const ScrambleKey kKey{0x17, 0x2B, 0x3D, 0xF0};

TEST(ScrambleTextTest, AddsTheKeyByteOfEachPositionWrapping) {
    const std::string out = ScrambleText(std::string("\x01\x02\x03\x20\x05", 5), kKey);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(static_cast<std::uint8_t>(out[0]), 0x18);
    EXPECT_EQ(static_cast<std::uint8_t>(out[1]), 0x2D);
    EXPECT_EQ(static_cast<std::uint8_t>(out[2]), 0x40);
    EXPECT_EQ(static_cast<std::uint8_t>(out[3]), 0x10);  // 0x20 + 0xF0 wraps
    EXPECT_EQ(static_cast<std::uint8_t>(out[4]), 0x1C);  // position 4 uses key byte 0
}

TEST(ScrambleTextTest, GameArgumentsRestartTheKeyForThePort) {
    const ScrambleKey key{1, 2, 3, 4};
    // "1.2.3.4" scrambles to "2052407"; "55901" to "67<42" (key index back at 0).
    EXPECT_EQ(BuildGameArguments("1.2.3.4", "55901", key), "connect /y2052407 /z67<42 ");
}

TEST(ShellResultTest, MessagesForStartFailures) {
    EXPECT_EQ(ShellResultMessage(0), 131);
    EXPECT_EQ(ShellResultMessage(2), 133);
    EXPECT_EQ(ShellResultMessage(3), 133);
    EXPECT_EQ(ShellResultMessage(11), 132);
    EXPECT_EQ(ShellResultMessage(5), 0);
    EXPECT_EQ(ShellResultMessage(33), 0);
}

class ConnectionRegistryTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    FileRegistry registry{dir.Path()};
    std::uint32_t now = 50000;
    ConnectionRegistry connection{registry, kKey, [this] { return now; }};

    std::uint32_t Dword(const char* name) {
        std::uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(registry.QueryDword(RegistryRoot::LocalMachine, kConnectionKey, name, &value),
                  Registry::Status::Ok);
        return value;
    }
};

TEST_F(ConnectionRegistryTest, FreshStampWritesScrambledValues) {
    ASSERT_TRUE(connection.WriteLaunchStamp());
    now += 4999;
    ASSERT_TRUE(connection.WriteConnectionParameters("10.0.0.7", 55901));
    std::string a;
    ASSERT_EQ(registry.QueryString(RegistryRoot::LocalMachine, kConnectionKey, "ParameterA", &a),
              Registry::Status::Ok);
    EXPECT_EQ(a, ScrambleText("10.0.0.7", kKey));
    EXPECT_EQ(Dword("ParameterB"), static_cast<std::uint32_t>(kKey[8 % 4] ^ 55901));
    EXPECT_EQ(Dword("Key"), now);
    EXPECT_EQ(connection.ReadLaunchStamp(), now);
}

// Key bytes that turn '.' or a digit into CR or LF must still hand the address over.
TEST_F(ConnectionRegistryTest, ScrambledBytesThatMakeLineBreaksAreStoredByteForByte) {
    const ScrambleKey lineBreaking{0xDC, 0xDD, 0xDF, 0xD9};  // '.'+0xDC = LF, '0'+0xDD = CR
    ConnectionRegistry breaking{registry, lineBreaking, [this] { return now; }};
    ASSERT_TRUE(breaking.WriteLaunchStamp());
    const std::string scrambled = ScrambleText("10.0.0.7", lineBreaking);
    ASSERT_NE(scrambled.find_first_of("\r\n"), std::string::npos);
    ASSERT_TRUE(breaking.WriteConnectionParameters("10.0.0.7", 55901));
    std::string a;
    ASSERT_EQ(FileRegistry(dir.Path())
                  .QueryString(RegistryRoot::LocalMachine, kConnectionKey, "ParameterA", &a),
              Registry::Status::Ok);
    EXPECT_EQ(a, scrambled);
}

TEST_F(ConnectionRegistryTest, ParameterBDependsOnAddressLengthOnly) {
    connection.WriteLaunchStamp();
    connection.WriteConnectionParameters("10.0.0.7", 1234);
    const std::uint32_t first = Dword("ParameterB");
    connection.WriteConnectionParameters("99.9.9.9", 1234);
    EXPECT_EQ(Dword("ParameterB"), first);
    connection.WriteConnectionParameters("10.0.0.77", 1234);
    EXPECT_NE(Dword("ParameterB"), first);
}

TEST_F(ConnectionRegistryTest, StaleOrMissingStampDeletesTheKeyAndRefuses) {
    connection.WriteLaunchStamp();
    now += 5001;
    EXPECT_FALSE(connection.WriteConnectionParameters("10.0.0.7", 1));
    EXPECT_EQ(registry.OpenKey(RegistryRoot::LocalMachine, kConnectionKey),
              Registry::Status::NotFound);
    EXPECT_EQ(connection.ReadLaunchStamp(), 0xFFFFFFFFu);

    // No stamp at all, even right after the tick counter wrapped: refused as well.
    now = 3;
    EXPECT_FALSE(connection.WriteConnectionParameters("10.0.0.7", 1));
}

TEST_F(ConnectionRegistryTest, StampAgeWrapsWithTheTickCounter) {
    now = 0xFFFFF000u;
    connection.WriteLaunchStamp();
    now = 0x00000100u;  // 0x1100 ms later, across the wrap
    EXPECT_TRUE(connection.WriteConnectionParameters("10.0.0.7", 1));
}

TEST(TempDirectoryTest, CleanEmptiesAndRemovesTempButNotLinkTargets) {
    testsupport::TempDir dir;
    const auto temp = dir / "Temp";
    std::filesystem::create_directories(temp / "Data" / "Sub");
    testsupport::WriteFile(temp / "a.txt", "a");
    testsupport::WriteFile(temp / "Data" / "Sub" / "b.bmd", "b");
    testsupport::WriteFile(dir / "keep.txt", "keep");
    std::filesystem::create_directory_symlink(dir.Path(), temp / "link");
    CleanTempDirectory(dir.Path());
    EXPECT_FALSE(std::filesystem::exists(temp));
    EXPECT_EQ(testsupport::ReadFile(dir / "keep.txt"), "keep");
    CleanTempDirectory(dir.Path());  // nothing there: silent
}

TEST(TempDirectoryTest, ConfigFileExistsIgnoresLetterCase) {
    testsupport::TempDir dir;
    EXPECT_FALSE(ConfigFileExists(dir.Path()));
    testsupport::WriteFile(dir / "Config.INI", "[LOGIN]\n");
    EXPECT_TRUE(ConfigFileExists(dir.Path()));
}

class StartGameTest : public ::testing::Test, public ControllerFixture {
protected:
    StartGameTest() {
        // The connect thread stays in its greeting wait until the window closes: a start
        // before the go-ahead then finds it still trying, and no new thread takes the
        // request it sets while the test looks at it.
        Environment.GreetingTimeoutMs = 3600 * 1000;
        Environment.Settings.ScrambleKey = kKey;
        Environment.Settings.GameClient = "game.exe";
        SetServerEntry(0, "One", "10.0.0.1", 1000);
        SetServerEntry(2, "Three", "192.168.10.30", 55903);
        testsupport::WriteFile(Environment.GameDirectory / "config.ini", "[LOGIN]\n");
    }
    CUpdateDlg& ReadyAndChosen(int index) {
        CUpdateDlg& dialog = InitialisedDialog();
        dialog.OnConnectReady();
        dialog.OnCommand(6501 + index);
        return dialog;
    }
    FileRegistry registry{Environment.Settings.RegistryDirectory};
};

TEST_F(StartGameTest, StartBeforeTheGoAheadNeverStartsTheGame) {
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.ShowStartButton();
    dialog.OnCommand(2001);
    EXPECT_TRUE(StartedArguments.empty());
    EXPECT_TRUE(EndedWith.empty());
    EXPECT_FALSE(Window.IsVisible(2001));
    EXPECT_FALSE(Window.IsEnabled(2001));
    EXPECT_EQ(dialog.ConnectRequest(), 1);
    EXPECT_EQ(registry.OpenKey(RegistryRoot::LocalMachine, kConnectionKey),
              Registry::Status::NotFound);
}

TEST_F(StartGameTest, StartHandsTheServerToTheGameAndEnds) {
    std::filesystem::create_directories(Environment.GameDirectory / "Temp" / "x");
    CUpdateDlg& dialog = ReadyAndChosen(2);
    dialog.OnCommand(2001);

    ASSERT_EQ(StartedArguments.size(), 1u);
    EXPECT_EQ(StartedArguments[0],
              "game.exe|" + BuildGameArguments("192.168.10.30", "55903", kKey));
    EXPECT_EQ(EndedWith, std::vector<int>{42});
    EXPECT_EQ(std::string(g_State.LaunchAddress), "192.168.10.30");
    EXPECT_EQ(std::string(g_State.LaunchPort), "55903");
    EXPECT_EQ(g_State.ServerListReceived.load(), 1);
    EXPECT_FALSE(std::filesystem::exists(Environment.GameDirectory / "Temp"));
    EXPECT_TRUE(Window.Boxes.empty());
    EXPECT_EQ(Window.OptionsRuns, 0);

    std::string a;
    ASSERT_EQ(registry.QueryString(RegistryRoot::LocalMachine, kConnectionKey, "ParameterA", &a),
              Registry::Status::Ok);
    EXPECT_EQ(a, ScrambleText("192.168.10.30", kKey));
}

TEST_F(StartGameTest, MissingConfigRunsOptionsFirst) {
    std::filesystem::remove(Environment.GameDirectory / "config.ini");
    CUpdateDlg& dialog = ReadyAndChosen(0);
    dialog.OnCommand(2001);
    EXPECT_EQ(Window.OptionsRuns, 1);
    EXPECT_EQ(StartedArguments.size(), 1u);
}

TEST_F(StartGameTest, ShellFailuresShowTheirMessage) {
    StartResult = 2;
    CUpdateDlg& dialog = ReadyAndChosen(0);
    dialog.OnCommand(2001);
    ASSERT_EQ(Window.Boxes.size(), 1u);
    EXPECT_EQ(Window.Boxes[0].Text, "T133");
    EXPECT_EQ(Window.Boxes[0].Icon, MessageBoxIcon::Stop);
    EXPECT_EQ(EndedWith, std::vector<int>{2});
}

TEST_F(StartGameTest, RegistryFailureShows151AndClosesWithoutStarting) {
    // The registry root cannot be written: its directory is a file.
    std::filesystem::remove_all(Environment.Settings.RegistryDirectory);
    testsupport::WriteFile(Environment.Settings.RegistryDirectory, "not a directory");
    CUpdateDlg& dialog = ReadyAndChosen(0);
    dialog.OnCommand(2001);
    EXPECT_TRUE(StartedArguments.empty());
    EXPECT_TRUE(EndedWith.empty());
    ASSERT_FALSE(Window.Boxes.empty());
    EXPECT_EQ(Window.Boxes.back().Text, "T151");
    EXPECT_EQ(Window.Closes, 1);
}

TEST_F(StartGameTest, StartDuringATransferStopsIt) {
    CUpdateDlg& dialog = ReadyAndChosen(0);
    dialog.StopTransfer() = 0;
    dialog.OnCommand(2001);
    EXPECT_EQ(dialog.StopTransfer().load(), 1);
    EXPECT_EQ(StartedArguments.size(), 1u);
}

TEST_F(StartGameTest, StartAfterPatchLeavesTheRegistryAlone) {
    std::vector<int> started;
    ControllerObserver observer;
    observer.GameStarted = [&](int result) { started.push_back(result); };
    CUpdateDlg& dialog = InitialisedDialog();
    dialog.SetObserver(observer);
    g_State.SelectedServer = 2;
    std::filesystem::create_directories(Environment.GameDirectory / "Temp");
    dialog.StartGameAfterPatch();
    ASSERT_EQ(StartedArguments.size(), 1u);
    EXPECT_EQ(started, std::vector<int>{42});
    EXPECT_EQ(Window.Closes, 1);
    EXPECT_TRUE(EndedWith.empty());
    EXPECT_TRUE(std::filesystem::exists(Environment.GameDirectory / "Temp"));
    EXPECT_EQ(registry.OpenKey(RegistryRoot::LocalMachine, kConnectionKey),
              Registry::Status::NotFound);
}

}  // namespace
