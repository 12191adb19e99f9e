#pragma once
// What the main window controller needs from the world beyond its window, as four small
// interfaces: the connect-server connection, the game start, the clock and the patch
// sessions. Each has one real implementation (DefaultServices.h, LauncherPatchSessions.h);
// the tests hand in fakes so that no test waits on a wall clock or ends its process.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class PatchEngine;
struct PatchServerAddress;

// The connection to the connect server. Connect runs on the connect thread, AbandonConnect
// on any thread, CloseConnection on the GUI thread.
class ConnectService {
public:
    virtual ~ConnectService() = default;
    // One attempt. Blocks until it connects or fails, or until AbandonConnect makes it give
    // up (then false). `onPackets` runs on the GUI thread whenever packets have arrived.
    virtual bool Connect(const std::string& address, std::uint16_t port,
                         std::function<void()> onPackets) = 0;
    // Why the last attempt failed, for the log; empty when there is nothing to add.
    virtual std::string LastConnectError() const { return {}; }
    // Makes a running (or the next) Connect return false at once; the window is closing.
    virtual void AbandonConnect() = 0;
    virtual void CloseConnection() = 0;
};

// Starting the game client and leaving. GUI thread.
class GameStartService {
public:
    virtual ~GameStartService() = default;
    // Slow preparations of a start (a locale to compile for Wine), done before the hand-off's
    // time stamp is written so that they do not age it.
    virtual void PrepareGameStart() = 0;
    // Starts the game client `file` of the game directory with `parameters`; returns a
    // shell-style result (> 32 success; 0, 2, 3, 11 failures).
    virtual int StartGameClient(const std::string& file, const std::string& parameters) = 0;
    // Writes the desktop entry that starts `program`; silent on failure.
    virtual void CreateDesktopEntry(const std::filesystem::path& program) = 0;
    // Ends the process at once after the game start; `shellResult` is what the start gave.
    virtual void EndProcess(int shellResult) = 0;
};

// Time, for the connect thread's pauses and the hand-off's time stamp.
class LauncherClock {
public:
    virtual ~LauncherClock() = default;
    // The millisecond tick counter (wrapping at 2^32). Any thread.
    virtual std::uint32_t Tick() = 0;
    // Waits `ms` milliseconds on the calling thread, or less once Wake was called.
    virtual void Sleep(std::uint32_t ms) = 0;
    // Ends every pause now and in future at once: the window is closing. Any thread.
    virtual void Wake() = 0;
};

// The two patch sessions on the controller's engine. GUI thread.
class PatchSessions {
public:
    virtual ~PatchSessions() = default;
    // The whole FTP session, pumping window events; true when the client ended up current.
    // A failure has been shown when it returns false.
    virtual bool RunFtp(const PatchServerAddress& server) = 0;
    // Drops the FTP connection; safe at any time, also from a handler inside a pump.
    virtual void CloseFtp() = 0;
    virtual void SetHttpServer(const PatchServerAddress& server) = 0;
    // Starts the HTTP session's worker; false (after showing why) when it could not start.
    // `onEnded` runs on the worker thread when it has ended, by itself or stopped.
    virtual bool StartHttp(std::function<void()> onEnded) = 0;
    // Interrupts and joins the HTTP worker; safe when none runs.
    virtual void StopHttp() = 0;
    virtual bool HttpRunning() const = 0;
};

struct LauncherServices {
    // Shared so that a test can keep a hold of its fakes; empty entries get the real ones.
    std::shared_ptr<ConnectService> Connection;
    std::shared_ptr<GameStartService> GameStart;
    std::shared_ptr<LauncherClock> Clock;
    // The patch sessions belong to the controller's engine, so they are made for it.
    std::function<std::shared_ptr<PatchSessions>(PatchEngine& engine)> MakePatchSessions;
};
