#pragma once
// The main window as the controller sees it.
//
// CUpdateDlg decides everything from the launcher's state; what it does to the screen goes
// through this interface and nothing else. The GTK main window implements it by drawing, the
// terminal front end by printing status lines and progress bars, the tests by recording calls.
// Keeping the decisions on this side is what lets all three drive the same controller.
//
// Every operation runs on the GUI thread. Worker threads (connect thread, HTTP patch thread)
// reach the window only through EventLoop::Post, which the controller does for them.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/MessageBox.h"
#include "ui/WindowRect.h"

// What the painted part of the main window shows; handed over with every repaint request.
// Texts are bytes in the deployment's code page, exactly as the text table holds them.
struct MainWindowPaintState {
    bool ProgressVisible = false;
    std::string StatusText;
    std::string TitleText;
    std::array<std::string, 2> PercentText;
    std::array<int, 2> BarRange{};  // total bar, file bar
    std::array<int, 2> BarPosition{};
    // The patch session's "n/m" caption drawn with the progress display; empty when none.
    std::string ProgressCaption;
    // The transfer under way, in bytes (the window draws the bars; the terminal prints these):
    // the file or archive, the version it belongs to ("1.00.02"), bytes so far and in all
    // (0: unknown). TransferName is empty while nothing is being transferred.
    std::string TransferName;
    std::string TransferVersion;
    std::uint64_t TransferDone = 0;
    std::uint64_t TransferTotal = 0;
    // When the current transfer began and how many bytes it had then, so a rate can be had
    // from its first report on, however late the window sees it.
    std::chrono::steady_clock::time_point TransferStarted{};
    std::uint64_t TransferStartDone = 0;
};

class WindowAdapter {
public:
    virtual ~WindowAdapter() = default;

    // Controls are named by their dialog ids (buttons 2000..2028, server buttons 6501..6510,
    // news view 1004).
    virtual void ShowControl(int controlId, bool visible) = 0;
    virtual void EnableControl(int controlId, bool enabled) = 0;
    // Server button captions: text bytes, font cell width/height in pixels, colour 0xRRGGBB.
    virtual void SetButtonCaption(int controlId, const std::string& caption, int fontWidth,
                                  int fontHeight, std::uint32_t colour) = 0;

    // News view placement, as left/top/width/height in client pixels.
    virtual void MoveBrowser(int left, int top, int width, int height) = 0;
    virtual void NavigateBrowser(const std::string& url) = 0;

    virtual void SetBackgroundBitmap(int bitmapId) = 0;

    // Repaints `area` now from `state`. The state always describes the whole window.
    virtual void Repaint(const WindowRect& area, const MainWindowPaintState& state) = 0;

    // Modal message box; returns when the user dismissed it. `caption` and `text` are bytes
    // in the deployment's code page.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption,
                                MessageBoxIcon icon) = 0;

    // Runs the game options dialog modally for the installed client version.
    virtual void RunOptionsDialog(const std::array<std::uint8_t, 3>& clientVersion) = 0;

    // Plays a WAV file asynchronously; silently nothing when it or a sound device is missing.
    virtual void PlaySound(const std::string& path) = 0;

    // Opens a web link in the user's browser; failures are ignored by the caller.
    virtual void OpenLink(const std::string& url) = 0;

    // Ends the modal run of the main window: the front end makes EventLoop::Run() return
    // (the process then ends). Called once, from CUpdateDlg::OnClose.
    virtual void CloseWindow() = 0;

    // Handles one pending window event, if any, without blocking (see EventLoop::PumpOne).
    virtual bool PumpOneEvent() = 0;
};
