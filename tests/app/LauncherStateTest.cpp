// What the launcher hands the patch engine: its launch settings and the patch server's texts.

#include <gtest/gtest.h>

#include <cstdio>

#include "app/AppTestSupport.h"
#include "app/CommandLine.h"
#include "app/LauncherState.h"

namespace {

PatchServerInfo Record(const char* host, const char* user, const char* password,
                       const char* versionFile) {
    PatchServerInfo info;
    info.Coded = false;
    std::snprintf(info.Host.data(), info.Host.size(), "%s", host);
    std::snprintf(info.User.data(), info.User.size(), "%s", user);
    std::snprintf(info.Password.data(), info.Password.size(), "%s", password);
    std::snprintf(info.VersionFile.data(), info.VersionFile.size(), "%s", versionFile);
    info.Port = 2121;
    return info;
}

TEST(PatchServerOfTest, CodedAndDecodedRecordsGiveTheSamePlainTexts) {
    PatchServerInfo coded = Record("patch.example", "anonymous", "secret", "version.wvd");
    coded.XorCode();  // as it comes off the wire
    for (const PatchServerInfo& info :
         {coded, Record("patch.example", "anonymous", "secret", "version.wvd")}) {
        const PatchServerAddress server = PatchServerOf(info);
        EXPECT_EQ(server.Host, "patch.example");
        EXPECT_EQ(server.Port, 2121);
        EXPECT_EQ(server.User, "anonymous");
        EXPECT_EQ(server.Password, "secret");
        EXPECT_EQ(server.VersionFile, "version.wvd");
    }
}

TEST(PatchServerOfTest, FullFieldsStopAtTheirEnd) {
    PatchServerInfo info;
    info.Coded = false;
    info.VersionFile.fill('v');  // no terminator
    info.Host.fill('h');
    const PatchServerAddress server = PatchServerOf(info);
    EXPECT_EQ(server.VersionFile, std::string(info.VersionFile.size(), 'v'));
    EXPECT_EQ(server.Host, std::string(info.Host.size(), 'h'));
}

TEST(LaunchSettingsOfTest, CommandLineSwitchesReachTheEngine) {
    ResetLauncherState();
    ApplyCommandLineSwitches("/l 1.2.3", g_State);
    LaunchSettings launch = LaunchSettingsOf(g_State);
    EXPECT_EQ(launch.Mode, kLaunchGivenVersion);
    EXPECT_EQ(launch.CommandLineVersion, (std::array<std::uint8_t, 3>{1, 2, 3}));
    EXPECT_FALSE(launch.TestServer);

    ApplyCommandLineSwitches("/t", g_State);
    launch = LaunchSettingsOf(g_State);
    EXPECT_EQ(launch.Mode, kLaunchTestClient);
    EXPECT_TRUE(launch.TestServer);
    ResetLauncherState();
}

}  // namespace
