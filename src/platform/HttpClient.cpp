#include "platform/HttpClient.h"

#include <curl/curl.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>

#include "platform/DownloadSink.h"
#include "platform/ProgramInfo.h"

namespace {

constexpr long kReceiveBufferSize = 256 * 1024;
// Where a resumable download's bytes wait: beside the target, found again by the next run.
constexpr const char* kResumableSuffix = ".part";

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

// The headers of the response being received (a redirect's are replaced by the next one's).
struct ResponseHeaders {
    std::string ETag;
    std::string LastModified;
    std::int64_t RangeStart = -1;  // Content-Range: bytes START-END/TOTAL
    std::int64_t RangeTotal = -1;  // -1 when absent or "*"
};

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t'))
        text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    return text.substr(start);
}

bool HeaderIs(const std::string& line, const char* name, std::string& value) {
    const std::size_t length = std::strlen(name);
    if (line.size() <= length || line[length] != ':' ||
        strncasecmp(line.c_str(), name, length) != 0)
        return false;
    value = Trimmed(line.substr(length + 1));
    return true;
}

std::int64_t ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 18) return -1;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

size_t ReadHeader(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<ResponseHeaders*>(user);
    const std::string line(data, size * count);
    std::string value;
    if (line.rfind("HTTP/", 0) == 0) {
        *headers = ResponseHeaders{};
    } else if (HeaderIs(line, "ETag", value)) {
        headers->ETag = value;
    } else if (HeaderIs(line, "Last-Modified", value)) {
        headers->LastModified = value;
    } else if (HeaderIs(line, "Content-Range", value) && value.rfind("bytes ", 0) == 0) {
        const auto dash = value.find('-');
        const auto slash = value.find('/');
        if (dash != std::string::npos && slash != std::string::npos && dash < slash) {
            headers->RangeStart = ParseCount(value.substr(6, dash - 6));
            headers->RangeTotal = ParseCount(value.substr(slash + 1));
        }
    }
    return size * count;
}

// What tells this version of the server's file from another: a strong ETag (a weak one may
// not be sent in If-Range), else the modification date.
std::string VersionMark(const ResponseHeaders& headers) {
    if (!headers.ETag.empty() && headers.ETag.rfind("W/", 0) != 0) return headers.ETag;
    return headers.LastModified;
}

