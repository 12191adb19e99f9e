#pragma once
// CUpdateDlg: the controller of the launcher's main window and of its whole run. It decides
// what the window shows from the launcher's state (g_State and its own flags) and acts on the
// screen only through WindowAdapter, so the window launcher, the terminal launcher and the
// tests drive the same code.
//
// Threads: everything runs on the GUI thread except the connect thread, whose effects on the
// window are posted to the GUI thread through the EventLoop. Public operations are GUI-thread
// operations unless said otherwise.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/LauncherEnvironment.h"
#include "app/LauncherServices.h"
#include "app/WindowAdapter.h"
#include "net/ConnectMessages.h"
#include "net/ConnectServerEvents.h"
#include "patch/PatchEngine.h"
#include "patch/PatchHost.h"
#include "patch/RepositoryVerifier.h"
#include "platform/DeploymentSettings.h"
#include "platform/EventLog.h"
#include "platform/EventLoop.h"
#include "platform/Registry.h"
#include "ui/MainWindowLayout.h"

// What a front end may want to know beyond what the window shows (the terminal launcher
// decides its exit status from these). All run on the GUI thread.
struct ControllerObserver {
    std::function<void()> Greeted;      // the connect server greeted this launcher
    std::function<void()> Ready;        // the server view is up, the client is current
    std::function<void()> PatchFailed;  // a patch session reported failure
    std::function<void(int shellResult)> GameStarted;  // the post-patch start handed over
};

class CUpdateDlg : public ConnectServerEvents, public PatchHost {
public:
    // Services left empty get the real implementations (CompleteServices).
    CUpdateDlg(EventLoop& loop, LauncherEnvironment environment, LauncherServices services);
    virtual ~CUpdateDlg();
    CUpdateDlg(const CUpdateDlg&) = delete;
    CUpdateDlg& operator=(const CUpdateDlg&) = delete;

    // The front end creates its window for this controller, then attaches it here before
    // OnInitDialog. The window must outlive the controller's use of it (until OnClose).
    void AttachWindow(WindowAdapter& window) { window_ = &window; }
    void SetObserver(ControllerObserver observer) { observer_ = std::move(observer); }

    // Window created: controls, views, settings sync, connect thread, desktop entry.
    void OnInitDialog();
    // A button press (dialog control id).
    void OnCommand(int controlId);
    // A key press before the window handles it; true when swallowed (Escape never closes).
    bool PreTranslateKeyDown(int keyCode) const;
    // The window is asked to close (window manager, or the launcher itself).
    void OnClose();

    // Main window operations. Those that the patch engine also reaches through PatchHost
    // accept any thread and marshal to the GUI thread (see PatchHost.h); the rest are GUI
    // thread only.
    void SetStatusText(const std::string& text) override;
    void SetStatusText(int messageNumber) override;
    void SetTitleText(const std::string& text);
    void UpdateProgressText() override;
    void OnConnectReady() override;
    void ResetToConnect();
    void ShowProgressView();
    void ShowServerView();
    void OnServerButton(int index);
    void ShowStartButton() override;
    void HideStartButton() override;
    void EnableStartButton();

    void StartGame();
    void StartGameAfterPatch() override;

    void SetBarRange(PatchBar bar, int range) override;
    void SetBarPosition(PatchBar bar, int position) override;
    int GetBarPosition(PatchBar bar) override;
    int GetBarPercent(PatchBar bar) override;
    // Repaints the whole window from the current state.
    void RefreshWindow() override;
    bool PumpOneEvent() override;

    void ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxIcon icon) override;
    void ShowFormattedMessage(const std::string& text) override;
    // A box captioned with the product name, as the framework's own boxes are.
    void ShowStopMessage(int messageNumber);
    std::string MessageText(int messageNumber) override;
    void CloseMainWindow() override;
    void CloseConnectServerConnection() override;

    // What the connect-server messages set off.
    void SetStatusMessage(int number) override { SetStatusText(number); }
    void ShowAndEnableStartButton() override;
    std::array<std::uint8_t, 3> ClientVersion() const override;
    void SetHttpPatchServer(const PatchServerInfo& codedInfo) override;
    bool StartHttpPatch() override;
    bool RunFtpPatch(const PatchServerInfo& info) override;
    bool PatchSessionActive() const override;
    void OnGreeting() override;

    // The run's log (any thread); failures are also shown where the front end shows them.
    void LogEvent(const std::string& text) override;
    void LogFailure(const std::string& text) override;
    void OnTransferProgress(const TransferProgress& progress) override;
    // Why the last connect attempt failed (any thread); empty when none failed.
    std::string LastConnectFailure() const;

    // State, for the front ends and tests.
    MainWindowPaintState PaintState() const;
    int Connected() const { return connected_; }
    int ConnectRequest() const { return connectRequest_; }
    int ReadyToStart() const { return readyToStart_; }
    std::uint32_t WindowMode() const { return windowMode_; }
    const LauncherEnvironment& Environment() const { return environment_; }
    Registry& RegistryStore() { return *registry_; }
    PatchEngine& Engine() { return engine_; }

    // The patch engine's transfer flag: 1 while no transfer may run.
    std::atomic<int>& StopTransfer() { return engine_.StopTransfer; }

    // The connect thread is still trying (started and not yet ended).
    bool ConnectThreadRunning() const {
        return connectThread_.joinable() && !connectThreadEnded_.load();
    }
    bool Greeted() const { return greeted_; }

