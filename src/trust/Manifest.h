#pragma once
// "<label>/manifest.txt": the complete game tree at one version and where each file's current
// content is fetched from. Text, one record a line, fields separated by one blank:
//
//   torvane-manifest 1
//   version 1.00.02
//   list 1.00.02/list.inf <size> <sha256>
//   archive 1.00.02/up_list.zip <size> <sha256>                  (packed versions only)
//   file <path> <size> <sha256> plain <location>
//   file <path> <size> <sha256> compressed <location> <stored size> <stored sha256>
//   file <path> <size> <sha256> packed <archive> <entry>
//   file <path> <size> <sha256> none -
//
// Paths are game paths with '/' between components, as in the tree that was published;
// locations are paths from the repository root. "compressed" names the stored (compressed)
// file and its own size and hash; "none" marks a file whose source is not known (it was
// published before the repository carried manifests).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Sha256.h"

enum class FileSourceKind { Plain, Compressed, Packed, None };

struct StoredFile {
    std::string Location;  // from the repository root
    std::uint64_t Size = 0;
    Sha256Digest Digest{};
};

struct ManifestFile {
    std::string Path;
    std::uint64_t Size = 0;
    Sha256Digest Digest{};
    FileSourceKind Kind = FileSourceKind::None;
    std::string Location;          // plain, compressed: the stored file; packed: the archive
    std::string Entry;             // packed: the archive entry's name
    std::uint64_t StoredSize = 0;  // compressed only
    Sha256Digest StoredDigest{};   // compressed only
};

struct Manifest {
    static constexpr int kFormatVersion = 1;
    std::string Label;
    StoredFile List;                    // the version's list.inf
    std::optional<StoredFile> Archive;  // the version's up_list.zip
    std::vector<ManifestFile> Files;

    // By game path, '\' and '/' alike, without regard to ASCII case; nullptr when absent.
    const ManifestFile* Find(std::string_view gamePath) const;
};

std::optional<Manifest> ParseManifest(std::string_view text, std::string& error);
std::string FormatManifest(const Manifest& manifest);

// The game-path key Find compares: '\' turned into '/', ASCII letters lower-cased.
std::string ManifestKey(std::string_view gamePath);
