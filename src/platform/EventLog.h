#pragma once
// The launcher's log: one line per event, appended to a file that survives the run.
//   2026-12-08 09:40:37.123 [4711] connect 127.0.0.1:44405: connection refused
// The default file is $XDG_STATE_HOME/torvane/torvane.log (~/.local/state/torvane/torvane.log).
// When it has grown past its cap it is moved to "<file>.1" (replacing the older one) and a new
// file is begun, so the log never takes more than about twice the cap. Lines may also be
// copied to a stream (the terminal launcher's --verbose).
//
// Threads: Write may be called from any thread; lines are never interleaved.
// A log that cannot be opened (read-only home, ...) costs the run nothing: lines go only to
// the copy stream, and Problem() says why.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

class EventLog {
public:
    static constexpr std::uint64_t kDefaultCap = 1024 * 1024;

    // Opens (creating its folder) or, with an empty path, writes nowhere.
    explicit EventLog(std::filesystem::path file, std::uint64_t cap = kDefaultCap);
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // $XDG_STATE_HOME/torvane/torvane.log, or ~/.local/state/torvane/torvane.log.
    static std::filesystem::path DefaultFile();

    // One event; line breaks inside `text` become blanks.
    void Write(const std::string& text);
    // A failure: written as "error: TEXT", and also shown on the failure stream as
    // "PREFIX: TEXT" (unless every line is copied there anyway).
    void Fail(const std::string& text);
    // Also writes every line to `stream` (nullptr: not).
    void CopyTo(std::FILE* stream);
    // Where failures are shown to people (the program's stderr), with the program's name.
    void ShowFailuresOn(std::FILE* stream, std::string prefix);

    const std::filesystem::path& File() const { return file_; }
    // Why the file could not be written; empty when it can.
    std::string Problem() const;

private:
    void OpenLocked();
    void RotateLocked();

    mutable std::mutex mutex_;
    std::filesystem::path file_;
    std::uint64_t cap_;
    std::FILE* out_ = nullptr;
    std::FILE* copy_ = nullptr;
    std::FILE* failures_ = nullptr;
    std::string failurePrefix_;
    std::string lastShownFailure_;
    std::uint64_t size_ = 0;
    std::string problem_;
};
