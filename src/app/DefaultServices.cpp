#include "app/DefaultServices.h"

#include <cstdlib>

#include "net/LauncherState.h"
#include "platform/Clock.h"

LauncherServices CompleteServices(LauncherServices services, const DeploymentSettings& settings,
                                  const std::filesystem::path& gameDirectory, EventLoop& loop) {
    (void)settings;
    (void)gameDirectory;
    (void)loop;
    if (!services.Tick) services.Tick = [] { return TickCount(); };
    if (!services.CloseConnection) services.CloseConnection = [] { g_State.Connection.Close(); };
    if (!services.EndProcess) services.EndProcess = [](int) { std::_Exit(0); };
    return services;
}
