#pragma once
// How the patch engine reaches the main window.
//
// The engine (versions, lists, installation, patch.log) and the two patch sessions built on it
// decide everything themselves; whatever they show goes through this interface, which the main
// window controller implements (and the tests implement by recording calls). Keeping the
// window behind it is what lets the engine live below the application layer.
//
// Threads. The FTP session and every installer step it runs work on the GUI thread and call
// these operations directly. The HTTP session runs the same engine code on its own worker
// thread and calls them from there: an implementation must therefore accept every operation
// except PumpOneEvent from any thread, marshal what touches the window to the GUI thread
// (EventLoop::Post) and return without waiting for the window, except ShowMessageBox, which
// may wait until the box is dismissed. The getters (GetBarPosition, GetBarPercent,
// MessageText) must be safe from any thread. PumpOneEvent is only ever called on the GUI
// thread (the engine does not pump when SetPumpEvents(false) was set for a worker).
//
// Texts are bytes in the deployment's code page, exactly as the message table holds them.

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/MessageBox.h"

enum class PatchBar { Total = 0, File = 1 };

// The transfer under way, in bytes: what the file bar shows, for people and scripts.
struct TransferProgress {
    std::string Name;         // the file or archive as the server names it
    std::uint64_t Done = 0;   // bytes received so far
    std::uint64_t Total = 0;  // bytes announced or listed; 0 when unknown
};

class PatchHost {
public:
    virtual ~PatchHost() = default;

    // Text number `messageNumber` of the message table (a missing number yields the table's
    // first text; an empty table "Msg error").
    virtual std::string MessageText(int messageNumber) = 0;

    // First status line: a message of the table by number, or given bytes.
    virtual void SetStatusText(int messageNumber) = 0;
    virtual void SetStatusText(const std::string& text) = 0;

    // The two progress bars (total: patches, file: the current transfer).
    virtual void SetBarRange(PatchBar bar, int range) = 0;
    virtual void SetBarPosition(PatchBar bar, int position) = 0;
    virtual int GetBarPosition(PatchBar bar) = 0;
    // Truncated position / range * 100, each counted as at least 1.
    virtual int GetBarPercent(PatchBar bar) = 0;

    // Redraws the percent texts and the progress caption (the engine's ProgressCaption()).
    virtual void UpdateProgressText() = 0;
    // Repaints the window now, so that bars and texts show the latest values.
    virtual void RefreshWindow() = 0;

    // GUI thread only: handles at most one pending window event without blocking. Button
    // handlers run inside this call and may set StopTransfer, close connections or close the
    // window; the engine re-checks its flags when it returns.
    virtual bool PumpOneEvent() = 0;

    // A message box owned by the main window.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption,
                                MessageBoxIcon icon) = 0;
    // A message box whose caption is message 128; `text` is already formatted.
    virtual void ShowFormattedMessage(const std::string& text) = 0;

    // The main window's ready state: status message 126 and the server view.
    virtual void OnConnectReady() = 0;
    // The start button ("Connect"), shown and enabled, or hidden and disabled.
    virtual void ShowStartButton() = 0;
    virtual void HideStartButton() = 0;
    // Ends the main window's run (the launcher then ends).
    virtual void CloseMainWindow() = 0;
    // The self-update hand-off: closes the connections, starts the game client and ends the
    // launcher (the game launch's own path).
    virtual void StartGameAfterPatch() = 0;
    // Closes the connect-server connection (the FTP session talks only to the patch server
    // from then on).
    virtual void CloseConnectServerConnection() = 0;

    // Any thread. The bytes of the transfer under way (called for every chunk; the host
    // throttles what it shows). A new Name starts a new transfer.
    virtual void OnTransferProgress(const TransferProgress& progress) { (void)progress; }
    // Any thread. One line for the run's log: what was fetched from where.
    virtual void LogEvent(const std::string& text) { (void)text; }
    // Any thread. Why a step failed (server, URL or remote path, reply, local path and system
    // error): for the log and for people (the terminal's stderr).
    // Without a log of its own, a host shows it on stderr.
    virtual void LogFailure(const std::string& text) {
        std::fprintf(stderr, "torvane: %s\n", text.c_str());
        LogEvent("error: " + text);
    }
};
