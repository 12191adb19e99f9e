#pragma once
// Start-up of the launcher: one instance only, the text table, the command line, the
// connect-server defaults, then the main window run modally. The window launcher and the
// terminal launcher both start here; they differ only in the front end they hand in.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/LauncherEnvironment.h"
#include "app/LauncherServices.h"
#include "app/WindowAdapter.h"
#include "platform/DeploymentSettings.h"
#include "platform/EventLoop.h"
#include "platform/InstanceLock.h"
#include "platform/MessageBox.h"

class CUpdateDlg;

// What a front end supplies.
struct LauncherFrontEnd {
    // The GUI thread's loop; Run() is the main window's modal run.
    EventLoop* Loop = nullptr;
    // Boxes raised before the main window exists (text table loader, second instance).
    MessageBoxFunction ShowMessageBox;
    // Creates the main window for `dialog`. The window hands its button presses to
    // dialog.OnCommand, close requests to dialog.OnClose and key presses to
    // dialog.PreTranslateKeyDown; its CloseWindow() makes Loop->Run() return.
    std::function<std::unique_ptr<WindowAdapter>(CUpdateDlg& dialog)> CreateMainWindow;
    // Optional: called with the controller after its window was created, before the run.
    std::function<void(CUpdateDlg& dialog)> BeforeRun;
};

// What the launcher is started with: where it runs (the controller's environment), the
// switches, and the services (entries left empty are filled with the real implementations).
struct LauncherOptions : LauncherEnvironment {
    std::string CommandLine;  // the switches, as one line ("/l 1.2.3")
    LauncherServices Services;
};

enum class StartupResult { Refused, WindowEnded };

class CUpdateApp {
public:
    CUpdateApp(LauncherFrontEnd frontEnd, LauncherOptions options);
    ~CUpdateApp();
    CUpdateApp(const CUpdateApp&) = delete;
    CUpdateApp& operator=(const CUpdateApp&) = delete;

    // Runs start-up and the main window. Always false: nothing is left to run afterwards.
    bool InitInstance();
    StartupResult Result() const { return result_; }

private:
    LauncherFrontEnd frontEnd_;
    LauncherOptions options_;
    // Held until the process ends, like the named mutex it stands in for.
    std::unique_ptr<InstanceLock> instanceLock_;
    StartupResult result_ = StartupResult::Refused;
};

// message.wtf of the game directory, else the deployment's default table in its data
// directory, else the game directory's name (whose absence the loader then reports).
std::filesystem::path MessageTablePath(const std::filesystem::path& gameDirectory,
                                       const DeploymentSettings& settings);

// Copies the connect-server defaults of the deployment into g_State (address cut to 49
// characters).
void ApplyConnectDefaults(const DeploymentSettings& settings);
