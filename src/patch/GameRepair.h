#pragma once
// Puts single files of an installed game back as the signed manifest of its version has them,
// fetching exactly what each needs: a per-file version's copy (restored when compressed), or
// the entry of a packed version's archive. Over HTTP an entry comes by Range requests for the
// archive's end records, its central directory and the entry itself; a server that does not
// send parts of files (and FTP) gives the whole archive, checked against its own manifest.
//
// Every file is written beside its target, checked for the manifest's size and SHA-256 as it
// is written, and renamed over the target only when both match. Work files live in
// "Temp/repair" of the game directory and are removed when the object dies.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/GamePath.h"
#include "trust/Manifest.h"

class DownloadSink;
class RepositoryFetcher;
class RepositoryVerifier;

class GameRepair {
public:
    // `verifier` holds the accepted index and the current version's manifest.
    GameRepair(const GamePath& game, RepositoryFetcher& fetcher, RepositoryVerifier& verifier);
    ~GameRepair();
    GameRepair(const GameRepair&) = delete;
    GameRepair& operator=(const GameRepair&) = delete;

    // False with Failure() saying what could not be fetched or did not match.
    bool Repair(const ManifestFile& file);
    const std::string& Failure() const { return failure_; }

private:
    struct ArchiveCopy {
        std::filesystem::path Path;
        bool Sparse = false;  // only the end records, the directory and fetched entries
        std::uint64_t Size = 0;
    };

    bool Fail(std::string why);
    // Where `file` goes in the game, its folder made; nullopt with Failure() set.
    std::optional<std::filesystem::path> InstallTarget(const ManifestFile& file);
    // The sink that replaces the game's copy of `file`, checked against the manifest as it is
    // written (a damaged file keeps its permissions); null with Failure() set.
    std::unique_ptr<DownloadSink> OpenInstall(const ManifestFile& file);
    bool FinishInstall(const ManifestFile& file, DownloadSink& sink);
    // A fetched copy that its download already checked against the manifest, moved into place.
    bool PlaceFetched(const ManifestFile& file, const std::filesystem::path& copy);
    bool RepairPacked(const ManifestFile& file);
    bool RepairCompressed(const ManifestFile& file);
    // The signed size and hash of the archive at `location`, from its version's manifest.
    std::optional<StoredFile> ArchiveRecord(const std::string& location);
    std::optional<ArchiveCopy> SparseArchive(const std::string& location, const StoredFile& record);
    std::optional<ArchiveCopy> WholeArchive(const std::string& location, const StoredFile& record);
    bool FetchEntryBytes(const std::string& location, ArchiveCopy& copy, std::uint64_t headerOffset,
                         std::uint64_t compressedSize);
    std::filesystem::path Scratch(const std::string& name);

    const GamePath& game_;
    RepositoryFetcher& fetcher_;
    RepositoryVerifier& verifier_;
    std::filesystem::path scratch_;
    std::map<std::string, ArchiveCopy> archives_;
    std::map<std::string, Manifest> otherManifests_;
    unsigned scratchCounter_ = 0;
    std::string failure_;
};
