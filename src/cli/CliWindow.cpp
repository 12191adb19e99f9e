#include "cli/CliWindow.h"

#include <algorithm>

#include "platform/CodePage.h"

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(250);

std::string Bar(int percent, int width) {
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    return std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-');
}

std::string Speed(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.0f KiB/s", bytesPerSecond / 1024.0);
    return text;
}

}  // namespace

CliWindow::CliWindow(EventLoop& loop, std::string codePage, std::FILE* out, std::FILE* err,
                     bool terminal)
    : loop_(loop), codePage_(std::move(codePage)), out_(out), err_(err), terminal_(terminal) {}

std::string CliWindow::Decode(const std::string& bytes) const {
    return DecodeToUtf8(bytes, codePage_);
}

void CliWindow::FinishProgressLine() {
    if (progressLineOpen_) {
        std::fputc('\n', out_);
        progressLineOpen_ = false;
    }
}

void CliWindow::ShowControl(int, bool) {}

void CliWindow::Repaint(const WindowRect&, const MainWindowPaintState& state) {
    if (state.StatusText != lastStatusBytes_) {
        lastStatusBytes_ = state.StatusText;
        const std::string status = Decode(state.StatusText);
        if (status != lastStatus_) {
            lastStatus_ = status;
            if (!status.empty()) {
                FinishProgressLine();
                std::fprintf(out_, "status: %s\n", status.c_str());
                std::fflush(out_);
            }
        }
    }
    if (state.ProgressVisible && !state.PercentText[0].empty()) PrintProgress(state);
}

void CliWindow::PrintProgress(const MainWindowPaintState& state) {
    const std::string total = state.PercentText[0];
    const std::string file = state.PercentText[1];
    const std::string key = total + " " + file;
    const auto now = std::chrono::steady_clock::now();
    if (key == lastProgress_) return;
    const bool done = total == "100%" && file == "100%";
    if (!done && now - lastProgressTime_ < kProgressInterval) return;

    // Speed from the file bar's position (bytes of the current transfer).
    const int position = state.BarPosition[1];
    const double seconds = std::chrono::duration<double>(now - speedSince_).count();
    if (position < speedPosition_) {
        speedPosition_ = 0;
        speedSince_ = now;
    } else if (seconds >= 0.5) {
        bytesPerSecond_ = (position - speedPosition_) / seconds;
        speedPosition_ = position;
        speedSince_ = now;
    }
    lastProgress_ = key;
    lastProgressTime_ = now;

    if (terminal_) {
        const int totalPercent = std::atoi(total.c_str());
        const int filePercent = std::atoi(file.c_str());
        std::fprintf(out_, "\r\x1b[K[%s] %4s  [%s] %4s  %s  %s%s%s", Bar(totalPercent, 20).c_str(),
                     total.c_str(), Bar(filePercent, 20).c_str(), file.c_str(),
                     Speed(bytesPerSecond_).c_str(), lastStatus_.c_str(),
                     state.ProgressCaption.empty() ? "" : "  ",
                     Decode(state.ProgressCaption).c_str());
        progressLineOpen_ = true;
    } else {
        std::fprintf(out_, "progress: %s %s\n", total.c_str(), file.c_str());
    }
    std::fflush(out_);
}

void CliWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                               MessageBoxIcon) {
    FinishProgressLine();
    std::fflush(out_);
    std::fprintf(err_, "%s: %s\n", Decode(caption).c_str(), Decode(text).c_str());
    std::fflush(err_);
}

void CliWindow::RunOptionsDialog(const std::array<std::uint8_t, 3>&) {
    FinishProgressLine();
    std::fprintf(err_, "options: the game options can be set with the window launcher\n");
    std::fflush(err_);
}

void CliWindow::OpenLink(const std::string& url) {
    FinishProgressLine();
    std::fprintf(out_, "link: %s\n", Decode(url).c_str());
    std::fflush(out_);
}

void CliWindow::CloseWindow() {
    FinishProgressLine();
    std::fflush(out_);
    if (closed_) return;
    closed_ = true;
    loop_.Quit();
}

bool CliWindow::PumpOneEvent() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < kPumpInterval) return false;
    lastPump_ = now;
    return loop_.PumpOne();
}
