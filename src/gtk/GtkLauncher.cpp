#include "gtk/GtkLauncher.h"

#include <gtkmm/main.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "gtk/GtkEventLoop.h"
#include "gtk/GtkMainWindow.h"
#include "gtk/GtkMessageBox.h"
#include "platform/CodePage.h"
#include "platform/DeploymentSettings.h"

int RunGtkLauncher(int argc, char** argv) {
    // The toolkit takes its own options (--display, ...) off the command line first.
    Gtk::Main kit(argc, argv);

    const std::filesystem::path programDirectory = ProgramDirectory();
    // /etc, the user's own, beside the program, then $TORVANE_CONFIG (a trial deployment, a
    // test) without writing beside an installed program.
    const DeploymentSettings settings = LoadDeploymentSettingsFiles(
        DeploymentSettingsFiles(programDirectory, {}), DefaultDeploymentSettings(programDirectory));
    for (const auto& warning : settings.Warnings) {
        std::fprintf(stderr, "torvane: settings: %s\n", warning.c_str());
    }

    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += argv[i];
    }

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
        config.GameDirectory = std::filesystem::current_path();
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
    options.GameDirectory = std::filesystem::current_path();
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    options.ProgramPath = error ? programDirectory / "torvane" : self;
    options.CommandLine = commandLine;
    CUpdateApp app(std::move(frontEnd), std::move(options));
    app.InitInstance();
    return 0;
}
