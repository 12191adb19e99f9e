#pragma once
// The whole terminal launcher against the development connect server, for the end-to-end
// tests: the connect server hands out `patchSettings` (its patch-server lines) and one game
// server; the launcher patches `game` and exits.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/PatchServers.h"
#include "support/TestSupport.h"

namespace patchtest {

// The development connect server, handing out `patchSettings` (its patch-server lines) and
// one game server (World1); connectd.conf and connectd.log are under `top`.
std::unique_ptr<testsupport::ConnectdServer> StartConnectServer(const std::filesystem::path& top,
                                                                const std::string& patchSettings);

// top/torvane.conf for a launcher that asks the connect server on `connectPort`, keeps its
// registry and desktop under `top` and starts game.sh; `extraSettings` appended.
void WriteLauncherSettings(const std::filesystem::path& top, int connectPort,
                           const std::string& extraSettings = "");

// Skips the current test unless torvane-cli and torvane-connectd are built.
void RequireCliPrograms();

// Writes connectd.conf and torvane.conf under `top` (with `extraSettings` appended to the
// latter), runs both programs and returns the launcher's result: "--game-dir GAME" (none when
// `game` is empty, as a player would start it) and `extraArguments`, run with
// `launcherOptions` (its folder and environment).
testsupport::RunResult RunCliLauncher(
    const std::filesystem::path& top, const std::filesystem::path& game,
    const std::string& patchSettings, const std::string& extraSettings = "",
    const std::vector<std::string>& extraArguments = {},
    const testsupport::ChildProcess::Options& launcherOptions = {});

// For the tests of a deployment that trusts a key: skips unless torvane-cli and
// torvane-connectd are built, and makes the key pair top_/key.pub, top_/key.sec.
class SignedCliTest : public ::testing::Test {
protected:
    void SetUp() override;
    // "trusted_key = <the public key's base64 line>", for the launcher's settings.
    std::string TrustedKeySetting() const;

    testsupport::TempDir top_;
};

}  // namespace patchtest
