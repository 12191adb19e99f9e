#include "platform/FtpClient.h"

#include <curl/curl.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include "platform/DownloadSink.h"

namespace {

constexpr std::size_t kReaderHighWater = 256 * 1024;  // pause the transfer above this
constexpr std::size_t kReaderLowWater = 64 * 1024;    // resume it below this

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Host names and addresses only: anything that could change the meaning of the URL (user
// info, a path, a query) is refused.
bool IsPlainHost(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':';
        if (!ok) return false;
    }
    return true;
}

// Texts that travel inside FTP commands: a control character (CR, LF above all) would end
// the command early and let the rest of the text be read as commands of its own.
bool HasControlCharacter(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// Remote names: no control characters, and no '/', which would address another directory.
bool IsPlainRemoteName(const std::string& name) {
    return !name.empty() && !HasControlCharacter(name) && name.find('/') == std::string::npos;
}

using SteadyClock = std::chrono::steady_clock;

long long MillisecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
        .count();
}

std::string Escape(CURL* easy, const std::string& text) {
    char* escaped = curl_easy_escape(easy, text.c_str(), static_cast<int>(text.size()));
    if (!escaped) return {};
    std::string result(escaped);
    curl_free(escaped);
    return result;
}

// A listing being received, with its bounds.
struct ListingSink {
    std::string Text;
    std::size_t Lines = 0;
    bool TooLong = false;
};

size_t AppendToListing(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<ListingSink*>(user);
    const std::size_t bytes = size * count;
    for (std::size_t i = 0; i < bytes; ++i) sink->Lines += data[i] == '\n';
    // A few lines more than the entries allowed: totals and banners are not entries.
    if (sink->Text.size() + bytes > FtpClient::kMaxListingBytes ||
        sink->Lines > FtpClient::kMaxListingEntries + 16) {
        sink->TooLong = true;
        return 0;
    }
    sink->Text.append(data, bytes);
    return bytes;
}

// A whole file being received, with its bounds.
struct FileSink {
    DownloadSink* Sink = nullptr;
    const std::int64_t* Announced = nullptr;  // the server's SIZE answer, -1 while unknown
    std::uint64_t Limit = 0;                  // 0: none
    std::uint64_t Received = 0;
    bool TooLong = false;
    Progress* Watcher = nullptr;  // may be null
};

// A cancelled download stops here too: a short count makes libcurl give up the transfer.
size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<FileSink*>(user);
    const std::size_t bytes = size * count;
    if (sink->Watcher && sink->Watcher->Cancelled()) return 0;
    const std::int64_t announced = *sink->Announced;
    sink->Received += bytes;
    if ((sink->Limit > 0 &&
         (sink->Received > sink->Limit || announced > static_cast<std::int64_t>(sink->Limit))) ||
        (announced >= 0 && sink->Received > static_cast<std::uint64_t>(announced))) {
        sink->TooLong = true;
        return 0;
    }
    if (!sink->Sink->Write(data, bytes)) return 0;
    if (sink->Watcher)
        sink->Watcher->Report(sink->Received,
                              announced > 0 ? static_cast<std::uint64_t>(announced) : 0);
    return bytes;
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

size_t CollectFeatures(char* data, size_t size, size_t count, void* user) {
    // Feature lines of the FEAT reply are " MLST type*;size*;...": one blank, then the name.
    const std::string line(data, size * count);
    if (line.size() >= 5 && line[0] == ' ' &&
        (line.compare(1, 4, "MLST") == 0 || line.compare(1, 4, "MLSD") == 0)) {
        *static_cast<bool*>(user) = true;
    }
    return size * count;
}

// Waits at most `ceilingMs` for something for curl to do. libcurl can end a perform call with a
// step still to take and neither a socket nor a near timer that would wake a poll (seen after the
// passive-mode reply, before it opens the data connection): a plain poll would then sleep out
// its whole timeout, once per file. With nothing to watch, the wait is cut to a millisecond.
void WaitForCurl(CURLM* multi, int ceilingMs) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    int highest = -1;
    curl_multi_fdset(multi, &readable, &writable, &failed, &highest);
    if (highest < 0 && ceilingMs > 1) ceilingMs = 1;
    curl_multi_poll(multi, nullptr, 0, ceilingMs < 0 ? 0 : ceilingMs, nullptr);
}

}  // namespace

