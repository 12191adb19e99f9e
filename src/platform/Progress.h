#pragma once
// Progress and cancellation of one long piece of work: a download (HTTP or FTP client), the
// restoring of a compressed file, a patch session's file. One object per piece of work; the
// owner makes it, the work is handed a pointer (null: nobody watches, nothing cancels).
//
// Reporting. The work calls Report(done, total) as often as it likes. The owner's report
// function runs on the work's own thread, synchronously, for the first report and then at
// most once per interval (kReportInterval unless the owner chose another), so a fast loop
// cannot flood a window with redraws; the throttling happens here, at the source. Finish
// passes on the final state whatever the interval (unless it is the one passed on last), so
// the owner always sees where the work ended. `total` 0 means the size is not known.
//
// Cancelling. Cancel() may be called from any thread at any time. The owner may also hand in
// a check of its own (a stop flag it already keeps); Cancelled() is true when either says
// so. The work asks Cancelled() between units of work and unwinds; it never blocks on it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

class Progress {
public:
    using ReportFunction = std::function<void(std::uint64_t done, std::uint64_t total)>;
    using CancelCheck = std::function<bool()>;
    static constexpr std::chrono::milliseconds kReportInterval{50};

    explicit Progress(ReportFunction report = {}, CancelCheck cancelled = {},
                      std::chrono::milliseconds interval = kReportInterval);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Work thread.
    void Report(std::uint64_t done, std::uint64_t total);
    void Finish(std::uint64_t done, std::uint64_t total);

    // Any thread.
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_.load() || (check_ && check_()); }

private:
    ReportFunction report_;
    CancelCheck check_;
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point lastReport_{};
    bool reported_ = false;
    std::uint64_t lastDone_ = 0;
    std::uint64_t lastTotal_ = 0;
    std::atomic<bool> cancelled_{false};
};
