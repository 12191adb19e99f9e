#include "cli/CliWindow.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "platform/CodePage.h"

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(250);

std::string Bar(int percent, int width) {
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    return std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-');
}

// 812 B, 1.5 KiB, 8.0 MiB, 1.2 GiB
std::string Bytes(double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

// 0:28, 12:05, 1:02:03
std::string Duration(std::uint64_t seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned long long>(seconds / 60 % 60),
                      static_cast<unsigned long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu",
                      static_cast<unsigned long long>(seconds / 60),
                      static_cast<unsigned long long>(seconds % 60));
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
    if (quiet_) return;
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
    if (state.ProgressVisible && (!state.PercentText[0].empty() || !state.TransferName.empty()))
        PrintProgress(state);
}

void CliWindow::PrintProgress(const MainWindowPaintState& state) {
    const std::string total = state.PercentText[0].empty() ? "0%" : state.PercentText[0];
    const std::string file = state.PercentText[1].empty() ? "0%" : state.PercentText[1];
    const auto now = std::chrono::steady_clock::now();

    // The rate, from bytes: over the last second or so, restarted with every new transfer,
    // which counts from its own start (a transfer over within a repaint or two has one too).
    if (state.TransferName != rateName_ || state.TransferDone < rateBytes_) {
        rateName_ = state.TransferName;
        const bool started = state.TransferStarted != std::chrono::steady_clock::time_point{} &&
                             state.TransferStartDone <= state.TransferDone;
        rateBytes_ = started ? state.TransferStartDone : state.TransferDone;
        rateSince_ = started ? state.TransferStarted : now;
        bytesPerSecond_ = 0;
    }
    const double seconds = std::chrono::duration<double>(now - rateSince_).count();
    const bool ended = state.TransferTotal > 0 && state.TransferDone >= state.TransferTotal;
    // A short span gives a jumpy rate: it is taken only when nothing longer will come.
    if (seconds > 0 && (seconds >= 0.2 || ended))
        bytesPerSecond_ = static_cast<double>(state.TransferDone - rateBytes_) / seconds;
    if (seconds >= 1.0) {
        rateBytes_ = state.TransferDone;
        rateSince_ = now;
    }

    const std::string key =
        total + " " + file + " " + state.TransferName + " " + std::to_string(state.TransferDone);
    if (key == lastProgress_) return;
    const bool transferDone = state.TransferTotal > 0 && state.TransferDone >= state.TransferTotal;
    const bool allDone = total == "100%" && file == "100%";
    if (!transferDone && !allDone && now - lastProgressTime_ < kProgressInterval) return;
    lastProgress_ = key;
    lastProgressTime_ = now;

    const bool transfer = !state.TransferName.empty();
    const bool known = state.TransferTotal > 0;
    std::optional<std::uint64_t> eta;
    if (known && bytesPerSecond_ > 0 && state.TransferDone <= state.TransferTotal)
        eta = static_cast<std::uint64_t>(
            (state.TransferTotal - state.TransferDone) / bytesPerSecond_ + 0.5);
    const std::string name = Decode(state.TransferName);

    if (terminal_) {
        const int totalPercent = std::atoi(total.c_str());
        const int filePercent = std::atoi(file.c_str());
        std::string line =
            "[" + Bar(totalPercent, 10) + "] " + total + " [" + Bar(filePercent, 10) + "] " + file;
        if (transfer) {
            line += "  " + Bytes(static_cast<double>(state.TransferDone));
            if (known) line += "/" + Bytes(static_cast<double>(state.TransferTotal));
            line += "  " + Bytes(bytesPerSecond_) + "/s";
            if (eta) line += "  ETA " + Duration(*eta);
            line += "  " + state.TransferVersion + " " + name;
        } else if (!lastStatus_.empty()) {
            line += "  " + lastStatus_;
        }
        std::fprintf(out_, "\r\x1b[K%s", line.c_str());
        progressLineOpen_ = true;
    } else if (transfer) {
        std::fprintf(out_, "progress: %s %s %llu/%s %llu %s %s %s\n", total.c_str(), file.c_str(),
                     static_cast<unsigned long long>(state.TransferDone),
                     known ? std::to_string(state.TransferTotal).c_str() : "?",
                     static_cast<unsigned long long>(bytesPerSecond_ + 0.5),
                     eta ? std::to_string(*eta).c_str() : "?",
                     state.TransferVersion.empty() ? "?" : state.TransferVersion.c_str(),
                     name.c_str());
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
