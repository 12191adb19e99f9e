#pragma once
// "repository.index": the signed root of a patch repository's metadata. Text, one record a
// line, fields separated by one blank, every line ending with a line break:
//
//   torvane-repository-index 1
//   serial 12
//   expires 2027-01-07T09:15:00Z
//   version-file version.wvd 52 <sha256>
//   version 1.00.01 <sha256 of 1.00.01/manifest.txt>
//   version 1.00.02 -
//
// The serial grows with every publication and signing; the expiry bounds how long a copy can be
// replayed. A version whose manifest is "-" was published without one and cannot be verified.
// Its signature is "repository.index.minisig" beside it, in the minisign format.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Sha256.h"

struct IndexedFile {
    std::string Name;  // path relative to the repository root
    std::uint64_t Size = 0;
    Sha256Digest Digest{};
};

struct IndexedVersion {
    std::string Label;
    std::optional<Sha256Digest> Manifest;  // nullopt: published without a manifest
};

struct RepositoryIndex {
    static constexpr int kFormatVersion = 1;
    std::uint64_t Serial = 0;
    std::int64_t Expires = 0;  // seconds since 1970, UTC
    std::vector<IndexedFile> VersionFiles;
    std::vector<IndexedVersion> Versions;

    // Case-insensitive lookups, the launcher's way of naming files; nullptr when absent.
    const IndexedFile* FindVersionFile(std::string_view name) const;
    const IndexedVersion* FindVersion(std::string_view label) const;
};

constexpr const char* kRepositoryIndexName = "repository.index";
constexpr const char* kRepositoryIndexSignatureName = "repository.index.minisig";
constexpr const char* kManifestName = "manifest.txt";

std::optional<RepositoryIndex> ParseRepositoryIndex(std::string_view text, std::string& error);
std::string FormatRepositoryIndex(const RepositoryIndex& index);
