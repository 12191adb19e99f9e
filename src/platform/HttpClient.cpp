#include "platform/HttpClient.h"

#include <curl/curl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include "platform/DownloadSink.h"
#include "platform/ProgramInfo.h"

namespace {

constexpr long kReceiveBufferSize = 256 * 1024;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

using SteadyClock = std::chrono::steady_clock;

// Blanks and control characters have no place in a URL; a CR or LF would end the request
// line early and let the rest travel as headers of its own.
bool IsPlainUrl(const std::string& url) {
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return false;
    }
    return !url.empty();
}

struct Transfer {
    CURL* Easy = nullptr;
    DownloadSink* Sink = nullptr;
    Progress* Watcher = nullptr;
    std::uint64_t Received = 0;
    std::uint64_t Total = 0;
    std::uint64_t Limit = 0;
    long long StallMs = 60000;
    SteadyClock::time_point LastActivity = SteadyClock::now();
    bool Stopped = false;
    bool WriteFailed = false;
    bool TooLong = false;
    bool Silent = false;

    bool StopRequested() {
        if (Watcher && Watcher->Cancelled()) Stopped = true;
        return Stopped;
    }
};

size_t Receive(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->StopRequested()) return 0;
    curl_off_t announced = -1;
    curl_easy_getinfo(transfer->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    const std::uint64_t after = transfer->Received + bytes;
    if ((transfer->Limit > 0 && after > transfer->Limit) ||
        (announced >= 0 && after > static_cast<std::uint64_t>(announced))) {
        transfer->TooLong = true;
        return 0;
    }
    if (!transfer->Sink->Write(data, bytes)) {
        transfer->WriteFailed = true;
        return 0;
    }
    transfer->Received += bytes;
    if (transfer->Watcher) {
        transfer->Total = announced > 0 ? static_cast<std::uint64_t>(announced) : 0;
        transfer->Watcher->Report(transfer->Received, transfer->Total);
    }
    return bytes;
}

// Also called while no data flows (about once a second), so a stop request and the stall
// rule end a silent download too.
int CheckStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->StopRequested()) return 1;
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
        SteadyClock::now() - transfer->LastActivity);
    if (quiet.count() >= transfer->StallMs) {
        transfer->Silent = true;
        return 1;
    }
    return 0;
}

// Every header line and body block from the server counts as a sign of life.
int WatchServer(CURL*, curl_infotype type, char*, size_t, void* user) {
    if (type == CURLINFO_HEADER_IN || type == CURLINFO_DATA_IN)
        static_cast<Transfer*>(user)->LastActivity = SteadyClock::now();
    return 0;
}

}  // namespace

HttpClient::HttpClient() : HttpClient(Options{}) {}

std::string HttpClient::UserAgent() {
    return std::string("Torvane/") + ProductVersion() + " (game launcher)";
}

HttpClient::HttpClient(Options options) : options_(options) {
    GlobalInit();
    if (options_.StallSeconds <= 0) options_.StallSeconds = 60;
}

HttpClient::Result HttpClient::Download(const std::string& url, const std::filesystem::path& target,
                                        Progress* progress, std::uint64_t maxBytes) {
    return Fetch(url, target, progress, maxBytes, {});
}

HttpClient::Result HttpClient::DownloadRange(const std::string& url,
                                             const std::filesystem::path& target,
                                             std::uint64_t offset, std::uint64_t length,
                                             Progress* progress) {
    if (length == 0) {
        lastErrorText_ = "an empty byte range";
        return Result::Failed;
    }
    const std::string range = std::to_string(offset) + "-" + std::to_string(offset + length - 1);
    return Fetch(url, target, progress, length, range);
}

HttpClient::Result HttpClient::Fetch(const std::string& url, const std::filesystem::path& target,
                                     Progress* progress, std::uint64_t maxBytes,
                                     const std::string& range) {
    rangeRefused_ = false;
    lastError_ = 0;
    lastStatus_ = 0;
    lastErrorText_.clear();
    if (progress && progress->Cancelled()) return Result::Stopped;
    if (!IsPlainUrl(url)) {
        lastError_ = CURLE_URL_MALFORMAT;
        lastErrorText_ = "the URL holds a blank or a control character";
        return Result::Failed;
    }

    DownloadSink sink(target);
    // Not flushed to disk: every download is a work file (a list or the archive) that the
    // session fetches anew on each run, so none outlives a crash in a form anyone trusts.
    sink.SetFlushToDisk(false);
    if (!sink.Open()) {
        lastError_ = CURLE_WRITE_ERROR;
        lastErrorText_ = sink.Failure();
        return Result::Failed;
    }
    CURL* easy = curl_easy_init();
    if (!easy) {
        lastError_ = CURLE_FAILED_INIT;
        return Result::Failed;
    }

    Transfer transfer;
    transfer.Easy = easy;
    transfer.Sink = &sink;
    transfer.Watcher = progress;
    transfer.Limit = maxBytes;
    transfer.StallMs = static_cast<long long>(options_.StallSeconds) * 1000;

    const std::string userAgent = UserAgent();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options_.CaFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, options_.CaFile.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options_.StallSeconds));
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, WatchServer);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &transfer);
    if (maxBytes > 0)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Receive);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, CheckStop);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    if (!range.empty()) curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());

    CURLcode code = curl_easy_perform(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &lastStatus_);
    curl_easy_cleanup(easy);

    // A ranged request is answered with its part (206) or not at all: a whole file in its
    // place would be taken for the part.
    if (!range.empty() && lastStatus_ != 206 && (code == CURLE_OK || lastStatus_ == 200)) {
        rangeRefused_ = lastStatus_ == 200;
        code = CURLE_RANGE_ERROR;
        lastErrorText_ = "the server answered the byte range " + range + " with HTTP " +
                         std::to_string(lastStatus_) + ", not with the part";
    }
    // The body takes the target's name only when it arrived whole.
    if (code == CURLE_OK && !sink.Commit()) {
        code = CURLE_WRITE_ERROR;
        lastErrorText_ = sink.Failure();
    }
    lastError_ = code;
    if (code != CURLE_OK && lastErrorText_.empty()) {
        lastErrorText_ = curl_easy_strerror(code);
        // A local file that cannot be written is no network failure: name it and why.
        if (transfer.WriteFailed) lastErrorText_ = transfer.Sink->Failure();
        if (transfer.Silent)
            lastErrorText_ =
                "the server sent nothing for " + std::to_string(options_.StallSeconds) + " s";
        if (transfer.TooLong)
            lastErrorText_ = "the body is longer than " +
                             (maxBytes > 0 ? std::to_string(maxBytes) + " bytes or " : "") +
                             "the length the server announced";
        if (lastStatus_ >= 400) lastErrorText_ += " (HTTP " + std::to_string(lastStatus_) + ")";
    }
    if (code == CURLE_OK) {
        if (progress) progress->Finish(transfer.Received, transfer.Total);
        return Result::Ok;
    }
    sink.Abandon();
    return transfer.Stopped ? Result::Stopped : Result::Failed;
}
