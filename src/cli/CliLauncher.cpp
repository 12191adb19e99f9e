#include "cli/CliLauncher.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "app/DefaultServices.h"
#include "app/LauncherStart.h"
#include "app/LauncherState.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "cli/CliGameOptions.h"
#include "cli/CliOptions.h"
#include "cli/CliVerify.h"
#include "cli/CliWindow.h"
#include "platform/CodePage.h"
#include "platform/DesktopEntry.h"
#include "platform/PollEventLoop.h"
#include "platform/ProgramInfo.h"

namespace {

enum ExitStatus { kCurrent = 0, kFailed = 1, kUsage = 2, kNoConnection = 3 };

bool ShellStarted(int shellResult) {
    return shellResult > 32;
}

// The game start of the terminal launcher. It puts no launcher on the desktop of its own
// accord; asked to (--create-shortcut), it writes the entry of the window launcher beside it.
// After the hand-off it exits with the status scripts read.
class CliGameStart : public SystemGameStart {
public:
    CliGameStart(const DeploymentSettings& settings, const std::filesystem::path& gameDirectory,
                 bool createShortcut, EventLog& log)
        : SystemGameStart(settings, gameDirectory), createShortcut_(createShortcut), log_(log) {}

    void CreateDesktopEntry(const std::filesystem::path&) override {
        if (!createShortcut_) return;
        const std::filesystem::path windowLauncher = ProgramDirectory() / "torvane";
        if (!CreateDesktopShortcut(windowLauncher, gameDirectory_, settings_))
            std::fprintf(stderr, "torvane-cli: could not write the desktop entry in %s\n",
                         settings_.DesktopDirectory.c_str());
    }

    void EndProcess(int shellResult) override {
        log_.Write(std::string("end: the game was handed over") +
                   (ShellStarted(shellResult) ? "" : ", and did not start"));
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(ShellStarted(shellResult) ? kCurrent : kFailed);
    }

private:
    bool createShortcut_;
    EventLog& log_;
};

// Ends the run with kNoConnection when the connect server has not greeted within the
// --timeout: a script gets an answer instead of endless retries.
class ConnectDeadline {
public:
    ConnectDeadline() = default;
    ~ConnectDeadline() { Finish(); }
    ConnectDeadline(const ConnectDeadline&) = delete;
    ConnectDeadline& operator=(const ConnectDeadline&) = delete;

    void Start(int seconds, std::function<void()> expired) {
        if (seconds <= 0) return;
        thread_ = std::thread([this, seconds, expired = std::move(expired)] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (wake_.wait_for(lock, std::chrono::seconds(seconds),
                               [this] { return greeted_ || finished_; }))
                return;
            lock.unlock();
            expired();
        });
    }
    void Greeted() {
        std::lock_guard<std::mutex> lock(mutex_);
        greeted_ = true;
        wake_.notify_all();
    }
    bool WasGreeted() {
        std::lock_guard<std::mutex> lock(mutex_);
        return greeted_;
    }
    void Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool greeted_ = false;
    bool finished_ = false;
    std::thread thread_;
};

void PrintServerList(std::FILE* out, const std::string& codePage) {
    for (int i = 0; i < kServerEntryCount; ++i) {
        const ServerEntry& entry = g_State.ServerEntries[i];
        const std::string name(entry.Name, strnlen(entry.Name, sizeof entry.Name));
        const std::string address(entry.Address, strnlen(entry.Address, sizeof entry.Address));
        if (name.empty() && address.empty() && entry.Port == 0) continue;
        std::fprintf(out, "server %d: %s %s:%u%s\n", i + 1, DecodeToUtf8(name, codePage).c_str(),
                     DecodeToUtf8(address, codePage).c_str(), static_cast<unsigned>(entry.Port),
                     entry.Port == 0 ? " (disabled)" : "");
    }
    std::fflush(out);
}

}  // namespace

