#pragma once
// The FTP patch session: log in to the patch server, fetch the version list and bring the
// client up to the newest version, one patch after the other (per-file, compressed or packed
// patches), resuming from "patch.log" what an earlier run left half done.
//
// Runs on the GUI thread. Long steps pump one window event per unit of work through the
// engine, so the window's buttons work during a transfer: the close and start buttons set
// StopTransfer and call CloseFtpConnection from inside those pumps, and the running step
// notices at its next check and fails. The session object must outlive RunFtpPatch; the FTP
// connection it uses may go away under it at any pump.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "patch/PatchEngine.h"
#include "patch/RepositoryVerifier.h"
#include "platform/DownloadSink.h"

class FtpClient;
class FtpFileReader;

// One entry of the current remote directory's listing.
struct RemoteFileEntry {
    std::string Name;  // at most 255 characters
    std::uint64_t Size = 0;
};

class FtpPatchSession {
public:
    static constexpr int kRemoteFileSlots = 999;  // entries kept per directory listing
    static constexpr int kOpenAttempts = 100;
    static constexpr int kOpenRetryDelayMs = 100;
    static constexpr std::size_t kTransferChunk = 2048;
    // Files at least this big keep their bytes when interrupted and are resumed by the next
    // run; a smaller one costs less to fetch again than to ask the server about.
    static constexpr std::uint64_t kResumableSize = 1 << 20;
    // Downloads are recorded in the log at least this often (besides once per directory), so
    // a killed run of big files loses little.
    static constexpr std::uint64_t kRecordBatchBytes = std::uint64_t{256} << 20;

    // `stallSeconds`: a transfer that receives nothing for this long fails.
    explicit FtpPatchSession(PatchEngine& engine, int stallSeconds = 60);
    ~FtpPatchSession();
    FtpPatchSession(const FtpPatchSession&) = delete;
    FtpPatchSession& operator=(const FtpPatchSession&) = delete;

    // The whole session. True when the client ended up current (or the launcher's own file
    // was replaced and the game was started instead); false after a failure whose message
    // has been shown (the caller then shows message 138 and the start button).
    bool RunFtpPatch(const std::string& host, std::uint16_t port, const std::string& user,
                     const std::string& password, const std::string& versionFile);
    // Drops the FTP connection. Safe at any time, also from a handler inside a pump.
    void CloseFtpConnection();

    // The steps, in calling order.
    bool OpenFtpConnection();
    bool FetchVersionList();
    bool ApplyPendingPatches();
    // `save` starts at true; a test-server patch on a normal client clears it.
    bool DownloadPatch(const VersionEntry& entry, bool* save);
    void ListRemoteDirectory();
    // `remoteName` of the current remote directory to `localPath` (relative to the game
    // directory, back-slashes), in chunks, pumping one event per chunk.
    bool DownloadFile(const std::string& remoteName, const std::string& localPath);

    const std::vector<RemoteFileEntry>& RemoteFileTable() const { return remoteFiles_; }

private:
    bool DownloadFileList(const VersionEntry& entry);
    // With a verifier: the signed index before anything else, a version's manifest after its
    // list file; each failure shows `failureMessage` and ends the session.
    bool FetchSignedIndex();
    bool FetchManifest(const VersionEntry& entry);
    // False when the listing gives `remoteName` another size than the manifest expects.
    bool CheckListedSize(const std::string& remoteName, const std::string& logName);
    // A per-file list, read from "list.inf" item by item as it is worked through.
    bool WalkPerFileList(const VersionEntry& entry);
    bool WalkPerFileItems(const VersionEntry& entry, PerFileListReader& items);
    // Flushes the files fetched since the last call to disk, then names them in the log.
    bool RecordFetchedFiles();
    // `signedFile`: what the restored file must be, checked as it is written.
    bool RestoreCompressed(const std::string& localPath, const std::string& restoredPath,
                           const std::optional<SignedDownload>& signedFile);
    // Up to `attempts` opens (from byte `offset`), pumping; null on failure, reported with
    // message 125 unless stopped or resuming (`offset` > 0: the caller then asks for the
    // whole file).
    std::unique_ptr<FtpFileReader> OpenRemoteFile(const std::shared_ptr<FtpClient>& ftp,
                                                  const std::string& remote,
                                                  std::uint64_t offset = 0,
                                                  int attempts = kOpenAttempts);
    // Where a download of `remote` into `file` may start: the bytes an interrupted earlier
    // run kept, when the server's file still has the size and date they were taken from;
    // else 0. Sets `record` to what the download is to be kept under if interrupted.
    std::uint64_t ResumePoint(const std::shared_ptr<FtpClient>& ftp, const std::string& remote,
                              DownloadSink& file, std::optional<ResumeRecord>& record);
    // Bytes `start` to `size` of the open transfer into `file`, pumping per chunk.
    bool ReceiveFile(FtpFileReader& reader, const std::string& remote, std::uint64_t size,
                     DownloadSink& file, std::uint64_t start = 0);
    std::string ServerError() const;
    // What failed, on stderr, with the server's name.
    void Report(const std::string& what) const;

    PatchEngine& engine_;
    PatchHost& host_;
    int stallSeconds_;
    std::shared_ptr<FtpClient> ftp_;
    std::vector<RemoteFileEntry> remoteFiles_;
    // What the next download must be (from the signed manifest), when verifying; set when the
    // last download or restore was refused for not being that (the verifier says why).
    std::optional<SignedDownload> expected_;
    bool downloadRefused_ = false;
    // Files complete in "Temp" whose log lines are not written yet (their names as logged, and
    // upper-cased for lookups), and the bytes downloaded for them.
    std::vector<std::string> unlogged_;
    std::unordered_set<std::string> unloggedNames_;
    std::uint64_t unloggedBytes_ = 0;
    std::uint64_t lastFileSize_ = 0;
};
