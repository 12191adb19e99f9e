#include "cli/CliLauncher.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/LauncherState.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "cli/CliGameOptions.h"
#include "cli/CliOptions.h"
#include "cli/CliVerify.h"
#include "cli/CliWindow.h"
#include "platform/CodePage.h"
#include "platform/PollEventLoop.h"

namespace {

enum ExitStatus { kCurrent = 0, kFailed = 1, kUsage = 2 };

bool ShellStarted(int shellResult) {
    return shellResult > 32;
}

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

DeploymentSettings LoadSettings(const CliOptions& options) {
    const std::filesystem::path programDirectory = ProgramDirectory();
    DeploymentSettings settings =
        LoadDeploymentSettingsFiles(DeploymentSettingsFiles(programDirectory, options.ConfigFile),
                                    DefaultDeploymentSettings(programDirectory));
    for (const auto& warning : settings.Warnings)
        std::fprintf(stderr, "torvane-cli: settings: %s\n", warning.c_str());
    if (options.ConnectHost) settings.ConnectAddress = *options.ConnectHost;
    if (options.ConnectPort) settings.ConnectPort = *options.ConnectPort;
    return settings;
}

}  // namespace

int RunCliLauncher(const std::vector<std::string>& arguments) {
    std::string error;
    const auto parsed = ParseCliOptions(arguments, &error);
    if (!parsed) {
        std::fprintf(stderr, "torvane-cli: %s\n%s", error.c_str(), kCliUsage);
        return kUsage;
    }
    const CliOptions& options = *parsed;
    if (!options.ConfigFile.empty() && !std::filesystem::is_regular_file(options.ConfigFile)) {
        std::fprintf(stderr, "torvane-cli: no settings file %s\n", options.ConfigFile.c_str());
        return kUsage;
    }
    std::error_code ec;
    const std::filesystem::path gameDirectory = std::filesystem::absolute(
        options.GameDirectory.empty() ? std::filesystem::current_path() : options.GameDirectory,
        ec);
    if (ec || !std::filesystem::is_directory(gameDirectory)) {
        std::fprintf(stderr, "torvane-cli: no game directory %s\n", gameDirectory.c_str());
        return kUsage;
    }

    const DeploymentSettings settings = LoadSettings(options);
    if (!options.GameOptionValues.empty())
        return ApplyGameOptions(settings, options.GameOptionValues, stdout, stderr);
    if (options.Verify || options.Repair)
        return RunVerify(settings, gameDirectory, options.Repair, stdout, stderr);
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
        window = created.get();
        return std::unique_ptr<WindowAdapter>(std::move(created));
    };
    frontEnd.BeforeRun = [&](CUpdateDlg& dialog) {
        ControllerObserver observer;
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
    // A terminal tool puts no launcher on the desktop.
    launcherOptions.Services.CreateDesktopEntry = [](const std::filesystem::path&) {};
    launcherOptions.Services.EndProcess = [](int shellResult) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(ShellStarted(shellResult) ? kCurrent : kFailed);
    };

    CUpdateApp app(std::move(frontEnd), std::move(launcherOptions));
    app.InitInstance();
    std::fflush(stdout);
    if (app.Result() == StartupResult::Refused) return kFailed;
    return status;
}
