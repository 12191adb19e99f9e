#include "patch/FtpPatchSession.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include "archive/UnpackFile.h"
#include "patch/RepositoryVerifier.h"
#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "platform/DownloadSink.h"
#include "platform/FtpClient.h"
#include "text/MessageNumbers.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kFixedVersionFile = "version.wvd";
constexpr const char* kRestoreSuffix = ".restoring";
constexpr std::size_t kMaxRemoteName = 255;

std::string ErrorCodeText(const std::string& message, int code) {
    return message + "\n[Error Code : " + std::to_string(code) + "]";
}

// "Data\Player" in patch 1.00.02 gives "/1.00.02/Data/Player/".
std::string AbsoluteRemoteDirectory(const std::string& label, const std::string& subdirectory) {
    std::string path = "\\" + label + "\\" + subdirectory + "\\";
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

}  // namespace

FtpPatchSession::FtpPatchSession(PatchEngine& engine, int stallSeconds)
    : engine_(engine), host_(engine.Host()), stallSeconds_(stallSeconds) {}

FtpPatchSession::~FtpPatchSession() {
    CloseFtpConnection();
}

void FtpPatchSession::CloseFtpConnection() {
    // A transfer on the stack keeps its own reference; it sees the closed client next time.
    if (std::shared_ptr<FtpClient> ftp = std::move(ftp_)) ftp->Close();
    ftp_.reset();
}

bool FtpPatchSession::RunFtpPatch(const std::string& host, std::uint16_t port,
                                  const std::string& user, const std::string& password,
                                  const std::string& versionFile) {
    engine_.RemoveGameFile(kFixedVersionFile);
    engine_.ServerHost = host;
    engine_.ServerPort = port;
    engine_.ServerUser = user;
    engine_.ServerPassword = password;
    engine_.VersionFileName = versionFile;
    host_.SetStatusText(kMsgConnectingPatchServer);
    engine_.SelfUpdatePending = 0;
    // The list is downloaded over its name and deleted afterwards: a name of the game's own
    // files would cost the player that file.
    if (!engine_.IsUsableVersionFileName(versionFile)) {
        host_.SetStatusText(kMsgDownloadFailed);
        return false;
    }
    engine_.RemoveStaleTemporaries();

    if (!OpenFtpConnection()) return false;
    host_.CloseConnectServerConnection();
    if (engine_.Verifier && !FetchSignedIndex()) return false;
    if (!FetchVersionList()) return false;
    if (engine_.Verifier) {
        const auto local = engine_.Resolve(engine_.VersionFileName);
        if (!local || !engine_.Verifier->CheckVersionFile(engine_.VersionFileName, *local))
            return engine_.RefuseUnverified(kMsgDownloadFailed, engine_.VersionFileName);
    }
    if (!engine_.LoadVersionList(engine_.VersionFileName)) {
        engine_.RemoveGameFile(engine_.VersionFileName);
        return false;
    }
    if (!ApplyPendingPatches()) return false;
    engine_.RemoveGameFile(kFixedVersionFile);
    return true;
}

bool FtpPatchSession::OpenFtpConnection() {
    auto ftp = std::make_shared<FtpClient>(FtpClient::Options{stallSeconds_});
    if (!ftp->Connect(engine_.ServerHost, engine_.ServerPort, engine_.ServerUser,
                      engine_.ServerPassword)) {
        host_.LogFailure("FTP patch server " + engine_.ServerHost + ":" +
                         std::to_string(engine_.ServerPort) + " as " + engine_.ServerUser + ": " +
                         ftp->LastErrorText());
        host_.ShowFormattedMessage(
            ErrorCodeText(host_.MessageText(kMsgConnectionRefused), ftp->LastError()));
        return false;
    }
    ftp_ = std::move(ftp);
    return true;
}

bool FtpPatchSession::FetchVersionList() {
    host_.SetStatusText(kMsgFetchingVersionList);
    engine_.RemoveGameFile(engine_.VersionFileName);
    const auto local = engine_.Resolve(engine_.VersionFileName);
    std::shared_ptr<FtpClient> ftp = ftp_;
    if (!local || !ftp ||
        !ftp->GetFile(engine_.VersionFileName, *local, CTokenReader::kMaxFileSize)) {
        Report("RETR " + engine_.VersionFileName + ": " + ServerError());
        host_.SetStatusText(kMsgDownloadFailed);
        return false;
    }
    return true;
}

