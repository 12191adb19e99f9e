#pragma once
// The main window of the terminal launcher: a WindowAdapter that prints.
//   status lines       "status: TEXT" on stdout, whenever the first status line changes
//   message boxes      "CAPTION: TEXT" on stderr
//   progress           a live line on a terminal (bars, bytes done/total, rate, time left,
//                      version and file); otherwise lines, at most four a second:
//                      "progress: TOTAL% FILE% DONE/TOTAL RATE ETA VERSION NAME"
//                      (bytes, bytes per second, seconds; "?" where unknown; the last four
//                      fields only while a transfer runs)
// Texts arrive as bytes in the deployment's code page and are printed as UTF-8.

#include <chrono>
#include <cstdio>
#include <string>

#include "app/WindowAdapter.h"
#include "platform/EventLoop.h"

class CliWindow : public WindowAdapter {
public:
    CliWindow(EventLoop& loop, std::string codePage, std::FILE* out, std::FILE* err, bool terminal);

    void ShowControl(int controlId, bool visible) override;
    void EnableControl(int, bool) override {}
    void SetButtonCaption(int, const std::string&, int, int, std::uint32_t) override {}
    void MoveBrowser(int, int, int, int) override {}
    void NavigateBrowser(const std::string&) override {}
    void SetBackgroundBitmap(int) override {}
    void Repaint(const WindowRect& area, const MainWindowPaintState& state) override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxIcon icon) override;
    void RunOptionsDialog(const std::array<std::uint8_t, 3>& clientVersion) override;
    void PlaySound(const std::string&) override {}
    void OpenLink(const std::string& url) override;
    void CloseWindow() override;
    // Transfers call this after every chunk, thousands of times a second: the loop is looked
    // at once per kPumpInterval of such work, as the window does, which still answers a key
    // or a signal long before anyone could notice.
    bool PumpOneEvent() override;

    // The last status line, UTF-8.
    const std::string& LastStatus() const { return lastStatus_; }
    // Ends a live progress bar's line so the next output starts on a fresh one.
    void FinishProgressLine();
    // Quiet: no status or progress lines (message boxes still go to stderr).
    void SetQuiet(bool quiet) { quiet_ = quiet; }

private:
    std::string Decode(const std::string& bytes) const;
    void PrintProgress(const MainWindowPaintState& state);

    static constexpr std::chrono::milliseconds kPumpInterval{4};

    EventLoop& loop_;
    std::chrono::steady_clock::time_point lastPump_{};
    std::string codePage_;
    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    bool quiet_ = false;
    bool closed_ = false;

    std::string lastStatus_;
    // The status line's bytes as last decoded: the session repaints for every piece it
    // receives, and converting the same text again each time cost more than the window's
    // whole repaint.
    std::string lastStatusBytes_;
    std::string lastProgress_;
    bool progressLineOpen_ = false;
    std::chrono::steady_clock::time_point lastProgressTime_{};
    // The rate: bytes since an anchor that moves on every second or so.
    std::string rateName_;
    std::chrono::steady_clock::time_point rateSince_{};
    std::uint64_t rateBytes_ = 0;
    double bytesPerSecond_ = 0;
};
