#pragma once
// Checks what a patch server hands out against the repository's signed metadata, for a
// deployment that trusts one or more signing keys. The sessions call it at fixed points:
//
//   1. before anything else is fetched: the index and its signature (AcceptIndex): signed by a
//      trusted key, not expired, and its serial not below the highest this game folder saw;
//   2. the version list, once downloaded (CheckVersionFile);
//   3. per version: its manifest (AcceptManifest, hash from the index), then its list file
//      (CheckList), its archive (CheckArchive), or each downloaded file (CheckStored) and each
//      restored one (CheckInstalled);
//
// each before the file is read or installed. A false result leaves Failure() saying what did
// not match, where; the session deletes the file, shows its own message for the step and
// stops. Nothing here touches the network or the window.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trust/Manifest.h"
#include "trust/Minisign.h"
#include "trust/RepositoryIndex.h"

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
    bool CheckArchive(const std::filesystem::path& file);
    // A per-file version's download as it arrived (compressed or plain), by its game path.
    bool CheckStored(std::string_view gamePath, const std::filesystem::path& file);
    // A file as it will be installed (after restoring), by its game path.
    bool CheckInstalled(std::string_view gamePath, const std::filesystem::path& file);

    // Before a per-file download: the manifest lists the file, and the size the server
    // announces for it (when it does) is the one it must have.
    bool CheckAnnouncedSize(std::string_view gamePath, std::optional<std::uint64_t> announced);
    // The size a per-file download of `gamePath` must have (compressed size for compressed
    // files); nullopt when the manifest does not list it.
    std::optional<std::uint64_t> ExpectedStoredSize(std::string_view gamePath) const;
    // The signed size of the current version's archive; nullopt when it has none.
    std::optional<std::uint64_t> ExpectedArchiveSize() const;

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
    std::string failure_;
};