bool FtpPatchSession::ApplyPendingPatches() {
    const int count = static_cast<int>(engine_.VersionList.size());
    int skipped = 0;
    for (int i = 0; i < count; ++i) {
        const VersionEntry entry = engine_.VersionList[static_cast<std::size_t>(i)];
        const std::int32_t current = engine_.CurrentVersion.Packed();
        engine_.SetProgressCaption(host_.MessageText(kMsgPatchCaption) + std::to_string(i + 1) +
                                   "/" + std::to_string(count));
        host_.UpdateProgressText();
        if (entry.Packed <= current) {
            ++skipped;
            host_.SetBarRange(PatchBar::Total, count - skipped);
            continue;
        }

        engine_.TargetVersion = entry.Packed;
        host_.LogEvent("version " + std::string(entry.Label) + " (" + std::to_string(i + 1) +
                       " of " + std::to_string(count) + ") from ftp://" + engine_.ServerHost + ":" +
                       std::to_string(engine_.ServerPort) + "/" + entry.Label);
        // A log of another version must not be installed under this one, whatever this patch
        // turns out to be (one for the test client only, or one without files).
        if (!engine_.DropLogOfOtherVersion() ||
            (!engine_.Log().Exists() && !engine_.AppendVersionLine())) {
            host_.SetStatusText(kMsgPatchFailed);
            return false;
        }

        std::shared_ptr<FtpClient> ftp = ftp_;
        if (!ftp) return false;
        const std::string remembered = ftp->GetCurrentDirectory();
        engine_.RemoveGameFile(PatchEngine::kPatchListName);

        bool save = true;
        const bool downloaded = DownloadPatch(entry, &save);
        engine_.RemoveGameFile(PatchEngine::kPatchListName);
        if (!downloaded) return false;

        engine_.CurrentVersion = VersionNumber{entry.Major, entry.Minor, entry.Build};
        if (ftp_) ftp_->SetCurrentDirectory(remembered);

        if (!engine_.ListFlags.PackingVersion && !engine_.InstallFromTemp()) return false;
        if (!engine_.FinishPatchLog()) return false;
        engine_.RemoveStaleGameData();
        if (engine_.Launch.Mode != kLaunchGivenVersion && save && !engine_.SaveLocalVersion()) {
            // The files are in place but the version is not recorded: the next run applies
            // this patch again.
            host_.SetStatusText(kMsgPatchFailed);
            return false;
        }
        host_.LogEvent("version " + std::string(entry.Label) + " installed");
        if (engine_.SelfUpdatePending) {
            // The new launcher is in place beside the old one: the game starts now and this
            // launcher ends; nothing more is patched in this run.
            host_.StartGameAfterPatch();
            return true;
        }
        host_.SetBarPosition(PatchBar::Total, i + 1 - skipped);
        host_.RefreshWindow();
    }

    engine_.RemoveGameFile(kFixedVersionFile);
    host_.SetStatusText(kMsgPatchComplete);
    CloseFtpConnection();
    engine_.EndSessionCurrent();
    return true;
}

bool FtpPatchSession::FetchSignedIndex() {
    const auto index = engine_.MetadataScratch(kRepositoryIndexName);
    const auto signature = engine_.MetadataScratch(kRepositoryIndexSignatureName);
    std::shared_ptr<FtpClient> ftp = ftp_;
    if (!index || !signature || !ftp) return false;
    // A file the server lacks is simply absent here; the verifier says which one.
    ftp->GetFile(kRepositoryIndexName, *index, RepositoryVerifier::kMaxIndexBytes);
    ftp->GetFile(kRepositoryIndexSignatureName, *signature, RepositoryVerifier::kMaxSignatureBytes);
    const bool accepted = engine_.Verifier->AcceptIndex(*index, *signature);
    std::error_code ec;
    fs::remove(*index, ec);
    fs::remove(*signature, ec);
    return accepted || engine_.RefuseUnverified(kMsgDownloadFailed, {});
}

