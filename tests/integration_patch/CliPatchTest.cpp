#include <gtest/gtest.h>
#include <unistd.h>

#include "integration_patch/CliRun.h"
#include "integration_patch/PatchRepo.h"
#include "platform/ProfileFile.h"
#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace patchtest;
using testsupport::ChildProcess;
using testsupport::ProgramPath;
using testsupport::WriteFile;

namespace {

// The whole launcher in a terminal, told by the development connect server where the
// patches lie, patching a fresh game directory from real patch servers.
class CliPatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"torvane-cli", "torvane-connectd"}) {
            if (!fs::exists(ProgramPath(program))) GTEST_SKIP() << program << " is not built";
        }
        fs::create_directories(Game());
        fs::create_directories(Server());
    }
    fs::path Game() const { return top_ / "game"; }
    fs::path Server() const { return top_ / "server"; }

    // Runs torvane-cli for Game(), or, with `arguments` given, as a player would start it:
    // `arguments` instead of --game-dir, in the options' folder and environment.
    testsupport::RunResult RunLauncher(const std::string& patchSettings,
                                       const std::vector<std::string>* arguments = nullptr,
                                       const ChildProcess::Options& launcherOptions = {}) {
        if (!arguments) return RunCliLauncher(top_.Path(), Game(), patchSettings);
        return RunCliLauncher(top_.Path(), fs::path(), patchSettings, "", *arguments,
                              launcherOptions);
    }
    std::string ConfigVersion() const {
        char buffer[32] = {};
        GetPrivateProfileStringA("LOGIN", "Version", "none", buffer, sizeof buffer,
                                 Game() / "config.ini");
        return buffer;
    }
    // The installed tree: Temp and the launcher's own work files left out.
    Tree Installed() const {
        Tree tree = ReadTree(Game(), "Temp");
        tree.erase("message.wtf");
        tree.erase(".torvane.lock");
        return tree;
    }

    testsupport::TempDir top_;
};

TEST_F(CliPatchTest, FtpFromFreshDirectoryToNewestVersion) {
    Tree expected = BuildStandardRepo(Server());
    testsupport::PyFtpServer ftp(Server());
    ASSERT_TRUE(ftp.Ready());
    const auto result = RunLauncher(ftp.ConnectdPatchLines());
    ASSERT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    Tree installed = Installed();
    ASSERT_EQ(installed.count("config.ini"), 1u);
    installed["config.ini"] = "";
    EXPECT_TRUE(installed == expected) << testing::PrintToString(testsupport::ListTree(Game()));
    EXPECT_EQ(ConfigVersion(), "1.00.04");
    EXPECT_FALSE(fs::exists(Game() / "patch.log"));
    EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
    EXPECT_TRUE(testsupport::ListTree(Game() / "Temp").empty());
}

// Installed from the package, with no game beside it and none given: the game goes into the
// player's own folder, from the repository's first version on; the desktop entry is written
// only when asked for, and then starts the launcher in that folder.
TEST_F(CliPatchTest, FirstStartWithoutAGameFolderInstallsIntoThePlayersFolder) {
    Tree expected = BuildStandardRepo(Server());
    testsupport::PyFtpServer ftp(Server());
    ASSERT_TRUE(ftp.Ready());
    fs::create_directories(top_ / "home");
    fs::create_directories(top_ / "desktop");
    ChildProcess::Options player;
    player.WorkingDirectory = top_ / "home";  // not a game folder
    player.ExtraEnvironment = {{"HOME", (top_ / "home").string()},
                               {"XDG_DATA_HOME", (top_ / "data").string()},
                               {"XDG_STATE_HOME", (top_ / "state").string()}};
    const std::vector<std::string> none;
    auto result = RunLauncher(ftp.ConnectdPatchLines(), &none, player);
    ASSERT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    const fs::path folder = top_ / "data" / ("torvanepatche2e" + std::to_string(getpid())) / "game";
    Tree installed = ReadTree(folder, "Temp");
    installed.erase(".torvane.lock");
    ASSERT_EQ(installed.count("config.ini"), 1u) << testing::PrintToString(installed);
    installed["config.ini"] = "";
    EXPECT_TRUE(installed == expected) << testing::PrintToString(testsupport::ListTree(folder));
    EXPECT_TRUE(testsupport::ListTree(top_ / "home").empty());
    EXPECT_TRUE(testsupport::ListTree(top_ / "desktop").empty());  // nobody asked for one

    // Started again from anywhere with --create-shortcut: the same folder, now current, and
    // an entry whose working folder is the game folder (not the program's folder).
    const std::vector<std::string> shortcut{"--create-shortcut"};
    result = RunLauncher(ftp.ConnectdPatchLines(), &shortcut, player);
    ASSERT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    const auto entries = testsupport::ListTree(top_ / "desktop");
    ASSERT_EQ(entries.size(), 1u);
    const std::string entry = testsupport::ReadFile(top_ / "desktop" / entries[0]);
    EXPECT_NE(entry.find("\nPath=" + folder.string() + "\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("--game-dir \"" + folder.string() + "\""), std::string::npos) << entry;
}

