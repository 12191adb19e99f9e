// The instance lock, code page conversion, deployment settings and the desktop entry.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/DeploymentSettings.h"
#include "platform/DesktopEntry.h"
#include "platform/InstanceLock.h"
#include "support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(InstanceLockTest, OneHolderPerGameFolderWhateverTheSession) {
    TempDir dir;
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    {
        // A launcher of another session has other runtime directories: the lock ignores them.
        ScopedEnv runtime("XDG_RUNTIME_DIR", (dir / "run1").string());
        InstanceLock first(dir / "a");
        EXPECT_FALSE(first.AlreadyExists());
        ScopedEnv otherRuntime("XDG_RUNTIME_DIR", (dir / "run2").string());
        InstanceLock second(dir / "a");
        EXPECT_TRUE(second.AlreadyExists());
        EXPECT_EQ(second.HolderPid(), static_cast<long>(::getpid()));
        EXPECT_NE(second.Describe().find((dir / "a").string()), std::string::npos);
        EXPECT_NE(second.Describe().find(std::to_string(::getpid())), std::string::npos);
        InstanceLock otherGame(dir / "b");  // a second game, a second launcher
        EXPECT_FALSE(otherGame.AlreadyExists());
    }
    InstanceLock again(dir / "a");
    EXPECT_FALSE(again.AlreadyExists());
    // A folder with no room for the lock file is not locked (and nothing is thrown).
    InstanceLock missing(dir / "absent");
    EXPECT_FALSE(missing.AlreadyExists());
}

TEST(CodePageTest, ConvertsBothWaysAndNeverFails) {
    EXPECT_EQ(DecodeToUtf8("\xB0\xA1 ok", "CP949"), "\xEA\xB0\x80 ok");  // U+AC00
    EXPECT_EQ(EncodeFromUtf8("\xEA\xB0\x80 ok", "CP949"), "\xB0\xA1 ok");
    EXPECT_EQ(DecodeToUtf8("\xD6\xD0", "GBK"), "\xE4\xB8\xAD");  // U+4E2D
    EXPECT_EQ(EncodeFromUtf8("\xE4\xB8\xAD", "GBK"), "\xD6\xD0");

    // A lead byte with a bad trail, and one cut off at the end.
    EXPECT_EQ(DecodeToUtf8("a\xFF"
                           "b\xB0",
                           "CP949"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    // A character the target lacks becomes one '?', whatever its UTF-8 length; so does
    // broken UTF-8.
    EXPECT_EQ(EncodeFromUtf8("x\xF0\x9F\x98\x80y", "CP949"), "x?y");
    EXPECT_EQ(EncodeFromUtf8("x\xC3y", "CP949"), "x?y");
    EXPECT_EQ(DecodeToUtf8("plain", "UTF-8"), "plain");
    EXPECT_EQ(DecodeToUtf8("", "CP949"), "");
    // An unknown code page still gives readable ASCII.
    EXPECT_EQ(DecodeToUtf8("ab\xB0\xA1", "NO-SUCH-CODE-PAGE"), "ab\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(FitToCharacters("ab\xB0\xA1"
                              "c",
                              3, "CP949"),
              2u);
    EXPECT_EQ(FitToCharacters("ab\xB0\xA1"
                              "c",
                              4, "CP949"),
              4u);
    EXPECT_EQ(FitToCharacters("a\xEA\xB0\x80"
                              "b",
                              3, "UTF-8"),
              1u);
    EXPECT_EQ(FitToCharacters("\xFF\xFF\xFF", 2, "CP949"), 2u);
    EXPECT_EQ(FitToCharacters("abc", 9, "CP949"), 3u);
    const std::string big(100000, '\xFF');  // longer than one conversion buffer, all invalid
    EXPECT_EQ(DecodeToUtf8(big + "\xB0\xA1", "CP949").size(), big.size() * 3 + 3);
}

TEST(DeploymentSettingsTest, DefaultsFollowTheEnvironment) {
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "cfg").string());
    ScopedEnv desktop("XDG_DESKTOP_DIR", "");
    ScopedEnv home("HOME", (dir / "home").string());
    std::filesystem::create_directories(dir / "prefix" / "bin");
    std::filesystem::create_directories(dir / "prefix" / "assets");

    DeploymentSettings settings = DefaultDeploymentSettings(dir / "prefix" / "bin");
    EXPECT_EQ(settings.DataDirectory, dir / "prefix" / "assets");
    EXPECT_EQ(settings.SkinDirectory, dir / "prefix" / "assets" / "skin");
    EXPECT_EQ(settings.RegistryDirectory, dir / "cfg" / "torvane" / "registry");
    EXPECT_EQ(settings.DesktopDirectory, dir / "home" / "Desktop");
    EXPECT_EQ(settings.ConnectPort, 44405);

    WriteFile(dir / "cfg" / "user-dirs.dirs",
              "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    settings = DefaultDeploymentSettings(dir / "prefix" / "bin");
    EXPECT_EQ(settings.DesktopDirectory, dir / "home" / "Schreibtisch");
}