bool FtpPatchSession::FetchManifest(const VersionEntry& entry) {
    const auto manifest = engine_.MetadataScratch(kManifestName);
    std::shared_ptr<FtpClient> ftp = ftp_;
    if (!manifest || !ftp) return false;
    ftp->GetFile(kManifestName, *manifest, RepositoryVerifier::kMaxManifestBytes);
    const bool accepted = engine_.Verifier->AcceptManifest(entry.Label, *manifest);
    std::error_code ec;
    fs::remove(*manifest, ec);
    const auto list = engine_.Resolve(PatchEngine::kPatchListName);
    if (!accepted || !list || !engine_.Verifier->CheckList(*list))
        return engine_.RefuseUnverified(kMsgDownloadFailed, PatchEngine::kPatchListName);
    return true;
}

bool FtpPatchSession::DownloadFileList(const VersionEntry& entry) {
    std::shared_ptr<FtpClient> ftp = ftp_;
    if (!ftp || !ftp->SetCurrentDirectory(entry.Label)) {
        Report(std::string("CWD ") + entry.Label + ": " + ServerError());
        host_.SetStatusText(kMsgNoSuchDirectory);
        return false;
    }
    engine_.RemoveGameFile(PatchEngine::kPatchListName);
    const auto local = engine_.Resolve(PatchEngine::kPatchListName);
    if (!local || !ftp->GetFile(PatchEngine::kPatchListName, *local, CTokenReader::kMaxFileSize)) {
        Report(std::string("RETR ") + entry.Label + "/" + PatchEngine::kPatchListName + ": " +
               ServerError());
        host_.SetStatusText(kMsgDownloadFailed);
        return false;
    }
    return !engine_.Verifier || FetchManifest(entry);
}

bool FtpPatchSession::DownloadPatch(const VersionEntry& entry, bool* save) {
    if (!DownloadFileList(entry)) return false;

    engine_.ReadPatchListFlags();
    if (engine_.Launch.Mode == kLaunchNormal && engine_.ListFlags.TestServer) {
        // A patch for the test client only: passed over, and not recorded in config.ini.
        *save = false;
        return true;
    }

    host_.SetStatusText(kMsgListingFiles);
    ListRemoteDirectory();

    // Checked whole before the first download; a per-file list is then walked from the file
    // item by item, so a version of many thousand files is never held.
    const auto scanned = engine_.ScanCurrentPatchList();
    if (!scanned || !scanned->IsUsable()) {
        host_.SetStatusText(kMsgPatchListUnreadable);
        return false;
    }
    if (!scanned->Flags.PackingVersion) {
        host_.SetStatusText(kMsgDownloadingFiles);
        return WalkPerFileList(entry);
    }
    const auto list = engine_.ReadCurrentPatchList();
    if (!list || !list->IsUsable()) {
        host_.SetStatusText(kMsgPatchListUnreadable);
        return false;
    }
    host_.SetStatusText(kMsgDownloadingFiles);
    try {
        return engine_.InstallPackedPatch(
            *list,
            [this](const std::string& remote, const std::string& local) {
                // A verified archive must announce its signed size before a byte arrives, and
                // is hashed as it does.
                if (engine_.Verifier) {
                    expected_ = engine_.Verifier->ArchiveExpectation();
                    if (!expected_) return engine_.RefuseUnverified(kMsgPatchFailed, {});
                }
                const bool fetched = DownloadFile(remote, local);
                expected_.reset();
                if (downloadRefused_) engine_.RefuseUnverified(kMsgPatchFailed, local);
                return fetched;
            },
            [this] { return engine_.StopTransfer.load() == 1; });
    } catch (...) {
        // A damaged archive: the session ends here with the window usable.
        host_.SetStatusText(kMsgPatchFailed);
        return false;
    }
}

bool FtpPatchSession::WalkPerFileList(const VersionEntry& entry) {
    unlogged_.clear();
    unloggedNames_.clear();
    unloggedBytes_ = 0;
    CTokenReader reader;
    const auto file = engine_.Resolve(PatchEngine::kPatchListName);
    if (!file || !reader.OpenTokenFile(*file)) {
        host_.SetStatusText(kMsgPatchListUnreadable);
        return false;
    }
    PerFileListReader items(reader);
    // What was fetched before a failure or a stop is recorded, so the next run skips it.
    bool walked = WalkPerFileItems(entry, items);
    if (walked && (reader.ReadFailed() || items.TooLarge())) {
        // The list changed or could not be read again after it was checked.
        engine_.ReportFailure("cannot read the patch list again", *file);
        host_.SetStatusText(kMsgPatchListUnreadable);
        walked = false;
    }
    if (!RecordFetchedFiles()) {
        if (walked) host_.SetStatusText(kMsgPatchFailed);
        return false;
    }
    return walked;
}

