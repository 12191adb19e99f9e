#include "gtk/GtkLauncher.h"

#include <gtkmm/main.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/LauncherArguments.h"
#include "app/LauncherStart.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "gtk/GtkEventLoop.h"
#include "gtk/GtkMainWindow.h"
#include "gtk/GtkMessageBox.h"
#include "platform/CodePage.h"
#include "platform/DeploymentSettings.h"
#include "platform/ProgramInfo.h"

int RunGtkLauncher(int argc, char** argv) {
    // Help and version need no display and touch nothing.
    if (const auto answered = AnswerHelpOrVersion(std::vector<std::string>(argv + 1, argv + argc),
                                                  "torvane", kLauncherUsage)) {
        return *answered;
    }
    // The toolkit takes its own options (--display, ...) off the command line first.
    Gtk::Main kit(argc, argv);

    std::string error;
    const auto arguments =
        ParseLauncherArguments(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!arguments) {
        std::fprintf(stderr, "torvane: %s\nTry 'torvane --help'.\n", error.c_str());
        return 2;
    }
    const auto start = PrepareLauncherStart(*arguments, &error);
    if (!start) {
        std::fprintf(stderr, "torvane: %s\n", error.c_str());
        return 2;
    }
    const DeploymentSettings& settings = start->Settings;
    for (const auto& warning : settings.Warnings) {
        std::fprintf(stderr, "torvane: settings: %s\n", warning.c_str());
    }
    const std::filesystem::path gameDirectory = start->Game.Folder;
    const std::unique_ptr<EventLog> log =
        OpenRunLog(*arguments, *start, "torvane", std::vector<std::string>(argv + 1, argv + argc));

    GtkEventLoop loop;
    LauncherFrontEnd frontEnd;
    frontEnd.Loop = &loop;
    frontEnd.ShowMessageBox = [&settings](const std::string& text, const std::string& caption,
                                          MessageBoxIcon icon) {
        ShowGtkMessageBox(nullptr, DecodeToUtf8(text, settings.CodePage),
                          DecodeToUtf8(caption, settings.CodePage), icon);
    };
    frontEnd.CreateMainWindow = [&](CUpdateDlg& dialog) {
        MainWindowConfig config;
        config.Title = settings.ProductName;
        config.SkinDirectory = settings.SkinDirectory;
        config.GameDirectory = gameDirectory;
        config.DataDirectory = settings.DataDirectory;
        config.CodePage = settings.CodePage;
        config.RegistryStore = &dialog.RegistryStore();
        MainWindowHandlers handlers;
        handlers.OnCommand = [&dialog](int id) { dialog.OnCommand(id); };
        handlers.OnClose = [&dialog] { dialog.OnClose(); };
        handlers.PreTranslateKeyDown = [&dialog](int key) {
            return dialog.PreTranslateKeyDown(key);
        };
        auto window = std::make_unique<GtkMainWindow>(config, loop, handlers);
        window->show();
        return std::unique_ptr<WindowAdapter>(std::move(window));
    };

    LauncherOptions options;
    options.Settings = settings;
    options.GameDirectory = gameDirectory;
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    options.ProgramPath = ec ? ProgramDirectory() / "torvane" : self;
    options.CommandLine = arguments->LauncherCommandLine;
    options.Log = log.get();
    CUpdateApp app(std::move(frontEnd), std::move(options));
    app.InitInstance();
    log->Write("end");
    return 0;
}
