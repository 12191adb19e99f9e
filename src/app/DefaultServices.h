#pragma once
// The real implementations behind LauncherServices.

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "app/LauncherServices.h"
#include "platform/DeploymentSettings.h"
#include "platform/EventLoop.h"

// The process's one connect-server connection (g_State.Connection).
class SharedConnection : public ConnectService {
public:
    explicit SharedConnection(EventLoop& loop) : loop_(loop) {}
    bool Connect(const std::string& address, std::uint16_t port,
                 std::function<void()> onPackets) override;
    std::string LastConnectError() const override;
    void AbandonConnect() override;
    void CloseConnection() override;

private:
    EventLoop& loop_;
};

// Starts the deployment's game client in the game directory, through Wine when it is one.
class SystemGameStart : public GameStartService {
public:
    SystemGameStart(DeploymentSettings settings, std::filesystem::path gameDirectory)
        : settings_(std::move(settings)), gameDirectory_(std::move(gameDirectory)) {}
    void PrepareGameStart() override;
    int StartGameClient(const std::string& file, const std::string& parameters) override;
    // Only when the deployment asks for it (desktop_entry = yes) or the player does
    // (--create-shortcut sets the same value).
    void CreateDesktopEntry(const std::filesystem::path& program) override;
    // The window launcher always exits with code 0.
    void EndProcess(int shellResult) override;

protected:
    DeploymentSettings settings_;
    std::filesystem::path gameDirectory_;
};

// The monotonic tick counter, and pauses that Wake cuts short.
class SystemClock : public LauncherClock {
public:
    std::uint32_t Tick() override;
    void Sleep(std::uint32_t ms) override;
    void Wake() override;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
};

// Fills every empty entry of `services` with the real implementation for this deployment
// and game directory.
LauncherServices CompleteServices(LauncherServices services, const DeploymentSettings& settings,
                                  const std::filesystem::path& gameDirectory, EventLoop& loop);