bool FtpPatchSession::RecordFetchedFiles() {
    if (unlogged_.empty()) return true;
    // The files reach the disk before the log names them: a logged file is never fetched
    // again, so after a power cut it must be whole. One flush for the batch instead of one
    // (and a directory flush) per file.
    if (!SyncFileSystemOf(engine_.GameDirectory().Root())) {
        engine_.ReportFailure("cannot flush the downloaded files to disk",
                              engine_.GameDirectory().Root(), errno);
        return false;
    }
    std::vector<std::string_view> names(unlogged_.begin(), unlogged_.end());
    // A file the log does not name is never installed, so lines that cannot be written (a
    // full disk) fail the patch rather than leave the files out of it.
    if (!engine_.Log().AppendLogLines('F', names)) {
        engine_.ReportFailure(
            "cannot record " + std::to_string(names.size()) + " downloaded files in the patch log",
            engine_.Log().File(), errno);
        return false;
    }
    unlogged_.clear();
    unloggedNames_.clear();
    unloggedBytes_ = 0;
    return true;
}

bool FtpPatchSession::WalkPerFileItems(const VersionEntry& entry, PerFileListReader& items) {
    const bool compressed = engine_.ListFlags.Compressed;
    bool resume = engine_.Log().Exists();
    std::string subdirectory;
    // The game and "Temp" directories of the subdirectory in force. The resolver keeps what
    // it read of them only while their files are fetched: a version of many directories then
    // costs the memory of one.
    std::vector<fs::path> working;
    const auto leaveWorking = [&] {
        for (const fs::path& directory : working) engine_.GameDirectory().ForgetListing(directory);
        working.clear();
    };

    for (PatchListItem item; items.Next(item);) {
        // A name cut by the reader was refused when the list was checked; one now is a list
        // that changed since.
        if (item.Truncated) {
            host_.SetStatusText(kMsgPatchListUnreadable);
            return false;
        }
        if (item.What == PatchListItem::Kind::Subdirectory) {
            // A directory's files are recorded together before the next directory starts.
            if (!RecordFetchedFiles()) {
                host_.SetStatusText(kMsgPatchFailed);
                return false;
            }
            // An empty name switches back to the game directory itself.
            subdirectory = item.Name;
            const auto gameDir = subdirectory.empty()
                                     ? std::optional<fs::path>(engine_.GameDirectory().Root())
                                     : engine_.Resolve(subdirectory);
            const auto tempDir =
                engine_.Resolve(std::string(PatchEngine::kTempDirectory) +
                                (subdirectory.empty() ? std::string() : "\\" + subdirectory));
            if (!gameDir || !tempDir) {
                host_.SetStatusText(kMsgPatchListUnreadable);
                return false;
            }
            std::error_code ec;
            fs::create_directories(*gameDir, ec);
            fs::create_directories(*tempDir, ec);
            leaveWorking();
            working = {*gameDir, *tempDir};
            if (engine_.ListFlags.NewToolVersion) {
                std::shared_ptr<FtpClient> ftp = ftp_;
                if (!ftp ||
                    !ftp->SetCurrentDirectory(AbsoluteRemoteDirectory(entry.Label, subdirectory))) {
                    host_.SetStatusText(kMsgNoSuchDirectory);
                    return false;
                }
                ListRemoteDirectory();
            }
        } else if (item.What == PatchListItem::Kind::File) {
            std::string local = std::string(PatchEngine::kTempDirectory) + "\\";
            if (!subdirectory.empty()) local += subdirectory + "\\";
            local += item.Name;
            std::string logName = local.substr(std::string(PatchEngine::kTempDirectory).size() + 1);
            if (compressed) {
                if (logName.size() <= 4) {
                    host_.SetStatusText(kMsgPatchListUnreadable);
                    return false;
                }
                logName.resize(logName.size() - 4);
            }
            // Checked before anything is downloaded: the file and what it restores to.
            if (!engine_.Resolve(local) || !engine_.Resolve(logName)) {
                host_.SetStatusText(kMsgPatchListUnreadable);
                return false;
            }

            bool skip = false;
            bool logged = false;
            if (resume) {
                if (engine_.IsLoggedVersionDifferent()) {
                    engine_.Log().Remove();
                    resume = false;
                    if (!engine_.AppendVersionLine()) {
                        host_.SetStatusText(kMsgPatchFailed);
                        return false;
                    }
                } else if ((logged = engine_.IsFileLogged(logName) ||
                                     unloggedNames_.count(UpperAscii(logName)) > 0)) {
                    // Only a copy that is still in "Temp" counts: a run that ended while the
                    // copies were being cleared leaves log lines without files, and
                    // skipping those would fail the installation on every later run.
                    const auto copy =
                        engine_.Resolve(std::string(PatchEngine::kTempDirectory) + "\\" + logName);
                    std::error_code ec;
                    skip = copy && fs::is_regular_file(*copy, ec);
                    // A copy an earlier run left must still be what the manifest says; one
                    // that is not is fetched again.
                    if (skip && engine_.Verifier &&
                        !engine_.Verifier->CheckInstalled(logName, *copy))
                        skip = false;
                }
            }
            if (!skip) {
                if (engine_.Verifier && !CheckListedSize(item.Name, logName))
                    return engine_.RefuseUnverified(kMsgPatchFailed, {});
                // The download and the restored file are hashed by the sinks that write them.
                std::optional<SignedDownload> restoredFile;
                if (engine_.Verifier) {
                    expected_ = engine_.Verifier->StoredExpectation(logName);
                    if (compressed) restoredFile = engine_.Verifier->InstalledExpectation(logName);
                    if (!expected_ || (compressed && !restoredFile))
                        return engine_.RefuseUnverified(kMsgPatchFailed, {});
                }
                const bool fetched = DownloadFile(item.Name, local);
                expected_.reset();
                if (downloadRefused_) return engine_.RefuseUnverified(kMsgPatchFailed, local);
                if (!fetched) {
                    host_.SetStatusText(kMsgPatchFailed);
                    return false;
                }
                if (compressed) {
                    const std::string restored =
                        std::string(PatchEngine::kTempDirectory) + "\\" + logName;
                    if (!RestoreCompressed(local, restored, restoredFile)) {
                        if (downloadRefused_)
                            return engine_.RefuseUnverified(kMsgPatchFailed, local);
                        host_.SetStatusText(kMsgPatchFailed);
                        return false;
                    }
                    engine_.RemoveGameFile(local);
                }
                // One line per file: the log's cleanup treats a second line for a file it has
                // already removed as a failed deletion and would keep the log. The lines are
                // written in batches (a directory, or kRecordBatchBytes of downloads).
                if (!logged) {
                    unlogged_.push_back(logName);
                    unloggedNames_.insert(UpperAscii(logName));
                    unloggedBytes_ += lastFileSize_;
                    if ((unloggedBytes_ >= kRecordBatchBytes ||
                         unlogged_.size() >= static_cast<std::size_t>(kRemoteFileSlots)) &&
                        !RecordFetchedFiles()) {
                        host_.SetStatusText(kMsgPatchFailed);
                        return false;
                    }
                }
            }
        }
        engine_.Pump();
    }
    leaveWorking();
    return true;
}

