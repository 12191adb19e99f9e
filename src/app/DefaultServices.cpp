#include "app/DefaultServices.h"

#include <cstdlib>

#include "app/LauncherState.h"
#include "platform/Clock.h"
#include "platform/DesktopEntry.h"
#include "platform/Process.h"
#include "platform/WineLaunch.h"

LauncherServices CompleteServices(LauncherServices services, const DeploymentSettings& settings,
                                  const std::filesystem::path& gameDirectory, EventLoop& loop) {
    (void)loop;
    if (!services.Tick) services.Tick = [] { return TickCount(); };
    if (!services.CloseConnection) services.CloseConnection = [] { g_State.Connection.Close(); };
    if (!services.StartGameClient) {
        services.StartGameClient = [settings, gameDirectory](const std::string& file,
                                                             const std::string& parameters) {
            return StartGameClient(gameDirectory, file, parameters, settings);
        };
    }
    if (!services.PrepareGameStart) {
        services.PrepareGameStart = [settings] {
            if (LaunchesThroughWine(settings)) PrepareWineEnvironment(settings);
        };
    }
    if (!services.CreateDesktopEntry) {
        services.CreateDesktopEntry = [settings](const std::filesystem::path& program) {
            CreateDesktopShortcut(program, settings);
        };
    }
    if (!services.EndProcess) services.EndProcess = [](int) { std::_Exit(0); };
    return services;
}