private:
    void BuildControls();
    void MoveNewsView(const WindowRect& place);
    void SyncWindowModeSetting();
    void PrepareWorkingFiles();
    void StartConnectThread();
    void StopConnectThread();
    void ConnectThreadProc();
    // Connect thread: after a connect, waits for the greeting; false when none came in time.
    bool WaitForGreeting();
    std::string ConnectTarget() const;
    std::string ForLog(const std::string& codePageText) const;
    // Worker thread: the HTTP session has ended; tells the front end when it failed.
    void OnHttpPatchEnded();
    void PostToWindow(std::function<void()> task);
    void OnExitButton();
    // Closes the connect-server and FTP connections. A transfer that runs is told to stop and
    // the window goes back to connecting; true when one ran.
    bool StopTransferAndDisconnect();
    void CloseConnections();
    void PlayClick();
    void CopySelectedServerToLaunch();
    std::string GameArguments() const;
    void ShowShellResult(int shellResult);
    void LogShellResult(int shellResult);
    std::string Text(int number) const;
    bool GameInstalled() const;
    bool OnGuiThread() const { return std::this_thread::get_id() == guiThread_; }
    // Called first by the operations that a worker may reach: from a worker thread, posts
    // `task` (the same call again) to the GUI thread and returns true, and the caller returns;
    // on the GUI thread, false, and the caller goes on.
    template <typename Task>
    bool PostedFromWorker(Task&& task) {
        if (OnGuiThread()) return false;
        PostToWindow(std::forward<Task>(task));
        return true;
    }

    EventLoop& loop_;
    LauncherEnvironment environment_;
    LauncherServices services_;
    std::unique_ptr<Registry> registry_;  // the store the deployment chose
    WindowAdapter* window_ = nullptr;
    ControllerObserver observer_;

    std::atomic<int> connected_{0};
    std::atomic<int> connectRequest_{1};
    std::atomic<int> readyToStart_{0};
    std::uint32_t windowMode_ = 0;
    std::thread::id guiThread_ = std::this_thread::get_id();
    PatchEngine engine_;
    // Present when the deployment names trusted keys; the engine's Verifier points at it.
    std::unique_ptr<RepositoryVerifier> verifier_;
    ConnectMessages messages_;
    std::shared_ptr<PatchSessions> patches_;

    std::string statusText_;
    std::string titleText_;
    std::array<std::string, 2> percentText_;
    // Ranges and positions of the total and file bars, kept as CProgressBar keeps them
    // (range at least 1, position within 0..range); written by the patch sessions from
    // either thread, drawn by the window from the paint state.
    std::array<std::atomic<int>, 2> barRange_{1, 1};
    std::array<std::atomic<int>, 2> barPosition_{0, 0};
    // A bar moved since the percent texts were last computed: they follow on the next repaint.
    std::atomic<bool> barsMoved_{false};
    mutable std::mutex transferMutex_;
    TransferProgress transfer_;
    std::chrono::steady_clock::time_point transferStarted_{};  // under transferMutex_
    std::uint64_t transferStartDone_ = 0;                      // under transferMutex_
    std::string lastConnectFailure_;                           // under transferMutex_
    std::atomic<bool> greeted_{false};

    std::thread connectThread_;
    std::atomic<bool> connectThreadEnded_{false};
    bool ftpSessionRunning_ = false;  // RunFtpPatch is on the GUI thread's stack
    std::atomic<bool> closing_{false};
    // Orders the connect thread's reset after a failed attempt with the go-ahead's flags.
    std::mutex connectFlagsMutex_;
    // The greeting wait: woken by the greeting and by closing.
    std::mutex sleepMutex_;
    std::condition_variable sleepWake_;
    // Posted tasks check this before touching a controller that may be gone.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};
