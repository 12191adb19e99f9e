#pragma once
// An FTP session over libcurl: one control connection, passive mode, binary transfers.
//
// The client keeps its own notion of the current remote directory: a path relative to the
// login directory, or an absolute one (starting with '/'). SetCurrentDirectory checks the new
// directory with real CWD commands on the server, so changing into a directory that does not
// exist fails. Proxy environment variables are honoured the way libcurl honours them.
//
// Every text that ends up in a command line (user, password, host, file and directory names)
// is refused when it holds a control character: a CR or LF would end the command early and
// let the rest of the text travel as commands of its own.
//
// Everything runs on the calling thread (the GUI thread in the launcher). Nothing here pumps
// events: long operations are either bounded by the stall rule (the server silent, neither a
// reply nor a byte of data, for the stall time fails the operation; measured as it happens,
// not as an average rate) or, for streamed reads, return to the caller between chunks.
//
// What a server sends is bounded: a listing by bytes and entries, a whole-file download by
// the caller's limit and by the size the server announced.
//
// Close() may be called from an event handler while an FtpFileReader of this client is
// still on the stack: the reader's next Read reports Failed and nothing it uses goes away.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DownloadSink.h"
#include "platform/FtpListing.h"
#include "platform/Progress.h"

class FtpFileReader;

// A remote file's size and modification time as the server reports them (SIZE, MDTM).
struct FtpFileStat {
    std::uint64_t Size = 0;
    std::int64_t Modified = -1;  // seconds since 1970 (UTC), -1: the server gave no MDTM
};

class FtpClient {
public:
    struct Options {
        int StallSeconds = 60;  // no bytes for this long fails a transfer (and a connect)
    };

    // A listing longer than this (bytes, or entries) fails as a whole.
    static constexpr std::size_t kMaxListingBytes = 8u << 20;
    static constexpr std::size_t kMaxListingEntries = 5000;

    FtpClient();
    explicit FtpClient(Options options);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Connects and logs in. False (LastError set) when the server cannot be reached, refuses
    // the login, the host is not a plain host name or address, or the user or password holds
    // a control character.
    bool Connect(const std::string& host, std::uint16_t port, const std::string& user,
                 const std::string& password);
    // Drops the connection. Safe to call twice and while a reader is open.
    void Close();
    bool IsOpen() const;

    // `directory` is relative to the current directory, or absolute when it starts with '/'.
    // Back-slashes are not separators here. False when the server has no such directory.
    bool SetCurrentDirectory(const std::string& directory);
    // The current directory, as SetCurrentDirectory takes it back: built from the login
    // directory the server reported at login, in the server's own spelling ("/home/patch/a",
    // or "C:\ftproot/a" from a server that names drives). When the server reported none, the
    // login directory itself is "" (and SetCurrentDirectory("") returns to it).
    std::string GetCurrentDirectory() const;

    // Entries of the current directory (MLSD when the server offers it, else LIST).
    std::optional<std::vector<FtpFindData>> ListDirectory();

    // Downloads `remoteName` of the current directory to `localFile`, whole. The data lands
    // under a temporary name beside `localFile` and is renamed over it only when complete.
    // More than `maxBytes` (0: no limit), or more or less than the server announced, fails.
    // `progress`, when given, hears the bytes received of the announced size (0 while
    // unknown) and stops the download when cancelled.
    bool GetFile(const std::string& remoteName, const std::filesystem::path& localFile,
                 std::uint64_t maxBytes = 0, Progress* progress = nullptr);
    // The same, held to `expected` (its size as the limit, its exact size and SHA-256 checked
    // as the bytes arrive): a file that differs never takes its name.
    bool GetFile(const std::string& remoteName, const std::filesystem::path& localFile,
                 const DownloadExpectation& expected, Progress* progress = nullptr);

    // SIZE and MDTM of `remoteName` in the current directory; nullopt when the server has no
    // such file or gives no size.
    std::optional<FtpFileStat> Stat(const std::string& remoteName);

    // Starts a download of `remoteName` and returns once the server has begun sending it
    // (or has sent all of it). Null when the server refuses the file or the link fails.
    // `keepWaiting`, when given, runs between short waits for the server (so a caller can
    // handle its events); false from it abandons the open. It may close this client.
    // `offset` > 0 asks for the file from that byte on (REST); a server that refuses REST
    // fails the open. The announced size stays the whole file's.
    std::unique_ptr<FtpFileReader> OpenFile(const std::string& remoteName,
                                            const std::function<bool()>& keepWaiting = {},
                                            std::uint64_t offset = 0);
    // The URL of `remoteName` in the current directory (ftp://host:port/dir/name).
    std::string UrlOf(const std::string& remoteName) const;

    // The libcurl result code of the last failed operation (0 after a success) and what
    // went wrong, with the server's last reply when there was one.
    int LastError() const;
    // Why the last request failed: libcurl's words with the server's reply, or the local file
    // that could not be written and the system's reason.
    std::string LastErrorText() const;
    // "host:port", for messages.
    std::string ServerName() const;
    // The URL of the last request (ftp://host:port/dir/file; no user or password).
    std::string LastUrl() const;

    // Whether the server announced MLSD support (known after Connect).
    bool ServerOffersMlsd() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

// A remote file being received. Read hands out what has arrived so far.
class FtpFileReader {
public:
    enum class Status { Data, Pending, End, Failed };

    ~FtpFileReader();
    FtpFileReader(const FtpFileReader&) = delete;
    FtpFileReader& operator=(const FtpFileReader&) = delete;

    // Data: *count (> 0) bytes were copied. Pending: nothing arrived within `waitMs`; call
    // again after handling events. End: the file is complete. Failed: the transfer broke,
    // stalled, or the client was closed.
    Status Read(char* buffer, std::size_t capacity, std::size_t* count, int waitMs = 50);
    // Abandons the transfer (the control connection may be dropped by it).
    void Close();

    // Bytes received from the server so far.
    std::uint64_t Received() const;
    // The file's size as the server announced it for this transfer (its SIZE reply or the
    // opening reply), or -1 when it announced none. Known once the open has returned.
    std::int64_t AnnouncedSize() const;

    struct State;  // the transfer's buffer; defined by the implementation

private:
    friend class FtpClient;
    explicit FtpFileReader(std::shared_ptr<FtpClient::Impl> client);
    std::shared_ptr<FtpClient::Impl> client_;
    std::unique_ptr<State> state_;
};