TEST(DeploymentSettingsTest, FileOverridesDefaultsAndReportsProblems) {
    TempDir dir;
    DeploymentSettings base = DefaultDeploymentSettings(dir / "bin");
    const DeploymentSettings untouched = LoadDeploymentSettings(dir / "absent.conf", base);
    EXPECT_EQ(untouched.ConnectAddress, base.ConnectAddress);
    EXPECT_TRUE(untouched.Warnings.empty());

    WriteFile(dir / "torvane.conf",
              "# deployment\n"
              "connect_address = connect.example.net  \n"
              "connect_port=5000\n"
              "scramble_key = 0x01, 0xA2, 3c, FF\n"
              "launch_command = wine\n"
              "data_dir = data\n"
              "registry_dir = /var/lib/reg\n"
              "code_page = GBK\n"
              "product_name = My Game\n"
              "transfer_stall_seconds = 15\n"
              "colour = blue\n"
              "connect_port = 70000\n"
              "scramble_key = 01 02 03\n"
              "code_page = NOPE-1\n"
              "this line is broken\n"
              "connect_address = " +
                  std::string(50, 'a') + "\n");
    const DeploymentSettings s = LoadDeploymentSettings(dir / "torvane.conf", base);
    EXPECT_EQ(s.ConnectAddress, "connect.example.net");
    EXPECT_EQ(s.ConnectPort, 5000);
    EXPECT_EQ(s.ScrambleKey, (std::array<std::uint8_t, 4>{0x01, 0xA2, 0x3C, 0xFF}));
    EXPECT_EQ(s.LaunchCommand, "wine");
    EXPECT_EQ(s.DataDirectory, dir / "data");
    EXPECT_EQ(s.SkinDirectory, dir / "data" / "skin");
    EXPECT_EQ(s.RegistryDirectory, "/var/lib/reg");
    EXPECT_EQ(s.CodePage, "GBK");
    EXPECT_EQ(s.ProductName, "My Game");
    EXPECT_EQ(s.TransferStallSeconds, 15);
    ASSERT_EQ(s.Warnings.size(), 6u);
    EXPECT_NE(s.Warnings[0].find("torvane.conf:11: unknown key \"colour\""), std::string::npos)
        << s.Warnings[0];
    EXPECT_NE(s.Warnings[4].find(":15:"), std::string::npos) << s.Warnings[4];
}

TEST(DeploymentSettingsTest, FilesAreLayeredMachineUserProgramEnvironmentCommandLine) {
    TempDir dir;
    ScopedEnv configHome("XDG_CONFIG_HOME", (dir / "home-config").string());
    ScopedEnv environment("TORVANE_CONFIG", (dir / "trial" / "trial.conf").string());
    const auto files = DeploymentSettingsFiles(dir / "bin", dir / "given.conf");
    EXPECT_EQ(files, (std::vector<std::filesystem::path>{
                         "/etc/torvane/torvane.conf", dir / "home-config/torvane/torvane.conf",
                         dir / "bin/torvane.conf", dir / "trial/trial.conf", dir / "given.conf"}));
    {
        ScopedEnv unset("TORVANE_CONFIG", "");
        EXPECT_EQ(DeploymentSettingsFiles(dir / "bin", {}).size(), 3u);
    }

    // Each file overrides only the keys it names; relative places follow their own file; a
    // missing layer is skipped; a problem names the file it is in.
    std::vector<std::filesystem::path> layers{dir / "etc/torvane.conf", dir / "user/torvane.conf",
                                              dir / "absent/torvane.conf",
                                              dir / "game/torvane.conf"};
    WriteFile(layers[0],
              "connect_address = connect.example.net\nconnect_port = 5000\nnews_host = news\n"
              "data_dir = /usr/share/torvane\n");
    WriteFile(layers[1], "connect_port = 6000\ncode_page = GBK\n");
    WriteFile(layers[3], "connect_port = 7000\ndata_dir = data\ncolour = blue\n");
    const DeploymentSettings s =
        LoadDeploymentSettingsFiles(layers, DefaultDeploymentSettings(dir / "bin"));
    EXPECT_EQ(s.ConnectAddress, "connect.example.net");
    EXPECT_EQ(s.NewsHost, "news");
    EXPECT_EQ(s.CodePage, "GBK");
    EXPECT_EQ(s.ConnectPort, 7000);
    EXPECT_EQ(s.DataDirectory, dir / "game/data");
    EXPECT_EQ(s.SkinDirectory, dir / "game/data/skin");
    ASSERT_EQ(s.Warnings.size(), 1u);
    EXPECT_NE(s.Warnings[0].find((dir / "game/torvane.conf").string() + ":3:"), std::string::npos)
        << s.Warnings[0];
}

TEST(DesktopEntryTest, WritesAnEscapedEntryOnlyIntoAnExistingDirectory) {
    TempDir dir;
    DeploymentSettings settings;
    settings.ProductName = "Torvane";
    settings.DesktopDirectory = dir / "Desktop";
    const std::filesystem::path launcher = "/usr/bin/torvane";
    const std::filesystem::path game = "/games/My Game 100%/$HOME";
    EXPECT_FALSE(CreateDesktopShortcut(launcher, game, settings));
    EXPECT_FALSE(std::filesystem::exists(dir / "Desktop"));

    std::filesystem::create_directories(dir / "Desktop");
    WriteFile(dir / "Desktop" / "Torvane.desktop", "stale");
    ASSERT_TRUE(CreateDesktopShortcut(launcher, game, settings));
    const std::string text = ReadFile(dir / "Desktop" / "Torvane.desktop");
    // The entry starts the launcher in the game folder it patched, not in the program's own
    // folder (/usr/bin), and names that folder on its command line too.
    EXPECT_EQ(text,
              "[Desktop Entry]\nType=Application\nName=Torvane\n"
              "Exec=\"/usr/bin/torvane\" --game-dir \"/games/My Game 100%%/\\\\$HOME\"\n"
              "Path=/games/My Game 100%/$HOME\nTerminal=false\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "Desktop" / "Torvane.desktop").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);

    EXPECT_NE(DesktopEntryText("/a\\b/run", "/g", "x").find("Exec=\"/a\\\\\\\\b/run\""),
              std::string::npos);
}
