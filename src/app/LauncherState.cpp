#include "app/LauncherState.h"

LauncherState g_State;

LaunchSettings LaunchSettingsOf(const LauncherState& state) {
    LaunchSettings launch;
    launch.Mode = static_cast<LaunchModeValue>(state.LaunchMode);
    for (std::size_t i = 0; i < launch.CommandLineVersion.size(); ++i)
        launch.CommandLineVersion[i] = state.CommandLineVersion[i];
    launch.TestServer = state.TestServer != 0;
    return launch;
}

PatchServerAddress PatchServerOf(const PatchServerInfo& info) {
    PatchServerInfo decoded = info;
    decoded.Decode();
    PatchServerAddress server;
    server.Host = decoded.HostText();
    server.Port = decoded.Port;
    server.User = decoded.UserText();
    server.Password = decoded.PasswordText();
    server.VersionFile = decoded.VersionFileText();
    return server;
}
