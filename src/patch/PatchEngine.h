#pragma once
// The patch engine: the state that the main window keeps while it patches the game, and the
// operations on versions, list files, the patch log and installation that both patch
// sessions (FTP on the GUI thread, HTTP on a worker) are built from.
//
// All file work is relative to the game directory given at construction, resolved through
// GamePath; nothing here depends on the process's current directory. Every name that comes
// from a list, an archive or the log is checked there first: an unsafe one fails the step
// with that step's own failure message, and nothing is written for it.
//
// Results follow the launcher's rule: true for success, false for failure after the step has
// put its own message on the status line or in a message box.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/PatchHost.h"
#include "patch/PatchList.h"
#include "patch/PatchLog.h"
#include "patch/TokenReader.h"
#include "patch/VersionNumber.h"
#include "platform/GamePath.h"
#include "platform/LaunchMode.h"

class RepositoryVerifier;

// One line of the version list.
struct VersionEntry {
    char Label[9]{};  // the label as written (at most 8 characters); also the patch directory
    std::uint8_t Major = 0;
    std::uint8_t Minor = 0;
    std::uint8_t Build = 0;
    std::int32_t Packed = 0;
};

// How this run was started, as far as patching cares: handed in by the launcher, which took it
// from the command line (and the connect server, which may turn a given version into a normal
// run before an FTP session).
struct LaunchSettings {
    LaunchModeValue Mode = kLaunchNormal;
    std::array<std::uint8_t, 3> CommandLineVersion{};  // the version of a given-version run
    // Whether the version being applied is for the test server: the command line's choice at
    // first, then each "list.inf" read says so.
    bool TestServer = false;
};

// Where the patches lie, as the connect server named it (texts decoded).
struct PatchServerAddress {
    std::string Host;
    std::uint16_t Port = 0;
    std::string User;
    std::string Password;
    std::string VersionFile;
};

class PatchEngine {
public:
    static constexpr int kMaxVersionEntries = 999;
    // The launcher's own program file; installers write it as "<stem>._xe" instead.
    static constexpr const char* kProgramStem = "Torvane";
    static constexpr const char* kProgramFileName = "Torvane.exe";
    static constexpr const char* kLogFileName = "patch.log";
    static constexpr const char* kPatchListName = "list.inf";
    static constexpr const char* kArchiveName = "up_list.zip";
    static constexpr const char* kTempDirectory = "Temp";

    PatchEngine(PatchHost& host, GamePath gameDirectory, LaunchSettings launch = {});
    PatchEngine(const PatchEngine&) = delete;
    PatchEngine& operator=(const PatchEngine&) = delete;

    PatchHost& Host() { return host_; }
    const GamePath& GameDirectory() const { return gameDirectory_; }
    // `gameName` under the game directory, or nullopt when the name is unsafe.
    std::optional<std::filesystem::path> Resolve(std::string_view gameName) const;
    // Deletes a file of the game directory ("version.wvd", "list.inf", "Temp\up_list.zip");
    // true when it is gone afterwards (also when it never existed). Unsafe names: false.
    bool RemoveGameFile(std::string_view gameName) const;

    // ---- State (the main window's patch fields) ----
    LaunchSettings Launch;
    SharedVersion CurrentVersion;           // the HTTP worker writes it while the window reads it
    std::vector<VersionEntry> VersionList;  // refilled by LoadVersionList
    std::atomic<std::int32_t> TargetVersion{0};
    // 1 while no transfer may run; a button handler sets it to stop a running transfer.
    std::atomic<int> StopTransfer{1};
    std::atomic<int> SelfUpdatePending{0};
    std::atomic<int> PatchDone{0};
    PatchListFlags ListFlags;  // flags of the "list.inf" being applied
    // Threads that decompress a patch archive at once (0: one per processor, at most 4).
    unsigned UnpackThreads = 0;

    // The patch server, as the connect server named it.
    std::string ServerHost;
    std::uint16_t ServerPort = 0;
    std::string ServerUser;
    std::string ServerPassword;
    std::string VersionFileName;
    // The game client's file name in the game directory (the deployment's game_client).
    std::string GameClientName = "game.exe";

    // False (reported on stderr) for a version-list name that is not a bare file name of its
    // own: one with a path, or one of the game's own files, which the session would replace
    // with the list and delete afterwards.
    bool IsUsableVersionFileName(std::string_view name) const;

    // Set when the deployment trusts a signing key: every download is checked with it before
    // it is read or installed. Null: the repository is taken as it comes.
    RepositoryVerifier* Verifier = nullptr;
    // After a failed check of the verifier: deletes `gameName` (when not empty), shows status
    // message `messageNumber` and reports the verifier's cause on stderr. Always false.
    bool RefuseUnverified(int messageNumber, std::string_view gameName);
    // "Temp\<name>", the place for the repository's metadata files while they are checked;
    // creates "Temp" when it is missing. Nullopt when it cannot.
    std::optional<std::filesystem::path> MetadataScratch(std::string_view name);

    // The one token reader (one list file is read at a time).
    CTokenReader TokenReader;

    // Text drawn with the progress display; set by the session thread, read by the window.
    void SetProgressCaption(std::string caption);
    std::string ProgressCaption() const;

    // Whether long steps pump one window event per unit of work (GUI thread: yes; the HTTP
    // worker turns it off).
    void SetPumpEvents(bool pump) { pumpEvents_ = pump; }
    bool PumpsEvents() const { return pumpEvents_; }
    void Pump();

    // The end of a session that made the client current: no transfer runs any more, and the
    // window goes on to the server list.
    void EndSessionCurrent();

