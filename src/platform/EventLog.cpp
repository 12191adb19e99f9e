#include "platform/EventLog.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

std::string TimeStamp() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03ld", static_cast<long>(now.tv_usec / 1000));
    return text;
}

}  // namespace

EventLog::EventLog(std::filesystem::path file, std::uint64_t cap)
    : file_(std::move(file)), cap_(cap) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_.empty()) OpenLocked();
}

EventLog::~EventLog() {
    if (out_) std::fclose(out_);
}

std::filesystem::path EventLog::DefaultFile() {
    std::filesystem::path state;
    if (const char* value = std::getenv("XDG_STATE_HOME"); value && *value == '/') {
        state = value;
    } else {
        const char* home = std::getenv("HOME");
        state = std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "state";
    }
    return state / "torvane" / "torvane.log";
}

void EventLog::OpenLocked() {
    std::error_code ec;
    if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ec);
    out_ = std::fopen(file_.c_str(), "ae");
    if (!out_) {
        problem_ = "cannot write the log " + file_.string() + ": " + std::strerror(errno);
        return;
    }
    problem_.clear();
    const auto size = std::filesystem::file_size(file_, ec);
    size_ = ec ? 0 : size;
    if (size_ >= cap_) RotateLocked();
}

void EventLog::RotateLocked() {
    std::fclose(out_);
    out_ = nullptr;
    std::error_code ec;
    std::filesystem::rename(file_, file_.string() + ".1", ec);
    out_ = std::fopen(file_.c_str(), ec ? "we" : "ae");
    size_ = 0;
    if (!out_) problem_ = "cannot write the log " + file_.string() + ": " + std::strerror(errno);
}

void EventLog::Write(const std::string& text) {
    std::string line = TimeStamp() + " [" + std::to_string(::getpid()) + "] ";
    for (const char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    if (copy_) {
        std::fputs(line.c_str(), copy_);
        std::fflush(copy_);
    }
    if (!out_) return;
    if (size_ + line.size() > cap_ && size_ > 0) {
        RotateLocked();
        if (!out_) return;
    }
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    size_ += line.size();
}

void EventLog::Fail(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A failure that repeats (a connect retried every second) is shown once.
        if (failures_ && failures_ != copy_ && text != lastShownFailure_) {
            lastShownFailure_ = text;
            std::string shown = failurePrefix_ + ": ";
            for (const char c : text) shown += (c == '\n' || c == '\r') ? ' ' : c;
            shown += '\n';
            std::fputs(shown.c_str(), failures_);
            std::fflush(failures_);
        }
    }
    Write("error: " + text);
}

void EventLog::ShowFailuresOn(std::FILE* stream, std::string prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_ = stream;
    failurePrefix_ = std::move(prefix);
}

void EventLog::CopyTo(std::FILE* stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    copy_ = stream;
}

std::string EventLog::Problem() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
}
