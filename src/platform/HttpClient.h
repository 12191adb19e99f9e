#pragma once
// Downloads a URL to a file over libcurl (http and https only, redirects followed).
//
// The body lands under a temporary name beside the target and is renamed over the target
// only when the whole body arrived with a success status, so a failed or stopped download
// never leaves a partial file under the target's name. Proxy environment variables are
// honoured the way libcurl honours them.
//
// Download blocks the calling thread (the HTTP patch session's worker thread). It reports
// bytes received and the announced size (0 when the server sent none) through `progress`, on
// that thread, and ends with its final count when the body is complete; cancelling `progress`
// from another thread stops the download within about a second.
//
// A server silent for the stall time (no header line, no body byte) fails the download,
// measured as it happens, not as an average rate. A body longer than the caller's limit, or
// than the length the server announced, fails it too (chunked bodies have no announced
// length: the limit is what bounds them). URLs holding control characters or blanks are
// refused before anything is sent.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "platform/DownloadSink.h"
#include "platform/Progress.h"

class HttpClient {
public:
    struct Options {
        explicit Options(int stallSeconds = 60, std::filesystem::path caFile = {})
            : StallSeconds(stallSeconds), CaFile(std::move(caFile)) {}
        int StallSeconds = 60;  // no bytes for this long fails the download (and a connect)
        // https: the certificate authorities to trust (PEM); empty: the system's store. The
        // server's certificate and name are always checked.
        std::filesystem::path CaFile;
        // Hears what a resumable download decided ("resuming URL at N bytes", "server file
        // changed, starting over: URL"), on the downloading thread, before the body arrives.
        std::function<void(const std::string&)> Notice;
    };

    enum class Result { Ok, Failed, Stopped };

    HttpClient();
    explicit HttpClient(Options options);

    // `maxBytes`: the most the body may hold (0: no limit).
    //
    // With a `resumeKey` (the URL without a query that changes from run to run) the download
    // survives an interruption: a broken transfer, a stop or a killed process leaves its bytes
    // under the target's name plus ".part", with the server's ETag (or Last-Modified) beside
    // them, and the next download of the same key asks only for the rest ("Range: bytes=N-"
    // with "If-Range"). A 206 continues the kept bytes; a 200 (the file changed, or the server
    // ignores ranges) starts again from zero. A server that gives neither mark gets no resume.
    Result Download(const std::string& url, const std::filesystem::path& target,
                    Progress* progress = nullptr, std::uint64_t maxBytes = 0,
                    const std::string& resumeKey = {});
    // The same, held to `expected` as the bytes arrive: a size as the limit (with MaxSize),
    // an exact size and a SHA-256 checked by the sink, so a body that does not match never
    // takes the target's name and costs no second read. Refused() then says so.
    Result Download(const std::string& url, const std::filesystem::path& target, Progress* progress,
                    const DownloadExpectation& expected, const std::string& resumeKey = {});
    // Whether the last download arrived but failed its expected size or hash.
    bool Refused() const { return refused_; }
    // Where the last download's body began: the bytes kept from an earlier run, or 0.
    std::uint64_t ResumedAt() const { return resumedAt_; }
    // Whether the last download dropped kept bytes because the server's file was not the same.
    bool StartedOver() const { return startedOver_; }

    // Bytes [offset, offset + length) of `url` into `target`, by a Range request. A server
    // that answers with the whole file (status 200) fails it at once, before the body is
    // read, and RangeRefused() then says so: the caller fetches the whole file instead.
    Result DownloadRange(const std::string& url, const std::filesystem::path& target,
                         std::uint64_t offset, std::uint64_t length, Progress* progress = nullptr);
    bool RangeRefused() const { return rangeRefused_; }

    // The libcurl result code of the last download (0 after success) and the HTTP status.
    int LastError() const { return lastError_; }
    long LastHttpStatus() const { return lastStatus_; }
    // Why the last download failed, for people: "HTTP status 404", "cannot write
    // /games/x/Temp/up_list.zip: No space left on device", "Could not connect to server:
    // Failed to connect to 127.0.0.1 port 8080 ...". Empty after success.
    const std::string& LastErrorText() const { return lastErrorText_; }

    // "Torvane/0.1.0 (game launcher)": sent with every request.
    static std::string UserAgent();

private:
    Result Fetch(const std::string& url, const std::filesystem::path& target, Progress* progress,
                 const DownloadExpectation& expected, const std::string& range,
                 const std::string& resumeKey = {});
    void Notice(const std::string& text) const {
        if (options_.Notice) options_.Notice(text);
    }

    Options options_;
    bool rangeRefused_ = false;
    bool refused_ = false;
    std::uint64_t resumedAt_ = 0;
    bool startedOver_ = false;
    int lastError_ = 0;
    long lastStatus_ = 0;
    std::string lastErrorText_;
};
