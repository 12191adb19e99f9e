#include "platform/Progress.h"

Progress::Progress(ReportFunction report, CancelCheck cancelled, std::chrono::milliseconds interval)
    : report_(std::move(report)), check_(std::move(cancelled)), interval_(interval) {}

void Progress::Report(std::uint64_t done, std::uint64_t total) {
    if (!report_) return;
    const auto now = std::chrono::steady_clock::now();
    if (reported_ && now - lastReport_ < interval_) return;
    lastReport_ = now;
    reported_ = true;
    lastDone_ = done;
    lastTotal_ = total;
    report_(done, total);
}

void Progress::Finish(std::uint64_t done, std::uint64_t total) {
    if (!report_) return;
    if (reported_ && done == lastDone_ && total == lastTotal_) return;
    lastReport_ = std::chrono::steady_clock::now();
    reported_ = true;
    lastDone_ = done;
    lastTotal_ = total;
    report_(done, total);
}