struct FtpFileReader::State {
    std::vector<char> Buffer;
    std::size_t ReadOffset = 0;
    bool Paused = false;
    bool Attached = false;  // the easy handle is in the multi handle for this reader
    bool Done = false;
    CURLcode Result = CURLE_OK;
    std::uint64_t Received = 0;
    std::int64_t Announced = -1;
    // Silence: time spent waiting for the server with nothing arriving (time the caller
    // spends elsewhere between reads does not count).
    std::uint64_t SeenActivity = 0;
    long long SilentMs = 0;

    std::size_t Available() const { return Buffer.size() - ReadOffset; }
};

struct FtpClient::Impl {
    Options Opts;
    CURLM* Multi = nullptr;
    CURL* Easy = nullptr;
    std::string BaseUrl;  // "ftp://host:port"
    std::string User;
    std::string Password;
    bool Absolute = false;
    std::vector<std::string> Directory;
    bool Mlsd = false;
    std::string EntryPath;  // the login directory as the server's PWD named it, any spelling
    int LastError = 0;
    std::string ErrorDetail;  // why the last operation failed, beyond the libcurl code
    std::string LastReply;    // the server's last reply line
    std::string LastUrl;      // the request the error belongs to (no user or password)
    // Counts replies and data blocks from the server: the stall rule watches it move.
    std::uint64_t Activity = 0;
    // The size the server gave for the file being fetched (SIZE), -1 when none.
    std::int64_t Announced = -1;
    curl_slist* SizeQuery = nullptr;
    FtpFileReader::State* ActiveReader = nullptr;

    ~Impl() {
        Release();
        FreeSizeQuery();
    }

    void FreeSizeQuery() {
        curl_slist_free_all(SizeQuery);
        SizeQuery = nullptr;
    }

