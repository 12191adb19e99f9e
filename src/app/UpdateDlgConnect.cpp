// The worker threads of CUpdateDlg: the connect thread, which tries the connect server about
// once a second until a connection stands or the go-ahead has come and never keeps the window
// from closing; and the end of the HTTP patch worker, which tells the front end when the
// session ended without making the client current.

#include <chrono>

#include "app/LauncherState.h"
#include "app/UpdateDlg.h"
#include "text/MessageNumbers.h"

void CUpdateDlg::StartConnectThread() {
    const bool again = connectThread_.joinable();
    if (again) {
        if (!connectThreadEnded_) return;  // still trying
        connectThread_.join();
    }
    if (closing_) return;
    // A connection left open by the earlier exchange (a patch session that failed before it
    // closed it) would make every new attempt fail at once: the new thread starts afresh.
    if (again) services_.Connection->CloseConnection();
    connectThreadEnded_ = false;
    connectThread_ = std::thread([this] {
        ConnectThreadProc();
        connectThreadEnded_ = true;
    });
}

void CUpdateDlg::StopConnectThread() {
    {
        std::lock_guard<std::mutex> lock(sleepMutex_);
        closing_ = true;
    }
    sleepWake_.notify_all();
    services_.Clock->Wake();
    if (!connectThread_.joinable()) return;
    services_.Connection->AbandonConnect();
    connectThread_.join();
}

bool CUpdateDlg::WaitForGreeting() {
    std::unique_lock<std::mutex> lock(sleepMutex_);
    return sleepWake_.wait_for(lock, std::chrono::milliseconds(environment_.GreetingTimeoutMs),
                               [this] {
                                   return closing_.load() || greeted_.load() ||
                                          g_State.ServerListReceived.load() == 1;
                               }) &&
           !closing_;
}

void CUpdateDlg::ConnectThreadProc() {
    while (!closing_) {
        if (g_State.ServerListReceived.load() == 1) return;
        if (connectRequest_ == 1) {
            // The request is taken before the attempt, not cleared after it: a Start pressed
            // while the attempt runs asks again, and that request must outlive the attempt.
            connectRequest_ = 0;
            PostToWindow([this] {
                if (connected_ == 0) SetStatusText(kMsgConnecting);
            });
            const std::string target = ConnectTarget();
            LogEvent("connecting to the connect server " + target);
            greeted_ = false;
            const bool connected = services_.Connection->Connect(
                g_State.ServerAddress, g_State.ServerPort, [this] { messages_.DispatchPackets(); });
            {
                std::lock_guard<std::mutex> lock(transferMutex_);
                lastConnectFailure_ =
                    connected ? std::string() : services_.Connection->LastConnectError();
            }
            if (connected) {
                LogEvent("connected to " + target);
                // A peer that accepts and then says nothing is no connect server: after the
                // greeting timeout the connection is dropped and tried again.
                if (environment_.GreetingTimeoutMs == 0 || WaitForGreeting()) return;
                if (closing_) return;
                {
                    std::lock_guard<std::mutex> lock(transferMutex_);
                    lastConnectFailure_ =
                        "it accepted the connection but sent no greeting "
                        "within " +
                        std::to_string(environment_.GreetingTimeoutMs) + " ms";
                }
                PostToWindow([this] { services_.Connection->CloseConnection(); });
            }
            if (closing_) return;
            const std::string cause = LastConnectFailure();
            LogFailure("cannot connect to the connect server " + target + ": " +
                       (cause.empty() ? std::string("cannot connect") : cause));
            PostToWindow([this] {
                if (connected_ == 0) SetStatusText(kMsgConnectRetrying);
            });
            services_.Clock->Sleep(500);
            if (closing_) return;
            {
                // The flags change here, in order with this thread's next attempt; only the
                // window's part of ResetToConnect waits for the GUI thread. A go-ahead that
                // came meanwhile (over a connection made before) stands: nothing of it may be
                // undone, or the server view would show with a game that cannot start.
                std::lock_guard<std::mutex> lock(connectFlagsMutex_);
                if (connected_ == 1 || g_State.ServerListReceived.load() == 1) return;
                connected_ = 0;
                connectRequest_ = 1;
            }
            PostToWindow([this] {
                if (connected_ == 1) return;
                SetStatusText(kMsgConnecting);
                HideStartButton();
            });
        }
        services_.Clock->Sleep(500);
    }
}

void CUpdateDlg::OnHttpPatchEnded() {
    if (closing_) return;
    // Posted after everything the worker posted: the ready state, if it came, is set.
    PostToWindow([this] {
        if (!closing_ && connected_ == 0 && observer_.PatchFailed) observer_.PatchFailed();
    });
}
