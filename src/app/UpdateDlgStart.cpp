// The start button and the start after a self-updating patch: hand the chosen server to the
// game client and end the launcher.

#include <cstdio>
#include <cstring>

#include "app/GameLaunch.h"
#include "app/LauncherState.h"
#include "app/UpdateDlg.h"
#include "text/MessageNumbers.h"

void CUpdateDlg::CopySelectedServerToLaunch() {
    int selected = g_State.SelectedServer;
    if (selected < 0 || selected >= kServerEntryCount) selected = 0;
    const ServerEntry& entry = g_State.ServerEntries[selected];
    // The address field may fill all 16 bytes with no terminator: copy at most that much.
    std::memset(g_State.LaunchAddress, 0, sizeof(g_State.LaunchAddress));
    std::memcpy(g_State.LaunchAddress, entry.Address,
                strnlen(entry.Address, sizeof(entry.Address)));
    std::snprintf(g_State.LaunchPort, sizeof(g_State.LaunchPort), "%d",
                  static_cast<int>(entry.Port));
}

std::string CUpdateDlg::GameArguments() const {
    return BuildGameArguments(g_State.LaunchAddress, g_State.LaunchPort,
                              environment_.Settings.ScrambleKey);
}

void CUpdateDlg::LogShellResult(int shellResult) {
    if (shellResult > 32) {
        LogEvent("hand-off: " + environment_.Settings.GameClient + " started");
        return;
    }
    LogFailure("cannot start the game client " +
               (environment_.GameDirectory / environment_.Settings.GameClient).string() + ": " +
               DescribeStartFailure(environment_.GameDirectory, environment_.Settings.GameClient,
                                    shellResult));
}

void CUpdateDlg::ShowShellResult(int shellResult) {
    if (const int message = ShellResultMessage(shellResult)) ShowStopMessage(message);
}

void CUpdateDlg::StartGame() {
    if (connected_ == 0) {
        HideStartButton();
        connectRequest_ = 1;
        // The connect thread ends once a connection stands. After a patch session that
        // failed or was stopped it is gone, and the request alone would wait for ever: the
        // press starts a new one, and the connect server's answer resumes the patch.
        if (!PatchSessionActive()) StartConnectThread();
        return;
    }
    PlayClick();
    if (!ConfigFileExists(environment_.GameDirectory)) window_->RunOptionsDialog(ClientVersion());

    CopySelectedServerToLaunch();
    const std::string arguments = GameArguments();

    if (readyToStart_ == 1) CleanTempDirectory(environment_.GameDirectory);

    StopTransferAndDisconnect();

    ConnectionRegistry connection(*registry_, environment_.Settings.ScrambleKey,
                                  [clock = services_.Clock] { return clock->Tick(); });
    services_.GameStart->PrepareGameStart();
    registry_->PrepareForClientStart();
    connection.WriteLaunchStamp();
    if (!connection.WriteConnectionParameters(g_State.LaunchAddress,
                                              std::atoi(g_State.LaunchPort))) {
        LogFailure("the game hand-off could not be written: " + connection.Problem());
        ShowStopMessage(kMsgConnectionNotSaved);
        OnClose();
        return;
    }

    LogEvent("hand-off: starting " + environment_.Settings.GameClient + " for server " +
             g_State.LaunchAddress + ":" + g_State.LaunchPort);
    const int result =
        services_.GameStart->StartGameClient(environment_.Settings.GameClient, arguments);
    LogShellResult(result);
    ShowShellResult(result);
    g_State.ServerListReceived = 1;
    // The game owns the connection now; nothing of the launcher is cleaned up.
    services_.GameStart->EndProcess(result);
}

void CUpdateDlg::StartGameAfterPatch() {
    if (PostedFromWorker([this] { StartGameAfterPatch(); })) return;
    CopySelectedServerToLaunch();
    const std::string arguments = GameArguments();
    CloseConnections();
    LogEvent("hand-off after the launcher's own update: starting " +
             environment_.Settings.GameClient);
    const int result =
        services_.GameStart->StartGameClient(environment_.Settings.GameClient, arguments);
    LogShellResult(result);
    ShowShellResult(result);
    if (observer_.GameStarted) observer_.GameStarted(result);
    OnClose();
}