    // A file is read to the end of its data connection, not to a size libcurl was told (it
    // would stop there silently, and a longer file would be cut); the server's SIZE answer
    // is asked for on the side ('*': a server without SIZE is no error) and checked here.
    void FetchWholeFile(const std::string& name, std::uint64_t offset = 0) {
        FreeSizeQuery();
        SizeQuery = curl_slist_append(nullptr, ("*SIZE " + name).c_str());
        // The restart point goes right before RETR, as REST must; libcurl's own resume is
        // not used, as it would stop at the size it was told.
        if (offset > 0)
            SizeQuery = curl_slist_append(SizeQuery, ("REST " + std::to_string(offset)).c_str());
        curl_easy_setopt(Easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        curl_easy_setopt(Easy, CURLOPT_PREQUOTE, SizeQuery);
    }

    void Release() {
        if (ActiveReader) {
            if (ActiveReader->Attached) curl_multi_remove_handle(Multi, Easy);
            ActiveReader->Attached = false;
            ActiveReader->Done = true;
            ActiveReader->Result = CURLE_ABORTED_BY_CALLBACK;
            ActiveReader->Buffer.clear();
            ActiveReader->ReadOffset = 0;
            ActiveReader = nullptr;
        }
        if (Easy) curl_easy_cleanup(Easy);
        if (Multi) curl_multi_cleanup(Multi);
        Easy = nullptr;
        Multi = nullptr;
    }

    std::string DirectoryUrl(const bool absolute, const std::vector<std::string>& parts) const {
        // Relative: "base/a/b/" (curl returns to the login directory, then CWD a, CWD b).
        // Absolute: "base/%2F/a/b/" (CWD /, CWD a, CWD b).
        std::string url = BaseUrl + (absolute ? "/%2F/" : "/");
        for (const std::string& part : parts) url += Escape(Easy, part) + "/";
        return url;
    }

    std::string FileUrl(const std::string& name) const {
        return DirectoryUrl(Absolute, Directory) + Escape(Easy, name);
    }

    void Prepare(const std::string& url) {
        curl_easy_reset(Easy);
        LastUrl = url;
        curl_easy_setopt(Easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(Easy, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(Easy, CURLOPT_USERNAME, User.c_str());
        curl_easy_setopt(Easy, CURLOPT_PASSWORD, Password.c_str());
        curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(Opts.StallSeconds));
        curl_easy_setopt(Easy, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                         static_cast<long>(Opts.StallSeconds));
        curl_easy_setopt(Easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
        curl_easy_setopt(Easy, CURLOPT_TRANSFERTEXT, 0L);
        // The debug stream is how every reply and every data block is seen as it arrives.
        curl_easy_setopt(Easy, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(Easy, CURLOPT_DEBUGFUNCTION, WatchServer);
        curl_easy_setopt(Easy, CURLOPT_DEBUGDATA, this);
        ErrorDetail.clear();
        Announced = -1;
    }

    static int WatchServer(CURL*, curl_infotype type, char* data, size_t size, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (type == CURLINFO_HEADER_IN) {
            ++self->Activity;
            std::string line(data, size);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            if (!line.empty()) self->LastReply = line.substr(0, 200);
            if (const std::int64_t size = ParseFtpSizeReply(line); size >= 0)
                self->Announced = size;
        } else if (type == CURLINFO_DATA_IN) {
            ++self->Activity;
        }
        return 0;
    }

    long long StallMs() const { return static_cast<long long>(Opts.StallSeconds) * 1000; }

    std::string SilenceText() const {
        return "the server sent nothing for " + std::to_string(Opts.StallSeconds) + " s";
    }

    // Runs the prepared request to its end on the multi handle (which keeps the control
    // connection alive between requests).
    CURLcode Perform() {
        if (curl_multi_add_handle(Multi, Easy) != CURLM_OK) return CURLE_FAILED_INIT;
        CURLcode result = CURLE_OK;
        bool done = false;
        std::uint64_t seen = Activity;
        SteadyClock::time_point quietSince = SteadyClock::now();
        while (!done) {
            int running = 0;
            if (curl_multi_perform(Multi, &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(Multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == Easy) {
                    result = message->data.result;
                    done = true;
                }
            }
            if (!done && running == 0) break;
            if (done) break;
            if (Activity != seen) {
                seen = Activity;
                quietSince = SteadyClock::now();
            }
            const long long quietMs = MillisecondsSince(quietSince);
            if (quietMs >= StallMs()) {
                result = CURLE_OPERATION_TIMEDOUT;
                ErrorDetail = SilenceText();
                break;
            }
            WaitForCurl(Multi, static_cast<int>(std::min<long long>(1000, StallMs() - quietMs)));
        }
        curl_multi_remove_handle(Multi, Easy);
        LastError = result;
        return result;
    }
};

FtpClient::FtpClient() : FtpClient(Options{}) {}

FtpClient::FtpClient(Options options) : impl_(std::make_shared<Impl>()) {
    GlobalInit();
    impl_->Opts = options;
    if (impl_->Opts.StallSeconds <= 0) impl_->Opts.StallSeconds = 60;
}

FtpClient::~FtpClient() {
    Close();
}

bool FtpClient::Connect(const std::string& host, std::uint16_t port, const std::string& user,
                        const std::string& password) {
    Close();
    impl_->ErrorDetail.clear();
    impl_->LastReply.clear();
    if (!IsPlainHost(host)) {
        impl_->LastError = CURLE_URL_MALFORMAT;
        impl_->ErrorDetail = "the host name holds characters a host name cannot hold";
        return false;
    }
    const bool literalV6 = host.find(':') != std::string::npos;
    impl_->BaseUrl = "ftp://" + (literalV6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    if (HasControlCharacter(user) || HasControlCharacter(password)) {
        impl_->LastError = CURLE_LOGIN_DENIED;
        impl_->ErrorDetail = "the user name or password holds a control character";
        return false;
    }
    impl_->Multi = curl_multi_init();
    impl_->Easy = curl_easy_init();
    if (!impl_->Multi || !impl_->Easy) {
        impl_->Release();
        impl_->LastError = CURLE_FAILED_INIT;
        return false;
    }
    impl_->User = user;
    impl_->Password = password;
    impl_->Absolute = false;
    impl_->Directory.clear();
    impl_->Mlsd = false;

    // Log in and ask for the server's features; a server without FEAT is no error ('*').
    impl_->Prepare(impl_->BaseUrl + "/");
    curl_easy_setopt(impl_->Easy, CURLOPT_NOBODY, 1L);
    curl_slist* quote = curl_slist_append(nullptr, "*FEAT");
    curl_easy_setopt(impl_->Easy, CURLOPT_QUOTE, quote);
    curl_easy_setopt(impl_->Easy, CURLOPT_HEADERFUNCTION, CollectFeatures);
    curl_easy_setopt(impl_->Easy, CURLOPT_HEADERDATA, &impl_->Mlsd);
    const CURLcode result = impl_->Perform();
    curl_easy_setopt(impl_->Easy, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    if (result != CURLE_OK) {
        const int error = impl_->LastError;
        impl_->Release();
        impl_->LastError = error;
        return false;
    }
    const char* entry = nullptr;
    curl_easy_getinfo(impl_->Easy, CURLINFO_FTP_ENTRY_PATH, &entry);
    // Kept whatever its spelling: a server may name its login directory "C:\\ftproot".
    impl_->EntryPath = entry ? entry : "";
    return true;
}

void FtpClient::Close() {
    impl_->Release();
}

bool FtpClient::IsOpen() const {
    return impl_->Easy != nullptr;
}

bool FtpClient::SetCurrentDirectory(const std::string& directory) {
    if (!IsOpen() || impl_->ActiveReader) {
        impl_->LastError = CURLE_FAILED_INIT;
        return false;
    }
    bool absolute = impl_->Absolute;
    std::vector<std::string> parts = impl_->Directory;
    std::size_t start = 0;
    const std::string& entry = impl_->EntryPath;
    if (directory.empty()) {
        // The login directory.
        absolute = false;
        parts.clear();
    } else if (!entry.empty() && entry[0] != '/' &&
               directory.compare(0, entry.size(), entry) == 0 &&
               (directory.size() == entry.size() || directory[entry.size()] == '/')) {
        // A login directory in another spelling than "/...", and what lies below it, as
        // GetCurrentDirectory named them: back to the login directory, then down.
        absolute = false;
        parts.clear();
        start = entry.size();
    } else if (directory[0] == '/') {
        absolute = true;
        parts.clear();
    }
    while (start <= directory.size()) {
        std::size_t end = directory.find('/', start);
        if (end == std::string::npos) end = directory.size();
        const std::string part = directory.substr(start, end - start);
        if (!part.empty()) {
            if (!IsPlainRemoteName(part)) {
                impl_->LastError = CURLE_URL_MALFORMAT;
                impl_->ErrorDetail = "the directory name holds a control character";
                return false;
            }
            parts.push_back(part);
        }
        start = end + 1;
    }
    impl_->Prepare(impl_->DirectoryUrl(absolute, parts));
    curl_easy_setopt(impl_->Easy, CURLOPT_NOBODY, 1L);
    if (impl_->Perform() != CURLE_OK) return false;
    impl_->Absolute = absolute;
    impl_->Directory = std::move(parts);
    return true;
}

std::string FtpClient::GetCurrentDirectory() const {
    std::string text = impl_->Absolute ? "/" : impl_->EntryPath;
    for (const std::string& part : impl_->Directory) {
        if (!text.empty() && text.back() != '/') text += "/";
        text += part;
    }
    return text;
}

std::optional<std::vector<FtpFindData>> FtpClient::ListDirectory() {
    if (!IsOpen() || impl_->ActiveReader) {
        impl_->LastError = CURLE_FAILED_INIT;
        return std::nullopt;
    }
    ListingSink sink;
    impl_->Prepare(impl_->DirectoryUrl(impl_->Absolute, impl_->Directory));
    if (impl_->Mlsd) curl_easy_setopt(impl_->Easy, CURLOPT_CUSTOMREQUEST, "MLSD");
    curl_easy_setopt(impl_->Easy, CURLOPT_WRITEFUNCTION, AppendToListing);
    curl_easy_setopt(impl_->Easy, CURLOPT_WRITEDATA, &sink);
    const auto tooLong = [this] {
        impl_->ErrorDetail = "the listing is longer than " +
                             std::to_string(kMaxListingBytes >> 20) + " MiB or " +
                             std::to_string(kMaxListingEntries) + " entries";
    };
    if (impl_->Perform() != CURLE_OK) {
        if (sink.TooLong) tooLong();
        return std::nullopt;
    }
    auto entries = ParseFtpListing(
        sink.Text, impl_->Mlsd ? FtpListingFormat::Machine : FtpListingFormat::List);
    if (entries.size() > kMaxListingEntries) {
        impl_->LastError = CURLE_WRITE_ERROR;
        tooLong();
        return std::nullopt;
    }
    return entries;
}

bool FtpClient::GetFile(const std::string& remoteName, const std::filesystem::path& localFile,
                        std::uint64_t maxBytes, Progress* progress) {
    return GetFile(remoteName, localFile, DownloadExpectation::AtMost(maxBytes), progress);
}

bool FtpClient::GetFile(const std::string& remoteName, const std::filesystem::path& localFile,
                        const DownloadExpectation& expected, Progress* progress) {
    // The transfer stops at the limit; the sink checks the exact size and the hash.
    const std::uint64_t maxBytes = expected.Size ? *expected.Size : expected.MaxSize.value_or(0);
    if (!IsOpen() || impl_->ActiveReader || !IsPlainRemoteName(remoteName)) {
        impl_->LastError = CURLE_FAILED_INIT;
        impl_->ErrorDetail =
            IsPlainRemoteName(remoteName) ? "not connected" : "the file name is not a plain name";
        return false;
    }
    DownloadSink download(localFile);
    if (expected.Size) download.AddValidator(ExactSize(*expected.Size));
    if (expected.Digest) download.AddValidator(ExpectedSha256(*expected.Digest));
    if (!download.Open()) {
        impl_->LastError = CURLE_WRITE_ERROR;
        impl_->ErrorDetail = download.Failure();
        return false;
    }
    impl_->Prepare(impl_->FileUrl(remoteName));
    impl_->FetchWholeFile(remoteName);
    FileSink sink;
    sink.Sink = &download;
    sink.Announced = &impl_->Announced;
    sink.Limit = maxBytes;
    sink.Watcher = progress;
    curl_easy_setopt(impl_->Easy, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(impl_->Easy, CURLOPT_WRITEDATA, &sink);
    CURLcode result = impl_->Perform();
    if (result == CURLE_OK && impl_->Announced >= 0 &&
        sink.Received != static_cast<std::uint64_t>(impl_->Announced)) {
        result = CURLE_PARTIAL_FILE;
        impl_->ErrorDetail = std::to_string(sink.Received) + " of the " +
                             std::to_string(impl_->Announced) + " bytes announced";
    }
    if (sink.TooLong)
        impl_->ErrorDetail = "the server sent more than " +
                             (maxBytes > 0 ? std::to_string(maxBytes) + " bytes or " : "") +
                             "the size it announced";
    // The file takes its name only when it arrived whole.
    if (result == CURLE_OK) {
        if (download.Commit()) {
            if (progress) progress->Finish(sink.Received, sink.Received);
            return true;
        }
        result = CURLE_WRITE_ERROR;
        impl_->ErrorDetail = download.Failure();
    }
    download.Abandon();
    impl_->LastError = result;
    return false;
}

namespace {

size_t ReceiveIntoReader(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<FtpFileReader::State*>(user);
    if (state->Available() >= kReaderHighWater) {
        state->Paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (state->ReadOffset > 0 && state->ReadOffset >= state->Buffer.size() / 2) {
        state->Buffer.erase(state->Buffer.begin(),
                            state->Buffer.begin() + static_cast<std::ptrdiff_t>(state->ReadOffset));
        state->ReadOffset = 0;
    }
    state->Buffer.insert(state->Buffer.end(), data, data + size * count);
    state->Received += size * count;
    return size * count;
}

// Advances the transfer without waiting; records its end in `state`.
void Drive(FtpClient::Impl& client, FtpFileReader::State& state) {
    if (!state.Attached) return;
    int running = 0;
    if (curl_multi_perform(client.Multi, &running) != CURLM_OK) {
        state.Done = true;
        state.Result = CURLE_FAILED_INIT;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(client.Multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == client.Easy) {
            state.Done = true;
            state.Result = message->data.result;
        }
    }
    if (!state.Done && running == 0) {
        state.Done = true;
        state.Result = CURLE_RECV_ERROR;
    }
    if (state.Done) {
        curl_multi_remove_handle(client.Multi, client.Easy);
        state.Attached = false;
        client.ActiveReader = nullptr;
        client.LastError = state.Result;
    }
}

// Waits up to `waitMs` for the transfer and advances it; a wait in which nothing at all came
// from the server adds to the reader's silence, and silence as long as the stall limit ends
// the transfer.
void WaitAndDrive(FtpClient::Impl& client, FtpFileReader::State& state, int waitMs) {
    const auto start = SteadyClock::now();
    const std::uint64_t before = client.Activity;
    WaitForCurl(client.Multi,
                static_cast<int>(std::min<long long>(waitMs, client.StallMs() - state.SilentMs)));
    Drive(client, state);
    if (client.Activity != before || state.Done) {
        state.SilentMs = 0;
        return;
    }
    state.SilentMs += MillisecondsSince(start);
    if (state.SilentMs < client.StallMs()) return;
    curl_multi_remove_handle(client.Multi, client.Easy);
    state.Attached = false;
    state.Done = true;
    state.Result = CURLE_OPERATION_TIMEDOUT;
    client.ActiveReader = nullptr;
    client.LastError = state.Result;
    client.ErrorDetail = client.SilenceText();
}

}  // namespace

std::optional<FtpFileStat> FtpClient::Stat(const std::string& remoteName) {
    if (!IsOpen() || impl_->ActiveReader || !IsPlainRemoteName(remoteName)) {
        impl_->LastError = CURLE_FAILED_INIT;
        return std::nullopt;
    }
    impl_->Prepare(impl_->FileUrl(remoteName));
    curl_easy_setopt(impl_->Easy, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(impl_->Easy, CURLOPT_FILETIME, 1L);
    // libcurl hands the answers on as HTTP-like header lines ("Content-Length: ..."); left to
    // its default they would be printed on stdout.
    curl_easy_setopt(impl_->Easy, CURLOPT_HEADERFUNCTION, Discard);
    curl_easy_setopt(impl_->Easy, CURLOPT_WRITEFUNCTION, Discard);
    if (impl_->Perform() != CURLE_OK) return std::nullopt;
    curl_off_t size = -1;
    curl_off_t modified = -1;
    curl_easy_getinfo(impl_->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    curl_easy_getinfo(impl_->Easy, CURLINFO_FILETIME_T, &modified);
    if (size < 0) return std::nullopt;
    return FtpFileStat{static_cast<std::uint64_t>(size), static_cast<std::int64_t>(modified)};
}

std::string FtpClient::UrlOf(const std::string& remoteName) const {
    return IsOpen() ? impl_->FileUrl(remoteName) : std::string();
}

std::unique_ptr<FtpFileReader> FtpClient::OpenFile(const std::string& remoteName,
                                                   const std::function<bool()>& keepWaiting,
                                                   std::uint64_t offset) {
    if (!IsOpen() || impl_->ActiveReader || !IsPlainRemoteName(remoteName)) {
        impl_->LastError = CURLE_FAILED_INIT;
        return nullptr;
    }
    std::unique_ptr<FtpFileReader> reader(new FtpFileReader(impl_));
    FtpFileReader::State& state = *reader->state_;
    impl_->Prepare(impl_->FileUrl(remoteName));
    impl_->FetchWholeFile(remoteName, offset);
    curl_easy_setopt(impl_->Easy, CURLOPT_WRITEFUNCTION, ReceiveIntoReader);
    curl_easy_setopt(impl_->Easy, CURLOPT_WRITEDATA, &state);
    if (curl_multi_add_handle(impl_->Multi, impl_->Easy) != CURLM_OK) {
        impl_->LastError = CURLE_FAILED_INIT;
        return nullptr;
    }
    state.Attached = true;
    impl_->ActiveReader = &state;
    // "Open" means the server accepted the request: wait for the first bytes or the end.
    while (!state.Done && state.Available() == 0) {
        Drive(*impl_, state);
        if (state.Done || state.Available() > 0) break;
        WaitAndDrive(*impl_, state, keepWaiting ? 20 : 1000);
        if (state.Done || state.Available() > 0) break;
        // A handler run from here may close this client: Release then ends `state`.
        if (keepWaiting && !keepWaiting()) {
            reader->Close();
            impl_->LastError = CURLE_ABORTED_BY_CALLBACK;
            return nullptr;
        }
    }
    if (state.Done && state.Result != CURLE_OK) return nullptr;
    // SIZE is answered before the transfer starts.
    state.Announced = impl_->Announced;
    impl_->LastError = 0;
    return reader;
}

int FtpClient::LastError() const {
    return impl_->LastError;
}

std::string FtpClient::LastErrorText() const {
    std::string text = curl_easy_strerror(static_cast<CURLcode>(impl_->LastError));
    if (!impl_->ErrorDetail.empty()) text += ": " + impl_->ErrorDetail;
    if (!impl_->LastReply.empty()) text += " (last reply \"" + impl_->LastReply + "\")";
    return text;
}

std::string FtpClient::LastUrl() const {
    return impl_->LastUrl;
}

std::string FtpClient::ServerName() const {
    const std::string& base = impl_->BaseUrl;
    return base.rfind("ftp://", 0) == 0 ? base.substr(6) : base;
}

bool FtpClient::ServerOffersMlsd() const {
    return impl_->Mlsd;
}

FtpFileReader::FtpFileReader(std::shared_ptr<FtpClient::Impl> client)
    : client_(std::move(client)), state_(std::make_unique<State>()) {}

FtpFileReader::~FtpFileReader() {
    Close();
}

void FtpFileReader::Close() {
    if (state_->Attached && client_->ActiveReader == state_.get()) {
        curl_multi_remove_handle(client_->Multi, client_->Easy);
        client_->ActiveReader = nullptr;
    }
    state_->Attached = false;
    if (!state_->Done) {
        state_->Done = true;
        state_->Result = CURLE_ABORTED_BY_CALLBACK;
    }
}

FtpFileReader::Status FtpFileReader::Read(char* buffer, std::size_t capacity, std::size_t* count,
                                          int waitMs) {
    *count = 0;
    State& state = *state_;
    auto take = [&]() {
        const std::size_t n = std::min(capacity, state.Available());
        std::memcpy(buffer, state.Buffer.data() + state.ReadOffset, n);
        state.ReadOffset += n;
        *count = n;
        if (state.Paused && state.Attached && state.Available() < kReaderLowWater) {
            state.Paused = false;
            curl_easy_pause(client_->Easy, CURLPAUSE_CONT);
        }
    };
    if (capacity == 0) return Status::Pending;
    if (state.Available() > 0) {
        take();
        return Status::Data;
    }
    if (state.Done) return state.Result == CURLE_OK ? Status::End : Status::Failed;
    Drive(*client_, state);
    if (state.Available() == 0 && !state.Done) WaitAndDrive(*client_, state, waitMs);
    if (state.Available() > 0) {
        take();
        return Status::Data;
    }
    if (state.Done) return state.Result == CURLE_OK ? Status::End : Status::Failed;
    return Status::Pending;
}

std::uint64_t FtpFileReader::Received() const {
    return state_->Received;
}

std::int64_t FtpFileReader::AnnouncedSize() const {
    return state_->Announced;
}
