#pragma once
// The process-wide shared state record. Zero-filled at start, never freed; the GUI thread
// writes it, except ServerListReceived, which the connect thread polls. The connect-server
// messages see only its ConnectState part.

#include <atomic>
#include <cstdint>

#include "net/ConnectState.h"
#include "net/PatchServerInfo.h"
#include "patch/PatchEngine.h"

struct LauncherState : ConnectState {
    char ServerAddress[50]{};
    std::uint16_t ServerPort = 0;
    std::uint8_t CommandLineVersion[3]{};
    std::int32_t TestServer = 0;
    std::int32_t SelectedServer = 0;
    char LaunchAddress[64]{};
    char LaunchPort[8]{};
    std::atomic<std::int32_t> ServerListReceived{0};
    std::int32_t ProgressVisible = 0;
};

extern LauncherState g_State;

// What the patch engine is handed: the launch settings of `state`, and a patch-server record
// of the connect server as plain texts (decoded first when still coded).
LaunchSettings LaunchSettingsOf(const LauncherState& state);
PatchServerAddress PatchServerOf(const PatchServerInfo& info);
