#pragma once
// The signed metadata torvane-publish writes beside a repository's own files: a manifest per
// version ("<label>/manifest.txt") and the signed index ("repository.index" and
// "repository.index.minisig"). Launchers that do not know them ignore them.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TreeScan.h"
#include "trust/Manifest.h"
#include "trust/Minisign.h"

// The manifest of the newest version listed in `versionFile`, when it has one: the sources of
// the files a new version leaves unchanged are taken from it.
std::optional<Manifest> NewestManifest(const std::filesystem::path& repository,
                                       const std::string& versionFile);

// What one new version's files are, as the publisher wrote them into `stage` (the version's
// directory before it is renamed into place): each published file's record, by tree key.
struct PublishedFiles {
    std::string Label;
    std::vector<ManifestFile> Files;
    bool Packed = false;
};

// The complete manifest of the new version: every file of `tree`, with its source taken from
// `published` or carried over from `previous` (or "none"). Hashes the list and archive in
// `stage`. nullopt with `error` when a file cannot be read.
std::optional<Manifest> MakeManifest(const std::filesystem::path& stage, const TreeScan& tree,
                                     const PublishedFiles& published,
                                     const std::optional<Manifest>& previous, std::string& error);

constexpr int kDefaultExpiryDays = 30;

// Rewrites "repository.index" from the version list and the manifests present, with a serial
// one above the previous index's, the expiry `expiryDays` from now, and signs it with `key`.
bool WriteSignedIndex(const std::filesystem::path& repository, const std::string& versionFile,
                      const MinisignSecretKey& key, int expiryDays, std::string& error);

// Reads a secret or public key file with a message naming the file when it cannot be used.
std::optional<MinisignSecretKey> LoadSecretKey(const std::filesystem::path& file,
                                               std::string& error);
std::optional<MinisignPublicKey> LoadPublicKey(const std::filesystem::path& file,
                                               std::string& error);

// `torvane-publish keygen`: a new key pair; refuses to overwrite either file. The secret key
// is written readable by its owner only.
bool GenerateKeyFiles(const std::filesystem::path& publicFile,
                      const std::filesystem::path& secretFile, std::string& error);

// `torvane-publish check` for the metadata: the index's signature (with `key`), expiry, the
// version list's hash, every manifest's hash and every stored file it names. Appends problems
// and notes; nothing when the repository carries no index and no key was given.
void CheckRepositoryMetadata(const std::filesystem::path& repository,
                             const std::string& versionFile,
                             const std::optional<MinisignPublicKey>& key,
                             std::vector<std::string>& problems, std::vector<std::string>& notes);
