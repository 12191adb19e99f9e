#include "app/DefaultServices.h"

#include <chrono>
#include <cstdlib>

#include "app/LauncherPatchSessions.h"
#include "app/LauncherState.h"
#include "platform/Clock.h"
#include "platform/DesktopEntry.h"
#include "platform/Process.h"
#include "platform/WineLaunch.h"

bool SharedConnection::Connect(const std::string& address, std::uint16_t port,
                               std::function<void()> onPackets) {
    return g_State.Connection.CreateSocket(loop_, std::move(onPackets)) &&
           g_State.Connection.Connect(address.c_str(), port);
}

std::string SharedConnection::LastConnectError() const {
    const std::string error = g_State.Connection.LastConnectError();
    return error.empty() ? "cannot create a socket" : error;
}

void SharedConnection::AbandonConnect() {
    g_State.Connection.AbandonConnects();
}

void SharedConnection::CloseConnection() {
    g_State.Connection.Close();
}

void SystemGameStart::PrepareGameStart() {
    if (LaunchesThroughWine(settings_)) PrepareWineEnvironment(settings_);
}

int SystemGameStart::StartGameClient(const std::string& file, const std::string& parameters) {
    return ::StartGameClient(gameDirectory_, file, parameters, settings_);
}

void SystemGameStart::CreateDesktopEntry(const std::filesystem::path& program) {
    if (settings_.DesktopEntry) CreateDesktopShortcut(program, gameDirectory_, settings_);
}

void SystemGameStart::EndProcess(int) {
    std::_Exit(0);
}

std::uint32_t SystemClock::Tick() {
    return TickCount();
}

void SystemClock::Sleep(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return woken_; });
}

void SystemClock::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

LauncherServices CompleteServices(LauncherServices services, const DeploymentSettings& settings,
                                  const std::filesystem::path& gameDirectory, EventLoop& loop) {
    if (!services.Connection) services.Connection = std::make_shared<SharedConnection>(loop);
    if (!services.GameStart)
        services.GameStart = std::make_shared<SystemGameStart>(settings, gameDirectory);
    if (!services.Clock) services.Clock = std::make_shared<SystemClock>();
    if (!services.MakePatchSessions) {
        services.MakePatchSessions = [settings](PatchEngine& engine) {
            return std::make_shared<LauncherPatchSessions>(engine, settings);
        };
    }
    return services;
}