bool FtpPatchSession::RestoreCompressed(const std::string& localPath,
                                        const std::string& restoredPath,
                                        const std::optional<SignedDownload>& signedFile) {
    downloadRefused_ = false;
    const auto source = engine_.Resolve(localPath);
    const auto restored = engine_.Resolve(restoredPath);
    if (!source || !restored) return false;
    const std::string directory = source->parent_path().string() + "/";
    // The restorer drops the last extension; the log drops four characters. Both must name
    // the same file, or the log would record a file that is not there. A copy left in "Temp"
    // in another letter case is the same file to the game, and is overwritten.
    const fs::path unpacked = UnpackedFilePath(source->string(), directory);
    if (unpacked.parent_path() != restored->parent_path() ||
        !EqualsIgnoringAsciiCase(unpacked.filename().string(), restored->filename().string()))
        return false;
    // The file is restored under a temporary name beside its place and committed whole: a run
    // killed half-way must not leave a part of it under its own name, where a later run that
    // finds it in the log would take it for the finished file and install it. The fixed
    // suffix lets the next restore of the same file reuse what a killed one left.
    DownloadSink output(*restored, kRestoreSuffix);
    // Like every file in "Temp", it reaches the disk when it is installed.
    output.SetFlushToDisk(false);
    if (signedFile) output.Expect(signedFile->Expected);
    if (!output.Open()) {
        Report(output.Failure());
        return false;
    }
    auto refused = [&] {
        if (signedFile && output.Refused())
            downloadRefused_ = !engine_.Verifier->RefuseDownload(*signedFile, output.Failure());
        return false;
    };
    Progress watcher({}, [this] { return engine_.StopTransfer.load() == 1; });
    UnpackControl control;
    control.Watcher = &watcher;
    control.PumpOneEvent = [this] { engine_.Pump(); };
    if (UnpackFileTo(control, source->string(), output) != 1) {
        if (!output.Failure().empty()) Report(output.Failure());
        return refused();
    }
    if (!output.Commit()) {
        Report(output.Failure());
        return refused();
    }
    // Like the downloaded file before it (which goes next): the directory's next file is then
    // looked up without reading the directory again.
    engine_.GameDirectory().NoteCreated(*restored);
    return true;
}