int RunCliLauncher(const std::vector<std::string>& arguments) {
    if (const auto answered = AnswerHelpOrVersion(arguments, "torvane-cli", kCliUsage))
        return *answered;
    std::string error;
    const auto parsed = ParseCliOptions(arguments, &error);
    if (!parsed) {
        std::fprintf(stderr, "torvane-cli: %s\nTry 'torvane-cli --help'.\n", error.c_str());
        return kUsage;
    }
    const CliOptions& options = *parsed;
    auto start = PrepareLauncherStart(options, &error);
    if (!start) {
        std::fprintf(stderr, "torvane-cli: %s\n", error.c_str());
        return kUsage;
    }
    for (const auto& warning : start->Settings.Warnings)
        std::fprintf(stderr, "torvane-cli: settings: %s\n", warning.c_str());
    if (options.ConnectHost) start->Settings.ConnectAddress = *options.ConnectHost;
    if (options.ConnectPort) start->Settings.ConnectPort = *options.ConnectPort;
    const DeploymentSettings& settings = start->Settings;
    if (!options.GameOptionValues.empty())
        return ApplyGameOptions(settings, options.GameOptionValues, stdout, stderr);
    const std::filesystem::path gameDirectory = start->Game.Folder;
    if (options.Verify || options.Repair)
        return RunVerify(settings, gameDirectory, options.Repair, stdout, stderr);
    const std::unique_ptr<EventLog> log = OpenRunLog(options, *start, "torvane-cli", arguments);
    if (options.Verbosity >= 2) log->CopyTo(stderr);
    const std::string connectTarget =
        settings.ConnectAddress + ":" + std::to_string(settings.ConnectPort);
    ConnectDeadline deadline;
    CUpdateDlg* controller = nullptr;
    PollEventLoop loop;
    CliWindow* window = nullptr;
    int status = kFailed;
    bool readySeen = false;

    LauncherFrontEnd frontEnd;
    frontEnd.Loop = &loop;
    frontEnd.ShowMessageBox = [&settings](const std::string& text, const std::string& caption,
                                          MessageBoxIcon) {
        std::fprintf(stderr, "%s: %s\n", DecodeToUtf8(caption, settings.CodePage).c_str(),
                     DecodeToUtf8(text, settings.CodePage).c_str());
    };
    frontEnd.CreateMainWindow = [&](CUpdateDlg&) {
        auto created = std::make_unique<CliWindow>(loop, settings.CodePage, stdout, stderr,
                                                   isatty(STDOUT_FILENO) == 1);
        created->SetQuiet(options.Verbosity == 0);
        window = created.get();
        return std::unique_ptr<WindowAdapter>(std::move(created));
    };
    frontEnd.BeforeRun = [&](CUpdateDlg& dialog) {
        controller = &dialog;
        deadline.Start(options.TimeoutSeconds, [&] {
            loop.Post([&] {
                if (deadline.WasGreeted() || controller == nullptr) return;
                const std::string cause = controller->LastConnectFailure();
                log->Fail("no connection to the connect server " + connectTarget + " within " +
                          std::to_string(options.TimeoutSeconds) + " s: " +
                          (cause.empty()
                               ? std::string("it accepted the connection but sent no greeting")
                               : cause));
                status = kNoConnection;
                controller->OnClose();
            });
        });
        ControllerObserver observer;
        observer.Greeted = [&] { deadline.Greeted(); };
        observer.Ready = [&] {
            // The go-ahead may come more than once (patch session, then the server's own).
            if (readySeen) return;
            readySeen = true;
            window->FinishProgressLine();
            PrintServerList(stdout, settings.CodePage);
            // Act after the packet that brought the go-ahead has been handled.
            loop.Post([&] {
                if (options.Pick != 0) {
                    const ServerEntry& entry = g_State.ServerEntries[options.Pick - 1];
                    if (entry.Port == 0) {
                        std::fprintf(stderr, "torvane-cli: server %d is disabled\n", options.Pick);
                        status = kFailed;
                        dialog.OnClose();
                        return;
                    }
                    dialog.OnCommand(ControlId::FirstServer + options.Pick - 1);
                    if (options.Start) {
                        dialog.OnCommand(ControlId::Connect);
                        // Only reached when the start did not end the process (the registry
                        // hand-off failed and the window closed).
                        status = kFailed;
                        return;
                    }
                }
                status = kCurrent;
                dialog.OnClose();
            });
        };
        observer.PatchFailed = [&] {
            status = kFailed;
            loop.Post([&] { dialog.OnClose(); });
        };
        observer.GameStarted = [&](int result) {
            status = ShellStarted(result) ? kCurrent : kFailed;
        };
        dialog.SetObserver(std::move(observer));
    };

    LauncherOptions launcherOptions;
    launcherOptions.Settings = settings;
    launcherOptions.GameDirectory = gameDirectory;
    launcherOptions.ProgramPath = ProgramDirectory() / "torvane-cli";
    launcherOptions.CommandLine = options.LauncherCommandLine;
    launcherOptions.Log = log.get();
    // A silent peer counts as a failed connect within the time a script allows.
    if (options.TimeoutSeconds > 0)
        launcherOptions.GreetingTimeoutMs =
            std::min<std::uint32_t>(launcherOptions.GreetingTimeoutMs,
                                    static_cast<std::uint32_t>(options.TimeoutSeconds) * 1000);
    launcherOptions.Services.GameStart =
        std::make_shared<CliGameStart>(settings, gameDirectory, options.CreateShortcut, *log);

    CUpdateApp app(std::move(frontEnd), std::move(launcherOptions));
    app.InitInstance();
    controller = nullptr;
    deadline.Finish();
    log->Write("end, exit status " +
               std::to_string(app.Result() == StartupResult::Refused ? kFailed : status));
    std::fflush(stdout);
    if (app.Result() == StartupResult::Refused) return kFailed;
    return status;
}
