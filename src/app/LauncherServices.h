#pragma once
// What the main window controller needs from the world beyond its window: the connect-server
// connection, the patch sessions' clean-up, the game start, the process exit, waiting. The
// launcher fills these with the real implementations (DefaultLauncherServices); the tests
// replace single entries with fakes so that no test waits on a wall clock or ends its process.
//
// Threads: Connect and Sleep run on the connect thread; AbandonConnect on any thread; every
// other entry on the GUI thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

class PatchEngine;
struct PatchServerInfo;

struct LauncherServices {
    // One connect attempt to the connect server. Blocks until it connects or fails, or until
    // AbandonConnect makes it give up (then false).
    std::function<bool(const std::string& address, std::uint16_t port)> Connect;
    // Makes a running (or the next) Connect return false at once; the window is closing.
    std::function<void()> AbandonConnect;
    // Closes the connect-server connection.
    std::function<void()> CloseConnection;
    // Closes the FTP patch session's connection, if any.
    std::function<void()> CloseFtpConnection;
    // Stops the HTTP patch thread, if one runs, and waits for it.
    std::function<void()> StopHttpPatch;

    // The patch sessions, on the controller's patch engine. RunFtpPatch runs the whole FTP
    // session on the GUI thread (pumping events); StartHttpPatch starts the HTTP session's
    // worker and returns. Both report failure as false after showing why.
    std::function<bool(PatchEngine& engine, const PatchServerInfo& info)> RunFtpPatch;
    std::function<void(PatchEngine& engine, const PatchServerInfo& codedInfo)> SetHttpPatchServer;
    std::function<bool(PatchEngine& engine)> StartHttpPatch;

    // Waits `ms` milliseconds on the connect thread. Left empty, the controller waits itself
    // and wakes at once when the window closes; a fake may return at once.
    std::function<void(std::uint32_t ms)> Sleep;
    // The millisecond tick counter (wrapping at 2^32).
    std::function<std::uint32_t()> Tick;

    // Starts the game client `file` of the game directory with `parameters`; returns a
    // shell-style result (> 32 success; 0, 2, 3, 11 failures).
    std::function<int(const std::string& file, const std::string& parameters)> StartGameClient;
    // Slow preparations of a start (a locale to compile for Wine), done before the hand-off's
    // time stamp is written so that they do not age it.
    std::function<void()> PrepareGameStart;
    // Writes the desktop entry that starts `program`; silent on failure.
    std::function<void(const std::filesystem::path& program)> CreateDesktopEntry;

    // Ends the process at once after the game start; `shellResult` is what the start gave
    // (the window launcher always exits with code 0).
    std::function<void(int shellResult)> EndProcess;
};