bool FtpPatchSession::CheckListedSize(const std::string& remoteName, const std::string& logName) {
    // The transfer reads the listed size: a listing that claims more than the signed size
    // would have the launcher fetch (and hold) that much before the hash could refuse it.
    for (const RemoteFileEntry& candidate : remoteFiles_) {
        if (EqualsIgnoringAsciiCase(candidate.Name, remoteName))
            return engine_.Verifier->CheckAnnouncedSize(logName, candidate.Size);
    }
    return engine_.Verifier->CheckAnnouncedSize(logName, std::nullopt);
}

void FtpPatchSession::ListRemoteDirectory() {
    remoteFiles_.clear();
    std::shared_ptr<FtpClient> ftp = ftp_;
    if (!ftp) return;
    const auto listing = ftp->ListDirectory();
    if (!listing) {
        // Every file of the directory then fails as not listed (message 138).
        Report("listing " + ftp->GetCurrentDirectory() + ": " + ftp->LastErrorText());
        return;
    }
    for (const FtpFindData& found : *listing) {
        if (found.IsDirectory || found.Name == "." || found.Name == "..") continue;
        // Names beyond what a slot holds are not offered (a cut name would fetch the wrong
        // file).
        if (found.Name.size() > kMaxRemoteName) continue;
        if (static_cast<int>(remoteFiles_.size()) >= kRemoteFileSlots) {
            host_.ShowFormattedMessage(host_.MessageText(kMsgTooManyFiles));
            continue;
        }
        remoteFiles_.push_back(RemoteFileEntry{found.Name, found.Size});
    }
}

