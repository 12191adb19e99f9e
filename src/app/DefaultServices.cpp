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
        // Only when the deployment asks for it (desktop_entry = yes) or the player does
        // (--create-shortcut sets the same value).
        services.CreateDesktopEntry = [settings,
                                       gameDirectory](const std::filesystem::path& program) {
            if (settings.DesktopEntry) CreateDesktopShortcut(program, gameDirectory, settings);
        };
    }
    if (!services.EndProcess) services.EndProcess = [](int) { std::_Exit(0); };
    return services;
}
