#pragma once
// Small fakes of the controller's services: each does what a test sets (or nothing) and
// counts what it was asked.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/LauncherServices.h"
#include "patch/PatchEngine.h"

class FakeConnection : public ConnectService {
public:
    std::function<bool(const std::string& address, std::uint16_t port)> OnConnect;
    std::function<void()> OnAbandon;
    std::function<void()> OnClose;
    std::atomic<int> Closes{0};

    bool Connect(const std::string& address, std::uint16_t port, std::function<void()>) override {
        return OnConnect && OnConnect(address, port);
    }
    void AbandonConnect() override {
        if (OnAbandon) OnAbandon();
    }
    void CloseConnection() override {
        ++Closes;
        if (OnClose) OnClose();
    }
};

class FakeGameStart : public GameStartService {
public:
    std::function<int(const std::string& file, const std::string& parameters)> OnStart;
    std::function<void(int shellResult)> OnEnd;
    std::vector<std::filesystem::path> DesktopEntries;

    void PrepareGameStart() override {}
    int StartGameClient(const std::string& file, const std::string& parameters) override {
        return OnStart ? OnStart(file, parameters) : 0;
    }
    void CreateDesktopEntry(const std::filesystem::path& program) override {
        DesktopEntries.push_back(program);
    }
    void EndProcess(int shellResult) override {
        if (OnEnd) OnEnd(shellResult);
    }
};

// Pauses return at once unless a test sets OnSleep.
class FakeClock : public LauncherClock {
public:
    std::function<std::uint32_t()> OnTick;
    std::function<void(std::uint32_t ms)> OnSleep;

    std::uint32_t Tick() override { return OnTick ? OnTick() : 0; }
    void Sleep(std::uint32_t ms) override {
        if (OnSleep) OnSleep(ms);
    }
    void Wake() override {}
};

// An FTP session that does what OnRunFtp says; an HTTP session that runs from its start until
// the test calls HttpEnded (from any thread) or the controller stops it.
class FakePatchSessions : public PatchSessions {
public:
    PatchEngine* Engine = nullptr;  // the controller's, once it is built
    std::function<bool(PatchEngine& engine)> OnRunFtp;
    std::function<void()> HttpEnded;  // what the controller asked to hear at the end
    int FtpCloses = 0;
    int HttpStops = 0;

    bool RunFtp(const PatchServerAddress&) override { return OnRunFtp && OnRunFtp(*Engine); }
    void CloseFtp() override { ++FtpCloses; }
    void SetHttpServer(const PatchServerAddress&) override {}
    bool StartHttp(std::function<void()> onEnded) override {
        HttpEnded = std::move(onEnded);
        return true;
    }
    void StopHttp() override { ++HttpStops; }
    bool HttpRunning() const override { return false; }
};
