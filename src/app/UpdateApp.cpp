#include "app/UpdateApp.h"

#include <cstring>

#include "app/CommandLine.h"
#include "app/LauncherState.h"
#include "app/UpdateDlg.h"
#include "platform/GamePath.h"
#include "text/MessageNumbers.h"
#include "text/MessageTable.h"

void ApplyConnectDefaults(const DeploymentSettings& settings) {
    std::memset(g_State.ServerAddress, 0, sizeof(g_State.ServerAddress));
    const std::size_t length =
        std::min(settings.ConnectAddress.size(), sizeof(g_State.ServerAddress) - 1);
    std::memcpy(g_State.ServerAddress, settings.ConnectAddress.data(), length);
    g_State.ServerPort = settings.ConnectPort;
}

std::filesystem::path MessageTablePath(const std::filesystem::path& gameDirectory,
                                       const DeploymentSettings& settings) {
    std::error_code ec;
    const auto inGame = GamePath(gameDirectory).Resolve("message.wtf");
    if (inGame && std::filesystem::exists(*inGame, ec)) return *inGame;
    // A game directory without its own texts uses the deployment's default table.
    if (!settings.DataDirectory.empty()) {
        const auto fallback = GamePath(settings.DataDirectory).Resolve("message.wtf");
        if (fallback && std::filesystem::exists(*fallback, ec)) return *fallback;
    }
    return inGame ? *inGame : gameDirectory / "message.wtf";
}

CUpdateApp::CUpdateApp(LauncherFrontEnd frontEnd, LauncherOptions options)
    : frontEnd_(std::move(frontEnd)), options_(std::move(options)) {}

CUpdateApp::~CUpdateApp() = default;

bool CUpdateApp::InitInstance() {
    instanceLock_ = std::make_unique<InstanceLock>(options_.GameDirectory);

    // The table comes before the instance check: the refusal text is in it.
    g_MessageTable.SetMessageBoxFunction(frontEnd_.ShowMessageBox);
    g_MessageTable.Load(MessageTablePath(options_.GameDirectory, options_.Settings).string());

    if (instanceLock_->AlreadyExists()) {
        if (options_.Log) options_.Log->Write("refused: " + instanceLock_->Describe());
        // Message 127, and which folder is taken by whom.
        if (frontEnd_.ShowMessageBox)
            frontEnd_.ShowMessageBox(
                std::string(GetText(kMsgAlreadyRunning)) + "\n\n" + instanceLock_->Describe(),
                options_.Settings.ProductName, MessageBoxIcon::Stop);
        result_ = StartupResult::Refused;
        return false;
    }

    ApplyCommandLineSwitches(options_.CommandLine, g_State);
    ApplyConnectDefaults(options_.Settings);

    {
        auto dialog = std::make_unique<CUpdateDlg>(
            *frontEnd_.Loop, static_cast<const LauncherEnvironment&>(options_),
            std::move(options_.Services));
        std::unique_ptr<WindowAdapter> window = frontEnd_.CreateMainWindow(*dialog);
        dialog->AttachWindow(*window);
        if (frontEnd_.BeforeRun) frontEnd_.BeforeRun(*dialog);
        dialog->OnInitDialog();
        frontEnd_.Loop->Run();
        dialog->OnClose();
        dialog.reset();
    }
    result_ = StartupResult::WindowEnded;
    return false;
}
