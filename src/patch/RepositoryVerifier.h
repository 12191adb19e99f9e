#pragma once
// Checks what a patch server hands out against the repository's signed metadata, for a
// deployment that trusts one or more signing keys. The sessions call it at fixed points:
//
//   1. before anything else is fetched: the index and its signature (AcceptIndex): signed by a
//      trusted key, not expired, and its serial not below the highest this game folder saw;
//   2. the version list, once downloaded (CheckVersionFile);
//   3. per version: its manifest (AcceptManifest, hash from the index), then its list file
//      (CheckList), its archive, or each downloaded file and each restored one;
//
// each before the file is read or installed. The big files (archives, downloaded and restored
// game files) are checked by the download sink that writes them, as their bytes go by: the
// verifier hands out what each must be (ArchiveExpectation, StoredExpectation,
// InstalledExpectation) and describes a refusal (RefuseDownload). The Check functions read a
// file that is already on disk: the small metadata files, and copies an earlier run left.
// A false result leaves Failure() saying what did not match, where; the session deletes the
// file, shows its own message for the step and stops. Nothing here touches the network or the
// window.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/DownloadSink.h"
#include "trust/Manifest.h"
#include "trust/Minisign.h"
#include "trust/RepositoryIndex.h"

// What one download must be, by the signed metadata, and how a refusal names it.
struct SignedDownload {
    DownloadExpectation Expected;  // size and SHA-256
    std::string What;              // "archive 1.00.02/up_list.zip", "file Data\\x.bmd"
};

class RepositoryVerifier {
public:
    // Beside config.ini: the highest index serial this game folder accepted.
    static constexpr const char* kSerialFileName = "repository.serial";
    // Bounds for the metadata files themselves.
    static constexpr std::uint64_t kMaxIndexBytes = 1u << 20;
    static constexpr std::uint64_t kMaxSignatureBytes = 16u << 10;
    static constexpr std::uint64_t kMaxManifestBytes = 64u << 20;

    // `keys` may be empty (every index is then refused: a deployment that names keys none of
    // which can be read must not fall back to trusting anything).
    RepositoryVerifier(std::vector<MinisignPublicKey> keys, std::filesystem::path serialFile);
    // Its lookup table points into the manifest it holds.
    RepositoryVerifier(const RepositoryVerifier&) = delete;
    RepositoryVerifier& operator=(const RepositoryVerifier&) = delete;

    // `trusted_key` values as the deployment gives them; bad ones are described in `problems`
    // and left out.
    static std::vector<MinisignPublicKey> ParseTrustedKeys(const std::vector<std::string>& lines,
                                                           std::vector<std::string>& problems);

    bool AcceptIndex(const std::filesystem::path& indexFile,
                     const std::filesystem::path& signatureFile,
                     std::int64_t now = static_cast<std::int64_t>(std::time(nullptr)));
    bool CheckVersionFile(const std::string& name, const std::filesystem::path& file);
    bool AcceptManifest(const std::string& label, const std::filesystem::path& manifestFile);
    // Another version's manifest, checked against the accepted index the same way, without
    // making it the current one. Nullopt with Failure() set when it does not match.
    std::optional<Manifest> ReadManifest(const std::string& label,
                                         const std::filesystem::path& manifestFile);
    bool CheckList(const std::filesystem::path& file);
    // A file as it will be installed (after restoring), by its game path, read from disk.
    bool CheckInstalled(std::string_view gamePath, const std::filesystem::path& file);

    // What the current version's archive, a per-file download as it arrives (compressed or
    // plain) and a file as it will be installed must be. Nullopt with Failure() set when the
    // manifest has no such file.
    std::optional<SignedDownload> ArchiveExpectation();
    std::optional<SignedDownload> StoredExpectation(std::string_view gamePath);
    std::optional<SignedDownload> InstalledExpectation(std::string_view gamePath);
    // A sink refused `download` for `why` (its failure text): Failure() names the file and
    // the cause. Always false.
    bool RefuseDownload(const SignedDownload& download, const std::string& why);

    // Before a per-file download: the manifest lists the file, and the size the server
    // announces for it (when it does) is the one it must have.
    bool CheckAnnouncedSize(std::string_view gamePath, std::optional<std::uint64_t> announced);

    const std::string& Failure() const { return failure_; }
    const std::optional<RepositoryIndex>& Index() const { return index_; }
    const std::optional<Manifest>& CurrentManifest() const { return manifest_; }

private:
    bool Fail(std::string why);
    bool CheckFile(const std::filesystem::path& file, std::uint64_t size,
                   const Sha256Digest& digest, const std::string& what);
    const ManifestFile* FileFor(std::string_view gamePath);

    std::vector<MinisignPublicKey> keys_;
    std::filesystem::path serialFile_;
    std::optional<RepositoryIndex> index_;
    std::optional<Manifest> manifest_;
    // The current manifest's files by ManifestKey: a version of thousands of files is looked
    // up several times per file.
    std::unordered_map<std::string, const ManifestFile*> filesByKey_;
    std::string failure_;
};
