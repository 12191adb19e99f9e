#include "platform/HttpClient.h"

#include <curl/curl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <system_error>

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    CURL* Easy = nullptr;
    FILE* File = nullptr;
    const HttpClient::ProgressFunction* Progress = nullptr;
    const std::atomic<int>* Stop = nullptr;
    std::uint64_t Received = 0;
    bool Stopped = false;
    bool WriteFailed = false;

    bool StopRequested() {
        if (Stop && Stop->load() != 0) Stopped = true;
        return Stopped;
    }
};

size_t Receive(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->StopRequested()) return 0;
    if (std::fwrite(data, 1, bytes, transfer->File) != bytes) {
        transfer->WriteFailed = true;
        return 0;
    }
    transfer->Received += bytes;
    if (transfer->Progress && *transfer->Progress) {
        curl_off_t length = -1;
        curl_easy_getinfo(transfer->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        (*transfer->Progress)(transfer->Received,
                              length > 0 ? static_cast<std::uint64_t>(length) : 0);
    }
    return bytes;
}

// Also called while no data flows, so a stop request ends a stalled download too.
int CheckStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->StopRequested() ? 1 : 0;
}

}  // namespace

HttpClient::HttpClient() : HttpClient(Options{}) {}

HttpClient::HttpClient(Options options) : options_(options) {
    GlobalInit();
    if (options_.StallSeconds <= 0) options_.StallSeconds = 60;
}

HttpClient::Result HttpClient::Download(const std::string& url, const std::filesystem::path& target,
                                        const ProgressFunction& progress,
                                        const std::atomic<int>* stopFlag) {
    lastError_ = 0;
    lastStatus_ = 0;
    if (stopFlag && stopFlag->load() != 0) return Result::Stopped;

    std::string temporary = target.string() + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    // mkstemp makes the file private; a downloaded game file should look like any other.
    if (fd >= 0) ::fchmod(fd, 0644);
    if (fd < 0) {
        lastError_ = CURLE_WRITE_ERROR;
        return Result::Failed;
    }
    FILE* file = fdopen(fd, "wb");
    CURL* easy = file ? curl_easy_init() : nullptr;
    if (!easy) {
        if (file)
            std::fclose(file);
        else
            ::close(fd);
        ::unlink(temporary.c_str());
        lastError_ = CURLE_FAILED_INIT;
        return Result::Failed;
    }

    Transfer transfer;
    transfer.Easy = easy;
    transfer.File = file;
    transfer.Progress = &progress;
    transfer.Stop = stopFlag;

    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options_.StallSeconds));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options_.StallSeconds));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Receive);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, CheckStop);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

    CURLcode code = curl_easy_perform(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &lastStatus_);
    curl_easy_cleanup(easy);

    const bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    const bool closed = std::fclose(file) == 0;
    if (code == CURLE_OK && (!flushed || !closed)) code = CURLE_WRITE_ERROR;
    lastError_ = code;
    if (code == CURLE_OK) {
        std::error_code ec;
        std::filesystem::rename(temporary, target, ec);
        if (!ec) return Result::Ok;
        lastError_ = CURLE_WRITE_ERROR;
    }
    ::unlink(temporary.c_str());
    return transfer.Stopped ? Result::Stopped : Result::Failed;
}