struct Transfer {
    CURL* Easy = nullptr;
    DownloadSink* Sink = nullptr;
    // Resumable downloads open the sink once the response says how: continuing the kept
    // bytes (206 from ResumeFrom) or from zero.
    bool SinkOpen = true;
    std::string ResumeKey;
    std::uint64_t ResumeFrom = 0;
    std::string KeptVersion;  // the server's mark of the file the kept bytes came from
    std::uint64_t Base = 0;   // bytes before this response's body (the kept ones)
    ResponseHeaders Headers;
    bool BadRange = false;
    bool CannotResume = false;
    bool StartedOver = false;
    std::function<void(const std::string&)> Notice;
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

// Opens the sink of a resumable download as the response asks: the kept bytes and the rest
// after them (206 from where they end), or a fresh file (anything else).
bool OpenResumableSink(Transfer& transfer, curl_off_t announced) {
    transfer.SinkOpen = true;
    long status = 0;
    curl_easy_getinfo(transfer.Easy, CURLINFO_RESPONSE_CODE, &status);
    const ResponseHeaders& headers = transfer.Headers;
    std::uint64_t total = announced >= 0 ? static_cast<std::uint64_t>(announced) : 0;
    if (transfer.ResumeFrom > 0 && status == 206) {
        if (headers.RangeStart != static_cast<std::int64_t>(transfer.ResumeFrom)) {
            transfer.BadRange = true;
            return false;
        }
        if (!transfer.Sink->OpenResuming(transfer.ResumeFrom)) {
            transfer.CannotResume = true;
            return false;
        }
        transfer.Base = transfer.ResumeFrom;
        total = headers.RangeTotal >= 0 ? static_cast<std::uint64_t>(headers.RangeTotal) : 0;
    } else {
        if (transfer.ResumeFrom > 0) {
            transfer.StartedOver = true;
            // The same mark on a whole-file answer: the server does not serve ranges.
            const bool sameFile =
                !transfer.KeptVersion.empty() && VersionMark(headers) == transfer.KeptVersion;
            if (transfer.Notice)
                transfer.Notice((sameFile ? "server sent the whole file instead of a range, "
                                            "starting over: "
                                          : "server file changed, starting over: ") +
                                transfer.ResumeKey);
        }
        if (!transfer.Sink->Open()) return false;
    }
    transfer.Sink->KeepForResume(ResumeRecord{transfer.ResumeKey, total, VersionMark(headers)});
    return true;
}

size_t Receive(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->StopRequested()) return 0;
    curl_off_t announced = -1;
    curl_easy_getinfo(transfer->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (!transfer->SinkOpen && !OpenResumableSink(*transfer, announced)) {
        transfer->WriteFailed = !transfer->BadRange && !transfer->CannotResume;
        return 0;
    }
    const std::uint64_t after = transfer->Received + bytes;
    if ((transfer->Limit > 0 && transfer->Base + after > transfer->Limit) ||
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
        transfer->Total =
            announced > 0 ? transfer->Base + static_cast<std::uint64_t>(announced) : 0;
        transfer->Watcher->Report(transfer->Base + transfer->Received, transfer->Total);
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
                                        Progress* progress, std::uint64_t maxBytes,
                                        const std::string& resumeKey) {
    return Download(url, target, progress, DownloadExpectation::AtMost(maxBytes), resumeKey);
}

HttpClient::Result HttpClient::Download(const std::string& url, const std::filesystem::path& target,
                                        Progress* progress, const DownloadExpectation& expected,
                                        const std::string& resumeKey) {
    const Result result = Fetch(url, target, progress, expected, {}, resumeKey);
    // 416: the kept bytes reach past the server's file although its mark is the same (a
    // server that keeps marks across changes). The bytes are worth nothing: start over once.
    if (result == Result::Failed && resumedAt_ > 0 && lastStatus_ == 416) {
        DownloadSink(target, kResumableSuffix).DiscardPartial();
        Notice("server file changed, starting over: " + resumeKey);
        const Result again = Fetch(url, target, progress, expected, {}, resumeKey);
        startedOver_ = true;
        return again;
    }
    return result;
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
    return Fetch(url, target, progress, DownloadExpectation::AtMost(length), range);
}

HttpClient::Result HttpClient::Fetch(const std::string& url, const std::filesystem::path& target,
                                     Progress* progress, const DownloadExpectation& expected,
                                     const std::string& range, const std::string& resumeKey) {
    rangeRefused_ = false;
    refused_ = false;
    // The transfer itself stops at the limit; the sink checks the exact size and the hash.
    const std::uint64_t maxBytes = expected.Size ? *expected.Size : expected.MaxSize.value_or(0);
    resumedAt_ = 0;
    startedOver_ = false;
    lastError_ = 0;
    lastStatus_ = 0;
    lastErrorText_.clear();
    if (progress && progress->Cancelled()) return Result::Stopped;
    if (!IsPlainUrl(url)) {
        lastError_ = CURLE_URL_MALFORMAT;
        lastErrorText_ = "the URL holds a blank or a control character";
        return Result::Failed;
    }

    const bool resumable = !resumeKey.empty();
    DownloadSink sink(target, resumable ? kResumableSuffix : "");
    // Not flushed to disk: every download is a work file (a list or the archive) whose
    // checks run again after a crash (kept bytes are read through the checks when resumed).
    sink.SetFlushToDisk(false);
    if (expected.Size) sink.AddValidator(ExactSize(*expected.Size));
    if (expected.Digest) sink.AddValidator(ExpectedSha256(*expected.Digest));
    std::string resumeRange;
    std::string ifRange;
    std::string keptVersion;
    if (resumable) {
        const auto partial = sink.FindPartial(resumeKey);
        if (partial && partial->Bytes > 0 &&
            (partial->Record.Size == 0 || partial->Bytes < partial->Record.Size) &&
            (maxBytes == 0 || partial->Bytes < maxBytes)) {
            resumedAt_ = partial->Bytes;
            resumeRange = std::to_string(partial->Bytes) + "-";
            ifRange = "If-Range: " + partial->Record.Version;
            keptVersion = partial->Record.Version;
            Notice("resuming " + resumeKey + " at " + std::to_string(partial->Bytes) + " bytes");
        }
    }
    if (!resumable && !sink.Open()) {
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
    transfer.SinkOpen = !resumable;
    transfer.ResumeKey = resumeKey;
    transfer.ResumeFrom = resumedAt_;
    transfer.KeptVersion = keptVersion;
    transfer.Notice = options_.Notice;
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
    curl_slist* extraHeaders = nullptr;
    if (resumable) {
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, ReadHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer.Headers);
        if (!resumeRange.empty()) {
            curl_easy_setopt(easy, CURLOPT_RANGE, resumeRange.c_str());
            extraHeaders = curl_slist_append(nullptr, ifRange.c_str());
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, extraHeaders);
        }
    }

    CURLcode code = curl_easy_perform(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &lastStatus_);
    // An empty body never reached the receiver, which opens a resumable download's file.
    if (code == CURLE_OK && !transfer.SinkOpen && !OpenResumableSink(transfer, 0))
        code = CURLE_WRITE_ERROR;
    curl_easy_cleanup(easy);
    curl_slist_free_all(extraHeaders);
    startedOver_ = transfer.StartedOver;

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
    refused_ = sink.Refused();
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
        if (transfer.BadRange)
            lastErrorText_ = "the server answered the request for bytes from " +
                             std::to_string(transfer.ResumeFrom) + " with another part";
        if (transfer.CannotResume) lastErrorText_ = sink.Failure();
        if (lastStatus_ >= 400) lastErrorText_ += " (HTTP " + std::to_string(lastStatus_) + ")";
    }
    if (code == CURLE_OK) {
        if (progress) progress->Finish(transfer.Base + transfer.Received, transfer.Total);
        return Result::Ok;
    }
    // A transfer that broke or was stopped keeps its bytes for the next run; bytes the server
    // sent wrongly (too many, another part) are of no use to anyone.
    if (transfer.TooLong || transfer.BadRange || transfer.WriteFailed) {
        sink.Abandon();
        if (resumable) sink.DiscardPartial();
    } else
        sink.Interrupt();
    return transfer.Stopped ? Result::Stopped : Result::Failed;
}