    // ---- Versions and settings files ----
    // CurrentVersion from the command line (a given-version run) or config.ini "LOGIN".
    void LoadLocalVersion();
    // Writes CurrentVersion to config.ini as Launch.Mode and Launch.TestServer decide; false
    // (reported on stderr) when config.ini could not be written.
    bool SaveLocalVersion();
    // Reads the version list `fileName` of the game directory (messages 112, 113, 114).
    bool LoadVersionList(std::string_view fileName);
    // True when "list.inf" holds the key `key` (case ignored); message 113 when unreadable.
    bool ReadPatchListFlag(std::string_view key);
    // Reads all four flags of "list.inf" into ListFlags (and TestServer into Launch).
    void ReadPatchListFlags();
    // "list.inf" of the game directory, whole; nullopt when it cannot be read.
    std::optional<PatchList> ReadCurrentPatchList() const;
    // "list.inf" of the game directory checked as ReadCurrentPatchList reads it, its items
    // not kept (see ScanPatchList).
    std::optional<PatchList> ScanCurrentPatchList() const;

    // ---- patch.log ----
    PatchLog& Log() { return log_; }
    bool AppendLogLine(char kind, std::string_view text) { return log_.AppendLogLine(kind, text); }
    bool IsFileLogged(std::string_view path) const { return log_.IsFileLogged(path); }
    bool IsLoggedVersionDifferent() const { return log_.IsLoggedVersionDifferent(TargetVersion); }
    // "V <TargetVersion>", starting a new log.
    bool AppendVersionLine();
    // A log left by a patch of another version than TargetVersion goes, with its "Temp"
    // copies: nothing of it may be installed under this version. False (reported) when it
    // could not be removed.
    bool DropLogOfOtherVersion();

    // Removes what interrupted downloads and atomic writes leave in the game directory: the
    // temporaries of the version list and "list.inf" ("<name>.XXXXXX"), "Temp\up_list.zip"'s,
    // those of patch.log and config.ini, and a packed archive's half-moved files.
    void RemoveStaleTemporaries();

    // Prints what failed, where and why on standard error (the status line only has a number).
    void ReportFailure(std::string_view what, const std::filesystem::path& where,
                       int error = 0) const;

    // ---- Installation ----
    // Copies every logged file from "Temp" to its place (substitutes for the launcher's own
    // files); message box "Patch Install Error, File : %s (%d)" on failure.
    bool InstallFromTemp();
    // Deletes the "Temp" copies of the logged files, then the log.
    bool FinishPatchLog();
    // The deletions of a packed list (read as packed whatever its flags); notes the
    // launcher's own file (SelfUpdatePending).
    // False (status message 119, nothing deleted) when the list names an unusable path.
    bool ApplyDeleteEntries(const PatchList& list);
    // True when the session's stop flag asks the running step to end.
    using StopCheck = std::function<bool()>;
    // Decompresses every file entry of the archive (a game-directory-relative path) into
    // "Temp", checking every name and CRC, without changing the game directory: status 138
    // and false when it is damaged, cannot be written or names an unusable path (the archive
    // is then removed, with whatever was decompressed).
    bool StagePatchArchive(std::string_view archivePath, const StopCheck& stopRequested = {});
    // Moves what StagePatchArchive decompressed into the game directory, each file replaced
    // atomically, flushes the file system, then installs the archive's config.ini. The
    // archive is removed afterwards, also when this failed or was stopped.
    bool InstallStagedArchive(std::string_view archivePath, const StopCheck& stopRequested = {});
    // StagePatchArchive, then InstallStagedArchive.
    bool UnpackPatchArchive(std::string_view archivePath, const StopCheck& stopRequested = {});
    // A packed patch whose archive lies at `archivePath`: the archive is decompressed first,
    // then the list's deletions are applied, then its files are moved into place. Nothing is
    // deleted while the archive is missing or damaged. With a verifier, the archive must have
    // been downloaded against its ArchiveExpectation.
    bool ApplyPackedArchive(const PatchList& list, std::string_view archivePath,
                            const StopCheck& stopRequested = {});
    // Downloads `remoteName` to the game-directory-relative `localPath`; true on success.
    using DownloadFunction =
        std::function<bool(const std::string& remoteName, const std::string& localPath)>;
    // Packed patch over FTP: download of "up_list.zip" to "Temp", then ApplyPackedArchive.
    bool InstallPackedPatch(const PatchList& list, const DownloadFunction& download,
                            const StopCheck& stopRequested = {});
    // Removes loose game data from the game directory when one of the marker files is there.
    void RemoveStaleGameData();

    // The name an installer writes for `fileName` in the game directory instead of its own,
    // or nullopt when it is not one of the substituted files. `packed` adds config.ini.
    static std::optional<std::string> SubstituteName(std::string_view fileName, bool packed);

private:
    // "Temp\.unpacked", where a packed archive is decompressed before its files move into
    // place (a name no game file has: "Temp" otherwise mirrors the game directory).
    static constexpr const char* kStagingDirectoryName = ".unpacked";
    std::optional<std::filesystem::path> StagingDirectory() const;
    void RemoveStagedFiles() const;
    // The real paths of the packed archive `archivePath` and of the staging directory; nullopt
    // (status: patch failed) when either name is unusable.
    struct ArchivePaths {
        std::filesystem::path Archive;
        std::filesystem::path Staging;
    };
    std::optional<ArchivePaths> ResolveArchivePaths(std::string_view archivePath);
    // After a failed or stopped unpack: the staged files and the archive go, so the next run
    // downloads it again and the disk need not hold it twice meanwhile. Returns false.
    bool GiveUpArchive(std::string_view archivePath) const;

    PatchHost& host_;
    GamePath gameDirectory_;
    PatchLog log_;
    bool pumpEvents_ = true;
    mutable std::mutex captionMutex_;
    std::string progressCaption_;
};