bool FtpPatchSession::DownloadFile(const std::string& remoteName, const std::string& localPath) {
    downloadRefused_ = false;
    const RemoteFileEntry* listed = nullptr;
    for (const RemoteFileEntry& candidate : remoteFiles_) {
        if (EqualsIgnoringAsciiCase(candidate.Name, remoteName)) {
            listed = &candidate;
            break;
        }
    }
    if (!listed) {
        Report("RETR " + remoteName + ": not in the directory's listing");
        return false;
    }
    const std::uint64_t listedSize = listed->Size;
    const std::string remote = listed->Name;
    host_.SetBarRange(PatchBar::File, 100);
    if (listedSize == 0) {
        Report("RETR " + remote + ": listed with size 0");
        return false;
    }
    const auto local = engine_.Resolve(localPath);
    if (!local) return false;

    engine_.StopTransfer = 0;
    // Keeps the client alive even if a handler closes the connection during a pump.
    std::shared_ptr<FtpClient> ftp = ftp_;
    // The data lands under a temporary name and takes the file's own name only when complete
    // (a logged file being fetched again must never be left half-written under that name).
    DownloadSink file(*local, ".part");
    // Reaching the disk is settled for a batch of files at once (RecordFetchedFiles), or by the
    // packed patch's flush of everything it unpacked: the archive is fetched anew after a crash.
    file.SetFlushToDisk(false);
    std::optional<ResumeRecord> record;
    std::uint64_t offset =
        listedSize >= kResumableSize ? ResumePoint(ftp, remote, file, record) : 0;
    std::unique_ptr<FtpFileReader> reader =
        OpenRemoteFile(ftp, remote, offset, offset ? 1 : kOpenAttempts);
    if (!reader && offset > 0 && engine_.StopTransfer.load() != 1) {
        // A server that takes no REST gets the whole file.
        host_.LogEvent("server refused to resume at " + std::to_string(offset) + " bytes (" +
                       (ftp ? ftp->LastErrorText() : std::string()) +
                       "), starting over: " + record->Source);
        offset = 0;
        reader = OpenRemoteFile(ftp, remote);
    }
    if (!reader) return false;

    // The size the server announced for this transfer wins over the listing's: a symbolic
    // link is listed with the link's own size, and a file may have grown since the listing.
    std::uint64_t size = listedSize;
    const std::int64_t announced = reader->AnnouncedSize();
    if (announced >= 0) size = static_cast<std::uint64_t>(announced);
    if (size == 0) {
        Report("RETR " + remote + ": the server announced " + std::to_string(announced) + " bytes");
        return false;
    }

    if (expected_ && expected_->Expected.Size && size != *expected_->Expected.Size) {
        Report("RETR " + remote + ": the server announced " + std::to_string(size) +
               " bytes, the signed manifest says " + std::to_string(*expected_->Expected.Size));
        return false;
    }

    file.AddValidator(ExactSize(size));
    if (expected_ && expected_->Expected.Digest)
        file.AddValidator(ExpectedSha256(*expected_->Expected.Digest));
    if (offset > 0 && size != record->Size) {
        // The file changed between the check and the transfer: what comes is not the rest.
        Report("RETR " + remote + ": the server announced " + std::to_string(size) +
               " bytes, not the " + std::to_string(record->Size) + " of the kept part");
        file.DiscardPartial();
        return false;
    }
    if (!(offset > 0 ? file.OpenResuming(offset) : file.Open())) {
        Report(file.Failure());
        host_.SetStatusText(kMsgCannotCreateLocal);
        return false;
    }
    if (record && record->Size == size) file.KeepForResume(*record);
    const bool received = ReceiveFile(*reader, remote, size, file, offset);
    reader.reset();
    if (!received) {
        // Broken or stopped: the bytes so far wait for the next run (when resumable).
        file.Interrupt();
        return false;
    }
    if (!file.Commit()) {
        Report(file.Failure());
        if (expected_ && file.Refused())
            downloadRefused_ = !engine_.Verifier->RefuseDownload(*expected_, file.Failure());
        return false;
    }
    // Known to the resolver from now on: the next file of this directory is looked up without
    // reading the directory again (once a file, that made a directory of 999 cost 500,000
    // names read).
    engine_.GameDirectory().NoteCreated(*local);
    lastFileSize_ = size;
    host_.LogEvent("downloaded " + (ftp ? ftp->LastUrl() : remote) + " (" + std::to_string(size) +
                   " bytes) to " + local->string());
    engine_.StopTransfer = 0;
    return true;
}

std::uint64_t FtpPatchSession::ResumePoint(const std::shared_ptr<FtpClient>& ftp,
                                           const std::string& remote, DownloadSink& file,
                                           std::optional<ResumeRecord>& record) {
    if (!ftp) return 0;
    const auto stat = ftp->Stat(remote);
    const std::string source = ftp->UrlOf(remote);
    if (stat && stat->Modified >= 0)
        record = ResumeRecord{source, stat->Size, std::to_string(stat->Modified)};
    const auto partial = file.FindPartial(source);
    if (!partial || partial->Bytes == 0) return 0;
    if (!record || partial->Record != *record || partial->Bytes >= record->Size) {
        host_.LogEvent("server file changed, starting over: " + source);
        return 0;
    }
    host_.LogEvent("resuming " + source + " at " + std::to_string(partial->Bytes) + " bytes");
    return partial->Bytes;
}