TEST_F(CliPatchTest, HttpFromFreshDirectoryToNewestVersion) {
    const std::string skip = testsupport::NginxServer::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01", "1.00.02"}));
    WriteFile(Server() / "1.00.01" / "list.inf", "#PACKINGVERSION#\n");
    Zip({{"config.ini", "[LOGIN]\r\nVersion=1.00.01\r\n"},
         {"Data/a.bmd", Content("a")},
         {"old.txt", "old"}},
        Server() / "1.00.01" / "up_list.zip");
    WriteFile(Server() / "1.00.02" / "list.inf", "#PACKINGVERSION#\n@ \"old.txt\"\n");
    Zip({{"config.ini", "[LOGIN]\r\nVersion=1.00.02\r\n"}, {"Data/b.bmd", Content("b")}},
        Server() / "1.00.02" / "up_list.zip");
    testsupport::MakeWorldReadable(Server());
    testsupport::NginxServer nginx(Server());
    ASSERT_TRUE(nginx.Ready());
    const auto result = RunLauncher("patch = http\npatch_host = " + nginx.Host() +
                                    "\npatch_version_file = version.wvd\n");
    ASSERT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    const Tree expected = {{"config.ini", "[LOGIN]\r\nVersion=1.00.02\r\n"},
                           {"Data/a.bmd", Content("a")},
                           {"Data/b.bmd", Content("b")}};
    EXPECT_TRUE(Installed() == expected) << testing::PrintToString(testsupport::ListTree(Game()));
    EXPECT_FALSE(fs::exists(Game() / "version.wvd"));
}

TEST_F(CliPatchTest, NewLauncherFileStartsTheGameAtOnce) {
    WriteFile(Server() / "version.wvd", VersionList({"1.00.01", "1.00.02"}));
    WriteTree(Server(), {{"1.00.01/list.inf", "\"Torvane.exe\"\n"},
                         {"1.00.01/Torvane.exe", Content("new launcher")},
                         {"1.00.02/list.inf", "\"later.bmd\"\n"},
                         {"1.00.02/later.bmd", Content("later")}});
    const fs::path started = top_ / "game-started";
    WriteFile(Game() / "game.sh", "#!/bin/sh\necho \"$1\" > '" + started.string() + "'\n");
    fs::permissions(Game() / "game.sh", fs::perms::owner_all);
    testsupport::PyFtpServer ftp(Server());
    ASSERT_TRUE(ftp.Ready());
    const auto result = RunLauncher(ftp.ConnectdPatchLines());
    EXPECT_EQ(result.ExitCode, 0) << result.Stdout << result.Stderr;
    EXPECT_EQ(testsupport::ReadFile(Game() / "Torvane._xe"), Content("new launcher"));
    EXPECT_FALSE(fs::exists(Game() / "later.bmd"));
    EXPECT_EQ(ConfigVersion(), "1.00.01");
    // The game is started detached; it may still be on its way when the launcher has ended.
    for (int i = 0; i < 1000 && testsupport::ReadFile(started).empty(); ++i) usleep(10000);
    EXPECT_EQ(testsupport::ReadFile(started), "connect\n") << result.Stdout << result.Stderr;
}

}  // namespace