std::unique_ptr<FtpFileReader> FtpPatchSession::OpenRemoteFile(
    const std::shared_ptr<FtpClient>& ftp, const std::string& remote, std::uint64_t offset,
    int attempts) {
    // The window's events are handled while the server makes up its mind, so a silent server
    // cannot freeze the window and the close button can end the wait.
    auto stopped = [this] { return engine_.StopTransfer.load() == 1; };
    auto keepWaiting = [&] {
        engine_.Pump();
        return !stopped();
    };
    // A server that refuses at once gets its hundred attempts; the time spent waiting for
    // the server, over all attempts, is bounded by the stall limit, so a silent server cannot
    // hold the launcher for a hundred stall limits.
    const long long budgetMs = static_cast<long long>(stallSeconds_) * 1000;
    long long waitedMs = 0;
    bool outOfTime = false;
    std::unique_ptr<FtpFileReader> reader;
    for (int attempt = 0; attempt < attempts && ftp && !stopped() && !outOfTime; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        auto elapsedMs = [&] {
            return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
        };
        reader = ftp->OpenFile(
            remote,
            [&] {
                if (!keepWaiting()) return false;
                outOfTime = waitedMs + elapsedMs() >= budgetMs;
                return !outOfTime;
            },
            offset);
        waitedMs += elapsedMs();
        if (reader || stopped()) break;
        outOfTime = outOfTime || waitedMs >= budgetMs;
        if (outOfTime) break;
        const auto retryAt =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kOpenRetryDelayMs);
        while (std::chrono::steady_clock::now() < retryAt && keepWaiting())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Stopped by the player: the caller reports the failed session. A refused resume is not
    // a failure: the caller asks for the whole file next.
    if (!reader && !stopped() && offset == 0) {
        Report("RETR " + remote + ": " +
               (outOfTime ? "no answer within " + std::to_string(stallSeconds_) + " s"
                          : std::to_string(attempts) + " attempts failed") +
               (ftp ? " (" + ftp->LastErrorText() + ")" : std::string()));
        host_.SetStatusText(kMsgCannotOpenRemote);
    }
    return reader;
}

bool FtpPatchSession::ReceiveFile(FtpFileReader& reader, const std::string& remote,
                                  std::uint64_t size, DownloadSink& file, std::uint64_t start) {
    const std::uint64_t scale =
        engine_.ListFlags.Compressed && !engine_.ListFlags.PackingVersion ? 50 : 100;
    // The file bar follows the bytes received, redrawn at most once per report interval.
    Progress progress(
        [&](std::uint64_t done, std::uint64_t) {
            host_.SetBarPosition(PatchBar::File, static_cast<int>(done * scale / size));
            host_.OnTransferProgress(TransferProgress{remote, done, size});
            host_.RefreshWindow();
        },
        [this] { return engine_.StopTransfer.load() == 1; });
    auto failed = [&](const std::string& why) {
        Report("RETR " + remote + ": " + why);
        return false;
    };
    // Bytes beyond the size are the server's fault, not an interruption: nothing is kept.
    auto tooMuch = [&] {
        file.Abandon();
        return failed("more data than its " + std::to_string(size) + " bytes");
    };
    std::uint64_t total = start;
    host_.OnTransferProgress(TransferProgress{remote, total, size});
    char buffer[kTransferChunk];
    while (total < size) {
        std::size_t got = 0;
        const FtpFileReader::Status status = reader.Read(buffer, sizeof buffer, &got);
        if (status == FtpFileReader::Status::End || status == FtpFileReader::Status::Failed) {
            // Ended before its size: a short file must not count as downloaded.
            return failed("ended after " + std::to_string(total) + " of " + std::to_string(size) +
                          " bytes (" + ServerError() + ")");
        }
        if (got > 0) {
            if (total + got > size) return tooMuch();
            if (!file.Write(buffer, got)) return failed(file.Failure());
            total += got;
            progress.Report(total, size);
        }
        engine_.Pump();
        if (progress.Cancelled()) return false;
    }
    progress.Finish(total, size);
    // Let the server finish the transfer so the control connection stays usable. Anything
    // beyond the size is refused: it would have been cut off, and the cut file installed.
    for (;;) {
        std::size_t got = 0;
        const FtpFileReader::Status status = reader.Read(buffer, sizeof buffer, &got);
        if (status == FtpFileReader::Status::End) return true;
        if (status == FtpFileReader::Status::Data) return tooMuch();
        if (status == FtpFileReader::Status::Failed)
            return failed("the transfer did not end cleanly (" + ServerError() + ")");
        engine_.Pump();
        if (progress.Cancelled()) return false;
    }
}

std::string FtpPatchSession::ServerError() const {
    std::shared_ptr<FtpClient> ftp = ftp_;
    return ftp ? ftp->LastErrorText() : "connection closed";
}

void FtpPatchSession::Report(const std::string& what) const {
    std::shared_ptr<FtpClient> ftp = ftp_;
    const std::string server =
        ftp ? ftp->ServerName() : engine_.ServerHost + ":" + std::to_string(engine_.ServerPort);
    host_.LogFailure("FTP " + server + ": " + what);
}
